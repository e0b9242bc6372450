// Following an IKEv2 XML log while the daemon writes it.
//
// Each exchange of the log is read from its start line ("<Exchange") up to the next start line
// and depends on nothing else, so a log that grows by whole lines grows by whole exchanges but
// for the last one, which may still be written. The follower places every exchange that a later
// start line closes for good, and, when the log stops growing for a while, places the last one as
// the end of the log would, remembering its text: when the log goes on, that exchange must read the same, else the caller loads the
// file again. Text after the last line end is left for the next read.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "model/FormatFollower.h"
#include "model/LogFile.h"

namespace quillon {

class IKEv2Follower : public FormatFollower {
 public:
  explicit IKEv2Follower(LogFile& root);
  ~IKEv2Follower();
  IKEv2Follower(const IKEv2Follower&) = delete;
  IKEv2Follower& operator=(const IKEv2Follower&) = delete;

  // Reads the bytes appended to the log since the last call (the whole log at first).
  Result Append(std::string_view bytes) override;
  // The log has stopped growing for now: the last exchange is placed as the end of the log.
  Result Settle() override;

 private:
  struct State;
  Result Finish(bool settling);
  std::unique_ptr<State> state_;
};

}  // namespace quillon
