// The line reader under the IKEv2 XML log reader.
//
// The daemon writes its IKEv2 log as XML with a fixed line layout, and the reader works on
// whole lines: every read returns the next line of the file without its line end. CR LF, LF
// and a lone CR all end a line; a line end at the very end of the file does not start another
// line. Unlike the IKEv1 token reader there are no restart or packet markers: a line holding
// the word "daemon" is an ordinary line, so reading always runs to the end of the file.
//
// The input is read in 64 KiB blocks from a byte source (a file opened once, or memory). A line longer than kMaxLineLength is cut at
// that length and the rest of it is skipped, so a file without line ends cannot exhaust memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

#include "ikev2/LineScan.h"
#include "model/ByteSource.h"
#include "model/ReadProgress.h"

namespace quillon {

class LogLineReader {
 public:
  static constexpr std::size_t kBlockSize = 64 * 1024;
  static constexpr std::size_t kMaxLineLength = 1024 * 1024;

  // Opens the file for reading (binary, never created). Throws CannotOpenLog when it cannot
  // be opened.
  explicit LogLineReader(const std::string& path);
  // Reads the source from its start.
  explicit LogLineReader(std::shared_ptr<ByteSource> source);
  // Reads from text held in memory (tests, fuzzing, a piece of a file that starts at `offset`).
  static LogLineReader FromText(std::string text, std::uint64_t offset = 0);

  LogLineReader(LogLineReader&&) noexcept = default;
  LogLineReader& operator=(LogLineReader&&) noexcept = default;
  ~LogLineReader() = default;

  // Reads the next line into `line` (its capacity is reused). Returns false, with `line`
  // empty, when no line is left.
  bool ReadLine(std::string& line);
  // The same without a copy where it can: `line` views the line where it stands in the block
  // buffer (valid until the next read), or, for a line that runs on past the block, `spill`,
  // where it is put together.
  bool ReadLine(std::string_view& line, std::string& spill);
  // Convenience form: the next line, empty at the end.
  std::string ReadLine();

  // No line is left to read. May read ahead one block to find out.
  bool AtEnd();

  // Where the line read last stands in the whole input: the offset of its first byte, and the
  // offset just past its line end.
  std::uint64_t LineBegin() const { return lineBegin_; }
  std::uint64_t LineEnd() const { return lineEnd_; }

  // The input in pieces that can be read apart: every piece but the first begins at a line
  // that is exactly "<Exchange", and a piece holds at least `size` bytes unless the input ends
  // first. Each piece is raw text, line ends included, for a reader of its own (FromText).
  // kEnd, with `piece` empty, when nothing is left. When `limit` bytes pass without a start line
  // to cut at (one huge exchange, or a file that is not an IKEv2 log) the bytes are given back
  // and kTooLong returned: the rest is then read line by line from this reader, whose memory
  // stays bounded. Used from the start of the input, before any ReadLine.
  enum class Run { kPiece, kEnd, kTooLong };
  // The block buffer of an in-memory reader, given back for reuse once its lines are read.
  std::string ReleaseText() { return std::move(data_); }
  Run ReadExchangeRun(std::string& piece, std::size_t size, std::size_t limit);
  // The input's size when known before reading (see ByteSource::SizeHint); 0 when not.
  std::uint64_t SizeHint() const { return source_ ? source_->SizeHint() : data_.size(); }

  // Called after each block read from the file.
  void SetProgress(ReadProgress progress) { progress_ = std::move(progress); }

 private:
  LogLineReader() = default;
  // Makes data available at pos_; false when the input is exhausted.
  bool Fill();
  // Appends at least `want` more bytes of the input to `piece`, read straight into it: what is
  // left of the block buffer first, then from the source. False when nothing is left.
  bool AppendToPiece(std::string& piece, std::size_t want);
  // A CR ended the previous line at a block boundary: drop the LF that belongs to it.
  void SettleLineEnd();

  std::shared_ptr<ByteSource> source_;
  std::string data_;          // the block buffer, or the whole text for in-memory input
  std::size_t pos_ = 0;
  std::size_t end_ = 0;
  bool exhausted_ = false;    // the source has nothing beyond data_[pos_, end_)
  bool pendingCR_ = false;    // the last line ended in CR that was the last byte of a block
  std::uint64_t bytesRead_ = 0;
  std::uint64_t blockStart_ = 0;  // offset of data_[0] in the whole input
  std::uint64_t lineBegin_ = 0;
  std::uint64_t lineEnd_ = 0;
  std::string carry_;         // ReadExchangeRun: the start of the next piece, already read
  ReadProgress progress_;
};

// The current line of a reader, passed between the IKEv2 parsers so that each one can look at
// the line its caller stopped on.
//
// While an exchange is read (EnterExchange) the cursor treats a line that is exactly
// "<Exchange" as the end of the input and keeps that line for the next exchange: an exchange
// whose closing tags are missing then ends where the next one begins instead of swallowing it.
class LineCursor {
 public:
  explicit LineCursor(LogLineReader& reader) : reader_(reader) {}

  // Reads the next line. False (and an empty line) at the end of the input, or at a kept
  // exchange start line while inside an exchange.
  bool Next();
  // Valid until the next line is read.
  std::string_view Line() const { return line_; }
  // Reads the current line as an element line (ScanElement); the views last until the next
  // line is read.
  bool Element(std::string_view& tag, std::string_view& value) { return ScanElement(line_, tag, value, joined_); }
  // The last Next() delivered a line.
  bool HasLine() const { return hasLine_; }
  // The current line's offset in the whole input, and the offset just past the last line
  // delivered (where what has been read ends).
  std::uint64_t LineBegin() const { return lineBegin_; }
  std::uint64_t ReadEnd() const { return readEnd_; }
  // Nothing is left to read: no kept start line and the reader is at its end.
  bool AtEnd() { return !keptStart_ && reader_.AtEnd(); }

  void EnterExchange() { inExchange_ = true; }
  void LeaveExchange() { inExchange_ = false; }

  static constexpr std::string_view kExchangeStart = "<Exchange";

 private:
  LogLineReader& reader_;
  std::string_view line_;  // in the reader's block buffer, in spill_, or a constant
  std::string spill_;
  std::string joined_;  // the value of a line with repeated elements
  bool hasLine_ = false;
  bool inExchange_ = false;
  bool keptStart_ = false;
  std::uint64_t lineBegin_ = 0;
  std::uint64_t readEnd_ = 0;
  std::uint64_t keptBegin_ = 0;  // the kept start line's offsets
  std::uint64_t keptEnd_ = 0;
};

}  // namespace quillon
