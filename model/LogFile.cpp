#include "model/LogFile.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <numeric>
#include <set>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "model/Background.h"
#include "model/IPv4.h"
#include "model/NodeRoles.h"

namespace quillon {

LogFile::LogFile(std::pmr::memory_resource* chunkSource)
    : LogNode("IKE Debugging Info", nullptr),
      // One thread per core in all: a helper sharing a core with the loading thread would make
      // both wait for the scheduler's tick while the other core idled; the loading thread reads
      // pieces itself while it waits.
      helpers_(std::max(1u, std::thread::hardware_concurrency()) - 1),
      arena_(std::make_unique<NodeArena>(chunkSource, &helpers_)) {}

// The peers and everything below them live in the arena: they are let go rather than destroyed
// one by one, and the arena's chunks go back right after, so closing a log of millions of nodes
// costs as many steps as it has chunks.
HelperThreads* HelpersOf(const LogNode& node) {
  const LogNode* top = &node;
  while (top->Parent() != nullptr) top = top->Parent();
  // Only a log root answers kLogRoot.
  return top->IsLogRoot() ? &static_cast<const LogFile*>(top)->Helpers() : nullptr;
}

LogFile::~LogFile() {
  // Work of a load that stopped early (cancelled, or failed) may still be placing nodes.
  helpers_.WaitIdle();
  AbandonArenaChildren();
  LetGoOfRemoved();
}

void LogFile::Clear() {
  if (beforeRearranging_) beforeRearranging_();
  helpers_.WaitIdle();
  AbandonArenaChildren();
  LetGoOfRemoved();
  arena_ = std::make_unique<NodeArena>(arena_->Upstream(), &helpers_);
}

void LogFile::LetGoOfRemoved() {
  // A removed node of the arena goes with it like the tree (what it holds of the heap is
  // destroyed); one of the heap is destroyed.
  for (std::unique_ptr<LogNode>& node : removed_) {
    if (!node || !node->InArena()) continue;
    node->AbandonArenaChildren();
    (void)node.release();
  }
  removed_.clear();
}

void LogFile::KeepRemoved(std::vector<std::unique_ptr<LogNode>> nodes) {
  if (removed_.empty()) {
    removed_ = std::move(nodes);
    return;
  }
  removed_.reserve(removed_.size() + nodes.size());
  for (auto& node : nodes) removed_.push_back(std::move(node));
}

void LogFile::AppendDetailText(std::string& out) const {
  out += "LogFile\r\n";
  const std::string summary = SummaryText(false);
  if (!summary.empty()) out += "\r\nSummary:\r\n\r\n" + summary;
}

std::string LogFile::SummaryText(bool /*withTotals*/) const {
  // Each peer's failures in one block, without the per-SA totals: the log's summary is the
  // list of peers to look at, the peer's own text gives the detail.
  std::string text;
  for (const auto& peer : Children()) {
    const std::string reasons = peer->CollectFailureReasons();
    if (reasons.empty()) continue;
    text += peer->Name();
    text += "\r\n";
    text += reasons;
    text += "\r\n";
  }
  return text;
}

void LogFile::AddChild(std::unique_ptr<LogNode> peer) {
  if (!peer) return;
  // The peers are in ascending order (this is the only way in), so the first peer with a
  // greater address is found by halving: a log may hold tens of thousands of peers.
  const std::uint32_t address = PeerAddressOf(*peer);
  std::size_t low = 0, high = ChildCount();
  while (low < high) {
    const std::size_t middle = low + (high - low) / 2;
    if (PeerAddressOf(*Child(middle)) <= address) low = middle + 1;
    else high = middle;
  }
  InsertChild(low, std::move(peer));
}
void LogFile::RemovePeer(const LogNode& peer) {
  // Compare before removing: `peer` may be the node that is destroyed.
  const std::uint32_t address = PeerAddressOf(peer);
  const std::string name(peer.Name());
  for (std::size_t i = 0; i < ChildCount(); ++i) {
    if (PeerAddressOf(*Child(i)) == address && Child(i)->Name() == name) {
      RemoveChild(i);
      return;
    }
  }
}

void LogFile::RemoveEmpty() {
  // One pass that keeps what is left, rather than erasing peers one by one.
  std::vector<std::unique_ptr<LogNode>> peers;
  peers.reserve(ChildCount());
  while (ChildCount() != 0) peers.push_back(TakeChild(ChildCount() - 1));
  for (auto it = peers.rbegin(); it != peers.rend(); ++it) {
    LogNode& peer = **it;
    for (std::size_t t = 0; t < peer.ChildCount();) {
      if (peer.Child(t)->ChildCount() == 0) peer.RemoveChild(t);
      else ++t;
    }
    if (peer.ChildCount() != 0) AppendChild(std::move(*it));
  }
}

}  // namespace quillon
