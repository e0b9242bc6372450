// The main window driven through its commands, as a user would: open, select, copy, reload,
// go to last event, delete a peer, make negotiations visible, resolve names, the change watch,
// recent files, the Open dialog's proposals, and the programs the window starts.
#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QMimeData>
#include <QProgressBar>
#include <QSettings>
#include <QSplitter>
#include <QStatusBar>
#include <QTest>
#include <QTextCursor>
#include <QTimer>
#include <QToolBar>
#include <QTreeView>
#include <QUrl>

#include "AppTestSupport.h"
#include "app/LogTreeModel.h"
#include "app/TextPane.h"
#include "model/IPv4.h"

namespace quillon::test {
namespace {

class MainFrameTest : public ::testing::Test {
 protected:
  FrameFixture f;

  QString OpenThreePeers(const QString& name = QStringLiteral("three.ilx")) {
    const QString path = f.RegisterTree(name, &ThreePeerLog);
    f.dialogs.answer = path;
    f.Trigger(Command::kOpen);
    return path;
  }
  QStringList PeerNames() const {
    QStringList names;
    for (const auto& peer : f.document->Log()->Children()) names.append(QString::fromStdString(peer->Name()));
    return names;
  }
  // A key pressed in the active window, as the user would.
  void PressKey(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    f.ShowActive();
    QWidget* target = QApplication::focusWidget() ? QApplication::focusWidget() : f.frame.get();
    QTest::keyClick(target, key, modifiers);
  }
  bool Enabled(Command command) const { return f.frame->Action(command)->isEnabled(); }
  QTreeView& Tree() const { return *f.frame->View()->Tree(); }
  LogTreeModel& Model() const { return *f.frame->View()->Model(); }
  bool Expanded(const std::string& path) const { return Tree().isExpanded(Model().IndexOf(f.FindByPath(path))); }
};

TEST_F(MainFrameTest, OpeningALogShowsItsTreeAndRemembersTheFile) {
  EXPECT_EQ(f.frame->windowTitle(), "Untitled - Quillon");
  for (const Command command : {Command::kCopy, Command::kRefresh, Command::kGoToLastEvent, Command::kResolveIPs,
                                Command::kDeletePeer, Command::kMakeVisible, Command::kLaunchNotepad, Command::kSend})
    EXPECT_FALSE(Enabled(command));

  const QString path = FrameFixture::Example("ikev2-site-to-site.xml");
  f.dialogs.answer = path;
  f.Trigger(Command::kOpen);

  EXPECT_TRUE(f.messages.shown.isEmpty()) << f.messages.shown.join("|").toStdString();
  EXPECT_EQ(f.frame->windowTitle(), "ikev2-site-to-site.xml - Quillon");
  EXPECT_EQ(f.frame->MessageText(), "File loaded in 00 minutes, 00 seconds.");
  const QModelIndex root = Model().index(0, 0);
  EXPECT_EQ(root.data().toString(), "IKEv2 debugging info");
  EXPECT_TRUE(Tree().isExpanded(root)) << "the peers are visible after a load";
  EXPECT_GT(Model().rowCount(root), 0);
  EXPECT_EQ(f.settings.Value("Misc Data/Last Accessed File").toString(), path);
  EXPECT_EQ(f.frame->Recent().Entries(), QStringList({path}));
  for (const Command command : {Command::kCopy, Command::kRefresh, Command::kGoToLastEvent, Command::kResolveIPs,
                                Command::kMakeVisible, Command::kLaunchNotepad, Command::kSend})
    EXPECT_TRUE(Enabled(command)) << static_cast<int>(command);
  EXPECT_FALSE(Enabled(Command::kDeletePeer)) << "nothing is selected yet";
  // Not offered yet, but in place.
  for (const Command command : {Command::kSaveAs, Command::kFilter, Command::kVerify, Command::kFind,
                                Command::kFindNext, Command::kFindPrevious})
    EXPECT_FALSE(Enabled(command));
}

TEST_F(MainFrameTest, SelectingANodeShowsItsTextAndPath) {
  OpenThreePeers();
  f.SelectPath("IKE debugging info\\10.0.0.1\\10.1.0.0 <=> 10.2.0.0\\Main Mode");
  EXPECT_EQ(f.frame->View()->Text()->toPlainText(), "Main Mode at Tue Jan 15 2008 10:00:00\n\nStatus:\tdone\n");
  EXPECT_EQ(f.frame->MessageText(), "IKE debugging info\\10.0.0.1\\10.1.0.0 <=> 10.2.0.0\\Main Mode");
  EXPECT_TRUE(Enabled(Command::kDeletePeer));

  // The root: its own text, its name alone as path, and it cannot be deleted.
  f.SelectPath("IKE debugging info");
  EXPECT_EQ(f.frame->View()->Text()->toPlainText(), "LogFile\n");
  EXPECT_EQ(f.frame->MessageText(), "IKE debugging info");
  EXPECT_FALSE(Enabled(Command::kDeletePeer));
}

TEST_F(MainFrameTest, CopyTakesAllTextOrTheSelectionThenClearsIt) {
  OpenThreePeers();
  f.SelectPath("IKE debugging info\\10.0.0.1\\10.1.0.0 <=> 10.2.0.0\\QuickMode");
  QClipboard* clipboard = QApplication::clipboard();
  clipboard->clear();
  f.Trigger(Command::kCopy);
  EXPECT_EQ(clipboard->text(), "QuickMode at Tue Jan 15 2008 10:05:00\n\nStatus:\tdone\n");

  TextPane& text = *f.frame->View()->Text();
  QTextCursor cursor = text.textCursor();
  cursor.setPosition(13);
  cursor.setPosition(37, QTextCursor::KeepAnchor);
  text.setTextCursor(cursor);
  f.Trigger(Command::kCopy);
  EXPECT_EQ(clipboard->text(), "Tue Jan 15 2008 10:05:00");
  EXPECT_FALSE(text.textCursor().hasSelection());
  EXPECT_EQ(text.textCursor().position(), 0);

  // The copy keys reach the command from the text pane too, where the edit control would
  // otherwise copy its (empty) selection.
  clipboard->clear();
  f.ShowActive();
  text.setFocus();
  QTest::keyClick(&text, Qt::Key_C, Qt::ControlModifier);
  EXPECT_EQ(clipboard->text(), "QuickMode at Tue Jan 15 2008 10:05:00\n\nStatus:\tdone\n");
  // A selection copied by key is cleared afterwards, as by the menu.
  cursor = text.textCursor();
  cursor.setPosition(0);
  cursor.setPosition(9, QTextCursor::KeepAnchor);
  text.setTextCursor(cursor);
  QTest::keyClick(&text, Qt::Key_C, Qt::ControlModifier);
  EXPECT_EQ(clipboard->text(), "QuickMode");
  EXPECT_FALSE(text.textCursor().hasSelection());
  clipboard->clear();
  QTest::keyClick(&Tree(), Qt::Key_Insert, Qt::ControlModifier);
  EXPECT_EQ(clipboard->text(), "QuickMode at Tue Jan 15 2008 10:05:00\n\nStatus:\tdone\n");
}

TEST_F(MainFrameTest, AFailedOpenKeepsThePreviousLog) {
  OpenThreePeers();
  const LogFile* before = f.document->Log();
  const QString title = f.frame->windowTitle();

  const QString missing = f.directory.filePath("gone.ilx");
  f.dialogs.answer = missing;
  f.Trigger(Command::kOpen);
  ASSERT_EQ(f.messages.shown, QStringList({"Failed to open file: " + missing}));

  const QString binary = f.WriteFile("picture.xml", QByteArray("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16));
  f.dialogs.answer = binary;
  f.Trigger(Command::kOpen);
  EXPECT_EQ(f.messages.shown.last(), "Wrong file type");

  EXPECT_EQ(f.document->Log(), before);
  EXPECT_EQ(f.frame->windowTitle(), title);
  EXPECT_EQ(Model().Log(), before);
  EXPECT_EQ(f.frame->Recent().Entries().size(), 1);
  // The file that could be opened but not read is still the one the Open dialog starts from.
  EXPECT_EQ(f.document->LastAccessedFile(), binary);
}

TEST_F(MainFrameTest, AFileNamedUntitledIsALoadedDocument) {
  const QString path = f.RegisterTree("Untitled", &ThreePeerLog);
  ASSERT_TRUE(f.frame->OpenFile(path));
  EXPECT_EQ(f.frame->windowTitle(), "Untitled - Quillon");
  EXPECT_TRUE(Enabled(Command::kRefresh));
  EXPECT_TRUE(Enabled(Command::kCopy));
  EXPECT_TRUE(Enabled(Command::kResolveIPs));
}

TEST_F(MainFrameTest, RefreshReloadsTheFileAndUndoesDeletions) {
  OpenThreePeers();
  f.SelectPath("IKE debugging info\\10.0.0.2");
  f.Trigger(Command::kDeletePeer);
  ASSERT_EQ(PeerNames(), QStringList({"10.0.0.1", "10.0.0.3"}));
  const int loads = f.loader.loads;

  PressKey(Qt::Key_F5);
  EXPECT_EQ(f.loader.loads, loads + 1);
  EXPECT_EQ(PeerNames(), QStringList({"10.0.0.1", "10.0.0.2", "10.0.0.3"}));
  EXPECT_EQ(Model().rowCount(Model().index(0, 0)), 3);
  EXPECT_TRUE(f.frame->ChangeWatch()->isActive());

  // A log file edited on disk is read again as it now stands.
  const QString path = f.WriteFile("edited.xml", "");
  QFile::remove(path);
  ASSERT_TRUE(QFile::copy(FrameFixture::Example("ikev2-site-to-site.xml"), path));
  ASSERT_TRUE(f.frame->OpenFile(path));
  QFile::remove(path);
  ASSERT_TRUE(QFile::copy(FrameFixture::Example("ikev2-remote-access.xml"), path));
  f.Trigger(Command::kRefresh);
  EXPECT_TRUE(f.messages.shown.isEmpty());
  OpenLogResult expected = OpenLog(FrameFixture::Example("ikev2-remote-access.xml").toStdString());
  QStringList expectedPeers;
  for (const auto& peer : expected.log->Children()) expectedPeers.append(QString::fromStdString(peer->Caption()));
  OpenLogResult before = OpenLog(FrameFixture::Example("ikev2-site-to-site.xml").toStdString());
  QStringList peersBefore;
  for (const auto& peer : before.log->Children()) peersBefore.append(QString::fromStdString(peer->Caption()));
  ASSERT_NE(expectedPeers, peersBefore) << "the two examples must differ for this test";
  EXPECT_EQ(PeerNames(), expectedPeers);
}

TEST_F(MainFrameTest, GoToLastEventSelectsAndExpandsTheLatestNegotiation) {
  OpenThreePeers();
  PressKey(Qt::Key_F2);
  // The latest one sits under an address-less tunnel, directly below its peer.
  const std::string latest = "IKE debugging info\\10.0.0.2\\Tunnel without addresses\\Main Mode";
  EXPECT_EQ(f.frame->View()->SelectedNode(), f.FindByPath(latest));
  EXPECT_TRUE(Expanded(latest));
  EXPECT_EQ(f.frame->MessageText(), QString::fromStdString(latest));

  // Its peer deleted, the next search finds the latest of what is left.
  f.Trigger(Command::kDeletePeer);
  ASSERT_EQ(PeerNames(), QStringList({"10.0.0.1", "10.0.0.3"}));
  f.Trigger(Command::kGoToLastEvent);
  EXPECT_EQ(f.frame->View()->SelectedNode(),
            f.FindByPath("IKE debugging info\\10.0.0.1\\10.1.0.0 <=> 10.2.0.0\\QuickMode"));
}

TEST_F(MainFrameTest, GoToLastEventPrefersTheLaterOfEqualTimesAndIgnoresUndatedLogs) {
  f.RegisterTree("tie.ilx", [] {
    auto log = std::make_unique<LogFile>();
    TestNode& tunnel = AddTunnel(AddPeer(*log, "10.0.0.1"), true);
    AddExchange(tunnel, "Main Mode", " Tue Jan 15 2008", "10:00:00");
    AddExchange(tunnel, "QuickMode", " Tue Jan 15 2008", "10:00:00");
    // Before 1980 (or without a readable date): never an event.
    AddExchange(tunnel, "Informational", " Mon Jan 01 1979", "23:00:00");
    return log;
  });
  ASSERT_TRUE(f.frame->OpenFile(f.directory.filePath("tie.ilx")));
  f.Trigger(Command::kGoToLastEvent);
  EXPECT_EQ(f.frame->View()->SelectedNode()->Name(), "QuickMode");

  ASSERT_TRUE(f.frame->OpenFile(FrameFixture::Example("ikev2-site-to-site.xml")));
  f.Trigger(Command::kGoToLastEvent);
  EXPECT_EQ(f.frame->View()->SelectedNode(), nullptr);
}

TEST_F(MainFrameTest, DeletePeerRemovesThePeerOfADeepSelectionAndKeepsTheLastOne) {
  OpenThreePeers();
  f.Trigger(Command::kMakeVisible);
  f.SelectPath("IKE debugging info\\10.0.0.2\\Tunnel without addresses\\Main Mode\\Packet 1\\SA payload");
  f.Trigger(Command::kDeletePeer);
  EXPECT_EQ(PeerNames(), QStringList({"10.0.0.1", "10.0.0.3"}));
  EXPECT_EQ(Model().rowCount(Model().index(0, 0)), 2);
  EXPECT_TRUE(f.messages.shown.isEmpty());

  f.SelectPath("IKE debugging info\\10.0.0.3\\10.3.0.0 <=> 10.4.0.0");
  PressKey(Qt::Key_Delete, Qt::ControlModifier);
  EXPECT_EQ(PeerNames(), QStringList({"10.0.0.1"}));

  f.SelectPath("IKE debugging info\\10.0.0.1\\10.1.0.0 <=> 10.2.0.0\\Main Mode");
  f.Trigger(Command::kDeletePeer);
  EXPECT_EQ(PeerNames(), QStringList({"10.0.0.1"}));
  EXPECT_EQ(f.messages.shown,
            QStringList({"A log should contain at least one IKE peer.\n\nCannot remove the only peer 10.0.0.1"}));

  // The root is never a peer to delete, even when the command is issued anyway.
  f.SelectPath("IKE debugging info");
  f.frame->View()->DeleteSelectedPeer(f.messages);
  EXPECT_EQ(PeerNames(), QStringList({"10.0.0.1"}));
  EXPECT_EQ(f.messages.shown.size(), 1);
}

TEST_F(MainFrameTest, MakeNegotiationsVisibleExpandsTheRootAndEachPeer) {
  OpenThreePeers();
  Tree().collapseAll();
  f.Trigger(Command::kMakeVisible);
  EXPECT_TRUE(Expanded("IKE debugging info"));
  for (const char* peer : {"10.0.0.1", "10.0.0.2", "10.0.0.3"})
    EXPECT_TRUE(Expanded(std::string("IKE debugging info\\") + peer)) << peer;
  EXPECT_FALSE(Expanded("IKE debugging info\\10.0.0.1\\10.1.0.0 <=> 10.2.0.0"));
}

TEST_F(MainFrameTest, ResolveIPsNamesEachPeerOnceUntilTheNextLoad) {
  f.RegisterTree("merged.ilx", [] {
    std::unique_ptr<LogFile> log = ThreePeerLog();
    AddPeer(*log, "10.0.0.4  (0.0.0.7)");  // a peer the daemon also logged under an index
    AddPeer(*log, "gateway");              // not an address
    return log;
  });
  ASSERT_TRUE(f.frame->OpenFile(f.directory.filePath("merged.ilx")));
  f.resolver.names = {{ParseIPv4("10.0.0.1"), "gw1.example.net"}, {ParseIPv4("10.0.0.4"), "gw4.example.net"}};
  QStringList statusWhileAsking;
  f.resolver.onAsk = [&] { statusWhileAsking.append(f.frame->MessageText()); };

  PressKey(Qt::Key_F6);
  EXPECT_EQ(PeerNames(), QStringList({"gateway", "10.0.0.1 (gw1.example.net)", "10.0.0.2", "10.0.0.3",
                                      "10.0.0.4  (0.0.0.7) (gw4.example.net)"}));
  EXPECT_EQ(statusWhileAsking, QStringList({"Resolving 10.0.0.1...", "Resolving 10.0.0.2...", "Resolving 10.0.0.3...",
                                            "Resolving 10.0.0.4  (0.0.0.7)..."}))
      << "a name that is not an address is not looked up";
  EXPECT_EQ(Model().index(1, 0, Model().index(0, 0)).data().toString(), "10.0.0.1 (gw1.example.net)");
  EXPECT_EQ(f.frame->MessageText(), "Ready");
  EXPECT_FALSE(Enabled(Command::kResolveIPs));

  // Once per load: the command does nothing more until the file is read again.
  f.Trigger(Command::kResolveIPs);
  EXPECT_EQ(PeerNames()[1], "10.0.0.1 (gw1.example.net)");
  f.Trigger(Command::kRefresh);
  EXPECT_EQ(PeerNames()[1], "10.0.0.1");
  EXPECT_TRUE(Enabled(Command::kResolveIPs));
}

TEST_F(MainFrameTest, ChangeWatchReportsAFileChangedOnDisk) {
  const QString path = OpenThreePeers();
  EXPECT_TRUE(f.frame->ChangeWatch()->isActive());
  EXPECT_EQ(f.frame->ChangeWatch()->interval(), 500);
  f.frame->CheckFileChange();
  EXPECT_FALSE(f.frame->IsFileChangeShown());

  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::ReadWrite));
  ASSERT_TRUE(file.setFileTime(QDateTime::currentDateTime().addSecs(60), QFileDevice::FileModificationTime));
  file.close();
  // The watch's own timer notices within a tick or two.
  EXPECT_TRUE(QTest::qWaitFor([&] { return f.frame->IsFileChangeShown(); }, 3000));

  f.Trigger(Command::kRefresh);
  f.frame->CheckFileChange();
  EXPECT_FALSE(f.frame->IsFileChangeShown());

  // A file removed since the load is not reported as changed; its tree stays.
  QFile::remove(path);
  f.frame->CheckFileChange();
  EXPECT_FALSE(f.frame->IsFileChangeShown());
}

TEST_F(MainFrameTest, AFileWrittenWhileItLoadsCountsAsChanged) {
  const QString path = f.RegisterTree("growing.ilx", &ThreePeerLog);
  // The daemon appends to the log while the viewer reads it.
  f.loader.duringLoad = [&](const std::string&, const ReadProgress&) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::Append));
    file.write("one more packet\n");
    file.flush();
    ASSERT_TRUE(file.setFileTime(QDateTime::currentDateTime().addSecs(5), QFileDevice::FileModificationTime));
  };
  ASSERT_TRUE(f.frame->OpenFile(path));
  f.loader.duringLoad = nullptr;
  f.frame->CheckFileChange();
  EXPECT_TRUE(f.frame->IsFileChangeShown());
}

TEST_F(MainFrameTest, LongLoadsShowTheirProgress) {
  const QString path = f.RegisterTree("slow.ilx", &ThreePeerLog);
  QProgressBar* bar = f.frame->LoadProgressBar();
  f.frame->show();
  std::vector<int> shownValues;
  f.loader.duringLoad = [&](const std::string&, const ReadProgress& progress) {
    const qint64 size = QFileInfo(path).size();
    progress(1);
    EXPECT_FALSE(bar->isVisible()) << "no bar for a quick load";
    QTest::qSleep(600);
    progress(static_cast<std::uint64_t>(size / 2));
    EXPECT_TRUE(bar->isVisible());
    shownValues.push_back(bar->value());
    QTest::qSleep(150);
    progress(static_cast<std::uint64_t>(size));
    shownValues.push_back(bar->value());
  };
  ASSERT_TRUE(f.frame->OpenFile(path));
  EXPECT_EQ(shownValues, std::vector<int>({500, 1000}));
  EXPECT_FALSE(bar->isVisible());
  EXPECT_EQ(QApplication::overrideCursor(), nullptr) << "the wait cursor ends with the load";
}

TEST_F(MainFrameTest, RecentFilesKeepTheFourNewestOnce) {
  QStringList paths;
  for (int i = 1; i <= 5; ++i) paths.append(f.RegisterTree(QStringLiteral("log%1.ilx").arg(i), &ThreePeerLog));
  for (const QString& path : paths) ASSERT_TRUE(f.frame->OpenFile(path));
  ASSERT_TRUE(f.frame->OpenFile(paths[2]));
  EXPECT_EQ(f.frame->Recent().Entries(), QStringList({paths[2], paths[4], paths[3], paths[1]}));
  EXPECT_EQ(f.settings.Value("Recent File List/File1").toString(), paths[2]);
  EXPECT_EQ(f.settings.Value("Recent File List/File4").toString(), paths[1]);

  // The menu offers them in that order and opens the one chosen.
  const QList<QAction*> entries = f.frame->RecentFileActions();
  ASSERT_EQ(entries.size(), 4);
  EXPECT_TRUE(entries[1]->text().startsWith("&2 ")) << entries[1]->text().toStdString();
  entries[1]->trigger();
  EXPECT_EQ(f.document->Path(), paths[4]);

  // An entry whose file has gone is dropped when chosen; the list persists for the next run.
  QFile::remove(paths[3]);
  f.frame->RecentFileActions()[2]->trigger();
  EXPECT_EQ(f.frame->Recent().Entries(), QStringList({paths[4], paths[2], paths[1]}));
  EXPECT_EQ(RecentFiles(f.settings).Entries(), f.frame->Recent().Entries());
}

TEST_F(MainFrameTest, OpenDialogStartsFromTheLastFileOrTheDaemonsLog) {
  // Nothing known: no file name, IKEv2 logs first.
  f.Trigger(Command::kOpen);
  ASSERT_EQ(f.dialogs.requests.size(), 1);
  EXPECT_EQ(f.dialogs.requests[0].startPath, "");
  EXPECT_EQ(f.dialogs.requests[0].filters,
            QStringList({"IKEv2 XML logs (*.xml *.xmll)", "MV Log Files (*.ilx)", "All Files (*)"}));
  EXPECT_EQ(f.dialogs.requests[0].defaultSuffix, "xml");

  // The daemon's product directory known: its default log, debug logs first.
  const QString productDir = f.directory.filePath("GX");
  QSettings product(f.directory.filePath("no-product.ini"), QSettings::IniFormat);
  product.setValue("GXDIR", productDir);
  product.sync();
  f.Trigger(Command::kOpen);
  EXPECT_EQ(f.dialogs.requests[1].startPath, productDir + "/log/IKE.ilx");
  EXPECT_EQ(f.dialogs.requests[1].filters.first(), "MV Log Files (*.ilx)");
  EXPECT_EQ(f.dialogs.requests[1].defaultSuffix, "ilx");

  // The file opened last wins; ".ilx" anywhere in it picks the debug-log filter.
  f.document->SetLastAccessedFile("/var/log/gw/x.ilx.d/trace.xml");
  f.Trigger(Command::kOpen);
  EXPECT_EQ(f.dialogs.requests[2].startPath, "/var/log/gw/x.ilx.d/trace.xml");
  EXPECT_EQ(f.dialogs.requests[2].filters.first(), "MV Log Files (*.ilx)");
  f.document->SetLastAccessedFile("/var/log/gw/trace.xml");
  f.Trigger(Command::kOpen);
  EXPECT_EQ(f.dialogs.requests[3].filters.first(), "IKEv2 XML logs (*.xml *.xmll)");
  EXPECT_EQ(f.loader.loads, 0) << "a cancelled dialog opens nothing";
}

TEST_F(MainFrameTest, LaunchWithNotepadPassesThePathAsOneArgument) {
  // A long path with blanks, quotes and shell characters reaches the editor whole.
  const QString name = QStringLiteral("dir with blanks; $(rm -rf ~) \"quoted\"/") + QString(250, QLatin1Char('x')) +
                       QStringLiteral(".ilx");
  const QString path = f.RegisterTree(name, &ThreePeerLog);
  ASSERT_TRUE(f.frame->OpenFile(path));
  ASSERT_GT(path.size(), 260);

  f.Trigger(Command::kLaunchNotepad);
  EXPECT_EQ(f.messages.shown.size(), 1) << "no editor installed";
  EXPECT_TRUE(f.launcher.started.isEmpty());

  f.launcher.programs = {{"kate", "/usr/bin/kate"}, {"xdg-open", "/usr/bin/xdg-open"}};
  f.Trigger(Command::kLaunchNotepad);
  ASSERT_EQ(f.launcher.started.size(), 1);
  EXPECT_EQ(f.launcher.started[0].program, "/usr/bin/kate");
  EXPECT_EQ(f.launcher.started[0].arguments, QStringList({path}));

  f.launcher.startSucceeds = false;
  f.Trigger(Command::kLaunchNotepad);
  EXPECT_EQ(f.messages.shown.last(), "Could not start /usr/bin/kate");
}

TEST_F(MainFrameTest, SendAttachesTheLogOrSaysThereIsNoMailProgram) {
  const QString path = OpenThreePeers();
  f.Trigger(Command::kSend);
  ASSERT_EQ(f.messages.shown.size(), 1);
  EXPECT_TRUE(f.messages.shown[0].endsWith(path)) << f.messages.shown[0].toStdString();

  f.launcher.programs = {{"xdg-email", "/usr/bin/xdg-email"}};
  f.Trigger(Command::kSend);
  ASSERT_EQ(f.launcher.started.size(), 1);
  EXPECT_EQ(f.launcher.started[0].arguments, QStringList({"--subject", "three.ilx", "--attach", path}));
  EXPECT_EQ(f.messages.shown.size(), 1);
}

TEST_F(MainFrameTest, ADroppedFileIsOpened) {
  const QString path = f.RegisterTree("dropped.ilx", &ThreePeerLog);
  QMimeData data;
  data.setUrls({QUrl::fromLocalFile(path)});
  QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(f.frame.get(), &enter);
  EXPECT_TRUE(enter.isAccepted());
  QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(f.frame.get(), &drop);
  EXPECT_TRUE(QTest::qWaitFor([&] { return f.document->Path() == path; }, 2000));
}

TEST_F(MainFrameTest, NewEmptiesTheWindow) {
  OpenThreePeers();
  f.SelectPath("IKE debugging info\\10.0.0.1");
  PressKey(Qt::Key_N, Qt::ControlModifier);
  EXPECT_FALSE(f.document->IsLoaded());
  EXPECT_EQ(f.frame->windowTitle(), "Untitled - Quillon");
  EXPECT_EQ(Model().rowCount(), 0);
  EXPECT_TRUE(f.frame->View()->Text()->toPlainText().isEmpty());
  EXPECT_FALSE(Enabled(Command::kRefresh));
  EXPECT_FALSE(Enabled(Command::kDeletePeer));
}

TEST_F(MainFrameTest, ToolbarButtonsTheirTipsAndTheLayout) {
  QStringList buttons;
  for (QAction* action : f.frame->ToolBar()->actions())
    buttons.append(action->isSeparator() ? QStringLiteral("|") : action->text());
  EXPECT_EQ(buttons, QStringList({"&Open...", "Save as...", "|", "&Refresh...", "Delete peer", "Filter", "Verify", "|",
                                  "Make negotiations visible", "&Go to last event", "&Resolve IPs",
                                  "Launch with Notepad"}));
  EXPECT_EQ(f.frame->Action(Command::kResolveIPs)->toolTip(), "Resolve peers IPs(F6)");
  EXPECT_EQ(f.frame->Action(Command::kResolveIPs)->statusTip(), "Resolve peers IPs (F6)");
  EXPECT_EQ(f.frame->Action(Command::kMakeVisible)->toolTip(), "Make negotiations visible (Ctrl + Plus)");
  EXPECT_EQ(f.frame->Action(Command::kOpen)->toolTip(), "Open File");
  for (QAction* action : f.frame->ToolBar()->actions())
    EXPECT_TRUE(action->isSeparator() || !action->icon().isNull()) << action->text().toStdString();

  f.frame->resize(1200, 700);
  f.frame->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(f.frame.get()));
  EXPECT_EQ(f.frame->View()->Splitter()->sizes().first(), 390);
  EXPECT_TRUE(f.frame->View()->Text()->font().fixedPitch());

  f.Trigger(Command::kToolbar);
  EXPECT_FALSE(f.frame->ToolBar()->isVisible());
  f.Trigger(Command::kStatusBar);
  EXPECT_FALSE(f.frame->statusBar()->isVisible());
  f.Trigger(Command::kToolbar);
  EXPECT_TRUE(f.frame->ToolBar()->isVisible());
}

}  // namespace
}  // namespace quillon::test
