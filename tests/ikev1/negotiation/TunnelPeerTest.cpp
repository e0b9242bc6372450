// Tunnels and peers: where packets and negotiations are placed, in which order, and what a
// daemon restart does to the negotiations under way.
#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

#include "ikev1/log/DebugLogReader.h"
#include "ikev1/log/Header.h"
#include "ikev1/negotiation/Exchange.h"
#include "ikev1/negotiation/Peer.h"
#include "ikev1/negotiation/Tunnel.h"
#include "tests/ikev1/negotiation/NegotiationLog.h"

namespace quillon {
namespace {

using namespace negtest;
using Texts = std::vector<std::string>;

// Main-mode packet n through the tunnel between the two addresses (hex), or "~~" for none.
std::string InTunnel(int n, const std::string& local, const std::string& peer = "") {
  Packet p = MainModePacket(n);
  p.tunnel = local == "~~" ? local : "TunnelLocalIP:" + local + ",TunnelPeerIP:" + peer;
  return Text(p);
}

TEST(TunnelTest, TunnelsInAddressOrderWithTheAddressLessOneLast) {
  auto root = Load(InTunnel(1, "c0a80002", "c0a80009") + InTunnel(1, "~~") + InTunnel(1, "c0a80001", "c0a80009") +
                   InTunnel(1, "c0a80001", "c0a80005") + InTunnel(1, "0", "c0a80005") +
                   InTunnel(2, "c0a80001", "c0a80005"));
  ASSERT_EQ(root->ChildCount(), 1u);
  const LogNode& peer = *root->Child(0);
  EXPECT_EQ(Names(peer), (Texts{"0.0.0.0 <=> 192.168.0.5", "192.168.0.1 <=> 192.168.0.5", "192.168.0.1 <=> 192.168.0.9",
                                "192.168.0.2 <=> 192.168.0.9", "0.0.0.0 <=> 0.0.0.0"}));
  std::string shown;
  for (const auto& tunnel : peer.Children()) shown += NodeAs<Tunnel>(tunnel.get())->HasTunnelAddresses() ? 'x' : '.';
  EXPECT_EQ(shown, ".xxx.");
  // Packet 2 found its negotiation in its own tunnel.
  EXPECT_EQ(ExchangeAt<MainMode>(*peer.Child(1), 0).PacketMask(), 3u);
  // Every tunnel holds one unanswered main mode. The tunnels shown as a level of their own
  // head their statistics; the address-less ones do not, and the last one follows a heading
  // because named tunnels come before it.
  const std::string failed = "Number of failed negotiations\t\t\t\t1\r\n";
  EXPECT_EQ(peer.Child(1)->DetailText(), "Tunnel per interface\r\n\r\nLocal IP:\t192.168.0.1\r\nPeer IP:\t192.168.0.5\r\n"
                                         "\r\nSummary:\r\n" + failed);
  EXPECT_EQ(peer.DetailText(), "Peer\r\n\r\nSummary:\r\n" + failed + "\r\n192.168.0.1 <=> 192.168.0.5\r\n" + failed +
                                   "\r\n192.168.0.1 <=> 192.168.0.9\r\n" + failed + "\r\n192.168.0.2 <=> 192.168.0.9\r\n" +
                                   failed + "\r\nOther negotiations:\r\n" + failed);
}

TEST(TunnelTest, ExchangesInsertedInTimeOrder) {
  // The exchanges moved over stay in the arena of the log they were read into, which therefore
  // goes last.
  auto other = Load(Text(MainModePacket(1, "12:05:00", "0a 0b 0c 0d 0e 0f 10 11")) +
                    Text(QuickModePacket(1, "00 00 00 02", "12:05:00")) + Text(Informational(false, "", "11:00:00")));
  auto root = Load(MainModeLog(6) + Text(QuickModePacket(1, "00 00 00 01", "12:05:00")) +
                   Text(Informational(false, "", "12:10:00")));
  auto& tunnel = dynamic_cast<Tunnel&>(*root->Child(0)->Child(0));
  LogNode& source = *other->Child(0)->Child(0);
  ASSERT_EQ(source.ChildCount(), 3u);
  tunnel.InsertExchange(source.TakeChild(std::size_t{1}));  // quick mode at the same moment: after
  tunnel.InsertExchange(source.TakeChild(std::size_t{0}));  // main mode at the same moment: before
  tunnel.InsertExchange(source.TakeChild(std::size_t{0}));  // the earliest of all
  tunnel.AddRestartMarker("started");                       // no start time: last
  tunnel.InsertExchange(std::make_unique<Restarted>("again", nullptr));
  EXPECT_EQ(Names(tunnel), (Texts{"Info", "Main Mode", "Main Mode", "QuickMode", "QuickMode", "Info",
                                  "Daemon Restarted!!", "Daemon Restarted!!"}));
  EXPECT_TRUE(NodeAs<Exchange>(tunnel.Child(2))->MatchesCookie("0a0b0c0d0e0f1011"));
  EXPECT_EQ(ExchangeAt<PhaseTwo>(tunnel, 4).GetHeader()->MsgIdValue(), 2u);
  EXPECT_EQ(tunnel.Child(2)->Parent(), &tunnel);
}

TEST(TunnelTest, TimeOrderedTunnelPlacesLikeTheFullWalk) {
  // Exchanges with random start times (some equal, some without any) go one by one into a
  // tunnel that only ever receives them in time order: placed singly (found from the front,
  // and by halving), and in a batch.
  std::mt19937 rng(5);
  std::string text;
  for (int i = 0; i < 120; ++i) {
    const std::string time = "12:0" + std::to_string(rng() % 3) + ":0" + std::to_string(rng() % 4);
    if (rng() % 3 == 0)
      text += Text(MainModePacket(1, time, "01 02 03 04 05 06 07 " + NumberText(static_cast<std::uint32_t>(i), 16)));
    else text += Text(Informational(false, "", time));
  }
  auto root = Load(text), copy = Load(text);
  LogNode& source = *root->Child(0)->Child(0);
  LogNode& sameSource = *copy->Child(0)->Child(0);
  ASSERT_EQ(source.ChildCount(), 120u);
  Tunnel single(0, 0, nullptr), batched(0, 0, nullptr);
  batched.InsertExchange(sameSource.TakeChild(std::size_t{0}));
  single.InsertExchange(source.TakeChild(std::size_t{0}));
  batched.OpenInsertBatch();
  ASSERT_TRUE(batched.HasOpenInsertBatch());
  while (source.ChildCount() != 0) {
    const std::size_t at = rng() % source.ChildCount();
    std::unique_ptr<LogNode> next = source.TakeChild(at), same = sameSource.TakeChild(at);
    if (rng() % 10 == 0) {
      next = std::make_unique<Restarted>("started", nullptr);
      same = std::make_unique<Restarted>("started", nullptr);
    }
    ASSERT_EQ(TimeOrderPosition(single, *next, true), TimeOrderPosition(single, *next, false));
    single.InsertExchange(std::move(next));
    batched.InsertExchange(std::move(same));
  }
  batched.CloseInsertBatch();
  std::string a, b;
  Dump(single, a);
  Dump(batched, b);
  EXPECT_EQ(a, b);
  EXPECT_EQ(single.ChildCount(), 120u);
  EXPECT_EQ(batched.Child(7)->Parent(), &batched);
  // A tunnel filled by its packets is in arrival order: it opens no batch.
  auto loaded = Load(MainModeLog(1));
  auto& filled = dynamic_cast<Tunnel&>(*loaded->Child(0)->Child(0));
  filled.OpenInsertBatch();
  EXPECT_FALSE(filled.HasOpenInsertBatch());
}

TEST(TunnelTest, PacketsFindTheirNegotiationAfterTheTunnelChanged) {
  const std::string b = "0b 0b 0b 0b 0b 0b 0b 0b";
  auto root = Load(MainModeLog(2) + MainModeLog(2, "0a000001", b));
  auto& tunnel = dynamic_cast<Tunnel&>(*root->Child(0)->Child(0));
  ASSERT_EQ(tunnel.ChildCount(), 2u);
  tunnel.TakeChild(std::size_t{0});  // removed behind the tunnel's back
  ASSERT_EQ(tunnel.ChildCount(), 1u);

  auto add = [&tunnel](const Packet& p) {
    auto reader = DebugLogReader::FromText(Text(p));
    return tunnel.AddPacket(ReadPacket(std::make_unique<Header>(reader), reader), nullptr);
  };
  // The negotiation of cookie b moved up one place; packet 3 still joins it.
  Exchange* joined = add(MainModePacket(3, "12:00:03", b));
  EXPECT_EQ(joined, tunnel.Child(0));
  EXPECT_EQ(ExchangeAt<MainMode>(tunnel, 0).PacketMask(), 7u);
  // Closed from outside: the next packet starts a new negotiation.
  joined->Close();
  EXPECT_NE(add(MainModePacket(4, "12:00:04", b)), joined);
  EXPECT_EQ(tunnel.ChildCount(), 2u);
  // Informational packets never join.
  add(Informational(false, ""));
  add(Informational(false, ""));
  EXPECT_EQ(tunnel.ChildCount(), 4u);
  // A packet without a negotiation class is dropped.
  auto reader = DebugLogReader::FromText("");
  EXPECT_EQ(tunnel.AddPacket(ReadPacket(std::make_unique<Header>(), reader), nullptr), nullptr);
  EXPECT_EQ(tunnel.ChildCount(), 4u);
}

TEST(PeerTest, PeersInAscendingAddressOrderAndIndexedPeers) {
  std::string text;
  int n = 0;
  for (const char* address : {"0a000005", "0a000001", "0000fefe", "0a000003", "0000feff", "0a000001"}) {
    Packet p = MainModePacket(1, "12:00:01", "01 02 03 04 05 06 07 0" + std::to_string(++n));
    p.peer = address;
    text += Text(p);
  }
  auto root = Load(text);
  EXPECT_EQ(Names(*root), (Texts{"0.0.254.254", "0.0.254.255", "10.0.0.1", "10.0.0.3", "10.0.0.5"}));
  EXPECT_EQ(root->Child(2)->Child(0)->ChildCount(), 2u);  // both packets of 10.0.0.1
  EXPECT_TRUE(NodeAs<Peer>(root->Child(0))->IsIndexedPeer());
  EXPECT_EQ(root->Child(0)->IdAddress(), 0xfefeu);
  EXPECT_FALSE(NodeAs<Peer>(root->Child(1))->IsIndexedPeer());
  EXPECT_EQ(root->Child(1)->IdAddress(), 0u);
}

TEST(PeerTest, RestartEndsEveryNegotiationAndMarksEachPeerOnce) {
  Packet a1 = MainModePacket(1), a2 = MainModePacket(2), a3 = MainModePacket(3), a4 = MainModePacket(4);
  const Packet other = At(MainModePacket(1, "12:00:01", "0c 0c 0c 0c 0c 0c 0c 0c"), "0a000001", kTunnel);
  const Packet b1 = At(MainModePacket(1), "0a000002");
  a3.payloads = Nonce("01") + "IKE daemon started at 12:00:30\n" + Nonce("02");
  auto root = Load(Text(a1) + Text(a2) + Text(other) + Text(b1) + Text(a3) + Text(a4));
  ASSERT_EQ(root->ChildCount(), 2u);

  const LogNode& peerA = *root->Child(0);
  ASSERT_EQ(peerA.ChildCount(), 2u);
  // The marker goes to the first tunnel only: here the one with tunnel addresses.
  EXPECT_EQ(Names(*peerA.Child(0)), (Texts{"Main Mode", "Daemon Restarted!!"}));
  EXPECT_EQ(peerA.Child(0)->Child(1)->DetailText(), "started");
  const LogNode& plain = *peerA.Child(1);
  EXPECT_EQ(Names(plain), (Texts{"Main Mode", "Main Mode"}));
  // Packet 3 still belongs to the negotiation it was read for; packet 4 starts a new one.
  EXPECT_EQ(ExchangeAt<MainMode>(plain, 0).PacketMask(), 7u);
  EXPECT_EQ(plain.Child(0)->Child(2)->ChildCount(), 2u);  // the header and the first nonce
  EXPECT_EQ(ExchangeAt<MainMode>(plain, 1).PacketMask(), 8u);

  const LogNode& peerB = *root->Child(1);
  EXPECT_EQ(Names(*peerB.Child(0)), (Texts{"Main Mode", "Daemon Restarted!!"}));
  EXPECT_EQ(peerB.Child(0)->Child(1)->DetailText(), "started");
}

TEST(PeerTest, RestartMarkerText) {
  // "daemon" as the last word before a packet: the text is not taken from the packet, and the
  // packet is still read, in both layouts.
  for (int next : {2, 3}) {
    Packet first = MainModePacket(1);
    first.payloads = Nonce("01") + "gxikemgr daemon\n";
    auto root = Load(Text(first) + Text(MainModePacket(next)));
    const LogNode& tunnel = TunnelOf(*root);
    ASSERT_EQ(Names(tunnel), (Texts{"Main Mode", "Daemon Restarted!!", "Main Mode"})) << next;
    EXPECT_EQ(tunnel.Child(1)->DetailText(), "daemon");
    const auto& second = ExchangeAt<MainMode>(tunnel, 2);
    ASSERT_EQ(second.ChildCount(), 1u);
    EXPECT_EQ(second.Child(0)->Name(), "MM packet " + std::to_string(next) + " (12:00:0" + std::to_string(next) + ")");
    EXPECT_EQ(second.CookieValue(), 0x05060708u);
  }

  // The daemon's version from the restart line; for any other token the text of the restart
  // seen last.
  auto root = Load(MainModeLog(1));
  auto& peer = dynamic_cast<Peer&>(*root->Child(0));
  const LogNode& tunnel = TunnelOf(*root);
  struct Case { const char* line; const char* text; };
  for (const Case& c : {Case{"GX-1(4.1) restarted by daemon", "(4.1)"}, Case{"GX-1(4.1.2) the daemon", "(4.1."},
                        Case{"GX-1 without version daemon", ""}}) {
    auto reader = DebugLogReader::FromText(std::string(c.line) + "\nmore\n");
    reader.ReadLineRest();
    ASSERT_TRUE(reader.RestartSeen());
    peer.HandleRestart(reader);
    EXPECT_EQ(tunnel.Child(tunnel.ChildCount() - 1)->DetailText(), c.text);
  }
  auto reader = DebugLogReader::FromText("started");
  reader.SetRestartText("daemon restart text");
  reader.ReadToken();
  peer.HandleRestart(reader);
  EXPECT_EQ(tunnel.Child(tunnel.ChildCount() - 1)->DetailText(), "daemon restart text");
  EXPECT_EQ(tunnel.ChildCount(), 5u);
}

}  // namespace
}  // namespace quillon
