#include "model/VisibleText.h"

namespace quillon {

bool IsHiddenControl(unsigned char c) { return (c < 0x20 && c != '\t') || (c >= 0x7F && c <= 0x9F); }

void AppendVisibleText(std::string_view text, std::string& out, bool keepLineEnds) {
  static constexpr char kDigits[] = "0123456789abcdef";
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    const bool lineEnd = c == '\n' || (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n');
    if (!IsHiddenControl(c) || (keepLineEnds && lineEnd)) {
      out.push_back(text[i]);
      continue;
    }
    out += "\\x";
    out.push_back(kDigits[c >> 4]);
    out.push_back(kDigits[c & 0x0F]);
  }
}

std::string VisibleText(std::string_view text, bool keepLineEnds) {
  std::string out;
  out.reserve(text.size());
  AppendVisibleText(text, out, keepLineEnds);
  return out;
}

}  // namespace quillon
