#include "model/TreeSearch.h"

#include "model/VisibleWalk.h"

namespace quillon {

bool NodeMatches(const QLFolder& node, std::string_view text, bool keysOnly) {
  if (node.Caption().find(text) != std::string::npos) return true;
  // Built for this test only and dropped with it.
  return !keysOnly && node.DetailText().find(text) != std::string::npos;
}

void Walk(SearchState& state, const QLFolder& start) {
  ForEachVisibleChild(start, [&state](const QLFolder& child) {
    if (state.found || state.stopped) return false;
    if (state.skipping && state.currentPath.find(child.Path()) == std::string::npos) return true;
    Visit(state, child);
    Walk(state, child);
    return true;
  });
}

void Visit(SearchState& state, const QLFolder& node) {
  if (state.skipping) {
    // The start point itself is not tested again.
    if (&node == state.currentItem) state.skipping = false;
    return;
  }
  if (state.previousMode && &node == state.currentItem) {
    // Reaching the start point ends a backward search, whether or not the start point matches
    // the text (it need not: Find leaves the selected node there when nothing was found).
    if (state.lastMatchBefore == nullptr) {
      state.stopped = true;
    } else {
      state.currentItem = state.lastMatchBefore;
      state.found = true;
    }
    return;
  }
  if (!NodeMatches(node, state.searchText, state.keysOnly)) return;
  if (state.previousMode) {
    state.lastMatchBefore = &node;
  } else {
    state.currentItem = &node;
    state.found = true;
  }
  state.currentPath = node.Path();
}

bool Find(SearchState& state, const QLFolder& root, std::string text, bool keysOnly, const QLFolder* selected) {
  state.searchText = std::move(text);
  state.keysOnly = keysOnly;
  state.found = false;
  state.skipping = false;
  state.currentItem = selected;
  if (selected != nullptr) {
    state.skipping = selected != &root;
    state.currentPath = selected->Path();
  }
  Walk(state, root);
  return state.found;
}

bool FindNext(SearchState& state, const QLFolder& root) {
  state.found = false;
  // Before any Find there is nothing to repeat (an empty text would match every node).
  if (state.currentItem == nullptr && state.searchText.empty()) return false;
  // Without a start point below the root, skipping would never end: search from the top.
  state.skipping = state.currentItem != nullptr && state.currentItem != &root;
  // Taken afresh: a node on the way may have been renamed since (peer names resolved).
  if (state.skipping) state.currentPath = state.currentItem->Path();
  Walk(state, root);
  // Only a start point that is not in the tree leaves the walk skipping.
  state.skipping = false;
  return state.found;
}

FindPreviousResult FindPrevious(SearchState& state, const QLFolder& root) {
  if (state.currentItem == nullptr) return FindPreviousResult::kNoCurrentItem;
  state.found = false;
  state.skipping = false;
  state.previousMode = true;
  state.lastMatchBefore = nullptr;
  state.stopped = false;
  Walk(state, root);
  state.stopped = false;
  state.previousMode = false;
  return state.found ? FindPreviousResult::kFound : FindPreviousResult::kNotFound;
}

namespace {

void CollectMatches(const QLFolder& node, std::string_view text, bool keysOnly, std::vector<const QLFolder*>& out) {
  ForEachVisibleChild(node, [&](const QLFolder& child) {
    if (NodeMatches(child, text, keysOnly)) out.push_back(&child);
    CollectMatches(child, text, keysOnly, out);
    return true;
  });
}

bool ContainsShown(const QLFolder& node, const QLFolder* wanted) {
  return !ForEachVisibleChild(node, [wanted](const QLFolder& child) {
    return &child != wanted && !ContainsShown(child, wanted);
  });
}

}  // namespace

std::vector<const QLFolder*> AllMatches(const QLFolder& root, std::string_view text, bool keysOnly) {
  std::vector<const QLFolder*> out;
  CollectMatches(root, text, keysOnly, out);
  return out;
}

bool IsShownBelow(const QLFolder& root, const QLFolder* node) {
  return node != nullptr && (node == &root || ContainsShown(root, node));
}

}  // namespace quillon
