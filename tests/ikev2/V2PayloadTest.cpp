#include "ikev2/v2Payloads.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/ikev2/V2TestLogs.h"

namespace quillon {
namespace {

using v2test::ReadOnePayload;

TEST(V2Payload, ClassifiesByTypeAttributeCertReqBeforeCert) {
  EXPECT_EQ(ClassifyPayloadLine("<Payload Type=\"CertReq\">"), PayloadKind::kCertificateRequest);
  EXPECT_EQ(ClassifyPayloadLine("<Payload Type=\"Cert\">"), PayloadKind::kCertificate);
  EXPECT_EQ(ClassifyPayloadLine("<Payload Type=\"TSr\">"), PayloadKind::kTrafficSelectors);
  EXPECT_EQ(ClassifyPayloadLine("<Payload Type=\"IDi\">"), PayloadKind::kIdentification);
  EXPECT_EQ(ClassifyPayloadLine("<Payload Type=\"Nonce\">"), PayloadKind::kOther);
  EXPECT_EQ(ClassifyPayloadLine("<Payloads>"), PayloadKind::kNone);

  auto request = ReadOnePayload("<Payload Type=\"CertReq\">\n</Payload>\n");
  ASSERT_NE(dynamic_cast<v2CertReqPayload*>(request.get()), nullptr);
  EXPECT_EQ(request->Caption(), "Certificate Request");
}

TEST(V2Payload, LineThatIsNotAPayloadGivesAnInvalidNode) {
  EXPECT_FALSE(ReadOnePayload("<Nonce>1</Nonce>\n")->IsParsed());
  EXPECT_FALSE(ReadOnePayload("x <Payload Type=\"Nonce\">\n</Payload>\n")->IsParsed());
}

TEST(V2Payload, GenericPayloadListsItsAttributesInByteOrder) {
  auto payload = ReadOnePayload(
      "\t\t\t<Payload Type=\"KeyExchange\">\n"
      "\t\t\t\t<Group>14</Group>\n"
      "\t\t\t\t<Next>Nonce</Next>\n"
      "\t\t\t\t<aLength>264</aLength>\n"
      "\t\t\t</Payload>\n");
  ASSERT_TRUE(payload->IsParsed());
  EXPECT_EQ(payload->Caption(), "Key Exchange");
  EXPECT_EQ(payload->DetailText(),
            "Key Exchange Payload\r\n\r\n"
            "Group:\t\t\t14\r\n"
            "Next payload:\t\tNonce\r\n"
            "Type:\t\t\tKeyExchange\r\n"
            "aLength:\t\t264\r\n");
}

TEST(V2Payload, NotifyCaptionsAndInvalidSpiReporting) {
  auto nat = ReadOnePayload("<Payload Type=\"Notify\">\n<Type>NAT detection source IP</Type>\n</Payload>\n");
  EXPECT_EQ(nat->Caption(), "Notify (NAT detection)");
  EXPECT_EQ(nat->SpiText(), "");

  auto invalid = ReadOnePayload(
      "<Payload Type=\"Notify\">\n<Type>Invalid SPI</Type>\n<SPI>5e0a77c1</SPI>\n</Payload>\n");
  EXPECT_EQ(invalid->Caption(), "Notify (Invalid SPI)");
  EXPECT_EQ(invalid->SpiText(), "5e0a77c1");

  auto rekey = ReadOnePayload(
      "<Payload Type=\"Notify\">\n<Type>Authentication Failed Badly</Type>\n<SPI>5e0a77c1</SPI>\n</Payload>\n");
  EXPECT_EQ(rekey->Caption(), "Notify (Authentication F...)");
  EXPECT_EQ(rekey->SpiText(), "");
}

TEST(V2Payload, SecurityAssociationReportsItsLastProposalSpi) {
  const std::string text =
      "<Payload Type=\"SecurityAssociation\">\n"
      "\t<Proposals>2</Proposals>\n"  // an element line of the payload itself
      "\t<prop ID=\"1\" Protocol=\"ESP\" SPI=\"c3a81f07\">\n"
      "\t\t<encr>AES-CBC-128</encr>\n"
      "\t\t<dh>2048-bit MODP</dh><dh>1024-bit MODP</dh>\n"
      "\t</prop>\n"
      "\t<prop ID=\"2\" Protocol=\"ESP\" SPI=\"7d02e4b9\">\n"
      "\t\t<encr>3DES</encr>\n"
      "\t</prop>\n"
      "\t<prop ID=\"3\" Protocol=\"ESP\">\n"
      "\t</prop>\n"
      "</Payload>\n";
  auto sa = ReadOnePayload(text);
  ASSERT_TRUE(sa->IsParsed());
  EXPECT_EQ(sa->Caption(), "Security Association");
  EXPECT_EQ(sa->SpiText(), "7d02e4b9");
  ASSERT_EQ(sa->ChildCount(), 3u);  // the element line before the proposals loses none of them
  EXPECT_EQ(static_cast<v2SAPayload*>(sa.get())->Attributes().at("Proposals"), "2");
  EXPECT_EQ(sa->Child(0)->Caption(), "Proposal 1");
  EXPECT_EQ(sa->Child(0)->DetailText(),
            "Proposal Payload \r\n\r\n"
            "ID:\t\t\t1\r\n"
            "Protocol:\t\tESP\r\n"
            "SPI:\t\t\tc3a81f07\r\n"
            "Diffie Helman:\t\t2048-bit MODP, 1024-bit MODP\r\n"
            "Encryption algorithm:\tAES-CBC-128\r\n");
}

TEST(V2Payload, DeleteEapAndIdentificationCaptions) {
  auto del = ReadOnePayload("<Payload Type=\"Delete\">\n<Protocol>ESP</Protocol>\n<SPI>c3a81f07</SPI>\n</Payload>\n");
  EXPECT_EQ(del->Caption(), "Delete c3a81f07");
  EXPECT_EQ(del->SpiText(), "c3a81f07");

  auto eap = ReadOnePayload("<Payload Type=\"EAP\">\n<Code>Success</Code>\n</Payload>\n");
  EXPECT_EQ(eap->Caption(), "EAP Success");

  auto fqdn = ReadOnePayload("<Payload Type=\"IDi\">\n<Type>FQDN</Type>\n<Data>branch-gw-01.example.net</Data>\n</Payload>\n");
  EXPECT_EQ(fqdn->Caption(), "IDi  (branch-gw-01.exa...)");
  EXPECT_FALSE(fqdn->HasIdAddress());
}

TEST(V2Payload, OnlyALowRangeIpv4IdentitySetsTheIdentityAddress) {
  auto index = ReadOnePayload("<Payload Type=\"IDr\">\n<Type>IPV4_ADDR</Type>\n<Data>0.0.1.2</Data>\n</Payload>\n");
  EXPECT_TRUE(index->HasIdAddress());
  EXPECT_EQ(index->IdAddress(), 258u);

  auto address = ReadOnePayload("<Payload Type=\"IDr\">\n<Type>IPV4_ADDR</Type>\n<Data>10.0.0.1</Data>\n</Payload>\n");
  EXPECT_FALSE(address->HasIdAddress());
  EXPECT_EQ(address->IdAddress(), 0u);

  auto other = ReadOnePayload("<Payload Type=\"IDr\">\n<Type>ID_KEY_ID</Type>\n<Data>0.0.1.2</Data>\n</Payload>\n");
  EXPECT_FALSE(other->HasIdAddress());
}

TEST(V2Payload, CertificateRequestAuthorities) {
  auto request = ReadOnePayload(
      "<Payload Type=\"CertReq\">\n"
      "<Encoding>X.509</Encoding>\n"
      "<CA><DN>CN=Example Root CA 1</DN><hash>3a7b</hash></CA>\n"
      "  <CA><hash>99</hash></CA>  \n"
      "<CA><DN>broken</CA>\n"
      "</Payload>\n");
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
      "<Payload Type=\"Cert\">\n"
      "\t<Encoding>X.509</Encoding>\n"
      "\t<![CDATA[\n"
      "\t\tCertificate:\n"
      "\t\tSubject: CN=gw,\n"
      "\t]]>\n"
      "</Payload>\n");
  EXPECT_EQ(cert->Caption(), "Certificate (CN=gw)");
  EXPECT_EQ(cert->DetailText(),
            "Certificate Payload\r\n\r\nCert Payload\r\n\r\nEncoding:\t\tX.509\r\nType:\t\t\tCert\r\n"
            "\r\nCertificate data:\r\n\r\nCertificate:\r\nSubject: CN=gw,\r\n");

  // A subject line too short to hold a name, and one without the trailing separator.
  auto bare = ReadOnePayload("<Payload Type=\"Cert\">\n<![CDATA[\nSubject:\n]]>\n</Payload>\n");
  EXPECT_EQ(bare->Caption(), "Certificate ()");
  auto noComma = ReadOnePayload("<Payload Type=\"Cert\">\n<![CDATA[\nSubject: CN=gateway\n]]>\n</Payload>\n");
  EXPECT_EQ(noComma->Caption(), "Certificate (CN=gatewa)");
}

TEST(V2Payload, TrafficSelectorPayloads) {
  auto tsi = ReadOnePayload(
      "<Payload Type=\"TSi\">\n"
      "\t<TrafficSelector Type=\"TS_IPV4_ADDR_RANGE\">\n"
      "\t\t<proto>0</proto><ports>0-65535</ports>\n"
      "\t\t<range>10.1.1.0 - 10.1.1.255</range>\n"
      "\t</TrafficSelector>\n"
      "\t<TrafficSelector>\n"
      "\t</TrafficSelector>\n"
      "</Payload>\n");
  ASSERT_TRUE(tsi->IsParsed());
  EXPECT_EQ(tsi->Caption(), "TSi");
  ASSERT_EQ(tsi->ChildCount(), 2u);
  EXPECT_EQ(tsi->Child(0)->Caption(), "IPv4 Address Range");
  EXPECT_EQ(tsi->Child(0)->DetailText(),
            "Type:\t\t\tTS_IPV4_ADDR_RANGE\r\nPorts:\t\t\t0-65535\r\nProtocol:\t\t0\r\nRange:\t\t\t10.1.1.0 - 10.1.1.255\r\n");
  EXPECT_EQ(tsi->Child(1)->Caption(), "Traffic Selector");
  EXPECT_EQ(tsi->DetailText(), "TSi Payload\r\n\r\nType:\t\t\tTSi\r\n\r\n\r\nTraffic Selector - Initiator\r\n\r\n");

  auto tsr = ReadOnePayload("<Payload Type=\"TSr\">\n</Payload>\n");
  EXPECT_EQ(tsr->DetailText(), "TSr Payload\r\n\r\nType:\t\t\tTSr\r\n\r\n\r\nTraffic Selector - Responder\r\n\r\n");
}

TEST(V2Payload, ConfigurationAttributes) {
  auto conf = ReadOnePayload(
      "<Payload Type=\"Conf\">\n"
      "\t<CFG_Type>CFG_REPLY</CFG_Type>\n"
      "\t<Attr>\n\t\t<Type>INTERNAL_IP4_ADDRESS</Type>\n\t\t<Value>10.1.1.1</Value>\n\t</Attr>\n"
      "\t<Attr>\n\t\t<Type>VENDOR_X</Type>\n\t\t<Value>7</Value>\n\t</Attr>\n"
      "</Payload>\n");
  EXPECT_EQ(conf->Caption(), "Configuration CFG_REPLY");
  EXPECT_EQ(conf->DetailText(),
            "CFG_Type\t\tCFG_REPLY\r\nType\t\t\tConf\r\n\r\n"
            "Internal Address:\t10.1.1.1\r\n"
            "VENDOR_X:\t\t7\r\n");
}

}  // namespace
}  // namespace quillon
