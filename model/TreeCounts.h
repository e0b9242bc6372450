// Counts of what a loaded log holds: peers, tunnels, negotiations (failed ones apart),
// packets and payloads. Shown by the command-line tool and used by the benchmarks.
#pragma once

#include <cstdint>

#include "model/LogFile.h"

namespace quillon {

struct TreeCounts {
  std::uint64_t peers = 0;
  std::uint64_t tunnels = 0;
  std::uint64_t negotiations = 0;  // exchanges; daemon-restart markers are not negotiations
  std::uint64_t failed = 0;        // negotiations that are not complete
  std::uint64_t packets = 0;       // messages (an informational exchange is its own packet)
  std::uint64_t payloads = 0;      // the payloads of the packets, headers not counted

  TreeCounts& operator+=(const TreeCounts& other) {
    peers += other.peers;
    tunnels += other.tunnels;
    negotiations += other.negotiations;
    failed += other.failed;
    packets += other.packets;
    payloads += other.payloads;
    return *this;
  }
};

TreeCounts CountTree(const LogFile& root);

}  // namespace quillon
