// quillon-cli's hand-over outputs: the packet capture (--pcap), the HTML report (--report) and
// the negotiation events (--events), one JSON object per line for log shippers.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "model/ByteSink.h"
#include "model/ByteSource.h"
#include "model/LogFile.h"
#include "model/LogLines.h"

namespace quillon::cli {

// What the hand-over options know of the loaded log.
struct HandOverSource {
  std::string path;        // LOG as given
  std::uint64_t size = 0;  // its size when loaded
  const char* reader = "IKEv1";  // the name of the format whose reader read it (LogFormat::name)
  bool compressed = false;
  // The bytes the tree was read from (OpenLogResult::text): the negotiations' lines are counted
  // in them, never in LOG opened again. Null: no lines.
  std::shared_ptr<ByteSource> text;
  std::uint64_t textSize = 0;
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
std::string EventLine(const LogNode& peer, const LogNode* tunnel, const LogNode& exchange,
                      const std::string& linesJson);

struct EventNode {
  const LogNode* peer;
  const LogNode* tunnel;  // the shown tunnel it stands in, or null
  const LogNode* exchange;
};

// The events of `nodes` but daemon restarts' markers, in their order; their lines are counted
// by `lines` in one pass (none when it is null).
std::vector<std::string> EventLines(const std::vector<EventNode>& nodes, LogLineIndex* lines);

// Every negotiation of the tree as one event per line, the lines counted by `lines` (may be null).
bool WriteEvents(const LogFile& root, ByteSink& sink, LogLineIndex* lines);

}  // namespace quillon::cli
