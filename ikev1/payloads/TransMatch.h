// The transform-match lines: after choosing among the proposals of an SA payload, the daemon
// logs one line per transform it did not choose and one line when it found a match,
//
//   TransMatchFailure: <word> <proposal> <word> <word> <word> <transform> <word> <id> <word> <reason...>
//   TransMatchSuccess: <eight tokens>
//
// (the numbers in hex). A run of such lines follows the SA's packet in the log; the message's
// chain reader reads it into a TransMatchRecord and, when the run holds no success line, marks
// each failed transform of its SA payload as not chosen with the reason the daemon gave.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quillon {

class DebugLogReader;
class LogNode;
class SAPayload;

class TransMatchRecord {
 public:
  // Reads a run of transform-match lines; the reader stands before the first keyword (or
  // anywhere else: a run that does not start there is empty). The token after the run is left
  // to be read again. A line cut short by the next payload block or packet ends the run there.
  explicit TransMatchRecord(DebugLogReader& reader);

  // A "TransMatchSuccess:" line was among the run.
  bool Success() const { return success_; }
  int FailureCount() const { return failureCount_; }
  const std::vector<std::uint32_t>& ProposalNumbers() const { return proposalNumbers_; }
  const std::vector<std::uint32_t>& TransformNumbers() const { return transformNumbers_; }
  const std::vector<std::uint32_t>& TransformIds() const { return transformIds_; }
  const std::vector<std::string>& Reasons() const { return reasons_; }

  // Marks every failed transform of `sa` as not chosen, in line order; nothing when the run
  // holds a success line.
  void ApplyTo(SAPayload& sa) const;

 private:
  bool success_ = false;
  int failureCount_ = 0;
  std::vector<std::uint32_t> proposalNumbers_;
  std::vector<std::uint32_t> transformNumbers_;
  std::vector<std::uint32_t> transformIds_;
  std::vector<std::string> reasons_;
};

// The chain reader's part (the hook ReadTransformMatchRun of PayloadFactory.h): called with the
// first keyword of the run just read; reads the run and applies it to `saPayload`, the
// message's SA payload (null or not an SAPayload: the run is read and dropped).
void ReadTransMatchRun(DebugLogReader& reader, LogNode* saPayload);

}  // namespace quillon
