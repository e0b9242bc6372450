#include "model/TreeCounts.h"

namespace quillon {

namespace {

// The node a packet's header is: the first child of each message, not a payload.
bool IsHeaderNode(const QLFolder& node) { return node.Name() == "Header"; }

std::uint64_t PayloadCount(const QLFolder& packet) {
  std::uint64_t n = 0;
  for (const auto& child : packet.Children())
    if (!IsHeaderNode(*child)) ++n;
  return n;
}

void CountExchange(const QLFolder& exchange, TreeCounts& counts) {
  // A daemon restart is shown among the negotiations as a marker without packets.
  if (exchange.Name() == "Daemon Restarted!!") return;
  ++counts.negotiations;
  if (!exchange.IsComplete()) ++counts.failed;
  if (exchange.IsNotify()) {
    // An informational exchange is one packet: its header and payloads hang below it directly.
    ++counts.packets;
    counts.payloads += PayloadCount(exchange);
    return;
  }
  for (const auto& message : exchange.Children()) {
    ++counts.packets;
    counts.payloads += PayloadCount(*message);
  }
}

}  // namespace

TreeCounts CountTree(const LogFile& root) {
  TreeCounts counts;
  for (const auto& peer : root.Children()) {
    ++counts.peers;
    for (const auto& child : peer->Children()) {
      if (!child->IsTunnel()) {
        CountExchange(*child, counts);
        continue;
      }
      ++counts.tunnels;
      for (const auto& exchange : child->Children()) CountExchange(*exchange, counts);
    }
  }
  return counts;
}

}  // namespace quillon
