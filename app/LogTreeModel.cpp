#include "app/LogTreeModel.h"

#include <algorithm>

#include "model/TreeRules.h"
#include "model/VisibleText.h"

namespace quillon {

namespace {

// A node whose rows are its own children with no more than this many of them is checked on
// each call; one with more, or standing further down among its siblings, keeps an entry.
constexpr std::size_t kFewRows = 32;

// Whether `node` shows any row below it, without listing them all: a node with 100,000
// children answers at its first shown child.
bool HasVisibleChild(const LogNode& node) {
  for (const auto& child : node.Children()) {
    if (child->IsAttributeValue()) continue;
    if (IsShownAsLevel(*child) || HasVisibleChild(*child)) return true;
  }
  return false;
}

// The levels a followed log adds rows to: the root takes peers, a peer tunnels, a tunnel
// negotiations, a negotiation packets. A packet is placed whole.
bool GrowsWithLog(const LogNode& node) {
  const NodeKind kind = node.Kind();
  return kind == NodeKind::kLogRoot || kind == NodeKind::kPeer || kind == NodeKind::kTunnel || IsNegotiation(kind);
}

// Whether the rows below `node` are simply its children (all shown as levels).
bool ShowsOwnChildren(const LogNode& node) {
  if (GrowsWithLog(node)) return false;
  for (const auto& child : node.Children())
    if (!IsShownAsLevel(*child)) return false;
  return true;
}

}  // namespace

LogTreeModel::LogTreeModel(QObject* parent) : QAbstractItemModel(parent) {}

void LogTreeModel::SetLog(LogFile* root) {
  beginResetModel();
  // Swapped for empty ones: clear() would keep the bucket array of every row ever made.
  entries_ = {};
  peerIcons_ = {};
  root_ = root;
  endResetModel();
}

std::size_t LogTreeModel::Rows::Find(const LogNode* child) const {
  const std::size_t count = size();
  for (std::size_t row = 0; row < count; ++row)
    if (at(row) == child) return row;
  return count;
}

const LogNode* LogTreeModel::ShownParent(const LogNode* node) const {
  if (node == nullptr || node == root_) return nullptr;
  for (const LogNode* up = node->Parent(); up != nullptr; up = up->Parent())
    if (up == root_ || IsShownAsLevel(*up)) return up;
  return nullptr;
}

int LogTreeModel::RowOf(const LogNode* node) const {
  if (node == root_) return 0;
  const auto found = entries_.find(node);
  if (found != entries_.end()) return found->second.row;
  // Not kept: the node stands among its first few siblings (or was never asked for its rows).
  const LogNode* parentNode = ShownParent(node);
  if (parentNode == nullptr) return 0;
  const Rows siblings = RowsOf(parentNode);
  const std::size_t row = siblings.Find(node);
  return row < siblings.size() ? static_cast<int>(row) : 0;
}

LogTreeModel::Rows LogTreeModel::RowsOf(const LogNode* node, int row) const {
  const auto found = entries_.find(node);
  if (found != entries_.end()) return found->second.kept ? Rows{&found->second.children, node} : Rows{nullptr, node};
  if (node == root_ || !ShowsOwnChildren(*node)) return Rows{&MakeList(node, row).children, node};
  // The rows are the node's children. Its own row is kept when finding it would take long; a
  // node with many children keeps an entry so that they are checked once.
  if (row < 0) row = RowOf(node);
  if (node->ChildCount() > kFewRows || static_cast<std::size_t>(row) >= kFewRows) entries_[node].row = row;
  return Rows{nullptr, node};
}

LogTreeModel::Entry& LogTreeModel::MakeList(const LogNode* node, int row) const {
  if (row < 0 && node != root_) row = RowOf(node);
  // Made after the parent's rows: making those may have rehashed the map.
  Entry& entry = entries_[node];
  entry.row = std::max(row, 0);
  entry.kept = true;
  entry.children = VisibleChildren(*node);
  if (node == root_) peerIcons_.assign(entry.children.size(), kIconUnknown);
  return entry;
}

std::vector<LogNode*> LogTreeModel::VisibleChildrenOf(const LogNode* node) const {
  const auto found = entries_.find(node);
  if (found != entries_.end() && found->second.kept) return found->second.children;
  return VisibleChildren(*node);
}

LogNode* LogTreeModel::NodeAt(const QModelIndex& index) const {
  if (!index.isValid() || index.model() != this) return nullptr;
  return static_cast<LogNode*>(index.internalPointer());
}

QModelIndex LogTreeModel::IndexOf(const LogNode* node) const {
  if (node == nullptr || root_ == nullptr) return {};
  if (node == root_) return createIndex(0, 0, root_);
  // The shown ancestors, nearest first; address-less tunnels and attributes are skipped, and a
  // node that is itself hidden has no index.
  if (!IsShownAsLevel(*node)) return {};
  std::vector<const LogNode*> chain;
  for (const LogNode* up = node; up != nullptr; up = up->Parent()) {
    if (up == root_ || IsShownAsLevel(*up)) chain.push_back(up);
  }
  if (chain.empty() || chain.back() != root_) return {};
  // Walk down from the root so every parent on the way has its rows; each one's row is known
  // from the step before.
  int row = 0;
  for (auto it = chain.rbegin(); it + 1 != chain.rend(); ++it) {
    const Rows rows = RowsOf(*it, row);
    const std::size_t at = rows.Find(*(it + 1));
    if (at == rows.size()) return {};
    row = static_cast<int>(at);
  }
  return createIndex(row, 0, const_cast<LogNode*>(node));
}

QModelIndex LogTreeModel::index(int row, int column, const QModelIndex& parent) const {
  if (root_ == nullptr || column != 0 || row < 0) return {};
  if (!parent.isValid()) return row == 0 ? createIndex(0, 0, root_) : QModelIndex();
  const Rows rows = RowsOf(NodeAt(parent), parent.row());
  if (static_cast<std::size_t>(row) >= rows.size()) return {};
  return createIndex(row, 0, rows.at(static_cast<std::size_t>(row)));
}

QModelIndex LogTreeModel::parent(const QModelIndex& child) const {
  const LogNode* parentNode = ShownParent(NodeAt(child));
  if (parentNode == nullptr) return {};
  return createIndex(RowOf(parentNode), 0, const_cast<LogNode*>(parentNode));
}

int LogTreeModel::rowCount(const QModelIndex& parent) const {
  if (root_ == nullptr) return 0;
  if (!parent.isValid()) return 1;
  if (parent.column() != 0) return 0;
  return static_cast<int>(RowsOf(NodeAt(parent), parent.row()).size());
}

int LogTreeModel::columnCount(const QModelIndex& /*parent*/) const { return 1; }

bool LogTreeModel::hasChildren(const QModelIndex& parent) const {
  if (root_ == nullptr) return false;
  if (!parent.isValid()) return true;
  if (parent.column() != 0) return false;
  const LogNode* node = NodeAt(parent);
  const auto found = entries_.find(node);
  if (found != entries_.end() && found->second.kept) return !found->second.children.empty();
  return HasVisibleChild(*node);
}

QVariant LogTreeModel::data(const QModelIndex& index, int role) const {
  const LogNode* node = NodeAt(index);
  if (node == nullptr) return {};
  switch (role) {
    case Qt::DisplayRole:
      return QString::fromLatin1(VisibleText(node->Caption()));
    case Qt::DecorationRole: {
      int icon = kIconUnknown;
      const auto row = static_cast<std::size_t>(index.row());
      // A peer's is kept in the root's list of rows, by the row's position.
      std::int16_t* cached = nullptr;
      if (node->Parent() == root_ && row < peerIcons_.size()) {
        const auto rootEntry = entries_.find(root_);
        if (rootEntry != entries_.end() && row < rootEntry->second.children.size() &&
            rootEntry->second.children[row] == node)
          cached = &peerIcons_[row];
      }
      if (cached != nullptr) icon = *cached;
      if (icon == kIconUnknown) {
        icon = StateIconIndex(*node);
        if (cached != nullptr) *cached = static_cast<std::int16_t>(icon);
      }
      if (icon == kIconNone) return {};
      return icons_.At(icon);
    }
    default:
      return {};
  }
}

Qt::ItemFlags LogTreeModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::NoItemFlags;
  // A row with nothing below says so: the view's "expand all" then keeps no index for it as
  // expanded (three rows of four in a large log are such).
  if (!hasChildren(index)) return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
  return Qt::ItemIsEnabled | Qt::ItemIsSelectable;
}

std::size_t LogTreeModel::Forget(const LogNode* node) {
  // Entries stand only below nodes whose rows are made; the walk goes through kept lists and
  // through nodes whose rows are their children (which may keep entries further down).
  std::size_t rows = 0;
  std::vector<const LogNode*> pending{node};
  while (!pending.empty()) {
    const LogNode* at = pending.back();
    pending.pop_back();
    const auto found = entries_.find(at);
    if (found != entries_.end() && found->second.kept) {
      rows += found->second.children.size();
      pending.insert(pending.end(), found->second.children.begin(), found->second.children.end());
    } else if (at != root_ && ShowsOwnChildren(*at)) {
      for (const auto& child : at->Children())
        if (!child->Children().empty()) pending.push_back(child.get());
    }
    if (found != entries_.end()) entries_.erase(found);
  }
  return rows;
}

void LogTreeModel::Renumber(const Rows& rows, std::size_t from) {
  for (std::size_t row = from; row < rows.size(); ++row) {
    const auto sibling = entries_.find(rows.at(row));
    if (sibling != entries_.end()) sibling->second.row = static_cast<int>(row);
  }
}

void LogTreeModel::RemoveNode(LogNode* node, const std::function<void(LogNode*)>& destroy) {
  const QModelIndex index = IndexOf(node);
  if (!index.isValid() || node == root_) return;
  const QModelIndex parentIndex = index.parent();
  const LogNode* parentNode = NodeAt(parentIndex);
  const int row = index.row();
  beginRemoveRows(parentIndex, row, row);
  // The entries go before the nodes: a later allocation at the same address must not find them.
  Forget(node);
  destroy(node);
  const auto parentEntry = entries_.find(parentNode);
  if (parentEntry != entries_.end() && parentEntry->second.kept) {
    std::vector<LogNode*>& children = parentEntry->second.children;
    children.erase(children.begin() + row);
    if (parentNode == root_ && static_cast<std::size_t>(row) < peerIcons_.size())
      peerIcons_.erase(peerIcons_.begin() + row);
  }
  Renumber(RowsOf(parentNode), static_cast<std::size_t>(row));
  endRemoveRows();
}

void LogTreeModel::Rebuild(const std::function<void()>& change) {
  BeginReset();
  change();
  EndReset();
}

void LogTreeModel::BeginReset() {
  beginResetModel();
  // Forgotten before the change: a node destroyed by it must not be found by its address.
  entries_.clear();
  peerIcons_.clear();
}

void LogTreeModel::EndReset() {
  entries_ = {};
  peerIcons_ = {};
  endResetModel();
}

void LogTreeModel::NodesAdded(const std::vector<LogNode*>& peers) {
  if (root_ == nullptr) return;
  const auto rootEntry = entries_.find(root_);
  if (rootEntry == entries_.end()) return;  // no row below the root made yet
  Refresh(root_, false);
  for (const LogNode* peer : peers) {
    const std::vector<LogNode*>& rows = entries_.find(root_)->second.children;
    const auto at = std::find(rows.begin(), rows.end(), peer);
    if (at == rows.end()) continue;
    const auto row = static_cast<std::size_t>(at - rows.begin());
    peerIcons_[row] = kIconUnknown;
    const QModelIndex index = createIndex(static_cast<int>(row), 0, const_cast<LogNode*>(peer));
    emit dataChanged(index, index, {Qt::DisplayRole, Qt::DecorationRole});
    const auto found = entries_.find(peer);
    if (found != entries_.end() && found->second.kept) Refresh(peer, true);
  }
}

void LogTreeModel::Refresh(const LogNode* node, bool deep) {
  std::vector<LogNode*> now = VisibleChildren(*node);
  const QModelIndex index = createIndex(RowOf(node), 0, const_cast<LogNode*>(node));
  const auto listOf = [this, node]() -> Entry& { return entries_.find(node)->second; };
  // The rows there were must still be there, in their order, with new ones between them. A node
  // only gains children in place; should one have gone from view after all, this node's rows are
  // made anew.
  std::vector<LogNode*> before = listOf().children;
  std::size_t kept = 0;
  for (std::size_t i = 0; i < now.size() && kept < before.size(); ++i)
    if (now[i] == before[kept]) ++kept;
  if (kept != before.size()) {
    if (!before.empty()) {
      beginRemoveRows(index, 0, static_cast<int>(before.size()) - 1);
      for (const LogNode* child : before) Forget(child);
      listOf().children.clear();
      if (node == root_) peerIcons_.clear();
      endRemoveRows();
    }
    before.clear();
  }
  // Each run of new rows is inserted where it stands.
  for (std::size_t i = 0, k = 0; i < now.size();) {
    if (k < before.size() && now[i] == before[k]) {
      ++i;
      ++k;
      continue;
    }
    const std::size_t first = i;
    while (i < now.size() && (k >= before.size() || now[i] != before[k])) ++i;
    beginInsertRows(index, static_cast<int>(first), static_cast<int>(i) - 1);
    std::vector<LogNode*>& rows = listOf().children;
    rows.insert(rows.begin() + static_cast<std::ptrdiff_t>(first), now.begin() + static_cast<std::ptrdiff_t>(first),
                now.begin() + static_cast<std::ptrdiff_t>(i));
    if (node == root_)
      peerIcons_.insert(peerIcons_.begin() + static_cast<std::ptrdiff_t>(first), i - first, kIconUnknown);
    // The rows after the new ones moved down.
    Renumber(Rows{&rows, node}, i);
    endInsertRows();
  }
  if (!deep || now.empty()) return;
  // Captions and state icons of the rows that stayed may have changed (counts, diagnosis).
  if (node == root_) peerIcons_.assign(now.size(), kIconUnknown);
  emit dataChanged(createIndex(0, 0, now.front()), createIndex(static_cast<int>(now.size()) - 1, 0, now.back()),
                   {Qt::DisplayRole, Qt::DecorationRole});
  for (const LogNode* child : now) {
    const auto found = entries_.find(child);
    if (found != entries_.end() && found->second.kept) Refresh(child, true);
  }
}

std::size_t LogTreeModel::ReleaseBelow(const QModelIndex& collapsed) {
  const LogNode* node = NodeAt(collapsed);
  if (node == nullptr) return 0;
  // Rows that an index is kept for (the current row, the selection, rows the view remembers as
  // expanded) and the rows on the way to them stay as they are.
  std::unordered_map<const LogNode*, bool> kept;
  for (const QModelIndex& index : persistentIndexList())
    for (const LogNode* up = NodeAt(index); up != nullptr && up != node; up = ShownParent(up)) kept[up] = true;
  std::size_t released = 0;
  std::vector<const LogNode*> pending{node};
  while (!pending.empty()) {
    const LogNode* at = pending.back();
    pending.pop_back();
    const auto found = entries_.find(at);
    const bool listed = found != entries_.end() && found->second.kept;
    if (!listed && (at == root_ || !ShowsOwnChildren(*at))) continue;  // nothing made below
    const Rows rows = listed ? Rows{&found->second.children, at} : Rows{nullptr, at};
    for (std::size_t row = 0; row < rows.size(); ++row) {
      const LogNode* child = rows.at(row);
      if (child->Children().empty()) continue;
      // The row itself keeps its place (its parent lists it); nothing refers to the rows below
      // it, which are made again when it is expanded.
      if (kept.count(child) != 0) pending.push_back(child);
      else released += Forget(child);
    }
  }
  // A map that shrank a lot gives its bucket array back too.
  if (released > 0 && entries_.bucket_count() > 4 * entries_.size() + 1024) {
    std::unordered_map<const LogNode*, Entry> smaller(entries_.begin(), entries_.end());
    entries_.swap(smaller);
  }
  return released;
}

std::size_t LogTreeModel::CachedRows() const {
  std::size_t rows = root_ != nullptr ? 1 : 0;
  for (const auto& [node, entry] : entries_) rows += entry.children.size();
  return rows;
}

void LogTreeModel::NodesChanged(const std::vector<LogNode*>& nodes) {
  for (LogNode* node : nodes) {
    const QModelIndex index = IndexOf(node);
    if (!index.isValid()) continue;
    if (node->Parent() == root_ && static_cast<std::size_t>(index.row()) < peerIcons_.size())
      peerIcons_[static_cast<std::size_t>(index.row())] = kIconUnknown;
    emit dataChanged(index, index, {Qt::DisplayRole, Qt::DecorationRole});
  }
}

}  // namespace quillon
