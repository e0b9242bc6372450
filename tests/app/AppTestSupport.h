// Fakes of the platform services and small hand-built log trees for the viewer's tests.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <ostream>
#include <string>

#include <gtest/gtest.h>

// The widgets the window tests reach through the main window.
#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QFile>
#include <QHash>
#include <QMenu>
#include <QMenuBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QTreeView>

#include "app/LoggingEnvironment.h"
#include "app/MainWindow.h"
#include "app/LogDocument.h"
#include "app/LogTreeModel.h"
#include "app/LogView.h"
#include "app/Services.h"
#include "logs/OpenLog.h"
#include "model/LogFile.h"
#include "model/NodeRoles.h"

// Readable failure messages for Qt strings.
inline void PrintTo(const QString& text, std::ostream* out) { *out << '"' << text.toStdString() << '"'; }
inline void PrintTo(const QStringList& list, std::ostream* out) { *out << "{ \"" << list.join("\" \"").toStdString() << "\" }"; }

namespace quillon::test {

// A window's title as the desktop shows it: the toolkit's "[*]" placeholder becomes "*" while
// the window is marked modified and disappears otherwise.
inline QString ShownTitle(const QWidget& window) {
  QString title = window.windowTitle();
  title.replace(QLatin1String("[*][*]"), QLatin1String("\x01"));
  title.replace(QLatin1String("[*]"), window.isWindowModified() ? QLatin1String("*") : QLatin1String(""));
  return title.replace(QLatin1Char('\x01'), QLatin1String("[*]"));
}

class RecordingMessages : public MessageSink {
 public:
  void Show(const QString& text, Kind /*kind*/) override { shown.append(text); }
  bool Ask(const QString& question) override {
    asked.append(question);
    return answer;
  }
  QStringList shown, asked;
  bool answer = true;
};

class MemorySettings : public SettingsStore {
 public:
  QVariant Value(const QString& key) const override { return values.value(key); }
  void SetValue(const QString& key, const QVariant& value) override { values.insert(key, value); }
  void Remove(const QString& key) override { values.remove(key); }
  QHash<QString, QVariant> values;
};

class FakeResolver : public NameResolver {
 public:
  std::optional<std::string> HostName(std::uint32_t address) override {
    if (onAsk) onAsk();
    const auto found = names.find(address);
    return found == names.end() ? std::nullopt : std::optional(found->second);
  }
  std::map<std::uint32_t, std::string> names;
  std::function<void()> onAsk;
};

class FakeLauncher : public ProcessLauncher {
 public:
  QString FindProgram(const QString& name) const override { return programs.value(name); }
  bool StartDetached(const QString& program, const QStringList& arguments) override {
    started.append({program, arguments});
    return startSucceeds;
  }
  // The test's own environment: the real one must not leak in.
  QString EnvironmentValue(const QString& name) const override { return environment.value(name); }
  QHash<QString, QString> environment, programs;  // programs: name -> full path
  struct Start { QString program; QStringList arguments; };
  QList<Start> started;
  bool startSucceeds = true;
};

class FakeDialogs : public FileDialogs {
 public:
  QString ChooseFileToOpen(QWidget* /*parent*/, const OpenRequest& request) override {
    requests.append(request);
    return answer;
  }
  QString ChooseFileToSave(QWidget* /*parent*/, const SaveRequest& request) override {
    saveRequests.append(request);
    return saveAnswer;
  }
  QString answer, saveAnswer;
  QList<OpenRequest> requests;
  QList<SaveRequest> saveRequests;
};

// A node of a hand-built tree: every property the viewer asks about can be set. A node is of
// the role class of its kind (peers and tunnels are reached by their kind), so a peer, a tunnel
// and any other node are each of their own class.
struct TestFields {
  std::string detail, date, time;
  bool complete = false, tunnelAddresses = false, attribute = false;
  NodeKind kind = NodeKind::kOther;
  std::uint32_t address = 0;
};

template <class Role>
class TestNodeOf : public Role, public TestFields {
 public:
  explicit TestNodeOf(std::string name) : Role(name, nullptr) {}

  void AppendDetailText(std::string& out) const override { out += detail; }
  std::string DateText() const override { return date; }
  std::string TimeText() const override { return time; }
  std::uint16_t State() const override {
    if (kind == NodeKind::kInformational) return kStateComplete | kStateErrorInformational;
    if (complete) return kStateComplete;
    return IsNegotiation(kind) ? kStateFailed : kStateNone;
  }
};

// The kinds of negotiation are told by the names of the debug log's ones.
class TestNode : public TestNodeOf<NegotiationNode> {
 public:
  explicit TestNode(std::string name) : TestNodeOf(name) {
    if (name == "Main Mode") kind = NodeKind::kMainMode;
    else if (name == "QuickMode") kind = NodeKind::kQuickMode;
    else if (name == "Aggressive") kind = NodeKind::kAggressiveMode;
    else if (name == "Informational") kind = NodeKind::kInformational;
  }
  NodeKind Kind() const override { return attribute ? NodeKind::kAttributeValue : kind; }
};

class TestTunnel : public TestNodeOf<TunnelNode> {
 public:
  using TestNodeOf::TestNodeOf;
  std::uint32_t TunnelLocalIP() const override { return tunnelAddresses ? 1 : 0; }
  std::uint32_t TunnelPeerIP() const override { return tunnelAddresses ? 2 : 0; }
  std::unique_ptr<TunnelNode> NewTunnel(std::uint32_t, std::uint32_t) const override { return nullptr; }
};

class TestPeer : public TestNodeOf<PeerNode> {
 public:
  using TestNodeOf::TestNodeOf;
  std::uint32_t PeerAddress() const override { return address; }
  std::unique_ptr<PeerNode> NewMergedPeer(std::uint32_t, std::uint32_t, std::string, LogNode*) const override { return nullptr; }
};

// Builders that append a node and return it for further set-up.
TestNode& Add(LogNode& parent, const std::string& name);
TestPeer& AddPeer(LogFile& log, const std::string& address);
TestTunnel& AddTunnel(LogNode& peer, bool withAddresses);
// A negotiation with a packet line's date (" Www Mmm dd yyyy") and time ("hh:mm:ss").
TestNode& AddExchange(LogNode& tunnel, const std::string& name, const std::string& date, const std::string& time,
                      bool complete = true);

// A debug log of three peers:
//   10.0.0.1  tunnel 10.1.0.0 <=> 10.2.0.0: Main Mode (Jan 15 2008 10:00:00), QuickMode (10:05:00)
//   10.0.0.2  tunnel without addresses:     Main Mode (Jan 15 2008 11:30:00, the latest),
//                                           Informational (no date) with a payload
//   10.0.0.3  tunnel 10.3.0.0 <=> 10.4.0.0: Aggressive (Jan 14 2008 23:59:59, not complete)
std::unique_ptr<LogFile> ThreePeerLog();

// Hands out hand-built trees for registered paths (the file must exist, as for a real log) and
// reads every other path with the real loader.
class TreeLoader {
 public:
  void Register(const QString& path, std::function<std::unique_ptr<LogFile>()> build) {
    trees_[path.toStdString()] = std::move(build);
  }
  // Called during each load, after the tree is built and before it is handed over.
  std::function<void(const std::string& path, const ReadProgress& progress)> duringLoad;
  int loads = 0;

  LogDocument::Loader AsLoader();

 private:
  std::map<std::string, std::function<std::unique_ptr<LogFile>()>> trees_;
};

// A main window with fake services, over a temporary directory for log files.
class FrameFixture {
 public:
  FrameFixture();  // the window goes before its document: members end in reverse order

  // Writes a file in the temporary directory; returns its path.
  QString WriteFile(const QString& name, const QByteArray& contents);
  // A placeholder file that `loader` answers with a hand-built tree.
  QString RegisterTree(const QString& name, std::function<std::unique_ptr<LogFile>()> build);
  static QString Example(const QString& name);  // a bundled example log

  // Runs a command; a load it starts (Open, Refresh, Follow, a filter made less strict) is
  // waited for.
  void Trigger(Command command) {
    frame->Action(command)->trigger();
    WaitForLoad(*frame);
  }
  // Loads a file into `window` (the fixture's own by default) and waits until the load ends;
  // whether it was shown as read.
  bool Open(const QString& path) { return OpenIn(*frame, path); }
  static bool OpenIn(MainWindow& window, const QString& path);
  // Waits for a load the window runs (a reload of Filter, Follow's first read) to end; true at
  // once when none runs.
  static bool WaitForLoad(MainWindow& window);
  // Shows the window and makes it the active one, so that its keys reach its commands.
  void ShowActive();
  // Selects the shown node whose path (names joined by backslashes) is given.
  void SelectPath(const std::string& path);
  LogNode* FindByPath(const std::string& path) const;
  // A key pressed in the active window, as the user would; a load it starts is waited for.
  void PressKey(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier);
  // The next dialog the window runs must be a `Dialog`; `fill` sets it up and confirms it
  // (true) or cancels it (false).
  template <class Dialog>
  void Answer(std::function<bool(Dialog&)> fill) {
    frame->SetDialogRunner([fill](QDialog& dialog) {
      auto* typed = dynamic_cast<Dialog*>(&dialog);
      EXPECT_NE(typed, nullptr);
      return typed != nullptr && fill(*typed);
    });
  }
  // The services of the fixture, for a second window over the same settings.
  Services AllServices() { return {messages, settings, resolver, launcher, dialogs, loggingEnvironment}; }
  LogView& View() const { return *frame->View(); }
  LogNode* Selected() const { return frame->View()->SelectedNode(); }
  bool Enabled(Command command) const { return frame->Action(command)->isEnabled(); }
  bool Checked(Command command) const { return frame->Action(command)->isChecked(); }
  QStringList ShownPeers() const;  // the root's rows as the tree shows them
  QAction* MenuEntry(const QString& text) const;  // the window's action of that text, if any
  static QByteArray Contents(const QString& path);  // empty when it cannot be read

  QTemporaryDir directory;
  RecordingMessages messages;
  MemorySettings settings;
  FakeResolver resolver;
  FakeLauncher launcher;
  FakeDialogs dialogs;
  LoggingEnvironment loggingEnvironment;
  TreeLoader loader;
  std::unique_ptr<LogDocument> document;
  std::unique_ptr<MainWindow> frame;
};

}  // namespace quillon::test
