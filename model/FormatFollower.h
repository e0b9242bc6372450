// What the follower of one log format does with a log that grows: the one interface the
// follower of a file (logs/FollowLog) drives, whatever the format.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "model/LogNode.h"

namespace quillon {

class FormatFollower {
 public:
  enum class Result {
    kUnchanged,  // nothing new could be placed
    kExtended,   // packets were placed; `Changed()` names the peers that took them
    kReload,     // the tree cannot be extended in place: load the file again
  };
  virtual ~FormatFollower() = default;

  // Reads the bytes appended to the log since the last call (the whole log at first) and
  // places what is known to be whole.
  virtual Result Append(std::string_view bytes) = 0;
  // The log has stopped growing for now: what follows the last whole packet is placed as the
  // end of the log would place it.
  virtual Result Settle() = 0;
  // The peers that took packets in the last call, each once.
  const std::vector<LogNode*>& Changed() const { return changed_; }
  // Bytes of the log given so far.
  std::uint64_t Size() const { return size_; }

 protected:
  // The bookkeeping every Append starts with: the last call's peers are forgotten and the
  // bytes counted. False when there are none.
  bool TakeAppended(std::string_view bytes) {
    changed_.clear();
    size_ += bytes.size();
    return !bytes.empty();
  }

  std::vector<LogNode*> changed_;
  std::uint64_t size_ = 0;
};

}  // namespace quillon
