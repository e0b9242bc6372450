// Builders of small IKEv1 debug logs in the daemon's layout, for the negotiation and log-root
// tests: packets in both layouts, payload blocks and packet-debug records; and a stand-in for
// the payloads that report SPIs, identities and configuration attributes.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "ikev1/log/DebugLogReader.h"
#include "ikev1/log/ReadIKEv1Log.h"
#include "ikev1/log/WriteDebugLog.h"
#include "ikev1/negotiation/Exchange.h"
#include "ikev1/negotiation/Peer.h"
#include "ikev1/negotiation/Tunnel.h"
#include "ikev1/payloads/PayloadFactory.h"
#include "model/LogFile.h"

namespace quillon::negtest {

inline const std::string kPlus(70, '+');
inline const std::string kCookie = "01 02 03 04 05 06 07 08";
inline const std::string kZeroId = "00 00 00 00";

struct Packet {
  std::string keyword;           // the packet line's keyword
  std::string time = "12:00:00";
  std::string peer = "0a000001";
  std::string cookie = kCookie;
  std::string msgId = kZeroId;
  std::string tunnel = "~~";
  std::string payloads;          // blocks after the header block and packet line
  std::string day = "13";
};

inline std::string HeaderBlock(const Packet& p, bool created) {
  return std::string("debugIsakmpHdr: ") + (created ? "(Creation)" : "(Process)") + "\n\tInitCookie: " + p.cookie +
         " \n\tRspCookie: 11 12 13 14 15 16 17 18 \n\tNextPld: 04\n\tMjVer: 01\n\tMnVer: 00\n\tExcType: 02\n"
         "\tResFlag: 00\n\tCommitFlag: 00\n\tEncFlag: 00\n\tMsgID: " + p.msgId + " \n\tLength: 00 00 00 1c (28)\n";
}

inline std::string PacketLine(const Packet& p) {
  return "\n" + kPlus + "\n" + p.keyword + " peer: " + p.peer + " " + p.tunnel + " Mon Nov " + p.day + " " + p.time +
         " 2006\n" + kPlus + "\n";
}

// A created packet: packet line, then header block; a processed one the other way round.
inline std::string Text(const Packet& p) {
  const bool created = p.keyword.rfind("create_", 0) == 0 || p.keyword.rfind("gxIsakmp_Build", 0) == 0;
  return created ? PacketLine(p) + HeaderBlock(p, true) + p.payloads
                 : HeaderBlock(p, false) + PacketLine(p) + p.payloads;
}

// Main mode packet n (1..6): odd packets sent, even ones received.
inline Packet MainModePacket(int n, std::string time = "", std::string cookie = kCookie) {
  Packet p;
  p.keyword = std::string(n % 2 == 1 ? "create_packet" : "process_packet") + std::to_string(n) + "phase1:";
  p.time = time.empty() ? "12:00:0" + std::to_string(n) : std::move(time);
  p.cookie = std::move(cookie);
  return p;
}

// The packet as logged for another peer, through the tunnel token given ("~~": none).
inline const std::string kTunnel = "TunnelLocalIP:c0a80001,TunnelPeerIP:c0a80002";
inline Packet At(Packet p, const std::string& peer, const std::string& tunnel = "~~") {
  p.peer = peer;
  p.tunnel = tunnel;
  return p;
}

inline std::string MainModeLog(int packets = 6, const std::string& peer = "0a000001", const std::string& cookie = kCookie,
                            const std::string& tunnel = "~~") {
  std::string text;
  for (int n = 1; n <= packets; ++n) {
    Packet p = MainModePacket(n, "", cookie);
    p.peer = peer;
    p.tunnel = tunnel;
    text += Text(p);
  }
  return text;
}

inline Packet QuickModePacket(int n, const std::string& msgId, const std::string& time) {
  Packet p;
  p.keyword = std::string(n == 2 ? "process_packet" : "create_packet") + std::to_string(n) + "phase2:";
  p.msgId = msgId;
  p.time = time;
  return p;
}

inline std::string Block(const std::string& keyword, const std::string& dataLabel, const std::string& data) {
  return keyword + "\n\tNextPld: 00\n\tReserved: 00\n\tLength: 00 08 (8)\n\t" + dataLabel + " " + data + "\n";
}

inline std::string Nonce(const std::string& data) { return Block("debugNoncePayload:", "NonceData:", data); }

inline std::string NotifyBlock(const std::string& type, const std::string& spi = "11 22 33 44") {
  return "debugNotifyPayload:\n\tNextPld: 00\n\tReserved: 00\n\tLength: 00 1c (28)\n\tDOI: 00 00 00 01 \n"
         "\tProtID: 03\n\tSPISize: 04 (4)\n\tNotifyType: " + type + " \n\tSPI: " + spi + " \n\tNotifData: 00 00 00 01 \n";
}

inline std::string DeleteBlock(const std::string& doi, const std::string& spi) {
  return "debugDeletePayload:\n\tNextPld: 00\n\tReserved: 00\n\tLength: 00 10 (16)\n\tDOI: " + doi +
         " \n\tProtID: 03\n\tSPISize: 04\n\tSPIs: 00 01 \n\tSPIs: " + spi + " \n";
}

// An identification, by default of type ID_IPV4_ADDR, where a value in 1..65278 names a peer
// index; type 04 (ID_IPV4_ADDR_SUBNET) takes an address and a mask.
inline std::string IdBlock(const std::string& address, const std::string& type = "01") {
  return "debugIDPayload:\n\tNextPld: 00\n\tReserved: 00\n\tLength: 00 0c (12)\n\tType: " + type +
         "\n\tReserved2: 00 00 00\n\tID: " + address + "\n";
}

inline Packet Informational(bool created, const std::string& payloads, const std::string& time = "12:10:00",
                            const std::string& msgId = "aa bb cc dd") {
  Packet p;
  p.keyword = created ? "gxIsakmp_BuildInfoExc-N" : "gxIsakmp_ProcessInfoExc";
  p.payloads = payloads;
  p.time = time;
  p.msgId = msgId;
  return p;
}

inline std::string Record(bool sent, const std::string& peer, const std::string& cookie, const std::string& msgId,
                          const std::string& lines = "\tExchange type: Main mode\n") {
  return std::string("\r\n##### BEGIN PACKET DEBUG #####\n\t") + (sent ? "Sent:" : "Received:") + "\n\tPeer: " + peer +
         "\n\tInitCookie: " + cookie + "\n\tMsgID: " + msgId + "\n" + lines + "##### END PACKET DEBUG #####\r\n\r\n";
}

inline std::unique_ptr<LogFile> Load(std::string text) {
  auto root = std::make_unique<LogFile>();
  auto reader = DebugLogReader::FromText(std::move(text));
  ReadIKEv1Log(*root, reader);
  return root;
}

inline std::vector<std::string> Names(const LogNode& node) {
  std::vector<std::string> names;
  for (const auto& child : node.Children()) names.emplace_back(child->Name());
  return names;
}

// The exchanges of the peer's tunnel `tunnel`.
inline const LogNode& TunnelOf(const LogFile& root, std::size_t peer = 0, std::size_t tunnel = 0) {
  return *root.Child(peer)->Child(tunnel);
}

template <class E>
const E& ExchangeAt(const LogNode& tunnel, std::size_t index) {
  return dynamic_cast<const E&>(*tunnel.Child(index));
}

// Stands for the payload classes that report SPIs, identities and configuration attributes.
class FakePayload : public LogNode, public ConfigAttributeSource, public IdentitySource {
 public:
  std::string spi, userName, userDetail, identity;
  std::uint32_t address = 0, type = 0, status = 1;

  std::string SpiText() const override { return spi; }
  bool HasIdAddress() const override { return address != 0; }
  std::uint32_t IdAddress() const override { return address; }
  bool HasUserName() const override { return !userName.empty(); }
  std::string UserName() const override { return userName; }
  bool HasUserDetail() const override { return !userDetail.empty(); }
  std::string UserDetail() const override { return userDetail; }
  std::uint32_t ConfigMessageType() const override { return type; }
  std::uint32_t ConfigStatus() const override { return status; }
  std::string IdentityText() const override { return identity; }
};

// Every node's name, caption and detail text, depth first: two trees that print the same are
// the same tree for the viewer.
inline void Dump(const LogNode& node, std::string& out, int depth = 0) {
  out += std::string(static_cast<std::size_t>(depth), ' ') + std::string(node.Name()) + " | " + node.Caption() + " | " +
         node.DetailText() + "\n";
  for (const auto& child : node.Children()) Dump(*child, out, depth + 1);
}

}  // namespace quillon::negtest
