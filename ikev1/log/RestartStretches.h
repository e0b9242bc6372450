// Where the negotiations of a tree go between the daemon restarts of a saved IKEv1 log.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "model/LogNode.h"

namespace quillon {

class FolderElement;
class LogFile;

// The negotiation's last packet (an informational exchange is its own packet).
const FolderElement* LastPacket(const LogNode& negotiation);

// The stretches of the log. A restart gives every peer that existed then a marker, appended to
// its first tunnel of that moment, and ends every negotiation. Read back from the tree:
//  - A peer's markers, taken tunnel by tunnel from the last tunnel to the first and in order
//    within a tunnel, are its restarts in log order (a tunnel that becomes first later sorts
//    before the earlier first one). A peer has a marker for every restart after its first
//    packet, so a peer with m markers of k restarts in all first appeared in stretch k - m.
//  - Negotiations after a tunnel's marker of restart r lie in stretch r or later; those of a
//    tunnel before the one that holds the marker of restart r came after r (the tunnel did not
//    exist yet). Two negotiations of one tunnel with the same cookie, family and message ID
//    were split by a restart.
// Each negotiation goes to the earliest stretch that fits; a restart marker's text is kept for
// the restart line. A merged peer's negotiations were moved away from the peers that keep their
// markers: they go by start time (PlaceByTime). A negotiation whose own text restarts the
// daemon ends its stretch, and the placing is then settled so that each restart has a packet
// to be read in (SettleStretches). A negotiation whose last packet the end of the log cut short
// is written last.
class RestartStretches {
 public:
  explicit RestartStretches(const LogFile& root);
  ~RestartStretches();
  RestartStretches(const RestartStretches&) = delete;
  RestartStretches& operator=(const RestartStretches&) = delete;

  std::size_t RestartCount() const;
  // The negotiations of stretch s in tree order, one that carries a restart last.
  const std::vector<const LogNode*>& Stretch(std::size_t s) const;
  // Restart r (1-based) is carried by the own text of the last negotiation before it.
  bool Carried(std::size_t r) const;
  // The marker texts of restart r (1-based), in peer order: the first peer is told the restart
  // line's own text, the others what the reader keeps of it.
  const std::vector<std::string>& Texts(std::size_t r) const;
  // A negotiation whose own text restarts the daemon: its restart word must give the restart
  // its text, also where it does not end its stretch (two that the settling could not part).
  bool RestartsOwn(const LogNode* negotiation) const;
  // Whether the placing left a restart without a packet of its own before it (the reader meets
  // a restart only while it reads a packet's blocks, so two restart lines in a row read back
  // as one), two negotiations that each restart the daemon in one stretch, a peer whose first
  // negotiation lies in another stretch than its markers say (it would be told more or fewer
  // restarts), two negotiations of one cookie, family and message ID read back into one
  // tunnel in one stretch, or regrouped peers of one address made in another order.
  bool Unsettled() const;

 private:
  class Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace quillon
