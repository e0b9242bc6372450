#include "ikev1/payloads/KeyMaterialPayloads.h"

#include "ikev1/log/DebugLogReader.h"
#include "ikev1/payloads/Dictionaries.h"
#include "ikev1/payloads/IsakmpValue.h"
#include "model/TextHash.h"

namespace quillon {

namespace {

constexpr std::uint32_t kUnread = 0xFFFFFFFFu;
constexpr int kLabelSearchLimit = 100;  // as far as the reader's own label search looks

// The five layouts. The written data line of the long dumps (key exchange data, signature)
// puts the wrapped dump on lines of its own; the short ones follow their label.
constexpr KeyMaterialLayout kKeyLayout{"Key", "debugKeyPayload:", "KeyData:", "\tKeyData:\n", true,
                                       "Key Payload", "\r\nKey Data:\r\n"};
constexpr KeyMaterialLayout kNonceLayout{"Nonce", "debugNoncePayload:", "NonceData:", "\tNonceData: ", false,
                                         "Nonce Payload", "\r\nNonce Data:\r\n"};
constexpr KeyMaterialLayout kHashLayout{"Hash", "debugHashPayload:", "HashData:", "\tHashData: ", false,
                                        "Hash Payload", "\r\nHash Data:\r\n"};
constexpr KeyMaterialLayout kSigLayout{"Sig", "debugSigPayload:", "SigData:", "\tSigData:\n", true,
                                       "Signature Payload", "\r\n\r\nSigData:\r\n"};
constexpr KeyMaterialLayout kNatDLayout{"NAT Discovery", "debugNatDPayload:", "Hash:", "\tHash: ", false,
                                        "NAT-D Payload", "\r\nNAT-D Hash:\r\n"};

// " 00 18 (24)" without the leading blank: the hex bytes, each followed by a blank, then the
// decimal value in parentheses; `gap` goes between the two.
void AppendLength(std::string& out, const ByteList& length, std::string_view gap) {
  AppendHexText(out, length, 16, false, true);
  out += gap;
  out += '(';
  AppendNumberText(out, ByteListValue(length), 10);
  out += ')';
}

}  // namespace

// ---- labelled fields ----------------------------------------------------------------------------

bool EndsPayloadBlock(std::string_view token) {
  return DebugLogReader::IsBlockKeyword(token) || DebugLogReader::IsDebugMarker(token);
}

bool SeekBlockLabel(DebugLogReader& reader, std::string_view label, BlockEndTest endsBlock) {
  for (int count = 0; count < kLabelSearchLimit; ++count) {
    if (reader.IsAbandoned() || reader.RestartSeen()) return false;
    const std::string_view t = reader.ReadTokenView();
    if (reader.RestartSeen()) return false;
    if (SameText(t, label)) return true;
    if (DebugLogReader::IsHeaderStart(t)) {
      // The next packet starts here: leave it for the packet scan.
      reader.PushBack();
      reader.Abandon();
      return false;
    }
    if (endsBlock(t)) {
      // The block ended without the label; what follows belongs to the payload chain.
      reader.PushBack();
      return false;
    }
    if (reader.AtEnd()) return false;
  }
  return false;
}

std::uint32_t ReadLabelledNumber(DebugLogReader& reader, std::string_view label, BlockEndTest endsBlock) {
  if (!SeekBlockLabel(reader, label, endsBlock)) return kUnread;
  const std::uint32_t value = reader.ReadHexNumber();
  if (value == kUnread && !reader.IsAbandoned() && !reader.RestartSeen()) reader.PushBack();
  return value;
}

ByteList ReadLabelledBytes(DebugLogReader& reader, std::string_view label, BlockEndTest endsBlock,
                           std::string* lengthNote) {
  if (!SeekBlockLabel(reader, label, endsBlock)) return {};
  return ReadByteList(reader, lengthNote);
}

// ---- PayloadFields ------------------------------------------------------------------------------

void PayloadFields::Read(DebugLogReader& reader) {
  nextPld = ReadLabelledNumber(reader, "NextPld:");
  reserved = ReadLabelledNumber(reader, "Reserved:");
  length = ReadLabelledBytes(reader, "Length:");
}

void PayloadFields::WriteLines(std::string& out) const {
  out += "\tNextPld: ";
  AppendNumberText(out, nextPld, 16);
  out += "\n\tReserved: ";
  AppendNumberText(out, reserved, 16);
  out += "\n\tLength: ";
  AppendLength(out, length, "");
  out += '\n';
}

void ReadInformationalHead(DebugLogReader& reader, PayloadFields& fields, ByteList& doi,
                           std::int32_t& protId, std::int32_t& spiSize) {
  fields.nextPld = ReadSubBlockNumber(reader, "NextPld:");
  fields.reserved = ReadSubBlockNumber(reader, "Reserved:");
  fields.length = ReadSubBlockBytes(reader, "Length:");
  doi = ReadSubBlockBytes(reader, "DOI:");
  protId = static_cast<std::int32_t>(ReadSubBlockNumber(reader, "ProtID:"));
  spiSize = static_cast<std::int32_t>(ReadSubBlockNumber(reader, "SPISize:"));
}

void WriteInformationalHead(std::string& out, std::string_view keyword, const PayloadFields& fields,
                            const ByteList& doi, std::int32_t protId, std::int32_t spiSize) {
  out += keyword;
  out += '\n';
  fields.WriteLines(out);
  out += "\tDOI: ";
  AppendHexText(out, doi, 16, false, true);
  out += "\n\tProtID: ";
  AppendNumberText(out, static_cast<std::uint32_t>(protId), 16);
  out += "\n\tSPISize: ";
  AppendNumberText(out, static_cast<std::uint32_t>(spiSize), 16);
  out += " (";
  AppendNumberText(out, static_cast<std::uint32_t>(spiSize), 10);
  out += ')';
}

std::string PayloadFields::DetailHead(std::string_view title, unsigned reservedBase) const {
  std::string t;
  AppendDetailHead(t, title, reservedBase);
  return t;
}

void PayloadFields::AppendDetailHead(std::string& out, std::string_view title, unsigned reservedBase) const {
  // Room for the head and a short body; the long dumps grow it once.
  out.reserve(out.size() + 160);
  out += title;
  out += "\r\n\r\nNext Payload:\t";
  out += PayloadTypeName(nextPld);
  out += "\r\nReserved:\t";
  AppendNumberText(out, reserved, reservedBase);
  out += "\r\nLength:\t\t";
  AppendLength(out, length, " ");
}

// ---- KeyMaterialPayload -------------------------------------------------------------------------

KeyMaterialPayload::KeyMaterialPayload(BlockCode code, const KeyMaterialLayout& layout, LogNode* parent)
    : IsakmpPayload(code, FixedName(layout.nodeName), parent), layout_(layout) {}

void KeyMaterialPayload::Read(DebugLogReader& reader, bool keepData) {
  fields_.Read(reader);
  ByteList data = ReadLabelledBytes(reader, layout_.dataLabel);
  if (keepData) data_ = std::move(data);
}

void KeyMaterialPayload::AppendDetailText(std::string& out) const {
  fields_.AppendDetailHead(out, layout_.title);
  out += layout_.detailLabel;
  AppendHexText(out, data_, 16, true, true);
}

namespace {

void WriteBlock(std::string& out, const KeyMaterialLayout& layout, const PayloadFields& fields, const ByteList& data) {
  out += layout.keyword;
  out += '\n';
  fields.WriteLines(out);
  out += layout.dataLine;
  AppendHexText(out, data, 16, layout.wrappedDump, true);
  out += '\n';
}

}  // namespace

void WriteKeyMaterialBlock(std::string& out, KeyMaterialKind kind, const PayloadFields& fields, const ByteList& data) {
  static constexpr const KeyMaterialLayout* kLayouts[] = {&kKeyLayout, &kNonceLayout, &kHashLayout, &kSigLayout,
                                                          &kNatDLayout};
  WriteBlock(out, *kLayouts[static_cast<int>(kind)], fields, data);
}

void WriteHashDataBlock(std::string& out, const ByteList& hash) {
  out += "debugHashData:\n\tHashData: ";
  AppendHexText(out, hash, 16, false, true);
  out += '\n';
}

void KeyMaterialPayload::WriteDebug(std::string& out) const { WriteBlock(out, layout_, fields_, data_); }

KeyPayload::KeyPayload(DebugLogReader& reader, LogNode* parent) : KeyMaterialPayload(kKeyBlock, kKeyLayout, parent) {
  Read(reader);
}

NoncePayload::NoncePayload(DebugLogReader& reader, LogNode* parent) : KeyMaterialPayload(kNonceBlock, kNonceLayout, parent) {
  Read(reader);
}

HashPayload::HashPayload(DebugLogReader& reader, bool created, LogNode* parent)
    : KeyMaterialPayload(kHashBlock, kHashLayout, parent) {
  // A created packet's hash is not final when the block is logged; "debugHashData:" brings it.
  Read(reader, !created);
}

void HashPayload::ReadHashData(DebugLogReader& reader) {
  if (SeekBlockLabel(reader, "HashData:")) SetData(ReadByteList(reader));
}

void HashPayload::WriteDebugLength(std::string& out) const { WriteHashDataBlock(out, Data()); }

SigPayload::SigPayload(DebugLogReader& reader, LogNode* parent) : KeyMaterialPayload(kSigBlock, kSigLayout, parent) {
  Read(reader);
}

NatDPayload::NatDPayload(DebugLogReader& reader, LogNode* parent) : KeyMaterialPayload(kNatDBlock, kNatDLayout, parent) {
  Read(reader);
}

}  // namespace quillon
