#include "ikev1/payloads/IDPayload.h"

#include <bit>
#include <cstdio>
#include <string_view>

#include "ikev1/log/DebugLogReader.h"
#include "ikev1/payloads/Dictionaries.h"
#include "model/IPv4.h"

namespace quillon {

namespace {

// Identification types (RFC 2407) that this payload treats apart.
constexpr std::uint32_t kIdIpv4Addr = 1;
constexpr std::uint32_t kIdFqdn = 2;
constexpr std::uint32_t kIdUserFqdn = 3;
constexpr std::uint32_t kIdIpv4Subnet = 4;
constexpr std::uint32_t kIdIpv6Addr = 5;
constexpr std::uint32_t kIdIpv6Subnet = 6;
constexpr std::uint32_t kIdIpv4Range = 7;
constexpr std::uint32_t kIdIpv6Range = 8;
constexpr std::uint32_t kIdKeyId = 11;

// The next token of the block, or false where the block ends: at the next payload block or
// packet or packet-debug record (the token is pushed back for the payload chain and the packet
// scan), at a daemon restart and at the end of the input.
bool NextBlockToken(DebugLogReader& reader, std::string& t) {
  if (reader.IsAbandoned() || reader.RestartSeen()) return false;
  t = reader.ReadToken();
  if (reader.RestartSeen()) return false;
  if (t.empty() && reader.AtEnd()) return false;
  if (DebugLogReader::IsHeaderStart(t) || DebugLogReader::IsBlockKeyword(t) || DebugLogReader::IsDebugMarker(t)) {
    reader.PushBack();
    return false;
  }
  return true;
}

// "a.b.c.d" of the four elements from `first`, each in decimal.
void AppendDotted(std::string& t, const ByteList& list, std::size_t first) {
  for (std::size_t i = first; i < first + 4; ++i) {
    if (i > first) t += '.';
    AppendNumberText(t, list[i], 10);
  }
}

// The four elements from `first` as one 32-bit value; false when one is not a byte.
bool Ipv4Value(const ByteList& list, std::size_t first, std::uint32_t& value) {
  value = 0;
  for (std::size_t i = first; i < first + 4; ++i) {
    if (list[i] > 0xFFu) return false;
    value = (value << 8) | list[i];
  }
  return true;
}

// "/24" for a mask that is a prefix, else "/" and the dotted mask.
std::string MaskText(const ByteList& list, std::size_t first) {
  std::uint32_t mask = 0;
  if (Ipv4Value(list, first, mask) && ((~mask + 1u) & ~mask) == 0) return "/" + std::to_string(std::popcount(mask));
  std::string t = "/";
  AppendDotted(t, list, first);
  return t;
}

// The 16 elements from `first` as eight colon-separated groups of hex digits.
std::string Ipv6Text(const ByteList& list, std::size_t first) {
  std::string t;
  for (std::size_t i = first; i < first + 16; i += 2) {
    if (i > first) t += ':';
    char group[16];
    std::snprintf(group, sizeof group, "%x", ((list[i] & 0xFFu) << 8) | (list[i + 1] & 0xFFu));
    t += group;
  }
  return t;
}

bool IsPrintable(std::uint32_t e) { return e >= 0x20 && e < 0x7F; }

// The characters of a name identity; bytes that do not print show as dots.
std::string NameText(const ByteList& list) {
  std::string t;
  for (std::uint32_t e : list) t += IsPrintable(e) ? static_cast<char>(e) : '.';
  return t;
}

std::string PlainHex(const ByteList& list) {
  std::string t;
  for (std::uint32_t e : list) AppendNumberText(t, e, 16);
  return t;
}

// The identity data by its type, in the form a user would type it.
std::string IdentityDataText(std::uint32_t type, const ByteList& data) {
  switch (type) {
    case kIdIpv4Addr:
      if (data.size() == 4) {
        std::string t;
        AppendDotted(t, data, 0);
        return t;
      }
      break;
    case kIdIpv4Subnet:
    case kIdIpv4Range:
      if (data.size() == 8) {
        std::string t;
        AppendDotted(t, data, 0);
        if (type == kIdIpv4Subnet) {
          t += MaskText(data, 4);
        } else {
          t += '-';
          AppendDotted(t, data, 4);
        }
        return t;
      }
      break;
    case kIdIpv6Addr:
      if (data.size() == 16) return Ipv6Text(data, 0);
      break;
    case kIdIpv6Subnet:
    case kIdIpv6Range:
      if (data.size() == 32) return Ipv6Text(data, 0) + (type == kIdIpv6Subnet ? "/" : "-") + Ipv6Text(data, 16);
      break;
    case kIdFqdn:
    case kIdUserFqdn:
      return NameText(data);
    case kIdKeyId: {
      bool printable = !data.empty();
      for (std::uint32_t e : data) printable = printable && IsPrintable(e);
      if (printable) return NameText(data);
      break;
    }
    default:
      break;
  }
  std::string t = IdTypeName(type);
  if (!data.empty()) t += ' ' + PlainHex(data);
  return t;
}

std::string ProtocolText(std::uint32_t protocol) {
  switch (protocol) {
    case 0: return "any";
    case 1: return "ICMP";
    case 6: return "TCP";
    case 17: return "UDP";
    default: return std::to_string(protocol);
  }
}

// The detail text's name of a service type.
std::string ServiceTypeText(std::uint32_t type) {
  switch (type) {
    case 0: return "Not specified (0)";
    case 1: return "ICMP (1)";
    case 6: return "TCP (6)";
    case 17: return "UDP (11)";  // the daemon's text: the protocol number in hex
    default: return NumberText(type, 10) + " (" + NumberText(type, 16) + ")";
  }
}

// The token written for the identity's second rendering: the reader skips two tokens after
// "ID", whatever they say, so the value must be one plain token (not one that the reader or
// the payload chain would stop at); "-" stands for any other value.
std::string StringFormToken(const ByteList& data) {
  bool oneToken = !data.empty();
  for (std::uint32_t e : data) oneToken = oneToken && e > 0x20 && e < 0x7F;
  if (!oneToken) return "-";
  std::string token = NameText(data);
  if (DebugLogReader::IsRestartToken(token) || DebugLogReader::IsBlockKeyword(token) ||
      DebugLogReader::IsHeaderStart(token) || DebugLogReader::IsBlockTerminator(token) || token == "debugIsakmpValue:")
    return "-";
  return token;
}

}  // namespace

// ---- IDPayload ----------------------------------------------------------------------------------

IDPayload::IDPayload(DebugLogReader& reader, LogNode* parent) : IsakmpPayload(kIdBlock, FixedName("ID"), parent) {
  fields_.Read(reader);
  idType_ = ReadLabelledNumber(reader, "Type:");

  // Either the service lines or the "Reserved2:" label and the protocol and port octets.
  std::string t;
  if (NextBlockToken(reader, t)) {
    if (t == "Service") {
      serviceType_ = ReadLabelledNumber(reader, "type:");
      servicePort_ = ReadLabelledBytes(reader, "port:");
      hasService_ = true;
    } else {
      reserved2_ = ReadByteList(reader);
    }
  }

  idData_ = ReadLabelledBytes(reader, "ID:");

  // The daemon's second rendering of the identity: "ID" and two tokens.
  if (NextBlockToken(reader, t)) {
    if (t == "ID") {
      hasStringForm_ = true;
      for (int i = 0; i < 2 && NextBlockToken(reader, t); ++i) {}
    } else {
      reader.PushBack();
    }
  }

  if (NextBlockToken(reader, t)) {
    if (t == "debugIsakmpValue:") {
      attribute_ = std::make_unique<IsakmpValue>(reader, IsakmpValue::kPhaseOneSpace, this);
    } else {
      reader.PushBack();
    }
  }

  // An IPv4 identity in the low range is a peer index: the peer regrouping uses it.
  if (idType_ == kIdIpv4Addr && idData_.size() == 4) {
    const std::uint32_t value = ByteListValue(idData_);
    if (IsLowRangeAddress(value)) {
      hasIdAddress_ = true;
      idAddress_ = value;
    }
  }
}

IDPayload::~IDPayload() = default;

bool IDPayload::ProtocolAndPort(std::uint32_t& protocol, std::uint32_t& port) const {
  if (hasService_) {
    protocol = serviceType_;
    port = ByteListValue(servicePort_);
    return true;
  }
  if (reserved2_.size() == 3) {
    protocol = reserved2_[0];
    port = ByteListValue(ByteList{reserved2_[1], reserved2_[2]});
    return true;
  }
  return false;
}

std::string IDPayload::IdentityText() const {
  std::string t = IdentityDataText(idType_, idData_);
  std::uint32_t protocol = 0, port = 0;
  if (ProtocolAndPort(protocol, port) && (protocol != 0 || port != 0)) {
    t += " (" + ProtocolText(protocol);
    if (port != 0) t += ":" + std::to_string(port);
    t += ')';
  }
  return t;
}

void IDPayload::AppendDetailText(std::string& out) const {
  fields_.AppendDetailHead(out, "ID Payload");
  out += "\r\nID type:\t";
  out += IdTypeName(idType_);
  // The protocol and port lines leave their parenthesis open; the data line closes it.
  if (hasService_) {
    out += "\r\nService type:\t";
    out += ServiceTypeText(serviceType_);
    out += "\r\nService port:\t";
    const std::uint32_t port = ByteListValue(servicePort_);
    if (port != 0) {
      AppendHexText(out, servicePort_, 16, false, true);
      out += " (";
      AppendNumberText(out, port, 10);
    } else {
      out += "Not specified (0";
    }
  } else {
    out += "\r\nReserved2:\t";
    AppendHexText(out, reserved2_, 16, false, true);
    out += " (";
    AppendNumberText(out, ByteListValue(reserved2_), 10);
  }
  if (idType_ == kIdIpv4Addr || idType_ == kIdUserFqdn || idType_ == kIdIpv4Subnet) {
    out += ")\r\nID Data:\t";
    AppendHexText(out, idData_, 16, true, true);
    out += "  ";
    out += DottedAddressText(idData_);
    out += "\r\n";
  } else {
    out += ")\r\nID Data:\r\n";
    AppendHexText(out, idData_, 16, true, true);
    out += "\r\n";
  }
  if (hasStringForm_ || idType_ == kIdFqdn) {
    out += "ID as string:\r\n";
    out += CharText(idData_, true);
    out += "\r\n";
  }
  if (attribute_) {
    out += "\r\n";
    attribute_->AppendValueText(out, 32, 0);
  }
}

void WriteIDBlock(std::string& out, const PayloadFields& fields, std::uint32_t idType, bool hasService,
                  std::uint32_t serviceType, const ByteList& servicePort, const ByteList& reserved2,
                  const ByteList& idData) {
  out += "debugIDPayload:\n";
  fields.WriteLines(out);
  out += "\tID Type: ";
  // 0xFFFFFFFF is how a type that was no number reads; the reader keeps that token and takes
  // it as the "Service"/"Reserved2:" word. Written as a number it would read the same way and
  // take the word's place, so no number is written.
  if (idType != 0xFFFFFFFFu) {
    AppendNumberText(out, idType, 16);
    out += '\n';
  }
  if (hasService) {
    out += "\tService type: ";
    AppendNumberText(out, serviceType, 16);
    out += " (";
    AppendNumberText(out, serviceType, 10);
    out += ")  Service port: ";
    AppendHexText(out, servicePort, 16, false, true);
    out += " (";
    AppendHexText(out, servicePort, 10, false, true);
    out += ")\n";
  } else {
    // The daemon's layout: no tab before, no line end after.
    out += "Reserved2: ";
    AppendHexText(out, reserved2, 16, false, true);
    out += " (";
    AppendHexText(out, reserved2, 10, false, true);
    out += ')';
  }
  out += "\tID:\n";
  AppendHexText(out, idData, 16, true, true);
  out += '\n';
}

void IDPayload::WriteDebug(std::string& out) const {
  WriteIDBlock(out, fields_, idType_, hasService_, serviceType_, servicePort_, reserved2_, idData_);
  // Kept so that a saved log reads back with the same identity text and attribute.
  if (hasStringForm_) out += "\tID string: " + StringFormToken(idData_) + "\n";
  if (attribute_) attribute_->WriteDebug(out);
}

}  // namespace quillon
