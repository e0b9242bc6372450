// Scanning primitives of the IKEv2 XML log reader.
//
// The daemon writes its IKEv2 log in a fixed line layout, and the reader is deliberately not an
// XML parser: it matches fixed texts at fixed places of each line. Three kinds of line occur:
//  - attribute lines:  name="value" name="value" ...   (a trailing ">" is ignored)
//  - element lines:    <tag>value</tag>                (a repeated element on one line is
//                                                        joined: <t>A</t><t>B</t> gives "A, B")
//  - element pairs:    <CA><DN>...</DN><hash>...</hash></CA>, several elements on one line
// Nesting, entities, comments and attribute order are not interpreted. A "blank" is a space or
// a tab. Every read stays inside its text; malformed input only makes a step fail.
#pragma once

#include "model/NodeText.h"
#include "model/TextHash.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <initializer_list>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "model/IndexIterator.h"

namespace quillon {

// A fixed set of short texts of one node (a message's times, SPIs, type, ...) kept in one
// block: the texts one after another and where each ends. Millions of nodes each holding ten
// separate strings would spend more on the strings than on the texts.
template <std::size_t N>
class PackedTexts {
 public:
  std::string_view Get(std::size_t field) const {
    const std::uint32_t begin = field == 0 ? 0 : ends_[field - 1];
    return std::string_view(data_).substr(begin, ends_[field] - begin);
  }
  void Set(std::size_t field, std::string_view text) {
    if (!text.empty() && text.data() >= data_.data() && text.data() < data_.data() + data_.size()) {
      const std::string copy(text);  // one of this block's own texts, which the change moves
      Set(field, copy);
      return;
    }
    if (data_.capacity() < 96) data_.reserve(96);  // a message's texts; cut to size when read
    const std::uint32_t begin = field == 0 ? 0 : ends_[field - 1];
    const std::uint32_t oldLength = ends_[field] - begin;
    data_.replace(begin, oldLength, text);
    const auto grown = static_cast<std::uint32_t>(text.size()) - oldLength;  // wraps when shrinking
    for (std::size_t i = field; i < N; ++i) ends_[i] += grown;
  }
  void ShrinkToFit() { data_.shrink_to_fit(); }

 private:
  NodeText data_;  // in the node's arena, like the node
  std::uint32_t ends_[N] = {};
};

// Attributes and elements of a node, listed in ascending byte order of their names. A node has
// a handful of them and a large log millions of nodes, so the whole map is one block: a sorted
// index of where each name and value stands, followed by the names and values themselves,
// rather than separately allocated strings.
class AttributeMap {
 public:
  using value_type = std::pair<std::string_view, std::string_view>;

  using const_iterator = IndexIterator<AttributeMap, value_type>;
  using iterator = const_iterator;

  AttributeMap() = default;
  AttributeMap(std::initializer_list<value_type> items) {
    for (const value_type& item : items) Set(item.first, item.second);
  }

  // Stores `value` under `key`, replacing what was there.
  void Set(std::string_view key, std::string_view value);
  // The value under `key`, inserted empty when missing (a missing attribute is listed from then
  // on). The view lasts until the next change of the map.
  std::string_view Touch(std::string_view key);
  // The value under `key`; empty when missing, and nothing is inserted.
  std::string_view Get(std::string_view key) const {
    const std::size_t at = Find(key);
    return at == kMissing ? std::string_view() : ValueAt(at);
  }
  const_iterator find(std::string_view key) const {
    const std::size_t at = Find(key);
    return at == kMissing ? end() : const_iterator(this, at);
  }
  bool contains(std::string_view key) const { return Find(key) != kMissing; }
  // The value under `key`; throws std::out_of_range when it is missing.
  std::string_view at(std::string_view key) const {
    const std::size_t at = Find(key);
    if (at == kMissing) throw std::out_of_range("no attribute " + std::string(key));
    return ValueAt(at);
  }
  std::size_t count(std::string_view key) const { return contains(key) ? 1 : 0; }
  const_iterator begin() const { return const_iterator(this, 0); }
  const_iterator end() const { return const_iterator(this, count_); }
  std::size_t size() const { return count_; }
  bool empty() const { return count_ == 0; }
  void clear() {
    data_.clear();
    count_ = 0;
    wide_ = false;
  }
  // Gives back the spare room once a node is read. The map is one block of positions and
  // texts, so two maps of the same attributes have the same block: one the lane holds already
  // (every proposal of the same algorithms, every payload of one type) is shared.
  void ShrinkToFit() { data_.ShareOrShrink(); }
  // The same for a map that no other node has (an exchange's, with its serial number): cut to
  // size without looking for it among the shared texts.
  void ShrinkToFitOwn() { data_.shrink_to_fit(); }

  friend bool operator==(const AttributeMap& a, const AttributeMap& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
      if (a.ElementAt(i) != b.ElementAt(i)) return false;
    return true;
  }

 private:
  static constexpr std::size_t kMissing = static_cast<std::size_t>(-1);
  // Where a name and its value stand, counted from the start of the text part.
  struct Entry {
    std::uint32_t key;
    std::uint32_t keyLength;
    std::uint32_t value;
    std::uint32_t valueLength;
  };
  // A map's text is nearly always a few dozen bytes: its entries are then stored in eight bytes
  // (16-bit positions and value length, an 8-bit name length) instead of sixteen. A map whose
  // text outgrows that (a name over 255 bytes, a text over 64 KiB) is widened once.
  static constexpr std::size_t kWideEntrySize = 16;
  static constexpr std::size_t kNarrowEntrySize = 8;
  static constexpr std::size_t kNarrowText = 0xFFFF;
  static constexpr std::size_t kNarrowKey = 0xFF;
  std::size_t EntrySize() const { return wide_ ? kWideEntrySize : kNarrowEntrySize; }
  Entry EntryAt(std::size_t i) const {
    Entry e;
    if (wide_) {
      std::memcpy(&e, data_.data() + i * kWideEntrySize, kWideEntrySize);
      return e;
    }
    unsigned char b[kNarrowEntrySize];
    std::memcpy(b, data_.data() + i * kNarrowEntrySize, kNarrowEntrySize);
    e.key = static_cast<std::uint32_t>(b[0] | b[1] << 8);
    e.value = static_cast<std::uint32_t>(b[2] | b[3] << 8);
    e.valueLength = static_cast<std::uint32_t>(b[4] | b[5] << 8);
    e.keyLength = b[6];
    return e;
  }
  // The entry must fit the map's form (Set widens the map first when it would not).
  void StoreEntry(std::size_t i, const Entry& e) {
    if (wide_) {
      std::memcpy(data_.data() + i * kWideEntrySize, &e, kWideEntrySize);
      return;
    }
    const unsigned char b[kNarrowEntrySize] = {
        static_cast<unsigned char>(e.key), static_cast<unsigned char>(e.key >> 8),
        static_cast<unsigned char>(e.value), static_cast<unsigned char>(e.value >> 8),
        static_cast<unsigned char>(e.valueLength), static_cast<unsigned char>(e.valueLength >> 8),
        static_cast<unsigned char>(e.keyLength), 0};
    std::memcpy(data_.data() + i * kNarrowEntrySize, b, kNarrowEntrySize);
  }
  // Makes the entries sixteen bytes when a text of `textSize` bytes or a name of `keySize`
  // bytes would not fit the narrow form.
  void WidenFor(std::size_t textSize, std::size_t keySize);
  const char* Text() const { return data_.data() + count_ * EntrySize(); }
  std::size_t TextSize() const { return data_.size() - count_ * EntrySize(); }
  std::string_view KeyAt(std::size_t i) const {
    const Entry e = EntryAt(i);
    return {Text() + e.key, e.keyLength};
  }
  std::string_view ValueAt(std::size_t i) const {
    const Entry e = EntryAt(i);
    return {Text() + e.value, e.valueLength};
  }
  friend class IndexIterator<AttributeMap, value_type>;
  value_type ElementAt(std::size_t i) const { return {KeyAt(i), ValueAt(i)}; }
  // Position of the first entry whose key is not less than `key`.
  std::size_t LowerBound(std::string_view key) const;
  std::size_t Find(std::string_view key) const {
    const std::size_t at = LowerBound(key);
    return at != count_ && SameText(KeyAt(at), key) ? at : kMissing;
  }
  // True when `part` lies inside this map's own block, which a change may move.
  bool Owns(std::string_view part) const {
    return !part.empty() && part.data() >= data_.data() && part.data() < data_.data() + data_.size();
  }
  // Appends `part` to the text; its position in the text.
  std::uint32_t Append(std::string_view part) {
    const auto at = static_cast<std::uint32_t>(TextSize());
    data_.append(part);
    return at;
  }

  NodeText data_;  // count_ entries, then the text; in the node's arena
  std::uint32_t count_ = 0;
  bool wide_ = false;
};

inline bool Contains(std::string_view text, std::string_view part) {
  return text.find(part) != std::string_view::npos;
}

// Removes the leading (atFront) or trailing blanks of `line`, then removes `token` from that
// end if it stands there. The blank removal stays in effect even when the token does not match.
bool StripToken(std::string& line, std::string_view token, bool atFront);
// The same on a view: narrows `text` instead of changing a string.
bool StripToken(std::string_view& text, std::string_view token, bool atFront);

// Reads name="value" pairs from the front of the line into `attributes` until a pair is
// incomplete (no "=", or no closing quote). A later pair with the same name overwrites.
void ParseAttributes(std::string_view line, AttributeMap& attributes);

struct Element {
  std::string tag;
  std::string value;
};

// One element line: optional blanks, "<tag>", the value, "</tag>", optional blanks. Every
// "</tag><tag>" inside the value is replaced by ", ". Nothing when the line is not of that form.
std::optional<Element> ParseElement(std::string_view line);
// The same without copying: `tag` views the line, `value` views the line or, when repeated
// elements had to be joined, `joined`. False when the line is not an element line.
bool ScanElement(std::string_view line, std::string_view& tag, std::string_view& value, std::string& joined);

// Takes "<tag>value</tag>" pairs one after another from the front of the text (blanks between
// them allowed) into `attributes`; the first pair that is not complete ends the text.
void TakeElementPairs(std::string_view text, AttributeMap& attributes);

// The tab run that follows a label in detail texts, aligning the values: three tabs for labels
// of fewer than 8 characters, two for 8 to 15, one for 16 or more.
std::string_view LabelTabs(std::string_view label);

// Long names (certificate subjects, notify types, identities) are cut for tree captions: a text
// of more than 19 characters becomes its first 16 characters and "...".
std::string ShortenText(std::string_view text);

// Text put together on the stack while it fits: a caption is a few dozen characters, more than
// a string holds without a heap block, and a large log builds one for each of hundreds of
// thousands of nodes.
class CaptionText {
 public:
  CaptionText& operator+=(std::string_view part) {
    if (heap_.empty() && part.size() <= sizeof buffer_ - length_) {
      part.copy(buffer_ + length_, part.size());
      length_ += part.size();
    } else {
      if (heap_.empty()) heap_.assign(buffer_, length_);
      heap_ += part;
    }
    return *this;
  }
  // `text` cut as ShortenText cuts it.
  void AppendShortened(std::string_view text) {
    if (text.size() <= 19) {
      *this += text;
      return;
    }
    *this += text.substr(0, 16);
    *this += "...";
  }
  std::string_view View() const { return heap_.empty() ? std::string_view(buffer_, length_) : std::string_view(heap_); }

 private:
  char buffer_[128];
  std::size_t length_ = 0;
  std::string heap_;  // once the text outgrows the buffer
};

}  // namespace quillon
