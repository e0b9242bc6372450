// The document: the log file the window shows, the tree loaded from it, and what the commands
// need to know about it (its path, whether it changed on disk since it was loaded, whether its
// peers' names may still be resolved).
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include <QDateTime>
#include <QString>

#include "logs/FollowLog.h"
#include "logs/OpenLog.h"
#include "model/LogFile.h"
#include "model/ReadProgress.h"

namespace quillon {

class SettingsStore;

class LogDocument {
 public:
  // Reads a file into a new tree; the real one is OpenLog, tests hand in their own trees.
  using Loader = std::function<OpenLogResult(const std::string& path, const ReadProgress& progress)>;

  struct OpenOutcome {
    bool loaded = false;
    QString message;       // the text for the user when not loaded
    QString loadTimeText;  // "File loaded in MM minutes, SS seconds." when loaded
    bool noPackets = false;  // loaded, but neither reader found a packet
    QString warning;         // "The file changed while it was read: PATH" when it became shorter
    bool truncated = false;  // the file ends inside a packet
  };

  explicit LogDocument(SettingsStore& settings, Loader loader = {});

  // Loads the file. On success the new tree replaces the old one; on failure the previous tree,
  // path and title stay as they were. Read and Adopt below in one step.
  OpenOutcome Open(const QString& path, const ReadProgress& progress = {});

  // A file read into a tree the document does not hold yet.
  struct ReadResult {
    OpenLogResult log;
    std::optional<QDateTime> fileTime;  // the file's write time before it was read
  };
  // Reads the file; touches nothing of the document, so it may run on a worker thread while
  // the window goes on showing the current tree. `progress` may throw LoadCancelled to stop.
  ReadResult Read(const QString& path, const ReadProgress& progress) const;
  // Takes a read file as the document's log (see Open for failures).
  OpenOutcome Adopt(const QString& path, ReadResult read);
  // Gives the tree (and its arena) back and keeps the path: a reload frees the old log before
  // reading the new one, so that it never holds two.
  void ReleaseLog() { log_.reset(); }
  // Empties the document ("Untitled").
  void New();

  bool IsLoaded() const { return log_ != nullptr; }
  const QString& Path() const { return path_; }
  // The file name of the loaded file, "Untitled" before the first load.
  QString Title() const;
  LogFile* Log() const { return log_.get(); }
  // The file is a compressed log: its tree's offsets are in the text it holds, not the file.
  bool IsCompressed() const { return compressed_; }

  // The tree no longer matches the file: a peer was deleted, or a filter or the verify selection
  // narrowed it. The window's title carries the modified mark until the next load.
  void MarkTreeChanged() { treeChanged_ = true; }
  // The tree as it stands was saved to a file.
  void MarkTreeSaved() { treeChanged_ = false; }
  bool IsTreeChanged() const { return treeChanged_; }

  // Resolve IPs is offered once per load.
  bool ResolvePending() const { return resolvePending_; }
  void ClearResolvePending() { resolvePending_ = false; }

  // True while the file's last-write time differs from the one it had when it was loaded.
  // A file whose status cannot be read (removed, unreadable directory) is not reported.
  bool FileChangedOnDisk() const;

  struct SaveOutcome {
    bool saved = false;
    QString message;  // why it was not saved
    QString path;     // where the log went
    QString notice;   // what the saved log cannot hold as the tree has it (WriteLog)
  };
  // Writes the tree as it stands to `path`, in the loaded log's format. The target is replaced
  // only once it is completely written; the open log itself is never overwritten (whatever
  // spelling or link names it). The loaded document does not change.
  SaveOutcome SaveAs(const QString& path) const;
  // Whether `path` names the open log (by any spelling or link), as SaveAs refuses it.
  bool IsOpenLog(const QString& path) const;

  // Follow: the tree is extended by what is appended to the file. Starting reads the file
  // again whole into the document's tree; opening another file or New stops following.
  void StartFollowing();
  void StopFollowing();
  bool IsFollowing() const { return follower_ != nullptr; }
  // Whether a poll may change the tree (the file grew, shrank or was replaced, or the writer
  // paused after appending); a poll is made only then, so that the view rebuilds its rows only
  // when needed.
  bool FollowMayChange() const;
  // Reads what was appended. The caller tells the view around it: the tree may change.
  LogFollower::Change PollFollow();
  // The peers the last poll extended in place.
  std::vector<LogNode*> FollowChanged() const;

  // The file opened last, remembered across runs ("Misc Data/Last Accessed File").
  std::optional<QString> LastAccessedFile() const;
  void SetLastAccessedFile(const QString& path);

 private:
  SettingsStore& settings_;
  Loader loader_;
  std::unique_ptr<LogFile> log_;
  QString path_;
  std::optional<QDateTime> loadedFileTime_;
  bool resolvePending_ = false;
  bool compressed_ = false;
  // The format the log on screen was read with: reading the same file again (a wider filter)
  // starts with it, so a log whose name suggests the other format is read once.
  const LogFormat* format_ = nullptr;
  bool treeChanged_ = false;
  std::unique_ptr<LogFollower> follower_;
};

}  // namespace quillon
