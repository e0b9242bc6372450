#include "ikev1/payloads/NatOAPayload.h"

#include "ikev1/log/DebugLogReader.h"
#include "ikev1/payloads/Dictionaries.h"

namespace quillon {

NatOAPayload::NatOAPayload(DebugLogReader& reader, LogNode* parent) : IsakmpPayload(kNatOaBlock, FixedName("Original Address"), parent) {
  fields_.Read(reader);
  idType_ = ReadLabelledNumber(reader, "Type:");
  if (!SeekBlockLabel(reader, "Address:")) return;
  // The rest of the label's line: an empty address does not take the next line.
  const std::string rest = reader.ReadLineRest();
  const std::size_t first = rest.find_first_not_of(" \t");
  if (first != std::string::npos) address_ = rest.substr(first);
}

void NatOAPayload::AppendDetailText(std::string& out) const {
  // The identification payload's title, and a closing parenthesis after the type's name, as
  // the daemon's viewer always showed them.
  fields_.AppendDetailHead(out, "ID Payload");
  out += "\r\nID type:\t";
  out += IdTypeName(idType_);
  out += ")\r\nOriginal IP:\t";
  out += address_;
  out += "\r\n";
}

void NatOAPayload::WriteDebug(std::string& out) const {
  out += "debugNatOAPayload:\n";
  fields_.WriteLines(out);
  out += "\tID Type: ";
  AppendNumberText(out, idType_, 16);
  out += "\n\tAddress: ";
  out += address_;
  out += '\n';
}

}  // namespace quillon
