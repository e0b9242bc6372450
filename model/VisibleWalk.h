// Walking the tree as the view shows it, without building lists: the filters and the search
// visit every shown node of logs with millions of nodes.
#pragma once

#include <algorithm>
#include <cstddef>

#include "model/LogNode.h"
#include "model/TreeRules.h"

namespace quillon {

// Calls `visit(child)` for each node shown directly below `node`, in order: data attributes
// are skipped and an address-less tunnel gives way to its children (the same rows as
// VisibleChildren). `visit` returns false to stop; the answer is false when it stopped.
template <class Visit>
bool ForEachVisibleChild(const LogNode& node, Visit&& visit) {
  // A walk over a large tree waits mostly for each node's first bytes to come from memory: the
  // nodes a few places ahead are asked for while this one is handled.
  constexpr std::size_t kAhead = 4;
  const auto& children = node.Children();
  const std::size_t count = children.size();
  for (std::size_t i = 0; i < std::min(count, kAhead); ++i) __builtin_prefetch(children[i].get());
  for (std::size_t i = 0; i < count; ++i) {
    if (i + kAhead < count) __builtin_prefetch(children[i + kAhead].get());
    if (i + 2 < count) __builtin_prefetch(children[i + 2]->Children().begin());
    const auto& child = children[i];
    if (child->IsAttributeValue()) continue;
    if (IsShownAsLevel(*child)) {
      if (!visit(*child)) return false;
    } else if (!ForEachVisibleChild(*child, visit)) {
      return false;
    }
  }
  return true;
}

}  // namespace quillon
