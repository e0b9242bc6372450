#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "ikev1/log/DebugLogReader.h"
#include "ikev1/log/Header.h"
#include "ikev1/log/Message.h"
#include "ikev1/log/PacketDebugRecord.h"
#include "ikev1/log/PacketDebugTable.h"
#include "ikev1/payloads/IsakmpValue.h"
#include "ikev1/payloads/PayloadFactory.h"
#include "ikev1/payloads/SAPayload.h"
#include "ikev1/payloads/TransMatch.h"

namespace quillon {
namespace {

constexpr std::uint32_t kUnread = 0xFFFFFFFFu;

// ---- blocks as the daemon logs them ---------------------------------------------------------

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

std::string TransBlock(const std::string& nextPld, const std::string& transNum, const std::string& transId) {
  return "debugTransPayload:\n\tNextPld: " + nextPld +
         "\n\tReserved: 00\n\tLength: 00 24 (36)\n\tTransNum: " + transNum + "\n\tTransId: " + transId +
         "\n\tReserved2: 00 00 (0)\n";
}

// A basic (type/value) attribute.
std::string Basic(const std::string& attribute, const std::string& val) {
  return "debugIsakmpValue:\n\tAttribute: " + attribute + " \n\tFormat: 1\n\tVal: " + val + " \n";
}

// A variable-length (type/length/value) attribute.
std::string Variable(const std::string& attribute, const std::string& length, const std::string& val,
                     const std::string& decimal) {
  return "debugIsakmpValue:\n\tAttribute: " + attribute + " \n\tFormat: 0\n\tLength: " + length +
         " (4)\n\tVal: " + val + " (" + decimal + ")\n";
}

std::string LengthBlock(const std::string& keyword, const std::string& length) {
  return keyword + "\n\tLength: " + length + "\n";
}

// A phase-one SA offering one proposal with a 3DES/SHA1 and an AES/MD5 transform.
std::string PhaseOneSa() {
  return SaBlock() + PropBlock("01", "01", "02") + TransBlock("03", "01", "01") + Basic("80 01", "00 05") +
         Basic("80 02", "00 02") + Basic("80 03", "00 01") + Basic("80 04", "00 02") + Basic("80 0b", "00 01") +
         Variable("00 0c", "00 04", "00 01 51 80", "86400") + TransBlock("00", "02", "01") + Basic("80 01", "00 07") +
         Basic("80 0e", "00 80") + Basic("80 02", "00 01");
}

// ---- reading helpers ------------------------------------------------------------------------------

std::unique_ptr<SAPayload> ReadSa(DebugLogReader& reader, bool created = false, int space = 32) {
  EXPECT_EQ(reader.ReadToken(), "debugSAPayload:");
  std::unique_ptr<QLFolder> node = CreatePayload(kSaBlock, reader, PayloadContext{created, space, nullptr});
  return std::unique_ptr<SAPayload>(dynamic_cast<SAPayload*>(node.release()));
}

std::unique_ptr<SAPayload> ReadSa(const std::string& text, bool created = false, int space = 32) {
  auto reader = DebugLogReader::FromText(text);
  return ReadSa(reader, created, space);
}

// The saving walk: a node's block, its children's, then its trailing block.
void WriteTree(const QLFolder& node, std::string& out) {
  node.WriteDebug(out);
  for (const auto& child : node.Children()) WriteTree(*child, out);
  node.WriteDebugLength(out);
}

std::string Written(const QLFolder& node) {
  std::string out;
  WriteTree(node, out);
  return out;
}

// Same captions, detail texts and shape, node by node.
void ExpectSameTree(const QLFolder& a, const QLFolder& b) {
  EXPECT_EQ(a.Caption(), b.Caption());
  EXPECT_EQ(a.DetailText(), b.DetailText());
  EXPECT_EQ(a.SpiText(), b.SpiText());
  ASSERT_EQ(a.ChildCount(), b.ChildCount()) << a.Caption();
  for (std::size_t i = 0; i < a.ChildCount(); ++i) ExpectSameTree(*a.Child(i), *b.Child(i));
}

const IsakmpValue& ValueOf(const TransPayload& transform, std::size_t index) {
  return dynamic_cast<const IsakmpValue&>(*transform.Child(index));
}

// One attribute read alone from its block.
std::unique_ptr<IsakmpValue> ReadValue(const std::string& block, int space) {
  auto reader = DebugLogReader::FromText(block + "debugKeyPayload:");
  return std::make_unique<IsakmpValue>(reader, space, nullptr);
}

std::string Text(const std::string& attribute, const std::string& val, int space, std::int32_t protocolId = 3,
                 std::uint32_t transformId = 3) {
  return ReadValue(Basic(attribute, val), space)->ValueText(protocolId, transformId);
}

// ---- packets, for the message's chain -------------------------------------------------------------

const std::string kPlus(70, '+');

std::string HeaderBlock(bool created) {
  return std::string("debugIsakmpHdr: ") + (created ? "(Creation)" : "(Process)") +
         "\n\tInitCookie: 01 02 03 04 05 06 07 08 \n\tRspCookie: 11 12 13 14 15 16 17 18 \n\tNextPld: 01\n"
         "\tMjVer: 01\n\tMnVer: 00\n\tExcType: 02\n\tResFlag: 00\n\tCommitFlag: 00\n\tEncFlag: 00\n"
         "\tMsgID: 00 00 00 00 \n\tLength: 00 00 00 1c (28)\n";
}

std::string PacketLine(const std::string& keyword) {
  return "\n" + kPlus + "\n" + keyword + " peer: 0a000001 ~~ Mon Nov 13 12:34:56 2006\n" + kPlus + "\n";
}

std::string Received(const std::string& keyword, const std::string& payloads) {
  return HeaderBlock(false) + PacketLine(keyword) + payloads;
}

std::string Created(const std::string& keyword, const std::string& payloads) {
  return PacketLine(keyword) + HeaderBlock(true) + payloads;
}

std::string Nonce(const std::string& data) {
  return "debugNoncePayload:\n\tNextPld: 00\n\tReserved: 00\n\tLength: 00 08 (8)\n\tNonceData: " + data + "\n";
}

std::unique_ptr<Header> NextPacket(DebugLogReader& reader, PacketDebugTable& table) {
  while (!reader.AtEnd()) {
    auto header = std::make_unique<Header>(reader);
    if (auto record = header->TakePacketDebugRecord(); record && !record->sent) table.Put(std::move(record));
    if (!reader.IsAbandoned()) return header;
    reader.ClearAbandon();
  }
  return nullptr;
}

template <class M>
std::unique_ptr<M> LoadNext(DebugLogReader& reader, PacketDebugTable& table) {
  std::unique_ptr<Header> header = NextPacket(reader, table);
  if (!header) return nullptr;
  auto message = std::make_unique<M>("packet", nullptr);
  message->Load(std::move(header), reader);
  reader.ClearAbandon();
  return message;
}

// ---- reading and rendering -------------------------------------------------------------------------

TEST(SAPayloadTest, ReadsItsNestedBlocks) {
  auto sa = ReadSa(PhaseOneSa() + Nonce("01"));
  ASSERT_NE(sa, nullptr);
  EXPECT_EQ(sa->Caption(), "Security Association");
  EXPECT_EQ(sa->Fields().nextPld, 4u);
  EXPECT_EQ(sa->DOI(), (ByteList{0, 0, 0, 1}));
  EXPECT_EQ(sa->DetailText(),
            "SAPayload\r\n\r\nNext Payload:\tKey Exchange\r\nReserved:\t00\r\nLength:\t\t00 38  (56)\r\n"
            "DOI:\t\t00 00 00 01 \r\nSituation:\t00 00 00 01 \r\n");
  ASSERT_EQ(sa->ProposalCount(), 1u);

  const PropPayload& prop = *sa->Proposal(0);
  EXPECT_EQ(prop.Caption(), "prop1 PROTO_ISAKMP");
  EXPECT_EQ(prop.PropNum(), 1u);
  EXPECT_EQ(prop.NumOfTrans(), 2);
  EXPECT_TRUE(prop.SPI().empty());
  EXPECT_EQ(prop.SpiText(), "");
  EXPECT_EQ(sa->SpiText(), "");
  // Protocol 1 shows no SPI lines.
  EXPECT_EQ(prop.DetailText(),
            "Proposal Payload\r\n\r\nNext Payload:\tNONE\r\nReserved:\t00\r\nLength:\t\t00 2c  (44)\r\n"
            "PropNum:\t1\r\nProtId:\t\t1\r\nNum Transforms:\t2");
  ASSERT_EQ(prop.TransformCount(), 2u);

  const TransPayload& tran1 = *prop.Transform(0);
  EXPECT_EQ(tran1.Caption(), "tran1 KEY_IKE");
  EXPECT_EQ(tran1.ProtId(), 1);
  ASSERT_EQ(tran1.ChildCount(), 6u);
  EXPECT_EQ(ValueOf(tran1, 5).Length(), (ByteList{0, 4}));
  EXPECT_EQ(ValueOf(tran1, 5).Val(), (ByteList{0, 1, 0x51, 0x80}));
  EXPECT_EQ(tran1.DetailText(),
            "Transform Payload - KEY_IKE\r\n\r\nNext Payload:\tTransform\r\nReserved:\t0\r\nLength:\t\t00 24  (36)\r\n"
            "TransNum:\t1\r\nTransId:\t1\r\nReserved2:\t00 00  (0)\r\n\r\n"
            "Encryption Algorithm:\t3DES-CBC\r\nHash Algorithm:\t\tSHA1\r\nAuthentication Method:\tPre-shared key\r\n"
            "Group Description:\tAlternate 1024-bit MODP group\r\nLife Type:\t\tSeconds\r\n"
            "Life Duration:\t\t86400\r\n");
  const TransPayload& tran2 = *prop.Transform(1);
  EXPECT_EQ(tran2.Caption(), "tran2 KEY_IKE");
  EXPECT_TRUE(
      tran2.DetailText().ends_with("\r\n\r\nEncryption Algorithm:\tAES-CBC\r\nKey Length:\t\t128\r\n"
                                   "Hash Algorithm:\t\tMD5\r\n"));
  EXPECT_FALSE(tran2.HasLengthBlock());
  // Attributes have no caption or text of their own.
  EXPECT_EQ(ValueOf(tran2, 0).Caption(), "");
  EXPECT_EQ(ValueOf(tran2, 0).DetailText(), "");
  EXPECT_TRUE(ValueOf(tran2, 0).IsAttributeValue());
}

TEST(SAPayloadTest, ProposalSpiCaptionAndDetail) {
  auto sa = ReadSa(SaBlock() + PropBlock("01", "03", "01", "11 22 33 44") + TransBlock("00", "01", "03") +
                       Basic("80 04", "00 01") + PropBlock("02", "04", "01", "00 00 00 00") +
                       TransBlock("00", "01", "02") + PropBlock("03", "07", "00", "aa bb cc dd") + Nonce("01"),
                   false, 64);
  ASSERT_EQ(sa->ProposalCount(), 3u);
  const PropPayload& esp = *sa->Proposal(0);
  EXPECT_EQ(esp.Caption(), "prop1 PROTO_IPSEC_ESP  (11223344)");
  EXPECT_EQ(esp.SpiText(), "11223344");
  EXPECT_TRUE(esp.DetailText().ends_with("\r\nProtId:\t\t3\r\nSPI Size:\t4\r\nSPI:\t\t11223344\r\nNum Transforms:\t1"));
  EXPECT_EQ(esp.Transform(0)->Caption(), "tran1 ESP_3DES");
  EXPECT_EQ(sa->SpiText(), "11223344");

  // IPCOMP names its SPI a CPI; an SPI of value 0 gets no parenthesis in the caption.
  const PropPayload& ipcomp = *sa->Proposal(1);
  EXPECT_EQ(ipcomp.Caption(), "prop2 PROTO_IPCOMP");
  EXPECT_TRUE(ipcomp.DetailText().ends_with("\r\nCPI Size:\t4\r\nCPI:\t\t00000000\r\nNum Transforms:\t1"));
  EXPECT_EQ(ipcomp.Transform(0)->Caption(), "tran1 IPCOMP_DEFLATE");

  EXPECT_EQ(sa->Proposal(2)->Caption(), "prop3Unknown Protocol ID!");
  EXPECT_EQ(sa->Proposal(2)->TransformCount(), 0u);

  // The first proposal with an SPI gives the SA's SPI text.
  auto second = ReadSa(SaBlock() + PropBlock("01", "03", "00") + PropBlock("02", "03", "00", "55 66 77 88"));
  EXPECT_EQ(second->SpiText(), "55667788");
}

TEST(SAPayloadTest, TwoTransformProposalKeepsOnlyItsFirstTransform) {
  // The second transform claims another transform follows (3) although it is the last.
  auto sa = ReadSa(SaBlock() + PropBlock("01", "01", "02", "", "02") + TransBlock("03", "01", "01") +
                   Basic("80 01", "00 05") + TransBlock("03", "02", "01") + Basic("80 01", "00 07") +
                   PropBlock("02", "01", "01") + TransBlock("00", "01", "01") + Nonce("01"));
  ASSERT_EQ(sa->ProposalCount(), 2u);
  const PropPayload& prop = *sa->Proposal(0);
  ASSERT_EQ(prop.TransformCount(), 1u);
  EXPECT_EQ(prop.Transform(0)->TransNum(), 1u);
  EXPECT_EQ(prop.Transform(0)->ChildCount(), 1u);
  // The dropped transform leaves the SA readable: the next proposal is there.
  EXPECT_EQ(sa->Proposal(1)->PropNum(), 2u);
  EXPECT_EQ(sa->Proposal(1)->TransformCount(), 1u);
}

TEST(SAPayloadTest, ProposalWhoseFirstTransformClaimsToBeLastKeepsNone) {
  auto reader = DebugLogReader::FromText(SaBlock() + PropBlock("01", "01", "02") + TransBlock("00", "01", "01") +
                                         Basic("80 01", "00 05") + TransBlock("00", "02", "01") + Nonce("01"));
  auto sa = ReadSa(reader);
  ASSERT_EQ(sa->ProposalCount(), 1u);
  EXPECT_EQ(sa->Proposal(0)->TransformCount(), 0u);
  EXPECT_FALSE(reader.IsAbandoned());
  EXPECT_EQ(reader.ReadToken(), "debugNoncePayload:");
}

TEST(SAPayloadTest, CreatedPacketTakesTheFinalLengths) {
  const std::string text =
      SaBlock("00 00 (0)") + PropBlock("01", "01", "02") + TransBlock("03", "01", "01") + Basic("80 01", "00 05") +
      LengthBlock("debugTransPayloadLen:", "00 24 (36)") + TransBlock("00", "02", "01") + Basic("80 01", "00 07") +
      LengthBlock("debugTransPayloadLen:", "00 28 (40)") + LengthBlock("debugPropPayloadLen:", "00 54 (84)") +
      LengthBlock("debugSAPayloadLen:", "00 60 (96)") + Nonce("01");
  auto reader = DebugLogReader::FromText(text);
  auto sa = ReadSa(reader, /*created=*/true);
  EXPECT_EQ(sa->Fields().length, (ByteList{0, 0x60}));
  ASSERT_EQ(sa->ProposalCount(), 1u);
  const PropPayload& prop = *sa->Proposal(0);
  EXPECT_EQ(prop.Fields().length, (ByteList{0, 0x54}));
  ASSERT_EQ(prop.TransformCount(), 2u);
  EXPECT_TRUE(prop.Transform(0)->HasLengthBlock());
  EXPECT_EQ(prop.Transform(1)->Fields().length, (ByteList{0, 0x28}));
  EXPECT_EQ(prop.Transform(1)->ChildCount(), 1u);
  EXPECT_EQ(reader.ReadToken(), "debugNoncePayload:");

  // A received packet keeps the first lengths and passes over length blocks (as a saved log has them).
  auto received = ReadSa(text, /*created=*/false);
  EXPECT_EQ(received->Fields().length, (ByteList{0, 0}));
  EXPECT_EQ(received->Proposal(0)->TransformCount(), 2u);
  EXPECT_FALSE(received->Proposal(0)->Transform(0)->HasLengthBlock());
}

// ---- writing --------------------------------------------------------------------------------------

TEST(SAPayloadTest, WrittenLayout) {
  auto sa = ReadSa(SaBlock() + PropBlock("01", "03", "01", "11 22 33 44") + TransBlock("00", "01", "0c") +
                       Basic("80 04", "00 01") + Variable("00 02", "00 04", "00 00 0e 10", "3600") + Nonce("01"),
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
}

TEST(SAPayloadTest, EveryNodeReadsBackWhatItWrites) {
  struct Case {
    std::string text;
    bool created;
    int space;
  };
  const Case cases[] = {
      {PhaseOneSa(), false, 32},
      // Two proposals of a received packet: the length blocks written after each are passed over.
      {SaBlock() + PropBlock("01", "03", "02", "11 22 33 44", "02") + TransBlock("03", "01", "03") +
           Basic("80 01", "00 01") + Variable("80 02", "00 04", "00 00 70 80", "28800") + TransBlock("00", "02", "0c") +
           Basic("80 06", "01 00") + PropBlock("02", "02", "01", "55 66 77 88") + TransBlock("00", "01", "03"),
       false, 64},
      // A created packet with its length blocks.
      {SaBlock("00 00 (0)") + PropBlock("01", "01", "01") + TransBlock("00", "01", "01") + Basic("80 01", "00 05") +
           LengthBlock("debugTransPayloadLen:", "00 28 (40)") + LengthBlock("debugPropPayloadLen:", "00 30 (48)") +
           LengthBlock("debugSAPayloadLen:", "00 3c (60)"),
       true, 32},
      // CRACK attributes and an attribute whose length disagrees with its value.
      {SaBlock() + PropBlock("01", "01", "01") + TransBlock("00", "01", "01") + Basic("80 03", "00 80") +
           Variable("40 06", "00 05", "61 6c 69 63 65", "1634300517") + Variable("00 0c", "00 08", "00 01", "1"),
       false, 32},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    auto first = ReadSa(c.text + Nonce("01"), c.created, c.space);
    const std::string written = Written(*first);
    auto again = ReadSa(written + Nonce("01"), c.created, c.space);
    ExpectSameTree(*first, *again);
    EXPECT_EQ(Written(*again), written);
  }
}

// ---- attributes -----------------------------------------------------------------------------------

TEST(IsakmpValueTest, FormatBitIsIgnoredInBothSpaces) {
  EXPECT_EQ(Text("80 01", "00 01", 64), "SA Life Type:\t\tSeconds");
  EXPECT_EQ(Text("00 01", "00 02", 64), "SA Life Type:\t\tKiloBytes");
  EXPECT_EQ(Text("80 0b", "00 01", 32), "Life Type:\t\tSeconds");
  EXPECT_EQ(Text("00 0b", "00 02", 32), "Life Type:\t\tKiloBytes");
  // Space 64 takes the type modulo 32; space 32 clears only the format bit.
  EXPECT_EQ(Text("80 21", "00 01", 64), "SA Life Type:\t\tSeconds");
  EXPECT_EQ(Text("80 2b", "00 01", 32), "Unknown Attribute (80 2b )");
  // Attribute space 0 (a message without header) and any other value read as 64.
  EXPECT_EQ(Text("80 01", "00 01", 0), "SA Life Type:\t\tSeconds");
  EXPECT_EQ(Text("80 01", "00 01", 7), "SA Life Type:\t\tSeconds");
}

TEST(IsakmpValueTest, PhaseOneNames) {
  EXPECT_EQ(Text("80 03", "00 80", 32), "Authentication Method:\tIKE_A_CRACK");
  EXPECT_EQ(Text("80 03", "fa dd", 32), "Authentication Method:\tHybridInitRSA");
  EXPECT_EQ(Text("80 03", "00 06", 32), "Authentication Method:\tUndefined Authentication Algorithm");
  EXPECT_EQ(Text("80 05", "00 02", 32), "Group Type:\t\tECP  (elliptic curve group over GF[P])");
  EXPECT_EQ(Text("80 0d", "00 01", 32), "PRF: ");
  EXPECT_EQ(Text("80 0e", "01 00", 32), "Key Length:\t\t256");
  EXPECT_EQ(Text("80 06", "00 07", 32), "Group Prime/Irreducible Polynomial :7");
  EXPECT_EQ(Text("80 10", "00 07", 32), "Group Order:\t7");
  EXPECT_EQ(Text("80 00", "00 07", 32), "Unknown Attribute (80 00 )");
  EXPECT_EQ(Text("80 11", "00 07", 32), "Unknown Attribute (80 11 )");
}

TEST(IsakmpValueTest, CrackAttributes) {
  EXPECT_EQ(Text("40 06", "61 6c 69 63 65", 32), "CRACK_T_USERNAME:\t61 6c 69 63 65 (alice)");
  EXPECT_EQ(Text("40 07", "aa bb", 32), "CRACK_T_SECRET:\t\taa bb ");
  EXPECT_EQ(Text("40 08", "aa", 32), "CRACK_T_DOMAIN");
  EXPECT_EQ(Text("40 0b", "aa", 32), "CRACK_T_MESSAGE");
  EXPECT_EQ(Text("40 0c", "00 01", 32), "CRACK_T_FIN:\t00 01  (CRACK_FIN_SUCCESS)");
  EXPECT_EQ(Text("40 0c", "00 09", 32), "CRACK_T_FIN:\t00 09 ");
  EXPECT_EQ(Text("40 05", "00", 32), "Unknown Attribute (40 05 )");
  EXPECT_EQ(Text("40 0d", "00", 32), "Unknown Attribute (40 0d )");
}

TEST(IsakmpValueTest, PhaseTwoNames) {
  EXPECT_EQ(Text("80 04", "00 03", 64), "Encapsulation Mode:\t");  // no name: the label alone
  EXPECT_EQ(Text("80 04", "00 01", 64), "Encapsulation Mode:\tTunnel");
  EXPECT_EQ(Text("80 04", "f0 01", 64), "Encapsulation Mode:\tTransport UDP Encapsulation");
  EXPECT_EQ(Text("80 02", "00 00 70 80", 64), "SA Life Duration:\t28800");
  // IPCOMP transforms call the life attributes IPCA.
  EXPECT_EQ(Text("80 01", "00 01", 64, 4), "IPCA Life Type:\t\tSeconds");
  EXPECT_EQ(Text("80 02", "00 3c", 64, 4), "IPCA Life Duration:\t60");
  EXPECT_EQ(Text("80 03", "00 0e", 64), "Group Description:\t2048-bit MODP group (14)");
  EXPECT_EQ(Text("80 05", "00 02", 64), "Authentication Alg:\tHMAC-SHA1");
  EXPECT_EQ(Text("80 05", "00 00", 64, 3, 20), "Authentication Alg:\tDerived from AES_GCM");
  EXPECT_EQ(Text("80 05", "00 00", 64, 3, 12), "Authentication Alg:\tUnknown Authentication Algorithm");
  EXPECT_EQ(Text("80 06", "01 00", 64), "Key Length:\t\t256");
  EXPECT_EQ(Text("80 09", "00 02", 64), "Compress Private Algorithm:\t2");
  EXPECT_EQ(Text("80 0a", "00 02", 64), "Unknown Attribute (80 0a )");
}

TEST(IsakmpValueTest, ConfigurationModeSpaceHidesThePassword) {
  const std::string text = Text("00 0f", "73 65 63 72 65 74", 256);
  EXPECT_EQ(text, "Password:\t(***********)");
  EXPECT_EQ(text.find("73"), std::string::npos);
}

TEST(IsakmpValueTest, UserTexts) {
  auto name = ReadValue(Variable("00 0e", "00 05", "61 6c 69 63 65", "0"), 256);
  EXPECT_TRUE(name->HasUserName());
  EXPECT_EQ(name->UserName(), "alice");
  EXPECT_FALSE(name->HasUserDetail());
  EXPECT_FALSE(ReadValue(Variable("00 0e", "00 01", "00", "0"), 256)->HasUserName());

  // "User bob authenticated": the name between the two words.
  auto message = ReadValue(
      Variable("00 11", "00 16", "55 73 65 72 20 62 6f 62 20 61 75 74 68 65 6e 74 69 63 61 74 65 64", "0"), 256);
  EXPECT_EQ(message->UserName(), "bob");
  EXPECT_FALSE(ReadValue(Variable("00 11", "00 04", "55 73 65 72", "0"), 256)->HasUserName());

  auto address = ReadValue(Variable("00 01", "00 04", "0a 00 00 05", "0"), 256);
  EXPECT_TRUE(address->HasUserDetail());
  EXPECT_EQ(address->UserDetail(), "(10.0.0.5)");
  EXPECT_FALSE(ReadValue(Variable("00 01", "00 04", "00 00 00 00", "0"), 256)->HasUserDetail());
  // The format bit counts here: 80 01 is no address.
  EXPECT_FALSE(ReadValue(Basic("80 01", "0a 00 00 05"), 32)->HasUserDetail());
}

TEST(IsakmpValueTest, CharAndDottedAddressTexts) {
  EXPECT_EQ(CharText({0x61, 0x00, 0x29, 0x162}, false), "a )\r\nb");
  ByteList long41(41, 0x78);
  const std::string wrapped = CharText(long41, true);
  EXPECT_EQ(wrapped, std::string(40, 'x') + "\r\n  x");
  EXPECT_EQ(CharText(long41, false), std::string(41, 'x'));
  EXPECT_EQ(DottedAddressText({10, 0, 0, 5}), "(10.0.0.5)");
  EXPECT_EQ(DottedAddressText({10, 0, 0, 0, 255, 255, 255, 0}), "(10.0.0.0  255.255.255.0)");
  EXPECT_EQ(DottedAddressText({10, 0, 0}), "");
  EXPECT_EQ(DottedAddressText({}), "");
}

TEST(IsakmpValueTest, VariableLengthValueSkipsItsDecimalOnly) {
  auto reader = DebugLogReader::FromText(Variable("00 0c", "00 04", "00 01 51 80", "86400") + "next");
  IsakmpValue value(reader, 32, nullptr);
  EXPECT_EQ(value.Format(), 0u);
  EXPECT_EQ(value.Val(), (ByteList{0, 1, 0x51, 0x80}));
  EXPECT_EQ(reader.ReadToken(), "next");
  // A basic attribute leaves what follows its value alone.
  auto basic = DebugLogReader::FromText(Basic("80 01", "00 01") + "(not-mine)");
  IsakmpValue plain(basic, 32, nullptr);
  EXPECT_EQ(basic.ReadToken(), "(not-mine)");
  // The reader may also stand after the keyword.
  auto after = DebugLogReader::FromText(Basic("80 01", "00 02"));
  after.ReadToken();
  EXPECT_EQ(IsakmpValue(after, 64, nullptr).Val(), (ByteList{0, 2}));
}

// ---- bad input ------------------------------------------------------------------------------------

TEST(SAPayloadTest, WrongTransformCounts) {
  // Three announced, two there: the second, not being the last, should point to a third.
  auto more = ReadSa(SaBlock() + PropBlock("01", "01", "03") + TransBlock("03", "01", "01") +
                     TransBlock("00", "02", "01") + Nonce("01"));
  EXPECT_EQ(more->Proposal(0)->TransformCount(), 1u);
  // One announced, two there: the first points to another.
  auto fewer = ReadSa(SaBlock() + PropBlock("01", "01", "01") + TransBlock("03", "01", "01") +
                      TransBlock("00", "02", "01") + PropBlock("02", "01", "00") + Nonce("01"));
  EXPECT_EQ(fewer->Proposal(0)->TransformCount(), 0u);
  EXPECT_EQ(fewer->ProposalCount(), 2u);
  // One announced and right, a surplus transform after it: the surplus is passed over.
  auto surplus = ReadSa(SaBlock() + PropBlock("01", "01", "01") + TransBlock("00", "01", "01") +
                        TransBlock("00", "02", "01") + PropBlock("02", "01", "00") + Nonce("01"));
  EXPECT_EQ(surplus->Proposal(0)->TransformCount(), 1u);
  EXPECT_EQ(surplus->ProposalCount(), 2u);
  // An unreadable or negative count reads no transform.
  for (const char* count : {"ffffffff", "80000000", "zz", "00"}) {
    auto reader =
        DebugLogReader::FromText(SaBlock() + PropBlock("01", "01", count) + TransBlock("00", "01", "01") + Nonce("01"));
    auto sa = ReadSa(reader);
    ASSERT_EQ(sa->ProposalCount(), 1u) << count;
    EXPECT_EQ(sa->Proposal(0)->TransformCount(), 0u) << count;
    EXPECT_EQ(reader.ReadToken(), "debugNoncePayload:") << count;
  }
}

TEST(SAPayloadTest, MissingProposalsAndValues) {
  auto reader = DebugLogReader::FromText(SaBlock() + Nonce("01"));
  auto sa = ReadSa(reader);
  EXPECT_EQ(sa->ProposalCount(), 0u);
  EXPECT_EQ(sa->SpiText(), "");
  EXPECT_EQ(reader.ReadToken(), "debugNoncePayload:");

  // Attributes without value (and one without format): the next attribute keeps its own fields.
  auto bare = ReadSa(SaBlock() + PropBlock("01", "03", "01") + TransBlock("00", "01", "03") +
                         "debugIsakmpValue:\n\tAttribute: 80 01 \n\tFormat: 1\n" +
                         "debugIsakmpValue:\n\tAttribute: 80 04 \n" + Basic("80 02", "00 3c") + Nonce("01"),
                     false, 64);
  const TransPayload& t = *bare->Proposal(0)->Transform(0);
  ASSERT_EQ(t.ChildCount(), 3u);
  EXPECT_TRUE(ValueOf(t, 0).Val().empty());
  EXPECT_EQ(ValueOf(t, 0).ValueText(3, 3), "SA Life Type:\t\tUnknown life type!");
  EXPECT_EQ(ValueOf(t, 1).Format(), kUnread);
  EXPECT_TRUE(ValueOf(t, 1).Val().empty());
  EXPECT_EQ(ValueOf(t, 2).Val(), (ByteList{0, 0x3c}));

  // A block missing most of its labels keeps defined values.
  auto empty = ReadSa("debugSAPayload:\n" + PropBlock("01", "01", "00") + Nonce("01"));
  EXPECT_EQ(empty->Fields().nextPld, kUnread);
  EXPECT_TRUE(empty->DOI().empty());
  EXPECT_EQ(empty->ProposalCount(), 1u);
  EXPECT_EQ(empty->DetailText(),
            "SAPayload\r\n\r\nNext Payload:\tnot recognized\r\nReserved:\tffffffff\r\n"
            "Length:\t\t (0)\r\nDOI:\t\t\r\nSituation:\t\r\n");
}

TEST(SAPayloadTest, BlocksCutShortLeaveTheNextPacketToTheScan) {
  PacketDebugTable table;
  const std::string cuts[] = {
      SaBlock() + PropBlock("01", "01", "02") + TransBlock("03", "01", "01") + "debugIsakmpValue:\n\tAttribute: 80\n",
      SaBlock() + PropBlock("01", "01", "02") + "debugTransPayload:\n\tNextPld: 03\n\tReserved:\n",
      SaBlock() + "debugPropPayload:\n\tNextPld: 00\n",
      "debugSAPayload:\n\tNextPld: 00\n",
  };
  for (const std::string& cut : cuts) {
    for (bool created : {false, true}) {
      SCOPED_TRACE(cut);
      const std::string first =
          created ? Created("create_packet1phase1:", cut) : Received("process_packet1phase1:", cut);
      const std::string next =
          created ? Created("create_packet2phase1:", Nonce("07")) : Received("process_packet2phase1:", Nonce("07"));
      auto reader = DebugLogReader::FromText(first + next);
      auto m1 = LoadNext<Main12Mess>(reader, table);
      ASSERT_NE(m1, nullptr);
      ASSERT_NE(m1->SaPayload(), nullptr);
      auto m2 = LoadNext<Main12Mess>(reader, table);
      ASSERT_NE(m2, nullptr);
      EXPECT_EQ(m2->GetHeader()->PacketKind(), 0x0Au);
      EXPECT_EQ(m2->ChildCount(), 2u);
    }
  }
}

// ---- transform-match lines ---------------------------------------------------------------------------

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

TEST(TransMatchTest, FailureLinesMarkTheirTransforms) {
  PacketDebugTable table;
  auto reader = DebugLogReader::FromText(
      Received("process_packet1phase2:", MatchSa() + Failure("1", "2", "3", "Encryption mismatch") +
                                             Failure("1", "2", "4", "other ID") + Failure("1", "7", "3", "no such") +
                                             "gxIsakmp noise line\n" + Nonce("01")) +
      Received("process_packet2phase2:", Nonce("02")));
  auto m = LoadNext<PhaTwo12Mess>(reader, table);
  ASSERT_NE(m, nullptr);
  auto* sa = dynamic_cast<SAPayload*>(m->SaPayload());
  ASSERT_NE(sa, nullptr);
  EXPECT_EQ(m->ChildCount(), 3u);  // header, SA, nonce: the lines make no node
  const TransPayload& marked = *sa->Proposal(0)->Transform(1);
  EXPECT_TRUE(marked.IsNotChosen());
  EXPECT_EQ(marked.NotChosenReason(), "Encryption mismatch");
  EXPECT_TRUE(marked.DetailText().ends_with("\r\n\r\nNot chosen because: Encryption mismatch"));
  EXPECT_FALSE(sa->Proposal(0)->Transform(0)->IsNotChosen());
  EXPECT_FALSE(sa->Proposal(0)->Transform(0)->DetailText().find("Not chosen") != std::string::npos);
  EXPECT_FALSE(sa->Proposal(1)->Transform(0)->IsNotChosen());  // transform 2, ID 3, but of proposal 2
  EXPECT_EQ(LoadNext<PhaTwo12Mess>(reader, table)->GetHeader()->PacketKind(), 0x41u);
}

TEST(TransMatchTest, LaterFailureReplacesTheReason) {
  auto sa = ReadSa(MatchSa() + Nonce("01"), false, 64);
  sa->MarkNotChosen(1, 2, 3, "first");
  sa->MarkNotChosen(2, 2, 3, "second");
  sa->MarkNotChosen(2, 2, 3, "third");
  EXPECT_EQ(sa->Proposal(0)->Transform(1)->NotChosenReason(), "first");
  EXPECT_EQ(sa->Proposal(1)->Transform(0)->NotChosenReason(), "third");
}

TEST(TransMatchTest, RunWithASuccessLineMarksNothing) {
  PacketDebugTable table;
  for (const std::string& run : {Failure("1", "2", "3", "x") + kSuccess, kSuccess + Failure("1", "2", "3", "x")}) {
    auto reader = DebugLogReader::FromText(Received("process_packet1phase2:", MatchSa() + run + Nonce("01")));
    auto m = LoadNext<PhaTwo12Mess>(reader, table);
    auto* sa = dynamic_cast<SAPayload*>(m->SaPayload());
    ASSERT_NE(sa, nullptr);
    EXPECT_FALSE(sa->Proposal(0)->Transform(1)->IsNotChosen()) << run;
    EXPECT_EQ(m->ChildCount(), 3u);
  }
  // Two runs: a success in the first does not keep the second from marking.
  auto reader = DebugLogReader::FromText(Received(
      "process_packet1phase2:", MatchSa() + kSuccess + Nonce("01") + Failure("1", "2", "3", "later") + Nonce("02")));
  auto m = LoadNext<PhaTwo12Mess>(reader, table);
  EXPECT_EQ(dynamic_cast<SAPayload*>(m->SaPayload())->Proposal(0)->Transform(1)->NotChosenReason(), "later");
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
  auto cut = DebugLogReader::FromText("TransMatchFailure: prop 1 trans\n" + Nonce("01"));
  const TransMatchRecord shortRecord(cut);
  EXPECT_EQ(shortRecord.FailureCount(), 1);
  EXPECT_EQ(shortRecord.TransformNumbers(), (std::vector<std::uint32_t>{kUnread}));
  EXPECT_EQ(cut.ReadToken(), "debugNoncePayload:");

  // A message without SA link reads the lines and drops them.
  PacketDebugTable table;
  auto noSa = DebugLogReader::FromText(
      Received("process_packet3phase1:", Nonce("01") + Failure("1", "2", "3", "x") + kSuccess + Nonce("02")));
  EXPECT_EQ(LoadNext<Main34Mess>(noSa, table)->ChildCount(), 3u);
}

}  // namespace
}  // namespace quillon
