// The chunks the executables' arenas are mapped from.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "model/Background.h"
#include "platform/ChunkSource.h"

namespace quillon::platform {
namespace {

// Resident memory of this process in bytes, from the system's own count; 0 where it cannot
// be read.
std::size_t ResidentBytes() {
  std::FILE* file = std::fopen("/proc/self/statm", "r");
  if (file == nullptr) return 0;
  unsigned long pages = 0, resident = 0;
  const int read = std::fscanf(file, "%lu %lu", &pages, &resident);
  std::fclose(file);
  return read == 2 ? resident * 4096 : 0;
}

// Chunks given back together leave the process, as chunks given back one by one do: the pages
// the two threads drop are not left mapped, and none is dropped twice or missed.
TEST(MappedChunksTest, ChunksGivenBackTogetherLeaveTheProcess) {
  MappedChunks source;
  HelperThreads helpers(2);
  for (HelperThreads* helping : {static_cast<HelperThreads*>(nullptr), &helpers}) {
    for (const std::size_t count : {3u, 40u}) {  // below and above the size worth two threads
      std::vector<ChunkSource::Chunk> chunks;
      for (std::size_t i = 0; i < count; ++i) {
        const std::size_t size = std::size_t{2} << 20;
        void* begin = source.allocate(size, 64);
        std::memset(begin, static_cast<int>(i + 1), size);
        chunks.push_back({begin, size});
      }
      const std::size_t before = ResidentBytes();
      if (before == 0) GTEST_SKIP() << "no /proc/self/statm";
      source.ReleaseChunks(chunks, 64, helping);
      const std::size_t after = ResidentBytes();
      EXPECT_LT(after + count * (std::size_t{3} << 19), before) << count << " chunks";
    }
  }
}

}  // namespace
}  // namespace quillon::platform
