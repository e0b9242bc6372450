#include "model/Timeline.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <limits>
#include <optional>

#include "model/CalendarTime.h"
#include "model/TreeRules.h"

namespace quillon {

namespace {

constexpr std::uint32_t kNoBar = std::numeric_limits<std::uint32_t>::max();
constexpr std::int64_t kDay = 86400;

// Round durations for buckets and ticks, in seconds.
constexpr std::array<std::int64_t, 18> kRoundSteps = {1,    2,    5,    10,    15,    30,    60,    120,   300,
                                                      600,  900,  1800, 3600,  7200,  10800, 21600, 43200, kDay};

// The smallest round duration of at least `seconds`; beyond a day, whole days (1, 2, 7, 14,
// 30, then multiples of 30).
std::int64_t RoundStep(double seconds) {
  for (const std::int64_t step : kRoundSteps)
    if (static_cast<double>(step) >= seconds) return step;
  for (const std::int64_t days : {2, 7, 14, 30})
    if (static_cast<double>(days * kDay) >= seconds) return days * kDay;
  const double months = std::ceil(seconds / static_cast<double>(30 * kDay));
  // Beyond any real log; the bound keeps a hostile span's arithmetic finite.
  return static_cast<std::int64_t>(std::min(months, 1e7)) * 30 * kDay;
}


constexpr std::array<const char*, 12> kMonthNames = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                     "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
constexpr std::array<const char*, 7> kDayNames = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};

std::string DayLabel(std::int64_t seconds) {
  const CivilDate c = CivilFromDays(FloorDiv(seconds, kDay));
  char text[16];
  std::snprintf(text, sizeof text, "%s %d", kMonthNames[static_cast<std::size_t>(c.month - 1)], c.day);
  return text;
}

std::string ClockLabel(std::int64_t seconds, bool withSeconds) {
  const std::int64_t s = seconds - FloorDiv(seconds, kDay) * kDay;
  char text[16];
  if (withSeconds)
    std::snprintf(text, sizeof text, "%02d:%02d:%02d", static_cast<int>(s / 3600), static_cast<int>(s / 60 % 60),
                  static_cast<int>(s % 60));
  else
    std::snprintf(text, sizeof text, "%02d:%02d", static_cast<int>(s / 3600), static_cast<int>(s / 60 % 60));
  return text;
}

// Pixel column of a time, clamped into [-1, width] so that far-off bars stay in int range.
int Column(const TimeAxis& axis, std::int64_t seconds, int width) {
  const double x = std::floor(axis.X(static_cast<double>(seconds)));
  return static_cast<int>(std::clamp(x, -1.0, static_cast<double>(width)));
}

// The first bar of a lane that may reach time `from`: bars are in start order and none is
// longer than the lane's longest.
std::vector<std::uint32_t>::const_iterator FirstReaching(const TimelineData& data, const TimelineLane& lane,
                                                         double from) {
  const double earliest = from - static_cast<double>(lane.longest);
  return std::partition_point(lane.bars.begin(), lane.bars.end(), [&](std::uint32_t bar) {
    return static_cast<double>(data.Bars()[bar].start) < earliest;
  });
}

}  // namespace

// ---- data ---------------------------------------------------------------------------------------

TimelineData TimelineData::FromTree(const LogNode& root) {
  TimelineData data;
  for (LogNode* peer : VisibleChildren(root)) {
    const auto peerIndex = static_cast<std::uint32_t>(data.peers_.size());
    data.peers_.push_back(peer);
    std::optional<std::uint32_t> direct;  // the group of negotiations directly below the peer
    auto addBar = [&](const LogNode& negotiation, std::uint32_t group) {
      TimelineBar bar;
      if (!negotiation.TimeSpan(bar.start, bar.end)) return;
      bar.node = &negotiation;
      bar.group = group;
      bar.icon = static_cast<std::uint8_t>(StateIconIndex(negotiation));
      data.bars_.push_back(bar);
    };
    for (LogNode* child : VisibleChildren(*peer)) {
      if (child->IsTunnel()) {
        const auto group = static_cast<std::uint32_t>(data.groups_.size());
        data.groups_.push_back({child, peerIndex, true});
        for (LogNode* negotiation : VisibleChildren(*child)) addBar(*negotiation, group);
      } else {
        if (!direct) {
          direct = static_cast<std::uint32_t>(data.groups_.size());
          data.groups_.push_back({peer, peerIndex, false});
        }
        addBar(*child, *direct);
      }
    }
  }
  std::stable_sort(data.bars_.begin(), data.bars_.end(),
                   [](const TimelineBar& a, const TimelineBar& b) { return a.start < b.start; });
  data.bars_.shrink_to_fit();
  data.byNode_.resize(data.bars_.size());
  for (std::uint32_t i = 0; i < data.byNode_.size(); ++i) data.byNode_[i] = i;
  std::sort(data.byNode_.begin(), data.byNode_.end(), [&data](std::uint32_t a, std::uint32_t b) {
    return std::less<const LogNode*>()(data.bars_[a].node, data.bars_[b].node);
  });
  if (!data.bars_.empty()) {
    data.spanStart_ = data.bars_.front().start;
    data.spanEnd_ = data.bars_.front().end;
    for (const TimelineBar& bar : data.bars_) data.spanEnd_ = std::max(data.spanEnd_, bar.end);
  }
  return data;
}

std::ptrdiff_t TimelineData::BarOf(const LogNode* node) const {
  for (; node != nullptr; node = node->Parent()) {
    const auto found = std::lower_bound(byNode_.begin(), byNode_.end(), node, [this](std::uint32_t bar, const LogNode* n) {
      return std::less<const LogNode*>()(bars_[bar].node, n);
    });
    if (found != byNode_.end() && bars_[*found].node == node) return static_cast<std::ptrdiff_t>(*found);
  }
  return -1;
}

std::size_t TimelineData::MemoryBytes() const {
  return sizeof(*this) + bars_.capacity() * sizeof(TimelineBar) + peers_.capacity() * sizeof(const LogNode*) +
         groups_.capacity() * sizeof(TimelineGroup) + byNode_.capacity() * sizeof(std::uint32_t);
}

TimelineLanes LayOutLanes(const TimelineData& data, const std::function<bool(const LogNode& peer)>& expanded) {
  TimelineLanes result;
  result.laneOfPeer.assign(data.Peers().size(), -1);
  result.laneOfGroup.assign(data.Groups().size(), -1);
  // The groups of each peer, in tree order (groups are numbered in tree order).
  std::size_t group = 0;
  for (std::uint32_t peer = 0; peer < data.Peers().size(); ++peer) {
    result.laneOfPeer[peer] = static_cast<int>(result.lanes.size());
    result.lanes.push_back({data.Peers()[peer], peer, false, {}, 0});
    const bool open = expanded && expanded(*data.Peers()[peer]);
    for (; group < data.Groups().size() && data.Groups()[group].peer == peer; ++group) {
      if (!open || !data.Groups()[group].isTunnel) continue;
      result.laneOfGroup[group] = static_cast<int>(result.lanes.size());
      result.lanes.push_back({data.Groups()[group].node, peer, true, {}, 0});
    }
  }
  for (std::uint32_t i = 0; i < data.Bars().size(); ++i) {
    const TimelineBar& bar = data.Bars()[i];
    const TimelineGroup& owner = data.Groups()[bar.group];
    for (const int lane : {result.laneOfPeer[owner.peer], result.laneOfGroup[bar.group]}) {
      if (lane < 0) continue;
      TimelineLane& target = result.lanes[static_cast<std::size_t>(lane)];
      target.bars.push_back(i);
      target.longest = std::max(target.longest, bar.end - bar.start);
    }
  }
  return result;
}

// ---- axis ---------------------------------------------------------------------------------------

void TimeAxis::Fit(std::int64_t start, std::int64_t end, int width) {
  constexpr double kMinimumSpan = 60;
  const double usable = std::max(width, 1);
  double from = static_cast<double>(start), to = static_cast<double>(end);
  if (to - from < kMinimumSpan) {
    const double middle = (from + to) / 2;
    from = middle - kMinimumSpan / 2;
    to = middle + kMinimumSpan / 2;
  }
  // Two percent of room at each end, so that the first and last bars do not touch the edges.
  const double room = (to - from) * 0.02;
  Set(from - room, (to - from + 2 * room) / usable);
}

void TimeAxis::ZoomAround(double x, double factor, double maxSecondsPerPixel) {
  if (!(factor > 0) || !std::isfinite(factor)) return;
  const double anchor = TimeAt(x);
  const double limit = std::max(maxSecondsPerPixel, 1.0 / kMaxPixelsPerSecond);
  const double scale = std::clamp(secondsPerPixel_ / factor, 1.0 / kMaxPixelsPerSecond, limit);
  Set(anchor - x * scale, scale);
}

void TimeAxis::Set(double origin, double secondsPerPixel) {
  if (std::isfinite(origin)) origin_ = origin;
  if (std::isfinite(secondsPerPixel) && secondsPerPixel > 0) secondsPerPixel_ = secondsPerPixel;
}

// ---- lanes and histogram -----------------------------------------------------------------------

std::vector<TimelineRun> LaneRuns(const TimelineData& data, const TimelineLane& lane, const TimeAxis& axis, int width) {
  std::vector<TimelineRun> runs;
  if (width <= 0 || lane.bars.empty()) return runs;
  const double from = axis.TimeAt(0), to = axis.TimeAt(width);
  const auto first = FirstReaching(data, lane, from);
  // The winning bar of every column.
  std::vector<std::uint32_t> column(static_cast<std::size_t>(width), kNoBar);
  auto end = first;
  for (; end != lane.bars.end(); ++end) {
    const TimelineBar& bar = data.Bars()[*end];
    if (static_cast<double>(bar.start) > to) break;
    if (static_cast<double>(bar.end) < from) continue;
    const int x0 = std::max(Column(axis, bar.start, width), 0);
    const int x1 = std::min(Column(axis, bar.end, width), width - 1);
    const int rank = StateRank(bar.icon);
    for (int x = x0; x <= x1; ++x) {
      std::uint32_t& winner = column[static_cast<std::size_t>(x)];
      if (winner == kNoBar || StateRank(data.Bars()[winner].icon) < rank) winner = *end;
    }
  }
  for (int x = 0; x < width;) {
    const std::uint32_t winner = column[static_cast<std::size_t>(x)];
    if (winner == kNoBar) {
      ++x;
      continue;
    }
    TimelineRun run;
    run.x0 = x;
    run.icon = data.Bars()[winner].icon;
    run.bar = winner;
    while (x < width && column[static_cast<std::size_t>(x)] != kNoBar &&
           data.Bars()[column[static_cast<std::size_t>(x)]].icon == run.icon)
      ++x;
    run.x1 = x;
    runs.push_back(run);
  }
  // How many bars each run stands for (hidden ones of lower rank included).
  for (auto it = first; it != end; ++it) {
    const TimelineBar& bar = data.Bars()[*it];
    if (static_cast<double>(bar.end) < from) continue;
    const int x0 = std::max(Column(axis, bar.start, width), 0);
    const int x1 = std::min(Column(axis, bar.end, width), width - 1);
    auto run = std::partition_point(runs.begin(), runs.end(), [x0](const TimelineRun& r) { return r.x1 <= x0; });
    for (; run != runs.end() && run->x0 <= x1; ++run) ++run->count;
  }
  return runs;
}

std::ptrdiff_t BarAt(const TimelineData& data, const TimelineLane& lane, const TimeAxis& axis, double x, int slack) {
  const double from = axis.TimeAt(std::floor(x) - slack), to = axis.TimeAt(std::floor(x) + slack + 1);
  const double column = std::floor(x);
  std::ptrdiff_t best = -1;
  double bestDistance = 0;
  int bestRank = -1;
  for (auto it = FirstReaching(data, lane, from); it != lane.bars.end(); ++it) {
    const TimelineBar& bar = data.Bars()[*it];
    if (static_cast<double>(bar.start) > to) break;
    if (static_cast<double>(bar.end) < from) continue;
    const double x0 = std::floor(axis.X(static_cast<double>(bar.start)));
    const double x1 = std::floor(axis.X(static_cast<double>(bar.end)));
    const double distance = column < x0 ? x0 - column : column > x1 ? column - x1 : 0;
    if (distance > slack) continue;
    const int rank = StateRank(bar.icon);
    if (best < 0 || distance < bestDistance || (distance == bestDistance && rank > bestRank)) {
      best = static_cast<std::ptrdiff_t>(*it);
      bestDistance = distance;
      bestRank = rank;
    }
  }
  return best;
}

std::vector<TimelineBucket> Histogram(const TimelineData& data, const TimeAxis& axis, int width, int bucketPixels) {
  std::vector<TimelineBucket> buckets;
  if (width <= 0 || !data.HasTimes()) return buckets;
  const std::int64_t step = RoundStep(std::max(bucketPixels, 1) * axis.SecondsPerPixel());
  const double from = std::max(axis.TimeAt(0), static_cast<double>(data.SpanStart()));
  const double to = std::min(axis.TimeAt(width), static_cast<double>(data.SpanEnd()));
  if (from > to) return buckets;
  const std::int64_t firstBucket = FloorDiv(static_cast<std::int64_t>(std::floor(from)), step);
  const std::int64_t lastBucket = FloorDiv(static_cast<std::int64_t>(std::floor(to)), step);
  buckets.resize(static_cast<std::size_t>(lastBucket - firstBucket + 1));
  for (std::size_t i = 0; i < buckets.size(); ++i) {
    TimelineBucket& bucket = buckets[i];
    bucket.start = (firstBucket + static_cast<std::int64_t>(i)) * step;
    bucket.seconds = step;
    bucket.x0 = axis.X(static_cast<double>(bucket.start));
    bucket.x1 = axis.X(static_cast<double>(bucket.start + step));
  }
  const std::int64_t windowStart = firstBucket * step;
  const auto& bars = data.Bars();
  auto it = std::partition_point(bars.begin(), bars.end(),
                                 [windowStart](const TimelineBar& bar) { return bar.start < windowStart; });
  for (; it != bars.end(); ++it) {
    const std::int64_t index = FloorDiv(it->start, step) - firstBucket;
    if (index >= static_cast<std::int64_t>(buckets.size())) break;
    TimelineBucket& bucket = buckets[static_cast<std::size_t>(index)];
    ++bucket.total;
    if (IsFailedState(it->icon)) ++bucket.failed;
  }
  return buckets;
}

std::vector<TimelineTick> Ticks(const TimeAxis& axis, int width, int minSpacing) {
  std::vector<TimelineTick> ticks;
  if (width <= 0) return ticks;
  const std::int64_t step = RoundStep(std::max(minSpacing, 1) * axis.SecondsPerPixel());
  const double from = axis.TimeAt(0), to = axis.TimeAt(width);
  // Steps of several days and months count from 1970-01-01; a few ticks beyond the view at
  // most, so a hostile span never makes a long list.
  std::int64_t t = FloorDiv(static_cast<std::int64_t>(std::ceil(from)) + step - 1, step) * step;
  for (int n = 0; static_cast<double>(t) <= to && n < 4096; t += step, ++n) {
    TimelineTick tick;
    tick.x = axis.X(static_cast<double>(t));
    if (step >= kDay || t % kDay == 0) tick.label = DayLabel(t);
    else tick.label = ClockLabel(t, step < 60);
    ticks.push_back(std::move(tick));
  }
  return ticks;
}

std::string TimelineTimeText(std::int64_t seconds) {
  const CivilDate c = CivilFromDays(FloorDiv(seconds, kDay));
  char text[48];
  std::snprintf(text, sizeof text, "%s %s %02d %lld %s", kDayNames[static_cast<std::size_t>(c.weekday)],
                kMonthNames[static_cast<std::size_t>(c.month - 1)], c.day, static_cast<long long>(c.year),
                ClockLabel(seconds, true).c_str());
  return text;
}

// ---- states -------------------------------------------------------------------------------------

bool IsFailedState(int icon) {
  switch (icon) {
    case kIconPhaseOneFailed:
    case kIconQuickModeFailed:
    case kIconChildSaFailed:
    case kIconInitialFailed:
    case kIconAuthFailed:
    case kIconConfigFailed: return true;
    default: return false;
  }
}

TimelineColour StateColour(int icon) {
  if (IsFailedState(icon)) return {0xC0, 0x10, 0x10};
  switch (icon) {
    case kIconPhaseOneDone:
    case kIconInitialDone:
    case kIconIkeChildSaDone: return {0x10, 0x40, 0xC0};
    case kIconQuickModeDone:
    case kIconIpsecChildSaDone:
    case kIconAuthDone: return {0x10, 0x80, 0x20};
    case kIconConfigDone: return {0x00, 0x80, 0x80};
    case kIconDelete: return {0x80, 0x80, 0x80};
    case kIconInfo: return {0x60, 0x60, 0x60};
    // Dead-peer detection is the gateway's heartbeat: the lightest grey, so that it stays
    // behind everything else.
    case kIconDpd: return {0xB0, 0xB0, 0xB0};
    default: return {0xC8, 0xC8, 0xC8};
  }
}

int StateRank(int icon) {
  if (IsFailedState(icon)) return 7;
  switch (icon) {
    case kIconDelete: return 6;
    case kIconQuickModeDone:
    case kIconIpsecChildSaDone:
    case kIconAuthDone: return 5;
    case kIconPhaseOneDone:
    case kIconInitialDone:
    case kIconIkeChildSaDone: return 4;
    case kIconConfigDone: return 3;
    case kIconInfo: return 2;
    case kIconDpd: return 1;
    default: return 0;
  }
}

}  // namespace quillon
