// Placing the packets of an IKEv1 debug log in the tree, for the whole-log load (read in pieces
// or straight through, ReadIKEv1Log.cpp) and the follower of a growing log (FollowIKEv1Log.cpp).
//
// The file is scanned packet by packet (the Header constructor skips to the next packet and
// reads its packet line and header block). Each packet goes to the peer of its "peer:" address,
// which places it in a tunnel and a negotiation, where a message reads the packet's payload
// blocks. Between packets the scan may meet a "PACKET DEBUG" block, the daemon's summary of a
// packet: a "Sent:" block follows the packet it describes and is attached at once; a
// "Received:" block precedes its packet and waits in this load's table until the packet's
// message takes it. A daemon restart met while a packet was read ends every open negotiation.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ikev1/log/DebugLogReader.h"
#include "ikev1/log/Header.h"
#include "ikev1/log/PacketDebugRecord.h"
#include "ikev1/log/PacketDebugTable.h"
#include "ikev1/negotiation/Exchange.h"
#include "ikev1/negotiation/PreparedPacket.h"
#include "model/LogFile.h"
#include "model/NodeArena.h"

namespace quillon::ikev1_load {

// One step of the packet scan: the header the scan found (or the packet-debug record it met
// instead) and the packet's payloads, read as its family reads them.
struct ScannedPacket {
  SyncPoint start;  // where the step began
  std::unique_ptr<PacketDebugRecord> record;
  std::uint64_t recordStart = 0;  // where the record's block opens in the log
  PreparedPacket packet;
  // The input ended right after the header: the payloads are read only when a peer of the
  // address exists already (no new peer is made at the end of the log).
  std::unique_ptr<Header> unread;
  // A daemon restart was met while the packet was read: its handling reads on from the log.
  bool restart = false;
  // In a worker's scan: a step left to the placing thread, which reads on by itself from here.
  bool gap = false;

  // Placing the step needs nothing more from the reader.
  bool Regular() const { return !unread && !restart; }
};

ScannedPacket ScanStep(DebugLogReader& reader);

class LoadIndex;

// Places the scanned packets in log order: the packet-debug records, the peers, and the daemon
// restarts, whose restart text carries over from one restart to the next.
class Placer {
 public:
  Placer(LogFile& root, std::string restartText);
  ~Placer();
  Placer(const Placer&) = delete;
  Placer& operator=(const Placer&) = delete;

  // `reader` is the reader that scanned the step; it may be null for a regular step.
  void Place(ScannedPacket& step, DebugLogReader* reader);

  bool NeedsRegroup() const { return regroup_; }
  const std::string& RestartText() const { return restartText_; }

  // When set, every peer a step touches is added here (a follower's changed peers).
  std::vector<LogNode*>* touched = nullptr;

  // Every packet of the tree read in this load ends where the next packet of the log starts
  // (the last one at the end of the log), whether or not that packet found a place.
  // A follower keeps the starts: the packets it places later end the ones placed before.
  // With `analyze`, each peer's negotiations are diagnosed right after its packets are ended,
  // while its nodes are still in cache (a peer's diagnosis depends on its own packets only).
  void SetPacketEnds(bool analyze, NodeArena* arena);
  // A follower's: the starts are kept (the packets it places later end the ones placed before),
  // and only the peers that took packets since the last call, or still held a packet without an
  // end then, are walked. Every packet but those of the last steps has its end already, and
  // walking every peer of a large log at each step would cost more than the step.
  void SetPacketEndsFollowing(const std::vector<LogNode*>& touched);
  // The tree was regrouped: peers noted before may be gone.
  void ForgetPeers() { withoutEnd_.clear(); }

 private:
  void SortStarts();
  // Sets the end of every packet of `peer` that has none yet and is followed by a packet start;
  // false when one is left without an end (the last packet of the log read so far).
  bool SetPacketEndsOf(const LogNode& peer);
  LogFile& root_;
  std::unique_ptr<LoadIndex> index_;
  PacketDebugTable receivedRecords_;
  // The exchange that took the packet placed last (null when none did): a "Sent:" record that
  // follows is that packet's.
  Exchange* previous_ = nullptr;
  bool regroup_ = false;
  std::string restartText_;
  std::vector<std::uint64_t> packetStarts_;          // in log order
  std::optional<std::uint64_t> receivedRecordStart_;  // a received record waits for its packet
  std::vector<LogNode*> withoutEnd_;                 // a follower's peers with a packet without an end
};

}  // namespace quillon::ikev1_load
