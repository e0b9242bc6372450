// Writes synthetic logs for the benchmarks: IKEv1 debug logs in the daemon's layout (packet
// lines, header blocks, payload blocks with hex dumps, packet-debug blocks, daemon output and
// restarts) and IKEv2 XML logs in the daemon's line layout. Packets, blocks and elements are
// written by the product's own writers; only the daemon's lines that no writer produces are
// the generator's.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <string_view>
#include <vector>

namespace quillon::bench {

// Writes a log of at least `bytes` bytes to `path`; returns the size written (0 when the file
// cannot be created). The log is a gateway's traffic with `peers` peers over several days:
// main modes and aggressive modes with configuration exchanges, quick modes, dead-peer
// detection, deletes, negotiations that fail (no answer, no proposal chosen, wrong key, wrong
// identities, refused password), peers logged by index, and a daemon restart every
// `restartEvery` bytes or so (0: none). Without `indexedPeers` no peer is logged by index. The
// same arguments always give the same file.
std::uint64_t WriteDebugLog(const std::string& path, std::uint64_t bytes, unsigned peers = 500,
                            std::uint64_t restartEvery = 25ull << 20, bool indexedPeers = true);
// Writes an IKEv2 XML log of at least `bytes` bytes to `path`; returns the size written (0 when
// the file cannot be created). `peers` peers, site-to-site and remote-access, each with one to
// three tunnels: initial exchanges (SA proposals, key exchange, nonces, NAT detection, some
// answered by "Invalid KE payload" and retried), authentication with identities, certificates,
// certificate requests, configuration and EAP rounds, child SAs and rekeys, dead-peer
// detection, deletes of child and IKE SAs, and failures (no answer, no proposal chosen,
// authentication failed, traffic selectors unacceptable, invalid SPI). A few peers are logged
// by their index now and then. The same arguments always give the same file.
std::uint64_t WriteIKEv2Log(const std::string& path, std::uint64_t bytes, unsigned peers = 500);
// Writes hex dump lines only (16 two-digit tokens per line).
std::uint64_t WriteHexDump(const std::string& path, std::uint64_t bytes);

// Where in an IKEv1 debug log the stretches the daemon writes at once start, from `from` on: a
// created packet from its "+++" line (its "Sent:" packet-debug block follows it), a received
// packet from its "Received:" packet-debug block, or its header block when it has none. The
// follow benchmarks append a log one such stretch at a time.
std::vector<std::size_t> PacketUnitStarts(std::string_view text, std::size_t from);

// A thread that appends `count` stretches as the gateway writes them: `append(i)` one at a
// time, after pauses of 80 to 250 ms (the same pauses every run). Before each append its time
// goes to `appended[i]` (sized by the caller); after it `written` counts it.
std::thread AppendPaced(std::size_t count, std::function<void(std::size_t)> append,
                        std::vector<std::chrono::steady_clock::time_point>& appended, std::atomic<std::size_t>& written);

}  // namespace quillon::bench
