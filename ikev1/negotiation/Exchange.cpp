#include "ikev1/negotiation/Exchange.h"

#include <array>
#include <string>
#include <string_view>
#include <utility>

#include "ikev1/log/DebugLogReader.h"
#include "ikev1/log/Header.h"
#include "ikev1/log/Message.h"
#include "model/IPv4.h"

namespace quillon {

// ---- Exchange -----------------------------------------------------------------------------------

Exchange::Exchange(std::string name, LogNode* parent) : Exchange(std::move(name), parent, kKeepsNothing) {}

Exchange::Exchange(std::string name, LogNode* parent, unsigned keeps)
    : FolderElement(std::move(name), parent), keeps_(keeps) {}

Exchange::~Exchange() = default;

std::unique_ptr<Exchange> Exchange::ForFamily(std::uint32_t family, LogNode* parent) {
  switch (family) {
    case kFamilyMainMode: return std::make_unique<MainMode>(parent);
    case kFamilyConfig: return std::make_unique<ConfigMode>(parent);
    case kFamilyAggressive: return std::make_unique<Aggresive>(parent);
    case kFamilyQuickMode: return std::make_unique<PhaseTwo>(parent);
    case kFamilyInformational: return std::make_unique<Notify>(parent);
    default: return nullptr;
  }
}

const Header* Exchange::MessageHeader(std::size_t index) const {
  if (index >= ChildCount()) return nullptr;
  // Only a packet node (a FolderElement) names a header, which is always a Header.
  return static_cast<const Header*>(Child(index)->PacketHeader());
}

const Header* Exchange::LastMessageHeader() const {
  return ChildCount() == 0 ? nullptr : MessageHeader(ChildCount() - 1);
}

std::string Exchange::FirstTimeText() const {
  const Header* header = MessageHeader(0);
  return header != nullptr ? header->TimeText() : std::string();
}

std::string Exchange::LastTimeText() const {
  const Header* header = LastMessageHeader();
  return header != nullptr ? header->TimeText() : std::string();
}

void Exchange::AppendCaption(std::string& out) const {
  // The direction and date are those of the packet that opened the negotiation. A notify
  // shows its own packet's (its header comes first, its times are its own); any other
  // negotiation runs from its first packet to its last. Every row of the tree shows this
  // caption, so each packet's header is looked up once.
  const bool notify = IsNotify();
  const Header* first = notify ? nullptr : MessageHeader(0);
  const Header* header = notify || ChildCount() == 0 ? GetHeader() : first;
  out += Name();
  out += header != nullptr && header->IsCreated() ? "   ==>" : "   <==";
  if (header != nullptr) out += header->DateView();
  out += " From: ";
  if (notify) {
    out += FirstTimeText();
  } else if (first != nullptr) {
    out += first->TimeView();
  }
  if (IsComplete()) {
    out += " To: ";
    if (notify) {
      out += LastTimeText();
    } else if (const Header* last = ChildCount() == 1 ? first : LastMessageHeader()) {
      out += last->TimeView();
    }
  } else {
    out += " Failed!";
  }
}

bool Exchange::EndPackets(std::span<const std::uint64_t> starts) {
  if (IsNotify()) return FolderElement::EndPackets(starts);
  bool allEnded = true;
  for (const auto& message : Children()) allEnded &= message->EndPackets(starts);
  return allEnded;
}

void Exchange::AppendLogSpans(std::vector<LogSpan>& out) const {
  for (const auto& child : Children()) child->AppendLogSpans(out);
}

std::string Exchange::DirectionLine(std::string_view lead) const {
  const Header* header = GetHeader();
  if (header == nullptr) return {};
  std::string line(lead);
  line += header->IsCreated() ? "Local host ==> Remote peer(" : "Local host <== Remote peer(";
  line += FormatIPv4(header->EffectivePeerAddress());
  line += ')';
  return line;
}

void Exchange::AppendSummary(std::string& text) const { text += SummaryText(false); }

std::uint16_t Exchange::State() const {
  if (IsRestart()) return kStateRestart;
  // Every negotiation's row shows its direction (==> or <==).
  return static_cast<std::uint16_t>(marks_ | kStateDirected | (Completed() ? kStateComplete : kStateFailed));
}

bool Exchange::MatchesMessage(const NegotiationNode& other) const {
  // The negotiations of an IKEv1 log are its exchanges.
  const Header* header = GetHeader();
  return header != nullptr && header->CookieValue() == static_cast<const Exchange&>(other).CookieValue();
}

bool Exchange::MatchesCookie(std::string_view text) const {
  const Header* header = GetHeader();
  return header != nullptr && (text == header->InitCookieText() || text == header->RespCookieText());
}

bool Exchange::MatchesSpi(std::string_view text) const {
  // A quick mode carries the SPI of each direction; more SPIs than that mean the messages
  // belong to more than one SA and none of them identifies the negotiation.
  std::string spis[2];
  std::size_t count = 0;
  for (const auto& child : Children()) {
    std::string spi = child->SpiText();
    if (spi.empty()) continue;
    if (count == 2) return false;
    spis[count++] = std::move(spi);
  }
  return (count >= 1 && text == spis[0]) || (count == 2 && text == spis[1]);
}

bool Exchange::MatchesUserName(std::string_view text) const { return HasUserName() && text == UserName(); }

bool Exchange::MatchesUserDetail(std::string_view text) const {
  if (!HasUserDetail()) return false;
  std::string enclosed = "(";
  enclosed += text;
  enclosed += ')';
  return UserDetail().find(enclosed) != std::string::npos;
}

std::optional<CalendarTime> Exchange::StartTime() const {
  if (startTime_) return startTime_;
  const std::string first = FirstTimeText();
  const Header* header = GetHeader();
  if (first.empty() || header == nullptr || header->DateText().empty()) return std::nullopt;
  CalendarTime time;
  ParseTime(first, time);
  ParseDate(header->DateText(), time);
  startTime_ = time.year < 1900 ? CalendarTime{} : time;
  return startTime_;
}

void Exchange::Reassign(std::uint32_t index, std::uint32_t address) {
  if ((keeps_ & kKeepsReassignment) == 0) return;
  reassigned_ = true;
  reassignedIndex_ = index;
  reassignedAddress_ = address;
}

std::uint32_t Exchange::PacketDebugValue() const {
  return (keeps_ & kKeepsPacketDebugValue) != 0 ? packetDebugValue_ : FolderElement::PacketDebugValue();
}

bool Exchange::RegroupKeys(std::uint64_t (&keys)[2]) const {
  // The cookie value itself, marked so that a zero cookie still is a key.
  if (GetHeader() != nullptr) keys[0] = (std::uint64_t{1} << 32) | CookieValue();
  return true;
}

void Exchange::SetPacketDebugValue(std::uint32_t value) {
  if ((keeps_ & kKeepsPacketDebugValue) != 0) packetDebugValue_ = value;
}

void Exchange::TakePacketDebugValue(const FolderElement& message) {
  if (PacketDebugValue() == 0) SetPacketDebugValue(message.PacketDebugValue());
}

bool Exchange::TakesPacket(const Header& packet) const {
  const Header* header = GetHeader();
  return !IsClosed() && header != nullptr && packet.PacketFamily() != kFamilyInformational &&
         header->CookieValue() == packet.CookieValue() && header->PacketFamily() == packet.PacketFamily() &&
         header->MsgIdValue() == packet.MsgIdValue();
}

namespace {

// The message of packet 1, 2 or 3 (`index` 0 to 2) of aggressive or quick mode, titled with
// the packet's time; null for any other index.
template <class First, class Second, class Third>
std::unique_ptr<Message> ThreePacketMessage(std::uint32_t index, const std::array<std::string_view, 3>& titles,
                                            const std::string& time) {
  if (index > 2) return nullptr;
  std::string name = std::string(titles[index]) + " (" + time + ")";
  if (index == 0) return std::make_unique<First>(std::move(name), nullptr);
  if (index == 1) return std::make_unique<Second>(std::move(name), nullptr);
  return std::make_unique<Third>(std::move(name), nullptr);
}

}  // namespace

std::unique_ptr<Message> Exchange::MessageFor(std::uint32_t family, const Header& header) {
  const std::uint32_t kind = header.PacketKind();
  const std::string time = header.TimeText();
  switch (family) {
    case kFamilyMainMode: {
      if (kind < kMainMode1 || kind > kMainMode6) return nullptr;
      const std::uint32_t number = kind - kMainMode1 + 1;
      std::string name = "MM packet " + std::to_string(number) + " (" + time + ")";
      if (number <= 2) return std::make_unique<Main12Mess>(std::move(name), nullptr);
      if (number <= 4) return std::make_unique<Main34Mess>(std::move(name), nullptr);
      return std::make_unique<Main56Mess>(std::move(name), nullptr);
    }
    case kFamilyAggressive:
      // The daemon's titles, spacing included.
      return ThreePacketMessage<Aggr1Mess, Aggr2Mess, Aggr3Mess>(kind - kAggressive1,
                                                                  {"AG packet 1", "AG packet2", "AG packet3"}, time);
    case kFamilyQuickMode:
      return ThreePacketMessage<PhaTwo12Mess, PhaTwo12Mess, PhaTwo3Mess>(kind - kQuickMode1,
                                                                         {"QM packet 1", "QM packet 2", "QM packet 3"}, time);
    case kFamilyConfig:
      // Configuration packets are not numbered: the message names itself by its attributes.
      return std::make_unique<ConfigMess>(nullptr);
    default:
      return nullptr;
  }
}

void Exchange::Place(PreparedPacket& packet, PacketDebugTable* table) {
  if (packet.message) {
    // The message owns the header; the exchange links it as the packet added last.
    SetHeader(nullptr);
    SetHeaderLink(packet.header);
    TakeMessage(std::move(packet.message), table);
  } else {
    SetHeader(std::move(packet.heldHeader));
  }
  AttachPacketDebug(table);
}

void Exchange::TakeMessage(std::unique_ptr<Message> message, PacketDebugTable* table) {
  AddMessage(std::move(message), 0, table);
}

Message& Exchange::AddMessage(std::unique_ptr<Message> message, std::uint32_t bit, PacketDebugTable* table) {
  Message& added = *message;
  packetMask_ |= bit;
  added.AttachPacketDebug(table);
  AppendChild(std::move(message));
  TakePacketDebugValue(added);
  return added;
}

// ---- reading packets ----------------------------------------------------------------------------

PreparedPacket::PreparedPacket() = default;
PreparedPacket::PreparedPacket(PreparedPacket&&) noexcept = default;
PreparedPacket& PreparedPacket::operator=(PreparedPacket&&) noexcept = default;
PreparedPacket::~PreparedPacket() = default;

PreparedPacket ReadPacket(std::uint32_t family, std::unique_ptr<Header> header, DebugLogReader& reader) {
  PreparedPacket packet;
  if (!header) return packet;
  packet.header = header.get();
  if (family == kFamilyInformational) {
    auto notify = std::make_unique<Notify>(nullptr);
    notify->SetHeader(std::move(header));
    notify->ReadPayloads(reader);
    packet.exchange = std::move(notify);
    return packet;
  }
  packet.message = Exchange::MessageFor(family, *header);
  if (!packet.message) {
    packet.heldHeader = std::move(header);
    return packet;
  }
  packet.message->SetHeader(std::move(header));
  packet.message->ReadPayloads(reader);
  // Aggressive and quick mode packets end a cut-short packet here rather than leave the
  // scan to clear it.
  if ((family == kFamilyAggressive || family == kFamilyQuickMode) && reader.IsAbandoned()) reader.ClearAbandon();
  return packet;
}

PreparedPacket ReadPacket(std::unique_ptr<Header> header, DebugLogReader& reader) {
  if (!header) return {};
  const std::uint32_t family = header->PacketFamily();
  return ReadPacket(family, std::move(header), reader);
}

// ---- MainMode -----------------------------------------------------------------------------------

MainMode::MainMode(LogNode* parent) : Exchange("Main Mode", parent, kKeepsReassignment | kKeepsPacketDebugValue) {}

void MainMode::AppendDetailText(std::string& out) const {
  out += "Main Mode\r\n" + DirectionLine();
  AppendSummary(out);
}

void MainMode::TakeMessage(std::unique_ptr<Message> message, PacketDebugTable* table) {
  const Header* header = GetHeader();
  const std::uint32_t number = header->PacketKind() - kMainMode1 + 1;
  const Message& added = AddMessage(std::move(message), 1u << (number - 1), table);
  // Packets 5 and 6 carry the identities; the peer's tells which index it stands for.
  if (!header->IsCreated() && number >= 5 && added.HasIdAddress()) {
    hasIdAddress_ = true;
    idAddress_ = added.IdAddress();
  }
}

// ---- Aggresive ----------------------------------------------------------------------------------

Aggresive::Aggresive(LogNode* parent)
    : Exchange("Aggressive", parent, kKeepsReassignment | kKeepsPacketDebugValue) {}

void Aggresive::AppendDetailText(std::string& out) const {
  out += "Aggresive Mode\r\n";
  AppendSummary(out);
}

// Packets 1, 2 and 3 of aggressive and quick mode set bits 1, 2 and 4.
void Aggresive::TakeMessage(std::unique_ptr<Message> message, PacketDebugTable* table) {
  AddMessage(std::move(message), 1u << (GetHeader()->PacketKind() - kAggressive1), table);
}

// ---- PhaseTwo -----------------------------------------------------------------------------------

PhaseTwo::PhaseTwo(LogNode* parent) : Exchange("QuickMode", parent, kKeepsReassignment | kKeepsPacketDebugValue) {}

void PhaseTwo::AppendDetailText(std::string& out) const {
  out += "Phase Two\r\n" + DirectionLine();
  AppendSummary(out);
}

std::string PhaseTwo::DateText() const {
  const Header* header = GetHeader();
  return header != nullptr ? header->DateText() : std::string();
}

std::string PhaseTwo::TimeText() const {
  const Header* header = GetHeader();
  return header != nullptr ? header->TimeText() : std::string();
}

bool PhaseTwo::SameIdentities(const FolderElement& other) const {
  // Of the exchanges of a log, only a quick mode is of its kind.
  if (!other.Is(NodeKind::kQuickMode)) return false;
  const auto& quickMode = static_cast<const PhaseTwo&>(other);
  const std::size_t mine = ChildCount();
  const std::size_t theirs = quickMode.ChildCount();
  // The first message names the identities; the second, when there is one, as they were agreed.
  const std::size_t at = mine == 1 && theirs == 1 ? 0 : mine >= 2 && theirs >= 2 ? 1 : mine;
  if (at == mine) return false;
  const Message* message = NodeAs<Message>(Child(at));
  const Message* theirMessage = NodeAs<Message>(quickMode.Child(at));
  return message != nullptr && theirMessage != nullptr && message->SameIdentities(*theirMessage);
}

void PhaseTwo::TakeMessage(std::unique_ptr<Message> message, PacketDebugTable* table) {
  AddMessage(std::move(message), 1u << (GetHeader()->PacketKind() - kQuickMode1), table);
}

// ---- ConfigMode ---------------------------------------------------------------------------------

ConfigMode::ConfigMode(LogNode* parent) : Exchange("ConfigMode", parent, kKeepsPacketDebugValue) {}

bool ConfigMode::Completed() const {
  for (const auto& child : Children())
    if (!child->IsComplete()) return false;
  return true;
}

void ConfigMode::AppendDetailText(std::string& out) const { out += "Configuration Mode\r\n" + DirectionLine(); }

void ConfigMode::TakeMessage(std::unique_ptr<Message> message, PacketDebugTable* table) {
  const Message& added = AddMessage(std::move(message), 0, table);
  if (!hasUserName_ && added.HasUserName()) {
    hasUserName_ = true;
    userName_ = added.UserName();
  }
  if (added.HasUserDetail()) {
    hasUserDetail_ = true;
    userDetail_ = added.UserDetail();
  }
}

// ---- Restarted ----------------------------------------------------------------------------------

Restarted::Restarted(std::string restartText, LogNode* parent)
    : Exchange("Daemon Restarted!!", parent, kKeepsNothing), restartText_(restartText, NodeResource()) {}

}  // namespace quillon
