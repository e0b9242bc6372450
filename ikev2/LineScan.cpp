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

std::string OpeningTag(std::string_view tag) {
  std::string text;
  text.reserve(tag.size() + 2);
  text += '<';
  text += tag;
  text += '>';
  return text;
}

std::string ClosingTag(std::string_view tag) {
  std::string text;
  text.reserve(tag.size() + 3);
  text += "</";
  text += tag;
  text += '>';
  return text;
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

void ParseAttributes(std::string_view line, AttributeMap& attributes) {
  for (;;) {
    line = TrimFront(line);
    const std::size_t equals = line.find('=');
    if (equals == std::string_view::npos) return;
    std::string name(line.substr(0, equals));
    // Skip the "=" and the opening quote; the quote itself is not checked.
    line.remove_prefix(std::min(line.size(), equals + 2));
    const std::size_t quote = line.find('"');
    if (quote == std::string_view::npos) return;
    attributes[std::move(name)] = std::string(line.substr(0, quote));
    line.remove_prefix(quote + 1);
  }
}

std::optional<Element> ParseElement(std::string_view line) {
  std::string_view work = TrimFront(line);
  if (work.empty() || work.front() != '<') return std::nullopt;
  const std::size_t gt = work.find('>');
  if (gt == std::string_view::npos || gt < 2) return std::nullopt;
  Element element;
  element.tag.assign(work.substr(1, gt - 1));
  if (!StripToken(work, OpeningTag(element.tag), true)) return std::nullopt;
  const std::string closing = ClosingTag(element.tag);
  if (!Contains(work, closing)) return std::nullopt;
  if (!StripToken(work, closing, false)) return std::nullopt;

  // A repeated element on one line, <t>A</t><t>B</t>, reads as the list "A, B".
  const std::string opening = OpeningTag(element.tag);
  element.value.reserve(work.size());
  std::size_t from = 0;
  std::size_t search = 0;
  for (std::size_t at = work.find(closing); at != std::string_view::npos; at = work.find(closing, search)) {
    const std::size_t next = at + closing.size();
    if (work.substr(next, opening.size()) != opening) {
      search = at + 1;
      continue;
    }
    element.value.append(work.substr(from, at - from));
    element.value += ", ";
    from = search = next + opening.size();
  }
  element.value.append(work.substr(from));
  return element;
}

void TakeElementPairs(std::string_view text, AttributeMap& attributes) {
  for (;;) {
    text = TrimFront(text);
    if (text.empty() || text.front() != '<') return;
    const std::size_t gt = text.find('>');
    if (gt == std::string_view::npos || gt < 2) return;
    const std::string_view tag = text.substr(1, gt - 1);
    const std::string closing = ClosingTag(tag);
    const std::string_view rest = text.substr(gt + 1);
    const std::size_t end = rest.find(closing);
    if (end == std::string_view::npos) return;
    attributes[std::string(tag)] = std::string(rest.substr(0, end));
    text = rest.substr(end + closing.size());
  }
}

std::string_view LabelTabs(std::string_view label) {
  if (label.size() < 8) return "\t\t\t";
  if (label.size() < 16) return "\t\t";
  return "\t";
}

std::string ShortenText(std::string_view text) {
  if (text.size() <= 19) return std::string(text);
  std::string shortened(text.substr(0, 16));
  shortened += "...";
  return shortened;
}

}  // namespace quillon
