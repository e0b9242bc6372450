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

std::unique_ptr<LogNode> MakeSA(DebugLogReader& reader, const PayloadContext& context) {
  return std::make_unique<SAPayload>(reader, context.created, context.attributeSpace, context.parent);
}

// The payload types 128, 130 and 131 are the daemon's: challenge/response and the NAT
// traversal payloads of the drafts it was built on (NAT-D, NAT-OA).
constexpr std::array<PayloadBlock, kBlockCodeCount> kBlocks = {{
    {kSaBlock, "debugSAPayload:", 1, &MakeSA},
    {kKeyBlock, "debugKeyPayload:", 4, &Make<KeyPayload>},
    {kNonceBlock, "debugNoncePayload:", 10, &Make<NoncePayload>},
    {kIdBlock, "debugIDPayload:", 5, &Make<IDPayload>},
    {kHashBlock, "debugHashPayload:", 8, &MakeWithCreated<HashPayload>},
    {kCertReqBlock, "debugCertreqPayload:", 7, &Make<CertReqPayload>},
    {kCertBlock, "debugCertPayload:", 6, &Make<CertPayload>},
    {kSigBlock, "debugSigPayload:", 9, &Make<SigPayload>},
    {kHashDataBlock, "debugHashData:", 0, nullptr},  // the final hash of a created packet
    {kNotifyBlock, "debugNotifyPayload:", 11, &Make<NotifyPayload>},
    {kDeleteBlock, "debugDeletePayload:", 12, &Make<DeletePayload>},
    {kHeaderLengthBlock, "debugIsakmpHdrLen:", 0, nullptr},  // the final length of a created packet
    {kVendorIdBlock, "debugVendorIDPayload:", 13, &MakeWithCreated<VendorIDPayload>},
    {kAttributeBlock, "debugAttributePayload:", 14, &MakeWithCreated<AttributePayload>},
    {kTransMatchFailure, "TransMatchFailure:", 0, nullptr},  // a transform the daemon did not choose
    {kTransMatchSuccess, "TransMatchSuccess:", 0, nullptr},
    {kChreBlock, "debugCHREPayload:", 128, &Make<CHREPayload>},
    {kNatDBlock, "debugNatDPayload:", 130, &Make<NatDPayload>},
    {kNatOaBlock, "debugNatOAPayload:", 131, &Make<NatOAPayload>},
}};

constexpr bool RowsInCodeOrder() {
  for (std::size_t i = 0; i < kBlocks.size(); ++i)
    if (kBlocks[i].code != static_cast<int>(i)) return false;
  return true;
}
static_assert(RowsInCodeOrder(), "the block table is indexed by code");

// Every keyword is at least 14 characters long, ends in ':' and starts with 'd' or 'T'.
constexpr bool KeywordsPassTheFilter() {
  for (const PayloadBlock& block : kBlocks) {
    const std::string_view k = block.keyword;
    if (k.size() < 14 || k.back() != ':' || (k.front() != 'd' && k.front() != 'T')) return false;
  }
  return true;
}
static_assert(KeywordsPassTheFilter(), "BlockCodeOf filters tokens by the keywords' shape");

}  // namespace

const std::array<PayloadBlock, kBlockCodeCount>& PayloadBlocks() { return kBlocks; }

int BlockCodeOf(std::string_view t) {
  // A cheap filter for the noise tokens first (see KeywordsPassTheFilter).
  if (t.size() < 14 || t.back() != ':' || (t.front() != 'd' && t.front() != 'T')) return -1;
  for (const PayloadBlock& block : kBlocks)
    if (block.keyword == t) return block.code;
  return -1;
}

const PayloadBlock* PayloadBlockFor(int code) {
  if (code < 0 || code >= kBlockCodeCount) return nullptr;
  return &kBlocks[static_cast<std::size_t>(code)];
}

PayloadConstructor PayloadConstructorFor(int code) {
  const PayloadBlock* block = PayloadBlockFor(code);
  return block != nullptr ? block->construct : nullptr;
}

std::unique_ptr<LogNode> CreatePayload(int code, DebugLogReader& reader, const PayloadContext& context) {
  const PayloadConstructor construct = PayloadConstructorFor(code);
  return construct != nullptr ? construct(reader, context) : nullptr;
}

void ReadTransformMatchRun(DebugLogReader& reader, LogNode* saPayload) { ReadTransMatchRun(reader, saPayload); }

void ReadPayloadChain(DebugLogReader& reader, const std::function<void(int code)>& readBlock) {
  int code = BlockCodeOf(reader.ReadTokenView());
  while (code >= 0) {
    const std::uint64_t afterKeyword = reader.Position();
    readBlock(code);
    code = BlockCodeOf(reader.SkipToBlockKeyword());
    if (reader.Position() == afterKeyword && code >= 0) {
      // The block consumed nothing and handed its keyword back: reading it again would never
      // end, so skip past it.
      reader.ClearPushBack();
      code = BlockCodeOf(reader.SkipToBlockKeyword());
    }
  }
  reader.PushBack();
}

}  // namespace quillon
