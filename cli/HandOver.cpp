#include "cli/HandOver.h"

#include <cstdio>

#include "cli/TreePrinter.h"
#include "export/HtmlReport.h"
#include "export/Negotiations.h"
#include "export/PacketCapture.h"
#include "model/CalendarTime.h"
#include "model/LogLines.h"
#include "model/Timeline.h"
#include "model/TreeRules.h"
#include "platform/SafeFile.h"

namespace quillon::cli {
namespace {

bool Saved(const platform::SaveResult& saved) {
  if (saved.status == platform::SaveResult::Status::kSaved) return true;
  std::fprintf(stderr, "quillon-cli: %s\n", saved.message.c_str());
  return false;
}

std::string ReaderText(const HandOverSource& source) {
  return std::string(source.reader) + (source.compressed ? " (compressed)" : "");
}

// A JSON string of single-byte log text.
void AppendJson(std::string& out, std::string_view text) {
  std::string escaped;
  for (const char c : text) {
    const auto b = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      escaped += '\\';
      escaped += c;
    } else if (b < 0x20 || b == 0x7F) {
      char code[8];
      std::snprintf(code, sizeof code, "\\u%04x", b);
      escaped += code;
    } else {
      escaped += c;
    }
  }
  out += '"';
  out += Latin1ToUtf8(escaped);
  out += '"';
}

// "2024-03-12T09:14:02" for seconds since 1970 (the log's own clock, no zone).
std::string IsoTime(std::int64_t seconds) {
  const std::int64_t days = FloorDiv(seconds, 86400);
  const std::int64_t rest = seconds - days * 86400;
  const CivilDate date = CivilFromDays(days);
  char text[128];
  std::snprintf(text, sizeof text, "%04lld-%02d-%02dT%02lld:%02lld:%02lld", static_cast<long long>(date.year),
                date.month, date.day, static_cast<long long>(rest / 3600),
                static_cast<long long>(rest / 60 % 60), static_cast<long long>(rest % 60));
  return text;
}

}  // namespace

bool WritePacketCaptureFile(const LogFile& root, const std::string& target, const HandOverSource& source,
                            std::string& statsLine) {
  hand_over::PacketCaptureCounts counts;
  if (!Saved(platform::SaveFile(target, source.path, [&](ByteSink& sink) {
        counts = {};
        return hand_over::WritePacketCapture(root, sink, counts);
      })))
    return false;
  statsLine = "packets written: " + std::to_string(counts.written) +
              " (incomplete: " + std::to_string(counts.incomplete) + ")\n";
  return true;
}

bool WriteReportFile(const LogFile& root, const std::string& target, const HandOverSource& source) {
  hand_over::ReportSource report;
  const std::size_t slash = source.path.find_last_of('/');
  report.name = slash == std::string::npos ? source.path : source.path.substr(slash + 1);
  report.path = source.compressed ? std::string() : source.path;
  report.text = source.text;
  report.textSize = source.textSize;
  report.size = source.size;
  report.reader = ReaderText(source);
  return Saved(platform::SaveFile(target, source.path,
                                  [&](ByteSink& sink) { return hand_over::WriteHtmlReport(root, report, sink); }));
}

std::string EventLine(const LogNode& peer, const LogNode* tunnel, const LogNode& exchange,
                      const std::string& linesJson) {
  std::string out = FollowLine(peer, tunnel, exchange, true);
  out.pop_back();  // the closing brace
  std::int64_t first = 0;
  std::int64_t last = 0;
  if (exchange.TimeSpan(first, last)) {
    out += ", \"start\": \"" + IsoTime(first) + "\", \"end\": \"" + IsoTime(last) + "\"";
  } else {
    out += ", \"start\": null, \"end\": null";
  }
  out += ", \"lines\": " + (linesJson.empty() ? std::string("null") : linesJson);
  const bool failed = hand_over::IsFailedNegotiation(exchange);
  out += std::string(", \"failed\": ") + (failed ? "true" : "false");
  if (failed) AppendJsonReason(exchange, out);
  out += ", \"diagnosis\": [";
  bool firstLine = true;
  for (const std::string& line : hand_over::DiagnosisLines(exchange)) {
    if (!firstLine) out += ", ";
    firstLine = false;
    AppendJson(out, line);
  }
  out += "]}";
  return out;
}

std::vector<std::string> EventLines(const std::vector<EventNode>& given, LogLineIndex* index) {
  std::vector<EventNode> nodes;
  for (const EventNode& node : given) {
    if (!hand_over::IsRestartMarker(*node.exchange)) nodes.push_back(node);
  }
  // The lines of every negotiation, counted in one pass over the file.
  std::vector<std::string> linesJson(nodes.size());
  {
    if (index != nullptr && index->IsOpen()) {
      std::vector<LogSpan> spans;
      std::vector<std::size_t> firsts;
      for (const EventNode& node : nodes) {
        firsts.push_back(spans.size());
        const std::vector<LogSpan> own = LogSpansOf(*node.exchange);
        spans.insert(spans.end(), own.begin(), own.end());
      }
      const std::vector<LineRange> ranges = index->Lines(spans);
      for (std::size_t i = 0; i < nodes.size(); ++i) {
        const std::size_t end = i + 1 < nodes.size() ? firsts[i + 1] : ranges.size();
        if (firsts[i] == end) continue;
        const LineRange range = Overall(std::vector<LineRange>(ranges.begin() + static_cast<std::ptrdiff_t>(firsts[i]),
                                                               ranges.begin() + static_cast<std::ptrdiff_t>(end)));
        linesJson[i] = "[" + std::to_string(range.first) + ", " + std::to_string(range.last) + "]";
      }
    }
  }
  std::vector<std::string> out;
  out.reserve(nodes.size());
  for (std::size_t i = 0; i < nodes.size(); ++i)
    out.push_back(EventLine(*nodes[i].peer, nodes[i].tunnel, *nodes[i].exchange, linesJson[i]));
  return out;
}

bool WriteEvents(const LogFile& root, ByteSink& sink, LogLineIndex* lines) {
  std::vector<EventNode> nodes;
  for (const LogNode* peer : VisibleChildren(root)) {
    for (const hand_over::ShownNegotiation& n : hand_over::NegotiationsOf(*peer)) nodes.push_back({peer, n.tunnel, n.exchange});
  }
  BufferedSink out(sink, kPrintBlock);
  for (const std::string& line : EventLines(nodes, lines)) {
    out.Buffer() += line;
    out.Buffer() += '\n';
    if (!out.Written()) return false;
  }
  return out.Flush();
}

}  // namespace quillon::cli
