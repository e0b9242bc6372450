// Intermediate base of the IKEv1 negotiation elements that carry an ISAKMP header: the
// exchanges and the messages (packets). Such an element may also own the packet-debug record
// the daemon logged for its packet.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "ikev1/log/Header.h"
#include "ikev1/log/PacketDebugRecord.h"
#include "model/QLFolder.h"

namespace quillon {

class PacketDebugTable;

class FolderElement : public QLFolder {
 public:
  FolderElement(std::string name, QLFolder* parent);
  ~FolderElement() override;

  std::uint32_t CookieValue() const override;
  // The "PeerIP:" address of the attached packet-debug record, 0 without one.
  std::uint32_t PacketDebugValue() const override;

  // The last step of loading a packet: a received packet's "PACKET DEBUG" record was logged
  // before the packet and waits in the table of the current load (null: none kept). Elements
  // that take no record ignore it.
  virtual void AttachPacketDebug(PacketDebugTable* /*table*/) {}
  virtual void ReadPayloads(DebugLogReader& reader) = 0;
  virtual bool IsBlockKeyword(std::string_view token) const;
  // Stores the header. The base keeps it owned but outside the children; a message makes it
  // its first child; an exchange hands it on to the message it creates.
  virtual void SetHeader(std::unique_ptr<Header> header);

  Header* GetHeader() const { return header_; }

  PacketDebugRecord* PacketDebug() const { return packetDebug_.get(); }
  void SetPacketDebug(std::unique_ptr<PacketDebugRecord> record) { packetDebug_ = std::move(record); }

 protected:
  void SetHeaderLink(Header* header) { header_ = header; }

 private:
  Header* header_ = nullptr;                 // not owned through this link
  std::unique_ptr<Header> heldHeader_;       // owned here when it is not a child
  std::unique_ptr<PacketDebugRecord> packetDebug_;
};

}  // namespace quillon
