// The token reader over an IKEv1 debug log.
//
// The daemon dumps each packet as labelled blocks of whitespace-separated tokens ("InitCookie:",
// hex bytes, "NextPld:", ...). Every IKEv1 parser reads through this class. On top of plain
// tokenising it keeps three flags that make the parsers forgiving:
//  - push-back: the current token is returned once more by the next read;
//  - restart:   the daemon restarted ("daemon" / "started" was read); no new input is read
//               until the flag is cleared, so the loader can tell every peer;
//  - abandon:   the current packet cannot be completed (e.g. a label search ran into the next
//               packet); no new input is read until the loader clears it.
// While either stop flag is set, every read returns the current token again.
//
// The input is read in large blocks from a byte source (the file, or text held in memory); a
// token holds at most 2047 characters (longer runs come back in 2047-character pieces), a line
// read with ReadLineRest at most 2047 (the rest of a longer line is skipped). No read ever
// stalls on one position, so any input reaches AtEnd().
//
// Positions are offsets in the whole input. A reader may start at any offset, and a reader
// may instead run over stretches of text held in memory (the loader's pieces): when those
// stretches are not the end of the log, meeting their end is an overrun, not the end.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "ikev1/payloads/ByteList.h"
#include "model/ByteSource.h"
#include "model/CannotOpenLog.h"
#include "model/ReadProgress.h"

namespace quillon {


// Where the packet scan stands between two packets: the offset of the next token, and whether
// the reader is in the state a fresh reader would be in there (no flag set, no token held back
// other than the one at that offset). A fresh reader started at a clean point reads on exactly
// as the reader that reached it.
struct SyncPoint {
  std::uint64_t position = 0;
  bool clean = false;
};
class DebugLogReader {
 public:
  static constexpr std::size_t kMaxToken = 2047;

  // Opens the file (read-only, binary). Throws CannotOpenLog when it cannot be opened.
  explicit DebugLogReader(const std::string& path);
  // Reads from text held in memory (tests, fuzzing).
  static DebugLogReader FromText(std::string text);
  // Reads the source from `offset` on.
  DebugLogReader(std::shared_ptr<ByteSource> source, std::uint64_t offset);
  // Reads the texts one after the other, the first from its start, which is `offset` in the
  // whole input. `endsLog`: the texts run to the end of the log; otherwise reading past them
  // is an overrun.
  DebugLogReader(std::vector<std::shared_ptr<const std::string>> texts, std::uint64_t offset, bool endsLog);

  DebugLogReader(DebugLogReader&&) noexcept;
  DebugLogReader& operator=(DebugLogReader&&) noexcept;
  ~DebugLogReader();

  // An attempt to read met the end of the input.
  bool AtEnd() const { return eof_; }

  // The next token, or the current one again while a flag holds the reader. The reference
  // stays valid until the next read.
  const std::string& ReadToken() {
    ReadTokenView();
    Materialize();
    return token_;
  }
  // The same, as a view that stays valid until the next read: for the callers that only look
  // at the token, which then is not copied out of the read buffer.
  std::string_view ReadTokenView();
  void PushBack() { pushedBack_ = true; }
  void ClearPushBack() { pushedBack_ = false; }
  const std::string& CurrentToken() const {
    Materialize();
    return token_;
  }

  // Reads up to 100 tokens looking for `label`; stops early at the start of the next packet,
  // which is pushed back and abandons the current one.
  void SeekLabel(std::string_view label);
  // The next token as a hexadecimal number (as strtoul with base 16 on a 32-bit unsigned long);
  // 0xFFFFFFFF when it is not one or a flag holds the reader. A failed token stays current.
  std::uint32_t ReadHexNumber();
  // Hex tokens in a row, across line ends, up to the first token that is not one (pushed back).
  ByteList ReadHexBytes();
  // The rest of the current line without its line end (and without a trailing CR); valid until
  // the next read.
  const std::string& ReadLineRest();
  void SkipTokens(int count);
  void SkipWhitespace();
  // Skips to the next payload-block keyword, packet start, "#####" or restart; returns the
  // token that stopped it (empty while a flag holds the reader), valid until the next read.
  const std::string& SkipToBlockKeyword();

  bool RestartSeen() const { return restartSeen_; }
  void SetRestartSeen() {
    Materialize();
    restartSeen_ = true;
  }
  void ClearRestartSeen() { restartSeen_ = false; }
  bool IsAbandoned() const { return abandoned_; }
  // A flag holds the reader (abandon or restart): every read returns the current token again.
  bool IsStopped() const { return abandoned_ || restartSeen_; }
  void Abandon() {
    Materialize();
    abandoned_ = true;
  }
  void ClearAbandon() { abandoned_ = false; }
  const std::string& RestartText() const { return restartText_; }
  void SetRestartText(std::string text) { restartText_ = std::move(text); }

  // Called after each block read from the file.
  void SetProgress(ReadProgress progress) { progress_ = std::move(progress); }
  const ReadProgress& Progress() const { return progress_; }

  // Bytes consumed so far (progress reporting, benchmarks).
  std::uint64_t Position() const { return consumedBefore_ + pos_; }
  // Offset of the current token in the whole input; for a token read as the rest of a line,
  // where reading stands.
  std::uint64_t TokenStart() const { return tokenStart_ != kNoStart ? tokenStart_ : Position(); }
  // The source this reader reads, if it reads one (null over texts in memory).
  const std::shared_ptr<ByteSource>& Source() const { return source_; }
  // A reader over texts met their end while the log goes on: what it read last is incomplete.
  bool Overrun() const { return overrun_; }
  // Where the next token starts, and whether the reader is clean there (see SyncPoint). Only
  // whitespace is consumed. Meant for the packet scan's top, where the next read is a token.
  SyncPoint Sync();

  // ---- token tests --------------------------------------------------------------------------
  // "debugIsakmpHdr:" or a "+++++++" separator line: the start of a packet.
  static bool IsHeaderStart(std::string_view t);
  // Whether the token holds a "+++++++" separator. Seven '+' in a row cover a position of
  // every remainder modulo seven, so a token without a '+' at positions 6, 13, 20, ... holds
  // none: most tokens are told in a look or two, without a search.
  static bool HasSeparator(std::string_view t);
  static bool IsBlockTerminator(std::string_view t);
  static bool IsRestartToken(std::string_view t) { return t == "daemon" || t == "started"; }
  static bool IsBlockKeyword(std::string_view t) { return BlockKeywordCode(t) >= 0; }
  static bool IsDebugMarker(std::string_view t) { return t == "#####"; }
  // The code of a payload-block keyword (its row in the block table of PayloadFactory.h), -1
  // for any other token.
  static int BlockKeywordCode(std::string_view t);

  // Converts a whole token as strtoul(token, &end, 16) on a 32-bit unsigned long does;
  // 0xFFFFFFFF when the token is empty or not entirely a number.
  static std::uint32_t ParseHexToken(std::string_view token);

 private:
  static constexpr std::uint64_t kNoStart = ~std::uint64_t{0};

  DebugLogReader();
  void ReadRawToken();
  bool Refill();
  // A token that lies wholly in the read buffer is left there (copying each token was a good
  // part of reading them); it is copied into token_ only when a caller asks for it as a string
  // or the buffer is about to change (a refill, a move). Token() is the current token either way.
  void Materialize() const {
    if (!tokenInBuffer_) return;
    token_.assign(buf_ + tokenAt_, tokenLength_);
    tokenInBuffer_ = false;
  }
  std::string_view Token() const {
    return tokenInBuffer_ ? std::string_view(buf_ + tokenAt_, tokenLength_) : std::string_view(token_);
  }
  void SetTokenInBuffer(std::size_t at, std::size_t length) {
    tokenInBuffer_ = true;
    tokenAt_ = at;
    tokenLength_ = length;
  }

  std::shared_ptr<ByteSource> source_;
  std::vector<std::shared_ptr<const std::string>> texts_;  // read instead of a source
  std::size_t nextText_ = 0;
  bool textsEndLog_ = true;
  bool overrun_ = false;
  std::vector<char> storage_;   // the block buffer for a source
  const char* buf_ = nullptr;
  std::size_t pos_ = 0;
  std::size_t end_ = 0;
  std::uint64_t consumedBefore_ = 0;  // offset of buf_[0] in the whole input
  bool eof_ = false;

  mutable std::string token_;
  mutable bool tokenInBuffer_ = false;  // see Materialize()
  std::size_t tokenAt_ = 0;
  std::size_t tokenLength_ = 0;
  // Offset of the current token when it came whole from the token scan; kNoStart for a line
  // or a token put together otherwise (such a token held back is no clean sync point).
  std::uint64_t tokenStart_ = kNoStart;
  ByteList hexScratch_;  // ReadHexBytes gathers here; its capacity is reused
  bool pushedBack_ = false;
  bool restartSeen_ = false;
  bool abandoned_ = false;
  std::string restartText_;
  ReadProgress progress_;
};

// Reads one dump at the reader's position. The daemon writes a line starting with the token
// "Length" before some dumps (certificate data); when `lengthNote` is given, such a line is
// kept there as "Length" + the rest of the line + "\r\n\r\n", as the detail text shows it.
ByteList ReadByteList(DebugLogReader& reader, std::string* lengthNote = nullptr);

}  // namespace quillon
