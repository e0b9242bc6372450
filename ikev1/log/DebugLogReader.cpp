#include "ikev1/log/DebugLogReader.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <utility>

#include "ikev1/payloads/PayloadFactory.h"

namespace quillon {

namespace {

constexpr std::size_t kBlockSize = 256 * 1024;

// The C locale's whitespace: blank, tab, line feed, vertical tab, form feed, carriage return.
constexpr std::array<bool, 256> MakeSpaceTable() {
  std::array<bool, 256> table{};
  table[' '] = table['\t'] = table['\n'] = table['\v'] = table['\f'] = table['\r'] = true;
  return table;
}
constexpr std::array<bool, 256> kSpace = MakeSpaceTable();

inline bool IsSpace(char c) { return kSpace[static_cast<unsigned char>(c)]; }

// Value of a hexadecimal digit, -1 for any other character.
constexpr std::array<signed char, 256> MakeHexTable() {
  std::array<signed char, 256> table{};
  for (auto& v : table) v = -1;
  for (int c = '0'; c <= '9'; ++c) table[static_cast<std::size_t>(c)] = static_cast<signed char>(c - '0');
  for (int c = 'a'; c <= 'f'; ++c) table[static_cast<std::size_t>(c)] = static_cast<signed char>(c - 'a' + 10);
  for (int c = 'A'; c <= 'F'; ++c) table[static_cast<std::size_t>(c)] = static_cast<signed char>(c - 'A' + 10);
  return table;
}
constexpr std::array<signed char, 256> kHexValue = MakeHexTable();

inline int HexValue(char c) { return kHexValue[static_cast<unsigned char>(c)]; }

// The end of the plain number at `start` (one to eight hex digits followed by whitespace, all
// before `end`), its value in `value`; `start` itself when no such number stands there.
inline std::size_t PlainNumberEnd(const char* buf, std::size_t start, std::size_t end, std::uint32_t& value) {
  value = 0;
  std::size_t p = start;
  int d = 0;
  while (p < end && p - start < 9 && (d = HexValue(buf[p])) >= 0) {
    value = (value << 4) | static_cast<std::uint32_t>(d);
    ++p;
  }
  return p > start && p - start <= 8 && p < end && IsSpace(buf[p]) ? p : start;
}

constexpr std::string_view kSeparator = "+++++++";

}  // namespace

// ---- DebugLogReader -----------------------------------------------------------------------------

DebugLogReader::DebugLogReader() { token_.reserve(kMaxToken + 1); }

namespace {

std::shared_ptr<FileSource> OpenOrThrow(const std::string& path) {
  std::string error;
  std::shared_ptr<FileSource> source = FileSource::Open(path, error);
  if (!source) throw CannotOpenLog(path);
  return source;
}

}  // namespace

DebugLogReader::DebugLogReader(const std::string& path) : DebugLogReader(OpenOrThrow(path), 0) {}

DebugLogReader DebugLogReader::FromText(std::string text) {
  return DebugLogReader(std::make_shared<TextSource>(std::move(text)), 0);
}

DebugLogReader::DebugLogReader(std::shared_ptr<ByteSource> source, std::uint64_t offset) : DebugLogReader() {
  source_ = std::move(source);
  storage_.resize(kBlockSize);
  buf_ = storage_.data();
  consumedBefore_ = offset;
}

DebugLogReader::DebugLogReader(std::vector<std::shared_ptr<const std::string>> texts, std::uint64_t offset,
                               bool endsLog)
    : DebugLogReader() {
  texts_ = std::move(texts);
  textsEndLog_ = endsLog;
  consumedBefore_ = offset;
}

DebugLogReader::DebugLogReader(DebugLogReader&& other) noexcept { *this = std::move(other); }

DebugLogReader& DebugLogReader::operator=(DebugLogReader&& other) noexcept {
  if (this == &other) return *this;
  other.Materialize();
  source_ = std::move(other.source_);
  texts_ = std::move(other.texts_);
  nextText_ = other.nextText_;
  textsEndLog_ = other.textsEndLog_;
  overrun_ = other.overrun_;
  const bool inStorage = other.buf_ == other.storage_.data();
  storage_ = std::move(other.storage_);
  // A block in storage moves with it; text in memory stays where it is.
  buf_ = inStorage ? storage_.data() : other.buf_;
  pos_ = other.pos_;
  end_ = other.end_;
  consumedBefore_ = other.consumedBefore_;
  eof_ = other.eof_;
  token_ = std::move(other.token_);
  tokenInBuffer_ = false;
  tokenStart_ = other.tokenStart_;
  pushedBack_ = other.pushedBack_;
  restartSeen_ = other.restartSeen_;
  abandoned_ = other.abandoned_;
  restartText_ = std::move(other.restartText_);
  progress_ = std::move(other.progress_);
  other.buf_ = nullptr;
  other.pos_ = other.end_ = 0;
  return *this;
}

DebugLogReader::~DebugLogReader() = default;

bool DebugLogReader::Refill() {
  Materialize();  // the buffer is about to change
  consumedBefore_ += end_;
  pos_ = end_ = 0;
  if (!source_) {
    // Texts in memory are read where they are.
    while (nextText_ < texts_.size()) {
      const std::string& text = *texts_[nextText_++];
      if (text.empty()) continue;
      buf_ = text.data();
      end_ = text.size();
      return true;
    }
    if (!textsEndLog_) overrun_ = true;
    return false;
  }
  end_ = source_->ReadAt(consumedBefore_, storage_.data(), storage_.size());
  if (progress_ && end_ != 0) progress_(consumedBefore_ + end_);
  return end_ != 0;
}

SyncPoint DebugLogReader::Sync() {
  const bool held = pushedBack_ || restartSeen_ || abandoned_;
  if (pushedBack_ && !restartSeen_ && !abandoned_ && tokenStart_ != kNoStart) return {tokenStart_, !eof_};
  if (!held) SkipWhitespace();
  return {Position(), !held && !eof_};
}

// Reads the next token into token_: skips whitespace, then takes at most kMaxToken
// non-whitespace characters. Meeting the end of the input sets the end state (as a stream does
// when it has to look past the last character).
void DebugLogReader::ReadRawToken() {
  tokenInBuffer_ = false;
  token_.clear();
  for (;;) {
    while (pos_ < end_ && IsSpace(buf_[pos_])) ++pos_;
    if (pos_ < end_) break;
    if (!Refill()) {
      eof_ = true;
      return;
    }
  }
  tokenStart_ = consumedBefore_ + pos_;
  // Usual case: the whole token lies inside the buffer.
  {
    const std::size_t start = pos_;
    const std::size_t limit = end_ - pos_ < kMaxToken ? end_ : pos_ + kMaxToken;
    std::size_t p = pos_;
    while (p < limit && !IsSpace(buf_[p])) ++p;
    if (p < end_ || p - start == kMaxToken) {
      SetTokenInBuffer(start, p - start);
      pos_ = p;
      return;
    }
  }
  for (;;) {
    const std::size_t start = pos_;
    const std::size_t room = kMaxToken - token_.size();
    const std::size_t limit = end_ - pos_ < room ? end_ : pos_ + room;
    while (pos_ < limit && !IsSpace(buf_[pos_])) ++pos_;
    token_.append(buf_ + start, pos_ - start);
    if (token_.size() == kMaxToken || pos_ < end_) return;
    if (!Refill()) {
      eof_ = true;
      return;
    }
  }
}

std::string_view DebugLogReader::ReadTokenView() {
  if (!pushedBack_ && !restartSeen_ && !abandoned_) ReadRawToken();
  const std::string_view t = Token();
  if (!restartSeen_ && (t.size() == 6 || t.size() == 7) && IsRestartToken(t)) SetRestartSeen();
  pushedBack_ = false;
  return t;
}

void DebugLogReader::SeekLabel(std::string_view label) {
  if (restartSeen_) return;
  for (int count = 1; !abandoned_; ++count) {
    const std::string_view t = ReadTokenView();
    if (IsHeaderStart(t)) {
      // The next packet starts here: leave it for the packet scan.
      pushedBack_ = true;
      abandoned_ = true;
    }
    if (t == label || eof_ || count >= 100 || restartSeen_) return;
  }
}

std::uint32_t DebugLogReader::ParseHexToken(std::string_view t) {
  // Usual case: one to eight plain hex digits.
  if (!t.empty() && t.size() <= 8) {
    std::uint32_t v = 0;
    std::size_t i = 0;
    for (; i < t.size(); ++i) {
      const int d = HexValue(t[i]);
      if (d < 0) break;
      v = (v << 4) | static_cast<std::uint32_t>(d);
    }
    if (i == t.size()) return v;
  }
  std::size_t i = 0;
  bool negative = false;
  if (i < t.size() && (t[i] == '+' || t[i] == '-')) negative = t[i++] == '-';
  // An "0x" prefix counts only when a hex digit follows it; otherwise strtoul stops after the 0.
  if (i + 2 < t.size() && t[i] == '0' && (t[i + 1] == 'x' || t[i + 1] == 'X') && HexValue(t[i + 2]) >= 0) i += 2;
  const std::size_t digits = i;
  std::uint64_t value = 0;
  for (; i < t.size(); ++i) {
    const int d = HexValue(t[i]);
    if (d < 0) return 0xFFFFFFFFu;
    // Past 32 bits strtoul reports overflow with ULONG_MAX; keep scanning for a bad digit.
    if (value <= 0xFFFFFFFFu) value = value * 16 + static_cast<unsigned>(d);
  }
  if (i == digits || value > 0xFFFFFFFFu) return 0xFFFFFFFFu;
  const auto v = static_cast<std::uint32_t>(value);
  return negative ? 0u - v : v;
}

std::uint32_t DebugLogReader::ReadHexNumber() {
  if (!pushedBack_ && !restartSeen_ && !abandoned_) {
    // Usual case: one to eight hex digits that lie wholly inside the buffer, followed by
    // whitespace, converted where they stand (see Materialize()). A text that is no such number
    // ("daemon" among them) takes the token read below.
    std::size_t start = pos_;
    while (start < end_ && IsSpace(buf_[start])) ++start;
    std::uint32_t value = 0;
    const std::size_t p = PlainNumberEnd(buf_, start, end_, value);
    if (p != start && value != 0xFFFFFFFFu) {
      pos_ = p;
      tokenStart_ = consumedBefore_ + start;
      SetTokenInBuffer(start, p - start);
      return value;
    }
  }
  if (!pushedBack_) {
    if (restartSeen_) return 0xFFFFFFFFu;
    if (!abandoned_) ReadRawToken();
  }
  const std::string_view t = Token();
  if (!restartSeen_ && t.size() == 6 && t == "daemon") SetRestartSeen();
  if (!restartSeen_ && !abandoned_) {
    pushedBack_ = false;
    return ParseHexToken(t);
  }
  return 0xFFFFFFFFu;
}

ByteList DebugLogReader::ReadHexBytes() {
  // The dump is gathered in the reader's own list, whose capacity is kept from dump to dump,
  // and copied out at its exact size: one allocation per stored list, none for short ones.
  ByteList& list = hexScratch_;
  list.clear();
  for (;;) {
    // Fast path for the bulk of a dump: plain tokens of one to eight hex digits that lie wholly
    // inside the buffer are converted straight from it. Anything else (a flag set, a token at
    // the buffer's edge, a non-hex character) goes through ReadHexNumber, which also leaves the
    // token that ends the list current.
    if (!pushedBack_ && !restartSeen_ && !abandoned_) {
      std::size_t p = pos_;
      // The bulk of the bulk: bytes of two digits, each followed by a blank.
      for (;;) {
        while (p < end_ && IsSpace(buf_[p])) ++p;
        if (end_ - p < 3) break;
        const int high = HexValue(buf_[p]);
        const int low = HexValue(buf_[p + 1]);
        if ((high | low) < 0 || !IsSpace(buf_[p + 2])) break;
        list.push_back(static_cast<std::uint32_t>(high << 4 | low));
        p += 3;
      }
      const std::size_t start = p;
      std::uint32_t value = 0;
      p = PlainNumberEnd(buf_, start, end_, value);
      if (p != start) {
        pos_ = p;
        if (value == 0xFFFFFFFFu) {  // stored as a failed number: keep the token current
          SetTokenInBuffer(start, p - start);
          tokenStart_ = consumedBefore_ + start;
          break;
        }
        list.push_back(value);
        continue;
      }
      pos_ = start;
      if (start < end_ && HexValue(buf_[start]) < 0 && buf_[start] != '+' && buf_[start] != '-') {
        // The usual end of a dump: the next label ("NextPld:") or the decimal length ("(60)"),
        // which cannot read as a number. Taken as the token that ends the list, as
        // ReadHexNumber takes it, without trying it as one.
        ReadRawToken();
        const std::string_view t = Token();
        if (t.size() == 6 && t == "daemon") SetRestartSeen();
        break;
      }
    }
    const std::uint32_t v = ReadHexNumber();
    if (v == 0xFFFFFFFFu || eof_ || restartSeen_) break;
    list.push_back(v);
  }
  PushBack();
  return list;  // a copy: the scratch list keeps its capacity
}

const std::string& DebugLogReader::ReadLineRest() {
  Materialize();
  if (!pushedBack_ && !restartSeen_ && !abandoned_) {
    tokenInBuffer_ = false;
    token_.clear();
    tokenStart_ = kNoStart;
    bool lineEnded = false;
    bool afterCr = false;  // a CR ended the last buffer: a LF opening the next belongs to it
    while (!lineEnded) {
      if (pos_ == end_ && !Refill()) {
        eof_ = !afterCr;  // a line that a CR ended at the end of the input was read whole
        break;
      }
      if (afterCr) {
        if (buf_[pos_] == '\n') ++pos_;
        break;
      }
      const std::size_t start = pos_;
      const void* nl = std::memchr(buf_ + pos_, '\n', end_ - pos_);
      std::size_t stop = nl != nullptr ? static_cast<std::size_t>(static_cast<const char*>(nl) - buf_) : end_;
      // A line may end in LF, CR LF or CR alone (an old editor's): a CR before the LF, or before
      // the end of the buffer, that no LF follows ends the line too.
      if (const void* cr = std::memchr(buf_ + start, '\r', stop - start); cr != nullptr) {
        const std::size_t at = static_cast<std::size_t>(static_cast<const char*>(cr) - buf_);
        if (at + 1 < stop || nl == nullptr) {
          token_.append(buf_ + start, std::min(at - start, kMaxToken - token_.size()));
          pos_ = at + 1;
          if (pos_ < end_) {
            if (buf_[pos_] == '\n') ++pos_;
            lineEnded = true;
          } else {
            afterCr = true;
          }
          continue;
        }
      }
      const std::size_t room = kMaxToken - token_.size();
      token_.append(buf_ + start, std::min(stop - start, room));
      pos_ = stop;
      if (nl != nullptr) {
        ++pos_;  // the line end is consumed, not stored
        lineEnded = true;
      }
      // Past the buffer's capacity the rest of the line is read and dropped.
    }
  }
  if (!restartSeen_ && token_.find("daemon") != std::string::npos) restartSeen_ = true;
  pushedBack_ = false;
  if (!token_.empty() && token_.back() == '\r') token_.pop_back();
  return token_;
}

void DebugLogReader::SkipTokens(int count) {
  for (int i = 0; i < count && !restartSeen_ && !abandoned_ && !eof_; ++i) ReadTokenView();
}

void DebugLogReader::SkipWhitespace() {
  for (;;) {
    while (pos_ < end_ && IsSpace(buf_[pos_])) ++pos_;
    if (pos_ < end_) return;
    if (!Refill()) {
      eof_ = true;
      return;
    }
  }
}

const std::string& DebugLogReader::SkipToBlockKeyword() {
  static const std::string kNone;
  if (restartSeen_ || abandoned_) return kNone;
  for (;;) {
    const std::string_view t = ReadTokenView();
    if (IsBlockKeyword(t) || IsHeaderStart(t) || eof_ || restartSeen_ || IsDebugMarker(t)) {
      Materialize();
      return token_;
    }
  }
}

bool DebugLogReader::IsHeaderStart(std::string_view t) {
  return t == "debugIsakmpHdr:" || HasSeparator(t);
}

bool DebugLogReader::IsBlockTerminator(std::string_view t) {
  return t == "#####" || t == "****" || HasSeparator(t);
}

bool DebugLogReader::HasSeparator(std::string_view t) {
  for (std::size_t at = kSeparator.size() - 1; at < t.size(); at += kSeparator.size())
    if (t[at] == '+') return t.find(kSeparator) != std::string_view::npos;
  return false;
}

int DebugLogReader::BlockKeywordCode(std::string_view t) { return BlockCodeOf(t); }

ByteList ReadByteList(DebugLogReader& reader, std::string* lengthNote) {
  // Compared as a view: its length first, no copy of the token.
  if (reader.ReadTokenView() == "Length") {
    const std::string& rest = reader.ReadLineRest();
    if (lengthNote != nullptr) *lengthNote = "Length" + rest + "\r\n\r\n";
  } else {
    reader.PushBack();
  }
  return reader.ReadHexBytes();
}

}  // namespace quillon
