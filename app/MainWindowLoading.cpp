// The main window's loading: a file read on a worker thread by the load controller while the
// window goes on, then adopted and shown; Follow's first read and its steps; the watch that
// tells when the open file changed on disk; Filter and Verify when they read the log again.
#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QTimer>

#include "app/LoadController.h"
#include "app/LogView.h"
#include "app/MainWindow.h"
#include "app/WindowSupport.h"
#include "platform/ChunkSource.h"

namespace quillon {

bool MainWindow::OpenFile(const QString& path) {
  if (loading_ || path.isEmpty()) return false;
  loading_ = true;
  changeWatch_->stop();
  UpdateCommands();
  previousMessage_ = MessageText();
  SetMessage(QStringLiteral("Loading %1...").arg(QDir::toNativeSeparators(path)));
  // A reload gives the old tree back first, so that the process never holds two trees of the
  // same log. Opening another file keeps the current log until the new one is read.
  reloading_ = document_.IsLoaded() && path == document_.Path();
  readAgain_ = false;
  if (reloading_) view_->ReleaseLog();
  StartRead(path, true);
  return true;
}

void MainWindow::StartRead(const QString& path, bool cancellable) {
  loader_->StartLoad(path, cancellable);
  loadProgress_->Begin(QFileInfo(path).size(), cancellable);
}

void MainWindow::OnFileRead() {
  const QString path = loader_->Path();
  std::optional<LogDocument::ReadResult> read = loader_->TakeRead();
  // A cancelled reload has nothing to go back to: the file is read once more, to the end, and
  // shown as a reload shows it, so that the window keeps showing the log it showed.
  if (!read && reloading_ && !readAgain_) {
    readAgain_ = true;
    StartRead(path, false);
    return;
  }
  loadProgress_->End();
  const bool cancelled = !read || readAgain_;
  loading_ = false;
  LogDocument::OpenOutcome outcome;
  if (read) {
    view_->FinishDisposal();  // the old log may go now
    outcome = document_.Adopt(path, std::move(*read));
  }
  if (outcome.loaded) {
    view_->ShowLog();
    // The previous log's tree and rows are gone: the memory goes back to the system.
    platform::GiveBackFreeMemory();
    recent_.Add(path);
    RebuildRecentMenu();
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
    SetMessage(read ? previousMessage_ : QStringLiteral("Loading cancelled"));
  }
  changeWatch_->start();
  const bool loaded = outcome.loaded && !cancelled;
  // Filter or Verify that read the log again narrow the new tree, with the user's place found
  // again in it.
  if (pendingNarrowing_) {
    const NarrowingSteps steps = *pendingNarrowing_;
    pendingNarrowing_.reset();
    if (loaded) {
      view_->ReturnToNotedPlace();
      ApplyNarrowing(steps);
    } else {
      view_->ForgetNotedPlace();
    }
  }
  UpdateCommands();
  if (read && !outcome.loaded) services_.messages.Show(outcome.message, MessageSink::Kind::kWarning);
  // A log cut off inside a packet loads what it holds; the user is told once it is shown.
  if (outcome.loaded && outcome.truncated && !cancelled)
    services_.messages.Show(QStringLiteral("The log ends inside a packet: ") + QDir::toNativeSeparators(path),
                            MessageSink::Kind::kWarning);
  emit LoadFinished(loaded);
}

void MainWindow::CancelLoad() {
  if (loading_) loader_->Cancel();
}

void MainWindow::OnFollow(bool on) {
  if (!on || !document_.IsLoaded() || loading_) {
    if (!loading_) document_.StopFollowing();
    followWatch_->stop();
    UpdateCommands();
    return;
  }
  // The follower reads the file again whole (narrowing and deletes undone). That is a load: it
  // runs on the worker while the window goes on, the commands disabled as for a load.
  loading_ = true;
  changeWatch_->stop();
  UpdateCommands();
  SetMessage(QStringLiteral("Loading %1...").arg(QDir::toNativeSeparators(document_.Path())));
  view_->FinishDisposal();
  document_.StartFollowing();
  view_->BeginFollowRead();
  loader_->StartFollowRead();
  loadProgress_->Begin(-1, false);
}

void MainWindow::OnFollowRead() {
  const LogFollower::Change change = loader_->FollowChange();
  loadProgress_->End();
  loading_ = false;
  view_->EndFollowRead();
  changeWatch_->start();
  if (change == LogFollower::Change::kCannotRead) SetMessage(QStringLiteral("Failed to open file: ") + document_.Path());
  else SetMessage(QStringLiteral("Following ") + QDir::toNativeSeparators(document_.Path()));
  followWatch_->start();
  fileChanged_->hide();
  UpdateCommands();
  emit LoadFinished(change != LogFollower::Change::kCannotRead);
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

void MainWindow::RunNarrowing(const NarrowingSteps& steps) {
  // Reading the log again undoes every narrowing (and shows its own failure, keeping the tree);
  // what the user had expanded and selected is found again in the new tree, which is then
  // narrowed once the load is done.
  if (steps.reload) {
    view_->NotePlaceForReload();
    pendingNarrowing_ = steps;
    if (!OpenFile(document_.Path())) {
      pendingNarrowing_.reset();
      view_->ForgetNotedPlace();
    }
    return;
  }
  ApplyNarrowing(steps);
}

void MainWindow::ApplyNarrowing(const NarrowingSteps& steps) {
  if (!steps.applyFilter && !steps.applyVerify) return;
  window::WaitCursor wait;
  view_->Narrow(steps);
  document_.MarkTreeChanged();  // the tree now shows less than the file holds
}

}  // namespace quillon
