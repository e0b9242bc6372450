// The packets of a log tree as a pcapng capture, for Wireshark and tshark: the IKEv1 packets
// rebuilt whole, the IKEv2 messages as their headers (export/IkeV2Packet.h).
//
// pcapng is a sequence of blocks (a section header, an interface description, then one
// enhanced packet block per packet), each framed by its type and its total length and padded
// to 32 bits, written here little-endian. The one interface carries raw IPv4 (link type 101):
// each packet is an IPv4 and UDP header around the ISAKMP message rebuilt from the log
// (export/IsakmpPacket.h), from the gateway (where the log names its address, else 0.0.0.0) to
// the peer or back by the packet's direction, on port 500, or on 4500 with the four zero bytes
// that mark IKE on the NAT-T port when the packet-debug record names that port. The time stamp
// is the packet line's date and time, read as UTC since the log names no zone. Each packet
// carries a comment naming its node ("PEER > TUNNEL > NEGOTIATION > PACKET") and what the
// rebuilt packet lacks, and its direction in the block's flags.
#pragma once

#include <cstdint>

#include "model/ByteSink.h"

namespace quillon {

class LogNode;

namespace hand_over {

struct PacketCaptureCounts {
  std::uint64_t written = 0;      // packets in the capture
  std::uint64_t incomplete = 0;   // ... of them with something the log did not give (see their comments)
};

// Writes the packets at or below `scope` (the log root, a peer, a tunnel, a negotiation or a
// packet) in tree order. False when the sink failed.
bool WritePacketCapture(const LogNode& scope, ByteSink& sink, PacketCaptureCounts& counts);

}  // namespace hand_over
}  // namespace quillon
