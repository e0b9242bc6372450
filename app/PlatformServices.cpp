#include "app/PlatformServices.h"

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

void ConsoleMessageSink::Show(const QString& text, Kind kind) {
  QTextStream out(kind == Kind::kInformation ? stdout : stderr);
  out << text << Qt::endl;
}

QSettingsStore::QSettingsStore()
    : settings_(std::make_unique<QSettings>(QStringLiteral("Morrowvale"), QStringLiteral("Quillon"))) {}

void QSettingsStore::SetValue(const QString& key, const QVariant& value) {
  settings_->setValue(key, value);
  settings_->sync();  // settings outlive a crash of the viewer
}

void QSettingsStore::Remove(const QString& key) {
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

QString QProcessLauncher::FindProgram(const QString& name) const {
  return QStandardPaths::findExecutable(name);
}

bool QProcessLauncher::StartDetached(const QString& program, const QStringList& arguments) {
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
    const QFileInfo start(request.startPath);
    dialog.setDirectory(start.absolutePath());
    dialog.selectFile(start.fileName());
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
  dialog.selectFile(request.fileName);
  // The dialog asks before an existing file is replaced (the option is on by default).
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
  return dialog.selectedFiles().first();
}

}  // namespace quillon
