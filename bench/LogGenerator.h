// Writes synthetic IKEv1 debug logs for the benchmarks: packet lines, header blocks, payload
// blocks with hex dumps, packet-debug blocks and daemon noise, in the daemon's layout.
#pragma once

#include <cstdint>
#include <string>

namespace quillon::bench {

// Writes a log of at least `bytes` bytes to `path`; returns the size written.
std::uint64_t WriteDebugLog(const std::string& path, std::uint64_t bytes, unsigned peers = 500);
// Writes hex dump lines only (16 two-digit tokens per line).
std::uint64_t WriteHexDump(const std::string& path, std::uint64_t bytes);

}  // namespace quillon::bench
