#include "logs/LogFormat.h"

#include <algorithm>
#include <cctype>

#include "logs/Compressed.h"

namespace quillon {

namespace {

std::string Lower(std::string_view text) {
  std::string out(text);
  std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return out;
}

// `line` at the start of the text or of a line (leading blanks allowed).
bool HasLineStarting(std::string_view text, std::string_view line) {
  for (std::size_t at = text.find(line); at != std::string_view::npos; at = text.find(line, at + 1)) {
    std::size_t before = at;
    while (before > 0 && (text[before - 1] == ' ' || text[before - 1] == '\t')) --before;
    if (before == 0 || text[before - 1] == '\n' || text[before - 1] == '\r') return true;
  }
  return false;
}

}  // namespace

bool IsIKEv1LogPath(const std::string& path) {
  const std::string name = Lower(WithoutCompressionSuffix(path));
  return name.find(".ilx") != std::string::npos || name.find(".ikev1trace") != std::string::npos;
}

bool HoldsIKEv1Packets(std::string_view head) {
  if (HasLineStarting(head, "##### BEGIN PACKET DEBUG")) return true;
  return HasLineStarting(head, "debugIsakmpHdr:") && head.find(" peer: ") != std::string_view::npos;
}

bool HoldsIKEv2Exchanges(std::string_view head) {
  for (std::size_t at = head.find("<Exchange"); at != std::string_view::npos; at = head.find("<Exchange", at + 1)) {
    const bool lineStart = at == 0 || head[at - 1] == '\n' || head[at - 1] == '\r';
    const std::size_t after = at + 9;
    const bool lineEnd = after < head.size() && (head[after] == '\n' || head[after] == '\r');
    if (lineStart && lineEnd) return head.find("<peerIP>", after) != std::string_view::npos;
  }
  return false;
}

}  // namespace quillon
