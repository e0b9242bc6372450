#include "ikev1/payloads/ByteList.h"

namespace quillon {

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
