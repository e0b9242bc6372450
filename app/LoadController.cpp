#include "app/LoadController.h"

#include <algorithm>
#include <exception>
#include <utility>

#include <QApplication>
#include <QFileInfo>
#include <QProgressBar>
#include <QThread>
#include <QTimer>

#include "model/ReadProgress.h"

namespace quillon {

LoadController::LoadController(LogDocument& document, QObject* parent) : QObject(parent), document_(document) {}

LoadController::~LoadController() {
  if (!worker_) return;
  cancel_ = true;
  worker_->wait();
}

bool LoadController::StartLoad(const QString& path, bool cancellable) {
  if (IsRunning()) return false;
  path_ = path;
  total_ = QFileInfo(path).size();
  cancellable_ = cancellable;
  read_.reset();
  return Start(Kind::kLoad, [this, path, cancellable] {
    try {
      read_ = document_.Read(path, [this, cancellable](std::uint64_t bytes) {
        Report(bytes);
        if (cancellable && cancel_) throw LoadCancelled();
      });
    } catch (const LoadCancelled&) {
      read_.reset();
    } catch (const std::exception& error) {
      // Whatever else stops the reader (memory running out) is this file's failure, told as a
      // file that could not be opened; the window and the shown log go on.
      LogDocument::ReadResult failed;
      failed.log.status = OpenLogResult::Status::kCannotOpen;
      failed.log.reason = error.what();
      read_ = std::move(failed);
    }
  });
}

bool LoadController::StartFollowRead() {
  if (IsRunning()) return false;
  path_ = document_.Path();
  total_ = -1;
  cancellable_ = false;
  followChange_ = LogFollower::Change::kNone;
  return Start(Kind::kFollow, [this] {
    try {
      followChange_ = document_.PollFollow();
    } catch (const std::exception&) {
      followChange_ = LogFollower::Change::kCannotRead;
    }
  });
}

bool LoadController::Start(Kind kind, std::function<void()> work) {
  kind_ = kind;
  cancel_ = false;
  bytesRead_ = 0;
  worker_.reset(QThread::create(std::move(work)));
  // Sent from the worker as it ends; received here, on the window's thread.
  connect(worker_.get(), &QThread::finished, this, &LoadController::OnWorkerFinished, Qt::QueuedConnection);
  worker_->start();
  return true;
}

void LoadController::Cancel() {
  if (IsRunning() && cancellable_) cancel_ = true;
}

void LoadController::Report(std::uint64_t bytes) {
  bytesRead_ = bytes;
  // One report waiting in the window's queue at a time: a reader that reports every chunk does
  // not flood the event loop.
  if (reportPending_.exchange(true)) return;
  QMetaObject::invokeMethod(
      this,
      [this] {
        reportPending_ = false;
        if (IsRunning()) emit Progress(static_cast<qint64>(bytesRead_.load()), total_);
      },
      Qt::QueuedConnection);
}

void LoadController::OnWorkerFinished() {
  if (!worker_) return;
  worker_->wait();  // `finished` is sent just before the thread ends
  worker_.reset();
  if (kind_ == Kind::kLoad) emit FileRead();
  else emit FollowRead();
}

std::optional<LogDocument::ReadResult> LoadController::TakeRead() {
  std::optional<LogDocument::ReadResult> read = std::move(read_);
  read_.reset();
  return read;
}

namespace {
constexpr int kSteps = 1000;
}  // namespace

LoadProgressDisplay::LoadProgressDisplay(QProgressBar& bar, QWidget& cancel, int delayMilliseconds, QObject* parent)
    : QObject(parent), bar_(bar), cancel_(cancel), delay_(new QTimer(this)) {
  delay_->setSingleShot(true);
  delay_->setInterval(delayMilliseconds);
  connect(delay_, &QTimer::timeout, this, &LoadProgressDisplay::ShowBar);
}

LoadProgressDisplay::~LoadProgressDisplay() {
  if (active_) QApplication::restoreOverrideCursor();
}

void LoadProgressDisplay::Begin(qint64 total, bool cancellable) {
  if (!active_) QApplication::setOverrideCursor(Qt::WaitCursor);
  active_ = true;
  total_ = total;
  bytes_ = 0;
  cancellable_ = cancellable;
  bar_.hide();
  cancel_.hide();
  delay_->start();
}

void LoadProgressDisplay::ShowBar() {
  if (!active_) return;
  bar_.setRange(0, total_ < 0 ? 0 : kSteps);
  bar_.show();
  cancel_.setVisible(cancellable_);
  Update(bytes_);
}

void LoadProgressDisplay::Update(qint64 bytes) {
  bytes_ = bytes;
  if (!bar_.isVisible() || total_ < 0) return;
  const double done = total_ > 0 ? static_cast<double>(bytes) / static_cast<double>(total_) : 0.0;
  bar_.setValue(static_cast<int>(std::min(1.0, done) * kSteps));
}

void LoadProgressDisplay::End() {
  delay_->stop();
  bar_.hide();
  cancel_.hide();
  if (active_) QApplication::restoreOverrideCursor();
  active_ = false;
}

}  // namespace quillon
