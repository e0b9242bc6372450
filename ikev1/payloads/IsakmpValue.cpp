#include "ikev1/payloads/IsakmpValue.h"
#include "ikev1/payloads/KeyMaterialPayloads.h"

#include <array>

#include "ikev1/log/DebugLogReader.h"
#include "ikev1/payloads/Dictionaries.h"

namespace quillon {

namespace {


constexpr std::array<std::string_view, 7> kSubBlockKeywords = {
    "debugPropPayload:",    "debugTransPayload:",    "debugIsakmpValue:",        "debugSAPayloadLen:",
    "debugPropPayloadLen:", "debugTransPayloadLen:", "debugAttributePayloadLen:"};

// The user-text attribute types, numbered as the configuration-mode set numbers them.
constexpr std::uint32_t kAssignedAddressAttribute = 1;  // internal IPv4 address
constexpr std::uint32_t kUserNameAttribute = 14;        // extended-authentication user name
constexpr std::uint32_t kMessageAttribute = 17;         // extended-authentication message

// Phase-one attribute types (format bit cleared) whose value is a plain number.
bool IsPhaseOneNumber(std::uint32_t type) {
  switch (type) {
    case 6:
    case 7:
    case 8:
    case 9:
    case 10:
    case 12:
    case 14:
    case 15:
    case 16: return true;
    default: return false;
  }
}

// Phase-one attribute types whose value is named.
bool IsPhaseOneNamed(std::uint32_t type) { return (type >= 1 && type <= 5) || type == 11; }

std::string UnknownAttributeText(const ByteList& attribute) { return "Unknown Attribute (" + SpacedHex(attribute) + ")"; }

bool StopsSubBlock(std::string_view t) {
  return DebugLogReader::IsBlockKeyword(t) || DebugLogReader::IsDebugMarker(t) || IsSubBlockKeyword(t);
}

}  // namespace

// ---- sub-blocks ---------------------------------------------------------------------------------

bool IsSubBlockKeyword(std::string_view token) {
  if (token.size() < 17 || token.back() != ':' || token.front() != 'd') return false;
  for (std::string_view keyword : kSubBlockKeywords)
    if (keyword == token) return true;
  return false;
}

bool SeekSubBlockLabel(DebugLogReader& reader, std::string_view label) {
  return SeekBlockLabel(reader, label, StopsSubBlock);
}

std::uint32_t ReadSubBlockNumber(DebugLogReader& reader, std::string_view label) {
  return ReadLabelledNumber(reader, label, StopsSubBlock);
}

ByteList ReadSubBlockBytes(DebugLogReader& reader, std::string_view label) {
  return ReadLabelledBytes(reader, label, StopsSubBlock);
}

void SkipParenthesisedDecimal(DebugLogReader& reader) {
  if (reader.IsAbandoned() || reader.RestartSeen()) return;
  const std::string& t = reader.ReadToken();
  if (t.empty() || t.front() != '(') reader.PushBack();
}

// ---- character renderings ----------------------------------------------------------------------

std::string CharText(const ByteList& list, bool wrap) {
  std::string out;
  out.reserve(list.size() + 8);
  for (std::size_t i = 0; i < list.size(); ++i) {
    if (wrap && i > 0 && i % 40 == 0) out += "\r\n  ";
    const char c = static_cast<char>(list[i] & 0xFFu);
    if (c == '\0') {
      out += ' ';
    } else if (c == ')') {
      out += ")\r\n";
    } else {
      out += c;
    }
  }
  return out;
}

std::string DottedAddressText(const ByteList& list) {
  if (list.size() != 4 && list.size() != 8) return {};
  std::string out = "(";
  for (std::size_t i = 0; i < list.size(); ++i) {
    if (i == 4) {
      out += "  ";
    } else if (i > 0) {
      out += '.';
    }
    AppendNumberText(out, list[i], 10);
  }
  out += ')';
  return out;
}

// ---- IsakmpValue --------------------------------------------------------------------------------

IsakmpValue::IsakmpValue(DebugLogReader& reader, int attributeSpace, LogNode* /*owner*/)
    : attributeSpace_(attributeSpace) {
  if (!reader.IsAbandoned() && !reader.RestartSeen() && reader.ReadToken() != kValueKeyword) reader.PushBack();
  attribute_ = ReadSubBlockBytes(reader, "Attribute:");
  format_ = ReadSubBlockNumber(reader, "Format:");
  if (format_ == 0) {
    length_ = ReadSubBlockBytes(reader, "Length:");
    val_ = ReadSubBlockBytes(reader, "Val:");
    // The written variable-length form follows the dump with its decimal value in parentheses.
    if (!reader.IsAbandoned() && !reader.RestartSeen()) {
      const std::string& t = reader.ReadToken();
      if (std::string_view(t).substr(0, 20).find('(') == std::string_view::npos) reader.PushBack();
    }
  } else {
    val_ = ReadSubBlockBytes(reader, "Val:");
  }
  TakeUserTexts();
}

void IsakmpValue::TakeUserTexts() {
  switch (ByteListValue(attribute_)) {  // the whole type, format bit included
    case kUserNameAttribute: {
      // The characters up to the first zero byte.
      std::string name;
      for (std::uint32_t e : val_) {
        const char c = static_cast<char>(e & 0xFFu);
        if (c == '\0') break;
        name += c;
      }
      if (!name.empty()) {
        User().hasName = true;
        User().name = std::move(name);
      }
      break;
    }
    case kMessageAttribute: {
      // "User <name> authenticated ...": the name between the two words.
      const std::string s = CharText(val_, false);
      const std::size_t q = s.find(" authenticated");
      if (s.starts_with("User") && q != std::string::npos && q > 5) {
        User().hasName = true;
        User().name = s.substr(5, q - 5);
      }
      break;
    }
    case kAssignedAddressAttribute:
      if (ByteListValue(val_) != 0) {
        User().hasDetail = true;
        User().detail = DottedAddressText(val_);
      }
      break;
    default: break;
  }
}

void IsakmpValue::WriteDebug(std::string& out) const { WriteIsakmpValueBlock(out, attribute_, format_, length_, val_); }

void WriteIsakmpValueBlock(std::string& out, const ByteList& attribute, std::uint32_t format, const ByteList& length,
                           const ByteList& value) {
  out += "debugIsakmpValue:\n\tAttribute: ";
  AppendHexText(out, attribute, 16, false, true);
  out += "\n\tFormat: ";
  AppendNumberText(out, format, 10);
  out += '\n';
  if (format == 0) {
    out += "\tLength: ";
    AppendHexText(out, length, 16, false, true);
    out += '(';
    AppendNumberText(out, ByteListValue(length), 10);
    out += ")\n";
  }
  out += "\tVal: ";
  AppendHexText(out, value, 16, false, true);
  if (format == 0) {
    out += '(';
    AppendNumberText(out, ByteListValue(value), 10);
    out += ')';
  }
  out += '\n';
}

std::string IsakmpValue::ValueText(std::int32_t protocolId, std::uint32_t transformId) const {
  std::string text;
  AppendValueText(text, protocolId, transformId);
  return text;
}

void IsakmpValue::AppendValueText(std::string& out, std::int32_t protocolId, std::uint32_t transformId) const {
  switch (attributeSpace_) {
    case kPhaseOneSpace: AppendPhaseOneText(out); break;
    case kConfigModeSpace: out += ConfigModeValueText(*this); break;
    default: AppendPhaseTwoText(out, protocolId, transformId); break;
  }
}

// Attribute space 32: the ISAKMP SA attributes and the CRACK attributes, the format bit
// (and anything above it) cleared.
void IsakmpValue::AppendPhaseOneText(std::string& out) const {
  const std::uint32_t t = ByteListValue(attribute_) & 0x7FFFu;
  const std::uint32_t v = ByteListValue(val_);
  if (IsPhaseOneNamed(t)) {
    AppendPhaseOneAttributeLabel(out, t);
    out += PhaseOneAttributeValueName(t, v);
    return;
  }
  if (t == 13) {
    AppendPhaseOneAttributeLabel(out, t);  // "PRF: " without its value
    return;
  }
  if (IsPhaseOneNumber(t)) {
    AppendPhaseOneAttributeLabel(out, t);
    AppendNumberText(out, v, 10);
    return;
  }
  switch (t) {
    case 16390: out += CrackAttributeLabel(t) + SpacedHex(val_) + "(" + CharText(val_, true) + ")"; break;  // user name
    case 16391: out += CrackAttributeLabel(t) + SpacedHex(val_); break;                                     // secret
    case 16392:
    case 16393:
    case 16394:
    case 16395: out += CrackAttributeLabel(t); break;                                    // domain .. message
    case 16396: out += CrackAttributeLabel(t) + SpacedHex(val_) + CrackFinStatusName(v); break;  // finish status
    default: out += UnknownAttributeText(attribute_); break;
  }
}

// Attribute space 64 (and any space but 32 and 256): the IPsec SA attributes, type modulo 32.
void IsakmpValue::AppendPhaseTwoText(std::string& out, std::int32_t protocolId, std::uint32_t transformId) const {
  constexpr std::int32_t kIpcomp = 4;
  constexpr std::uint32_t kEspAesGcm = 20;
  const std::uint32_t t = ByteListValue(attribute_) % 32;
  const std::uint32_t v = ByteListValue(val_);
  if (t == 1 || t == 2) out += protocolId == kIpcomp ? "IPCA " : "SA ";  // the life attributes
  switch (t) {
    case 1:  // life type
    case 3:  // group
    case 4:  // encapsulation
      AppendPhaseTwoAttributeLabel(out, t);
      out += PhaseTwoAttributeValueName(t, v);
      break;
    case 5:  // authentication algorithm; AES-GCM derives its own
      AppendPhaseTwoAttributeLabel(out, t);
      out += v == 0 && transformId == kEspAesGcm ? std::string_view("Derived from AES_GCM")
                                                 : PhaseTwoAttributeValueName(t, v);
      break;
    case 2:  // life duration
    case 6:
    case 7:
    case 8:
    case 9:
      AppendPhaseTwoAttributeLabel(out, t);
      AppendNumberText(out, v, 10);
      break;
    default: out += UnknownAttributeText(attribute_); break;
  }
}

// ---- attribute space 256 -----------------------------------------------------------------------

namespace {

constexpr std::uint32_t kFormatBit = 0x8000u;

// "00 00 70 80 (28800)": the dump, then its value in decimal.
std::string DumpAndDecimal(const ByteList& val, std::string_view gap) {
  std::string t = SpacedHex(val);
  t += gap;
  t += '(';
  AppendNumberText(t, ByteListValue(val), 10);
  t += ')';
  return t;
}

// The gateway's address-assignment result (its private attribute 16389).
std::string_view AssignmentStatusText(std::uint32_t status) {
  switch (status) {
    case 0: return "Success (";
    case 1: return "User not in HM group (";
    case 2: return "Failed (";
    default: return "Unknown (";
  }
}

}  // namespace

std::string ConfigModeValueText(const IsakmpValue& value) {
  const ByteList& val = value.Val();
  const std::uint32_t a = ByteListValue(value.Attribute());  // the whole type: no format bit is removed
  const std::uint32_t v = ByteListValue(val);
  switch (a) {
    // Configuration attributes; the label table is indexed by the type.
    case 1:   // internal IPv4 address (with its mask when the daemon dumps eight bytes)
    case 2:   // netmask
    case 3:   // DNS
    case 4:   // NBNS
    case 6:   // DHCP
      return ConfigModeAttributeLabel(a) + DottedAddressText(val);
    case 5:  // address expiry, in seconds
      return ConfigModeAttributeLabel(a) + DumpAndDecimal(val, "");
    case 7:   // application version
    case 8:   // the IPv6 attributes: shown as dumped
    case 9:
    case 10:
    case 11:
    case 12:
    case 13:  // extended-authentication type
    case 16:  // passcode
    case 19:  // domain
    case 20:  // status
      return ConfigModeAttributeLabel(a) + SpacedHex(val);
    case 14:  // user name
      return ConfigModeAttributeLabel(a) + SpacedHex(val) + " (" + CharText(val, true) + ")";
    case 15:  // password: the value stays hidden
      return ConfigModeAttributeLabel(a) + "(***********)";
    case 17:  // message
    case 18:  // challenge
      return ConfigModeAttributeLabel(a) + WrappedHex(val) + "\r\n  (" + CharText(val, false) + ")";
    case kFormatBit | 13:  // extended-authentication type and status in the basic (type/value)
    case kFormatBit | 20:  // form: the same labels
      return ConfigModeAttributeLabel(a & ~kFormatBit) + SpacedHex(val);

    // The gateway's private attributes.
    case 16384: return "ZLAN Data:\t" + DumpAndDecimal(val, " ");
    case 16385: return "ZLAN Hash:\r\n" + WrappedHex(val);
    case 16387: return "Domain Name:\t\t\t" + SpacedHex(val) + "\r\n\t\t\t\t(" + CharText(val, true) + ")";
    case 16388: return "Virtual Adapter MAC Address\t" + SpacedHex(val);
    case 16389: {  // the result of the client's address assignment
      std::string t = "IP Assignment status\t\t";
      t += AssignmentStatusText(v);
      AppendNumberText(t, v, 10);
      t += ')';
      return t;
    }
    case 16400: return "DHCP Hostname\t\t\t" + CharText(val, true);
    case 16401: return "DHCP FQDN\t\t\t" + CharText(val, true);
    case 16402: return "DHCP Vendor\t\t\t" + CharText(val, true);
    case 16403: return "DHCP User\t\t\t" + CharText(val, true);
    case 16453: return "TRX Session cookie\t\t" + SpacedHex(val);
    case 16455: return "Hearth Mode allowed:\t\t" + CharText(val, true);
    case 16456: return "Show message\t\t\t" + CharText(val, true);
    case 16457: return "Message\t\t\t\t" + CharText(val, false);
    case 16458: return "Message ID\t\t\t" + NumberText(v, 10);
    case 16459: return "Message interval\t\t" + NumberText(v, 10);
    case 16460: return "Connection allowed\t\t" + CharText(val, true);
    default: return ConfigModeAttributeLabel(0) + " (" + SpacedHex(value.Attribute()) + ")";
  }
}

}  // namespace quillon
