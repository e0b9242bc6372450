// Reading a whole IKEv1 debug log into the log root.
#pragma once

#include <cstddef>

#include "ikev1/log/DebugLogReader.h"
#include "model/LogFile.h"

namespace quillon {

// How the loader cuts a log into pieces read in parallel. The defaults suit any log; tests set
// small values to cut often.
struct IKEv1ReadOptions {
  std::size_t pieceSize = std::size_t{2} << 20;  // a piece ends at a packet start past this; 0: one reader
  unsigned workers = 0;                          // pieces read while one is placed; 0: one per core
  bool regroup = true;                           // false: the peers stay as logged, not analysed
};

// Names the root "IKE debugging info" and reads a whole IKEv1 debug log into it: every packet
// goes to the peer of its address, which places it in a tunnel and a negotiation; a daemon
// restart ends every open negotiation; indexed peers are regrouped at the end and every peer
// is analysed. Received packet-debug records wait in a table of this load until their packet
// is read. A reader at the start of a source larger than one piece is read in pieces on worker
// threads; the tree is the same as from one reader read through. A reader over text in memory
// (DebugLogReader::FromText) loads exactly as one over a file.
void ReadIKEv1Log(LogFile& root, DebugLogReader& reader, const IKEv1ReadOptions& options = {});

}  // namespace quillon
