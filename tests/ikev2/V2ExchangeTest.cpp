#include "ikev2/V2Exchange.h"

#include <gtest/gtest.h>

#include <cstdint>
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
const std::string kDelete = v2test::PayloadXml("Delete", "<SPI>c3a81f07</SPI>\n");
const std::string kChildSA =
    v2test::PayloadXml("SecurityAssociation", "<prop ID=\"1\" Protocol=\"ESP\" SPI=\"0f3399a6\">\n</prop>\n");

std::string IdPayload(const std::string& data) {
  return v2test::PayloadXml("IDr", "<Type>IPV4_ADDR</Type>\n<Data>" + data + "</Data>\n");
}

TEST(V2Exchange, StartTimeOfTheFirstMessage) {
  auto exchange = ReadExchange("junk before\n" + ExchangeXml(kOk, "192.168.7.1", RequestAndResponse()));
  ASSERT_TRUE(exchange->IsParsed());
  EXPECT_EQ(exchange->MessageCount(), 2u);
  const auto start = exchange->StartTime();
  ASSERT_TRUE(start.has_value());
  EXPECT_EQ((std::vector<int>{start->year, start->month, start->day, start->hour, start->minute, start->second}),
            (std::vector<int>{2008, 1, 15, 10, 1, 2}));
  EXPECT_EQ(exchange->StartTime(), start) << "kept once worked out";
  // Fields out of their range are kept as read, the same at every call.
  Msg late;
  late.time = "47:75:99";
  const auto lateExchange = ReadExchange(ExchangeXml(kOk, "p", {late}));
  ASSERT_TRUE(lateExchange->StartTime().has_value());
  EXPECT_EQ((std::vector<int>{lateExchange->StartTime()->hour, lateExchange->StartTime()->minute}),
            (std::vector<int>{47, 75}));
  // An unreadable date gives no start time, one before the calendar's range an empty one.
  Msg undated;
  undated.date = "15.01.2008";
  EXPECT_FALSE(ReadExchange(ExchangeXml(kOk, "p", {undated}))->StartTime().has_value());
  Msg ancient;
  ancient.date = "1800-01-01";
  EXPECT_EQ(ReadExchange(ExchangeXml(kOk, "p", {ancient}))->StartTime(), CalendarTime{});
}

TEST(V2Exchange, DetailTextListsAttributesButNotTunnelAddresses) {
  auto exchange = ReadExchange(ExchangeXml(
      kOk + " TunnelLocalIP=\"10.1.1.1\" TunnelPeerIP=\"192.168.7.1\" a_rather_long_attribute=\"x\"",
      "192.168.7.1", RequestAndResponse(), "<Note>rekeyed</Note>\n"));
  EXPECT_EQ(exchange->DetailText(),
            "Exchange #3\r\n\r\nDir\t\t\tOutbound\r\nNote\t\t\trekeyed\r\nType\t\t\tInitial\r\n"
            "a_rather_long_attribute\tx\r\nfinal_status\t\tsuccess\r\nserial\t\t\t3\r\n");
  EXPECT_EQ(exchange->TunnelLocalIP(), 0x0A010101u);
  EXPECT_EQ(exchange->TunnelPeerIP(), 0xC0A80701u);

  // One tunnel attribute alone gives no tunnel at all (0.0.0.0 <=> 0.0.0.0).
  auto half = ReadExchange(ExchangeXml(kOk + " TunnelLocalIP=\"10.1.1.1\"", "p", {Msg{}}));
  EXPECT_EQ(half->TunnelLocalIP(), 0u);
  EXPECT_EQ(half->TunnelPeerIP(), 0u);
}

TEST(V2Exchange, StartLineMustBeExactAndEmptyExchangesAreDropped) {
  // Blanks before the start, or attributes on the same line, do not start an exchange.
  const std::string body = " " + kOk + ">\n<peerIP>10.0.0.1</peerIP>\n" + v2test::MessageXml(Msg{}) + "</Exchange>\n";
  EXPECT_FALSE(ReadExchange(" <Exchange\n" + body)->IsParsed());
  EXPECT_FALSE(ReadExchange("<Exchange " + body)->IsParsed());
  EXPECT_TRUE(ReadExchange(" <Exchange\n" + body + "<Exchange\n" + body)->IsParsed());
  EXPECT_FALSE(ReadExchange("<Exchange\n" + kOk + ">\n<peerIP>p</peerIP>\n</Exchange>\n")->IsParsed());
  EXPECT_FALSE(ReadExchange("no exchange at all\n")->IsParsed());
}

TEST(V2Exchange, ToleratesBlankPeerLineAndBlanksAfterClosingTagsAndJoinsRepeatedElements) {
  std::string text = ExchangeXml(kOk, "", {Msg{}});
  text.replace(text.find("<peerIP></peerIP>"), 17, " \t ");
  text.replace(text.find("</MsgID>"), 8, "</MsgID> \t ");
  text.replace(text.find("<Type>IKE_SA_INIT</Type>"), 24, "<Type>A</Type><Type>B</Type>");
  auto exchange = ReadExchange(text);
  ASSERT_TRUE(exchange->IsParsed());
  EXPECT_EQ(exchange->PeerText(), "");
  EXPECT_EQ(exchange->MessageAt(0)->MessageId(), "0");
  EXPECT_EQ(exchange->MessageAt(0)->Type(), "A, B");
}

TEST(V2Exchange, CaptionsByKindStatusAndDirection) {
  const std::string info = "final_status=\"success\" Type=\"Informational\" serial=\"7\" Dir=\"Inbound\"";
  std::vector<Msg> sameTime = RequestAndResponse();
  sameTime[1].time = sameTime[0].time;
  const struct {
    std::string attributes;
    std::vector<Msg> messages;
    std::string caption;
    bool complete;
  } cases[] = {
      // Equal first and last times print one time, without " to ".
      {info, sameTime, "DPD 7 <== 2008-01-15 10:01:02", true},
      {info, RequestAndResponse(kDelete, kDelete), "Delete 7 <== 2008-01-15 10:01:02 to 10:01:03", true},
      {info, RequestAndResponse(kChildSA), "Info 7 <== 2008-01-15 10:01:02 to 10:01:03", true},
      // A lone message without payloads is no liveness check.
      {info, {Msg{}}, "Info 7 <== 2008-01-15 10:01:02", true},
      {"final_status=\"failed\" Type=\"Initial\" serial=\"5\" Dir=\"Outbound\"", RequestAndResponse(),
       "Initial 5 ==> 2008-01-15 10:01:02 to 10:01:03 Failed!", false},
      // The daemon's test looks for "success" anywhere in the status.
      {"final_status=\"unsuccessful\" Type=\"Initial\" serial=\"5\"", {Msg{}}, "Initial 5 2008-01-15 10:01:02", true},
      // Only "Inbound" and "Outbound" give a direction arrow.
      {"final_status=\"success\" Type=\"Initial\" serial=\"5\" Dir=\"inbound\"", {Msg{}},
       "Initial 5 2008-01-15 10:01:02", true},
      {"Type=\"Initial\"", {Msg{}}, "Initial  2008-01-15 10:01:02 Failed!", false},
  };
  for (const auto& c : cases) {
    auto exchange = ReadExchange(ExchangeXml(c.attributes, "p", c.messages));
    EXPECT_EQ(exchange->Caption(), c.caption) << c.attributes;
    EXPECT_EQ(exchange->IsComplete(), c.complete) << c.attributes;
  }
  EXPECT_EQ(ReadExchange(ExchangeXml(cases[6].attributes, "p", {Msg{}}))->Direction(), -1);
}

TEST(V2Exchange, BlankLineEndsTheMessageList) {
  const std::vector<Msg> messages = RequestAndResponse();
  auto exchange = ReadExchange("<Exchange\n " + kOk + ">\n<peerIP>p</peerIP>\n" + v2test::MessageXml(messages[0]) +
                               "\n" + v2test::MessageXml(messages[1]) + "</Exchange>\n<Exchange\n");
  ASSERT_TRUE(exchange->IsParsed());
  EXPECT_EQ(exchange->MessageCount(), 1u);
  // The second message's header lines were read as elements of the exchange; its Type even
  // replaces the exchange's own.
  EXPECT_EQ(exchange->Attributes().at("initSPI"), "4f1a9c22d07e55b3");
  EXPECT_EQ(exchange->Caption(), "IKE_SA_INIT 3 ==> 2008-01-15 10:01:02");
}

TEST(V2Exchange, UnreadableMessagesAreDropped) {
  std::string text = ExchangeXml(kOk, "p", RequestAndResponse());
  text.replace(text.find("<MsgID>", text.find("Response=\"Yes\"")), 7, "<MsgId>");
  auto exchange = ReadExchange(text);
  ASSERT_TRUE(exchange->IsParsed());
  EXPECT_EQ(exchange->MessageCount(), 1u);
}

TEST(V2Exchange, SpisOfMessagesAndMatching) {
  auto exchange = ReadExchange(ExchangeXml(kOk, "p", RequestAndResponse(kDelete + kChildSA, kChildSA)));
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
  EXPECT_FALSE(sameSa->MatchesMessage(*ReadExchange(ExchangeXml(kOk, "q", other))));
}

TEST(V2Exchange, IdentityAddressFromTheSenderOfTheIdentity) {
  const std::string auth = "final_status=\"success\" Type=\"Authentication\" serial=\"2\" Dir=";
  const struct {
    std::string dir;
    std::vector<Msg> messages;
    std::uint32_t id;  // 0: no identity address
  } cases[] = {
      {"\"Inbound\"", RequestAndResponse(IdPayload("0.0.1.2")), 258u},
      {"\"Outbound\"", RequestAndResponse("", IdPayload("0.0.1.3")), 259u},
      // Outbound, the request carries our own identity: it does not name the peer.
      {"\"Outbound\"", RequestAndResponse(IdPayload("0.0.1.2")), 0u},
      {"\"Inbound\"", RequestAndResponse(IdPayload("10.0.0.1")), 0u},
  };
  for (const auto& c : cases) {
    auto exchange = ReadExchange(ExchangeXml(auth + c.dir, "p", c.messages));
    EXPECT_EQ(exchange->HasIdAddress(), c.id != 0) << c.dir << c.id;
    if (c.id != 0) {
      EXPECT_EQ(exchange->IdAddress(), c.id);
    }
  }
}

}  // namespace
}  // namespace quillon
