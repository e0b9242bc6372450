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

#include <algorithm>
#include <functional>
#include <initializer_list>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quillon {

// Attributes and elements of a node, listed in ascending byte order of their names. A node has
// a handful of them and a large log millions of nodes, so they are kept in one sorted vector
// rather than a tree of separately allocated entries.
class AttributeMap {
 public:
  using value_type = std::pair<std::string, std::string>;
  using iterator = std::vector<value_type>::iterator;
  using const_iterator = std::vector<value_type>::const_iterator;

  AttributeMap() = default;
  AttributeMap(std::initializer_list<value_type> items) {
    for (const value_type& item : items) (*this)[item.first] = item.second;
  }

  // The value under `key`, inserted empty when missing.
  std::string& operator[](std::string_view key) {
    auto it = LowerBound(key);
    if (it == items_.end() || it->first != key) it = items_.emplace(it, std::string(key), std::string());
    return it->second;
  }
  iterator find(std::string_view key) {
    auto it = LowerBound(key);
    return it != items_.end() && it->first == key ? it : items_.end();
  }
  const_iterator find(std::string_view key) const {
    auto it = std::lower_bound(items_.begin(), items_.end(), key,
                               [](const value_type& item, std::string_view k) { return item.first < k; });
    return it != items_.end() && it->first == key ? it : items_.end();
  }
  bool contains(std::string_view key) const { return find(key) != end(); }
  // The value under `key`; throws std::out_of_range when it is missing.
  const std::string& at(std::string_view key) const {
    const auto it = find(key);
    if (it == end()) throw std::out_of_range("no attribute " + std::string(key));
    return it->second;
  }
  std::size_t count(std::string_view key) const { return contains(key) ? 1 : 0; }
  iterator begin() { return items_.begin(); }
  iterator end() { return items_.end(); }
  const_iterator begin() const { return items_.begin(); }
  const_iterator end() const { return items_.end(); }
  std::size_t size() const { return items_.size(); }
  bool empty() const { return items_.empty(); }
  void clear() { items_.clear(); }

  friend bool operator==(const AttributeMap&, const AttributeMap&) = default;

 private:
  iterator LowerBound(std::string_view key) {
    return std::lower_bound(items_.begin(), items_.end(), key,
                            [](const value_type& item, std::string_view k) { return item.first < k; });
  }

  std::vector<value_type> items_;
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

// Takes "<tag>value</tag>" pairs one after another from the front of the text (blanks between
// them allowed) into `attributes`; the first pair that is not complete ends the text.
void TakeElementPairs(std::string_view text, AttributeMap& attributes);

// The tab run that follows a label in detail texts, aligning the values: three tabs for labels
// of fewer than 8 characters, two for 8 to 15, one for 16 or more.
std::string_view LabelTabs(std::string_view label);

// Long names (certificate subjects, notify types, identities) are cut for tree captions: a text
// of more than 19 characters becomes its first 16 characters and "...".
std::string ShortenText(std::string_view text);

}  // namespace quillon
