// One "##### BEGIN PACKET DEBUG #####" block of the debug log: the daemon's summary of a
// packet it sent or received (peer, cookies, message ID and free "label: value" lines).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "ikev1/payloads/ByteList.h"
#include "model/NodeArena.h"

namespace quillon {

class DebugLogReader;

// What ties a packet-debug record to its packet: the initiator cookie and the message ID, and,
// where records of several peers share one map, the peer's address. Short lists, stored inline.
struct PacketDebugKey {
  std::uint32_t address = 0;
  ByteList initCookie;
  ByteList msgId;

  friend bool operator==(const PacketDebugKey&, const PacketDebugKey&) = default;
};

struct PacketDebugKeyHash {
  std::size_t operator()(const PacketDebugKey& key) const {
    std::size_t h = key.address;
    for (std::uint32_t b : key.initCookie) h = h * 131 + b;
    h = h * 131 + 0x9e37u;  // keeps the two lists apart
    for (std::uint32_t b : key.msgId) h = h * 131 + b;
    return h ^ (h >> 29);
  }
};

class PacketDebugRecord : public ArenaPlaced<PacketDebugRecord> {
 public:
  // Reads the block; the reader stands just after the token "DEBUG" of the opening line.
  // Leaves the reader abandoned: the packet scan that met the block ends without a packet.
  void Read(DebugLogReader& reader);
  // Appends the block as the daemon writes it; a block the end of the log cut short ends
  // where it was cut.
  void Write(std::string& out) const;
  // The end of the log cut the last line short: its label stopped before a token with a colon
  // and short of eight tokens, or its value (read from the next character that is no blank,
  // across line ends) is empty.
  bool CutByEnd() const;
  // A value read as the rest of its line holds "daemon": the reader takes that for a restart
  // and stops the block there, so it is the last line.
  bool StoppedByRestart() const;

  // The key of the table of received records waiting for their packet: cookie and message ID.
  static PacketDebugKey Key(const ByteList& initCookie, const ByteList& msgId) { return {0, initCookie, msgId}; }
  PacketDebugKey Key() const { return Key(initCookie, msgId); }

  bool sent = true;
  std::uint32_t peer = 0;
  std::uint32_t peerIP = 0;
  ByteList initCookie;
  ByteList msgId;
  std::pmr::string text{NodeResource()};  // the further lines, each "\r\n" + label + tabs + value
};

// Where a node's record goes in a written log. The loader takes a "Received:" record as the
// summary of the next packet with its cookie and message ID (the daemon logs it before the
// packet), and a "Sent:" record as that of the packet just read (logged after it), whichever
// way the packet itself went: so a record is written by its own direction, not the packet's.
inline void WriteRecordBeforePacket(const PacketDebugRecord* record, std::string& out) {
  if (record != nullptr && !record->sent) record->Write(out);
}
inline void WriteRecordAfterPacket(const PacketDebugRecord* record, std::string& out) {
  if (record != nullptr && record->sent) record->Write(out);
}

// The tab run after a label in detail texts: three tabs below 8 characters, two below 16,
// else one.
inline const char* LabelTabs(std::size_t labelLength) {
  return labelLength < 8 ? "\t\t\t" : labelLength < 16 ? "\t\t" : "\t";
}

}  // namespace quillon
