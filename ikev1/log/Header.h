// The ISAKMP header of one IKEv1 packet, together with what the packet line says about the
// packet: created (sent) or processed (received) by the local daemon, which packet of which
// negotiation, the peer and tunnel addresses, the date and the time.
//
// Constructing a Header from the reader is the loader's packet scan: it skips everything up to
// the next packet, reads its packet line and its "debugIsakmpHdr:" block, and leaves the reader
// at the first payload block. The debug log has two packet layouts:
//   created:   +++ line / packet line / +++ line, then "debugIsakmpHdr: (Creation)" + fields;
//   processed: "debugIsakmpHdr: (Process)" + fields, then +++ / packet line / +++.
// A "PACKET DEBUG" block met by the scan ends it without a packet (abandoned); the record it
// read is handed to the loader through TakePacketDebugRecord().
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "ikev1/log/PacketDebugRecord.h"
#include "model/LogSpan.h"
#include "model/NodeText.h"
#include "model/LogNode.h"

namespace quillon {

// Packet kinds of the packet line; the family is the kind with its three low bits cleared.
enum PacketKind : std::uint32_t {
  kMainMode1 = 0x09, kMainMode6 = 0x0E,
  kConfigReceived = 0x11, kConfigRequest = 0x12, kConfigReply = 0x13, kConfigSet = 0x14, kConfigAck = 0x15,
  kAggressive1 = 0x30, kAggressive3 = 0x32,
  kQuickMode1 = 0x40, kQuickMode3 = 0x42,
  kInformational = 0x80,
};
enum PacketFamily : std::uint32_t {
  kFamilyMainMode = 0x08, kFamilyConfig = 0x10, kFamilyAggressive = 0x30, kFamilyQuickMode = 0x40,
  kFamilyInformational = 0x80,
};

class Header;

// What the packet line of a written packet says before the peer's address, by packet kind and
// direction: "create_packet3phase1: peer: ", "create_config_request: peer: ",
// "gxIsakmp_ProcessInfoExc peer: ".
std::string PacketLineStart(std::uint32_t kind, bool created);

class Header : public LogNode {
 public:
  Header();
  // The packet scan (see above).
  explicit Header(DebugLogReader& reader);

  NodeKind Kind() const override { return NodeKind::kHeader; }
  ~Header() override;

  void AppendDetailText(std::string& out) const override;
  std::uint32_t CookieValue() const { return cookieValue_; }
  std::uint32_t TunnelLocalIP() const { return tunnelLocalIP_; }
  std::uint32_t TunnelPeerIP() const { return tunnelPeerIP_; }
  std::uint32_t PeerAddress() const { return peerAddress_; }

  // Reads the packet line: keyword, "peer:" address, tunnel token, date and time.
  // Sets `created` for a created-packet keyword; an unknown keyword abandons the packet.
  void ReadPacketLine(DebugLogReader& reader, bool& created);
  // Reads the "debugIsakmpHdr:" fields, from "InitCookie:" to the decimal length after "Length:".
  void ReadHeaderFields(DebugLogReader& reader);
  // Reads the "debugIsakmpHdrLen:" block that follows a created packet's payloads.
  void ReadLengthBlock(DebugLogReader& reader);
  void WriteHeaderBlock(std::string& out) const;
  void WriteLengthBlock(std::string& out) const;
  // " TunnelLocalIP:<hex>,TunnelPeerIP:<hex>" when either address is set (a token naming 0 for
  // one of them still reads as its tunnel), else " ~~".
  std::string TunnelText() const;

  bool IsCreated() const { return created_; }
  void SetCreated(bool created) { created_ = created; }
  std::uint32_t PacketKind() const { return packetKind_; }
  std::uint32_t PacketFamily() const { return packetKind_ & ~7u; }
  // The address the packet really went to or came from: the tunnel peer when the packet line
  // names a tunnel, else the packet line's peer.
  std::uint32_t EffectivePeerAddress() const;
  const ByteList& InitCookie() const { return initCookie_; }
  const ByteList& MsgId() const { return msgId_; }
  const ByteList& RespCookie() const { return respCookie_; }
  const ByteList& Length() const { return length_; }
  std::string InitCookieText() const { return UnspacedHex(initCookie_); }
  std::string RespCookieText() const { return UnspacedHex(respCookie_); }
  std::uint32_t MsgIdValue() const { return msgIdValue_; }
  std::string TimeText() const override { return std::string(timeText_); }
  std::string DateText() const override { return std::string(dateText_); }
  // The same without a copy, for the texts built from them.
  std::string_view TimeView() const { return timeText_; }
  std::string_view DateView() const { return dateText_; }
  // The date and time as the packet line gives them: the time of day between the date's
  // tokens and its last one, the year (which need not have four digits).
  std::string PacketLineDateTime() const;
  // The end of the log cut the packet line short: its time, or the year after it, is empty (a
  // token read is never empty otherwise). Nothing of the packet was read after its line.
  bool LineCutByEnd() const { return timeText_.empty() || std::string_view(dateText_).ends_with(' '); }
  std::uint32_t NextPayload() const { return nextPayload_; }
  std::uint32_t MajorVersion() const { return majorVersion_; }
  std::uint32_t MinorVersion() const { return minorVersion_; }
  std::uint32_t ExchangeType() const { return exchangeType_; }
  std::uint32_t EncFlag() const { return encFlag_; }
  std::uint32_t CommitFlag() const { return commitFlag_; }
  std::uint32_t ResFlag() const { return resFlag_; }

  // The packet-debug record the scan met instead of a packet, if any.
  std::unique_ptr<PacketDebugRecord> TakePacketDebugRecord() { return std::move(scannedRecord_); }

  // Where the packet stands in the log: the scan notes the offset of the token that opened it
  // (or that opened the packet-debug block it met instead); the loader moves the start back
  // over a received packet's record just before it and sets the end, which is where the next
  // packet in the log starts, once the whole log is read.
  std::uint64_t LogBegin() const { return logBegin_; }
  void SetLogBegin(std::uint64_t offset) { logBegin_ = offset; }
  bool HasLogEnd() const { return logEnd_ != 0; }
  void SetLogEnd(std::uint64_t offset) { logEnd_ = offset; }
  // The stretch from the packet's start to the next packet (to the end of the log when the
  // end is not known).
  LogSpan Span() const { return {logBegin_, logEnd_ != 0 ? logEnd_ : LogSpan::kToEnd}; }

  // Setters for building headers in code (tests, tools).
  void SetPacketKind(std::uint32_t kind) { packetKind_ = kind; }
  void SetPeerAddress(std::uint32_t address) { peerAddress_ = address; }
  void SetTunnel(std::uint32_t local, std::uint32_t peer) { tunnelLocalIP_ = local; tunnelPeerIP_ = peer; }
  void SetInitCookie(ByteList cookie);
  void SetRespCookie(ByteList cookie) { respCookie_ = std::move(cookie); }
  void SetMsgId(ByteList id);
  void SetLength(ByteList length) { length_ = std::move(length); }
  void SetDateTime(std::string date, std::string time) { dateText_ = std::move(date); timeText_ = std::move(time); }
  void SetFields(std::uint32_t nextPayload, std::uint32_t major, std::uint32_t minor, std::uint32_t exchangeType,
                 std::uint32_t enc, std::uint32_t commit, std::uint32_t res);

 private:
  // The field table (Header.cpp) reads, writes and shows the ISAKMP header fields below.
  friend struct HeaderFieldTable;

  bool created_ = false;
  std::uint32_t packetKind_ = 0;
  ByteList initCookie_;
  ByteList respCookie_;
  std::uint32_t nextPayload_ = 0;
  std::uint32_t minorVersion_ = 0;
  std::uint32_t majorVersion_ = 0;
  std::uint32_t exchangeType_ = 0;
  std::uint32_t encFlag_ = 0;
  std::uint32_t commitFlag_ = 0;
  std::uint32_t resFlag_ = 0;
  ByteList msgId_;
  ByteList length_;
  std::uint32_t peerAddress_ = 0;
  NodeText timeText_;
  NodeText dateText_;
  std::uint32_t msgIdValue_ = 0;
  std::uint32_t cookieValue_ = 0;
  std::uint32_t tunnelLocalIP_ = 0;
  std::uint32_t tunnelPeerIP_ = 0;
  std::unique_ptr<PacketDebugRecord> scannedRecord_;
  std::uint64_t logBegin_ = 0;
  std::uint64_t logEnd_ = 0;  // 0: not known (no packet ends at the log's first byte)
};

}  // namespace quillon
