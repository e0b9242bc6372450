#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "PayloadBlocks.h"
#include "ikev1/payloads/CertPayloads.h"
#include "ikev1/payloads/IDPayload.h"
#include "ikev1/payloads/IsakmpValue.h"
#include "ikev1/payloads/NatOAPayload.h"

namespace quillon {
namespace {

using namespace payload_blocks;

const std::string kHead = Head();
const std::string kDetailHead = "\r\n\r\nNext Payload:\tNONE\r\nReserved:\t0\r\nLength:\t\t00 0c  (12)";
const std::string kNoService = "\tReserved2: 00 00 00\n";

// The daemon logs either three reserved octets or the protocol and port between type and data.
std::string IdBlock(const std::string& type, const std::string& data, const std::string& middle = kNoService) {
  return "debugIDPayload:\n" + kHead + "\tType: " + type + "\n" + middle + "\tID: " + data + "\n";
}

std::unique_ptr<IDPayload> ReadId(const std::string& text) { return ReadBlock<IDPayload>(text + Nonce()); }

// ---- identification ------------------------------------------------------------------------------

// An identity in the form the packet lists show, and whether a four-byte IPv4 identity from
// 0.0.0.1 to 0.0.254.254 names a peer by its index rather than by an address.
TEST(IDPayloadTest, IdentityTextsAndPeerIndex) {
  struct Case {
    const char* type;
    const char* data;
    std::string middle;
    const char* identity;
    std::uint32_t index = 0;  // 0: no index
  };
  const Case cases[] = {
      {"01", "00 00 01 02", kNoService, "0.0.1.2", 258},
      {"01", "00 00 fe fe", kNoService, "0.0.254.254", 0xfefe},
      {"01", "00 00 fe ff", kNoService, "0.0.254.255"},
      {"01", "00 00 00 00", kNoService, "0.0.0.0"},
      {"01", "0a 00 00 01", kNoService, "10.0.0.1"},
      {"01", "00 01 02", kNoService, "ID_IPV4_ADDR 000102"},  // three bytes: no address at all
      // The protocol and port come from the service line or from the reserved octets.
      {"04", "0a 00 00 00 ff ff ff 00", "\tService type: 11 (17)  Service port: 01 f4 (1 244 )\n",
       "10.0.0.0/24 (UDP:500)"},
      {"01", "0a 00 00 01", "\tService type: 06  Service port: 00 00\n", "10.0.0.1 (TCP)"},
      {"01", "0a 00 00 01", "\tReserved2: 00 06 a5\n", "10.0.0.1 (any:1701)"},
      {"07", "0a 00 00 01 0a 00 00 09", "\tReserved2: 2f 06 a5\n", "10.0.0.1-10.0.0.9 (47:1701)"},
      {"04", "0a 00 00 00 ff 00 ff 00", kNoService, "10.0.0.0/255.0.255.0"},
      {"04", "0a 00 00 00 00 00 00 00", kNoService, "10.0.0.0/0"},
      {"04", "0a 00 00 00 ff ff ff ff", kNoService, "10.0.0.0/32"},
      {"05", "20 01 0d b8 00 00 00 00 00 00 00 00 00 00 00 01", kNoService, "2001:db8:0:0:0:0:0:1"},
      {"06", "20 01 0d b8 00 00 00 00 00 00 00 00 00 00 00 00 ff ff ff ff 00 00 00 00 00 00 00 00 00 00 00 00",
       kNoService, "2001:db8:0:0:0:0:0:0/ffff:ffff:0:0:0:0:0:0"},
      // Names show their characters; a key ID only when all of them print.
      {"02", "67 77 2e 65 78", kNoService, "gw.ex"},
      {"03", "75 40 67 0a", kNoService, "u@g."},
      {"0b", "6b 31", kNoService, "k1"},
      {"0b", "6b 00", kNoService, "ID_KEY_ID 6b00"},
      {"0b", "6b 7f", kNoService, "ID_KEY_ID 6b7f"},
      {"0c", "", kNoService, "Unknown ID type (12)"},
  };
  for (const Case& c : cases) {
    auto id = ReadAndReadBack<IDPayload>(IdBlock(c.type, c.data, c.middle));
    ASSERT_NE(id, nullptr);
    EXPECT_EQ(id->IdentityText(), c.identity) << c.data;
    EXPECT_EQ(id->HasIdAddress(), c.index != 0) << c.data;
    EXPECT_EQ(id->IdAddress(), c.index) << c.data;
  }
}

TEST(IDPayloadTest, DetailAndWrittenLayouts) {
  auto index = ReadId(IdBlock("01", "00 00 01 02"));
  EXPECT_EQ(index->Caption(), "ID");
  EXPECT_EQ(index->DetailText(), "ID Payload" + kDetailHead +
                                     "\r\nID type:\tID_IPV4_ADDR\r\nReserved2:\t00 00 00  (0"
                                     ")\r\nID Data:\t00 00 01 02   (0.0.1.2)\r\n");
  // The daemon's own odd layout: the reserved octets on the type's line, the data after "ID:".
  EXPECT_EQ(Written(*index),
            "debugIDPayload:\n" + kHead + "\tID Type: 01\nReserved2: 00 00 00  (0 0 0 )\tID:\n00 00 01 02 \n");

  auto service =
      ReadId(IdBlock("04", "0a 00 00 00 ff ff ff 00", "\tService type: 11 (17)  Service port: 01 f4 (1 244 )\n"));
  EXPECT_EQ(service->DetailText(), "ID Payload" + kDetailHead +
                                       "\r\nID type:\tID_IPV4_ADDR_SUBNET\r\nService type:\tUDP (11)"
                                       "\r\nService port:\t01 f4  (500)"
                                       "\r\nID Data:\t0a 00 00 00 ff ff ff 00   (10.0.0.0  255.255.255.0)\r\n");
  EXPECT_EQ(Written(*service), "debugIDPayload:\n" + kHead +
                                   "\tID Type: 04\n\tService type: 11 (17)  Service port: 01 f4  (1 244 )\n"
                                   "\tID:\n0a 00 00 00 ff ff ff 00 \n");

  // The other service names; a port of 0 is not specified.
  struct Case { const char* type; const char* text; };
  for (const Case& c : {Case{"00", "Not specified (0)"}, Case{"2f", "47 (2f)"}}) {
    auto other = ReadAndReadBack<IDPayload>(
        IdBlock("01", "0a 00 00 01", std::string("\tService type: ") + c.type + "  Service port: 00 00\n"));
    EXPECT_NE(other->DetailText().find(std::string("\r\nService type:\t") + c.text +
                                       "\r\nService port:\tNot specified (0)\r\nID Data:\t"),
              std::string::npos)
        << other->DetailText();
  }
}

TEST(IDPayloadTest, StringFormAndTrailingAttribute) {
  // A name type always shows its characters.
  EXPECT_TRUE(ReadId(IdBlock("02", "67 77 2e 65 78"))
                  ->DetailText()
                  .ends_with("\r\nID type:\tID_FQDN\r\nReserved2:\t00 00 00  (0)\r\nID Data:\r\n67 77 2e 65 78 \r\n"
                             "ID as string:\r\ngw.ex\r\n"));

  // A key ID shows them only when the daemon logged its second rendering.
  EXPECT_EQ(ReadId(IdBlock("0b", "6b 31"))->DetailText().find("ID as string:"), std::string::npos);
  auto keyString = ReadAndReadBack<IDPayload>(IdBlock("0b", "6b 31") + "\tID string: k1\n");
  EXPECT_TRUE(keyString->HasStringForm());
  EXPECT_TRUE(keyString->DetailText().ends_with("\r\nID Data:\r\n6b 31 \r\nID as string:\r\nk1\r\n"));

  // The data attribute after the identification: shown at the end and written back as its block.
  auto withAttribute = ReadAndReadBack<IDPayload>(IdBlock("01", "0a 00 00 01") + "\tID string: 10.0.0.1\n" +
                                                  Basic("80 01", "00 05"));
  ASSERT_NE(withAttribute->Attribute(), nullptr);
  EXPECT_TRUE(withAttribute->HasStringForm());
  EXPECT_EQ(withAttribute->ChildCount(), 0u);  // the attribute is not a child
  EXPECT_EQ(withAttribute->Attribute()->Val(), (ByteList{0x00, 0x05}));
  EXPECT_TRUE(withAttribute->DetailText().ends_with("(10.0.0.1)\r\nID as string:\r\n\n  \x01\r\n\r\n"
                                                    "Encryption Algorithm:\t3DES-CBC"))
      << withAttribute->DetailText();
  EXPECT_TRUE(Written(*withAttribute)
                  .ends_with("\tID:\n0a 00 00 01 \n\tID string: -\n"
                             "debugIsakmpValue:\n\tAttribute: 80 01 \n\tFormat: 1\n\tVal: 00 05 \n"));

  // The variable-length form of the attribute.
  auto variable =
      ReadAndReadBack<IDPayload>(IdBlock("01", "0a 00 00 01") + Variable("00 0c", "00 02", "70 80", "28800"));
  ASSERT_NE(variable->Attribute(), nullptr);
  EXPECT_EQ(variable->Attribute()->Val(), (ByteList{0x70, 0x80}));
  EXPECT_FALSE(variable->HasStringForm());
}

TEST(IDPayloadTest, QuickModePacketNamesItsIdentities) {
  LoadedPackets packets(
      Received("process_packet1phase2:",
               Nonce() + IdBlock("04", "0a 00 00 00 ff ff ff 00") +
                   IdBlock("01", "00 00 01 02", "\tService type: 11 (17)  Service port: 01 f4 (1 244 )\n") +
                   Nonce("02")));
  auto message = packets.Next<PhaTwo12Mess>();
  ASSERT_NE(message, nullptr);
  ASSERT_EQ(message->ChildCount(), 5u);
  EXPECT_EQ(message->Caption(), "QM packet 1 (12:34:56) - 10.0.0.0/24 - 0.0.1.2 (UDP:500)");
  EXPECT_EQ(message->IdAddress(), 258u);
}

TEST(IDPayloadTest, MissingLabelsAndOptionalParts) {
  // Without its labels the block takes nothing from the next block.
  auto id = ReadBeforeNonce<IDPayload>("debugIDPayload:\n\tNextPld: 00\n\tLength: 00 0c\n");
  ASSERT_NE(id, nullptr);
  EXPECT_EQ(id->Fields().reserved, kUnread);
  EXPECT_EQ(id->IdType(), kUnread);
  EXPECT_EQ(id->IdentityText(), "Unknown ID type (4294967295)");
  EXPECT_NE(id->DetailText().find("\r\nID type:\tUnknown ID type (4294967295)\r\n"), std::string::npos);

  // The second rendering and the attribute are optional: the next block stays for the chain.
  EXPECT_FALSE(ReadBeforeNonce<IDPayload>(IdBlock("01", "0a 00 00 01"))->HasStringForm());
  EXPECT_TRUE(ReadBeforeNonce<IDPayload>(IdBlock("01", "0a 00 00 01") + "\tID\n")->HasStringForm());
}

// ---- certificates --------------------------------------------------------------------------------

const std::string kCertDebug =
    "##### BEGIN CERTIFICATE DEBUG #####\nSubject: CN=gw1, O=LEGEND\n\n   Issuer: CN=ca\n"
    "##### END CERTIFICATE DEBUG #####\n";
const std::string kCertDebugText = "\r\n\r\nSubject: CN=gw1, O=LEGEND\r\nIssuer: CN=ca\r\n";

std::string CertBlock(const std::string& data, const std::string& debug) {
  return "debugCertPayload:\n" + kHead + "\tType: 04\n\tCertData:\n" + data + "\n" + debug;
}

std::string CertReqBlock(const std::string& type, const std::string& rest) {
  return "debugCertreqPayload:\n" + kHead + "\tType: " + type + "\n" + rest;
}

TEST(CertPayloadTest, CertificateWithItsDebugText) {
  auto cert = ReadAndReadBack<CertPayload>(CertBlock("30 82 01 02", kCertDebug));
  ASSERT_NE(cert, nullptr);
  EXPECT_EQ(cert->Caption(), "Cert X.509 Certificate - Signature");
  EXPECT_EQ(cert->Data(), (ByteList{0x30, 0x82, 0x01, 0x02}));
  // "LEGEND" holds "END" but is no END line; empty lines and leading blanks are not kept.
  EXPECT_EQ(cert->DebugText(), kCertDebugText);
  EXPECT_EQ(cert->DetailText(), "Certificate Payload" + kDetailHead +
                                    "\r\nCertificate Type:\r\n\t\tX.509 Certificate - Signature" + kCertDebugText +
                                    "\r\nCert Data:\r\n30 82 01 02 \r\n");
  EXPECT_EQ(Written(*cert), "debugCertPayload:\n" + kHead +
                                "\tCert Type: 04\n\tCertData:\n30 82 01 02 \n"
                                "##### BEGIN CERTIFICATE DEBUG #####\r\nSubject: CN=gw1, O=LEGEND\r\n"
                                "Issuer: CN=ca\r\n##### END CERTIFICATE DEBUG #####\n");

  // A "Length" line in front of the dump is shown before it and written back.
  auto noted = ReadAndReadBack<CertPayload>(CertBlock("Length 300\n30 82", kCertDebug));
  EXPECT_EQ(noted->LengthNote(), "Length 300\r\n\r\n");
  EXPECT_TRUE(noted->DetailText().ends_with("\r\nCert Data:\r\nLength 300\r\n\r\n30 82 \r\n"));

  // Without a debug block and without data; data whose value is 0 is still written.
  auto bare = ReadAndReadBack<CertPayload>(CertBlock("", ""));
  EXPECT_TRUE(bare->DetailText().ends_with("Signature\r\nCert Data:\r\n\r\n"));
  EXPECT_TRUE(Written(*bare).ends_with("\tCert Type: 04\n"));
  ReadAndReadBack<CertPayload>(CertBlock("01 00 00 00 00", ""));
}

TEST(CertPayloadTest, CertificateFollowedDirectlyByAnotherPayload) {
  // Neither block is followed by "#####": the next payload's keyword is left for the chain.
  LoadedPackets packets(
      Received("process_packet5phase1:", CertBlock("01 02", "") + CertReqBlock("04", "\tCertReqData: 03\n") +
                                             Nonce("04") + CertBlock("05", kCertDebug) + Nonce("06")));
  auto message = packets.Next<Main56Mess>();
  ASSERT_NE(message, nullptr);
  ASSERT_EQ(message->ChildCount(), 6u);
  EXPECT_EQ(dynamic_cast<const CertPayload&>(*message->Child(1)).Data(), (ByteList{1, 2}));
  EXPECT_EQ(dynamic_cast<const CertReqPayload&>(*message->Child(2)).Data(), (ByteList{3}));
  EXPECT_EQ(message->Child(3)->Caption(), "Nonce");
  EXPECT_EQ(dynamic_cast<const CertPayload&>(*message->Child(4)).DebugText(), kCertDebugText);
  EXPECT_EQ(message->Child(5)->Caption(), "Nonce");
}

TEST(CertPayloadTest, CertificateRequest) {
  auto request = ReadAndReadBack<CertReqPayload>(
      CertReqBlock("04", "\tCertReqData: 30 0a\n##### BEGIN CERTIFICATE REQUEST DEBUG #####\nCA: CN=root\n"
                         "##### END CERTIFICATE REQUEST DEBUG #####\n"));
  ASSERT_NE(request, nullptr);
  EXPECT_EQ(request->Caption(), "CertReq Request for X.509 Certificate - Signature");
  EXPECT_EQ(request->DetailText(), "Certificate Request Payload" + kDetailHead +
                                       "\r\nRequest for Certificate Type:\r\n\t\tX.509 Certificate - Signature"
                                       "\r\nCertReqData:\r\n\r\n\r\nCA: CN=root\r\n\r\n30 0a ");
  EXPECT_EQ(Written(*request), "debugCertreqPayload:\n" + kHead +
                                   "\tCert Req Type: 04\n\tCertReqData: 30 0a \n"
                                   "##### BEGIN CERTIFICATE REQUEST DEBUG #####\r\nCA: CN=root\r\n"
                                   "##### END CERTIFICATE REQUEST DEBUG #####\n");

  // Without "CertReqData:" only the encoding line follows the length.
  auto noData = ReadAndReadBack<CertReqPayload>(CertReqBlock("01", ""));
  EXPECT_FALSE(noData->HasData());
  EXPECT_EQ(noData->DetailText(), "Certificate Request Payload" + kDetailHead +
                                      "\r\nRequest for Certificate Type:\r\n\t\tPKCS #7 wrapped X.509 certificate");
  EXPECT_EQ(Written(*noData), "debugCertreqPayload:\n" + kHead + "\tCert Req Type: 01\n");

  // A data label without data still shows its section and reads back with it.
  EXPECT_TRUE(ReadAndReadBack<CertReqPayload>(CertReqBlock("04", "\tCertReqData:\n"))->HasData());

  EXPECT_EQ(ReadBlock<CertReqPayload>(CertReqBlock("0c", ""))->Caption(),
            "CertReq Request for Unknown certificate encoding (12)");
}

TEST(CertPayloadTest, CutDebugBlocks) {
  // The end of the input inside the debug text keeps the lines read.
  auto atEnd = DebugLogReader::FromText(CertBlock("01", "##### BEGIN CERTIFICATE DEBUG #####\nSubject: x\nIssuer: y"));
  EXPECT_EQ(ReadBlock<CertPayload>(atEnd)->DebugText(), "\r\n\r\nSubject: x\r\nIssuer: y\r\n");
  EXPECT_TRUE(atEnd.AtEnd());

  // A BEGIN line or a debug text cut by the next block, or by a restart.
  EXPECT_EQ(ReadBeforeNonce<CertPayload>(CertBlock("01", "##### BEGIN\n"))->DebugText(), "");
  const std::string cutBlock = CertBlock("01", "##### BEGIN CERTIFICATE DEBUG #####\nSubject: x\n");
  EXPECT_EQ(ReadBeforeNonce<CertPayload>(cutBlock)->DebugText(), "\r\n\r\nSubject: x\r\n");
  auto restart = DebugLogReader::FromText(cutBlock + "IKE daemon started\nIssuer: y\n");
  EXPECT_EQ(ReadBlock<CertPayload>(restart)->DebugText(), "\r\n\r\nSubject: x\r\n");
  EXPECT_TRUE(restart.RestartSeen());

  // A debug text cut by the next packet, in either layout: the packet scan finds that packet.
  for (const std::string& next :
       {Received("process_packet6phase1:", Nonce("02")), Created("create_packet6phase1:", Nonce("02"))}) {
    LoadedPackets log(Received("process_packet5phase1:", cutBlock) + next);
    auto first = CutPacketThenWholeOne<Main56Mess>(log, 0x0E);
    ASSERT_NE(first, nullptr);
    ASSERT_EQ(first->ChildCount(), 2u);
    EXPECT_EQ(dynamic_cast<const CertPayload&>(*first->Child(1)).DebugText(), "\r\n\r\nSubject: x\r\n");
  }
}

// ---- NAT original address ------------------------------------------------------------------------

TEST(NatOAPayloadTest, ReadShowWriteAndMissingAddress) {
  auto oa = ReadAndReadBack<NatOAPayload>("debugNatOAPayload:\n" + kHead + "\tType: 01\n\tAddress: 192.168.1.10\n");
  EXPECT_EQ(oa->Caption(), "Original Address");
  EXPECT_EQ(oa->Address(), "192.168.1.10");
  // The identification payload's title, and a parenthesis after the type's name.
  EXPECT_EQ(oa->DetailText(),
            "ID Payload" + kDetailHead + "\r\nID type:\tID_IPV4_ADDR)\r\nOriginal IP:\t192.168.1.10\r\n");
  EXPECT_EQ(Written(*oa), "debugNatOAPayload:\n" + kHead + "\tID Type: 01\n\tAddress: 192.168.1.10\n");

  // An empty address does not take the next line; a missing one is empty.
  for (const std::string& rest : {std::string("\tType: 01\n\tAddress:\n"), std::string()}) {
    auto empty = ReadBeforeNonce<NatOAPayload>("debugNatOAPayload:\n" + kHead + rest);
    EXPECT_EQ(empty->Address(), "");
    EXPECT_EQ(empty->IdType(), rest.empty() ? kUnread : 1u);
  }
  auto atEnd = DebugLogReader::FromText("debugNatOAPayload:\n" + kHead + "\tType: 01\n\tAddress:");
  EXPECT_EQ(ReadBlock<NatOAPayload>(atEnd)->Address(), "");
  EXPECT_TRUE(atEnd.AtEnd());
}

}  // namespace
}  // namespace quillon
