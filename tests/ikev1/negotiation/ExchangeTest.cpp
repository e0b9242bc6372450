// The negotiations of a log: which packets make one negotiation, when it is complete, what it
// shows, and how it is matched by cookie, SPI and identities.
#include "ikev1/negotiation/Exchange.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "ikev1/log/DebugLogReader.h"
#include "ikev1/log/Header.h"
#include "ikev1/log/Message.h"
#include "ikev1/log/PacketDebugRecord.h"
#include "ikev1/payloads/KeyMaterialPayloads.h"
#include "tests/ikev1/negotiation/NegotiationLog.h"

namespace quillon {
namespace {

using namespace negtest;
using Texts = std::vector<std::string>;

TEST(ExchangeTest, MainModeCompleteIncompleteAndRepeated) {
  auto root = Load(MainModeLog(6));
  ASSERT_EQ(TunnelOf(*root).ChildCount(), 1u);
  const auto& mm = ExchangeAt<MainMode>(TunnelOf(*root), 0);
  EXPECT_EQ(mm.PacketMask(), 63u);
  ASSERT_EQ(mm.ChildCount(), 6u);
  EXPECT_EQ(mm.Child(5)->Name(), "MM packet 6 (12:00:06)");
  EXPECT_NE(dynamic_cast<const Main34Mess*>(mm.Child(2)), nullptr);
  EXPECT_NE(dynamic_cast<const Main56Mess*>(mm.Child(5)), nullptr);
  // The exchange links the last packet's header, which that packet's message owns.
  EXPECT_EQ(mm.GetHeader(), mm.Child(5)->Child(0));

  // A retransmitted packet 3 joins its negotiation, which never sees packet 6.
  root = Load(MainModeLog(3) + Text(MainModePacket(3, "12:00:09")) + Text(MainModePacket(5)));
  const auto& failed = ExchangeAt<MainMode>(TunnelOf(*root), 0);
  EXPECT_EQ(failed.PacketMask(), 23u);
  EXPECT_EQ(Names(failed), (Texts{"MM packet 1 (12:00:01)", "MM packet 2 (12:00:02)", "MM packet 3 (12:00:03)",
                                  "MM packet 3 (12:00:09)", "MM packet 5 (12:00:05)"}));
}

TEST(ExchangeTest, QuickAggressiveAndConfigurationExchanges) {
  // Two quick modes under one cookie, told apart by their message IDs.
  const std::string id1 = "00 00 00 01", id2 = "00 00 00 02";
  auto packet = [](const char* keyword, const char* msgId = "00 00 00 00") {
    Packet p;
    p.keyword = keyword;
    p.msgId = msgId;
    return Text(p);
  };
  auto root = Load(Text(QuickModePacket(1, id1, "12:01:00")) + Text(QuickModePacket(1, id2, "12:01:01")) +
                   Text(QuickModePacket(2, id1, "12:01:02")) + Text(QuickModePacket(2, id2, "12:01:03")) +
                   Text(QuickModePacket(3, id2, "12:01:04")) + Text(QuickModePacket(3, id1, "12:01:05")) +
                   packet("create_packet1aggressive:") + packet("process_packet2aggressive:") +
                   packet("process_config", "00 00 00 07") + packet("create_packet3aggressive:") +
                   packet("create_config_reply:", "00 00 00 07"));
  const LogNode& tunnel = TunnelOf(*root);
  EXPECT_EQ(Names(tunnel), (Texts{"QuickMode", "QuickMode", "Aggressive", "ConfigMode"}));
  const auto& first = ExchangeAt<PhaseTwo>(tunnel, 0);
  EXPECT_EQ(first.PacketMask(), 7u);
  EXPECT_EQ(Names(first), (Texts{"QM packet 1 (12:01:00)", "QM packet 2 (12:01:02)", "QM packet 3 (12:01:05)"}));
  EXPECT_EQ(Names(*tunnel.Child(1)), (Texts{"QM packet 1 (12:01:01)", "QM packet 2 (12:01:03)", "QM packet 3 (12:01:04)"}));
  EXPECT_EQ(first.TimeText(), "12:01:05");  // the packet added last, for the diagnosis' time windows
  // Neither quick mode names identities (both are for the peers' addresses), and the second
  // completed within seconds of the first.
  EXPECT_EQ(first.DetailText(),
            "Phase Two\r\n\r\nLocal host ==> Remote peer(10.0.0.1)\r\n\r\nSummary:\r\nSuccessive identical negotiations");

  const auto& ag = ExchangeAt<Aggresive>(tunnel, 2);
  EXPECT_EQ(Names(ag), (Texts{"AG packet 1 (12:00:00)", "AG packet2 (12:00:00)", "AG packet3 (12:00:00)"}));
  EXPECT_TRUE(ag.IsComplete());
  EXPECT_EQ(ag.DetailText(), "Aggresive Mode\r\n");
  const auto& cm = ExchangeAt<ConfigMode>(tunnel, 3);
  EXPECT_EQ(cm.ChildCount(), 2u);
  EXPECT_TRUE(cm.IsComplete());
  EXPECT_EQ(cm.DetailText(), "Configuration Mode\r\n\r\nLocal host ==> Remote peer(10.0.0.1)");
}

TEST(ExchangeTest, InformationalPacketsEachStartANotify) {
  auto root = Load(Text(Informational(false, NotifyBlock("8d 28"), "12:10:00")) +
                   Text(Informational(true, DeleteBlock("00 00 00 01", "aa bb cc dd"), "12:10:01")) +
                   Text(Informational(false, "", "12:10:02")) +
                   Text(Informational(false, NotifyBlock("00 0e"), "12:10:03")) +
                   Text(Informational(false, "", "12:10:04")) +
                   Text(Informational(false, DeleteBlock("00 00 00 00", "01 02"), "12:10:05")));
  const LogNode& tunnel = TunnelOf(*root);
  EXPECT_EQ(Names(tunnel), (Texts{"DPD", "Delete IPsec", "Info", "Info NO-PROPOSAL-CHOSEN", "Info", "Delete IKE"}));
  const auto& dpd = ExchangeAt<Notify>(tunnel, 0);
  EXPECT_EQ(dpd.Child(0), dpd.GetHeader());  // the header is the notify's own child
  // An informational exchange is one packet, complete from the start.
  EXPECT_EQ(dpd.Caption(), "DPD   <== Mon Nov 13 2006 From: 12:10:00 To: 12:10:00");
  EXPECT_EQ(tunnel.Child(1)->SpiText(), "aabbccdd");
  EXPECT_TRUE(NodeAs<Exchange>(tunnel.Child(1))->MatchesSpi("aabbccdd"));
}

TEST(ExchangeTest, NotifyRecordsFinalHashAndWritingBack) {
  const std::string msgId = "aa bb cc dd";
  auto original = Load(Record(false, "0a000001", kCookie, msgId, "\tExchange type: Info\n") +
                       Text(Informational(false, NotifyBlock("00 0e"), "12:10:00", msgId)) +
                       Text(Informational(true, Block("debugHashPayload:", "HashData:", "11") + NotifyBlock("8d 28") +
                                                    "noise between blocks\n"
                                                    "debugIsakmpHdrLen:\n\tLength: 00 00 00 4c (76)\n\n"
                                                    "debugHashData:\n\tHashData: aa bb\n",
                                                "12:10:01", "00 00 00 09")) +
                       Record(true, "0a000001", kCookie, "00 00 00 09", "\tSize: 76 bytes\n"));
  const LogNode& tunnel = TunnelOf(*original);
  ASSERT_EQ(tunnel.ChildCount(), 2u);
  EXPECT_EQ(tunnel.Child(0)->DetailText(), "Notify\r\n\r\nExchange type:\t\tInfo\r\n\r\nLocal host <== Remote peer(10.0.0.1)"
                                           "\r\n\r\nSummary:\r\nMismatch of encryption methods");
  // A created packet logs its hash once computed, after the payloads.
  const auto& sent = ExchangeAt<Notify>(tunnel, 1);
  ASSERT_EQ(sent.ChildCount(), 3u);
  EXPECT_EQ(dynamic_cast<const HashPayload&>(*sent.Child(1)).Data(), (ByteList{0xaa, 0xbb}));
  EXPECT_EQ(sent.GetHeader()->Length(), (ByteList{0, 0, 0, 0x4c}));
  ASSERT_NE(sent.PacketDebug(), nullptr);

  // Saved in the daemon's layout and read again, both packets come back with their records,
  // lengths and hash.
  std::string saved = "IKE logging started (file saved by Quillon)\r\n\r\n";
  WriteTree(*original, saved);
  EXPECT_NE(saved.find("\ngxIsakmp_BuildInfoExc-N peer: a000001 ~~ Mon Nov 13 12:10:01 2006\n" + kPlus +
                       "\ndebugIsakmpHdr: (Creation)\n"),
            std::string::npos)
      << saved;
  std::string before, after;
  Dump(*original, before);
  Dump(*Load(saved), after);
  EXPECT_EQ(after, before);
}

std::unique_ptr<FakePayload> Fake(const std::string& spi, const std::string& identity = "") {
  auto payload = std::make_unique<FakePayload>();
  payload->spi = spi;
  payload->identity = identity;
  return payload;
}

TEST(ExchangeTest, SentRecordThatDoesNotFollowItsPacketFindsItsNegotiation) {
  // Peer A's first packet, then peer B's, then A's record: the record no longer follows its
  // packet and is matched by peer, cookie and message ID. Records that match no negotiation of
  // their peer (another cookie; B's cookie logged for A) are dropped.
  const std::string otherCookie = "a1 a2 a3 a4 a5 a6 a7 a8";
  Packet a = MainModePacket(1);
  const Packet b = At(MainModePacket(1, "12:00:02", otherCookie), "0a000002");
  auto root = Load(Text(a) + Text(b) + Record(true, "0a000001", kCookie, kZeroId, "\tSize: 28 bytes\n") +
                   Record(true, "0a000001", "ff ff ff ff ff ff ff ff", kZeroId) +
                   Record(true, "0a000001", otherCookie, kZeroId));
  ASSERT_EQ(root->ChildCount(), 2u);
  const auto& mainA = ExchangeAt<MainMode>(TunnelOf(*root, 0), 0);
  const auto& mainB = ExchangeAt<MainMode>(TunnelOf(*root, 1), 0);
  ASSERT_EQ(mainA.ChildCount(), 1u);
  const auto* packetA = dynamic_cast<const FolderElement*>(mainA.Child(0));
  ASSERT_NE(packetA, nullptr);
  ASSERT_NE(packetA->PacketDebug(), nullptr);
  EXPECT_EQ(std::string(packetA->PacketDebug()->text), "\r\nSize:\t\t\t28 bytes");
  const auto* packetB = dynamic_cast<const FolderElement*>(mainB.Child(0));
  ASSERT_NE(packetB, nullptr);
  EXPECT_EQ(packetB->PacketDebug(), nullptr);
}

TEST(ExchangeTest, CookieAndSpiMatching) {
  auto root = Load(Text(MainModePacket(1, "12:00:01", "0a 0b 0c 0d 0e 0f 10 11")));
  const Exchange& mm = *NodeAs<Exchange>(TunnelOf(*root).Child(0));
  EXPECT_TRUE(mm.MatchesCookie("0a0b0c0d0e0f1011"));
  EXPECT_TRUE(mm.MatchesCookie("1112131415161718"));  // the responder cookie
  EXPECT_FALSE(mm.MatchesCookie("0A0B0C0D0E0F1011"));
  EXPECT_FALSE(mm.MatchesCookie("0a0b0c0d"));

  Exchange exchange("QuickMode", nullptr);
  EXPECT_FALSE(exchange.MatchesSpi(""));
  for (const char* spi : {"aaaa", "", "bbbb"}) exchange.AppendChild(Fake(spi));
  EXPECT_TRUE(exchange.MatchesSpi("aaaa"));
  EXPECT_TRUE(exchange.MatchesSpi("bbbb"));
  EXPECT_FALSE(exchange.MatchesSpi(""));
  // A third SPI: the messages belong to more than one SA, and none identifies the exchange.
  exchange.AppendChild(Fake("aaaa"));
  EXPECT_FALSE(exchange.MatchesSpi("aaaa"));
}

// A quick mode whose messages carry the given identity pairs.
std::unique_ptr<PhaseTwo> QuickMode(const std::vector<std::pair<std::string, std::string>>& messages) {
  auto quickMode = std::make_unique<PhaseTwo>(nullptr);
  for (const auto& [initiator, responder] : messages) {
    auto message = std::make_unique<PhaTwo12Mess>("QM packet", nullptr);
    message->SetIdPayload(message->AddPayload(Fake("", initiator)));
    message->SetIdPayload(message->AddPayload(Fake("", responder)));
    quickMode->AppendChild(std::move(message));
  }
  return quickMode;
}

TEST(ExchangeTest, QuickModeIdentitiesCompareOnlyOrSecondMessages) {
  const std::string a = "10.0.0.0/8", b = "192.168.1.0/24", c = "172.16.0.0/12";
  EXPECT_TRUE(QuickMode({{a, b}})->SameIdentities(*QuickMode({{b, a}})));  // crossed roles
  EXPECT_FALSE(QuickMode({{a, b}})->SameIdentities(*QuickMode({{c, a}, {a, b}})));
  // With two or more messages each, the second messages (the answers) decide.
  EXPECT_TRUE(QuickMode({{c, a}, {a, b}})->SameIdentities(*QuickMode({{a, b}, {a, b}, {c, c}})));
  EXPECT_FALSE(QuickMode({{a, b}, {a, b}})->SameIdentities(*QuickMode({{a, b}, {a, c}})));
  EXPECT_FALSE(QuickMode({{a, b}})->SameIdentities(Notify(nullptr)));
}

TEST(ExchangeTest, PacketWithoutMessageClassKeepsItsHeader) {
  // A main-mode family packet with a kind that numbers no packet: no message, no bit, and the
  // exchange still holds the header it links to.
  auto reader = DebugLogReader::FromText("");
  auto header = std::make_unique<Header>();
  header->SetPacketKind(0x08);
  header->SetInitCookie({1, 2, 3, 4, 5, 6, 7, 8});
  MainMode mm(nullptr);
  PreparedPacket packet = ReadPacket(mm.Family(), std::move(header), reader);
  mm.Place(packet, nullptr);
  EXPECT_EQ(mm.ChildCount(), 0u);
  EXPECT_EQ(mm.PacketMask(), 0u);
  ASSERT_NE(mm.GetHeader(), nullptr);
  EXPECT_EQ(mm.GetHeader()->PacketKind(), 0x08u);
  EXPECT_EQ(mm.CookieValue(), 0x05060708u);
  EXPECT_EQ(mm.Caption(), "Main Mode   <== From:  Failed!");
  EXPECT_EQ(Exchange::ForFamily(0x20, nullptr), nullptr);
}

}  // namespace
}  // namespace quillon
