#include "ikev2/LineScan.h"

#include <algorithm>

namespace quillon {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view TrimFront(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && IsBlank(text[i])) ++i;
  return text.substr(i);
}

std::string_view TrimBack(std::string_view text) {
  std::size_t n = text.size();
  while (n > 0 && IsBlank(text[n - 1])) --n;
  return text.substr(0, n);
}

// "</tag>" at `at` in `text`.
bool ClosingTagAt(std::string_view text, std::size_t at, std::string_view tag) {
  return text.size() - at >= tag.size() + 3 && text[at] == '<' && text[at + 1] == '/' &&
         text.compare(at + 2, tag.size(), tag) == 0 && text[at + 2 + tag.size()] == '>';
}

// "<tag>" at `at` in `text`.
bool OpeningTagAt(std::string_view text, std::size_t at, std::string_view tag) {
  return at <= text.size() && text.size() - at >= tag.size() + 2 && text[at] == '<' &&
         text.compare(at + 1, tag.size(), tag) == 0 && text[at + 1 + tag.size()] == '>';
}

// The first "</tag>" in `text` at or after `from`.
std::size_t FindClosingTag(std::string_view text, std::string_view tag, std::size_t from) {
  for (std::size_t at = text.find("</", from); at != std::string_view::npos; at = text.find("</", at + 1)) {
    if (ClosingTagAt(text, at, tag)) return at;
  }
  return std::string_view::npos;
}

}  // namespace

bool StripToken(std::string_view& text, std::string_view token, bool atFront) {
  text = atFront ? TrimFront(text) : TrimBack(text);
  if (token.size() > text.size()) return false;
  if (atFront) {
    if (text.substr(0, token.size()) != token) return false;
    text.remove_prefix(token.size());
  } else {
    if (text.substr(text.size() - token.size()) != token) return false;
    text.remove_suffix(token.size());
  }
  return true;
}

bool StripToken(std::string& line, std::string_view token, bool atFront) {
  std::string_view view(line);
  const bool stripped = StripToken(view, token, atFront);
  // The view is what remains of the line: a suffix of it when stripping at the front, a prefix
  // when stripping at the back.
  if (atFront) {
    line.erase(0, line.size() - view.size());
  } else {
    line.resize(view.size());
  }
  return stripped;
}

std::size_t AttributeMap::LowerBound(std::string_view key) const {
  // Names mostly differ in their first character, which decides without a call; the order is
  // that of the texts (compared as unsigned characters, like memcmp).
  const auto less = [](std::string_view a, std::string_view b) {
    if (!a.empty() && !b.empty() && a.front() != b.front())
      return static_cast<unsigned char>(a.front()) < static_cast<unsigned char>(b.front());
    return a < b;
  };
  std::size_t low = 0, high = count_;
  while (low < high) {
    const std::size_t middle = low + (high - low) / 2;
    if (less(KeyAt(middle), key)) low = middle + 1;
    else high = middle;
  }
  return low;
}

void AttributeMap::Set(std::string_view key, std::string_view value) {
  // The key or value may come from this map's own block, which appending may move.
  if (Owns(value) || Owns(key)) {
    const std::string keyCopy(key);
    const std::string valueCopy(value);
    Set(keyCopy, valueCopy);
    return;
  }
  const std::size_t at = LowerBound(key);
  if (at != count_ && SameText(KeyAt(at), key)) {
    WidenFor(TextSize() + value.size(), 0);
    Entry entry = EntryAt(at);
    if (value.size() <= entry.valueLength) {
      value.copy(data_.data() + count_ * EntrySize() + entry.value, value.size());
    } else {
      entry.value = Append(value);
    }
    entry.valueLength = static_cast<std::uint32_t>(value.size());
    StoreEntry(at, entry);
    return;
  }
  // A node's attributes are read one by one: one block with room for a typical node's, cut to
  // size once the node is read (ShrinkToFit).
  if (data_.capacity() < 160) data_.reserve(160);
  WidenFor(TextSize() + key.size() + value.size(), key.size());
  Entry entry{};
  entry.key = Append(key);
  entry.keyLength = static_cast<std::uint32_t>(key.size());
  entry.value = Append(value);
  entry.valueLength = static_cast<std::uint32_t>(value.size());
  // Positions count from the start of the text, so moving the text up to make room for the new
  // entry leaves them valid.
  data_.insert(at * EntrySize(), EntrySize(), '\0');
  ++count_;
  StoreEntry(at, entry);
}

void AttributeMap::WidenFor(std::size_t textSize, std::size_t keySize) {
  if (wide_ || (textSize <= kNarrowText && keySize <= kNarrowKey)) return;
  NodeText wide;
  wide.reserve(count_ * kWideEntrySize + TextSize());
  for (std::size_t i = 0; i < count_; ++i) {
    const Entry e = EntryAt(i);
    wide.append(std::string_view(reinterpret_cast<const char*>(&e), kWideEntrySize));
  }
  wide.append(std::string_view(Text(), TextSize()));
  data_ = std::move(wide);
  wide_ = true;
}

std::string_view AttributeMap::Touch(std::string_view key) {
  const std::size_t at = Find(key);
  if (at != kMissing) return ValueAt(at);
  Set(key, {});
  return {};
}

void ParseAttributes(std::string_view line, AttributeMap& attributes) {
  for (;;) {
    line = TrimFront(line);
    const std::size_t equals = line.find('=');
    if (equals == std::string_view::npos) return;
    const std::string_view name = line.substr(0, equals);
    // Skip the "=" and the opening quote; the quote itself is not checked.
    line.remove_prefix(std::min(line.size(), equals + 2));
    const std::size_t quote = line.find('"');
    if (quote == std::string_view::npos) return;
    attributes.Set(name, line.substr(0, quote));
    line.remove_prefix(quote + 1);
  }
}

bool ScanElement(std::string_view line, std::string_view& tag, std::string_view& value, std::string& joined) {
  std::string_view work = TrimFront(line);
  if (work.empty() || work.front() != '<') return false;
  const std::size_t gt = work.find('>');
  if (gt == std::string_view::npos || gt < 2) return false;
  tag = work.substr(1, gt - 1);
  // "<tag>" stands at the front by construction; "</tag>" must end the line.
  work.remove_prefix(gt + 1);
  work = TrimBack(work);
  if (work.size() < tag.size() + 3 || !ClosingTagAt(work, work.size() - tag.size() - 3, tag)) return false;
  work.remove_suffix(tag.size() + 3);

  // A repeated element on one line, <t>A</t><t>B</t>, reads as the list "A, B".
  std::size_t at = FindClosingTag(work, tag, 0);
  if (at == std::string_view::npos) {
    value = work;
    return true;
  }
  joined.clear();
  std::size_t from = 0;
  for (; at != std::string_view::npos; at = FindClosingTag(work, tag, at + 1)) {
    const std::size_t next = at + tag.size() + 3;
    if (!OpeningTagAt(work, next, tag)) continue;
    joined.append(work.substr(from, at - from));
    joined += ", ";
    from = next + tag.size() + 2;
    at = from - 1;
  }
  joined.append(work.substr(from));
  value = joined;
  return true;
}

std::optional<Element> ParseElement(std::string_view line) {
  std::string_view tag, value;
  std::string joined;
  if (!ScanElement(line, tag, value, joined)) return std::nullopt;
  return Element{std::string(tag), std::string(value)};
}

void TakeElementPairs(std::string_view text, AttributeMap& attributes) {
  for (;;) {
    text = TrimFront(text);
    if (text.empty() || text.front() != '<') return;
    const std::size_t gt = text.find('>');
    if (gt == std::string_view::npos || gt < 2) return;
    const std::string_view tag = text.substr(1, gt - 1);
    const std::string_view rest = text.substr(gt + 1);
    const std::size_t end = FindClosingTag(rest, tag, 0);
    if (end == std::string_view::npos) return;
    attributes.Set(tag, rest.substr(0, end));
    text = rest.substr(end + tag.size() + 3);
  }
}

std::string_view LabelTabs(std::string_view label) {
  if (label.size() < 8) return "\t\t\t";
  if (label.size() < 16) return "\t\t";
  return "\t";
}

std::string ShortenText(std::string_view text) {
  CaptionText shortened;
  shortened.AppendShortened(text);
  return std::string(shortened.View());
}

}  // namespace quillon
