#include "ikev1/payloads/PayloadFactory.h"

#include <array>

#include "ikev1/log/DebugLogReader.h"
#include "ikev1/payloads/AttributePayload.h"
#include "ikev1/payloads/CHREPayload.h"
#include "ikev1/payloads/KeyMaterialPayloads.h"
#include "ikev1/payloads/DeletePayload.h"
#include "ikev1/payloads/NotifyPayload.h"
#include "ikev1/payloads/SAPayload.h"
#include "ikev1/payloads/TransMatch.h"
#include "ikev1/payloads/CertPayloads.h"
#include "ikev1/payloads/IDPayload.h"
#include "ikev1/payloads/NatOAPayload.h"
#include "ikev1/payloads/VendorIDPayload.h"

namespace quillon {

namespace {

template <class P>
std::unique_ptr<LogNode> Make(DebugLogReader& reader, const PayloadContext& context) {
  return std::make_unique<P>(reader, context.parent);
}

// Payloads whose reading depends on the packet's direction.
template <class P>
std::unique_ptr<LogNode> MakeWithCreated(DebugLogReader& reader, const PayloadContext& context) {
  return std::make_unique<P>(reader, context.created, context.parent);
}

// One entry per block code. Empty entries are the blocks that make no payload node: the data
// and length blocks a message reads itself (final hash, final length) and the transform-match
// lines.
constexpr std::array<PayloadConstructor, DebugLogReader::kBlockKeywordCount> kConstructors = [] {
  std::array<PayloadConstructor, DebugLogReader::kBlockKeywordCount> table{};
  table[kKeyBlock] = &Make<KeyPayload>;
  table[kNonceBlock] = &Make<NoncePayload>;
  table[kHashBlock] = &MakeWithCreated<HashPayload>;
  table[kSigBlock] = &Make<SigPayload>;
  table[kNatDBlock] = &Make<NatDPayload>;
  table[kSaBlock] = [](DebugLogReader& reader, const PayloadContext& context) -> std::unique_ptr<LogNode> {
    return std::make_unique<SAPayload>(reader, context.created, context.attributeSpace, context.parent);
  };
  table[kNotifyBlock] = &Make<NotifyPayload>;
  table[kDeleteBlock] = &Make<DeletePayload>;
  table[kIdBlock] = &Make<IDPayload>;
  table[kCertBlock] = &Make<CertPayload>;
  table[kCertReqBlock] = &Make<CertReqPayload>;
  table[kVendorIdBlock] = &MakeWithCreated<VendorIDPayload>;
  table[kNatOaBlock] = &Make<NatOAPayload>;
  table[kAttributeBlock] = &MakeWithCreated<AttributePayload>;
  table[kChreBlock] = &Make<CHREPayload>;
  return table;
}();

}  // namespace

PayloadConstructor PayloadConstructorFor(int code) {
  if (code < 0 || code >= DebugLogReader::kBlockKeywordCount) return nullptr;
  return kConstructors[static_cast<std::size_t>(code)];
}

std::unique_ptr<LogNode> CreatePayload(int code, DebugLogReader& reader, const PayloadContext& context) {
  const PayloadConstructor construct = PayloadConstructorFor(code);
  return construct != nullptr ? construct(reader, context) : nullptr;
}

void ReadTransformMatchRun(DebugLogReader& reader, LogNode* saPayload) { ReadTransMatchRun(reader, saPayload); }

void ReadPayloadChain(DebugLogReader& reader, const std::function<void(int code)>& readBlock) {
  int code = DebugLogReader::BlockKeywordCode(reader.ReadTokenView());
  while (code >= 0) {
    const std::uint64_t afterKeyword = reader.Position();
    readBlock(code);
    code = DebugLogReader::BlockKeywordCode(reader.SkipToBlockKeyword());
    if (reader.Position() == afterKeyword && code >= 0) {
      // The block consumed nothing and handed its keyword back: reading it again would never
      // end, so skip past it.
      reader.ClearPushBack();
      code = DebugLogReader::BlockKeywordCode(reader.SkipToBlockKeyword());
    }
  }
  reader.PushBack();
}

}  // namespace quillon
