// The byte list: one element per hexadecimal token of a debug-log dump,
// and the text forms every payload, the header and the diagnosis use.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "model/IndexIterator.h"

namespace quillon {

// A dump's elements in log order. Nearly every element is one byte, and most lists are a few
// bytes long (a NextPld, a length, a cookie), while a large log holds millions of them. So the
// bytes live in a std::string — no heap block at all up to fifteen elements, one byte each
// beyond — and only a list holding a wider token (one with more than two digits keeps the whole
// value it spells) moves all its elements to a 32-bit side vector.
class ByteList {
 public:
  using value_type = std::uint32_t;
  using size_type = std::size_t;

  using const_iterator = IndexIterator<ByteList, std::uint32_t>;
  using iterator = const_iterator;

  ByteList() = default;
  ByteList(std::initializer_list<std::uint32_t> values) { for (std::uint32_t v : values) push_back(v); }
  ByteList(std::size_t count, std::uint32_t value) {
    reserve(count);
    for (std::size_t i = 0; i < count; ++i) push_back(value);
  }
  template <std::input_iterator It>
  ByteList(It first, It last) {
    for (; first != last; ++first) push_back(static_cast<std::uint32_t>(*first));
  }
  ByteList(const ByteList& other)
      : bytes_(other.bytes_),
        wide_(other.wide_ ? std::make_unique<std::vector<std::uint32_t>>(*other.wide_) : nullptr) {}
  ByteList(ByteList&&) noexcept = default;
  ByteList& operator=(const ByteList& other) {
    if (this != &other) {
      bytes_ = other.bytes_;
      wide_ = other.wide_ ? std::make_unique<std::vector<std::uint32_t>>(*other.wide_) : nullptr;
    }
    return *this;
  }
  ByteList& operator=(ByteList&&) noexcept = default;

  std::size_t size() const { return wide_ ? wide_->size() : bytes_.size(); }
  bool empty() const { return size() == 0; }
  std::uint32_t operator[](std::size_t i) const {
    return wide_ ? (*wide_)[i] : static_cast<unsigned char>(bytes_[i]);
  }
  std::uint32_t ElementAt(std::size_t i) const { return (*this)[i]; }
  std::uint32_t front() const { return (*this)[0]; }
  std::uint32_t back() const { return (*this)[size() - 1]; }
  const_iterator begin() const { return {this, 0}; }
  const_iterator end() const { return {this, size()}; }

  void push_back(std::uint32_t value) {
    if (!wide_ && value <= 0xFFu) {
      bytes_.push_back(static_cast<char>(value));
      return;
    }
    if (!wide_) Widen();
    wide_->push_back(value);
  }
  void clear() {
    bytes_.clear();
    wide_.reset();
  }
  void reserve(std::size_t n) {
    if (wide_) wide_->reserve(n);
    else bytes_.reserve(n);
  }
  // Drops unused capacity (a list read element by element keeps no slack once stored).
  void shrink_to_fit() {
    if (wide_) wide_->shrink_to_fit();
    else bytes_.shrink_to_fit();
  }

  friend bool operator==(const ByteList& a, const ByteList& b) {
    if (!a.wide_ && !b.wide_) return a.bytes_ == b.bytes_;
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
      if (a[i] != b[i]) return false;
    }
    return true;
  }

 private:
  void Widen() {
    wide_ = std::make_unique<std::vector<std::uint32_t>>(begin(), end());
    bytes_.clear();
    bytes_.shrink_to_fit();
  }

  std::string bytes_;
  std::unique_ptr<std::vector<std::uint32_t>> wide_;
};

// Digits of `value` in `base` (2..16, lower case); a single base-16 digit gets a leading "0".
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

// Shorthands used in the block layouts: H spaced, W wrapped and spaced, U unspaced.
inline std::string H(const ByteList& l) { return HexText(l, 16, false, true); }
inline std::string W(const ByteList& l) { return HexText(l, 16, true, true); }
inline std::string U(const ByteList& l) { return HexText(l, 16, false, false); }

}  // namespace quillon
