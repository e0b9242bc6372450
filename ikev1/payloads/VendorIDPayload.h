// The vendor ID payload ("debugVendorIDPayload:") and what it says about the peer's product.
//
//   debugVendorIDPayload:
//   	NextPld: 00
//   	Reserved: 00
//   	Length: 00 14 (20)
//   	Vendor: draft-ietf-ipsec-nat-t-ike-02 (NAT-T)        (for vendor IDs the daemon knows)
//   	VID Data: 4a 13 1c 81 ...
//   debugVendorIDFields:                                  (the gateway's own vendor IDs)
//   	VIDData: 4a 13 1c 81 ...
//   	Product: 00 00 00 01
//   	Version: 00 00 13 88
//   	Build: 1234                                        (free lines: label, value)
//
// or, for Nokia peers, "debugVendorIDNokiaFields:" with free lines only. The payload composes
// one vendor text from all this (product and version codes turned into names, a NAT traversal
// vendor ID shown as a support notice) and shows it after the hex dump of the ID.
//
// The lines of a fields block are kept as read and written back after the payload's block, so
// that a saved log reads back with the same product, version and free lines.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "ikev1/payloads/ByteList.h"
#include "ikev1/payloads/KeyMaterialPayloads.h"
#include "model/NodeText.h"
#include "ikev1/payloads/IsakmpPayload.h"
#include "model/LogNode.h"

namespace quillon {

class DebugLogReader;

// The written vendor ID block: the common fields, the vendor's name when known (the "Vendor:"
// line also when `vendorLine`: the daemon may log it with an empty name, which the payload shows),
// the data; and the fields block some vendor IDs are followed by (`lines` without their tab).
void WriteVendorIDBlock(std::string& out, const PayloadFields& fields, std::string_view vendorName,
                        const ByteList& vidData, bool vendorLine = false);
template <class Lines>
void WriteVendorIDFieldsBlock(std::string& out, std::string_view keyword, const Lines& lines) {
  out += keyword;
  out += '\n';
  for (const auto& line : lines) {
    out += '\t';
    out += line;
    out += '\n';
  }
}
inline constexpr std::string_view kVendorIDFieldsKeyword = "debugVendorIDFields:";

class VendorIDPayload final : public IsakmpPayload {
 public:
  // `created` (the packet was sent by the local daemon) is accepted and not used.
  VendorIDPayload(DebugLogReader& reader, bool created, LogNode* parent);

  void AppendDetailText(std::string& out) const override;
  void WriteDebug(std::string& out) const override;

  // 1 "Morrowvale Gateway", 2 "Morrowvale Client", any other "Unknown product".
  static std::string ProductName(std::uint32_t code);
  // The gateway's release names by version code; "Unknown product version" for others.
  static std::string VersionName(std::uint32_t code);
  // The byte list of a line of two-digit hex values separated by single blanks ("00 00 13 88"),
  // read from the start of the text up to the first piece that is not one.
  static ByteList HexPairs(std::string_view text);

  const PayloadFields& Fields() const { return fields_; }
  const ByteList& VidData() const { return vidData_; }
  // A "debugVendorIDFields:" block followed the payload block.
  bool HasFields() const { return hasFields_; }
  // A "debugVendorIDNokiaFields:" block followed it.
  bool HasNokiaFields() const { return hasNokiaFields_; }
  std::string_view VendorText() const { return vendorText_; }
  std::string_view VendorName() const { return vendorName_; }
  // The fields block's lines as read, without their leading tab and line end.
  std::vector<std::string_view> FieldLines() const;

 private:
  void Read(DebugLogReader& reader);
  void ReadGatewayFields(DebugLogReader& reader);
  void ReadFreeLines(DebugLogReader& reader);
  void AddFieldLine(std::string_view line);

  PayloadFields fields_;
  ByteList vidData_;
  bool hasFields_ = false;
  bool hasNokiaFields_ = false;
  bool vendorLine_ = false;  // a "Vendor:" line was read, its name perhaps empty
  // The texts a gateway repeats in every exchange (its vendor name, its fields block and the
  // text made of them) are shared within the arena's lane once read (see NodeText).
  NodeText vendorText_;
  NodeText vendorName_;
  NodeText fieldLines_;  // each line followed by '\n' (a line read never holds one)
};

}  // namespace quillon
