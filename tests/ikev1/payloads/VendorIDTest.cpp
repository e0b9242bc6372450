#include "ikev1/payloads/VendorIDPayload.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "PayloadBlocks.h"

namespace quillon {
namespace {

using namespace payload_blocks;

const std::string kVid = "debugVendorIDPayload:\n" + Head("00 18 (24)");
const std::string kDetailHead =
    "Vendor ID Payload\r\n\r\nNext Payload:\tNONE\r\nReserved:\t0\r\nLength:\t\t00 18  (24)";

std::unique_ptr<VendorIDPayload> ReadVid(DebugLogReader& reader) { return ReadBlock<VendorIDPayload>(reader); }
std::unique_ptr<VendorIDPayload> ReadVid(const std::string& text) { return ReadBlock<VendorIDPayload>(text); }

// After its dump a vendor ID may carry a vendor line, the gateway's fields block (product and
// version codes) or a block of free "label: value" lines; each shows in the vendor text.
TEST(VendorIDTest, VendorTextsReadBack) {
  struct Case {
    std::string body;
    std::string vendorText;
  };
  const Case cases[] = {
      // A missing version line is an unknown version; a fields block without labels knows nothing.
      {"debugVendorIDFields:\n\tVIDData: 01\n\tProduct: 07\n",
       "VIDData:\r\n01 \r\nProduct:\t\tUnknown product\r\nVersion:\t\tUnknown product version\r\n"},
      {"debugVendorIDFields:\n\tSome words here\n",
       "VIDData:\r\n\r\nProduct:\t\tUnknown product\r\nVersion:\t\tUnknown product version\r\n"},
      {"\tVID Data: 01 02\n", ""},
      {"\tVID Data: 01 00 00 00 00\n", ""},  // data whose last four bytes are zero is still written
      // Free lines: the label padded with tabs to 16 columns (7 characters: three tabs, 8 and 15:
      // two, 16: one); the value from its first word on; without a colon the label ends after
      // eight tokens; a label may run over a line end and is written back on one line.
      {"debugVendorIDNokiaFields:\n\tModels: 7\n\tModelss: 8\n\tHardware model: 15\n\tHardware models: 16\n"
       "\tFeature set name:   full  set\n\ta b c d e f g h i j\n\tEmpty:\n",
       "Models:\t\t\t7\r\nModelss:\t\t8\r\nHardware model:\t\t15\r\nHardware models:\t16\r\n"
       "Feature set name:\tfull  set\r\na b c d e f g h\t\ti j\r\nEmpty:\t\t\t\r\n"},
      {"debugVendorIDNokiaFields:\n\tSerial\n\tno: 77\n", "Serial no:\t\t77\r\n"},
      {"debugVendorIDNokiaFields:\n\tSome words here\n", "Some words here\r\n"},
  };
  for (const Case& c : cases) {
    auto vid = ReadAndReadBack<VendorIDPayload>(kVid + c.body);
    ASSERT_NE(vid, nullptr);
    EXPECT_EQ(vid->Caption(), "Vendor ID");
    EXPECT_EQ(vid->VendorText(), c.vendorText);
    EXPECT_TRUE(vid->DetailText().ends_with(c.vendorText));
  }
}

TEST(VendorIDTest, DetailAndWrittenLayouts) {
  auto vid = ReadVid(kVid + "\tVID Data: 4a 13 1c 81\ndebugVendorIDFields:\n\tVIDData: 4a 13 1c 81\n"
                            "\tProduct: 00 00 00 01\n\tVersion: 00 00 13 88\n\tBuild: 1234\n" + Nonce());
  EXPECT_TRUE(vid->HasFields());
  EXPECT_EQ(vid->DetailText(), kDetailHead + "\r\n\r\nVID Data:\r\n4a 13 1c 81 \r\n" + std::string(vid->VendorText()));
  // The fields block goes back as it was read, so that its codes read back.
  EXPECT_EQ(Written(*vid), kVid + "\tVID Data: 4a 13 1c 81 \ndebugVendorIDFields:\n\tVIDData: 4a 13 1c 81 \n"
                                  "\tProduct: 00 00 00 01 \n\tVersion: 00 00 13 88\n\tBuild: 1234\n");

  auto natt = ReadVid(kVid + "\tVendor: draft-ietf-ipsec-nat-t-ike-02 (NAT-T)\n\tVID Data: 90 cb 80 91\n");
  EXPECT_EQ(natt->VendorName(), "draft-ietf-ipsec-nat-t-ike-02 (NAT-T)");
  EXPECT_EQ(Written(*natt), kVid + "\tVendor: draft-ietf-ipsec-nat-t-ike-02 (NAT-T)\n\tVID Data: 90 cb 80 91 \n");

  // Neither a vendor line nor a fields block: the detail text ends after the dump, whichever
  // direction the packet went.
  auto plain = ReadVid(kVid + "\tVID Data: 01 02\n");
  EXPECT_EQ(plain->DetailText(), kDetailHead + "\r\n\r\nVID Data:\r\n01 02 \r\n");
  EXPECT_EQ(ReadBlock<VendorIDPayload>(kVid + "\tVID Data: 01 02\n", true)->DetailText(), plain->DetailText());
}

TEST(VendorIDTest, UnknownCodesAndHexPairs) {
  // Single codes, not ranges: the code after one named is unknown again.
  for (const std::uint32_t code : {0u, 4u, 5007u, 0xFFFFFFFFu})
    EXPECT_EQ(VendorIDPayload::VersionName(code), "Unknown product version") << code;
  EXPECT_EQ(VendorIDPayload::ProductName(0xFFFFFFFFu), "Unknown product");

  // Two-digit hex tokens separated by single blanks, up to the first that is not one.
  struct Hex { const char* text; ByteList bytes; };
  for (const Hex& h : {Hex{"0A bC", {0x0a, 0xbc}}, Hex{"13 88 ", {0x13, 0x88}}, Hex{"0a 1", {0x0a}},
                       Hex{"13  88", {0x13}}, Hex{"0a1b", {}}, Hex{"zz 00", {}}, Hex{"", {}}})
    EXPECT_EQ(VendorIDPayload::HexPairs(h.text), h.bytes) << h.text;
}

TEST(VendorIDTest, BadInputEndsInsideTheBlock) {
  // Missing labels: nothing is taken from the next block.
  EXPECT_EQ(ReadBeforeNonce<VendorIDPayload>("debugVendorIDPayload:\n\tNextPld: 0d\n")->Fields().reserved, kUnread);

  // Markers end the free lines.
  for (const std::string marker : {"##### BEGIN PACKET DEBUG #####", "****", "debugIsakmpHdr:"}) {
    auto reader = DebugLogReader::FromText(kVid + "debugVendorIDNokiaFields:\n\tA: 1\n" + marker + "\n\tB: 2\n");
    EXPECT_EQ(ReadVid(reader)->VendorText(), "A:\t\t\t1\r\n") << marker;
    EXPECT_EQ(reader.ReadToken(), marker.substr(0, marker.find(' '))) << marker;
  }

  // The end of the input, and a restart inside the free lines: reading ends.
  EXPECT_EQ(ReadVid(kVid + "debugVendorIDNokiaFields:\n\tBuild")->VendorText(), "Build\r\n");
  auto restart = DebugLogReader::FromText(kVid + "debugVendorIDNokiaFields:\n\tA: 1\nIKE daemon started\n\tB: 2\n");
  EXPECT_TRUE(ReadVid(restart)->VendorText().starts_with("A:\t\t\t1\r\n"));
  EXPECT_TRUE(restart.RestartSeen());
}

}  // namespace
}  // namespace quillon
