#include "ikev1/payloads/ByteList.h"

#include <algorithm>
#include <memory>

namespace quillon {

// ---- storage ------------------------------------------------------------------------------------

void ByteList::Release() {
  if (IsWide()) std::allocator<std::uint32_t>().deallocate(store_.wide, Capacity());
  else if (Capacity() > kLocal) std::allocator<unsigned char>().deallocate(store_.bytes, Capacity());
}

void ByteList::Grow(std::size_t n) {
  const std::size_t want = std::min<std::size_t>(std::max<std::size_t>(n, std::size_t{Capacity()} * 2), kMaxSize);
  if (want <= Capacity()) return;
  const auto room = static_cast<std::uint32_t>(want);
  if (IsWide()) {
    std::uint32_t* block = std::allocator<std::uint32_t>().allocate(room);
    std::copy_n(store_.wide, size_, block);
    Release();
    store_.wide = block;
    capacity_ = room | kWideFlag;
  } else {
    unsigned char* block = std::allocator<unsigned char>().allocate(room);
    std::memcpy(block, Bytes(), size_);
    Release();
    store_.bytes = block;
    capacity_ = room;
  }
}

void ByteList::Widen() {
  const std::uint32_t room = std::max(size_ + 1, kLocal);
  std::uint32_t* block = std::allocator<std::uint32_t>().allocate(room);
  std::copy_n(Bytes(), size_, block);
  Release();
  store_.wide = block;
  capacity_ = room | kWideFlag;
}

void ByteList::CopyFrom(const ByteList& other) {
  // A copy is made at its exact size.
  size_ = other.size_;
  if (other.IsWide()) {
    const std::uint32_t room = std::max<std::uint32_t>(size_, 1);
    store_.wide = std::allocator<std::uint32_t>().allocate(room);
    std::copy_n(other.store_.wide, size_, store_.wide);
    capacity_ = room | kWideFlag;
  } else if (size_ <= kLocal) {
    std::memcpy(store_.local, other.Bytes(), size_);
    capacity_ = kLocal;
  } else {
    store_.bytes = std::allocator<unsigned char>().allocate(size_);
    std::memcpy(store_.bytes, other.Bytes(), size_);
    capacity_ = size_;
  }
}

// ---- text forms ---------------------------------------------------------------------------------

void AppendNumberText(std::string& out, std::uint32_t value, unsigned base) {
  if (base < 2 || base > 16) base = 16;
  char digits[33];
  int n = 0;
  do {
    digits[n++] = "0123456789abcdef"[value % base];
    value /= base;
  } while (value != 0);
  if (base == 16 && n == 1) digits[n++] = '0';
  while (n > 0) out.push_back(digits[--n]);
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

void AppendHexText(std::string& out, const ByteList& list, unsigned base, bool wrap, bool spaced) {
  const std::size_t n = list.size();
  out.reserve(out.size() + n * 3 + (wrap ? n / 15 * 4 + 2 : 0));
  if (wrap && n > 15) out += "  ";
  for (std::size_t i = 0; i < n; ++i) {
    if (i > 0 && i % 15 == 0 && wrap) out += "\r\n  ";
    if (!spaced && n == 16 && i == 8) out += "  ";
    AppendNumberText(out, list[i], base);
    if (spaced) out.push_back(' ');
  }
}

std::string HexText(const ByteList& list, unsigned base, bool wrap, bool spaced) {
  std::string out;
  AppendHexText(out, list, base, wrap, spaced);
  return out;
}

}  // namespace quillon
