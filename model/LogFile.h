// The root of a loaded log: its children are the peers (IKEv1 or IKEv2), kept in ascending
// address order. The root knows no log format: each format's reader fills it, and the
// regrouping below asks the peers, tunnels and exchanges what their format answers
// (RegroupKeys, NewMergedPeer, NewTunnel, InsertExchange).
//
// Besides holding the peers the root regroups, after loading, the negotiations that the daemon
// logged under a small peer index (1..65278) instead of the peer's address: exchanges of an
// indexed peer and of an addressed peer that share an initiator cookie are recognised as one
// party and moved into a merged peer named "address  (index)".
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "model/Background.h"
#include "model/LogNode.h"

namespace quillon {

class NegotiationNode;
class TunnelNode;

class LogFile : public LogNode {
 public:
  // A root that has read no log is named "IKE Debugging Info"; each format's reader renames
  // it when it loads ("IKE debugging info", "IKEv2 debugging info").
  // `chunkSource` (null: the general heap) gives the chunks of the log's node arena; it must
  // outlive the root.
  explicit LogFile(std::pmr::memory_resource* chunkSource = nullptr);
  ~LogFile() override;

  // The arena the readers place this log's nodes in (each reading thread under an ArenaScope).
  NodeArena& Arena() { return *arena_; }
  const NodeArena& Arena() const { return *arena_; }
  // The log's helper threads, one per core but the one of the thread that loads the log (or
  // works on it), which takes its share of the work: they read the pieces of its load, share
  // the passes over its peers and give its arena back. Idle (or not started) otherwise.
  HelperThreads& Helpers() const { return helpers_; }

  NodeKind Kind() const override { return NodeKind::kLogRoot; }
  void AppendDetailText(std::string& out) const override;
  // Every peer with something to report: its name, then its statistics.
  std::string SummaryText(bool withTotals) const override;
  // Inserts a peer before the first peer with a greater address (unsigned), so equal addresses
  // keep their arrival order.
  void AddChild(std::unique_ptr<LogNode> peer) override;

  // Destroys every peer and the nodes kept aside below, and gives back the arena in one step.
  void Clear();
  // Called before nodes are destroyed or moved to another parent (Clear, Regroup), so that
  // whoever shows the tree while a followed log grows can let go of its nodes first; placing
  // packets only adds nodes and tells nobody. Empty: nobody is told.
  void SetBeforeRearranging(std::function<void()> hook) { beforeRearranging_ = std::move(hook); }

  // Nodes a narrowing took out of the tree (filtered peers, tunnels and negotiations). On a
  // large log destroying them node by node takes longer than the narrowing's walk, so the log
  // keeps them aside: removed nodes keep their memory until the log is cleared or destroyed,
  // and go with the rest of it (those of the arena let go with it), unless a caller takes them
  // to destroy them elsewhere.
  void KeepRemoved(std::vector<std::unique_ptr<LogNode>> nodes);
  std::vector<std::unique_ptr<LogNode>> TakeRemoved() { return std::move(removed_); }
  std::size_t RemovedCount() const { return removed_.size(); }

  // The three passes of the regrouping (model/Regroup.cpp): pair exchanges by initiator
  // cookie, move the paired ones into merged peers, remove what became empty.
  void Regroup();
  // Pairs `exchange` (of the peer at position `start`) with the exchanges of the same cookie
  // in the peers from `start` on: the indexed peer gives the index, the addressed peer (or a
  // packet-debug record's peer address) the address.
  void PairByCookie(std::size_t start, const LogNode& exchange);
  // Removes and destroys the first peer with the same address and name as `peer`.
  void RemovePeer(const LogNode& peer);
  // Removes every tunnel without negotiations, then every peer without tunnels.
  void RemoveEmpty();

  bool IsWrongFormat() const { return wrongFormat_; }
  void SetWrongFormat(bool wrong) { wrongFormat_ = wrong; }
  bool IsIKEv2() const { return isIKEv2_; }
  void SetIKEv2(bool v2) { isIKEv2_ = v2; }

 private:
  class PairingIndex;
  class PeerDirectory;
  void PairByCookie(std::size_t start, const NegotiationNode& exchange, PairingIndex* index);
  // Moves an exchange taken out of `tunnel` to its merged peer; gives it back when it stays.
  std::unique_ptr<LogNode> Relocate(std::unique_ptr<NegotiationNode> exchange, const TunnelNode& tunnel,
                                     PeerDirectory& directory);
  // Puts the peers in ascending address order, equal addresses in their present order.
  void SortPeers();
  // Lets go of the removed nodes placed in the arena and destroys the others.
  void LetGoOfRemoved();

  // Before the arena: the helpers give the arena back when the log goes.
  mutable HelperThreads helpers_;
  std::unique_ptr<NodeArena> arena_;
  std::vector<std::unique_ptr<LogNode>> removed_;
  std::function<void()> beforeRearranging_;
  bool wrongFormat_ = false;
  bool isIKEv2_ = false;
};

// The helper threads of the log `node` belongs to; null when it hangs in no log.
HelperThreads* HelpersOf(const LogNode& node);

}  // namespace quillon
