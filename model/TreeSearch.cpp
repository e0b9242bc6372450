#include "model/TreeSearch.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <future>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

#include "model/Background.h"
#include "model/VisibleWalk.h"

namespace quillon {

bool NodeMatches(const QLFolder& node, std::string_view text, bool keysOnly) {
  if (node.Caption().find(text) != std::string::npos) return true;
  // Built for this test only and dropped with it.
  return !keysOnly && node.DetailText().find(text) != std::string::npos;
}

namespace {

// Building a detail text costs far more than stepping to the next node, and a search over a
// large log builds hundreds of thousands of them. So Find, Find Next and Find Previous let the
// walk only line the nodes up, in walk order, and test them a batch at a time on two threads.
// The tests only read the tree: captions and detail texts are built from the nodes' own fields
// and fill no cache (the tree's one cache, an exchange's start time, is asked for only when
// exchanges are placed in time order). The second thread is joined before the search returns.

// A batch is cut into chunks that the two threads take in ascending order.
constexpr std::size_t kChunk = 32;
// Below this many nodes a second thread costs more than it saves.
constexpr std::size_t kParallelFrom = 512;
constexpr std::size_t kNoMatch = static_cast<std::size_t>(-1);

// What a match changes: forward, the match becomes the current item and the walk ends; in
// previous mode it is remembered as the last one met so far.
void Matched(SearchState& state, const QLFolder& node) {
  if (state.previousMode) {
    state.lastMatchBefore = &node;
  } else {
    state.currentItem = &node;
    state.found = true;
  }
  state.currentPath = node.Path();
}

// Each node is tested when the walk reaches it.
struct TestAtOnce {
  void Offer(SearchState& state, const QLFolder& node) {
    if (NodeMatches(node, state.searchText, state.keysOnly)) Matched(state, node);
  }
  void Flush(SearchState&) {}
};

// Nodes lined up by the walk, searched for the first match in test order: walk order, or from
// the end when the last match before a start point is wanted. Two threads may test it at once
// (TestChunks); the thread that lined it up then asks for the Result.
class Batch {
 public:
  Batch(std::vector<const QLFolder*> nodes, std::string_view text, bool keysOnly, bool last)
      : nodes_(std::move(nodes)), text_(text), keysOnly_(keysOnly), last_(last),
        chunks_((nodes_.size() + kChunk - 1) / kChunk),
        matchIn_(std::make_unique<std::atomic<std::size_t>[]>(chunks_)), firstChunk_(chunks_) {
    for (std::size_t chunk = 0; chunk < chunks_; ++chunk) matchIn_[chunk].store(kPending, std::memory_order_relaxed);
  }

  std::size_t Size() const { return nodes_.size(); }
  const QLFolder& Node(std::size_t index) const { return *nodes_[index]; }

  // Takes the next chunk and tests it, until every chunk is taken or an earlier one holds a
  // match. Chunks are taken in order, so every chunk before the first one with a match is taken.
  void TestChunks() {
    for (std::size_t chunk = next_++; chunk < chunks_ && chunk < firstChunk_.load(); chunk = next_++) {
      const std::size_t match = TestChunk(chunk);
      matchIn_[chunk].store(match, std::memory_order_release);
      if (match == kNoMatch) continue;
      std::size_t seen = firstChunk_.load();
      while (chunk < seen && !firstChunk_.compare_exchange_weak(seen, chunk)) {
      }
    }
  }

  // The index in the batch of its first match in test order, or kNoMatch. The chunks are read in
  // order; one that the other thread took and has not finished (on a busy machine it may not be
  // running) is tested here again, so this never waits for the other thread.
  std::size_t Result() const {
    for (std::size_t chunk = 0; chunk < chunks_; ++chunk) {
      std::size_t match = matchIn_[chunk].load(std::memory_order_acquire);
      if (match == kPending) match = TestChunk(chunk);
      if (match != kNoMatch) return InBatch(match);
    }
    return kNoMatch;
  }

 private:
  static constexpr std::size_t kPending = kNoMatch - 1;

  std::size_t InBatch(std::size_t position) const { return last_ ? nodes_.size() - 1 - position : position; }
  // The position in test order of the chunk's first match, or kNoMatch.
  std::size_t TestChunk(std::size_t chunk) const {
    const std::size_t end = std::min(nodes_.size(), (chunk + 1) * kChunk);
    for (std::size_t position = chunk * kChunk; position < end; ++position)
      if (NodeMatches(*nodes_[InBatch(position)], text_, keysOnly_)) return position;
    return kNoMatch;
  }

  const std::vector<const QLFolder*> nodes_;
  const std::string_view text_;
  const bool keysOnly_;
  const bool last_;
  const std::size_t chunks_;
  // Per chunk: kPending until tested, then the position of its first match or kNoMatch.
  const std::unique_ptr<std::atomic<std::size_t>[]> matchIn_;
  std::atomic<std::size_t> next_{0};
  std::atomic<std::size_t> firstChunk_;  // the first chunk known to hold a match
};

// The second thread of one search: it tests the chunks of each batch offered to it until the
// search ends. Started with the first batch worth it, joined when the search ends, so no node
// is tested after the search returns.
class SecondThread {
 public:
  SecondThread() = default;
  SecondThread(const SecondThread&) = delete;
  SecondThread& operator=(const SecondThread&) = delete;
  ~SecondThread() {
    if (!thread_.joinable()) return;
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
    }
    wake_.notify_one();
    thread_.join();
  }

  // Hands the batch over; false when no thread can be started (the batch is then tested on the
  // searching thread alone).
  bool Offer(const std::shared_ptr<Batch>& batch) {
    if (unavailable_) return false;
    if (!thread_.joinable()) {
      try {
        thread_ = std::thread([this] { Run(); });
      } catch (const std::system_error&) {
        unavailable_ = true;
        return false;
      }
    }
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      offered_ = batch;
    }
    wake_.notify_one();
    return true;
  }
  // The searching thread is done with the batch: if the second thread has not taken it yet, it
  // no longer will. Having taken it, it holds a share of it until it stops testing.
  void Withdraw() {
    const std::lock_guard<std::mutex> lock(mutex_);
    offered_.reset();
  }

 private:
  void Run() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      wake_.wait(lock, [this] { return stop_ || offered_ != nullptr; });
      if (stop_) return;
      const std::shared_ptr<Batch> batch = std::move(offered_);
      offered_.reset();
      lock.unlock();
      // A chunk left untested here (no memory for a text) is tested by the searching thread.
      try {
        batch->TestChunks();
      } catch (...) {
      }
      lock.lock();
    }
  }

  std::mutex mutex_;
  std::condition_variable wake_;
  std::shared_ptr<Batch> offered_;
  bool stop_ = false;
  bool unavailable_ = false;
  std::thread thread_;
};

// Only the first match of a batch (forward) or its last (previous mode) counts: the node the
// one-at-a-time walk would have stopped at or remembered last. Batches start small, so that a
// match near the start point costs no more than testing node by node, and grow as the walk goes.
// A full batch is handed to the second thread, and the walk lines up the next one meanwhile;
// only then does this thread join in to finish the batch before and read its result. The walk
// may so go one batch past the match, but nothing it lines up counts before the batches ahead
// of it are read.
class TestInBatches {
 public:
  void Offer(SearchState& state, const QLFolder& node) {
    pending_.push_back(&node);
    if (pending_.size() >= limit_) Advance(state, false);
  }
  // Every node lined up is tested and counted.
  void Flush(SearchState& state) { Advance(state, true); }

 private:
  static constexpr std::size_t kLargestBatch = 2048;

  void Advance(SearchState& state, bool all) {
    std::shared_ptr<Batch> batch;
    if (!pending_.empty()) {
      batch = std::make_shared<Batch>(std::move(pending_), state.searchText, state.keysOnly, state.previousMode);
      pending_ = {};
      limit_ = std::min(limit_ * 2, kLargestBatch);
    }
    Finish(state, std::move(inFlight_));
    if (batch == nullptr || state.found) return;
    if (batch->Size() >= kParallelFrom && second_.Offer(batch)) {
      if (!all) {
        inFlight_ = std::move(batch);
        return;
      }
    }
    Finish(state, std::move(batch));
  }

  // Tests what the second thread has not, and counts the batch's match.
  void Finish(SearchState& state, std::shared_ptr<Batch> batch) {
    if (batch == nullptr) return;
    batch->TestChunks();
    second_.Withdraw();
    const std::size_t at = batch->Result();
    if (at != kNoMatch) Matched(state, batch->Node(at));
  }

  std::vector<const QLFolder*> pending_;
  std::size_t limit_ = 64;
  std::shared_ptr<Batch> inFlight_;  // with the second thread while the walk goes on
  SecondThread second_;
};

template <class Tests>
void VisitWith(SearchState& state, const QLFolder& node, Tests& tests) {
  if (state.skipping) {
    // The start point itself is not tested again.
    if (&node == state.currentItem) state.skipping = false;
    return;
  }
  if (state.previousMode && &node == state.currentItem) {
    // Every node before the start point is tested before the backward search ends.
    tests.Flush(state);
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
  tests.Offer(state, node);
}

template <class Tests>
void WalkWith(SearchState& state, const QLFolder& start, Tests& tests) {
  ForEachVisibleChild(start, [&](const QLFolder& child) {
    if (state.found || state.stopped) return false;
    if (state.skipping && state.currentPath.find(child.Path()) == std::string::npos) return true;
    VisitWith(state, child, tests);
    WalkWith(state, child, tests);
    return true;
  });
}

// The walk from the root with its nodes tested in batches; the nodes still lined up when the
// walk ends are tested last.
void WalkInBatches(SearchState& state, const QLFolder& root) {
  TestInBatches tests;
  WalkWith(state, root, tests);
  if (!state.found && !state.stopped) tests.Flush(state);
}

}  // namespace

void Walk(SearchState& state, const QLFolder& start) {
  TestAtOnce tests;
  WalkWith(state, start, tests);
}

void Visit(SearchState& state, const QLFolder& node) {
  TestAtOnce tests;
  VisitWith(state, node, tests);
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
  WalkInBatches(state, root);
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
  WalkInBatches(state, root);
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
  WalkInBatches(state, root);
  state.stopped = false;
  state.previousMode = false;
  return state.found ? FindPreviousResult::kFound : FindPreviousResult::kNotFound;
}

namespace {

void CollectShown(const QLFolder& node, std::vector<const QLFolder*>& out) {
  ForEachVisibleChild(node, [&](const QLFolder& child) {
    out.push_back(&child);
    CollectShown(child, out);
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
  std::vector<const QLFolder*> shown;
  CollectShown(root, shown);
  // Every node is tested once, in chunks shared out between this thread and a second one.
  std::vector<char> matches(shown.size(), 0);
  const std::size_t chunks = (shown.size() + kChunk - 1) / kChunk;
  std::atomic<std::size_t> next{0};
  const auto work = [&] {
    for (std::size_t chunk = next++; chunk < chunks; chunk = next++) {
      const std::size_t end = std::min(shown.size(), (chunk + 1) * kChunk);
      for (std::size_t i = chunk * kChunk; i < end; ++i) matches[i] = NodeMatches(*shown[i], text, keysOnly) ? 1 : 0;
    }
    return true;
  };
  if (shown.size() < kParallelFrom) {
    work();
  } else {
    std::future<bool> second = RunInBackground(work);
    work();
    second.get();
  }
  std::vector<const QLFolder*> out;
  for (std::size_t i = 0; i < shown.size(); ++i)
    if (matches[i] != 0) out.push_back(shown[i]);
  return out;
}

bool IsShownBelow(const QLFolder& root, const QLFolder* node) {
  return node != nullptr && (node == &root || ContainsShown(root, node));
}

}  // namespace quillon
