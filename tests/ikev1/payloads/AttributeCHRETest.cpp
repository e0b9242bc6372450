#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>

#include "ikev1/log/DebugLogReader.h"
#include "ikev1/log/Header.h"
#include "ikev1/log/Message.h"
#include "ikev1/payloads/AttributePayload.h"
#include "ikev1/payloads/CHREPayload.h"
#include "ikev1/payloads/IsakmpValue.h"
#include "ikev1/payloads/PayloadFactory.h"

namespace quillon {
namespace {

constexpr std::uint32_t kUnread = 0xFFFFFFFFu;

// ---- blocks as the daemon logs them ---------------------------------------------------------

std::string AttributeBlock(const std::string& type) {
  return "debugAttributePayload:\n\tNextPld: 00\n\tReserved: 00\n\tLength: 00 30 (48)\n\tType: " + type +
         "\n\tReserved: 00\n\tIdentifier: 5a 3c (23100)\n";
}

std::string ChreBlock(const std::string& lamType) {
  return "debugCHREPayload:\n\tNextPld: 0a\n\tReserved: 00\n\tLength: 00 18 (24)\n\tType: " + lamType +
         " \n\tReserved: 00\n\tReserved: 00\n";
}

std::string Basic(const std::string& attribute, const std::string& val) {
  return "debugIsakmpValue:\n\tAttribute: " + attribute + " \n\tFormat: 1\n\tVal: " + val + " \n";
}

// A variable-length attribute whose "Length:" line says `length`, whatever its value holds.
std::string Variable(const std::string& attribute, const std::string& length, const std::string& val) {
  return "debugIsakmpValue:\n\tAttribute: " + attribute + " \n\tFormat: 0\n\tLength: " + length + " (0)\n\tVal: " +
         val + " (0)\n";
}

std::string Variable(const std::string& attribute, const std::string& val) {
  const std::size_t bytes = (val.size() + 1) / 3;
  return Variable(attribute, "00 " + NumberText(static_cast<std::uint32_t>(bytes), 16), val);
}

std::string LengthBlock() { return "debugAttributePayloadLen:\n\tLength: 00 40 (64)\n"; }

std::string Nonce() { return "debugNoncePayload:\n\tNextPld: 00\n\tReserved: 00\n\tLength: 00 05 (5)\n\tNonceData: 01\n"; }

// ---- packets ------------------------------------------------------------------------------------

const std::string kPlus(70, '+');

std::string HeaderBlock(bool created) {
  return std::string("debugIsakmpHdr: ") + (created ? "(Creation)" : "(Process)") +
         "\n\tInitCookie: 01 02 03 04 05 06 07 08 \n\tRspCookie: 11 12 13 14 15 16 17 18 \n\tNextPld: 08\n"
         "\tMjVer: 01\n\tMnVer: 00\n\tExcType: 06\n\tResFlag: 00\n\tCommitFlag: 00\n\tEncFlag: 01\n"
         "\tMsgID: 00 00 00 07 \n\tLength: 00 00 00 4c (76)\n";
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

// The loader's part: scan for the next packet, load it, clear what a cut packet left.
template <class M>
std::unique_ptr<M> LoadNext(DebugLogReader& reader, const std::string& name = "CM") {
  while (!reader.AtEnd()) {
    auto header = std::make_unique<Header>(reader);
    if (reader.IsAbandoned()) {
      reader.ClearAbandon();
      continue;
    }
    auto message = std::make_unique<M>(name, nullptr);
    message->Load(std::move(header), reader);
    reader.ClearAbandon();
    return message;
  }
  return nullptr;
}

// ---- single blocks ------------------------------------------------------------------------------

template <class P>
std::unique_ptr<P> ReadBlock(DebugLogReader& reader, bool created = false) {
  const int code = DebugLogReader::BlockKeywordCode(reader.ReadToken());
  std::unique_ptr<QLFolder> node = CreatePayload(code, reader, PayloadContext{created, 64, nullptr});
  return std::unique_ptr<P>(dynamic_cast<P*>(node.release()));
}

template <class P>
std::unique_ptr<P> ReadBlock(const std::string& text, bool created = false) {
  auto reader = DebugLogReader::FromText(text);
  return ReadBlock<P>(reader, created);
}

std::string Written(const QLFolder& node) {
  std::string out;
  node.WriteDebug(out);
  for (const auto& child : node.Children()) child->WriteDebug(out);
  node.WriteDebugLength(out);
  return out;
}

std::string ConfigText(const std::string& attributeBlock) {
  auto reader = DebugLogReader::FromText(attributeBlock);
  return IsakmpValue(reader, IsakmpValue::kConfigModeSpace, nullptr).ValueText(1, 0);
}

// ---- attribute payload in its message -----------------------------------------------------------

TEST(AttributePayloadTest, UserNameAndAssignedAddressReachTheMessage) {
  auto reader = DebugLogReader::FromText(
      Received("process_config", AttributeBlock("02") + Variable("00 0e", "61 6c 69 63 65") +
                                     Variable("00 01", "0a 00 00 05") +
                                     Variable("00 01", "0a 00 01") +  // no address: keeps the one before
                                     Variable("00 0f", "73 65 63 72 65 74") + Nonce()) +
      Received("process_config", AttributeBlock("02") + Variable("00 11", "55 73 65 72 20 62 6f 62 20 61 75 74 68 65 6e "
                                                                          "74 69 63 61 74 65 64") +
                                     Variable("00 0e", "61 6c 69 63 65")));

  auto reply = LoadNext<ConfigMess>(reader);
  ASSERT_EQ(reply->ChildCount(), 3u);
  const auto* attributes = dynamic_cast<const AttributePayload*>(reply->Child(1));
  ASSERT_NE(attributes, nullptr);
  EXPECT_EQ(attributes->Caption(), "Attribute");
  EXPECT_EQ(reply->Name(), "CM Reply (12:34:56)");
  EXPECT_EQ(reply->UserName(), "alice");
  EXPECT_EQ(reply->UserDetail(), "(10.0.0.5)");
  EXPECT_EQ(attributes->DetailText(),
            "Attribute Payload\r\n\r\nNext Payload:\tNONE\r\nReserved:\t0\r\nLength:\t\t00 30  (48)\r\n"
            "Type:\t\t2 (ISKAMP_CFG_REPLY)\r\nReserved:\t0\r\nIdentifier:\t5a 3c  (23100)\r\n\r\n"
            "Username:\t61 6c 69 63 65  (alice)\r\nInternal IP4 address:\t\t(10.0.0.5)\r\n"
            "Internal IP4 address:\t\t\r\nPassword:\t(***********)\r\n");
  EXPECT_EQ(dynamic_cast<const KeyMaterialPayload*>(reply->Child(2))->Data(), (ByteList{1}));

  // The first user name decides, from a user-name attribute or an authentication message.
  auto second = LoadNext<ConfigMess>(reader);
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(second->UserName(), "bob");
  EXPECT_FALSE(second->HasUserDetail());
}

TEST(AttributePayloadTest, ConfigurationMessagesNamedAndCompletedByTypeAndStatus) {
  struct Case {
    const char* keyword;
    const char* type;
    std::string attributes;
    const char* name;
    bool complete;
  };
  const Case cases[] = {
      {"create_config_request:", "01", Basic("80 0d", "00 00") + Variable("00 0e", ""), "CM Request  (12:34:56)", true},
      {"create_config_set:", "03", Basic("80 14", "00 01"), "CM Set (12:34:56)", true},
      {"create_config_set:", "03", Basic("80 14", "00 00"), "CM Set (12:34:56)", false},
      // The last status attribute decides, in either form.
      {"create_config_ack:", "04", Variable("00 14", "00 01") + Basic("80 14", "00 00"), "CM Ack (12:34:56)", false},
      {"create_config_ack:", "04", "", "CM Ack (12:34:56)", true},  // no status: success
      {"create_config_reply:", "07", Basic("80 14", "00 00"), "CM", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto reader = DebugLogReader::FromText(Created(c.keyword, AttributeBlock(c.type) + c.attributes + LengthBlock()));
    auto m = LoadNext<ConfigMess>(reader);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->Name(), c.name);
    EXPECT_EQ(m->IsComplete(), c.complete);
    const auto* attributes = dynamic_cast<const AttributePayload*>(m->Child(1));
    ASSERT_NE(attributes, nullptr);
    // A created packet's final length comes after the attributes.
    EXPECT_TRUE(attributes->HasLengthBlock());
    EXPECT_EQ(attributes->Fields().length, (ByteList{0x00, 0x40}));
  }
}

// ---- configuration-mode attribute texts ---------------------------------------------------------

TEST(AttributePayloadTest, ConfigurationModeTexts) {
  struct Row {
    const char* attribute;
    const char* val;
    const char* text;
  };
  const Row rows[] = {
      {"00 01", "0a 00 00 05 ff 00 00 00", "Internal IP4 address:\t\t(10.0.0.5  255.0.0.0)"},
      {"00 06", "0a 00 00 03", "Internal IP4 DHCP:\t(10.0.0.3)"},
      {"00 05", "00 00 70 80", "Internal address expiry:\t00 00 70 80 (28800)"},
      {"00 08", "fe 80", "Internal IP6 address:\tfe 80 "},
      // Type and status in both numberings.
      {"00 0d", "00 01", "Type:\t00 01 "},
      {"80 0d", "00 01", "Type:\t00 01 "},
      {"80 14", "00 00", "Status:\t00 00 "},
      {"00 12", "29 41", "Challenge:\r\n29 41 \r\n  ()\r\nA)"},
      {"40 00", "00 10", "ZLAN Data:\t00 10  (16)"},
      {"40 03", "61 2e 62", "Domain Name:\t\t\t61 2e 62 \r\n\t\t\t\t(a.b)"},
      {"40 05", "00 00", "IP Assignment status\t\tSuccess (0)"},
      {"40 05", "00 01", "IP Assignment status\t\tUser not in HM group (1)"},
      {"40 05", "00 02", "IP Assignment status\t\tFailed (2)"},
      {"40 05", "00 07", "IP Assignment status\t\tUnknown (7)"},
      {"40 13", "75 00 31", "DHCP User\t\t\tu 1"},
      {"40 49", "48 69", "Message\t\t\t\tHi"},
      {"40 4b", "00 3c", "Message interval\t\t60"},
      // Types without a text name the type only; the format bit is part of the type.
      {"00 15", "01", "Unknown attribute! (00 15 )"},
      {"40 02", "01", "Unknown attribute! (40 02 )"},
      {"80 01", "0a 00 00 05", "Unknown attribute! (80 01 )"},
  };
  for (const Row& row : rows) EXPECT_EQ(ConfigText(Basic(row.attribute, row.val)), row.text) << row.attribute;

  // Character texts wrap every 40 characters.
  std::string host;
  for (int i = 0; i < 41; ++i) host += "61 ";
  EXPECT_EQ(ConfigText(Basic("40 10", host)), "DHCP Hostname\t\t\t" + std::string(40, 'a') + "\r\n  a");
}

TEST(AttributePayloadTest, PasswordIsNeverShown) {
  std::string longSecret;
  for (int i = 0; i < 64; ++i) longSecret += "73 ";
  for (const std::string& block : {Variable("00 0f", "73 65 63 72 65 74"), Variable("00 0f", "00 40", longSecret),
                                   Variable("00 0f", ""), Basic("00 0f", "73 65")}) {
    EXPECT_EQ(ConfigText(block), "Password:\t(***********)") << block;
    auto payload = ReadBlock<AttributePayload>(AttributeBlock("01") + block);
    ASSERT_EQ(payload->ChildCount(), 1u);
    EXPECT_EQ(payload->DetailText().find("73"), std::string::npos);
  }
  // In the basic form the type is another one, named by its dump alone.
  EXPECT_EQ(ConfigText(Basic("80 0f", "73 65")), "Unknown attribute! (80 0f )");
}

// ---- challenge/response -------------------------------------------------------------------------

TEST(CHREPayloadTest, CrackAttributesInTheChain) {
  auto reader = DebugLogReader::FromText(
      Received("process_packet5phase1:", ChreBlock("00 01") + Variable("40 06", "61 6c 69 63 65") +
                                             Variable("40 07", "73 65") + Basic("40 08", "00") +
                                             Basic("c0 0c", "00 01") + Basic("80 0c", "00 01") + Nonce()) +
      Received("process_packet6phase1:", ChreBlock("00 09")));
  auto m = LoadNext<Main56Mess>(reader);
  ASSERT_EQ(m->ChildCount(), 3u);
  const auto* chre = dynamic_cast<const CHREPayload*>(m->Child(1));
  ASSERT_NE(chre, nullptr);
  EXPECT_EQ(chre->Caption(), "Challenge/Response");
  EXPECT_EQ(chre->DetailText(),
            "Challenge/Response Payload\r\n\r\nNext Payload:\tNonce\r\nReserved:\t0\r\nLength:\t\t00 18  (24)\r\n"
            "LAM Type:\tCRACK_PASSWORD\r\nReserved:\t0\r\nReserved:\t0\r\n\r\n"
            "CRACK_T_USERNAME:\t61 6c 69 63 65 (alice)\r\nCRACK_T_SECRET:\t\t73 65 \r\nCRACK_T_DOMAIN\r\n"
            "CRACK_T_FIN:\t00 01  (CRACK_FIN_SUCCESS)\r\nLife Duration:\t\t1\r\n");
  EXPECT_NE(dynamic_cast<const KeyMaterialPayload*>(m->Child(2)), nullptr);

  auto next = LoadNext<Main56Mess>(reader);
  ASSERT_EQ(next->ChildCount(), 2u);
  const auto& unknown = dynamic_cast<const CHREPayload&>(*next->Child(1));
  EXPECT_EQ(unknown.ChildCount(), 0u);
  EXPECT_NE(unknown.DetailText().find("\r\nLAM Type:\tUnknown LAM type\r\n"), std::string::npos);
}

// ---- written blocks -----------------------------------------------------------------------------

TEST(AttributeCHRETest, WrittenBlocksReadBackEqual) {
  struct Block {
    std::string text;
    bool created;
  };
  const Block blocks[] = {
      {AttributeBlock("02") + Variable("00 0e", "61 6c 69 63 65") + Variable("00 01", "0a 00 00 05") +
           Basic("80 14", "00 01"),
       false},
      {AttributeBlock("03") + Basic("80 0d", "00 00") + LengthBlock(), true},
      {AttributeBlock("01") + LengthBlock(), true},
      {AttributeBlock("01"), false},
      {ChreBlock("00 01") + Variable("40 06", "61 6c 69 63 65") + Basic("c0 0c", "00 02"), false},
      {ChreBlock("00 04"), false},
  };
  for (const Block& block : blocks) {
    SCOPED_TRACE(block.text);
    auto first = ReadBlock<QLFolder>(block.text + Nonce(), block.created);
    ASSERT_NE(first, nullptr);
    const std::string written = Written(*first);
    auto again = ReadBlock<QLFolder>(written + Nonce(), block.created);
    EXPECT_EQ(Written(*again), written);
    EXPECT_EQ(again->Caption(), first->Caption());
    EXPECT_EQ(again->DetailText(), first->DetailText());
    EXPECT_EQ(again->ChildCount(), first->ChildCount());
    EXPECT_EQ(again->UserName(), first->UserName());
    EXPECT_EQ(again->UserDetail(), first->UserDetail());
  }

  EXPECT_EQ(Written(*ReadBlock<AttributePayload>(blocks[1].text, true)),
            "debugAttributePayload:\n\tNextPld: 00\n\tReserved: 00\n\tLength: 00 40 (64)\n\tType: 03\n"
            "\tReserved: 00\n\tIdentifier: 5a 3c (23100)\n"
            "debugIsakmpValue:\n\tAttribute: 80 0d \n\tFormat: 1\n\tVal: 00 00 \n"
            "debugAttributePayloadLen:\n\tLength: 00 40 (64)\n");
}

// ---- bad input ----------------------------------------------------------------------------------

TEST(AttributeCHRETest, MissingPartsInventNothing) {
  // A block without fields or attributes: no attribute is made up from the next block.
  auto reader = DebugLogReader::FromText("debugAttributePayload:\n" + Nonce());
  auto bare = ReadBlock<AttributePayload>(reader, true);
  EXPECT_EQ(bare->Fields().nextPld, kUnread);
  EXPECT_EQ(bare->Type(), kUnread);
  EXPECT_EQ(bare->ChildCount(), 0u);
  EXPECT_EQ(bare->ConfigStatus(), 1u);
  EXPECT_FALSE(bare->HasLengthBlock());
  EXPECT_NE(bare->DetailText().find("Unknown Config Mode Type"), std::string::npos);
  EXPECT_EQ(reader.ReadToken(), "debugNoncePayload:");

  // A created packet without its length block keeps the first length; the next payload's
  // length is not taken for it, and no length block is written.
  auto noLengthBlock = DebugLogReader::FromText(AttributeBlock("01") + Basic("80 0d", "00 00") + Nonce());
  auto created = ReadBlock<AttributePayload>(noLengthBlock, true);
  EXPECT_EQ(created->Fields().length, (ByteList{0x00, 0x30}));
  EXPECT_EQ(created->ChildCount(), 1u);
  EXPECT_EQ(Written(*created).find("debugAttributePayloadLen:"), std::string::npos);
  EXPECT_EQ(noLengthBlock.ReadToken(), "debugNoncePayload:");

  auto chreReader = DebugLogReader::FromText("debugCHREPayload:\n" + Nonce());
  auto chre = ReadBlock<CHREPayload>(chreReader);
  EXPECT_EQ(chre->Reserved3(), kUnread);
  EXPECT_TRUE(chre->LamType().empty());
  EXPECT_EQ(chre->ChildCount(), 0u);
  EXPECT_EQ(chreReader.ReadToken(), "debugNoncePayload:");
}

TEST(AttributeCHRETest, LengthThatDisagreesWithTheValue) {
  // The value is taken as dumped; the logged length is kept for writing back.
  auto payload = ReadBlock<AttributePayload>(AttributeBlock("04") + Variable("00 0e", "00 10", "61 6c 69 63 65") +
                                             Variable("00 01", "00 04", "0a 00 01") +
                                             Variable("00 14", "00 02", "00 00 00 00 00"));
  ASSERT_EQ(payload->ChildCount(), 3u);
  EXPECT_EQ(payload->UserName(), "alice");
  EXPECT_FALSE(payload->HasUserDetail());  // three bytes are no address
  EXPECT_EQ(payload->ConfigStatus(), 0u);
  EXPECT_TRUE(payload->DetailText().ends_with("Internal IP4 address:\t\t\r\nStatus:\t00 00 00 00 00 \r\n"));
  const std::string written = Written(*payload);
  EXPECT_NE(written.find("\tLength: 00 04 (4)\n\tVal: 0a 00 01 (655361)\n"), std::string::npos);
}

TEST(AttributeCHRETest, BlockCutByTheNextPacketLeavesThatPacket) {
  const std::string cutAttribute = "debugIsakmpValue:\n\tAttribute: 00 01\n\tFormat: 0\n";
  for (bool createdNext : {false, true}) {
    SCOPED_TRACE(createdNext);
    const std::string next = createdNext ? Created("create_config_reply:", AttributeBlock("02"))
                                         : Received("process_config", AttributeBlock("02"));
    auto reader = DebugLogReader::FromText(
        Received("process_config", AttributeBlock("01") + Variable("00 0e", "61 6c 69 63 65") + cutAttribute) +
        Received("process_packet5phase1:", ChreBlock("00 01") + Variable("40 06", "61") + cutAttribute) +
        Received("process_config", "debugAttributePayload:\n\tNextPld: 00\n\tReserved: ") + next);

    auto first = LoadNext<ConfigMess>(reader);
    ASSERT_EQ(first->ChildCount(), 2u);
    EXPECT_EQ(first->Child(1)->ChildCount(), 1u);  // the cut attribute is dropped
    EXPECT_EQ(first->UserName(), "alice");
    EXPECT_EQ(first->Name(), "CM Request  (12:34:56)");

    auto second = LoadNext<Main56Mess>(reader);
    ASSERT_NE(second, nullptr);
    ASSERT_EQ(second->ChildCount(), 2u);
    EXPECT_EQ(second->Child(1)->ChildCount(), 1u);

    auto third = LoadNext<ConfigMess>(reader);
    ASSERT_NE(third, nullptr);
    ASSERT_EQ(third->ChildCount(), 2u);
    EXPECT_EQ(dynamic_cast<const AttributePayload&>(*third->Child(1)).Fields().reserved, kUnread);
    EXPECT_EQ(third->Name(), "CM");  // no type read

    auto fourth = LoadNext<ConfigMess>(reader);
    ASSERT_NE(fourth, nullptr);
    EXPECT_EQ(fourth->GetHeader()->IsCreated(), createdNext);
    EXPECT_EQ(fourth->Name(), "CM Reply (12:34:56)");
  }
}

TEST(AttributeCHRETest, EndOfFileInsideABlock) {
  for (const std::string& tail :
       {std::string("debugAttributePayload:"), std::string("debugAttributePayload:\n\tNextPld: 00\n\tReserved:"),
        AttributeBlock("03") + "debugIsakmpValue:\n\tAttribute: 00 0e\n",
        AttributeBlock("03") + Basic("80 14", "00 00") + "debugAttributePayloadLen:\n\tLength:",
        std::string("debugCHREPayload:\n\tNextPld: 00"), ChreBlock("00 01") + "debugIsakmpValue:\n\tFormat: 0\n"}) {
    SCOPED_TRACE(tail);
    auto reader = DebugLogReader::FromText(Created("create_config_set:", tail));
    auto m = LoadNext<ConfigMess>(reader);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->ChildCount(), 2u);
    EXPECT_TRUE(reader.AtEnd());
  }
}

}  // namespace
}  // namespace quillon
