// What both log generators share: a random sequence that is the same on every platform, and
// numbers as the daemon writes them.
#pragma once

#include <cstdint>
#include <string>

#include "ikev1/payloads/ByteList.h"

namespace quillon::bench::gen {

// splitmix64: fast, and the same sequence on every platform (the standard engines' distributions
// are not), so a seed always gives the same file.
class Rng {
 public:
  explicit Rng(std::uint64_t seed) : state_(seed) {}

  std::uint64_t Next() {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  unsigned Below(unsigned n) { return static_cast<unsigned>(Next() % n); }
  bool Percent(unsigned p) { return Below(100) < p; }
  void Fill(std::uint8_t* out, std::size_t n) {
    for (std::size_t i = 0; i < n; i += 8) {
      std::uint64_t v = Next();
      for (std::size_t j = i; j < n && j < i + 8; ++j, v >>= 8) out[j] = static_cast<std::uint8_t>(v);
    }
  }
  ByteList Bytes(std::size_t n) {
    ByteList list;
    list.reserve(n);
    for (std::size_t i = 0; i < n; i += 8) {
      std::uint64_t v = Next();
      for (std::size_t j = i; j < n && j < i + 8; ++j, v >>= 8) list.push_back(static_cast<std::uint32_t>(v & 0xFF));
    }
    return list;
  }

 private:
  std::uint64_t state_;
};

inline constexpr char kDigits[] = "0123456789abcdef";

inline void Dec(std::string& out, std::uint64_t v) { AppendNumberText(out, static_cast<std::uint32_t>(v), 10); }

inline void TwoDigits(std::string& out, std::uint64_t v) {
  out.push_back(static_cast<char>('0' + v / 10 % 10));
  out.push_back(static_cast<char>('0' + v % 10));
}

// `value` as `size` bytes, most significant first, as the protocol puts numbers on the wire.
inline ByteList BigEndian(std::uint32_t value, int size) {
  ByteList list;
  for (int i = size - 1; i >= 0; --i) list.push_back((value >> (8 * i)) & 0xFF);
  return list;
}

inline ByteList ListOf(const std::uint8_t* data, std::size_t n) { return ByteList(data, data + n); }
inline ByteList ListOf(const std::string& text) {
  return ListOf(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
}

}  // namespace quillon::bench::gen
