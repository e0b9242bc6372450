#include "ikev1/log/Message.h"

#include <string_view>
#include <utility>

#include "ikev1/log/DebugLogReader.h"
#include "ikev1/log/Header.h"
#include "ikev1/log/PacketDebugRecord.h"
#include "ikev1/log/PacketDebugTable.h"
#include "ikev1/payloads/KeyMaterialPayloads.h"
#include "ikev1/payloads/PayloadFactory.h"
#include "model/IPv4.h"

namespace quillon {

// ---- Message ------------------------------------------------------------------------------------

Message::Message(std::string name, LogNode* parent, unsigned links)
    : FolderElement(std::move(name), parent), links_(links) {}

Message::~Message() = default;

void Message::SetHeader(std::unique_ptr<Header> header) {
  if (!header) return;
  SetHeaderLink(header.get());
  InsertChild(0, std::move(header));
}

int Message::AttributeSpace() const {
  const Header* header = GetHeader();
  if (header == nullptr) return 0;
  const std::uint32_t kind = header->PacketKind();
  const bool phaseOne = (kind >= kMainMode1 && kind <= kMainMode6) || (kind >= kAggressive1 && kind <= kAggressive3);
  return phaseOne ? 32 : 64;
}

void Message::ReadPayloads(DebugLogReader& reader) {
  // The "NextPld" numbers in the blocks do not steer the reading: the blocks as logged do.
  ReadPayloadChain(reader, [&](int code) { ReadBlock(code, reader); });
}

void Message::ReadBlock(int code, DebugLogReader& reader) {
  // The final hash of a created packet goes to the hash payload logged before it.
  if (ReadClosingBlock(code, reader, HashPayload())) return;
  switch (code) {
    case kTransMatchFailure:
    case kTransMatchSuccess:
      ReadTransformMatchRun(reader, SaPayload());
      return;
    default:
      break;
  }

  const Header* header = GetHeader();
  const PayloadContext context{header != nullptr && header->IsCreated(), AttributeSpace(), this};
  LogNode* payload = AddPayload(CreatePayload(code, reader, context));
  if (payload == nullptr) return;
  switch (code) {
    case kSaBlock: SetSaPayload(payload); break;
    case kIdBlock: SetIdPayload(payload); break;
    // The payload factory makes a hash payload of every hash block.
    case kHashBlock: SetHashPayload(static_cast<quillon::HashPayload*>(payload)); break;
    case kAttributeBlock: SetAttributePayload(payload); break;
    default: break;
  }
}

LogNode* Message::AddPayload(std::unique_ptr<LogNode> payload) {
  LogNode* p = AppendChild(std::move(payload));
  if (p == nullptr) return nullptr;
  if (spiText_.empty()) spiText_ = p->SpiText();
  if (p->HasIdAddress()) {
    hasIdAddress_ = true;
    idAddress_ = p->IdAddress();
  }
  if (!hasUserName_ && p->HasUserName()) {
    hasUserName_ = true;
    userName_ = p->UserName();
  }
  if (p->HasUserDetail()) {
    hasUserDetail_ = true;
    userDetail_ = p->UserDetail();
  }
  return p;
}

void Message::AttachPacketDebug(PacketDebugTable* table) {
  // A received packet's record precedes it in the log and was parked by the loader; a created
  // packet's "Sent:" record follows it and is attached by the loader when it is read.
  TakeReceivedRecord(table);
}

void Message::AppendDetailText(std::string& out) const {
  const Header* header = GetHeader();
  if (header == nullptr) return;
  out += Name();
  out += "- ";
  out += header->DateView();
  AppendDetailTail(out, *header);
}

void Message::AppendDetailTail(std::string& t, const Header& header) const {
  if (const PacketDebugRecord* record = PacketDebug()) {
    t += "\r\n";
    t += record->text;
  }
  t += header.IsCreated() ? "\r\n\r\n==> Sent to peer " : "\r\n\r\n<== Received from peer ";
  t += FormatIPv4(header.EffectivePeerAddress());
}

namespace {

// A negotiation keeps the peer address of the first "PeerIP:" that its packets' records gave
// it, and the regrouping names a merged peer by that address. A "Sent:" record met after a
// received packet takes the place of the packet's own record, which may have been the one
// that gave the address: the tree then holds the address, but none of its records does. So
// that the saved log gives it back, a "Received:" record with that address goes before the
// first received packet whose record is a "Sent:" one, when no record before gives an
// address: the packet takes it when read, and its own "Sent:" record, written after it,
// replaces it again. The address, 0 when no such record is needed before `message`.
std::uint32_t KeptAddressBefore(const Message& message) {
  const auto* negotiation = NodeAs<NegotiationNode>(message.Parent());
  const std::uint32_t kept = negotiation != nullptr ? negotiation->PacketDebugValue() : 0;
  if (kept == 0) return 0;
  const Message* holder = nullptr;  // the first received packet with a "Sent:" record
  for (const auto& child : negotiation->Children()) {
    const Message* packet = NodeAs<Message>(child.get());
    const PacketDebugRecord* record = packet != nullptr ? packet->PacketDebug() : nullptr;
    if (record == nullptr || packet->GetHeader() == nullptr) continue;
    const bool received = !packet->GetHeader()->IsCreated();
    if (received && record->sent && holder == nullptr) holder = packet;
    // The first record read back with an address gives the negotiation its address.
    if (record->peerIP != 0 && (received || record->sent)) return record->peerIP != kept && holder == &message ? kept : 0;
  }
  return holder == &message ? kept : 0;
}

}  // namespace

void Message::WriteDebug(std::string& out) const {
  if (const std::uint32_t address = KeptAddressBefore(*this); address != 0) {
    const Header& header = *GetHeader();
    PacketDebugRecord record;
    record.sent = false;
    record.peer = header.PeerAddress();
    record.initCookie = header.InitCookie();
    record.msgId = header.MsgId();
    record.text = "\r\nPeerIP:\t\t\t" + FormatIPv4(address);
    record.Write(out);
  }
  WritePacketOpening(out);
}

void Message::WriteDebugLength(std::string& out) const { WritePacketClosing(out); }

// ---- ConfigMess ---------------------------------------------------------------------------------

ConfigMess::ConfigMess(LogNode* parent) : ConfigMess("CM", parent) {}

ConfigMess::ConfigMess(std::string name, LogNode* parent) : Message(std::move(name), parent, kHashLink) {}

void ConfigMess::SetAttributePayload(LogNode* payload) {
  const Header* header = GetHeader();
  if (header == nullptr) return;
  complete_ = true;
  const auto* attributes = dynamic_cast<const ConfigAttributeSource*>(payload);
  if (attributes == nullptr) return;
  const std::string time = header->TimeText();
  switch (attributes->ConfigMessageType()) {
    case 1: SetName("CM Request  (" + time + ")"); break;
    case 2: SetName("CM Reply (" + time + ")"); break;
    case 3:
      SetName("CM Set (" + time + ")");
      complete_ = attributes->ConfigStatus() != 0;
      break;
    case 4:
      SetName("CM Ack (" + time + ")");
      complete_ = attributes->ConfigStatus() != 0;
      break;
    default: break;
  }
}

// ---- PhaTwo12Mess -------------------------------------------------------------------------------

void PhaTwo12Mess::SetIdPayload(LogNode* payload) {
  const auto* identity = dynamic_cast<const IdentitySource*>(payload);
  if (identity == nullptr) return;
  if (identities_.empty()) plainName_ = Name();
  identities_.emplace_back(identity->IdentityText());
  SetName(std::string(Name()) + " - " + std::string(identities_.back()));
}

std::string PhaTwo12Mess::InitiatorIdText() const { return identities_.empty() ? std::string() : std::string(identities_[0]); }

std::string PhaTwo12Mess::ResponderIdText() const { return identities_.size() < 2 ? std::string() : std::string(identities_[1]); }

bool PhaTwo12Mess::SameIdentities(const FolderElement& other) const {
  const std::string mine[2] = {InitiatorIdText(), ResponderIdText()};
  const std::string theirs[2] = {other.InitiatorIdText(), other.ResponderIdText()};
  return (mine[0] == theirs[0] && mine[1] == theirs[1]) || (mine[0] == theirs[1] && mine[1] == theirs[0]);
}

void PhaTwo12Mess::AppendDetailText(std::string& out) const {
  const Header* header = GetHeader();
  if (header == nullptr) return;
  out += identities_.empty() ? Name() : std::string_view(plainName_);
  out += " - ";
  out += header->DateView();
  out += "\r\n\r\nID:\r\n";
  for (std::size_t i = 0; i < identities_.size(); ++i) {
    if (i > 0) out += " - ";
    out += identities_[i];
  }
  AppendDetailTail(out, *header);
}

void Message::AppendLogSpans(std::vector<LogSpan>& out) const {
  if (const Header* header = GetHeader()) out.push_back(header->Span());
}

}  // namespace quillon
