// One "##### BEGIN PACKET DEBUG #####" block of the debug log: the daemon's summary of a
// packet it sent or received (peer, cookies, message ID and free "label: value" lines).
#pragma once

#include <cstdint>
#include <string>

#include "ikev1/payloads/ByteList.h"

namespace quillon {

class DebugLogReader;

class PacketDebugRecord {
 public:
  // Reads the block; the reader stands just after the token "DEBUG" of the opening line.
  // Leaves the reader abandoned: the packet scan that met the block ends without a packet.
  void Read(DebugLogReader& reader);
  // Appends the block as the daemon writes it.
  void Write(std::string& out) const;

  // The key of the table of received records waiting for their packet: cookie and message ID.
  static std::string Key(const ByteList& initCookie, const ByteList& msgId);
  std::string Key() const { return Key(initCookie, msgId); }

  bool sent = true;
  std::uint32_t peer = 0;
  std::uint32_t peerIP = 0;
  ByteList initCookie;
  ByteList msgId;
  std::string text;  // the further lines, each "\r\n" + label + tabs + value
};

// The tab run after a label in detail texts: three tabs below 8 characters, two below 16,
// else one.
inline const char* LabelTabs(std::size_t labelLength) {
  return labelLength < 8 ? "\t\t\t" : labelLength < 16 ? "\t\t" : "\t";
}

}  // namespace quillon
