// Writes synthetic IKEv1 debug logs for the benchmarks, in the daemon's layout: packet lines,
// header blocks, payload blocks with hex dumps, packet-debug blocks, daemon output and restarts.
#pragma once

#include <cstdint>
#include <string>

namespace quillon::bench {

// Writes a log of at least `bytes` bytes to `path`; returns the size written (0 when the file
// cannot be created). The log is a gateway's traffic with `peers` peers over several days:
// main modes and aggressive modes with configuration exchanges, quick modes, dead-peer
// detection, deletes, negotiations that fail (no answer, no proposal chosen, wrong key, wrong
// identities, refused password), peers logged by index, and a daemon restart every 25 MB or so.
// The same arguments always give the same file.
std::uint64_t WriteDebugLog(const std::string& path, std::uint64_t bytes, unsigned peers = 500);
// Writes hex dump lines only (16 two-digit tokens per line).
std::uint64_t WriteHexDump(const std::string& path, std::uint64_t bytes);

}  // namespace quillon::bench
