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
// The file is read in large blocks; a token holds at most 2047 characters (longer runs come
// back in 2047-character pieces), a line read with ReadLineRest at most 2047 (the rest of a
// longer line is skipped). No read ever stalls on one position, so any input reaches AtEnd().
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "ikev1/payloads/ByteList.h"
#include "model/ReadProgress.h"

namespace quillon {

// Raised when a log file cannot be opened for reading.
class WrongFormat : public std::runtime_error {
 public:
  explicit WrongFormat(const std::string& what = std::string()) : std::runtime_error(what) {}
};

class PacketDebugTable;

class DebugLogReader {
 public:
  static constexpr std::size_t kMaxToken = 2047;

  // Opens the file (read-only, binary). Throws WrongFormat when it cannot be opened.
  explicit DebugLogReader(const std::string& path);
  // Reads from text held in memory (tests, fuzzing).
  static DebugLogReader FromText(std::string text);

  DebugLogReader(DebugLogReader&&) noexcept;
  DebugLogReader& operator=(DebugLogReader&&) noexcept;
  ~DebugLogReader();

  // An attempt to read met the end of the input.
  bool AtEnd() const { return eof_; }

  // The next token, or the current one again while a flag holds the reader. The reference
  // stays valid until the next read.
  const std::string& ReadToken();
  void PushBack() { pushedBack_ = true; }
  void ClearPushBack() { pushedBack_ = false; }
  const std::string& CurrentToken() const { return token_; }

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
  void SetRestartSeen() { restartSeen_ = true; }
  void ClearRestartSeen() { restartSeen_ = false; }
  bool IsAbandoned() const { return abandoned_; }
  void Abandon() { abandoned_ = true; }
  void ClearAbandon() { abandoned_ = false; }
  const std::string& RestartText() const { return restartText_; }
  void SetRestartText(std::string text) { restartText_ = std::move(text); }

  // The table of received packet-debug records of the load this reader serves (not owned;
  // null when the caller keeps none). Messages look their record up there once loaded.
  PacketDebugTable* PacketDebugRecords() const { return packetDebugTable_; }
  void SetPacketDebugRecords(PacketDebugTable* table) { packetDebugTable_ = table; }

  // Called after each block read from the file.
  void SetProgress(ReadProgress progress) { progress_ = std::move(progress); }

  // Bytes consumed so far (progress reporting, benchmarks).
  std::uint64_t Position() const { return consumedBefore_ + pos_; }

  // ---- token tests --------------------------------------------------------------------------
  // "debugIsakmpHdr:" or a "+++++++" separator line: the start of a packet.
  static bool IsHeaderStart(std::string_view t);
  static bool IsBlockTerminator(std::string_view t);
  static bool IsRestartToken(std::string_view t) { return t == "daemon" || t == "started"; }
  static bool IsBlockKeyword(std::string_view t) { return BlockKeywordCode(t) >= 0; }
  static bool IsDebugMarker(std::string_view t) { return t == "#####"; }
  // The position of a payload-block keyword in the keyword table, -1 for any other token.
  static int BlockKeywordCode(std::string_view t);
  static std::string_view BlockKeyword(int code);
  static constexpr int kBlockKeywordCount = 19;

  // Converts a whole token as strtoul(token, &end, 16) on a 32-bit unsigned long does;
  // 0xFFFFFFFF when the token is empty or not entirely a number.
  static std::uint32_t ParseHexToken(std::string_view token);

 private:
  DebugLogReader();
  void ReadRawToken();
  bool Refill();

  std::FILE* file_ = nullptr;
  std::vector<char> storage_;   // the block buffer, or the whole text for in-memory input
  const char* buf_ = nullptr;
  std::size_t pos_ = 0;
  std::size_t end_ = 0;
  std::uint64_t consumedBefore_ = 0;
  bool eof_ = false;

  std::string token_;
  ByteList hexScratch_;  // ReadHexBytes gathers here; its capacity is reused
  bool pushedBack_ = false;
  bool restartSeen_ = false;
  bool abandoned_ = false;
  std::string restartText_;
  PacketDebugTable* packetDebugTable_ = nullptr;
  ReadProgress progress_;
};

}  // namespace quillon
