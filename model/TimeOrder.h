// The time order of the negotiations of a tunnel that the log root's regrouping fills (both log
// formats): by start time, a first-phase negotiation before the others that started at the same
// moment.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "model/LogNode.h"

namespace quillon {

// What places an exchange in time order: its start time in seconds, and whether it goes
// before exchanges that started at the same moment (a first-phase negotiation). Empty without
// a start time.
struct TimeOrderKey {
  std::int64_t start = 0;
  bool first = false;
};
std::optional<TimeOrderKey> TimeOrderKeyOf(const LogNode& exchange);

// The position at which `exchange` goes among the tunnel's exchanges in time order: before the
// first exchange that started later; a first-phase negotiation also goes before one that
// started at the same moment. An exchange without a start time goes last. `timeOrdered` tells
// that the tunnel's exchanges with a start time are already in time order: the place is then
// looked for by halving, with the same result.
std::size_t TimeOrderPosition(const LogNode& tunnel, const LogNode& exchange, bool timeOrdered = false);

// The regrouping inserts exchanges one by one at their place in time order: an exchange goes
// before the first that started later, a first-phase one also before one that started at the
// same moment, one without start time last. Returns the order in which to insert the
// `exchanges` (in such an order already) so that the insertions give them back in their order:
// within each run of one start time the first-phase exchanges come in reverse.
std::vector<const LogNode*> InsertionOrder(const std::vector<const LogNode*>& exchanges);

}  // namespace quillon
