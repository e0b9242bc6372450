// The negotiations of an IKEv1 log: one node per main mode, aggressive mode, quick mode,
// configuration (transaction) exchange or informational exchange between the local host and a
// peer, plus the marker that a daemon restart leaves in the tree.
//
// A tunnel hands every packet to the open exchange of the packet's family with the packet's
// initiator cookie and message ID, or to a new one. The exchange turns the packet into a
// message node of the class for the packet's kind, remembers which packets of the negotiation
// it has seen (`PacketMask`, bit n-1 for packet n) and from that whether the negotiation
// completed.
//
// Headers: the packet scan builds one Header per packet. An exchange keeps a link to the header
// of the packet added last (the header names the negotiation: cookie, family, message ID) and
// hands the header itself to the message it creates, which owns it as its first child. When a
// packet creates no message the exchange keeps that header itself, so the link never dangles.
// An informational exchange has no messages: its header and payloads are its own children.
//
// Loading a packet is reading it (ReadPacket: the message of the packet's kind reads the
// payload blocks) and then placing it here (Place: the exchange takes the message, its
// packet-debug record and what it tells about the negotiation).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "ikev1/negotiation/PreparedPacket.h"
#include "ikev1/log/FolderElement.h"
#include "model/Summaries.h"

namespace quillon {

class Message;

// Every negotiation of an IKEv1 log is an Exchange: NodeAs<Exchange> reaches one from its
// node (the role's Covers, a negotiation kind, decides).
class Exchange : public FolderElement {
 public:
  Exchange(std::string name, LogNode* parent);
  ~Exchange() override;

  // The exchange for a packet family (main mode 8, configuration 16, aggressive mode 48, quick
  // mode 64, informational 128); null for any other family.
  static std::unique_ptr<Exchange> ForFamily(std::uint32_t family, LogNode* parent);
  // The message node for a packet of the family and the header's kind, named for it; null when
  // the family has no messages or the kind numbers no packet of it.
  static std::unique_ptr<Message> MessageFor(std::uint32_t family, const Header& header);
  // What the diagnosis found (model/NodeKind.h: immediate delete, successive identical,
  // repeated delete) and who rejected the negotiation. Decided after the log is read, and again
  // for a followed log's peers that took packets: a later negotiation may undo a mark (a delete
  // that is no longer the first after a success), so a new analysis starts afresh.
  void ClearDiagnosis() { marks_ = 0; }
  void Mark(std::uint16_t marks) { marks_ |= marks; }
  bool IsMarked(std::uint16_t marks) const { return (marks_ & marks) != 0; }
  // The error notification that rejected the negotiation, sent by the peer or by the local
  // host; `type` is the notify message type. kNobody: no answer came.
  void SetRejection(FailureReason::By by, std::uint32_t type) {
    rejectedBy_ = by;
    rejectionType_ = type;
  }

  // Completeness decides the negotiation's state: failed when not complete (a restart marker
  // is neither); the marks of the diagnosis join it.
  std::uint16_t State() const override;
  // An informational exchange is its own packet.
  bool IsNotify() const { return Kind() == NodeKind::kInformational; }
  // The packet family this exchange stands for; 0 for none.
  virtual std::uint32_t Family() const { return 0; }

  // Takes a packet read for this exchange's family: the exchange links the packet's header
  // (the packet added last names the negotiation), and takes the message with its record from
  // `table` (null: none kept). A packet without message leaves its header with the exchange.
  virtual void Place(PreparedPacket& packet, PacketDebugTable* table);

  // Name, direction of the first packet, its date, " From: " and the first packet's time, then
  // " To: " and the last packet's time when the negotiation completed, else " Failed!".
  void AppendCaption(std::string& out) const override;
  void AppendDetailText(std::string& out) const override { out += "Exchange!!!\r\n"; }
  // Its packets' stretches of the log, in packet order.
  void AppendLogSpans(std::vector<LogSpan>& out) const override;
  // An informational exchange is its own packet; any other ends its messages' packets.
  bool EndPackets(std::span<const std::uint64_t> starts) override;

  // Same initiator cookie (its last four bytes) as the node's.
  bool MatchesMessage(const NegotiationNode& other) const final;
  // The text is the initiator or the responder cookie of the packet added last, as the tree
  // prints cookies (16 lower-case hex digits, no blanks).
  bool MatchesCookie(std::string_view text) const override;
  // The text is one of the first two SPIs the messages carry; an exchange whose messages carry
  // more than two never matches.
  bool MatchesSpi(std::string_view text) const override;
  bool MatchesUserName(std::string_view text) const;
  // The user detail holds "(" + text + ")".
  bool MatchesUserDetail(std::string_view text) const;
  // Date of the packet added last with the time of the first packet; computed once. A date
  // before 1900 cannot be a log date and gives the zero time.
  std::optional<CalendarTime> StartTime() const override;

  // Regrouping of indexed peers: the (index, address) pair this exchange was paired with.
  // Only main, aggressive, quick mode and informational exchanges keep it.
  bool IsReassigned() const override { return reassigned_; }
  void Reassign(std::uint32_t index, std::uint32_t address) override;
  std::uint32_t ReassignedIndex() const override { return reassignedIndex_; }
  std::uint32_t ReassignedAddress() const override { return reassignedAddress_; }
  // An exchange pairs by the value of its initiator cookie; one without header (a restart
  // marker) pairs with nothing.
  bool RegroupKeys(std::uint64_t (&keys)[2]) const override;
  // The first "PeerIP:" address a packet-debug record of the negotiation gave. Main,
  // aggressive, quick mode and configuration exchanges keep their own; the others answer
  // from their own record.
  std::uint32_t PacketDebugValue() const override;
  void SetPacketDebugValue(std::uint32_t value);

  void ReadPayloads(DebugLogReader& /*reader*/) override {}

  bool IsRestart() const { return Kind() == NodeKind::kRestart; }
  // A closed exchange takes no more packets (a daemon restart ends every negotiation).
  void Close() { closed_ = true; }
  virtual bool IsClosed() const { return closed_; }
  // The times of the first and the last packet; a notify's are those of its one packet (the
  // caption reads the packets' headers itself for any other negotiation).
  virtual std::string FirstTimeText() const;
  virtual std::string LastTimeText() const;

  // Whether this exchange, as it stands, takes the packet: open, same cookie value, same
  // family (not informational) and same message ID value as the packet added last.
  bool TakesPacket(const Header& packet) const;
  std::uint32_t PacketMask() const { return packetMask_; }

 protected:
  // Every packet of the negotiation was seen.
  virtual bool Completed() const { return false; }
  // Main, aggressive and quick mode: the rejection stored by the diagnosis and the transforms
  // the daemon did not choose in the SA payloads of the messages; false when complete.
  bool FailureOfMessages(FailureReason& out) const;
  enum Keeps : unsigned { kKeepsNothing = 0, kKeepsReassignment = 1, kKeepsPacketDebugValue = 2 };
  Exchange(std::string name, LogNode* parent, unsigned keeps);

  // The message of a packet just placed, with the packet's header linked: each kind of
  // exchange records what the message tells about the negotiation.
  virtual void TakeMessage(std::unique_ptr<Message> message, PacketDebugTable* table);
  // Appends the message after it took its packet-debug record; the packet's bit joins the mask.
  Message& AddMessage(std::unique_ptr<Message> message, std::uint32_t bit, PacketDebugTable* table);
  // The first non-zero packet-debug value of the messages wins.
  void TakePacketDebugValue(const FolderElement& message);
  // "\r\nLocal host ==> Remote peer(a.b.c.d)" (or "<==") for the packet added last, after
  // `lead`; empty without header.
  std::string DirectionLine(std::string_view lead = "\r\n") const;
  // The summary of the diagnosis, when there is one.
  void AppendSummary(std::string& text) const;
  const Header* MessageHeader(std::size_t index) const;
  const Header* LastMessageHeader() const;

  std::uint32_t packetMask_ = 0;

 private:
  unsigned keeps_ = kKeepsNothing;
  bool closed_ = false;
  FailureReason::By rejectedBy_ = FailureReason::By::kNobody;
  std::uint16_t marks_ = 0;
  std::uint32_t rejectionType_ = 0;
  mutable std::optional<CalendarTime> startTime_;
  std::uint32_t packetDebugValue_ = 0;
  bool reassigned_ = false;
  std::uint32_t reassignedIndex_ = 0;
  std::uint32_t reassignedAddress_ = 0;
};

// Main mode: six packets, the SA proposal and answer, the key exchange and the identities.
class MainMode : public Exchange {
 public:
  explicit MainMode(LogNode* parent);

  NodeKind Kind() const override { return NodeKind::kMainMode; }
  bool GetFailureReason(FailureReason& out) const override { return FailureOfMessages(out); }
  void AppendDetailText(std::string& out) const override;
  // For a main mode that never saw its six packets: who rejected it ("Rejected by peer: " or
  // "Rejected by local host: " and the error notification), else "No response from peer".
  std::string SummaryText(bool withTotals) const override;
  // The identity address (a peer index) the peer sent in packet 5 or 6.
  bool HasIdAddress() const override { return hasIdAddress_; }
  std::uint32_t IdAddress() const override { return idAddress_; }
  std::uint32_t Family() const override { return kFamilyMainMode; }

 protected:
  void TakeMessage(std::unique_ptr<Message> message, PacketDebugTable* table) override;
  bool Completed() const override { return packetMask_ == 63; }

 private:
  bool hasIdAddress_ = false;
  std::uint32_t idAddress_ = 0;
};

// Aggressive mode: three packets. The class keeps the daemon's spelling of its title.
class Aggresive : public Exchange {
 public:
  explicit Aggresive(LogNode* parent);

  NodeKind Kind() const override { return NodeKind::kAggressiveMode; }
  bool GetFailureReason(FailureReason& out) const override { return FailureOfMessages(out); }
  void AppendDetailText(std::string& out) const override;
  // As a main mode's: who rejected it, or that the peer did not answer.
  std::string SummaryText(bool withTotals) const override;
  std::uint32_t Family() const override { return kFamilyAggressive; }

 protected:
  void TakeMessage(std::unique_ptr<Message> message, PacketDebugTable* table) override;
  bool Completed() const override { return packetMask_ == 7; }
};

// Quick mode (phase two): three packets negotiating IPsec SAs for a pair of identities.
class PhaseTwo : public Exchange {
 public:
  explicit PhaseTwo(LogNode* parent);

  NodeKind Kind() const override { return NodeKind::kQuickMode; }
  bool GetFailureReason(FailureReason& out) const override { return FailureOfMessages(out); }
  void AppendDetailText(std::string& out) const override;
  // What went wrong: no answer, the SA deleted at once, or the same identities negotiated
  // again; empty when nothing did.
  std::string SummaryText(bool withTotals) const override;
  // Date and time of the packet added last (the diagnosis' time windows).
  std::string DateText() const override;
  std::string TimeText() const override;
  // Both quick modes negotiate for the same pair of identities, in either role: compares the
  // only messages when both have one, else the second messages (the responder's answer).
  bool SameIdentities(const FolderElement& other) const override;
  std::uint32_t Family() const override { return kFamilyQuickMode; }

 protected:
  void TakeMessage(std::unique_ptr<Message> message, PacketDebugTable* table) override;
  bool Completed() const override { return packetMask_ == 7; }
};

// Configuration (transaction) exchange: request/reply and set/acknowledge pairs carrying the
// client's attributes and, for extended authentication, the user name.
class ConfigMode : public Exchange {
 public:
  explicit ConfigMode(LogNode* parent);

  NodeKind Kind() const override { return NodeKind::kConfigMode; }
  void AppendDetailText(std::string& out) const override;
  bool HasUserName() const override { return hasUserName_; }
  std::string UserName() const override { return std::string(userName_); }
  bool HasUserDetail() const override { return hasUserDetail_; }
  std::string UserDetail() const override { return std::string(userDetail_); }
  std::uint32_t Family() const override { return kFamilyConfig; }

 protected:
  void TakeMessage(std::unique_ptr<Message> message, PacketDebugTable* table) override;
  // Every message is complete (a set or acknowledge with a failed status is not).
  bool Completed() const override;

 private:
  bool hasUserName_ = false;
  std::pmr::string userName_{NodeResource()};
  bool hasUserDetail_ = false;
  std::pmr::string userDetail_{NodeResource()};
};

// Informational exchange: one packet, always a negotiation of its own. Named "Info" (plus the
// notification type), "DPD" for dead-peer detection, or "Delete" plus the protocol of the SAs
// a delete payload removes.
class Notify : public Exchange {
 public:
  explicit Notify(LogNode* parent);

  NodeKind Kind() const override { return NodeKind::kInformational; }
  // Complete, and what it carried: dead-peer detection, a delete, or other notifications.
  std::uint16_t State() const override;
  void AppendDetailText(std::string& out) const override;
  // The likely root cause of an error notification, or what the analysis found about a
  // delete; empty otherwise.
  std::string SummaryText(bool withTotals) const override;
  std::string DateText() const override;
  std::string TimeText() const override;
  // A received packet takes the record the daemon logged before it.
  void AttachPacketDebug(PacketDebugTable* table) override;
  std::uint32_t Family() const override { return kFamilyInformational; }
  // A read informational packet is this exchange already: only its record is left to take.
  void Place(PreparedPacket& /*packet*/, PacketDebugTable* table) override { AttachPacketDebug(table); }
  // The packet framing in the daemon's layout: the received packet's record and header block
  // before the packet line, the created packet's header block after it.
  void WriteDebug(std::string& out) const override;
  // Created packets: the final length block and the "Sent:" record after the payloads.
  void WriteDebugLength(std::string& out) const override;
  std::string SpiText() const override { return std::string(spiText_); }
  // One packet, its payloads below it.
  bool PacketCounts(std::size_t& packets, std::size_t& payloads) const override {
    packets = 1;
    payloads = PayloadCount();
    return true;
  }
  std::string FirstTimeText() const override;
  std::string LastTimeText() const override { return FirstTimeText(); }
  // The exchange is its packet.
  void AppendLogSpans(std::vector<LogSpan>& out) const override;

  // The payload blocks: hash, notification and delete payloads become children; the final
  // hash and length of a created packet go to the hash payload and the header.
  void ReadPayloads(DebugLogReader& reader) override;
  // The header becomes a child of the exchange.
  void SetHeader(std::unique_ptr<Header> header) override;

  // What the packet carried, as its payloads were read. The name tells the same for the reader
  // ("DPD", "Delete IPsec", "Info" and the notification types), but meaning is never read
  // back from a name.
  enum class Carries : std::uint8_t { kNotifications, kDpd, kDelete, kDeleteIke, kDeleteIpsec };
  Carries What() const { return carries_; }
  // The error notifications of interest to the diagnosis among the notification types named
  // since the last delete or dead-peer detection payload.
  enum ErrorBits : std::uint8_t {
    kNoProposalChosenBit = 1,
    kInvalidKeyInformationBit = 2,
    kInvalidIdInformationBit = 4,
  };
  std::uint8_t NamedErrors() const { return namedErrors_; }
  // The type of the first error notification (RFC 2408 types 1 to 8191) among the payloads;
  // 0 without one.
  std::uint32_t ErrorType() const { return errorType_; }

 protected:
  bool Completed() const override { return true; }

 private:
  void ReadBlock(int code, DebugLogReader& reader);

  Carries carries_ = Carries::kNotifications;
  std::uint8_t namedErrors_ = 0;
  std::uint32_t errorType_ = 0;
  std::pmr::string spiText_{NodeResource()};
  HashPayload* hashPayload_ = nullptr;  // a child
};

// Marks where the daemon restarted: every negotiation open at that point was ended by it.
class Restarted : public Exchange {
 public:
  Restarted(std::string restartText, LogNode* parent);

  void AppendCaption(std::string& out) const override { out += Name(); }
  void AppendDetailText(std::string& out) const override { out += restartText_; }
  NodeKind Kind() const override { return NodeKind::kRestart; }
  std::string_view RestartText() const { return restartText_; }

 private:
  std::pmr::string restartText_{NodeResource()};
};

}  // namespace quillon
