#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "ikev1/log/DebugLogReader.h"
#include "ikev1/log/Header.h"
#include "ikev1/log/Message.h"
#include "ikev1/log/PacketDebugRecord.h"
#include "ikev1/log/PacketDebugTable.h"
#include "ikev1/payloads/CertPayloads.h"
#include "ikev1/payloads/IDPayload.h"
#include "ikev1/payloads/NatOAPayload.h"
#include "ikev1/payloads/PayloadFactory.h"

namespace quillon {
namespace {

constexpr std::uint32_t kUnread = 0xFFFFFFFFu;
const std::string kPlus(70, '+');

// ---- reading one block as the payload chain does ---------------------------------------------------

template <class P>
std::unique_ptr<P> ReadBlock(DebugLogReader& reader) {
  const int code = DebugLogReader::BlockKeywordCode(reader.ReadToken());
  std::unique_ptr<QLFolder> node = CreatePayload(code, reader, PayloadContext{false, 64, nullptr});
  auto* payload = dynamic_cast<P*>(node.get());
  if (payload == nullptr) return nullptr;
  node.release();
  return std::unique_ptr<P>(payload);
}

template <class P>
std::unique_ptr<P> ReadBlock(const std::string& text) {
  auto reader = DebugLogReader::FromText(text);
  return ReadBlock<P>(reader);
}

// The saving walk: the node's block, its children's, then its trailing block.
std::string Written(const QLFolder& node) {
  std::string out;
  node.WriteDebug(out);
  for (const auto& child : node.Children()) out += Written(*child);
  node.WriteDebugLength(out);
  return out;
}

// Writes the payload, reads the text back and checks that the copy shows and writes the same.
template <class P>
std::unique_ptr<P> ReadBack(const P& original) {
  const std::string written = Written(original);
  auto copy = ReadBlock<P>(written + "debugNoncePayload:");
  EXPECT_NE(copy, nullptr) << written;
  if (copy == nullptr) return nullptr;
  EXPECT_EQ(copy->Caption(), original.Caption());
  EXPECT_EQ(copy->DetailText(), original.DetailText()) << written;
  EXPECT_EQ(copy->ChildCount(), 0u);
  EXPECT_EQ(Written(*copy), written);
  std::string length;
  copy->WriteDebugLength(length);
  EXPECT_EQ(length, "");
  return copy;
}

const char kHead[] = "\tNextPld: 00\n\tReserved: 00\n\tLength: 00 0c (12)\n";
const char kDetailHead[] = "\r\n\r\nNext Payload:\tNONE\r\nReserved:\t0\r\nLength:\t\t00 0c  (12)";

std::string IdBlock(const std::string& type, const std::string& middle, const std::string& data) {
  return "debugIDPayload:\n" + std::string(kHead) + "\tType: " + type + "\n" + middle + "\tID: " + data + "\n";
}

// ---- the message chain ---------------------------------------------------------------------------

std::string HeaderBlock() {
  return "debugIsakmpHdr: (Process)\n\tInitCookie: 01 02 03 04 05 06 07 08 \n\tRspCookie: 11 12 13 14 15 16 17 18 \n"
         "\tNextPld: 05\n\tMjVer: 01\n\tMnVer: 00\n\tExcType: 02\n\tResFlag: 00\n\tCommitFlag: 00\n\tEncFlag: 00\n"
         "\tMsgID: 00 00 00 00 \n\tLength: 00 00 00 1c (28)\n";
}

std::string Received(const std::string& keyword, const std::string& payloads) {
  return HeaderBlock() + "\n" + kPlus + "\n" + keyword + " peer: 0a000001 ~~ Mon Nov 13 12:34:56 2006\n" + kPlus +
         "\n" + payloads;
}

std::string Nonce(const std::string& data) {
  return "debugNoncePayload:\n\tNextPld: 00\n\tReserved: 00\n\tLength: 00 08 (8)\n\tNonceData: " + data + "\n";
}

template <class M>
std::unique_ptr<M> LoadNext(DebugLogReader& reader, const std::string& name = "packet") {
  PacketDebugTable table;
  while (!reader.AtEnd()) {
    auto header = std::make_unique<Header>(reader);
    if (reader.IsAbandoned()) {
      reader.ClearAbandon();
      continue;
    }
    auto message = std::make_unique<M>(name, nullptr);
    message->Load(std::move(header), reader);
    return message;
  }
  return nullptr;
}

// ---- identification -----------------------------------------------------------------------------

TEST(IDPayloadTest, LowRangeIpv4IdentityIsAPeerIndex) {
  auto id = ReadBlock<IDPayload>(IdBlock("01", "\tReserved2: 00 00 00\n", "00 00 01 02"));
  ASSERT_NE(id, nullptr);
  EXPECT_EQ(id->Caption(), "ID");
  EXPECT_EQ(id->IdType(), 1u);
  EXPECT_TRUE(id->HasIdAddress());
  EXPECT_EQ(id->IdAddress(), 258u);
  EXPECT_EQ(id->IdentityText(), "0.0.1.2");
  EXPECT_EQ(id->DetailText(), "ID Payload" + std::string(kDetailHead) +
                                  "\r\nID type:\tID_IPV4_ADDR\r\nReserved2:\t00 00 00  (0"
                                  ")\r\nID Data:\t00 00 01 02   (0.0.1.2)\r\n");
  EXPECT_EQ(Written(*id), "debugIDPayload:\n" + std::string(kHead) +
                              "\tID Type: 01\nReserved2: 00 00 00  (0 0 0 )\tID:\n00 00 01 02 \n");
  auto copy = ReadBack(*id);
  EXPECT_EQ(copy->IdAddress(), 258u);
  EXPECT_EQ(copy->Reserved2(), (ByteList{0, 0, 0}));

  // A usual address is no index; neither is an address of another length or type.
  auto usual = ReadBlock<IDPayload>(IdBlock("01", "\tReserved2: 00 00 00\n", "0a 00 00 01"));
  EXPECT_FALSE(usual->HasIdAddress());
  EXPECT_EQ(usual->IdAddress(), 0u);
  EXPECT_EQ(usual->IdentityText(), "10.0.0.1");
  EXPECT_FALSE(ReadBlock<IDPayload>(IdBlock("01", "\tReserved2: 00 00 00\n", "00 01 02"))->HasIdAddress());
  EXPECT_FALSE(ReadBlock<IDPayload>(IdBlock("0b", "\tReserved2: 00 00 00\n", "00 00 01 02"))->HasIdAddress());
  EXPECT_FALSE(ReadBlock<IDPayload>(IdBlock("01", "\tReserved2: 00 00 00\n", "00 00 00 00"))->HasIdAddress());
  EXPECT_EQ(ReadBlock<IDPayload>(IdBlock("01", "\tReserved2: 00 00 00\n", "00 00 fe fe"))->IdAddress(), 0xfefeu);
  EXPECT_FALSE(ReadBlock<IDPayload>(IdBlock("01", "\tReserved2: 00 00 00\n", "00 00 fe ff"))->HasIdAddress());
}

TEST(IDPayloadTest, ServiceTypeAndPort) {
  auto id = ReadBlock<IDPayload>(
      IdBlock("04", "\tService type: 11 (17)  Service port: 01 f4 (1 244 )\n", "0a 00 00 00 ff ff ff 00"));
  ASSERT_NE(id, nullptr);
  EXPECT_TRUE(id->HasService());
  EXPECT_EQ(id->ServiceType(), 17u);
  EXPECT_EQ(id->ServicePort(), (ByteList{0x01, 0xf4}));
  EXPECT_EQ(id->DetailText(), "ID Payload" + std::string(kDetailHead) +
                                  "\r\nID type:\tID_IPV4_ADDR_SUBNET\r\nService type:\tUDP (11)"
                                  "\r\nService port:\t01 f4  (500)"
                                  "\r\nID Data:\t0a 00 00 00 ff ff ff 00   (10.0.0.0  255.255.255.0)\r\n");
  EXPECT_EQ(id->IdentityText(), "10.0.0.0/24 (UDP:500)");
  EXPECT_EQ(Written(*id), "debugIDPayload:\n" + std::string(kHead) +
                              "\tID Type: 04\n\tService type: 11 (17)  Service port: 01 f4  (1 244 )\n"
                              "\tID:\n0a 00 00 00 ff ff ff 00 \n");
  auto copy = ReadBack(*id);
  EXPECT_EQ(copy->ServicePort(), id->ServicePort());

  // The other service names; a port of 0 is not specified.
  struct Case { const char* type; const char* text; };
  for (const Case& c : {Case{"00", "Not specified (0)"}, Case{"01", "ICMP (1)"}, Case{"06", "TCP (6)"},
                        Case{"2f", "47 (2f)"}}) {
    auto other = ReadBlock<IDPayload>(
        IdBlock("01", std::string("\tService type: ") + c.type + "  Service port: 00 00\n", "0a 00 00 01"));
    EXPECT_NE(other->DetailText().find(std::string("\r\nService type:\t") + c.text +
                                       "\r\nService port:\tNot specified (0)\r\nID Data:\t"),
              std::string::npos)
        << other->DetailText();
    ReadBack(*other);
  }
  // The identity names a protocol and a port, from the service lines or the reserved octets.
  EXPECT_EQ(ReadBlock<IDPayload>(IdBlock("01", "\tService type: 06  Service port: 00 00\n", "0a 00 00 01"))
                ->IdentityText(),
            "10.0.0.1 (TCP)");
  EXPECT_EQ(ReadBlock<IDPayload>(IdBlock("01", "\tReserved2: 00 06 a5\n", "0a 00 00 01"))->IdentityText(),
            "10.0.0.1 (any:1701)");
  EXPECT_EQ(ReadBlock<IDPayload>(IdBlock("07", "\tReserved2: 2f 06 a5\n", "0a 00 00 01 0a 00 00 09"))
                ->IdentityText(),
            "10.0.0.1-10.0.0.9 (47:1701)");
  EXPECT_EQ(ReadBlock<IDPayload>(IdBlock("04", "\tReserved2: 00 00 00\n", "0a 00 00 00 ff 00 ff 00"))
                ->IdentityText(),
            "10.0.0.0/255.0.255.0");
}

TEST(IDPayloadTest, IdentityTexts) {
  struct Case { const char* type; const char* data; const char* text; };
  for (const Case& c :
       {Case{"05", "20 01 0d b8 00 00 00 00 00 00 00 00 00 00 00 01", "2001:db8:0:0:0:0:0:1"},
        Case{"06", "20 01 0d b8 00 00 00 00 00 00 00 00 00 00 00 00 ff ff ff ff 00 00 00 00 00 00 00 00 00 00 00 00",
             "2001:db8:0:0:0:0:0:0/ffff:ffff:0:0:0:0:0:0"},
        Case{"04", "0a 00 00 00 00 00 00 00", "10.0.0.0/0"}, Case{"04", "0a 00 00 00 ff ff ff ff", "10.0.0.0/32"},
        Case{"03", "75 40 67 0a", "u@g."}, Case{"0b", "6b 00", "ID_KEY_ID 6b00"},
        Case{"09", "30 82", "ID_DER_ASN1_DN 3082"}, Case{"01", "0a 00 00", "ID_IPV4_ADDR 0a0000"},
        Case{"0c", "", "Unknown ID type (12)"}}) {
    auto id = ReadBlock<IDPayload>(IdBlock(c.type, "\tReserved2: 00 00 00\n", c.data));
    ASSERT_NE(id, nullptr);
    EXPECT_EQ(id->IdentityText(), c.text) << c.data;
    ReadBack(*id);
  }
}

TEST(IDPayloadTest, StringFormAndTrailingAttribute) {
  // gw.ex: a name type always shows its characters.
  auto fqdn = ReadBlock<IDPayload>(IdBlock("02", "\tReserved2: 00 00 00\n", "67 77 2e 65 78"));
  ASSERT_NE(fqdn, nullptr);
  EXPECT_FALSE(fqdn->HasStringForm());
  EXPECT_EQ(fqdn->IdentityText(), "gw.ex");
  EXPECT_TRUE(fqdn->DetailText().ends_with(
      "\r\nID type:\tID_FQDN\r\nReserved2:\t00 00 00  (0)\r\nID Data:\r\n67 77 2e 65 78 \r\n"
      "ID as string:\r\ngw.ex\r\n"))
      << fqdn->DetailText();
  ReadBack(*fqdn);

  // A key ID shows them only when the daemon logged its second rendering.
  auto key = ReadBlock<IDPayload>(IdBlock("0b", "\tReserved2: 00 00 00\n", "6b 31"));
  EXPECT_EQ(key->DetailText().find("ID as string:"), std::string::npos);
  EXPECT_EQ(key->IdentityText(), "k1");
  auto keyString = ReadBlock<IDPayload>(IdBlock("0b", "\tReserved2: 00 00 00\n", "6b 31") + "\tID string: k1\n");
  EXPECT_TRUE(keyString->HasStringForm());
  EXPECT_TRUE(keyString->DetailText().ends_with("\r\nID Data:\r\n6b 31 \r\nID as string:\r\nk1\r\n"));
  EXPECT_EQ(ReadBack(*keyString)->HasStringForm(), true);

  // The data attribute after the identification: shown at the end and written back as its block.
  auto withAttribute = ReadBlock<IDPayload>(IdBlock("01", "\tReserved2: 00 00 00\n", "0a 00 00 01") +
                                            "\tID string: 10.0.0.1\n"
                                            "debugIsakmpValue:\n\tAttribute: 80 01\n\tFormat: 1\n\tVal: 00 05\n");
  ASSERT_NE(withAttribute, nullptr);
  ASSERT_NE(withAttribute->Attribute(), nullptr);
  EXPECT_TRUE(withAttribute->HasStringForm());
  EXPECT_EQ(withAttribute->ChildCount(), 0u);  // the attribute is not a child
  EXPECT_EQ(withAttribute->Attribute()->Val(), (ByteList{0x00, 0x05}));
  EXPECT_TRUE(withAttribute->DetailText().ends_with(
      "(10.0.0.1)\r\nID as string:\r\n\n  \x01\r\n\r\n" + withAttribute->Attribute()->ValueText(32, 0)));
  EXPECT_TRUE(withAttribute->Attribute()->ValueText(32, 0).starts_with("Encryption Algorithm:\t"));
  const std::string written = Written(*withAttribute);
  EXPECT_TRUE(written.ends_with("\tID:\n0a 00 00 01 \n\tID string: -\n"
                                "debugIsakmpValue:\n\tAttribute: 80 01 \n\tFormat: 1\n\tVal: 00 05 \n"))
      << written;
  auto copy = ReadBack(*withAttribute);
  ASSERT_NE(copy->Attribute(), nullptr);
  EXPECT_EQ(copy->Attribute()->Attribute(), (ByteList{0x80, 0x01}));

  // The variable-length form of the attribute.
  auto variable = ReadBlock<IDPayload>(IdBlock("01", "\tReserved2: 00 00 00\n", "0a 00 00 01") +
                                       "debugIsakmpValue:\n\tAttribute: 00 0c\n\tFormat: 0\n\tLength: 00 02 (2)\n"
                                       "\tVal: 70 80 (28800)\n" + Nonce("01"));
  ASSERT_NE(variable->Attribute(), nullptr);
  EXPECT_EQ(variable->Attribute()->Val(), (ByteList{0x70, 0x80}));
  EXPECT_FALSE(variable->HasStringForm());
  ReadBack(*variable);
}

TEST(IDPayloadTest, QuickModePacketNamesItsIdentities) {
  auto reader = DebugLogReader::FromText(
      Received("process_packet1phase2:",
               Nonce("01") + IdBlock("04", "\tReserved2: 00 00 00\n", "0a 00 00 00 ff ff ff 00") +
                   IdBlock("01", "\tService type: 11 (17)  Service port: 01 f4 (1 244 )\n", "00 00 01 02") +
                   Nonce("02")));
  auto message = LoadNext<PhaTwo12Mess>(reader, "QM packet 1 (12:34:56)");
  ASSERT_NE(message, nullptr);
  ASSERT_EQ(message->ChildCount(), 5u);
  EXPECT_EQ(message->Caption(), "QM packet 1 (12:34:56) - 10.0.0.0/24 - 0.0.1.2 (UDP:500)");
  EXPECT_EQ(message->InitiatorIdText(), "10.0.0.0/24");
  EXPECT_EQ(message->ResponderIdText(), "0.0.1.2 (UDP:500)");
  EXPECT_TRUE(message->HasIdAddress());
  EXPECT_EQ(message->IdAddress(), 258u);
}

TEST(IDPayloadTest, MissingLabelsAndCutBlocks) {
  // Without its labels the block takes nothing from the next block.
  auto reader = DebugLogReader::FromText("debugIDPayload:\n\tNextPld: 00\n\tLength: 00 0c\n" + Nonce("01"));
  auto id = ReadBlock<IDPayload>(reader);
  ASSERT_NE(id, nullptr);
  EXPECT_EQ(id->Fields().reserved, kUnread);
  EXPECT_EQ(id->IdType(), kUnread);
  EXPECT_TRUE(id->IdData().empty());
  EXPECT_FALSE(id->HasIdAddress());
  EXPECT_EQ(id->IdentityText(), "Unknown ID type (4294967295)");
  EXPECT_NE(id->DetailText().find("\r\nID type:\tUnknown ID type (4294967295)\r\n"), std::string::npos);
  EXPECT_EQ(reader.ReadToken(), "debugNoncePayload:");

  // The second rendering and the attribute are optional: the next block stays for the chain.
  auto plain = DebugLogReader::FromText(IdBlock("01", "\tReserved2: 00 00 00\n", "0a 00 00 01") + Nonce("01"));
  EXPECT_FALSE(ReadBlock<IDPayload>(plain)->HasStringForm());
  EXPECT_EQ(plain.ReadToken(), "debugNoncePayload:");
  auto shortString = DebugLogReader::FromText(IdBlock("01", "\tReserved2: 00 00 00\n", "0a 00 00 01") + "\tID\n" +
                                              Nonce("01"));
  EXPECT_TRUE(ReadBlock<IDPayload>(shortString)->HasStringForm());
  EXPECT_EQ(shortString.ReadToken(), "debugNoncePayload:");

  // The end of the input anywhere inside the block.
  for (const std::string& text :
       {std::string("debugIDPayload:"), "debugIDPayload:\n" + std::string(kHead) + "\tType:",
        IdBlock("01", "\tService type:", ""), IdBlock("01", "\tReserved2: 00 00 00\n", "0a") + "\tID",
        IdBlock("01", "\tReserved2: 00 00 00\n", "0a") + "debugIsakmpValue:\n\tAttribute: 80"}) {
    auto atEnd = DebugLogReader::FromText(text);
    auto cut = ReadBlock<IDPayload>(atEnd);
    ASSERT_NE(cut, nullptr) << text;
    EXPECT_TRUE(atEnd.AtEnd()) << text;
    EXPECT_FALSE(cut->DetailText().empty());
  }

  // A block cut by the next packet keeps that packet for the packet scan.
  auto twoPackets = DebugLogReader::FromText(
      Received("process_packet1phase2:", "debugIDPayload:\n" + std::string(kHead) + "\tType: 01\n\tReserved2:\n") +
      Received("process_packet2phase2:", Nonce("01")));
  auto first = LoadNext<PhaTwo12Mess>(twoPackets);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->ChildCount(), 2u);
  twoPackets.ClearAbandon();
  auto second = LoadNext<PhaTwo12Mess>(twoPackets);
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(second->GetHeader()->PacketKind(), 0x41u);
  EXPECT_EQ(second->ChildCount(), 2u);
}

// ---- certificates -------------------------------------------------------------------------------

const std::string kCertDebug =
    "##### BEGIN CERTIFICATE DEBUG #####\nSubject: CN=gw1, O=LEGEND\n\n   Issuer: CN=ca\n"
    "##### END CERTIFICATE DEBUG #####\n";

std::string CertBlock(const std::string& data, const std::string& debug) {
  return "debugCertPayload:\n" + std::string(kHead) + "\tType: 04\n\tCertData:\n" + data + "\n" + debug;
}

TEST(CertPayloadTest, CertificateWithItsDebugText) {
  auto reader = DebugLogReader::FromText(CertBlock("30 82 01 02", kCertDebug) + Nonce("01"));
  auto cert = ReadBlock<CertPayload>(reader);
  ASSERT_NE(cert, nullptr);
  EXPECT_EQ(reader.ReadToken(), "debugNoncePayload:");
  EXPECT_EQ(cert->Caption(), "Cert X.509 Certificate - Signature");
  EXPECT_EQ(cert->Encoding(), 4u);
  EXPECT_EQ(cert->Data(), (ByteList{0x30, 0x82, 0x01, 0x02}));
  // "LEGEND" holds "END" but is no END line; empty lines and leading blanks are not kept.
  EXPECT_EQ(cert->DebugText(), "\r\n\r\nSubject: CN=gw1, O=LEGEND\r\nIssuer: CN=ca\r\n");
  EXPECT_EQ(cert->DetailText(), "Certificate Payload" + std::string(kDetailHead) +
                                    "\r\nCertificate Type:\r\n\t\tX.509 Certificate - Signature"
                                    "\r\n\r\nSubject: CN=gw1, O=LEGEND\r\nIssuer: CN=ca\r\n"
                                    "\r\nCert Data:\r\n30 82 01 02 \r\n");
  EXPECT_EQ(Written(*cert), "debugCertPayload:\n" + std::string(kHead) +
                                "\tCert Type: 04\n\tCertData:\n30 82 01 02 \n"
                                "##### BEGIN CERTIFICATE DEBUG #####\r\nSubject: CN=gw1, O=LEGEND\r\n"
                                "Issuer: CN=ca\r\n##### END CERTIFICATE DEBUG #####\n");
  auto copy = ReadBack(*cert);
  EXPECT_EQ(copy->DebugText(), cert->DebugText());

  // A "Length" line in front of the dump is shown before it and written back.
  auto noted = ReadBlock<CertPayload>(CertBlock("Length 300\n30 82", kCertDebug));
  EXPECT_EQ(noted->LengthNote(), "Length 300\r\n\r\n");
  EXPECT_TRUE(noted->DetailText().ends_with("\r\nCert Data:\r\nLength 300\r\n\r\n30 82 \r\n"));
  ReadBack(*noted);

  // Without a debug block and without data.
  auto bare = ReadBlock<CertPayload>(CertBlock("", ""));
  EXPECT_EQ(bare->DebugText(), "");
  EXPECT_TRUE(bare->DetailText().ends_with("Signature\r\nCert Data:\r\n\r\n"));
  EXPECT_TRUE(Written(*bare).ends_with("\tCert Type: 04\n"));
  ReadBack(*bare);
  // Data whose value is 0 is still written.
  ReadBack(*ReadBlock<CertPayload>(CertBlock("01 00 00 00 00", "")));
}

TEST(CertPayloadTest, CertificateFollowedDirectlyByAnotherPayload) {
  // Neither block is followed by "#####": the next payload's keyword is left for the chain.
  auto reader = DebugLogReader::FromText(Received(
      "process_packet5phase1:",
      CertBlock("01 02", "") + "debugCertreqPayload:\n" + kHead + "\tType: 04\n\tCertReqData: 03\n" + Nonce("04") +
          CertBlock("05", kCertDebug) + Nonce("06")));
  auto message = LoadNext<Main56Mess>(reader);
  ASSERT_NE(message, nullptr);
  ASSERT_EQ(message->ChildCount(), 6u);
  EXPECT_EQ(message->Child(1)->Caption(), "Cert X.509 Certificate - Signature");
  EXPECT_EQ(message->Child(2)->Caption(), "CertReq Request for X.509 Certificate - Signature");
  EXPECT_EQ(message->Child(3)->Caption(), "Nonce");
  EXPECT_EQ(message->Child(4)->Caption(), "Cert X.509 Certificate - Signature");
  EXPECT_EQ(message->Child(5)->Caption(), "Nonce");
  EXPECT_EQ(dynamic_cast<const CertPayload&>(*message->Child(1)).Data(), (ByteList{1, 2}));
  EXPECT_EQ(dynamic_cast<const CertReqPayload&>(*message->Child(2)).Data(), (ByteList{3}));
  EXPECT_EQ(dynamic_cast<const CertPayload&>(*message->Child(4)).DebugText(),
            "\r\n\r\nSubject: CN=gw1, O=LEGEND\r\nIssuer: CN=ca\r\n");
}

TEST(CertPayloadTest, CertificateRequest) {
  auto reader = DebugLogReader::FromText("debugCertreqPayload:\n" + std::string(kHead) +
                                         "\tType: 04\n\tCertReqData: 30 0a\n"
                                         "##### BEGIN CERTIFICATE REQUEST DEBUG #####\nCA: CN=root\n"
                                         "##### END CERTIFICATE REQUEST DEBUG #####\n" + Nonce("01"));
  auto request = ReadBlock<CertReqPayload>(reader);
  ASSERT_NE(request, nullptr);
  EXPECT_EQ(reader.ReadToken(), "debugNoncePayload:");
  EXPECT_TRUE(request->HasData());
  EXPECT_EQ(request->Caption(), "CertReq Request for X.509 Certificate - Signature");
  EXPECT_EQ(request->DetailText(), "Certificate Request Payload" + std::string(kDetailHead) +
                                       "\r\nRequest for Certificate Type:\r\n\t\tX.509 Certificate - Signature"
                                       "\r\nCertReqData:\r\n\r\n\r\nCA: CN=root\r\n\r\n30 0a ");
  EXPECT_EQ(Written(*request), "debugCertreqPayload:\n" + std::string(kHead) +
                                   "\tCert Req Type: 04\n\tCertReqData: 30 0a \n"
                                   "##### BEGIN CERTIFICATE REQUEST DEBUG #####\r\nCA: CN=root\r\n"
                                   "##### END CERTIFICATE REQUEST DEBUG #####\n");
  ReadBack(*request);

  // Without "CertReqData:" only the encoding line follows the length.
  auto bare = DebugLogReader::FromText("debugCertreqPayload:\n" + std::string(kHead) + "\tType: 01\n" + Nonce("01"));
  auto noData = ReadBlock<CertReqPayload>(bare);
  EXPECT_FALSE(noData->HasData());
  EXPECT_EQ(noData->DetailText(), "Certificate Request Payload" + std::string(kDetailHead) +
                                      "\r\nRequest for Certificate Type:\r\n\t\tPKCS #7 wrapped X.509 certificate");
  EXPECT_EQ(bare.ReadToken(), "debugNoncePayload:");
  EXPECT_EQ(Written(*noData), "debugCertreqPayload:\n" + std::string(kHead) + "\tCert Req Type: 01\n");
  ReadBack(*noData);

  // Data label without data still shows its section and reads back with it.
  auto empty = ReadBlock<CertReqPayload>("debugCertreqPayload:\n" + std::string(kHead) +
                                         "\tType: 04\n\tCertReqData:\n" +
                                         Nonce("01"));
  EXPECT_TRUE(empty->HasData());
  EXPECT_TRUE(ReadBack(*empty)->HasData());

  // An encoding beyond the table.
  auto unknown = ReadBlock<CertReqPayload>("debugCertreqPayload:\n" + std::string(kHead) + "\tType: 0c\n");
  EXPECT_EQ(unknown->Caption(), "CertReq Request for Unknown certificate encoding (12)");
}

TEST(CertPayloadTest, CutDebugBlocks) {
  // The end of the input inside the debug text keeps the lines read.
  auto atEnd = DebugLogReader::FromText(CertBlock("01", "##### BEGIN CERTIFICATE DEBUG #####\nSubject: x\nIssuer: y"));
  auto cert = ReadBlock<CertPayload>(atEnd);
  EXPECT_EQ(cert->DebugText(), "\r\n\r\nSubject: x\r\nIssuer: y\r\n");
  EXPECT_TRUE(atEnd.AtEnd());
  const std::string requestAtMarker =
      "debugCertreqPayload:\n" + std::string(kHead) + "\tType: 04\n\tCertReqData: 01\n#####";
  for (const std::string& text : {CertBlock("01", "#####"), CertBlock("01", "##### BEGIN"), CertBlock("01 02", ""),
                                  std::string("debugCertPayload:\n\tNextPld:"), requestAtMarker}) {
    auto reader = DebugLogReader::FromText(text);
    const int code = DebugLogReader::BlockKeywordCode(reader.ReadToken());
    ASSERT_NE(CreatePayload(code, reader, PayloadContext{}), nullptr) << text;
    EXPECT_TRUE(reader.AtEnd()) << text;
  }

  // A BEGIN line cut by the next block.
  auto cutBegin = DebugLogReader::FromText(CertBlock("01", "##### BEGIN\n") + Nonce("01"));
  EXPECT_EQ(ReadBlock<CertPayload>(cutBegin)->DebugText(), "");
  EXPECT_EQ(cutBegin.ReadToken(), "debugNoncePayload:");

  // A debug text cut by the next block or by a restart.
  auto cutText = DebugLogReader::FromText(CertBlock("01", "##### BEGIN CERTIFICATE DEBUG #####\nSubject: x\n") +
                                          Nonce("01"));
  EXPECT_EQ(ReadBlock<CertPayload>(cutText)->DebugText(), "\r\n\r\nSubject: x\r\n");
  EXPECT_EQ(cutText.ReadToken(), "debugNoncePayload:");
  auto restart = DebugLogReader::FromText(
      CertBlock("01", "##### BEGIN CERTIFICATE DEBUG #####\nSubject: x\nIKE daemon started\nIssuer: y\n"));
  EXPECT_EQ(ReadBlock<CertPayload>(restart)->DebugText(), "\r\n\r\nSubject: x\r\n");
  EXPECT_TRUE(restart.RestartSeen());

  // A debug text cut by the next packet, in either layout: the packet scan finds that packet.
  const std::string cutBlock = CertBlock("01", "##### BEGIN CERTIFICATE DEBUG #####\nSubject: x\n");
  const std::string createdNext = "\n" + kPlus +
                                  "\ncreate_packet6phase1: peer: 0a000001 ~~ Mon Nov 13 12:34:57 2006\n" + kPlus +
                                  "\n" + HeaderBlock() + Nonce("02");
  for (const std::string& next : {Received("process_packet6phase1:", Nonce("02")), createdNext}) {
    auto log = DebugLogReader::FromText(Received("process_packet5phase1:", cutBlock) + next);
    auto first = LoadNext<Main56Mess>(log);
    ASSERT_NE(first, nullptr);
    ASSERT_EQ(first->ChildCount(), 2u);
    EXPECT_EQ(dynamic_cast<const CertPayload&>(*first->Child(1)).DebugText(), "\r\n\r\nSubject: x\r\n");
    auto second = LoadNext<Main56Mess>(log);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(second->GetHeader()->PacketKind(), 0x0Eu);
    EXPECT_EQ(second->ChildCount(), 2u);
  }
}

// ---- NAT original address -----------------------------------------------------------------------

TEST(NatOAPayloadTest, ReadShowWrite) {
  auto reader = DebugLogReader::FromText("debugNatOAPayload:\n" + std::string(kHead) +
                                         "\tType: 01\n\tAddress: 192.168.1.10\n" + Nonce("01"));
  auto oa = ReadBlock<NatOAPayload>(reader);
  ASSERT_NE(oa, nullptr);
  EXPECT_EQ(reader.ReadToken(), "debugNoncePayload:");
  EXPECT_EQ(oa->Caption(), "Original Address");
  EXPECT_EQ(oa->IdType(), 1u);
  EXPECT_EQ(oa->Address(), "192.168.1.10");
  // The identification payload's title, and a parenthesis after the type's name.
  EXPECT_EQ(oa->DetailText(), "ID Payload" + std::string(kDetailHead) +
                                  "\r\nID type:\tID_IPV4_ADDR)\r\nOriginal IP:\t192.168.1.10\r\n");
  EXPECT_EQ(Written(*oa), "debugNatOAPayload:\n" + std::string(kHead) + "\tID Type: 01\n\tAddress: 192.168.1.10\n");
  ReadBack(*oa);

  // An empty address does not take the next line; a missing one is empty.
  auto empty = DebugLogReader::FromText("debugNatOAPayload:\n" + std::string(kHead) + "\tType: 01\n\tAddress:\n" +
                                        Nonce("01"));
  EXPECT_EQ(ReadBlock<NatOAPayload>(empty)->Address(), "");
  EXPECT_EQ(empty.ReadToken(), "debugNoncePayload:");
  auto missing = DebugLogReader::FromText("debugNatOAPayload:\n" + std::string(kHead) + Nonce("01"));
  auto noAddress = ReadBlock<NatOAPayload>(missing);
  EXPECT_EQ(noAddress->IdType(), kUnread);
  EXPECT_EQ(noAddress->Address(), "");
  EXPECT_EQ(missing.ReadToken(), "debugNoncePayload:");
  auto atEnd = DebugLogReader::FromText("debugNatOAPayload:\n" + std::string(kHead) + "\tType: 01\n\tAddress:");
  EXPECT_EQ(ReadBlock<NatOAPayload>(atEnd)->Address(), "");
  EXPECT_TRUE(atEnd.AtEnd());
}

}  // namespace
}  // namespace quillon
