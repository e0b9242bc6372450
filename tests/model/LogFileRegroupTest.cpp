// The log root after a load: packet-debug records placed on their packets, peers named by an
// index (0.0.0.n, as the daemon logs a remote-access peer) regrouped with the address they
// stand for.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "ikev1/log/DebugLogReader.h"
#include "ikev1/log/FolderElement.h"
#include "ikev1/log/PacketDebugRecord.h"
#include "ikev1/log/ReadIKEv1Log.h"
#include "ikev1/negotiation/Peer.h"
#include "ikev2/ReadIKEv2Log.h"
#include "ikev2/V2Peer.h"
#include "model/IPv4.h"
#include "model/LogFile.h"
#include "tests/ikev1/negotiation/NegotiationLog.h"
#include "tests/ikev2/V2TestLogs.h"

namespace quillon {
namespace {

using namespace negtest;
using Texts = std::vector<std::string>;


// One main mode logged half under the peer's index and half under its address.
std::string SplitMainMode(const std::string& index, const std::string& address, const std::string& cookie = kCookie,
                          const std::string& tunnel = "~~") {
  std::string text;
  for (int n = 1; n <= 6; ++n) text += Text(At(MainModePacket(n, "", cookie), n % 2 == 1 ? index : address, tunnel));
  return text;
}

// A log with a bit of everything: two peers, tunnels, every negotiation kind, packet-debug
// records, a restart.
std::string RichLog() {
  Packet qm1 = QuickModePacket(1, "00 00 00 01", "12:01:00");
  qm1.payloads = Nonce("01 02") + IdBlock("0a 00 00 00") + IdBlock("c0 a8 01 00");
  Packet cm;
  cm.keyword = "process_config";
  cm.msgId = "00 00 00 07";
  const std::string restartCookie = "0d 0d 0d 0d 0d 0d 0d 0d";
  Packet restartPacket = MainModePacket(1, "12:20:00", restartCookie);
  restartPacket.payloads = Nonce("03") + "IKE daemon started\n";
  return "IKE logging started\r\n\r\n" + MainModeLog(6) + Record(true, "0a000001", kCookie, kZeroId, "\tPeerIP: 0a000063\n") +
         Record(false, "0a000001", kCookie, "00 00 00 01") + Text(QuickModePacket(2, "00 00 00 01", "12:01:01")) +
         Text(qm1) + Text(QuickModePacket(3, "00 00 00 01", "12:01:02")) + Text(cm) +
         Text(Informational(false, NotifyBlock("00 0e"))) +
         Text(Informational(true, DeleteBlock("00 00 00 01", "aa bb cc dd"), "12:10:01")) +
         Text(At(MainModePacket(1, "12:11:00", "0e 0e 0e 0e 0e 0e 0e 0e"), "0a000002", kTunnel)) + Text(restartPacket) +
         Text(MainModePacket(2, "12:20:01", restartCookie)) + "trailing noise\n";
}

// The packet-debug record a packet (a message or an informational exchange) took, if any.
const PacketDebugRecord* RecordOf(const LogNode* node) {
  const auto* packet = dynamic_cast<const FolderElement*>(node);
  return packet != nullptr ? packet->PacketDebug() : nullptr;
}

TEST(LogFileRegroupTest, PacketDebugRecordsReachTheirPackets) {
  auto root = Load(Text(MainModePacket(1)) + Record(true, "0a000001", kCookie, kZeroId, "\tPeerIP: 0a000063\n") +
                   Record(false, "0a000001", kCookie, kZeroId) + Text(MainModePacket(2)) + Text(MainModePacket(3)) +
                   // records that match nothing are dropped
                   Record(true, "0a000001", "ff ff ff ff ff ff ff ff", kZeroId) + Record(true, "0a0000ff", kCookie, kZeroId));
  const NegotiationNode& mm = *NodeAs<NegotiationNode>(TunnelOf(*root).Child(0));
  ASSERT_EQ(mm.ChildCount(), 3u);
  // A "Sent:" record follows its packet: the negotiation's last message at that point. Its
  // PeerIP becomes the negotiation's.
  ASSERT_NE(RecordOf(mm.Child(0)), nullptr);
  EXPECT_TRUE(RecordOf(mm.Child(0))->sent);
  EXPECT_EQ(mm.PacketDebugValue(), 0x0a000063u);
  // A "Received:" record precedes its packet.
  ASSERT_NE(RecordOf(mm.Child(1)), nullptr);
  EXPECT_FALSE(RecordOf(mm.Child(1))->sent);
  EXPECT_EQ(RecordOf(mm.Child(2)), nullptr);

  // The same cookie in two tunnels: a sent record goes to the packet it follows, not to the
  // first negotiation in tree order (the tunnel with addresses) that has the cookie too. A
  // record that follows no packet of its cookie goes to that first negotiation.
  root = Load(Text(MainModePacket(1)) + Text(At(MainModePacket(1, "12:00:09"), "0a000001", kTunnel)) +
              Text(MainModePacket(3)) + Record(true, "0a000001", kCookie, kZeroId) +
              Text(At(MainModePacket(1, "12:00:10", "0f 0f 0f 0f 0f 0f 0f 0f"), "0a000001", kTunnel)) +
              Record(true, "0a000001", kCookie, kZeroId, "\tPeerIP: 0a000063\n"));
  const LogNode& peer = *root->Child(0);
  ASSERT_EQ(Names(peer), (Texts{"192.168.0.1 <=> 192.168.0.2", "0.0.0.0 <=> 0.0.0.0"}));
  ASSERT_NE(RecordOf(peer.Child(0)->Child(0)->Child(0)), nullptr);
  EXPECT_EQ(RecordOf(peer.Child(0)->Child(0)->Child(0))->peerIP, 0x0a000063u);
  ASSERT_EQ(peer.Child(1)->Child(0)->ChildCount(), 2u);
  EXPECT_NE(RecordOf(peer.Child(1)->Child(0)->Child(1)), nullptr);
}

TEST(LogFileRegroupTest, EveryLoadStandsAlone) {
  // The same text gives the same tree, also reloaded into a cleared root.
  const std::string text = RichLog();
  auto a = Load(text);
  std::string first, second, again;
  Dump(*a, first);
  Dump(*Load(text), second);
  EXPECT_EQ(first, second);
  EXPECT_EQ(Names(*a), (Texts{"10.0.0.1", "10.0.0.2"}));
  EXPECT_EQ(Names(TunnelOf(*a)), (Texts{"Main Mode", "QuickMode", "ConfigMode", "Info NO-PROPOSAL-CHOSEN",
                                        "Delete IPsec", "Main Mode", "Daemon Restarted!!", "Main Mode"}));
  a->Clear();
  auto reader = DebugLogReader::FromText(text);
  ReadIKEv1Log(*a, reader);
  Dump(*a, again);
  EXPECT_EQ(again, first);

  // A received record whose packet is not in its log does not attach to another log's packet.
  auto other = Load(Text(MainModePacket(1)) + Record(false, "0a000001", kCookie, kZeroId));
  EXPECT_EQ(RecordOf(TunnelOf(*Load(Text(MainModePacket(2)))).Child(0)->Child(0)), nullptr);
}

// Peers, their tunnels and each tunnel's number of negotiations, on one line.
std::string Shape(const LogFile& root) {
  std::string out;
  for (const auto& peer : root.Children()) {
    out += std::string(peer->Name()) + " {";
    for (const auto& tunnel : peer->Children()) out += " " + std::string(tunnel->Name()) + ": " + std::to_string(tunnel->ChildCount());
    out += " } ";
  }
  return out;
}

TEST(LogFileRegroupTest, IndexedPeersJoinTheAddressTheyStandFor) {
  const std::string split = SplitMainMode("00000005", "0a000003");
  std::string identified = split;
  for (int n = 1; n <= 6; ++n) {
    Packet p = At(MainModePacket(n, "12:40:0" + std::to_string(n), "0d 0d 0d 0d 0d 0d 0d 0d"), "0a000003");
    if (n == 6) p.payloads = IdBlock("00 00 00 05");
    identified += Text(p);
  }
  const std::string p1 = Text(At(MainModePacket(1), "00000007")), p2 = Text(At(MainModePacket(2), "00000007"));
  const std::string plain = "0.0.0.0 <=> 0.0.0.0";
  struct Case { const char* what; std::string log, shape; };
  for (const Case& c : {
           Case{"index and address share a cookie", split, "10.0.0.3  (0.0.0.5) { " + plain + ": 2 } "},
           Case{"a received record gives the index's address",
                p1 + Record(false, "07", kCookie, kZeroId, "\tPeerIP: 0a000004\n") + p2,
                "10.0.0.4  (0.0.0.7) { " + plain + ": 1 } "},
           Case{"no address anywhere: the peer stays as it was", p1 + p2, "0.0.0.7 { " + plain + ": 1 } "},
           // 10.0.0.3 identifies itself by index 5 in a later main mode; the index is already
           // paired with 10.0.0.3, so that negotiation joins the merged peer too.
           Case{"main-mode identity of a paired index", identified, "10.0.0.3  (0.0.0.5) { " + plain + ": 3 } "},
           Case{"one merged peer per pair whatever the tunnels",
                split + SplitMainMode("00000005", "0a000003", "0c 0c 0c 0c 0c 0c 0c 0c", kTunnel),
                "10.0.0.3  (0.0.0.5) { 192.168.0.1 <=> 192.168.0.2: 2 " + plain + ": 2 } "}}) {
    EXPECT_EQ(Shape(*Load(c.log)), c.shape) << c.what;
  }

  auto root = Load(split + Text(At(MainModePacket(1, "12:30:00", "0a 0a 0a 0a 0a 0a 0a 0a"), "0a000009")));
  EXPECT_EQ(Shape(*root), "10.0.0.3  (0.0.0.5) { " + plain + ": 2 } 10.0.0.9 { " + plain + ": 1 } ");
  const PeerNode& merged = *NodeAs<PeerNode>(root->Child(0));
  EXPECT_TRUE(merged.IsMergedPeer());
  EXPECT_EQ(merged.PeerAddress(), 5u);
  EXPECT_EQ(merged.IdAddress(), 0x0a000003u);
  // Both halves in time order: the one logged under the index began first.
  const LogNode& tunnel = *merged.Child(0);
  EXPECT_EQ(Names(*tunnel.Child(0)), (Texts{"MM packet 1 (12:00:01)", "MM packet 3 (12:00:03)", "MM packet 5 (12:00:05)"}));
  EXPECT_EQ(Names(*tunnel.Child(1)), (Texts{"MM packet 2 (12:00:02)", "MM packet 4 (12:00:04)", "MM packet 6 (12:00:06)"}));
  for (const auto& child : tunnel.Children()) {
    const auto* exchange = NodeAs<NegotiationNode>(child.get());
    ASSERT_NE(exchange, nullptr);
    EXPECT_TRUE(exchange->IsReassigned());
    EXPECT_EQ(exchange->ReassignedIndex(), 5u);
    EXPECT_EQ(exchange->ReassignedAddress(), 0x0a000003u);
  }
}

TEST(LogFileRegroupTest, IKEv2PeersRegroupTheSameWay) {
  using v2test::ExchangeXml;
  const std::string attrs = "final_status=\"success\" Type=\"Initial\" serial=\"1\" Dir=\"Outbound\"";
  LogFile root;
  auto reader = LogLineReader::FromText(ExchangeXml(attrs, "0.0.0.5", v2test::RequestAndResponse()) +
                                        ExchangeXml(attrs, "10.0.0.3", v2test::RequestAndResponse()));
  ReadIKEv2Log(root, reader);
  ASSERT_EQ(Names(root), (Texts{"10.0.0.3  (0.0.0.5)"}));
  EXPECT_NE(dynamic_cast<const V2Peer*>(root.Child(0)), nullptr);
  ASSERT_NE(dynamic_cast<const V2Tunnel*>(root.Child(0)->Child(0)), nullptr);
  EXPECT_EQ(root.Child(0)->Child(0)->ChildCount(), 2u);
}

// The loader's placing of packets, without the regrouping at the end.
void PlaceWithoutRegrouping(LogFile& root, const std::string& text) {
  auto reader = DebugLogReader::FromText(text);
  IKEv1ReadOptions options;
  options.regroup = false;
  ReadIKEv1Log(root, reader, options);
}

// Every node, and the regrouping's marks on peers and exchanges.
std::string Marks(const LogFile& root) {
  std::string out;
  Dump(root, out);
  for (const auto& peer : root.Children()) {
    out += std::string(peer->Name()) + (NodeAs<PeerNode>(peer.get())->IsRegrouped() ? " regrouped\n" : "\n");
    for (const auto& tunnel : peer->Children())
      for (const auto& child : tunnel->Children()) {
        const auto* exchange = NodeAs<NegotiationNode>(child.get());
        out += NumberText(exchange->ReassignedIndex(), 16) + "/" + NumberText(exchange->ReassignedAddress(), 16) + "\n";
      }
  }
  return out;
}

// The regrouping pairs indexes with addresses through a lookup; pairing by walking every
// peer's exchanges first must give the same tree and marks, and every packet of the input
// stays in the tree exactly once.
TEST(LogFileRegroupTest, PairingByIndexGivesTheFullWalksResult) {
  const char* peers[] = {"00000001", "00000002", "00000003", "0a000001", "0a000002", "0a000003", "0000ffff"};
  const char* cookies[] = {"01 01 01 01 01 01 01 01", "02 02 02 02 02 02 02 02", "03 03 03 03 03 03 03 03",
                           "04 04 04 04 04 04 04 04"};
  std::mt19937 rng(77);
  for (int round = 0; round < 200; ++round) {
    std::string text;
    const int packets = 1 + static_cast<int>(rng() % 24);
    for (int i = 0; i < packets; ++i) {
      Packet p = MainModePacket(1 + static_cast<int>(rng() % 6), "12:00:" + std::to_string(10 + i), cookies[rng() % 4]);
      p.peer = peers[rng() % 7];
      if (rng() % 5 == 0) p.tunnel = kTunnel;
      if (rng() % 6 == 0 && p.keyword.rfind("process", 0) == 0) {
        p.payloads = IdBlock("00 00 00 0" + std::to_string(1 + rng() % 3));
        text += Record(false, p.peer, p.cookie, kZeroId, "\tPeerIP: 0a00000" + std::to_string(1 + rng() % 3) + "\n");
      }
      text += Text(p);
    }
    LogFile fast, reference;
    PlaceWithoutRegrouping(fast, text);
    PlaceWithoutRegrouping(reference, text);
    fast.Regroup();
    for (std::size_t i = 0; i < reference.ChildCount(); ++i) {
      PeerNode& peer = *NodeAs<PeerNode>(reference.Child(i));
      if (!(peer.IsIndexedPeer() || peer.HasIdAddress()) || peer.IsRegrouped()) continue;
      for (const auto& tunnel : peer.Children())
        for (const auto& exchange : tunnel->Children())
          if (!NodeAs<NegotiationNode>(exchange.get())->IsReassigned()) reference.PairByCookie(i, *exchange);
    }
    reference.Regroup();
    ASSERT_EQ(Marks(fast), Marks(reference)) << "round " << round << "\n" << text;
    // The regrouping moves negotiations, never loses or copies one: every packet is there once.
    std::size_t placed = 0;
    for (const auto& peer : fast.Children())
      for (const auto& tunnel : peer->Children())
        for (const auto& exchange : tunnel->Children()) placed += exchange->ChildCount();
    ASSERT_EQ(placed, static_cast<std::size_t>(packets)) << "round " << round << "\n" << text;
  }
}

TEST(LogFileRegroupTest, RemovePeerAndRemoveEmpty) {
  auto root = Load(MainModeLog(1, "0a000001") + MainModeLog(1, "0a000002") + MainModeLog(1, "0a000003"));
  // A peer that only looks like one of the root's: same address and name.
  root->RemovePeer(Peer(0x0a000002, 0x0a000002, "10.0.0.2", nullptr));
  EXPECT_EQ(Names(*root), (Texts{"10.0.0.1", "10.0.0.3"}));
  root->RemovePeer(*root->Child(0));
  EXPECT_EQ(Names(*root), (Texts{"10.0.0.3"}));
  // Emptied tunnels and then their peer go.
  root->Child(0)->Child(0)->TakeChild(std::size_t{0});
  root->RemoveEmpty();
  EXPECT_EQ(root->ChildCount(), 0u);
  EXPECT_EQ(root->DetailText(), "LogFile\r\n");
}

}  // namespace
}  // namespace quillon
