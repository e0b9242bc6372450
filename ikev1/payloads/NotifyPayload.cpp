#include "ikev1/payloads/NotifyPayload.h"

#include <memory>
#include <string_view>

#include "ikev1/log/DebugLogReader.h"
#include "ikev1/payloads/Dictionaries.h"
#include "ikev1/payloads/IsakmpValue.h"

namespace quillon {

namespace {

// The daemon's second rendering of the data opens with this token (no colon).
constexpr std::string_view kSecondRendering = "NotifData";

// Notify types whose data is also shown as characters: NO-PROPOSAL-CHOSEN and three private ones.
bool DataIsText(std::uint32_t type) { return type == 14 || type == 9101 || type == 9110 || type == 32772; }


// A token that no rendering of data can contain: it opens a block or the next packet.
bool EndsData(std::string_view t) {
  return DebugLogReader::IsBlockKeyword(t) || DebugLogReader::IsHeaderStart(t) || DebugLogReader::IsDebugMarker(t) ||
         IsSubBlockKeyword(t);
}

// Skips up to `count` tokens; false (the stopping token left to be read again) when a block
// keyword or the next packet comes first, or the reader holds.
bool SkipDataTokens(DebugLogReader& reader, int count) {
  for (int i = 0; i < count; ++i) {
    if (reader.IsStopped() || reader.AtEnd()) return false;
    const std::string& t = reader.ReadToken();
    if (EndsData(t)) {
      reader.PushBack();
      return false;
    }
  }
  return true;
}


}  // namespace

void SkipSecondDataRendering(DebugLogReader& reader, std::size_t dataSize) {
  const std::uint64_t n = dataSize;
  const std::uint64_t count = 3 * n + (n > 20 ? 3 : 0) + 4 * (n / 20);
  const std::uint64_t target = reader.Position() + count;
  while (!reader.IsStopped()) {
    reader.SkipWhitespace();
    if (reader.AtEnd() || reader.Position() >= target) return;
    const std::string& t = reader.ReadToken();
    if (EndsData(t)) {
      reader.PushBack();
      return;
    }
  }
}

NotifyPayload::NotifyPayload(DebugLogReader& reader, LogNode* parent) : IsakmpPayload(kNotifyBlock, FixedName("Notify"), parent) {
  ReadInformationalHead(reader, fields_, doi_, protId_, spiSize_);
  notifyType_ = ReadSubBlockBytes(reader, "NotifyType:");
  if (spiSize_ != 0) spi_ = ReadSubBlockBytes(reader, "SPI:");

  // The data size in signed 32-bit arithmetic: a length shorter than the fixed fields (or an
  // unreadable one) gives no data.
  const auto dataSize =
      static_cast<std::int32_t>(ByteListValue(fields_.length) - 12u - static_cast<std::uint32_t>(spiSize_));
  hasData_ = dataSize > 0;
  if (hasData_) {
    notifData_ = ReadSubBlockBytes(reader, "NotifData:");
    if (!reader.IsStopped()) {
      if (reader.ReadToken() == kSecondRendering) {
        if (SkipDataTokens(reader, 2)) SkipSecondDataRendering(reader, notifData_.size());
      } else {
        reader.PushBack();
      }
    }
  }

  switch (NotifyTypeValue()) {
    case kResponderLifetime: ReadLifetimeAttributes(reader); break;
    case kReplayStatus:
      statusText_ = ByteListValue(notifData_) == 1 ? " (replay detection enabled)" : " (replay detection disabled)";
      break;
    default: dataAsText_ = DataIsText(NotifyTypeValue()); break;
  }
}

void NotifyPayload::ReadLifetimeAttributes(DebugLogReader& reader) {
  if (reader.IsStopped()) return;
  // ESP lifetimes are IPsec SA attributes; the others ISAKMP SA attributes.
  const int space = protId_ == 3 ? IsakmpValue::kPhaseTwoSpace : IsakmpValue::kPhaseOneSpace;
  std::string t = reader.ReadToken();
  while (t == kValueKeyword && !reader.IsStopped() && !reader.AtEnd()) {
    reader.PushBack();
    auto value = std::make_unique<IsakmpValue>(reader, space, this);
    if (reader.IsAbandoned()) return;  // cut by the next packet: dropped
    AppendChild(std::move(value));
    t = reader.ReadToken();
  }
  reader.PushBack();
}

void NotifyPayload::AppendCaption(std::string& out) const { out += std::string(Name()) + ":   " + NotifyTypeName(); }

std::string NotifyPayload::NotifyTypeName() const { return quillon::NotifyTypeName(NotifyTypeValue()); }

std::string NotifyPayload::SpiText() const { return UnspacedHex(spi_); }

void NotifyPayload::AppendDetailText(std::string& out) const {
  fields_.AppendDetailHead(out, "Notify Payload");
  out += "\r\nDOI:\t\t" + SpacedHex(doi_) + " (" + DecimalText(ByteListValue(doi_)) + ")";
  out += "\r\nProtID:\t\t" + DecimalText(static_cast<std::uint32_t>(protId_));
  out += "\r\nSPI Size:\t" + DecimalText(static_cast<std::uint32_t>(spiSize_));
  out += "\r\nNotify Type:\t" + DecimalText(NotifyTypeValue()) + " (" + NotifyTypeName() + ")\r\n";
  if (spiSize_ != 0) out += "SPI:\r\n" + HexText(spi_, 16, true, false) + "\r\n";
  if (hasData_) out += "Notify Data:\r\n" + WrappedHex(notifData_) + std::string(statusText_) + "\r\n\r\n";
  if (dataAsText_) out += "Notify Data as string:\r\n" + CharText(notifData_, false) + "\r\n\r\n";
  for (const auto& child : Children()) {
    if (const IsakmpValue* value = AsAttributeValue(*child)) {
      value->AppendValueText(out, protId_, 0);
      out += "\r\n";
    }
  }
}

void WriteNotifyBlock(std::string& out, const PayloadFields& fields, const ByteList& doi, std::int32_t protId,
                      std::int32_t spiSize, const ByteList& notifyType, const ByteList& spi, const ByteList& data) {
  WriteInformationalHead(out, "debugNotifyPayload:", fields, doi, protId, spiSize);
  out += "\n\tNotifyType: " + SpacedHex(notifyType);
  out += "\n\tSPI: " + SpacedHex(spi);
  out += "\n\tNotifData: " + SpacedHex(data);
  out += '\n';
}

void NotifyPayload::WriteDebug(std::string& out) const {
  WriteNotifyBlock(out, fields_, doi_, protId_, spiSize_, notifyType_, spi_, notifData_);
}

}  // namespace quillon
