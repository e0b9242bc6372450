// The configuration-mode attribute payload ("debugAttributePayload:"): one message of the
// ISAKMP configuration method, which the gateway uses for extended authentication (user name,
// password, status) and to hand the client its internal address, DNS servers and its own
// private settings.
//
//   debugAttributePayload:
//   	NextPld: 00
//   	Reserved: 00
//   	Length: 00 18 (24)
//   	Type: 02
//   	Reserved: 00
//   	Identifier: 5a 3c (23100)
//   debugIsakmpValue:                      (one block per attribute)
//   	Attribute: 00 01
//   	Format: 0
//   	Length: 00 04 (4)
//   	Val: 0a 00 00 05 (167772165)
//   debugAttributePayloadLen:              (packets the local daemon created)
//   	Length: 00 20 (32)
//
// The attribute type names the message (request, reply, set, acknowledge); the status
// attribute of a set or acknowledge tells whether the authentication succeeded. The payload
// passes the user name and the assigned address its attributes reveal up to its message.
#pragma once

#include <cstdint>
#include <string>

#include "ikev1/payloads/ByteList.h"
#include "ikev1/payloads/KeyMaterialPayloads.h"
#include "ikev1/payloads/PayloadFactory.h"
#include "ikev1/payloads/IsakmpPayload.h"
#include "model/LogNode.h"

namespace quillon {

class DebugLogReader;

// Node name "Attribute"; children: its attributes (IsakmpValue, configuration-mode space).
// The written attribute payload block (its attributes are IsakmpValue blocks) and the length
// block a created packet logs after them.
void WriteAttributeBlock(std::string& out, const PayloadFields& fields, std::uint32_t type, std::uint32_t reserved2,
                         const ByteList& identifier);
void WriteAttributeLengthBlock(std::string& out, const ByteList& length);

class AttributePayload final : public IsakmpPayload, public ConfigAttributeSource {
 public:
  // Reads the block and its attributes; the reader stands just after "debugAttributePayload:".
  // `created` (the local daemon created the packet) makes it take the final length from the
  // "debugAttributePayloadLen:" block after the attributes.
  AttributePayload(DebugLogReader& reader, bool created, LogNode* parent);

  void AppendDetailText(std::string& out) const override;
  void WriteDebug(std::string& out) const override;
  // "debugAttributePayloadLen:", only when the payload read one.
  void WriteDebugLength(std::string& out) const override;

  // The first user name and the last assigned address among the attributes.
  bool HasUserName() const override { return hasUserName_; }
  std::string UserName() const override { return std::string(userName_); }
  bool HasUserDetail() const override { return hasUserDetail_; }
  std::string UserDetail() const override { return std::string(userDetail_); }

  // 1 request, 2 reply, 3 set, 4 acknowledge.
  std::uint32_t ConfigMessageType() const override { return type_; }
  // The value of the last status attribute (0 failed, 1 succeeded); 1 when there is none.
  std::uint32_t ConfigStatus() const override { return status_; }

  const PayloadFields& Fields() const { return fields_; }
  std::uint32_t Type() const { return type_; }
  std::uint32_t Reserved2() const { return reserved2_; }
  const ByteList& Identifier() const { return identifier_; }
  bool HasLengthBlock() const { return lengthBlockRead_; }

 private:
  void ReadAttributes(DebugLogReader& reader);

  PayloadFields fields_;
  std::uint32_t type_ = 0;
  std::uint32_t reserved2_ = 0;
  ByteList identifier_;
  std::uint32_t status_ = 1;
  bool lengthBlockRead_ = false;
  bool hasUserName_ = false;
  std::pmr::string userName_{NodeResource()};
  bool hasUserDetail_ = false;
  std::pmr::string userDetail_{NodeResource()};
};

}  // namespace quillon
