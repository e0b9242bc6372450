#include "ikev2/WriteIKEv2Log.h"

#include <algorithm>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ikev2/LineScan.h"
#include "ikev2/V2Exchange.h"
#include "ikev2/V2Payloads.h"
#include "model/TimeOrder.h"

namespace quillon {

namespace {

// The reader matches fixed texts at fixed places of each line (it is not an XML parser), so the
// writer puts every value where the reader takes it from, in the daemon's layout, and nothing
// is escaped: values are kept as they were read.

// name="value" is read back when the name (which may be empty, or hold a double quote: the
// previous value ended at its own) holds no "=" and does not start with a blank, and the value
// holds no double quote. On some lines the reader
// also looks for the end of what encloses them (a payload's line is checked for "</Payloads>"):
// neither may hold such a text.
bool FitsAttribute(std::string_view key, std::string_view value, std::span<const std::string_view> ends = {}) {
  if ((!key.empty() && (key.front() == ' ' || key.front() == '\t')) || key.find('=') != std::string_view::npos ||
      value.find('"') != std::string_view::npos)
    return false;
  for (std::string_view end : ends)
    if (Contains(key, end) || Contains(value, end)) return false;
  return true;
}

void AppendAttribute(std::string& out, std::string_view key, std::string_view value) {
  out += ' ';
  out += key;
  out += "=\"";
  out += value;
  out += '"';
}

}  // namespace

void AppendElement(std::string& out, std::string_view tag, std::string_view value) {
  out += '<';
  out += tag;
  out += '>';
  out += value;
  out += "</";
  out += tag;
  out += '>';
}

void ElementLine(std::string& out, int indent, std::string_view tag, std::string_view value) {
  out.append(static_cast<std::size_t>(indent), '\t');
  AppendElement(out, tag, value);
  out += '\n';
}

void PayloadOpeningLine(std::string& out, std::string_view type) {
  out += "\t\t\t<Payload Type=\"";
  out += type;
  out += "\">\n";
}

void AttributeLine(std::string& out, std::string_view opening, const AttributeMap& attributes, int indent,
                   std::span<const std::string_view> ends) {
  out.append(static_cast<std::size_t>(indent), '\t');
  out += opening;
  bool any = false;
  for (const auto& [key, value] : attributes) {
    if (!FitsAttribute(key, value, ends)) continue;
    AppendAttribute(out, key, value);
    any = true;
  }
  // "<Message " and "<prop " are recognised with the blank after the name.
  if (!any && !opening.empty()) out += ' ';
  out += ">\n";
}

namespace {

// The Type of a payload's opening line: the display name turned back into the log's word.
std::string PayloadLineType(const v2Payload& payload) {
  const std::string_view name = payload.TypeName();
  if (name == "Key Exchange") return "KeyExchange";
  if (name == "Security Association") return "SecurityAssociation";
  if (name == "Next payload") return "Next";
  return std::string(name);
}

// "Internal Address:<tabs>10.1.1.1" back to its type and value; false when the line is not one
// label and value.
bool SplitConfigurationLine(std::string_view line, std::string& type, std::string_view& value) {
  static constexpr std::string_view kKnown[] = {"INTERNAL_IP4_ADDRESS", "INTERNAL_IP4_NETMASK",   "INTERNAL_IP4_DNS",
                                                "INTERNAL_IP4_NBNS",    "INTERNAL_ADDRESS_EXPIRY", "APPLICATION_VERSION"};
  const std::size_t colon = line.find(':');
  if (colon == std::string_view::npos) return false;
  const std::string_view label = line.substr(0, colon + 1);
  const std::string_view tabs = LabelTabs(label);
  if (line.substr(colon + 1, tabs.size()) != tabs) return false;
  value = line.substr(colon + 1 + tabs.size());
  if (!value.empty() && value.front() == '\t') return false;
  type.clear();
  for (std::string_view known : kKnown)
    if (ConfigurationLabel(known) == label) type = known;
  if (type.empty()) type = label.substr(0, colon);
  return ConfigurationLabel(type) == label && !type.empty();
}

// A configuration attribute's values, written as <Value> lines that its block's line joins. A
// value holding "</Value><Value>" would read back as a list: it is cut after each "</Value"
// that such a text begins with, into values that join to it again.
void ValueLines(std::string& out, std::string_view text) {
  constexpr std::string_view kList = "</Value><Value>";
  constexpr std::size_t kCut = std::string_view("</Value").size();
  for (std::size_t at = text.find(kList); at != std::string_view::npos; at = text.find(kList)) {
    ElementLine(out, 5, "Value", text.substr(0, at + kCut));
    text.remove_prefix(at + kCut);
  }
  ElementLine(out, 5, "Value", text);
}

void WriteConfiguration(std::string& out, const v2ConfPayload& payload) {
  // Each attribute is one "<Attr>" block; its line of the detail text is built from the type's
  // label and the value.
  const std::string_view text = payload.AttributeText();
  std::size_t start = 0;
  std::string type;
  while (start < text.size()) {
    std::size_t end = text.find("\r\n", start);
    if (end == std::string::npos) end = text.size();
    const std::string_view line(text.data() + start, end - start);
    out += "\t\t\t\t<Attr>\n";
    std::string_view value;
    if (line.empty()) {
      // An attribute without elements.
    } else if (SplitConfigurationLine(line, type, value)) {
      ElementLine(out, 5, "Type", type);
      ValueLines(out, value);
    } else {
      ValueLines(out, line);
    }
    out += "\t\t\t\t</Attr>\n";
    start = end + 2;
  }
}

// What the reader made of the payload line, and the text on a line that makes it read so.
struct KindMarker {
  PayloadKind kind;
  std::string_view marker;
};

KindMarker KindOf(const v2Payload& payload) {
  if (const V2PayloadType* type = PayloadTypeOf(payload)) return {type->kind, type->marker};
  return {PayloadKind::kOther, ""};
}

// The payload's line is checked for the end of the payload list and of the exchange before it
// is read.
constexpr std::string_view kPayloadLineEnds[] = {"</Payloads>", "</Exchange>"};

// The payload's opening line. The reader tells the payload's kind by a text anywhere on the
// line (Type="TS...", Type="Notify", ...) and takes its type from the Type attribute, whose
// opening quote it does not check. A type that does not name the payload's kind (a mangled
// line read as a traffic selector payload, say) is written after the kind's own text, which
// it replaces as the attribute, with another character for its opening quote so that it
// does not name a kind itself.
//
// The payload's other attributes that fit go on the line too: as element lines, a value holding
// "</name><name>" would read back as a list. One whose name ends in "Type" goes there only when
// the line still names the payload's kind with it. `onLine` is told, attribute by attribute,
// which ones the line carries. Returns the Type the line gives the payload's attributes;
// nothing when the line gives it no attribute.
std::optional<std::string> PayloadLine(std::string& out, const v2Payload& payload, std::vector<bool>& onLine) {
  onLine.assign(payload.Attributes().size(), false);
  // A traffic selector payload is named by its line's Type as written.
  const std::string type =
      payload.PayloadKindOf() == PayloadKind::kTrafficSelectors ? std::string(payload.Name()) : PayloadLineType(payload);
  const KindMarker kind = KindOf(payload);
  if (!payload.Attributes().contains("Type")) {
    // Only a line that does not begin with "<Payload " leaves a payload without its Type: its
    // attributes were not read, and the configuration payload is kept all the same. Such a
    // line, with the kind's text for the kind.
    out += "\t\t\t-<Payload ";
    out += kind.marker;
    out += ">\n";
    return std::nullopt;
  }
  const bool named = ClassifyPayloadLine("<Payload Type=\"" + type + "\">") == kind.kind;
  const std::size_t start = out.size();
  out += "\t\t\t<Payload";
  if (named) {
    AppendAttribute(out, "Type", type);
  } else {
    out += ' ';
    out += kind.marker;
    out.pop_back();  // the marker's closing blank: each attribute brings its own
  }
  std::size_t index = 0;
  for (const auto& [key, value] : payload.Attributes()) {
    const std::size_t at = out.size();
    if (key != "Type" && FitsAttribute(key, value, kPayloadLineEnds)) {
      AppendAttribute(out, key, value);
      if (key.ends_with("Type") && ClassifyPayloadLine(std::string_view(out).substr(start)) != kind.kind)
        out.resize(at);
    }
    onLine[index++] = out.size() != at;
  }
  if (!named) {
    out += " Type='";
    out += type;
    out += '"';
  }
  out += ">\n";
  return type;
}

// A proposal is named by the ID of its opening line; an <ID> element below the line changes the
// ID shown in its text but not its name. The line carries the name's ID, the element the other.
// The security association's lines, a proposal's opening line among them, are checked for the
// end of the payload and of the exchange.
constexpr std::string_view kProposalLineEnds[] = {"</Payload>", "</Exchange>"};
void WriteProposal(std::string& out, const v2Proposal& proposal) {
  const std::string_view lineId = std::string_view(proposal.Name()).substr(std::string_view("Proposal ").size());
  const AttributeMap& attributes = proposal.Attributes();
  if (attributes.contains("ID") && attributes.Get("ID") == lineId) {
    AttributeLine(out, "<prop", attributes, 4, kProposalLineEnds);
  } else {
    AttributeMap line = attributes;
    line.Set("ID", lineId);
    AttributeLine(out, "<prop", line, 4, kProposalLineEnds);
  }
  for (const auto& [key, value] : attributes)
    if (key == "ID" ? value != lineId : !FitsAttribute(key, value, kProposalLineEnds)) ElementLine(out, 5, key, value);
  out += "\t\t\t\t</prop>\n";
}

// A message's children are its payloads, an SA's its proposals, a certificate request's its
// authorities and a traffic selector payload's its selectors: the reader appends nothing else.
void WritePayload(std::string& out, const LogNode& node) {
  if (!node.Is(NodeKind::kPayload)) return;
  const auto* payload = static_cast<const v2Payload*>(&node);
  std::vector<bool> onLine;
  const std::optional<std::string> lineType = PayloadLine(out, *payload, onLine);
  std::size_t index = 0;
  for (const auto& [key, value] : payload->Attributes()) {
    const bool carried = key == "Type" ? lineType && value == *lineType : onLine[index];
    ++index;
    if (!carried) ElementLine(out, 4, key, value);
  }
  const PayloadKind kind = payload->PayloadKindOf();
  if (kind == PayloadKind::kSecurityAssociation) {
    for (const auto& child : payload->Children()) WriteProposal(out, static_cast<const v2Proposal&>(*child));
  } else if (kind == PayloadKind::kCertificateRequest) {
    for (const auto& child : payload->Children()) {
      const auto& authority = static_cast<const v2CA&>(*child);
      out += "\t\t\t\t<CA>";
      for (const auto& [key, value] : authority.Attributes()) AppendElement(out, key, value);
      out += "</CA>\n";
    }
  } else if (kind == PayloadKind::kCertificate) {
    const auto* certificate = static_cast<const v2CertPayload*>(payload);
    // The certificate's text lines, which the reader keeps without their leading tabs.
    out += "\t\t\t\t<![CDATA[\n";
    const std::string_view data = certificate->CertificateData();
    for (std::size_t start = 0; start < data.size();) {
      std::size_t end = data.find("\r\n", start);
      if (end == std::string::npos) end = data.size();
      out += "\t\t\t\t";
      out.append(data, start, end - start);
      out += '\n';
      start = end + 2;
    }
    out += "\t\t\t\t]]>\n";
  } else if (kind == PayloadKind::kTrafficSelectors) {
    for (const auto& child : payload->Children()) {
      const auto* selector = static_cast<const v2TrafficSelector*>(child.get());
      // The selectors are read up to the payload's end.
      static constexpr std::string_view kSelectorLineEnds[] = {"</Payload>"};
      AttributeLine(out, "<TrafficSelector", selector->Attributes(), 4, kSelectorLineEnds);
      std::string pairs;
      for (const auto& [key, value] : selector->Attributes())
        if (!FitsAttribute(key, value, kSelectorLineEnds)) AppendElement(pairs, key, value);
      if (!pairs.empty()) out += "\t\t\t\t\t" + pairs + "\n";
      out += "\t\t\t\t</TrafficSelector>\n";
    }
  } else if (kind == PayloadKind::kConfiguration) {
    WriteConfiguration(out, static_cast<const v2ConfPayload&>(*payload));
  }
  out += "\t\t\t</Payload>\n";
}

void WriteMessage(std::string& out, const v2Message& message) {
  AttributeLine(out, "<Message", message.Attributes(), 1);
  out += "\t\t<arrivalTime>";
  // The reader splits the arrival time at its first "T"; without one, date and time are both
  // the whole text.
  if (message.Date() == message.Time() && message.Date().find('T') == std::string::npos) {
    out += message.Date();
  } else {
    out += message.Date();
    out += 'T';
    out += message.Time();
  }
  out += "</arrivalTime>\n";
  ElementLine(out, 2, "MsgID", message.MessageId());
  // The header's element lines. From the second on, a line holding "<Payloads>" opens the
  // payload list: a value holding it (only the first line can have held it) goes first.
  const std::size_t header = out.size();
  std::size_t opening = std::string::npos;
  std::size_t openingEnd = 0;
  const auto headerLine = [&](std::string_view tag, std::string_view value) {
    const std::size_t at = out.size();
    ElementLine(out, 2, tag, value);
    if (opening == std::string::npos && Contains(std::string_view(out).substr(at), "<Payloads>")) {
      opening = at;
      openingEnd = out.size();
    }
  };
  headerLine("initSPI", message.InitiatorSpi());
  headerLine("respSPI", message.ResponderSpi());
  headerLine("Next", message.NextPayload());
  headerLine("Version", message.Version());
  headerLine("Type", message.Type());
  headerLine("Length", message.Length());
  for (const auto& [key, value] : message.Attributes())
    if (!FitsAttribute(key, value)) headerLine(key, value);
  if (opening != std::string::npos)
    std::rotate(out.begin() + static_cast<std::ptrdiff_t>(header), out.begin() + static_cast<std::ptrdiff_t>(opening),
                out.begin() + static_cast<std::ptrdiff_t>(openingEnd));
  out += "\t\t<Payloads>\n";
  for (const auto& payload : message.Children()) WritePayload(out, *payload);
  out += "\t\t</Payloads>\n\t</Message>\n";
}

void WriteExchange(std::string& out, const v2Exchange& exchange) {
  out += "<Exchange\n";
  AttributeLine(out, "", exchange.Attributes(), 0);
  out += "<peerIP>";
  out += exchange.PeerText();
  out += "</peerIP>\n";
  // An exchange's children are its messages.
  for (const auto& child : exchange.Children()) WriteMessage(out, static_cast<const v2Message&>(*child));
  // The exchange's own element lines after its messages. The message list ends at the first
  // line without "<Message ": a blank line goes first when the first element line holds it. A
  // line holding "</Exchange>" ends the exchange: it goes last.
  std::string trailing, closing;
  for (const auto& [key, value] : exchange.Attributes()) {
    if (FitsAttribute(key, value)) continue;
    std::string line;
    ElementLine(line, 1, key, value);
    (Contains(line, "</Exchange>") ? closing : trailing) += line;
  }
  trailing += closing;
  if (Contains(std::string_view(trailing).substr(0, trailing.find('\n')), "<Message ")) out += '\n';
  out += trailing;
  out += "</Exchange>\n";
}

bool WriteExchanges(const LogNode& node, BufferedSink& out) {
  std::vector<const LogNode*> exchanges;
  for (const auto& child : node.Children()) {
    // Below the root stand peers and tunnels; every negotiation of an IKEv2 tree is an exchange.
    if (IsNegotiation(child->Kind())) exchanges.push_back(child.get());
    else if (!WriteExchanges(*child, out)) return false;
  }
  // A merged peer's exchanges are read back into the peers of the index and of the address and
  // moved here again, one by one in time order: write them in the order that rebuilds theirs.
  if (node.Parent() != nullptr && IsMergedPeer(*node.Parent())) exchanges = InsertionOrder(exchanges);
  for (const LogNode* exchange : exchanges) {
    WriteExchange(out.Buffer(), static_cast<const v2Exchange&>(*exchange));
    if (!out.Written()) return false;
  }
  return true;
}

}  // namespace

bool WriteIKEv2Log(const LogFile& root, ByteSink& sink) {
  BufferedSink out(sink);
  out.Buffer() += "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n<IKEv2Log savedBy=\"Quillon\">\n";
  if (!WriteExchanges(root, out)) return false;
  out.Buffer() += "</IKEv2Log>\n";
  return out.Flush();
}

}  // namespace quillon
