// Texts of the diagnosis that both log formats write: the rejection or missing answer that
// ended a failed negotiation, the count of failed negotiations, and a peer's statistics under
// its tunnels' names.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace quillon {

class QLFolder;

// Every summary of a negotiation starts with this heading.
inline constexpr std::string_view kSummaryHeading = "\r\n\r\nSummary:";
inline constexpr std::string_view kNoResponseLine = "\r\nNo response from peer";

// Who turned the negotiation down, by an error notification of that name: the peer (it sent
// the notification) or the local host (it sent one to the peer).
std::string RejectionLine(bool byPeer, std::string_view notifyName);

// "Number of failed negotiations", tabs, the count and a line end; empty for 0.
std::string FailedNegotiationsLine(std::uint32_t count);

// A peer's statistics: each tunnel's summary that is not empty, under the tunnel's name; the
// negotiations without tunnel addresses come last, as "Other negotiations" when a named tunnel
// precedes them.
std::string TunnelSummaries(const QLFolder& peer, bool withTotals);

}  // namespace quillon
