#include "ikev1/log/FolderElement.h"

#include "ikev1/log/DebugLogReader.h"
#include "ikev1/log/PacketDebugTable.h"
#include "ikev1/payloads/KeyMaterialPayloads.h"
#include "ikev1/payloads/PayloadFactory.h"

namespace quillon {

namespace {

// The separator lines around a packet line.
const std::string kPlusLine(70, '+');

}  // namespace

FolderElement::FolderElement(std::string name, QLFolder* parent) : QLFolder(std::move(name), parent) {}

FolderElement::~FolderElement() = default;

std::uint32_t FolderElement::CookieValue() const { return header_ ? header_->CookieValue() : 0; }

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
  if (const Header* header = GetHeader()) quillon::WritePacketClosing(out, *header, PacketDebug());
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
  out += header.PacketLineDateTime();
  out += '\n';
  // A line cut short by the end of the log is the end of the saved log too (the writer puts
  // its negotiation last): what follows it would be read as its missing date and time.
  if (header.LineCutByEnd()) return;
  out += kPlusLine;
  out += '\n';
  if (header.IsCreated()) header.WriteHeaderBlock(out);
}

void WritePacketClosing(std::string& out, const Header& header, const PacketDebugRecord* record) {
  if (header.LineCutByEnd()) return;
  if (header.IsCreated()) header.WriteLengthBlock(out);
  WriteRecordAfterPacket(record, out);
}

}  // namespace quillon
