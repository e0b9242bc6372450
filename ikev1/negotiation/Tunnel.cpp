#include "ikev1/negotiation/Tunnel.h"

#include <iterator>
#include <list>
#include <map>
#include <utility>
#include <vector>

#include "ikev1/log/DebugLogReader.h"
#include "ikev1/log/Header.h"
#include "ikev1/negotiation/Diagnosis.h"
#include "ikev1/negotiation/Exchange.h"
#include "model/IPv4.h"

namespace quillon {

// The exchanges of a tunnel while a batch of insertions is open: the sequence, and the
// exchanges with a start time by start time, in sequence order among equal times.
struct Tunnel::InsertBatch {
  using Sequence = std::list<std::unique_ptr<LogNode>>;
  Sequence sequence;
  std::multimap<std::int64_t, Sequence::iterator> byStart;
};

Tunnel::Tunnel(PreparedPacket packet, PacketDebugTable* table, std::uint32_t local, std::uint32_t peer,
               std::string name, LogNode* parent)
    : TunnelNode(std::move(name), parent), tunnelLocalIP_(local), tunnelPeerIP_(peer) {
  AddPacket(std::move(packet), table);
}

Tunnel::Tunnel(std::uint32_t local, std::uint32_t peer, LogNode* parent)
    : TunnelNode(NameFor(local, peer), parent), tunnelLocalIP_(local), tunnelPeerIP_(peer), timeOrdered_(true) {}

Tunnel::~Tunnel() = default;

std::string Tunnel::NameFor(std::uint32_t local, std::uint32_t peer) {
  return FormatIPv4(local) + " <=> " + FormatIPv4(peer);
}

void Tunnel::AppendDetailText(std::string& out) const {
  out += "Tunnel per interface\r\n\r\nLocal IP:\t" + FormatIPv4(tunnelLocalIP_) + "\r\nPeer IP:\t" +
                     FormatIPv4(tunnelPeerIP_) + "\r\n";
  const std::string summary = SummaryText(true);
  if (!summary.empty()) out += "\r\nSummary:\r\n" + summary;
}

std::string Tunnel::SummaryText(bool withTotals) const {
  NegotiationStatistics record;
  CountStatistics(record);
  return StatisticsText(record, withTotals);
}

void Tunnel::Analyze() {
  CloseInsertBatch();
  // A followed log analyses a tunnel again as it grows: the marks are made afresh.
  AnalyzeNegotiations(*this);
}

void Tunnel::CountStatistics(NegotiationStatistics& record) const { quillon::CountStatistics(*this, record); }

bool Tunnel::MatchesUserName(std::string_view text) const {
  for (const auto& child : Children())
    if (const auto* exchange = NodeAs<Exchange>(child.get()); exchange != nullptr && exchange->MatchesUserName(text))
      return true;
  return false;
}

bool Tunnel::MatchesUserDetail(std::string_view text) const {
  for (const auto& child : Children())
    if (const auto* exchange = NodeAs<Exchange>(child.get()); exchange != nullptr && exchange->MatchesUserDetail(text))
      return true;
  return false;
}

void Tunnel::PurgeDeleted() {
  CloseInsertBatch();
  for (std::size_t i = ChildCount(); i-- > 0;)
    if (Child(i)->IsDeleted()) RemoveChild(i);
  openIndexValid_ = false;
  closedBefore_ = 0;
}

Tunnel::Key Tunnel::KeyOf(const Header& header) {
  return Key{header.CookieValue(), header.PacketFamily(), header.MsgIdValue()};
}

Exchange* Tunnel::OpenExchangeAt(std::size_t position, const Header& packet) const {
  if (position >= ChildCount()) return nullptr;
  auto* exchange = NodeAs<Exchange>(Child(position));
  return exchange != nullptr && exchange->TakesPacket(packet) ? exchange : nullptr;
}

void Tunnel::RebuildOpenIndex() {
  openIndex_.clear();
  for (std::size_t i = 0; i < ChildCount(); ++i) {
    const auto* exchange = NodeAs<Exchange>(Child(i));
    if (exchange == nullptr || exchange->IsClosed() || exchange->GetHeader() == nullptr ||
        exchange->GetHeader()->PacketFamily() == kFamilyInformational)
      continue;
    // The first open exchange of a key is the one the walk in order would find.
    openIndex_.emplace(KeyOf(*exchange->GetHeader()), i);
  }
  openIndexValid_ = true;
}

Exchange* Tunnel::FindOpenExchange(const Header& packet) {
  // Informational packets never join an exchange.
  if (packet.PacketFamily() == kFamilyInformational) return nullptr;
  if (!openIndexValid_) RebuildOpenIndex();
  const Key key = KeyOf(packet);
  auto it = openIndex_.find(key);
  if (it == openIndex_.end()) return nullptr;
  if (Exchange* exchange = OpenExchangeAt(it->second, packet)) return exchange;
  // The entry went stale (children removed or closed from outside): ask the children.
  RebuildOpenIndex();
  it = openIndex_.find(key);
  return it == openIndex_.end() ? nullptr : OpenExchangeAt(it->second, packet);
}

Exchange* Tunnel::AddPacket(PreparedPacket packet, PacketDebugTable* table) {
  if (packet.header == nullptr) return nullptr;
  const Header& header = *packet.header;
  CloseInsertBatch();
  timeOrdered_ = false;
  if (Exchange* exchange = FindOpenExchange(header)) {
    exchange->Place(packet, table);
    if (exchange->HasIdAddress()) hasIdAddress_ = true;
    return exchange;
  }
  // An informational packet was read into its exchange already.
  std::unique_ptr<Exchange> created =
      packet.exchange ? std::move(packet.exchange) : Exchange::ForFamily(header.PacketFamily(), this);
  if (!created) return nullptr;
  const Key key = KeyOf(header);
  created->Place(packet, table);
  if (created->HasIdAddress()) hasIdAddress_ = true;
  auto* exchange = static_cast<Exchange*>(AppendChild(std::move(created)));
  if (openIndexValid_ && key.family != kFamilyInformational) openIndex_.insert_or_assign(key, ChildCount() - 1);
  return exchange;
}

void Tunnel::AddRestartMarker(std::string text) {
  CloseInsertBatch();
  AppendChild(std::make_unique<Restarted>(std::move(text), this));
}

std::unique_ptr<TunnelNode> Tunnel::NewTunnel(std::uint32_t local, std::uint32_t peer) const {
  return std::make_unique<Tunnel>(local, peer, nullptr);
}

void Tunnel::InsertExchange(std::unique_ptr<LogNode> exchange) {
  if (!exchange) return;
  if (batch_) {
    // As TimeOrderPosition finds the place: before the first exchange that started later
    // (for a first-phase negotiation, at the same moment or later), else at the end.
    exchange->SetParent(this);
    const std::optional<TimeOrderKey> key = TimeOrderKeyOf(*exchange);
    if (!key) {
      batch_->sequence.push_back(std::move(exchange));
      return;
    }
    const auto next = key->first ? batch_->byStart.lower_bound(key->start) : batch_->byStart.upper_bound(key->start);
    const auto where = next == batch_->byStart.end() ? batch_->sequence.end() : next->second;
    const auto inserted = batch_->sequence.insert(where, std::move(exchange));
    batch_->byStart.emplace_hint(next, key->start, inserted);
    return;
  }
  const std::size_t position = TimeOrderPosition(*this, *exchange, timeOrdered_);
  InsertChild(position, std::move(exchange));
  openIndexValid_ = false;
  closedBefore_ = 0;
}

void Tunnel::OpenInsertBatch() {
  if (!timeOrdered_ || batch_) return;
  batch_ = std::make_unique<InsertBatch>();
  std::vector<std::unique_ptr<LogNode>> children;
  while (ChildCount() != 0) children.push_back(TakeChild(ChildCount() - 1));
  for (auto it = children.rbegin(); it != children.rend(); ++it) {
    const std::optional<TimeOrderKey> key = TimeOrderKeyOf(**it);
    (*it)->SetParent(this);
    const auto inserted = batch_->sequence.insert(batch_->sequence.end(), std::move(*it));
    if (key) batch_->byStart.emplace_hint(batch_->byStart.end(), key->start, inserted);
  }
}

void Tunnel::CloseInsertBatch() {
  if (!batch_) return;
  std::unique_ptr<InsertBatch> batch = std::move(batch_);
  for (auto& exchange : batch->sequence) AppendChild(std::move(exchange));
  openIndexValid_ = false;
  closedBefore_ = 0;
}

void Tunnel::CloseAll() {
  CloseInsertBatch();
  const bool kept = closedBefore_ != 0 && closedBefore_ <= ChildCount() && Child(closedBefore_ - 1) == lastClosed_;
  for (std::size_t i = kept ? closedBefore_ : 0; i < ChildCount(); ++i)
    if (auto* exchange = NodeAs<Exchange>(Child(i))) exchange->Close();
  closedBefore_ = ChildCount();
  lastClosed_ = closedBefore_ != 0 ? Child(closedBefore_ - 1) : nullptr;
  openIndex_.clear();
  openIndexValid_ = true;
}

}  // namespace quillon
