// IKEv2 exchanges and messages as the daemon's XML log records them.
//
// One exchange of the log, in the line layout the daemon writes:
//
//     <Exchange
//      final_status="success" Type="Initial" serial="3" Dir="Outbound" TunnelLocalIP="..." ...>
//     <peerIP>192.168.7.1</peerIP>
//         <Message Response="No">
//             <arrivalTime>2008-01-15T10:01:02</arrivalTime>
//             <MsgID>0</MsgID>
//             <initSPI>...</initSPI>  <respSPI>...</respSPI>  <Next>...</Next>
//             <Version>...</Version>  <Type>...</Type>  <Length>...</Length>   (one per line)
//             <Payloads>
//                 <Payload Type="...">...</Payload>
//             </Payloads>
//         </Message>
//         <Message Response="Yes"> ... </Message>
//         <trailing>elements</trailing>                                        (optional)
//     </Exchange>
//
// The start line is exactly "<Exchange"; the messages follow one another directly (anything
// else ends the list). Lines between exchanges are skipped. All values are kept as the log
// writes them; only the tunnel and identity addresses are turned into numbers.
//
// A node marks itself not parsed (IsParsed() false) when its lines do not fit; its creator
// discards it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "ikev2/LineScan.h"
#include "ikev2/LogLineReader.h"
#include "model/LogNode.h"
#include "model/NodeRoles.h"

namespace quillon {

class v2Message : public LogNode {
 public:
  // The cursor stands on the line that holds "<Message "; it is left on the line that ended the
  // message ("</Message>", or "</Exchange>" when the message ran into the end of its exchange).
  v2Message(LineCursor& cursor, LogNode* exchange);

  NodeKind Kind() const override { return NodeKind::kPacket; }
  // Header fields: SPIs, next payload, version, type, message ID. The length is not shown.
  void AppendDetailText(std::string& out) const override;
  // The message's lines of the log, "<Message" to "</Message>".
  void AppendLogSpans(std::vector<LogSpan>& out) const override { out.push_back(span_); }
  bool HasIdAddress() const override { return hasIdAddress_; }
  std::uint32_t IdAddress() const override { return idAddress_; }
  std::size_t PayloadCount() const override {
    return headerNamedPayload_ ? LogNode::PayloadCount() : ChildCount();
  }
  std::string InitiatorSpi() const { return Text(kInitiatorSpi); }
  // The first SPI one of the payloads reported (a delete's, a child SA proposal's, ...).
  std::string FirstSpi() const { return Text(kMessageSpi); }

  // The same texts viewed where the message keeps them (valid while it stands): an SPI is
  // sixteen characters, one more than a string holds without a heap block.
  std::string_view InitiatorSpiView() const { return texts_.Get(kInitiatorSpi); }
  std::string_view ResponderSpiView() const { return texts_.Get(kResponderSpi); }
  std::string_view FirstSpiView() const { return texts_.Get(kMessageSpi); }
  std::string_view DateView() const { return texts_.Get(kDate); }
  std::string_view TimeView() const { return texts_.Get(kTime); }

  std::string ResponderSpi() const { return Text(kResponderSpi); }
  std::string Date() const { return Text(kDate); }
  std::string Time() const { return Text(kTime); }
  std::string MessageId() const { return Text(kMessageId); }
  std::string NextPayload() const { return Text(kNextPayload); }
  std::string Version() const { return Text(kVersion); }
  std::string Type() const { return Text(kType); }
  std::string Length() const { return Text(kLength); }
  const AttributeMap& Attributes() const { return attributes_; }

  // The message stopped on its exchange's closing line: the exchange ends there too.
  bool EndedExchange() const { return endedExchange_; }
  // The message came from the peer (a request of an inbound exchange, a response of an
  // outbound one); `direction` is the exchange's (-1 unknown: taken as outbound).
  bool IsReceived(int direction) const;
  // The notify type of the message's first error notification (types 1 to 16383, as the log
  // names them); empty when it carries none.
  std::string ErrorNotification() const;

 private:
  void ReadPayloadList(LineCursor& cursor);

  enum Field : std::size_t {
    kTime,
    kDate,
    kMessageId,
    kInitiatorSpi,
    kResponderSpi,
    kMessageSpi,
    kNextPayload,
    kVersion,
    kType,
    kLength,
    kFieldCount
  };
  std::string Text(Field field) const { return std::string(texts_.Get(field)); }

  // In an order that leaves no padding (the first member fills the base's last four bytes): a
  // large log holds hundreds of thousands of messages.
  std::uint32_t idAddress_ = 0;
  PackedTexts<kFieldCount> texts_;
  AttributeMap attributes_;
  LogSpan span_;
  bool hasIdAddress_ = false;
  bool endedExchange_ = false;
  // A payload's name comes from the log and may read "Header", which the payload count leaves
  // out; only then are the children looked at one by one.
  bool headerNamedPayload_ = false;
};

// Every negotiation of an IKEv2 log is a v2Exchange: NodeAs<v2Exchange> reaches one from its
// node (the role's Covers, a negotiation kind, decides).
class v2Exchange : public NegotiationNode {
 public:
  // Skips lines up to the next start line "<Exchange" and reads the exchange that begins there.
  explicit v2Exchange(LineCursor& cursor);

  // "Exchange #serial" and the attributes of the exchange (the tunnel addresses excepted); for
  // a failed exchange, the summary.
  void AppendDetailText(std::string& out) const override;
  // A failed exchange: who rejected it (the first error notification, and whether it came
  // from the peer or went to it), else that the peer did not answer. Empty otherwise.
  std::string SummaryText(bool withTotals) const override;
  // The kind and state its type, its messages and its final status gave it when it was read.
  NodeKind Kind() const override { return kind_; }
  std::uint16_t State() const override;
  // Who rejected a failed exchange (from its own messages: no narrowing changes it).
  bool GetFailureReason(FailureReason& out) const override;
  // The arrival times of the first and the last message with a readable one.
  bool TimeSpan(std::int64_t& first, std::int64_t& last) const override;
  // The exchange's lines of the log, "<Exchange" to "</Exchange>": its messages and what the
  // log says about the exchange around them.
  void AppendLogSpans(std::vector<LogSpan>& out) const override { out.push_back(span_); }
  // Same IKE SA: an initiator SPI or first SPI of the other exchange equals one of ours.
  bool MatchesMessage(const NegotiationNode& other) const override;
  bool MatchesCookie(std::string_view text) const override;
  bool MatchesSpi(std::string_view text) const override;
  bool HasIdAddress() const override { return hasIdAddress_; }
  std::uint32_t IdAddress() const override { return idAddress_; }
  bool IsReassigned() const override { return reassigned_; }
  void Reassign(std::uint32_t index, std::uint32_t address) override;
  std::uint32_t ReassignedIndex() const override { return reassignedIndex_; }
  std::uint32_t ReassignedAddress() const override { return reassignedAddress_; }
  std::string InitiatorSpi() const { return std::string(lastInitiatorSpi_); }
  std::string FirstSpi() const { return std::string(firstSpi_); }
  // An exchange pairs by its initiator SPI and by the first SPI it carries.
  bool RegroupKeys(std::uint64_t (&keys)[2]) const override;
  std::uint32_t TunnelLocalIP() const { return tunnelLocal_; }
  std::uint32_t TunnelPeerIP() const { return tunnelPeer_; }
  // Date and time of the first message, read as a local calendar time.
  std::optional<CalendarTime> StartTime() const override;
  bool PacketCounts(std::size_t& packets, std::size_t& payloads) const override {
    if (ChildCount() != countedMessages_) return false;
    packets = countedMessages_;
    payloads = countedPayloads_;
    return true;
  }

  // A start line "<Exchange" was found (even if the exchange then proved unreadable).
  bool StartFound() const { return startFound_; }
  // The <peerIP> text as written: it names the peer the exchange belongs to.
  std::string_view PeerText() const { return peerText_; }
  // -1 unknown, 0 inbound (the peer initiated), 1 outbound.
  int Direction() const { return direction_; }
  std::string_view LastResponderSpi() const { return lastResponderSpi_; }
  std::string_view SecondSpi() const { return secondSpi_; }
  const AttributeMap& Attributes() const { return attributes_; }
  std::size_t MessageCount() const { return ChildCount(); }
  const v2Message* MessageAt(std::size_t index) const;

 private:
  void ReadMessages(LineCursor& cursor);
  void ReadTrailingElements(LineCursor& cursor);
  void BuildCaption();
  void TakeIdentity();
  // The kind and informational state by the exchange's type (and, for an informational
  // exchange, by what its messages carry); `directed`: the log gives the exchange's direction.
  void Classify(std::string_view type, bool informationalDelete, bool informationalDpd, bool directed);

  // In an order that leaves little padding (the first member fills the base's last four
  // bytes): a large log holds over a hundred thousand exchanges.
  int direction_ = -1;
  NodeText peerText_;
  NodeText lastInitiatorSpi_;
  NodeText lastResponderSpi_;
  NodeText firstSpi_;
  NodeText secondSpi_;
  AttributeMap attributes_;
  LogSpan span_;
  // StartTime once worked out, its fields packed in one word (0: not yet; a time whose fields
  // do not fit is worked out at every call).
  mutable std::uint64_t startTime_ = 0;
  // RegroupKeys', worked out once the messages are read, while their SPIs are at hand (the
  // regrouping asks every exchange of the log for them).
  std::uint64_t regroupKeys_[2] = {0, 0};
  std::uint32_t idAddress_ = 0;
  std::uint32_t reassignedIndex_ = 0;
  std::uint32_t reassignedAddress_ = 0;
  std::uint32_t tunnelLocal_ = 0;
  std::uint32_t tunnelPeer_ = 0;
  // PacketCounts', worked out once the messages are read; an exchange's messages do not
  // change afterwards (the count of messages tells if they did). No messages: none kept.
  std::uint32_t countedMessages_ = 0;
  std::uint32_t countedPayloads_ = 0;
  bool succeeded_ = true;
  NodeKind kind_ = NodeKind::kOtherExchange;
  std::uint8_t typeState_ = 0;  // kStateDpd, kStateErrorInformational, kStateDelete
  bool hasIdAddress_ = false;
  bool reassigned_ = false;
  bool startFound_ = false;
};

}  // namespace quillon
