#include "model/TreeSearch.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

#include "model/Background.h"
#include "model/LogFile.h"
#include "model/LogLines.h"
#include "model/VisibleWalk.h"

namespace quillon {

namespace {

// Latin-1 case folding: A-Z and the accented capitals (except the multiplication sign) to their
// small letters. The texts are single-byte Latin-1, as the logs are read.
struct FoldTable {
  unsigned char to[256];
  FoldTable() {
    for (int c = 0; c < 256; ++c) {
      const bool upper = (c >= 'A' && c <= 'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7);
      to[c] = static_cast<unsigned char>(upper ? c + 32 : c);
    }
  }
};
const FoldTable kFold;

unsigned char Fold(char c) { return kFold.to[static_cast<unsigned char>(c)]; }

// The most a node's log lines are read for one test: a negotiation of millions of packets is
// tested on its first part (its packets are tested one by one anyway).
constexpr std::size_t kMaxLinesTested = std::size_t{16} << 20;

}  // namespace

bool ContainsText(std::string_view text, std::string_view wanted, bool matchCase) {
  if (matchCase) return text.find(wanted) != std::string_view::npos;
  if (wanted.empty()) return true;
  if (wanted.size() > text.size()) return false;
  const unsigned char first = Fold(wanted[0]);
  const std::size_t last = text.size() - wanted.size();
  for (std::size_t i = 0; i <= last; ++i) {
    if (Fold(text[i]) != first) continue;
    std::size_t k = 1;
    while (k < wanted.size() && Fold(text[i + k]) == Fold(wanted[k])) ++k;
    if (k == wanted.size()) return true;
  }
  return false;
}

NodeTester::NodeTester(std::string_view text, const SearchOptions& options) : text_(text), options_(&options) {}
NodeTester::~NodeTester() = default;
NodeTester::NodeTester(NodeTester&&) noexcept = default;

bool NodeTester::Matches(const LogNode& node) {
  scratch_.clear();
  node.AppendCaption(scratch_);
  if (ContainsText(scratch_, text_, options_->matchCase)) return true;
  if (!options_->keysOnly) {
    scratch_.clear();
    node.AppendDetailText(scratch_);
    if (ContainsText(scratch_, text_, options_->matchCase)) return true;
  }
  if (!options_->logLines || options_->logPath.empty()) return false;
  const std::vector<LogSpan> spans = LogSpansOf(node);
  if (spans.empty()) return false;
  // Each tester reads through a file of its own: two threads test at once.
  if (!lines_) lines_ = std::make_unique<LogLineIndex>(options_->logPath);
  return ContainsText(lines_->Text(spans, kMaxLinesTested), text_, options_->matchCase);
}

bool NodeMatches(const LogNode& node, std::string_view text, bool keysOnly) {
  std::string scratch;
  return NodeMatches(node, text, keysOnly, scratch);
}

bool NodeMatches(const LogNode& node, std::string_view text, bool keysOnly, std::string& scratch) {
  // Built for this test only: the next test writes over them.
  scratch.clear();
  node.AppendCaption(scratch);
  if (scratch.find(text) != std::string::npos) return true;
  if (keysOnly) return false;
  scratch.clear();
  node.AppendDetailText(scratch);
  return scratch.find(text) != std::string::npos;
}

namespace {

// Building a detail text costs far more than stepping to the next node, and a search over a
// large log builds hundreds of thousands of them; the walk itself waits mostly for each node to
// come from memory. So Find, Find Next and Find Previous let the walk on the searching thread
// only line up the upper levels of the tree, in walk order, and hand each node below them to
// the testers together with its shown subtree: two threads take these a chunk at a time, walk
// the subtrees and test every node in them while it is at hand.
// The tests only read the tree: captions and detail texts are built from the nodes' own fields
// and fill no cache (the tree's one cache, an exchange's start time, is asked for only when
// exchanges are placed in time order). The second thread is joined before the search returns.

// A batch is cut into chunks of about this many nodes, which the two threads take in order.
constexpr std::size_t kChunk = 32;
// Below this many nodes a second thread costs more than it saves.
constexpr std::size_t kParallelFrom = 512;
// The walk hands a node over with its subtree from this shown depth on (the log root's children,
// the peers, are at depth 1 and lined up one by one, as a peer may hold most of a log) and when
// the node has no more children than this (a tunnel row holding many negotiations is lined up
// by itself, its negotiations handed over).
constexpr int kSubtreesFromDepth = 2;
constexpr std::size_t kSubtreeChildren = 64;
// About how many shown nodes a child of a handed-over node brings: a packet holds its header and
// a handful of payloads. Only used to size batches and chunks.
constexpr std::size_t kNodesPerChild = 6;

// What a match changes: forward, the match becomes the current item and the walk ends; in
// previous mode it is remembered as the last one met so far.
void Matched(SearchState& state, const LogNode& node) {
  if (state.previousMode) {
    state.lastMatchBefore = &node;
  } else {
    state.currentItem = &node;
    state.found = true;
  }
  state.currentPath = node.Path();
}

// Each node is tested when the walk reaches it.
SearchOptions OptionsOf(const SearchState& state) {
  return {state.keysOnly, state.matchCase, state.logLines, state.logPath};
}

// A node lined up by the walk, alone or followed by its shown subtree in walk order.
struct Entry {
  const LogNode* node;
  bool withSubtree;
};

// The entries lined up by the walk, searched for the first match in test order: walk order, or
// from the end when the last match before a start point is wanted. Two threads may test it at
// once (TestChunks); the thread that lined it up then asks for the Result.
class Batch {
 public:
  // `chunkEnds`: the end of each chunk in `entries`, ascending, the last one entries.size().
  Batch(std::vector<Entry> entries, std::vector<std::size_t> chunkEnds, std::string_view text, SearchOptions options,
        bool last)
      : entries_(std::move(entries)), chunkEnds_(std::move(chunkEnds)), text_(text), options_(std::move(options)),
        last_(last),
        chunks_(chunkEnds_.size()), matchIn_(std::make_unique<const LogNode*[]>(chunks_)),
        tested_(std::make_unique<std::atomic<bool>[]>(chunks_)), firstChunk_(chunks_) {
    for (std::size_t chunk = 0; chunk < chunks_; ++chunk) tested_[chunk].store(false, std::memory_order_relaxed);
  }

  // Takes the next chunk and tests it, until every chunk is taken or an earlier one holds a
  // match. Chunks are taken in order, so every chunk before the first one with a match is taken.
  void TestChunks() {
    NodeTester scratch(text_, options_);
    for (std::size_t chunk = next_++; chunk < chunks_ && chunk < firstChunk_.load(); chunk = next_++) {
      const LogNode* match = TestChunk(chunk, scratch);
      matchIn_[chunk] = match;
      tested_[chunk].store(true, std::memory_order_release);
      if (match == nullptr) continue;
      std::size_t seen = firstChunk_.load();
      while (chunk < seen && !firstChunk_.compare_exchange_weak(seen, chunk)) {
      }
    }
  }

  // The batch's first match in test order, or none. The chunks are read in order; one that the
  // other thread took and has not finished (on a busy machine it may not be running) is tested
  // here again, so this never waits for the other thread.
  const LogNode* Result() const {
    NodeTester scratch(text_, options_);
    for (std::size_t chunk = 0; chunk < chunks_; ++chunk) {
      const LogNode* match =
          tested_[chunk].load(std::memory_order_acquire) ? matchIn_[chunk] : TestChunk(chunk, scratch);
      if (match != nullptr) return match;
    }
    return nullptr;
  }

 private:
  static bool Matches(const LogNode& node, NodeTester& tester) { return tester.Matches(node); }

  // The first match in walk order among the node and its shown subtree.
  const LogNode* FirstIn(const LogNode& node, NodeTester& scratch) const {
    if (Matches(node, scratch)) return &node;
    const LogNode* match = nullptr;
    ForEachVisibleChild(node, [&](const LogNode& child) {
      match = FirstIn(child, scratch);
      return match == nullptr;
    });
    return match;
  }
  // The last one.
  const LogNode* LastIn(const LogNode& node, NodeTester& scratch) const {
    const LogNode* match = Matches(node, scratch) ? &node : nullptr;
    ForEachVisibleChild(node, [&](const LogNode& child) {
      if (const LogNode* below = LastIn(child, scratch)) match = below;
      return true;
    });
    return match;
  }

  // The first match in test order of the chunk `position`-th in test order, or none.
  const LogNode* TestChunk(std::size_t position, NodeTester& scratch) const {
    const std::size_t chunk = last_ ? chunks_ - 1 - position : position;
    const std::size_t begin = chunk == 0 ? 0 : chunkEnds_[chunk - 1];
    const std::size_t end = chunkEnds_[chunk];
    // The chunk's few entries are asked for from memory at once, and each entry's child list
    // while the entry before it is tested.
    for (std::size_t i = begin; i < end; ++i) __builtin_prefetch(entries_[i].node);
    if (!last_) {
      for (std::size_t i = begin; i < end; ++i) {
        if (i + 1 < end) __builtin_prefetch(entries_[i + 1].node->Children().begin());
        const Entry& entry = entries_[i];
        const LogNode* match = entry.withSubtree ? FirstIn(*entry.node, scratch)
                                                  : (Matches(*entry.node, scratch) ? entry.node : nullptr);
        if (match != nullptr) return match;
      }
      return nullptr;
    }
    for (std::size_t i = end; i-- > begin;) {
      const Entry& entry = entries_[i];
      const LogNode* match = entry.withSubtree ? LastIn(*entry.node, scratch)
                                                : (Matches(*entry.node, scratch) ? entry.node : nullptr);
      if (match != nullptr) return match;
    }
    return nullptr;
  }

  const std::vector<Entry> entries_;
  const std::vector<std::size_t> chunkEnds_;
  const std::string_view text_;
  const SearchOptions options_;
  const bool last_;
  const std::size_t chunks_;
  // Per chunk in test order: its first match, once tested_ says it was tested.
  const std::unique_ptr<const LogNode*[]> matchIn_;
  const std::unique_ptr<std::atomic<bool>[]> tested_;
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
  void Offer(SearchState& state, const LogNode& node) { Add(state, {&node, false}, 1); }
  // The node and, after it, its shown subtree.
  void OfferSubtree(SearchState& state, const LogNode& node) {
    Add(state, {&node, true}, 1 + kNodesPerChild * node.ChildCount());
  }
  // Every node lined up is tested and counted.
  void Flush(SearchState& state) { Advance(state, true); }

 private:
  // Handing a batch over wakes the second thread: a long walk hands over few large batches.
  static constexpr std::size_t kLargestBatch = 8192;

  void Add(SearchState& state, Entry entry, std::size_t nodes) {
    pending_.push_back(entry);
    inChunk_ += nodes;
    if (inChunk_ >= kChunk) CloseChunk();
    pendingNodes_ += nodes;
    if (pendingNodes_ >= limit_) Advance(state, false);
  }
  void CloseChunk() {
    chunkEnds_.push_back(pending_.size());
    inChunk_ = 0;
  }

  void Advance(SearchState& state, bool all) {
    std::shared_ptr<Batch> batch;
    const std::size_t nodes = pendingNodes_;
    if (!pending_.empty()) {
      if (inChunk_ != 0) CloseChunk();
      batch = std::make_shared<Batch>(std::move(pending_), std::move(chunkEnds_), state.searchText, OptionsOf(state),
                                      state.previousMode);
      pending_ = {};
      chunkEnds_ = {};
      pendingNodes_ = 0;
      limit_ = std::min(limit_ * 2, kLargestBatch);
    }
    Finish(state, std::move(inFlight_));
    if (batch == nullptr || state.found) return;
    if (nodes >= kParallelFrom && second_.Offer(batch)) {
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
    if (const LogNode* match = batch->Result()) Matched(state, *match);
  }

  std::vector<Entry> pending_;
  std::vector<std::size_t> chunkEnds_;
  std::size_t inChunk_ = 0;       // nodes in the chunk being lined up
  std::size_t pendingNodes_ = 0;  // about how many nodes pending_ stands for
  std::size_t limit_ = 64;
  std::shared_ptr<Batch> inFlight_;  // with the second thread while the walk goes on
  SecondThread second_;
};

template <class Tests>
void VisitWith(SearchState& state, const LogNode& node, Tests& tests) {
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

// The walk of the shown tree in pre-order (each node, then its shown children and their
// subtrees), handing nodes of the lower levels over with their subtrees. Not while
// skipping (the start point may lie in a subtree), nor, in previous mode, a subtree holding the
// start point (`onTheWay`: the start point and its ancestors), where the walk must stop.
void LineUp(SearchState& state, const LogNode& start, int depth, TestInBatches& tests,
            const std::vector<const LogNode*>& onTheWay) {
  ForEachVisibleChild(start, [&](const LogNode& child) {
    if (state.found || state.stopped) return false;
    if (state.skipping) {
      if (state.currentPath.find(child.Path()) == std::string::npos) return true;
    } else if (depth >= kSubtreesFromDepth && child.ChildCount() <= kSubtreeChildren &&
               std::find(onTheWay.begin(), onTheWay.end(), &child) == onTheWay.end()) {
      tests.OfferSubtree(state, child);
      return true;
    }
    VisitWith(state, child, tests);
    LineUp(state, child, depth + 1, tests, onTheWay);
    return true;
  });
}

// The walk from the root with its nodes tested in batches; the nodes still lined up when the
// walk ends are tested last.
void WalkInBatches(SearchState& state, const LogNode& root) {
  std::vector<const LogNode*> onTheWay;
  if (state.previousMode)
    for (const LogNode* node = state.currentItem; node != nullptr && node != &root; node = node->Parent())
      onTheWay.push_back(node);
  TestInBatches tests;
  LineUp(state, root, 1, tests, onTheWay);
  if (!state.found && !state.stopped) tests.Flush(state);
}

}  // namespace

bool Find(SearchState& state, const LogNode& root, std::string text, bool keysOnly, const LogNode* selected) {
  SearchOptions options;
  options.keysOnly = keysOnly;
  return Find(state, root, std::move(text), options, selected);
}

bool Find(SearchState& state, const LogNode& root, std::string text, const SearchOptions& options,
          const LogNode* selected) {
  state.searchText = std::move(text);
  state.keysOnly = options.keysOnly;
  state.matchCase = options.matchCase;
  state.logLines = options.logLines;
  state.logPath = options.logPath;
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

bool FindNext(SearchState& state, const LogNode& root) {
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

FindPreviousResult FindPrevious(SearchState& state, const LogNode& root) {
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

void CollectShown(const LogNode& node, std::vector<const LogNode*>& out) {
  ForEachVisibleChild(node, [&](const LogNode& child) {
    out.push_back(&child);
    CollectShown(child, out);
    return true;
  });
}

bool ContainsShown(const LogNode& node, const LogNode* wanted) {
  return !ForEachVisibleChild(node, [wanted](const LogNode& child) {
    return &child != wanted && !ContainsShown(child, wanted);
  });
}

}  // namespace

std::vector<const LogNode*> AllMatches(const LogNode& root, std::string_view text, bool keysOnly) {
  SearchOptions options;
  options.keysOnly = keysOnly;
  return AllMatches(root, text, options);
}

std::vector<const LogNode*> AllMatches(const LogNode& root, std::string_view text, const SearchOptions& options) {
  std::vector<const LogNode*> shown;
  CollectShown(root, shown);
  // Every node is tested once, in chunks shared out between this thread and a second one: a
  // chunk's nodes lie together in memory, and each thread writes its own stretch of matches.
  std::vector<char> matches(shown.size(), 0);
  struct alignas(64) Lane {
    NodeTester tester;
  };
  Lane lanes[2] = {{NodeTester(text, options)}, {NodeTester(text, options)}};
  const std::size_t chunks = (shown.size() + kChunk - 1) / kChunk;
  const auto test = [&](std::size_t chunk, unsigned lane) {
    const std::size_t end = std::min(shown.size(), (chunk + 1) * kChunk);
    for (std::size_t i = chunk * kChunk; i < end; ++i) matches[i] = lanes[lane].tester.Matches(*shown[i]) ? 1 : 0;
  };
  if (HelperThreads* helpers = HelpersOf(root)) {
    SpreadOverTwoThreads(*helpers, chunks, kParallelFrom / kChunk, nullptr, test);
  } else {
    HelperThreads own(1);  // a tree outside a loaded log: a thread of its own, joined here
    SpreadOverTwoThreads(own, chunks, kParallelFrom / kChunk, nullptr, test);
  }
  std::vector<const LogNode*> out;
  for (std::size_t i = 0; i < shown.size(); ++i)
    if (matches[i] != 0) out.push_back(shown[i]);
  return out;
}

bool IsShownBelow(const LogNode& root, const LogNode* node) {
  return node != nullptr && (node == &root || ContainsShown(root, node));
}

}  // namespace quillon
