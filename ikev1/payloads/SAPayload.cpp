#include "ikev1/payloads/SAPayload.h"

#include <memory>
#include <string_view>
#include <utility>

#include "ikev1/log/DebugLogReader.h"
#include "ikev1/payloads/Dictionaries.h"
#include "ikev1/payloads/IsakmpValue.h"

namespace quillon {

namespace {

constexpr std::string_view kPropKeyword = "debugPropPayload:";
constexpr std::string_view kTransKeyword = "debugTransPayload:";
constexpr std::string_view kSaLengthKeyword = "debugSAPayloadLen:";
constexpr std::string_view kPropLengthKeyword = "debugPropPayloadLen:";
constexpr std::string_view kTransLengthKeyword = "debugTransPayloadLen:";


// Consumes the keyword of the block about to be read when it is the next token.
void TakeKeyword(DebugLogReader& reader, std::string_view keyword) {
  if (!reader.IsStopped() && reader.ReadToken() != keyword) reader.PushBack();
}

// The next token, left to be read again (valid until the next read).
const std::string& PeekToken(DebugLogReader& reader) {
  if (reader.IsStopped()) return reader.CurrentToken();
  const std::string& t = reader.ReadToken();
  reader.PushBack();
  return t;
}

// Clears the abandon state that a transform or a cut block left, so that the SA and the
// message go on reading; the token that stopped the reading (the next packet's start, when it
// stopped there) is read again.
void Resume(DebugLogReader& reader) {
  if (!reader.IsAbandoned()) return;
  reader.PushBack();
  reader.ClearAbandon();
}

// Reads the length block `keyword` when it is the next token; the final length goes to
// `length` unless that is null (the block is then only passed over). Returns whether the block
// was there.
bool ReadLengthBlock(DebugLogReader& reader, std::string_view keyword, ByteList* length) {
  if (reader.IsStopped()) return false;
  if (reader.ReadToken() != keyword) {
    reader.PushBack();
    return false;
  }
  if (SeekSubBlockLabel(reader, "Length:")) {
    ByteList value = ReadByteList(reader);
    SkipParenthesisedDecimal(reader);
    if (length != nullptr) *length = std::move(value);
  }
  return true;
}

// Passes over what is left of a proposal after its transforms: a dropped transform with its
// attributes and the transforms after it, or daemon lines. Stops before the proposal's length
// block, the next proposal, the SA's length block, the next payload block or packet.
void SkipToProposalEnd(DebugLogReader& reader) {
  while (!reader.IsStopped() && !reader.AtEnd()) {
    const std::string& t = reader.ReadToken();
    if (reader.RestartSeen() || reader.AtEnd()) return;
    if (t == kPropLengthKeyword || t == kPropKeyword || t == kSaLengthKeyword || DebugLogReader::IsBlockKeyword(t) ||
        DebugLogReader::IsHeaderStart(t) || DebugLogReader::IsDebugMarker(t)) {
      reader.PushBack();
      return;
    }
  }
}

void WriteLengthBlock(std::string& out, std::string_view keyword, const ByteList& length) {
  out += keyword;
  out += "\n\tLength: ";
  AppendHexText(out, length, 16, false, true);
  out += '(';
  AppendNumberText(out, ByteListValue(length), 10);
  out += ")\n";
}


}  // namespace

// ---- SAPayload ----------------------------------------------------------------------------------

SAPayload::SAPayload(DebugLogReader& reader, bool created, int attributeSpace, LogNode* parent)
    : IsakmpPayload(kSaBlock, FixedName("Security Association"), parent) {
  fields_.nextPld = ReadSubBlockNumber(reader, "NextPld:");
  fields_.reserved = ReadSubBlockNumber(reader, "Reserved:");
  fields_.length = ReadSubBlockBytes(reader, "Length:");
  doi_ = ReadSubBlockBytes(reader, "DOI:");
  situation_ = ReadSubBlockBytes(reader, "Situation:");

  for (int position = 1; PeekToken(reader) == kPropKeyword && !reader.IsStopped() && !reader.AtEnd(); ++position) {
    auto proposal = std::make_unique<PropPayload>(reader, created, attributeSpace,
                                                  "prop" + DecimalText(static_cast<std::uint32_t>(position)), this);
    if (reader.IsAbandoned()) break;  // the proposal is dropped
    AppendChild(std::move(proposal));
  }
  // A created packet's final length follows the proposals.
  ReadLengthBlock(reader, kSaLengthKeyword, created ? &fields_.length : nullptr);
  Resume(reader);
}

// The reader appends nothing but proposals to an SA payload, and nothing but transforms to a
// proposal.
PropPayload* SAPayload::Proposal(std::size_t index) const { return static_cast<PropPayload*>(Child(index)); }

void SAPayload::AppendDetailText(std::string& out) const {
  fields_.AppendDetailHead(out, "SAPayload", 16);
  out += "\r\nDOI:\t\t";
  AppendHexText(out, doi_, 16, false, true);
  out += "\r\nSituation:\t";
  AppendHexText(out, situation_, 16, false, true);
  out += "\r\n";
}

void WriteSABlock(std::string& out, const PayloadFields& fields, const ByteList& doi, const ByteList& situation) {
  out += "debugSAPayload:\n";
  fields.WriteLines(out);
  out += "\tDOI: ";
  AppendHexText(out, doi, 16, false, true);
  out += "\n\tSituation: ";
  AppendHexText(out, situation, 16, false, true);
  out += '\n';
}

void WriteSALengthBlock(std::string& out, SALevel level, const ByteList& length) {
  WriteLengthBlock(out,
                   level == SALevel::kSA         ? kSaLengthKeyword
                   : level == SALevel::kProposal ? kPropLengthKeyword
                                                 : kTransLengthKeyword,
                   length);
}

void WriteTransMatchFailure(std::string& out, std::uint32_t propNum, std::uint32_t transNum, std::uint32_t transId,
                            std::string_view reason) {
  out += "TransMatchFailure: prop ";
  AppendNumberText(out, propNum, 16);
  out += " trans in prop ";
  AppendNumberText(out, transNum, 16);
  out += " id ";
  AppendNumberText(out, transId, 16);
  out += " reason: ";
  out += reason;
  out += '\n';
}

void SAPayload::WriteDebug(std::string& out) const { WriteSABlock(out, fields_, doi_, situation_); }

void SAPayload::WriteDebugLength(std::string& out) const {
  WriteLengthBlock(out, kSaLengthKeyword, fields_.length);
  // The daemon's transform-match lines for the transforms it did not choose: the message's
  // payload chain reads them after the SA and marks the same transforms again.
  for (const auto& proposal : Children()) {
    const auto* prop = static_cast<const PropPayload*>(proposal.get());
    for (const auto& child : prop->Children()) {
      const auto* transform = static_cast<const TransPayload*>(child.get());
      if (!transform->IsNotChosen()) continue;
      WriteTransMatchFailure(out, prop->PropNum(), transform->TransNum(), transform->TransId(),
                             transform->NotChosenReason());
    }
  }
}

std::string SAPayload::SpiText() const {
  for (const auto& child : Children()) {
    std::string spi = child->SpiText();
    if (!spi.empty()) return spi;
  }
  return {};
}

void SAPayload::MarkNotChosen(std::uint32_t proposalNumber, std::uint32_t transformNumber, std::uint32_t transformId,
                              const std::string& reason) {
  for (std::size_t p = 0; p < ProposalCount(); ++p) {
    const PropPayload* proposal = Proposal(p);
    if (proposal == nullptr || proposal->PropNum() != proposalNumber) continue;
    for (std::size_t i = 0; i < proposal->TransformCount(); ++i) {
      TransPayload* transform = proposal->Transform(i);
      if (transform != nullptr && transform->TransNum() == transformNumber && transform->TransId() == transformId)
        transform->MarkNotChosen(reason);
    }
  }
}

// ---- PropPayload --------------------------------------------------------------------------------

PropPayload::PropPayload(DebugLogReader& reader, bool created, int attributeSpace, std::string name, LogNode* parent)
    : LogNode(std::move(name), parent) {
  TakeKeyword(reader, kPropKeyword);
  fields_.nextPld = ReadSubBlockNumber(reader, "NextPld:");
  fields_.reserved = ReadSubBlockNumber(reader, "Reserved:");
  fields_.length = ReadSubBlockBytes(reader, "Length:");
  propNum_ = ReadSubBlockNumber(reader, "PropNum:");
  protId_ = static_cast<std::int32_t>(ReadSubBlockNumber(reader, "ProtId:"));
  spiSize_ = ReadSubBlockNumber(reader, "SpiSize:");
  numOfTrans_ = static_cast<std::int32_t>(ReadSubBlockNumber(reader, "NumOfTrans:"));
  // The SPI, when the proposal has one, is the block's last line.
  if (!reader.IsStopped()) {
    if (reader.ReadToken() == "SPI:") {
      spi_ = ReadByteList(reader);
    } else {
      reader.PushBack();
    }
  }

  std::string t = PeekToken(reader);
  for (std::int64_t i = 0; i < numOfTrans_; ++i) {
    if ((t != kTransKeyword && t != kTransLengthKeyword) || reader.IsStopped()) break;
    const bool isLast = i == std::int64_t{numOfTrans_} - 1;
    auto transform = std::make_unique<TransPayload>(reader, created, attributeSpace, protId_,
                                                    "tran" + DecimalText(static_cast<std::uint32_t>(i + 1)), this, t, isLast);
    if (reader.IsAbandoned()) break;  // inconsistent or cut: dropped with the transforms after it
    AppendChild(std::move(transform));
  }
  Resume(reader);
  SkipToProposalEnd(reader);
  // A created packet's final length follows the transforms.
  ReadLengthBlock(reader, kPropLengthKeyword, created ? &fields_.length : nullptr);
  Resume(reader);
}

TransPayload* PropPayload::Transform(std::size_t index) const { return static_cast<TransPayload*>(Child(index)); }

void PropPayload::AppendCaption(std::string& out) const {
  out += Name();
  if (protId_ >= 5) {
    out += "Unknown Protocol ID!";
    return;
  }
  out += ProtocolCaptionName(static_cast<std::uint32_t>(protId_));
  if (ByteListValue(spi_) != 0) {
    out += "  (";
    AppendHexText(out, spi_, 16, false, false);
    out += ')';
  }
}

void PropPayload::AppendDetailText(std::string& out) const {
  fields_.AppendDetailHead(out, "Proposal Payload", 16);
  out += "\r\nPropNum:\t" + DecimalText(propNum_);
  out += "\r\nProtId:\t\t" + DecimalText(static_cast<std::uint32_t>(protId_));
  if (protId_ != 1) {
    const bool ipcomp = protId_ == 4;  // IPCOMP names its SPI a CPI
    out += (ipcomp ? "\r\nCPI Size:\t" : "\r\nSPI Size:\t") + DecimalText(spiSize_);
    out += (ipcomp ? "\r\nCPI:\t\t" : "\r\nSPI:\t\t") + UnspacedHex(spi_);
  }
  out += "\r\nNum Transforms:\t" + DecimalText(static_cast<std::uint32_t>(numOfTrans_));
}

void WriteProposalBlock(std::string& out, const PayloadFields& fields, std::uint32_t propNum, std::uint32_t protId,
                        std::uint32_t spiSize, std::uint32_t transforms, const ByteList& spi) {
  out += "debugPropPayload:\n";
  fields.WriteLines(out);
  out += "\tPropNum: " + HexNumberText(propNum);
  out += "\n\tProtId: " + HexNumberText(protId);
  out += "\n\tSpiSize: " + HexNumberText(spiSize);
  out += "\n\tNumOfTrans: " + HexNumberText(transforms);
  out += '\n';
  if (!spi.empty()) out += "\tSPI: " + SpacedHex(spi) + "\n";  // so that a saved log keeps its SPIs
}

void PropPayload::WriteDebug(std::string& out) const {
  WriteProposalBlock(out, fields_, propNum_, static_cast<std::uint32_t>(protId_), spiSize_,
                     static_cast<std::uint32_t>(numOfTrans_), spi_);
}

void PropPayload::WriteDebugLength(std::string& out) const {
  WriteLengthBlock(out, kPropLengthKeyword, fields_.length);
}

std::string PropPayload::SpiText() const { return UnspacedHex(spi_); }

// ---- TransPayload -------------------------------------------------------------------------------

TransPayload::TransPayload(DebugLogReader& reader, bool created, int attributeSpace, std::int32_t protocolId,
                           std::string name, LogNode* parent, std::string& token, bool isLast)
    : LogNode(std::move(name), parent), protId_(protocolId) {
  TakeKeyword(reader, kTransKeyword);
  fields_.nextPld = ReadSubBlockNumber(reader, "NextPld:");
  // Another transform follows (3) or none (0): any other value means the block does not fit
  // its proposal, and the transform is dropped.
  if (fields_.nextPld != (isLast ? 0u : 3u)) {
    reader.Abandon();
    return;
  }
  fields_.reserved = ReadSubBlockNumber(reader, "Reserved:");
  fields_.length = ReadSubBlockBytes(reader, "Length:");
  transNum_ = ReadSubBlockNumber(reader, "TransNum:");
  transId_ = ReadSubBlockNumber(reader, "TransId:");
  reserved2_ = ReadSubBlockBytes(reader, "Reserved2:");

  if (SeekSubBlockLabel(reader, kValueKeyword)) reader.PushBack();
  while (PeekToken(reader) == kValueKeyword && !reader.IsStopped() && !reader.AtEnd()) {
    auto value = std::make_unique<IsakmpValue>(reader, attributeSpace, this);
    if (reader.IsAbandoned()) break;  // cut by the next packet
    AppendChild(std::move(value));
  }
  // A created packet's final length follows the attributes.
  if (ReadLengthBlock(reader, kTransLengthKeyword, created ? &fields_.length : nullptr))
    lengthBlockRead_ = created;
  token = PeekToken(reader);
}

void TransPayload::AppendCaption(std::string& out) const {
  out += Name();
  out += ' ';
  out += TransformIdName(static_cast<std::uint32_t>(protId_), transId_);
}

void TransPayload::AppendDetailText(std::string& out) const {
  out += "Transform Payload - ";  // the head's title goes on with the transform's name
  fields_.AppendDetailHead(out, TransformIdName(static_cast<std::uint32_t>(protId_), transId_));
  out += "\r\nTransNum:\t";
  AppendNumberText(out, transNum_, 10);
  out += "\r\nTransId:\t";
  AppendNumberText(out, transId_, 10);
  out += "\r\nReserved2:\t";
  AppendHexText(out, reserved2_, 16, false, true);
  out += " (";
  AppendNumberText(out, ByteListValue(reserved2_), 10);
  out += ")\r\n\r\n";
  for (const auto& child : Children()) {
    if (const IsakmpValue* value = AsAttributeValue(*child)) {
      value->AppendValueText(out, protId_, transId_);
      out += "\r\n";
    }
  }
  if (notChosen_) {
    out += "\r\nNot chosen because: ";
    out += notChosenReason_;
  }
}

void WriteTransformBlock(std::string& out, const PayloadFields& fields, std::uint32_t transNum, std::uint32_t transId,
                         const ByteList& reserved2) {
  out += "debugTransPayload:\n";
  fields.WriteLines(out);
  out += "\tTransNum: " + HexNumberText(transNum);
  out += "\n\tTransId: " + HexNumberText(transId);
  out += "\n\tReserved2: ";
  AppendHexText(out, reserved2, 16, false, true);
  out += "(" + DecimalText(ByteListValue(reserved2)) + ")\n";
}

void TransPayload::WriteDebug(std::string& out) const {
  WriteTransformBlock(out, fields_, transNum_, transId_, reserved2_);
}

void TransPayload::WriteDebugLength(std::string& out) const {
  if (lengthBlockRead_) WriteLengthBlock(out, kTransLengthKeyword, fields_.length);
}

}  // namespace quillon
