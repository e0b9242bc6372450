// The notification payload ("debugNotifyPayload:"): an ISAKMP error or status message (replay
// status, responder lifetime, initial contact), the dead-peer-detection messages and the
// gateway's private notifications.
//
//   debugNotifyPayload:
//   	NextPld: 00
//   	Reserved: 00
//   	Length: 00 1c (28)
//   	DOI: 00 00 00 01
//   	ProtID: 03
//   	SPISize: 04 (4)
//   	NotifyType: 60 01
//   	SPI: 11 22 33 44
//   	NotifData: 00 00 00 01
//
// The daemon may follow the data dump with a second rendering of the data ("NotifData" without
// colon), which is passed over; a responder-lifetime notification follows it with the
// lifetime attributes as "debugIsakmpValue:" blocks, which become the payload's children.
#pragma once

#include <cstdint>
#include <string>

#include "ikev1/payloads/ByteList.h"
#include "ikev1/payloads/KeyMaterialPayloads.h"
#include "ikev1/payloads/IsakmpPayload.h"
#include "model/LogNode.h"

namespace quillon {

class DebugLogReader;

// The written notification block (responder-lifetime attributes follow as IsakmpValue blocks).
void WriteNotifyBlock(std::string& out, const PayloadFields& fields, const ByteList& doi, std::int32_t protId,
                      std::int32_t spiSize, const ByteList& notifyType, const ByteList& spi, const ByteList& data);

class NotifyPayload final : public IsakmpPayload {
 public:
  static constexpr std::uint32_t kNoProposalChosen = 14;
  static constexpr std::uint32_t kInvalidKeyInformation = 17;
  static constexpr std::uint32_t kInvalidIdInformation = 18;
  // RFC 2408 notify message types 1 to 8191 are errors; status types start at 16384.
  static constexpr std::uint32_t kLastErrorType = 8191;
  // RFC 3706 dead peer detection: R-U-THERE and its acknowledgement.
  static constexpr std::uint32_t kDpdHello = 36136;
  static constexpr std::uint32_t kDpdAck = 36137;
  static constexpr bool IsDpd(std::uint32_t type) { return type == kDpdHello || type == kDpdAck; }
  static constexpr bool IsError(std::uint32_t type) { return type >= 1 && type <= kLastErrorType; }
  static constexpr std::uint32_t kResponderLifetime = 24576;
  static constexpr std::uint32_t kReplayStatus = 24577;

  // Reads the block; the reader stands just after "debugNotifyPayload:".
  NotifyPayload(DebugLogReader& reader, LogNode* parent);

  // "Notify:   " and the notify type's name.
  void AppendCaption(std::string& out) const override;
  void AppendDetailText(std::string& out) const override;
  // The block, with the SPI and data lines always (empty when there is nothing); the
  // responder-lifetime attributes follow as their children's blocks.
  void WriteDebug(std::string& out) const override;
  // The SPI in hex, unspaced.
  std::string SpiText() const override;
  // The name of the notify type (from the value dictionaries).
  std::string NotifyTypeName() const;

  const PayloadFields& Fields() const { return fields_; }
  const ByteList& DOI() const { return doi_; }
  std::int32_t ProtID() const { return protId_; }
  std::int32_t SPISize() const { return spiSize_; }
  const ByteList& SPI() const { return spi_; }
  const ByteList& NotifyType() const { return notifyType_; }
  std::uint32_t NotifyTypeValue() const { return ByteListValue(notifyType_); }
  bool HasData() const { return hasData_; }
  const ByteList& NotifData() const { return notifData_; }
  bool DataAsText() const { return dataAsText_; }
  // " (replay detection enabled)" or " (replay detection disabled)" for a replay-status
  // notification, empty for any other.
  std::string_view StatusText() const { return statusText_; }

 private:
  void ReadLifetimeAttributes(DebugLogReader& reader);

  PayloadFields fields_;
  ByteList doi_;
  std::int32_t protId_ = 0;
  std::int32_t spiSize_ = 0;
  ByteList spi_;
  ByteList notifyType_;
  bool hasData_ = false;
  ByteList notifData_;
  bool dataAsText_ = false;
  std::pmr::string statusText_{NodeResource()};
};

// Moves the reader past the daemon's second rendering of `dataSize` bytes of notification
// data: 3 characters a byte, 3 more when there are more than 20 bytes and 4 more for every
// full 20 (its line breaks and indents). The reader's input is skipped token by token: a
// token that reaches past the end of the rendering is passed over whole, and a keyword that
// opens a block or the next packet stops the skip early and is left to be read again.
void SkipSecondDataRendering(DebugLogReader& reader, std::size_t dataSize);

}  // namespace quillon
