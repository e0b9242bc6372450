// One IKEv1 packet in the tree: the child of its exchange, the parent of the packet's header
// (its first child) and of one node per payload block.
//
// The packet scan creates the message of the class for the packet's kind (ReadPacket): the
// message takes the header and reads the chain of payload blocks that follows it in the log;
// the exchange that takes the message gives it its received "PACKET DEBUG" record. While reading it gathers what
// the exchanges, filters and diagnosis ask of a packet (SPI, identity address, user name and
// detail) and keeps links to the payloads its negotiation step needs (SA, hash, identities,
// configuration attributes). It writes its packet framing back when the log is saved.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "ikev1/log/FolderElement.h"
#include "model/NodeText.h"

namespace quillon {

class HashPayload;

// The payload links a message keeps for its negotiation step.
enum MessageLink : unsigned { kNoLinks = 0, kSaLink = 1, kHashLink = 2 };

class Message : public FolderElement {
 public:
  Message(std::string name, LogNode* parent, unsigned links = kNoLinks);
  ~Message() override;

  NodeKind Kind() const override { return NodeKind::kPacket; }
  // Of the nodes of an IKEv1 log, only a message is a packet of its own kind.
  static bool Covers(NodeKind kind) { return kind == NodeKind::kPacket; }

  // The name, the packet's date, the packet-debug record's lines and the direction with the
  // peer's address; empty without header.
  void AppendDetailText(std::string& out) const override;
  // Received packets: the packet-debug record parked under the packet's cookie and message ID.
  void AttachPacketDebug(PacketDebugTable* table) override;
  // The packet framing: packet line and header block in the order of the packet's direction.
  void WriteDebug(std::string& out) const override;
  // Created packets: the final length block and the "Sent:" packet-debug record.
  void WriteDebugLength(std::string& out) const override;

  // The packet's stretch of the log: from its opening line to the next packet.
  void AppendLogSpans(std::vector<LogSpan>& out) const override;
  std::string SpiText() const override { return std::string(spiText_); }
  bool HasIdAddress() const override { return hasIdAddress_; }
  std::uint32_t IdAddress() const override { return idAddress_; }
  bool HasUserName() const override { return hasUserName_; }
  std::string UserName() const override { return std::string(userName_); }
  bool HasUserDetail() const override { return hasUserDetail_; }
  std::string UserDetail() const override { return std::string(userDetail_); }

  // The payload chain: every payload block after the header, in log order, up to the next
  // packet, a "#####" marker, a daemon restart or the end of the file. Daemon output between
  // two blocks is skipped. The token that ends the chain is left for the packet scan.
  void ReadPayloads(DebugLogReader& reader) override;
  // The header becomes the message's first child.
  void SetHeader(std::unique_ptr<Header> header) override;
  // Appends a payload child and takes over what it tells about the packet: the first
  // non-empty SPI, the last identity address, the first user name, the last user detail.
  LogNode* AddPayload(std::unique_ptr<LogNode> payload);

  // Payload links, kept by the classes whose negotiation step uses them (the SA and hash links
  // by the kinds given at construction). The linked payloads are children of the message.
  virtual void SetIdPayload(LogNode* /*payload*/) {}
  virtual void SetAttributePayload(LogNode* /*payload*/) {}
  void SetHashPayload(quillon::HashPayload* payload) {
    if ((links_ & kHashLink) != 0) hash_ = payload;
  }
  quillon::HashPayload* HashPayload() const { return hash_; }
  void SetSaPayload(LogNode* payload) {
    if ((links_ & kSaLink) != 0) sa_ = payload;
  }
  LogNode* SaPayload() const { return sa_; }

  // The SA attribute set of the packet's kind: 32 for main and aggressive mode, 64 for every
  // other kind, 0 without header.
  int AttributeSpace() const;

 protected:
  // The packet as the daemon logs it: a received packet's record and header block before the
  // packet line, a created packet's header block after it. `lineStart` is the packet line's
  // text up to the peer address.
  // The end of the detail text: the packet-debug record's lines, then the direction and the
  // peer's address.
  void AppendDetailTail(std::string& text, const Header& header) const;

 private:
  // One block of the chain, `code` being its keyword's code; the reader stands after the keyword.
  void ReadBlock(int code, DebugLogReader& reader);
  NodeText spiText_;
  bool hasIdAddress_ = false;
  std::uint32_t idAddress_ = 0;
  bool hasUserName_ = false;
  NodeText userName_;
  bool hasUserDetail_ = false;
  NodeText userDetail_;
  unsigned links_ = kNoLinks;
  quillon::HashPayload* hash_ = nullptr;
  LogNode* sa_ = nullptr;
};

// A message kind that keeps the given payload links.
template <unsigned Links>
class LinkedMessage : public Message {
 public:
  LinkedMessage(std::string name, LogNode* parent) : Message(std::move(name), parent, Links) {}
};

// Main mode packets 1 and 2: the SA proposal and its answer.
class Main12Mess : public LinkedMessage<kSaLink> {
 public:
  using LinkedMessage::LinkedMessage;
};

// Main mode packets 3 and 4: key exchange and nonces.
class Main34Mess : public LinkedMessage<kNoLinks> {
 public:
  using LinkedMessage::LinkedMessage;
};

// Main mode packets 5 and 6: identities and the authenticating hash.
class Main56Mess : public LinkedMessage<kHashLink> {
 public:
  using LinkedMessage::LinkedMessage;
};

// Aggressive mode packet 1.
class Aggr1Mess : public LinkedMessage<kSaLink> {
 public:
  using LinkedMessage::LinkedMessage;
};

// Aggressive mode packet 2.
class Aggr2Mess : public LinkedMessage<kSaLink | kHashLink> {
 public:
  using LinkedMessage::LinkedMessage;
};

// Aggressive mode packet 3.
class Aggr3Mess : public LinkedMessage<kHashLink> {
 public:
  using LinkedMessage::LinkedMessage;
};

// A configuration (transaction) packet. It is named "CM" until its attribute payload tells
// which message it is ("CM Request", "CM Reply", "CM Set", "CM Ack"); a set or acknowledge
// whose status attribute reports a failure leaves the configuration exchange incomplete.
class ConfigMess : public Message {
 public:
  explicit ConfigMess(LogNode* parent);
  ConfigMess(std::string name, LogNode* parent);

  std::uint16_t State() const override { return complete_ ? kStateComplete : kStateNone; }
  void SetAttributePayload(LogNode* payload) override;

 private:
  bool complete_ = true;
};

// Quick mode packets 1 and 2: SA, hash and the identities the SA is negotiated for. Each
// identity payload extends the name by " - " and its identity text.
class PhaTwo12Mess : public LinkedMessage<kSaLink | kHashLink> {
 public:
  using LinkedMessage::LinkedMessage;

  void AppendDetailText(std::string& out) const override;
  void SetIdPayload(LogNode* payload) override;

  // The identity texts of the first and second identification payloads.
  std::string InitiatorIdText() const override;
  std::string ResponderIdText() const override;
  // Both identities equal, in the same or in crossed roles (the answer of the other side).
  bool SameIdentities(const FolderElement& other) const override;

 private:
  std::pmr::vector<std::pmr::string> identities_{NodeResource()};
  std::pmr::string plainName_{NodeResource()};  // the name before the identities were appended
};

// Quick mode packet 3.
class PhaTwo3Mess : public LinkedMessage<kHashLink> {
 public:
  using LinkedMessage::LinkedMessage;
};

}  // namespace quillon
