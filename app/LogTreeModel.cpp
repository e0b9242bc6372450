#include "app/LogTreeModel.h"

#include <algorithm>

#include "model/TreeRules.h"
#include "model/VisibleText.h"

namespace quillon {

namespace {

// Whether `node` shows any row below it, without listing them all: a node with 100,000
// children answers at its first shown child.
bool HasVisibleChild(const LogNode& node) {
  for (const auto& child : node.Children()) {
    if (child->IsAttributeValue()) continue;
    if (IsShownAsLevel(*child) || HasVisibleChild(*child)) return true;
  }
  return false;
}

}  // namespace

LogTreeModel::LogTreeModel(QObject* parent) : QAbstractItemModel(parent) {}

void LogTreeModel::SetLog(LogFile* root) {
  beginResetModel();
  // Swapped for an empty map: clear() would keep the bucket array of every row ever made.
  entries_ = {};
  root_ = root;
  if (root_ != nullptr) entries_[root_] = Entry{};
  endResetModel();
}

const LogNode* LogTreeModel::ShownParent(const LogNode* node) const {
  if (node == nullptr || node == root_) return nullptr;
  for (const LogNode* up = node->Parent(); up != nullptr; up = up->Parent())
    if (up == root_ || IsShownAsLevel(*up)) return up;
  return nullptr;
}

LogTreeModel::Entry& LogTreeModel::EntryOf(const LogNode* node, int row) const {
  const auto found = entries_.find(node);
  if (found != entries_.end() && found->second.childrenKnown) return found->second;
  if (row < 0 && node != root_) {
    // Asked without an index: the node's place in its parent's rows (made first).
    const LogNode* parentNode = ShownParent(node);
    if (parentNode != nullptr) {
      const std::vector<LogNode*>& siblings = EntryOf(parentNode).children;
      const auto at = std::find(siblings.begin(), siblings.end(), node);
      if (at != siblings.end()) row = static_cast<int>(at - siblings.begin());
    }
  }
  // Made after the parent's: making the parent's may have rehashed the map.
  Entry& entry = entries_[node];
  entry.row = std::max(row, 0);
  entry.children = VisibleChildren(*node);
  entry.icons.assign(entry.children.size(), kIconUnknown);
  entry.childrenKnown = true;
  return entry;
}

const std::vector<LogNode*>& LogTreeModel::VisibleChildrenOf(const LogNode* node) const {
  return EntryOf(node).children;
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
    const std::vector<LogNode*>& children = EntryOf(*it, row).children;
    const auto at = std::find(children.begin(), children.end(), *(it + 1));
    if (at == children.end()) return {};
    row = static_cast<int>(at - children.begin());
  }
  return createIndex(row, 0, const_cast<LogNode*>(node));
}

QModelIndex LogTreeModel::index(int row, int column, const QModelIndex& parent) const {
  if (root_ == nullptr || column != 0 || row < 0) return {};
  if (!parent.isValid()) return row == 0 ? createIndex(0, 0, root_) : QModelIndex();
  const std::vector<LogNode*>& children = EntryOf(NodeAt(parent), parent.row()).children;
  if (static_cast<std::size_t>(row) >= children.size()) return {};
  return createIndex(row, 0, children[static_cast<std::size_t>(row)]);
}

QModelIndex LogTreeModel::parent(const QModelIndex& child) const {
  const LogNode* parentNode = ShownParent(NodeAt(child));
  if (parentNode == nullptr) return {};
  // The parent lists its rows (the child's index was made from them): its entry has its row.
  const auto parentEntry = entries_.find(parentNode);
  const int row = parentEntry == entries_.end() ? 0 : parentEntry->second.row;
  return createIndex(row, 0, const_cast<LogNode*>(parentNode));
}

int LogTreeModel::rowCount(const QModelIndex& parent) const {
  if (root_ == nullptr) return 0;
  if (!parent.isValid()) return 1;
  if (parent.column() != 0) return 0;
  return static_cast<int>(EntryOf(NodeAt(parent), parent.row()).children.size());
}

int LogTreeModel::columnCount(const QModelIndex& /*parent*/) const { return 1; }

bool LogTreeModel::hasChildren(const QModelIndex& parent) const {
  if (root_ == nullptr) return false;
  if (!parent.isValid()) return true;
  if (parent.column() != 0) return false;
  const LogNode* node = NodeAt(parent);
  const auto found = entries_.find(node);
  if (found != entries_.end() && found->second.childrenKnown) return !found->second.children.empty();
  return HasVisibleChild(*node);
}

QVariant LogTreeModel::data(const QModelIndex& index, int role) const {
  const LogNode* node = NodeAt(index);
  if (node == nullptr) return {};
  switch (role) {
    case Qt::DisplayRole:
      return QString::fromLatin1(VisibleText(node->Caption()));
    case Qt::DecorationRole: {
      // Kept in the parent's list of rows, by the row's position.
      const LogNode* parentNode = ShownParent(node);
      const auto found = parentNode != nullptr ? entries_.find(parentNode) : entries_.end();
      const auto row = static_cast<std::size_t>(index.row());
      std::int16_t* cached = found != entries_.end() && row < found->second.icons.size() &&
                                     found->second.children[row] == node
                                 ? &found->second.icons[row]
                                 : nullptr;
      int icon = cached != nullptr ? *cached : kIconUnknown;
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
  return Qt::ItemIsEnabled | Qt::ItemIsSelectable;
}

std::size_t LogTreeModel::Forget(const LogNode* node) {
  const auto found = entries_.find(node);
  if (found == entries_.end()) return 0;
  // Only nodes whose rows are made have entries, and only below rows that are made.
  const std::vector<LogNode*> children = std::move(found->second.children);
  entries_.erase(found);
  std::size_t rows = children.size();
  for (const LogNode* child : children) rows += Forget(child);
  return rows;
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
  Entry& parentEntry = EntryOf(parentNode);
  parentEntry.children.erase(parentEntry.children.begin() + row);
  parentEntry.icons.erase(parentEntry.icons.begin() + row);
  for (std::size_t after = static_cast<std::size_t>(row); after < parentEntry.children.size(); ++after) {
    const auto sibling = entries_.find(parentEntry.children[after]);
    if (sibling != entries_.end()) sibling->second.row = static_cast<int>(after);
  }
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
}

void LogTreeModel::EndReset() {
  entries_ = {};
  if (root_ != nullptr) entries_[root_] = Entry{};
  endResetModel();
}

void LogTreeModel::NodesAdded(const std::vector<LogNode*>& peers) {
  if (root_ == nullptr) return;
  const auto rootEntry = entries_.find(root_);
  if (rootEntry == entries_.end() || !rootEntry->second.childrenKnown) return;  // no row below the root made yet
  Refresh(root_, false);
  for (const LogNode* peer : peers) {
    Entry& rows = entries_.find(root_)->second;
    const auto at = std::find(rows.children.begin(), rows.children.end(), peer);
    if (at == rows.children.end()) continue;
    const auto row = static_cast<std::size_t>(at - rows.children.begin());
    rows.icons[row] = kIconUnknown;
    const QModelIndex index = createIndex(static_cast<int>(row), 0, const_cast<LogNode*>(peer));
    emit dataChanged(index, index, {Qt::DisplayRole, Qt::DecorationRole});
    const auto found = entries_.find(peer);
    if (found != entries_.end() && found->second.childrenKnown) Refresh(peer, true);
  }
}

void LogTreeModel::Refresh(const LogNode* node, bool deep) {
  std::vector<LogNode*> now = VisibleChildren(*node);
  const auto rowOf = [this](const LogNode* n) { return entries_.find(n)->second.row; };
  const QModelIndex index = node == root_ ? createIndex(0, 0, root_) : createIndex(rowOf(node), 0, const_cast<LogNode*>(node));
  // The rows there were must still be there, in their order, with new ones between them. A node
  // only gains children in place; should one have gone from view after all, this node's rows are
  // made anew.
  std::vector<LogNode*> before = entries_.find(node)->second.children;
  std::size_t kept = 0;
  for (std::size_t i = 0; i < now.size() && kept < before.size(); ++i)
    if (now[i] == before[kept]) ++kept;
  if (kept != before.size()) {
    if (!before.empty()) {
      beginRemoveRows(index, 0, static_cast<int>(before.size()) - 1);
      for (const LogNode* child : before) Forget(child);
      entries_.find(node)->second.children.clear();
      entries_.find(node)->second.icons.clear();
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
    Entry& entry = entries_.find(node)->second;
    std::vector<LogNode*>& rows = entry.children;
    rows.insert(rows.begin() + static_cast<std::ptrdiff_t>(first), now.begin() + static_cast<std::ptrdiff_t>(first),
                now.begin() + static_cast<std::ptrdiff_t>(i));
    entry.icons.insert(entry.icons.begin() + static_cast<std::ptrdiff_t>(first), i - first, kIconUnknown);
    // The rows after the new ones moved down.
    for (std::size_t row = i; row < rows.size(); ++row) {
      const auto child = entries_.find(rows[row]);
      if (child != entries_.end()) child->second.row = static_cast<int>(row);
    }
    endInsertRows();
  }
  if (!deep || now.empty()) return;
  // Captions and state icons of the rows that stayed may have changed (counts, diagnosis).
  entries_.find(node)->second.Stale();
  emit dataChanged(createIndex(0, 0, now.front()), createIndex(static_cast<int>(now.size()) - 1, 0, now.back()),
                   {Qt::DisplayRole, Qt::DecorationRole});
  for (const LogNode* child : now) {
    const auto found = entries_.find(child);
    if (found != entries_.end() && found->second.childrenKnown) Refresh(child, true);
  }
}

std::size_t LogTreeModel::ReleaseBelow(const QModelIndex& collapsed) {
  const LogNode* node = NodeAt(collapsed);
  if (node == nullptr) return 0;
  const auto found = entries_.find(node);
  if (found == entries_.end() || !found->second.childrenKnown) return 0;
  // Rows that an index is kept for (the current row, the selection, rows the view remembers as
  // expanded) and the rows on the way to them stay as they are.
  std::unordered_map<const LogNode*, bool> kept;
  for (const QModelIndex& index : persistentIndexList())
    for (const LogNode* up = NodeAt(index); up != nullptr && up != node; up = ShownParent(up)) kept[up] = true;
  std::size_t released = 0;
  std::vector<const LogNode*> pending(found->second.children.begin(), found->second.children.end());
  while (!pending.empty()) {
    const LogNode* child = pending.back();
    pending.pop_back();
    const auto entry = entries_.find(child);
    if (entry == entries_.end()) continue;
    // The row itself keeps its place (its parent lists it).
    if (!entry->second.childrenKnown) continue;
    if (kept.count(child) != 0) {
      pending.insert(pending.end(), entry->second.children.begin(), entry->second.children.end());
      continue;
    }
    // Nothing refers to the rows below: they are made again when the row is expanded.
    released += Forget(child);
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
    const auto found = entries_.find(node);
    if (found != entries_.end()) found->second.Stale();
    const QModelIndex index = IndexOf(node);
    if (index.isValid()) emit dataChanged(index, index, {Qt::DisplayRole, Qt::DecorationRole});
  }
}

}  // namespace quillon
