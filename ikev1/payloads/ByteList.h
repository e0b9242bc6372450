// The byte list: one element per hexadecimal token of a debug-log dump,
// and the text forms every payload, the header and the diagnosis use.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "model/IndexIterator.h"

namespace quillon {

// A dump's elements in log order. Nearly every element is one byte, and most lists are a few
// bytes long (a NextPld, a length, a cookie), while a large log holds millions of them. So a
// list is sixteen bytes: up to eight one-byte elements live in the object itself, a longer
// list in one block of one byte per element, and only a list holding a wider token (one
// with more than two digits keeps the whole value it spells) holds all its elements as 32-bit
// values. A list holds at most 2^30 - 1 elements; further ones are not kept. The block comes
// from the thread's node arena inside an ArenaScope (see model/NodeArena.h), else the heap.
class ByteList {
 public:
  using value_type = std::uint32_t;
  using size_type = std::size_t;

  using const_iterator = IndexIterator<ByteList, std::uint32_t>;
  using iterator = const_iterator;

  ByteList() = default;
  ByteList(std::initializer_list<std::uint32_t> values) {
    reserve(values.size());
    for (std::uint32_t v : values) push_back(v);
  }
  ByteList(std::size_t count, std::uint32_t value) {
    reserve(count);
    for (std::size_t i = 0; i < count; ++i) push_back(value);
  }
  template <std::input_iterator It>
  ByteList(It first, It last) {
    for (; first != last; ++first) push_back(static_cast<std::uint32_t>(*first));
  }
  ByteList(const ByteList& other) { CopyFrom(other); }
  ByteList(ByteList&& other) noexcept { TakeFrom(other); }
  ByteList& operator=(const ByteList& other) {
    if (this != &other) {
      Release();
      CopyFrom(other);
    }
    return *this;
  }
  ByteList& operator=(ByteList&& other) noexcept {
    if (this != &other) {
      Release();
      TakeFrom(other);
    }
    return *this;
  }
  ~ByteList() { Release(); }

  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  std::uint32_t operator[](std::size_t i) const {
    if (IsWide()) return store_.wide[i];
    return Bytes()[i];
  }
  std::uint32_t ElementAt(std::size_t i) const { return (*this)[i]; }
  // The elements as bytes, or nullptr when the list holds a wider element.
  const unsigned char* ByteData() const { return IsWide() ? nullptr : Bytes(); }
  std::uint32_t front() const { return (*this)[0]; }
  std::uint32_t back() const { return (*this)[size() - 1]; }
  const_iterator begin() const { return {this, 0}; }
  const_iterator end() const { return {this, size()}; }

  void push_back(std::uint32_t value) {
    if (size_ == kMaxSize) return;
    if (!IsWide() && value > 0xFFu) Widen();
    if (size_ == Capacity()) Grow(size_ + 1);
    if (IsWide()) store_.wide[size_] = value;
    else (OnHeap() ? store_.bytes : store_.local)[size_] = static_cast<unsigned char>(value);
    ++size_;
  }
  // A byte list keeps its room; a list of 32-bit elements becomes a byte list again.
  void clear() {
    if (IsWide()) {
      Release();
      capacity_ = kLocal;
    }
    size_ = 0;
  }
  void reserve(std::size_t n) {
    if (n > Capacity()) Grow(n);
  }
  // Gives back the room past the elements.
  void shrink_to_fit() {
    if (Capacity() == size_ || !OnHeap()) return;
    ByteList exact(*this);
    *this = std::move(exact);
  }

  friend bool operator==(const ByteList& a, const ByteList& b) {
    if (a.size_ != b.size_) return false;
    if (!a.IsWide() && !b.IsWide()) return std::memcmp(a.Bytes(), b.Bytes(), a.size_) == 0;
    for (std::size_t i = 0; i < a.size(); ++i) {
      if (a[i] != b[i]) return false;
    }
    return true;
  }

 private:
  static constexpr std::uint32_t kLocal = 8;
  static constexpr std::uint32_t kWideFlag = 0x80000000u;
  // The block was placed in a node arena (the list was grown inside an ArenaScope): it is not
  // given back on its own but with the arena.
  static constexpr std::uint32_t kArenaFlag = 0x40000000u;
  static constexpr std::uint32_t kMaxSize = 0x3FFFFFFFu;

  bool IsWide() const { return (capacity_ & kWideFlag) != 0; }
  bool InArena() const { return (capacity_ & kArenaFlag) != 0; }
  std::uint32_t Capacity() const { return capacity_ & ~(kWideFlag | kArenaFlag); }
  // A block for `bytes`, from the thread's arena lane when there is one; ArenaBit() says where.
  static void* Allocate(std::size_t bytes);
  static std::uint32_t ArenaBit();
  bool OnHeap() const { return IsWide() || Capacity() > kLocal; }
  // GCC, seeing a list grown past the local room, still warns about the local branch.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Warray-bounds"
#endif
  const unsigned char* Bytes() const { return OnHeap() ? store_.bytes : store_.local; }
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

  // Moves the elements to a block of room for `n` (at least), in the current width.
  void Grow(std::size_t n);
  // Moves the elements to a 32-bit block.
  void Widen();
  // Inline for the usual list, which holds its elements in the object and has nothing to free.
  void Release() {
    if (OnHeap()) ReleaseBlock();
  }
  void ReleaseBlock();
  void CopyFrom(const ByteList& other);
  void TakeFrom(ByteList& other) noexcept {
    size_ = other.size_;
    capacity_ = other.capacity_;
    store_ = other.store_;
    other.size_ = 0;
    other.capacity_ = kLocal;
  }

  std::uint32_t size_ = 0;
  std::uint32_t capacity_ = kLocal;  // in elements; the top bit marks 32-bit elements
  union Store {
    unsigned char local[kLocal];
    unsigned char* bytes;
    std::uint32_t* wide;
  } store_{};
};

std::string NumberText(std::uint32_t value, unsigned base);

// The list read big-endian into 32 bits (wrapping); an empty list gives 0.
std::uint32_t ByteListValue(const ByteList& list);

// Hexadecimal (or decimal) dump of a list. `wrap` breaks lines after every 15 elements with a
// two-space indent; `spaced` follows each element with a blank. An unspaced 16-element list
// (a cookie pair) reads as two groups of eight separated by two blanks.
std::string HexText(const ByteList& list, unsigned base, bool wrap, bool spaced);

// Appending forms for hot paths that build large texts.
void AppendNumberText(std::string& out, std::uint32_t value, unsigned base);
void AppendHexText(std::string& out, const ByteList& list, unsigned base, bool wrap, bool spaced);

// The hex dumps of the block layouts: on one line with a blank after each element, wrapped
// after every 15 elements, and on one line without blanks (cookies, SPIs, message IDs).
inline std::string SpacedHex(const ByteList& l) { return HexText(l, 16, false, true); }
inline std::string WrappedHex(const ByteList& l) { return HexText(l, 16, true, true); }
inline std::string UnspacedHex(const ByteList& l) { return HexText(l, 16, false, false); }

// A number in decimal and in (lower-case) hexadecimal, as the detail texts and blocks print it.
inline std::string DecimalText(std::uint32_t value) { return NumberText(value, 10); }
inline std::string HexNumberText(std::uint32_t value) { return NumberText(value, 16); }

}  // namespace quillon
