// Builders of small IKEv2 XML logs in the daemon's line layout, for the IKEv2 reader tests.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "ikev2/LogLineReader.h"
#include "ikev2/V2Exchange.h"
#include "ikev2/V2Payloads.h"

namespace quillon::v2test {

struct Msg {
  std::string response = "No";
  std::string date = "2008-01-15";
  std::string time = "10:01:02";
  std::string id = "0";
  std::string initSpi = "4f1a9c22d07e55b3";
  std::string respSpi = "0000000000000000";
  std::string payloads;  // <Payload> elements, each line ending in "\n"
};

inline std::string MessageXml(const Msg& m) {
  return "\t<Message Response=\"" + m.response + "\">\n"
         "\t\t<arrivalTime>" + m.date + "T" + m.time + "</arrivalTime>\n"
         "\t\t<MsgID>" + m.id + "</MsgID>\n"
         "\t\t<initSPI>" + m.initSpi + "</initSPI>\n"
         "\t\t<respSPI>" + m.respSpi + "</respSPI>\n"
         "\t\t<Next>SecurityAssociation</Next>\n"
         "\t\t<Version>2.0</Version>\n"
         "\t\t<Type>IKE_SA_INIT</Type>\n"
         "\t\t<Length>336</Length>\n"
         "\t\t<Payloads>\n" + m.payloads +
         "\t\t</Payloads>\n"
         "\t</Message>\n";
}

// A <Payload> element of the given type around `body` (element lines, each ending in "\n").
inline std::string PayloadXml(const std::string& type, const std::string& body = "") {
  return "<Payload Type=\"" + type + "\">\n" + body + "</Payload>\n";
}

inline std::string ExchangeXml(const std::string& attributes, const std::string& peer,
                               const std::vector<Msg>& messages, const std::string& trailing = "") {
  std::string text = "<Exchange\n " + attributes + ">\n<peerIP>" + peer + "</peerIP>\n";
  for (const Msg& m : messages) text += MessageXml(m);
  return text + trailing + "</Exchange>\n";
}

// A request at 10:01:02 and its response at 10:01:03.
inline std::vector<Msg> RequestAndResponse(const std::string& requestPayloads = "",
                                           const std::string& responsePayloads = "") {
  Msg request;
  request.payloads = requestPayloads;
  Msg response;
  response.response = "Yes";
  response.time = "10:01:03";
  response.respSpi = "a2c4e6f8091b3d5f";
  response.payloads = responsePayloads;
  return {request, response};
}

inline std::unique_ptr<v2Exchange> ReadExchange(const std::string& text) {
  LogLineReader reader = LogLineReader::FromText(text);
  LineCursor cursor(reader);
  return std::make_unique<v2Exchange>(cursor);
}

// Reads the payload whose opening line is the first line of `text`.
inline std::unique_ptr<v2Payload> ReadOnePayload(const std::string& text) {
  LogLineReader reader = LogLineReader::FromText(text);
  LineCursor cursor(reader);
  cursor.Next();
  return ReadPayload(cursor);
}

}  // namespace quillon::v2test
