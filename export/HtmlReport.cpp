#include "export/HtmlReport.h"

#include <cstdio>
#include <vector>

#include "export/Negotiations.h"
#include "model/LogLines.h"
#include "model/Timeline.h"
#include "model/TimelineSvg.h"
#include "model/TreeCounts.h"
#include "model/TreeRules.h"

namespace quillon::hand_over {
namespace {

constexpr std::string_view kStyle = R"(<style>
body { font-family: sans-serif; font-size: 10pt; margin: 1.5em; color: #111; }
h1 { font-size: 15pt; } h2 { font-size: 13pt; margin-top: 1.6em; border-bottom: 1px solid #999; }
h3 { font-size: 11pt; margin-bottom: 0.3em; }
table { border-collapse: collapse; } td, th { text-align: left; padding: 2px 10px 2px 0; vertical-align: top; }
pre { font-family: monospace; font-size: 8.5pt; background: #f4f4f4; border: 1px solid #ddd; padding: 6px;
      white-space: pre-wrap; word-break: break-all; }
.failed { color: #b00000; } .note { color: #555; font-style: italic; }
pre.lines { max-height: 28em; overflow: auto; }
.negotiation { margin-left: 1em; } .timeline svg { max-width: 100%; height: auto; }
@media print {
  body { margin: 0; font-size: 9pt; } pre { font-size: 7.5pt; background: none; }
  pre.lines { max-height: none; overflow: visible; }
  h2, h3 { break-after: avoid-page; } p { break-inside: avoid-page; }
  .timeline { break-inside: avoid-page; }
}
</style>
)";

void Text(std::string& out, std::string_view text) { AppendHtmlText(out, text); }

void Element(std::string& out, std::string_view tag, std::string_view text, std::string_view cls = {}) {
  out += '<';
  out += tag;
  if (!cls.empty()) {
    out += " class=\"";
    out += cls;
    out += '"';
  }
  out += '>';
  Text(out, text);
  out += "</";
  out += tag;
  out += ">\n";
}

void Row(std::string& out, std::string_view label, std::string_view value) {
  out += "<tr><th>";
  Text(out, label);
  out += "</th><td>";
  Text(out, value);
  out += "</td></tr>\n";
}

std::string Number(std::uint64_t n) { return std::to_string(n); }

// The picture without its XML declaration, which has no place inside HTML.
std::string InlineSvg(const TimelineData& timeline) {
  std::string svg = TimelineSvg(timeline, 1100);
  if (svg.starts_with("<?xml")) {
    const std::size_t end = svg.find("?>");
    svg.erase(0, end == std::string::npos ? svg.size() : end + 2);
  }
  // Inside HTML the element needs no namespace, and the file then names no address at all.
  if (const std::size_t ns = svg.find(" xmlns=\"http://www.w3.org/2000/svg\""); ns != std::string::npos)
    svg.erase(ns, 35);
  return svg;
}

struct FailedPeer {
  const LogNode* peer;
  std::vector<ShownNegotiation> failed;
};

}  // namespace

void AppendHtmlText(std::string& out, std::string_view text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto b = static_cast<unsigned char>(text[i]);
    switch (b) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      case '\t':
      case '\n': out += static_cast<char>(b); break;
      case '\r':
        if (i + 1 < text.size() && text[i + 1] == '\n') break;
        [[fallthrough]];
      default:
        if (b < 0x20 || b == 0x7F) {
          char escape[8];
          std::snprintf(escape, sizeof escape, "\\x%02x", b);
          out += escape;
        } else if (b >= 0x80) {
          out += static_cast<char>(0xC0 | b >> 6);
          out += static_cast<char>(0x80 | (b & 0x3F));
        } else {
          out += static_cast<char>(b);
        }
    }
  }
}

bool WriteHtmlReport(const LogFile& root, const ReportSource& source, ByteSink& sink) {
  BufferedSink buffered(sink);
  std::string& out = buffered.Buffer();
  out += "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n<title>";
  Text(out, "Quillon report: " + source.name);
  out += "</title>\n";
  out += kStyle;
  out += "</head>\n<body>\n";
  Element(out, "h1", "Quillon report: " + source.name);

  const TimelineData timeline = TimelineData::FromTree(root);
  out += "<table>\n";
  Row(out, "Log", source.name);
  Row(out, "Size", Number(source.size) + " bytes");
  Row(out, "Time span", timeline.HasTimes() ? TimelineTimeText(timeline.SpanStart()) + " to " +
                                                  TimelineTimeText(timeline.SpanEnd())
                                            : std::string(kNoTimesText));
  Row(out, "Reader", source.reader);
  out += "</table>\n";

  const TreeCounts counts = CountTree(root);
  Element(out, "h2", "Counts");
  out += "<table>\n";
  Row(out, "Peers", Number(counts.peers));
  Row(out, "Tunnels", Number(counts.tunnels));
  Row(out, "Negotiations", Number(counts.negotiations));
  Row(out, "Failed negotiations", Number(counts.failed));
  Row(out, "Packets", Number(counts.packets));
  Row(out, "Payloads", Number(counts.payloads));
  out += "</table>\n";
  Element(out, "h2", "Timeline");
  out += "<div class=\"timeline\">\n";
  out += InlineSvg(timeline);
  out += "</div>\n";
  if (!buffered.Written()) return false;

  std::vector<FailedPeer> failedPeers;
  std::vector<LogSpan> spans;
  for (const LogNode* peer : VisibleChildren(root)) {
    if (!HoldsFailedNegotiation(*peer)) continue;
    FailedPeer entry{peer, {}};
    for (const ShownNegotiation& n : NegotiationsOf(*peer)) {
      if (IsFailedNegotiation(*n.exchange)) entry.failed.push_back(n);
    }
    failedPeers.push_back(std::move(entry));
  }

  Element(out, "h2", "Peers with failed negotiations");
  if (failedPeers.empty()) Element(out, "p", "No peer holds a failed negotiation.", "note");
  std::unique_ptr<LogLineIndex> index;
  if (source.text) index = std::make_unique<LogLineIndex>(source.text, source.textSize);
  else if (!source.path.empty()) index = std::make_unique<LogLineIndex>(source.path);
  // The line numbers of every failed negotiation, counted in one pass over the file.
  std::vector<std::vector<LogSpan>> ownSpans;
  std::vector<LineRange> ranges;
  if (index && index->IsOpen()) {
    std::vector<LogSpan> all;
    for (const FailedPeer& entry : failedPeers) {
      for (const ShownNegotiation& n : entry.failed) {
        ownSpans.push_back(LogSpansOf(*n.exchange));
        all.insert(all.end(), ownSpans.back().begin(), ownSpans.back().end());
      }
    }
    const std::vector<LineRange> lines = index->Lines(all);
    std::size_t at = 0;
    for (const std::vector<LogSpan>& own : ownSpans) {
      const auto first = lines.begin() + static_cast<std::ptrdiff_t>(at);
      ranges.push_back(Overall(std::vector<LineRange>(first, first + static_cast<std::ptrdiff_t>(own.size()))));
      at += own.size();
    }
  }
  std::size_t negotiation = 0;
  for (const FailedPeer& entry : failedPeers) {
    Element(out, "h2", entry.peer->Caption(), "failed");
    for (const ShownNegotiation& n : entry.failed) {
      out += "<div class=\"negotiation\">\n";
      Element(out, "h3", (n.tunnel != nullptr ? n.tunnel->Caption() + " > " : std::string()) + n.exchange->Caption(),
              "failed");
      const std::vector<std::string> diagnosis = DiagnosisLines(*n.exchange);
      out += "<p><b>Diagnosis:</b> ";
      if (diagnosis.empty()) Text(out, "no summary; see the negotiation's text");
      for (std::size_t i = 0; i < diagnosis.size(); ++i) {
        if (i > 0) out += "<br>\n";
        Text(out, diagnosis[i]);
      }
      out += "</p>\n";
      Element(out, "pre", n.exchange->DetailText());
      const std::size_t number = negotiation++;
      if (number < ownSpans.size() && !ownSpans[number].empty()) {
        const std::vector<LogSpan>& own = ownSpans[number];
        const LineRange& range = ranges[number];
        bool cut = false;
        const std::string lines = index->Text(own, kReportLinesPerNegotiation, &cut);
        Element(out, "p", "Log lines " + Number(range.first) + " to " + Number(range.last) +
                              (cut ? " (the first " + Number(kReportLinesPerNegotiation) + " bytes)" : std::string()));
        Element(out, "pre", lines, "lines");
      }
      out += "</div>\n";
      if (!buffered.Written()) return false;
    }
  }


  Element(out, "h2", "Statistics");
  const std::string summary = root.SummaryText(true);
  Element(out, "pre", summary.empty() ? std::string("No problems found.") : summary);
  out += "</body>\n</html>\n";
  return buffered.Flush();
}

}  // namespace quillon::hand_over
