// Reading a whole IKEv2 XML log into the log root.
#pragma once

#include <cstddef>

#include "ikev2/LogLineReader.h"
#include "model/LogFile.h"

namespace quillon {

// How the reader cuts a log into pieces read in parallel. The defaults suit any log; tests set
// small values to cut often.
struct IKEv2ReadOptions {
  std::size_t pieceSize = std::size_t{2} << 20;   // a piece ends at the first start line past this
  std::size_t pieceLimit = std::size_t{32} << 20; // past this without a start line: read in place
  unsigned workers = 0;                           // pieces read while one is placed; 0: one per core
};

// Names the root "IKEv2 debugging info", reads every exchange of the log and groups the
// exchanges into peers (by the <peerIP> text) and tunnels. A log with at least one line is an
// IKEv2 log; one that has lines but no exchange start line "<Exchange" is marked wrong format.
// Returns whether the peers must be regrouped: an exchange carried an identity that is a
// peer index, or a peer is named by an index instead of an address.
bool ReadIKEv2Exchanges(LogFile& root, LogLineReader& reader, const IKEv2ReadOptions& options = {});

// ReadIKEv2Exchanges followed by the regrouping of indexed peers when one is needed.
void ReadIKEv2Log(LogFile& root, LogLineReader& reader, const IKEv2ReadOptions& options = {});

}  // namespace quillon
