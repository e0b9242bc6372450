#include "model/FolderElement.h"

#include "ikev1/log/DebugLogReader.h"

namespace quillon {

// ---- FolderElement ----------------------------------------------------------------------------

FolderElement::FolderElement(std::string name, QLFolder* parent) : QLFolder(std::move(name), parent) {}

FolderElement::~FolderElement() = default;

std::uint32_t FolderElement::CookieValue() const { return header_ ? header_->CookieValue() : 0; }

void FolderElement::Load(std::unique_ptr<Header> header, DebugLogReader& reader) {
  SetHeader(std::move(header));
  ReadPayloads(reader);
  AttachPacketDebug(reader.PacketDebugRecords());
}

void FolderElement::AttachPacketDebug(PacketDebugTable* /*table*/) { AttachPacketDebug(); }

bool FolderElement::IsBlockKeyword(std::string_view token) const { return DebugLogReader::IsBlockKeyword(token); }

void FolderElement::SetHeader(std::unique_ptr<Header> header) {
  header_ = header.get();
  heldHeader_ = std::move(header);
}

}  // namespace quillon
