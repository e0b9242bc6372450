// Prepares a machine for the daemon's debug logging: the "log" directory below the product's
// installation directory and the two machine-wide variables that switch the logging on.
//
// The product directory is the "GXDIR" value of the product's settings (organisation
// "Morrowvale", application "GX1"; the version groups "Beta", then "Alpha", then the top
// level). On Windows those are the machine's registry and the variables go to the machine's
// environment key; elsewhere they are the system-wide settings file and /etc/environment.
#pragma once

#include <memory>
#include <optional>

#include <QString>

class QSettings;

namespace quillon {

class MessageSink;

class LoggingEnvironment {
 public:
  enum LogDirResult : int {
    kLogDirCreated = 1,
    kProductDirUnknown = 2,
    kLogDirNotCreated = 4,
  };

  struct Paths {
    // The product's settings file; empty for the system's own (registry or /etc/xdg).
    QString productSettingsFile;
    // Where the machine-wide variables are written (not used on Windows).
    QString environmentFile = QStringLiteral("/etc/environment");
  };

  LoggingEnvironment() = default;
  explicit LoggingEnvironment(Paths paths) : paths_(std::move(paths)) {}

  // The product's installation directory, or nothing when it is not recorded.
  std::optional<QString> ReadGxDir() const;
  // Creates the product directory's "log" subdirectory (one level). An existing directory counts
  // as not created.
  LogDirResult InstallIKELogDir() const;
  // Sets GXIKE_DEBUG and GXISAKMP_DEBUG to "1" machine-wide; false when they could not be
  // written (no rights, for one).
  bool InstallEnvironmentVariables() const;

  // Runs both installations, directory first, and shows the report in one message; true when
  // both succeeded.
  bool Install(MessageSink& messages) const;
  // Where the machine-wide variables go (the settings' name on Windows).
  QString EnvironmentFile() const;

  // The report's text for the two outcomes.
  QString Report(int logDirResult, bool variablesInstalled, MessageSink& messages) const;

 private:
  std::unique_ptr<QSettings> OpenProductSettings() const;
  // Whether the log directory is there after InstallIKELogDir (made now or before).
  bool LogDirPresent(int logDirResult) const;

  Paths paths_;
};

}  // namespace quillon
