#include "ikev2/V2Payloads.h"

#include <algorithm>
#include <cctype>

#include "model/IPv4.h"

namespace quillon {

namespace {

// One "label<tabs>value" line per attribute, in ascending order of the names.
template <typename MakeLabel>
void AppendAttributeLines(std::string& text, const AttributeMap& attributes, MakeLabel makeLabel) {
  for (const auto& [key, value] : attributes) {
    const std::string label = makeLabel(key);
    text += label;
    text += LabelTabs(label);
    text += value;
    text += "\r\n";
  }
}

// The line opens an element of the given name once its leading blanks are skipped.
bool StartsElement(std::string_view line, std::string_view opening) {
  std::string_view view = line;
  return StripToken(view, opening, true);
}

}  // namespace

// ---- labels ---------------------------------------------------------------------------------

std::string_view PayloadDisplayName(std::string_view type) {
  if (type == "KeyExchange") return "Key Exchange";
  if (type == "SecurityAssociation") return "Security Association";
  if (type == "Next") return "Next payload";
  return type;
}

std::string ConfigurationLabel(std::string_view type) {
  if (type == "INTERNAL_IP4_ADDRESS") return "Internal Address:";
  if (type == "INTERNAL_IP4_NETMASK") return "Internal Netmask:";
  if (type == "INTERNAL_IP4_DNS") return "Internal DNS:";
  if (type == "INTERNAL_IP4_NBNS") return "Internal NBNS:";
  if (type == "INTERNAL_ADDRESS_EXPIRY") return "Address Expiry:";
  if (type == "APPLICATION_VERSION") return "Application version:";
  return std::string(type) + ":";
}

std::string ProposalLabel(std::string_view key) {
  if (key == "dh") return "Diffie Helman:";
  if (key == "encr") return "Encryption algorithm:";
  if (key == "integ") return "Integrity algorithm:";
  if (key == "prf") return "Random Function:";
  if (key == "esn") return "Extended Sequence Number:";
  return std::string(key) + ":";
}

namespace {

// The labels of TrafficSelectorLabel that do not repeat the text; empty for the others.
std::string_view FixedTrafficSelectorLabel(std::string_view text) {
  if (text == "TS_IPV4_ADDR_RANGE") return "IPv4 Address Range";
  if (text == "TS_IPV6_ADDR_RANGE") return "IPv6 Address Range";
  if (text.empty()) return "Traffic Selector";
  if (text == "ports") return "Ports:";
  if (text == "proto") return "Protocol:";
  if (text == "range") return "Range:";
  return {};
}

}  // namespace

std::string TrafficSelectorLabel(std::string_view text) {
  const std::string_view fixed = FixedTrafficSelectorLabel(text);
  return !fixed.empty() ? std::string(fixed) : std::string(text) + ":";
}

std::string CALabel(std::string_view key) {
  if (key == "DN") return "CA DN:";
  if (key == "hash") return "Hash:";
  return std::string(key);
}

// ---- v2Payload ------------------------------------------------------------------------------

v2Payload::v2Payload(LineCursor& cursor, bool readBody) {
  SetParsed(true);
  std::string_view line = cursor.Line();
  if (!StripToken(line, "<Payload ", true)) {
    SetParsed(false);
    return;
  }
  ParseAttributes(line, attributes_);
  typeName_.AssignShared(PayloadDisplayName(Attribute("Type")));
  SetName(typeName_);
  if (readBody) ReadBody(cursor);
  attributes_.ShrinkToFit();
}

void v2Payload::ReadBody(LineCursor& cursor, std::string_view stop) {
  cursor.Next();
  while (cursor.HasLine()) {
    const std::string_view line = cursor.Line();
    if (Contains(line, "</Payload>")) break;
    if (!stop.empty() && Contains(line, stop)) break;
    std::string_view tag, value;
    if (cursor.Element(tag, value)) attributes_.Set(tag, value);
    cursor.Next();
  }
}

std::string v2Payload::PayloadText() const {
  std::string text = std::string(typeName_) + " Payload\r\n\r\n";
  AppendAttributeLines(text, attributes_, [](std::string_view key) { return std::string(PayloadDisplayName(key)) + ":"; });
  return text;
}

void v2Payload::AppendDetailText(std::string& out) const { out += PayloadText(); }

// ---- security association -------------------------------------------------------------------

v2SAPayload::v2SAPayload(LineCursor& cursor) : v2Payload(cursor, false) {
  if (!IsParsed()) return;
  SetName("Security Association");
  cursor.Next();
  while (cursor.HasLine()) {
    const std::string_view line = cursor.Line();
    if (Contains(line, "</Payload>") || Contains(line, "</Exchange>")) break;
    if (StartsElement(line, "<prop ")) {
      auto proposal = std::make_unique<v2Proposal>(cursor);
      if (proposal->IsParsed()) {
        std::string spi = proposal->SpiText();
        if (!spi.empty()) spi_ = std::move(spi);
        AppendChild(std::move(proposal));
      }
    } else {
      // The payload's own element lines before its proposals.
      std::string_view tag, value;
      if (cursor.Element(tag, value)) SetAttribute(tag, value);
    }
    cursor.Next();
  }
  ShrinkAttributes();
}

v2Proposal::v2Proposal(LineCursor& cursor) {
  SetParsed(true);
  std::string_view view(cursor.Line());
  const bool opened = StripToken(view, "<prop ", true);
  if (opened) ParseAttributes(view, attributes_);
  cursor.Next();
  if (!opened) {
    SetParsed(false);
    return;
  }
  std::string name = "Proposal ";
  name += attributes_.Touch("ID");
  SetName(std::move(name));
  std::string_view tag, value;
  while (cursor.HasLine() && !Contains(cursor.Line(), "</prop>")) {
    if (cursor.Element(tag, value)) attributes_.Set(tag, value);
    cursor.Next();
  }
  attributes_.Touch("SPI");  // asked for by the security association; a missing one reads as empty
  attributes_.ShrinkToFit();
}

std::string v2Proposal::SpiText() const {
  return std::string(attributes_.Get("SPI"));
}

void v2Proposal::AppendDetailText(std::string& out) const {
  out += "Proposal Payload \r\n\r\n";
  AppendAttributeLines(out, attributes_, [](std::string_view key) { return ProposalLabel(key); });
}

// ---- notify, EAP, delete, identification ----------------------------------------------------

v2NotifyPayload::v2NotifyPayload(LineCursor& cursor) : v2Payload(cursor, true) {
  if (!IsParsed()) return;
  // The body's Type (the notify type) has replaced the line's "Notify".
  // Viewed in the map: nothing below changes the map before the last look at it.
  const std::string_view type = Attribute("Type");
  CaptionText name;
  name += Name();
  if (Contains(type, "NAT detection")) {
    name += " (NAT detection)";
  } else {
    name += " (";
    name.AppendShortened(type);
    name += ")";
  }
  SetName(name.View());
  if (Contains(type, "Invalid SPI")) Attribute("SPI");
}

namespace {

// The error notify types of IKEv2 (RFC 7296 and the RFCs that added to it, types 1 to 16383)
// with letters and digits only. The daemon writes the names for people, in its own case and
// spacing ("No proposal chosen", "Invalid KE payload", "TS unacceptable"); they are compared in
// this form.
constexpr std::string_view kErrorNotifyTypes[] = {
    "UNSUPPORTEDCRITICALPAYLOAD", "INVALIDIKESPI", "INVALIDMAJORVERSION", "INVALIDSYNTAX", "INVALIDMESSAGEID",
    "INVALIDSPI", "NOPROPOSALCHOSEN", "INVALIDKEPAYLOAD", "AUTHENTICATIONFAILED", "SINGLEPAIRREQUIRED",
    "NOADDITIONALSAS", "INTERNALADDRESSFAILURE", "FAILEDCPREQUIRED", "TSUNACCEPTABLE", "INVALIDSELECTORS",
    "UNACCEPTABLEADDRESSES", "UNEXPECTEDNATDETECTED", "USEASSIGNEDHOA", "TEMPORARYFAILURE", "CHILDSANOTFOUND",
    "INVALIDGROUPID", "AUTHORIZATIONFAILED", "STATENOTFOUND", "TSMAXQUEUE"};
constexpr unsigned kLastErrorNotifyType = 16383;

}  // namespace

bool v2NotifyPayload::IsError() const {
  const std::string type = Value("Type");
  std::string key;
  bool digits = !type.empty();
  for (const char c : type) {
    const auto u = static_cast<unsigned char>(c);
    if (std::isalnum(u) != 0) key += static_cast<char>(std::toupper(u));
    if (std::isdigit(u) == 0) digits = false;
  }
  if (digits) {
    // A number: an error below the status types. Long digit runs are far beyond them.
    if (type.size() > 5) return false;
    const unsigned value = static_cast<unsigned>(std::stoul(type));
    return value >= 1 && value <= kLastErrorNotifyType;
  }
  for (const std::string_view error : kErrorNotifyTypes)
    if (key == error) return true;
  return false;
}

std::string v2NotifyPayload::SpiText() const {
  return Contains(Value("Type"), "Invalid SPI") ? Value("SPI") : std::string();
}

v2EAPPayload::v2EAPPayload(LineCursor& cursor) : v2Payload(cursor, true) {
  if (IsParsed()) SetName("EAP " + std::string(Attribute("Code")));
}

v2DeletePayload::v2DeletePayload(LineCursor& cursor) : v2Payload(cursor, true) {
  if (IsParsed()) SetOwnName("Delete " + std::string(Attribute("SPI")));  // an SPI is deleted once
}

v2IDPayload::v2IDPayload(LineCursor& cursor) : v2Payload(cursor, true) {
  if (!IsParsed()) return;
  const std::string data(Attribute("Data"));
  SetName(std::string(Name()) + "  (" + ShortenText(data) + ")");
  if (Attribute("Type") == "IPV4_ADDR") {
    const std::uint32_t address = ParseIPv4(data);
    if (IsLowRangeAddress(address)) {
      hasIdAddress_ = true;
      idAddress_ = address;
    }
  }
}

// ---- certificate request and certificate ----------------------------------------------------

v2CertReqPayload::v2CertReqPayload(LineCursor& cursor) : v2Payload(cursor, false) {
  if (!IsParsed()) return;
  SetName("Certificate Request");
  ReadBody(cursor, "<CA>");
  while (Contains(cursor.Line(), "<CA>")) {
    auto authority = std::make_unique<v2CA>(cursor.Line());
    if (authority->IsParsed()) AppendChild(std::move(authority));
    cursor.Next();
  }
  ShrinkAttributes();
}

void v2CertReqPayload::AppendDetailText(std::string& out) const {
  out += "Certificate Request Payload\r\n\r\n";
  out += PayloadText();
}

v2CA::v2CA(std::string_view line) {
  SetParsed(true);
  if (!StripToken(line, "<CA>", true) || !StripToken(line, "</CA>", false)) {
    SetParsed(false);
    return;
  }
  TakeElementPairs(line, attributes_);
  attributes_.ShrinkToFit();
  const std::string_view dn = attributes_.Touch("DN");
  SetName(dn.empty() ? std::string("CA") : "CA (" + ShortenText(dn) + ")");
}

void v2CA::AppendDetailText(std::string& out) const {
  out += "Certificate Authority \r\n\r\n";
  AppendAttributeLines(out, attributes_, [](std::string_view key) { return CALabel(key); });
}

v2CertPayload::v2CertPayload(LineCursor& cursor) : v2Payload(cursor, false) {
  if (!IsParsed()) return;
  ReadBody(cursor, "<![CDATA[");
  if (Contains(cursor.Line(), "<![CDATA[")) {
    // The certificate as the daemon printed it, one text line per line, indented by tabs.
    while (cursor.Next() && !Contains(cursor.Line(), "]]>")) {
      std::string_view line = cursor.Line();
      line.remove_prefix(std::min(line.size(), line.find_first_not_of('\t')));
      if (line.substr(0, 8) == "Subject:") {
        // "Subject: CN=..., O=...," : the name starts after the blank and loses the trailing
        // separator the daemon leaves at the end of the line.
        subject_ = line.size() >= 11 ? std::string(line.substr(9, line.size() - 10)) : std::string();
      }
      certificateData_ += line;
      certificateData_ += "\r\n";
    }
  }
  SetName("Certificate (" + ShortenText(subject_) + ")");
  ShrinkAttributes();
}

void v2CertPayload::AppendDetailText(std::string& out) const {
  out += "Certificate Payload\r\n\r\n";
  out += PayloadText();
  out += "\r\nCertificate data:\r\n\r\n";
  out += certificateData_;
}

// ---- traffic selectors ----------------------------------------------------------------------

v2TSPayload::v2TSPayload(LineCursor& cursor) : v2Payload(cursor, false) {
  SetParsed(true);  // the selectors are worth showing even under a malformed payload line
  SetName(std::string(Attribute("Type")));
  ReadBody(cursor, "<TrafficSelector");
  while (cursor.HasLine() && !Contains(cursor.Line(), "</Payload>")) {
    auto selector = std::make_unique<v2TrafficSelector>(cursor);
    if (selector->IsParsed()) AppendChild(std::move(selector));
    cursor.Next();
  }
  ShrinkAttributes();
}

void v2TSPayload::AppendDetailText(std::string& out) const {
  out += PayloadText();
  out += Name() == "TSi" ? "\r\n\r\nTraffic Selector - Initiator\r\n\r\n"
                         : "\r\n\r\nTraffic Selector - Responder\r\n\r\n";
}

v2TrafficSelector::v2TrafficSelector(LineCursor& cursor) {
  SetParsed(true);
  std::string_view line = cursor.Line();
  if (!StripToken(line, "<TrafficSelector", true)) {
    SetParsed(false);
    return;
  }
  ParseAttributes(line, attributes_);
  cursor.Next();
  while (cursor.HasLine() && !Contains(cursor.Line(), "</TrafficSelector>")) {
    TakeElementPairs(cursor.Line(), attributes_);
    cursor.Next();
  }
  const std::string_view type = attributes_.Touch("Type");
  const std::string_view fixed = FixedTrafficSelectorLabel(type);
  if (!fixed.empty()) SetName(fixed);
  else SetName(TrafficSelectorLabel(type));
  attributes_.ShrinkToFit();
}

void v2TrafficSelector::AppendDetailText(std::string& out) const {
  AppendAttributeLines(out, attributes_, [](std::string_view key) { return TrafficSelectorLabel(key); });
}

// ---- configuration --------------------------------------------------------------------------

v2ConfPayload::v2ConfPayload(LineCursor& cursor) : v2Payload(cursor, false) {
  SetParsed(true);  // the attributes are worth showing even under a malformed payload line
  ReadBody(cursor, "<Attr>");
  while (Contains(cursor.Line(), "<Attr>")) {
    ReadAttributeBlock(cursor);
    cursor.Next();
  }
  SetName("Configuration " + std::string(Attribute("CFG_Type")));
  ShrinkAttributes();
}

void v2ConfPayload::ReadAttributeBlock(LineCursor& cursor) {
  // <Attr> <Type>INTERNAL_IP4_ADDRESS</Type> <Value>10.1.1.1</Value> </Attr> gives the line
  // "Internal Address:<tab>10.1.1.1".
  cursor.Next();
  while (cursor.HasLine() && !Contains(cursor.Line(), "</Attr>")) {
    std::string_view tag, value;
    if (cursor.Element(tag, value)) {
      if (tag == "Type") {
        const std::string label = ConfigurationLabel(value);
        attributeText_ += label;
        attributeText_ += LabelTabs(label);
      } else {
        attributeText_ += value;
      }
    }
    cursor.Next();
  }
  attributeText_ += "\r\n";
}

void v2ConfPayload::AppendDetailText(std::string& out) const {
  AppendAttributeLines(out, Attributes(), [](std::string_view key) { return std::string(key); });
  out += "\r\n";
  out += attributeText_;
}

// ---- reading a payload line -----------------------------------------------------------------

namespace {

template <class P>
std::unique_ptr<v2Payload> Read(LineCursor& cursor) {
  return std::make_unique<P>(cursor);
}

constexpr std::array<V2PayloadType, 9> kPayloadTypes = {{
    {PayloadKind::kSecurityAssociation, "Type=\"SecurityAssociation\"", "Type=\"SecurityAssociation\" ",
     &Read<v2SAPayload>},
    {PayloadKind::kNotify, "Type=\"Notify\"", "Type=\"Notify\" ", &Read<v2NotifyPayload>},
    {PayloadKind::kCertificateRequest, "Type=\"CertReq\"", "Type=\"CertReq\" ", &Read<v2CertReqPayload>},
    {PayloadKind::kCertificate, "Type=\"Cert\"", "Type=\"Cert\" ", &Read<v2CertPayload>},
    {PayloadKind::kTrafficSelectors, "Type=\"TS", "Type=\"TS\" ", &Read<v2TSPayload>},
    {PayloadKind::kConfiguration, "Type=\"Conf\"", "Type=\"Conf\" ", &Read<v2ConfPayload>},
    {PayloadKind::kEAP, "Type=\"EAP\"", "Type=\"EAP\" ", &Read<v2EAPPayload>},
    {PayloadKind::kDelete, "Type=\"Delete\"", "Type=\"Delete\" ", &Read<v2DeletePayload>},
    // IDi and IDr.
    {PayloadKind::kIdentification, "Type=\"ID", "Type=\"ID\" ", &Read<v2IDPayload>},
}};

// A row's marker is a line text the row matches, and no row before it takes that line.
constexpr bool MarkersReadAsTheirKind() {
  for (std::size_t i = 0; i < kPayloadTypes.size(); ++i) {
    if (!kPayloadTypes[i].marker.starts_with(kPayloadTypes[i].match)) return false;
    for (std::size_t j = 0; j < i; ++j)
      if (kPayloadTypes[i].marker.find(kPayloadTypes[j].match) != std::string_view::npos) return false;
  }
  return true;
}
static_assert(MarkersReadAsTheirKind(), "a written marker reads back as its own kind");

const V2PayloadType* MatchPayloadLine(std::string_view line) {
  for (const V2PayloadType& type : kPayloadTypes)
    if (Contains(line, type.match)) return &type;
  return nullptr;
}

}  // namespace

const std::array<V2PayloadType, 9>& PayloadTypes() { return kPayloadTypes; }

const V2PayloadType* PayloadTypeOf(const v2Payload& payload) {
  const PayloadKind kind = payload.PayloadKindOf();
  for (const V2PayloadType& type : kPayloadTypes)
    if (type.kind == kind) return &type;
  return nullptr;
}

PayloadKind ClassifyPayloadLine(std::string_view line) {
  if (!Contains(line, "<Payload ")) return PayloadKind::kNone;
  const V2PayloadType* type = MatchPayloadLine(line);
  return type != nullptr ? type->kind : PayloadKind::kOther;
}

std::unique_ptr<v2Payload> ReadPayload(LineCursor& cursor) {
  const std::string_view line = cursor.Line();
  const V2PayloadType* type = Contains(line, "<Payload ") ? MatchPayloadLine(line) : nullptr;
  if (type != nullptr) return type->read(cursor);
  return std::make_unique<v2Payload>(cursor, true);
}

// ---- the kind of each payload class --------------------------------------------------------

PayloadKind v2Payload::PayloadKindOf() const { return PayloadKind::kOther; }
PayloadKind v2SAPayload::PayloadKindOf() const { return PayloadKind::kSecurityAssociation; }
PayloadKind v2NotifyPayload::PayloadKindOf() const { return PayloadKind::kNotify; }
PayloadKind v2CertReqPayload::PayloadKindOf() const { return PayloadKind::kCertificateRequest; }
PayloadKind v2CertPayload::PayloadKindOf() const { return PayloadKind::kCertificate; }
PayloadKind v2TSPayload::PayloadKindOf() const { return PayloadKind::kTrafficSelectors; }
PayloadKind v2ConfPayload::PayloadKindOf() const { return PayloadKind::kConfiguration; }
PayloadKind v2EAPPayload::PayloadKindOf() const { return PayloadKind::kEAP; }
PayloadKind v2DeletePayload::PayloadKindOf() const { return PayloadKind::kDelete; }
PayloadKind v2IDPayload::PayloadKindOf() const { return PayloadKind::kIdentification; }

}  // namespace quillon
