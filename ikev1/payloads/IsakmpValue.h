// One ISAKMP data attribute ("debugIsakmpValue:" block), the unit of every attribute list:
// the transforms of an SA, the responder-lifetime notification, the challenge/response,
// identification and configuration-mode attribute payloads.
//
//   debugIsakmpValue:
//   	Attribute: 80 01
//   	Format: 1
//   	Val: 00 01
//
// The variable-length form (Format 0) adds a "Length:" line and writes the value's decimal in
// parentheses after the dump. An attribute type is named within its attribute space: 32 the
// ISAKMP (phase one) set, which also carries the challenge/response (CRACK) attributes, 64 the
// IPsec (phase two) set, 256 the configuration-mode set; any other space reads as 64.
//
// This file also holds what the nested blocks of an SA share: the label search that stays
// inside one sub-block (a proposal, a transform, an attribute) and the two character
// renderings of a value, CharText and DottedAddressText.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "ikev1/payloads/ByteList.h"
#include "model/LogNode.h"

namespace quillon {

class DebugLogReader;

// ---- sub-blocks -----------------------------------------------------------------------------------

// The keyword of one data attribute inside a transform, attribute or challenge/response block.
inline constexpr std::string_view kValueKeyword = "debugIsakmpValue:";

// The keywords of the blocks that the daemon logs inside a payload block, which the message's
// chain does not dispatch on: "debugPropPayload:", "debugTransPayload:", "debugIsakmpValue:"
// and the length blocks "debugSAPayloadLen:", "debugPropPayloadLen:", "debugTransPayloadLen:",
// "debugAttributePayloadLen:".
bool IsSubBlockKeyword(std::string_view token);

// Looks for `label` among the next tokens of the current sub-block. Like SeekBlockLabel it
// stops at a payload-block keyword, a "#####" marker, a daemon restart and the end of the
// input, and at the start of the next packet (which it leaves for the packet scan and which
// abandons the reader); it also stops at a sub-block keyword, so that a missing field is not
// taken from the next proposal, transform or attribute. A stopping token is left to be read
// again. The label itself may be a sub-block keyword. Returns whether the label was found.
bool SeekSubBlockLabel(DebugLogReader& reader, std::string_view label);

// The hexadecimal number after `label` within the sub-block; 0xFFFFFFFF when the label is
// missing or no hex token follows it (that token is left to be read again).
std::uint32_t ReadSubBlockNumber(DebugLogReader& reader, std::string_view label);

// The dump after `label` within the sub-block, read by ReadByteList; empty when the label is
// missing.
ByteList ReadSubBlockBytes(DebugLogReader& reader, std::string_view label);

// Consumes the next token when it is a decimal in parentheses, as the written layouts put
// after a length or value dump ("(24)"); any other token is left to be read again.
void SkipParenthesisedDecimal(DebugLogReader& reader);

// ---- character renderings ----------------------------------------------------------------------

// Each element's low byte as one character; a zero byte reads as a blank and ")" as ")"
// followed by a line end. With `wrap`, a line end and two blanks go before every element whose
// position is a non-zero multiple of 40.
std::string CharText(const ByteList& list, bool wrap);

// "(a.b.c.d)" with the first four elements in decimal; for eight elements
// "(a.b.c.d  e.f.g.h)" (address and mask); empty for any other length.
std::string DottedAddressText(const ByteList& list);

// ---- the data attribute ------------------------------------------------------------------------

// The "debugIsakmpValue:" block: attribute type, format (1 basic, 0 variable), for a variable
// one its length, then the value.
void WriteIsakmpValueBlock(std::string& out, const ByteList& attribute, std::uint32_t format, const ByteList& length,
                           const ByteList& value);

class IsakmpValue : public LogNode {
 public:
  static constexpr int kPhaseOneSpace = 32;
  static constexpr int kPhaseTwoSpace = 64;
  static constexpr int kConfigModeSpace = 256;

  // Reads one "debugIsakmpValue:" block. The reader stands before the keyword (its owner has
  // pushed it back) or just after it. `owner` is the payload that will hold the attribute; it
  // is not stored (the owner appends the attribute as its child).
  IsakmpValue(DebugLogReader& reader, int attributeSpace, LogNode* owner);

  // The attributes are shown inside their owner's detail text: no caption, no text of their own.
  void AppendCaption(std::string& /*out*/) const override {}
  void AppendDetailText(std::string& /*out*/) const override {}
  NodeKind Kind() const override { return NodeKind::kAttributeValue; }
  // The debug block: "debugIsakmpValue:" with the attribute, format, (length) and value lines.
  void WriteDebug(std::string& out) const override;

  // A user name that the attribute reveals (a user-name attribute, or an "User <name>
  // authenticated" message) and a user detail (an assigned address).
  bool HasUserName() const override { return user_ && user_->hasName; }
  std::string UserName() const override { return user_ ? std::string(user_->name) : std::string(); }
  bool HasUserDetail() const override { return user_ && user_->hasDetail; }
  std::string UserDetail() const override { return user_ ? std::string(user_->detail) : std::string(); }

  // The one-line text of the attribute, its label and value named in its attribute space.
  // `protocolId` is the owning proposal's protocol (IPCOMP prefixes the life attributes of
  // space 64 with "IPCA "), `transformId` the owning transform's ID (ESP AES-GCM derives its
  // authentication algorithm).
  std::string ValueText(std::int32_t protocolId, std::uint32_t transformId) const;
  // The same, appended to `out` (the owners' detail texts).
  void AppendValueText(std::string& out, std::int32_t protocolId, std::uint32_t transformId) const;

  const ByteList& Attribute() const { return attribute_; }
  const ByteList& Val() const { return val_; }
  const ByteList& Length() const { return length_; }
  int AttributeSpace() const { return attributeSpace_; }
  // 0 for the variable-length (type/length/value) form, anything else for the basic form.
  std::uint32_t Format() const { return format_; }

 private:
  void AppendPhaseOneText(std::string& out) const;
  void AppendPhaseTwoText(std::string& out, std::int32_t protocolId, std::uint32_t transformId) const;
  void TakeUserTexts();

  ByteList attribute_;
  ByteList val_;
  ByteList length_;
  int attributeSpace_ = 0;
  std::uint32_t format_ = 0;
  // What a configuration attribute tells of the remote user; most attributes (every SA
  // attribute) tell nothing, so the texts are kept apart.
  struct UserTexts : ArenaPlaced<UserTexts> {
    bool hasName = false;
    std::pmr::string name{NodeResource()};
    bool hasDetail = false;
    std::pmr::string detail{NodeResource()};
  };
  UserTexts& User() {
    if (!user_) user_ = std::make_unique<UserTexts>();
    return *user_;
  }
  std::unique_ptr<UserTexts> user_;
};

// The node as an attribute value, null for any other node (only an attribute value says it is
// one): the owners list their values in their detail texts, and a cast per child was a good
// part of building those.
inline const IsakmpValue* AsAttributeValue(const LogNode& node) {
  return node.IsAttributeValue() ? static_cast<const IsakmpValue*>(&node) : nullptr;
}

// The rendering of a configuration-mode attribute (attribute space 256): the configuration
// attributes (internal addresses, DNS, expiry, ...), the extended-authentication attributes
// (type, user name, password, message, status, ...) and the gateway's private ones (address
// assignment status, DHCP texts, client messages). The attribute type is taken whole: the
// daemon logs the extended-authentication type and status both with and without the format
// bit (13 and 32781, 20 and 32788). A password is never shown, whatever its value.
std::string ConfigModeValueText(const IsakmpValue& value);

}  // namespace quillon
