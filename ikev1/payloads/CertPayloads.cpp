#include "ikev1/payloads/CertPayloads.h"

#include <string_view>

#include "ikev1/log/DebugLogReader.h"
#include "ikev1/payloads/Dictionaries.h"

namespace quillon {

namespace {

// Leading blanks and tabs of a line taken with ReadLineRest.
std::string TrimLeft(std::string text) {
  const std::size_t first = text.find_first_not_of(" \t");
  return first == std::string::npos ? std::string() : text.substr(first);
}

// Reads the daemon's certificate debug text. The reader has just read the "#####" that opens
// "##### BEGIN CERTIFICATE DEBUG #####". Returns "\r\n", the rest of the BEGIN line and
// "\r\n", then every further line and "\r\n", up to the "##### END ... #####" line, which is
// consumed. A line is read from its first token on, so that a block cut before its END line
// ends at the next payload block or packet without taking its keyword.
std::string ReadDebugText(DebugLogReader& reader) {
  if (!SeekBlockLabel(reader, "#####")) return {};  // the BEGIN line was cut
  std::string text = "\r\n";
  std::string line = TrimLeft(reader.ReadLineRest());
  bool beginLine = true;
  for (;;) {
    // A line inside the block may contain "END" (a name such as "O=LEGEND"): only a marker
    // line ends it.
    const bool endLine = line.find("END") != std::string::npos && (beginLine || line.starts_with("#####"));
    if (endLine || reader.RestartSeen() || reader.IsAbandoned()) break;
    text += line;
    text += "\r\n";
    if (reader.AtEnd()) break;
    const std::string& first = reader.ReadToken();
    if (reader.RestartSeen() || (first.empty() && reader.AtEnd())) break;
    if (DebugLogReader::IsHeaderStart(first) || DebugLogReader::IsBlockKeyword(first)) {
      reader.PushBack();  // the next packet or payload block
      break;
    }
    line = first;
    line += reader.ReadLineRest();
    beginLine = false;
  }
  return text;
}

// The block as written back; it reads back as the same text.
void WriteDebugText(std::string& out, std::string_view text, std::string_view begin, std::string_view end) {
  if (text.empty()) return;
  out += begin;
  std::string_view body = text;
  if (body.starts_with("\r\n")) body.remove_prefix(2);
  if (body.empty()) {
    // A block that ended right after its BEGIN line (a restart came next). Its BEGIN line's
    // rest is read as the first line of the text, unless it holds "END": so the END goes there.
    out += " END\n";
    return;
  }
  if (!body.empty() && body.front() != '\r') out += ' ';  // the rest of the BEGIN line
  out += body;
  if (!body.ends_with('\n')) out += '\n';
  out += end;
  out += '\n';
}

// After the dump the daemon's debug block, or whatever follows: a token other than "#####" is
// left for the payload chain (it may open the next payload block).
std::string ReadDebugTextIfAny(DebugLogReader& reader) {
  if (reader.IsAbandoned() || reader.RestartSeen()) return {};
  const std::string& t = reader.ReadToken();
  if (t == "#####" && !reader.RestartSeen()) return ReadDebugText(reader);
  reader.PushBack();
  return {};
}

}  // namespace

// ---- CertPayload --------------------------------------------------------------------------------

CertPayload::CertPayload(DebugLogReader& reader, LogNode* parent) : IsakmpPayload(kCertBlock, FixedName("Cert"), parent) {
  fields_.Read(reader);
  encoding_ = ReadLabelledNumber(reader, "Type:");
  std::string lengthNote;
  data_ = ReadLabelledBytes(reader, "CertData:", EndsPayloadBlock, &lengthNote);
  lengthNote_ = lengthNote;
  debugText_ = ReadDebugTextIfAny(reader);
}

void CertPayload::AppendCaption(std::string& out) const {
  out += Name();
  out += ' ';
  out += CertEncodingName(encoding_);
}

void CertPayload::AppendDetailText(std::string& out) const {
  fields_.AppendDetailHead(out, "Certificate Payload");
  out += "\r\nCertificate Type:\r\n\t\t";
  out += CertEncodingName(encoding_);
  out += debugText_;
  out += "\r\nCert Data:\r\n";
  out += lengthNote_;
  AppendHexText(out, data_, 16, true, true);
  out += "\r\n";
}

void CertPayload::WriteDebug(std::string& out) const {
  out += "debugCertPayload:\n";
  fields_.WriteLines(out);
  out += "\tCert Type: ";
  AppendNumberText(out, encoding_, 16);
  out += '\n';
  const std::string_view note = lengthNote_;
  if (data_.empty() && debugText_.empty() && note.empty()) return;
  out += "\tCertData:\n";
  // The "Length" line met before the dump, so that it reads back into the same note.
  if (note.ends_with("\r\n\r\n")) out.append(note, 0, note.size() - 4).append("\n");
  AppendHexText(out, data_, 16, true, true);
  out += '\n';
  WriteDebugText(out, debugText_, "##### BEGIN CERTIFICATE DEBUG #####", "##### END CERTIFICATE DEBUG #####");
}

// ---- CertReqPayload -----------------------------------------------------------------------------

CertReqPayload::CertReqPayload(DebugLogReader& reader, LogNode* parent) : IsakmpPayload(kCertReqBlock, FixedName("CertReq"), parent) {
  fields_.Read(reader);
  encoding_ = ReadLabelledNumber(reader, "Type:");
  if (reader.IsAbandoned() || reader.RestartSeen()) return;
  if (reader.ReadToken() == "CertReqData:" && !reader.RestartSeen()) {
    hasData_ = true;
    data_ = ReadByteList(reader);
    debugText_ = ReadDebugTextIfAny(reader);
  } else {
    reader.PushBack();
  }
}

void CertReqPayload::AppendCaption(std::string& out) const {
  out += Name();
  out += " Request for ";
  out += CertEncodingName(encoding_);
}

void CertReqPayload::AppendDetailText(std::string& out) const {
  fields_.AppendDetailHead(out, "Certificate Request Payload");
  out += "\r\nRequest for Certificate Type:\r\n\t\t";
  out += CertEncodingName(encoding_);
  if (hasData_) {
    out += "\r\nCertReqData:\r\n";
    out += debugText_;
    out += "\r\n";
    AppendHexText(out, data_, 16, true, true);
  }
}

void CertReqPayload::WriteDebug(std::string& out) const {
  out += "debugCertreqPayload:\n";
  fields_.WriteLines(out);
  out += "\tCert Req Type: ";
  AppendNumberText(out, encoding_, 16);
  out += '\n';
  if (!hasData_) return;
  out += "\tCertReqData: ";
  AppendHexText(out, data_, 16, true, true);
  out += '\n';
  WriteDebugText(out, debugText_, "##### BEGIN CERTIFICATE REQUEST DEBUG #####",
                 "##### END CERTIFICATE REQUEST DEBUG #####");
}

}  // namespace quillon
