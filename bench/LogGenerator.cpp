#include "LogGenerator.h"

#include <cstdio>
#include <random>
#include <string>

#include "GeneratorSupport.h"

// The IKEv1 and IKEv2 generators live in IKEv1Generator.cpp and IKEv2Generator.cpp.

namespace quillon::bench {

std::uint64_t WriteHexDump(const std::string& path, std::uint64_t bytes) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return 0;
  std::mt19937 rng(7);
  std::uint64_t written = 0;
  std::string out;
  while (written < bytes) {
    out.clear();
    // Dumps of 256 bytes behind a label, as a key or certificate block carries them.
    for (int block = 0; block < 256; ++block) {
      out += "\tKeyData:\n";
      for (int line = 0; line < 16; ++line) {
        out.push_back('\t');
        for (int i = 0; i < 16; ++i) {
          const unsigned v = rng() & 0xFF;
          out.push_back(gen::kDigits[v >> 4]);
          out.push_back(gen::kDigits[v & 15]);
          out.push_back(' ');
        }
        out.push_back('\n');
      }
    }
    written += std::fwrite(out.data(), 1, out.size(), f);
  }
  std::fclose(f);
  return written;
}

std::thread AppendPaced(std::size_t count, std::function<void(std::size_t)> append,
                        std::vector<std::chrono::steady_clock::time_point>& appended, std::atomic<std::size_t>& written) {
  return std::thread([count, append = std::move(append), &appended, &written] {
    std::mt19937 random(21);
    std::uniform_int_distribution<int> pause(80, 250);
    for (std::size_t i = 0; i < count; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(pause(random)));
      appended[i] = std::chrono::steady_clock::now();
      append(i);
      written.store(i + 1, std::memory_order_release);
    }
  });
}

}  // namespace quillon::bench
