// The item model over a loaded log tree. The log root is the single top row; below it stand
// the visible children of each node (model/TreeRules.h: address-less tunnels give way to their
// children, data attributes are not shown).
//
// Rows are made lazily: a node's visible children are looked at the first time the view asks
// for them, so opening a log of a million nodes costs nothing beyond the load, and expanding a
// node with 100,000 children costs one pass over them. What the model keeps is bounded by the
// levels a log grows at, not by the rows: "expand all" on a large log shows a million rows below
// a few hundred thousand nodes, and the view already keeps an item per row and an index per
// expanded node.
#pragma once

#include <cstdint>
#include <functional>
#include <unordered_map>
#include <vector>

#include <QAbstractItemModel>
#include <QString>

#include "app/StateIcons.h"
#include "model/LogFile.h"

namespace quillon {

class LogTreeModel : public QAbstractItemModel {
  Q_OBJECT

 public:
  explicit LogTreeModel(QObject* parent = nullptr);

  // Shows another tree (nullptr: nothing). The model does not own it.
  void SetLog(LogFile* root);
  LogFile* Log() const { return root_; }

  LogNode* NodeAt(const QModelIndex& index) const;
  // The index of a node that is shown; invalid for nodes the tree does not show.
  QModelIndex IndexOf(const LogNode* node) const;
  // The nodes shown below `node`, in order (the rows the views know of where they are kept).
  std::vector<LogNode*> VisibleChildrenOf(const LogNode* node) const;

  // Removes a shown node from the tree: `destroy` takes it out of the log tree (and destroys it)
  // between the model's begin and end of removal, so that views never see a dangling row.
  void RemoveNode(LogNode* node, const std::function<void(LogNode*)>& destroy);
  // Runs `change`, which may remove any nodes below the root, and shows the tree it leaves;
  // the rows are made anew (nothing stays expanded or selected).
  void Rebuild(const std::function<void()>& change);
  // Rebuild in two halves, for a change that only learns midway that it destroys nodes (a
  // followed log read again): BeginReset before the first node goes, EndReset when done.
  void BeginReset();
  void EndReset();
  // Nodes were added below these peers (and new peers below the root), none removed or moved:
  // the new rows are inserted where they stand and the rows that stayed are told to repaint.
  // Rows of other peers are left alone, so what is expanded or selected there stays as it is.
  void NodesAdded(const std::vector<LogNode*>& peers);
  // The captions of these nodes changed (renamed in place).
  void NodesChanged(const std::vector<LogNode*>& nodes);
  // A row was collapsed: the rows made below it are let go of (made again when it is expanded),
  // except those an index is kept for and the rows on their way. Returns how many rows were
  // let go of.
  std::size_t ReleaseBelow(const QModelIndex& collapsed);
  // How many rows the model holds in lists (the root and the rows kept below nodes).
  std::size_t CachedRows() const;
  // How many nodes the model keeps anything for (a list of rows or the node's own row).
  std::size_t ListedNodes() const { return entries_.size(); }
  // How many indexes views hold on rows (selection, current row, each row a tree keeps
  // expanded): each costs the view and the model an entry.
  std::size_t HeldIndexes() const { return static_cast<std::size_t>(persistentIndexList().size()); }

  QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
  QModelIndex parent(const QModelIndex& child) const override;
  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  bool hasChildren(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;

 private:
  static constexpr int kIconUnknown = -1;

  // What the model keeps for a node whose rows are made, where the node itself cannot answer:
  //  - a list of the rows below it, for the levels a growing log adds rows to (the root, peers,
  //    tunnels, negotiations: a followed log's new rows are told from the old ones by it) and
  //    for nodes whose shown rows are not their own children (address-less tunnels give way to
  //    their children, data attributes are not shown);
  //  - only its own row, for a node whose rows are its children but whose place among many
  //    siblings would take a search, or whose children are too many to check on every call.
  // Below a negotiation a node's rows are its own children (a packet is placed whole and never
  // changes), so most expanded nodes of a large log need nothing here.
  struct Entry {
    int row = 0;        // the node's own position among its shown parent's rows
    bool kept = false;  // `children` lists the rows below; else they are the node's children
    std::vector<LogNode*> children;
  };
  // The rows below a node: its kept list, or its own children.
  struct Rows {
    const std::vector<LogNode*>* list = nullptr;
    const LogNode* node = nullptr;
    std::size_t size() const { return list != nullptr ? list->size() : node->ChildCount(); }
    LogNode* at(std::size_t row) const { return list != nullptr ? (*list)[row] : node->Child(row); }
    // The position of `child` among them, or size() when it is not one.
    std::size_t Find(const LogNode* child) const;
  };

  // The node the tree shows `node` below: its nearest ancestor that is a level of the tree (or
  // the root); null for the root and for nodes outside the shown tree.
  const LogNode* ShownParent(const LogNode* node) const;
  // The rows below a node, made now if need be; `row` is the node's own row when the caller
  // knows it (negative: looked up).
  Rows RowsOf(const LogNode* node, int row = -1) const;
  // Makes the kept list of a node.
  Entry& MakeList(const LogNode* node, int row) const;
  // The row of a node (found among its shown parent's rows when not kept).
  int RowOf(const LogNode* node) const;
  // Lets go of what is kept for `node` and below it; how many listed rows.
  std::size_t Forget(const LogNode* node);
  // Brings the rows below `node` (whose list is kept) up to date with its visible children;
  // with `deep`, also the kept rows below each of its children.
  void Refresh(const LogNode* node, bool deep);
  // The rows after `from` below `parent` moved: the rows kept for them follow.
  void Renumber(const Rows& rows, std::size_t from);

  LogFile* root_ = nullptr;
  mutable std::unordered_map<const LogNode*, Entry> entries_;
  // The state icon of each peer (the root's rows), once asked: a peer's looks at all its
  // negotiations, and the view asks for it whenever it paints the row. Any other node's icon is
  // its kind and state, answered at once.
  mutable std::vector<std::int16_t> peerIcons_;
  StateIconSet icons_;
};

}  // namespace quillon
