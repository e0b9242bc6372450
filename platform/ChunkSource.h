// Where the executables' node arenas take their chunks from (see model/NodeArena.h).
#pragma once

#include <cstddef>
#include <memory_resource>
#include <vector>

#include "model/NodeArena.h"

namespace quillon::platform {

// Chunks mapped straight from the kernel, their pages filled in as they are mapped: they never
// mix with the heap's small blocks, and giving a chunk back unmaps it at once, so a closed log's
// memory leaves the process. Thread-safe (it keeps no state). Under
// the address sanitizer the executables pass the general heap instead, which the sanitizer
// watches.
class MappedChunks final : public ChunkSource {
 public:
  // A large log's chunks hold hundreds of thousands of pages. Unmapping them (or leaving them
  // to the end of the process) frees the pages on one thread; here this thread and one of
  // `helpers` first drop the pages of half the chunks each, which the system allows at the
  // same time, and then the emptied chunks are unmapped.
  void ReleaseChunks(const std::vector<Chunk>& chunks, std::size_t alignment, HelperThreads* helpers) override;

 private:
  void* do_allocate(std::size_t bytes, std::size_t alignment) override;
  void do_deallocate(void* p, std::size_t bytes, std::size_t alignment) override;
  bool do_is_equal(const std::pmr::memory_resource& other) const noexcept override { return this == &other; }
};

// The chunk source for the logs this process loads: the mapped chunks above where the system
// has them (null otherwise, which means the general heap). Lives as long as the process.
std::pmr::memory_resource* LogChunkSource();

// The general heap grows in large steps, so that the threads of a load do not wait on each
// other's small changes of the memory map. Call once, early in main.
void TuneHeap();

// Hands the general heap's free pages back to the system: after a large part of what the
// process held was freed (rows of a collapsed tree, the tree of the previous log), so that the
// memory the system sees shrinks with it. Costs a few milliseconds on a large heap.
void GiveBackFreeMemory();

}  // namespace quillon::platform
