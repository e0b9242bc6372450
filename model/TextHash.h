// Hashing and comparing short texts: labels, names and values of a few to a few dozen bytes,
// which the loaders hash and compare millions of times.
#pragma once

#include <cstdint>
#include <cstring>
#include <string_view>

namespace quillon {

// One step of the hashes below: mixes `word` into `hash`.
inline std::uint64_t HashStep(std::uint64_t hash, std::uint64_t word) {
  constexpr std::uint64_t kMultiplier = 0x9E3779B97F4A7C15ull;
  hash = (hash ^ word) * kMultiplier;
  return hash ^ (hash >> 29);
}

// A quick 64-bit hash, eight bytes per step. Used where a text only picks a slot or narrows a
// search and the text itself is compared afterwards (a collision costs time, never a wrong
// answer). Byte-at-a-time hashes showed up in the loads' profiles: every node's name and many
// field values pass through one.
inline std::uint64_t TextHash(std::string_view text) {
  constexpr std::uint64_t kMultiplier = 0x9E3779B97F4A7C15ull;
  const char* p = text.data();
  const std::size_t n = text.size();
  std::uint64_t hash = n * kMultiplier;
  const auto mix = [&](std::uint64_t word) { hash = HashStep(hash, word); };
  std::size_t at = 0;
  if (n >= 32) {
    // Longer texts in two chains of steps that do not wait on each other, joined at the end.
    std::uint64_t other = ~hash;
    for (; at + 16 <= n; at += 16) {
      std::uint64_t first, second;
      std::memcpy(&first, p + at, 8);
      std::memcpy(&second, p + at + 8, 8);
      mix(first);
      other = HashStep(other, second);
    }
    mix(other);
  }
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

// Whether the texts are equal. Texts of equal length from 8 to 16 bytes (most labels and names)
// are compared in two overlapping words, without a call: the readers compare a label with
// the token that turns out to be it many times per packet.
inline bool SameText(std::string_view a, std::string_view b) {
  const std::size_t n = a.size();
  if (n != b.size()) return false;
  if (n < 8 || n > 16) return a == b;
  std::uint64_t a0, a1, b0, b1;
  std::memcpy(&a0, a.data(), 8);
  std::memcpy(&b0, b.data(), 8);
  std::memcpy(&a1, a.data() + n - 8, 8);
  std::memcpy(&b1, b.data() + n - 8, 8);
  return ((a0 ^ b0) | (a1 ^ b1)) == 0;
}

}  // namespace quillon
