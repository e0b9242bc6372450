#include "ikev1/negotiation/Exchange.h"

#include <utility>

#include "ikev1/log/DebugLogReader.h"
#include "ikev1/log/Header.h"
#include "ikev1/log/Message.h"
#include "model/IPv4.h"

namespace quillon {

// ---- Exchange -----------------------------------------------------------------------------------

Exchange::Exchange(std::string name, QLFolder* parent) : Exchange(std::move(name), parent, kKeepsNothing) {}

Exchange::Exchange(std::string name, QLFolder* parent, unsigned keeps)
    : FolderElement(std::move(name), parent), keeps_(keeps) {}

Exchange::~Exchange() = default;

std::unique_ptr<Exchange> Exchange::ForFamily(std::uint32_t family, QLFolder* parent) {
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
  const auto* element = dynamic_cast<const FolderElement*>(Child(index));
  return element != nullptr ? element->GetHeader() : nullptr;
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

std::string Exchange::Caption() const {
  // The direction and date are those of the packet that opened the negotiation.
  const Header* header = IsNotify() || ChildCount() == 0 ? GetHeader() : MessageHeader(0);
  std::string caption = Name();
  caption += header != nullptr && header->IsCreated() ? "   ==>" : "   <==";
  if (header != nullptr) caption += header->DateText();
  caption += " From: ";
  caption += FirstTimeText();
  if (IsComplete()) {
    caption += " To: ";
    caption += LastTimeText();
  } else {
    caption += " Failed!";
  }
  return caption;
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

bool Exchange::MatchesMessage(const QLFolder& node) const {
  const Header* header = GetHeader();
  return header != nullptr && header->CookieValue() == node.CookieValue();
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
  return (keeps_ & kKeepsPacketDebugValue) != 0 ? packetDebugValue_ : QLFolder::PacketDebugValue();
}

void Exchange::SetPacketDebugValue(std::uint32_t value) {
  if ((keeps_ & kKeepsPacketDebugValue) != 0) packetDebugValue_ = value;
}

void Exchange::TakePacketDebugValue(const QLFolder& message) {
  if (PacketDebugValue() == 0) SetPacketDebugValue(message.PacketDebugValue());
}

bool Exchange::TakesPacket(const Header& packet) const {
  const Header* header = GetHeader();
  return !IsClosed() && header != nullptr && packet.PacketFamily() != kFamilyInformational &&
         header->CookieValue() == packet.CookieValue() && header->PacketFamily() == packet.PacketFamily() &&
         header->MsgIdValue() == packet.MsgIdValue();
}

Message& Exchange::AddMessage(std::unique_ptr<Message> message, std::uint32_t bit, DebugLogReader& reader) {
  Message& added = *message;
  packetMask_ |= bit;
  AddElement(std::move(message), ReleaseHeldHeader(), reader);
  TakePacketDebugValue(added);
  return added;
}

// ---- MainMode -----------------------------------------------------------------------------------

MainMode::MainMode(QLFolder* parent) : Exchange("Main Mode", parent, kKeepsReassignment | kKeepsPacketDebugValue) {}

std::string MainMode::DetailText() const {
  std::string text = "Main Mode\r\n" + DirectionLine();
  AppendSummary(text);
  return text;
}

void MainMode::ReadPayloads(DebugLogReader& reader) {
  const Header* header = GetHeader();
  if (header == nullptr) return;
  const std::uint32_t kind = header->PacketKind();
  if (kind < kMainMode1 || kind > kMainMode6) return;
  const std::uint32_t number = kind - kMainMode1 + 1;
  std::string name = "MM packet " + std::to_string(number) + " (" + header->TimeText() + ")";
  std::unique_ptr<Message> message;
  if (number <= 2) message = std::make_unique<Main12Mess>(std::move(name), this);
  else if (number <= 4) message = std::make_unique<Main34Mess>(std::move(name), this);
  else message = std::make_unique<Main56Mess>(std::move(name), this);
  const Message& added = AddMessage(std::move(message), 1u << (number - 1), reader);
  // Packets 5 and 6 carry the identities; the peer's tells which index it stands for.
  if (!header->IsCreated() && number >= 5 && added.HasIdAddress()) {
    hasIdAddress_ = true;
    idAddress_ = added.IdAddress();
  }
}

// ---- Aggresive ----------------------------------------------------------------------------------

Aggresive::Aggresive(QLFolder* parent)
    : Exchange("Aggressive", parent, kKeepsReassignment | kKeepsPacketDebugValue) {}

void Aggresive::ReadPayloads(DebugLogReader& reader) {
  const Header* header = GetHeader();
  if (header == nullptr) return;
  const std::string time = header->TimeText();
  switch (header->PacketKind()) {
    case kAggressive1: AddMessage(std::make_unique<Aggr1Mess>("AG packet 1 (" + time + ")", this), 1, reader); break;
    case kAggressive1 + 1: AddMessage(std::make_unique<Aggr2Mess>("AG packet2 (" + time + ")", this), 2, reader); break;
    case kAggressive3: AddMessage(std::make_unique<Aggr3Mess>("AG packet3 (" + time + ")", this), 4, reader); break;
    default: return;
  }
  if (reader.IsAbandoned()) reader.ClearAbandon();
}

// ---- PhaseTwo -----------------------------------------------------------------------------------

PhaseTwo::PhaseTwo(QLFolder* parent) : Exchange("QuickMode", parent, kKeepsReassignment | kKeepsPacketDebugValue) {}

std::string PhaseTwo::DetailText() const {
  std::string text = "Phase Two\r\n" + DirectionLine();
  AppendSummary(text);
  return text;
}

std::string PhaseTwo::DateText() const {
  const Header* header = GetHeader();
  return header != nullptr ? header->DateText() : std::string();
}

std::string PhaseTwo::TimeText() const {
  const Header* header = GetHeader();
  return header != nullptr ? header->TimeText() : std::string();
}

bool PhaseTwo::SameIdentities(const QLFolder& other) const {
  const auto* quickMode = dynamic_cast<const PhaseTwo*>(&other);
  if (quickMode == nullptr) return false;
  const std::size_t mine = ChildCount();
  const std::size_t theirs = quickMode->ChildCount();
  if (mine == 1 && theirs == 1) return Child(0)->SameIdentities(*quickMode->Child(0));
  if (mine >= 2 && theirs >= 2) return Child(1)->SameIdentities(*quickMode->Child(1));
  return false;
}

void PhaseTwo::ReadPayloads(DebugLogReader& reader) {
  const Header* header = GetHeader();
  if (header == nullptr) return;
  const std::string time = header->TimeText();
  switch (header->PacketKind()) {
    case kQuickMode1: AddMessage(std::make_unique<PhaTwo12Mess>("QM packet 1 (" + time + ")", this), 1, reader); break;
    case kQuickMode1 + 1:
      AddMessage(std::make_unique<PhaTwo12Mess>("QM packet 2 (" + time + ")", this), 2, reader);
      break;
    case kQuickMode3: AddMessage(std::make_unique<PhaTwo3Mess>("QM packet 3 (" + time + ")", this), 4, reader); break;
    default: return;
  }
  if (reader.IsAbandoned()) reader.ClearAbandon();
}

// ---- ConfigMode ---------------------------------------------------------------------------------

ConfigMode::ConfigMode(QLFolder* parent) : Exchange("ConfigMode", parent, kKeepsPacketDebugValue) {}

bool ConfigMode::IsComplete() const {
  for (const auto& child : Children())
    if (!child->IsComplete()) return false;
  return true;
}

std::string ConfigMode::DetailText() const { return "Configuration Mode\r\n" + DirectionLine(); }

void ConfigMode::ReadPayloads(DebugLogReader& reader) {
  if (GetHeader() == nullptr) return;
  // Configuration packets are not numbered: the message names itself by its attributes.
  const Message& added = AddMessage(std::make_unique<ConfigMess>(this), 0, reader);
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

Restarted::Restarted(std::string restartText, QLFolder* parent)
    : Exchange("Daemon Restarted!!", parent, kKeepsNothing), restartText_(std::move(restartText)) {}

}  // namespace quillon
