// quillon-cli's hand-over outputs: the packet capture (--pcap), the HTML report (--report) and
// the negotiation events (--events), one JSON object per line for log shippers.
#pragma once

#include <string>
#include <vector>

#include "model/ByteSink.h"
#include "model/LogFile.h"

namespace quillon::cli {

// What the hand-over options know of the loaded log.
struct HandOverSource {
  std::string path;        // LOG as given
  std::uint64_t size = 0;  // its size when loaded
  bool ikev1Reader = true;
  bool compressed = false;
};

// Writes the packet capture to `target` through the safe file writer (never over LOG);
// `statsLine` is then "packets written: N (incomplete: M)\n" for --stats. Errors go to stderr;
// false when nothing was written.
bool WritePacketCaptureFile(const LogFile& root, const std::string& target, const HandOverSource& source,
                            std::string& statsLine);

// Writes the HTML report to `target` likewise.
bool WriteReportFile(const LogFile& root, const std::string& target, const HandOverSource& source);

// The event of one negotiation: the object --follow --json prints ({"peer", "tunnel",
// "caption", "complete", "icon"}) followed by "start" and "end" (its first and last packet's
// date and time, ISO 8601 without a zone as the log gives none; null without times), "lines"
// ([first, last] of LOG, null when not known), "failed" and "diagnosis" (the lines of its
// summary and of the transforms not chosen). No line end.
std::string EventLine(const QLFolder& peer, const QLFolder* tunnel, const QLFolder& exchange,
                      const std::string& linesJson);

struct EventNode {
  const QLFolder* peer;
  const QLFolder* tunnel;  // the shown tunnel it stands in, or null
  const QLFolder* exchange;
};

// The events of `nodes` but daemon restarts' markers, in their order; the lines are counted in `logPath` in one pass (none
// when it is empty).
std::vector<std::string> EventLines(const std::vector<EventNode>& nodes, const std::string& logPath);

// Every negotiation of the tree as one event per line. `logPath` empty: no line numbers (a
// compressed log's offsets are in the text it holds, not in the file).
bool WriteEvents(const LogFile& root, ByteSink& sink, const std::string& logPath);

}  // namespace quillon::cli
