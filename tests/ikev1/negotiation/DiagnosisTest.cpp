// The diagnosis of a loaded log: the marks the tunnels' analysis sets, the summaries of the
// negotiations and the statistics of tunnels, peers and the whole log.
#include "ikev1/negotiation/Diagnosis.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ikev1/negotiation/Exchange.h"
#include "ikev1/negotiation/Tunnel.h"
#include "model/LogFile.h"
#include "model/Summaries.h"
#include "model/TreeRules.h"
#include "tests/ikev1/negotiation/NegotiationLog.h"

namespace quillon {
namespace {

using namespace negtest;
using Texts = std::vector<std::string>;

const std::string kHeading = "\r\n\r\nSummary:\r\n";
const std::string kRepeated = "Repeated Delete for same negotiation";
const std::string kImmediate = "Immediate Delete after successful negotiation";
const std::string kRepeatedLabel = "Number of IPsec SAs with repeated Delete notifications\t";
const std::string kFailedLabel = "Number of failed negotiations\t\t\t\t";

// Networks as quick-mode identities (ID_IPV4_ADDR_SUBNET: address and mask).
const std::string kNetA = "0a 01 00 00 ff ff 00 00";  // 10.1.0.0/16
const std::string kNetB = "ac 10 14 00 ff ff ff 00";  // 172.16.20.0/24
const std::string kNetC = "c0 a8 07 00 ff ff ff 00";  // 192.168.7.0/24

// An SA of one proposal (number 1, of `protocol`: 01 ISAKMP, 03 ESP) offering or accepting the
// SA with the given SPI, with `transforms` transforms of the protocol's transform ID `id`.
std::string SaBlock(const std::string& spi, const std::string& protocol = "03", const std::string& id = "0c",
                    int transforms = 1) {
  std::string text = "debugSAPayload:\n\tNextPld: 0a\n\tReserved: 00\n\tLength: 00 38 (56)\n\tDOI: 00 00 00 01 \n"
                     "\tSituation: 00 00 00 01 \n"
                     "debugPropPayload:\n\tNextPld: 00\n\tReserved: 00\n\tLength: 00 2c (44)\n\tPropNum: 01\n\tProtId: " +
                     protocol + "\n\tSpiSize: 04\n\tNumOfTrans: 0" + std::to_string(transforms) + "\n\tSPI: " + spi + " \n";
  for (int n = 1; n <= transforms; ++n)
    text += "debugTransPayload:\n\tNextPld: " + std::string(n < transforms ? "03" : "00") +
            "\n\tReserved: 00\n\tLength: 00 20 (32)\n\tTransNum: 0" + std::to_string(n) + "\n\tTransId: " + id +
            "\n\tReserved2: 00 00 (0)\ndebugIsakmpValue:\n\tAttribute: 80 01 \n\tFormat: 1\n\tVal: 00 01 \n";
  return text;
}

struct QuickModeFacts {
  std::string msgId;
  std::string time;  // of all its packets
  std::string local = kNetA, remote = kNetB;
  std::string outboundSpi = "11 11 11 11", inboundSpi = "22 22 22 22";
  int packets = 3;
};

// A quick mode the gateway starts: the offer, the peer's answer, the gateway's acknowledgement.
std::string QuickMode(const QuickModeFacts& q) {
  std::string text;
  for (int n = 1; n <= q.packets; ++n) {
    Packet p = QuickModePacket(n, q.msgId, q.time);
    if (n < 3) p.payloads = SaBlock(n == 1 ? q.outboundSpi : q.inboundSpi) + IdBlock(q.local, "04") + IdBlock(q.remote, "04");
    text += Text(p);
  }
  return text;
}

std::string DeleteIpsec(const std::string& spi, const std::string& time, bool created = false) {
  return Text(Informational(created, DeleteBlock("00 00 00 01", spi), time));
}

// One character per negotiation of the tunnel: 'x' where the mark is set.
std::string Marked(const LogNode& tunnel, std::uint16_t mark) {
  std::string out;
  for (const auto& exchange : tunnel.Children()) out += exchange->HasState(mark) ? 'x' : '.';
  return out;
}

// Each negotiation's summary line(s), "|" between negotiations.
std::string Summaries(const LogNode& tunnel) {
  std::string out;
  for (std::size_t i = 0; i < tunnel.ChildCount(); ++i) {
    const std::string summary = tunnel.Child(i)->SummaryText(false);
    out += (i == 0 ? "" : "|") + (summary.rfind(kHeading, 0) == 0 ? summary.substr(kHeading.size()) : summary);
  }
  return out;
}

std::string Statistics(const LogNode& tunnel, bool withTotals = true) {
  NegotiationStatistics record;
  dynamic_cast<const Tunnel&>(tunnel).CountStatistics(record);
  return StatisticsText(record, withTotals);
}

TEST(DiagnosisTest, RepeatedDeletesOfOneSaFormOneGroupHeadedByTheFirst) {
  // However far apart in time, and whichever side sent them; a delete of the IKE SA is not one.
  auto root = Load(DeleteIpsec("aa bb cc dd", "12:00:00") + DeleteIpsec("01 02 03 04", "12:00:05") +
                   DeleteIpsec("aa bb cc dd", "12:00:10", true) +
                   Text(Informational(false, DeleteBlock("00 00 00 00", "aa bb cc dd"), "12:00:15")) +
                   DeleteIpsec("aa bb cc dd", "12:30:00"));
  const LogNode& tunnel = TunnelOf(*root);
  ASSERT_EQ(Names(tunnel), (Texts{"Delete IPsec", "Delete IPsec", "Delete IPsec", "Delete IKE", "Delete IPsec"}));
  EXPECT_EQ(Marked(tunnel, kStateDeleteRepeated), "x.x.x");
  EXPECT_EQ(Marked(tunnel, kStateFirstRepeatedDelete), "x....");
  EXPECT_EQ(Summaries(tunnel), kRepeated + "||" + kRepeated + "||" + kRepeated);
  // The tunnel counts the SA once and, with totals, how often it was deleted.
  const std::string totals = kRepeatedLabel + "1\r\n\tTotal 3 Delete notifications for SPI aabbccdd\r\n";
  EXPECT_EQ(Statistics(tunnel), totals);
  EXPECT_EQ(Statistics(tunnel, false), kRepeatedLabel + "1\r\n");
  EXPECT_EQ(tunnel.DetailText(), "Tunnel per interface\r\n\r\nLocal IP:\t0.0.0.0\r\nPeer IP:\t0.0.0.0" + kHeading + totals);

  // Two SAs deleted again and again in one tunnel: each total belongs to its own SPI.
  root = Load(DeleteIpsec("aa aa aa aa", "12:00:00") + DeleteIpsec("bb bb bb bb", "12:00:01") +
              DeleteIpsec("bb bb bb bb", "12:00:02") + DeleteIpsec("aa aa aa aa", "12:00:03") +
              DeleteIpsec("bb bb bb bb", "12:00:04"));
  EXPECT_EQ(Statistics(TunnelOf(*root)), kRepeatedLabel + "2\r\n\tTotal 2 Delete notifications for SPI aaaaaaaa\r\n"
                                                          "\tTotal 3 Delete notifications for SPI bbbbbbbb\r\n");

  // A delete whose SPIs could not be read names no SA, so two of them repeat nothing.
  root = Load(DeleteIpsec("zz", "12:00:00") + DeleteIpsec("zz", "12:00:01"));
  ASSERT_EQ(Names(TunnelOf(*root)), (Texts{"Delete IPsec", "Delete IPsec"}));
  EXPECT_EQ(TunnelOf(*root).Child(0)->SpiText(), "");
  EXPECT_EQ(Marked(TunnelOf(*root), kStateDeleteRepeated), "..");
  EXPECT_EQ(Statistics(TunnelOf(*root)), "");
}

TEST(DiagnosisTest, SaDeletedWithinTwoMinutesOfItsQuickMode) {
  const std::string quickMode = QuickMode({"00 00 00 01", "12:00:00"});
  // (A delete 30 s after its quick mode marks both, as the gateway day's golden output shows.)
  const QuickModeFacts unanswered{"00 00 00 01", "12:00:00", kNetA, kNetB, "11 11 11 11", "22 22 22 22", 1};
  struct Case { const char* what; std::string log, summaries; };
  for (const Case& c : {
           Case{"121 seconds later the SA has lived its time", quickMode + DeleteIpsec("22 22 22 22", "12:02:01"), "|"},
           Case{"another SPI is another SA", quickMode + DeleteIpsec("33 33 33 33", "12:00:30"), "|"},
           // The window ends at the first negotiation without a time of its own, such as a main mode.
           Case{"a main mode in between",
                quickMode + MainModeLog(6, "0a000001", "0a 0b 0c 0d 0e 0f 10 11") + DeleteIpsec("22 22 22 22", "12:00:30"),
                "||"},
           Case{"an unfinished quick mode made no SA to delete",
                QuickMode(unanswered) + DeleteIpsec("11 11 11 11", "12:00:30"), "No response from peer|"}}) {
    const auto root = Load(c.log);
    EXPECT_EQ(Marked(TunnelOf(*root), kStateImmediateDelete).find('x'), std::string::npos) << c.what;
    EXPECT_EQ(Summaries(TunnelOf(*root)), c.summaries) << c.what;
  }
}

TEST(DiagnosisTest, SameIdentitiesNegotiatedAgainWithinTwoMinutes) {
  QuickModeFacts first{"00 00 00 01", "12:00:00"};
  const QuickModeFacts other{"00 00 00 02", "12:00:20", kNetA, kNetC};
  const QuickModeFacts crossed{"00 00 00 03", "12:01:00", kNetB, kNetA};  // the peer's view of the same pair
  auto root = Load(QuickMode(first) + QuickMode(other) + QuickMode(crossed) +
                   QuickMode({"00 00 00 04", "12:01:50"}) + QuickMode({"00 00 00 05", "12:05:00"}));
  const LogNode& tunnel = TunnelOf(*root);
  EXPECT_EQ(Marked(tunnel, kStateSuccessiveIdentical), "x.xx.");
  const std::string identical = "Successive identical negotiations";
  EXPECT_EQ(Summaries(tunnel), identical + "||" + identical + "|" + identical + "|");
  EXPECT_EQ(Statistics(tunnel), "Number of successive identical negotiations\t\t3\r\n");

  // A quick mode whose SA was deleted at once is reported as that and starts no search; the
  // one after it has no identical successor.
  const QuickModeFacts again{"00 00 00 02", "12:00:40", kNetA, kNetB, "44 44 44 44", "55 55 55 55"};
  root = Load(QuickMode(first) + DeleteIpsec("11 11 11 11", "12:00:10", true) + QuickMode(again));
  EXPECT_EQ(Marked(TunnelOf(*root), kStateImmediateDelete), "xx.");
  EXPECT_EQ(Marked(TunnelOf(*root), kStateSuccessiveIdentical), "...");
}

TEST(DiagnosisTest, RootCausesOfErrorNotifications) {
  std::string log;
  for (const char* type : {"00 0e", "00 11", "00 12", "00 10", "00 18", "8d 28"})
    log += Text(Informational(false, NotifyBlock(type)));
  auto root = Load(log);
  const LogNode& tunnel = TunnelOf(*root);
  ASSERT_EQ(Names(tunnel), (Texts{"Info NO-PROPOSAL-CHOSEN", "Info INVALID-KEY-INFORMATION", "Info INVALID-ID-INFORMATION",
                                  "Info PAYLOAD-MALFORMED", "Info AUTHENTICATION-FAILED", "DPD"}));
  // Other errors are shown by name in the caption; they have no explanation of their own.
  EXPECT_EQ(Summaries(tunnel), "Mismatch of encryption methods|"
                               "Possible root cause:\r\n1. Invalid Key payload (wrong key length)\r\n"
                               "2. Key payload sent but PFS is not configured|"
                               "Possible root cause:\r\n1. Invalid ID information in ID payload\r\n"
                               "2. Missing ID payload|||");
  // Notifications are complete packets: they count as errors, not as failed negotiations.
  EXPECT_EQ(Statistics(tunnel), "Number of informational NO-PROPOSAL-CHOSEN\t\t1\r\n"
                                "Number of informational INVALID-KEY-INFORMATION\t\t1\r\n"
                                "Number of informational INVALID-ID-INFORMATION\t\t1\r\n");
}

TEST(DiagnosisTest, NegotiationsWithoutResponseAndRestartsCountAsFailed) {
  // The daemon restarts while the third main mode waits for its answer.
  Packet interrupted = MainModePacket(1, "12:30:00", "0c 0c 0c 0c 0c 0c 0c 0c");
  interrupted.payloads = Nonce("01") + "IKE daemon started at 12:30:05\n";
  auto root = Load(MainModeLog(1) + MainModeLog(6, "0a000001", "0a 0b 0c 0d 0e 0f 10 11") + Text(interrupted));
  const LogNode& tunnel = TunnelOf(*root);
  ASSERT_EQ(Names(tunnel), (Texts{"Main Mode", "Main Mode", "Main Mode", "Daemon Restarted!!"}));
  EXPECT_EQ(tunnel.Child(0)->DetailText(),
            "Main Mode\r\n\r\nLocal host ==> Remote peer(10.0.0.1)" + kHeading + "No response from peer");
  EXPECT_EQ(tunnel.Child(1)->SummaryText(false), "");
  EXPECT_EQ(Statistics(tunnel), kFailedLabel + "3\r\n");
}

TEST(DiagnosisTest, FailedNegotiationsNameWhoRejectedThem) {
  // Main mode packets 1 to 5 from 12:00:01 on; quick mode packets 1 and 2 at 12:00:10; then
  // the informational exchange of the case, with the negotiations' cookie unless it says not.
  const std::string mainMode = MainModeLog(5);
  const std::string quickMode = QuickMode({"5a 5a 5a 5a", "12:00:10", kNetA, kNetB, "11 11 11 11", "22 22 22 22", 2});
  struct Case {
    const char* what;
    std::string log;
    std::string mainModeLine, quickModeLine;
  };
  Packet otherCookie = Informational(false, NotifyBlock("00 10"), "12:00:30");
  otherCookie.cookie = "0e 0e 0e 0e 0e 0e 0e 0e";
  const Packet otherTunnel = At(Informational(false, NotifyBlock("00 10"), "12:00:30"), "0a000001", kTunnel);
  const std::string noResponse = "No response from peer";
  for (const Case& c : {
           Case{"the peer's PAYLOAD-MALFORMED logged under another tunnel", mainMode + Text(otherTunnel),
                "Rejected by peer: PAYLOAD-MALFORMED", ""},
           Case{"120 s on is still the answer", mainMode + Text(Informational(false, NotifyBlock("00 10"), "12:02:01")),
                "Rejected by peer: PAYLOAD-MALFORMED", ""},
           Case{"121 s on is too late", mainMode + Text(Informational(false, NotifyBlock("00 10"), "12:02:02")),
                noResponse, ""},
           Case{"another negotiation's error", mainMode + Text(otherCookie), noResponse, ""},
           Case{"a status notification rejects nothing",
                mainMode + Text(Informational(false, NotifyBlock("60 00"), "12:00:30")), noResponse, ""},
           Case{"the local host refuses the quick mode; the earliest error wins",
                mainMode + quickMode + Text(Informational(true, NotifyBlock("00 0e"), "12:00:11")) +
                    Text(Informational(false, NotifyBlock("00 12"), "12:00:12")),
                "Rejected by local host: NO-PROPOSAL-CHOSEN", "Rejected by local host: NO-PROPOSAL-CHOSEN"},
       }) {
    auto root = Load(c.log);
    const LogNode& peer = *root->Child(0);
    const LogNode& tunnel = *peer.Child(peer.ChildCount() - 1);  // the one without addresses
    EXPECT_EQ(tunnel.Child(0)->DetailText(), "Main Mode\r\n\r\nLocal host ==> Remote peer(10.0.0.1)" + kHeading + c.mainModeLine)
        << c.what;
    if (!c.quickModeLine.empty()) {
      EXPECT_EQ(tunnel.Child(1)->SummaryText(false), kHeading + c.quickModeLine) << c.what;
    }
  }

  // Aggressive mode gains the summary main mode has.
  Packet aggressive;
  aggressive.keyword = "create_packet1aggressive:";
  EXPECT_EQ(TunnelOf(*Load(Text(aggressive))).Child(0)->DetailText(), "Aggresive Mode\r\n" + kHeading + noResponse);
}

std::string TransMatchFailure(const std::string& transform, const std::string& id, const std::string& reason) {
  return "TransMatchFailure: prop 1 trans in prop " + transform + " id " + id + " reason: " + reason + "\n";
}

// The daemon turned down the peer's proposals: it logs why for each transform, and sends
// NO-PROPOSAL-CHOSEN. The summary names each transform not chosen with the reason (blanks and
// tabs around it dropped; a transform failed twice: the later reason).
TEST(DiagnosisTest, ProposalsRefusedByLocalPolicyNameTheTransformsNotChosen) {
  struct Case {
    const char* what;
    std::string keyword, protocol, id, msgId, name;
  };
  for (const Case& c : {Case{"phase one", "process_packet1phase1:", "01", "01", "00 00 00 00", "KEY_IKE"},
                        Case{"phase two", "process_packet1phase2:", "03", "0c", "5a 5a 5a 5a", "ESP_AES"}}) {
    Packet offer;
    offer.keyword = c.keyword;
    offer.msgId = c.msgId;
    offer.payloads = SaBlock("11 11 11 11", c.protocol, c.id, 2) + TransMatchFailure("1", c.id, "Encryption algorithm mismatch \t ") +
                     TransMatchFailure("2", c.id, "Key length mismatch") +
                     TransMatchFailure("2", c.id, "\tHash algorithm mismatch");
    const std::string refusal = Text(Informational(true, NotifyBlock("00 0e"), "12:00:01"));
    const std::string failure = "Rejected by local host: NO-PROPOSAL-CHOSEN\r\nNot chosen: proposal 1 transform 1 " + c.name +
                                " - Encryption algorithm mismatch\r\nNot chosen: proposal 1 transform 2 " + c.name +
                                " - Hash algorithm mismatch";
    auto root = Load(Text(offer) + refusal);
    const LogNode& negotiation = *TunnelOf(*root).Child(0);
    EXPECT_EQ(negotiation.SummaryText(false), kHeading + failure) << c.what;
    FailureReason reason;
    ASSERT_TRUE(negotiation.GetFailureReason(reason)) << c.what;
    EXPECT_EQ(reason.by, FailureReason::By::kLocalHost);
    EXPECT_EQ(reason.notify, "NO-PROPOSAL-CHOSEN");
    ASSERT_EQ(reason.notChosen.size(), 2u) << c.what;
    EXPECT_EQ(reason.notChosen[1].transform, 2u);

    // A run that also holds a success line marks nothing: only the failure line is left.
    offer.payloads += "TransMatchSuccess: prop 1 trans in prop 1 id " + c.id + " \n";
    root = Load(Text(offer) + refusal);
    EXPECT_EQ(TunnelOf(*root).Child(0)->SummaryText(false), kHeading + "Rejected by local host: NO-PROPOSAL-CHOSEN")
        << c.what;
  }

  // A complete negotiation says nothing of the transforms its proposals left out.
  auto root = Load(MainModeLog(6));
  EXPECT_EQ(TunnelOf(*root).Child(0)->SummaryText(false), "");
  FailureReason reason;
  EXPECT_FALSE(TunnelOf(*root).Child(0)->GetFailureReason(reason));
}

TEST(DiagnosisTest, PeersHoldingFailedNegotiationsAreMarked) {
  auto root = Load(MainModeLog(6) + MainModeLog(5, "0a000002", "0c 0c 0c 0c 0c 0c 0c 0c") +
                   Text(At(MainModePacket(1, "12:00:00", "0d 0d 0d 0d 0d 0d 0d 0d"), "0a000003", kTunnel)));
  ASSERT_EQ(Names(*root), (Texts{"10.0.0.1", "10.0.0.2", "10.0.0.3"}));
  EXPECT_EQ(StateIconIndex(*root->Child(0)), kIconNone);
  EXPECT_EQ(StateIconIndex(*root->Child(1)), kIconPeerInTrouble);
  EXPECT_EQ(StateIconIndex(*root->Child(2)), kIconPeerInTrouble);  // below a tunnel row
}

}  // namespace
}  // namespace quillon
