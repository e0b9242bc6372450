#include "ikev1/payloads/TransMatch.h"

#include <string_view>

#include "ikev1/log/DebugLogReader.h"
#include "ikev1/payloads/SAPayload.h"

namespace quillon {

namespace {

constexpr std::uint32_t kUnread = 0xFFFFFFFFu;
constexpr std::string_view kFailure = "TransMatchFailure:";
constexpr std::string_view kSuccess = "TransMatchSuccess:";

// Reads the tokens of one transform-match line. A token that cannot belong to the line (a
// payload-block keyword, among them the next transform-match line's, the next packet, a
// "#####" marker) ends the line early: it is left to be read again and every later read of the
// line yields nothing, so that a short line does not swallow what follows it.
class LineTokens {
 public:
  explicit LineTokens(DebugLogReader& reader) : reader_(reader) {}

  bool Broken() const { return broken_; }

  void Skip(int count) {
    for (int i = 0; i < count; ++i) Next();
  }

  std::uint32_t Number() {
    const std::string* t = Next();
    return t != nullptr ? DebugLogReader::ParseHexToken(*t) : kUnread;
  }

  // The rest of the line, without the blanks that separate it from the last token read.
  std::string Rest() {
    if (Stopped()) return {};
    std::string rest = reader_.ReadLineRest();
    const std::size_t start = rest.find_first_not_of(" \t");
    return start == std::string::npos ? std::string() : rest.substr(start);
  }

 private:
  bool Stopped() {
    if (!broken_ && (reader_.IsAbandoned() || reader_.RestartSeen())) broken_ = true;
    return broken_;
  }

  const std::string* Next() {
    if (Stopped()) return nullptr;
    const std::string& t = reader_.ReadToken();
    if (reader_.RestartSeen() || (reader_.AtEnd() && t.empty()) || DebugLogReader::IsBlockKeyword(t) ||
        DebugLogReader::IsHeaderStart(t) || DebugLogReader::IsDebugMarker(t)) {
      if (!reader_.RestartSeen()) reader_.PushBack();
      broken_ = true;
      return nullptr;
    }
    return &t;
  }

  DebugLogReader& reader_;
  bool broken_ = false;
};

}  // namespace

TransMatchRecord::TransMatchRecord(DebugLogReader& reader) {
  if (reader.IsAbandoned() || reader.RestartSeen()) return;
  std::string t = reader.ReadToken();
  while ((t == kFailure || t == kSuccess) && !reader.IsAbandoned() && !reader.RestartSeen()) {
    LineTokens line(reader);
    if (t == kSuccess) {
      success_ = true;
      line.Skip(8);
    } else {
      ++failureCount_;
      line.Skip(1);
      proposalNumbers_.push_back(line.Number());
      line.Skip(3);
      transformNumbers_.push_back(line.Number());
      line.Skip(1);
      transformIds_.push_back(line.Number());
      line.Skip(1);
      reasons_.push_back(line.Rest());
    }
    t = reader.ReadToken();
  }
  reader.PushBack();
}

void TransMatchRecord::ApplyTo(SAPayload& sa) const {
  if (success_) return;
  for (std::size_t i = 0; i < reasons_.size(); ++i)
    sa.MarkNotChosen(proposalNumbers_[i], transformNumbers_[i], transformIds_[i], reasons_[i]);
}

void ReadTransMatchRun(DebugLogReader& reader, LogNode* saPayload) {
  reader.PushBack();  // the run's first keyword
  const TransMatchRecord record(reader);
  // The message's SA link holds the payload the factory made of its SA block.
  if (saPayload != nullptr) record.ApplyTo(*static_cast<SAPayload*>(saPayload));
}

}  // namespace quillon
