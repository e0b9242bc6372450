#include "ikev1/payloads/KeyMaterialPayloads.h"

#include <gtest/gtest.h>

#include <string>

#include "PayloadBlocks.h"

namespace quillon {
namespace {

using namespace payload_blocks;

// Key exchange, nonce, hash, signature and NAT discovery payloads: the fixed head and one dump.
struct Kind {
  const char* keyword;
  const char* dataLabel;
  const char* name;
};
constexpr Kind kKinds[] = {{"debugKeyPayload:", "KeyData:", "Key"},
                           {"debugNoncePayload:", "NonceData:", "Nonce"},
                           {"debugHashPayload:", "HashData:", "Hash"},
                           {"debugSigPayload:", "SigData:", "Sig"},
                           {"debugNatDPayload:", "Hash:", "NAT Discovery"}};

std::string Block(const Kind& kind, const std::string& data, const std::string& reserved = "00") {
  return std::string(kind.keyword) + "\n\tNextPld: 0a\n\tReserved: " + reserved + "\n\tLength: 00 18 (24)\n\t" +
         kind.dataLabel + " " + data + "\n";
}

auto ReadKey(auto&& input, bool created = false) { return ReadBlock<KeyMaterialPayload>(input, created); }

// The payload's own block, without the hash's trailing data block.
std::string OwnBlock(const LogNode& node) {
  std::string out;
  node.WriteDebug(out);
  return out;
}

ByteList Sequence(std::uint32_t count) {
  ByteList list;
  for (std::uint32_t i = 0; i < count; ++i) list.push_back(i);
  return list;
}

TEST(KeyMaterialPayloadsTest, EveryKindReadsBackWhatItWrites) {
  for (const Kind& kind : kKinds) {
    auto payload = ReadAndReadBack<KeyMaterialPayload>(Block(kind, SpacedHex(Sequence(20))));  // 20 bytes: long dumps wrap
    ASSERT_NE(payload, nullptr);
    EXPECT_EQ(payload->Caption(), kind.name);
    EXPECT_EQ(payload->Fields().nextPld, 0x0au);
    EXPECT_EQ(payload->Fields().length, (ByteList{0x00, 0x18}));
    EXPECT_EQ(payload->Data(), Sequence(20));
  }
}

TEST(KeyMaterialPayloadsTest, Renderings) {
  auto nonce = ReadKey(Block(kKinds[1], "01 abcd 03"));
  EXPECT_EQ(nonce->Data(), (ByteList{0x01, 0xabcd, 0x03}));  // a four-digit token is one element
  EXPECT_EQ(nonce->DetailText(),
            "Nonce Payload\r\n\r\nNext Payload:\tNonce\r\nReserved:\t0\r\nLength:\t\t00 18  (24)"
            "\r\nNonce Data:\r\n01 abcd 03 ");
  EXPECT_EQ(OwnBlock(*nonce),
            "debugNoncePayload:\n\tNextPld: 0a\n\tReserved: 00\n\tLength: 00 18 (24)\n\tNonceData: 01 abcd 03 \n");

  // The signature's data label stands after one more empty line than its siblings'.
  auto sig = ReadKey(Block(kKinds[3], "aa"));
  EXPECT_TRUE(sig->DetailText().starts_with("Signature Payload\r\n"));
  EXPECT_TRUE(sig->DetailText().ends_with("(24)\r\n\r\nSigData:\r\naa "));
  EXPECT_TRUE(OwnBlock(*sig).ends_with("\tSigData:\naa \n"));
  auto natd = ReadKey(Block(kKinds[4], "01"));
  EXPECT_TRUE(natd->DetailText().starts_with("NAT-D Payload\r\n"));
  EXPECT_TRUE(natd->DetailText().ends_with("\r\nNAT-D Hash:\r\n01 "));

  // Long dumps wrap in the text and in the written block.
  auto key = ReadKey(Block(kKinds[0], SpacedHex(Sequence(40))));
  EXPECT_TRUE(key->DetailText().ends_with("\r\nKey Data:\r\n" + WrappedHex(Sequence(40))));
  EXPECT_TRUE(OwnBlock(*key).ends_with("\tKeyData:\n" + WrappedHex(Sequence(40)) + "\n"));

  // No token after the data label: empty data, and the written label keeps its blank.
  auto empty = ReadKey(Block(kKinds[2], "") + "debugNoncePayload:");
  EXPECT_TRUE(empty->Data().empty());
  EXPECT_TRUE(OwnBlock(*empty).ends_with("\tHashData: \n"));
}

TEST(KeyMaterialPayloadsTest, CreatedHashWaitsForItsDataBlock) {
  auto reader = DebugLogReader::FromText(Block(kKinds[2], "11 22 33") +
                                         "debugHashData:\n\tHashData: 44 55\ndebugHashData: NextPld: 00\n"
                                         "debugNoncePayload:");
  auto node = ReadKey(reader, /*created=*/true);
  auto* hash = dynamic_cast<HashPayload*>(node.get());
  ASSERT_NE(hash, nullptr);
  EXPECT_TRUE(hash->Data().empty());  // the early, unfinished hash is dropped

  ASSERT_EQ(reader.ReadToken(), "debugHashData:");
  hash->ReadHashData(reader);
  EXPECT_EQ(hash->Data(), (ByteList{0x44, 0x55}));
  // A data block without its label changes nothing and leaves the next block alone.
  ASSERT_EQ(reader.ReadToken(), "debugHashData:");
  hash->ReadHashData(reader);
  EXPECT_EQ(hash->Data(), (ByteList{0x44, 0x55}));
  EXPECT_EQ(reader.ReadToken(), "debugNoncePayload:");

  std::string out;
  hash->WriteDebugLength(out);
  EXPECT_EQ(out, "debugHashData:\n\tHashData: 44 55 \n");
  EXPECT_EQ(ReadKey(Block(kKinds[2], "11"), /*created=*/false)->Data(), (ByteList{0x11}));
}

TEST(KeyMaterialPayloadsTest, MissingLabelsAndBadTokensStayInsideTheBlock) {
  // The nonce block lacks "Reserved:"; the search must not take the next block's fields.
  auto reader = DebugLogReader::FromText("debugNoncePayload:\n\tNextPld: 0a\n\tLength: 00 18 (24)\n\tNonceData: 01\n" +
                                         Block(kKinds[2], "aa bb", "07"));
  auto nonce = ReadKey(reader);
  EXPECT_EQ(nonce->Fields().nextPld, 0x0au);
  EXPECT_EQ(nonce->Fields().reserved, kUnread);
  EXPECT_TRUE(nonce->Fields().length.empty());
  EXPECT_TRUE(nonce->Data().empty());
  auto hash = ReadKey(reader);
  ASSERT_NE(hash, nullptr);
  EXPECT_EQ(hash->Fields().reserved, 7u);
  EXPECT_EQ(hash->Data(), (ByteList{0xaa, 0xbb}));

  // A "#####" marker (a packet-debug record) ends a block as well.
  auto marker = DebugLogReader::FromText("debugKeyPayload:\n\tNextPld: 04\n##### BEGIN PACKET DEBUG #####");
  EXPECT_EQ(ReadKey(marker)->Fields().reserved, kUnread);
  EXPECT_EQ(marker.ReadToken(), "#####");

  // A non-hex value reads as unread and the next label is still found; a non-hex data token
  // ends the dump and is left for the chain.
  auto bad = DebugLogReader::FromText(
      "debugNoncePayload:\n\tNextPld: zz\n\tReserved: 01\n\tLength: 00 18 (24)\n\tNonceData: 01 02 xyz 03\n");
  auto badNonce = ReadKey(bad);
  EXPECT_EQ(badNonce->Fields().nextPld, kUnread);
  EXPECT_EQ(badNonce->Fields().reserved, 1u);
  EXPECT_EQ(badNonce->Data(), (ByteList{1, 2}));
  EXPECT_EQ(bad.ReadToken(), "xyz");
  EXPECT_TRUE(Written(*badNonce).starts_with("debugNoncePayload:\n\tNextPld: ffffffff\n"));
}

// (A block cut short by the next packet: ExamplesTest.APacketCutShortAnywhereLeavesTheNextOneWhole.)
TEST(KeyMaterialPayloadsTest, BlockCutByTheEndOrARestart) {
  // The end of the input inside the block.
  EXPECT_EQ(ReadKey("debugHashPayload:")->Fields().nextPld, kUnread);
  EXPECT_TRUE(ReadKey("debugHashPayload: NextPld: 0a Reserved: 00 Length: 00 18 (24) HashData:")->Data().empty());

  auto restart = DebugLogReader::FromText("debugKeyPayload:\n\tNextPld: 0a\nIKE daemon started\n\tReserved: 00\n");
  auto key = ReadKey(restart);
  EXPECT_TRUE(restart.RestartSeen());
  EXPECT_EQ(key->Fields().reserved, kUnread);
}

}  // namespace
}  // namespace quillon
