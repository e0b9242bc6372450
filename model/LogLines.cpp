#include "model/LogLines.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "model/LogNode.h"

namespace quillon {

namespace {

constexpr std::size_t kBlock = std::size_t{1} << 20;

std::uint64_t CountNewlines(const char* data, std::size_t size) {
  std::uint64_t count = 0;
  for (std::size_t i = 0; i < size; ++i) count += data[i] == '\n';
  return count;
}

}  // namespace

LogLineIndex::LogLineIndex(const std::string& path) : file_(std::fopen(path.c_str(), "rb")) {
  if (!file_) return;
  if (std::fseek(file_.get(), 0, SEEK_END) == 0) {
    const long size = std::ftell(file_.get());
    size_ = size > 0 ? static_cast<std::uint64_t>(size) : 0;
  }
  position_ = size_;
  buffer_.resize(kBlock);
  blockLines_.push_back(0);
}

LogLineIndex::LogLineIndex(std::shared_ptr<ByteSource> source, std::uint64_t size)
    : source_(std::move(source)), size_(size) {
  if (!source_) return;
  position_ = size_;
  buffer_.resize(kBlock);
  blockLines_.push_back(0);
}

LogLineIndex::~LogLineIndex() = default;

void LogLineIndex::Grow() {
  if (!file_ || std::fseek(file_.get(), 0, SEEK_END) != 0) return;
  const long end = std::ftell(file_.get());
  position_ = ~std::uint64_t{0};  // the stream no longer stands where it was
  if (end <= 0 || static_cast<std::uint64_t>(end) <= size_) return;
  // The count before block i holds when every block before it was whole within the old size;
  // the block the old end cut is counted again.
  const std::uint64_t whole = size_ / kBlock;
  if (blockLines_.size() > whole + 1) blockLines_.resize(static_cast<std::size_t>(whole + 1));
  size_ = static_cast<std::uint64_t>(end);
}

std::size_t LogLineIndex::ReadAt(std::uint64_t offset, char* data, std::size_t size) {
  if (offset >= size_) return 0;
  if (source_) {
    const std::size_t n =
        source_->ReadAt(offset, data, static_cast<std::size_t>(std::min<std::uint64_t>(size, size_ - offset)));
    bytesRead_ += n;
    return n;
  }
  if (!file_) return 0;
  if (offset != position_) {
    if (offset > static_cast<std::uint64_t>(std::numeric_limits<long>::max()) ||
        std::fseek(file_.get(), static_cast<long>(offset), SEEK_SET) != 0)
      return 0;
    position_ = offset;
  }
  const std::size_t n = std::fread(data, 1, static_cast<std::size_t>(std::min<std::uint64_t>(size, size_ - offset)), file_.get());
  position_ += n;
  bytesRead_ += n;
  return n;
}

void LogLineIndex::CountBlocksUpTo(std::uint64_t block) {
  while (blockLines_.size() <= block) {
    const std::uint64_t known = blockLines_.size() - 1;
    const std::size_t n = ReadAt(known * kBlock, buffer_.data(), kBlock);
    blockLines_.push_back(blockLines_.back() + CountNewlines(buffer_.data(), n));
    if (n < kBlock) break;  // the file ends in this block (or shrank under us)
  }
}

std::vector<std::uint64_t> LogLineIndex::NewlinesBefore(const std::vector<std::uint64_t>& offsets) {
  std::vector<std::uint64_t> counts(offsets.size(), 0);
  std::size_t i = 0;
  while (i < offsets.size()) {
    const std::uint64_t block = offsets[i] / kBlock;
    CountBlocksUpTo(block);
    if (block >= blockLines_.size()) {  // beyond what the file holds now
      for (; i < offsets.size(); ++i) counts[i] = blockLines_.back();
      break;
    }
    // The offsets in this block, counted in one read of it.
    const std::size_t n = ReadAt(block * kBlock, buffer_.data(), kBlock);
    std::uint64_t count = blockLines_[block];
    std::size_t counted = 0;
    for (; i < offsets.size() && offsets[i] / kBlock == block; ++i) {
      const std::size_t upTo = std::min<std::size_t>(n, static_cast<std::size_t>(offsets[i] - block * kBlock));
      if (upTo > counted) {
        count += CountNewlines(buffer_.data() + counted, upTo - counted);
        counted = upTo;
      }
      counts[i] = count;
    }
  }
  return counts;
}

std::vector<LineRange> LogLineIndex::Lines(const std::vector<LogSpan>& spans) {
  std::vector<LineRange> ranges(spans.size());
  if (!IsOpen() || spans.empty()) return ranges;
  // Every offset asked about, in ascending order, counted in one pass.
  const std::uint64_t last = size_ == 0 ? 0 : size_ - 1;
  std::vector<std::uint64_t> offsets;
  offsets.reserve(spans.size() * 2);
  for (const LogSpan& span : spans) {
    offsets.push_back(std::min(span.begin, last));
    offsets.push_back(span.end == LogSpan::kToEnd || span.end >= size_ ? last : span.end);
  }
  std::vector<std::uint64_t> sorted = offsets;
  std::sort(sorted.begin(), sorted.end());
  sorted.erase(std::unique(sorted.begin(), sorted.end()), sorted.end());
  const std::vector<std::uint64_t> counts = NewlinesBefore(sorted);
  const auto newlinesBefore = [&](std::uint64_t offset) {
    return counts[static_cast<std::size_t>(std::lower_bound(sorted.begin(), sorted.end(), offset) - sorted.begin())];
  };
  for (std::size_t i = 0; i < spans.size(); ++i) {
    const LogSpan& span = spans[i];
    LineRange& range = ranges[i];
    range.first = newlinesBefore(offsets[2 * i]) + 1;
    // To the end: the line of the file's last byte. Otherwise the line before the one the end
    // stands on, which belongs to what follows.
    const bool toEnd = span.end == LogSpan::kToEnd || span.end >= size_;
    range.last = toEnd ? newlinesBefore(offsets[2 * i + 1]) + 1 : newlinesBefore(offsets[2 * i + 1]);
    range.last = std::max(range.last, range.first);
  }
  return ranges;
}

std::uint64_t LogLineIndex::LineStart(std::uint64_t offset) {
  offset = Clamp(offset);
  // Looks back a block at a time for the line end before `offset`.
  constexpr std::size_t kStep = 4096;
  char window[kStep];
  std::uint64_t before = offset;
  while (before > 0) {
    const std::uint64_t from = before > kStep ? before - kStep : 0;
    const std::size_t n = ReadAt(from, window, static_cast<std::size_t>(before - from));
    if (n == 0) return 0;
    for (std::size_t i = n; i > 0; --i)
      if (window[i - 1] == '\n') return from + i;
    before = from;
  }
  return 0;
}

std::uint64_t LogLineIndex::LineEnd(std::uint64_t offset) {
  offset = Clamp(offset);
  constexpr std::size_t kStep = 4096;
  char window[kStep];
  while (offset < size_) {
    const std::size_t n = ReadAt(offset, window, kStep);
    if (n == 0) break;
    if (const void* nl = std::memchr(window, '\n', n)) return offset + static_cast<std::size_t>(static_cast<const char*>(nl) - window) + 1;
    offset += n;
  }
  return size_;
}

std::string LogLineIndex::Text(const std::vector<LogSpan>& spans, std::size_t maxBytes, bool* cut) {
  std::string text;
  if (cut != nullptr) *cut = false;
  if (!IsOpen()) return text;
  for (const LogSpan& span : spans) {
    const std::uint64_t begin = LineStart(span.begin);
    std::uint64_t end = span.end == LogSpan::kToEnd || span.end >= size_ ? size_ : LineStart(span.end);
    if (end <= begin) end = LineEnd(span.begin);
    const std::uint64_t room = maxBytes - text.size();
    if (end - begin > room) {
      end = begin + room;
      if (cut != nullptr) *cut = true;
    }
    const std::size_t old = text.size();
    text.resize(old + static_cast<std::size_t>(end - begin));
    text.resize(old + ReadAt(begin, text.data() + old, static_cast<std::size_t>(end - begin)));
    if (text.size() >= maxBytes) break;
  }
  return text;
}

std::vector<LogSpan> LogSpansOf(const LogNode& node) {
  std::vector<LogSpan> spans;
  node.AppendLogSpans(spans);
  return spans;
}

LineRange Overall(const std::vector<LineRange>& ranges) {
  LineRange all;
  for (const LineRange& range : ranges) {
    if (all.first == 0 || range.first < all.first) all.first = range.first;
    all.last = std::max(all.last, range.last);
  }
  return all;
}

}  // namespace quillon
