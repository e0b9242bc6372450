// What the hand-over outputs say of a negotiation, from the tree as it is shown: the
// negotiations of a peer (below its shown tunnels or directly below it), whether one failed,
// and its diagnosis, the lines its summary gives (the rejection, the missing answer, the
// repeated or immediate delete).
#pragma once

#include <string>
#include <vector>

#include "model/LogNode.h"

namespace quillon::hand_over {

struct ShownNegotiation {
  const LogNode* tunnel;    // the shown tunnel it stands in, null when it stands below the peer
  const LogNode* exchange;
};

// A daemon restart's marker, which stands among the negotiations but is none.
bool IsRestartMarker(const LogNode& node);

// The negotiations of a peer in tree order, without restart markers.
std::vector<ShownNegotiation> NegotiationsOf(const LogNode& peer);

// The negotiation did not complete: the tree marks it "Failed!", and the counts count it.
bool IsFailedNegotiation(const LogNode& exchange);

// The lines of the negotiation's summary, without the heading and empty lines: the rejection
// or the missing answer, a line per transform not chosen, the repeated or immediate delete.
std::vector<std::string> DiagnosisLines(const LogNode& exchange);

}  // namespace quillon::hand_over
