// Texts of the diagnosis that both log formats write: the rejection or missing answer that
// ended a failed negotiation, the count of failed negotiations, and a peer's statistics under
// its tunnels' names.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quillon {

class LogNode;

// Every summary of a negotiation starts with this heading.
inline constexpr std::string_view kSummaryHeading = "\r\n\r\nSummary:";
inline constexpr std::string_view kNoResponseLine = "\r\nNo response from peer";

// Who turned the negotiation down, by an error notification of that name: the peer (it sent
// the notification) or the local host (it sent one to the peer).
std::string RejectionLine(bool byPeer, std::string_view notifyName);

// Why a negotiation failed, as the diagnosis decided it when the log was read (or followed):
// who turned it down with which error notification, or nobody (no answer came), and the
// transforms the daemon logged as not chosen in the negotiation's SA payloads. Narrowing the
// tree never changes it, even when the notification itself is filtered away.
struct FailureReason {
  enum class By : std::uint8_t { kNobody, kPeer, kLocalHost };
  struct NotChosen {
    std::uint32_t proposal = 0;
    std::uint32_t transform = 0;
    std::string name;    // the transform ID's name, as the transform's row names it
    std::string reason;  // as logged, without leading and trailing blanks and tabs
  };
  By by = By::kNobody;
  std::string notify;  // the error notification's name; empty when nobody rejected it
  std::vector<NotChosen> notChosen;

  // "\r\nNo response from peer" or "\r\nRejected by ...: NAME", then a line per transform not
  // chosen.
  void AppendLines(std::string& out) const;
};

// "Number of failed negotiations", tabs, the count and a line end; empty for 0.
std::string FailedNegotiationsLine(std::uint32_t count);

// A peer's statistics: each tunnel's summary that is not empty, under the tunnel's name; the
// negotiations without tunnel addresses come last, as "Other negotiations" when a named tunnel
// precedes them.
std::string TunnelSummaries(const LogNode& peer, bool withTotals);

}  // namespace quillon
