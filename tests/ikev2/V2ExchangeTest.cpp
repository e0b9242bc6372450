#include "ikev2/v2Exchange.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/ikev2/V2TestLogs.h"

namespace quillon {
namespace {

using v2test::ExchangeXml;
using v2test::Msg;
using v2test::ReadExchange;
using v2test::RequestAndResponse;

const std::string kOk = "final_status=\"success\" Type=\"Initial\" serial=\"3\" Dir=\"Outbound\"";

const std::string kDelete = "\t\t\t<Payload Type=\"Delete\">\n\t\t\t\t<SPI>c3a81f07</SPI>\n\t\t\t</Payload>\n";
const std::string kChildSA =
    "\t\t\t<Payload Type=\"SecurityAssociation\">\n"
    "\t\t\t\t<prop ID=\"1\" Protocol=\"ESP\" SPI=\"0f3399a6\">\n"
    "\t\t\t\t</prop>\n"
    "\t\t\t</Payload>\n";

std::string IdPayload(const std::string& data) {
  return "\t\t\t<Payload Type=\"IDr\">\n\t\t\t\t<Type>IPV4_ADDR</Type>\n\t\t\t\t<Data>" + data +
         "</Data>\n\t\t\t</Payload>\n";
}

TEST(V2Exchange, ReadsAnExchangeWithItsMessages) {
  auto exchange = ReadExchange("junk before\n" + ExchangeXml(kOk, "192.168.7.1", RequestAndResponse()));
  ASSERT_TRUE(exchange->IsParsed());
  EXPECT_EQ(exchange->Caption(), "Initial 3 ==> 2008-01-15 10:01:02 to 10:01:03");
  EXPECT_EQ(exchange->PeerText(), "192.168.7.1");
  EXPECT_EQ(exchange->Direction(), 1);
  EXPECT_TRUE(exchange->IsComplete());
  ASSERT_EQ(exchange->MessageCount(), 2u);

  const v2Message& response = *exchange->MessageAt(1);
  EXPECT_EQ(response.Caption(), "Response 0 - 10:01:03");
  EXPECT_EQ(exchange->MessageAt(0)->Caption(), "Message 0 - 10:01:02");
  EXPECT_EQ(response.Date(), "2008-01-15");
  EXPECT_EQ(response.DetailText(),
            "Initiator SPI:\t\t4f1a9c22d07e55b3\r\n"
            "Responder SPI:\t\ta2c4e6f8091b3d5f\r\n"
            "Next payload:\t\tSecurityAssociation\r\n"
            "Version:\t\t2.0\r\n"
            "Type:\t\t\tIKE_SA_INIT\r\n"
            "Message ID:\t\t0\r\n");
  EXPECT_EQ(exchange->InitiatorSpi(), "4f1a9c22d07e55b3");
  EXPECT_EQ(exchange->LastResponderSpi(), "a2c4e6f8091b3d5f");
}

TEST(V2Exchange, DetailTextListsAttributesButNotTunnelAddresses) {
  auto exchange = ReadExchange(ExchangeXml(
      kOk + " TunnelLocalIP=\"10.1.1.1\" TunnelPeerIP=\"192.168.7.1\" a_rather_long_attribute=\"x\"",
      "192.168.7.1", RequestAndResponse(), "<Note>rekeyed</Note>\n"));
  EXPECT_EQ(exchange->DetailText(),
            "Exchange #3\r\n\r\n"
            "Dir\t\t\tOutbound\r\n"
            "Note\t\t\trekeyed\r\n"
            "Type\t\t\tInitial\r\n"
            "a_rather_long_attribute\tx\r\n"
            "final_status\t\tsuccess\r\n"
            "serial\t\t\t3\r\n");
  EXPECT_EQ(exchange->TunnelLocalIP(), 0x0A010101u);
  EXPECT_EQ(exchange->TunnelPeerIP(), 0xC0A80701u);
}

TEST(V2Exchange, StartLineMustBeExact) {
  // Blanks before the start, or attributes on the same line, do not start an exchange.
  const std::string body = " " + kOk + ">\n<peerIP>10.0.0.1</peerIP>\n" + v2test::MessageXml(Msg{}) + "</Exchange>\n";
  EXPECT_FALSE(ReadExchange(" <Exchange\n" + body)->IsParsed());
  EXPECT_FALSE(ReadExchange("<Exchange " + kOk + ">\n<peerIP>10.0.0.1</peerIP>\n" + v2test::MessageXml(Msg{}) +
                            "</Exchange>\n")->IsParsed());
  auto exchange = ReadExchange(" <Exchange\n" + body + "<Exchange\n" + body);
  EXPECT_TRUE(exchange->IsParsed());
}

TEST(V2Exchange, ToleratesBlankPeerLineAndBlanksAfterClosingTags) {
  std::string text = ExchangeXml(kOk, "", {Msg{}});
  text.replace(text.find("<peerIP></peerIP>"), 17, " \t ");
  text.replace(text.find("</MsgID>"), 8, "</MsgID> \t ");
  auto exchange = ReadExchange(text);
  ASSERT_TRUE(exchange->IsParsed());
  EXPECT_EQ(exchange->PeerText(), "");
  EXPECT_EQ(exchange->MessageAt(0)->MessageId(), "0");
}

TEST(V2Exchange, RepeatedHeaderElementIsJoined) {
  std::string text = ExchangeXml(kOk, "10.0.0.1", {Msg{}});
  text.replace(text.find("<Type>IKE_SA_INIT</Type>"), 24, "<Type>A</Type><Type>B</Type>");
  EXPECT_EQ(ReadExchange(text)->MessageAt(0)->Type(), "A, B");
}

TEST(V2Exchange, InformationalCaptions) {
  const std::string info = "final_status=\"success\" Type=\"Informational\" serial=\"7\" Dir=\"Inbound\"";
  std::vector<Msg> same = RequestAndResponse();
  same[1].time = same[0].time;
  EXPECT_EQ(ReadExchange(ExchangeXml(info, "p", same))->Caption(), "DPD 7 <== 2008-01-15 10:01:02");
  EXPECT_EQ(ReadExchange(ExchangeXml(info, "p", RequestAndResponse(kDelete, kDelete)))->Caption(),
            "Delete 7 <== 2008-01-15 10:01:02 to 10:01:03");
  EXPECT_EQ(ReadExchange(ExchangeXml(info, "p", RequestAndResponse(kChildSA)))->Caption(),
            "Info 7 <== 2008-01-15 10:01:02 to 10:01:03");
  // A lone message without payloads is no liveness check.
  EXPECT_EQ(ReadExchange(ExchangeXml(info, "p", {Msg{}}))->Caption(), "Info 7 <== 2008-01-15 10:01:02");
}

TEST(V2Exchange, StatusAndDirection) {
  auto failed = ReadExchange(ExchangeXml("final_status=\"failed\" Type=\"Initial\" serial=\"5\" Dir=\"Outbound\"", "p",
                                         RequestAndResponse()));
  EXPECT_FALSE(failed->IsComplete());
  EXPECT_EQ(failed->Caption(), "Initial 5 ==> 2008-01-15 10:01:02 to 10:01:03 Failed!");

  // The daemon's test looks for "success" anywhere in the status.
  auto unsuccessful = ReadExchange(ExchangeXml("final_status=\"unsuccessful\" Type=\"Initial\" serial=\"5\"", "p", {Msg{}}));
  EXPECT_TRUE(unsuccessful->IsComplete());

  auto sideways = ReadExchange(ExchangeXml("final_status=\"success\" Type=\"Initial\" serial=\"5\" Dir=\"inbound\"", "p", {Msg{}}));
  EXPECT_EQ(sideways->Direction(), -1);
  EXPECT_EQ(sideways->Caption(), "Initial 5 2008-01-15 10:01:02");

  auto noStatus = ReadExchange(ExchangeXml("Type=\"Initial\"", "p", {Msg{}}));
  EXPECT_EQ(noStatus->Caption(), "Initial  2008-01-15 10:01:02 Failed!");
}

TEST(V2Exchange, OneTunnelAttributeAloneGivesNoTunnel) {
  auto exchange = ReadExchange(ExchangeXml(kOk + " TunnelLocalIP=\"10.1.1.1\"", "p", {Msg{}}));
  EXPECT_EQ(exchange->TunnelLocalIP(), 0u);
  EXPECT_EQ(exchange->TunnelPeerIP(), 0u);
}

TEST(V2Exchange, BlankLineEndsTheMessageList) {
  const std::vector<Msg> messages = RequestAndResponse();
  const std::string text = "<Exchange\n " + kOk + ">\n<peerIP>p</peerIP>\n" + v2test::MessageXml(messages[0]) + "\n" +
                           v2test::MessageXml(messages[1]) + "</Exchange>\n<Exchange\n";
  auto exchange = ReadExchange(text);
  ASSERT_TRUE(exchange->IsParsed());
  EXPECT_EQ(exchange->MessageCount(), 1u);
  // The second message's header lines were read as elements of the exchange; its Type even
  // replaces the exchange's own.
  EXPECT_EQ(exchange->Attributes().at("initSPI"), "4f1a9c22d07e55b3");
  EXPECT_EQ(exchange->Caption(), "IKE_SA_INIT 3 ==> 2008-01-15 10:01:02");
}

TEST(V2Exchange, UnreadableMessagesAndEmptyExchangesAreDropped) {
  std::vector<Msg> messages = RequestAndResponse();
  std::string text = ExchangeXml(kOk, "p", messages);
  const std::size_t second = text.find("<MsgID>", text.find("Response=\"Yes\""));
  text.replace(second, 7, "<MsgId>");
  auto exchange = ReadExchange(text);
  ASSERT_TRUE(exchange->IsParsed());
  EXPECT_EQ(exchange->MessageCount(), 1u);

  EXPECT_FALSE(ReadExchange("<Exchange\n" + kOk + ">\n<peerIP>p</peerIP>\n</Exchange>\n")->IsParsed());
  EXPECT_FALSE(ReadExchange("no exchange at all\n")->IsParsed());
}

TEST(V2Exchange, SpisOfMessagesAndMatching) {
  std::vector<Msg> messages = RequestAndResponse(kDelete + kChildSA, kChildSA);
  auto exchange = ReadExchange(ExchangeXml(kOk, "p", messages));
  // The delete comes first in the request, so its SPI is the message's, not the SA's.
  EXPECT_EQ(exchange->MessageAt(0)->FirstSpi(), "c3a81f07");
  EXPECT_EQ(exchange->FirstSpi(), "c3a81f07");
  EXPECT_EQ(exchange->SecondSpi(), "0f3399a6");
  EXPECT_TRUE(exchange->MatchesSpi("0f3399a6"));
  EXPECT_FALSE(exchange->MatchesSpi("4f1a9c22d07e55b3"));
  EXPECT_TRUE(exchange->MatchesCookie("a2c4e6f8091b3d5f"));
  EXPECT_FALSE(exchange->MatchesCookie("A2C4E6F8091B3D5F"));
  EXPECT_FALSE(exchange->MatchesCookie(""));

  auto sameSa = ReadExchange(ExchangeXml(kOk, "q", RequestAndResponse()));
  EXPECT_TRUE(exchange->MatchesMessage(*sameSa));

  // Exchanges of different SAs that carry no payload SPI must not match through the empty SPI.
  std::vector<Msg> other = RequestAndResponse();
  for (Msg& m : other) m.initSpi = "9be03d4417aa6c01";
  auto otherSa = ReadExchange(ExchangeXml(kOk, "q", other));
  EXPECT_FALSE(sameSa->MatchesMessage(*otherSa));
}

TEST(V2Exchange, IdentityAddressFromTheSenderOfTheIdentity) {
  const std::string auth = "final_status=\"success\" Type=\"Authentication\" serial=\"2\" ";
  auto inbound = ReadExchange(ExchangeXml(auth + "Dir=\"Inbound\"", "p", RequestAndResponse(IdPayload("0.0.1.2"))));
  EXPECT_TRUE(inbound->HasIdAddress());
  EXPECT_EQ(inbound->IdAddress(), 258u);

  auto outbound = ReadExchange(ExchangeXml(auth + "Dir=\"Outbound\"", "p", RequestAndResponse("", IdPayload("0.0.1.3"))));
  EXPECT_TRUE(outbound->HasIdAddress());
  EXPECT_EQ(outbound->IdAddress(), 259u);

  // Outbound, the request carries our own identity: it does not name the peer.
  auto ours = ReadExchange(ExchangeXml(auth + "Dir=\"Outbound\"", "p", RequestAndResponse(IdPayload("0.0.1.2"))));
  EXPECT_FALSE(ours->HasIdAddress());
  auto address = ReadExchange(ExchangeXml(auth + "Dir=\"Inbound\"", "p", RequestAndResponse(IdPayload("10.0.0.1"))));
  EXPECT_FALSE(address->HasIdAddress());
}

TEST(V2Exchange, StartTimeFromTheFirstMessage) {
  auto exchange = ReadExchange(ExchangeXml(kOk, "p", RequestAndResponse()));
  const auto start = exchange->StartTime();
  ASSERT_TRUE(start.has_value());
  EXPECT_EQ(start->year, 2008);
  EXPECT_EQ(start->month, 1);
  EXPECT_EQ(start->day, 15);
  EXPECT_EQ(start->hour, 10);
  EXPECT_EQ(start->minute, 1);
  EXPECT_EQ(start->second, 2);

  Msg undated;
  undated.date = "15.01.2008";
  EXPECT_FALSE(ReadExchange(ExchangeXml(kOk, "p", {undated}))->StartTime().has_value());
  Msg ancient;
  ancient.date = "1800-01-01";
  EXPECT_EQ(ReadExchange(ExchangeXml(kOk, "p", {ancient}))->StartTime(), CalendarTime{});
}

}  // namespace
}  // namespace quillon
