#include "model/TimelineSvg.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <string_view>

#include "model/TreeRules.h"

namespace quillon {

namespace {

using L = TimelineLayout;

constexpr int kLegendHeight = 22;
constexpr const char* kHistogramFill = "#8da2b8";
constexpr const char* kFailedFill = "#c01010";

// Node names and captions are single-byte text from the log: markup characters are escaped,
// bytes above 127 are written as the Latin-1 characters they are, and control characters,
// which XML does not allow at all, become '?'.
void AppendEscaped(std::string& out, std::string_view text) {
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default:
        if (byte >= 0x80) {
          char ref[8];
          std::snprintf(ref, sizeof ref, "&#%u;", byte);
          out += ref;
        } else if (byte < 0x20 && c != '\t' && c != '\n') {
          out += '?';
        } else {
          out += c;
        }
    }
  }
}

std::string Colour(int icon) {
  const TimelineColour c = StateColour(icon);
  char text[8];
  std::snprintf(text, sizeof text, "#%02x%02x%02x", c.r, c.g, c.b);
  return text;
}

std::string Number(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", value);
  std::string s = text;
  if (s.size() > 2 && s.compare(s.size() - 2, 2, ".0") == 0) s.resize(s.size() - 2);
  return s;
}

void Rect(std::string& out, double x, double y, double w, double h, const std::string& fill,
          const char* cls = nullptr) {
  out += "<rect";
  if (cls != nullptr) out += std::string(" class=\"") + cls + "\"";
  out += " x=\"" + Number(x) + "\" y=\"" + Number(y) + "\" width=\"" + Number(w) + "\" height=\"" + Number(h) +
         "\" fill=\"" + fill + "\"";
}

void Text(std::string& out, double x, double y, std::string_view text, const char* extra = "") {
  out += "<text x=\"" + Number(x) + "\" y=\"" + Number(y) + "\"" + extra + ">";
  AppendEscaped(out, text);
  out += "</text>\n";
}

// A lane's label: the peer's name, or the tunnel's caption indented below its peer; cut to what
// fits beside the chart.
std::string LaneLabel(const TimelineLane& lane) {
  std::string label = lane.isTunnel ? "  " + lane.node->Caption() : std::string(lane.node->Name());
  constexpr std::size_t kMaxChars = 27;
  if (label.size() > kMaxChars) label = label.substr(0, kMaxChars - 2) + "..";
  return label;
}

}  // namespace

std::string TimelineSvg(const TimelineData& data, int width) {
  width = std::max(width, 400);
  const int chart = width - L::kLabelWidth;
  std::string out;
  out += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  if (!data.HasTimes()) {
    out += "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + std::to_string(width) + "\" height=\"60\">\n";
    Rect(out, 0, 0, width, 60, "#ffffff");
    out += "/>\n";
    Text(out, width / 2.0, 34, kNoTimesText, " text-anchor=\"middle\" font-family=\"sans-serif\" font-size=\"14\"");
    out += "</svg>\n";
    return out;
  }

  const TimelineLanes lanes = LayOutLanes(data, nullptr);
  TimeAxis axis;
  axis.Fit(data.SpanStart(), data.SpanEnd(), chart);
  const int lanesTop = L::kAxisHeight + L::kHistogramHeight + 4;
  const int lanesHeight = static_cast<int>(lanes.lanes.size()) * L::kLaneHeight;
  const int height = lanesTop + lanesHeight + 4 + kLegendHeight;

  out += "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + std::to_string(width) + "\" height=\"" +
         std::to_string(height) + "\" font-family=\"sans-serif\" font-size=\"10\">\n";
  out += "<title>";
  AppendEscaped(out, "Negotiations from " + TimelineTimeText(data.SpanStart()) + " to " +
                         TimelineTimeText(data.SpanEnd()));
  out += "</title>\n";
  Rect(out, 0, 0, width, height, "#ffffff");
  out += "/>\n";

  // Time axis, with faint lines down through the histogram and the lanes.
  out += "<g class=\"axis\">\n";
  for (const TimelineTick& tick : Ticks(axis, chart, L::kTickSpacing)) {
    const double x = L::kLabelWidth + tick.x;
    out += "<line x1=\"" + Number(x) + "\" y1=\"" + std::to_string(L::kAxisHeight - 4) + "\" x2=\"" + Number(x) +
           "\" y2=\"" + std::to_string(lanesTop + lanesHeight) + "\" stroke=\"#e0e0e0\"/>\n";
    // A label that would run past the right edge is left out; its line stays.
    if (tick.x + 2 + 6.0 * static_cast<double>(tick.label.size()) <= chart)
      Text(out, x + 2, L::kAxisHeight - 6, tick.label, " fill=\"#404040\"");
  }
  out += "</g>\n";

  // Histogram: negotiations per bucket, failures stacked at the bottom in red.
  const std::vector<TimelineBucket> buckets = Histogram(data, axis, chart, L::kBucketPixels);
  std::uint32_t most = 1;
  for (const TimelineBucket& bucket : buckets) most = std::max(most, bucket.total);
  const double base = L::kAxisHeight + L::kHistogramHeight;
  const double scale = (L::kHistogramHeight - 4) / static_cast<double>(most);
  out += "<g class=\"histogram\">\n";
  for (const TimelineBucket& bucket : buckets) {
    if (bucket.total == 0) continue;
    const double x = L::kLabelWidth + std::max(bucket.x0, 0.0);
    const double w = std::max(std::min(bucket.x1, static_cast<double>(chart)) - std::max(bucket.x0, 0.0) - 1, 1.0);
    const double h = bucket.total * scale, hf = bucket.failed * scale;
    Rect(out, x, base - h, w, h - hf, kHistogramFill);
    out += "><title>";
    AppendEscaped(out, TimelineTimeText(bucket.start) + ": " + std::to_string(bucket.total) + " negotiations, " +
                           std::to_string(bucket.failed) + " failed");
    out += "</title></rect>\n";
    if (bucket.failed > 0) {
      Rect(out, x, base - hf, w, hf, kFailedFill);
      out += "/>\n";
    }
  }
  Text(out, 4, L::kAxisHeight + 12, "Negotiations", " fill=\"#404040\"");
  Text(out, 4, L::kAxisHeight + 24, std::to_string(most) + " at most", " fill=\"#808080\"");
  out += "</g>\n";

  // Lanes.
  out += "<g class=\"lanes\">\n";
  for (std::size_t i = 0; i < lanes.lanes.size(); ++i) {
    const TimelineLane& lane = lanes.lanes[i];
    const int y = lanesTop + static_cast<int>(i) * L::kLaneHeight;
    if (i % 2 == 1) {
      Rect(out, 0, y, width, L::kLaneHeight, "#f4f6f8");
      out += "/>\n";
    }
    Text(out, 4, y + L::kLaneHeight - 3, LaneLabel(lane));
    const double barTop = y + (L::kLaneHeight - L::kBarHeight) / 2.0;
    for (const TimelineRun& run : LaneRuns(data, lane, axis, chart)) {
      Rect(out, L::kLabelWidth + run.x0, barTop, run.x1 - run.x0, L::kBarHeight, Colour(run.icon), "bar");
      out += "><title>";
      if (run.count > 1) AppendEscaped(out, std::to_string(run.count) + " negotiations, such as: ");
      AppendEscaped(out, data.Bars()[run.bar].node->Caption());
      out += "</title></rect>\n";
    }
  }
  out += "</g>\n";

  // Legend.
  static constexpr std::array<std::pair<int, const char*>, 8> kLegend = {{{kIconPhaseOneFailed, "failed"},
                                                                          {kIconPhaseOneDone, "phase 1 / IKE SA"},
                                                                          {kIconQuickModeDone, "phase 2 / child SA"},
                                                                          {kIconConfigDone, "configuration"},
                                                                          {kIconDelete, "delete"},
                                                                          {kIconInfo, "informational"},
                                                                          {kIconDpd, "dead-peer detection"},
                                                                          {kIconNone, "other"}}};
  const int legendY = lanesTop + lanesHeight + 8;
  int x = L::kLabelWidth;
  for (const auto& [icon, name] : kLegend) {
    Rect(out, x, legendY, 10, 10, Colour(icon));
    out += "/>\n";
    Text(out, x + 14, legendY + 9, name);
    x += 24 + static_cast<int>(std::string_view(name).size()) * 6;
  }
  out += "</svg>\n";
  return out;
}

}  // namespace quillon
