// Reads logs on a worker thread while the window goes on serving its events: the load of a file
// (which the user may stop) and Follow's first read of the whole file (which cannot be stopped,
// as the tree it replaces is gone by then). The controller tells how far the reader got and
// when it is done by signals; the window takes what was read and shows it.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include <QObject>
#include <QString>

#include "app/LogDocument.h"
#include "logs/FollowLog.h"

class QProgressBar;
class QThread;
class QTimer;
class QWidget;

namespace quillon {

class LoadController : public QObject {
  Q_OBJECT

 public:
  explicit LoadController(LogDocument& document, QObject* parent = nullptr);
  // A read still running is asked to stop (if it can be) and waited for.
  ~LoadController() override;
  LoadController(const LoadController&) = delete;
  LoadController& operator=(const LoadController&) = delete;

  // Reads `path` into a tree the document does not hold yet; FileRead follows. One read at a
  // time: false when one is running.
  bool StartLoad(const QString& path, bool cancellable);
  // Follow's first read: the document's follower reads its file again whole; FollowRead follows.
  bool StartFollowRead();
  // Asks a load that can be stopped to stop; FileRead still follows, with nothing read.
  void Cancel();

  bool IsRunning() const { return worker_ != nullptr; }
  bool IsCancellable() const { return cancellable_; }
  // The file being read, or read last.
  const QString& Path() const { return path_; }

  // After FileRead: the file as read; nothing when the load was stopped.
  std::optional<LogDocument::ReadResult> TakeRead();
  // After FollowRead: what the follower's read did.
  LogFollower::Change FollowChange() const { return followChange_; }

 signals:
  // The reader got to `bytes` of `total` (negative when the length is not known). Sent at most
  // once per turn of the event loop, however often the reader reports.
  void Progress(qint64 bytes, qint64 total);
  void FileRead();
  void FollowRead();

 private:
  enum class Kind { kLoad, kFollow };
  bool Start(Kind kind, std::function<void()> work);
  void OnWorkerFinished();
  void Report(std::uint64_t bytes);

  LogDocument& document_;
  std::unique_ptr<QThread> worker_;
  Kind kind_ = Kind::kLoad;
  QString path_;
  qint64 total_ = -1;
  bool cancellable_ = false;
  std::atomic<bool> cancel_{false};
  std::atomic<std::uint64_t> bytesRead_{0};
  std::atomic<bool> reportPending_{false};
  std::optional<LogDocument::ReadResult> read_;
  LogFollower::Change followChange_ = LogFollower::Change::kNone;
};

// The status bar's progress bar and Cancel button during a read. They appear only once the read
// has taken longer than `delay` (a short load does not flash them); a read of unknown length
// shows a busy bar. The wait cursor is shown from Begin to End.
class LoadProgressDisplay : public QObject {
  Q_OBJECT

 public:
  LoadProgressDisplay(QProgressBar& bar, QWidget& cancel, int delayMilliseconds, QObject* parent = nullptr);
  ~LoadProgressDisplay() override;
  LoadProgressDisplay(const LoadProgressDisplay&) = delete;
  LoadProgressDisplay& operator=(const LoadProgressDisplay&) = delete;

  void Begin(qint64 total, bool cancellable);
  void Update(qint64 bytes);
  void End();

 private:
  void ShowBar();

  QProgressBar& bar_;
  QWidget& cancel_;
  QTimer* delay_;
  qint64 total_ = -1;
  qint64 bytes_ = 0;
  bool cancellable_ = false;
  bool active_ = false;
};

}  // namespace quillon
