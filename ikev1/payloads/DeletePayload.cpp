#include "ikev1/payloads/DeletePayload.h"

#include "ikev1/log/DebugLogReader.h"
#include "ikev1/payloads/IsakmpValue.h"

namespace quillon {

namespace {


}  // namespace

DeletePayload::DeletePayload(DebugLogReader& reader, LogNode* parent) : IsakmpPayload(kDeleteBlock, FixedName("Delete"), parent) {
  ReadInformationalHead(reader, fields_, doi_, protId_, spiSize_);
  // The label stands twice: before the count, then before the SPI bytes.
  spiCount_ = ReadSubBlockBytes(reader, "SPIs:");
  spis_ = ReadSubBlockBytes(reader, "SPIs:");
}

void DeletePayload::AppendCaption(std::string& out) const {
  out += Name();
  out += "  (";
  AppendHexText(out, spis_, 16, false, false);
  out += ')';
}

std::string DeletePayload::SpiText() const { return UnspacedHex(spis_); }

std::string DeletePayload::ProtocolName() const {
  switch (ByteListValue(doi_)) {
    case 0: return "IKE";
    case 1: return "IPsec";
    default: return {};
  }
}

void DeletePayload::AppendDetailText(std::string& out) const {
  fields_.AppendDetailHead(out, "Delete Payload");
  out += "\r\nDOI:\t\t" + SpacedHex(doi_);
  out += "\r\nProtID:\t\t" + DecimalText(static_cast<std::uint32_t>(protId_));
  out += "\r\nSPI Size:\t" + DecimalText(static_cast<std::uint32_t>(spiSize_));
  out += "\r\nNum of SPIs:\t" + DecimalText(ByteListValue(spiCount_));
  // Long SPIs stand on a line of their own.
  out += spiSize_ < 16 ? "\r\nSPI:\t\t" : "\r\nSPI:\r\n";
  out += UnspacedHex(spis_);
  out += "\r\n";
}

void WriteDeleteBlock(std::string& out, const PayloadFields& fields, const ByteList& doi, std::int32_t protId,
                      std::int32_t spiSize, const ByteList& spiCount, const ByteList& spis) {
  WriteInformationalHead(out, "debugDeletePayload:", fields, doi, protId, spiSize);
  out += "\n\tSPIs: " + SpacedHex(spiCount);
  out += "\n\tSPIs: " + SpacedHex(spis);
  out += '\n';
}

void DeletePayload::WriteDebug(std::string& out) const {
  WriteDeleteBlock(out, fields_, doi_, protId_, spiSize_, spiCount_, spis_);
}

}  // namespace quillon
