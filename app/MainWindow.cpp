#include "app/MainWindow.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <optional>

#include <cstring>

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QDockWidget>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLabel>
#include <QMenuBar>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTextBrowser>
#include <QVBoxLayout>
#include <QShortcut>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>
#include <QTreeView>

#include "app/AboutDialog.h"
#include "app/FindBar.h"
#include "app/TextEditor.h"
#include "model/IPv4.h"
#include "app/HandOverActions.h"
#include "app/LoggingEnvironment.h"
#include "app/NarrowingDialogs.h"
#include "app/LogDocument.h"
#include "app/LogView.h"
#include "app/TimelinePanel.h"
#include "app/ToolbarIcons.h"
#include "model/LogFile.h"
#include "model/NodeRoles.h"
#include "platform/ChunkSource.h"

namespace quillon {

namespace {

// Both names the debug-log reader takes (OpenLog chooses it by ".ilx" or ".ikev1trace").
const QString kDebugLogFilter = QStringLiteral("IKEv1 debug logs (*.ilx *.ikev1trace)");
// Every log the program reads, compressed ones too (their names end in the compressor's suffix).
const QString kAllLogsFilter =
    QStringLiteral("All IKE logs (*.ilx *.ikev1trace *.xml *.xmll *.gz *.xz *.zst)");
const QString kXmlLogFilter = QStringLiteral("IKEv2 XML logs (*.xml *.xmll)");
const QString kAllFilesFilter = QStringLiteral("All Files (*)");
const QString kSavedLogFilter = QStringLiteral("IKEv1 debug logs (*.ilx)");
// Whether the timeline panel is shown, as the user last chose.
const QString kTimelineVisibleKey = QStringLiteral("Preferences/ShowTimeline");
// Whether the toolbar is shown, likewise.
const QString kToolbarVisibleKey = QStringLiteral("Preferences/ShowToolbar");

// The name Save as proposes: the log's own name with "-filtered" before its extension, in the
// log's folder ("gw.ilx" gives "gw-filtered.ilx"; a compressed "gw.ilx.gz" is saved as text,
// "gw-filtered.ilx").
QString SaveNameFor(const QString& logPath, const QString& extension) {
  QFileInfo info(logPath);
  QString name = info.fileName();
  for (const char* suffix : {".gz", ".xz", ".zst"})
    if (name.endsWith(QLatin1String(suffix), Qt::CaseInsensitive)) name.chop(static_cast<int>(std::strlen(suffix)));
  const int dot = name.lastIndexOf(QLatin1Char('.'));
  if (dot > 0) name.truncate(dot);
  if (name.isEmpty()) name = QStringLiteral("quillon");
  return info.absoluteDir().filePath(name + QStringLiteral("-filtered.") + extension);
}

// A dock that tells when the user closes it (its close button or the View menu), as against
// being hidden with the window.
class ClosingDock : public QDockWidget {
 public:
  using QDockWidget::QDockWidget;
  void SetOnClose(std::function<void()> onClose) { onClose_ = std::move(onClose); }

 protected:
  void closeEvent(QCloseEvent* event) override {
    QDockWidget::closeEvent(event);
    if (event->isAccepted() && onClose_) onClose_();
  }

 private:
  std::function<void()> onClose_;
};

// The window's layout in the settings: its geometry as the toolkit saves it, and the tree
// pane's width once the user has chosen one.
const QString kGeometryKey = QStringLiteral("Layout/Geometry");
const QString kTreeWidthKey = QStringLiteral("Layout/TreeWidth");
// A stored width outside this range is not a width a screen shows (a damaged settings file).
constexpr int kMinTreeWidth = 50;
constexpr int kMaxTreeWidth = 20000;

// Shows the wait cursor for its lifetime.
class WaitCursor {
 public:
  WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
  ~WaitCursor() { QApplication::restoreOverrideCursor(); }
  WaitCursor(const WaitCursor&) = delete;
  WaitCursor& operator=(const WaitCursor&) = delete;
};

// Drives the status bar's progress bar and Cancel button from the reader's position. They
// appear only once a load has taken longer than half a second.
class LoadProgress {
 public:
  // `cancel`: null when the load cannot be stopped. `fileSize`: negative when the length of the
  // read is not known.
  LoadProgress(QProgressBar& bar, QWidget* cancel, qint64 fileSize) : bar_(bar), cancel_(cancel), fileSize_(fileSize) {
    clock_.start();
  }
  ~LoadProgress() {
    bar_.hide();
    if (cancel_ != nullptr) cancel_->hide();
  }
  LoadProgress(const LoadProgress&) = delete;
  LoadProgress& operator=(const LoadProgress&) = delete;

  void operator()(std::uint64_t bytesRead) {
    const qint64 now = clock_.elapsed();
    if (now < MainWindow::kProgressDelayMilliseconds || now - lastPaint_ < kPaintEveryMilliseconds) return;
    lastPaint_ = now;
    if (!bar_.isVisible()) {
      // A read of unknown length shows a busy bar.
      bar_.setRange(0, fileSize_ < 0 ? 0 : kSteps);
      bar_.show();
      if (cancel_ != nullptr) cancel_->show();
    }
    if (fileSize_ < 0) return;
    const double done = fileSize_ > 0 ? static_cast<double>(bytesRead) / static_cast<double>(fileSize_) : 0.0;
    bar_.setValue(static_cast<int>(std::min(1.0, done) * kSteps));
  }

 private:
  static constexpr int kSteps = 1000;
  static constexpr qint64 kPaintEveryMilliseconds = 100;
  QProgressBar& bar_;
  QWidget* cancel_;
  qint64 fileSize_;
  QElapsedTimer clock_;
  qint64 lastPaint_ = -kPaintEveryMilliseconds;
};

}  // namespace

MainWindow::MainWindow(LogDocument& document, Services services, QWidget* parent)
    : QMainWindow(parent), document_(document), services_(services), recent_(services.settings) {
  view_ = new LogView(document_, this);
  setCentralWidget(view_);
  CreateActions();
  CreateTimeline();
  CreateMenus();
  CreateToolBar();
  CreateStatusBar();
  setAcceptDrops(true);
  resize(1180, 720);
  RestoreLayout();

  connect(view_, &LogView::SelectionChanged, this, &MainWindow::UpdateCommands);
  connect(view_, &LogView::StatusMessage, this, &MainWindow::SetMessage);
  connect(view_, &LogView::OpenInEditorRequested, this, &MainWindow::OpenInEditor);
  view_->SetRowMenuExtender([this](QMenu& menu, const LogNode& node) { ExtendRowMenu(menu, node); });
  runDialog_ = [](QDialog& dialog) { return dialog.exec() == QDialog::Accepted; };

  changeWatch_ = new QTimer(this);
  changeWatch_->setInterval(kChangeWatchMilliseconds);
  connect(changeWatch_, &QTimer::timeout, this, &MainWindow::CheckFileChange);
  changeWatch_->start();

  followWatch_ = new QTimer(this);
  followWatch_->setInterval(kFollowMilliseconds);
  connect(followWatch_, &QTimer::timeout, this, &MainWindow::FollowFile);

  UpdateTitle();
  UpdateCommands();
}

void MainWindow::CreateActions() {
  for (int i = 0; i < static_cast<int>(Command::kCount); ++i) {
    const auto command = static_cast<Command>(i);
    const CommandInfo& info = InfoOf(command);
    auto* action = new QAction(QString::fromLatin1(info.text), this);
    action->setShortcuts(info.keys);
    action->setStatusTip(StatusTextOf(info));
    action->setToolTip(ToolTipOf(info));
    action->setIcon(ToolbarIcon(command));
    action->setIconVisibleInMenu(false);
    actions_[static_cast<std::size_t>(i)] = action;
    addAction(action);  // keys work even for commands that have no menu entry
  }
  Action(Command::kToolbar)->setCheckable(true);
  Action(Command::kStatusBar)->setCheckable(true);
  Action(Command::kFilter)->setCheckable(true);
  Action(Command::kVerify)->setCheckable(true);
  Action(Command::kFollow)->setCheckable(true);
  Action(Command::kExit)->setMenuRole(QAction::QuitRole);
  Action(Command::kAbout)->setMenuRole(QAction::AboutRole);

  connect(Action(Command::kOpen), &QAction::triggered, this, &MainWindow::OnOpen);
  connect(Action(Command::kSaveAs), &QAction::triggered, this, &MainWindow::OnSaveAs);
  connect(Action(Command::kRefresh), &QAction::triggered, this, &MainWindow::OnRefresh);
  connect(Action(Command::kSend), &QAction::triggered, this, &MainWindow::OnSend);
  connect(Action(Command::kExit), &QAction::triggered, this, &QWidget::close);
  connect(Action(Command::kCopy), &QAction::triggered, view_, &LogView::Copy);
  connect(Action(Command::kGoToLastEvent), &QAction::triggered, this, &MainWindow::OnGoToLastEvent);
  connect(Action(Command::kResolveIPs), &QAction::triggered, this, &MainWindow::OnResolveIPs);
  connect(Action(Command::kDeletePeer), &QAction::triggered, this, &MainWindow::OnDeletePeer);
  connect(Action(Command::kMakeVisible), &QAction::triggered, view_, &LogView::MakeNegotiationsVisible);
  connect(Action(Command::kOpenInEditor), &QAction::triggered, this, &MainWindow::OnLaunchEditor);
  connect(Action(Command::kNew), &QAction::triggered, this, &MainWindow::OnNew);
  connect(Action(Command::kAbout), &QAction::triggered, this, &MainWindow::OnAbout);
  connect(Action(Command::kFilter), &QAction::triggered, this, &MainWindow::OnFilter);
  connect(Action(Command::kVerify), &QAction::triggered, this, &MainWindow::OnVerify);
  connect(Action(Command::kFind), &QAction::triggered, this, &MainWindow::OnFind);
  connect(Action(Command::kUserGuide), &QAction::triggered, this, &MainWindow::OnUserGuide);
  connect(Action(Command::kInstallLoggingEnvironment), &QAction::triggered, this,
          &MainWindow::OnInstallLoggingEnvironment);
  connect(Action(Command::kFindNext), &QAction::triggered, this, &MainWindow::OnFindNext);
  connect(Action(Command::kFindPrevious), &QAction::triggered, this, &MainWindow::OnFindPrevious);
  connect(Action(Command::kFollow), &QAction::triggered, this, &MainWindow::OnFollow);
}

void MainWindow::CreateMenus() {
  fileMenu_ = menuBar()->addMenu(QStringLiteral("&File"));
  fileMenu_->addAction(Action(Command::kNew));
  fileMenu_->addAction(Action(Command::kOpen));
  fileMenu_->addAction(Action(Command::kSaveAs));
  AddHandOverActions();
  fileMenu_->addAction(Action(Command::kRefresh));
  fileMenu_->addSeparator();
  fileMenu_->addAction(Action(Command::kSend));
  recentSeparator_ = fileMenu_->addSeparator();
  recentPlaceholder_ = fileMenu_->addAction(QStringLiteral("Recent File"));
  recentPlaceholder_->setEnabled(false);
  fileMenu_->addSeparator();
  fileMenu_->addAction(Action(Command::kExit));
  RebuildRecentMenu();
  connect(fileMenu_, &QMenu::aboutToShow, this, &MainWindow::RebuildRecentMenu);

  // Every command has its place in a menu, with its key beside it.
  QMenu* edit = menuBar()->addMenu(QStringLiteral("&Edit"));
  edit->addAction(Action(Command::kCopy));
  edit->addSeparator();
  edit->addAction(Action(Command::kFind));
  edit->addAction(Action(Command::kFindNext));
  edit->addAction(Action(Command::kFindPrevious));
  edit->addSeparator();
  edit->addAction(Action(Command::kFilter));
  edit->addAction(Action(Command::kVerify));
  edit->addSeparator();
  edit->addAction(Action(Command::kGoToLastEvent));
  edit->addAction(Action(Command::kDeletePeer));

  QMenu* view = menuBar()->addMenu(QStringLiteral("&View"));
  view->addAction(Action(Command::kMakeVisible));
  view->addAction(Action(Command::kFollow));
  view->addSeparator();
  view->addAction(timelineDock_->toggleViewAction());
  view->addAction(Action(Command::kToolbar));
  view->addAction(Action(Command::kStatusBar));

  QMenu* tools = menuBar()->addMenu(QStringLiteral("&Tools"));
  tools->addAction(Action(Command::kResolveIPs));
  tools->addAction(Action(Command::kOpenInEditor));
  tools->addSeparator();
  tools->addAction(Action(Command::kInstallLoggingEnvironment));

  QMenu* help = menuBar()->addMenu(QStringLiteral("&Help"));
  help->addAction(Action(Command::kUserGuide));
  help->addSeparator();
  help->addAction(Action(Command::kAbout));
}

void MainWindow::CreateToolBar() {
  toolBar_ = addToolBar(QStringLiteral("Toolbar"));
  toolBar_->setObjectName(QStringLiteral("Toolbar"));
  toolBar_->setIconSize(QSize(16, 16));
  toolBar_->setMovable(false);
  toolBar_->addAction(Action(Command::kOpen));
  toolBar_->addAction(Action(Command::kSaveAs));
  toolBar_->addSeparator();
  toolBar_->addAction(Action(Command::kRefresh));
  toolBar_->addAction(Action(Command::kDeletePeer));
  toolBar_->addAction(Action(Command::kFilter));
  toolBar_->addAction(Action(Command::kVerify));
  toolBar_->addSeparator();
  toolBar_->addAction(Action(Command::kMakeVisible));
  toolBar_->addAction(Action(Command::kGoToLastEvent));
  toolBar_->addAction(Action(Command::kFollow));
  toolBar_->addAction(Action(Command::kResolveIPs));
  toolBar_->addAction(Action(Command::kOpenInEditor));

  QAction* toggle = Action(Command::kToolbar);
  toggle->setChecked(true);
  connect(toggle, &QAction::toggled, toolBar_, &QWidget::setVisible);
  connect(toolBar_, &QToolBar::visibilityChanged, toggle, &QAction::setChecked);
  // The user's own choice is remembered (the bar also hides with the window).
  connect(toggle, &QAction::triggered, this, [this](bool on) { services_.settings.SetValue(kToolbarVisibleKey, on); });
  const QVariant shown = services_.settings.Value(kToolbarVisibleKey);
  if (shown.isValid() && !shown.toBool()) {
    toolBar_->hide();
    toggle->setChecked(false);
  }
}

void MainWindow::CreateStatusBar() {
  message_ = new QLabel(QStringLiteral("Ready"));
  message_->setTextInteractionFlags(Qt::NoTextInteraction);
  message_->setMinimumWidth(1);
  statusBar()->addWidget(message_, 1);

  fileChanged_ = new QLabel(QStringLiteral("The file has changed on disk: Refresh (F5) reloads it."));
  fileChanged_->setStyleSheet(QStringLiteral("QLabel { color: #b00000; font-weight: bold; }"));
  fileChanged_->hide();
  statusBar()->addPermanentWidget(fileChanged_);

  cancelButton_ = new QPushButton(QStringLiteral("Cancel"));
  cancelButton_->setToolTip(QStringLiteral("Stop loading (Esc)"));
  cancelButton_->hide();
  connect(cancelButton_, &QPushButton::clicked, this, [this] { cancelLoad_ = true; });
  auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
  connect(escape, &QShortcut::activated, this, [this] {
    if (loading_) cancelLoad_ = true;
    else if (!view_->FindBarWidget()->isHidden()) view_->FindBarWidget()->Close();
  });
  statusBar()->addPermanentWidget(cancelButton_);

  progress_ = new QProgressBar;
  progress_->setMaximumWidth(220);
  progress_->setTextVisible(true);
  progress_->hide();
  statusBar()->addPermanentWidget(progress_);

  QAction* toggle = Action(Command::kStatusBar);
  toggle->setChecked(true);
  connect(toggle, &QAction::toggled, statusBar(), &QWidget::setVisible);
}

void MainWindow::CreateTimeline() {
  timeline_ = new TimelinePanel;
  timeline_->Attach(*view_);
  auto* dock = new ClosingDock(QStringLiteral("Timeline"), this);
  timelineDock_ = dock;
  timelineDock_->setObjectName(QStringLiteral("Timeline"));
  timelineDock_->setWidget(timeline_);
  timelineDock_->setAllowedAreas(Qt::AllDockWidgetAreas);
  addDockWidget(Qt::BottomDockWidgetArea, timelineDock_);
  resizeDocks({timelineDock_}, {220}, Qt::Vertical);
  QAction* toggle = timelineDock_->toggleViewAction();
  toggle->setStatusTip(QStringLiteral("Show or hide the timeline of the log's negotiations"));
  const QVariant shown = services_.settings.Value(kTimelineVisibleKey);
  if (shown.isValid() && !shown.toBool()) timelineDock_->hide();
  // Only the user's own choice is remembered: the dock also hides (and its action unchecks) when
  // the window closes, so its visibility alone says nothing.
  connect(toggle, &QAction::triggered, this, [this](bool on) {
    if (on) services_.settings.SetValue(kTimelineVisibleKey, true);
  });
  dock->SetOnClose([this] { services_.settings.SetValue(kTimelineVisibleKey, false); });
}

QString MainWindow::MessageText() const { return message_->text(); }

bool MainWindow::IsFileChangeShown() const { return !fileChanged_->isHidden(); }

void MainWindow::SetMessage(const QString& text) { message_->setText(text); }

void MainWindow::UpdateTitle() {
  // "[*]" is where the toolkit shows the modified mark; a file name's own "[*]" is doubled so
  // that it shows as written.
  QString name = document_.Title();
  name.replace(QLatin1String("[*]"), QLatin1String("[*][*]"));
  setWindowTitle(name + QStringLiteral("[*] - Quillon"));
  setWindowModified(document_.IsTreeChanged());
}

void MainWindow::UpdateCommands() {
  UpdateTitle();  // every command that changes the tree ends here
  const bool loaded = document_.IsLoaded() && !loading_;
  for (const Command command : {Command::kCopy, Command::kRefresh, Command::kGoToLastEvent, Command::kOpenInEditor,
                                Command::kMakeVisible, Command::kSend})
    Action(command)->setEnabled(loaded);
  // While the log is followed its tree keeps every node: nothing may be removed or renamed.
  const bool following = document_.IsFollowing();
  Action(Command::kFollow)->setEnabled(loaded);
  Action(Command::kFollow)->setChecked(following);
  // Offered again after a run: peers resolved before keep their names, the others are tried
  // again (a name server that was down may answer now).
  Action(Command::kResolveIPs)->setEnabled(loaded && !following);
  const LogNode* selected = view_->SelectedNode();
  Action(Command::kDeletePeer)->setEnabled(loaded && !following && selected != nullptr && !selected->IsLogRoot());
  // Both log formats are saved in their own format.
  Action(Command::kSaveAs)->setEnabled(loaded);
  for (const Command command : {Command::kFind, Command::kFindNext, Command::kFindPrevious})
    Action(command)->setEnabled(loaded);
  for (const Command command : {Command::kFilter, Command::kVerify}) Action(command)->setEnabled(loaded && !following);
  // The toolbar's buttons show whether the tree is filtered, verified.
  Action(Command::kFilter)->setChecked(view_->NarrowingState().FilterApplied());
  Action(Command::kVerify)->setChecked(view_->NarrowingState().VerifyApplied());
  Action(Command::kOpen)->setEnabled(!loading_);
  Action(Command::kNew)->setEnabled(!loading_);
}

bool MainWindow::OpenFile(const QString& path) {
  if (loading_ || path.isEmpty()) return false;
  loading_ = true;
  changeWatch_->stop();
  UpdateCommands();
  const QString previousMessage = MessageText();
  SetMessage(QStringLiteral("Loading %1...").arg(QDir::toNativeSeparators(path)));
  message_->repaint();
  // A reload gives the old tree back first, so that the process never holds two trees of the
  // same log. Opening another file keeps the current log until the new one is read.
  const bool reload = document_.IsLoaded() && path == document_.Path();
  if (reload) view_->ReleaseLog();
  std::optional<LogDocument::ReadResult> read = ReadOnWorker(path, true);
  bool cancelled = !read;
  // A cancelled reload has nothing to go back to: the file is read once more, to the end, and
  // shown as a reload shows it, so that the window keeps showing the log it showed.
  if (cancelled && reload) read = ReadOnWorker(path, false);
  loading_ = false;
  if (!read) {
    SetMessage(QStringLiteral("Loading cancelled"));
    changeWatch_->start();
    UpdateTitle();
    UpdateCommands();
    return false;
  }
  LogDocument::OpenOutcome outcome;
  view_->FinishDisposal();  // the old log may go now
  outcome = document_.Adopt(path, std::move(*read));
  if (outcome.loaded) {
    view_->ShowLog();
    // The previous log's tree and rows are gone: the memory goes back to the system.
    platform::GiveBackFreeMemory();
    recent_.Add(path);
    RebuildRecentMenu();
    UpdateTitle();
    // A file cut while it was read gave a tree that may lack its end: that matters more than
    // the time the load took.
    const QString shownPath = QDir::toNativeSeparators(path);
    SetMessage(!outcome.warning.isEmpty() ? outcome.warning
               : cancelled                ? QStringLiteral("Loading cancelled")
               : outcome.noPackets        ? QStringLiteral("No IKE packets found in ") + shownPath
               : outcome.truncated        ? QStringLiteral("The log ends inside a packet: ") + shownPath
                                          : outcome.loadTimeText);
    // An empty log says so where the tree would be.
    if (outcome.noPackets) view_->SetEmptyTreeMessage(QStringLiteral("No IKE packets found in ") + shownPath);
    fileChanged_->hide();
    followWatch_->stop();  // another load ends following
  } else {
    SetMessage(previousMessage);
  }
  changeWatch_->start();
  UpdateCommands();
  if (!outcome.loaded) services_.messages.Show(outcome.message, MessageSink::Kind::kWarning);
  // A log cut off inside a packet loads what it holds; the user is told once it is shown.
  if (outcome.loaded && outcome.truncated && !cancelled)
    services_.messages.Show(QStringLiteral("The log ends inside a packet: ") + QDir::toNativeSeparators(path),
                            MessageSink::Kind::kWarning);
  return outcome.loaded && !cancelled;
}

std::optional<LogDocument::ReadResult> MainWindow::ReadOnWorker(const QString& path, bool cancellable) {
  // The file is read on a worker thread; this thread goes on serving the window (the commands
  // are disabled while loading_) and shows the progress until the tree is there.
  cancelLoad_ = false;
  std::atomic<std::uint64_t> bytesRead{0};
  std::future<std::optional<LogDocument::ReadResult>> reading = std::async(
      std::launch::async, [this, path, cancellable, &bytesRead]() -> std::optional<LogDocument::ReadResult> {
        try {
          return document_.Read(path, [this, cancellable, &bytesRead](std::uint64_t bytes) {
            bytesRead = bytes;
            if (cancellable && cancelLoad_) throw LoadCancelled();
          });
        } catch (const LoadCancelled&) {
          return std::nullopt;
        }
      });
  LoadProgress progress(*progress_, cancellable ? cancelButton_ : nullptr, QFileInfo(path).size());
  WaitServingTheWindow(reading, [&] { progress(bytesRead); });
  return reading.get();
}

template <class Result>
void MainWindow::WaitServingTheWindow(std::future<Result>& work, const std::function<void()>& tick) {
  WaitCursor wait;
  QEventLoop loop;
  QTimer poll;
  poll.setInterval(kLoadPollMilliseconds);
  connect(&poll, &QTimer::timeout, &loop, [&] {
    tick();
    if (work.wait_for(std::chrono::seconds(0)) == std::future_status::ready) loop.quit();
  });
  if (work.wait_for(std::chrono::milliseconds(kLoadPollMilliseconds)) != std::future_status::ready) {
    poll.start();
    loop.exec();
  }
}

void MainWindow::OnFollow(bool on) {
  if (!on || !document_.IsLoaded() || loading_) {
    document_.StopFollowing();
    followWatch_->stop();
    UpdateCommands();
    return;
  }
  // The follower reads the file again whole (narrowing and deletes undone). That is a load: it
  // runs on a worker thread while the window goes on, the commands disabled as for a load.
  // The read cannot be stopped half-way (the tree it replaces is gone by then).
  loading_ = true;
  changeWatch_->stop();
  UpdateCommands();
  SetMessage(QStringLiteral("Loading %1...").arg(QDir::toNativeSeparators(document_.Path())));
  view_->FinishDisposal();
  document_.StartFollowing();
  LogFollower::Change change = LogFollower::Change::kNone;
  view_->ShowFollowedAfterReading([&] {
    std::future<void> reading = std::async(std::launch::async, [&] { change = document_.PollFollow(); });
    LoadProgress progress(*progress_, nullptr, -1);
    WaitServingTheWindow(reading, [&] { progress(0); });
    reading.get();
  });
  loading_ = false;
  changeWatch_->start();
  if (change == LogFollower::Change::kCannotRead) SetMessage(QStringLiteral("Failed to open file: ") + document_.Path());
  else SetMessage(QStringLiteral("Following ") + QDir::toNativeSeparators(document_.Path()));
  followWatch_->start();
  fileChanged_->hide();
  UpdateCommands();
}

void MainWindow::FollowFile() {
  if (loading_ || !document_.IsFollowing() || !document_.FollowMayChange()) return;
  LogFollower::Change change = LogFollower::Change::kNone;
  view_->FinishDisposal();  // a follow step may read the whole log again
  view_->ShowFollowed([&] {
    change = document_.PollFollow();
    return change == LogFollower::Change::kExtended ? document_.FollowChanged() : std::vector<LogNode*>();
  });
  if (change == LogFollower::Change::kNone) return;
  if (change == LogFollower::Change::kCannotRead) SetMessage(QStringLiteral("Failed to open file: ") + document_.Path());
  else SetMessage(QStringLiteral("Following ") + QDir::toNativeSeparators(document_.Path()));
  UpdateCommands();
}

void MainWindow::CheckFileChange() {
  if (loading_) return;
  if (document_.IsFollowing()) {
    // The tree follows the file.
    fileChanged_->hide();
    return;
  }
  if (document_.FileChangedOnDisk()) {
    fileChanged_->show();
    QApplication::alert(this);
  } else {
    fileChanged_->hide();
  }
}

void MainWindow::RebuildRecentMenu() {
  recent_.Reload();  // another window may have opened files meanwhile
  for (QAction* action : recentActions_) {
    fileMenu_->removeAction(action);
    action->deleteLater();
  }
  recentActions_.clear();
  const QStringList& entries = recent_.Entries();
  recentPlaceholder_->setVisible(entries.isEmpty());
  int number = 1;
  for (const QString& path : entries) {
    const QString shown = QDir::toNativeSeparators(path).replace(QLatin1Char('&'), QStringLiteral("&&"));
    auto* action = new QAction(QStringLiteral("&%1 %2").arg(number++).arg(shown), this);
    action->setStatusTip(QStringLiteral("Open this file"));
    connect(action, &QAction::triggered, this, [this, path] { OnRecentFile(path); });
    fileMenu_->insertAction(recentPlaceholder_, action);
    recentActions_.append(action);
  }
  recentSeparator_->setVisible(true);
}

void MainWindow::OnRecentFile(const QString& path) {
  // An entry whose file is gone leaves the list; one that only failed to load stays.
  if (!OpenFile(path) && !QFileInfo::exists(path)) {
    recent_.Remove(path);
    RebuildRecentMenu();
  }
}

void MainWindow::OnOpen() {
  FileDialogs::OpenRequest request;
  request.startPath = document_.LastAccessedFile().value_or(QString());
  if (request.startPath.isEmpty()) {
    if (const std::optional<QString> productDir = services_.loggingEnvironment.ReadGxDir())
      request.startPath = QDir::toNativeSeparators(QDir(*productDir).filePath(QStringLiteral("log/IKE.ilx")));
  }
  // An absolute start: a name relative to the folder the program was started from would point
  // elsewhere once the dialog has a folder of its own; with nothing to start from, the home
  // folder.
  request.startPath = request.startPath.isEmpty() ? QDir::homePath()
                                                   : QDir::current().absoluteFilePath(request.startPath);
  // Every kind of log first; a debug log opened last makes "ilx" the suffix of a typed name.
  request.filters = {kAllLogsFilter, kDebugLogFilter, kXmlLogFilter, kAllFilesFilter};
  const bool debugLog =
      request.startPath.contains(QLatin1String(".ilx")) || request.startPath.contains(QLatin1String(".ikev1trace"));
  request.defaultSuffix = debugLog ? QStringLiteral("ilx") : QStringLiteral("xml");
  const QString path = services_.dialogs.ChooseFileToOpen(this, request);
  if (!path.isEmpty()) OpenFile(path);
}

// "Export packets..." and "Save report..." (app/HandOverActions.h), offered while a log is loaded.
void MainWindow::AddHandOverActions() {
  QAction* exportPackets = fileMenu_->addAction(QStringLiteral("Export packets..."));
  QAction* saveReport = fileMenu_->addAction(QStringLiteral("Save report..."));
  connect(exportPackets, &QAction::triggered, this, [this] {
    if (!document_.IsLoaded() || loading_) return;
    QString done;
    {
      WaitCursor wait;
      done = ExportPacketsCommand(this, services_, document_, view_->SelectedNode());
    }
    if (!done.isEmpty()) SetMessage(done);
  });
  connect(saveReport, &QAction::triggered, this, [this] {
    if (!document_.IsLoaded() || loading_) return;
    QString done;
    {
      WaitCursor wait;
      done = SaveReportCommand(this, services_, document_);
    }
    if (!done.isEmpty()) SetMessage(done);
  });
  connect(fileMenu_, &QMenu::aboutToShow, this, [this, exportPackets, saveReport] {
    exportPackets->setEnabled(document_.IsLoaded() && !loading_);
    saveReport->setEnabled(document_.IsLoaded() && !loading_);
  });
}

void MainWindow::OnSaveAs() {
  if (!document_.IsLoaded() || loading_) return;
  // The reader of a log is chosen by its name, so the proposed name and extension keep the
  // log's format.
  FileDialogs::SaveRequest request;
  const QString extension = document_.Log()->IsIKEv2() ? QStringLiteral("xml") : QStringLiteral("ilx");
  request.fileName = document_.Path().isEmpty() ? QStringLiteral("quillon.") + extension
                                                : SaveNameFor(document_.Path(), extension);
  request.filters = {document_.Log()->IsIKEv2() ? kXmlLogFilter : kSavedLogFilter};
  request.defaultSuffix = extension;
  const QString path = services_.dialogs.ChooseFileToSave(this, request);
  if (path.isEmpty()) return;
  // The open log is refused before anything is asked (by any spelling or link that names it).
  if (document_.IsOpenLog(path)) {
    services_.messages.Show(QDir::toNativeSeparators(path) + QStringLiteral(" is currently open.\nPlease select a "
                                                                          "new file name."),
                            MessageSink::Kind::kWarning);
    return;
  }
  if (QFileInfo::exists(path) &&
      !services_.messages.Ask(QDir::toNativeSeparators(path) + QStringLiteral(" already exists.\nDo you want to "
                                                                            "replace it?")))
    return;
  LogDocument::SaveOutcome outcome;
  {
    WaitCursor wait;
    outcome = document_.SaveAs(path);
  }
  if (!outcome.saved) {
    services_.messages.Show(outcome.message, MessageSink::Kind::kWarning);
    return;
  }
  SetMessage(QStringLiteral("Log saved to %1").arg(QDir::toNativeSeparators(outcome.path)));
  // What the tree shows is now in a file: the window no longer holds unsaved changes.
  document_.MarkTreeSaved();
  UpdateTitle();
}

void MainWindow::OnRefresh() {
  if (!document_.IsLoaded()) return;
  OpenFile(document_.Path());
}

void MainWindow::OnSend() {
  if (!document_.IsLoaded()) return;
  const QString mailer = services_.launcher.FindProgram(QStringLiteral("xdg-email"));
  const QStringList arguments{QStringLiteral("--subject"), document_.Title(), QStringLiteral("--attach"),
                              document_.Path()};
  if (mailer.isEmpty() || !services_.launcher.StartDetached(mailer, arguments)) {
    services_.messages.Show(QStringLiteral("No mail program is set up on this computer, so the log cannot be sent "
                                           "from here.\n\nAttach the file to a message yourself:\n") +
                                QDir::toNativeSeparators(document_.Path()),
                            MessageSink::Kind::kInformation);
  }
}

void MainWindow::OnGoToLastEvent() {
  if (document_.IsLoaded()) view_->GoToLastEvent();
}

void MainWindow::OnResolveIPs() {
  if (!document_.IsLoaded()) return;
  LogView::ResolveCount count;
  {
    WaitCursor wait;
    count = view_->ResolvePeerNames(services_.resolver, [this](const QString& text) {
      SetMessage(text);
      message_->repaint();  // the look-ups block: show the text before each one starts
    });
  }
  document_.ClearResolvePending();
  SetMessage(QStringLiteral("Resolved %1 of %2 peers").arg(count.resolved).arg(count.peers));
  UpdateCommands();
}

void MainWindow::OnDeletePeer() {
  if (document_.IsLoaded() && view_->DeleteSelectedPeer(services_.messages)) document_.MarkTreeChanged();
  UpdateCommands();
}

void MainWindow::OnLaunchEditor() {
  // At the selected packet's or negotiation's first line, if it has one.
  if (document_.IsLoaded()) OpenInEditor(view_->FirstLogLineOfSelection());
}

void MainWindow::OpenInEditor(std::uint64_t line) {
  if (!document_.IsLoaded() || document_.Path().isEmpty()) return;
  const EditorOutcome outcome = OpenInTextEditor(services_.launcher, document_.Path(), line);
  if (!outcome.started) services_.messages.Show(outcome.message, MessageSink::Kind::kWarning);
}

QString MainWindow::UserGuidePath() {
  // Installed beside the program's data (PREFIX/share/quillon), or read from the sources when
  // the program runs from its build tree.
  const QString installed = QDir(QCoreApplication::applicationDirPath()).filePath(
      QStringLiteral("../share/quillon/user-guide.html"));
  if (QFileInfo::exists(installed)) return QDir::cleanPath(installed);
#ifdef QUILLON_SOURCE_GUIDE
  if (QFileInfo::exists(QStringLiteral(QUILLON_SOURCE_GUIDE))) return QStringLiteral(QUILLON_SOURCE_GUIDE);
#endif
  return {};
}

void MainWindow::OnUserGuide() {
  const QString path = UserGuidePath();
  if (path.isEmpty()) {
    services_.messages.Show(QStringLiteral("The user guide is not installed."), MessageSink::Kind::kWarning);
    return;
  }
  if (guide_ == nullptr) {
    // A window of its own beside the main window, so that the guide stays open while the user
    // tries what it says.
    guide_ = new QWidget(this, Qt::Window);
    guide_->setWindowTitle(QStringLiteral("Quillon User Guide"));
    auto* browser = new QTextBrowser(guide_);
    browser->setOpenExternalLinks(true);
    browser->setSource(QUrl::fromLocalFile(path));
    auto* layout = new QVBoxLayout(guide_);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(browser);
    guide_->resize(760, 640);
  }
  guide_->show();
  guide_->raise();
  guide_->activateWindow();
}

void MainWindow::OnInstallLoggingEnvironment() {
  const QString question =
      QStringLiteral("Switch the gateway daemon's debug logging on for this machine?\n\nThis creates the daemon's "
                     "log directory and sets GXIKE_DEBUG and GXISAKMP_DEBUG to 1 machine-wide (in %1). It needs "
                     "administrator rights.")
          .arg(QDir::toNativeSeparators(services_.loggingEnvironment.EnvironmentFile()));
  if (!services_.messages.Ask(question)) return;
  services_.loggingEnvironment.Install(services_.messages);
}

void MainWindow::ExtendRowMenu(QMenu& menu, const LogNode& node) {
  menu.addSeparator();
  QAction* filter = menu.addAction(QStringLiteral("&Filter to this peer"), this, [this, &node] { FilterToPeer(node); });
  const LogNode* peer = &node;
  while (peer->Parent() != nullptr && peer->Parent() != document_.Log()) peer = peer->Parent();
  filter->setEnabled(!document_.IsFollowing() && peer->Parent() == document_.Log() && PeerAddressOf(*peer) != 0);
  // The hand-over commands of the File menu, where this build has them ("Export packets...",
  // "Save report..."): they work on the selected row's negotiations.
  for (QAction* action : fileMenu_->actions()) {
    const QString text = action->text().remove(QLatin1Char('&'));
    if (text == QLatin1String("Export packets...") || text == QLatin1String("Save report...")) menu.addAction(action);
  }
}

void MainWindow::FilterToPeer(const LogNode& node) {
  const LogFile* root = document_.Log();
  const LogNode* peer = &node;
  while (peer->Parent() != nullptr && peer->Parent() != root) peer = peer->Parent();
  if (root == nullptr || peer->Parent() != root || PeerAddressOf(*peer) == 0) return;
  // The peer's address, as the Filters dialog's "IP" takes it; the other criteria stay.
  FilterCriteria criteria = view_->NarrowingState().Filter();
  criteria.ipOn = true;
  criteria.ipText = FormatIPv4(PeerAddressOf(*peer));
  RunNarrowing(view_->NarrowingState().ChooseFilter(criteria));
  UpdateCommands();
}

void MainWindow::OnNew() {
  if (loading_) return;
  view_->FinishDisposal();
  document_.New();
  view_->ShowLog();
  fileChanged_->hide();
  UpdateTitle();
  SetMessage(QStringLiteral("Ready"));
  UpdateCommands();
}

void MainWindow::OnAbout() {
  AboutDialog about(this);
  about.exec();
}

void MainWindow::OnFilter() {
  if (!document_.IsLoaded() || loading_) return;
  FiltersDialog dialog(view_->NarrowingState().Filter(), this);
  if (runDialog_(dialog)) RunNarrowing(view_->NarrowingState().ChooseFilter(dialog.Criteria()));
  UpdateCommands();
}

void MainWindow::OnVerify() {
  if (!document_.IsLoaded() || loading_) return;
  VerifyDialog dialog(view_->NarrowingState().Verify(), this);
  if (runDialog_(dialog)) RunNarrowing(view_->NarrowingState().ChooseVerify(dialog.Criteria()));
  UpdateCommands();
}

void MainWindow::RunNarrowing(const NarrowingSteps& steps) {
  // Reading the log again undoes every narrowing (and shows its own failure, keeping the tree);
  // what the user had expanded and selected is found again in the new tree.
  if (steps.reload) {
    bool reloaded = false;
    view_->KeepPlaceAcross([&] { reloaded = OpenFile(document_.Path()); });
    if (!reloaded) return;
  }
  if (!steps.applyFilter && !steps.applyVerify) return;
  WaitCursor wait;
  view_->Narrow(steps);
  document_.MarkTreeChanged();  // the tree now shows less than the file holds
}

void MainWindow::OnFind() {
  if (!document_.IsLoaded() || loading_) return;
  view_->OpenFindBar();
}

void MainWindow::OnFindNext() {
  if (!document_.IsLoaded() || loading_) return;
  // Before anything was looked for there is nothing to repeat: the bar asks for a text.
  if (view_->Search().searchText.empty()) {
    view_->OpenFindBar();
    return;
  }
  if (view_->FindBarWidget()->isHidden()) view_->FindBarWidget()->show();
  WaitCursor wait;
  view_->FindNext();
}

void MainWindow::OnFindPrevious() {
  if (!document_.IsLoaded() || loading_) return;
  if (view_->Search().currentItem == nullptr && view_->Search().searchText.empty()) {
    view_->OpenFindBar();
    view_->FindBarWidget()->SetStatus(QStringLiteral("Cannot find previous item.  This command can only be "
                                                     "executed after a find operation has been."));
    return;
  }
  if (view_->FindBarWidget()->isHidden()) view_->FindBarWidget()->show();
  WaitCursor wait;
  view_->FindPrevious();
}

void MainWindow::RestoreLayout() {
  const QVariant geometry = services_.settings.Value(kGeometryKey);
  if (geometry.typeId() != QMetaType::QByteArray || !restoreGeometry(geometry.toByteArray())) {
    // First start: the default size, within nine tenths of a smaller screen.
    if (const QScreen* shown = screen()) {
      const QSize room = shown->availableGeometry().size() * 9 / 10;
      resize(size().boundedTo(room));
    }
  }
  bool isNumber = false;
  const int width = services_.settings.Value(kTreeWidthKey).toInt(&isNumber);
  if (isNumber && width >= kMinTreeWidth && width <= kMaxTreeWidth) view_->SetChosenTreeWidth(width);
}

void MainWindow::SaveLayout() {
  services_.settings.SetValue(kGeometryKey, saveGeometry());
  if (view_->IsTreeWidthChosen()) services_.settings.SetValue(kTreeWidthKey, view_->TreeWidth());
}

void MainWindow::closeEvent(QCloseEvent* event) {
  if (loading_) cancelLoad_ = true;
  SaveLayout();
  QMainWindow::closeEvent(event);
}

void MainWindow::dragEnterEvent(QDragEnterEvent* event) {
  const QMimeData* data = event->mimeData();
  if (data->hasUrls() && !data->urls().isEmpty() && data->urls().first().isLocalFile())
    event->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent* event) {
  const QList<QUrl> urls = event->mimeData()->urls();
  if (urls.isEmpty() || !urls.first().isLocalFile()) return;
  event->acceptProposedAction();
  const QString path = urls.first().toLocalFile();
  // Opened once the drop has finished, so the source application is not kept waiting.
  QTimer::singleShot(0, this, [this, path] { OpenFile(path); });
}

}  // namespace quillon
