#include "ikev2/V2Payloads.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "tests/ikev2/V2TestLogs.h"

namespace quillon {
namespace {

using v2test::PayloadXml;
using v2test::ReadOnePayload;

TEST(V2Payload, ClassifiesByTypeAttributeCertReqBeforeCert) {
  EXPECT_EQ(ClassifyPayloadLine("<Payload Type=\"CertReq\">"), PayloadKind::kCertificateRequest);
  EXPECT_EQ(ClassifyPayloadLine("<Payload Type=\"Cert\">"), PayloadKind::kCertificate);
  EXPECT_EQ(ClassifyPayloadLine("<Payload Type=\"TSr\">"), PayloadKind::kTrafficSelectors);
  EXPECT_EQ(ClassifyPayloadLine("<Payload Type=\"IDi\">"), PayloadKind::kIdentification);
  EXPECT_EQ(ClassifyPayloadLine("<Payload Type=\"Nonce\">"), PayloadKind::kOther);
  EXPECT_EQ(ClassifyPayloadLine("<Payloads>"), PayloadKind::kNone);
  // Several Type attributes: the kind that comes first among the kinds decides, wherever its
  // attribute stands; a Type inside a value counts as well.
  EXPECT_EQ(ClassifyPayloadLine("<Payload Type=\"Cert\" x=\"Type=\"Notify\"\">"), PayloadKind::kNotify);
  EXPECT_EQ(ClassifyPayloadLine("<Payload Type=\"IDi\" Type=\"TSr\">"), PayloadKind::kTrafficSelectors);
  EXPECT_EQ(ClassifyPayloadLine("<Payload Type=\"Type=\"EAP\"\">"), PayloadKind::kEAP);
  EXPECT_EQ(ClassifyPayloadLine("Type=\"Delete\" <Payload Type=\"Nonce\">"), PayloadKind::kDelete);
  EXPECT_EQ(ClassifyPayloadLine("<Payload Type=\"Certificate\" Type=\"Cert"), PayloadKind::kOther);

  auto request = ReadOnePayload(PayloadXml("CertReq"));
  ASSERT_NE(dynamic_cast<v2CertReqPayload*>(request.get()), nullptr);
  EXPECT_EQ(request->Caption(), "Certificate Request");
  // A line that is not a payload's opening line gives an invalid node.
  EXPECT_FALSE(ReadOnePayload("<Nonce>1</Nonce>\n")->IsParsed());
  EXPECT_FALSE(ReadOnePayload("x " + PayloadXml("Nonce"))->IsParsed());
}

TEST(V2Payload, CaptionsSpisAndIdentityAddresses) {
  const struct {
    std::string type, body, caption, spi;
    std::uint32_t id;  // 0: no identity address
  } cases[] = {
      // Only an "Invalid SPI" notification reports its SPI; a long type is shortened.
      {"Notify", "<Type>Invalid SPI</Type>\n<SPI>5e0a77c1</SPI>\n", "Notify (Invalid SPI)", "5e0a77c1", 0},
      {"Notify", "<Type>Authentication Failed Badly</Type>\n<SPI>5e0a77c1</SPI>\n", "Notify (Authentication F...)", "", 0},
      {"Delete", "<Protocol>ESP</Protocol>\n<SPI>c3a81f07</SPI>\n", "Delete c3a81f07", "c3a81f07", 0},
      // Only an IPV4_ADDR identity in the low range is an index naming the peer.
      {"IDr", "<Type>IPV4_ADDR</Type>\n<Data>0.0.1.2</Data>\n", "", "", 258u},
      {"IDr", "<Type>IPV4_ADDR</Type>\n<Data>10.0.0.1</Data>\n", "", "", 0},
      {"IDr", "<Type>ID_KEY_ID</Type>\n<Data>0.0.1.2</Data>\n", "", "", 0},
  };
  for (const auto& c : cases) {
    auto payload = ReadOnePayload(PayloadXml(c.type, c.body));
    if (!c.caption.empty()) {
      EXPECT_EQ(payload->Caption(), c.caption) << c.body;
    }
    EXPECT_EQ(payload->SpiText(), c.spi) << c.body;
    EXPECT_EQ(payload->HasIdAddress(), c.id != 0) << c.body;
    EXPECT_EQ(payload->IdAddress(), c.id) << c.body;
  }
}

TEST(V2Payload, GenericPayloadListsItsAttributesInByteOrder) {
  auto payload = ReadOnePayload("\t\t\t" + PayloadXml("KeyExchange", "\t<Group>14</Group>\n\t<Next>Nonce</Next>\n"
                                                                     "\t<aLength>264</aLength>\n"));
  ASSERT_TRUE(payload->IsParsed());
  EXPECT_EQ(payload->Caption(), "Key Exchange");
  EXPECT_EQ(payload->DetailText(),
            "Key Exchange Payload\r\n\r\nGroup:\t\t\t14\r\nNext payload:\t\tNonce\r\nType:\t\t\tKeyExchange\r\n"
            "aLength:\t\t264\r\n");
}

TEST(V2Payload, SecurityAssociationReportsItsLastProposalSpi) {
  auto sa = ReadOnePayload(PayloadXml("SecurityAssociation",
                                      "\t<Proposals>2</Proposals>\n"  // an element line of the payload itself
                                      "\t<prop ID=\"1\" Protocol=\"ESP\" SPI=\"c3a81f07\">\n"
                                      "\t\t<encr>AES-CBC-128</encr>\n"
                                      "\t\t<dh>2048-bit MODP</dh><dh>1024-bit MODP</dh>\n"
                                      "\t</prop>\n"
                                      "\t<prop ID=\"2\" Protocol=\"ESP\" SPI=\"7d02e4b9\">\n\t\t<encr>3DES</encr>\n\t</prop>\n"
                                      "\t<prop ID=\"3\" Protocol=\"ESP\">\n\t</prop>\n"));
  ASSERT_TRUE(sa->IsParsed());
  EXPECT_EQ(sa->Caption(), "Security Association");
  EXPECT_EQ(sa->SpiText(), "7d02e4b9");
  ASSERT_EQ(sa->ChildCount(), 3u);  // the element line before the proposals loses none of them
  EXPECT_EQ(static_cast<v2SAPayload*>(sa.get())->Attributes().at("Proposals"), "2");
  EXPECT_EQ(sa->Child(0)->Caption(), "Proposal 1");
  EXPECT_EQ(sa->Child(0)->DetailText(),
            "Proposal Payload \r\n\r\nID:\t\t\t1\r\nProtocol:\t\tESP\r\nSPI:\t\t\tc3a81f07\r\n"
            "Diffie Helman:\t\t2048-bit MODP, 1024-bit MODP\r\nEncryption algorithm:\tAES-CBC-128\r\n");
}

// Which notify types reject a negotiation: the error types 1 to 16383, by number or by name in
// any spelling; status types (from 16384 on) and texts that only look like numbers do not.
TEST(V2Payload, NotifyErrorTypesByNumberAndName) {
  const struct {
    const char* type;
    bool error;
  } cases[] = {
      {"0", false},     {"1", true},      {"14", true},         {"16383", true},
      {"16384", false}, {"99999", false}, {"000014", false},    {"", false},
      {"No Proposal Chosen", true},       {"NO_PROPOSAL_CHOSEN", true},
      {"NAT detection source IP", false}, {"Authentication Failed Badly", false},
  };
  for (const auto& c : cases) {
    auto node = ReadOnePayload(PayloadXml("Notify", std::string("<Type>") + c.type + "</Type>\n"));
    const auto* notify = dynamic_cast<v2NotifyPayload*>(node.get());
    ASSERT_NE(notify, nullptr) << c.type;
    EXPECT_EQ(notify->IsError(), c.error) << c.type;
  }
}

TEST(V2Payload, CertificateRequestAuthorities) {
  auto request = ReadOnePayload(PayloadXml("CertReq",
                                           "<Encoding>X.509</Encoding>\n"
                                           "<CA><DN>CN=Example Root CA 1</DN><hash>3a7b</hash></CA>\n"
                                           "  <CA><hash>99</hash></CA>  \n"
                                           "<CA><DN>broken</CA>\n"));
  ASSERT_EQ(request->ChildCount(), 3u);
  EXPECT_EQ(request->Child(0)->Caption(), "CA (CN=Example Root ...)");  // a 20-character DN is cut
  EXPECT_EQ(request->Child(0)->DetailText(),
            "Certificate Authority \r\n\r\nCA DN:\t\t\tCN=Example Root CA 1\r\nHash:\t\t\t3a7b\r\n");
  EXPECT_EQ(request->Child(1)->Caption(), "CA");
  EXPECT_EQ(request->Child(2)->Caption(), "CA");  // the incomplete pair is dropped
  EXPECT_EQ(request->DetailText(),
            "Certificate Request Payload\r\n\r\nCertReq Payload\r\n\r\nEncoding:\t\tX.509\r\nType:\t\t\tCertReq\r\n");
}

TEST(V2Payload, CertificateSubjectLosesItsTrailingSeparator) {
  auto cert = ReadOnePayload(
      PayloadXml("Cert", "\t<Encoding>X.509</Encoding>\n\t<![CDATA[\n\t\tCertificate:\n\t\tSubject: CN=gw,\n\t]]>\n"));
  EXPECT_EQ(cert->Caption(), "Certificate (CN=gw)");
  EXPECT_EQ(cert->DetailText(),
            "Certificate Payload\r\n\r\nCert Payload\r\n\r\nEncoding:\t\tX.509\r\nType:\t\t\tCert\r\n"
            "\r\nCertificate data:\r\n\r\nCertificate:\r\nSubject: CN=gw,\r\n");
  // A subject line too short to hold a name, and one without the trailing separator.
  EXPECT_EQ(ReadOnePayload(PayloadXml("Cert", "<![CDATA[\nSubject:\n]]>\n"))->Caption(), "Certificate ()");
  EXPECT_EQ(ReadOnePayload(PayloadXml("Cert", "<![CDATA[\nSubject: CN=gateway\n]]>\n"))->Caption(),
            "Certificate (CN=gatewa)");
}

// (The forms the sample logs hold are pinned by GoldenTest.) A selector without type and an
// unnamed configuration attribute keep generic texts.
TEST(V2Payload, TrafficSelectorAndConfigurationFallbacks) {
  auto tsi = ReadOnePayload(PayloadXml("TSi", "\t<TrafficSelector>\n\t</TrafficSelector>\n"));
  ASSERT_TRUE(tsi->IsParsed());
  ASSERT_EQ(tsi->ChildCount(), 1u);
  EXPECT_EQ(tsi->Child(0)->Caption(), "Traffic Selector");
  auto conf = ReadOnePayload(PayloadXml("Conf", "\t<CFG_Type>CFG_REPLY</CFG_Type>\n"
                                                "\t<Attr>\n\t\t<Type>VENDOR_X</Type>\n\t\t<Value>7</Value>\n\t</Attr>\n"));
  EXPECT_EQ(conf->DetailText(), "CFG_Type\t\tCFG_REPLY\r\nType\t\t\tConf\r\n\r\nVENDOR_X:\t\t7\r\n");
}

}  // namespace
}  // namespace quillon
