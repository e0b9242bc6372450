// Peers and tunnels of an IKEv2 log.
//
// The tree of an IKEv2 log reads: log root, one V2Peer per remote gateway (as the log writes
// its address), one V2Tunnel per pair of tunnel interface addresses under it, and the
// exchanges of that tunnel in the order they were read. Exchanges without tunnel addresses go
// to the tunnel 0.0.0.0 <=> 0.0.0.0, which always stands last.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "model/LogNode.h"
#include "model/NodeRoles.h"

namespace quillon {

class V2Tunnel : public TunnelNode {
 public:
  // An empty tunnel for the given addresses (the log root fills it when it regroups).
  V2Tunnel(std::uint32_t local, std::uint32_t peer);
  // A tunnel created for its first exchange.
  V2Tunnel(std::unique_ptr<LogNode> exchange, std::uint32_t local, std::uint32_t peer, std::string caption);

  // "local <=> peer" in dotted form.
  static std::string CaptionFor(std::uint32_t local, std::uint32_t peer);

  // Appends the exchange as the last child.
  void AddExchange(std::unique_ptr<LogNode> exchange);

  void AppendDetailText(std::string& out) const override;
  // The number of failed exchanges, when there are any (shown by the peer, under the tunnel's
  // name).
  std::string SummaryText(bool withTotals) const override;
  void AddChild(std::unique_ptr<LogNode> exchange) override { AddExchange(std::move(exchange)); }
  // An empty IKEv2 tunnel for the regrouping's merged peers.
  std::unique_ptr<TunnelNode> NewTunnel(std::uint32_t local, std::uint32_t peer) const override {
    return std::make_unique<V2Tunnel>(local, peer);
  }
  // Drops the exchanges marked deleted.
  void PurgeDeleted() override;
  bool HasIdAddress() const override { return hasIdExchange_; }
  std::uint16_t State() const override { return kStateComplete; }
  std::uint32_t TunnelLocalIP() const override { return local_; }
  std::uint32_t TunnelPeerIP() const override { return peer_; }

 private:
  std::uint32_t local_ = 0;
  std::uint32_t peer_ = 0;
  bool hasIdExchange_ = false;
};

class V2Peer : public PeerNode {
 public:
  // A peer named by the <peerIP> text of its first exchange, exactly as written.
  V2Peer(std::string caption, std::unique_ptr<LogNode> firstExchange);
  // A peer made by the log root's regrouping for the exchanges of one peer that the daemon
  // logged under its index: its address is the index, its identity address the real address.
  V2Peer(std::uint32_t address, std::uint32_t index, std::string name, LogNode* root);

  // Places the exchange in the tunnel of its tunnel addresses, creating the tunnel if needed.
  void AddExchange(std::unique_ptr<LogNode> exchange);

  // "IKEv2 Peer", then the statistics of its tunnels when there are any.
  void AppendDetailText(std::string& out) const override;
  // Each tunnel's statistics under its name, as an IKEv1 peer gives them.
  std::string SummaryText(bool withTotals) const override;
  // The statistics of all its tunnels together (the log root lists them under the peer).
  std::string CollectFailureReasons() const override;
  // Keeps the tunnels in ascending (local, peer) order, the address-less tunnel last.
  void AddChild(std::unique_ptr<LogNode> tunnel) override;
  std::uint32_t PeerAddress() const override { return address_; }
  void PurgeDeleted() override { PurgeDeletedChildren(); }
  bool IsIndexedPeer() const override { return indexedPeer_; }
  bool HasIdAddress() const override { return hasIdExchange_; }
  std::uint32_t IdAddress() const override { return idAddress_; }
  bool IsMergedPeer() const override { return mergedPeer_; }
  bool IsRegrouped() const override { return regrouped_; }
  void SetRegrouped() override { regrouped_ = true; }
  std::unique_ptr<PeerNode> NewMergedPeer(std::uint32_t address, std::uint32_t index, std::string name,
                                           LogNode* root) const override {
    return std::make_unique<V2Peer>(address, index, std::move(name), root);
  }

 private:
  std::uint32_t address_ = 0;
  std::uint32_t idAddress_ = 0;
  bool indexedPeer_ = false;
  bool hasIdExchange_ = false;
  bool mergedPeer_ = false;
  bool regrouped_ = false;
  // The tunnel the last exchange went to, with its addresses: a peer's exchanges mostly come
  // a negotiation at a time, several to one tunnel, and comparing here spares reading every
  // tunnel node of the peer for each exchange. Trusted only while that tunnel still stands at
  // that position (the tree may change between two exchanges of a followed log).
  const LogNode* lastTunnel_ = nullptr;
  std::uint32_t lastTunnelAt_ = 0;
  std::uint32_t lastLocal_ = 0;
  std::uint32_t lastPeer_ = 0;
};

}  // namespace quillon
