// The view's place in the tree across a log read again and while it is followed: where the user
// stands, by names that outlive the rows; the steps of Follow; the last event.
#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <QScrollBar>
#include <QTreeView>

#include "app/FindBar.h"
#include "app/LogDocument.h"
#include "app/LogTreeModel.h"
#include "app/LogView.h"
#include "app/TextPane.h"
#include "model/CalendarTime.h"
#include "model/VisibleText.h"

namespace quillon {

namespace {

// Go to last event looks at the first three levels below the root: peers, tunnels and
// negotiations (or negotiations and their packets where a tunnel has no addresses).
constexpr int kLastEventDepth = 3;

// The search for the last event starts at 1 January 1980: an event dated earlier is never it.
std::int64_t EarliestEventSeconds() {
  CalendarTime start;
  start.year = 1980;
  start.month = 1;
  start.day = 1;
  return start.Seconds();
}

std::int64_t EventSeconds(const LogNode& node) {
  CalendarTime time;
  LogNode::ParseDate(node.DateText(), time);
  LogNode::ParseTime(node.TimeText(), time);
  return time.Seconds();
}

void FindLatestEvent(const LogTreeModel& model, const LogNode& node, int depth, std::int64_t& latest,
                     const LogNode*& found) {
  if (depth >= kLastEventDepth) return;
  for (const LogNode* child : model.VisibleChildrenOf(&node)) {
    FindLatestEvent(model, *child, depth + 1, latest, found);
    if (child->DateText().empty()) continue;
    const std::int64_t seconds = EventSeconds(*child);
    // Later or equal: of events logged in the same second, the one read last wins.
    if (seconds >= latest) {
      latest = seconds;
      found = child;
    }
  }
}

// A node's key is stable while a followed log grows (new peers, tunnels and negotiations may
// come between).
using NodeKey = std::vector<std::pair<std::string, int>>;

NodeKey KeyOf(const LogNode* node) {
  NodeKey key;
  for (; node != nullptr && node->Parent() != nullptr; node = node->Parent()) {
    int ordinal = 0;
    for (const auto& sibling : node->Parent()->Children()) {
      if (sibling.get() == node) break;
      if (sibling->Name() == node->Name()) ++ordinal;
    }
    key.emplace_back(node->Name(), ordinal);
  }
  std::reverse(key.begin(), key.end());
  return key;
}

const LogNode* NodeOf(const LogNode& root, const NodeKey& key) {
  const LogNode* node = &root;
  for (const auto& [name, ordinal] : key) {
    const LogNode* next = nullptr;
    int seen = 0;
    for (const auto& child : node->Children()) {
      if (child->Name() == name && seen++ == ordinal) {
        next = child.get();
        break;
      }
    }
    if (next == nullptr) return nullptr;
    node = next;
  }
  return node;
}


}  // namespace

const LogNode* LogView::LastEvent() const {
  const LogFile* root = model_->Log();
  if (root == nullptr) return nullptr;
  // Searched afresh each time: a peer deleted since the last search must not be found.
  std::int64_t latest = EarliestEventSeconds();
  const LogNode* found = nullptr;
  FindLatestEvent(*model_, *root, 0, latest, found);
  return found;
}


LogView::Place LogView::NotePlace(bool onLastEvent) const {
  Place place;
  std::function<void(const QModelIndex&)> collect = [&](const QModelIndex& parent) {
    for (int row = 0; row < model_->rowCount(parent); ++row) {
      const QModelIndex index = model_->index(row, 0, parent);
      if (!tree_->isExpanded(index)) continue;
      place.expanded.push_back(KeyOf(model_->NodeAt(index)));
      collect(index);
    }
  };
  collect({});
  if (const LogNode* selected = SelectedNode()) place.selected = KeyOf(selected);
  place.scrolled = tree_->verticalScrollBar()->value();
  place.onLastEvent = onLastEvent;
  return place;
}

void LogView::GoBackTo(const Place& place) {
  const LogFile* log = model_->Log();
  if (log == nullptr) return;
  followLast_ = LastEvent();
  for (const NodeKey& key : place.expanded)
    if (const LogNode* node = NodeOf(*log, key)) tree_->expand(model_->IndexOf(node));
  tree_->verticalScrollBar()->setValue(place.scrolled);
  if (place.onLastEvent) {
    GoToLastEvent();
  } else if (place.selected) {
    if (const LogNode* node = NodeOf(*log, *place.selected)) {
      const QModelIndex index = model_->IndexOf(node);
      if (index.isValid()) tree_->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
    }
  }
  if (SelectedNode() == nullptr) text_->ShowText({});
}

bool LogView::OnLastEvent() {
  if (!followLast_) followLast_ = LastEvent();
  const LogNode* selected = SelectedNode();
  return selected != nullptr && selected == *followLast_;
}

void LogView::NotePlaceForReload() { notedPlace_ = std::make_unique<Place>(NotePlace(false)); }

void LogView::ReturnToNotedPlace() {
  if (!notedPlace_) return;
  const std::unique_ptr<Place> place = std::move(notedPlace_);
  GoBackTo(*place);
  // The rows were made anew: the count too.
  if (!findBar_->isHidden()) ShowMatchCount();
}

void LogView::ForgetNotedPlace() { notedPlace_.reset(); }

void LogView::BeginFollowRead() {
  if (model_->Log() == nullptr) return;
  notedPlace_ = std::make_unique<Place>(NotePlace(OnLastEvent()));
  // The view shows no tree while the file is read (the window goes on serving events).
  search_.ForgetNodes();
  narrowing_.TreeReloaded();  // a followed tree is read from the file and never narrowed
  followLast_.reset();
  model_->SetLog(nullptr);
  ForgetMatchCount();
}

void LogView::EndFollowRead() {
  const std::unique_ptr<Place> place = std::move(notedPlace_);
  model_->SetLog(document_.Log());
  if (place) GoBackTo(*place);
  emit SelectionChanged();
  emit FollowStepShown();
}

void LogView::ShowFollowed(const std::function<std::vector<LogNode*>()>& poll) {
  LogFile* log = model_->Log();
  if (log == nullptr) return;
  const LogNode* selected = SelectedNode();
  const bool onLastEvent = OnLastEvent();

  // A step mostly adds packets in place. When it reads the file again or regroups the peers, the
  // nodes go: first the rows are let go of, with where the user stands noted by names that
  // outlive the rows.
  bool reset = false;
  Place place;
  log->SetBeforeRearranging([&] {
    if (reset) return;
    reset = true;
    place = NotePlace(onLastEvent);
    search_.ForgetNodes();
    ForgetMatchCount();
    // A followed tree is read from the file and never narrowed.
    narrowing_.TreeReloaded();
    followLast_.reset();
    model_->BeginReset();
  });
  std::vector<LogNode*> changed;
  {
    struct Unhook {
      LogFile* log;
      ~Unhook() { log->SetBeforeRearranging({}); }
    } unhook{log};
    changed = poll();
  }

  if (reset) {
    model_->EndReset();
    GoBackTo(place);
  } else if (!changed.empty()) {
    // Rows of the extended peers only: the rest of the view is not touched.
    model_->NodesAdded(changed);
    ForgetMatchCount();
    const LogNode* last = LatestEventAmong(changed, *followLast_);
    followLast_ = last;
    if (onLastEvent && last != selected && last != nullptr) {
      SelectNode(last);
      tree_->expand(model_->IndexOf(last));
    } else if (selected != nullptr) {
      // The selected node's text may count what was added.
      const LogNode* peer = selected;
      while (peer->Parent() != nullptr && peer->Parent() != log) peer = peer->Parent();
      if (std::find(changed.begin(), changed.end(), peer) != changed.end() || selected == log)
        text_->ShowText(QString::fromLatin1(VisibleText(selected->DetailText(), true)));
    }
  } else {
    return;  // nothing placed: nothing to show
  }
  emit SelectionChanged();
  emit FollowStepShown();
}

const LogNode* LogView::LatestEventAmong(const std::vector<LogNode*>& peers, const LogNode* previous) const {
  const LogFile* root = model_->Log();
  if (root == nullptr) return nullptr;
  const auto peerOf = [root](const LogNode* node) {
    while (node->Parent() != nullptr && node->Parent() != root) node = node->Parent();
    return node;
  };
  // As the whole search goes: peers in the tree's order, a later or equal time wins.
  std::vector<std::pair<std::size_t, const LogNode*>> ordered;
  for (const LogNode* peer : peers)
    if (peer->Parent() == root) ordered.emplace_back(root->IndexOf(peer), peer);
  std::sort(ordered.begin(), ordered.end());
  std::int64_t latest = EarliestEventSeconds();
  const LogNode* found = nullptr;
  for (const auto& [place, peer] : ordered) {
    FindLatestEvent(*model_, *peer, 1, latest, found);
    if (!peer->DateText().empty() && EventSeconds(*peer) >= latest) {
      latest = EventSeconds(*peer);
      found = peer;
    }
  }
  if (previous == nullptr) return found;
  // Events only gain packets and later times: a previous last event in a peer that took nothing
  // is still the latest of those peers, and one in an extended peer was searched again.
  const LogNode* previousPeer = peerOf(previous);
  if (std::find(peers.begin(), peers.end(), previousPeer) != peers.end()) return found;
  if (found == nullptr) return previous;
  const std::int64_t before = EventSeconds(*previous);
  if (latest != before) return latest > before ? found : previous;
  // Of equal times the one further down the tree wins.
  return root->IndexOf(previousPeer) > root->IndexOf(peerOf(found)) ? previous : found;
}

void LogView::GoToLastEvent() {
  const LogNode* found = LastEvent();
  if (found == nullptr) return;
  SelectNode(found);
  tree_->expand(model_->IndexOf(found));
}

}  // namespace quillon
