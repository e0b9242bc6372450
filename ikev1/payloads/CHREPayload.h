// The challenge/response payload ("debugCHREPayload:") of the CRACK authentication, in which
// a client authenticates with a legacy method (password, one-time password, token card) inside
// the phase-one exchange.
//
//   debugCHREPayload:
//   	NextPld: 00
//   	Reserved: 00
//   	Length: 00 18 (24)
//   	Type: 00 01
//   	Reserved: 00
//   	Reserved: 00
//   debugIsakmpValue:                      (one block per CRACK attribute)
//   	Attribute: 40 06
//   	Format: 0
//   	Length: 00 05 (5)
//   	Val: 61 6c 69 63 65 (...)
//
// "Type:" is the legacy authentication method. The attributes belong to the ISAKMP attribute
// set, which holds the CRACK attributes (user name, secret, domain, PIN, challenge, message,
// finish status).
#pragma once

#include <cstdint>
#include <string>

#include "ikev1/payloads/ByteList.h"
#include "ikev1/payloads/KeyMaterialPayloads.h"
#include "ikev1/payloads/IsakmpPayload.h"
#include "model/LogNode.h"

namespace quillon {

class DebugLogReader;

// Node name "Challenge/Response"; children: its attributes (IsakmpValue, phase-one space).
class CHREPayload final : public IsakmpPayload {
 public:
  // Reads the block and the attribute blocks right after it; the reader stands just after
  // "debugCHREPayload:".
  CHREPayload(DebugLogReader& reader, LogNode* parent);

  void AppendDetailText(std::string& out) const override;
  void WriteDebug(std::string& out) const override;

  const PayloadFields& Fields() const { return fields_; }
  const ByteList& LamType() const { return lamType_; }
  std::uint32_t Reserved2() const { return reserved2_; }
  std::uint32_t Reserved3() const { return reserved3_; }

 private:
  PayloadFields fields_;
  ByteList lamType_;
  std::uint32_t reserved2_ = 0;
  std::uint32_t reserved3_ = 0;
};

}  // namespace quillon
