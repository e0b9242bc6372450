// Following an IKEv1 debug log while the daemon writes it.
//
// The daemon appends one packet after another. A packet's payload chain is read up to the next
// packet, so the last packet of the file is only known to be whole once the next one starts.
// The follower keeps the state of the packet scan between reads: where the scan last stood
// cleanly between packets (everything before is placed for good), and the placing state (the
// peer index, the received packet-debug records waiting for their packet, the restart text).
// Each read scans the bytes appended since that point and places the packets that are whole.
// When the log stops growing for a while, what follows is placed as the end of the log would be
// (the tree is then the one a load of the file as it stands gives) and remembered, so that the
// next read can check that the longer text reads those packets the same way. When it does not
// (the writer paused in the middle of a packet), or when the tree had to be regrouped, the
// caller loads the file again. A log whose peers must be regrouped (negotiations logged under a
// peer index) is regrouped when it stops growing; after that it is loaded again when it grows.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "ikev1/log/DebugLogReader.h"
#include "model/FormatFollower.h"
#include "model/LogFile.h"

namespace quillon {

class IKEv1Follower : public FormatFollower {
 public:
  // `root` receives the log; it must be empty and outlive the follower.
  explicit IKEv1Follower(LogFile& root);
  ~IKEv1Follower();
  IKEv1Follower(const IKEv1Follower&) = delete;
  IKEv1Follower& operator=(const IKEv1Follower&) = delete;

  // Reads the bytes appended to the log since the last call (the whole log at first) and
  // places the packets that are known to be whole.
  Result Append(std::string_view bytes) override;
  // The log has stopped growing for now: what follows the last whole packet is placed as the
  // end of the log, when it ends with a line end (else it is still being written). kReload
  // when the packets placed at the last pause no longer read the same in the longer log.
  Result Settle() override;
  // Changed(): the peers that took packets in the last read, in no particular order (all peers
  // after a daemon restart).

 private:
  struct State;
  // Analyses the changed peers; when `settling`, regroups the peers if they need it.
  Result Finish(bool settling);
  std::unique_ptr<State> state_;
};

}  // namespace quillon
