// The main window's commands as the user reaches them: the actions with their keys, the menus,
// the toolbar, the status bar, the timeline's dock, the recent-file list, the tree row's menu
// entries of the window, and the user guide.
#include <QAction>
#include <QCloseEvent>
#include <QDir>
#include <QDockWidget>
#include <QFileInfo>
#include <QLabel>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QShortcut>
#include <QStatusBar>
#include <QTextBrowser>
#include <QToolBar>
#include <QUrl>
#include <QVBoxLayout>

#include "app/FindBar.h"
#include "app/HandOverActions.h"
#include "app/LogView.h"
#include "app/MainWindow.h"
#include "app/TimelinePanel.h"
#include "app/ToolbarIcons.h"
#include "app/WindowSupport.h"
#include "model/IPv4.h"
#include "model/NodeRoles.h"

namespace quillon {

namespace {

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

}  // namespace

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
  connect(toggle, &QAction::triggered, this, [this](bool on) { services_.settings.SetValue(window::kToolbarVisibleKey, on); });
  const QVariant shown = services_.settings.Value(window::kToolbarVisibleKey);
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
  connect(cancelButton_, &QPushButton::clicked, this, &MainWindow::CancelLoad);
  auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
  connect(escape, &QShortcut::activated, this, [this] {
    if (loading_) CancelLoad();
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
  const QVariant shown = services_.settings.Value(window::kTimelineVisibleKey);
  if (shown.isValid() && !shown.toBool()) timelineDock_->hide();
  // Only the user's own choice is remembered: the dock also hides (and its action unchecks) when
  // the window closes, so its visibility alone says nothing.
  connect(toggle, &QAction::triggered, this, [this](bool on) {
    if (on) services_.settings.SetValue(window::kTimelineVisibleKey, true);
  });
  dock->SetOnClose([this] { services_.settings.SetValue(window::kTimelineVisibleKey, false); });
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

// "Export packets..." and "Save report..." (app/HandOverActions.h), offered while a log is loaded.
void MainWindow::AddHandOverActions() {
  QAction* exportPackets = fileMenu_->addAction(QStringLiteral("Export packets..."));
  QAction* saveReport = fileMenu_->addAction(QStringLiteral("Save report..."));
  connect(exportPackets, &QAction::triggered, this, [this] {
    if (!document_.IsLoaded() || loading_) return;
    QString done;
    {
      window::WaitCursor wait;
      done = ExportPacketsCommand(this, services_, document_, view_->SelectedNode());
    }
    if (!done.isEmpty()) SetMessage(done);
  });
  connect(saveReport, &QAction::triggered, this, [this] {
    if (!document_.IsLoaded() || loading_) return;
    QString done;
    {
      window::WaitCursor wait;
      done = SaveReportCommand(this, services_, document_);
    }
    if (!done.isEmpty()) SetMessage(done);
  });
  connect(fileMenu_, &QMenu::aboutToShow, this, [this, exportPackets, saveReport] {
    exportPackets->setEnabled(document_.IsLoaded() && !loading_);
    saveReport->setEnabled(document_.IsLoaded() && !loading_);
  });
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

}  // namespace quillon
