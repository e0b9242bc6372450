// Where in the log file a node was read from.
//
// The loaders note, for every packet, the byte offsets of the stretch of the file it came from.
// Offsets, not line numbers: the IKEv1 loader reads the file in pieces on worker threads, and
// an offset is known where it is read while a line number needs every line before it counted.
// Line numbers and the lines themselves are taken from the file when someone asks
// (model/LogLines.h).
#pragma once

#include <cstdint>

namespace quillon {

struct LogSpan {
  static constexpr std::uint64_t kToEnd = ~std::uint64_t{0};

  // A byte on the stretch's first line (the line it starts on is the first line).
  std::uint64_t begin = 0;
  // A byte on the line after the stretch's last line; kToEnd: the stretch runs to the end of
  // the file.
  std::uint64_t end = kToEnd;

  friend bool operator==(const LogSpan&, const LogSpan&) = default;
};

}  // namespace quillon
