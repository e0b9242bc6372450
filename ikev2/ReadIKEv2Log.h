// Reading a whole IKEv2 XML log into the log root.
#pragma once

#include "ikev2/LogLineReader.h"
#include "model/LogFile.h"

namespace quillon {

// Names the root "IKEv2 debugging info", reads every exchange of the log and groups the
// exchanges into peers (by the <peerIP> text) and tunnels. A log with at least one line is an
// IKEv2 log; one that has lines but no exchange start line "<Exchange" is marked wrong format.
// Returns whether the peers must be regrouped: an exchange carried an identity that is a
// peer index, or a peer is named by an index instead of an address.
bool ReadIKEv2Exchanges(LogFile& root, LogLineReader& reader);

// ReadIKEv2Exchanges followed by the regrouping of indexed peers when one is needed.
void ReadIKEv2Log(LogFile& root, LogLineReader& reader);

}  // namespace quillon
