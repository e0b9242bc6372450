#include "ikev1/payloads/VendorIDPayload.h"

#include "ikev1/log/DebugLogReader.h"
#include "ikev1/log/PacketDebugRecord.h"

namespace quillon {

namespace {

constexpr std::string_view kFieldsKeyword = kVendorIDFieldsKeyword;
constexpr std::string_view kNokiaFieldsKeyword = "debugVendorIDNokiaFields:";
constexpr int kMaxFurtherLabelTokens = 7;

std::string TrimLeft(const std::string& text) {
  const std::size_t first = text.find_first_not_of(" \t");
  return first == std::string::npos ? std::string() : text.substr(first);
}

// Where a vendor ID block or its fields block ends: the next payload block, the next packet,
// a packet-debug or similar marker.
bool EndsBlock(std::string_view t) {
  return DebugLogReader::IsBlockKeyword(t) || DebugLogReader::IsBlockTerminator(t) ||
         DebugLogReader::IsHeaderStart(t);
}

// The next token, or false (the token pushed back where there is one) at the end of the block,
// a restart or the end of the input.
bool NextBlockToken(DebugLogReader& reader, std::string& t) {
  if (reader.IsAbandoned() || reader.RestartSeen()) return false;
  t = reader.ReadToken();
  if (reader.RestartSeen() || (t.empty() && reader.AtEnd())) return false;
  if (EndsBlock(t)) {
    reader.PushBack();
    return false;
  }
  return true;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

VendorIDPayload::VendorIDPayload(DebugLogReader& reader, bool /*created*/, LogNode* parent)
    : IsakmpPayload(kVendorIdBlock, FixedName("Vendor ID"), parent) {
  Read(reader);
  for (NodeText* text : {&vendorText_, &fieldLines_}) {
    const std::string read(*text);
    text->AssignShared(read);
  }
}

std::vector<std::string_view> VendorIDPayload::FieldLines() const {
  std::vector<std::string_view> lines;
  std::string_view rest = fieldLines_;
  for (std::size_t end; (end = rest.find('\n')) != std::string_view::npos; rest.remove_prefix(end + 1))
    lines.push_back(rest.substr(0, end));
  return lines;
}

void VendorIDPayload::AddFieldLine(std::string_view line) {
  fieldLines_ += line;
  fieldLines_ += '\n';
}

void VendorIDPayload::Read(DebugLogReader& reader) {
  fields_.Read(reader);
  std::string t;
  if (!NextBlockToken(reader, t)) return;
  // The rest of the length line: its decimal in parentheses.
  if (t.starts_with("(") && !NextBlockToken(reader, t)) return;

  if (t == "Vendor:") {
    // The rest of the line: an empty name does not take the next line.
    vendorLine_ = true;
    vendorName_.AssignShared(TrimLeft(reader.ReadLineRest()));
    if (std::string_view(vendorName_).find("NAT-T") != std::string_view::npos) {
      vendorText_ += "\r\nSupport for Microsoft NAT traversal\r\n\r\n";
    } else {
      vendorText_ += "\r\nVendor:\t\t";
      vendorText_ += vendorName_;
      vendorText_ += "\r\n\r\n";
    }
    if (!NextBlockToken(reader, t)) return;
  }
  if (t == "VID") {
    vidData_ = ReadLabelledBytes(reader, "Data:");
    if (!NextBlockToken(reader, t)) return;
  }

  hasFields_ = t == kFieldsKeyword;
  hasNokiaFields_ = t == kNokiaFieldsKeyword;
  if (!hasFields_ && !hasNokiaFields_) {
    reader.PushBack();
    return;
  }
  if (hasFields_) ReadGatewayFields(reader);
  ReadFreeLines(reader);
}

void VendorIDPayload::ReadGatewayFields(DebugLogReader& reader) {
  ByteList vid;
  if (SeekBlockLabel(reader, "VIDData:")) {
    vid = ReadByteList(reader);
    AddFieldLine("VIDData: " + SpacedHex(vid));
  }
  vendorText_ += "VIDData:\r\n";
  vendorText_ += WrappedHex(vid);

  ByteList product;
  if (SeekBlockLabel(reader, "Product:")) {
    product = ReadByteList(reader);
    AddFieldLine("Product: " + SpacedHex(product));
  }
  vendorText_ += "\r\nProduct:\t\t";
  vendorText_ += ProductName(ByteListValue(product));

  // The version is read from its line alone: "00 00 13 88".
  std::string version;
  if (SeekBlockLabel(reader, "Version:")) {
    version = TrimLeft(reader.ReadLineRest());
    AddFieldLine("Version: " + version);
  }
  vendorText_ += "\r\nVersion:\t\t";
  vendorText_ += VersionName(ByteListValue(HexPairs(version)));
  vendorText_ += "\r\n";
}

void VendorIDPayload::ReadFreeLines(DebugLogReader& reader) {
  // Each line: a label of up to eight tokens, ending at the first token with a colon, then the
  // rest of the line as its value.
  std::string t;
  while (NextBlockToken(reader, t)) {
    std::string label = t;
    bool cut = false;
    for (int further = 0; t.find(':') == std::string::npos && further < kMaxFurtherLabelTokens; ++further) {
      if (!NextBlockToken(reader, t)) {
        cut = true;
        break;
      }
      label += ' ';
      label += t;
    }
    vendorText_ += label;
    if (cut) {
      // The block ended inside the label: the line ends there.
      vendorText_ += "\r\n";
      AddFieldLine(label);
      return;
    }
    vendorText_ += LabelTabs(label.size());
    // The value is the rest of the label's own line, never the next line.
    const std::string value = TrimLeft(reader.ReadLineRest());
    vendorText_ += value;
    vendorText_ += "\r\n";
    AddFieldLine(value.empty() ? label : label + " " + value);
  }
}

std::string VendorIDPayload::ProductName(std::uint32_t code) {
  switch (code) {
    case 1: return "Morrowvale Gateway";
    case 2: return "Morrowvale Client";
    default: return "Unknown product";
  }
}

std::string VendorIDPayload::VersionName(std::uint32_t code) {
  switch (code) {
    case 2: return "Alder";
    case 3: return "Alder Refresh A";
    case 4002: return "Alder (Refresh B and up)";
    case 5000: return "Birch";
    case 5001: return "Birch Wave A";
    case 5002: return "Birch Wave B";
    case 5003: return "Birch Wave C";
    case 5004: return "Birch with Deep Sight Stage A";
    case 5005: return "Birch with Deep Sight Stage B onward";
    case 5006:
    case 6000: return "Birch With Deep Sight after Stage B";
    default: return "Unknown product version";
  }
}

ByteList VendorIDPayload::HexPairs(std::string_view text) {
  ByteList list;
  for (std::size_t p = 0; p + 2 <= text.size(); p += 3) {
    const int high = HexDigit(text[p]);
    const int low = HexDigit(text[p + 1]);
    if (high < 0 || low < 0 || (p + 2 < text.size() && text[p + 2] != ' ')) break;
    list.push_back(static_cast<std::uint32_t>(high * 16 + low));
  }
  return list;
}

void VendorIDPayload::AppendDetailText(std::string& out) const {
  fields_.AppendDetailHead(out, "Vendor ID Payload");
  out += "\r\n\r\nVID Data:\r\n";
  AppendHexText(out, vidData_, 16, true, true);
  out += "\r\n";
  out += vendorText_;
}

void WriteVendorIDBlock(std::string& out, const PayloadFields& fields, std::string_view vendorName,
                        const ByteList& vidData, bool vendorLine) {
  out += "debugVendorIDPayload:\n";
  fields.WriteLines(out);
  if (vendorLine || !vendorName.empty()) {
    out += "\tVendor: ";
    out += vendorName;
    out += '\n';
  }
  // Written whenever there is data (a dump whose last four bytes are zero included).
  if (!vidData.empty()) {
    out += "\tVID Data: ";
    AppendHexText(out, vidData, 16, false, true);
    out += '\n';
  }
}

void VendorIDPayload::WriteDebug(std::string& out) const {
  WriteVendorIDBlock(out, fields_, vendorName_, vidData_, vendorLine_);
  if (hasFields_ || hasNokiaFields_)
    WriteVendorIDFieldsBlock(out, hasFields_ ? kFieldsKeyword : kNokiaFieldsKeyword, FieldLines());
}

}  // namespace quillon
