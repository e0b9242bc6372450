#include "model/ByteSource.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <new>

namespace quillon {

std::string ByteSource::Error() const {
  const std::lock_guard lock(mutex_);
  return error_;
}

bool ByteSource::Shrank() const {
  const std::lock_guard lock(mutex_);
  return shrank_;
}

void ByteSource::SetError(const std::string& reason) {
  const std::lock_guard lock(mutex_);
  if (error_.empty()) error_ = reason.empty() ? "Input/output error" : reason;
}

void ByteSource::SetShrank() {
  const std::lock_guard lock(mutex_);
  shrank_ = true;
}

std::size_t TextSource::ReadAt(std::uint64_t offset, char* data, std::size_t size) {
  if (offset >= text_.size()) return 0;
  const std::size_t n = std::min<std::uint64_t>(size, text_.size() - offset);
  std::memcpy(data, text_.data() + offset, n);
  return n;
}

namespace {

std::string Reason(int error) { return std::strerror(error != 0 ? error : EIO); }

}  // namespace

std::shared_ptr<FileSource> FileSource::Open(const std::string& path, std::string& error, std::uint64_t maxStreamSize) {
  std::shared_ptr<FileSource> source(new FileSource());  // private constructor
  errno = 0;
  if (path == "-") {
    source->file_ = stdin;
  } else {
    source->file_ = std::fopen(path.c_str(), "rb");
    source->owned_ = true;
  }
  if (source->file_ == nullptr) {
    error = Reason(errno);
    return nullptr;
  }
  // A regular file can seek to its end: its size now is where this load stops.
  if (std::fseek(source->file_, 0, SEEK_END) == 0) {
    const long end = std::ftell(source->file_);
    if (end >= 0 && std::fseek(source->file_, 0, SEEK_SET) == 0) {
      source->size_ = static_cast<std::uint64_t>(end);
      return source;
    }
  }
  std::clearerr(source->file_);
  source->stream_ = true;
  source->maxStream_ = maxStreamSize;
  return source;
}

FileSource::~FileSource() {
  if (file_ != nullptr && owned_) std::fclose(file_);
}

std::uint64_t FileSource::Size() const {
  if (!stream_) return size_;
  const std::lock_guard lock(readMutex_);
  return streamed_.size();
}

void FileSource::Stream(std::uint64_t end) {
  constexpr std::size_t kBlock = 64 * 1024;
  while (!streamEnded_ && streamed_.size() < end) {
    if (streamed_.size() >= maxStream_) {
      SetError(kTooLarge);
      streamEnded_ = true;
      break;
    }
    const std::size_t used = streamed_.size();
    const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(kBlock, maxStream_ - used));
    try {
      streamed_.resize(used + want);
    } catch (const std::bad_alloc&) {
      streamed_.resize(used);
      SetError(kTooLarge);
      streamEnded_ = true;
      break;
    }
    errno = 0;
    const std::size_t n = std::fread(streamed_.data() + used, 1, want, file_);
    streamed_.resize(used + n);
    if (n < want) {
      if (std::ferror(file_)) SetError(Reason(errno));
      streamEnded_ = true;
    }
  }
  if (streamEnded_ && file_ != nullptr) {
    if (owned_) std::fclose(file_);
    file_ = nullptr;
  }
}

std::size_t FileSource::ReadAt(std::uint64_t offset, char* data, std::size_t size) {
  if (stream_) {
    const std::lock_guard lock(readMutex_);
    Stream(offset + size);
    if (offset >= streamed_.size()) return 0;
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(size, streamed_.size() - offset));
    std::memcpy(data, streamed_.data() + offset, n);
    return n;
  }
  if (offset >= size_) return 0;
  size = static_cast<std::size_t>(std::min<std::uint64_t>(size, size_ - offset));
  const std::lock_guard lock(readMutex_);
  if (offset != next_) {
    if (offset > static_cast<std::uint64_t>(std::numeric_limits<long>::max()) ||
        std::fseek(file_, static_cast<long>(offset), SEEK_SET) != 0) {
      SetError(Reason(errno));
      return 0;
    }
    next_ = offset;
  }
  errno = 0;
  const std::size_t n = std::fread(data, 1, size, file_);
  next_ += n;
  if (n < size) {
    if (std::ferror(file_)) {
      SetError(Reason(errno));
    } else {
      SetShrank();  // the end came before the size the file had at the start
    }
    std::clearerr(file_);
  }
  return n;
}

void FileSource::CheckUnchanged() {
  if (stream_ || file_ == nullptr) return;
  const std::lock_guard lock(readMutex_);
  if (std::fseek(file_, 0, SEEK_END) == 0) {
    const long end = std::ftell(file_);
    if (end >= 0 && static_cast<std::uint64_t>(end) < size_) SetShrank();
  }
  next_ = std::numeric_limits<std::uint64_t>::max();  // the next read seeks
}

}  // namespace quillon
