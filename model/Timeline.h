// The timeline of a loaded log: every negotiation with packet times becomes a bar from its first
// to its last packet, in a lane per peer (and per tunnel of an expanded peer), with a histogram
// of negotiations over time above the lanes. This file holds the data and the geometry only:
// which bars there are, how time maps to pixels, and what one pixel column of a lane or one
// histogram bucket shows. The viewer's panel and the command-line tool's picture draw from it.
//
// Everything is computed from the generic node operations and the visible-tree rules: each
// negotiation tells its own time span (a debug log's from its packets' date and time texts, an
// IKEv2 exchange's from its messages' arrival times), so both formats have a timeline; a tree
// without any times has no bars at all.
//
// Scale: a day of a busy gateway holds tens of thousands of negotiations. A lane's bars are
// kept in start order, so drawing a view looks only at the bars inside it, and everything that
// falls into one pixel column is drawn once, in the colour of its most telling state.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "model/LogNode.h"

namespace quillon {

// What the panel and the picture say instead of an empty chart.
inline constexpr const char* kNoTimesText = "No times in this log";

// One negotiation: seconds since 1970-01-01 of its first and last packet (as logged, in whole
// seconds), its node, the group it belongs to and its state icon (model/TreeRules.h).
struct TimelineBar {
  std::int64_t start = 0;
  std::int64_t end = 0;
  const LogNode* node = nullptr;
  std::uint32_t group = 0;
  std::uint8_t icon = 0;
};

// The negotiations of one peer that stand below one shown tunnel, or directly below the peer
// (where the tunnel has no addresses and is not a level of the tree).
struct TimelineGroup {
  const LogNode* node = nullptr;  // the tunnel, or the peer for negotiations directly below it
  std::uint32_t peer = 0;          // index into Peers()
  bool isTunnel = false;
};

class TimelineData {
 public:
  TimelineData() = default;
  // Collects the bars of the tree below `root` as the tree shows it: the root's shown children
  // are the peers, a peer's shown tunnels hold negotiations, other shown children of a peer are
  // negotiations themselves. A negotiation's times are its TimeSpan; negotiations without a
  // readable time are left out.
  static TimelineData FromTree(const LogNode& root);

  bool HasTimes() const { return !bars_.empty(); }
  // All bars in order of their start (ties in tree order).
  const std::vector<TimelineBar>& Bars() const { return bars_; }
  const std::vector<const LogNode*>& Peers() const { return peers_; }
  const std::vector<TimelineGroup>& Groups() const { return groups_; }
  // The earliest start and the latest end of all bars (0 without bars).
  std::int64_t SpanStart() const { return spanStart_; }
  std::int64_t SpanEnd() const { return spanEnd_; }

  // The bar of `node` or of its nearest ancestor that has one; -1 when none has.
  std::ptrdiff_t BarOf(const LogNode* node) const;
  // The bytes this structure holds (for the memory budget against the tree's).
  std::size_t MemoryBytes() const;

 private:
  std::vector<TimelineBar> bars_;
  std::vector<const LogNode*> peers_;
  std::vector<TimelineGroup> groups_;
  std::vector<std::uint32_t> byNode_;  // bar indices ordered by node address
  std::int64_t spanStart_ = 0;
  std::int64_t spanEnd_ = 0;
};

// One row of the chart: a peer, or (below an expanded peer) one of its shown tunnels.
struct TimelineLane {
  const LogNode* node = nullptr;
  std::uint32_t peer = 0;
  bool isTunnel = false;
  std::vector<std::uint32_t> bars;  // indices into Bars(), in start order
  std::int64_t longest = 0;         // the longest bar's duration, to find bars that reach into a view
};

struct TimelineLanes {
  std::vector<TimelineLane> lanes;
  std::vector<int> laneOfPeer;   // by peer index
  std::vector<int> laneOfGroup;  // by group index; -1 when the group has no lane of its own
};

// A lane per peer in the tree's order; an expanded peer is followed by a lane per shown tunnel.
// Negotiations directly below a peer appear in the peer's lane only.
TimelineLanes LayOutLanes(const TimelineData& data, const std::function<bool(const LogNode& peer)>& expanded);

// Time to pixels: x = (t - origin) / secondsPerPixel, x measured from the chart's left edge.
class TimeAxis {
 public:
  // The deepest zoom: one second is this many pixels wide.
  static constexpr double kMaxPixelsPerSecond = 200.0;

  double Origin() const { return origin_; }
  double SecondsPerPixel() const { return secondsPerPixel_; }
  double X(double seconds) const { return (seconds - origin_) / secondsPerPixel_; }
  double TimeAt(double x) const { return origin_ + x * secondsPerPixel_; }

  // The whole span [start, end] across `width` pixels, with a little room at both ends; a span
  // of less than a minute is shown as a minute around its middle.
  void Fit(std::int64_t start, std::int64_t end, int width);
  // Zooms by `factor` (> 1 zooms in) keeping the time under pixel `x` where it is. The scale
  // stays between the deepest zoom and `maxSecondsPerPixel` (the fitted scale, or wider).
  void ZoomAround(double x, double factor, double maxSecondsPerPixel);
  // Moves the picture `dx` pixels to the right (the view to earlier times).
  void PanBy(double dx) { origin_ -= dx * secondsPerPixel_; }
  void Set(double origin, double secondsPerPixel);

 private:
  double origin_ = 0;
  double secondsPerPixel_ = 1;
};

// What a lane shows across `width` pixel columns: runs of adjacent columns of one state icon.
// A column takes the state of highest rank among the bars that touch it; `bar` is the first
// such bar of the run's state and `count` the number of bars touching the run's columns.
struct TimelineRun {
  int x0 = 0;  // first column
  int x1 = 0;  // one past the last column
  std::uint8_t icon = 0;
  std::uint32_t bar = 0;
  std::uint32_t count = 0;
};
std::vector<TimelineRun> LaneRuns(const TimelineData& data, const TimelineLane& lane, const TimeAxis& axis, int width);

// The bar under column `x` of a lane, looking `slack` columns to either side when none touches
// it exactly: the one of highest rank, the nearest; -1 when there is none.
std::ptrdiff_t BarAt(const TimelineData& data, const TimelineLane& lane, const TimeAxis& axis, double x, int slack = 2);

// The histogram: negotiations counted by the bucket of their start. Buckets are a round
// duration (1 s, 5 s, 1 min, 15 min, 1 h, ...) at least `bucketPixels` wide, aligned on whole
// multiples of it, so that panning does not move counts between buckets.
struct TimelineBucket {
  double x0 = 0;
  double x1 = 0;
  std::int64_t start = 0;  // seconds
  std::int64_t seconds = 0;
  std::uint32_t total = 0;
  std::uint32_t failed = 0;
};
std::vector<TimelineBucket> Histogram(const TimelineData& data, const TimeAxis& axis, int width, int bucketPixels);

// Labelled marks on the time axis, at least `minSpacing` pixels apart, at round times.
struct TimelineTick {
  double x = 0;
  std::string label;  // "Mar 12" at midnight or for steps of days, else "09:30" or "09:30:15"
};
std::vector<TimelineTick> Ticks(const TimeAxis& axis, int width, int minSpacing);

// "Tue Mar 12 2024 09:30:15" for seconds since 1970.
std::string TimelineTimeText(std::int64_t seconds);

// Colours of the states: those of the state icons (red for every failure, blue and green for
// completed phases, teal for configuration, greys for deletes, informational and dead-peer
// detection).
struct TimelineColour {
  std::uint8_t r = 0, g = 0, b = 0;
};
TimelineColour StateColour(int icon);
// Which state shows when several meet in one pixel: failures first, then deletes, completed
// negotiations, configuration, informational, dead-peer detection.
int StateRank(int icon);
bool IsFailedState(int icon);

// The picture's proportions, shared by the viewer's panel and the written picture.
struct TimelineLayout {
  static constexpr int kLabelWidth = 170;
  static constexpr int kAxisHeight = 18;
  static constexpr int kHistogramHeight = 56;
  static constexpr int kLaneHeight = 14;
  static constexpr int kBarHeight = 10;
  static constexpr int kBucketPixels = 4;
  static constexpr int kTickSpacing = 90;
};

}  // namespace quillon
