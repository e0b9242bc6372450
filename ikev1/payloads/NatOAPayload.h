// The NAT original-address payload of NAT traversal ("debugNatOAPayload:"):
//
//   debugNatOAPayload:
//   	NextPld: 00
//   	Reserved: 00
//   	Length: 00 0c (12)
//   	ID Type: 01
//   	Address: 192.168.1.10
//
// The address is kept as the daemon logged it.
#pragma once

#include <cstdint>
#include <string>

#include "ikev1/payloads/KeyMaterialPayloads.h"
#include "ikev1/payloads/IsakmpPayload.h"
#include "model/LogNode.h"

namespace quillon {

class DebugLogReader;

class NatOAPayload final : public IsakmpPayload {
 public:
  NatOAPayload(DebugLogReader& reader, LogNode* parent);

  void AppendDetailText(std::string& out) const override;
  void WriteDebug(std::string& out) const override;

  const PayloadFields& Fields() const { return fields_; }
  std::uint32_t IdType() const { return idType_; }
  std::string_view Address() const { return address_; }

 private:
  PayloadFields fields_;
  std::uint32_t idType_ = 0;
  std::pmr::string address_{NodeResource()};
};

}  // namespace quillon
