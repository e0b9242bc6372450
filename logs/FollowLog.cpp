#include "logs/FollowLog.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string_view>
#include <thread>
#include <utility>

#include "logs/Compressed.h"
#include "logs/LogFormat.h"
#include "logs/OpenLog.h"
#include "model/NodeArena.h"

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

// Reads the whole log (up to `limit` bytes; 0: all there is) with the follower of `format`,
// into the root cleared first; the bytes read.
std::uint64_t LogFollower::ReadWhole(std::FILE* file, const LogFormat& format, const std::string& text,
                                     std::uint64_t limit) {
  root_.Clear();
  format_ = format.follow(root_);
  ArenaScope scope(&root_.Arena());  // as InArena
  ++passes_;
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
    const std::string bytes = ReadAt(file, read, chunk);
    if (bytes.empty()) break;
    read += bytes.size();
    format_->Append(bytes);
  }
  format_->Settle();
  return read;
}

// The nodes go to the log's arena, as a load places them: on the general heap each would cost
// an allocation of its own, and a followed log would take a third more memory than its load.
// The scope ends before a reload clears the root, which makes a new arena.
FormatFollower::Result LogFollower::InArena(const std::function<FormatFollower::Result()>& step) {
  ArenaScope scope(&root_.Arena());
  return step();
}

bool LogFollower::Reload() {
  started_ = true;
  settled_ = true;
  problem_.clear();
  File file(std::fopen(path_.c_str(), "rb"));
  if (!file) return false;
  fileId_ = identity_ ? identity_(path_) : 0;
  mtime_ = ModificationTime(path_);
  std::string head = ReadAt(file.get(), 0, kSniffBytes);
  const Compression compression = CompressionOf(head);
  compressed_ = compression != Compression::kNone;
  std::string text;  // the whole log, for a compressed file
  if (compressed_ && !Decompressed(compression, text)) {
    // Not tried again until the file changes.
    std::error_code error;
    size_ = std::filesystem::file_size(path_, error);
    head_ = ReadAt(file.get(), 0, kHeadBytes);
    return false;
  }
  if (compressed_) head.assign(text, 0, std::min(text.size(), kSniffBytes));
  head_ = ReadAt(file.get(), 0, kHeadBytes);

  // Only once: a later reload (the file shrank or was replaced) reads all there is.
  const std::uint64_t limit = std::exchange(firstReadLimit_, 0);
  // The format the last read found goes first (the load's, at the first poll): after a fallback
  // to the other format, the file is read once, not once per format.
  const LogFormat& first = known_ != nullptr ? *known_ : FormatOfPath(path_);
  known_ = &first;
  size_ = ReadWhole(file.get(), first, text, limit);
  if (root_.ChildCount() == 0 && OtherFormat(first).holds(head)) {
    known_ = &OtherFormat(first);
    size_ = ReadWhole(file.get(), *known_, text, limit);
    if (root_.ChildCount() == 0 || root_.IsWrongFormat()) {
      known_ = &first;
      size_ = ReadWhole(file.get(), first, text, limit);
    }
  }
  if (compressed_) {
    std::error_code error;
    size_ = std::filesystem::file_size(path_, error);
  }
  NoteAllPeers();
  return true;
}

bool LogFollower::Decompressed(Compression compression, std::string& text) {
  std::string error;
  const std::shared_ptr<FileSource> source = FileSource::Open(path_, error);
  if (!source) return false;
  // Bounded as a load is: a small file may decompress to far more than memory holds.
  DecompressLimits limits;
  limits.textOnly = true;
  limits.headBytes = kSniffBytes;
  limits.maxSize = maxSize_ != 0 ? maxSize_ : DefaultMaxDecompressed(source->SizeHint());
  switch (Decompress(*source, compression, text, limits)) {
    case DecompressStatus::kDone: return true;
    case DecompressStatus::kTooLarge: problem_ = FileSource::kTooLarge; break;
    case DecompressStatus::kNotText: problem_ = "Wrong file type"; break;
    case DecompressStatus::kDamaged: problem_ = source->Error().empty() ? "Wrong file type" : source->Error(); break;
  }
  std::string().swap(text);
  return false;
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
    const FormatFollower::Result settled = InArena([&] { return format_->Settle(); });
    if (settled == FormatFollower::Result::kReload) return Reload() ? Change::kReloaded : Change::kCannotRead;
    changed_ = format_->Changed();
    return settled == FormatFollower::Result::kExtended ? Change::kExtended : Change::kNone;
  }
  settled_ = false;
  std::vector<LogNode*> changed;
  while (size_ < size) {
    const std::string bytes = ReadAt(file.get(), size_, static_cast<std::size_t>(std::min<std::uint64_t>(kChunk, size - size_)));
    if (bytes.empty()) break;
    size_ += bytes.size();
    if (head_.size() < kHeadBytes) head_ = ReadAt(file.get(), 0, kHeadBytes);
    const FormatFollower::Result appended = InArena([&] { return format_->Append(bytes); });
    if (appended == FormatFollower::Result::kReload) return Reload() ? Change::kReloaded : Change::kCannotRead;
    if (appended == FormatFollower::Result::kExtended) changed.insert(changed.end(), format_->Changed().begin(), format_->Changed().end());
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
