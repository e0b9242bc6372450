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

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QUILLON_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define QUILLON_ASAN 1
#endif

namespace quillon::platform {

namespace {
constexpr std::size_t kHugePage = std::size_t{2} << 20;
}  // namespace

#if defined(__linux__)
void* MappedChunks::do_allocate(std::size_t bytes, std::size_t alignment) {
  if (alignment > kHugePage) throw std::bad_alloc();
  // Map a huge page more than asked and trim both ends, so that the chunk starts on a huge
  // page boundary and the kernel can back all of it with huge pages.
  const std::size_t mapped = bytes + kHugePage;
  void* raw = mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (raw == MAP_FAILED) throw std::bad_alloc();
  const auto begin = reinterpret_cast<std::uintptr_t>(raw);
  const std::uintptr_t aligned = (begin + kHugePage - 1) & ~(kHugePage - 1);
  if (aligned > begin) munmap(raw, aligned - begin);
  const std::uintptr_t end = begin + mapped;
  const std::uintptr_t used = (aligned + bytes + 4095) & ~std::uintptr_t{4095};
  if (end > used) munmap(reinterpret_cast<void*>(used), end - used);
#if defined(MADV_HUGEPAGE)
  if (bytes >= kHugePage) madvise(reinterpret_cast<void*>(aligned), bytes, MADV_HUGEPAGE);
#endif
  return reinterpret_cast<void*>(aligned);
}

void MappedChunks::do_deallocate(void* p, std::size_t bytes, std::size_t /*alignment*/) { munmap(p, bytes); }
#else
void* MappedChunks::do_allocate(std::size_t bytes, std::size_t alignment) {
  return std::pmr::new_delete_resource()->allocate(bytes, alignment);
}
void MappedChunks::do_deallocate(void* p, std::size_t bytes, std::size_t alignment) {
  std::pmr::new_delete_resource()->deallocate(p, bytes, alignment);
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

}  // namespace quillon::platform
