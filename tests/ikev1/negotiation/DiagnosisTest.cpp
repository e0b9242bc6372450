// The diagnosis of a loaded log: the marks the tunnels' analysis sets, the summaries of the
// negotiations and the statistics of tunnels, peers and the whole log.
#include "ikev1/negotiation/Diagnosis.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "ikev1/negotiation/Exchange.h"
#include "ikev1/negotiation/Tunnel.h"
#include "model/LogFile.h"
#include "tests/ikev1/negotiation/NegotiationLog.h"

namespace quillon {
namespace {

using namespace negtest;

const std::string kHeading = "\r\n\r\nSummary:";
const std::string kRepeatedLabel = "Number of IPsec SAs with repeated Delete notifications\t";
const std::string kImmediateLabel = "Number of immediate Delete after successful negotiation\t";
const std::string kSuccessiveLabel = "Number of successive identical negotiations\t\t";
const std::string kFailedLabel = "Number of failed negotiations\t\t\t\t";

// Networks as quick-mode identities (ID_IPV4_ADDR_SUBNET: address and mask).
const std::string kNetA = "0a 01 00 00 ff ff 00 00";  // 10.1.0.0/16
const std::string kNetB = "ac 10 14 00 ff ff ff 00";  // 172.16.20.0/24
const std::string kNetC = "c0 a8 07 00 ff ff ff 00";  // 192.168.7.0/24

std::string SubnetId(const std::string& id) {
  return "debugIDPayload:\n\tNextPld: 00\n\tReserved: 00\n\tLength: 00 10 (16)\n\tID Type: 04\n"
         "\tReserved2: 00 00 00 \n\tID: " + id + " \n";
}

// An ESP proposal with one transform, offering or accepting an SA with the given SPI.
std::string SaBlock(const std::string& spi) {
  return "debugSAPayload:\n\tNextPld: 0a\n\tReserved: 00\n\tLength: 00 38 (56)\n\tDOI: 00 00 00 01 \n"
         "\tSituation: 00 00 00 01 \n"
         "debugPropPayload:\n\tNextPld: 00\n\tReserved: 00\n\tLength: 00 2c (44)\n\tPropNum: 01\n\tProtId: 03\n"
         "\tSpiSize: 04\n\tNumOfTrans: 01\n\tSPI: " + spi + " \n"
         "debugTransPayload:\n\tNextPld: 00\n\tReserved: 00\n\tLength: 00 20 (32)\n\tTransNum: 01\n\tTransId: 0c\n"
         "\tReserved2: 00 00 (0)\n"
         "debugIsakmpValue:\n\tAttribute: 80 01 \n\tFormat: 1\n\tVal: 00 01 \n";
}

struct QuickModeFacts {
  std::string msgId;
  std::string time;                 // of all its packets
  std::string outboundSpi = "11 11 11 11";
  std::string inboundSpi = "22 22 22 22";
  std::string local = kNetA, remote = kNetB;
  int packets = 3;
};

// A quick mode the gateway starts: the offer, the peer's answer, the gateway's acknowledgement.
std::string QuickMode(const QuickModeFacts& q) {
  std::string text;
  for (int n = 1; n <= q.packets; ++n) {
    Packet p = QuickModePacket(n, q.msgId, q.time);
    if (n == 1) p.payloads = SaBlock(q.outboundSpi) + SubnetId(q.local) + SubnetId(q.remote);
    if (n == 2) p.payloads = SaBlock(q.inboundSpi) + SubnetId(q.local) + SubnetId(q.remote);
    text += Text(p);
  }
  return text;
}

std::string DeleteIpsec(const std::string& spi, const std::string& time, bool created = false) {
  return Text(Informational(created, DeleteBlock("00 00 00 01", spi), time));
}

std::string ErrorNotify(const std::string& type, const std::string& time = "12:10:00") {
  return Text(Informational(false, NotifyBlock(type), time));
}

const QLFolder& OnlyTunnel(const LogFile& root) { return TunnelOf(root); }

std::string Statistics(const QLFolder& tunnel, bool withTotals) {
  NegotiationStatistics record;
  dynamic_cast<const Tunnel&>(tunnel).CountStatistics(record);
  return StatisticsText(record, withTotals);
}

TEST(DiagnosisTest, RepeatedDeletesOfOneSaFormOneGroupHeadedByTheFirst) {
  auto root = Load(DeleteIpsec("aa bb cc dd", "12:00:00") + DeleteIpsec("01 02 03 04", "12:00:05") +
                   DeleteIpsec("aa bb cc dd", "12:00:10", true) +
                   Text(Informational(false, DeleteBlock("00 00 00 00", "aa bb cc dd"), "12:00:15")) +
                   DeleteIpsec("aa bb cc dd", "12:30:00"));
  const QLFolder& tunnel = OnlyTunnel(*root);
  ASSERT_EQ(Names(tunnel), (std::vector<std::string>{"Delete IPsec", "Delete IPsec", "Delete IPsec", "Delete IKE",
                                                     "Delete IPsec"}));
  // However far apart in time, and whichever side sent them.
  std::vector<bool> repeated, first;
  for (const auto& exchange : tunnel.Children()) {
    repeated.push_back(exchange->IsDeleteRepeated());
    first.push_back(exchange->IsFirstRepeatedDelete());
  }
  EXPECT_EQ(repeated, (std::vector<bool>{true, false, true, false, true}));
  EXPECT_EQ(first, (std::vector<bool>{true, false, false, false, false}));

  for (std::size_t i : {0u, 2u, 4u})
    EXPECT_EQ(tunnel.Child(i)->SummaryText(false), kHeading + "\r\nRepeated Delete for same negotiation");
  EXPECT_EQ(tunnel.Child(1)->SummaryText(false), "");
  EXPECT_EQ(tunnel.Child(3)->SummaryText(false), "");
  EXPECT_EQ(tunnel.Child(2)->DetailText(),
            "Notify\r\n\r\n\r\nLocal host ==> Remote peer(10.0.0.1)" + kHeading + "\r\nRepeated Delete for same negotiation");

  EXPECT_EQ(Statistics(tunnel, true), kRepeatedLabel + "1\r\n\tTotal 3 Delete notifications for SPI aabbccdd\r\n");
  EXPECT_EQ(Statistics(tunnel, false), kRepeatedLabel + "1\r\n");
  EXPECT_EQ(tunnel.DetailText(), "Tunnel per interface\r\n\r\nLocal IP:\t0.0.0.0\r\nPeer IP:\t0.0.0.0\r\n\r\nSummary:\r\n" +
                                     kRepeatedLabel + "1\r\n\tTotal 3 Delete notifications for SPI aabbccdd\r\n");
}

TEST(DiagnosisTest, EachRepeatedlyDeletedSaGetsItsOwnTotal) {
  // Two SAs deleted again and again in one tunnel: each total belongs to its own SPI.
  auto root = Load(DeleteIpsec("aa aa aa aa", "12:00:00") + DeleteIpsec("bb bb bb bb", "12:00:01") +
                   DeleteIpsec("bb bb bb bb", "12:00:02") + DeleteIpsec("aa aa aa aa", "12:00:03") +
                   DeleteIpsec("bb bb bb bb", "12:00:04"));
  EXPECT_EQ(Statistics(OnlyTunnel(*root), true), kRepeatedLabel +
                                                     "2\r\n\tTotal 2 Delete notifications for SPI aaaaaaaa\r\n"
                                                     "\tTotal 3 Delete notifications for SPI bbbbbbbb\r\n");

  // A delete whose SPIs could not be read names no SA, so two of them repeat nothing.
  root = Load(DeleteIpsec("zz", "12:00:00") + DeleteIpsec("zz", "12:00:01"));
  const QLFolder& unreadable = OnlyTunnel(*root);
  ASSERT_EQ(Names(unreadable), (std::vector<std::string>{"Delete IPsec", "Delete IPsec"}));
  ASSERT_EQ(unreadable.Child(0)->SpiText(), "");
  EXPECT_FALSE(unreadable.Child(0)->IsDeleteRepeated());
  EXPECT_FALSE(unreadable.Child(1)->IsDeleteRepeated());
  EXPECT_EQ(Statistics(unreadable, true), "");
}

TEST(DiagnosisTest, SaDeletedWithinTwoMinutesOfItsQuickMode) {
  const std::string quickMode = QuickMode({"00 00 00 01", "12:00:00"});
  auto root = Load(quickMode + DeleteIpsec("22 22 22 22", "12:00:30"));
  const QLFolder& tunnel = OnlyTunnel(*root);
  const auto& qm = ExchangeAt<PhaseTwo>(tunnel, 0);
  ASSERT_TRUE(qm.IsComplete());
  EXPECT_TRUE(qm.IsImmediateDelete());
  EXPECT_TRUE(tunnel.Child(1)->IsImmediateDelete());
  EXPECT_EQ(qm.DetailText(), "Phase Two\r\n\r\nLocal host ==> Remote peer(10.0.0.1)" + kHeading +
                                 "\r\nImmediate Delete after successful negotiation");
  EXPECT_EQ(tunnel.Child(1)->SummaryText(false), kHeading + "\r\nImmediate Delete after successful negotiation");
  // The quick mode is counted, not the delete.
  EXPECT_EQ(Statistics(tunnel, true), kImmediateLabel + "1\r\n");

  // 121 seconds later the SA has lived its time; another SPI is another SA.
  for (const std::string& late : {DeleteIpsec("22 22 22 22", "12:02:01"), DeleteIpsec("33 33 33 33", "12:00:30")}) {
    root = Load(quickMode + late);
    EXPECT_FALSE(OnlyTunnel(*root).Child(0)->IsImmediateDelete());
    EXPECT_FALSE(OnlyTunnel(*root).Child(1)->IsImmediateDelete());
    EXPECT_EQ(OnlyTunnel(*root).Child(0)->SummaryText(false), "");
  }

  // The window ends at the first negotiation without a time of its own, such as a main mode;
  // an unfinished quick mode made no SA to delete.
  root = Load(quickMode + MainModeLog(6, "0a000001", "0a 0b 0c 0d 0e 0f 10 11") + DeleteIpsec("22 22 22 22", "12:00:30"));
  EXPECT_FALSE(OnlyTunnel(*root).Child(0)->IsImmediateDelete());
  QuickModeFacts unanswered{"00 00 00 01", "12:00:00"};
  unanswered.packets = 1;
  root = Load(QuickMode(unanswered) + DeleteIpsec("11 11 11 11", "12:00:30"));
  EXPECT_FALSE(OnlyTunnel(*root).Child(0)->IsImmediateDelete());
  EXPECT_EQ(OnlyTunnel(*root).Child(0)->SummaryText(false), kHeading + "\r\nNo response from peer");
}

TEST(DiagnosisTest, SameIdentitiesNegotiatedAgainWithinTwoMinutes) {
  QuickModeFacts first{"00 00 00 01", "12:00:00"};
  QuickModeFacts other{"00 00 00 02", "12:00:20"};
  other.remote = kNetC;
  QuickModeFacts crossed{"00 00 00 03", "12:01:00"};
  crossed.local = kNetB;  // the peer's view of the same pair
  crossed.remote = kNetA;
  QuickModeFacts third{"00 00 00 04", "12:01:50"};
  QuickModeFacts later{"00 00 00 05", "12:05:00"};
  auto root = Load(QuickMode(first) + QuickMode(other) + QuickMode(crossed) + QuickMode(third) + QuickMode(later));
  const QLFolder& tunnel = OnlyTunnel(*root);
  ASSERT_EQ(tunnel.ChildCount(), 5u);
  std::vector<bool> marked;
  for (const auto& exchange : tunnel.Children()) marked.push_back(exchange->IsSuccessiveIdentical());
  EXPECT_EQ(marked, (std::vector<bool>{true, false, true, true, false}));
  EXPECT_EQ(tunnel.Child(3)->SummaryText(false), kHeading + "\r\nSuccessive identical negotiations");
  EXPECT_EQ(Statistics(tunnel, true), kSuccessiveLabel + "3\r\n");

  // A quick mode whose SA was deleted at once is reported as that and starts no search; the
  // one after it has no identical successor.
  QuickModeFacts again{"00 00 00 02", "12:00:40"};
  again.outboundSpi = "44 44 44 44";
  again.inboundSpi = "55 55 55 55";
  root = Load(QuickMode(first) + DeleteIpsec("11 11 11 11", "12:00:10", true) + QuickMode(again));
  const QLFolder& deleted = OnlyTunnel(*root);
  EXPECT_TRUE(deleted.Child(0)->IsImmediateDelete());
  EXPECT_FALSE(deleted.Child(0)->IsSuccessiveIdentical());
  EXPECT_FALSE(deleted.Child(2)->IsSuccessiveIdentical());
}

TEST(DiagnosisTest, RootCausesOfErrorNotifications) {
  auto root = Load(ErrorNotify("00 0e") + ErrorNotify("00 11") + ErrorNotify("00 12") + ErrorNotify("00 10") +
                   ErrorNotify("00 18") + ErrorNotify("8d 28"));
  const QLFolder& tunnel = OnlyTunnel(*root);
  ASSERT_EQ(Names(tunnel), (std::vector<std::string>{"Info NO-PROPOSAL-CHOSEN", "Info INVALID-KEY-INFORMATION",
                                                     "Info INVALID-ID-INFORMATION", "Info PAYLOAD-MALFORMED",
                                                     "Info AUTHENTICATION-FAILED", "DPD"}));
  EXPECT_EQ(tunnel.Child(0)->SummaryText(false), kHeading + "\r\nMismatch of encryption methods");
  EXPECT_EQ(tunnel.Child(1)->SummaryText(false), kHeading +
                                                     "\r\nPossible root cause:\r\n1. Invalid Key payload (wrong key "
                                                     "length)\r\n2. Key payload sent but PFS is not configured");
  EXPECT_EQ(tunnel.Child(2)->DetailText(), "Notify\r\n\r\n\r\nLocal host <== Remote peer(10.0.0.1)" + kHeading +
                                               "\r\nPossible root cause:\r\n1. Invalid ID information in ID "
                                               "payload\r\n2. Missing ID payload");
  // Other errors are shown by name in the caption; they have no explanation of their own.
  for (std::size_t i = 3; i < tunnel.ChildCount(); ++i) EXPECT_EQ(tunnel.Child(i)->SummaryText(false), "");
  // Notifications are complete packets: they count as errors, not as failed negotiations.
  EXPECT_EQ(Statistics(tunnel, true), "Number of informational NO-PROPOSAL-CHOSEN\t\t1\r\n"
                                      "Number of informational INVALID-KEY-INFORMATION\t\t1\r\n"
                                      "Number of informational INVALID-ID-INFORMATION\t\t1\r\n");
}

TEST(DiagnosisTest, NegotiationsWithoutResponseAndRestartsCountAsFailed) {
  // The daemon restarts while the third main mode waits for its answer.
  Packet interrupted = MainModePacket(1, "12:30:00", "0c 0c 0c 0c 0c 0c 0c 0c");
  interrupted.payloads = Nonce("01") + "IKE daemon started at 12:30:05\n";
  auto root = Load(MainModeLog(1) + MainModeLog(6, "0a000001", "0a 0b 0c 0d 0e 0f 10 11") + Text(interrupted));
  const QLFolder& tunnel = OnlyTunnel(*root);
  ASSERT_EQ(Names(tunnel), (std::vector<std::string>{"Main Mode", "Main Mode", "Main Mode", "Daemon Restarted!!"}));
  EXPECT_EQ(tunnel.Child(0)->DetailText(),
            "Main Mode\r\n\r\nLocal host ==> Remote peer(10.0.0.1)" + kHeading + "\r\nNo response from peer");
  EXPECT_EQ(tunnel.Child(1)->SummaryText(false), "");
  EXPECT_EQ(Statistics(tunnel, true), kFailedLabel + "3\r\n");
}

TEST(DiagnosisTest, LogSummaryListsThePeersWithFailures) {
  Packet lone = MainModePacket(1, "12:00:00", "0d 0d 0d 0d 0d 0d 0d 0d");
  lone.peer = "0a000003";
  lone.tunnel = "TunnelLocalIP:c0a80001,TunnelPeerIP:c0a80002";
  Packet refused = Informational(false, NotifyBlock("00 0e"), "12:00:01");
  refused.peer = "0a000003";
  auto root = Load(MainModeLog(6, "0a000002") + Text(lone) + Text(refused) + DeleteIpsec("aa bb cc dd", "12:01:00") +
                   DeleteIpsec("aa bb cc dd", "12:01:05"));
  ASSERT_EQ(Names(*root), (std::vector<std::string>{"10.0.0.1", "10.0.0.2", "10.0.0.3"}));
  EXPECT_EQ(root->Child(1)->DetailText(), "Peer\r\n");
  // The peer's own text gives each tunnel with its totals...
  EXPECT_EQ(root->Child(2)->DetailText(), "Peer\r\n\r\nSummary:\r\n\r\n192.168.0.1 <=> 192.168.0.2\r\n" + kFailedLabel +
                                              "1\r\n\r\nOther negotiations:\r\n"
                                              "Number of informational NO-PROPOSAL-CHOSEN\t\t1\r\n");
  // ...the log's lists the peers to look at, each tunnel's counts added up, without totals.
  EXPECT_EQ(root->DetailText(), "LogFile\r\n\r\nSummary:\r\n\r\n10.0.0.1\r\n" + kRepeatedLabel + "1\r\n\r\n10.0.0.3\r\n" +
                                    kFailedLabel + "1\r\nNumber of informational NO-PROPOSAL-CHOSEN\t\t1\r\n\r\n");

  EXPECT_EQ(Load(MainModeLog(6))->DetailText(), "LogFile\r\n");
}

}  // namespace
}  // namespace quillon
