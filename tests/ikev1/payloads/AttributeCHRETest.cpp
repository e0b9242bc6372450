#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "PayloadBlocks.h"
#include "ikev1/payloads/AttributePayload.h"
#include "ikev1/payloads/CHREPayload.h"
#include "ikev1/payloads/IsakmpValue.h"
#include "ikev1/payloads/KeyMaterialPayloads.h"

namespace quillon {
namespace {

using namespace payload_blocks;

// ---- blocks as the daemon logs them ------------------------------------------------------------

std::string AttributeBlock(const std::string& type) {
  return "debugAttributePayload:\n\tNextPld: 00\n\tReserved: 00\n\tLength: 00 30 (48)\n\tType: " + type +
         "\n\tReserved: 00\n\tIdentifier: 5a 3c (23100)\n";
}

std::string ChreBlock(const std::string& lamType) {
  return "debugCHREPayload:\n\tNextPld: 0a\n\tReserved: 00\n\tLength: 00 18 (24)\n\tType: " + lamType +
         " \n\tReserved: 00\n\tReserved: 00\n";
}

// A variable-length attribute whose length line agrees with its value.
std::string Variable(const std::string& attribute, const std::string& val) {
  const std::size_t bytes = (val.size() + 1) / 3;
  return payload_blocks::Variable(attribute, "00 " + NumberText(static_cast<std::uint32_t>(bytes), 16), val);
}
using payload_blocks::Variable;

std::string LengthBlock() { return "debugAttributePayloadLen:\n\tLength: 00 40 (64)\n"; }

// One attribute read alone from its block, shown for the protocol and transform it belongs to.
std::unique_ptr<IsakmpValue> ReadValue(const std::string& block, int space) {
  auto reader = DebugLogReader::FromText(block + "debugKeyPayload:");
  return std::make_unique<IsakmpValue>(reader, space, nullptr);
}

std::string ValueText(const std::string& block, int space, std::int32_t protocolId = 3,
                      std::uint32_t transformId = 3) {
  return ReadValue(block, space)->ValueText(protocolId, transformId);
}

constexpr int kConfig = IsakmpValue::kConfigModeSpace;

// ---- attribute texts -----------------------------------------------------------------------------

// An attribute's line: the label of its type in the packet's attribute set, then its value as
// the type shows it (a name, a number, characters or nothing).
TEST(IsakmpValueTest, ValueTexts) {
  struct Row {
    const char* attribute;
    const char* val;
    int space;
    const char* text;
    std::int32_t protocolId = 3;
    std::uint32_t transformId = 3;
  };
  const Row rows[] = {
      // The format bit is ignored in both SA sets; set 64 takes the type modulo 32, set 32
      // clears only the format bit. Set 0 (a message without header) and any other read as 64.
      {"00 01", "00 02", 64, "SA Life Type:\t\tKiloBytes"},
      {"80 0b", "00 01", 32, "Life Type:\t\tSeconds"},
      {"00 0b", "00 02", 32, "Life Type:\t\tKiloBytes"},
      {"80 21", "00 01", 64, "SA Life Type:\t\tSeconds"},
      {"80 2b", "00 01", 32, "Unknown Attribute (80 2b )"},
      {"80 01", "00 01", 0, "SA Life Type:\t\tSeconds"},
      {"80 01", "00 01", 7, "SA Life Type:\t\tSeconds"},
      // Phase one: named, numeric and unnamed classes, a two-byte value beyond 0x8000.
      {"80 03", "fa dd", 32, "Authentication Method:\tHybridInitRSA"},
      {"80 05", "00 02", 32, "Group Type:\t\tECP  (elliptic curve group over GF[P])"},
      {"80 10", "00 07", 32, "Group Order:\t7"},
      {"80 11", "00 07", 32, "Unknown Attribute (80 11 )"},
      // CRACK attributes, in either set: characters, a plain dump, a label alone, a FIN status.
      {"40 06", "61 6c 69 63 65", 32, "CRACK_T_USERNAME:\t61 6c 69 63 65 (alice)"},
      {"40 07", "aa bb", 32, "CRACK_T_SECRET:\t\taa bb "},
      {"40 08", "aa", 32, "CRACK_T_DOMAIN"},
      {"40 0c", "00 01", 32, "CRACK_T_FIN:\t00 01  (CRACK_FIN_SUCCESS)"},
      {"40 0c", "00 09", 32, "CRACK_T_FIN:\t00 09 "},
      {"40 0d", "00", 32, "Unknown Attribute (40 0d )"},
      // Phase two.
      {"80 04", "00 03", 64, "Encapsulation Mode:\t"},  // no name: the label alone
      {"80 01", "00 01", 64, "IPCA Life Type:\t\tSeconds", 4},  // IPCOMP calls the life attributes IPCA
      {"80 05", "00 00", 64, "Authentication Alg:\tDerived from AES_GCM", 3, 20},
      {"80 05", "00 00", 64, "Authentication Alg:\tUnknown Authentication Algorithm", 3, 12},
      {"80 0a", "00 02", 64, "Unknown Attribute (80 0a )"},
      // Configuration mode: addresses with and without mask, numbers, characters, statuses.
      {"00 01", "0a 00 00 05 ff 00 00 00", kConfig, "Internal IP4 address:\t\t(10.0.0.5  255.0.0.0)", 1, 0},
      {"00 05", "00 00 70 80", kConfig, "Internal address expiry:\t00 00 70 80 (28800)", 1, 0},
      {"00 08", "fe 80", kConfig, "Internal IP6 address:\tfe 80 ", 1, 0},
      {"80 14", "00 00", kConfig, "Status:\t00 00 ", 1, 0},  // the status in its basic form
      {"00 12", "29 41", kConfig, "Challenge:\r\n29 41 \r\n  ()\r\nA)", 1, 0},
      {"40 00", "00 10", kConfig, "ZLAN Data:\t00 10  (16)", 1, 0},
      {"40 03", "61 2e 62", kConfig, "Domain Name:\t\t\t61 2e 62 \r\n\t\t\t\t(a.b)", 1, 0},
      {"40 05", "00 07", kConfig, "IP Assignment status\t\tUnknown (7)", 1, 0},
      {"40 13", "75 00 31", kConfig, "DHCP User\t\t\tu 1", 1, 0},
      // Types without a text name the type only; the format bit is part of the type here.
      {"00 15", "01", kConfig, "Unknown attribute! (00 15 )", 1, 0},
      {"80 01", "0a 00 00 05", kConfig, "Unknown attribute! (80 01 )", 1, 0},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(ValueText(Basic(row.attribute, row.val), row.space, row.protocolId, row.transformId), row.text)
        << row.attribute << " = " << row.val << " in set " << row.space;
  }

  // Character texts wrap every 40 characters.
  EXPECT_EQ(ValueText(Basic("40 10", SpacedHex(ByteList(41, 0x61))), kConfig, 1, 0),
            "DHCP Hostname\t\t\t" + std::string(40, 'a') + "\r\n  a");
}

TEST(IsakmpValueTest, PasswordIsNeverShown) {
  for (const std::string& block : {Variable("00 0f", "73 65 63 72 65 74"), Variable("00 0f", SpacedHex(ByteList(64, 0x73))),
                                   Variable("00 0f", ""), Basic("00 0f", "73 65")}) {
    EXPECT_EQ(ValueText(block, kConfig, 1, 0), "Password:\t(***********)") << block;
    auto payload = ReadBlock<AttributePayload>(AttributeBlock("01") + block);
    ASSERT_EQ(payload->ChildCount(), 1u);
    EXPECT_EQ(payload->DetailText().find("73"), std::string::npos);
  }
}

// A configuration reply names the user and the address it was given (see the message test
// below); these give neither: a name opening with a zero byte, an authentication message
// without a name, the address 0.0.0.0, and type 80 01, as the format bit counts here.
TEST(IsakmpValueTest, NoUserNameOrAddress) {
  for (const std::string& block : {Variable("00 0e", "00"), Variable("00 11", "55 73 65 72"),
                                   Variable("00 01", "00 00 00 00"), Basic("80 01", "0a 00 00 05")}) {
    auto value = ReadValue(block, kConfig);
    EXPECT_FALSE(value->HasUserName()) << block;
    EXPECT_FALSE(value->HasUserDetail()) << block;
  }
}

TEST(IsakmpValueTest, VariableLengthValueSkipsItsDecimalOnly) {
  auto reader = DebugLogReader::FromText(Variable("00 0c", "00 04", "00 01 51 80", "86400") + "next");
  IsakmpValue value(reader, 32, nullptr);
  EXPECT_EQ(value.Format(), 0u);
  EXPECT_EQ(value.Val(), (ByteList{0, 1, 0x51, 0x80}));
  EXPECT_EQ(reader.ReadToken(), "next");
  // A basic attribute leaves what follows its value alone.
  auto basic = DebugLogReader::FromText(Basic("80 01", "00 01") + "(not-mine)");
  const IsakmpValue plain(basic, 32, nullptr);
  EXPECT_EQ(basic.ReadToken(), "(not-mine)");
  // The reader may also stand after the keyword.
  auto after = DebugLogReader::FromText(Basic("80 01", "00 02"));
  after.ReadToken();
  EXPECT_EQ(IsakmpValue(after, 64, nullptr).Val(), (ByteList{0, 2}));
}

// ---- the attribute payload in its message --------------------------------------------------------

TEST(AttributePayloadTest, UserNameAndAssignedAddressReachTheMessage) {
  LoadedPackets packets(
      Received("process_config", AttributeBlock("02") + Variable("00 0e", "61 6c 69 63 65") +
                                     Variable("00 01", "0a 00 00 05") +
                                     Variable("00 01", "0a 00 01") +  // no address: keeps the one before
                                     Variable("00 0f", "73 65 63 72 65 74") + Nonce()) +
      Received("process_config",
               AttributeBlock("02") +
                   Variable("00 11", "55 73 65 72 20 62 6f 62 20 61 75 74 68 65 6e 74 69 63 61 74 65 64") +
                   Variable("00 0e", "61 6c 69 63 65")));

  auto reply = packets.Next<ConfigMess>();
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
  auto second = packets.Next<ConfigMess>();
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
    LoadedPackets packets(Created(c.keyword, AttributeBlock(c.type) + c.attributes + LengthBlock()));
    auto m = packets.Next<ConfigMess>();
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

// ---- challenge/response --------------------------------------------------------------------------

TEST(CHREPayloadTest, CrackAttributesInTheChain) {
  LoadedPackets packets(
      Received("process_packet5phase1:", ChreBlock("00 01") + Variable("40 06", "61 6c 69 63 65") +
                                             Variable("40 07", "73 65") + Basic("40 08", "00") +
                                             Basic("c0 0c", "00 01") + Basic("80 0c", "00 01") + Nonce()) +
      Received("process_packet6phase1:", ChreBlock("00 09")));
  auto m = packets.Next<Main56Mess>();
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

  auto next = packets.Next<Main56Mess>();
  ASSERT_EQ(next->ChildCount(), 2u);
  const auto& unknown = dynamic_cast<const CHREPayload&>(*next->Child(1));
  EXPECT_EQ(unknown.ChildCount(), 0u);
  EXPECT_NE(unknown.DetailText().find("\r\nLAM Type:\tUnknown LAM type\r\n"), std::string::npos);
}

// ---- writing and bad input -----------------------------------------------------------------------

TEST(AttributeCHRETest, WrittenBlocksReadBackEqual) {
  const std::string created = AttributeBlock("03") + Basic("80 0d", "00 00") + LengthBlock();
  ReadAndReadBack(AttributeBlock("02") + Variable("00 0e", "61 6c 69 63 65") + Variable("00 01", "0a 00 00 05") +
                  Basic("80 14", "00 01"));
  ReadAndReadBack(created, true);
  ReadAndReadBack(AttributeBlock("01") + LengthBlock(), true);
  ReadAndReadBack(ChreBlock("00 01") + Variable("40 06", "61 6c 69 63 65") + Basic("c0 0c", "00 02"));

  EXPECT_EQ(Written(*ReadBlock(created, true)),
            "debugAttributePayload:\n\tNextPld: 00\n\tReserved: 00\n\tLength: 00 40 (64)\n\tType: 03\n"
            "\tReserved: 00\n\tIdentifier: 5a 3c (23100)\n"
            "debugIsakmpValue:\n\tAttribute: 80 0d \n\tFormat: 1\n\tVal: 00 00 \n"
            "debugAttributePayloadLen:\n\tLength: 00 40 (64)\n");
}

TEST(AttributeCHRETest, MissingPartsInventNothing) {
  // A block without fields or attributes: no attribute is made up from the next block.
  auto bare = ReadBeforeNonce<AttributePayload>("debugAttributePayload:\n", true);
  EXPECT_EQ(bare->Fields().nextPld, kUnread);
  EXPECT_EQ(bare->Type(), kUnread);
  EXPECT_EQ(bare->ChildCount(), 0u);
  EXPECT_EQ(bare->ConfigStatus(), 1u);
  EXPECT_FALSE(bare->HasLengthBlock());
  EXPECT_NE(bare->DetailText().find("Unknown Config Mode Type"), std::string::npos);

  // A created packet without its length block keeps the first length; the next payload's
  // length is not taken for it, and no length block is written.
  auto created = ReadBeforeNonce<AttributePayload>(AttributeBlock("01") + Basic("80 0d", "00 00"), true);
  EXPECT_EQ(created->Fields().length, (ByteList{0x00, 0x30}));
  EXPECT_EQ(created->ChildCount(), 1u);
  EXPECT_EQ(Written(*created).find("debugAttributePayloadLen:"), std::string::npos);

  auto chre = ReadBeforeNonce<CHREPayload>("debugCHREPayload:\n");
  EXPECT_EQ(chre->Reserved3(), kUnread);
  EXPECT_TRUE(chre->LamType().empty());
  EXPECT_EQ(chre->ChildCount(), 0u);
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
  EXPECT_NE(Written(*payload).find("\tLength: 00 04 (4)\n\tVal: 0a 00 01 (655361)\n"), std::string::npos);
}

TEST(AttributeCHRETest, BlockCutByTheNextPacketLeavesThatPacket) {
  const std::string cutAttribute = "debugIsakmpValue:\n\tAttribute: 00 01\n\tFormat: 0\n";
  for (bool createdNext : {false, true}) {
    SCOPED_TRACE(createdNext);
    const std::string next = createdNext ? Created("create_config_reply:", AttributeBlock("02"))
                                         : Received("process_config", AttributeBlock("02"));
    LoadedPackets packets(
        Received("process_config", AttributeBlock("01") + Variable("00 0e", "61 6c 69 63 65") + cutAttribute) +
        Received("process_packet5phase1:", ChreBlock("00 01") + Variable("40 06", "61") + cutAttribute) +
        Received("process_config", "debugAttributePayload:\n\tNextPld: 00\n\tReserved: ") + next);

    auto first = packets.Next<ConfigMess>();
    ASSERT_EQ(first->ChildCount(), 2u);
    EXPECT_EQ(first->Child(1)->ChildCount(), 1u);  // the cut attribute is dropped
    EXPECT_EQ(first->UserName(), "alice");
    EXPECT_EQ(first->Name(), "CM Request  (12:34:56)");

    auto second = packets.Next<Main56Mess>();
    ASSERT_NE(second, nullptr);
    ASSERT_EQ(second->ChildCount(), 2u);
    EXPECT_EQ(second->Child(1)->ChildCount(), 1u);

    auto third = packets.Next<ConfigMess>();
    ASSERT_NE(third, nullptr);
    ASSERT_EQ(third->ChildCount(), 2u);
    EXPECT_EQ(dynamic_cast<const AttributePayload&>(*third->Child(1)).Fields().reserved, kUnread);
    EXPECT_EQ(third->Name(), "CM");  // no type read

    auto fourth = packets.Next<ConfigMess>();
    ASSERT_NE(fourth, nullptr);
    EXPECT_EQ(fourth->GetHeader()->IsCreated(), createdNext);
    EXPECT_EQ(fourth->Name(), "CM Reply (12:34:56)");
  }
}

}  // namespace
}  // namespace quillon
