#include "ikev1/log/FolderElement.h"

#include <algorithm>
#include <string_view>

#include "ikev1/log/DebugLogReader.h"
#include "ikev1/log/PacketDebugTable.h"
#include "ikev1/payloads/CertPayloads.h"
#include "ikev1/payloads/KeyMaterialPayloads.h"
#include "ikev1/payloads/PayloadFactory.h"

namespace quillon {

namespace {

// The separator lines around a packet line.
const std::string kPlusLine(70, '+');

// Where the packet line's date and time stop: after the first restart token ("started",
// "daemon") when there is one. The reader restarts the daemon at that token, and every read of
// the packet after it (the line's later tokens, the header fields, the payloads) gives the held
// token again, as the tree shows them: the packet ends there. Whatever followed it in the log
// was read after the restart, as the next packets.
std::size_t DateTimeEnd(const std::string& dateTime) {
  for (std::size_t start = 0; start < dateTime.size();) {
    const std::size_t end = std::min(dateTime.find(' ', start), dateTime.size());
    if (DebugLogReader::IsRestartToken(std::string_view(dateTime).substr(start, end - start))) return end;
    start = end + 1;
  }
  return std::string::npos;
}

}  // namespace

FolderElement::FolderElement(std::string name, LogNode* parent) : NegotiationNode(std::move(name), parent) {}

FolderElement::~FolderElement() = default;

std::uint32_t FolderElement::CookieValue() const { return header_ ? header_->CookieValue() : 0; }

std::size_t FolderElement::PayloadCount() const {
  const std::size_t n = ChildCount();
  return n != 0 && header_ != nullptr && Child(0) == header_ ? n - 1 : n;
}

bool FolderElement::EndPackets(std::span<const std::uint64_t> starts) {
  if (header_ == nullptr || header_->HasLogEnd()) return true;  // none, or ended by an earlier load
  const auto next = std::upper_bound(starts.begin(), starts.end(), header_->LogBegin());
  if (next == starts.end()) return false;
  header_->SetLogEnd(*next);
  return true;
}

std::uint32_t FolderElement::PacketDebugValue() const { return packetDebug_ ? packetDebug_->peerIP : 0; }

bool FolderElement::IsBlockKeyword(std::string_view token) const { return DebugLogReader::IsBlockKeyword(token); }

void FolderElement::SetHeader(std::unique_ptr<Header> header) {
  header_ = header.get();
  heldHeader_ = std::move(header);
}

void FolderElement::TakeReceivedRecord(PacketDebugTable* table) {
  const Header* header = GetHeader();
  if (header == nullptr || header->IsCreated() || table == nullptr) return;
  if (std::unique_ptr<PacketDebugRecord> record = table->Take(header->InitCookie(), header->MsgId()))
    SetPacketDebug(std::move(record));
}

bool FolderElement::ReadClosingBlock(int code, DebugLogReader& reader, HashPayload* hash) {
  switch (code) {
    case kHashDataBlock:
      if (hash != nullptr) hash->ReadHashData(reader);
      return true;
    case kHeaderLengthBlock:
      // The label is looked for within this block only, then handed back to the header's own
      // reading of the block.
      if (Header* header = GetHeader(); header != nullptr && SeekBlockLabel(reader, "Length:")) {
        reader.PushBack();
        header->ReadLengthBlock(reader);
      }
      return true;
    default:
      return false;
  }
}

void FolderElement::WritePacketOpening(std::string& out) const {
  if (const Header* header = GetHeader()) quillon::WritePacketOpening(out, *header, PacketDebug());
}

void FolderElement::WritePacketClosing(std::string& out) const {
  const Header* header = GetHeader();
  if (header == nullptr) return;
  // A certificate (request) block may be followed by the daemon's certificate debug text, and
  // the reader takes the next "#####" it meets for that text's opening line. So a packet-debug
  // record written right after a last certificate that has no text of its own (the packet's own
  // "Sent:" record, or the next received packet's record, which goes before that packet) would
  // be read into the certificate: an empty header-length block, which the reader passes over,
  // comes between. A created packet's own length block does that already.
  if (!header->IsCreated() && !header->LineCutByEnd() && ChildCount() != 0) {
    const IsakmpPayload* last = AsIsakmpPayload(*Child(ChildCount() - 1));
    const bool textless =
        last != nullptr && (last->PayloadCode() == kCertBlock
                                ? static_cast<const CertPayload*>(last)->DebugText().empty()
                                : last->PayloadCode() == kCertReqBlock && static_cast<const CertReqPayload*>(last)->DebugText().empty());
    if (textless) out += "debugIsakmpHdrLen:\n";
  }
  quillon::WritePacketClosing(out, *header, PacketDebug());
}

void WritePacketOpening(std::string& out, const Header& header, const PacketDebugRecord* record) {
  if (!header.IsCreated()) {
    WriteRecordBeforePacket(record, out);
    header.WriteHeaderBlock(out);
  }
  out += '\n';
  out += kPlusLine;
  out += '\n';
  out += PacketLineStart(header.PacketKind(), header.IsCreated());
  AppendNumberText(out, header.PeerAddress(), 16);
  out += header.TunnelText();
  const std::string dateTime = header.PacketLineDateTime();
  const std::size_t end = DateTimeEnd(dateTime);
  out.append(dateTime, 0, end);
  out += '\n';
  // A line cut short by the end of the log is the end of the saved log too (the writer puts
  // its negotiation last): what follows it would be read as its missing date and time. A line
  // that holds a restart token ends the packet at the token.
  if (header.LineCutByEnd() || end != std::string::npos) return;
  out += kPlusLine;
  out += '\n';
  if (header.IsCreated()) header.WriteHeaderBlock(out);
}

void WritePacketClosing(std::string& out, const Header& header, const PacketDebugRecord* record) {
  if (header.LineCutByEnd()) return;
  if (header.IsCreated() && DateTimeEnd(header.PacketLineDateTime()) == std::string::npos) header.WriteLengthBlock(out);
  WriteRecordAfterPacket(record, out);
}

}  // namespace quillon
