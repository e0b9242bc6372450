#include "model/TreeCounts.h"

#include "model/Background.h"
#include "model/NodeRoles.h"

namespace quillon {

namespace {

// The counts a negotiation kept of its packets and their payloads; false without.
bool KeptPacketCounts(const LogNode& node, std::size_t& packets, std::size_t& payloads) {
  const auto* negotiation = NodeAs<NegotiationNode>(node);
  return negotiation != nullptr && negotiation->PacketCounts(packets, payloads);
}

void CountExchange(const LogNode& exchange, TreeCounts& counts) {
  const NodeKind kind = exchange.Kind();
  // A daemon restart is shown among the negotiations as a marker without packets.
  if (kind == NodeKind::kRestart) return;
  ++counts.negotiations;
  if (!exchange.IsComplete()) ++counts.failed;
  // An IKEv1 informational exchange is one packet and counts itself that way.
  std::size_t packets = 0, payloads = 0;
  if (NegotiationNode::Covers(kind) && static_cast<const NegotiationNode&>(exchange).PacketCounts(packets, payloads)) {
    counts.packets += packets;
    counts.payloads += payloads;
    return;
  }
  for (const auto& message : exchange.Children()) {
    ++counts.packets;
    counts.payloads += message->PayloadCount();
  }
}

void CountPeer(const LogNode& peer, TreeCounts& counts) {
  ++counts.peers;
  for (const auto& child : peer.Children()) {
    if (!child->IsTunnel()) {
      CountExchange(*child, counts);
      continue;
    }
    ++counts.tunnels;
    // Counting waits mostly for nodes to come from memory: the exchanges a few steps ahead
    // are asked for, and the packets of the next one unless it counted them itself.
    const auto& exchanges = child->Children();
    const std::size_t count = exchanges.size();
    std::size_t packets = 0, payloads = 0;
    for (std::size_t e = 0; e < count; ++e) {
      if (e + kPrefetchAhead < count) PrefetchNode(exchanges[e + kPrefetchAhead].get());
      if (e + 1 < count && !KeptPacketCounts(*exchanges[e + 1], packets, payloads))
        for (const auto& message : exchanges[e + 1]->Children()) PrefetchNode(message.get());
      CountExchange(*exchanges[e], counts);
    }
  }
}

}  // namespace

TreeCounts CountTree(const LogFile& root) {
  // Counting touches every node of the tree, and waits mostly for each to come from memory:
  // two threads count the peers and the sums are added.
  LaneState<TreeCounts> lanes[2];
  SpreadOverTwoThreads(root.Helpers(), root.ChildCount(), 64, nullptr,
                       [&](std::size_t p, unsigned lane) { CountPeer(*root.Child(p), lanes[lane].value); });
  TreeCounts counts = lanes[0].value;
  counts += lanes[1].value;
  return counts;
}

}  // namespace quillon
