// The item model over a loaded log tree. The log root is the single top row; below it stand
// the visible children of each node (model/TreeRules.h: address-less tunnels give way to their
// children, data attributes are not shown).
//
// Rows are made lazily: a node's visible children are computed the first time the view asks
// for them and kept per node, so opening a log of a million nodes costs nothing beyond the
// load, and expanding a node with 100,000 children costs one pass over them.
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
  // The nodes shown below `node`, in order.
  const std::vector<LogNode*>& VisibleChildrenOf(const LogNode* node) const;

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
  // How many rows the model holds (the root and the rows made below nodes).
  std::size_t CachedRows() const;
  // How many nodes have their rows below made (each holds a list of them).
  std::size_t ListedNodes() const { return entries_.size(); }

  QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
  QModelIndex parent(const QModelIndex& child) const override;
  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  bool hasChildren(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;

 private:
  static constexpr int kIconUnknown = -1;

  // One per node whose rows below are made (the root once it is shown, a node once it is
  // expanded or asked about), none per row: "expand all" on a large log makes a million rows
  // below a few hundred thousand such nodes, and each row costs only its place in the lists.
  struct Entry {
    int row = 0;  // the node's own position among its shown parent's rows
    bool childrenKnown = false;
    std::vector<LogNode*> children;
    // The state icon of each row below, once asked: a peer's looks at the captions of all its
    // negotiations, and the view asks for it whenever it measures or paints the row. Captions
    // are not kept: the view asks for the few rows it paints or measures.
    std::vector<std::int16_t> icons;
    void Stale() { icons.assign(children.size(), kIconUnknown); }
  };

  // The node the tree shows `node` below: its nearest ancestor that is a level of the tree (or
  // the root); null for the root and for nodes outside the shown tree.
  const LogNode* ShownParent(const LogNode* node) const;
  // The entry of a node whose rows are made, made now if need be; `row` is the node's own
  // row when the caller knows it (negative: looked up).
  Entry& EntryOf(const LogNode* node, int row = -1) const;
  // Lets go of the rows made below `node` and below them; how many.
  std::size_t Forget(const LogNode* node);
  // Brings the rows below `node` (whose rows are made) up to date with its visible children;
  // with `deep`, also the rows below each of its children whose rows are made.
  void Refresh(const LogNode* node, bool deep);

  LogFile* root_ = nullptr;
  mutable std::unordered_map<const LogNode*, Entry> entries_;
  StateIconSet icons_;
};

}  // namespace quillon
