// Intermediate base of the negotiation elements that carry an ISAKMP header: the exchanges
// and the messages (packets).
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "ikev1/log/Header.h"
#include "model/QLFolder.h"

namespace quillon {

class PacketDebugTable;

// Intermediate base of the elements that carry an ISAKMP header: exchanges and messages.
class FolderElement : public QLFolder {
 public:
  FolderElement(std::string name, QLFolder* parent);
  ~FolderElement() override;

  std::uint32_t CookieValue() const override;

  // One packet: take the header, read the payload blocks that follow it, attach the
  // packet-debug record registered for it.
  virtual void Load(std::unique_ptr<Header> header, DebugLogReader& reader);
  // The last step of Load: a received packet's "PACKET DEBUG" record was logged before the
  // packet and waits in the table of the current load (null: none kept). The default runs the
  // node's own hook, which knows no table.
  using QLFolder::AttachPacketDebug;
  virtual void AttachPacketDebug(PacketDebugTable* table);
  virtual void ReadPayloads(DebugLogReader& reader) = 0;
  virtual bool IsBlockKeyword(std::string_view token) const;
  // Stores the header. The base keeps it owned but outside the children; a message makes it
  // its first child; an exchange hands it on to the message it creates.
  virtual void SetHeader(std::unique_ptr<Header> header);

  Header* GetHeader() const { return header_; }

 protected:
  void SetHeaderLink(Header* header) { header_ = header; }

 private:
  Header* header_ = nullptr;                 // not owned through this link
  std::unique_ptr<Header> heldHeader_;       // owned here when it is not a child
};

}  // namespace quillon
