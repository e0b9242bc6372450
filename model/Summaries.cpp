#include "model/Summaries.h"

#include "model/LogNode.h"
#include "model/NodeRoles.h"

namespace quillon {

std::string RejectionLine(bool byPeer, std::string_view notifyName) {
  std::string line(byPeer ? "\r\nRejected by peer: " : "\r\nRejected by local host: ");
  line += notifyName;
  return line;
}

void FailureReason::AppendLines(std::string& out) const {
  if (by == By::kNobody) out += kNoResponseLine;
  else out += RejectionLine(by == By::kPeer, notify);
  for (const NotChosen& transform : notChosen) {
    out += "\r\nNot chosen: proposal ";
    out += std::to_string(transform.proposal);
    out += " transform ";
    out += std::to_string(transform.transform);
    out += ' ';
    out += transform.name;
    out += " - ";
    out += transform.reason;
  }
}

std::string FailedNegotiationsLine(std::uint32_t count) {
  if (count == 0) return {};
  return "Number of failed negotiations\t\t\t\t" + std::to_string(count) + "\r\n";
}

std::string TunnelSummaries(const LogNode& peer, bool withTotals) {
  std::string text;
  bool namedTunnelWritten = false;
  for (const auto& tunnel : peer.Children()) {
    const std::string summary = tunnel->SummaryText(withTotals);
    if (summary.empty()) continue;
    if (const auto* named = NodeAs<TunnelNode>(tunnel.get()); named != nullptr && named->HasTunnelAddresses()) {
      text += "\r\n" + std::string(tunnel->Name()) + "\r\n";
      namedTunnelWritten = true;
    } else if (namedTunnelWritten) {
      text += "\r\nOther negotiations:\r\n";
    }
    text += summary;
  }
  return text;
}

}  // namespace quillon
