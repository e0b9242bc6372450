#include "AppTestSupport.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTest>

#include "app/LogTreeModel.h"
#include "model/IPv4.h"

namespace quillon::test {

TestNode& Add(LogNode& parent, const std::string& name) {
  return static_cast<TestNode&>(*parent.AppendChild(std::make_unique<TestNode>(name)));
}

TestPeer& AddPeer(LogFile& log, const std::string& address) {
  auto peer = std::make_unique<TestPeer>(address);
  peer->address = ParseIPv4(address);
  peer->detail = "Peer " + address + "\r\n";
  TestPeer& ref = *peer;
  log.AddChild(std::move(peer));
  ref.SetParent(&log);
  return ref;
}

TestTunnel& AddTunnel(LogNode& peer, bool withAddresses) {
  auto& tunnel = static_cast<TestTunnel&>(
      *peer.AppendChild(std::make_unique<TestTunnel>(withAddresses ? "Tunnel" : "Tunnel without addresses")));
  tunnel.tunnelAddresses = withAddresses;
  return tunnel;
}

TestNode& AddExchange(LogNode& tunnel, const std::string& name, const std::string& date, const std::string& time,
                      bool complete) {
  TestNode& exchange = Add(tunnel, name);
  exchange.date = date;
  exchange.time = time;
  exchange.complete = complete;
  exchange.detail = name + " at" + date + " " + time + "\r\n\r\nStatus:\tdone\r\n";
  return exchange;
}

std::unique_ptr<LogFile> ThreePeerLog() {
  auto log = std::make_unique<LogFile>();
  log->SetName("IKE debugging info");

  TestTunnel& firstTunnel = AddTunnel(AddPeer(*log, "10.0.0.1"), true);
  firstTunnel.SetName("10.1.0.0 <=> 10.2.0.0");
  Add(AddExchange(firstTunnel, "Main Mode", " Tue Jan 15 2008", "10:00:00"), "Packet 1");
  AddExchange(firstTunnel, "QuickMode", " Tue Jan 15 2008", "10:05:00");

  TestTunnel& hidden = AddTunnel(AddPeer(*log, "10.0.0.2"), false);
  TestNode& payload = Add(Add(AddExchange(hidden, "Main Mode", " Tue Jan 15 2008", "11:30:00"), "Packet 1"), "SA payload");
  payload.detail = "Security Association\r\n";
  Add(payload, "Attribute").attribute = true;
  Add(Add(hidden, "Informational"), "Notify payload");

  TestTunnel& thirdTunnel = AddTunnel(AddPeer(*log, "10.0.0.3"), true);
  thirdTunnel.SetName("10.3.0.0 <=> 10.4.0.0");
  AddExchange(thirdTunnel, "Aggressive", " Mon Jan 14 2008", "23:59:59", false);
  return log;
}

LogDocument::Loader TreeLoader::AsLoader() {
  return [this](const std::string& path, const ReadProgress& progress) {
    ++loads;
    const auto found = trees_.find(path);
    OpenLogResult result;
    if (found == trees_.end()) {
      result = OpenLog(path, progress);
    } else if (!QFileInfo::exists(QString::fromStdString(path))) {
      result.status = OpenLogResult::Status::kCannotOpen;
      result.message = "Failed to open file: " + path;
      return result;
    } else {
      result.log = found->second();
      result.status = OpenLogResult::Status::kLoaded;
      result.loadTimeText = LoadTimeText(0);
    }
    if (duringLoad) duringLoad(path, progress);
    return result;
  };
}

FrameFixture::FrameFixture() {
  const Services services{messages, settings, resolver, launcher, dialogs, loggingEnvironment};
  // No product settings anywhere: the Open dialog proposes nothing unless a test says so.
  loggingEnvironment = LoggingEnvironment({directory.filePath(QStringLiteral("no-product.ini")),
                                           directory.filePath(QStringLiteral("environment"))});
  document = std::make_unique<LogDocument>(settings, loader.AsLoader());
  frame = std::make_unique<MainWindow>(*document, services);
}

QString FrameFixture::WriteFile(const QString& name, const QByteArray& contents) {
  const QString path = directory.filePath(name);
  QDir().mkpath(QFileInfo(path).absolutePath());
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) return {};
  file.write(contents);
  return path;
}

QString FrameFixture::RegisterTree(const QString& name, std::function<std::unique_ptr<LogFile>()> build) {
  const QString path = WriteFile(name, "placeholder\n");
  loader.Register(path, std::move(build));
  return path;
}

QString FrameFixture::Example(const QString& name) {
  return QStringLiteral(QUILLON_SOURCE_DIR "/examples/") + name;
}

LogNode* FrameFixture::FindByPath(const std::string& path) const {
  std::function<LogNode*(LogNode*)> find = [&](LogNode* node) -> LogNode* {
    if (node->Path() == path) return node;
    for (const auto& child : node->Children())
      if (LogNode* found = find(child.get())) return found;
    return nullptr;
  };
  return document->Log() ? find(document->Log()) : nullptr;
}

bool FrameFixture::OpenIn(MainWindow& window, const QString& path) {
  QSignalSpy finished(&window, &MainWindow::LoadFinished);
  if (!window.OpenFile(path)) return false;
  if (finished.isEmpty() && !finished.wait(60000)) return false;
  return finished.takeFirst().at(0).toBool();
}

bool FrameFixture::WaitForLoad(MainWindow& window) {
  if (!window.IsLoading()) return true;
  QSignalSpy finished(&window, &MainWindow::LoadFinished);
  return finished.wait(60000) && finished.takeFirst().at(0).toBool();
}

void FrameFixture::ShowActive() {
  frame->show();
  QApplication::setActiveWindow(frame.get());
  frame->activateWindow();
  (void)QTest::qWaitForWindowActive(frame.get());
}

void FrameFixture::PressKey(Qt::Key key, Qt::KeyboardModifiers modifiers) {
  ShowActive();
  QWidget* target = QApplication::focusWidget() ? QApplication::focusWidget() : frame.get();
  QTest::keyClick(target, key, modifiers);
  WaitForLoad(*frame);
}

QStringList FrameFixture::ShownPeers() const {
  const LogTreeModel& model = *frame->View()->Model();
  const QModelIndex root = model.index(0, 0);
  QStringList peers;
  for (int row = 0; row < model.rowCount(root); ++row) peers.append(model.index(row, 0, root).data().toString());
  return peers;
}

QAction* FrameFixture::MenuEntry(const QString& text) const {
  for (QAction* action : frame->findChildren<QAction*>())
    if (action->text() == text) return action;
  return nullptr;
}

QByteArray FrameFixture::Contents(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void FrameFixture::SelectPath(const std::string& path) { frame->View()->SelectNode(FindByPath(path)); }

}  // namespace quillon::test
