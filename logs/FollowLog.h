// Following a log file while the gateway writes it: what the viewer's Follow and
// `quillon-cli --follow` poll.
//
// Each poll reads what was appended to the file since the last one and hands it to the follower
// of the log's format, which extends the tree in place. When the writer pauses (a poll finds no
// new bytes), what follows the last whole packet is placed too, so that the tree is the one a
// load of the file gives. The file is loaded again whole when it shrank, when it was replaced
// (another file identity, or its first bytes changed), when it is compressed and changed, or
// when the follower cannot extend the tree in place, or when its modification time moved while
// its size did not (a rewrite in place to the same size).
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "logs/Compressed.h"
#include "logs/LogFormat.h"
#include "model/FormatFollower.h"
#include "model/LogFile.h"

namespace quillon {

class LogFollower {
 public:
  // How often a follower looks at the file. A look that finds the size and identity unchanged
  // costs a stat, so following an idle log costs next to nothing. The last packet of a burst is
  // placed at the first look that finds the writer paused, so a packet appears within two
  // intervals of its append (and the time to read and place it).
  static constexpr int kPollMilliseconds = 30;

  // The identity of the file a path names now (device and inode, say); 0 when unknown. Given by
  // the platform; without it a replaced file is told by its first bytes and its size only.
  using FileIdentity = std::function<std::uint64_t(const std::string& path)>;

  // Follows `path` into `root` (cleared at the first poll; it must outlive the follower).
  LogFollower(LogFile& root, std::string path, FileIdentity identity = {});
  ~LogFollower();
  LogFollower(const LogFollower&) = delete;
  LogFollower& operator=(const LogFollower&) = delete;

  enum class Change {
    kNone,        // nothing new
    kExtended,    // packets were added: Changed() names the peers that took them
    kReloaded,    // the tree was built anew from the whole file (always at the first poll)
    kCannotRead,  // the file cannot be read now; the tree is left as it was
  };
  Change Poll();
  // The first poll reads no more than the first `size` bytes: those a tree already shown was
  // read from. What the gateway appended between that load and the first poll then comes as an
  // extension, instead of vanishing into the follower's first tree unseen.
  void StartAfter(std::uint64_t size) { firstReadLimit_ = size; }
  // The format the load of the log found: the follower reads the file with it first, and
  // reads it once even when the log's name suggests the other format.
  void ReadAs(const LogFormat& format) { known_ = &format; }
  // The most text a compressed log may decompress to (0: as a load allows, see OpenLog).
  void SetMaxSize(std::uint64_t size) { maxSize_ = size; }
  // Why the last poll could not read the file, when the file itself is at fault: "File too
  // large" or "Wrong file type" for a compressed log past the size limit or holding no text.
  const std::string& Problem() const { return problem_; }
  // How many times the whole file was read.
  std::uint64_t Passes() const { return passes_; }
  // Whether the next poll may change the tree: not started, the file's size or identity
  // differs from what was read, or the writer paused after appending (cheap: no bytes read).
  bool MayChange() const;

  // The peers extended by the last poll (every peer after a reload).
  const std::vector<LogNode*>& Changed() const { return changed_; }
  // The bytes of log text read so far.
  std::uint64_t Size() const { return size_; }

 private:
  bool Reload();
  FormatFollower::Result InArena(const std::function<FormatFollower::Result()>& step);
  std::uint64_t ReadWhole(std::FILE* file, const LogFormat& format, const std::string& text, std::uint64_t limit);
  bool Decompressed(Compression compression, std::string& text);
  void NoteAllPeers();

  LogFile& root_;
  std::string path_;
  FileIdentity identity_;
  std::unique_ptr<FormatFollower> format_;
  const LogFormat* known_ = nullptr;  // the format of the last whole read
  std::uint64_t maxSize_ = 0;
  std::string problem_;
  std::uint64_t passes_ = 0;
  std::vector<LogNode*> changed_;
  std::string head_;               // the first bytes of the file, to notice a replaced one
  std::uint64_t size_ = 0;         // bytes of the file read
  std::uint64_t fileId_ = 0;
  std::filesystem::file_time_type mtime_{};  // the file's modification time when last read
  std::uint64_t firstReadLimit_ = 0;  // 0: the first poll reads the whole file
  bool started_ = false;
  bool compressed_ = false;
  bool settled_ = false;
};

// The polling loop of a follower without an event loop of its own (`quillon-cli --follow`, the
// benchmark): until `stop()` says so, looks at the file every kPollMilliseconds and polls when
// it may have changed, handing each poll's change to `take`; `take` returning false ends it.
void FollowLoop(LogFollower& follower, const std::function<bool()>& stop,
                const std::function<bool(LogFollower::Change)>& take);

}  // namespace quillon
