// The payloads of an IKEv2 message as the daemon's XML log lists them.
//
// Each payload is an element
//     <Payload Type="Notify">
//         <Type>NO_PROPOSAL_CHOSEN</Type>
//     </Payload>
// whose opening line carries the payload kind and whose body holds one element per line. The
// XML log already names every value (notify types, transform names, identity types), so nothing
// is decoded: the nodes show the texts. Three kinds have nodes of their own below them: the
// security association its proposals (<prop ...>), the certificate request its authorities
// (<CA>...</CA>), the traffic-selector payloads their selectors (<TrafficSelector ...>).
//
// A payload tells its message two things: an SPI (the exchange's SPI filters look for it) and,
// for an IPv4 identity that holds a peer index, that index (the log root regroups by it).
//
// Every node marks itself not parsed (IsParsed() false) when its opening line does not fit; the
// code that created it discards such a node.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "ikev2/LineScan.h"
#include "ikev2/LogLineReader.h"
#include "model/LogNode.h"

namespace quillon {

enum class PayloadKind;  // below, with the reading of a payload line

// ---- labels ---------------------------------------------------------------------------------

// The payload names of the log spelt for people: "KeyExchange" -> "Key Exchange",
// "SecurityAssociation" -> "Security Association", "Next" -> "Next payload"; others unchanged.
std::string_view PayloadDisplayName(std::string_view type);
// Configuration attribute types: "INTERNAL_IP4_ADDRESS" -> "Internal Address:" and so on; any
// other type followed by ":".
std::string ConfigurationLabel(std::string_view type);
// Transform names of a proposal: "dh" -> "Diffie Helman:" and so on; others followed by ":".
std::string ProposalLabel(std::string_view key);
// Selector types and selector fields; the empty text names a selector without a type.
std::string TrafficSelectorLabel(std::string_view text);
// Fields of a certificate authority: "DN" -> "CA DN:", "hash" -> "Hash:"; others unchanged.
std::string CALabel(std::string_view key);

// ---- payload nodes --------------------------------------------------------------------------

class v2Payload : public LogNode {
 public:
  // The cursor stands on the "<Payload " line. With `readBody` the element lines up to
  // "</Payload>" are read into the attributes; the cursor is left on the line that ended them.
  v2Payload(LineCursor& cursor, bool readBody);

  void AppendDetailText(std::string& out) const override;
  NodeKind Kind() const override { return NodeKind::kPayload; }
  // The kind the reader took the payload line for, which chose the node's class: the class's
  // own accessors may be used after a static_cast to it. kOther for a plain v2Payload.
  virtual PayloadKind PayloadKindOf() const;

  const AttributeMap& Attributes() const { return attributes_; }
  // The payload's kind as the log names it, spelt for people.
  std::string_view TypeName() const { return typeName_; }

 protected:
  // Element lines up to a line holding "</Payload>" (or `stop`, when given) or the end of the
  // input; the cursor is left on the line that ended the body.
  void ReadBody(LineCursor& cursor, std::string_view stop = {});
  // The heading and one line per attribute.
  std::string PayloadText() const;
  // The value of an attribute; a missing one reads as empty and is listed from then on. The
  // view lasts until the attributes change.
  std::string_view Attribute(std::string_view key) { return attributes_.Touch(key); }
  void SetAttribute(std::string_view key, std::string_view value) { attributes_.Set(key, value); }
  std::string Value(std::string_view key) const { return std::string(attributes_.Get(key)); }
  void ShrinkAttributes() { attributes_.ShrinkToFit(); }

 private:
  AttributeMap attributes_;
  NodeText typeName_;
};

// The security association: its proposals are child nodes. It reports the SPI of its last
// proposal that carries one (the child SA's SPI; an IKE proposal usually has none).
class v2SAPayload : public v2Payload {
 public:
  explicit v2SAPayload(LineCursor& cursor);
  PayloadKind PayloadKindOf() const override;
  std::string SpiText() const override { return std::string(spi_); }

 private:
  NodeText spi_;
};

class v2NotifyPayload : public v2Payload {
 public:
  explicit v2NotifyPayload(LineCursor& cursor);
  PayloadKind PayloadKindOf() const override;
  // Only an INVALID_SPI notify names an SPI worth filtering by.
  std::string SpiText() const override;
  // The notify type as the log writes it ("No proposal chosen"), or its number.
  std::string NotifyType() const { return Value("Type"); }
  // The type is an error (1 to 16383): named by one of the error types of IKEv2, or numbered so.
  // Status types (16384 on: NAT detection, rekey, cookies) are not.
  bool IsError() const;
};

class v2CertReqPayload : public v2Payload {
 public:
  explicit v2CertReqPayload(LineCursor& cursor);
  PayloadKind PayloadKindOf() const override;
  void AppendDetailText(std::string& out) const override;
};

class v2CertPayload : public v2Payload {
 public:
  explicit v2CertPayload(LineCursor& cursor);
  PayloadKind PayloadKindOf() const override;
  void AppendDetailText(std::string& out) const override;

  std::string_view Subject() const { return subject_; }
  std::string_view CertificateData() const { return certificateData_; }

 private:
  NodeText certificateData_;
  NodeText subject_;
};

// TSi or TSr: the traffic selectors are child nodes.
class v2TSPayload : public v2Payload {
 public:
  explicit v2TSPayload(LineCursor& cursor);
  PayloadKind PayloadKindOf() const override;
  void AppendDetailText(std::string& out) const override;
};

class v2ConfPayload : public v2Payload {
 public:
  explicit v2ConfPayload(LineCursor& cursor);
  PayloadKind PayloadKindOf() const override;
  void AppendDetailText(std::string& out) const override;

  std::string_view AttributeText() const { return attributeText_; }

 private:
  void ReadAttributeBlock(LineCursor& cursor);

  NodeText attributeText_;
};

class v2EAPPayload : public v2Payload {
 public:
  explicit v2EAPPayload(LineCursor& cursor);
  PayloadKind PayloadKindOf() const override;
};

class v2DeletePayload : public v2Payload {
 public:
  explicit v2DeletePayload(LineCursor& cursor);
  PayloadKind PayloadKindOf() const override;
  std::string SpiText() const override { return Value("SPI"); }
};

// IDi or IDr. An IPV4_ADDR identity whose value lies in the low range is not an address but the
// daemon's index of the peer; it is reported so that the log root can regroup by it.
class v2IDPayload : public v2Payload {
 public:
  explicit v2IDPayload(LineCursor& cursor);
  PayloadKind PayloadKindOf() const override;
  bool HasIdAddress() const override { return hasIdAddress_; }
  std::uint32_t IdAddress() const override { return idAddress_; }

 private:
  bool hasIdAddress_ = false;
  std::uint32_t idAddress_ = 0;
};

// ---- child nodes of payloads ----------------------------------------------------------------

class v2Proposal : public LogNode {
 public:
  // The cursor stands on the "<prop " line; it is left on the "</prop>" line.
  explicit v2Proposal(LineCursor& cursor);
  void AppendDetailText(std::string& out) const override;
  std::string SpiText() const override;
  const AttributeMap& Attributes() const { return attributes_; }

 private:
  AttributeMap attributes_;
};

class v2CA : public LogNode {
 public:
  // One certificate authority: "<CA>", element pairs such as DN and hash, "</CA>".
  explicit v2CA(std::string_view line);
  void AppendDetailText(std::string& out) const override;
  const AttributeMap& Attributes() const { return attributes_; }

 private:
  AttributeMap attributes_;
};

class v2TrafficSelector : public LogNode {
 public:
  // The cursor stands on the "<TrafficSelector" line; it is left on "</TrafficSelector>".
  explicit v2TrafficSelector(LineCursor& cursor);
  void AppendDetailText(std::string& out) const override;
  const AttributeMap& Attributes() const { return attributes_; }

 private:
  AttributeMap attributes_;
};

// ---- the payload kinds ----------------------------------------------------------------------

// The kinds of payload that have a class of their own; the others are read as plain payloads.
enum class PayloadKind {
  kNone,  // not a payload line
  kSecurityAssociation,
  kNotify,
  kCertificateRequest,
  kCertificate,
  kTrafficSelectors,
  kConfiguration,
  kEAP,
  kDelete,
  kIdentification,
  kOther,
};

// One row of the payload table: how a payload line names the kind, and the class that reads it.
// A payload kind plugs in with one row in V2Payloads.cpp.
struct V2PayloadType {
  PayloadKind kind;
  // The text anywhere on a "<Payload " line that makes it this kind: the rows are tried in
  // order and the first whose text the line holds wins (Type="TS..." covers TSi and TSr).
  std::string_view match;
  // The shortest Type attribute that names the kind, followed by a blank, as a writer puts it
  // on a line.
  std::string_view marker;
  // Reads the payload the cursor's line opens.
  std::unique_ptr<v2Payload> (*read)(LineCursor& cursor);
};

// The payload table, in the order the rows are tried.
const std::array<V2PayloadType, 9>& PayloadTypes();

// The row of a payload node's class; null for a plain payload (kind kOther).
const V2PayloadType* PayloadTypeOf(const v2Payload& payload);

// The kind of payload a line opens, by the Type attribute it contains.
PayloadKind ClassifyPayloadLine(std::string_view line);

// Builds the payload node that the cursor's line opens and reads it; the node may be not
// parsed (the line was not a payload line).
std::unique_ptr<v2Payload> ReadPayload(LineCursor& cursor);

}  // namespace quillon
