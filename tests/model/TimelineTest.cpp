// The timeline's data and geometry, from small debug logs read by the product's loader: which
// negotiations become bars and where, the lanes, time to pixels and zoom, the aggregation of
// one pixel column, the histogram and the axis.
#include <gtest/gtest.h>

#include <cmath>

#include "../ikev1/negotiation/NegotiationLog.h"
#include "ikev2/ReadIKEv2Log.h"
#include "model/CalendarTime.h"
#include "model/Timeline.h"
#include "model/TimelineSvg.h"
#include "model/TreeRules.h"

#include "tests/ikev2/V2TestLogs.h"

namespace quillon {
namespace {

using negtest::Packet;

const std::string kTunnel = "TunnelLocalIP:0aff0001,TunnelPeerIP:0aff0002";

std::int64_t At(int hour, int minute, int second, int day = 13) {
  return CalendarTime{2006, 11, day, 0, hour, minute, second, 0}.Seconds();
}

Packet WithPeer(Packet p, const std::string& peer, const std::string& tunnel, const std::string& cookie) {
  p.peer = peer;
  p.tunnel = tunnel;
  p.cookie = cookie;
  return p;
}

// Peer 10.0.0.1, tunnel with addresses: a complete main mode 12:00:01..12:00:06 and a quick
// mode that got no third packet (12:30:00, 12:30:04).
// Peer 10.0.0.2, no tunnel addresses: main mode packet 1 only (13:00:00), an informational
// exchange (14:00:00), and one whose packet line has a damaged time.
std::string SmallLog() {
  std::string text = negtest::MainModeLog(6, "0a000001", negtest::kCookie, kTunnel);
  const std::string quickCookie = negtest::kCookie;
  for (int n = 1; n <= 2; ++n)
    text += negtest::Text(WithPeer(negtest::QuickModePacket(n, "00 00 00 01", n == 1 ? "12:30:00" : "12:30:04"),
                                   "0a000001", kTunnel, quickCookie));
  text += negtest::Text(WithPeer(negtest::MainModePacket(1, "13:00:00", "21 22 23 24 25 26 27 28"), "0a000002", "~~",
                                 "21 22 23 24 25 26 27 28"));
  Packet info = negtest::Informational(true, negtest::NotifyBlock("18 (INVALID-ID-INFORMATION)"), "14:00:00");
  text += negtest::Text(WithPeer(info, "0a000002", "~~", "31 32 33 34 35 36 37 38"));
  Packet damaged = negtest::Informational(true, negtest::NotifyBlock("18 (INVALID-ID-INFORMATION)"), "99:77:00");
  text += negtest::Text(WithPeer(damaged, "0a000002", "~~", "41 42 43 44 45 46 47 48"));
  return text;
}

class TimelineTest : public ::testing::Test {
 protected:
  std::unique_ptr<LogFile> log = negtest::Load(SmallLog());
  TimelineData data = TimelineData::FromTree(*log);
};

TEST_F(TimelineTest, NegotiationsBecomeBarsFromFirstToLastPacket) {
  ASSERT_EQ(data.Peers().size(), 2u);
  struct Expected {
    std::int64_t start, end;
    int icon;
    bool inTunnel;
  };
  const std::vector<Expected> expected = {
      {At(12, 0, 1), At(12, 0, 6), kIconPhaseOneDone, true},
      {At(12, 30, 0), At(12, 30, 4), kIconQuickModeFailed, true},
      {At(13, 0, 0), At(13, 0, 0), kIconPhaseOneFailed, false},
      {At(14, 0, 0), At(14, 0, 0), kIconInfo, false},
  };
  // The damaged time gives no bar rather than one far off in time.
  ASSERT_EQ(data.Bars().size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    SCOPED_TRACE(i);
    const TimelineBar& bar = data.Bars()[i];
    EXPECT_EQ(bar.start, expected[i].start);
    EXPECT_EQ(bar.end, expected[i].end);
    EXPECT_EQ(bar.icon, expected[i].icon);
    EXPECT_EQ(data.Groups()[bar.group].isTunnel, expected[i].inTunnel);
    EXPECT_EQ(data.Groups()[bar.group].peer, i < 2 ? 0u : 1u);
  }
  EXPECT_EQ(data.SpanStart(), At(12, 0, 1));
  EXPECT_EQ(data.SpanEnd(), At(14, 0, 0));

  // A packet or payload leads to its negotiation's bar; a peer has none.
  const LogNode* mainMode = data.Bars()[0].node;
  EXPECT_EQ(data.BarOf(mainMode->Child(2)->Child(0)), 0);
  EXPECT_EQ(data.BarOf(data.Peers()[0]), -1);
  EXPECT_EQ(data.BarOf(nullptr), -1);
}

TEST_F(TimelineTest, LanePerPeerAndPerTunnelOfExpandedPeers) {
  const TimelineLanes collapsed = LayOutLanes(data, nullptr);
  ASSERT_EQ(collapsed.lanes.size(), 2u);
  EXPECT_EQ(collapsed.lanes[0].bars, (std::vector<std::uint32_t>{0, 1}));
  EXPECT_EQ(collapsed.lanes[1].bars, (std::vector<std::uint32_t>{2, 3}));

  // Both peers expanded: only the first has a shown tunnel; the second's negotiations stand
  // directly below it and stay in its lane.
  const TimelineLanes open = LayOutLanes(data, [](const LogNode&) { return true; });
  ASSERT_EQ(open.lanes.size(), 3u);
  EXPECT_FALSE(open.lanes[0].isTunnel);
  EXPECT_TRUE(open.lanes[1].isTunnel);
  EXPECT_EQ(open.lanes[1].node, log->Child(0)->Child(0));
  EXPECT_EQ(open.lanes[1].bars, (std::vector<std::uint32_t>{0, 1}));
  EXPECT_EQ(open.lanes[2].bars, (std::vector<std::uint32_t>{2, 3}));
  EXPECT_EQ(open.laneOfGroup[data.Bars()[0].group], 1);
  EXPECT_EQ(open.laneOfGroup[data.Bars()[2].group], -1);
  EXPECT_EQ(open.lanes[1].longest, 5);
}

TEST_F(TimelineTest, TimesToPixelsAndZoomAroundThePointer) {
  constexpr int kWidth = 1000;
  TimeAxis axis;
  axis.Fit(data.SpanStart(), data.SpanEnd(), kWidth);
  // The span fills the width but for a little room at both ends.
  EXPECT_GT(axis.X(static_cast<double>(data.SpanStart())), 0);
  EXPECT_LT(axis.X(static_cast<double>(data.SpanStart())), kWidth * 0.05);
  EXPECT_LT(axis.X(static_cast<double>(data.SpanEnd())), kWidth);
  EXPECT_GT(axis.X(static_cast<double>(data.SpanEnd())), kWidth * 0.95);
  const double fitted = axis.SecondsPerPixel();

  for (const double x : {0.0, 123.0, 500.5, 999.0}) {
    for (const double factor : {2.0, 10.0, 0.7}) {
      TimeAxis zoomed = axis;
      zoomed.ZoomAround(x, factor, fitted);
      EXPECT_NEAR(zoomed.TimeAt(x), axis.TimeAt(x), 1e-6) << x << " " << factor;
    }
  }
  // Never wider than the fitted view, never deeper than the deepest zoom.
  TimeAxis outer = axis;
  outer.ZoomAround(300, 0.01, fitted);
  EXPECT_DOUBLE_EQ(outer.SecondsPerPixel(), fitted);
  TimeAxis inner = axis;
  inner.ZoomAround(300, 1e9, fitted);
  EXPECT_DOUBLE_EQ(inner.SecondsPerPixel(), 1.0 / TimeAxis::kMaxPixelsPerSecond);
  EXPECT_NEAR(inner.TimeAt(300), axis.TimeAt(300), 1e-6);

  // A span shorter than a minute is shown as a minute.
  TimeAxis brief;
  brief.Fit(At(12, 0, 0), At(12, 0, 0), 600);
  EXPECT_NEAR(brief.SecondsPerPixel() * 600, 60 * 1.04, 1e-9);
}

TEST_F(TimelineTest, OnePixelColumnShowsItsMostTellingState) {
  const TimelineLanes lanes = LayOutLanes(data, nullptr);
  const TimelineLane& first = lanes.lanes[0];
  TimeAxis axis;

  // Two hours across 10 pixels: main mode and quick mode (30 minutes apart) share no column.
  axis.Set(static_cast<double>(At(12, 0, 0)), 720);
  std::vector<TimelineRun> runs = LaneRuns(data, first, axis, 10);
  ASSERT_EQ(runs.size(), 2u);
  EXPECT_EQ(runs[0].x0, 0);
  EXPECT_EQ(runs[0].x1, 1);
  EXPECT_EQ(runs[0].icon, kIconPhaseOneDone);
  EXPECT_EQ(runs[1].x0, 2);
  EXPECT_EQ(runs[1].icon, kIconQuickModeFailed);

  // Two days across 10 pixels: both fall into column 0, which shows the failure and counts two.
  axis.Set(static_cast<double>(At(12, 0, 0)), 2 * 86400 / 10.0);
  runs = LaneRuns(data, first, axis, 10);
  ASSERT_EQ(runs.size(), 1u);
  EXPECT_EQ(runs[0].icon, kIconQuickModeFailed);
  EXPECT_EQ(runs[0].bar, 1u);
  EXPECT_EQ(runs[0].count, 2u);

  // Deep zoom: a second is 100 pixels, the main mode's five seconds a run of 501 columns.
  axis.Set(static_cast<double>(At(12, 0, 0)), 0.01);
  runs = LaneRuns(data, first, axis, 1000);
  ASSERT_EQ(runs.size(), 1u);
  EXPECT_EQ(runs[0].x0, 100);
  EXPECT_EQ(runs[0].x1, 601);
  // The bar is found from inside it and within the slack beside it, not farther away.
  EXPECT_EQ(BarAt(data, first, axis, 350), 0);
  EXPECT_EQ(BarAt(data, first, axis, 98), 0);
  EXPECT_EQ(BarAt(data, first, axis, 90), -1);
  // A view that starts inside a long bar still shows it.
  axis.Set(static_cast<double>(At(12, 0, 3)), 0.01);
  runs = LaneRuns(data, first, axis, 100);
  ASSERT_EQ(runs.size(), 1u);
  EXPECT_EQ(runs[0].x0, 0);
  EXPECT_EQ(runs[0].x1, 100);
}

TEST_F(TimelineTest, HistogramCountsStartsPerRoundBucketWithFailures) {
  TimeAxis axis;
  // Three hours over 360 pixels, buckets of at least 4 pixels (two minutes): a 2-minute step.
  axis.Set(static_cast<double>(At(11, 0, 0)), 30);
  const std::vector<TimelineBucket> buckets = Histogram(data, axis, 360, 4);
  ASSERT_FALSE(buckets.empty());
  EXPECT_EQ(buckets.front().seconds, 120);
  std::uint32_t total = 0, failed = 0;
  for (const TimelineBucket& bucket : buckets) {
    EXPECT_EQ(bucket.start % 120, 0);
    EXPECT_NEAR(bucket.x1 - bucket.x0, 4.0, 1e-9);
    total += bucket.total;
    failed += bucket.failed;
    if (bucket.start == At(12, 30, 0)) {
      EXPECT_EQ(bucket.failed, 1u);
    }
  }
  EXPECT_EQ(total, 4u);
  EXPECT_EQ(failed, 2u);
}

// The exported picture: every bucket holding a failure shows its red part, however few, and a
// peer name from the log is text, never markup or a control character.
TEST_F(TimelineTest, PictureShowsEveryFailureAndEscapesNames) {
  log->Child(1)->SetName(std::string(log->Child(1)->Name()) + " \x1f\x01<");
  const std::string svg = TimelineSvg(TimelineData::FromTree(*log));
  const std::size_t histogram = svg.find("<g class=\"histogram\">");
  ASSERT_NE(histogram, std::string::npos);
  const std::string part = svg.substr(histogram, svg.find("</g>", histogram) - histogram);
  std::size_t red = 0;
  for (std::size_t at = part.find("#c01010"); at != std::string::npos; at = part.find("#c01010", at + 1)) ++red;
  EXPECT_EQ(red, 2u) << "the failed quick mode and main mode, half an hour apart";
  EXPECT_EQ(svg.find_first_of("\x1f\x01"), std::string::npos);
  EXPECT_NE(svg.find("10.0.0.2 ??&lt;"), std::string::npos);
}

TEST(TimelineAxisTest, TicksAtRoundTimesWithDatesAtMidnight) {
  TimeAxis axis;
  axis.Set(static_cast<double>(At(22, 0, 0)), 60);  // an hour per 60 pixels
  const std::vector<TimelineTick> ticks = Ticks(axis, 300, 90);
  ASSERT_GE(ticks.size(), 2u);
  EXPECT_EQ(ticks[0].label, "22:00");
  EXPECT_EQ(ticks[1].label, "Nov 14");
  EXPECT_EQ(TimelineTimeText(At(9, 5, 7)), "Mon Nov 13 2006 09:05:07");
}

// IKEv2 exchanges run from their first to their last message's arrival time; an exchange
// without a readable one has no bar.
TEST(TimelineIKEv2Test, ExchangesAreBarsFromTheirMessagesArrivalTimes) {
  using v2test::Msg;
  std::vector<Msg> messages = v2test::RequestAndResponse();
  messages[1].time = "10:03:00";
  Msg broken;
  broken.date = "2008-13-45";
  const std::string attributes = "final_status=\"success\" Type=\"Initial\" serial=\"1\" Dir=\"Outbound\"";
  auto root = std::make_unique<LogFile>();
  LogLineReader reader = LogLineReader::FromText(v2test::ExchangeXml(attributes, "192.168.7.1", messages) +
                                                 v2test::ExchangeXml(attributes, "192.168.7.2", {broken}));
  ReadIKEv2Exchanges(*root, reader);
  const TimelineData data = TimelineData::FromTree(*root);
  ASSERT_EQ(data.Bars().size(), 1u);
  EXPECT_EQ(data.Bars()[0].end - data.Bars()[0].start, 118);
  EXPECT_EQ(data.Bars()[0].icon, kIconInitialDone);
}

}  // namespace
}  // namespace quillon
