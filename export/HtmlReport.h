// A loaded log as one HTML file for a support ticket: what the log is (its name, size, time
// span and reader), its counts, the timeline picture, every peer that holds a failed
// negotiation with each such negotiation's caption, diagnosis, detail text and the log lines it
// was read from, and the statistics.
//
// The file stands alone: its style sheet and its picture are inside it, it names nothing
// outside and holds no script, and it prints on paper as it shows. Every text from the log is
// escaped, so that a log cannot put markup into it; log bytes are taken as code points 0-255
// and control bytes are shown as visible escapes ("\x1b").
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "model/ByteSink.h"
#include "model/ByteSource.h"
#include "model/LogFile.h"

namespace quillon::hand_over {

struct ReportSource {
  std::string name;        // the log's file name as shown in the report
  std::string path;        // the file to read the negotiations' lines from; empty: no lines shown
  std::uint64_t size = 0;  // its size in bytes
  std::string reader;      // "IKEv1", "IKEv2", with " (compressed)" for a compressed log
  // The bytes the tree was read from (the load's own, `textSize` of them); when set, the lines
  // come from them rather than from `path` opened again (a stream, a compressed log's text).
  std::shared_ptr<ByteSource> text;
  std::uint64_t textSize = 0;
};

// At most this many bytes of log lines are shown per negotiation.
inline constexpr std::size_t kReportLinesPerNegotiation = 64 * 1024;

bool WriteHtmlReport(const LogFile& root, const ReportSource& source, ByteSink& sink);

// `text` with &, <, >, " and ' as entities, single-byte text as UTF-8 and control bytes other
// than tab and line feed as "\x1b" (a carriage return before a line feed is dropped).
void AppendHtmlText(std::string& out, std::string_view text);

}  // namespace quillon::hand_over
