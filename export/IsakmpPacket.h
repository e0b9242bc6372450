// An IKEv1 packet as it went over the wire, rebuilt from what the debug log holds of it.
//
// The daemon logs every field of the ISAKMP header and of each payload (the generic payload
// header, the SA with its proposals, transforms and data attributes, the key material, the
// identities, certificates, notifications, deletes, vendor IDs, NAT-T and configuration
// payloads), so the packet can be put together again byte by byte: what Wireshark reads is
// then the negotiation as the peer saw it, with two differences that the notes name. The log
// holds the payloads after decryption, so the encryption flag is cleared; and where the log
// lacks a part (a vendor ID logged by its name only, a hash the daemon logged before computing
// it, a block cut by the next packet) the part is filled with zeros to its logged length.
//
// Lengths are taken from the log where they agree with what is rebuilt; a length that does not
// (a damaged block, a payload the reader dropped) is replaced by the rebuilt one, so that the
// packet still dissects, and a note says so.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quillon {

class LogNode;

namespace hand_over {

struct RebuiltPacket {
  std::string bytes;               // the ISAKMP message, from the initiator cookie on
  std::vector<std::string> notes;  // what differs from the wire or is missing, one per line
  bool encryptionCleared = false;  // the header's encryption flag was set
  bool created = false;            // the local daemon sent it (else it received it)
  bool natTraversal = false;       // the packet-debug record names port 4500
  std::uint32_t localAddress = 0;  // the gateway's own address where the log names it, else 0
  std::uint32_t peerAddress = 0;   // the peer's address the packet went to or came from
  std::int64_t seconds = 0;        // the packet line's date and time (as logged), 0 when unreadable
};

// The node of an IKEv1 packet (a message, or an informational exchange, which is its own
// packet): a node whose header is its first child. Null for every other node.
const LogNode* IKEv1PacketHeader(const LogNode& node);

// Rebuilds the packet of `packet` (a node IKEv1PacketHeader accepts). False for another node.
bool RebuildIKEv1Packet(const LogNode& packet, RebuiltPacket& out);

}  // namespace hand_over
}  // namespace quillon
