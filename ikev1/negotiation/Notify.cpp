// The informational exchange: one packet with a hash, notification and delete payloads.

#include <string_view>
#include <utility>

#include "ikev1/log/DebugLogReader.h"
#include "ikev1/log/Header.h"
#include "ikev1/log/PacketDebugRecord.h"
#include "ikev1/log/PacketDebugTable.h"
#include "ikev1/negotiation/Exchange.h"
#include "ikev1/payloads/KeyMaterialPayloads.h"
#include "ikev1/payloads/PayloadFactory.h"

namespace quillon {

namespace {

const std::string kPlusLine(70, '+');

}  // namespace

Notify::Notify(QLFolder* parent) : Exchange("Info", parent, kKeepsReassignment) {}

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

std::string Notify::DetailText() const {
  std::string text = "Notify\r\n";
  if (const PacketDebugRecord* record = PacketDebug()) text += record->text;
  text += DirectionLine("\r\n\r\n");
  AppendSummary(text);
  return text;
}

void Notify::AttachPacketDebug(PacketDebugTable* table) {
  // The daemon logs a received packet's record before the packet; the loader parked it.
  const Header* header = GetHeader();
  if (header == nullptr || header->IsCreated() || table == nullptr) return;
  if (std::unique_ptr<PacketDebugRecord> record = table->Take(header->InitCookie(), header->MsgId()))
    SetPacketDebug(std::move(record));
}

void Notify::ReadPayloads(DebugLogReader& reader) {
  ReadPayloadChain(reader, [&](int code) { ReadBlock(code, reader); });
  if (reader.IsAbandoned()) reader.ClearAbandon();
}

void Notify::ReadBlock(int code, DebugLogReader& reader) {
  Header* header = GetHeader();
  switch (code) {
    case kHashBlock:
    case kNotifyBlock:
    case kDeleteBlock: {
      const PayloadContext context{header != nullptr && header->IsCreated(), header != nullptr ? 64 : 0, this};
      QLFolder* payload = AppendChild(CreatePayload(code, reader, context));
      if (payload == nullptr) return;
      if (code == kHashBlock) {
        hashPayload_ = payload;
      } else if (code == kNotifyBlock) {
        const std::string type = payload->NotifyTypeName();
        if (type.find("DPD") != std::string::npos) {
          // Dead-peer detection keep-alives: named plainly so they can be told apart and
          // filtered out.
          isDpd_ = true;
          SetName("DPD");
        } else if (!type.empty()) {
          SetName(Name() + " " + type);
        }
      } else {
        isDelete_ = true;
        const std::string protocol = payload->ProtocolName();
        SetName(protocol.empty() ? "Delete" : "Delete " + protocol);
      }
      spiText_ = payload->SpiText();
      return;
    }
    case kHashDataBlock:
      // A created packet's final hash, logged after its payloads.
      if (auto* hash = dynamic_cast<HashPayload*>(hashPayload_)) hash->ReadHashData(reader);
      return;
    case kHeaderLengthBlock:
      if (header != nullptr && SeekBlockLabel(reader, "Length:")) {
        reader.PushBack();
        header->ReadLengthBlock(reader);
      }
      return;
    default:
      return;  // blocks an informational packet does not carry are passed over
  }
}

void Notify::WriteDebug(std::string& out) const {
  const Header* header = GetHeader();
  if (header == nullptr) return;
  if (!header->IsCreated()) {
    if (const PacketDebugRecord* record = PacketDebug()) record->Write(out);
    header->WriteHeaderBlock(out);
  }
  std::string line = " peer: ";
  AppendNumberText(line, header->PeerAddress(), 16);
  line += header->TunnelText();
  line += header->DateText();
  // The daemon prints the time of day between the day and the year.
  line.insert(line.size() >= 5 ? line.size() - 5 : 0, " " + header->TimeText());
  out += '\n';
  out += kPlusLine;
  out += '\n';
  out += header->IsCreated() ? "gxIsakmp_BuildInfoExc-N" : "gxIsakmp_ProcessInfoExc";
  out += line;
  out += '\n';
  out += kPlusLine;
  out += '\n';
  if (header->IsCreated()) header->WriteHeaderBlock(out);
}

void Notify::WriteDebugLength(std::string& out) const {
  const Header* header = GetHeader();
  if (header == nullptr || !header->IsCreated()) return;
  header->WriteLengthBlock(out);
  if (const PacketDebugRecord* record = PacketDebug()) record->Write(out);
}

}  // namespace quillon
