// The informational exchange: one packet with a hash, notification and delete payloads.

#include <string_view>
#include <utility>

#include "ikev1/log/DebugLogReader.h"
#include "ikev1/log/Header.h"
#include "ikev1/log/PacketDebugRecord.h"
#include "ikev1/log/PacketDebugTable.h"
#include "ikev1/negotiation/Exchange.h"
#include "ikev1/payloads/DeletePayload.h"
#include "ikev1/payloads/KeyMaterialPayloads.h"
#include "ikev1/payloads/NotifyPayload.h"
#include "ikev1/payloads/PayloadFactory.h"

namespace quillon {

Notify::Notify(LogNode* parent) : Exchange("Info", parent, kKeepsReassignment) {}

void Notify::SetHeader(std::unique_ptr<Header> header) {
  if (!header) return;
  SetHeaderLink(header.get());
  AppendChild(std::move(header));
}

std::string Notify::DateText() const {
  const Header* header = GetHeader();
  return header != nullptr ? header->DateText() : std::string();
}

std::string Notify::TimeText() const {
  const Header* header = GetHeader();
  return header != nullptr ? header->TimeText() : std::string();
}

std::string Notify::FirstTimeText() const { return TimeText(); }

std::uint16_t Notify::State() const {
  std::uint16_t state = Exchange::State();
  switch (carries_) {
    case Carries::kNotifications: state |= kStateErrorInformational; break;
    case Carries::kDpd: state |= kStateDpd; break;
    case Carries::kDelete:
    case Carries::kDeleteIke:
    case Carries::kDeleteIpsec: state |= kStateDelete; break;
  }
  return state;
}

void Notify::AppendDetailText(std::string& out) const {
  out += "Notify\r\n";
  if (const PacketDebugRecord* record = PacketDebug()) out += record->text;
  out += DirectionLine("\r\n\r\n");
  AppendSummary(out);
}

void Notify::AttachPacketDebug(PacketDebugTable* table) {
  // The daemon logs a received packet's record before the packet; the loader parked it.
  TakeReceivedRecord(table);
}

void Notify::ReadPayloads(DebugLogReader& reader) {
  ReadPayloadChain(reader, [&](int code) { ReadBlock(code, reader); });
  if (reader.IsAbandoned()) reader.ClearAbandon();
}

void Notify::ReadBlock(int code, DebugLogReader& reader) {
  // A created packet's final hash and length, logged after its payloads.
  if (ReadClosingBlock(code, reader, hashPayload_)) return;
  Header* header = GetHeader();
  switch (code) {
    case kHashBlock:
    case kNotifyBlock:
    case kDeleteBlock: {
      const PayloadContext context{header != nullptr && header->IsCreated(), header != nullptr ? 64 : 0, this};
      LogNode* payload = AppendChild(CreatePayload(code, reader, context));
      if (payload == nullptr) return;
      if (code == kHashBlock) {
        hashPayload_ = static_cast<HashPayload*>(payload);  // the factory's node of a hash block
      } else if (code == kNotifyBlock) {
        const auto& notification = static_cast<const NotifyPayload&>(*payload);
        const std::uint32_t type = notification.NotifyTypeValue();
        if (errorType_ == 0 && NotifyPayload::IsError(type)) errorType_ = type;
        if (NotifyPayload::IsDpd(type)) {
          // Dead-peer detection keep-alives: named plainly so they can be told apart and
          // filtered out.
          carries_ = Carries::kDpd;
          namedErrors_ = 0;
          SetName("DPD");
        } else {
          const std::string name = notification.NotifyTypeName();
          if (!name.empty()) SetName(std::string(Name()) + " " + name);
          if (type == NotifyPayload::kNoProposalChosen) namedErrors_ |= kNoProposalChosenBit;
          if (type == NotifyPayload::kInvalidKeyInformation) namedErrors_ |= kInvalidKeyInformationBit;
          if (type == NotifyPayload::kInvalidIdInformation) namedErrors_ |= kInvalidIdInformationBit;
        }
      } else {
        const std::string protocol = static_cast<const DeletePayload&>(*payload).ProtocolName();
        carries_ = protocol == "IKE"     ? Carries::kDeleteIke
                   : protocol == "IPsec" ? Carries::kDeleteIpsec
                                         : Carries::kDelete;
        namedErrors_ = 0;
        SetName(protocol.empty() ? "Delete" : "Delete " + protocol);
      }
      spiText_ = payload->SpiText();
      return;
    }
    default:
      return;  // blocks an informational packet does not carry are passed over
  }
}

void Notify::WriteDebug(std::string& out) const { WritePacketOpening(out); }

void Notify::WriteDebugLength(std::string& out) const { WritePacketClosing(out); }

void Notify::AppendLogSpans(std::vector<LogSpan>& out) const {
  if (const Header* header = GetHeader()) out.push_back(header->Span());
}

}  // namespace quillon
