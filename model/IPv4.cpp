#include "model/IPv4.h"

namespace quillon {

std::string FormatIPv4(std::uint32_t address) {
  std::string text;
  text.reserve(15);
  for (int shift = 24; shift >= 0; shift -= 8) {
    const unsigned byte = (address >> shift) & 0xFF;
    if (byte >= 100) text.push_back(static_cast<char>('0' + byte / 100));
    if (byte >= 10) text.push_back(static_cast<char>('0' + byte / 10 % 10));
    text.push_back(static_cast<char>('0' + byte % 10));
    if (shift != 0) text.push_back('.');
  }
  return text;
}

namespace {

// One "%u" conversion: optional blanks, optional sign, decimal digits, wrapping like the C
// library's unsigned conversion. Returns false when no digit was read.
bool ScanUnsigned(std::string_view text, std::size_t& pos, std::uint32_t& value) {
  while (pos < text.size() && (text[pos] == ' ' || text[pos] == '\t' || text[pos] == '\n' ||
                               text[pos] == '\r' || text[pos] == '\v' || text[pos] == '\f'))
    ++pos;
  bool negative = false;
  if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) negative = text[pos++] == '-';
  const std::size_t start = pos;
  std::uint32_t v = 0;
  while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') v = v * 10 + static_cast<std::uint32_t>(text[pos++] - '0');
  if (pos == start) return false;
  value = negative ? 0u - v : v;
  return true;
}

}  // namespace

std::uint32_t ParseIPv4(std::string_view text) {
  std::size_t pos = 0;
  std::uint32_t result = 0;
  for (int i = 0; i < 4; ++i) {
    if (i > 0) {
      if (pos >= text.size() || text[pos] != '.') return 0;
      ++pos;
    }
    std::uint32_t part = 0;
    if (!ScanUnsigned(text, pos, part)) return 0;
    result = result * 256 + part;
  }
  return result;
}

}  // namespace quillon
