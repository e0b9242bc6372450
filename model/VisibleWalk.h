// Walking the tree as the view shows it, without building lists: the filters and the search
// visit every shown node of logs with millions of nodes.
#pragma once

#include "model/QLFolder.h"
#include "model/TreeRules.h"

namespace quillon {

// Calls `visit(child)` for each node shown directly below `node`, in order: data attributes
// are skipped and an address-less tunnel gives way to its children (the same rows as
// VisibleChildren). `visit` returns false to stop; the answer is false when it stopped.
template <class Visit>
bool ForEachVisibleChild(const QLFolder& node, Visit&& visit) {
  for (const auto& child : node.Children()) {
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
