// A quick 64-bit hash of a short text, eight bytes per step.
//
// Used where a text only picks a slot or narrows a search and the text itself is compared
// afterwards (a collision costs time, never a wrong answer). Byte-at-a-time hashes showed up in
// the loads' profiles: every node's name and many field values pass through one.
#pragma once

#include <cstdint>
#include <cstring>
#include <string_view>

namespace quillon {

inline std::uint64_t TextHash(std::string_view text) {
  constexpr std::uint64_t kMultiplier = 0x9E3779B97F4A7C15ull;
  const char* p = text.data();
  const std::size_t n = text.size();
  std::uint64_t hash = n * kMultiplier;
  const auto mix = [&](std::uint64_t word) {
    hash = (hash ^ word) * kMultiplier;
    hash ^= hash >> 29;
  };
  std::size_t at = 0;
  for (; at + 8 <= n; at += 8) {
    std::uint64_t word;
    std::memcpy(&word, p + at, 8);
    mix(word);
  }
  if (at < n) {
    // The last bytes, read without a call: overlapping the word before, or in two halves.
    std::uint64_t word = 0;
    if (n >= 8) {
      std::memcpy(&word, p + n - 8, 8);
    } else if (n >= 4) {
      std::uint32_t low, high;
      std::memcpy(&low, p, 4);
      std::memcpy(&high, p + n - 4, 4);
      word = low | (std::uint64_t{high} << 32);
    } else {
      word = static_cast<unsigned char>(p[0]) | (std::uint64_t{static_cast<unsigned char>(p[n / 2])} << 8) |
             (std::uint64_t{static_cast<unsigned char>(p[n - 1])} << 16);
    }
    mix(word);
  }
  return hash ^ (hash >> 32);
}

}  // namespace quillon
