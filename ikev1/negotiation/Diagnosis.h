// Diagnosis of an IKEv1 log's negotiations: what a single packet does not show.
//
// After loading, each tunnel looks at its negotiations once and marks three kinds of trouble on
// the exchanges themselves:
// - repeated deletes: the same IPsec SA (same SPI) deleted by more than one informational
//   exchange, the sign of a peer that never saw the first delete or an SA that is torn down
//   again and again;
// - an immediate delete: an IPsec SA deleted less than two minutes after the quick mode that
//   made it completed, typically a proposal or policy the other side accepts and then rejects;
// - successive identical negotiations: the same pair of identities negotiated again within
//   two minutes, a rekey loop.
// The marks, the incomplete negotiations and the notify errors are then counted per tunnel,
// summed per peer and for the whole log, and rendered as the summaries of the detail texts.
// The counts are made when a text is asked for, so that a filter that removed exchanges
// changes the counts shown afterwards; what a negotiation's own text says (its marks, who
// rejected it) is decided once after loading and never changes with the tree's narrowing.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quillon {

class LogNode;

// The counters of one tunnel, a peer or the whole log.
struct NegotiationStatistics {
  std::uint32_t failed = 0;                       // not complete (restart markers included)
  std::uint32_t noProposalChosen = 0;             // informational NO-PROPOSAL-CHOSEN
  std::uint32_t invalidKeyInformation = 0;        // informational INVALID-KEY-INFORMATION
  std::uint32_t invalidIdInformation = 0;         // informational INVALID-ID-INFORMATION
  std::uint32_t repeatedDeleteSas = 0;            // IPsec SAs deleted more than once
  std::uint32_t repeatedDeleteNotifications = 0;  // the deletes of those SAs
  std::string repeatedDeleteSpi;                  // SPI of the last such delete
  std::uint32_t immediateDeletes = 0;             // quick modes whose SA was deleted at once
  std::uint32_t successiveIdentical = 0;          // quick modes repeated for the same identities

  // One SA deleted repeatedly: its SPI and how many deletes named it. A tunnel may hold more
  // than one such SA, and each one's total belongs to its own SPI.
  struct RepeatedDelete {
    std::string spi;
    std::uint32_t notifications = 0;
  };
  std::vector<RepeatedDelete> repeatedDeletes;

  // Adds each counter; the texts and the repeated SAs of `other` follow those of this record.
  NegotiationStatistics& operator+=(const NegotiationStatistics& other);
};

// Marks the repeated deletes, immediate deletes and successive identical quick modes among the
// exchanges of `tunnel`, in the tunnel's order (the marks of an earlier analysis are cleared).
void AnalyzeNegotiations(LogNode& tunnel);

// Decides, for every main, aggressive and quick mode of `peer` that did not complete, who
// rejected it (the error notification that answered it) and stores it on the negotiation.
void DecideRejections(LogNode& peer);

// The statistics of the exchanges of `tunnel`; `record` is reset first.
void CountStatistics(const LogNode& tunnel, NegotiationStatistics& record);

// One line per non-zero counter ("Number of ...", tabs, the number); with totals, each SA
// deleted repeatedly adds the number of its deletes and its SPI. Empty when all are zero.
std::string StatisticsText(const NegotiationStatistics& record, bool withTotals);

}  // namespace quillon
