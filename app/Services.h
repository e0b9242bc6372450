// The platform services the viewer uses, each behind a small interface so that the document,
// the view and the commands run in tests without a display, a network or a desktop: message
// boxes, settings, the file dialog, reverse name look-up and starting other programs.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include <QString>
#include <QStringList>
#include <QVariant>

class QWidget;

namespace quillon {

// Every message the program shows to the user goes through here.
class MessageSink {
 public:
  enum class Kind { kInformation, kWarning, kError };
  virtual ~MessageSink() = default;
  virtual void Show(const QString& text, Kind kind) = 0;
  // Asks a yes-or-no question; true for yes.
  virtual bool Ask(const QString& question) = 0;
};

// Per-user settings: keys are "Group/Name" paths.
class SettingsStore {
 public:
  virtual ~SettingsStore() = default;
  virtual QVariant Value(const QString& key) const = 0;
  virtual void SetValue(const QString& key, const QVariant& value) = 0;
  virtual void Remove(const QString& key) = 0;
  // Takes in what other running instances of the program stored since the last read.
  virtual void Reload() {}
};

// Blocking reverse look-up of an IPv4 address (host order); nothing when the address has no name.
class NameResolver {
 public:
  virtual ~NameResolver() = default;
  virtual std::optional<std::string> HostName(std::uint32_t address) = 0;
};

// Starts other programs without waiting for them. Arguments are passed as a list, never through
// a shell, so a path with blanks, quotes or shell characters reaches the program unchanged.
class ProcessLauncher {
 public:
  virtual ~ProcessLauncher() = default;
  // The full path of an executable found on the search path, or empty.
  virtual QString FindProgram(const QString& name) const = 0;
  virtual bool StartDetached(const QString& program, const QStringList& arguments) = 0;
  // A variable of the program's environment ($VISUAL, $EDITOR), empty when unset.
  virtual QString EnvironmentValue(const QString& name) const { return qEnvironmentVariable(qPrintable(name)); }
};

// The file-open and file-save dialogs.
class FileDialogs {
 public:
  struct OpenRequest {
    QString startPath;        // pre-filled file name, empty for none
    QStringList filters;      // in the order offered; the first is selected
    QString defaultSuffix;    // appended to a typed name without extension
  };
  virtual ~FileDialogs() = default;
  // The chosen existing file, or empty when the user cancelled.
  virtual QString ChooseFileToOpen(QWidget* parent, const OpenRequest& request) = 0;

  struct SaveRequest {
    QString fileName;       // proposed file name
    QStringList filters;    // in the order offered; the first is selected
    QString defaultSuffix;  // appended to a typed name without extension
  };
  // The file to write; the caller asks before an existing file is replaced. Empty when the user
  // cancelled.
  virtual QString ChooseFileToSave(QWidget* parent, const SaveRequest& request) = 0;
};

class LoggingEnvironment;

// The services one main window works with; the application owns them.
struct Services {
  MessageSink& messages;
  SettingsStore& settings;
  NameResolver& resolver;
  ProcessLauncher& launcher;
  FileDialogs& dialogs;
  // Where the daemon keeps its logs: the Open dialog proposes its default log.
  const LoggingEnvironment& loggingEnvironment;
};

}  // namespace quillon
