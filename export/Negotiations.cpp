#include "export/Negotiations.h"

#include <string_view>

#include "model/NodeKind.h"
#include "model/Summaries.h"
#include "model/Timeline.h"
#include "model/TreeRules.h"

namespace quillon::hand_over {

std::vector<ShownNegotiation> NegotiationsOf(const LogNode& peer) {
  std::vector<ShownNegotiation> out;
  for (const LogNode* child : VisibleChildren(peer)) {
    if (child->IsTunnel()) {
      for (const LogNode* exchange : VisibleChildren(*child)) {
        if (!IsRestartMarker(*exchange)) out.push_back({child, exchange});
      }
    } else if (!IsRestartMarker(*child)) {
      out.push_back({nullptr, child});
    }
  }
  return out;
}

bool IsRestartMarker(const LogNode& node) { return node.Kind() == NodeKind::kRestart; }

bool IsFailedNegotiation(const LogNode& exchange) { return !exchange.IsComplete(); }

std::vector<std::string> DiagnosisLines(const LogNode& exchange) {
  std::vector<std::string> lines;
  const std::string text = exchange.SummaryText(false);
  std::string_view rest = text;
  if (rest.starts_with(kSummaryHeading)) rest.remove_prefix(kSummaryHeading.size());
  while (!rest.empty()) {
    const std::size_t end = rest.find("\r\n");
    std::string_view line = rest.substr(0, end);
    while (!line.empty() && (line.back() == '\t' || line.back() == ' ' || line.back() == '\r')) line.remove_suffix(1);
    while (!line.empty() && (line.front() == '\t' || line.front() == ' ')) line.remove_prefix(1);
    if (!line.empty()) lines.emplace_back(line);
    if (end == std::string_view::npos) break;
    rest.remove_prefix(end + 2);
  }
  return lines;
}

}  // namespace quillon::hand_over
