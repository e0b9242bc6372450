#include "app/LoggingEnvironment.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSaveFile>
#include <QSettings>
#include <QStringList>

#include "app/Services.h"

namespace quillon {

namespace {

const char* const kVersionGroups[] = {"Beta", "Alpha"};
const QString kDirectoryValue = QStringLiteral("GXDIR");
const QString kLogDirectory = QStringLiteral("log");
const char* const kVariables[] = {"GXIKE_DEBUG", "GXISAKMP_DEBUG"};

// The product directory's "log" in the platform's own spelling: C:\GX\log on Windows, /opt/gx/log elsewhere.
QString LogDirectoryOf(const QString& productDir) {
  return QDir::toNativeSeparators(QDir(productDir).filePath(kLogDirectory));
}

// "NAME=1" for a variable, keeping the rest of /etc/environment as it was: a line that set the
// variable before (with or without "export") takes the new value, later duplicates go.
QByteArray WithVariablesSet(const QByteArray& original) {
  QList<QByteArray> lines = original.split('\n');
  if (!lines.isEmpty() && lines.last().isEmpty()) lines.removeLast();  // the final newline
  for (const char* name : kVariables) {
    const QRegularExpression definition(QStringLiteral("^\\s*(export\\s+)?%1\\s*=").arg(QLatin1String(name)));
    const QByteArray wanted = QByteArray(name) + "=1";
    bool written = false;
    for (qsizetype i = 0; i < lines.size();) {
      if (definition.match(QString::fromLocal8Bit(lines[i])).hasMatch()) {
        if (written) {
          lines.removeAt(i);
          continue;
        }
        lines[i] = wanted;
        written = true;
      }
      ++i;
    }
    if (!written) lines.append(wanted);
  }
  return lines.join('\n') + '\n';
}

}  // namespace

std::unique_ptr<QSettings> LoggingEnvironment::OpenProductSettings() const {
  if (!paths_.productSettingsFile.isEmpty())
    return std::make_unique<QSettings>(paths_.productSettingsFile, QSettings::IniFormat);
#ifdef Q_OS_WIN
  return std::make_unique<QSettings>(QStringLiteral("HKEY_LOCAL_MACHINE\\SOFTWARE\\Morrowvale\\GX1"),
                                     QSettings::NativeFormat);
#else
  return std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::SystemScope, QStringLiteral("Morrowvale"),
                                     QStringLiteral("GX1"));
#endif
}

std::optional<QString> LoggingEnvironment::ReadGxDir() const {
  const std::unique_ptr<QSettings> settings = OpenProductSettings();
  if (settings->status() != QSettings::NoError) return std::nullopt;
  // The first version group that exists is the installed version: its value is the only one
  // looked at, as a stale directory of another version must not be used.
  QString prefix;
  const QStringList groups = settings->childGroups();
  for (const char* group : kVersionGroups) {
    if (groups.contains(QLatin1String(group))) {
      prefix = QLatin1String(group) + QLatin1Char('/');
      break;
    }
  }
  const QVariant value = settings->value(prefix + kDirectoryValue);
  if (value.typeId() != QMetaType::QString) return std::nullopt;
  // An empty directory would put the log directory at the root of the file system.
  const QString directory = value.toString();
  if (directory.isEmpty()) return std::nullopt;
  return directory;
}

LoggingEnvironment::LogDirResult LoggingEnvironment::InstallIKELogDir() const {
  const std::optional<QString> productDir = ReadGxDir();
  if (!productDir) return kProductDirUnknown;
  // One level only: a product directory that does not exist is not made up here.
  return QDir().mkdir(LogDirectoryOf(*productDir)) ? kLogDirCreated : kLogDirNotCreated;
}

bool LoggingEnvironment::InstallEnvironmentVariables() const {
#ifdef Q_OS_WIN
  QSettings environment(
      QStringLiteral("HKEY_LOCAL_MACHINE\\SYSTEM\\ControlSet001\\Control\\Session Manager\\Environment"),
      QSettings::NativeFormat);
  if (!environment.isWritable()) return false;
  for (const char* name : kVariables) environment.setValue(QLatin1String(name), QStringLiteral("1"));
  environment.sync();
  return environment.status() == QSettings::NoError;
#else
  QByteArray original;
  QFile current(paths_.environmentFile);
  if (current.exists()) {
    if (!current.open(QIODevice::ReadOnly)) return false;
    original = current.readAll();
    current.close();
  }
  // Written beside the file and renamed over it: a crash or a full disk leaves the old file
  // whole, never a truncated one that would lose the machine's other variables.
  QSaveFile replacement(paths_.environmentFile);
  if (!replacement.open(QIODevice::WriteOnly)) return false;
  const QByteArray updated = WithVariablesSet(original);
  if (replacement.write(updated) != updated.size()) {
    replacement.cancelWriting();
    return false;
  }
  return replacement.commit();
#endif
}

QString LoggingEnvironment::Report(int logDirResult, bool variablesInstalled, MessageSink& messages) const {
  QString report = QStringLiteral("IKE logging environment installation complete.\n\n");
  switch (logDirResult) {
    case kLogDirCreated:
      report += QStringLiteral("Log directory added successfully.\n\n");
      break;
    case kProductDirUnknown:
      report += QStringLiteral("Failed to get GXDIR.  Log directory not added.  Make sure a \"") + kLogDirectory +
                QStringLiteral("\" directory exists under GXDIR.\n\n");
      break;
    case kLogDirNotCreated:
      report += QStringLiteral("Could not create log directory.  Make sure a \"");
      if (const std::optional<QString> productDir = ReadGxDir()) {
        report += LogDirectoryOf(*productDir) + QStringLiteral("\" directory exists.\n\n");
      } else {
        report += kLogDirectory + QStringLiteral("\" directory exists under GXDIR.\n\n");
      }
      break;
    default:
      messages.Show(QStringLiteral("Bad return code from InstallIKELogDir()."), MessageSink::Kind::kError);
      break;
  }
  if (!variablesInstalled) {
    report += QStringLiteral("Failed to install IKE logging environment variables.  You will have to do so manually.  Add ") +
              QLatin1String(kVariables[0]) + QStringLiteral(" and ") + QLatin1String(kVariables[1]) +
              QStringLiteral(" to your environment, both with value \"1.\"  ");
  } else {
    report += QStringLiteral(
        "Environment variables added successfully.\n\nYou must now update your environment settings.  You can do "
        "this by either logging out and logging back in, or by pressing the \"OK\" button on the Control "
        "Panel->System Environment property sheet.  ");
  }
  report += QStringLiteral("In addition, you must restart all relevant processes.");
  return report;
}

void LoggingEnvironment::Install(MessageSink& messages) const {
  const int logDirResult = InstallIKELogDir();
  const bool variablesInstalled = InstallEnvironmentVariables();
  messages.Show(Report(logDirResult, variablesInstalled, messages), MessageSink::Kind::kInformation);
}

}  // namespace quillon
