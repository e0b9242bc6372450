// Filter and Verify on logs read by the product's loaders: which peers, tunnels and
// negotiations stay, and when new criteria need the log read again.
#include "model/Narrowing.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "logs/OpenLog.h"
#include "model/TreeRules.h"
#include "tests/ikev1/negotiation/NegotiationLog.h"

namespace quillon {
namespace {

using Lines = std::vector<std::string>;

std::unique_ptr<LogFile> LoadExample(const std::string& name) {
  OpenLogResult result = OpenLog((std::filesystem::path(QUILLON_SOURCE_DIR) / "examples" / name).string());
  EXPECT_EQ(result.status, OpenLogResult::Status::kLoaded) << name;
  return std::move(result.log);
}

// The shown tree to the negotiations: peers, then "  " + tunnel or negotiation names, then
// "    " + the negotiations of a tunnel.
Lines Outline(const QLFolder& root) {
  Lines lines;
  for (const QLFolder* peer : VisibleChildren(root)) {
    lines.emplace_back(peer->Name());
    for (const QLFolder* child : VisibleChildren(*peer)) {
      lines.push_back("  " + std::string(child->Name()));
      if (!child->IsTunnel()) continue;
      for (const QLFolder* exchange : VisibleChildren(*child)) lines.push_back("    " + std::string(exchange->Name()));
    }
  }
  return lines;
}

Lines PeerNames(const QLFolder& root) {
  Lines names;
  for (const QLFolder* peer : VisibleChildren(root)) names.emplace_back(peer->Name());
  return names;
}

// Every shown negotiation, in order.
std::vector<const QLFolder*> Exchanges(const QLFolder& root) {
  std::vector<const QLFolder*> out;
  for (const QLFolder* peer : VisibleChildren(root))
    for (const QLFolder* child : VisibleChildren(*peer)) {
      if (!child->IsTunnel()) out.push_back(child);
      else for (const QLFolder* exchange : VisibleChildren(*child)) out.push_back(exchange);
    }
  return out;
}

Lines ExchangeNames(const QLFolder& root) {
  Lines names;
  for (const QLFolder* exchange : Exchanges(root)) names.emplace_back(exchange->Name());
  return names;
}

FilterCriteria Ip(const std::string& text) {
  FilterCriteria c;
  c.ipOn = true;
  c.ipText = text;
  return c;
}

// gateway-day.ilx: eight peers over a day. 198.51.100.23 was also logged under index 3; the
// peers 192.0.2.10 and 198.51.100.40 talk through tunnel interfaces.
TEST(FilterTest, PeerAddressTests) {
  struct Case {
    const char* what;
    FilterCriteria criteria;
    Lines peers;
  };
  FilterCriteria cookie;
  cookie.cookieOn = true;
  cookie.cookieText = "8fc56f9275203824";
  FilterCriteria upperCookie = cookie;
  upperCookie.cookieText = "8FC56F9275203824";
  FilterCriteria failed;
  failed.failedPeersOn = true;
  FilterCriteria user;
  user.userNameOn = true;
  user.userNameText = "kmiller";
  FilterCriteria failedAndUser = failed;
  failedAndUser.userNameOn = true;
  failedAndUser.userNameText = "jdoe";
  const Case cases[] = {
      {"the whole caption", Ip("192.0.2.10"), {"192.0.2.10"}},
      {"only the beginning of 192.0.2.200", Ip("192.0.2.20"), {}},
      {"the address before the parenthesis", Ip("198.51.100.23"), {"198.51.100.23  (0.0.0.3)"}},
      {"the second address in parentheses", Ip("0.0.0.3"), {"198.51.100.23  (0.0.0.3)"}},
      {"a lower-case cookie", cookie, {"203.0.113.77"}},
      {"an upper-case cookie", upperCookie, {}},
      {"peers with failed negotiations", failed, {"192.0.2.200", "192.168.50.2", "198.51.100.99", "203.0.113.77"}},
      {"a user name", user, {"198.51.100.99"}},
      {"all criteria must hold", failedAndUser, {}},
  };
  for (const Case& c : cases) {
    auto root = LoadExample("gateway-day.ilx");
    ApplyFilter(*root, c.criteria);
    EXPECT_EQ(PeerNames(*root), c.peers) << c.what;
  }
}

TEST(FilterTest, ATunnelEndPrunesThePeersOtherTunnelsAndNegotiations) {
  auto root = LoadExample("gateway-day.ilx");
  ApplyFilter(*root, Ip("10.255.2.2"));
  EXPECT_EQ(Outline(*root), (Lines{"198.51.100.40", "  10.255.2.1 <=> 10.255.2.2", "    Main Mode", "    QuickMode",
                                   "    QuickMode", "    Delete IPsec", "    Main Mode", "    QuickMode"}));

  // The dead-peer detection of 192.0.2.10 runs outside its tunnel and goes with the pruning.
  root = LoadExample("gateway-day.ilx");
  ApplyFilter(*root, Ip("10.255.0.1"));
  const Lines outline = Outline(*root);
  ASSERT_GE(outline.size(), 2u);
  EXPECT_EQ(outline[0], "192.0.2.10");
  EXPECT_EQ(outline[1], "  10.255.0.1 <=> 10.255.0.2");
  for (std::size_t i = 2; i < outline.size(); ++i) EXPECT_TRUE(outline[i].starts_with("    ")) << outline[i];

  // "10.255.2.2" is the end of the tunnel, "10.255.2.1" its beginning, "10.255.2" neither.
  root = LoadExample("gateway-day.ilx");
  ApplyFilter(*root, Ip("10.255.2"));
  EXPECT_EQ(PeerNames(*root), Lines{});
}

TEST(FilterTest, DeadPeerDetectionIsDroppedAndAPeerLeftEmptyGoes) {
  using namespace negtest;
  // 10.0.0.1: a main mode and a DPD exchange; 10.0.0.2: DPD only.
  Packet hello = Informational(true, NotifyBlock("8d 28"));
  Packet helloToSecond = hello;
  helloToSecond.peer = "0a000002";
  auto root = negtest::Load(MainModeLog() + Text(hello) + Text(helloToSecond));
  ASSERT_EQ(Outline(*root), (Lines{"10.0.0.1", "  Main Mode", "  DPD", "10.0.0.2", "  DPD"}));
  FilterCriteria criteria;
  criteria.filterOutDpdOn = true;
  ApplyFilter(*root, criteria);
  EXPECT_EQ(Outline(*root), (Lines{"10.0.0.1", "  Main Mode"}));
  EXPECT_EQ(root->ChildCount(), 1u) << "the peer is gone from the tree, not only from the view";
}

TEST(VerifyTest, Categories) {
  struct Case {
    const char* what;
    VerifyCriteria criteria;
    Lines exchanges;
  };
  const VerifyCriteria none{false, false, false, false, false};
  VerifyCriteria error = none;
  error.errorInformational = true;
  VerifyCriteria failed = none;
  failed.failedNegotiations = true;
  const Case cases[] = {
      // Error notifies stay; "Delete IPsec", "Delete IKE" and "DPD" are informational exchanges
      // too but are named otherwise.
      {"error informational", error, {"Info PAYLOAD-MALFORMED", "Info NO-PROPOSAL-CHOSEN", "Info INVALID-ID-INFORMATION"}},
      {"failed negotiations", failed, {"Main Mode", "Main Mode", "Main Mode", "ConfigMode", "Main Mode", "QuickMode"}},
  };
  for (const Case& c : cases) {
    auto root = LoadExample("gateway-day.ilx");
    ApplyVerify(*root, c.criteria);
    EXPECT_EQ(ExchangeNames(*root), c.exchanges) << c.what;
  }

  // All categories: besides the failures and errors, the marks of the diagnosis.
  auto root = LoadExample("gateway-day.ilx");
  ApplyVerify(*root, VerifyCriteria{});
  bool marked = false;
  for (const QLFolder* exchange : Exchanges(*root)) {
    const bool diagnosed = exchange->IsImmediateDelete() || exchange->IsDeleteRepeated() || exchange->IsSuccessiveIdentical();
    marked = marked || diagnosed;
    const std::string caption = exchange->Caption();
    EXPECT_TRUE(diagnosed || caption.find("Failed") != std::string::npos || caption.find("Info") != std::string::npos)
        << caption;
  }
  EXPECT_TRUE(marked);
}

TEST(NarrowingTest, FilterAndVerifyWorkOnIKEv2Trees) {
  auto root = LoadExample("ikev2-site-to-site.xml");
  const Lines before = PeerNames(*root);
  ASSERT_GE(before.size(), 2u);
  ApplyFilter(*root, Ip(before[1]));
  EXPECT_EQ(PeerNames(*root), Lines{before[1]});
  ApplyVerify(*root, VerifyCriteria{false, false, false, false, false});
  EXPECT_EQ(PeerNames(*root), Lines{}) << "no category: nothing is a problem";
}

void CollectAll(const QLFolder& node, std::set<const QLFolder*>& out) {
  out.insert(&node);
  for (const auto& child : node.Children()) CollectAll(*child, out);
}

// A narrowing destroys nothing: what it takes out (peers, and the tunnels and negotiations of
// the peers that stay, including the tunnels a tunnel-end address prunes) stays readable with
// the log until the log goes, or goes to the caller's list.
TEST(NarrowingTest, RemovedNodesStayWithTheLogOrGoToTheCaller) {
  auto root = LoadExample("gateway-day.ilx");
  const std::vector<const QLFolder*> before = Exchanges(*root);
  ApplyFilter(*root, Ip("10.255.0.1"));
  ApplyVerify(*root, VerifyCriteria{});
  ASSERT_LT(Exchanges(*root).size(), before.size());
  ASSERT_GT(root->RemovedCount(), 0u);
  std::set<const QLFolder*> reachable;
  CollectAll(*root, reachable);
  const RemovedNodes removed = root->TakeRemoved();
  for (const auto& node : removed) {
    EXPECT_EQ(node->Parent(), nullptr);
    CollectAll(*node, reachable);
  }
  for (const QLFolder* exchange : before) {
    ASSERT_TRUE(reachable.contains(exchange));
    EXPECT_FALSE(exchange->Caption().empty());
  }

  // Taken nodes live in their log's arena: that log stays while they do.
  auto second = LoadExample("gateway-day.ilx");
  RemovedNodes mine;
  ApplyFilter(*second, Ip("10.255.2.2"), &mine);
  EXPECT_EQ(second->RemovedCount(), 0u);
  EXPECT_FALSE(mine.empty());
}

TEST(NarrowingTest, ReloadDecisions) {
  const FilterCriteria ip = Ip("10.0.0.1");
  FilterCriteria ipAndDpd = ip;
  ipAndDpd.filterOutDpdOn = true;
  FilterCriteria otherIp = Ip("10.0.0.2");
  FilterCriteria failed;
  failed.failedPeersOn = true;
  FilterCriteria failedAndIp = failed;
  failedAndIp.ipOn = true;
  failedAndIp.ipText = "10.0.0.1";
  struct Case {
    const char* what;
    FilterCriteria before, after;
    bool filterApplied, verifyApplied, reload;
  };
  const Case cases[] = {
      {"a box checked in addition", ip, ipAndDpd, true, false, false},
      {"a box unchecked", ipAndDpd, ip, true, false, true},
      {"a text changed", ip, otherIp, true, false, true},
      {"nothing applied yet", ipAndDpd, ip, false, false, false},
      {"failed peers stay on, filter applied", failed, failedAndIp, true, false, true},
      {"failed peers was on, verify applied", failed, failed, false, true, true},
      {"failed peers was on, nothing applied", failed, ip, false, false, false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(FilterNeedsReload(c.before, c.after, c.filterApplied, c.verifyApplied), c.reload) << c.what;

  VerifyCriteria fewer;
  fewer.repeatedDelete = false;
  EXPECT_FALSE(VerifyNeedsReload(VerifyCriteria{}, fewer, true));
  EXPECT_TRUE(VerifyNeedsReload(fewer, VerifyCriteria{}, true));
  EXPECT_FALSE(VerifyNeedsReload(fewer, VerifyCriteria{}, false));
}

TEST(NarrowingTest, StepsOfTheCommands) {
  Narrowing n;
  auto root = LoadExample("gateway-day.ilx");
  const auto run = [&](NarrowingSteps steps) {
    if (steps.reload) {
      root = LoadExample("gateway-day.ilx");
      n.TreeReloaded();
    }
    if (steps.applyFilter) n.ApplyFilterTo(*root);
    if (steps.applyVerify) n.ApplyVerifyTo(*root);
  };
  FilterCriteria dpd;
  dpd.filterOutDpdOn = true;
  EXPECT_EQ(n.ChooseFilter(dpd), (NarrowingSteps{false, true, false}));
  run({false, true, false});
  EXPECT_TRUE(n.FilterApplied());

  // Stricter: in place, and the same tree as the stricter filter on a fresh load.
  FilterCriteria dpdAndIp = dpd;
  dpdAndIp.ipOn = true;
  dpdAndIp.ipText = "192.0.2.10";
  const NarrowingSteps stricter = n.ChooseFilter(dpdAndIp);
  EXPECT_EQ(stricter, (NarrowingSteps{false, true, false}));
  run(stricter);
  auto fresh = LoadExample("gateway-day.ilx");
  ApplyFilter(*fresh, dpdAndIp);
  EXPECT_EQ(Outline(*root), Outline(*fresh));

  // Verify on top, then a less strict filter: read again, filter, verify again.
  EXPECT_EQ(n.ChooseVerify(VerifyCriteria{}), (NarrowingSteps{false, false, true}));
  run({false, false, true});
  const NarrowingSteps wider = n.ChooseFilter(dpd);
  EXPECT_EQ(wider, (NarrowingSteps{true, true, true}));
  run(wider);
  EXPECT_TRUE(n.FilterApplied() && n.VerifyApplied());

  // A verify category turned on: read again and filter again first.
  VerifyCriteria fewer;
  fewer.failedNegotiations = false;
  EXPECT_EQ(n.ChooseVerify(fewer), (NarrowingSteps{false, false, true}));
  EXPECT_EQ(n.ChooseVerify(VerifyCriteria{}), (NarrowingSteps{true, true, true}));

  // Nothing checked undoes what is applied, keeping the other narrowing.
  EXPECT_EQ(n.ChooseFilter(FilterCriteria{}), (NarrowingSteps{true, false, true}));
  EXPECT_EQ(n.ChooseVerify(VerifyCriteria{false, false, false, false, false}), (NarrowingSteps{true, true, false}));
  n.TreeReloaded();
  EXPECT_EQ(n.ChooseFilter(FilterCriteria{}), NarrowingSteps{}) << "nothing applied, nothing to undo";
}

}  // namespace
}  // namespace quillon
