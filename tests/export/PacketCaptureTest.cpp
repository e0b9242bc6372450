// The packet capture read back by tshark: every packet of the sample logs and of generated
// logs must dissect as ISAKMP without a warning or an error, and the fields Wireshark reads
// must be the ones the log holds (compared with the loaded tree's fields, not with what the
// export computed).
#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <map>
#include <sstream>
#include <string>
#include <vector>

// ShellRun.h first: its ::testing must not be taken for quillon::testing of ScratchDir.h.
#include "../cli/ShellRun.h"
#include "../ScratchDir.h"
#include "bench/LogGenerator.h"
#include "export/IkeV2Packet.h"
#include "export/IsakmpPacket.h"
#include "export/PacketCapture.h"
#include "ikev1/log/Header.h"
#include "ikev1/payloads/AttributePayload.h"
#include "ikev1/payloads/CHREPayload.h"
#include "ikev1/payloads/CertPayloads.h"
#include "ikev1/payloads/DeletePayload.h"
#include "ikev1/payloads/IDPayload.h"
#include "ikev1/payloads/IsakmpValue.h"
#include "ikev1/payloads/KeyMaterialPayloads.h"
#include "ikev1/payloads/NatOAPayload.h"
#include "ikev1/payloads/NotifyPayload.h"
#include "ikev1/payloads/SAPayload.h"
#include "ikev1/payloads/VendorIDPayload.h"
#include "ikev2/V2Exchange.h"
#include "ikev2/V2Payloads.h"
#include "logs/OpenLog.h"
#include "model/TreeCounts.h"

namespace quillon {
namespace {

using testing::ExamplePath;
using testing::ScratchPath;
using testing_support::RunShell;

// The fields compared, in the order tshark prints them.
const std::vector<std::string> kFields = {
    "isakmp.ispi",          "isakmp.rspi",          "isakmp.exchangetype",   "isakmp.messageid",
    "isakmp.typepayload",   "isakmp.payloadlength", "isakmp.prop.number",    "isakmp.trans.number",
    "isakmp.trans.id",      "isakmp.ike.attr.type", "isakmp.ike.attr.value", "isakmp.ipsec.attr.type",
    "isakmp.ipsec.attr.value", "isakmp.cfg.attr.type", "isakmp.spi",          "isakmp.notify.msgtype",
    "isakmp.id.type",       "isakmp.delete.spi"};

using Fields = std::map<std::string, std::vector<std::string>>;

std::string Hex(const ByteList& list) {
  std::string out;
  char byte[4];
  for (std::uint32_t b : list) {
    std::snprintf(byte, sizeof byte, "%02x", b & 0xFF);
    out += byte;
  }
  return out;
}

std::uint32_t Length(const PayloadFields& fields) { return ByteListValue(fields.length); }

void AddAttributes(const LogNode& owner, Fields& f, const std::string& prefix, bool values = true) {
  for (const auto& child : owner.Children()) {
    const IsakmpValue* value = AsAttributeValue(*child);
    if (value == nullptr) continue;
    f[prefix + ".type"].push_back(std::to_string(ByteListValue(value->Attribute()) & 0x7FFF));
    if (values) f[prefix + ".value"].push_back(Hex(value->Val()));
  }
}

// The generic fields of a payload of one of the `Kinds`; null for any other node.
template <class... Kinds>
const PayloadFields* FieldsOf(const LogNode& payload) {
  const PayloadFields* fields = nullptr;
  ((fields = fields != nullptr                                  ? fields
             : dynamic_cast<const Kinds*>(&payload) != nullptr ? &static_cast<const Kinds&>(payload).Fields()
                                                                : nullptr),
   ...);
  return fields;
}

// What the tree says Wireshark should read of one packet.
Fields ExpectedFields(const LogNode& packet) {
  const auto& header = static_cast<const Header&>(*packet.Child(0));
  Fields f;
  f["isakmp.ispi"] = {Hex(header.InitCookie())};
  f["isakmp.rspi"] = {Hex(header.RespCookie())};
  f["isakmp.exchangetype"] = {std::to_string(header.ExchangeType())};
  char id[16];
  std::snprintf(id, sizeof id, "0x%08x", header.MsgIdValue());
  f["isakmp.messageid"] = {id};
  std::uint32_t type = header.NextPayload();
  for (std::size_t i = 1; i < packet.ChildCount(); ++i) {
    const LogNode& p = *packet.Child(i);
    f["isakmp.typepayload"].push_back(std::to_string(type));
    if (const auto* sa = dynamic_cast<const SAPayload*>(&p)) {
      f["isakmp.payloadlength"].push_back(std::to_string(Length(sa->Fields())));
      for (std::size_t j = 0; j < sa->ProposalCount(); ++j) {
        const PropPayload& prop = *sa->Proposal(j);
        f["isakmp.typepayload"].push_back("2");
        f["isakmp.payloadlength"].push_back(std::to_string(Length(prop.Fields())));
        f["isakmp.prop.number"].push_back(std::to_string(prop.PropNum()));
        if (!prop.SPI().empty()) f["isakmp.spi"].push_back(Hex(prop.SPI()));
        for (std::size_t k = 0; k < prop.TransformCount(); ++k) {
          const TransPayload& trans = *prop.Transform(k);
          f["isakmp.typepayload"].push_back("3");
          f["isakmp.payloadlength"].push_back(std::to_string(Length(trans.Fields())));
          f["isakmp.trans.number"].push_back(std::to_string(trans.TransNum()));
          f["isakmp.trans.id"].push_back(std::to_string(trans.TransId()));
          AddAttributes(trans, f, prop.ProtId() == 1 ? "isakmp.ike.attr" : "isakmp.ipsec.attr");
        }
      }
      type = sa->Fields().nextPld;
      continue;
    }
    if (const auto* idp = dynamic_cast<const IDPayload*>(&p)) {
      f["isakmp.id.type"].push_back(std::to_string(idp->IdType()));
    } else if (const auto* n = dynamic_cast<const NotifyPayload*>(&p)) {
      f["isakmp.notify.msgtype"].push_back(std::to_string(n->NotifyTypeValue()));
      if (!n->SPI().empty()) f["isakmp.spi"].push_back(Hex(n->SPI()));
    } else if (const auto* d = dynamic_cast<const DeletePayload*>(&p)) {
      const auto size = static_cast<std::size_t>(d->SPISize());
      for (std::size_t at = 0; size > 0 && at + size <= d->SPIs().size(); at += size)
        f["isakmp.delete.spi"].push_back(Hex(ByteList(d->SPIs().begin() + static_cast<std::ptrdiff_t>(at),
                                                      d->SPIs().begin() + static_cast<std::ptrdiff_t>(at + size))));
    } else if (const auto* a = dynamic_cast<const AttributePayload*>(&p)) {
      AddAttributes(*a, f, "isakmp.cfg.attr", false);
    }
    const PayloadFields* fields =
        FieldsOf<KeyMaterialPayload, IDPayload, NotifyPayload, DeletePayload, AttributePayload, VendorIDPayload,
                 CertPayload, CertReqPayload, NatOAPayload, CHREPayload>(p);
    if (fields == nullptr) {
      f["isakmp.typepayload"].pop_back();
      continue;
    }
    f["isakmp.payloadlength"].push_back(std::to_string(Length(*fields)));
    type = fields->nextPld;
  }
  return f;
}

// The fields compared for IKEv2: the header, the payload chain (proposals and transforms
// included), SPIs and traffic selectors. Notify types are compared by name (NotifyNames).
const std::vector<std::string> kV2Fields = {
    "isakmp.ispi",          "isakmp.rspi",        "isakmp.exchangetype", "isakmp.messageid",
    "isakmp.typepayload",   "isakmp.prop.number", "isakmp.spi",          "isakmp.delete.spi",
    "isakmp.ts.type",       "isakmp.ts.protoid",  "isakmp.ts.start_port", "isakmp.ts.end_port",
    "isakmp.ts.start_ipv4", "isakmp.ts.end_ipv4"};

// Letters and digits in upper case: "No proposal chosen" and NO_PROPOSAL_CHOSEN compare equal.
std::string Key(std::string_view text) {
  std::string key;
  for (const char c : text)
    if (std::isalnum(static_cast<unsigned char>(c)) != 0) key += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return key;
}

std::vector<std::string> Split(const std::string& text, char separator);

// What Wireshark should read of an IKEv2 message: the XML's values, and the payload types of
// RFC 7296 for the names the log gives the payloads.
Fields ExpectedIKEv2Fields(const v2Message& message) {
  const std::map<std::string, std::string> payloadTypes = {
      {"SECURITYASSOCIATION", "33"}, {"KEYEXCHANGE", "34"}, {"IDI", "35"},    {"IDR", "36"},  {"CERT", "37"},
      {"CERTREQ", "38"},            {"AUTH", "39"},        {"NONCE", "40"},  {"NOTIFY", "41"}, {"DELETE", "42"},
      {"TSI", "44"},                {"TSR", "45"},         {"CONF", "47"},   {"EAP", "48"}};
  const std::map<std::string, std::string> exchangeTypes = {
      {"IKE_SA_INIT", "34"}, {"IKE_AUTH", "35"}, {"CREATE_CHILD_SA", "36"}, {"INFORMATIONAL", "37"}};
  Fields f;
  f["isakmp.ispi"] = {std::string(message.InitiatorSpiView())};
  f["isakmp.rspi"] = {std::string(message.ResponderSpiView())};
  f["isakmp.exchangetype"] = {exchangeTypes.at(message.Type())};
  char id[16];
  std::snprintf(id, sizeof id, "0x%08x", static_cast<unsigned>(std::stoul(message.MessageId())));
  f["isakmp.messageid"] = {id};
  for (const auto& child : message.Children()) {
    const auto& payload = static_cast<const v2Payload&>(*child);
    // The log prints certificates as text: the export leaves them out and says so.
    if (payload.PayloadKindOf() == PayloadKind::kCertificate) continue;
    f["isakmp.typepayload"].push_back(payloadTypes.at(Key(payload.TypeName())));
    const AttributeMap& a = payload.Attributes();
    switch (payload.PayloadKindOf()) {
      case PayloadKind::kSecurityAssociation:
        for (const auto& proposal : payload.Children()) {
          const AttributeMap& p = static_cast<const v2Proposal&>(*proposal).Attributes();
          f["isakmp.typepayload"].push_back("2");
          f["isakmp.prop.number"].push_back(std::string(p.Get("ID")));
          if (!p.Get("SPI").empty()) f["isakmp.spi"].push_back(std::string(p.Get("SPI")));
          for (const char* transform : {"encr", "prf", "integ", "dh", "esn"})
            if (p.contains(transform))
              for (std::size_t n = Split(std::string(p.Get(transform)), ',').size(); n > 0; --n)
                f["isakmp.typepayload"].push_back("3");
        }
        break;
      case PayloadKind::kNotify:
        if (!a.Get("SPI").empty()) f["isakmp.spi"].push_back(std::string(a.Get("SPI")));
        break;
      case PayloadKind::kDelete: f["isakmp.delete.spi"].push_back(std::string(a.Get("SPI"))); break;
      case PayloadKind::kTrafficSelectors:
        for (const auto& selector : payload.Children()) {
          const AttributeMap& ts = static_cast<const v2TrafficSelector&>(*selector).Attributes();
          const std::string ports(ts.Get("ports")), range(ts.Get("range"));
          f["isakmp.ts.type"].push_back("7");  // TS_IPV4_ADDR_RANGE
          f["isakmp.ts.protoid"].push_back(std::string(ts.Get("proto")));
          f["isakmp.ts.start_port"].push_back(ports.substr(0, ports.find('-')));
          f["isakmp.ts.end_port"].push_back(ports.substr(ports.find('-') + 1));
          f["isakmp.ts.start_ipv4"].push_back(range.substr(0, range.find(" - ")));
          f["isakmp.ts.end_ipv4"].push_back(range.substr(range.find(" - ") + 3));
        }
        break;
      default: break;
    }
  }
  return f;
}

// The notify types the tree names, one list per IKEv2 message, as Key()s.
std::vector<std::string> TreeNotifyNames(const v2Message& message) {
  std::vector<std::string> names;
  for (const auto& child : message.Children())
    if (static_cast<const v2Payload&>(*child).PayloadKindOf() == PayloadKind::kNotify)
      names.push_back(Key(static_cast<const v2Payload&>(*child).Attributes().Get("Type")));
  return names;
}

// Wireshark's names of the notify types in each frame of `capture` ("Notify Message Type:
// NO_PROPOSAL_CHOSEN (14)"), as Key()s.
std::vector<std::vector<std::string>> NotifyNames(const std::string& capture) {
  const auto run = RunShell("tshark -r '" + capture + "' -V -O isakmp");
  std::vector<std::vector<std::string>> frames;
  for (const std::string& line : Split(run.out, '\n')) {
    if (line.starts_with("Frame ")) frames.emplace_back();
    const std::size_t at = line.find("Notify Message Type: ");
    if (at != std::string::npos && !frames.empty())
      frames.back().push_back(Key(line.substr(at + 21, line.rfind(" (") - at - 21)));
  }
  return frames;
}

void CollectPackets(const LogNode& node, std::vector<const LogNode*>& out) {
  if (hand_over::IKEv1PacketHeader(node) != nullptr || (hand_over::InIKEv2Log(node) && node.Is(NodeKind::kPacket))) {
    out.push_back(&node);
    return;
  }
  for (const auto& child : node.Children()) CollectPackets(*child, out);
}

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::string part;
  std::istringstream in(text);
  while (std::getline(in, part, separator)) parts.push_back(part);
  if (!text.empty() && text.back() == separator) parts.emplace_back();
  return parts;
}

bool HaveTshark() { return RunShell("command -v tshark >/dev/null").status == 0; }

// Exports `log`, dissects the capture with one tshark run and compares packet by packet.
void CheckCapture(const std::string& log, const std::string& name) {
  SCOPED_TRACE(name);
  OpenLogResult loaded = OpenLog(log);
  ASSERT_EQ(loaded.status, OpenLogResult::Status::kLoaded);
  const bool ikev2 = loaded.log->IsIKEv2();
  const std::string capture = ScratchPath(name + ".pcapng").string();
  {
    StringSink sink;
    hand_over::PacketCaptureCounts counts;
    ASSERT_TRUE(hand_over::WritePacketCapture(*loaded.log, sink, counts));
    EXPECT_EQ(counts.written, CountTree(*loaded.log).packets);
    // No IKEv1 packet of these logs lacks anything; an IKEv2 message lacks its key material.
    if (!ikev2) {
      EXPECT_EQ(counts.incomplete, 0u);
    }
    testing::WriteFileBytes(capture, sink.text);
  }
  const std::vector<std::string>& fields = ikev2 ? kV2Fields : kFields;
  std::string command = "tshark -r '" + capture + "' -T fields -E occurrence=a -E aggregator=, -e frame.protocols " +
                        "-e _ws.malformed -e _ws.expert.severity";
  for (const std::string& field : fields) command += " -e " + field;
  const auto run = RunShell(command);
  ASSERT_EQ(run.status, 0) << run.err;
  const std::vector<std::vector<std::string>> notifyNames = ikev2 ? NotifyNames(capture) : decltype(notifyNames){};

  std::vector<const LogNode*> packets;
  CollectPackets(*loaded.log, packets);
  const std::vector<std::string> rows = Split(run.out, '\n');
  ASSERT_EQ(rows.size(), packets.size() + 1);  // the last line end
  for (std::size_t i = 0; i < packets.size(); ++i) {
    SCOPED_TRACE("packet " + std::to_string(i + 1) + ": " + packets[i]->Caption());
    const std::vector<std::string> columns = Split(rows[i], '\t');
    ASSERT_EQ(columns.size(), fields.size() + 3) << rows[i];
    EXPECT_NE(columns[0].find(":isakmp"), std::string::npos) << columns[0];  // an EAP payload adds ":eap"
    EXPECT_EQ(columns[1], "");
    // Expert marks: only comments (the packet comment itself), no error; no warning either,
    // except Wireshark's own about MD5-Challenge, the EAP method an IKEv2 log may name.
    for (const std::string& severity : Split(columns[2], ','))
      EXPECT_LT(std::stoul(severity), ikev2 ? 0x00800000ul : 0x00600000ul) << columns[2];
    const auto* v2 = ikev2 ? static_cast<const v2Message*>(packets[i]) : nullptr;
    const Fields expected = v2 != nullptr ? ExpectedIKEv2Fields(*v2) : ExpectedFields(*packets[i]);
    for (std::size_t k = 0; k < fields.size(); ++k) {
      std::string joined;
      if (const auto it = expected.find(fields[k]); it != expected.end()) {
        for (const std::string& value : it->second) joined += (joined.empty() ? "" : ",") + value;
      }
      EXPECT_EQ(columns[k + 3], joined) << fields[k];
    }
    if (v2 != nullptr) {
      ASSERT_EQ(notifyNames.size(), packets.size());
      EXPECT_EQ(notifyNames[i], TreeNotifyNames(*v2));
    }
  }
}

TEST(PacketCaptureTest, TsharkReadsEveryPacketWithTheLoggedFields) {
  if (!HaveTshark()) GTEST_SKIP() << "tshark is not installed (scripts/deps.sh installs it)";
  for (const char* sample : {"small.ilx", "gateway-day.ilx", "ikev2-remote-access.xml", "ikev2-site-to-site.xml"})
    CheckCapture(ExamplePath(sample).string(), sample);
  const std::string generated = ScratchPath("generated.ilx").string();
  bench::WriteDebugLog(generated, 600u << 10, 30);
  CheckCapture(generated, "generated.ilx");
  const std::string generatedV2 = ScratchPath("generated.xml").string();
  bench::WriteIKEv2Log(generatedV2, 400u << 10, 30);
  CheckCapture(generatedV2, "generated.xml");
}

// Replaces the first `from` of `text`, which must be there.
void Replace(std::string& text, std::string_view from, std::string_view to) {
  const std::size_t at = text.find(from);
  ASSERT_NE(at, std::string::npos) << from;
  text.replace(at, from.size(), to);
}

// Writes `log` as `name`, loads it and exports every packet; the capture's bytes.
std::string ExportDamaged(const std::string& log, const std::string& name, hand_over::PacketCaptureCounts& counts) {
  const std::string path = ScratchPath(name).string();
  testing::WriteFileBytes(path, log);
  OpenLogResult loaded = OpenLog(path);
  EXPECT_EQ(loaded.status, OpenLogResult::Status::kLoaded);
  if (loaded.log == nullptr) return {};
  StringSink sink;
  EXPECT_TRUE(hand_over::WritePacketCapture(*loaded.log, sink, counts));
  EXPECT_EQ(counts.written, CountTree(*loaded.log).packets);
  return sink.text;
}

// tshark reads every packet of `capture` without a malformed mark or an expert mark of
// `severity` or above.
void ExpectDissectsCleanly(const std::string& capture, std::size_t packets, unsigned long severity) {
  const std::string path = ScratchPath("damaged.pcapng").string();
  testing::WriteFileBytes(path, capture);
  const auto run =
      RunShell("tshark -r '" + path + "' -T fields -E occurrence=a -E aggregator=, -e _ws.malformed -e _ws.expert.severity");
  ASSERT_EQ(run.status, 0) << run.err;
  const std::vector<std::string> rows = Split(run.out, '\n');
  ASSERT_EQ(rows.size(), packets + 1);
  for (std::size_t i = 0; i + 1 < rows.size(); ++i) {
    const std::vector<std::string> columns = Split(rows[i], '\t');
    ASSERT_EQ(columns.size(), 2u) << rows[i];
    EXPECT_EQ(columns[0], "");
    for (const std::string& mark : Split(columns[1], ',')) EXPECT_LT(std::stoul(mark), severity);
  }
}

// Damaged blocks: a vendor ID without its bytes, a nonce whose length disagrees with its data.
// Every packet is still written and dissects; the comment says what the log lacked.
TEST(PacketCaptureTest, DamagedPacketsAreWrittenWithWhatIsKnownAndSaySo) {
  std::string log = testing::ExampleText("small.ilx");
  Replace(log, "\tVID Data: 51 26 b1 f5 cb 22 98 18 00 7a 31 5f 38 e7 29 0a 11 86 dc f3 \n", "");
  Replace(log, "\tLength: 00 24 (36)\n\tNonceData:", "\tLength: 00 30 (48)\n\tNonceData:");
  hand_over::PacketCaptureCounts counts;
  const std::string capture = ExportDamaged(log, "damaged.ilx", counts);
  EXPECT_EQ(counts.incomplete, 2u);
  EXPECT_NE(capture.find("Vendor ID: the log names the vendor (Morrowvale Gateway) but holds no ID bytes\n"
                         "Vendor ID: 20 bytes not in the log, written as zeros"),
            std::string::npos);
  EXPECT_NE(capture.find("Nonce: 12 bytes not in the log, written as zeros"), std::string::npos);
  if (!HaveTshark()) GTEST_SKIP() << "tshark is not installed (scripts/deps.sh installs it)";
  ExpectDissectsCleanly(capture, counts.written, 0x00600000ul);
}

// IKEv2 values the export cannot put on the wire: a transform and a notify type of no known
// name, an SPI and a range that do not read, an IPv6 selector. Every message is still written
// and dissects cleanly; the comment names each value left out or replaced.
TEST(PacketCaptureTest, IKEv2ValuesThatCannotBeRebuiltAreNamedInTheComment) {
  std::string log = testing::ExampleText("ikev2-remote-access.xml");
  Replace(log, "<encr>AES-CBC-128</encr><encr>3DES</encr>", "<encr>Twofish-CBC-512</encr><encr>3DES</encr>");
  Replace(log, "<Type>Rekey SA</Type>", "<Type>Please rekey</Type>");
  Replace(log, "<prop ID=\"1\" Protocol=\"ESP\" SPI=\"0f3399a6\">", "<prop ID=\"1\" Protocol=\"ESP\" SPI=\"0f33zz\">");
  const std::string tsr = "TSr\">\n\t\t\t\t<TrafficSelector Type=\"TS_IPV4_ADDR_RANGE\">\n\t\t\t\t\t<proto>0</proto>"
                          "<ports>0-65535</ports><range>";
  Replace(log, tsr + "0.0.0.0 - 255.255.255.255", tsr + "10.0.0.0 to 10.0.0.255");
  Replace(log, "<TrafficSelector Type=\"TS_IPV4_ADDR_RANGE\">", "<TrafficSelector Type=\"TS_IPV6_ADDR_RANGE\">");
  hand_over::PacketCaptureCounts counts;
  const std::string capture = ExportDamaged(log, "damaged-v2.xml", counts);
  for (const char* note : {"proposal 1: encr \"Twofish-CBC-512\" not known, transform not written",
                           "Notify type: \"Please rekey\" not known, written as 0",
                           "proposal 1: SPI \"0f33zz\" is no hexadecimal SPI, none written",
                           "TSi selector 1: type \"TS_IPV6_ADDR_RANGE\" not written (IPv4 ranges only)",
                           "TSr selector 1: range \"10.0.0.0 to 10.0.0.255\" does not read",
                           "Key Exchange: data not in the log, none written",
                           "Nonce: data not in the log, 32 zero bytes written",
                           "The log shows the payloads of the Encrypted payload decrypted"})
    EXPECT_NE(capture.find(note), std::string::npos) << note;
  if (!HaveTshark()) GTEST_SKIP() << "tshark is not installed (scripts/deps.sh installs it)";
  ExpectDissectsCleanly(capture, counts.written, 0x00800000ul);
}

}  // namespace
}  // namespace quillon
