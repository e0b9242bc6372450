// One remote address of an IKEv1 debug log.
//
// The loader hands every packet to the peer of the packet's "peer:" address; the peer places it
// in the tunnel of the packet's tunnel addresses, and the tunnel in a negotiation. The daemon
// sometimes logs a small index (1..65278) in place of the peer's address: such an indexed peer
// is merged with the peer of the real address by the log root after loading, which creates
// merged peers named after both.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "ikev1/negotiation/PreparedPacket.h"
#include "model/LogNode.h"
#include "model/NodeRoles.h"

namespace quillon {

class Exchange;

// The version text of a restart line ("GX-1(4.1) ..."): the parenthesised part, at most five
// characters, as the daemon's restart record holds it.
std::string RestartVersionText(const std::string& token);

class Peer : public PeerNode {
 public:
  // A peer for the first packet from its address; the packet is placed at once (its record
  // taken from `table`, null: none kept).
  Peer(PreparedPacket packet, PacketDebugTable* table, std::string name, LogNode* parent = nullptr);
  // A merged peer made by the regrouping: its address is the index, its identity address the
  // real address. It starts empty.
  Peer(std::uint32_t address, std::uint32_t index, std::string name, LogNode* parent);
  ~Peer() override;

  // "Peer", then the summary of its tunnels when there is one.
  void AppendDetailText(std::string& out) const override;
  // The statistics of each tunnel that has something to report, under the tunnel's name; the
  // negotiations without tunnel addresses come last, as "Other negotiations" when a named
  // tunnel precedes them.
  std::string SummaryText(bool withTotals) const override;
  // The statistics of all the peer's tunnels together, without the totals of repeated deletes.
  std::string CollectFailureReasons() const override;
  // Keeps the tunnels in ascending (local, peer) address order, the tunnel without addresses
  // last; equal pairs keep their arrival order.
  void AddChild(std::unique_ptr<LogNode> tunnel) override;
  std::uint32_t PeerAddress() const override { return peerAddress_; }
  void PurgeDeleted() override { PurgeDeletedChildren(); }
  // Marks the repeated deletes, immediate deletes and successive identical quick modes of each
  // tunnel.
  void Analyze();
  bool IsIndexedPeer() const override { return indexedPeer_; }
  bool HasIdAddress() const override { return hasIdAddress_; }
  std::uint32_t IdAddress() const override { return idAddress_; }
  bool IsMergedPeer() const override { return mergedPeer_; }
  bool IsRegrouped() const override { return regrouped_; }
  void SetRegrouped() override { regrouped_ = true; }
  std::unique_ptr<PeerNode> NewMergedPeer(std::uint32_t address, std::uint32_t index, std::string name,
                                           LogNode* root) const override;

  // Places one packet in the tunnel of its tunnel addresses, creating the tunnel when it is
  // new. Returns the exchange that took the packet (null when the packet was dropped).
  Exchange* AddPacket(PreparedPacket packet, PacketDebugTable* table);
  // The daemon restarted: the first tunnel gets a restart marker and every negotiation of the
  // peer is ended. The reader's current token tells what the restart line said.
  void HandleRestart(DebugLogReader& reader);

 private:
  std::uint32_t peerAddress_ = 0;
  std::uint32_t idAddress_ = 0;
  bool indexedPeer_ = false;
  bool hasIdAddress_ = false;
  bool mergedPeer_ = false;
  bool regrouped_ = false;
};

}  // namespace quillon
