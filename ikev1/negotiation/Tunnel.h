// The negotiations of one peer that belong to one tunnel interface.
//
// A gateway with tunnel interfaces logs on each packet line the local and the peer address of
// the interface the packet belongs to ("TunnelLocalIP:%x,TunnelPeerIP:%x"). A Tunnel groups
// the negotiations of one such pair; the negotiations without tunnel addresses go to a tunnel
// whose addresses are both 0, which the view does not show as a level of its own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "ikev1/negotiation/PreparedPacket.h"
#include "model/LogNode.h"
#include "model/NodeRoles.h"
#include "model/TimeOrder.h"

namespace quillon {

class Exchange;
struct NegotiationStatistics;

class Tunnel : public TunnelNode {
 public:
  // A tunnel created for its first packet, which it places at once (records from `table`).
  Tunnel(PreparedPacket packet, PacketDebugTable* table, std::uint32_t local, std::uint32_t peer, std::string name,
         LogNode* parent);
  // An empty tunnel, filled by the log root's regrouping.
  Tunnel(std::uint32_t local, std::uint32_t peer, LogNode* parent);
  ~Tunnel() override;

  // "local <=> peer" in dotted form.
  static std::string NameFor(std::uint32_t local, std::uint32_t peer);

  std::uint16_t State() const override { return kStateComplete; }
  // The addresses, then the statistics of the negotiations when there is something to report.
  void AppendDetailText(std::string& out) const override;
  std::string SummaryText(bool withTotals) const override;
  // One of the tunnel's exchanges names the user.
  bool MatchesUserName(std::string_view text) const override;
  bool MatchesUserDetail(std::string_view text) const override;
  // Drops the exchanges marked deleted; the others stay as they are.
  void PurgeDeleted() override;
  // Marks the repeated deletes, immediate deletes and successive identical quick modes.
  void Analyze();
  // The statistics of the negotiations as they stand; `record` is reset first.
  void CountStatistics(NegotiationStatistics& record) const;
  bool HasIdAddress() const override { return hasIdAddress_; }
  std::uint32_t TunnelLocalIP() const override { return tunnelLocalIP_; }
  std::uint32_t TunnelPeerIP() const override { return tunnelPeerIP_; }

  // Places one packet: the open negotiation with the packet's cookie, family and message ID
  // takes it; otherwise it starts a new negotiation (an informational packet always does).
  // Returns the exchange that took the packet; null when the packet's family has no
  // negotiation class (the packet is dropped).
  // The received packet's packet-debug record is taken from `table` (null: none kept).
  Exchange* AddPacket(PreparedPacket packet, PacketDebugTable* table);
  // Appends the marker of a daemon restart.
  void AddRestartMarker(std::string text);
  // An empty IKEv1 tunnel for the regrouping's merged peers.
  std::unique_ptr<TunnelNode> NewTunnel(std::uint32_t local, std::uint32_t peer) const override;
  // Places an exchange moved here by the regrouping at its place in time order.
  void InsertExchange(std::unique_ptr<LogNode> exchange) override;
  // Many exchanges moved into a tunnel in time order, one after the other: while a batch is
  // open the tunnel keeps its exchanges aside and places each new one by halving, and
  // CloseInsertBatch puts them all back at once, in the order single insertions give. Each
  // insertion into the list of children would shift every exchange after it. Only a tunnel
  // in time order opens a batch; the exchanges are not its children while it is open.
  void OpenInsertBatch() override;
  void CloseInsertBatch() override;
  bool HasOpenInsertBatch() const override { return batch_ != nullptr; }
  // Ends every negotiation: later packets start new ones.
  void CloseAll();

 private:
  struct Key {
    std::uint32_t cookie, family, msgId;
    friend bool operator==(const Key&, const Key&) = default;
  };
  struct KeyHash {
    std::size_t operator()(const Key& k) const noexcept {
      return (std::size_t{k.cookie} * 0x9E3779B97F4A7C15ull) ^ (std::size_t{k.msgId} << 8) ^ k.family;
    }
  };
  static Key KeyOf(const Header& header);
  Exchange* OpenExchangeAt(std::size_t position, const Header& packet) const;
  Exchange* FindOpenExchange(const Header& packet);
  void RebuildOpenIndex();

  std::uint32_t tunnelLocalIP_ = 0;
  std::uint32_t tunnelPeerIP_ = 0;
  bool hasIdAddress_ = false;
  // The exchanges with a start time are in time order: true for a tunnel that receives its
  // exchanges only through InsertExchange (the regrouping's merged tunnels), which keeps the
  // order, so that the place for the next one is found from the end.
  bool timeOrdered_ = false;
  // Where the open negotiation of each (cookie, family, message ID) stands among the
  // children: a log holds thousands of negotiations per tunnel, and every packet looks for
  // its own. Entries are checked against the child they name before use and the index is
  // rebuilt from the children whenever one does not hold, so it can only save the walk,
  // never change its answer.
  std::pmr::unordered_map<Key, std::size_t, KeyHash> openIndex_{NodeResource()};
  bool openIndexValid_ = true;
  // A restart closes every negotiation of the tunnel, and a log may restart thousands of
  // times: the children before `closedBefore_` were all closed by the last restart. That
  // holds while `lastClosed_` still stands right before it (children removed or inserted
  // before it move it; the tunnel's own inserts and removals also start the walk afresh).
  std::size_t closedBefore_ = 0;
  const LogNode* lastClosed_ = nullptr;
  struct InsertBatch;
  std::unique_ptr<InsertBatch> batch_;
};

}  // namespace quillon
