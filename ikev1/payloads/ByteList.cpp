#include "ikev1/payloads/ByteList.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <string_view>

#include "model/NodeArena.h"

namespace quillon {

// ---- storage ------------------------------------------------------------------------------------

void* ByteList::Allocate(std::size_t bytes) {
  if (!InArenaScope()) return ::operator new(bytes);
  return NodeResource()->allocate(bytes, alignof(std::uint32_t));
}

std::uint32_t ByteList::ArenaBit() { return InArenaScope() ? kArenaFlag : 0; }

void ByteList::ReleaseBlock() {
  void* block = IsWide() ? static_cast<void*>(store_.wide) : static_cast<void*>(store_.bytes);
  if (!InArena()) {
    ::operator delete(block);
  } else if (ArenaLane* lane = CurrentLane()) {
    // An arena block stays where it is until the arena goes, unless it is the lane's last one
    // (a temporary list of the reader), which the lane takes back.
    lane->deallocate(block, std::size_t{Capacity()} * (IsWide() ? sizeof(std::uint32_t) : 1), alignof(std::uint32_t));
  }
}

void ByteList::Grow(std::size_t n) {
  const std::size_t want = std::min<std::size_t>(std::max<std::size_t>(n, std::size_t{Capacity()} * 2), kMaxSize);
  if (want <= Capacity()) return;
  const auto room = static_cast<std::uint32_t>(want);
  // A list growing at the end of its arena lane (the one being read) grows in place.
  const std::size_t width = IsWide() ? sizeof(std::uint32_t) : 1;
  if (InArena()) {
    ArenaLane* lane = CurrentLane();
    void* block = IsWide() ? static_cast<void*>(store_.wide) : static_cast<void*>(store_.bytes);
    if (lane != nullptr && lane->TryExtend(block, std::size_t{Capacity()} * width, std::size_t{room} * width)) {
      capacity_ = room | (capacity_ & (kWideFlag | kArenaFlag));
      return;
    }
  }
  if (IsWide()) {
    const std::uint32_t arena = ArenaBit();
    auto* block = static_cast<std::uint32_t*>(Allocate(std::size_t{room} * sizeof(std::uint32_t)));
    std::copy_n(store_.wide, size_, block);
    Release();
    store_.wide = block;
    capacity_ = room | kWideFlag | arena;
  } else {
    const std::uint32_t arena = ArenaBit();
    auto* block = static_cast<unsigned char*>(Allocate(room));
    std::memcpy(block, Bytes(), size_);
    Release();
    store_.bytes = block;
    capacity_ = room | arena;
  }
}

void ByteList::Widen() {
  const std::uint32_t room = std::max(size_ + 1, kLocal);
  const std::uint32_t arena = ArenaBit();
  auto* block = static_cast<std::uint32_t*>(Allocate(std::size_t{room} * sizeof(std::uint32_t)));
  std::copy_n(Bytes(), size_, block);
  Release();
  store_.wide = block;
  capacity_ = room | kWideFlag | arena;
}

void ByteList::CopyFrom(const ByteList& other) {
  // A copy is made at its exact size.
  size_ = other.size_;
  if (other.IsWide()) {
    const std::uint32_t room = std::max<std::uint32_t>(size_, 1);
    const std::uint32_t arena = ArenaBit();
    store_.wide = static_cast<std::uint32_t*>(Allocate(std::size_t{room} * sizeof(std::uint32_t)));
    std::copy_n(other.store_.wide, size_, store_.wide);
    capacity_ = room | kWideFlag | arena;
  } else if (size_ <= kLocal) {
    std::memcpy(store_.local, other.Bytes(), size_);
    capacity_ = kLocal;
  } else {
    const std::uint32_t arena = ArenaBit();
    store_.bytes = static_cast<unsigned char*>(Allocate(size_));
    std::memcpy(store_.bytes, other.Bytes(), size_);
    capacity_ = size_ | arena;
  }
}

// ---- text forms ---------------------------------------------------------------------------------

namespace {

constexpr char kDigits[] = "0123456789abcdef";
// The most digits a 32-bit value takes (in base 2).
constexpr std::size_t kMostDigits = 32;

// Writes the digits of `value` at `out` and returns how many. Hexadecimal numbers take at least
// two digits, as the dumps print every byte; a byte (the common case by far) is written
// without a division.
std::size_t WriteNumber(char* out, std::uint32_t value, unsigned base) {
  if (base < 2 || base > 16) base = 16;
  if (base == 16 && value <= 0xFFu) {
    out[0] = kDigits[value >> 4];
    out[1] = kDigits[value & 0xFu];
    return 2;
  }
  char digits[kMostDigits];
  std::size_t n = 0;
  if (base == 16) {
    for (; value != 0; value >>= 4) digits[n++] = kDigits[value & 0xFu];
  } else if (base == 10) {
    do {
      digits[n++] = static_cast<char>('0' + value % 10);
      value /= 10;
    } while (value != 0);
  } else {
    do {
      digits[n++] = kDigits[value % base];
      value /= base;
    } while (value != 0);
  }
  for (std::size_t i = 0; i < n; ++i) out[i] = digits[n - 1 - i];
  return n;
}

}  // namespace

void AppendNumberText(std::string& out, std::uint32_t value, unsigned base) {
  // Most decimal fields of a detail text are small (numbers, counts, short lengths).
  if (base == 10 && value < 10) {
    out += static_cast<char>('0' + value);
    return;
  }
  char digits[kMostDigits];
  out.append(digits, WriteNumber(digits, value, base));
}

std::string NumberText(std::uint32_t value, unsigned base) {
  std::string out;
  AppendNumberText(out, value, base);
  return out;
}

std::uint32_t ByteListValue(const ByteList& list) {
  std::uint32_t value = 0;
  for (std::uint32_t element : list) value = (value << 8) + element;
  return value;
}

namespace {

// Each byte value's two hexadecimal digits followed by a blank, four bytes apart: a spaced
// element is written as one four-byte store, its fourth byte overwritten by what follows.
constexpr auto kByteTriples = [] {
  std::array<char, 1024> triples{};
  for (std::size_t value = 0; value < 256; ++value) {
    triples[4 * value] = kDigits[value >> 4];
    triples[4 * value + 1] = kDigits[value & 0xFu];
    triples[4 * value + 2] = ' ';
  }
  return triples;
}();

// AppendHexText for a list of bytes in base 16, the dumps of nearly every payload: the text's
// length is known beforehand, so it is written in place, line by line, from a table.
void AppendByteHex(std::string& out, const unsigned char* bytes, std::size_t n, bool wrap, bool spaced) {
  const bool indent = wrap && n > 15;
  const bool split = !spaced && n == 16;
  const std::size_t breaks = indent ? (n - 1) / 15 : 0;
  const std::size_t length = n * (spaced ? 3 : 2) + (indent ? 2 + 4 * breaks : 0) + (split ? 2 : 0);
  const std::size_t start = out.size();
  out.resize(start + length);
  char* at = out.data() + start;
  if (indent) {
    std::memcpy(at, "  ", 2);
    at += 2;
  }
  const auto digits = [](unsigned char value) { return &kByteTriples[4 * std::size_t{value}]; };
  for (std::size_t i = 0; i < n;) {
    if (i != 0) {
      std::memcpy(at, "\r\n  ", 4);
      at += 4;
    }
    const std::size_t lineEnd = indent ? std::min(n, i + 15) : n;
    if (spaced) {
      // Every element but the dump's last may spill its fourth byte onto what comes next.
      const std::size_t whole = std::min(lineEnd, n - 1);
      for (; i < whole; ++i, at += 3) std::memcpy(at, digits(bytes[i]), 4);
      if (i < lineEnd) {
        std::memcpy(at, digits(bytes[i++]), 3);
        at += 3;
      }
    } else {
      for (; i < lineEnd; ++i, at += 2) {
        if (split && i == 8) {
          std::memcpy(at, "  ", 2);
          at += 2;
        }
        std::memcpy(at, digits(bytes[i]), 2);
      }
    }
  }
}

}  // namespace

void AppendHexText(std::string& out, const ByteList& list, unsigned base, bool wrap, bool spaced) {
  const std::size_t n = list.size();
  if (base == 16) {
    if (const unsigned char* bytes = list.ByteData()) {
      AppendByteHex(out, bytes, n, wrap, spaced);
      return;
    }
  }
  out.reserve(out.size() + n * 3 + (wrap ? n / 15 * 4 + 2 : 0));
  // Key exchange data and certificates make dumps of hundreds of elements: the text is put
  // together in a small buffer and appended in blocks rather than a character at a time.
  char block[512];
  std::size_t used = 0;
  const auto put = [&](std::string_view text) {
    std::memcpy(block + used, text.data(), text.size());
    used += text.size();
  };
  if (wrap && n > 15) put("  ");
  std::size_t inLine = 0;
  for (std::size_t i = 0; i < n; ++i) {
    // Room for a line break, a gap, the longest number and its blank.
    if (used > sizeof block - (4 + 2 + kMostDigits + 1)) {
      out.append(block, used);
      used = 0;
    }
    if (inLine == 15) {
      inLine = 0;
      if (wrap) put("\r\n  ");
    }
    ++inLine;
    if (!spaced && n == 16 && i == 8) put("  ");
    used += WriteNumber(block + used, list[i], base);
    if (spaced) block[used++] = ' ';
  }
  out.append(block, used);
}

std::string HexText(const ByteList& list, unsigned base, bool wrap, bool spaced) {
  std::string out;
  AppendHexText(out, list, base, wrap, spaced);
  return out;
}

}  // namespace quillon
