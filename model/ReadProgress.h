// A reader reports how far it has read the file, once per block, so that a viewer can show
// the progress of a long load.
#pragma once

#include <cstdint>
#include <functional>

namespace quillon {

// Called with the number of bytes read from the file so far. It may throw LoadCancelled to stop
// the load: the readers let it pass, and the partly read tree goes with its arena.
using ReadProgress = std::function<void(std::uint64_t bytesRead)>;

struct LoadCancelled {};

}  // namespace quillon
