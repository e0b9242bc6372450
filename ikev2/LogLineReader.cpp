#include "ikev2/LogLineReader.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>

#include "model/CannotOpenLog.h"

namespace quillon {

namespace {

// The first LF or CR in [begin, stop), or stop. Eight bytes per step: a log line is a few dozen
// bytes, for which two library searches (one per character) cost more in calls than in looking.
const char* LineEndIn(const char* begin, const char* stop) {
  constexpr std::uint64_t kOnes = 0x0101010101010101ull;
  constexpr std::uint64_t kHighs = 0x8080808080808080ull;
  const char* p = begin;
  for (; stop - p >= 8; p += 8) {
    std::uint64_t word;
    std::memcpy(&word, p, 8);
    // A byte of x is zero exactly where the word holds the character; the lowest flagged byte
    // is the first such (flags above a true zero may be false, never those below it).
    const std::uint64_t lf = word ^ (kOnes * '\n');
    const std::uint64_t cr = word ^ (kOnes * '\r');
    const std::uint64_t found = ((lf - kOnes) & ~lf & kHighs) | ((cr - kOnes) & ~cr & kHighs);
    if (found != 0) return p + std::countr_zero(found) / 8;
  }
  while (p < stop && *p != '\n' && *p != '\r') ++p;
  return p;
}

}  // namespace

LogLineReader::LogLineReader(const std::string& path) {
  std::string error;
  source_ = FileSource::Open(path, error);
  if (!source_) throw CannotOpenLog(path);
  data_.resize(kBlockSize);
}

LogLineReader::LogLineReader(std::shared_ptr<ByteSource> source) : source_(std::move(source)) {
  data_.resize(kBlockSize);
}

LogLineReader LogLineReader::FromText(std::string text, std::uint64_t offset) {
  LogLineReader reader;
  reader.blockStart_ = offset;
  reader.data_ = std::move(text);
  reader.end_ = reader.data_.size();
  reader.exhausted_ = true;
  return reader;
}

bool LogLineReader::Fill() {
  if (pos_ < end_) return true;
  if (exhausted_ || !source_) {
    exhausted_ = true;
    return false;
  }
  const std::size_t count = source_->ReadAt(bytesRead_, data_.data(), data_.size());
  blockStart_ += end_;
  pos_ = 0;
  end_ = count;
  bytesRead_ += count;
  if (progress_ && count != 0) progress_(bytesRead_);
  if (count == 0) {  // the end, or a read error that the source keeps for the loader to report
    exhausted_ = true;
    return false;
  }
  return true;
}

void LogLineReader::SettleLineEnd() {
  if (!pendingCR_) return;
  pendingCR_ = false;
  if (Fill() && data_[pos_] == '\n') ++pos_;
}

bool LogLineReader::ReadLine(std::string& line) {
  std::string_view view;
  const bool read = ReadLine(view, line);
  if (view.data() != line.data()) line.assign(view);
  return read;
}

bool LogLineReader::ReadLine(std::string_view& line, std::string& spill) {
  line = {};
  spill.clear();
  SettleLineEnd();
  if (!Fill()) return false;
  lineBegin_ = blockStart_ + pos_;
  bool spilled = false;
  for (;;) {
    if (!Fill()) {  // the last line of the file has no line end
      lineEnd_ = blockStart_ + pos_;
      line = spill;
      return true;
    }
    const char* const begin = data_.data() + pos_;
    const char* const stop = data_.data() + end_;
    const char* const p = LineEndIn(begin, stop);
    const std::size_t length = static_cast<std::size_t>(p - begin);
    if (!spilled && p != stop) {
      line = std::string_view(begin, std::min(length, kMaxLineLength));  // the usual line: in place
    } else {
      // Part of a line that runs on past the block: the block buffer is about to be refilled.
      if (spill.size() < kMaxLineLength) spill.append(begin, std::min(length, kMaxLineLength - spill.size()));
      spilled = true;
      line = spill;
    }
    pos_ += length;
    if (p == stop) continue;  // the line goes on in the next block
    ++pos_;
    if (*p == '\r') {
      if (pos_ < end_) {
        if (data_[pos_] == '\n') ++pos_;
      } else {
        pendingCR_ = true;  // the LF, if any, is in the next block
      }
    }
    lineEnd_ = blockStart_ + pos_;
    return true;
  }
}

std::string LogLineReader::ReadLine() {
  std::string line;
  ReadLine(line);
  return line;
}

bool LogLineReader::AtEnd() {
  SettleLineEnd();
  return !Fill();
}

namespace {

// Offset of the first line, at or after `from`, that is exactly "<Exchange": it follows a line
// end and is followed by one. npos when none is complete within `text`; a candidate whose line
// end is not read yet is not taken.
std::size_t FindStartLine(std::string_view text, std::size_t from) {
  constexpr std::string_view kStart = LineCursor::kExchangeStart;
  for (std::size_t at = text.find(kStart, from); at != std::string_view::npos; at = text.find(kStart, at + 1)) {
    if (at == 0) continue;
    const char before = text[at - 1];
    const std::size_t after = at + kStart.size();
    if ((before == '\n' || before == '\r') && after < text.size() && (text[after] == '\n' || text[after] == '\r'))
      return at;
  }
  return std::string_view::npos;
}

}  // namespace

LogLineReader::Run LogLineReader::ReadExchangeRun(std::string& piece, std::size_t size, std::size_t limit) {
  // `piece` may be a buffer handed back from an earlier piece: its room is reused.
  piece.assign(carry_);
  carry_.clear();
  std::size_t searchFrom = 0;
  for (;;) {
    if (piece.size() >= size) {
      // Cut at the first start line past the wanted size: its line and what follows belong to
      // the next piece.
      const std::size_t at = FindStartLine(piece, std::max(searchFrom, size));
      if (at != std::string::npos) {
        carry_.assign(piece, at, std::string::npos);
        piece.resize(at);
        return Run::kPiece;
      }
      if (piece.size() >= limit) {
        // Nowhere to cut: what was read becomes the block the lines are read from, followed by
        // the rest of the file.
        const std::size_t blockSize = std::max(data_.size(), kBlockSize);
        blockStart_ = blockStart_ + end_ - piece.size();  // every byte read so far is in the piece
        data_ = std::move(piece);
        pos_ = 0;
        end_ = data_.size();
        if (data_.size() < blockSize) data_.resize(blockSize);
        piece.clear();
        return Run::kTooLong;
      }
      // A start line may straddle the end of what is read so far: look again from just before.
      const std::size_t overlap = LineCursor::kExchangeStart.size() + 1;
      searchFrom = piece.size() > overlap ? piece.size() - overlap : 0;
    }
    // Up to the wanted size in one read; past it in blocks, so that what is read beyond the
    // cut and carried over to the next piece stays small.
    if (!AppendToPiece(piece, piece.size() < size ? size - piece.size() : kBlockSize)) break;
  }
  return piece.empty() ? Run::kEnd : Run::kPiece;
}

bool LogLineReader::AppendToPiece(std::string& piece, std::size_t want) {
  if (pos_ < end_) {
    piece.append(data_, pos_, end_ - pos_);
    pos_ = end_;
    return true;
  }
  if (exhausted_ || !source_) {
    exhausted_ = true;
    return false;
  }
  want = std::max(want, kBlockSize);
  const std::size_t old = piece.size();
  piece.resize(old + want);
  const std::size_t count = source_->ReadAt(bytesRead_, piece.data() + old, want);
  piece.resize(old + count);
  // The block buffer stays empty, at the end of what is read.
  bytesRead_ += count;
  blockStart_ = bytesRead_;
  pos_ = end_ = 0;
  if (progress_ && count != 0) progress_(bytesRead_);
  if (count == 0) {  // the end, or a read error that the source keeps for the loader to report
    exhausted_ = true;
    return false;
  }
  return true;
}

bool LineCursor::Next() {
  if (keptStart_) {
    if (inExchange_) {
      line_ = {};
      hasLine_ = false;
      return false;
    }
    keptStart_ = false;
    line_ = kExchangeStart;
    hasLine_ = true;
    lineBegin_ = keptBegin_;
    readEnd_ = keptEnd_;
    return true;
  }
  hasLine_ = reader_.ReadLine(line_, spill_);
  if (hasLine_ && inExchange_ && line_ == kExchangeStart) {
    keptStart_ = true;
    keptBegin_ = reader_.LineBegin();
    keptEnd_ = reader_.LineEnd();
    line_ = {};
    hasLine_ = false;
  } else if (hasLine_) {
    lineBegin_ = reader_.LineBegin();
    readEnd_ = reader_.LineEnd();
  }
  return hasLine_;
}

}  // namespace quillon
