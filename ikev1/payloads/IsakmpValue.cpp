#include "ikev1/payloads/IsakmpValue.h"

#include <array>

#include "ikev1/log/DebugLogReader.h"
#include "ikev1/payloads/Dictionaries.h"

namespace quillon {

namespace {

constexpr std::uint32_t kUnread = 0xFFFFFFFFu;
constexpr int kLabelSearchLimit = 100;  // as far as the reader's own label search looks
constexpr std::string_view kKeyword = "debugIsakmpValue:";

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

std::string UnknownAttributeText(const ByteList& attribute) { return "Unknown Attribute (" + H(attribute) + ")"; }

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
  for (int count = 0; count < kLabelSearchLimit; ++count) {
    if (reader.IsAbandoned() || reader.RestartSeen()) return false;
    const std::string& t = reader.ReadToken();
    if (reader.RestartSeen()) return false;
    if (t == label) return true;
    if (DebugLogReader::IsHeaderStart(t)) {
      // The next packet starts here: leave it for the packet scan.
      reader.PushBack();
      reader.Abandon();
      return false;
    }
    if (StopsSubBlock(t)) {
      reader.PushBack();
      return false;
    }
    if (reader.AtEnd()) return false;
  }
  return false;
}

std::uint32_t ReadSubBlockNumber(DebugLogReader& reader, std::string_view label) {
  if (!SeekSubBlockLabel(reader, label)) return kUnread;
  const std::uint32_t value = reader.ReadHexNumber();
  if (value == kUnread && !reader.IsAbandoned() && !reader.RestartSeen()) reader.PushBack();
  return value;
}

ByteList ReadSubBlockBytes(DebugLogReader& reader, std::string_view label, QLFolder& node) {
  if (!SeekSubBlockLabel(reader, label)) return {};
  return node.ReadByteList(reader);
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

IsakmpValue::IsakmpValue(DebugLogReader& reader, int attributeSpace, QLFolder* /*owner*/)
    : attributeSpace_(attributeSpace) {
  if (!reader.IsAbandoned() && !reader.RestartSeen() && reader.ReadToken() != kKeyword) reader.PushBack();
  attribute_ = ReadSubBlockBytes(reader, "Attribute:", *this);
  format_ = ReadSubBlockNumber(reader, "Format:");
  if (format_ == 0) {
    length_ = ReadSubBlockBytes(reader, "Length:", *this);
    val_ = ReadSubBlockBytes(reader, "Val:", *this);
    // The written variable-length form follows the dump with its decimal value in parentheses.
    if (!reader.IsAbandoned() && !reader.RestartSeen()) {
      const std::string& t = reader.ReadToken();
      if (std::string_view(t).substr(0, 20).find('(') == std::string_view::npos) reader.PushBack();
    }
  } else {
    val_ = ReadSubBlockBytes(reader, "Val:", *this);
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
        hasUserName_ = true;
        userName_ = std::move(name);
      }
      break;
    }
    case kMessageAttribute: {
      // "User <name> authenticated ...": the name between the two words.
      const std::string s = CharText(val_, false);
      const std::size_t q = s.find(" authenticated");
      if (s.starts_with("User") && q != std::string::npos && q > 5) {
        hasUserName_ = true;
        userName_ = s.substr(5, q - 5);
      }
      break;
    }
    case kAssignedAddressAttribute:
      if (ByteListValue(val_) != 0) {
        hasUserDetail_ = true;
        userDetail_ = DottedAddressText(val_);
      }
      break;
    default: break;
  }
}

void IsakmpValue::WriteDebug(std::string& out) const {
  out += "debugIsakmpValue:\n\tAttribute: ";
  AppendHexText(out, attribute_, 16, false, true);
  out += "\n\tFormat: ";
  AppendNumberText(out, format_, 10);
  out += '\n';
  if (format_ == 0) {
    out += "\tLength: ";
    AppendHexText(out, length_, 16, false, true);
    out += '(';
    AppendNumberText(out, ByteListValue(length_), 10);
    out += ")\n";
  }
  out += "\tVal: ";
  AppendHexText(out, val_, 16, false, true);
  if (format_ == 0) {
    out += '(';
    AppendNumberText(out, ByteListValue(val_), 10);
    out += ')';
  }
  out += '\n';
}

std::string IsakmpValue::ValueText(std::int32_t protocolId, std::uint32_t transformId) const {
  switch (attributeSpace_) {
    case kPhaseOneSpace: return PhaseOneText();
    case kConfigModeSpace: return ConfigModeValueText(*this);
    default: return PhaseTwoText(protocolId, transformId);
  }
}

// Attribute space 32: the ISAKMP SA attributes and the CRACK attributes, the format bit
// (and anything above it) cleared.
std::string IsakmpValue::PhaseOneText() const {
  const std::uint32_t t = ByteListValue(attribute_) & 0x7FFFu;
  const std::uint32_t v = ByteListValue(val_);
  if (IsPhaseOneNamed(t)) return PhaseOneAttributeLabel(t) + PhaseOneAttributeValueName(t, v);
  if (t == 13) return PhaseOneAttributeLabel(t);  // "PRF: " without its value
  if (IsPhaseOneNumber(t)) return PhaseOneAttributeLabel(t) + NumberText(v, 10);
  switch (t) {
    case 16390: return CrackAttributeLabel(t) + H(val_) + "(" + CharText(val_, true) + ")";  // user name
    case 16391: return CrackAttributeLabel(t) + H(val_);                                     // secret
    case 16392:
    case 16393:
    case 16394:
    case 16395: return CrackAttributeLabel(t);                                    // domain .. message
    case 16396: return CrackAttributeLabel(t) + H(val_) + CrackFinStatusName(v);  // finish status
    default: return UnknownAttributeText(attribute_);
  }
}

// Attribute space 64 (and any space but 32 and 256): the IPsec SA attributes, type modulo 32.
std::string IsakmpValue::PhaseTwoText(std::int32_t protocolId, std::uint32_t transformId) const {
  constexpr std::int32_t kIpcomp = 4;
  constexpr std::uint32_t kEspAesGcm = 20;
  const std::uint32_t t = ByteListValue(attribute_) % 32;
  const std::uint32_t v = ByteListValue(val_);
  const char* lifePrefix = protocolId == kIpcomp ? "IPCA " : "SA ";
  switch (t) {
    case 1: return lifePrefix + PhaseTwoAttributeLabel(t) + PhaseTwoAttributeValueName(t, v);  // life type
    case 2: return lifePrefix + PhaseTwoAttributeLabel(t) + NumberText(v, 10);                 // life duration
    case 3:
    case 4: return PhaseTwoAttributeLabel(t) + PhaseTwoAttributeValueName(t, v);  // group, encapsulation
    case 5:  // authentication algorithm; AES-GCM derives its own
      return PhaseTwoAttributeLabel(t) + (v == 0 && transformId == kEspAesGcm ? std::string("Derived from AES_GCM")
                                                                              : PhaseTwoAttributeValueName(t, v));
    case 6:
    case 7:
    case 8:
    case 9: return PhaseTwoAttributeLabel(t) + NumberText(v, 10);
    default: return UnknownAttributeText(attribute_);
  }
}

// ---- attribute space 256 -----------------------------------------------------------------------

std::string ConfigModeValueText(const IsakmpValue& value) {
  // To be filled in with the configuration-mode attribute payload (the labels of
  // ConfigModeAttributeLabel and the gateway's private attributes). Until then: the type only;
  // the value is not shown, as it may be a password.
  return "Configuration attribute (" + H(value.Attribute()) + ")";
}

}  // namespace quillon
