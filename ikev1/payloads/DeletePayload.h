// The delete payload ("debugDeletePayload:"): SAs deleted by the peer or the local daemon,
// named by their SPIs.
//
//   debugDeletePayload:
//   	NextPld: 00
//   	Reserved: 00
//   	Length: 00 10 (16)
//   	DOI: 00 00 00 01
//   	ProtID: 03
//   	SPISize: 04 (4)
//   	SPIs: 00 01
//   	SPIs: 11 22 33 44
//
// The label "SPIs:" stands twice: before the SPI count and before the SPI bytes.
#pragma once

#include <cstdint>
#include <string>

#include "ikev1/payloads/ByteList.h"
#include "ikev1/payloads/KeyMaterialPayloads.h"
#include "ikev1/payloads/IsakmpPayload.h"
#include "model/LogNode.h"

namespace quillon {

class DebugLogReader;

// The written delete block: the notification's layout, with the two "SPIs:" lines (the count,
// then the SPIs) its reader looks for.
void WriteDeleteBlock(std::string& out, const PayloadFields& fields, const ByteList& doi, std::int32_t protId,
                      std::int32_t spiSize, const ByteList& spiCount, const ByteList& spis);

class DeletePayload final : public IsakmpPayload {
 public:
  // Reads the block; the reader stands just after "debugDeletePayload:".
  DeletePayload(DebugLogReader& reader, LogNode* parent);

  // "Delete  (" and the SPIs in hex, unspaced, ")".
  void AppendCaption(std::string& out) const override;
  void AppendDetailText(std::string& out) const override;
  // The block in the notification's layout, with the two "SPIs:" lines its reader looks for,
  // so that a saved log keeps its deletes.
  void WriteDebug(std::string& out) const override;
  // All SPIs in hex, unspaced.
  std::string SpiText() const override;
  // "IKE" for DOI 0, "IPsec" for DOI 1, empty otherwise.
  std::string ProtocolName() const;

  const PayloadFields& Fields() const { return fields_; }
  const ByteList& DOI() const { return doi_; }
  std::int32_t ProtID() const { return protId_; }
  std::int32_t SPISize() const { return spiSize_; }
  const ByteList& SpiCount() const { return spiCount_; }
  const ByteList& SPIs() const { return spis_; }

 private:
  PayloadFields fields_;
  ByteList doi_;
  std::int32_t protId_ = 0;
  std::int32_t spiSize_ = 0;
  ByteList spiCount_;
  ByteList spis_;
};

}  // namespace quillon
