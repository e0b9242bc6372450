// IPv4 addresses as the logs carry them: 32-bit values in host order, most significant byte
// printed first.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace quillon {

// "a.b.c.d" of the four bytes, most significant first.
std::string FormatIPv4(std::uint32_t address);

// Reads "%u.%u.%u.%u" from the start of the text; 0 unless all four numbers are read.
std::uint32_t ParseIPv4(std::string_view text);

// The daemon sometimes logs a small peer index (1..65278) where an address belongs.
inline bool IsLowRangeAddress(std::uint32_t address) { return address >= 1 && address <= 0xFEFE; }

}  // namespace quillon
