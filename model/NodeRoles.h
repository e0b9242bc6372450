// What only one kind of node answers. The node base holds what every node of the tree answers
// (name, children, caption, detail text, state, log span); a peer, a tunnel and a negotiation
// each answer more, and those questions live here, in one role class per kind. The classes of
// both log formats derive from the role of their kind (one chain, LogNode -> role -> format
// class: a second base with virtual functions would add a pointer to every node, and a log
// holds millions of them).
//
// From a LogNode to its role: NodeAs<PeerNode>(node) is the node as a peer, or null when the
// node is of another kind. The kind decides, as the role's Covers says: no dynamic_cast, no
// caption text. So a class whose Kind() answers a kind that a role covers derives from that
// role (peers and tunnels cannot answer another kind: their Kind() is final).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>

#include "model/CalendarTime.h"
#include "model/LogNode.h"
#include "model/NodeKind.h"

namespace quillon {

// The node as the role `Role`, or null when its kind is not one the role covers (or it is
// null). `Role` is LogNode or derives from it and has `static bool Covers(NodeKind)`.
template <class Role>
Role* NodeAs(LogNode* node) {
  return node != nullptr && Role::Covers(node->Kind()) ? static_cast<Role*>(node) : nullptr;
}
template <class Role>
const Role* NodeAs(const LogNode* node) {
  return node != nullptr && Role::Covers(node->Kind()) ? static_cast<const Role*>(node) : nullptr;
}
template <class Role>
Role* NodeAs(LogNode& node) {
  return NodeAs<Role>(&node);
}
template <class Role>
const Role* NodeAs(const LogNode& node) {
  return NodeAs<Role>(&node);
}

// One remote address of a log (a child of the log root): the negotiations with it, grouped by
// tunnel. The regrouping of indexed peers asks these.
class PeerNode : public LogNode {
 public:
  using LogNode::LogNode;
  static bool Covers(NodeKind kind) { return kind == NodeKind::kPeer; }
  NodeKind Kind() const final { return NodeKind::kPeer; }

  virtual std::uint32_t PeerAddress() const = 0;
  // The daemon logged a small index in place of the peer's address.
  virtual bool IsIndexedPeer() const { return false; }
  // A peer the regrouping made for an (index, address) pair; it is named after both.
  virtual bool IsMergedPeer() const { return false; }
  // Set once the regrouping moved every negotiation of the peer it could.
  virtual bool IsRegrouped() const { return false; }
  virtual void SetRegrouped() {}
  // A new, empty merged peer of the same log format for the (index, address) pair.
  virtual std::unique_ptr<PeerNode> NewMergedPeer(std::uint32_t address, std::uint32_t index, std::string name,
                                                   LogNode* root) const = 0;
};

// The negotiations of one peer on one tunnel interface (local and peer address); a tunnel
// whose addresses are both 0 holds those logged without.
class TunnelNode : public LogNode {
 public:
  using LogNode::LogNode;
  static bool Covers(NodeKind kind) { return kind == NodeKind::kTunnel; }
  NodeKind Kind() const final { return NodeKind::kTunnel; }

  virtual std::uint32_t TunnelLocalIP() const = 0;
  virtual std::uint32_t TunnelPeerIP() const = 0;
  bool HasTunnelAddresses() const { return TunnelLocalIP() != 0 && TunnelPeerIP() != 0; }
  bool MatchesTunnel(std::uint32_t local, std::uint32_t peer) const {
    return TunnelLocalIP() == local && TunnelPeerIP() == peer;
  }
  // A negotiation of the tunnel, shown or not, names the user (its user detail holds "(" +
  // text + ")").
  virtual bool MatchesUserName(std::string_view /*text*/) const { return false; }
  virtual bool MatchesUserDetail(std::string_view /*text*/) const { return false; }
  // A new, empty tunnel of the same log format for the address pair.
  virtual std::unique_ptr<TunnelNode> NewTunnel(std::uint32_t local, std::uint32_t peer) const = 0;
  // Takes an exchange moved here by the regrouping, at its place in time order. The default
  // appends it.
  virtual void InsertExchange(std::unique_ptr<LogNode> exchange);
  // Tunnels that take many moved exchanges at once may keep them aside until the batch closes.
  virtual void OpenInsertBatch() {}
  virtual void CloseInsertBatch() {}
  virtual bool HasOpenInsertBatch() const { return false; }
};

// A negotiation of either log format (an IKEv1 exchange, a restart marker, an IKEv2
// exchange): what the narrowing, the time order and the regrouping of indexed peers ask of it.
class NegotiationNode : public LogNode {
 public:
  using LogNode::LogNode;
  static bool Covers(NodeKind kind) { return IsNegotiation(kind); }

  // Pairing with the exchanges of other peers: the keys under which the exchange pairs (0
  // pairs with nothing), false for one that pairs with nothing at all. A key only narrows the
  // search for partners, which are compared in full (MatchesMessage): equal values must give
  // equal keys, and a key shared by unequal values costs only a look at a peer in vain.
  virtual bool RegroupKeys(std::uint64_t (&/*keys*/)[2]) const { return false; }
  virtual bool MatchesMessage(const NegotiationNode& /*other*/) const { return false; }
  // The text is the negotiation's cookie or one of its SPIs, as the tree prints them.
  virtual bool MatchesCookie(std::string_view /*text*/) const { return false; }
  virtual bool MatchesSpi(std::string_view /*text*/) const { return false; }
  // The (index, address) pair the regrouping paired the exchange with.
  virtual bool IsReassigned() const { return false; }
  virtual void Reassign(std::uint32_t /*index*/, std::uint32_t /*address*/) {}
  virtual std::uint32_t ReassignedIndex() const { return 0; }
  virtual std::uint32_t ReassignedAddress() const { return 0; }
  // The peer address a packet-debug record of the negotiation gave ("PeerIP:"), 0 without one.
  virtual std::uint32_t PacketDebugValue() const { return 0; }
  // The start as logged (date and time of the first packet); empty without one.
  virtual std::optional<CalendarTime> StartTime() const { return std::nullopt; }
  // A negotiation that counted its packets and their payloads once they were read: those
  // counts, so that counting the tree need not visit every packet. False when it has none (or
  // its packets changed since): the packets are then counted one by one.
  virtual bool PacketCounts(std::size_t& /*packets*/, std::size_t& /*payloads*/) const { return false; }
};

// The address of a peer; 0 for a node that is none.
inline std::uint32_t PeerAddressOf(const LogNode& node) {
  const auto* peer = NodeAs<PeerNode>(node);
  return peer != nullptr ? peer->PeerAddress() : 0;
}
// A merged peer the regrouping made; false for a node that is no peer.
inline bool IsMergedPeer(const LogNode& node) {
  const auto* peer = NodeAs<PeerNode>(node);
  return peer != nullptr && peer->IsMergedPeer();
}

}  // namespace quillon
