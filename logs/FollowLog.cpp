#include "logs/FollowLog.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string_view>
#include <thread>
#include <utility>

#include "ikev1/log/FollowIKEv1Log.h"
#include "ikev2/FollowIKEv2Log.h"
#include "logs/Compressed.h"
#include "logs/LogFormat.h"

namespace quillon {

namespace {

constexpr std::size_t kHeadBytes = 4096;
constexpr std::size_t kChunk = std::size_t{4} << 20;

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// Reads up to `size` bytes from `offset`.
std::string ReadAt(std::FILE* file, std::uint64_t offset, std::size_t size) {
  std::string bytes;
  if (std::fseek(file, static_cast<long>(offset), SEEK_SET) != 0) return bytes;
  bytes.resize(size);
  bytes.resize(std::fread(bytes.data(), 1, size, file));
  return bytes;
}

}  // namespace

// The follower of one format behind one interface.
class LogFollower::Format {
 public:
  Format(LogFile& root, bool ikev1) {
    if (ikev1) v1_ = std::make_unique<IKEv1Follower>(root);
    else v2_ = std::make_unique<IKEv2Follower>(root);
  }
  // kExtended, kUnchanged or kReload of either follower, as 1, 0 and -1.
  int Append(std::string_view bytes) { return Code(v1_ ? Of(v1_->Append(bytes)) : Of(v2_->Append(bytes))); }
  int Settle() { return Code(v1_ ? Of(v1_->Settle()) : Of(v2_->Settle())); }
  const std::vector<LogNode*>& Changed() const { return v1_ ? v1_->Changed() : v2_->Changed(); }

 private:
  enum class R { kUnchanged, kExtended, kReload };
  static R Of(IKEv1Follower::Result r) {
    return r == IKEv1Follower::Result::kExtended ? R::kExtended : r == IKEv1Follower::Result::kReload ? R::kReload : R::kUnchanged;
  }
  static R Of(IKEv2Follower::Result r) {
    return r == IKEv2Follower::Result::kExtended ? R::kExtended : r == IKEv2Follower::Result::kReload ? R::kReload : R::kUnchanged;
  }
  static int Code(R r) { return r == R::kExtended ? 1 : r == R::kReload ? -1 : 0; }

  std::unique_ptr<IKEv1Follower> v1_;
  std::unique_ptr<IKEv2Follower> v2_;
};

namespace {

// The file's last modification time; the epoch when it cannot be asked.
std::filesystem::file_time_type ModificationTime(const std::string& path) {
  std::error_code error;
  const auto time = std::filesystem::last_write_time(path, error);
  return error ? std::filesystem::file_time_type{} : time;
}

}  // namespace

LogFollower::LogFollower(LogFile& root, std::string path, FileIdentity identity)
    : root_(root), path_(std::move(path)), identity_(std::move(identity)) {}

LogFollower::~LogFollower() = default;

void LogFollower::NoteAllPeers() {
  changed_.clear();
  for (const auto& peer : root_.Children()) changed_.push_back(peer.get());
}

bool LogFollower::Reload() {
  started_ = true;
  settled_ = true;
  File file(std::fopen(path_.c_str(), "rb"));
  if (!file) return false;
  fileId_ = identity_ ? identity_(path_) : 0;
  mtime_ = ModificationTime(path_);
  std::string head = ReadAt(file.get(), 0, kSniffBytes);
  const Compression compression = CompressionOf(head);
  compressed_ = compression != Compression::kNone;
  std::string text;  // the whole log, for a compressed file
  if (compressed_) {
    DecompressFile(path_, compression, text);
    head.assign(text, 0, std::min(text.size(), kSniffBytes));
  }
  head_ = ReadAt(file.get(), 0, kHeadBytes);

  // Only once: a later reload (the file shrank or was replaced) reads all there is.
  const std::uint64_t limit = std::exchange(firstReadLimit_, 0);
  // Reads the whole log (up to `limit`) with the reader of one format; the number of bytes read.
  auto readAll = [&](bool ikev1) -> std::uint64_t {
    root_.Clear();
    format_ = std::make_unique<Format>(root_, ikev1);
    if (compressed_) {
      format_->Append(text);
      format_->Settle();
      return text.size();
    }
    std::uint64_t read = 0;
    for (;;) {
      std::size_t chunk = kChunk;
      if (limit != 0) chunk = static_cast<std::size_t>(std::min<std::uint64_t>(chunk, limit - read));
      if (chunk == 0) break;
      const std::string bytes = ReadAt(file.get(), read, chunk);
      if (bytes.empty()) break;
      read += bytes.size();
      format_->Append(bytes);
    }
    format_->Settle();
    return read;
  };
  const bool byName = IsIKEv1LogPath(path_);
  size_ = readAll(byName);
  if (root_.ChildCount() == 0 && (byName ? HoldsIKEv2Exchanges(head) : HoldsIKEv1Packets(head))) {
    size_ = readAll(!byName);
    if (root_.ChildCount() == 0 || root_.IsWrongFormat()) size_ = readAll(byName);
  }
  if (compressed_) {
    std::error_code error;
    size_ = std::filesystem::file_size(path_, error);
  }
  NoteAllPeers();
  return true;
}

bool LogFollower::MayChange() const {
  if (!started_ || !settled_) return true;
  std::error_code error;
  const std::uint64_t size = std::filesystem::file_size(path_, error);
  if (error) return false;
  if (size != size_) return true;
  // A log rewritten in place to the same size tells only by its time.
  return (identity_ && identity_(path_) != fileId_) || ModificationTime(path_) != mtime_;
}

LogFollower::Change LogFollower::Poll() {
  changed_.clear();
  if (!started_) return Reload() ? Change::kReloaded : Change::kCannotRead;
  File file(std::fopen(path_.c_str(), "rb"));
  if (!file) return Change::kCannotRead;
  std::error_code error;
  const std::uint64_t size = std::filesystem::file_size(path_, error);
  if (error) return Change::kCannotRead;
  const auto mtime = ModificationTime(path_);
  // Rewritten in place to the same size: nothing was appended, yet the file's time moved.
  const bool rewritten = size == size_ && mtime != mtime_ && settled_;
  const bool replaced = (identity_ && identity_(path_) != fileId_) || size < size_ || rewritten ||
                        ReadAt(file.get(), 0, head_.size()) != head_ || (compressed_ && size != size_);
  if (replaced) return Reload() ? Change::kReloaded : Change::kCannotRead;
  mtime_ = mtime;
  if (size == size_) {
    if (settled_) return Change::kNone;
    settled_ = true;
    const int settled = format_->Settle();
    if (settled < 0) return Reload() ? Change::kReloaded : Change::kCannotRead;
    changed_ = format_->Changed();
    return settled > 0 ? Change::kExtended : Change::kNone;
  }
  settled_ = false;
  std::vector<LogNode*> changed;
  while (size_ < size) {
    const std::string bytes = ReadAt(file.get(), size_, static_cast<std::size_t>(std::min<std::uint64_t>(kChunk, size - size_)));
    if (bytes.empty()) break;
    size_ += bytes.size();
    if (head_.size() < kHeadBytes) head_ = ReadAt(file.get(), 0, kHeadBytes);
    const int appended = format_->Append(bytes);
    if (appended < 0) return Reload() ? Change::kReloaded : Change::kCannotRead;
    if (appended > 0) changed.insert(changed.end(), format_->Changed().begin(), format_->Changed().end());
  }
  std::sort(changed.begin(), changed.end());
  changed.erase(std::unique(changed.begin(), changed.end()), changed.end());
  changed_ = std::move(changed);
  return changed_.empty() ? Change::kNone : Change::kExtended;
}

void FollowLoop(LogFollower& follower, const std::function<bool()>& stop,
                const std::function<bool(LogFollower::Change)>& take) {
  while (!stop()) {
    if (follower.MayChange() && !take(follower.Poll())) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(LogFollower::kPollMilliseconds));
  }
}

}  // namespace quillon
