// The main window driven through its commands, as a user would: open, select, reload, go to
// last event, delete a peer, resolve names, the change watch, loads that are stopped, recent
// files, the Open dialog's proposals, the programs the window starts, and Save As.
#include <gtest/gtest.h>

#include <atomic>

#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QThread>
#include <QUrl>

#include "AppTestSupport.h"
#include "app/TextPane.h"
#include "model/IPv4.h"

namespace quillon::test {
namespace {

const std::string kRoot = "IKE debugging info";
const std::string kFirstTunnel = kRoot + "\\10.0.0.1\\10.1.0.0 <=> 10.2.0.0";

QStringList Names(const LogFile& log, bool captions = false) {
  QStringList names;
  for (const auto& peer : log.Children()) names.append(QString::fromStdString(captions ? peer->Caption() : std::string(peer->Name())));
  return names;
}

class MainWindowTest : public ::testing::Test {
 protected:
  FrameFixture f;

  QString OpenThreePeers() {
    const QString path = f.RegisterTree("three.ilx", &ThreePeerLog);
    f.dialogs.answer = path;
    f.Trigger(Command::kOpen);
    return path;
  }
  QStringList PeerNames() const { return Names(*f.document->Log()); }
  QString Title() const { return ShownTitle(*f.frame); }
  QTreeView& Tree() const { return *f.View().Tree(); }
  LogTreeModel& Model() const { return *f.View().Model(); }
  bool Expanded(const std::string& path) const { return Tree().isExpanded(Model().IndexOf(f.FindByPath(path))); }
};

TEST_F(MainWindowTest, OpeningALogShowsItsTreeAndRemembersTheFile) {
  const Command needALog[] = {Command::kCopy,        Command::kRefresh,      Command::kGoToLastEvent, Command::kResolveIPs,
                              Command::kMakeVisible, Command::kOpenInEditor, Command::kSend};
  EXPECT_EQ(Title(), "Untitled - Quillon");
  for (const Command command : needALog) EXPECT_FALSE(f.Enabled(command)) << static_cast<int>(command);

  const QString path = FrameFixture::Example("ikev2-site-to-site.xml");
  f.dialogs.answer = path;
  f.Trigger(Command::kOpen);
  EXPECT_TRUE(f.messages.shown.isEmpty()) << f.messages.shown.join("|").toStdString();
  EXPECT_EQ(Title(), "ikev2-site-to-site.xml - Quillon");
  EXPECT_EQ(f.frame->MessageText(), "File loaded in 00 minutes, 00 seconds.");
  EXPECT_TRUE(Tree().isExpanded(Model().index(0, 0)) && Model().rowCount(Model().index(0, 0)) > 0) << "peers shown";
  EXPECT_EQ(f.settings.Value("Misc Data/Last Accessed File").toString(), path);
  for (const Command command : needALog) EXPECT_TRUE(f.Enabled(command)) << static_cast<int>(command);
  EXPECT_FALSE(f.Enabled(Command::kDeletePeer)) << "nothing is selected yet";

  // A file named "Untitled" is still a loaded document; the toolkit's placeholder for the
  // modified mark in a file name shows as written.
  for (const QString name : {"Untitled", "odd[*].ilx"}) {
    ASSERT_TRUE(f.Open(f.RegisterTree(name, &ThreePeerLog)));
    EXPECT_EQ(Title(), name + " - Quillon");
    EXPECT_TRUE(f.Enabled(Command::kRefresh));
  }
  // A selected node's text is shown; Ctrl+N empties the window.
  f.SelectPath(kFirstTunnel + "\\Main Mode");
  EXPECT_EQ(f.View().Text()->toPlainText(), "Main Mode at Tue Jan 15 2008 10:00:00\n\nStatus:\tdone\n");
  f.PressKey(Qt::Key_N, Qt::ControlModifier);
  EXPECT_EQ(Title(), "Untitled - Quillon");
  EXPECT_EQ(Model().rowCount(), 0);
  EXPECT_TRUE(f.View().Text()->toPlainText().isEmpty());
  EXPECT_FALSE(f.Enabled(Command::kRefresh));
}

// Control bytes in a hostile log are shown as visible escapes in the tree, the text pane and
// the status bar, never handed to the widgets as themselves.
TEST_F(MainWindowTest, ControlBytesOfTheLogAreShownVisibly) {
  QByteArray log = FrameFixture::Contents(FrameFixture::Example("ikev2-site-to-site.xml"));
  log.replace("serial=\"1\"", "serial=\"1\x1b]0;title\x07\x9b\"");
  ASSERT_TRUE(f.Open(f.WriteFile("hostile.xml", log)));
  const QModelIndexList found =
      Model().match(Model().index(0, 0), Qt::DisplayRole, "Initial 1", 1, Qt::MatchStartsWith | Qt::MatchRecursive);
  ASSERT_EQ(found.size(), 1);
  EXPECT_TRUE(found[0].data().toString().startsWith("Initial 1\\x1b]0;title\\x07\\x9b ==> ")) << found[0].data().toString().toStdString();
  Tree().setCurrentIndex(found[0]);
  EXPECT_TRUE(f.View().Text()->toPlainText().contains("\\x1b]0;title\\x07\\x9b"));
  for (const QString& shown : {f.View().Text()->toPlainText(), f.frame->MessageText(), found[0].data().toString()})
    EXPECT_FALSE(std::any_of(shown.begin(), shown.end(), [](QChar c) { return (c.unicode() < 0x20 && c != '\t' && c != '\n') || c == QChar(0x9b); }))
        << shown.toStdString();
}

TEST_F(MainWindowTest, AFailedOpenIsReportedAndKeepsThePreviousLog) {
  OpenThreePeers();
  const LogFile* before = f.document->Log();
  const QString missing = f.directory.filePath("gone.ilx");
  f.dialogs.answer = missing;
  f.Trigger(Command::kOpen);
  ASSERT_EQ(f.messages.shown, QStringList({"Failed to open file: " + missing + " (No such file or directory)"}));
  const QString binary = f.WriteFile("picture.xml", QByteArray("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16));
  f.dialogs.answer = binary;
  f.Trigger(Command::kOpen);
  EXPECT_EQ(f.messages.shown.last(), "Wrong file type: " + binary);
  EXPECT_EQ(Model().Log(), before);
  EXPECT_EQ(Title(), "three.ilx - Quillon");
  // The file that could be opened but not read is still the one the Open dialog starts from.
  EXPECT_EQ(f.document->LastAccessedFile(), binary);
}

TEST_F(MainWindowTest, DeletePeerRemovesAWholePeerKeepsTheLastAndRefreshUndoesIt) {
  OpenThreePeers();
  f.SelectPath(kRoot);
  EXPECT_FALSE(f.Enabled(Command::kDeletePeer));
  EXPECT_FALSE(f.View().DeleteSelectedPeer(f.messages)) << "the root is never a peer to delete";
  EXPECT_EQ(Title(), "three.ilx - Quillon");

  Tree().collapseAll();
  f.Trigger(Command::kMakeVisible);
  for (const char* peer : {"", "\\10.0.0.1", "\\10.0.0.2", "\\10.0.0.3"}) EXPECT_TRUE(Expanded(kRoot + peer)) << peer;
  EXPECT_FALSE(Expanded(kFirstTunnel));

  f.SelectPath(kRoot + "\\10.0.0.2\\Tunnel without addresses\\Main Mode\\Packet 1\\SA payload");
  f.Trigger(Command::kDeletePeer);
  EXPECT_EQ(PeerNames(), QStringList({"10.0.0.1", "10.0.0.3"}));
  EXPECT_EQ(Title(), "three.ilx* - Quillon") << "the tree no longer matches its file";
  f.SelectPath(kRoot + "\\10.0.0.3\\10.3.0.0 <=> 10.4.0.0");
  f.PressKey(Qt::Key_Delete, Qt::ControlModifier);
  f.SelectPath(kFirstTunnel + "\\Main Mode");
  f.Trigger(Command::kDeletePeer);
  EXPECT_EQ(PeerNames(), QStringList({"10.0.0.1"}));
  EXPECT_EQ(f.messages.shown,
            QStringList({"A log should contain at least one IKE peer.\n\nCannot remove the only peer 10.0.0.1"}));

  const int loads = f.loader.loads;
  f.PressKey(Qt::Key_F5);
  EXPECT_EQ(f.loader.loads, loads + 1);
  EXPECT_EQ(Model().rowCount(Model().index(0, 0)), 3);
  EXPECT_EQ(Title(), "three.ilx - Quillon") << "reading the file again clears the mark";
}

TEST_F(MainWindowTest, GoToLastEventSelectsAndExpandsTheLatestDatedNegotiation) {
  OpenThreePeers();
  f.PressKey(Qt::Key_F2);
  // The latest one sits under an address-less tunnel, which the tree and the path leave out.
  const std::string latest = kRoot + "\\10.0.0.2\\Tunnel without addresses\\Main Mode";
  EXPECT_EQ(f.Selected(), f.FindByPath(latest));
  EXPECT_TRUE(Expanded(latest));
  EXPECT_EQ(f.frame->MessageText(), "10.0.0.2 > Main Mode");
  f.Trigger(Command::kDeletePeer);
  f.Trigger(Command::kGoToLastEvent);
  EXPECT_EQ(f.Selected(), f.FindByPath(kFirstTunnel + "\\QuickMode"));

  // Of equal times the later in the log wins; a log without readable dates has no last event.
  ASSERT_TRUE(f.Open(f.RegisterTree("tie.ilx", [] {
    auto log = std::make_unique<LogFile>();
    TestTunnel& tunnel = AddTunnel(AddPeer(*log, "10.0.0.1"), true);
    AddExchange(tunnel, "Main Mode", " Tue Jan 15 2008", "10:00:00");
    AddExchange(tunnel, "QuickMode", " Tue Jan 15 2008", "10:00:00");
    AddExchange(tunnel, "Informational", " Mon Jan 01 1979", "23:00:00");  // before 1980: never an event
    return log;
  })));
  f.Trigger(Command::kGoToLastEvent);
  EXPECT_EQ(f.Selected()->Name(), "QuickMode");
  ASSERT_TRUE(f.Open(FrameFixture::Example("ikev2-site-to-site.xml")));
  f.Trigger(Command::kGoToLastEvent);
  EXPECT_EQ(f.Selected(), nullptr);
}

TEST_F(MainWindowTest, ResolveIPsNamesEachPeerOnceUntilTheNextLoad) {
  ASSERT_TRUE(f.Open(f.RegisterTree("merged.ilx", [] {
    std::unique_ptr<LogFile> log = ThreePeerLog();
    AddPeer(*log, "10.0.0.4  (0.0.0.7)");  // a peer the daemon also logged under an index
    AddPeer(*log, "gateway");              // not an address
    return log;
  })));
  f.resolver.names = {{ParseIPv4("10.0.0.1"), "gw1.example.net"}, {ParseIPv4("10.0.0.4"), "gw4.example.net"}};
  QStringList statusWhileAsking;
  f.resolver.onAsk = [&] { statusWhileAsking.append(f.frame->MessageText()); };
  f.PressKey(Qt::Key_F6);
  EXPECT_EQ(PeerNames(), QStringList({"gateway", "10.0.0.1 (gw1.example.net)", "10.0.0.2", "10.0.0.3",
                                      "10.0.0.4  (0.0.0.7) (gw4.example.net)"}));
  EXPECT_EQ(statusWhileAsking, QStringList({"Resolving 10.0.0.1...", "Resolving 10.0.0.2...", "Resolving 10.0.0.3...",
                                            "Resolving 10.0.0.4  (0.0.0.7)..."}))
      << "a name that is not an address is not looked up";
  EXPECT_EQ(f.frame->MessageText(), "Resolved 2 of 5 peers");

  // A peer is renamed once per load; a name that was not found is asked for again.
  f.resolver.names[ParseIPv4("10.0.0.2")] = "gw2.example.net";
  f.Trigger(Command::kResolveIPs);
  EXPECT_EQ(PeerNames().mid(1, 2), QStringList({"10.0.0.1 (gw1.example.net)", "10.0.0.2 (gw2.example.net)"}));
  f.Trigger(Command::kRefresh);
  EXPECT_EQ(PeerNames()[1], "10.0.0.1");
}

TEST_F(MainWindowTest, ChangeWatchReportsAFileChangedOnDiskOrWhileItLoads) {
  const QString path = OpenThreePeers();
  EXPECT_TRUE(f.frame->ChangeWatch()->isActive());
  const auto touch = [](const QString& file, int seconds) {
    QFile written(file);
    return written.open(QIODevice::Append) && written.write("x\n") == 2 && written.flush() &&
           written.setFileTime(QDateTime::currentDateTime().addSecs(seconds), QFileDevice::FileModificationTime);
  };
  ASSERT_TRUE(touch(path, 60));
  EXPECT_TRUE(QTest::qWaitFor([&] { return f.frame->IsFileChangeShown(); }, 3000)) << "noticed by the watch's timer";
  f.Trigger(Command::kRefresh);
  f.frame->CheckFileChange();
  EXPECT_FALSE(f.frame->IsFileChangeShown());
  // A file removed since the load is not reported as changed.
  QFile::remove(path);
  f.frame->CheckFileChange();
  EXPECT_FALSE(f.frame->IsFileChangeShown());

  // The daemon appends to the log while the viewer reads it: that counts as a change.
  const QString growing = f.RegisterTree("growing.ilx", &ThreePeerLog);
  f.loader.duringLoad = [&](const std::string&, const ReadProgress&) { EXPECT_TRUE(touch(growing, 5)); };
  ASSERT_TRUE(f.Open(growing));
  f.loader.duringLoad = nullptr;
  f.frame->CheckFileChange();
  EXPECT_TRUE(f.frame->IsFileChangeShown());
}

// A load runs on a worker while the window goes on: after a moment its progress shows (with
// Cancel), and Esc or Cancel stops it, keeping the previous log. A reload gives the old tree back
// before reading; stopped, it reads the file once more, to the end, and that read cannot be
// stopped.
TEST_F(MainWindowTest, LoadsShowTheirProgressAndStopOnEscOrCancel) {
  const QString first = f.RegisterTree("first.ilx", &ThreePeerLog);
  const QString second = f.RegisterTree("second.ilx", &ThreePeerLog);
  ASSERT_TRUE(f.Open(first));
  f.ShowActive();
  QProgressBar& bar = *f.frame->LoadProgressBar();
  QPushButton& cancel = *f.frame->CancelLoadButton();
  const std::pair<bool, bool> cases[] = {{false, false}, {true, false}, {false, true}};  // by Cancel, a reload
  for (const auto& [byCancel, reload] : cases) {
    SCOPED_TRACE(std::string(byCancel ? "Cancel" : "Esc") + (reload ? " reload" : ""));
    const QString path = reload ? first : second;
    const LogFile* shown = f.document->Log();
    std::atomic<int> reads{0}, stopped{0};
    std::atomic<bool> oldLogGone{false};
    f.loader.duringLoad = [&](const std::string&, const ReadProgress& progress) {
      ++reads;
      oldLogGone = f.document->Log() == nullptr;
      try {
        for (int i = 0; i < 100; ++i, QThread::msleep(10)) progress(static_cast<std::uint64_t>(QFileInfo(path).size()) / 2);
      } catch (const LoadCancelled&) {
        ++stopped;
        throw;
      }
    };
    ASSERT_TRUE(f.frame->OpenFile(path));
    EXPECT_FALSE(f.frame->OpenFile(second)) << "one load at a time";
    ASSERT_TRUE(QTest::qWaitFor([&] { return bar.isVisible(); }, 3000)) << "the bar shows after a moment";
    EXPECT_EQ(bar.value(), 500) << "half the file read";
    EXPECT_TRUE(cancel.isVisible() && QApplication::overrideCursor());
    if (byCancel) cancel.click();
    else QTest::keyClick(f.frame.get(), Qt::Key_Escape);
    if (reload) {  // the second read: Esc again does not stop it
      ASSERT_TRUE(QTest::qWaitFor([&] { return reads == 2; }, 3000));
      QTest::keyClick(f.frame.get(), Qt::Key_Escape);
    }
    EXPECT_FALSE(FrameFixture::WaitForLoad(*f.frame));
    EXPECT_EQ(stopped, 1);
    EXPECT_EQ(reads, reload ? 2 : 1);
    EXPECT_EQ(oldLogGone, reload);
    if (reload) EXPECT_EQ(Model().rowCount(Model().index(0, 0)), 3) << "the log is shown again";
    else EXPECT_EQ(f.document->Log(), shown);
    EXPECT_EQ(f.document->Path(), first);
    EXPECT_EQ(f.frame->MessageText(), QStringLiteral("Loading cancelled"));
    EXPECT_TRUE(f.messages.shown.isEmpty());
    EXPECT_FALSE(bar.isVisible() || cancel.isVisible() || QApplication::overrideCursor()) << "the wait ends with the load";
  }
}

TEST_F(MainWindowTest, RecentFilesKeepTheFourNewestOnce) {
  QStringList paths;
  for (int i = 1; i <= 5; ++i) paths.append(f.RegisterTree(QStringLiteral("log%1.ilx").arg(i), &ThreePeerLog));
  for (const QString& path : paths + QStringList{paths[2]}) ASSERT_TRUE(f.Open(path));
  EXPECT_EQ(f.frame->Recent().Entries(), QStringList({paths[2], paths[4], paths[3], paths[1]}));
  // The menu offers them in that order and opens the one chosen.
  ASSERT_EQ(f.frame->RecentFileActions().size(), 4);
  EXPECT_TRUE(f.frame->RecentFileActions()[1]->text().startsWith("&2 "));
  f.frame->RecentFileActions()[1]->trigger();
  FrameFixture::WaitForLoad(*f.frame);
  EXPECT_EQ(f.document->Path(), paths[4]);
  // An entry whose file has gone is dropped when chosen; the list persists for the next run.
  QFile::remove(paths[3]);
  f.frame->RecentFileActions()[2]->trigger();
  FrameFixture::WaitForLoad(*f.frame);
  EXPECT_EQ(f.frame->Recent().Entries(), QStringList({paths[4], paths[2], paths[1]}));
  EXPECT_EQ(RecentFiles(f.settings).Entries(), f.frame->Recent().Entries());
  // A second window's opened file reaches this window's menu once it is opened.
  MainWindow other(*f.document, f.AllServices());
  ASSERT_TRUE(FrameFixture::OpenIn(other, paths[0]));
  emit f.frame->menuBar()->actions().first()->menu()->aboutToShow();
  EXPECT_TRUE(f.frame->RecentFileActions().first()->text().endsWith("log1.ilx"));
}

TEST_F(MainWindowTest, OpenDialogStartsFromTheLastFileOrTheDaemonsLog) {
  const QString productDir = f.directory.filePath("GX");
  const struct {
    QString product, lastFile, start, suffix;
  } cases[] = {
      {"", "", QDir::homePath(), "xml"},                                              // nothing known
      {productDir, "", productDir + "/log/IKE.ilx", "ilx"},                           // the daemon's log
      {productDir, "/var/log/gw/IKE.ikev1trace", "/var/log/gw/IKE.ikev1trace", "ilx"},  // the last file wins
      {productDir, "relative/trace.xml", QDir::current().absoluteFilePath("relative/trace.xml"), "xml"},
  };
  for (const auto& c : cases) {
    QSettings(f.directory.filePath("no-product.ini"), QSettings::IniFormat).setValue("GXDIR", c.product);
    if (!c.lastFile.isEmpty()) f.document->SetLastAccessedFile(c.lastFile);
    f.Trigger(Command::kOpen);
    EXPECT_EQ(f.dialogs.requests.last().startPath, c.start);
    EXPECT_EQ(f.dialogs.requests.last().defaultSuffix, c.suffix) << c.start.toStdString();
  }
  // Every kind of log is offered first; a cancelled dialog opens nothing.
  EXPECT_TRUE(f.dialogs.requests[0].filters.first().contains("*.ilx") && f.dialogs.requests[0].filters.first().contains("*.xml"));
  EXPECT_EQ(f.loader.loads, 0);
}

TEST_F(MainWindowTest, EditorAndMailProgramsGetThePathAsOneArgument) {
  // A long path with blanks, quotes and shell characters reaches the programs whole.
  const QString path = f.RegisterTree("dir with blanks; $(rm -rf ~) \"quoted\"/" + QString(250, 'x') + ".ilx", &ThreePeerLog);
  ASSERT_TRUE(f.Open(path));
  f.Trigger(Command::kSend);
  EXPECT_TRUE(f.messages.shown.value(0).endsWith(path)) << "no mail program installed";

  f.launcher.programs = {{"kate", "/usr/bin/kate"}, {"xdg-open", "/usr/bin/xdg-open"}, {"xdg-email", "/usr/bin/xdg-email"}};
  f.Trigger(Command::kOpenInEditor);
  f.Trigger(Command::kSend);
  ASSERT_EQ(f.launcher.started.size(), 2);
  EXPECT_EQ(f.launcher.started[0].arguments, QStringList({path}));
  EXPECT_EQ(f.launcher.started[1].arguments, QStringList({"--subject", QFileInfo(path).fileName(), "--attach", path}));
}

TEST_F(MainWindowTest, ADroppedFileIsOpened) {
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

TEST_F(MainWindowTest, SaveAsWritesTheNarrowedLogInItsFormatAndNeverOverTheOpenLog) {
  EXPECT_FALSE(f.Enabled(Command::kSaveAs));
  const auto saveAs = [this](const QString& target) {
    f.messages.shown.clear();
    f.messages.asked.clear();
    f.dialogs.saveAnswer = target;
    f.Trigger(Command::kSaveAs);
  };
  for (const QString example : {"gateway-day.ilx", "ikev2-site-to-site.xml"}) {
    SCOPED_TRACE(example.toStdString());
    const QString suffix = QFileInfo(example).suffix(), log = f.directory.filePath(example);
    ASSERT_TRUE(QFile::copy(FrameFixture::Example(example), log));
    ASSERT_TRUE(f.Open(log));
    f.SelectPath(std::string(f.document->Log()->Name()) + "\\" + std::string(f.document->Log()->Child(0)->Name()));
    f.Trigger(Command::kDeletePeer);

    // Ctrl+S proposes the log's own name, marked, in its folder and format; the saved log reads
    // back as the tree shown, and the window still shows the log it opened.
    const QString target = f.directory.filePath("narrowed." + suffix);
    f.dialogs.saveAnswer = target;
    f.PressKey(Qt::Key_S, Qt::ControlModifier);
    ASSERT_FALSE(f.dialogs.saveRequests.isEmpty());
    EXPECT_EQ(f.dialogs.saveRequests.last().fileName, f.directory.filePath(QFileInfo(example).completeBaseName() + "-filtered." + suffix));
    EXPECT_EQ(f.dialogs.saveRequests.last().defaultSuffix, suffix);
    EXPECT_EQ(f.frame->MessageText(), "Log saved to " + QDir::toNativeSeparators(target));
    EXPECT_FALSE(f.frame->isWindowModified()) << "what the tree shows is saved";
    const OpenLogResult reread = OpenLog(target.toStdString());
    ASSERT_EQ(reread.status, OpenLogResult::Status::kLoaded);
    EXPECT_EQ(Names(*reread.log, true), Names(*f.document->Log(), true));
    EXPECT_EQ(f.document->Path(), log);

    // The open log, here through a link, is refused before asking to replace it (its other
    // spellings: SafeFileTest).
    const QByteArray before = FrameFixture::Contents(log);
    const QString link = f.directory.filePath("link." + suffix);
    ASSERT_TRUE(QFile::link(log, link));
    saveAs(link);
    EXPECT_EQ(f.messages.shown, QStringList({link + " is currently open.\nPlease select a new file name."}));
    EXPECT_TRUE(f.messages.asked.isEmpty());
    // Another existing file is replaced only when the user says so.
    f.messages.answer = false;
    f.document->MarkTreeChanged();
    f.frame->UpdateCommands();
    saveAs(target);
    EXPECT_EQ(f.messages.asked, QStringList({target + " already exists.\nDo you want to replace it?"}));
    EXPECT_TRUE(f.frame->isWindowModified()) << "not saved";
    f.messages.answer = true;
    EXPECT_EQ(FrameFixture::Contents(log), before);
    // A place that cannot be written is reported; cancelling does nothing.
    saveAs(log + "/under-a-file.ilx");
    ASSERT_EQ(f.messages.shown.size(), 1);
    EXPECT_TRUE(f.messages.shown[0].startsWith("Failed to save file: " + log + "/under-a-file.ilx"));
    saveAs("");
    EXPECT_TRUE(f.messages.shown.isEmpty());
  }
  // A damaged log whose daemon restarts no debug log can place as the tree has them is saved
  // all the same, and the window says what reads back otherwise.
  const QString damaged = f.directory.filePath("damaged.ilx");
  ASSERT_TRUE(QFile::copy(QStringLiteral(QUILLON_SOURCE_DIR "/tests/data/restarts-the-format-cannot-place.ilx"), damaged));
  ASSERT_TRUE(f.Open(damaged));
  saveAs(f.directory.filePath("damaged-saved.ilx"));
  ASSERT_EQ(f.messages.shown.size(), 1);
  EXPECT_TRUE(f.messages.shown[0].startsWith("The log was saved, but the saved log cannot place every negotiation"));
  EXPECT_TRUE(QFileInfo::exists(f.directory.filePath("damaged-saved.ilx")));
}

}  // namespace
}  // namespace quillon::test
