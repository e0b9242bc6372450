// Filter and Verify on logs read by the product's loaders: which peers, tunnels and
// negotiations stay, and when new criteria need the log read again.
#include "model/Narrowing.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "ikev2/ReadIKEv2Log.h"
#include "logs/OpenLog.h"
#include "model/IPv4.h"
#include "model/NodeRoles.h"
#include "model/TreeRules.h"
#include "tests/ikev1/negotiation/NegotiationLog.h"
#include "tests/ikev2/V2TestLogs.h"

// Criteria are written with designated initializers, the rest of each left at its default.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

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
Lines Outline(const LogNode& root) {
  Lines lines;
  for (const LogNode* peer : VisibleChildren(root)) {
    lines.emplace_back(peer->Name());
    for (const LogNode* child : VisibleChildren(*peer)) {
      lines.push_back("  " + std::string(child->Name()));
      if (!child->IsTunnel()) continue;
      for (const LogNode* exchange : VisibleChildren(*child)) lines.push_back("    " + std::string(exchange->Name()));
    }
  }
  return lines;
}

Lines PeerNames(const LogNode& root) {
  Lines names;
  for (const LogNode* peer : VisibleChildren(root)) names.emplace_back(peer->Name());
  return names;
}

// Every shown negotiation, in order.
std::vector<const LogNode*> Exchanges(const LogNode& root) {
  std::vector<const LogNode*> out;
  for (const LogNode* peer : VisibleChildren(root))
    for (const LogNode* child : VisibleChildren(*peer)) {
      if (!child->IsTunnel()) out.push_back(child);
      else for (const LogNode* exchange : VisibleChildren(*child)) out.push_back(exchange);
    }
  return out;
}

FilterCriteria Ip(const std::string& text) { return {.ipOn = true, .ipText = text}; }

// Only the given category of the Verify dialog.
VerifyCriteria Only(bool VerifyCriteria::*category) {
  VerifyCriteria only{false, false, false, false, false};
  if (category != nullptr) only.*category = true;
  return only;
}

// gateway-day.ilx: eight peers over a day. 198.51.100.23 was also logged under index 3; the
// peers 192.0.2.10 and 198.51.100.40 talk through tunnel interfaces.
TEST(FilterTest, PeerAddressTests) {
  struct Case {
    const char* what;
    FilterCriteria criteria;
    Lines peers;
  };
  const Case cases[] = {
      {"the whole caption", Ip("192.0.2.10"), {"192.0.2.10"}},
      {"only the beginning of 192.0.2.200", Ip("192.0.2.20"), {}},
      {"only the beginning of a tunnel end", Ip("10.255.2"), {}},
      {"the address before the parenthesis", Ip("198.51.100.23"), {"198.51.100.23  (0.0.0.3)"}},
      {"the second address in parentheses", Ip("0.0.0.3"), {"198.51.100.23  (0.0.0.3)"}},
      {"a lower-case cookie", {.cookieOn = true, .cookieText = "8fc56f9275203824"}, {"203.0.113.77"}},
      {"an upper-case cookie", {.cookieOn = true, .cookieText = "8FC56F9275203824"}, {}},
      {"peers with failed negotiations", {.failedPeersOn = true},
       {"192.0.2.200", "192.168.50.2", "198.51.100.99", "203.0.113.77"}},
      {"a user name", {.userNameOn = true, .userNameText = "kmiller"}, {"198.51.100.99"}},
      {"all criteria must hold", {.userNameOn = true, .failedPeersOn = true, .userNameText = "jdoe"}, {}},
  };
  for (const Case& c : cases) {
    auto root = LoadExample("gateway-day.ilx");
    ApplyFilter(*root, c.criteria);
    EXPECT_EQ(PeerNames(*root), c.peers) << c.what;
  }
}

TEST(FilterTest, DeadPeerDetectionIsDroppedAndAPeerLeftEmptyGoes) {
  using namespace negtest;
  // 10.0.0.1: a main mode and a DPD exchange; 10.0.0.2: DPD only.
  const Packet hello = Informational(true, NotifyBlock("8d 28"));
  auto root = negtest::Load(MainModeLog() + Text(hello) + Text(At(hello, "0a000002")));
  ASSERT_EQ(Outline(*root), (Lines{"10.0.0.1", "  Main Mode", "  DPD", "10.0.0.2", "  DPD"}));
  ApplyFilter(*root, {.filterOutDpdOn = true});
  EXPECT_EQ(Outline(*root), (Lines{"10.0.0.1", "  Main Mode"}));
  EXPECT_EQ(root->ChildCount(), 1u) << "the peer is gone from the tree, not only from the view";
}

// Every shown negotiation's detail text by its path and caption (the caption holds its times).
std::map<std::string, std::string> NegotiationTexts(const LogNode& root) {
  std::map<std::string, std::string> texts;
  for (const LogNode* exchange : Exchanges(root)) texts[exchange->Path() + "|" + exchange->Caption()] = exchange->DetailText();
  return texts;
}

// What a negotiation's text says (who rejected it, what was not chosen, the marks of the
// diagnosis) is decided when the log is read: no filter and no verify selection changes it,
// even when the notification that rejected it is filtered away.
TEST(NarrowingTest, NoNarrowingChangesANegotiationsText) {
  for (const char* log : {"gateway-day.ilx", "small.ilx", "ikev2-site-to-site.xml", "ikev2-remote-access.xml"}) {
    auto full = LoadExample(log);
    const std::map<std::string, std::string> texts = NegotiationTexts(*full);
    // Every way the dialogs narrow: each peer's and each tunnel end's address, each cookie, SPI
    // and user name the tree holds, failed peers, no DPD, and each verify category alone.
    std::vector<FilterCriteria> filters;
    const auto add = [&](bool FilterCriteria::*on, std::string FilterCriteria::*text, std::string value) {
      FilterCriteria c;
      c.*on = true;
      c.*text = std::move(value);
      filters.push_back(c);
    };
    for (const LogNode* peer : VisibleChildren(*full)) {
      add(&FilterCriteria::ipOn, &FilterCriteria::ipText, std::string(peer->Name()));
      for (const LogNode* child : VisibleChildren(*peer))
        if (const auto* tunnel = NodeAs<TunnelNode>(child))
          add(&FilterCriteria::ipOn, &FilterCriteria::ipText, FormatIPv4(tunnel->TunnelPeerIP()));
    }
    for (const LogNode* exchange : Exchanges(*full)) {
      if (const std::string spi = exchange->SpiText(); !spi.empty())
        add(&FilterCriteria::spiOn, &FilterCriteria::spiText, spi);
      if (exchange->HasUserName()) add(&FilterCriteria::userNameOn, &FilterCriteria::userNameText, exchange->UserName());
    }
    // The refused main mode's cookie, and a peer's whose error notification comes later.
    for (const char* cookie : {"b8133b797c41bf95", "8fc56f9275203824"})
      add(&FilterCriteria::cookieOn, &FilterCriteria::cookieText, cookie);
    filters.push_back({.failedPeersOn = true});
    filters.push_back({.filterOutDpdOn = true});
    std::vector<VerifyCriteria> verifies{VerifyCriteria{}};
    for (bool VerifyCriteria::*category :
         {&VerifyCriteria::failedNegotiations, &VerifyCriteria::errorInformational, &VerifyCriteria::successiveIdentical,
          &VerifyCriteria::immediateDelete, &VerifyCriteria::repeatedDelete})
      verifies.push_back(Only(category));
    std::size_t compared = 0;
    const auto check = [&](const LogFile& root, const std::string& how) {
      for (const auto& [key, text] : NegotiationTexts(root)) {
        const auto before = texts.find(key);
        ASSERT_NE(before, texts.end()) << log << ": " << how << ": " << key;
        EXPECT_EQ(text, before->second) << log << ": " << how << ": " << key;
        ++compared;
      }
    };
    for (const FilterCriteria& filter : filters) {
      auto root = LoadExample(log);
      ApplyFilter(*root, filter);
      check(*root, "filter " + filter.ipText + filter.cookieText + filter.spiText + filter.userNameText);
      ApplyVerify(*root, VerifyCriteria{});
      check(*root, "filter and verify");
    }
    for (const VerifyCriteria& verify : verifies) {
      auto root = LoadExample(log);
      ApplyVerify(*root, verify);
      check(*root, "verify");
    }
    EXPECT_GT(compared, texts.size()) << log;
  }
}

// A main mode in a tunnel, refused by the peer in an informational exchange logged outside
// it: filtered to the tunnel's end, the notification goes and the reason, decided at load,
// stays. (Under each Verify category and the samples' filters: NoNarrowingChangesANegotiationsText.)
TEST(NarrowingTest, AFailedNegotiationKeepsItsReason) {
  using namespace negtest;
  auto root = negtest::Load(MainModeLog(3, "0a000001", kCookie, kTunnel) +
                            Text(Informational(false, NotifyBlock("00 10"), "12:00:30")));
  ASSERT_EQ(Outline(*root), (Lines{"10.0.0.1", "  192.168.0.1 <=> 192.168.0.2", "    Main Mode", "  Info PAYLOAD-MALFORMED"}));
  ApplyFilter(*root, Ip("192.168.0.2"));
  ASSERT_EQ(Outline(*root), (Lines{"10.0.0.1", "  192.168.0.1 <=> 192.168.0.2", "    Main Mode"}));
  EXPECT_EQ(Exchanges(*root)[0]->SummaryText(false), "\r\n\r\nSummary:\r\nRejected by peer: PAYLOAD-MALFORMED");
}

// An IKEv2 log's values are the log's own texts: a serial number or a type that holds "Failed",
// "DPD", "Info" or " <=> " shows in the captions but changes no state, icon or row.
TEST(NarrowingTest, IKEv2ValuesInCaptionsChangeNoState) {
  const auto log = [](const std::string& serial, const std::string& suffix) {
    const auto exchange = [&](const std::string& type, const std::string& n, const std::string& payloads) {
      return v2test::ExchangeXml("final_status=\"success\" Type=\"" + type + "\" serial=\"" + serial + n +
                                     "\" Dir=\"Outbound\" TunnelLocalIP=\"10.0.0.1\" TunnelPeerIP=\"10.0.0.2\"",
                                 "192.168.7.1", v2test::RequestAndResponse(payloads));
    };
    auto root = std::make_unique<LogFile>();
    LogLineReader reader = LogLineReader::FromText(
        "<?xml version=\"1.0\"?>\n" + exchange("Initial" + suffix, "1", "") + exchange("Authentication" + suffix, "2", "") +
        exchange("Informational", "3", v2test::PayloadXml("Notify", "<Type>INITIAL_CONTACT</Type>\n")) +
        exchange("[IPsec] Create Child SA" + suffix, "4", ""));
    ReadIKEv2Exchanges(*root, reader);
    return root;
  };
  // The rows and states of the tree as the view and the narrowing see them.
  const auto shape = [](const LogFile& root) {
    std::string out;
    for (const LogNode* peer : VisibleChildren(root)) {
      out += "peer " + std::to_string(StateIconIndex(*peer)) + ";";
      for (const LogNode* child : VisibleChildren(*peer)) {
        out += child->IsTunnel() ? "tunnel;" : "row;";
        for (const LogNode* exchange : VisibleChildren(*child))
          out += std::to_string(static_cast<int>(exchange->Kind())) + "/" + std::to_string(exchange->State()) + "/" +
                 std::to_string(StateIconIndex(*exchange)) + ";";
      }
    }
    return out;
  };
  const auto plain = log("", "");
  const std::string expected = shape(*plain);
  ASSERT_NE(expected.find("tunnel;"), std::string::npos);
  for (const auto& [serial, suffix] : {std::pair<std::string, std::string>{"Failed <=> ", ""},
                                       {"DPD Info ", ""},
                                       {"", " Failed <=> DPD Info"}}) {
    auto hostile = log(serial, suffix);
    ASSERT_NE(hostile->Child(0)->Child(0)->Child(0)->Caption().find(serial + suffix), std::string::npos);
    EXPECT_EQ(shape(*hostile), expected) << serial << suffix;
    auto narrowed = log(serial, suffix);
    ApplyFilter(*narrowed, {.filterOutDpdOn = true});
    EXPECT_EQ(shape(*narrowed), expected) << "no DPD: " << serial << suffix;
    ApplyFilter(*narrowed, {.failedPeersOn = true});
    EXPECT_EQ(narrowed->ChildCount(), 0u) << "nothing failed: " << serial << suffix;
    narrowed = log(serial, suffix);
    ApplyVerify(*narrowed, Only(&VerifyCriteria::failedNegotiations));
    EXPECT_EQ(narrowed->ChildCount(), 0u) << serial << suffix;
  }
}

void CollectAll(const LogNode& node, std::set<const LogNode*>& out) {
  out.insert(&node);
  for (const auto& child : node.Children()) CollectAll(*child, out);
}

// A narrowing destroys nothing: what it takes out (peers, and the tunnels and negotiations of
// the peers that stay, including the tunnels a tunnel-end address prunes) stays readable with
// the log until the log goes, or goes to the caller's list.
TEST(NarrowingTest, RemovedNodesStayWithTheLogOrGoToTheCaller) {
  auto root = LoadExample("gateway-day.ilx");
  const std::vector<const LogNode*> before = Exchanges(*root);
  ApplyFilter(*root, Ip("10.255.0.1"));
  ApplyVerify(*root, VerifyCriteria{});
  ASSERT_LT(Exchanges(*root).size(), before.size());
  ASSERT_GT(root->RemovedCount(), 0u);
  std::set<const LogNode*> reachable;
  CollectAll(*root, reachable);
  const RemovedNodes removed = root->TakeRemoved();
  for (const auto& node : removed) {
    EXPECT_EQ(node->Parent(), nullptr);
    CollectAll(*node, reachable);
  }
  for (const LogNode* exchange : before) {
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
  const FilterCriteria ip = Ip("10.0.0.1"), otherIp = Ip("10.0.0.2"), failed{.failedPeersOn = true};
  const FilterCriteria ipAndDpd{.ipOn = true, .filterOutDpdOn = true, .ipText = "10.0.0.1"};
  const FilterCriteria failedAndIp{.ipOn = true, .failedPeersOn = true, .ipText = "10.0.0.1"};
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

  const VerifyCriteria fewer{.repeatedDelete = false};
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
  const FilterCriteria dpd{.filterOutDpdOn = true};
  EXPECT_EQ(n.ChooseFilter(dpd), (NarrowingSteps{false, true, false}));
  run({false, true, false});
  EXPECT_TRUE(n.FilterApplied());

  // Stricter: in place, and the same tree as the stricter filter on a fresh load.
  const FilterCriteria dpdAndIp{.ipOn = true, .filterOutDpdOn = true, .ipText = "192.0.2.10"};
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
  EXPECT_EQ(n.ChooseVerify({.failedNegotiations = false}), (NarrowingSteps{false, false, true}));
  EXPECT_EQ(n.ChooseVerify(VerifyCriteria{}), (NarrowingSteps{true, true, true}));

  // Nothing checked undoes what is applied, keeping the other narrowing.
  EXPECT_EQ(n.ChooseFilter(FilterCriteria{}), (NarrowingSteps{true, false, true}));
  EXPECT_EQ(n.ChooseVerify(Only(nullptr)), (NarrowingSteps{true, true, false}));
  n.TreeReloaded();
  EXPECT_EQ(n.ChooseFilter(FilterCriteria{}), NarrowingSteps{}) << "nothing applied, nothing to undo";
}

}  // namespace
}  // namespace quillon
