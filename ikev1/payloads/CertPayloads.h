// The certificate and certificate-request payloads ("debugCertPayload:",
// "debugCertreqPayload:"). After the payload's fields the daemon logs its own decoding of the
// certificate as a text block:
//
//   debugCertPayload:
//   	NextPld: 00
//   	Reserved: 00
//   	Length: 01 2c (300)
//   	Cert Type: 04
//   	CertData:
//   30 82 01 28 ...
//   ##### BEGIN CERTIFICATE DEBUG #####
//   Subject: CN=gw1
//   ...
//   ##### END CERTIFICATE DEBUG #####
//
// (a request's block ends with "##### END CERTIFICATE REQUEST DEBUG #####"). The payload keeps
// that text and shows it in its detail text.
//
// The text is read line by line up to the END line. A block cut before its END line stops at
// the line that opens the next payload block or the next packet (which is left to the payload
// chain and the packet scan), at a restart and at the end of the input. The lines are kept
// from their first word on: leading blanks and empty lines are not kept.
#pragma once

#include <cstdint>
#include <string>

#include "ikev1/payloads/ByteList.h"
#include "ikev1/payloads/KeyMaterialPayloads.h"
#include "ikev1/payloads/IsakmpPayload.h"
#include "model/LogNode.h"

namespace quillon {

class DebugLogReader;

class CertPayload final : public IsakmpPayload {
 public:
  CertPayload(DebugLogReader& reader, LogNode* parent);

  // "Cert " and the encoding's name.
  void AppendCaption(std::string& out) const override;
  void AppendDetailText(std::string& out) const override;
  void WriteDebug(std::string& out) const override;

  const PayloadFields& Fields() const { return fields_; }
  std::uint32_t Encoding() const { return encoding_; }
  const ByteList& Data() const { return data_; }
  std::string_view LengthNote() const { return lengthNote_; }
  // "\r\n", the rest of the BEGIN line, "\r\n", then each line of the block and "\r\n"; empty
  // when the block had none.
  std::string_view DebugText() const { return debugText_; }

 private:
  PayloadFields fields_;
  std::uint32_t encoding_ = 0;
  ByteList data_;
  // The "Length" line the daemon writes before some certificate dumps ("Length" + rest of the
  // line + "\r\n\r\n"); shown before the data and written back before the dump.
  std::pmr::string lengthNote_{NodeResource()};
  std::pmr::string debugText_{NodeResource()};
};

class CertReqPayload final : public IsakmpPayload {
 public:
  CertReqPayload(DebugLogReader& reader, LogNode* parent);

  // "CertReq Request for " and the encoding's name.
  void AppendCaption(std::string& out) const override;
  void AppendDetailText(std::string& out) const override;
  void WriteDebug(std::string& out) const override;

  const PayloadFields& Fields() const { return fields_; }
  std::uint32_t Encoding() const { return encoding_; }
  bool HasData() const { return hasData_; }
  const ByteList& Data() const { return data_; }
  std::string_view DebugText() const { return debugText_; }

 private:
  PayloadFields fields_;
  std::uint32_t encoding_ = 0;
  ByteList data_;
  std::pmr::string debugText_{NodeResource()};
  bool hasData_ = false;
};

}  // namespace quillon
