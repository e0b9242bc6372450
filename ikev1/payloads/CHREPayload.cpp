#include "ikev1/payloads/CHREPayload.h"

#include <memory>
#include <string_view>
#include <utility>

#include "ikev1/log/DebugLogReader.h"
#include "ikev1/payloads/Dictionaries.h"
#include "ikev1/payloads/IsakmpValue.h"

namespace quillon {

namespace {

// What a number field reads as when its token is not a number.
constexpr std::uint32_t kUnread = 0xFFFFFFFFu;

}  // namespace

CHREPayload::CHREPayload(DebugLogReader& reader, LogNode* parent) : IsakmpPayload(kChreBlock, FixedName("Challenge/Response"), parent) {
  fields_.nextPld = ReadSubBlockNumber(reader, "NextPld:");
  fields_.reserved = ReadSubBlockNumber(reader, "Reserved:");
  fields_.length = ReadSubBlockBytes(reader, "Length:");
  lamType_ = ReadSubBlockBytes(reader, "Type:");
  reserved2_ = ReadSubBlockNumber(reader, "Reserved:");
  reserved3_ = ReadSubBlockNumber(reader, "Reserved:");

  // The CRACK attributes follow the block directly.
  while (!reader.IsStopped() && !reader.AtEnd()) {
    const bool attribute = reader.ReadToken() == kValueKeyword;
    if (reader.IsStopped()) return;
    reader.PushBack();
    if (!attribute || reader.AtEnd()) return;
    auto value = std::make_unique<IsakmpValue>(reader, IsakmpValue::kPhaseOneSpace, this);
    if (reader.IsAbandoned()) return;  // cut by the next packet: dropped
    AppendChild(std::move(value));
  }
}

void CHREPayload::AppendDetailText(std::string& out) const {
  fields_.AppendDetailHead(out, "Challenge/Response Payload");
  out += "\r\nLAM Type:\t" + LamTypeName(ByteListValue(lamType_));
  out += "\r\nReserved:\t" + DecimalText(reserved2_);
  out += "\r\nReserved:\t" + DecimalText(reserved3_) + "\r\n\r\n";
  for (const auto& child : Children()) {
    if (const IsakmpValue* value = AsAttributeValue(*child)) {
      value->AppendValueText(out, 32, 0);
      out += "\r\n";
    }
  }
}

void CHREPayload::WriteDebug(std::string& out) const {
  out += "debugCHREPayload:\n";
  fields_.WriteLines(out);
  out += "\tType: ";
  AppendHexText(out, lamType_, 16, false, true);
  // A reserved field that was not a number is written without one: its reading then fails on
  // the next label or block keyword and leaves that for what follows, as when it was read.
  // Written as "ffffffff" (the value a failed read gives), the failed token would be left for
  // the attributes after the block, which would then not be read.
  for (const std::uint32_t reserved : {reserved2_, reserved3_}) {
    out += "\n\tReserved: ";
    if (reserved != kUnread) AppendNumberText(out, reserved, 16);
  }
  out += '\n';
}

}  // namespace quillon
