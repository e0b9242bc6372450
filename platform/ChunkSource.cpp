#include "platform/ChunkSource.h"

#include <cstdint>
#include <cstdlib>
#include <new>

#if defined(__linux__)
#include <sys/mman.h>
#endif
#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include "model/AddressSanitizer.h"
#include "model/Background.h"

namespace quillon::platform {

namespace {
constexpr std::size_t kPage = 4096;
}  // namespace

#if defined(__linux__)
void* MappedChunks::do_allocate(std::size_t bytes, std::size_t alignment) {
  if (alignment > kPage) throw std::bad_alloc();
  // Filled in at once: an arena chunk (at most a few MiB) is nearly always used to its end, and
  // one mapping of all its pages costs less than a page fault for each. Not advised for huge
  // pages: a virtual machine's host takes back the guest's large free blocks, and a huge page
  // is just such a block, so each one would be supplied anew at its first touch; a log opened
  // after a pause, which is how a user opens one, then loads far slower.
  void* chunk = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1, 0);
  if (chunk == MAP_FAILED) throw std::bad_alloc();
  return chunk;
}

void MappedChunks::do_deallocate(void* p, std::size_t bytes, std::size_t /*alignment*/) { munmap(p, bytes); }

void MappedChunks::ReleaseChunks(const std::vector<Chunk>& chunks, std::size_t alignment, HelperThreads* helpers) {
  std::size_t total = 0;
  for (const Chunk& chunk : chunks) total += chunk.size;
  // Below this a second thread costs more than it saves.
  constexpr std::size_t kWorthTwoThreads = std::size_t{32} << 20;
  if (helpers != nullptr && total >= kWorthTwoThreads) {
    const auto drop = [&chunks](std::size_t first) {
      for (std::size_t i = first; i < chunks.size(); i += 2) madvise(chunks[i].begin, chunks[i].size, MADV_DONTNEED);
    };
    std::future<void> other = helpers->Run([&drop] { drop(1); });
    drop(0);
    other.wait();
  }
  for (const Chunk& chunk : chunks) deallocate(chunk.begin, chunk.size, alignment);
}
#else
void* MappedChunks::do_allocate(std::size_t bytes, std::size_t alignment) {
  return std::pmr::new_delete_resource()->allocate(bytes, alignment);
}
void MappedChunks::do_deallocate(void* p, std::size_t bytes, std::size_t alignment) {
  std::pmr::new_delete_resource()->deallocate(p, bytes, alignment);
}
void MappedChunks::ReleaseChunks(const std::vector<Chunk>& chunks, std::size_t alignment, HelperThreads* helpers) {
  ChunkSource::ReleaseChunks(chunks, alignment, helpers);
}
#endif

std::pmr::memory_resource* LogChunkSource() {
#if defined(QUILLON_ASAN) || !defined(__linux__)
  return nullptr;
#else
  // Stateless: one instance serves every log and thread of the process.
  static MappedChunks chunks;
  return &chunks;
#endif
}

void TuneHeap() {
#if defined(__GLIBC__)
  // 64 MiB of room at each growth of the heap.
  mallopt(M_TOP_PAD, 64 << 20);
#endif
}

void GiveBackFreeMemory() {
#if defined(__GLIBC__)
  malloc_trim(0);
#endif
}

}  // namespace quillon::platform
