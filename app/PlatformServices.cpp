#include "app/PlatformServices.h"

#include <cstdio>

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QProcess>
#include <QStandardPaths>
#include <QTextStream>

#ifdef Q_OS_WIN
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <unistd.h>

#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#endif

namespace quillon {

void MessageBoxSink::Show(const QString& text, Kind kind) {
  const QString title = QStringLiteral("Quillon");
  switch (kind) {
    case Kind::kInformation:
      QMessageBox::information(parent_, title, text);
      break;
    case Kind::kWarning:
      QMessageBox::warning(parent_, title, text);
      break;
    case Kind::kError:
      QMessageBox::critical(parent_, title, text);
      break;
  }
}

bool MessageBoxSink::Ask(const QString& question) {
  return QMessageBox::question(parent_, QStringLiteral("Quillon"), question, QMessageBox::Yes | QMessageBox::No,
                               QMessageBox::No) == QMessageBox::Yes;
}

void ConsoleMessageSink::Show(const QString& text, Kind kind) {
  QTextStream out(kind == Kind::kInformation ? stdout : stderr);
  out << text << Qt::endl;
}

bool ConsoleMessageSink::Ask(const QString& question) {
#ifdef Q_OS_WIN
  return false;  // the installer runs from the window there
#else
  if (!isatty(STDIN_FILENO)) return false;
#endif
  QTextStream out(stdout);
  out << question << " [y/N] " << Qt::flush;
  char answer[16] = {};
  if (std::fgets(answer, sizeof answer, stdin) == nullptr) return false;
  return answer[0] == 'y' || answer[0] == 'Y';
}

QtSettingsStore::QtSettingsStore()
    : settings_(std::make_unique<QSettings>(QStringLiteral("Morrowvale"), QStringLiteral("Quillon"))) {}

void QtSettingsStore::SetValue(const QString& key, const QVariant& value) {
  settings_->setValue(key, value);
  settings_->sync();  // settings outlive a crash of the viewer
}

void QtSettingsStore::Remove(const QString& key) {
  settings_->remove(key);
  settings_->sync();
}

std::optional<std::string> SystemNameResolver::HostName(std::uint32_t address) {
#ifdef Q_OS_WIN
  // Windows Sockets must be started in each process that uses them; a failed start simply
  // means no name.
  WSADATA data;
  if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return std::nullopt;
  struct Cleanup {
    ~Cleanup() { WSACleanup(); }
  } cleanup;
#endif
  sockaddr_in socketAddress{};
  socketAddress.sin_family = AF_INET;
  socketAddress.sin_addr.s_addr = htonl(address);
  char host[NI_MAXHOST];
  // NI_NAMEREQD: an address without a name is an error rather than its own dotted text.
  if (getnameinfo(reinterpret_cast<const sockaddr*>(&socketAddress), sizeof socketAddress, host, sizeof host,
                  nullptr, 0, NI_NAMEREQD) != 0)
    return std::nullopt;
  return std::string(host);
}

QString QtProcessLauncher::FindProgram(const QString& name) const {
  return QStandardPaths::findExecutable(name);
}

bool QtProcessLauncher::StartDetached(const QString& program, const QStringList& arguments) {
  return QProcess::startDetached(program, arguments);
}

QString QtFileDialogs::ChooseFileToOpen(QWidget* parent, const OpenRequest& request) {
  QFileDialog dialog(parent, QStringLiteral("Open"));
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setFileMode(QFileDialog::ExistingFile);
  dialog.setNameFilters(request.filters);
  if (!request.filters.isEmpty()) dialog.selectNameFilter(request.filters.first());
  dialog.setDefaultSuffix(request.defaultSuffix);
  if (!request.startPath.isEmpty()) {
    // Always an absolute folder: a name relative to wherever the program was started from
    // would point elsewhere (and leave Open disabled).
    const QFileInfo start(QDir::current().absoluteFilePath(request.startPath));
    dialog.setDirectory(start.isDir() ? start.absoluteFilePath() : start.absolutePath());
    if (start.isFile()) dialog.selectFile(start.fileName());
  }
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
  return dialog.selectedFiles().first();
}

QString QtFileDialogs::ChooseFileToSave(QWidget* parent, const SaveRequest& request) {
  QFileDialog dialog(parent, QStringLiteral("Save as"));
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setNameFilters(request.filters);
  if (!request.filters.isEmpty()) dialog.selectNameFilter(request.filters.first());
  dialog.setDefaultSuffix(request.defaultSuffix);
  // The window asks before an existing file is replaced, after it has made sure that the file
  // is not the open log.
  dialog.setOption(QFileDialog::DontConfirmOverwrite);
  const QFileInfo proposed(request.fileName);
  if (proposed.isAbsolute()) dialog.setDirectory(proposed.absolutePath());
  dialog.selectFile(proposed.fileName());
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
  return dialog.selectedFiles().first();
}

}  // namespace quillon
