#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "PayloadBlocks.h"
#include "ikev1/payloads/IsakmpValue.h"
#include "ikev1/payloads/SAPayload.h"
#include "ikev1/payloads/TransMatch.h"

namespace quillon {
namespace {

using namespace payload_blocks;

// ---- the SA's nested blocks as the daemon logs them ----------------------------------------------

std::string SaBlock(const std::string& length = "00 38 (56)") {
  return "debugSAPayload:\n\tNextPld: 04\n\tReserved: 00\n\tLength: " + length +
         "\n\tDOI: 00 00 00 01 \n\tSituation: 00 00 00 01 \n";
}

std::string PropBlock(const std::string& propNum, const std::string& protId, const std::string& numOfTrans,
                      const std::string& spi = "", const std::string& nextPld = "00") {
  std::string b = "debugPropPayload:\n\tNextPld: " + nextPld +
                  "\n\tReserved: 00\n\tLength: 00 2c (44)\n\tPropNum: " + propNum + "\n\tProtId: " + protId +
                  "\n\tSpiSize: " + (spi.empty() ? "00" : "04") + "\n\tNumOfTrans: " + numOfTrans + "\n";
  if (!spi.empty()) b += "\tSPI: " + spi + "\n";
  return b;
}

// A transform's NextPld is 03 when another transform follows, 00 on the last one.
std::string TransBlock(const std::string& nextPld, const std::string& transNum, const std::string& transId) {
  return "debugTransPayload:\n\tNextPld: " + nextPld +
         "\n\tReserved: 00\n\tLength: 00 24 (36)\n\tTransNum: " + transNum + "\n\tTransId: " + transId +
         "\n\tReserved2: 00 00 (0)\n";
}

// A created packet logs each final length after the node's children.
std::string LengthBlock(const std::string& keyword, const std::string& length) {
  return keyword + "\n\tLength: " + length + "\n";
}

std::unique_ptr<SAPayload> ReadSa(const std::string& text, bool created = false, int space = 32) {
  return ReadBlock<SAPayload>(text, created, space);
}

const IsakmpValue& ValueOf(const TransPayload& transform, std::size_t index) {
  return dynamic_cast<const IsakmpValue&>(*transform.Child(index));
}

// ---- reading and rendering -----------------------------------------------------------------------

TEST(SAPayloadTest, ProposalSpiCaptionAndDetail) {
  auto sa = ReadSa(SaBlock() + PropBlock("01", "03", "01", "11 22 33 44") + TransBlock("00", "01", "03") +
                       Basic("80 04", "00 01") + PropBlock("02", "04", "01", "00 00 00 00") +
                       TransBlock("00", "01", "02") + PropBlock("03", "07", "00", "aa bb cc dd") + Nonce(),
                   false, 64);
  ASSERT_EQ(sa->ProposalCount(), 3u);
  const PropPayload& esp = *sa->Proposal(0);
  EXPECT_EQ(esp.Caption(), "prop1 PROTO_IPSEC_ESP  (11223344)");
  EXPECT_TRUE(esp.DetailText().ends_with("\r\nProtId:\t\t3\r\nSPI Size:\t4\r\nSPI:\t\t11223344\r\nNum Transforms:\t1"));
  EXPECT_EQ(esp.Transform(0)->Caption(), "tran1 ESP_3DES");
  EXPECT_EQ(sa->SpiText(), "11223344");

  // IPCOMP names its SPI a CPI; an SPI of value 0 gets no parenthesis in the caption.
  const PropPayload& ipcomp = *sa->Proposal(1);
  EXPECT_EQ(ipcomp.Caption(), "prop2 PROTO_IPCOMP");
  EXPECT_TRUE(ipcomp.DetailText().ends_with("\r\nCPI Size:\t4\r\nCPI:\t\t00000000\r\nNum Transforms:\t1"));
  EXPECT_EQ(ipcomp.Transform(0)->Caption(), "tran1 IPCOMP_DEFLATE");

  // The daemon's caption for an unknown protocol has no blank after the number.
  EXPECT_EQ(sa->Proposal(2)->Caption(), "prop3Unknown Protocol ID!");

  // The first proposal with an SPI gives the SA's SPI text.
  EXPECT_EQ(ReadSa(SaBlock() + PropBlock("01", "03", "00") + PropBlock("02", "03", "00", "55 66 77 88"))->SpiText(),
            "55667788");
}

// A transform's NextPld tells whether another follows; where it disagrees with the proposal's
// count or with the blocks that are really there, the proposal keeps only what agrees, and the
// rest of the SA (the next proposal, the next payload) is still read.
TEST(SAPayloadTest, TransformChainsThatDisagreeWithTheirCount) {
  const std::string more1 = TransBlock("03", "01", "01") + Basic("80 01", "00 05");  // "another follows"
  const std::string more2 = TransBlock("03", "02", "01") + Basic("80 01", "00 07");
  const std::string last1 = TransBlock("00", "01", "01") + Basic("80 01", "00 05");  // "the last"
  const std::string last2 = TransBlock("00", "02", "01");
  const std::string prop2 = PropBlock("02", "01", "01") + TransBlock("00", "01", "01");
  struct Case {
    const char* why;
    std::string proposals;
    std::size_t transforms;  // kept in the first proposal
    std::size_t proposalCount;
  };
  const Case cases[] = {
      {"two announced, the last claims another follows", PropBlock("01", "01", "02") + more1 + more2 + prop2, 1, 2},
      {"two announced, the first claims to be last", PropBlock("01", "01", "02") + last1 + last2, 0, 1},
      {"three announced, two there", PropBlock("01", "01", "03") + more1 + last2, 1, 1},
      {"one announced, the first points to another", PropBlock("01", "01", "01") + more1 + last2 + prop2, 0, 2},
      {"one announced and right, a surplus after it", PropBlock("01", "01", "01") + last1 + last2 + prop2, 1, 2},
      {"count all ones", PropBlock("01", "01", "ffffffff") + last1, 0, 1},
      {"negative count", PropBlock("01", "01", "80000000") + last1, 0, 1},
      {"unreadable count", PropBlock("01", "01", "zz") + last1, 0, 1},
      {"no transforms announced", PropBlock("01", "01", "00") + last1, 0, 1},
      {"no proposals", "", 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    auto reader = DebugLogReader::FromText(SaBlock() + c.proposals + Nonce());
    auto sa = ReadBlock<SAPayload>(reader);
    ASSERT_EQ(sa->ProposalCount(), c.proposalCount);
    EXPECT_FALSE(reader.IsAbandoned());
    EXPECT_EQ(reader.ReadToken(), "debugNoncePayload:");
    if (c.proposalCount == 0) continue;
    ASSERT_EQ(sa->Proposal(0)->TransformCount(), c.transforms);
    // A dropped transform's attributes are not handed to the kept one.
    if (c.transforms == 1) {
      EXPECT_EQ(sa->Proposal(0)->Transform(0)->ChildCount(), 1u);
    }
    if (c.proposalCount == 2) {
      EXPECT_EQ(sa->Proposal(1)->TransformCount(), 1u);
    }
  }
}

TEST(SAPayloadTest, CreatedPacketTakesTheFinalLengths) {
  const std::string text =
      SaBlock("00 00 (0)") + PropBlock("01", "01", "02") + TransBlock("03", "01", "01") + Basic("80 01", "00 05") +
      LengthBlock("debugTransPayloadLen:", "00 24 (36)") + TransBlock("00", "02", "01") + Basic("80 01", "00 07") +
      LengthBlock("debugTransPayloadLen:", "00 28 (40)") + LengthBlock("debugPropPayloadLen:", "00 54 (84)") +
      LengthBlock("debugSAPayloadLen:", "00 60 (96)");
  auto sa = ReadBeforeNonce<SAPayload>(text, /*created=*/true);
  EXPECT_EQ(sa->Fields().length, (ByteList{0, 0x60}));
  ASSERT_EQ(sa->ProposalCount(), 1u);
  const PropPayload& prop = *sa->Proposal(0);
  EXPECT_EQ(prop.Fields().length, (ByteList{0, 0x54}));
  ASSERT_EQ(prop.TransformCount(), 2u);
  EXPECT_TRUE(prop.Transform(0)->HasLengthBlock());
  EXPECT_EQ(prop.Transform(1)->Fields().length, (ByteList{0, 0x28}));
  EXPECT_EQ(prop.Transform(1)->ChildCount(), 1u);

  // A received packet keeps the first lengths and passes over length blocks (as a saved log has them).
  auto received = ReadSa(text, /*created=*/false);
  EXPECT_EQ(received->Fields().length, (ByteList{0, 0}));
  EXPECT_EQ(received->Proposal(0)->TransformCount(), 2u);
  EXPECT_FALSE(received->Proposal(0)->Transform(0)->HasLengthBlock());
}

TEST(SAPayloadTest, MissingLabelsAndValues) {
  // Attributes without value (and one without format): the next attribute keeps its own fields.
  auto bare = ReadSa(SaBlock() + PropBlock("01", "03", "01") + TransBlock("00", "01", "03") +
                         "debugIsakmpValue:\n\tAttribute: 80 01 \n\tFormat: 1\n" +
                         "debugIsakmpValue:\n\tAttribute: 80 04 \n" + Basic("80 02", "00 3c") + Nonce(),
                     false, 64);
  const TransPayload& t = *bare->Proposal(0)->Transform(0);
  ASSERT_EQ(t.ChildCount(), 3u);
  EXPECT_TRUE(ValueOf(t, 0).Val().empty());
  EXPECT_EQ(ValueOf(t, 0).ValueText(3, 3), "SA Life Type:\t\tUnknown life type!");
  EXPECT_EQ(ValueOf(t, 1).Format(), kUnread);
  EXPECT_TRUE(ValueOf(t, 1).Val().empty());
  EXPECT_EQ(ValueOf(t, 2).Val(), (ByteList{0, 0x3c}));

  // A block missing most of its labels keeps defined values.
  auto empty = ReadSa("debugSAPayload:\n" + PropBlock("01", "01", "00") + Nonce());
  EXPECT_EQ(empty->Fields().nextPld, kUnread);
  EXPECT_TRUE(empty->DOI().empty());
  EXPECT_EQ(empty->ProposalCount(), 1u);
  EXPECT_EQ(empty->DetailText(),
            "SAPayload\r\n\r\nNext Payload:\tnot recognized\r\nReserved:\tffffffff\r\n"
            "Length:\t\t (0)\r\nDOI:\t\t\r\nSituation:\t\r\n");
}

// ---- writing -------------------------------------------------------------------------------------

TEST(SAPayloadTest, WrittenLayoutReadsBack) {
  // Each node writes its block, its children's, then its final length, as a created packet logs it.
  auto sa = ReadAndReadBack<SAPayload>(SaBlock() + PropBlock("01", "03", "01", "11 22 33 44") +
                                           TransBlock("00", "01", "0c") + Basic("80 04", "00 01") +
                                           Variable("00 02", "00 04", "00 00 0e 10", "3600"),
                                       false, 64);
  EXPECT_EQ(Written(*sa),
            "debugSAPayload:\n\tNextPld: 04\n\tReserved: 00\n\tLength: 00 38 (56)\n\tDOI: 00 00 00 01 \n"
            "\tSituation: 00 00 00 01 \n"
            "debugPropPayload:\n\tNextPld: 00\n\tReserved: 00\n\tLength: 00 2c (44)\n\tPropNum: 01\n\tProtId: 03\n"
            "\tSpiSize: 04\n\tNumOfTrans: 01\n\tSPI: 11 22 33 44 \n"
            "debugTransPayload:\n\tNextPld: 00\n\tReserved: 00\n\tLength: 00 24 (36)\n\tTransNum: 01\n\tTransId: 0c\n"
            "\tReserved2: 00 00 (0)\n"
            "debugIsakmpValue:\n\tAttribute: 80 04 \n\tFormat: 1\n\tVal: 00 01 \n"
            "debugIsakmpValue:\n\tAttribute: 00 02 \n\tFormat: 0\n\tLength: 00 04 (4)\n\tVal: 00 00 0e 10 (3600)\n"
            "debugPropPayloadLen:\n\tLength: 00 2c (44)\n"
            "debugSAPayloadLen:\n\tLength: 00 38 (56)\n");

  // Two proposals of a received packet: the length blocks written after each are passed over.
  ReadAndReadBack<SAPayload>(SaBlock() + PropBlock("01", "03", "02", "11 22 33 44", "02") +
                                 TransBlock("03", "01", "03") + Basic("80 01", "00 01") +
                                 Variable("80 02", "00 04", "00 00 70 80", "28800") + TransBlock("00", "02", "0c") +
                                 Basic("80 06", "01 00") + PropBlock("02", "02", "01", "55 66 77 88") +
                                 TransBlock("00", "01", "03"),
                             false, 64);
  // A created packet with its length blocks.
  ReadAndReadBack<SAPayload>(SaBlock("00 00 (0)") + PropBlock("01", "01", "01") + TransBlock("00", "01", "01") +
                                 Basic("80 01", "00 05") + LengthBlock("debugTransPayloadLen:", "00 28 (40)") +
                                 LengthBlock("debugPropPayloadLen:", "00 30 (48)") +
                                 LengthBlock("debugSAPayloadLen:", "00 3c (60)"),
                             true, 32);
}

// ---- transform-match lines -----------------------------------------------------------------------

// An SA with proposals 1 and 2; both hold a transform numbered 2 with ID 3.
std::string MatchSa() {
  return SaBlock() + PropBlock("01", "03", "02", "11 22 33 44", "02") + TransBlock("03", "01", "03") +
         TransBlock("00", "02", "03") + PropBlock("02", "03", "01", "55 66 77 88") + TransBlock("00", "02", "03");
}

std::string Failure(const std::string& prop, const std::string& trans, const std::string& id,
                    const std::string& reason) {
  return "TransMatchFailure: prop " + prop + " trans in prop " + trans + " id " + id + " reason: " + reason + "\n";
}

const std::string kSuccess = "TransMatchSuccess: prop 1 trans 1 id 3 chosen ok\n";

SAPayload* SaOf(const Message& m) { return dynamic_cast<SAPayload*>(m.SaPayload()); }

TEST(TransMatchTest, FailureLinesMarkTheirTransforms) {
  LoadedPackets packets(
      Received("process_packet1phase2:", MatchSa() + Failure("1", "2", "3", "Encryption mismatch") +
                                             Failure("1", "2", "4", "other ID") + Failure("1", "7", "3", "no such") +
                                             "gxIsakmp noise line\n" + Nonce()) +
      Received("process_packet2phase2:", Nonce("02")));
  auto m = packets.Next<PhaTwo12Mess>();
  ASSERT_NE(m, nullptr);
  SAPayload* sa = SaOf(*m);
  ASSERT_NE(sa, nullptr);
  EXPECT_EQ(m->ChildCount(), 3u);  // header, SA, nonce: the lines make no node
  const TransPayload& marked = *sa->Proposal(0)->Transform(1);
  EXPECT_TRUE(marked.IsNotChosen());
  EXPECT_EQ(marked.NotChosenReason(), "Encryption mismatch");
  EXPECT_TRUE(marked.DetailText().ends_with("\r\n\r\nNot chosen because: Encryption mismatch"));
  EXPECT_FALSE(sa->Proposal(0)->Transform(0)->IsNotChosen());
  EXPECT_EQ(sa->Proposal(0)->Transform(0)->DetailText().find("Not chosen"), std::string::npos);
  EXPECT_FALSE(sa->Proposal(1)->Transform(0)->IsNotChosen());  // transform 2, ID 3, but of proposal 2
  EXPECT_EQ(packets.Next<PhaTwo12Mess>()->GetHeader()->PacketKind(), 0x41u);

  // A later failure for the same transform replaces the reason.
  auto direct = ReadSa(MatchSa() + Nonce(), false, 64);
  direct->MarkNotChosen(1, 2, 3, "first");
  direct->MarkNotChosen(2, 2, 3, "second");
  direct->MarkNotChosen(2, 2, 3, "third");
  EXPECT_EQ(direct->Proposal(0)->Transform(1)->NotChosenReason(), "first");
  EXPECT_EQ(direct->Proposal(1)->Transform(0)->NotChosenReason(), "third");
}

TEST(TransMatchTest, RunWithASuccessLineMarksNothing) {
  for (const std::string& run : {Failure("1", "2", "3", "x") + kSuccess, kSuccess + Failure("1", "2", "3", "x")}) {
    LoadedPackets packets(Received("process_packet1phase2:", MatchSa() + run + Nonce()));
    auto m = packets.Next<PhaTwo12Mess>();
    ASSERT_NE(SaOf(*m), nullptr);
    EXPECT_FALSE(SaOf(*m)->Proposal(0)->Transform(1)->IsNotChosen()) << run;
    EXPECT_EQ(m->ChildCount(), 3u);
  }
  // Two runs: a success in the first does not keep the second from marking.
  LoadedPackets packets(Received(
      "process_packet1phase2:", MatchSa() + kSuccess + Nonce() + Failure("1", "2", "3", "later") + Nonce("02")));
  auto m = packets.Next<PhaTwo12Mess>();
  EXPECT_EQ(SaOf(*m)->Proposal(0)->Transform(1)->NotChosenReason(), "later");
}

TEST(TransMatchTest, RecordAndMessagesWithoutSa) {
  auto reader = DebugLogReader::FromText(Failure("1", "a", "3", "why not") + kSuccess + Failure("ff", "2", "zz", "") +
                                         "debugKeyPayload:");
  const TransMatchRecord record(reader);
  EXPECT_TRUE(record.Success());
  EXPECT_EQ(record.FailureCount(), 2);
  EXPECT_EQ(record.ProposalNumbers(), (std::vector<std::uint32_t>{1, 0xff}));
  EXPECT_EQ(record.TransformNumbers(), (std::vector<std::uint32_t>{0xa, 2}));
  EXPECT_EQ(record.TransformIds(), (std::vector<std::uint32_t>{3, kUnread}));
  EXPECT_EQ(record.Reasons(), (std::vector<std::string>{"why not", ""}));
  EXPECT_EQ(reader.ReadToken(), "debugKeyPayload:");

  // A line cut short by the next block leaves that block alone.
  auto cut = DebugLogReader::FromText("TransMatchFailure: prop 1 trans\n" + Nonce());
  const TransMatchRecord shortRecord(cut);
  EXPECT_EQ(shortRecord.FailureCount(), 1);
  EXPECT_EQ(shortRecord.TransformNumbers(), (std::vector<std::uint32_t>{kUnread}));
  EXPECT_EQ(cut.ReadToken(), "debugNoncePayload:");

  // A message without SA link reads the lines and drops them.
  LoadedPackets noSa(
      Received("process_packet3phase1:", Nonce() + Failure("1", "2", "3", "x") + kSuccess + Nonce("02")));
  EXPECT_EQ(noSa.Next<Main34Mess>()->ChildCount(), 3u);
}

}  // namespace
}  // namespace quillon
