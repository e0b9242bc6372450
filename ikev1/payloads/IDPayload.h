// The identification payload ("debugIDPayload:"), as the daemon logs it:
//
//   debugIDPayload:
//   	NextPld: 00
//   	Reserved: 00
//   	Length: 00 0c (12)
//   	ID Type: 01
//   	Service type: 11 (17)  Service port: 01 f4 (1 244 )     or     Reserved2: 00 00 00 (0 0 0 )
//   	ID:
//   0a 00 00 01
//
// optionally followed by a second rendering of the identity ("ID" and two tokens) and by one
// data attribute block ("debugIsakmpValue:"). The payload shows the identity in its detail
// text, names it in a quick-mode packet's caption (IdentityText) and reports an IPv4 identity
// in the low range (a peer index, not an address) to its message for the peer regrouping.
//
// Written back, the block also carries the second rendering (as "ID string: <one token>") and
// the data attribute, so that a saved log reads back with the same identity.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "ikev1/payloads/ByteList.h"
#include "ikev1/payloads/IsakmpValue.h"
#include "ikev1/payloads/KeyMaterialPayloads.h"
#include "ikev1/payloads/PayloadFactory.h"
#include "ikev1/payloads/IsakmpPayload.h"
#include "model/LogNode.h"

namespace quillon {

class DebugLogReader;

// The written identification block up to the identity data: the common fields, the type,
// then the service (protocol and port) when `hasService`, else the reserved octets.
void WriteIDBlock(std::string& out, const PayloadFields& fields, std::uint32_t idType, bool hasService,
                  std::uint32_t serviceType, const ByteList& servicePort, const ByteList& reserved2,
                  const ByteList& idData);

class IDPayload final : public IsakmpPayload, public IdentitySource {
 public:
  IDPayload(DebugLogReader& reader, LogNode* parent);
  ~IDPayload() override;

  void AppendDetailText(std::string& out) const override;
  void WriteDebug(std::string& out) const override;
  bool HasIdAddress() const override { return hasIdAddress_; }
  std::uint32_t IdAddress() const override { return idAddress_; }

  // The identity in one line, as a quick-mode packet shows it after " - " in its caption and
  // in its "ID:" section, and as two quick modes compare their identities: the address
  // ("10.0.0.1"), subnet ("10.0.0.0/24", or "10.0.0.0/255.0.255.0" for a mask that is not
  // a prefix), range ("10.0.0.1-10.0.0.9"), the name of a name type (FQDN, user FQDN, key ID
  // when printable), else the type name and the data in hex; then, when the identity names a
  // protocol or a port, " (UDP:500)", " (TCP)", " (any:500)" or " (47:1701)".
  std::string IdentityText() const override;

  const PayloadFields& Fields() const { return fields_; }
  std::uint32_t IdType() const { return idType_; }
  const ByteList& Reserved2() const { return reserved2_; }
  const ByteList& IdData() const { return idData_; }
  bool HasStringForm() const { return hasStringForm_; }
  // The data attribute that followed the identification (attribute space 32); not a child.
  const IsakmpValue* Attribute() const { return attribute_.get(); }
  bool HasService() const { return hasService_; }
  std::uint32_t ServiceType() const { return serviceType_; }
  const ByteList& ServicePort() const { return servicePort_; }

 private:
  // The protocol and port of the identity, from the service lines or the reserved octets.
  bool ProtocolAndPort(std::uint32_t& protocol, std::uint32_t& port) const;

  PayloadFields fields_;
  std::uint32_t idType_ = 0;
  ByteList reserved2_;
  ByteList idData_;
  bool hasStringForm_ = false;
  std::unique_ptr<IsakmpValue> attribute_;
  std::uint32_t serviceType_ = 0;
  ByteList servicePort_;
  bool hasService_ = false;
  bool hasIdAddress_ = false;
  std::uint32_t idAddress_ = 0;
};

}  // namespace quillon
