// Logs the gateway rotated and compressed: gzip, xz and zstd files are told by their first bytes
// (not by their names) and read as the text they hold.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "model/ByteSource.h"

namespace quillon {

enum class Compression { kNone, kGzip, kXz, kZstd };

// The compression a file's first bytes announce: gzip 1f 8b, xz fd 37 7a 58 5a 00, zstd
// 28 b5 2f fd.
Compression CompressionOf(std::string_view head);

// The path without a ".gz", ".xz" or ".zst" suffix (any case), for choosing the reader by the
// name of the log inside.
std::string WithoutCompressionSuffix(const std::string& path);

struct DecompressLimits {
  // The most text it may give; more is "File too large".
  std::uint64_t maxSize = UINT64_MAX;
  // Stop as soon as a NUL byte comes within the first `headBytes` of the text: it is no log.
  bool textOnly = false;
  std::size_t headBytes = 64 * 1024;
};

enum class DecompressStatus {
  kDone,
  kDamaged,   // not a valid stream of that compression, or the source could not be read
  kTooLarge,  // past maxSize, or no memory for more
  kNotText,   // a NUL byte in the head (textOnly)
};

// Decompresses `source` into `text` within the limits; stops at the first fault, `text` then
// holding what came before it.
DecompressStatus Decompress(ByteSource& source, Compression compression, std::string& text,
                            const DecompressLimits& limits);

// Reads the whole compressed input from the start of `source` into `text`. False when it cannot
// be read (the source's Error() says why) or is not a valid stream of that compression (a
// cut-off file included); `text` then holds what was decompressed before the fault.
bool Decompress(ByteSource& source, Compression compression, std::string& text);
// The same for a file opened by its path.
bool DecompressFile(const std::string& path, Compression compression, std::string& text);

}  // namespace quillon
