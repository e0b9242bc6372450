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

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::string part;
  std::istringstream in(text);
  while (std::getline(in, part, separator)) parts.push_back(part);
  if (!text.empty() && text.back() == separator) parts.emplace_back();
  return parts;
}

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

bool HaveTshark() { return RunShell("command -v tshark >/dev/null").status == 0; }

// tshark's columns of `capture` (frame.protocols, then `fields`), one row per packet; every
// packet without a malformed mark and without an expert mark of `severity` or above.
std::vector<std::vector<std::string>> Dissect(const std::string& capture, const std::vector<std::string>& fields,
                                              unsigned long severity) {
  std::string command = "tshark -r '" + capture + "' -T fields -E occurrence=a -E aggregator=, -e frame.protocols " +
                        "-e _ws.malformed -e _ws.expert.severity";
  for (const std::string& field : fields) command += " -e " + field;
  const auto run = RunShell(command);
  EXPECT_EQ(run.status, 0) << run.err;
  std::vector<std::vector<std::string>> rows;
  for (const std::string& row : Split(run.out, '\n')) {
    if (row.empty()) continue;
    rows.push_back(Split(row, '\t'));
    const std::vector<std::string>& columns = rows.back();
    EXPECT_EQ(columns.size(), fields.size() + 3) << row;
    if (columns.size() < 3) continue;
    EXPECT_EQ(columns[1], "") << row;
    for (const std::string& mark : Split(columns[2], ',')) EXPECT_LT(std::stoul(mark), severity) << row;
  }
  return rows;
}

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
  // Expert marks: only comments (the packet comment itself), no error; no warning either,
  // except Wireshark's own about MD5-Challenge, the EAP method an IKEv2 log may name.
  const auto rows = Dissect(capture, fields, ikev2 ? 0x00800000ul : 0x00600000ul);
  const std::vector<std::vector<std::string>> notifyNames = ikev2 ? NotifyNames(capture) : decltype(notifyNames){};
  std::vector<const LogNode*> packets;
  CollectPackets(*loaded.log, packets);
  ASSERT_EQ(rows.size(), packets.size());
  for (std::size_t i = 0; i < packets.size(); ++i) {
    SCOPED_TRACE("packet " + std::to_string(i + 1) + ": " + packets[i]->Caption());
    const std::vector<std::string>& columns = rows[i];
    ASSERT_EQ(columns.size(), fields.size() + 3);
    EXPECT_NE(columns[0].find(":isakmp"), std::string::npos) << columns[0];  // an EAP payload adds ":eap"
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

// Damaged blocks and values the export cannot put on the wire. Every packet is still written
// and dissects without a malformed mark or an expert mark of the case's severity; the packet
// comment names each value the log lacked, left out or replaced.
TEST(PacketCaptureTest, DamagedPacketsAreWrittenWithWhatIsKnownAndSaySo) {
  const std::string tsr = "TSr\">\n\t\t\t\t<TrafficSelector Type=\"TS_IPV4_ADDR_RANGE\">\n\t\t\t\t\t<proto>0</proto>"
                          "<ports>0-65535</ports><range>";
  struct Case {
    const char* sample;
    std::vector<std::pair<std::string, std::string>> replace;  // the first of each, which must be there
    std::vector<const char*> notes;
    unsigned long severity;
  };
  const Case cases[] = {
      // A vendor ID without its bytes, a nonce whose length disagrees with its data.
      {"small.ilx",
       {{"\tVID Data: 51 26 b1 f5 cb 22 98 18 00 7a 31 5f 38 e7 29 0a 11 86 dc f3 \n", ""},
        {"\tLength: 00 24 (36)\n\tNonceData:", "\tLength: 00 30 (48)\n\tNonceData:"}},
       {"Vendor ID: the log names the vendor (Morrowvale Gateway) but holds no ID bytes\n"
        "Vendor ID: 20 bytes not in the log, written as zeros",
        "Nonce: 12 bytes not in the log, written as zeros"},
       0x00600000ul},
      // A transform and a notify type of no known name, an SPI and a range that do not read, an
      // IPv6 selector.
      {"ikev2-remote-access.xml",
       {{"<encr>AES-CBC-128</encr><encr>3DES</encr>", "<encr>Twofish-CBC-512</encr><encr>3DES</encr>"},
        {"<Type>Rekey SA</Type>", "<Type>Please rekey</Type>"},
        {"<prop ID=\"1\" Protocol=\"ESP\" SPI=\"0f3399a6\">", "<prop ID=\"1\" Protocol=\"ESP\" SPI=\"0f33zz\">"},
        {tsr + "0.0.0.0 - 255.255.255.255", tsr + "10.0.0.0 to 10.0.0.255"},
        {"<TrafficSelector Type=\"TS_IPV4_ADDR_RANGE\">", "<TrafficSelector Type=\"TS_IPV6_ADDR_RANGE\">"}},
       {"proposal 1: encr \"Twofish-CBC-512\" not known, transform not written",
        "Notify type: \"Please rekey\" not known, written as 0",
        "proposal 1: SPI \"0f33zz\" is no hexadecimal SPI, none written",
        "TSi selector 1: type \"TS_IPV6_ADDR_RANGE\" not written (IPv4 ranges only)",
        "TSr selector 1: range \"10.0.0.0 to 10.0.0.255\" does not read", "Key Exchange: data not in the log, none written",
        "Nonce: data not in the log, 32 zero bytes written",
        "The log shows the payloads of the Encrypted payload decrypted"},
       0x00800000ul},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sample);
    std::string log = testing::ExampleText(c.sample);
    for (const auto& [from, to] : c.replace) Replace(log, from, to);
    const std::string path = ScratchPath(std::string("damaged-") + c.sample).string();
    testing::WriteFileBytes(path, log);
    OpenLogResult loaded = OpenLog(path);
    ASSERT_EQ(loaded.status, OpenLogResult::Status::kLoaded);
    StringSink capture;
    hand_over::PacketCaptureCounts counts;
    EXPECT_TRUE(hand_over::WritePacketCapture(*loaded.log, capture, counts));
    EXPECT_EQ(counts.written, CountTree(*loaded.log).packets);
    if (!loaded.log->IsIKEv2()) {
      EXPECT_EQ(counts.incomplete, 2u);
    }
    for (const char* note : c.notes) EXPECT_NE(capture.text.find(note), std::string::npos) << note;
    if (!HaveTshark()) continue;
    const std::string pcap = ScratchPath("damaged.pcapng").string();
    testing::WriteFileBytes(pcap, capture.text);
    EXPECT_EQ(Dissect(pcap, {}, c.severity).size(), counts.written);
  }
}

}  // namespace
}  // namespace quillon
