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
  AttachPacketDebug(reader);
}

void FolderElement::AttachPacketDebug(DebugLogReader& /*reader*/) { AttachPacketDebug(); }

void FolderElement::AddElement(std::unique_ptr<FolderElement> child, std::unique_ptr<Header> header,
                               DebugLogReader& reader) {
  if (!child) return;
  child->SetParent(this);
  child->Load(std::move(header), reader);
  AppendChild(std::move(child));
}

bool FolderElement::IsBlockKeyword(std::string_view token) const { return DebugLogReader::IsBlockKeyword(token); }

void FolderElement::SetHeader(std::unique_ptr<Header> header) {
  header_ = header.get();
  heldHeader_ = std::move(header);
}

}  // namespace quillon
