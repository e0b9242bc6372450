// A packet that has been read but not yet placed in the tree.
//
// Loading a packet has two halves. Reading needs only the packet itself: its header tells the
// family and the kind, and these choose the node that reads the payload blocks (a message of
// the packet's kind, or for an informational packet the exchange itself). Placing needs the
// tree: the peer, the tunnel and the open exchange the packet joins, and the table of received
// packet-debug records. Keeping the halves apart lets the loader read packets on other threads
// and place them in log order on its own.
#pragma once

#include <cstdint>
#include <memory>

#include "ikev1/log/Header.h"

namespace quillon {

class DebugLogReader;
class Exchange;
class Message;
class PacketDebugTable;

struct PreparedPacket {
  PreparedPacket();
  PreparedPacket(PreparedPacket&&) noexcept;
  PreparedPacket& operator=(PreparedPacket&&) noexcept;
  ~PreparedPacket();

  // The packet's header, wherever it is owned; null for no packet.
  Header* header = nullptr;
  // The header itself while no node has taken it (a packet of a kind no message stands for).
  std::unique_ptr<Header> heldHeader;
  // The message that read the payload blocks and owns the header ...
  std::unique_ptr<Message> message;
  // ... or, for an informational packet, the exchange that did.
  std::unique_ptr<Exchange> exchange;
};

// Reads the payload blocks that follow the header as a packet of the family reads them. A
// family no exchange stands for reads nothing; neither does a kind that numbers no packet.
PreparedPacket ReadPacket(std::uint32_t family, std::unique_ptr<Header> header, DebugLogReader& reader);
// The same for the family of the header's own kind; no packet for a null header.
PreparedPacket ReadPacket(std::unique_ptr<Header> header, DebugLogReader& reader);

}  // namespace quillon
