#include <gtest/gtest.h>

#include <memory>

#include "ikev1/log/DebugLogReader.h"
#include "ikev1/log/PacketDebugRecord.h"
#include "ikev1/payloads/Dictionaries.h"
#include "model/LogFile.h"
#include "model/QLFolder.h"

namespace quillon {
namespace {

// A node with date and time texts, for the time-window rule.
class TimedNode : public QLFolder {
 public:
  TimedNode(std::string date, std::string time) : date_(std::move(date)), time_(std::move(time)) {}
  std::string DateText() const override { return date_; }
  std::string TimeText() const override { return time_; }

 private:
  std::string date_, time_;
};

// Counts destructions so ownership bugs (double free, leaks) show up as wrong counts.
class CountedNode : public QLFolder {
 public:
  CountedNode(std::string name, int* destroyed) : QLFolder(std::move(name), nullptr), destroyed_(destroyed) {}
  ~CountedNode() override { ++*destroyed_; }

 private:
  int* destroyed_;
};

TEST(QLFolderTest, DefaultsAndPath) {
  QLFolder empty;
  EXPECT_EQ(empty.Caption(), "");
  EXPECT_EQ(empty.Path(), "");
  EXPECT_EQ(empty.CookieValue(), 0u);
  EXPECT_EQ(empty.PacketDebugValue(), 0u);
  EXPECT_FALSE(empty.IsCloseInTime(empty));

  QLFolder root("IKE debugging info", nullptr);
  QLFolder* peer = root.AppendChild(std::make_unique<QLFolder>("10.0.0.1", nullptr));
  QLFolder* exchange = peer->AppendChild(std::make_unique<QLFolder>("Main Mode", nullptr));
  QLFolder* payload = exchange->AppendChild(std::make_unique<QLFolder>("Nonce", nullptr));
  EXPECT_EQ(payload->Parent(), exchange);
  EXPECT_EQ(payload->Path(), "IKE debugging info\\10.0.0.1\\Main Mode\\Nonce");
}

TEST(QLFolderTest, NodesMoveBetweenParentsAndAreDestroyedOnce) {
  int destroyed = 0;
  {
    QLFolder a("a", nullptr), b("b", nullptr);
    QLFolder* x = a.AppendChild(std::make_unique<CountedNode>("x", &destroyed));
    x->AppendChild(std::make_unique<CountedNode>("x1", &destroyed));
    a.AppendChild(std::make_unique<CountedNode>("y", &destroyed));

    std::unique_ptr<QLFolder> moved = a.TakeChild(x);
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

TEST(QLFolderTest, PurgeDropsMarkedAndEmptiedChildren) {
  class Container : public QLFolder {
   public:
    using QLFolder::QLFolder;
    void PurgeDeleted() override { PurgeDeletedChildren(); }
  };
  Container root("root", nullptr);
  auto* keep = root.AppendChild(std::make_unique<Container>("keep", nullptr));
  // A plain node (an exchange, say) is kept while it has children of its own.
  keep->AppendChild(std::make_unique<QLFolder>("exchange", nullptr))
      ->AppendChild(std::make_unique<QLFolder>("packet", nullptr));
  keep->AppendChild(std::make_unique<QLFolder>("childless", nullptr));
  auto* marked = root.AppendChild(std::make_unique<Container>("marked", nullptr));
  marked->AppendChild(std::make_unique<QLFolder>("leaf", nullptr));
  marked->SetDeleted();
  auto* emptied = root.AppendChild(std::make_unique<Container>("emptied", nullptr));
  emptied->AppendChild(std::make_unique<QLFolder>("gone", nullptr))->SetDeleted();
  root.PurgeDeleted();
  ASSERT_EQ(root.ChildCount(), 1u);
  EXPECT_EQ(root.Child(0)->Name(), "keep");
  ASSERT_EQ(keep->ChildCount(), 1u);
  EXPECT_EQ(keep->Child(0)->Name(), "exchange");
}

TEST(QLFolderTest, PayloadTypeNames) {
  EXPECT_EQ(PayloadTypeName(0), "NONE");
  EXPECT_EQ(PayloadTypeName(14), "Attribute");
  EXPECT_EQ(PayloadTypeName(15), "not recognized");
  EXPECT_EQ(PayloadTypeName(128), "Challenge/Response");
  EXPECT_EQ(PayloadTypeName(129), "not recognized");
  EXPECT_EQ(PayloadTypeName(130), "NAT-D");
  EXPECT_EQ(PayloadTypeName(0xFFFFFF83u), "NAT-OA");  // -125: a sign-extended 131
  EXPECT_EQ(PayloadTypeName(0xFFFFFFFFu), "not recognized");
}

TEST(QLFolderTest, TimeAndDateParsing) {
  CalendarTime t;
  QLFolder::ParseTime("12:34:56", t);
  EXPECT_EQ(t.hour, 12);
  EXPECT_EQ(t.minute, 34);
  EXPECT_EQ(t.second, 56);
  QLFolder::ParseDate(" Mon Nov 13 2006", t);
  EXPECT_EQ(t.weekday, 2);
  EXPECT_EQ(t.month, 11);
  EXPECT_EQ(t.day, 13);
  EXPECT_EQ(t.year, 2006);

  // Short and malformed texts never read outside the text and leave zero fields.
  for (const char* text : {"", "1", "12:", "12", "no colon"}) {
    CalendarTime s;
    QLFolder::ParseTime(text, s);
    EXPECT_EQ(s.minute, 0) << text;
    EXPECT_EQ(s.second, 0) << text;
  }
  for (const char* text : {"", " ", " Mon", " Mon No", " Xyz Abc"}) {
    CalendarTime s;
    QLFolder::ParseDate(text, s);
    EXPECT_EQ(s.day, 0) << text;
    EXPECT_EQ(s.year, 0) << text;
    EXPECT_LE(s.month, 12) << text;
  }
  EXPECT_EQ(QLFolder::MonthNumber("Dec"), 12);
  EXPECT_EQ(QLFolder::MonthNumber("dec"), 1);
  EXPECT_EQ(QLFolder::MonthNumber("Foo"), 1);
}

TEST(QLFolderTest, CloseInTimeIsA120SecondWindowForward) {
  TimedNode base(" Mon Nov 13 2006", "12:00:00");
  EXPECT_TRUE(base.IsCloseInTime(TimedNode(" Mon Nov 13 2006", "12:01:59")));
  EXPECT_FALSE(base.IsCloseInTime(TimedNode(" Mon Nov 13 2006", "12:02:00")));
  EXPECT_TRUE(base.IsCloseInTime(TimedNode(" Sun Nov 12 2006", "09:00:00")));  // earlier counts
  // Across a month and a year end.
  EXPECT_TRUE(TimedNode(" Sun Dec 31 2006", "23:59:30").IsCloseInTime(TimedNode(" Mon Jan 01 2007", "00:00:10")));
  EXPECT_FALSE(base.IsCloseInTime(TimedNode("", "12:00:01")));
  EXPECT_FALSE(base.IsCloseInTime(TimedNode(" Mon Nov 13 2006", "")));
}

TEST(LogFileTest, PeersStayInAscendingAddressOrder) {
  class AddressNode : public QLFolder {
   public:
    AddressNode(std::string name, std::uint32_t a) : QLFolder(std::move(name), nullptr), a_(a) {}
    std::uint32_t PeerAddress() const override { return a_; }

   private:
    std::uint32_t a_;
  };
  LogFile root;
  EXPECT_EQ(root.DetailText(), "LogFile\r\n");
  root.AddChild(std::make_unique<AddressNode>("5", 0x0a000005));
  root.AddChild(std::make_unique<AddressNode>("1", 0x0a000001));
  root.AddChild(std::make_unique<AddressNode>("3", 0x0a000003));
  root.AddChild(std::make_unique<AddressNode>("3b", 0x0a000003));
  root.AddChild(std::make_unique<AddressNode>("high", 0xc0a80001));
  std::string order;
  for (const auto& peer : root.Children()) order += std::string(peer->Name()) + " ";
  EXPECT_EQ(order, "1 3 3b 5 high ");
  root.Clear();
  EXPECT_EQ(root.ChildCount(), 0u);
}

}  // namespace
}  // namespace quillon
