// Where the nodes of one loaded log live. A big log is millions of small nodes with their texts
// and byte lists; taking each from the general heap costs a heap block per object on the way in
// and a free per object on the way out, and tearing such a tree down node by node took about as
// long as reading it. Instead each log owns an arena: nodes, their child lists, texts and byte
// lists are placed one after another in large chunks, and closing or replacing the log gives the
// chunks back in one step, without running the nodes' destructors.
//
// The arena is split into lanes, one per thread that builds nodes at the same time (the loading
// thread and each worker reading a piece of the log), so that no two threads share a bump
// pointer. A lane is taken while a thread builds and handed back afterwards; what it placed stays
// valid until the whole arena goes.
//
// The chunks come from an upstream memory resource: the general heap by default, or what the
// executable injects (chunks mapped and filled in at once; see platform/ChunkSource.h).
//
// Which lane a thread's new nodes go to is set by an ArenaScope on that thread. Outside any scope
// nodes come from the general heap as before and are destroyed one by one.
#pragma once

#include <cstddef>
#include <memory>
#include <memory_resource>
#include <mutex>
#include <new>
#include <string_view>
#include <vector>

#include "model/AddressSanitizer.h"

namespace quillon {

class NodeArena;
class HelperThreads;

// An upstream for arenas that gives many chunks back faster together than one at a time (see
// platform/ChunkSource.h). An arena that goes hands all its chunks over in one call.
class ChunkSource : public std::pmr::memory_resource {
 public:
  struct Chunk {
    void* begin;
    std::size_t size;
  };
  // Gives every chunk back, by default one after another; `helpers` (may be null) may share
  // the work.
  virtual void ReleaseChunks(const std::vector<Chunk>& chunks, std::size_t alignment, HelperThreads* /*helpers*/) {
    for (const Chunk& chunk : chunks) deallocate(chunk.begin, chunk.size, alignment);
  }
};

// One lane: a bump allocator over chunks taken from the upstream resource. Used by one thread at
// a time: the thread whose ArenaScope took it. Block sizes are kept in steps of eight bytes.
// What the lane's own thread gives back of its current chunk is used again: the last block
// handed out by moving the bump pointer back (a temporary), a small block through a free list
// of its size (the room a text or list reserved while it was built and left when it was cut to
// size or grew; the next node built reuses it). Anything else stays until the arena goes.
// Under the address sanitizer given-back ranges and the unused rest of each chunk are
// poisoned, so that a read of a destroyed node or past an object still reports.
class ArenaLane final : public std::pmr::memory_resource {
 public:
  ArenaLane(std::pmr::memory_resource* upstream, const NodeArena* arena);
  ~ArenaLane() override;
  ArenaLane(const ArenaLane&) = delete;
  ArenaLane& operator=(const ArenaLane&) = delete;

  // Grows the block [p, p + oldBytes) to newBytes where it stands, when it is the last block
  // this lane handed out and its chunk has the room; false otherwise (nothing changes).
  bool TryExtend(void* p, std::size_t oldBytes, std::size_t newBytes);

  // A copy of `text` kept in this lane until the arena goes, the same copy for every request of
  // the same text while it stays in the lane's small table of recent texts: the fixed names
  // that a large log repeats for every payload (and a gateway's vendor fields) are stored once
  // per lane instead of once per node. Empty (a null view) for an empty text or one too long
  // to share.
  std::string_view Shared(std::string_view text);

  std::size_t ChunkCount() const { return chunks_.size(); }
  // Hands the lane's chunks over to `out`, for the arena to give back together; the lane
  // places nothing afterwards.
  void TakeChunks(std::vector<ChunkSource::Chunk>& out);
  std::size_t ReservedBytes() const { return reserved_; }
  // Bytes of the chunks up to the bump pointer (what was handed out, the padding between
  // blocks and what was given back included): what the lane has touched.
  std::size_t UsedBytes() const { return used_ + static_cast<std::size_t>(next_ - chunkBegin_); }
  // Given-back bytes the lane cannot use again (of an older chunk, too large to keep, or waiting
  // on a free list), for the benchmarks.
  std::size_t IdleBytes() const { return left_ + listed_ - reused_; }

 private:
  struct Chunk {
    std::byte* begin;
    std::size_t size;
  };
  static constexpr std::size_t kGranule = 8;
  // Under the address sanitizer every block is followed by poisoned bytes, so that a write past
  // a block's end is reported rather than landing in the next block.
#ifdef QUILLON_ASAN
  static constexpr std::size_t kRedzone = 16;
#else
  static constexpr std::size_t kRedzone = 0;
#endif
  static constexpr std::size_t kLargestReused = 1024;
  static constexpr std::size_t kSharedSlots = 1024;
  static constexpr std::size_t kLongestShared = 256;
  static constexpr std::size_t Rounded(std::size_t bytes) {
    return bytes == 0 ? kGranule : (bytes + kGranule - 1) & ~(kGranule - 1);
  }

  void* do_allocate(std::size_t bytes, std::size_t alignment) override;
  void do_deallocate(void* p, std::size_t bytes, std::size_t alignment) override;
  bool do_is_equal(const std::pmr::memory_resource& other) const noexcept override { return this == &other; }
  void* Place(std::size_t bytes, std::size_t alignment);
  void* NewChunk(std::size_t bytes, std::size_t alignment);

  std::pmr::memory_resource* upstream_;
  const NodeArena* arena_;
  std::vector<Chunk> chunks_;
  std::byte* chunkBegin_ = nullptr;
  std::byte* next_ = nullptr;
  std::byte* end_ = nullptr;
  std::size_t nextChunkSize_;
  std::size_t reserved_ = 0;
  std::size_t used_ = 0;
  std::size_t left_ = 0;
  std::size_t listed_ = 0;
  std::size_t reused_ = 0;
  // Given-back blocks of the current chunk by size (in granules); each holds the next.
  void* free_[kLargestReused / kGranule + 1] = {};
  // The shared texts, by a hash of the text; a new text takes the place of the one before.
  std::string_view shared_[kSharedSlots] = {};
};

class NodeArena {
 public:
  // Chunks double from 256 KiB up to this size. Small enough that a chunk source may fill a
  // whole chunk in at once when it maps it (a few hundred pages in one step rather than a page
  // fault each), at a cost of less than a chunk per lane left untouched at the end of a load.
  static constexpr std::size_t kLargestChunk = std::size_t{2} << 20;

  // `upstream` must outlive the arena; null means the general heap. `helpers`, when given, must
  // outlive it too: they help give the chunks back.
  explicit NodeArena(std::pmr::memory_resource* upstream = nullptr, HelperThreads* helpers = nullptr);
  ~NodeArena();
  NodeArena(const NodeArena&) = delete;
  NodeArena& operator=(const NodeArena&) = delete;

  // A lane no other thread is using; give it back with ReturnLane when this thread stops
  // building. Thread-safe.
  ArenaLane* TakeLane();
  void ReturnLane(ArenaLane* lane);

  std::pmr::memory_resource* Upstream() const { return upstream_; }
  // Totals over all lanes (for tests and benchmarks; not while lanes are in use).
  std::size_t ChunkCount() const;
  std::size_t ReservedBytes() const;
  std::size_t UsedBytes() const;
  std::size_t IdleBytes() const;

 private:
  std::pmr::memory_resource* upstream_;
  HelperThreads* helpers_;
  std::mutex mutex_;
  std::vector<std::unique_ptr<ArenaLane>> lanes_;
  std::vector<ArenaLane*> idle_;
};

// While alive, the nodes (and the texts and lists they make) built on this thread are placed in
// a lane of `arena`; the previous scope of the thread, if any, applies again afterwards. A null
// arena means the general heap.
class ArenaScope {
 public:
  explicit ArenaScope(NodeArena* arena);
  ~ArenaScope();
  ArenaScope(const ArenaScope&) = delete;
  ArenaScope& operator=(const ArenaScope&) = delete;

 private:
  NodeArena* arena_;
  ArenaLane* lane_;
  ArenaLane* previous_;
};

// The resource new nodes of this thread are placed in: the lane of the innermost ArenaScope, or
// the general heap (std::pmr::new_delete_resource()).
std::pmr::memory_resource* NodeResource();
// Gives the bytes of an object destroyed in place in an arena back to this thread's lane (see
// ArenaLane: reused when they are its own, else left), marked as gone for the sanitizer.
void GiveBackArenaBytes(void* p, std::size_t bytes, std::size_t alignment);
// True when NodeResource() is an arena lane.
bool InArenaScope();
// The lane of the innermost ArenaScope, null outside any.
ArenaLane* CurrentLane();

// A base for the objects a node owns through a pointer of their own (a packet-debug record,
// the user texts of a data attribute): built inside an ArenaScope they are placed in the arena
// like the nodes, so that letting go of the node lets go of them too. `Derived` derives from
// ArenaPlaced<Derived> first.
template <class Derived>
class ArenaPlaced {
 public:
  static void* operator new(std::size_t size) {
    if (!InArenaScope()) return ::operator new(size);
    return NodeResource()->allocate(size, alignof(std::max_align_t));
  }
  static void operator delete(void* object, std::size_t size) {
    if (!InArenaScope()) ::operator delete(object);
    else NodeResource()->deallocate(object, size, alignof(std::max_align_t));
  }
  static void operator delete(ArenaPlaced* object, std::destroying_delete_t) {
    const bool inArena = object->inArena_;
    auto* derived = static_cast<Derived*>(object);
    derived->~Derived();
    if (!inArena) ::operator delete(static_cast<void*>(derived));
    else GiveBackArenaBytes(derived, sizeof(Derived), alignof(std::max_align_t));
  }

 private:
  bool inArena_ = InArenaScope();
};

}  // namespace quillon
