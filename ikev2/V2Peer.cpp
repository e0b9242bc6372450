#include "ikev2/V2Peer.h"

#include "ikev2/V2Exchange.h"

#include "model/IPv4.h"
#include "model/Summaries.h"

namespace quillon {

// ---- V2Tunnel -------------------------------------------------------------------------------

V2Tunnel::V2Tunnel(std::uint32_t local, std::uint32_t peer)
    : TunnelNode(CaptionFor(local, peer), nullptr), local_(local), peer_(peer) {
  SetParsed(true);
}

V2Tunnel::V2Tunnel(std::unique_ptr<LogNode> exchange, std::uint32_t local, std::uint32_t peer, std::string caption)
    : TunnelNode(std::move(caption), nullptr), local_(local), peer_(peer) {
  SetParsed(true);
  AddExchange(std::move(exchange));
}

std::string V2Tunnel::CaptionFor(std::uint32_t local, std::uint32_t peer) {
  return FormatIPv4(local) + " <=> " + FormatIPv4(peer);
}

void V2Tunnel::AddExchange(std::unique_ptr<LogNode> exchange) {
  if (!exchange) return;
  if (exchange->HasIdAddress()) hasIdExchange_ = true;
  AppendChild(std::move(exchange));
}

void V2Tunnel::PurgeDeleted() {
  for (std::size_t i = ChildCount(); i-- > 0;) {
    if (Child(i)->IsDeleted()) RemoveChild(i);
  }
}

void V2Tunnel::AppendDetailText(std::string& out) const {
  out += "Tunnel per interface\r\n\r\nLocal IP:\t";
  out += FormatIPv4(local_);
  out += "\r\nPeer IP:\t";
  out += FormatIPv4(peer_);
  out += "\r\n";
}

namespace {

std::uint32_t FailedExchanges(const LogNode& tunnel) {
  std::uint32_t failed = 0;
  for (const auto& exchange : tunnel.Children())
    if (!exchange->IsComplete()) ++failed;
  return failed;
}

}  // namespace

std::string V2Tunnel::SummaryText(bool /*withTotals*/) const { return FailedNegotiationsLine(FailedExchanges(*this)); }

// ---- V2Peer ---------------------------------------------------------------------------------

void V2Peer::AppendDetailText(std::string& out) const {
  out += "IKEv2 Peer\r\n";
  const std::string summary = SummaryText(true);
  if (!summary.empty()) out += "\r\nSummary:\r\n" + summary;
}

std::string V2Peer::SummaryText(bool withTotals) const { return TunnelSummaries(*this, withTotals); }

std::string V2Peer::CollectFailureReasons() const {
  std::uint32_t failed = 0;
  for (const auto& tunnel : Children()) failed += FailedExchanges(*tunnel);
  return FailedNegotiationsLine(failed);
}

V2Peer::V2Peer(std::string caption, std::unique_ptr<LogNode> firstExchange)
    : PeerNode(std::move(caption), nullptr) {
  SetParsed(true);
  address_ = ParseIPv4(Name());
  // A small value where the address belongs is the daemon's index of the peer.
  indexedPeer_ = IsLowRangeAddress(address_);
  idAddress_ = indexedPeer_ ? address_ : 0;
  AddExchange(std::move(firstExchange));
}

V2Peer::V2Peer(std::uint32_t address, std::uint32_t index, std::string name, LogNode* root)
    : PeerNode(std::move(name), root), address_(index), idAddress_(address), indexedPeer_(true), mergedPeer_(true) {
  SetParsed(true);
}

void V2Peer::AddExchange(std::unique_ptr<LogNode> exchange) {
  if (!exchange) return;
  const auto* typed = NodeAs<v2Exchange>(*exchange);
  const std::uint32_t local = typed != nullptr ? typed->TunnelLocalIP() : 0;
  const std::uint32_t peer = typed != nullptr ? typed->TunnelPeerIP() : 0;
  if (exchange->HasIdAddress()) hasIdExchange_ = true;
  if (lastTunnel_ != nullptr && local == lastLocal_ && peer == lastPeer_ && lastTunnelAt_ < ChildCount() &&
      Child(lastTunnelAt_) == lastTunnel_) {
    Child(lastTunnelAt_)->AddChild(std::move(exchange));
    return;
  }
  lastLocal_ = local;
  lastPeer_ = peer;
  for (std::size_t i = 0; i < ChildCount(); ++i) {
    if (const auto* tunnel = NodeAs<TunnelNode>(Child(i)); tunnel != nullptr && tunnel->MatchesTunnel(local, peer)) {
      lastTunnel_ = Child(i);
      lastTunnelAt_ = static_cast<std::uint32_t>(i);
      Child(i)->AddChild(std::move(exchange));
      return;
    }
  }
  auto tunnel = std::make_unique<V2Tunnel>(std::move(exchange), local, peer, V2Tunnel::CaptionFor(local, peer));
  const LogNode* added = tunnel.get();
  AddChild(std::move(tunnel));
  lastTunnel_ = added;
  lastTunnelAt_ = static_cast<std::uint32_t>(IndexOf(added));
}

void V2Peer::AddChild(std::unique_ptr<LogNode> tunnel) {
  if (!tunnel) return;
  lastTunnel_ = nullptr;  // the new tunnel may match the hint's addresses
  const auto* typed = NodeAs<TunnelNode>(*tunnel);
  const std::uint32_t local = typed != nullptr ? typed->TunnelLocalIP() : 0;
  const std::uint32_t peer = typed != nullptr ? typed->TunnelPeerIP() : 0;
  if ((local == 0 && peer == 0) || ChildCount() == 0) {
    AppendChild(std::move(tunnel));
    return;
  }
  for (std::size_t i = 0; i < ChildCount(); ++i) {
    const auto* existing = NodeAs<TunnelNode>(Child(i));
    const std::uint32_t otherLocal = existing != nullptr ? existing->TunnelLocalIP() : 0;
    const std::uint32_t otherPeer = existing != nullptr ? existing->TunnelPeerIP() : 0;
    if ((otherLocal == 0 && otherPeer == 0) || local < otherLocal || (local == otherLocal && peer < otherPeer)) {
      InsertChild(i, std::move(tunnel));
      return;
    }
  }
  AppendChild(std::move(tunnel));
}

}  // namespace quillon
