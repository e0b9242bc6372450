#include "app/MainWindow.h"

#include <cstring>

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QLabel>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTimer>

#include "app/AboutDialog.h"
#include "app/FindBar.h"
#include "app/LoadController.h"
#include "app/LogDocument.h"
#include "app/LogView.h"
#include "app/LoggingEnvironment.h"
#include "app/NarrowingDialogs.h"
#include "app/TextEditor.h"
#include "app/WindowSupport.h"
#include "model/LogFile.h"

namespace quillon {

namespace {

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

// The window's layout in the settings: its geometry as the toolkit saves it, and the tree
// pane's width once the user has chosen one.
const QString kGeometryKey = QStringLiteral("Layout/Geometry");
const QString kTreeWidthKey = QStringLiteral("Layout/TreeWidth");
// A stored width outside this range is not a width a screen shows (a damaged settings file).
constexpr int kMinTreeWidth = 50;
constexpr int kMaxTreeWidth = 20000;

}  // namespace

MainWindow::MainWindow(LogDocument& document, Services services, QWidget* parent)
    : QMainWindow(parent), document_(document), services_(services), recent_(services.settings) {
  view_ = new LogView(document_, this);
  setCentralWidget(view_);
  loader_ = new LoadController(document_, this);
  CreateActions();
  CreateTimeline();
  CreateMenus();
  CreateToolBar();
  CreateStatusBar();
  setAcceptDrops(true);
  resize(1180, 720);
  RestoreLayout();

  loadProgress_ = new LoadProgressDisplay(*progress_, *cancelButton_, kProgressDelayMilliseconds, this);
  connect(loader_, &LoadController::Progress, loadProgress_, [this](qint64 bytes) { loadProgress_->Update(bytes); });
  connect(loader_, &LoadController::FileRead, this, &MainWindow::OnFileRead);
  connect(loader_, &LoadController::FollowRead, this, &MainWindow::OnFollowRead);
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

void MainWindow::OnRecentFile(const QString& path) {
  // An entry whose file is gone leaves the list (the load still says why it failed); one that
  // only failed to load stays.
  if (!QFileInfo::exists(path)) {
    recent_.Remove(path);
    RebuildRecentMenu();
  }
  OpenFile(path);
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
  request.filters = {window::kAllLogsFilter, window::kDebugLogFilter, window::kXmlLogFilter, window::kAllFilesFilter};
  const bool debugLog =
      request.startPath.contains(QLatin1String(".ilx")) || request.startPath.contains(QLatin1String(".ikev1trace"));
  request.defaultSuffix = debugLog ? QStringLiteral("ilx") : QStringLiteral("xml");
  const QString path = services_.dialogs.ChooseFileToOpen(this, request);
  if (!path.isEmpty()) OpenFile(path);
}

void MainWindow::OnSaveAs() {
  if (!document_.IsLoaded() || loading_) return;
  // The reader of a log is chosen by its name, so the proposed name and extension keep the
  // log's format.
  FileDialogs::SaveRequest request;
  const QString extension = document_.Log()->IsIKEv2() ? QStringLiteral("xml") : QStringLiteral("ilx");
  request.fileName = document_.Path().isEmpty() ? QStringLiteral("quillon.") + extension
                                                : SaveNameFor(document_.Path(), extension);
  request.filters = {document_.Log()->IsIKEv2() ? window::kXmlLogFilter : window::kSavedLogFilter};
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
    window::WaitCursor wait;
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
  if (!outcome.notice.isEmpty()) services_.messages.Show(outcome.notice, MessageSink::Kind::kWarning);
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
    window::WaitCursor wait;
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

void MainWindow::OnInstallLoggingEnvironment() {
  const QString question =
      QStringLiteral("Switch the gateway daemon's debug logging on for this machine?\n\nThis creates the daemon's "
                     "log directory and sets GXIKE_DEBUG and GXISAKMP_DEBUG to 1 machine-wide (in %1). It needs "
                     "administrator rights.")
          .arg(QDir::toNativeSeparators(services_.loggingEnvironment.EnvironmentFile()));
  if (!services_.messages.Ask(question)) return;
  services_.loggingEnvironment.Install(services_.messages);
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
  window::WaitCursor wait;
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
  window::WaitCursor wait;
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
  CancelLoad();
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
