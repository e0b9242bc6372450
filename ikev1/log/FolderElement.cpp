#include "ikev1/log/FolderElement.h"

#include "ikev1/log/DebugLogReader.h"

namespace quillon {

FolderElement::FolderElement(std::string name, QLFolder* parent) : QLFolder(std::move(name), parent) {}

FolderElement::~FolderElement() = default;

std::uint32_t FolderElement::CookieValue() const { return header_ ? header_->CookieValue() : 0; }

std::uint32_t FolderElement::PacketDebugValue() const { return packetDebug_ ? packetDebug_->peerIP : 0; }

bool FolderElement::IsBlockKeyword(std::string_view token) const { return DebugLogReader::IsBlockKeyword(token); }

void FolderElement::SetHeader(std::unique_ptr<Header> header) {
  header_ = header.get();
  heldHeader_ = std::move(header);
}

}  // namespace quillon
