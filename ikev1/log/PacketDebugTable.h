// Received packet-debug records waiting for their packet. The daemon logs the "Received:"
// block before the packet it describes, so the loader parks each record here under the
// packet's initiator cookie and message ID until the message of that packet is loaded.
// One table belongs to one load.
#pragma once

#include <memory>
#include <unordered_map>

#include "ikev1/log/PacketDebugRecord.h"

namespace quillon {

class PacketDebugTable {
 public:
  // A later record with the same key replaces the earlier one.
  void Put(std::unique_ptr<PacketDebugRecord> record) {
    if (record) {
      PacketDebugKey key = record->Key();
      records_[std::move(key)] = std::move(record);
    }
  }
  // Takes the record out of the table; null when there is none.
  std::unique_ptr<PacketDebugRecord> Take(const ByteList& initCookie, const ByteList& msgId) {
    auto it = records_.find(PacketDebugRecord::Key(initCookie, msgId));
    if (it == records_.end()) return nullptr;
    std::unique_ptr<PacketDebugRecord> record = std::move(it->second);
    records_.erase(it);
    return record;
  }
  std::size_t Size() const { return records_.size(); }

 private:
  std::unordered_map<PacketDebugKey, std::unique_ptr<PacketDebugRecord>, PacketDebugKeyHash> records_;
};

}  // namespace quillon
