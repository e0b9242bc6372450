// The lines of a log file behind the nodes' spans (model/LogSpan.h): their 1-based numbers and
// their text exactly as the file holds it.
//
// Line numbers are counted from the file on demand. The index keeps, for every megabyte of the
// file read so far, how many lines end before it, so a question about one node reads at most
// the megabyte it falls in once the count has passed it; a whole tree's spans are answered in
// one pass. A line ends at LF (so CR LF is one line end, as the daemon writes on one platform
// and not the other).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "model/ByteSource.h"
#include "model/LogSpan.h"

namespace quillon {

class LogNode;

// First and last line of a span, 1-based, inclusive.
struct LineRange {
  std::uint64_t first = 0;
  std::uint64_t last = 0;

  friend bool operator==(const LineRange&, const LineRange&) = default;
};

class LogLineIndex {
 public:
  // Opens the file for reading; an unreadable file gives no lines (IsOpen false).
  explicit LogLineIndex(const std::string& path);
  // Reads the first `size` bytes of a source a load read: the log's own bytes, also where the
  // file cannot be opened again (a stream) or no longer holds them (replaced meanwhile), and
  // the text a compressed log holds.
  LogLineIndex(std::shared_ptr<ByteSource> source, std::uint64_t size);
  ~LogLineIndex();
  LogLineIndex(const LogLineIndex&) = delete;
  LogLineIndex& operator=(const LogLineIndex&) = delete;

  bool IsOpen() const { return file_ != nullptr || source_ != nullptr; }

  // The file was appended to (a followed log): its lines are counted up to its size now,
  // from where the count stood; the counts of the bytes it held before stay.
  void Grow();
  // The bytes read from the file or source so far.
  std::uint64_t BytesRead() const { return bytesRead_; }

  // The lines of each span, in the order given. A span whose end lies on its own first line
  // (two packets on one line) is that one line.
  std::vector<LineRange> Lines(const std::vector<LogSpan>& spans);
  // The lines of the spans one after the other, line ends included, at most `maxBytes` bytes
  // of them; `cut` tells whether the limit was reached.
  std::string Text(const std::vector<LogSpan>& spans, std::size_t maxBytes, bool* cut = nullptr);

 private:
  struct FileCloser {
    void operator()(std::FILE* file) const noexcept { std::fclose(file); }
  };

  std::size_t ReadAt(std::uint64_t offset, char* data, std::size_t size);
  // Newlines before each offset (offsets ascending, each at most the file size).
  std::vector<std::uint64_t> NewlinesBefore(const std::vector<std::uint64_t>& offsets);
  // Extends the per-block counts so that the count before block `block` is known.
  void CountBlocksUpTo(std::uint64_t block);
  // The offset of the first byte of the line holding `offset`, and the offset just past the
  // line end of that line.
  std::uint64_t LineStart(std::uint64_t offset);
  std::uint64_t LineEnd(std::uint64_t offset);
  std::uint64_t Clamp(std::uint64_t offset) const { return offset < size_ ? offset : size_; }

  std::unique_ptr<std::FILE, FileCloser> file_;
  std::shared_ptr<ByteSource> source_;
  std::uint64_t size_ = 0;
  std::uint64_t position_ = 0;             // where the stream stands
  std::vector<std::uint64_t> blockLines_;  // newlines before each block read so far
  std::vector<char> buffer_;
  std::uint64_t bytesRead_ = 0;
};

// The spans a node was read from (a packet's one, an exchange's in packet order); none for
// the other nodes.
std::vector<LogSpan> LogSpansOf(const LogNode& node);
// The lines of all the ranges together: the smallest first line to the greatest last line.
LineRange Overall(const std::vector<LineRange>& ranges);

}  // namespace quillon
