#include "model/ByteSource.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>

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

std::shared_ptr<FileSource> FileSource::Open(const std::string& path, std::string& error) {
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
  // A stream comes once: keep all of it.
  std::string text;
  std::string block(64 * 1024, '\0');
  while (true) {
    errno = 0;
    const std::size_t n = std::fread(block.data(), 1, block.size(), source->file_);
    text.append(block.data(), n);
    if (n == block.size()) continue;
    if (std::ferror(source->file_)) {
      error = Reason(errno);
      return nullptr;
    }
    break;
  }
  source->size_ = text.size();
  source->stream_ = std::make_unique<TextSource>(std::move(text));
  if (source->owned_) std::fclose(source->file_);
  source->file_ = nullptr;
  return source;
}

FileSource::~FileSource() {
  if (file_ != nullptr && owned_) std::fclose(file_);
}

std::size_t FileSource::ReadAt(std::uint64_t offset, char* data, std::size_t size) {
  if (stream_) return stream_->ReadAt(offset, data, size);
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
