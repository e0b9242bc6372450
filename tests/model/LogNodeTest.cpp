#include <gtest/gtest.h>

#include <memory>
#include <tuple>

#include "model/IPv4.h"
#include "model/LogNode.h"

namespace quillon {
namespace {

// A node with date and time texts, for the time-window rule.
class TimedNode : public LogNode {
 public:
  TimedNode(std::string date, std::string time) : date_(std::move(date)), time_(std::move(time)) {}
  std::string DateText() const override { return date_; }
  std::string TimeText() const override { return time_; }

 private:
  std::string date_, time_;
};

// Counts destructions so ownership bugs (double free, leaks) show up as wrong counts.
class CountedNode : public LogNode {
 public:
  CountedNode(std::string name, int* destroyed) : LogNode(std::move(name), nullptr), destroyed_(destroyed) {}
  ~CountedNode() override { ++*destroyed_; }

 private:
  int* destroyed_;
};

TEST(LogNodeTest, NodesMoveBetweenParentsAndAreDestroyedOnce) {
  int destroyed = 0;
  {
    LogNode a("a", nullptr), b("b", nullptr);
    LogNode* x = a.AppendChild(std::make_unique<CountedNode>("x", &destroyed));
    x->AppendChild(std::make_unique<CountedNode>("x1", &destroyed));
    a.AppendChild(std::make_unique<CountedNode>("y", &destroyed));

    std::unique_ptr<LogNode> moved = a.TakeChild(x);
    ASSERT_EQ(moved.get(), x);
    EXPECT_EQ(moved->Parent(), nullptr);
    b.InsertChild(0, std::move(moved));
    EXPECT_EQ(destroyed, 0);
    EXPECT_EQ(x->Parent(), &b);
    EXPECT_EQ(x->Path(), "b\\x");
    EXPECT_EQ(a.ChildCount(), 1u);
    EXPECT_EQ(a.TakeChild(static_cast<std::size_t>(5)), nullptr);
    a.RemoveChild(0);
    EXPECT_EQ(destroyed, 1);
  }
  EXPECT_EQ(destroyed, 3);
}

TEST(LogNodeTest, PurgeDropsMarkedAndEmptiedChildren) {
  class Container : public LogNode {
   public:
    using LogNode::LogNode;
    void PurgeDeleted() override { PurgeDeletedChildren(); }
  };
  Container root("root", nullptr);
  auto* keep = root.AppendChild(std::make_unique<Container>("keep", nullptr));
  // A plain node (an exchange, say) is kept while it has children of its own.
  keep->AppendChild(std::make_unique<LogNode>("exchange", nullptr))
      ->AppendChild(std::make_unique<LogNode>("packet", nullptr));
  keep->AppendChild(std::make_unique<LogNode>("childless", nullptr));
  auto* marked = root.AppendChild(std::make_unique<Container>("marked", nullptr));
  marked->AppendChild(std::make_unique<LogNode>("leaf", nullptr));
  marked->SetDeleted();
  auto* emptied = root.AppendChild(std::make_unique<Container>("emptied", nullptr));
  emptied->AppendChild(std::make_unique<LogNode>("gone", nullptr))->SetDeleted();
  root.PurgeDeleted();
  ASSERT_EQ(root.ChildCount(), 1u);
  EXPECT_EQ(root.Child(0)->Name(), "keep");
  ASSERT_EQ(keep->ChildCount(), 1u);
  EXPECT_EQ(keep->Child(0)->Name(), "exchange");
}

TEST(LogNodeTest, TimeAndDateParsing) {
  CalendarTime t;
  LogNode::ParseTime("12:34:56", t);
  LogNode::ParseDate(" Mon Nov 13 2006", t);
  EXPECT_EQ(std::tie(t.year, t.month, t.day, t.weekday, t.hour, t.minute, t.second),
            std::make_tuple(2006, 11, 13, 2, 12, 34, 56));

  // Short and malformed texts never read outside the text and leave zero fields.
  for (const char* text : {"", "1", "12:", "12", "no colon"}) {
    CalendarTime s;
    LogNode::ParseTime(text, s);
    EXPECT_EQ(s.minute, 0) << text;
    EXPECT_EQ(s.second, 0) << text;
  }
  for (const char* text : {"", " ", " Mon", " Mon No", " Xyz Abc"}) {
    CalendarTime s;
    LogNode::ParseDate(text, s);
    EXPECT_EQ(s.day, 0) << text;
    EXPECT_EQ(s.year, 0) << text;
    EXPECT_LE(s.month, 12) << text;
  }
  EXPECT_EQ(LogNode::MonthNumber("Dec"), 12);
  EXPECT_EQ(LogNode::MonthNumber("dec"), 1);
  EXPECT_EQ(LogNode::MonthNumber("Foo"), 1);
}

TEST(LogNodeTest, CloseInTimeIsA120SecondWindowForward) {
  TimedNode base(" Mon Nov 13 2006", "12:00:00");
  EXPECT_TRUE(base.IsCloseInTime(TimedNode(" Mon Nov 13 2006", "12:01:59")));
  EXPECT_FALSE(base.IsCloseInTime(TimedNode(" Mon Nov 13 2006", "12:02:00")));
  EXPECT_TRUE(base.IsCloseInTime(TimedNode(" Sun Nov 12 2006", "09:00:00")));  // earlier counts
  // Across a month and a year end.
  EXPECT_TRUE(TimedNode(" Sun Dec 31 2006", "23:59:30").IsCloseInTime(TimedNode(" Mon Jan 01 2007", "00:00:10")));
  EXPECT_FALSE(base.IsCloseInTime(TimedNode("", "12:00:01")));
  EXPECT_FALSE(base.IsCloseInTime(TimedNode(" Mon Nov 13 2006", "")));
}

// Typed and logged addresses are read part by part like the C library's "%u.%u.%u.%u": blanks
// and a sign before a part, a part beyond 255 carrying into the one before, text after the
// fourth part ignored; a missing part or dot gives 0.
TEST(IPv4Test, PartsReadLikeTheCConversion) {
  const struct {
    const char* text;
    std::uint32_t address;
  } cases[] = {
      {"10.0.0.1", 0x0A000001u}, {" 10. 0.+0.1", 0x0A000001u}, {"1.2.3.300", 0x0102042Cu},
      {"0.0.0.-1", 0xFFFFFFFFu}, {"1.2.3.4.5", 0x01020304u},   {"1.2.3", 0u}, {"1.2.3.", 0u}, {"a.b.c.d", 0u},
  };
  for (const auto& c : cases) EXPECT_EQ(ParseIPv4(c.text), c.address) << c.text;
  EXPECT_EQ(FormatIPv4(0x0A6409FFu), "10.100.9.255");
}

}  // namespace
}  // namespace quillon
