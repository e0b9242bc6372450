// The byte list: one 32-bit element per hexadecimal token of a debug-log dump,
// and the text forms every payload, the header and the diagnosis use.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quillon {

// Normally one byte per element; a token with more digits keeps the whole value it spells.
using ByteList = std::vector<std::uint32_t>;

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
