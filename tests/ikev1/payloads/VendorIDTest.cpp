#include "ikev1/payloads/VendorIDPayload.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "ikev1/log/DebugLogReader.h"
#include "ikev1/log/Header.h"
#include "ikev1/log/Message.h"
#include "ikev1/payloads/PayloadFactory.h"

namespace quillon {
namespace {

const std::string kPlus(70, '+');
const std::string kHead = "\tNextPld: 00\n\tReserved: 00\n\tLength: 00 18 (24)\n";
const std::string kDetailHead =
    "Vendor ID Payload\r\n\r\nNext Payload:\tNONE\r\nReserved:\t0\r\nLength:\t\t00 18  (24)";

std::unique_ptr<VendorIDPayload> ReadBlock(DebugLogReader& reader, bool created = false) {
  const int code = DebugLogReader::BlockKeywordCode(reader.ReadToken());
  std::unique_ptr<QLFolder> node = CreatePayload(code, reader, PayloadContext{created, 32, nullptr});
  auto* payload = dynamic_cast<VendorIDPayload*>(node.get());
  if (payload == nullptr) return nullptr;
  node.release();
  return std::unique_ptr<VendorIDPayload>(payload);
}

std::unique_ptr<VendorIDPayload> ReadBlock(const std::string& text) {
  auto reader = DebugLogReader::FromText(text);
  return ReadBlock(reader);
}

std::string Written(const QLFolder& node) {
  std::string out;
  node.WriteDebug(out);
  for (const auto& child : node.Children()) out += Written(*child);
  node.WriteDebugLength(out);
  return out;
}

// Writes the payload and reads it back: the copy must show and write the same.
std::unique_ptr<VendorIDPayload> ReadBack(const VendorIDPayload& original) {
  const std::string written = Written(original);
  auto reader = DebugLogReader::FromText(written + "debugNoncePayload:");
  auto copy = ReadBlock(reader);
  EXPECT_NE(copy, nullptr) << written;
  if (copy == nullptr) return nullptr;
  EXPECT_EQ(reader.ReadToken(), "debugNoncePayload:") << written;
  EXPECT_EQ(copy->Caption(), original.Caption());
  EXPECT_EQ(copy->VendorName(), original.VendorName());
  EXPECT_EQ(copy->VendorText(), original.VendorText()) << written;
  EXPECT_EQ(copy->DetailText(), original.DetailText()) << written;
  EXPECT_EQ(copy->HasFields(), original.HasFields());
  EXPECT_EQ(copy->HasNokiaFields(), original.HasNokiaFields());
  EXPECT_EQ(copy->ChildCount(), 0u);
  EXPECT_EQ(Written(*copy), written);
  return copy;
}

std::string Nonce() {
  return "debugNoncePayload:\n\tNextPld: 00\n\tReserved: 00\n\tLength: 00 08 (8)\n\tNonceData: 01\n";
}
// What a fields block without its labels shows.
const std::string kNoFields = "VIDData:\r\n\r\nProduct:\t\tUnknown product\r\nVersion:\t\tUnknown product version\r\n";

TEST(VendorIDTest, GatewayFieldsNameProductAndVersion) {
  auto reader = DebugLogReader::FromText(
      "debugVendorIDPayload:\n" + kHead + "\tVID Data: 4a 13 1c 81\n"
      "debugVendorIDFields:\n\tVIDData: 4a 13 1c 81\n\tProduct: 00 00 00 01\n\tVersion: 00 00 13 88\n"
      "\tBuild: 1234\n" + Nonce());
  auto vid = ReadBlock(reader);
  ASSERT_NE(vid, nullptr);
  EXPECT_EQ(reader.ReadToken(), "debugNoncePayload:");
  EXPECT_EQ(vid->Caption(), "Vendor ID");
  EXPECT_TRUE(vid->HasFields());
  EXPECT_FALSE(vid->HasNokiaFields());
  EXPECT_EQ(vid->VidData(), (ByteList{0x4a, 0x13, 0x1c, 0x81}));
  EXPECT_EQ(vid->VendorText(),
            "VIDData:\r\n4a 13 1c 81 \r\nProduct:\t\tMorrowvale Gateway\r\nVersion:\t\tBirch\r\nBuild:\t\t\t1234\r\n");
  EXPECT_EQ(vid->DetailText(), kDetailHead + "\r\n\r\nVID Data:\r\n4a 13 1c 81 \r\n" + vid->VendorText());
  // The fields block goes back as it was read, so that its codes read back.
  EXPECT_EQ(Written(*vid), "debugVendorIDPayload:\n" + kHead +
                               "\tVID Data: 4a 13 1c 81 \ndebugVendorIDFields:\n\tVIDData: 4a 13 1c 81 \n"
                               "\tProduct: 00 00 00 01 \n\tVersion: 00 00 13 88\n\tBuild: 1234\n");
  ReadBack(*vid);

  // Other products and versions; a missing version line is an unknown version.
  auto client = ReadBlock("debugVendorIDPayload:\n" + kHead +
                          "debugVendorIDFields:\n\tVIDData: 01\n\tProduct: 00 00 00 02\n\tVersion: 00 00 17 70\n");
  EXPECT_EQ(client->VendorText(),
            "VIDData:\r\n01 \r\nProduct:\t\tMorrowvale Client\r\nVersion:\t\tBirch With Deep Sight after Stage B\r\n");
  ReadBack(*client);
  auto unknown = ReadBlock("debugVendorIDPayload:\n" + kHead + "debugVendorIDFields:\n\tVIDData: 01\n\tProduct: 07\n" +
                           Nonce());
  EXPECT_EQ(unknown->VendorText(),
            "VIDData:\r\n01 \r\nProduct:\t\tUnknown product\r\nVersion:\t\tUnknown product version\r\n");
  ReadBack(*unknown);
}

TEST(VendorIDTest, VendorLines) {
  // A NAT traversal vendor ID shows only the support notice; its name is kept and written.
  auto natt = ReadBlock("debugVendorIDPayload:\n" + kHead +
                        "\tVendor: draft-ietf-ipsec-nat-t-ike-02 (NAT-T)\n\tVID Data: 90 cb 80 91\n" + Nonce());
  ASSERT_NE(natt, nullptr);
  EXPECT_EQ(natt->VendorName(), "draft-ietf-ipsec-nat-t-ike-02 (NAT-T)");
  EXPECT_EQ(natt->VendorText(), "\r\nSupport for Microsoft NAT traversal\r\n\r\n");
  EXPECT_EQ(natt->DetailText(),
            kDetailHead + "\r\n\r\nVID Data:\r\n90 cb 80 91 \r\n\r\nSupport for Microsoft NAT traversal\r\n\r\n");
  EXPECT_EQ(Written(*natt), "debugVendorIDPayload:\n" + kHead +
                                "\tVendor: draft-ietf-ipsec-nat-t-ike-02 (NAT-T)\n\tVID Data: 90 cb 80 91 \n");
  ReadBack(*natt);

  auto named = ReadBlock("debugVendorIDPayload:\n" + kHead + "\tVendor: Dead Peer Detection v1.0\n\tVID Data: af ca\n");
  EXPECT_EQ(named->VendorText(), "\r\nVendor:\t\tDead Peer Detection v1.0\r\n\r\n");
  ReadBack(*named);

  // Neither a vendor line nor a fields block: the detail text ends after the dump.
  auto plain = ReadBlock("debugVendorIDPayload:\n" + kHead + "\tVID Data: 01 02\n" + Nonce());
  EXPECT_EQ(plain->VendorText(), "");
  EXPECT_EQ(plain->DetailText(), kDetailHead + "\r\n\r\nVID Data:\r\n01 02 \r\n");
  ReadBack(*plain);
  // Data whose last four bytes are zero is still written.
  ReadBack(*ReadBlock("debugVendorIDPayload:\n" + kHead + "\tVID Data: 01 00 00 00 00\n"));
  // The created flag changes nothing.
  auto reader = DebugLogReader::FromText("debugVendorIDPayload:\n" + kHead + "\tVID Data: 01 02\n");
  EXPECT_EQ(ReadBlock(reader, true)->DetailText(), plain->DetailText());
}

TEST(VendorIDTest, FreeLinesAndTheirTabs) {
  auto vid = ReadBlock("debugVendorIDPayload:\n" + kHead +
                       "debugVendorIDNokiaFields:\n"
                       "\tModels: 7\n"                       // 7 characters: three tabs
                       "\tModelss: 8\n"                      // 8: two
                       "\tHardware model: 15\n"              // 15: two
                       "\tHardware models: 16\n"             // 16: one
                       "\tFeature set name:   full  set\n"   // the value from its first word on
                       "\ta b c d e f g h i j\n"             // no colon: the label ends after 8 tokens
                       "\tEmpty:\n" + Nonce());
  ASSERT_NE(vid, nullptr);
  EXPECT_FALSE(vid->HasFields());
  EXPECT_TRUE(vid->HasNokiaFields());
  EXPECT_EQ(vid->VendorText(),
            "Models:\t\t\t7\r\n"
            "Modelss:\t\t8\r\n"
            "Hardware model:\t\t15\r\n"
            "Hardware models:\t16\r\n"
            "Feature set name:\tfull  set\r\n"
            "a b c d e f g h\t\ti j\r\n"
            "Empty:\t\t\t\r\n");
  EXPECT_EQ(Written(*vid), "debugVendorIDPayload:\n" + kHead +
                               "debugVendorIDNokiaFields:\n\tModels: 7\n\tModelss: 8\n\tHardware model: 15\n"
                               "\tHardware models: 16\n\tFeature set name: full  set\n\ta b c d e f g h i j\n"
                               "\tEmpty:\n");
  ReadBack(*vid);

  // A label may run over a line end; it is written back on one line.
  auto across = ReadBlock("debugVendorIDPayload:\n" + kHead + "debugVendorIDNokiaFields:\n\tSerial\n\tno: 77\n");
  EXPECT_EQ(across->VendorText(), "Serial no:\t\t77\r\n");
  ReadBack(*across);
}

TEST(VendorIDTest, LookupsAndHexPairs) {
  EXPECT_EQ(VendorIDPayload::ProductName(1), "Morrowvale Gateway");
  EXPECT_EQ(VendorIDPayload::ProductName(2), "Morrowvale Client");
  EXPECT_EQ(VendorIDPayload::ProductName(0), "Unknown product");
  EXPECT_EQ(VendorIDPayload::ProductName(0xFFFFFFFFu), "Unknown product");
  struct Case { std::uint32_t code; const char* name; };
  for (const Case& c : {Case{2, "Alder"}, Case{3, "Alder Refresh A"}, Case{4002, "Alder (Refresh B and up)"},
                        Case{5000, "Birch"}, Case{5001, "Birch Wave A"}, Case{5002, "Birch Wave B"},
                        Case{5003, "Birch Wave C"}, Case{5004, "Birch with Deep Sight Stage A"},
                        Case{5005, "Birch with Deep Sight Stage B onward"},
                        Case{5006, "Birch With Deep Sight after Stage B"},
                        Case{6000, "Birch With Deep Sight after Stage B"}, Case{5007, "Unknown product version"},
                        Case{0, "Unknown product version"}, Case{4, "Unknown product version"}})
    EXPECT_EQ(VendorIDPayload::VersionName(c.code), c.name) << c.code;

  EXPECT_EQ(VendorIDPayload::HexPairs("00 00 13 88"), (ByteList{0x00, 0x00, 0x13, 0x88}));
  EXPECT_EQ(VendorIDPayload::HexPairs("0A bC"), (ByteList{0x0a, 0xbc}));
  EXPECT_EQ(VendorIDPayload::HexPairs("ff"), (ByteList{0xff}));
  EXPECT_EQ(VendorIDPayload::HexPairs("13 88 "), (ByteList{0x13, 0x88}));
  EXPECT_EQ(VendorIDPayload::HexPairs("0a 1"), (ByteList{0x0a}));
  EXPECT_EQ(VendorIDPayload::HexPairs("0a1b"), ByteList{});
  EXPECT_EQ(VendorIDPayload::HexPairs("13  88"), (ByteList{0x13}));
  EXPECT_EQ(VendorIDPayload::HexPairs("zz 00"), ByteList{});
  EXPECT_EQ(VendorIDPayload::HexPairs(""), ByteList{});
}

TEST(VendorIDTest, BadInput) {
  // Missing labels: nothing is taken from the next block.
  auto missing = DebugLogReader::FromText("debugVendorIDPayload:\n\tNextPld: 0d\n" + Nonce());
  auto vid = ReadBlock(missing);
  ASSERT_NE(vid, nullptr);
  EXPECT_EQ(vid->Fields().nextPld, 0x0du);
  EXPECT_EQ(vid->Fields().reserved, 0xFFFFFFFFu);
  EXPECT_EQ(vid->VendorText(), "");
  EXPECT_EQ(missing.ReadToken(), "debugNoncePayload:");

  // A fields block without its labels and a label cut by the next block.
  auto cutLabel = DebugLogReader::FromText("debugVendorIDPayload:\n" + kHead +
                                           "debugVendorIDFields:\n\tSome words here\n" + Nonce());
  auto cut = ReadBlock(cutLabel);
  EXPECT_EQ(cut->VendorText(), kNoFields);
  EXPECT_EQ(cutLabel.ReadToken(), "debugNoncePayload:");
  auto nokiaCut = DebugLogReader::FromText("debugVendorIDPayload:\n" + kHead +
                                           "debugVendorIDNokiaFields:\n\tSome words here\n" + Nonce());
  auto nokia = ReadBlock(nokiaCut);
  EXPECT_EQ(nokia->VendorText(), "Some words here\r\n");
  EXPECT_EQ(nokiaCut.ReadToken(), "debugNoncePayload:");
  ReadBack(*nokia);

  // Markers end the free lines.
  for (const char* marker : {"##### BEGIN PACKET DEBUG #####", "****", "debugIsakmpHdr:"}) {
    auto reader = DebugLogReader::FromText("debugVendorIDPayload:\n" + kHead + "debugVendorIDNokiaFields:\n\tA: 1\n" +
                                           marker + "\n\tB: 2\n");
    EXPECT_EQ(ReadBlock(reader)->VendorText(), "A:\t\t\t1\r\n") << marker;
    EXPECT_EQ(reader.ReadToken(), std::string(marker).substr(0, std::string(marker).find(' '))) << marker;
  }

  // The end of the input anywhere, and a restart inside the free lines: reading ends.
  for (const std::string& text :
       {std::string("debugVendorIDPayload:"), "debugVendorIDPayload:\n" + kHead + "\tVendor:",
        "debugVendorIDPayload:\n" + kHead + "\tVID", "debugVendorIDPayload:\n" + kHead + "debugVendorIDFields:",
        "debugVendorIDPayload:\n" + kHead + "debugVendorIDFields:\n\tVIDData: 01\n\tProduct: 01\n\tVersion:",
        "debugVendorIDPayload:\n" + kHead + "debugVendorIDNokiaFields:\n\tBuild"}) {
    auto reader = DebugLogReader::FromText(text);
    ASSERT_NE(ReadBlock(reader), nullptr) << text;
    EXPECT_TRUE(reader.AtEnd()) << text;
  }
  auto atEndLabel = ReadBlock("debugVendorIDPayload:\n" + kHead + "debugVendorIDNokiaFields:\n\tBuild");
  EXPECT_EQ(atEndLabel->VendorText(), "Build\r\n");
  auto restart = DebugLogReader::FromText("debugVendorIDPayload:\n" + kHead +
                                          "debugVendorIDNokiaFields:\n\tA: 1\nIKE daemon started\n\tB: 2\n");
  auto restarted = ReadBlock(restart);
  EXPECT_TRUE(restart.RestartSeen());
  EXPECT_TRUE(restarted->VendorText().starts_with("A:\t\t\t1\r\n"));

  // A fields block cut by the next packet: the packet scan finds that packet.
  const std::string header =
      "debugIsakmpHdr: (Process)\n\tInitCookie: 01 02 03 04 05 06 07 08 \n\tRspCookie: 00 00 00 00 00 00 00 00 \n"
      "\tNextPld: 01\n\tMjVer: 01\n\tMnVer: 00\n\tExcType: 02\n\tResFlag: 00\n\tCommitFlag: 00\n\tEncFlag: 00\n"
      "\tMsgID: 00 00 00 00 \n\tLength: 00 00 00 1c (28)\n";
  auto packet = [&](const std::string& keyword, const std::string& payloads) {
    return header + "\n" + kPlus + "\n" + keyword + " peer: 0a000001 ~~ Mon Nov 13 12:34:56 2006\n" + kPlus + "\n" +
           payloads;
  };
  for (const std::string& tail : {std::string("\tVIDData: 01\n\tProduct:\n"), std::string("\tVIDData: 01\n\tA free\n"),
                                  std::string("\tVIDData: 01\n\tProduct: 01\n\tVersion: 00 00 13 88\n\tA:\n")}) {
    auto log = DebugLogReader::FromText(
        packet("process_packet1phase1:", "debugVendorIDPayload:\n" + kHead + "debugVendorIDFields:\n" + tail) +
        packet("process_packet2phase1:", Nonce()));
    auto first = std::make_unique<Main12Mess>("MM packet 1", nullptr);
    first->Load(std::make_unique<Header>(log), log);
    ASSERT_EQ(first->ChildCount(), 2u) << tail;
    EXPECT_EQ(first->Child(1)->Caption(), "Vendor ID");
    log.ClearAbandon();  // as the loader does after each packet
    auto second = std::make_unique<Main12Mess>("MM packet 2", nullptr);
    second->Load(std::make_unique<Header>(log), log);
    ASSERT_NE(second->GetHeader(), nullptr);
    EXPECT_EQ(second->GetHeader()->PacketKind(), 0x0Au) << tail;
    EXPECT_EQ(second->ChildCount(), 2u) << tail;
  }
}

}  // namespace
}  // namespace quillon
