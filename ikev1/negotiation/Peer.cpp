#include "ikev1/negotiation/Peer.h"

#include <utility>

#include "ikev1/log/DebugLogReader.h"
#include "ikev1/log/Header.h"
#include "ikev1/negotiation/Diagnosis.h"
#include "ikev1/negotiation/Exchange.h"
#include "ikev1/negotiation/Tunnel.h"
#include "model/IPv4.h"
#include "model/Summaries.h"

namespace quillon {

namespace {

constexpr std::size_t kVersionTextLength = 5;

}  // namespace

std::string RestartVersionText(const std::string& token) {
  const std::size_t open = token.find('(');
  if (open == std::string::npos) return {};
  const std::size_t close = token.find(')', open);
  const std::size_t length = close == std::string::npos ? std::string::npos : close - open + 1;
  return token.substr(open, length).substr(0, kVersionTextLength);
}

Peer::Peer(PreparedPacket packet, PacketDebugTable* table, std::string name, LogNode* parent)
    : PeerNode(std::move(name), parent) {
  if (packet.header != nullptr) peerAddress_ = packet.header->PeerAddress();
  indexedPeer_ = IsLowRangeAddress(peerAddress_);
  idAddress_ = indexedPeer_ ? peerAddress_ : 0;
  AddPacket(std::move(packet), table);
}

Peer::Peer(std::uint32_t address, std::uint32_t index, std::string name, LogNode* parent)
    : PeerNode(std::move(name), parent),
      peerAddress_(index),
      idAddress_(address),
      indexedPeer_(true),
      mergedPeer_(true) {}

Peer::~Peer() = default;

std::unique_ptr<PeerNode> Peer::NewMergedPeer(std::uint32_t address, std::uint32_t index, std::string name,
                                               LogNode* root) const {
  return std::make_unique<Peer>(address, index, std::move(name), root);
}

void Peer::AppendDetailText(std::string& out) const {
  out += "Peer\r\n";
  const std::string summary = SummaryText(true);
  if (!summary.empty()) out += "\r\nSummary:\r\n" + summary;
}

std::string Peer::SummaryText(bool withTotals) const { return TunnelSummaries(*this, withTotals); }

std::string Peer::CollectFailureReasons() const {
  NegotiationStatistics sum, record;
  for (const auto& tunnel : Children()) {
    CountStatistics(*tunnel, record);
    sum += record;
  }
  return StatisticsText(sum, false);
}

namespace {

// The tunnels' order: ascending (local, peer) address pairs, the pair without addresses last.
// A peer holds one tunnel per pair.
bool PairBefore(std::uint32_t local, std::uint32_t peer, const LogNode& node) {
  const auto* tunnel = NodeAs<TunnelNode>(node);
  const std::uint32_t otherLocal = tunnel != nullptr ? tunnel->TunnelLocalIP() : 0;
  const std::uint32_t otherPeer = tunnel != nullptr ? tunnel->TunnelPeerIP() : 0;
  if (local == 0 && peer == 0) return false;
  return (otherLocal == 0 && otherPeer == 0) || local < otherLocal || (local == otherLocal && peer < otherPeer);
}

// The position of the first tunnel that the pair goes before. The tunnels are in order (they
// come in through AddChild only), so the position is found by halving: a peer may hold many.
std::size_t PairPosition(const LogNode& peer, std::uint32_t local, std::uint32_t remote) {
  std::size_t low = 0, high = peer.ChildCount();
  while (low < high) {
    const std::size_t middle = low + (high - low) / 2;
    if (PairBefore(local, remote, *peer.Child(middle))) high = middle;
    else low = middle + 1;
  }
  return low;
}

}  // namespace

void Peer::AddChild(std::unique_ptr<LogNode> child) {
  if (!child) return;
  const auto* tunnel = NodeAs<TunnelNode>(*child);
  const std::size_t position = tunnel != nullptr ? PairPosition(*this, tunnel->TunnelLocalIP(), tunnel->TunnelPeerIP())
                                                 : PairPosition(*this, 0, 0);
  InsertChild(position, std::move(child));
}

void Peer::Analyze() {
  for (const auto& child : Children())
    if (auto* tunnel = NodeAs<Tunnel>(child.get())) tunnel->Analyze();
  DecideRejections(*this);
}

Exchange* Peer::AddPacket(PreparedPacket packet, PacketDebugTable* table) {
  if (packet.header == nullptr) return nullptr;
  const std::uint32_t local = packet.header->TunnelLocalIP();
  const std::uint32_t peer = packet.header->TunnelPeerIP();
  // The tunnel of the pair, if there is one, stands just before the place a new one would take.
  const std::size_t position = PairPosition(*this, local, peer);
  if (Tunnel* tunnel = position > 0 ? NodeAs<Tunnel>(Child(position - 1)) : nullptr;
      tunnel != nullptr && tunnel->MatchesTunnel(local, peer)) {
    Exchange* exchange = tunnel->AddPacket(std::move(packet), table);
    if (tunnel->HasIdAddress()) hasIdAddress_ = true;
    return exchange;
  }
  auto tunnel = std::make_unique<Tunnel>(std::move(packet), table, local, peer, Tunnel::NameFor(local, peer), this);
  // The new tunnel holds exactly the exchange that took the packet, if any.
  auto* exchange = tunnel->ChildCount() != 0 ? NodeAs<Exchange>(tunnel->Child(0)) : nullptr;
  if (tunnel->HasIdAddress()) hasIdAddress_ = true;
  AddChild(std::move(tunnel));
  return exchange;
}

void Peer::HandleRestart(DebugLogReader& reader) {
  const std::string current = reader.CurrentToken();
  std::string text;
  if (current == "daemon") {
    // "... daemon <what> <text>": the restart text is taken two tokens on. The reader is
    // stopped by its restart flag; let it go for those tokens, then stop it again so that
    // the remaining peers are told the same restart.
    reader.ClearRestartSeen();
    reader.ClearPushBack();
    text = current;
    for (int i = 0; i < 2 && !reader.RestartSeen() && !reader.IsAbandoned() && !reader.AtEnd(); ++i) {
      const std::string& t = reader.ReadToken();
      if (DebugLogReader::IsHeaderStart(t) || DebugLogReader::IsDebugMarker(t) || DebugLogReader::IsBlockKeyword(t)) {
        // The restart line was short and a packet (or its debug record) follows at once:
        // leave it for the packet scan rather than lose it.
        reader.PushBack();
        break;
      }
      text = t;
    }
    reader.SetRestartSeen();
    reader.SetRestartText(text);
  } else if (current.find("GX-1") != std::string::npos) {
    text = RestartVersionText(current);
  } else {
    text = reader.RestartText();
  }

  if (ChildCount() != 0) {
    if (auto* first = NodeAs<Tunnel>(Child(0))) first->AddRestartMarker(std::move(text));
  }
  for (const auto& child : Children())
    if (auto* tunnel = NodeAs<Tunnel>(child.get())) tunnel->CloseAll();
}

}  // namespace quillon
