#include "model/TimeOrder.h"

#include <algorithm>
#include <string>

#include "model/NodeRoles.h"

namespace quillon {

namespace {

// The start of a negotiation; empty for a node that is none or has no start time.
std::optional<CalendarTime> StartOf(const LogNode& node) {
  const auto* negotiation = NodeAs<NegotiationNode>(node);
  return negotiation != nullptr ? negotiation->StartTime() : std::nullopt;
}

}  // namespace

std::optional<TimeOrderKey> TimeOrderKeyOf(const LogNode& exchange) {
  const std::optional<CalendarTime> start = StartOf(exchange);
  if (!start) return std::nullopt;
  // A first-phase negotiation sets up the IKE SA the others of its moment run under: an IKEv1
  // main mode, an IKEv2 initial exchange or a rekey of the IKE SA.
  const NodeKind kind = exchange.Kind();
  const bool first = kind == NodeKind::kMainMode || kind == NodeKind::kInitial || kind == NodeKind::kIkeRekey;
  return TimeOrderKey{start->Seconds(), first};
}

std::vector<const LogNode*> InsertionOrder(const std::vector<const LogNode*>& exchanges) {
  std::vector<const LogNode*> order;
  order.reserve(exchanges.size());
  std::size_t i = 0;
  while (i < exchanges.size()) {
    const std::optional<TimeOrderKey> key = TimeOrderKeyOf(*exchanges[i]);
    std::size_t end = i + 1;
    if (key) {
      while (end < exchanges.size()) {
        const std::optional<TimeOrderKey> next = TimeOrderKeyOf(*exchanges[end]);
        if (!next || next->start != key->start) break;
        ++end;
      }
    }
    // Within the run, each first-phase exchange is inserted in front of those of its time
    // already there, each other one after them.
    std::vector<const LogNode*> firsts, others;
    for (std::size_t j = i; j < end; ++j) {
      const std::optional<TimeOrderKey> k = TimeOrderKeyOf(*exchanges[j]);
      (k && k->first ? firsts : others).push_back(exchanges[j]);
    }
    order.insert(order.end(), firsts.rbegin(), firsts.rend());
    order.insert(order.end(), others.begin(), others.end());
    i = end;
  }
  return order;
}

std::size_t TimeOrderPosition(const LogNode& tunnel, const LogNode& exchange, bool timeOrdered) {
  const std::optional<TimeOrderKey> key = TimeOrderKeyOf(exchange);
  if (!key) return tunnel.ChildCount();
  // Whether the new exchange goes before `other`; nullopt when `other` has no start time.
  auto goesBefore = [&key](const LogNode& other) -> std::optional<bool> {
    const std::optional<CalendarTime> otherStart = StartOf(other);
    if (!otherStart) return std::nullopt;
    const std::int64_t e = otherStart->Seconds();
    return key->start < e || (key->first && key->start == e);
  };
  if (timeOrdered) {
    // The exchanges with a start time are in time order, so the ones the new exchange goes
    // before come last among them: halve the range. Exchanges without a start time are
    // stepped over.
    std::size_t low = 0, high = tunnel.ChildCount(), found = tunnel.ChildCount();
    while (low < high) {
      const std::size_t middle = low + (high - low) / 2;
      std::size_t j = middle;
      std::optional<bool> before;
      while (j < high && !(before = goesBefore(*tunnel.Child(j)))) ++j;
      if (before && !*before) {
        low = j + 1;
      } else {
        if (before) found = j;
        high = middle;
      }
    }
    return found;
  }
  for (std::size_t i = 0; i < tunnel.ChildCount(); ++i)
    if (goesBefore(*tunnel.Child(i)) == true) return i;
  return tunnel.ChildCount();
}

}  // namespace quillon
