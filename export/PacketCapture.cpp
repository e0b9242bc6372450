#include "export/PacketCapture.h"

#include <string>
#include <string_view>
#include <vector>

#include "export/IsakmpPacket.h"
#include "export/IkeV2Packet.h"
#include "ikev2/V2Exchange.h"
#include "model/IPv4.h"
#include "model/LogNode.h"
#include "model/NodeRoles.h"
#include "model/TreeRules.h"

namespace quillon::hand_over {
namespace {

constexpr std::uint32_t kLinkTypeRaw = 101;  // an IPv4 or IPv6 packet, no link header
constexpr std::uint16_t kOptionEnd = 0;
constexpr std::uint16_t kOptionComment = 1;
constexpr std::uint16_t kOptionShbUserApplication = 4;
constexpr std::uint16_t kOptionEpbFlags = 2;
constexpr std::uint32_t kEpbInbound = 1;
constexpr std::uint32_t kEpbOutbound = 2;
// The largest ISAKMP message one IPv4 datagram carries behind its 20-byte IP and 8-byte UDP
// headers.
constexpr std::size_t kMaxDatagram = 65535 - 28;

void Le16(std::string& out, std::uint32_t v) {
  out += static_cast<char>(v & 0xFF);
  out += static_cast<char>((v >> 8) & 0xFF);
}
void Le32(std::string& out, std::uint32_t v) {
  Le16(out, v & 0xFFFF);
  Le16(out, v >> 16);
}
void Be16(std::string& out, std::uint32_t v) {
  out += static_cast<char>((v >> 8) & 0xFF);
  out += static_cast<char>(v & 0xFF);
}
void Be32(std::string& out, std::uint32_t v) {
  Be16(out, v >> 16);
  Be16(out, v & 0xFFFF);
}
void Pad32(std::string& out) {
  while (out.size() % 4 != 0) out += '\0';
}

void Option(std::string& out, std::uint16_t code, std::string_view value) {
  Le16(out, code);
  Le16(out, static_cast<std::uint32_t>(value.size()));
  out += value;
  Pad32(out);
}

// A block: type, total length, body (padded), total length again.
void Block(std::string& out, std::uint32_t type, std::string body) {
  Pad32(body);
  const auto total = static_cast<std::uint32_t>(body.size() + 12);
  Le32(out, type);
  Le32(out, total);
  out += body;
  Le32(out, total);
}

// Log texts are single-byte; pcapng comments are UTF-8.
std::string Utf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    const auto b = static_cast<unsigned char>(c);
    if (b < 0x80) {
      out += c;
    } else {
      out += static_cast<char>(0xC0 | b >> 6);
      out += static_cast<char>(0x80 | (b & 0x3F));
    }
  }
  return out;
}

std::uint16_t IpChecksum(std::string_view header) {
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i + 1 < header.size(); i += 2)
    sum += static_cast<std::uint32_t>(static_cast<unsigned char>(header[i]) << 8 | static_cast<unsigned char>(header[i + 1]));
  while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<std::uint16_t>(~sum);
}

void SectionAndInterface(std::string& out, bool ikev2) {
  std::string shb;
  Le32(shb, 0x1A2B3C4D);  // byte-order magic
  Le16(shb, 1);           // version 1.0
  Le16(shb, 0);
  Le32(shb, 0xFFFFFFFF);  // section length not given
  Le32(shb, 0xFFFFFFFF);
  Option(shb, kOptionShbUserApplication, ikev2 ? "quillon (IKEv2 messages rebuilt from an XML log)"
                                                : "quillon (IKEv1 packets rebuilt from a debug log)");
  Option(shb, kOptionEnd, {});
  Block(out, 0x0A0D0D0A, std::move(shb));
  std::string idb;
  Le16(idb, kLinkTypeRaw);
  Le16(idb, 0);
  Le32(idb, 0);  // no snapshot length
  Option(idb, kOptionEnd, {});
  Block(out, 1, std::move(idb));
}

// The names of the levels the tree shows from the peer down to `packet`.
std::string NodePath(const LogNode& packet) {
  std::vector<const LogNode*> levels;
  for (const LogNode* node = &packet; node != nullptr && !node->IsLogRoot(); node = node->Parent()) {
    if (node == &packet || IsShownAsLevel(*node)) levels.push_back(node);
  }
  std::string path;
  for (auto it = levels.rbegin(); it != levels.rend(); ++it) {
    if (!path.empty()) path += " > ";
    path += (*it)->Caption();
  }
  return path;
}

// The peer node above `node` (a child of the log root); null outside a log tree.
const LogNode* PeerOf(const LogNode& node) {
  const LogNode* peer = &node;
  while (peer->Parent() != nullptr && !peer->Parent()->IsLogRoot()) peer = peer->Parent();
  return peer->Parent() != nullptr ? peer : nullptr;
}

void EnhancedPacket(std::string& out, const RebuiltPacket& packet, const LogNode& node) {
  std::string_view isakmp = packet.bytes;
  std::vector<std::string> notes = packet.notes;
  const std::size_t room = kMaxDatagram - (packet.natTraversal ? 4 : 0);
  if (isakmp.size() > room) {
    notes.push_back("cut to " + std::to_string(room) + " bytes to fit one IPv4 datagram");
    isakmp = isakmp.substr(0, room);
  }
  std::uint32_t peer = packet.peerAddress;
  // A peer logged by its index stands under the peer of its real address after regrouping.
  if (IsLowRangeAddress(peer) || peer == 0) {
    if (const LogNode* peerNode = PeerOf(node); peerNode != nullptr && !IsLowRangeAddress(PeerAddressOf(*peerNode)))
      peer = PeerAddressOf(*peerNode);
  }
  const std::uint32_t source = packet.created ? packet.localAddress : peer;
  const std::uint32_t destination = packet.created ? peer : packet.localAddress;
  const std::uint32_t port = packet.natTraversal ? 4500 : 500;
  const std::size_t udpLength = 8 + (packet.natTraversal ? 4 : 0) + isakmp.size();

  std::string frame;
  frame.reserve(20 + udpLength);
  frame += '\x45';  // IPv4, 20-byte header
  frame += '\0';
  Be16(frame, static_cast<std::uint32_t>(20 + udpLength));
  Be32(frame, 0);  // identification, no fragment
  frame += '\x40';  // time to live 64
  frame += '\x11';  // UDP
  Be16(frame, 0);
  Be32(frame, source);
  Be32(frame, destination);
  const std::uint16_t checksum = IpChecksum(frame);
  frame[10] = static_cast<char>(checksum >> 8);
  frame[11] = static_cast<char>(checksum & 0xFF);
  Be16(frame, port);
  Be16(frame, port);
  Be16(frame, static_cast<std::uint32_t>(udpLength));
  Be16(frame, 0);  // no UDP checksum (allowed over IPv4)
  if (packet.natTraversal) Be32(frame, 0);  // the non-ESP marker
  frame += isakmp;

  std::string comment = NodePath(node);
  if (packet.encryptionCleared)
    comment += "\nThe encryption flag is cleared: the log holds the payloads after decryption.";
  for (const std::string& note : notes) comment += "\n" + note;

  std::string epb;
  const std::uint64_t micros = packet.seconds > 0 ? static_cast<std::uint64_t>(packet.seconds) * 1000000u : 0;
  Le32(epb, 0);  // interface
  Le32(epb, static_cast<std::uint32_t>(micros >> 32));
  Le32(epb, static_cast<std::uint32_t>(micros & 0xFFFFFFFFu));
  Le32(epb, static_cast<std::uint32_t>(frame.size()));
  Le32(epb, static_cast<std::uint32_t>(frame.size()));
  epb += frame;
  Pad32(epb);
  std::string text = Utf8(comment);
  // An option's length is 16 bits: a longer comment (a huge caption, many notes) is cut at a
  // character boundary.
  if (text.size() > 0xFFFF) {
    std::size_t end = 0xFFFF;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
    text.resize(end);
  }
  Option(epb, kOptionComment, text);
  std::string flags;
  Le32(flags, packet.created ? kEpbOutbound : kEpbInbound);
  Option(epb, kOptionEpbFlags, flags);
  Option(epb, kOptionEnd, {});
  Block(out, 6, std::move(epb));
}

struct Walk {
  BufferedSink& out;
  PacketCaptureCounts& counts;
  bool ikev2;  // the tree is an IKEv2 log's: its packets are IKEv2 messages
  RebuiltPacket packet;

  bool Visit(const LogNode& node) {
    if (ikev2 ? node.Is(NodeKind::kPacket) : IKEv1PacketHeader(node) != nullptr) {
      if (ikev2) RebuildIKEv2Message(static_cast<const v2Message&>(node), packet);
      else RebuildIKEv1Packet(node, packet);
      ++counts.written;
      if (!packet.notes.empty()) ++counts.incomplete;
      EnhancedPacket(out.Buffer(), packet, node);
      return out.Written();
    }
    for (const auto& child : node.Children()) {
      if (!Visit(*child)) return false;
    }
    return true;
  }
};

}  // namespace

bool WritePacketCapture(const LogNode& scope, ByteSink& sink, PacketCaptureCounts& counts) {
  BufferedSink out(sink);
  const bool ikev2 = InIKEv2Log(scope);
  SectionAndInterface(out.Buffer(), ikev2);
  Walk walk{out, counts, ikev2, {}};
  if (!walk.Visit(scope)) return false;
  return out.Flush();
}

}  // namespace quillon::hand_over
