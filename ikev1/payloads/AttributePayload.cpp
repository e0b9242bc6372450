#include "ikev1/payloads/AttributePayload.h"

#include <memory>
#include <string_view>
#include <utility>

#include "ikev1/log/DebugLogReader.h"
#include "ikev1/payloads/Dictionaries.h"
#include "ikev1/payloads/IsakmpValue.h"

namespace quillon {

namespace {

constexpr std::string_view kLengthKeyword = "debugAttributePayloadLen:";

// The extended-authentication status attribute, without and with the format bit. 0 reports a
// failed authentication, 1 a successful one.
constexpr std::uint32_t kStatusAttribute = 20;
constexpr std::uint32_t kBasicStatusAttribute = 0x8000u | kStatusAttribute;



// "00 18 (24)" as the written blocks put a dump and its value: no blank before the parenthesis
// but the dump's own.
void AppendDumpAndValue(std::string& out, const ByteList& list) {
  AppendHexText(out, list, 16, false, true);
  out += '(';
  AppendNumberText(out, ByteListValue(list), 10);
  out += ')';
}

}  // namespace

AttributePayload::AttributePayload(DebugLogReader& reader, bool created, LogNode* parent)
    : IsakmpPayload(kAttributeBlock, FixedName("Attribute"), parent) {
  fields_.nextPld = ReadSubBlockNumber(reader, "NextPld:");
  fields_.reserved = ReadSubBlockNumber(reader, "Reserved:");
  fields_.length = ReadSubBlockBytes(reader, "Length:");
  type_ = ReadSubBlockNumber(reader, "Type:");
  reserved2_ = ReadSubBlockNumber(reader, "Reserved:");
  // The transaction identifier; some daemon versions label it "Length:".
  if (!reader.IsStopped()) {
    const std::string& t = reader.ReadToken();
    if (t == "Identifier:" || t == "Length:") {
      identifier_ = ReadByteList(reader);
    } else if (!reader.IsStopped()) {
      reader.PushBack();
    }
  }

  ReadAttributes(reader);

  // A created packet's final length follows the attributes. Only that block is looked for:
  // without it the length stays as first logged, and the next payload's length is not taken.
  if (created && SeekSubBlockLabel(reader, kLengthKeyword)) {
    lengthBlockRead_ = true;
    if (SeekSubBlockLabel(reader, "Length:")) {
      fields_.length = ReadByteList(reader);
      SkipParenthesisedDecimal(reader);
    }
  }
}

void AttributePayload::ReadAttributes(DebugLogReader& reader) {
  // The attributes may follow daemon lines; a payload without attributes has none (the
  // search stops at the next block rather than reading one out of it).
  if (!SeekSubBlockLabel(reader, kValueKeyword)) return;
  reader.PushBack();
  for (;;) {
    auto value = std::make_unique<IsakmpValue>(reader, IsakmpValue::kConfigModeSpace, this);
    if (reader.IsAbandoned()) return;  // cut by the next packet: dropped

    const std::uint32_t type = ByteListValue(value->Attribute());
    if (type == kStatusAttribute || type == kBasicStatusAttribute) status_ = ByteListValue(value->Val());
    if (!hasUserName_ && value->HasUserName()) {
      hasUserName_ = true;
      userName_ = value->UserName();
    }
    // An address attribute of any length but 4 or 8 bytes has no text; it does not replace
    // the address an earlier attribute assigned.
    if (value->HasUserDetail() && !value->UserDetail().empty()) {
      hasUserDetail_ = true;
      userDetail_ = value->UserDetail();
    }
    AppendChild(std::move(value));

    if (reader.IsStopped() || reader.AtEnd()) return;
    const bool more = reader.ReadToken() == kValueKeyword;
    if (reader.IsStopped()) return;
    reader.PushBack();  // the next attribute's keyword, or what follows the list
    if (!more || reader.AtEnd()) return;
  }
}

void AttributePayload::AppendDetailText(std::string& out) const {
  fields_.AppendDetailHead(out, "Attribute Payload");
  out += "\r\nType:\t\t" + DecimalText(type_) + " (" + ConfigModeTypeName(type_) + ")";
  out += "\r\nReserved:\t" + DecimalText(reserved2_);
  out += "\r\nIdentifier:\t";
  AppendHexText(out, identifier_, 16, false, true);
  out += " (" + DecimalText(ByteListValue(identifier_)) + ")\r\n\r\n";
  for (const auto& child : Children()) {
    if (const IsakmpValue* value = AsAttributeValue(*child)) {
      value->AppendValueText(out, 1, 0);
      out += "\r\n";
    }
  }
}

void WriteAttributeBlock(std::string& out, const PayloadFields& fields, std::uint32_t type, std::uint32_t reserved2,
                         const ByteList& identifier) {
  out += "debugAttributePayload:\n";
  fields.WriteLines(out);
  out += "\tType: ";
  AppendNumberText(out, type, 16);
  out += "\n\tReserved: ";
  AppendNumberText(out, reserved2, 16);
  out += "\n\tIdentifier: ";
  AppendDumpAndValue(out, identifier);
  out += '\n';
}

void WriteAttributeLengthBlock(std::string& out, const ByteList& length) {
  out += kLengthKeyword;
  out += "\n\tLength: ";
  AppendDumpAndValue(out, length);
  out += '\n';
}

void AttributePayload::WriteDebug(std::string& out) const {
  WriteAttributeBlock(out, fields_, type_, reserved2_, identifier_);
}

void AttributePayload::WriteDebugLength(std::string& out) const {
  if (lengthBlockRead_) WriteAttributeLengthBlock(out, fields_.length);
}

}  // namespace quillon
