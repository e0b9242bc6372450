#include "app/LoggingEnvironment.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSettings>
#include <QStringList>

#ifndef Q_OS_WIN
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#endif

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

#ifndef Q_OS_WIN
// Closes a descriptor when it goes out of scope.
struct Descriptor {
  explicit Descriptor(int value) : fd(value) {}
  ~Descriptor() {
    if (fd >= 0) ::close(fd);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int fd;
};

bool WriteAll(int fd, const QByteArray& bytes) {
  qsizetype done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.constData() + done, static_cast<std::size_t>(bytes.size() - done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += n;
  }
  return true;
}

bool ReadAll(int fd, QByteArray& bytes) {
  char block[64 * 1024];
  while (true) {
    const ssize_t n = ::read(fd, block, sizeof block);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) return true;
    bytes.append(block, n);
  }
}

// Rewrites `path` with `change` applied to its contents, under an exclusive lock on the file,
// so that another writer that locks it too (a second installer, an administrator's script)
// never loses its change to ours nor ours to its. The new contents go to a file beside it,
// with the old file's owner, group and mode, and are renamed over it: a crash or a full disk
// leaves the old file whole, never a truncated one that would lose the machine's other
// variables. A missing file is created (mode 0644).
bool UpdateFileLocked(const std::string& path, QByteArray (*change)(const QByteArray&)) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    Descriptor file(::open(path.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0644));
    if (file.fd < 0) return false;
    int locked;
    while ((locked = ::flock(file.fd, LOCK_EX)) != 0 && errno == EINTR) {
    }
    if (locked != 0) return false;
    // The file we locked may have been replaced by the writer we waited for: lock the new one.
    struct stat opened {};
    struct stat named {};
    if (::fstat(file.fd, &opened) != 0) return false;
    if (::stat(path.c_str(), &named) != 0 || named.st_dev != opened.st_dev || named.st_ino != opened.st_ino) continue;
    if (!S_ISREG(opened.st_mode)) return false;

    QByteArray original;
    if (!ReadAll(file.fd, original)) return false;
    const QByteArray updated = change(original);

    std::string temporary = path + ".XXXXXX";
    Descriptor replacement(::mkostemp(temporary.data(), O_CLOEXEC));
    if (replacement.fd < 0) return false;
    // A file whose owner cannot be kept is left alone rather than handed to another user.
    const bool written = ::fchown(replacement.fd, opened.st_uid, opened.st_gid) == 0 &&
                         ::fchmod(replacement.fd, opened.st_mode & 07777) == 0 && WriteAll(replacement.fd, updated) && ::fsync(replacement.fd) == 0;
    if (!written || ::rename(temporary.c_str(), path.c_str()) != 0) {
      ::unlink(temporary.c_str());
      return false;
    }
    return true;  // the lock goes with the old file's descriptor
  }
  return false;
}
#endif

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
      QStringLiteral("HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment"),
      QSettings::NativeFormat);
  if (!environment.isWritable()) return false;
  for (const char* name : kVariables) environment.setValue(QLatin1String(name), QStringLiteral("1"));
  environment.sync();
  return environment.status() == QSettings::NoError;
#else
  return UpdateFileLocked(paths_.environmentFile.toStdString(), WithVariablesSet);
#endif
}

bool LoggingEnvironment::LogDirPresent(int logDirResult) const {
  if (logDirResult == kLogDirCreated) return true;
  const std::optional<QString> productDir = ReadGxDir();
  return logDirResult == kLogDirNotCreated && productDir && QFileInfo(LogDirectoryOf(*productDir)).isDir();
}

QString LoggingEnvironment::Report(int logDirResult, bool variablesInstalled, MessageSink& messages) const {
  // One outcome: complete when the daemon will log (its directory is there and the variables
  // are set), failed otherwise; the sentences below say what was done and what is left to do.
  QString report = LogDirPresent(logDirResult) && variablesInstalled
                       ? QStringLiteral("IKE logging environment installation complete.\n\n")
                       : QStringLiteral("IKE logging environment installation failed.\n\n");
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
#ifdef Q_OS_WIN
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
#else
  // Machine-wide variables live in the environment file, which is read when a user logs in.
  const QString file = QDir::toNativeSeparators(paths_.environmentFile);
  if (!variablesInstalled) {
    report += QStringLiteral("Failed to install IKE logging environment variables.  You will have to do so manually.  Add "
                             "the lines ") +
              QLatin1String(kVariables[0]) + QStringLiteral("=1 and ") + QLatin1String(kVariables[1]) +
              QStringLiteral("=1 to ") + file + QStringLiteral(" (as root), then log out and log back in.  ");
  } else {
    report += QStringLiteral("Environment variables added successfully to ") + file +
              QStringLiteral(".\n\nYou must now update your environment settings.  You can do this by logging out and "
                             "logging back in.  ");
  }
#endif
  report += QStringLiteral("In addition, you must restart all relevant processes.");
  return report;
}

bool LoggingEnvironment::Install(MessageSink& messages) const {
  const int logDirResult = InstallIKELogDir();
  const bool variablesInstalled = InstallEnvironmentVariables();
  const bool complete = LogDirPresent(logDirResult) && variablesInstalled;
  messages.Show(Report(logDirResult, variablesInstalled, messages),
                complete ? MessageSink::Kind::kInformation : MessageSink::Kind::kWarning);
  return complete;
}

QString LoggingEnvironment::EnvironmentFile() const {
#ifdef Q_OS_WIN
  return QStringLiteral("the machine's environment settings");
#else
  return paths_.environmentFile;
#endif
}

}  // namespace quillon
