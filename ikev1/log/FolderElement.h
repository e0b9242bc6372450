// Intermediate base of the IKEv1 negotiation elements that carry an ISAKMP header: the
// exchanges and the messages (packets). Such an element may also own the packet-debug record
// the daemon logged for its packet.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "ikev1/log/Header.h"
#include "ikev1/log/PacketDebugRecord.h"
#include "model/LogNode.h"
#include "model/NodeRoles.h"

namespace quillon {

class HashPayload;
class PacketDebugTable;

// A packet's framing as the daemon logs it: a "Received:" record, a received packet's header
// block, the packet line between two separator lines (the keyword of the header's packet kind,
// the peer's address, the tunnel token and the date with the time of day between the day and
// the year), then a created packet's header block; a packet line cut short by the end of the
// log ends there, and one that holds a restart token ends after it. `record` may be null.
void WritePacketOpening(std::string& out, const Header& header, const PacketDebugRecord* record);
// After a packet's payloads: a created packet's final length block, then a "Sent:" record
// (the loader gives a "Sent:" record to the packet just read, whichever way that packet went).
void WritePacketClosing(std::string& out, const Header& header, const PacketDebugRecord* record);

// An exchange is a negotiation and an informational exchange its own packet, so the element
// both share stands below the negotiation role: a message takes the role's defaults, and is
// never reached as a negotiation (its kind is a packet's).
class FolderElement : public NegotiationNode {
 public:
  FolderElement(std::string name, LogNode* parent);
  ~FolderElement() override;

  // The last four bytes of the initiator cookie of the header, 0 without one.
  std::uint32_t CookieValue() const;
  // The "PeerIP:" address of the attached packet-debug record, 0 without one.
  std::uint32_t PacketDebugValue() const override;
  // Quick mode messages: the identities of the negotiation's ID payloads, and whether they are
  // those of `other`'s.
  virtual std::string InitiatorIdText() const { return {}; }
  virtual std::string ResponderIdText() const { return {}; }
  virtual bool SameIdentities(const FolderElement& /*other*/) const { return false; }

  // The last step of loading a packet: a received packet's "PACKET DEBUG" record was logged
  // before the packet and waits in the table of the current load (null: none kept). Elements
  // that take no record ignore it.
  virtual void AttachPacketDebug(PacketDebugTable* /*table*/) {}
  virtual void ReadPayloads(DebugLogReader& reader) = 0;
  virtual bool IsBlockKeyword(std::string_view token) const;
  // Stores the header. The base keeps it owned but outside the children; a message makes it
  // its first child; an exchange hands it on to the message it creates.
  virtual void SetHeader(std::unique_ptr<Header> header);

  Header* GetHeader() const { return header_; }
  const LogNode* PacketHeader() const override { return header_; }
  // A packet node ends its own packet.
  bool EndPackets(std::span<const std::uint64_t> starts) override;
  // The header, when it is a child, is the first; no payload is named like it. Counted without
  // a look at each child (the counts of a large tree would wait on every node).
  std::size_t PayloadCount() const override;

  PacketDebugRecord* PacketDebug() const { return packetDebug_.get(); }
  void SetPacketDebug(std::unique_ptr<PacketDebugRecord> record) { packetDebug_ = std::move(record); }

 protected:
  void SetHeaderLink(Header* header) { header_ = header; }

  // What a packet node (a message, or an informational exchange, which is its own packet)
  // shares with every other:
  // A received packet takes the record the loader parked under its cookie and message ID.
  void TakeReceivedRecord(PacketDebugTable* table);
  // The blocks the daemon logs after a created packet's payloads: the final hash data (for
  // `hash`, when the packet has a hash payload) and the final length (for the header). False
  // for any other block.
  bool ReadClosingBlock(int code, DebugLogReader& reader, HashPayload* hash);
  // The packet's framing (the free functions above) with its own header and record.
  void WritePacketOpening(std::string& out) const;
  void WritePacketClosing(std::string& out) const;

 private:
  Header* header_ = nullptr;                 // not owned through this link
  std::unique_ptr<Header> heldHeader_;       // owned here when it is not a child
  std::unique_ptr<PacketDebugRecord> packetDebug_;
};

}  // namespace quillon
