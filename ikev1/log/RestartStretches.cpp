#include "ikev1/log/RestartStretches.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <map>
#include <optional>
#include <set>
#include <tuple>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "ikev1/log/DebugLogReader.h"
#include "ikev1/log/FolderElement.h"
#include "ikev1/log/Header.h"
#include "ikev1/log/Message.h"
#include "ikev1/log/ReadIKEv1Log.h"
#include "ikev1/log/WriteDebugLog.h"
#include "ikev1/negotiation/Exchange.h"
#include "ikev1/negotiation/Peer.h"
#include "ikev1/negotiation/Tunnel.h"
#include "model/Background.h"
#include "model/LogFile.h"
#include "model/NodeRoles.h"
#include "model/TimeOrder.h"

namespace quillon {

namespace {

using Key = std::tuple<std::uint32_t, std::uint32_t, std::uint32_t>;

// What places a packet in a negotiation: cookie, family and message ID of its header.
bool NegotiationKey(const LogNode& node, Key& key) {
  const auto* exchange = NodeAs<Exchange>(node);
  if (exchange == nullptr || exchange->IsNotify() || exchange->GetHeader() == nullptr) return false;
  const Header& header = *exchange->GetHeader();
  key = Key{header.CookieValue(), header.PacketFamily(), header.MsgIdValue()};
  return true;
}

// Whether a negotiation's own written text restarts the daemon as the reader reads it: a
// restart token kept in the tree (on a packet line, in a vendor's field, in a record's value)
// is a restart wherever the reader meets it, and the restart then follows that packet at once.
// Most negotiations hold neither word; one that does is read back on its own to tell.
bool CarriesRestart(const LogNode& negotiation, std::string& scratch) {
  scratch.clear();
  WriteTree(negotiation, scratch);
  if (scratch.find("daemon") == std::string::npos && scratch.find("started") == std::string::npos) return false;
  LogFile alone;
  auto reader = DebugLogReader::FromText(scratch);
  ReadIKEv1Log(alone, reader, {0, 1, false});
  for (const auto& peer : alone.Children())
    for (const auto& tunnel : peer->Children())
      for (const auto& child : tunnel->Children())
        if (child->Is(NodeKind::kRestart))
          return true;
  return false;
}

// The negotiations among `candidates` that carry a restart in their own text. Telling it writes
// each negotiation once more, which would cost the save almost half its time on one thread; the
// tests only read the tree, so this thread and a helper take runs of the candidates in turn.
std::unordered_set<const LogNode*> FindCarriers(const std::vector<const LogNode*>& candidates, HelperThreads& threads) {
  LaneState<std::string> scratch[2];
  LaneState<std::vector<const LogNode*>> found[2];
  SpreadOverTwoThreads(threads, candidates.size(), 512, nullptr, [&](std::size_t i, unsigned lane) {
    if (CarriesRestart(*candidates[i], scratch[lane].value)) found[lane].value.push_back(candidates[i]);
  });
  std::unordered_set<const LogNode*> carriers(found[0].value.begin(), found[0].value.end());
  carriers.insert(found[1].value.begin(), found[1].value.end());
  return carriers;
}

}  // namespace

const FolderElement* LastPacket(const LogNode& negotiation) {
  if (negotiation.ChildCount() != 0)
    if (const auto* last = NodeAs<Message>(negotiation.Child(negotiation.ChildCount() - 1))) return last;
  return NodeAs<Exchange>(negotiation);
}

class RestartStretches::Impl {
 public:
  explicit Impl(const LogFile& root) {
    for (const auto& peer : root.Children()) restarts_ = std::max(restarts_, MarkerCount(*peer));
    texts_.resize(restarts_ + 1);
    std::vector<const LogNode*> candidates;
    for (const auto& peer : root.Children())
      for (const auto& tunnel : peer->Children())
        for (const auto& child : tunnel->Children())
          if (!IsMarker(*child)) candidates.push_back(child.get());
    ownRestarts_ = FindCarriers(candidates, root.Helpers());
    for (const auto& peer : root.Children())
      if (!IsMergedPeer(*peer)) Place(*peer);
    if (wanted_ > restarts_) {
      // Negotiations of one cookie, family and message ID that no restart of the tree keeps
      // apart (a narrowing removed the marker between them): the saved log restarts the daemon
      // between them, after the restarts the tree has, or they would be read back as one. The
      // reloaded tree then shows that restart, which is better than a negotiation merged.
      restarts_ = wanted_;
      texts_.resize(restarts_ + 1);
      if (lastLineCut_) stretchOf_[last_] = restarts_;
    }
    for (const auto& peer : root.Children())
      if (IsMergedPeer(*peer)) peersOfAddress_[PeerAddressOf(*peer)].push_back(peer.get());
    for (const auto& peer : root.Children())
      if (IsMergedPeer(*peer)) PlaceByTime(*peer);
    SettleStretches(root);
    stretches_.resize(restarts_ + 1);
    for (const auto& peer : root.Children()) {
      for (const auto& tunnel : peer->Children()) {
        std::vector<const LogNode*> exchanges;
        for (const auto& child : tunnel->Children()) exchanges.push_back(child.get());
        // A merged peer's negotiations are read back into the peers of the index and of the
        // address and moved here again one by one in time order: write them in the order that
        // rebuilds theirs.
        if (IsMergedPeer(*peer)) exchanges = InsertionOrder(exchanges);
        for (const LogNode* exchange : exchanges)
          if (auto it = stretchOf_.find(exchange); it != stretchOf_.end()) stretches_[it->second].push_back(exchange);
      }
    }
    // A negotiation that carries a restart ends its stretch; one whose last packet the end of
    // the log cut short ends the log (when it lies in the last stretch).
    for (auto& stretch : stretches_)
      std::stable_partition(stretch.begin(), stretch.end(), [this](const LogNode* n) { return !carriers_.contains(n); });
    auto& final = stretches_.back();
    std::stable_partition(final.begin(), final.end(), [this](const LogNode* n) { return n != last_; });
    mergedOutOfOrder_ = MergedPeersOutOfOrder();
  }

  std::size_t RestartCount() const { return restarts_; }
  bool Unsettled() const {
    // A peer is told every restart after its first packet: the first negotiation read back into
    // it lies in the stretch its markers give.
    std::unordered_map<std::uint32_t, std::size_t> first;
    for (const auto& [node, stretch] : stretchOf_) {
      const auto* exchange = NodeAs<Exchange>(node);
      if (exchange == nullptr || exchange->GetHeader() == nullptr) continue;
      const auto [it, added] = first.try_emplace(exchange->GetHeader()->PeerAddress(), stretch);
      if (!added) it->second = std::min(it->second, stretch);
    }
    for (const auto& [key, origin] : origins_) {
      if (key.tunnel) continue;
      const auto it = first.find(key.address);
      if (it == first.end() || it->second != origin.lowest) return true;
    }
    // Two negotiations of one cookie, family and message ID read back into one tunnel, with no
    // restart between them, would be read back as one.
    for (const auto& [key, origin] : origins_) {
      std::set<std::pair<Key, std::size_t>> taken;
      for (const auto* keyed : {&origin.own, &origin.merged})
        for (const auto& [each, node] : *keyed)
          if (!taken.emplace(each, stretchOf_.at(node)).second) return true;
    }
    if (mergedOutOfOrder_) return true;
    for (std::size_t s = 0; s < stretches_.size(); ++s) {
      const std::size_t own = static_cast<std::size_t>(
          std::count_if(stretches_[s].begin(), stretches_[s].end(), [this](const LogNode* n) { return carriers_.contains(n); }));
      if (own > (s < restarts_ ? 1u : 0u) || (s < restarts_ && stretches_[s].empty())) return true;
    }
    return false;
  }
  // The negotiations of stretch s in tree order, one that carries a restart last.
  const std::vector<const LogNode*>& Stretch(std::size_t s) const { return stretches_[s]; }
  // Restart r (1-based) is carried by the own text of the last negotiation before it.
  bool Carried(std::size_t r) const {
    return r > 0 && r <= restarts_ && !stretches_[r - 1].empty() && carriers_.contains(stretches_[r - 1].back());
  }
  // The marker texts of restart r (1-based), in peer order: the first peer is told the restart
  // line's own text, the others what the reader keeps of it.
  const std::vector<std::string>& Texts(std::size_t r) const { return texts_[r]; }
  // A negotiation whose own text restarts the daemon: its restart word must give the restart
  // its text, also where it does not end its stretch (two that the settling could not part).
  bool RestartsOwn(const LogNode* negotiation) const { return ownRestarts_.contains(negotiation); }

 private:
  struct Origin;
  static std::size_t MarkerCount(const LogNode& peer) {
    std::size_t n = 0;
    for (const auto& tunnel : peer.Children())
      for (const auto& child : tunnel->Children()) n += IsMarker(*child);
    return n;
  }

  static bool IsMarker(const LogNode& node) {
    return node.Is(NodeKind::kRestart);
  }

  // Where the regrouping's walk over the reloaded tree meets a negotiation: its peer, tunnel
  // (the one without addresses last), stretch and place within the stretch.
  using WalkPlace = std::tuple<std::uint32_t, bool, std::uint32_t, std::uint32_t, std::size_t, std::size_t>;
  static WalkPlace PlaceInWalk(const Header& header, std::size_t stretch, std::size_t written) {
    const std::uint32_t local = header.TunnelLocalIP();
    const std::uint32_t remote = header.TunnelPeerIP();
    return WalkPlace{header.PeerAddress(), local == 0 && remote == 0, local, remote, stretch, written};
  }

  // The regrouping makes a merged peer when it meets the first negotiation that moves to it:
  // it walks the peers the reader made (ascending addresses), their tunnels (ascending address
  // pairs, the one without addresses last) and each tunnel's negotiations in log order, and
  // merged peers of one address keep the order they were made in. Whether the saved log would
  // have two of them made in the other order than the tree shows them.
  bool MergedPeersOutOfOrder() const {
    std::unordered_map<const LogNode*, std::size_t> written;  // place within its stretch
    for (const auto& stretch : stretches_)
      for (std::size_t i = 0; i < stretch.size(); ++i) written[stretch[i]] = i;
    for (const auto& [address, group] : peersOfAddress_)
      if (!PeersInOrder(group, nullptr, 0, &written)) return true;
    return false;
  }

  // Whether the merged peers of `group` (one address, in tree order) are met in their order,
  // with `moved` in stretch `movedTo`; `written` gives each negotiation's place in its stretch
  // (without it, negotiations of one stretch and tunnel count as written in peer order).
  bool PeersInOrder(const std::vector<const LogNode*>& group, const LogNode* moved, std::size_t movedTo,
                    const std::unordered_map<const LogNode*, std::size_t>* written) const {
    std::optional<WalkPlace> previous;
    for (const LogNode* peer : group) {
      std::optional<WalkPlace> first;
      for (const auto& tunnel : peer->Children())
        for (const auto& child : tunnel->Children()) {
          const auto* exchange = NodeAs<Exchange>(*child);
          const Header* header = exchange != nullptr ? exchange->GetHeader() : nullptr;
          const auto at = stretchOf_.find(child.get());
          if (header == nullptr || at == stretchOf_.end()) continue;
          const auto w = written != nullptr ? written->find(child.get()) : std::unordered_map<const LogNode*, std::size_t>::const_iterator{};
          const WalkPlace place = PlaceInWalk(*header, child.get() == moved ? movedTo : at->second,
                                              written != nullptr && w != written->end() ? w->second : 0);
          if (!first || place < *first) first = place;
        }
      if (!first) continue;
      if (previous && *first < *previous) return false;
      previous = first;
    }
    return true;
  }

  void Place(const LogNode& peer) {
    const std::size_t markers = MarkerCount(peer);
    const std::size_t base = restarts_ - markers;
    // Restart numbers of the markers, tunnel by tunnel from the last.
    const std::size_t tunnels = peer.ChildCount();
    std::vector<std::size_t> firstRestart(tunnels, 0);  // restart of a tunnel's first marker
    std::vector<std::size_t> later(tunnels, 0);         // the latest restart marked in tunnels after t
    std::size_t next = base + 1;
    std::vector<std::size_t> markedFrom(tunnels, 0);  // the latest restart marked in tunnels t and after
    for (std::size_t t = tunnels; t-- > 0;) {
      later[t] = next - 1;
      firstRestart[t] = next;
      for (const auto& child : peer.Child(t)->Children())
        if (IsMarker(*child)) ++next;
      markedFrom[t] = next - 1;
    }
    Origin& peerOrigin = origins_[OriginKey{PeerAddressOf(peer), 0, 0, false}];
    peerOrigin.lowest = base;
    for (std::size_t t = 0; t < tunnels; ++t) {
      const auto* addresses = NodeAs<TunnelNode>(peer.Child(t));
      peerOrigin.tunnels.push_back({addresses != nullptr ? addresses->TunnelLocalIP() : 0,
                                    addresses != nullptr ? addresses->TunnelPeerIP() : 0, markedFrom[t]});
    }
    for (std::size_t t = 0; t < tunnels; ++t) {
      const LogNode& tunnel = *peer.Child(t);
      std::size_t restart = firstRestart[t];
      std::size_t current = std::max(base, later[t]);
      const auto* addresses = NodeAs<TunnelNode>(tunnel);
      Origin& origin = origins_[OriginKey{PeerAddressOf(peer), addresses != nullptr ? addresses->TunnelLocalIP() : 0,
                                          addresses != nullptr ? addresses->TunnelPeerIP() : 0, true}];
      origin.lowest = current;
      // A tunnel whose first marker comes before any negotiation of its own existed then only
      // through negotiations that the regrouping moved away.
      if (tunnel.ChildCount() != 0 && IsMarker(*tunnel.Child(0))) origin.existsBefore = restart;
      std::map<Key, std::size_t> seen;  // the stretch of the last negotiation of each key
      for (const auto& child : tunnel.Children()) {
        if (IsMarker(*child)) {
          current = std::max(current, restart);
          if (restart < texts_.size()) texts_[restart].emplace_back(static_cast<const Restarted&>(*child).RestartText());
          markerRestart_[child.get()] = restart;
          ++restart;
          continue;
        }
        Key key;
        if (NegotiationKey(*child, key)) {
          auto it = seen.find(key);
          if (it != seen.end() && it->second >= current) {
            current = it->second + 1;
            if (current > restarts_) wanted_ = std::max(wanted_, current);
          }
          seen[key] = current;
          origin.own.emplace_back(key, child.get());
        }
        stretchOf_[child.get()] = current;
        origin.ownFirst = std::min(origin.ownFirst, current);
        peerOrigin.ownFirst = std::min(peerOrigin.ownFirst, current);
        if (const FolderElement* packet = LastPacket(*child); packet != nullptr && &child == &tunnel.Children().back()) {
          // The end of the log cut the packet's line or its "Sent:" record short: the saved log
          // ends with it too. A cut packet line is the log's last packet, after every restart.
          const bool lineCut = packet->GetHeader() != nullptr && packet->GetHeader()->LineCutByEnd();
          if (lineCut || (packet->PacketDebug() != nullptr && packet->PacketDebug()->CutByEnd())) last_ = child.get();
          if (lineCut) {
            lastLineCut_ = true;
            stretchOf_[child.get()] = restarts_;
            continue;
          }
        }
        if (ownRestarts_.contains(child.get())) {
          // Its restart comes right after it: the tunnel's next negotiations come after that.
          carriers_.insert(child.get());
          if (current < restarts_) ++current;
        }
        if (const std::optional<TimeOrderKey> time = TimeOrderKeyOf(*child)) {
          if (firstAfter_.size() <= current) firstAfter_.resize(current + 1, std::nullopt);
          auto& first = firstAfter_[current];
          if (!first || time->start < *first) first = time->start;
        }
      }
    }
  }

  // The reader takes a restart line for a restart only while it reads a packet's blocks, so
  // every stretch before the last restart needs a packet to carry it. A negotiation whose own
  // text holds a restart carries its own: it ends its stretch, one such per stretch before the
  // last and none in the last. Placed as early as they fit, the negotiations may
  // break these rules: a tunnel without markers may have begun in any stretch from its peer's
  // first on. Negotiations that may as well lie later are then moved up one at a time: a
  // carrier that shares its stretch with another to the next stretch, and into an empty
  // stretch the negotiation from the latest stretch before it (that stretch, if it empties,
  // is filled in turn).
  void SettleStretches(const LogFile& root) {
    if (restarts_ == 0 && carriers_.empty()) return;
    std::vector<std::size_t> count(restarts_ + 1, 0);
    std::vector<std::size_t> carried(restarts_ + 1, 0);
    for (const auto& [node, stretch] : stretchOf_) {
      ++count[stretch];
      carried[stretch] += carriers_.contains(node);
    }
    std::vector<bool> given(restarts_ + 1, false);  // stretches no move mends
    for (std::size_t moves = 0; moves < 4 * (restarts_ + 1) + carriers_.size(); ++moves) {
      if (OverBudget(stretchOf_.size())) return;
      std::size_t s = 0;
      bool crowded = false;
      for (; s <= restarts_; ++s) {
        if (given[s]) continue;
        if (carried[s] > (s < restarts_ ? 1u : 0u)) {
          crowded = true;
          break;
        }
        if (s < restarts_ && count[s] == 0) break;
      }
      if (s > restarts_) return;
      Move move;
      if (!crowded || s < restarts_) {
        move.target = crowded ? s + 1 : s;
        for (const auto& peer : root.Children())
          if (!IsMergedPeer(*peer)) FindMove(*peer, crowded, s, move);
      }
      if (move.node == nullptr && crowded && s < restarts_) FindMergedCarrierMove(s, move);
      if (move.node == nullptr && !crowded) FindMergedMove(s, count, move);
      if (move.node == nullptr && !crowded && ShiftMergedUp(s, count, carried)) continue;
      if (move.node == nullptr) {
        given[s] = true;
        continue;
      }
      const bool carrier = carriers_.contains(move.node);
      --count[move.from];
      carried[move.from] -= carrier;
      ++count[move.target];
      carried[move.target] += carrier;
      stretchOf_[move.node] = move.target;
    }
  }

  // Settling weighs negotiations against one another for each stretch it mends: on a log with
  // thousands of restarts and of regrouped negotiations that work grows with the cube of the
  // log, and a 6 MB log of them took minutes to save. Past this much work the stretches left
  // are kept as placed, so that a save always ends in time; such a log may then read back with
  // fewer restart markers. Logs a gateway writes are far below it.
  static constexpr std::uint64_t kSettleWork = 20'000'000;
  std::uint64_t settleWork_ = 0;
  bool OverBudget(std::uint64_t work) {
    settleWork_ += work;
    return settleWork_ > kSettleWork;
  }

  struct Move {
    const LogNode* node = nullptr;
    std::size_t from = 0;
    std::size_t target = 0;
  };

  // A negotiation of `peer` that can lie in `move.target` instead: when `crowded`, a carrier of
  // stretch s; else one from the latest stretch before s. It stays before its tunnel's next
  // marker and its tunnel's later negotiations (after them when it carries a restart), does not
  // fall in with a later one of the same cookie, family and message ID, and its peer still
  // begins in the stretch it began in.
  void FindMove(const LogNode& peer, bool crowded, std::size_t s, Move& move) const {
    std::size_t first = restarts_ + 1;  // the peer's first stretch and how many of its negotiations lie there
    std::size_t inFirst = 0;
    for (const auto& tunnel : peer.Children())
      for (const auto& child : tunnel->Children()) {
        const auto it = stretchOf_.find(child.get());
        if (it == stretchOf_.end()) continue;
        if (it->second < first) first = it->second, inFirst = 0;
        if (it->second == first) ++inFirst;
      }
    const std::size_t t = move.target;
    for (const auto& tunnel : peer.Children()) {
      const std::size_t n = tunnel->ChildCount();
      const auto* addresses = NodeAs<TunnelNode>(*tunnel);
      const auto origin = origins_.find(OriginKey{PeerAddressOf(peer), addresses != nullptr ? addresses->TunnelLocalIP() : 0,
                                                  addresses != nullptr ? addresses->TunnelPeerIP() : 0, true});
      for (std::size_t i = 0; i < n; ++i) {
        const LogNode* child = tunnel->Child(i);
        const auto it = stretchOf_.find(child);
        if (it == stretchOf_.end()) continue;
        const std::size_t c = it->second;
        const bool carrier = carriers_.contains(child);
        if (crowded ? (c != s || !carrier) : (c >= s || (move.node != nullptr && c <= move.from))) continue;
        if (c == first && inFirst < 2) continue;
        Key key;
        const bool keyed = NegotiationKey(*child, key);
        // Not into a stretch where a merged peer's negotiation of its key is read back into it.
        bool fits = !keyed || origin == origins_.end() || !KeyAt(origin->second.merged, key, t);
        for (std::size_t j = i + 1; j < n && fits; ++j) {
          const LogNode* later = tunnel->Child(j);
          if (const auto marker = markerRestart_.find(later); marker != markerRestart_.end()) {
            fits = t < marker->second;
            break;
          }
          const auto at = stretchOf_.find(later);
          if (at == stretchOf_.end()) continue;
          Key laterKey;
          const bool sameKey = keyed && NegotiationKey(*later, laterKey) && laterKey == key;
          fits = at->second > t || (at->second == t && !carrier && !sameKey);
        }
        if (!fits) continue;
        move.node = child;
        move.from = c;
        if (crowded) return;
      }
    }
  }

  // A merged peer's negotiation placed by its time after an empty stretch s may lie in s
  // instead, when the peer it is read back into existed then; the one from the nearest stretch
  // is taken, and a stretch it leaves empty is filled in turn from a later one.
  // When no later stretch has one to give, a negotiation of the nearest earlier stretch that
  // keeps another there is taken instead (not one that carries a restart, which must end its
  // stretch): the peer it is read back into still appears where it did, as another of that
  // peer or tunnel lies at or before the stretch it leaves.
  void FindMergedMove(std::size_t s, const std::vector<std::size_t>& count, Move& move) {
    if (OverBudget(merged_.size() * merged_.size())) return;
    for (std::size_t i = 0; i < merged_.size(); ++i)
      if (const std::size_t c = stretchOf_.at(merged_[i].first); c > s && MayMoveMerged(i, s) &&
                                                                 (move.node == nullptr || c < move.from))
        move = Move{merged_[i].first, c, s};
    if (move.node != nullptr) return;
    for (std::size_t i = 0; i < merged_.size(); ++i) {
      const auto& [node, placed] = merged_[i];
      const std::size_t c = stretchOf_.at(node);
      if (c >= s || count[c] < 2 || carriers_.contains(node) || (move.node != nullptr && c <= move.from) ||
          !MayMoveMerged(i, s))
        continue;
      bool kept = false;  // another of its peer or tunnel stays at or before c
      for (std::size_t j = 0; j < merged_.size() && !kept; ++j)
        kept = j != i && merged_[j].second.origin == placed.origin && stretchOf_.at(merged_[j].first) <= c;
      if (kept) move = Move{node, c, s};
    }
  }

  // Two regrouped negotiations placed in one stretch s that both restart the daemon with their
  // own text would each end it: the later one moves to the next stretch, when its peer's rules
  // allow it there.
  void FindMergedCarrierMove(std::size_t s, Move& move) const {
    for (std::size_t i = merged_.size(); i-- > 0;) {
      const LogNode* node = merged_[i].first;
      if (stretchOf_.at(node) == s && carriers_.contains(node) && MayMoveMerged(i, s + 1)) {
        move = Move{node, s, s + 1};
        return;
      }
    }
  }

  // Fills an empty stretch s from below when no single negotiation can: a regrouped peer's
  // negotiation of the nearest stretch below that has one to give moves up into it, and a
  // stretch that this leaves empty is filled in turn, down to a stretch that keeps another
  // negotiation. Each keeps the rules of a single move; one that carries a restart moves only
  // into a stretch left without one, so each stretch still ends in at most one. The moves are
  // undone when the chain finds no such stretch.
  bool ShiftMergedUp(std::size_t s, std::vector<std::size_t>& count, std::vector<std::size_t>& carried) {
    std::vector<std::pair<const LogNode*, std::size_t>> done;  // the moved and where they were
    const auto undo = [&] {
      for (auto it = done.rbegin(); it != done.rend(); ++it) {
        const std::size_t at = stretchOf_[it->first];
        const bool carrier = carriers_.contains(it->first);
        --count[at], carried[at] -= carrier;
        ++count[it->second], carried[it->second] += carrier;
        stretchOf_[it->first] = it->second;
      }
      return false;
    };
    for (std::size_t fill = s, t = s; t-- > 0;) {
      if (OverBudget(merged_.size() * merged_.size())) return undo();
      const LogNode* pick = nullptr;
      for (std::size_t i = 0; i < merged_.size(); ++i) {
        const auto& [node, placed] = merged_[i];
        if (stretchOf_.at(node) != t || !MayMoveMerged(i, fill)) continue;
        if (carriers_.contains(node) && carried[fill] != 0) continue;
        bool kept = placed.origin != nullptr && placed.origin->ownFirst <= t;
        for (std::size_t j = 0; j < merged_.size() && !kept; ++j)
          kept = j != i && merged_[j].second.origin == placed.origin && stretchOf_.at(merged_[j].first) <= t;
        if (kept) pick = node;
      }
      if (pick == nullptr) continue;
      const bool carrier = carriers_.contains(pick);
      --count[t], carried[t] -= carrier;
      ++count[fill], carried[fill] += carrier;
      stretchOf_[pick] = fill;
      done.emplace_back(pick, t);
      if (count[t] != 0) return true;
      fill = t;
    }
    return undo();
  }

  // Whether a negotiation of `origin`'s own with cookie, family and message ID `key` lies in
  // stretch s.
  bool OwnKeyAt(const Origin* origin, const Key& key, std::size_t s) const {
    return origin != nullptr && KeyAt(origin->own, key, s);
  }
  bool KeyAt(const std::vector<std::pair<Key, const LogNode*>>& keyed, const Key& key, std::size_t s) const {
    return std::any_of(keyed.begin(), keyed.end(),
                       [&](const auto& each) { return each.first == key && stretchOf_.at(each.second) == s; });
  }

  // Whether merged negotiation i may lie in stretch s: its peer existed then (and the one that
  // makes its peer or tunnel exist before a restart stays before it), those of its peer
  // with its cookie, family and message ID stay apart, and those of its start time (or of
  // none) read back into its peer stay in the order the regrouping moves them in.
  bool MayMoveMerged(std::size_t i, std::size_t s) const {
    const auto& placed = merged_[i].second;
    if (placed.lowest > s || placed.latest < s) return false;
    if (placed.keyed && OwnKeyAt(placed.origin, placed.key, s)) return false;
    for (std::size_t j = 0; j < merged_.size(); ++j) {
      const auto& [other, its] = merged_[j];
      if (j == i) continue;
      const std::size_t at = stretchOf_.at(other);
      if (placed.keyed && its.keyed && its.origin == placed.origin && its.key == placed.key && at == s) return false;
      if (its.run == placed.run && its.source == placed.source && (j < i ? at > s : at < s)) return false;
    }
    return KeepsPeerOrder(merged_[i].first, s);
  }

  // Whether the merged peers of the address of `node`'s peer are still made in the order the
  // tree shows them (MergedPeersOutOfOrder) with `node` in stretch s. Within a stretch the
  // negotiations of one tunnel are written in the order of their peers.
  bool KeepsPeerOrder(const LogNode* node, std::size_t s) const {
    const LogNode* peer = node->Parent() != nullptr ? node->Parent()->Parent() : nullptr;
    const auto group = peer != nullptr ? peersOfAddress_.find(PeerAddressOf(*peer)) : peersOfAddress_.end();
    return group == peersOfAddress_.end() || group->second.size() < 2 || PeersInOrder(group->second, node, s, nullptr);
  }

  // A merged peer's negotiations were moved out of the peers of the index and of the address,
  // whose restart markers stayed behind; they go to the stretch their start time falls in:
  // after restart r when they started no earlier than the first negotiation after r did.
  void PlaceByTime(const LogNode& peer) {
    std::vector<std::int64_t> bounds(restarts_ + 1, std::numeric_limits<std::int64_t>::max());
    std::optional<std::int64_t> earliest;
    for (std::size_t r = firstAfter_.size(); r-- > 1;) {
      if (firstAfter_[r] && (!earliest || *firstAfter_[r] < *earliest)) earliest = firstAfter_[r];
      if (earliest && r <= restarts_) bounds[r] = *earliest;
    }
    std::map<std::pair<const Origin*, Key>, std::size_t> lastOfKey;  // the stretch of the last of each key
    // Merged peers of one address are shown in the order the regrouping made them, which is
    // the order it meets their first negotiations in (MergedPeersOutOfOrder): one read back into
    // the tunnel that holds the first of the peer before goes no earlier than that one.
    const std::optional<WalkPlace> before = [&]() -> std::optional<WalkPlace> {
      const auto it = firstOfAddress_.find(PeerAddressOf(peer));
      return it != firstOfAddress_.end() ? std::optional<WalkPlace>(it->second) : std::nullopt;
    }();
    std::optional<WalkPlace> first;  // this peer's
    for (const auto& tunnel : peer.Children()) {
      std::vector<const LogNode*> exchanges;
      for (const auto& child : tunnel->Children())
        if (!IsMarker(*child)) exchanges.push_back(child.get());
      // The regrouping moves the negotiations into the merged peer one by one, each to its
      // place in time order: among those of one start time, or without one, the order it
      // moves them decides theirs. It moves them in the order the log has them, so that order
      // is the one that rebuilds the tree's: a later one of such a run lies in the same stretch
      // or a later one.
      exchanges = InsertionOrder(exchanges);
      std::optional<std::optional<TimeOrderKey>> previous;  // the time of the one placed before
      std::unordered_map<std::uint32_t, std::size_t> floors;  // per peer it is read back into
      for (const LogNode* child : exchanges) {
        const std::optional<TimeOrderKey> time = TimeOrderKeyOf(*child);
        const bool sameRun = previous && previous->has_value() == time.has_value() &&
                             (!time || (*previous)->start == time->start);
        if (!sameRun) floors.clear(), ++runs_;
        std::size_t stretch = 0;
        std::size_t soonest = 0;  // a start in the second of a bound may lie before that restart too
        if (time) {
          while (stretch < restarts_ && time->start >= bounds[stretch + 1]) ++stretch;
          while (soonest < stretch && time->start > bounds[soonest + 1]) ++soonest;
        }
        // Not before the peer it is read back into existed: a peer without markers (or none left
        // in the tree) first appeared after the last restart.
        const auto* exchange = NodeAs<Exchange>(*child);
        const Header* header = exchange != nullptr ? exchange->GetHeader() : nullptr;
        // The regrouping moves the negotiations peer by peer: the order to keep is that of the
        // ones read back into one peer.
        const std::uint32_t source = header != nullptr ? header->PeerAddress() : 0;
        std::size_t& floor = floors[source];
        Origin* origin = nullptr;
        std::size_t lowest = restarts_;
        if (header != nullptr) {
          auto it = origins_.find(OriginKey{header->PeerAddress(), header->TunnelLocalIP(), header->TunnelPeerIP(), true});
          if (it != origins_.end()) {
            lowest = it->second.lowest;
          } else if (it = origins_.find(OriginKey{header->PeerAddress(), 0, 0, false}); it != origins_.end()) {
            lowest = std::max(it->second.lowest, NewTunnelLowest(it->second, header->TunnelLocalIP(), header->TunnelPeerIP()));
          }
          if (it != origins_.end()) origin = &it->second;
        }
        const std::size_t order = before && header != nullptr &&
                                          std::make_tuple(header->PeerAddress(), header->TunnelLocalIP(), header->TunnelPeerIP()) ==
                                              std::make_tuple(std::get<0>(*before), std::get<2>(*before), std::get<3>(*before))
                                      ? std::get<4>(*before)
                                      : 0;
        const std::size_t bottom = std::max({soonest, lowest, floor, order});
        stretch = std::max({stretch, lowest, floor, order});
        bool provides = false;  // the one that makes its peer or tunnel exist before a restart
        if (origin != nullptr && origin->existsBefore != 0 && stretch >= origin->existsBefore &&
            lowest < origin->existsBefore && floor < origin->existsBefore && !origin->provided) {
          stretch = origin->existsBefore - 1;
          origin->provided = provides = true;
        }
        // Two with the same cookie, family and message ID (the reader compares the cookie's
        // last four bytes) read back into one tunnel were split by a restart: the reader adds
        // a packet to the open negotiation of its key. Each needs a stretch of its own: the
        // nearest free one before the one its time gives (as far as its time, its peer and its
        // run allow), else after it, else one before its time.
        Key key;
        const bool keyed = NegotiationKey(*child, key);
        if (keyed && origin != nullptr && !provides) {
          std::size_t free = stretch;
          while (free > bottom && KeyTaken(origin, key, free)) --free;
          if (KeyTaken(origin, key, free)) {
            free = stretch;
            while (free < restarts_ && KeyTaken(origin, key, free)) ++free;
          }
          // A start time is only the log's word: a date the daemon garbled moves the bounds.
          if (KeyTaken(origin, key, free)) {
            free = bottom;
            while (free > std::max({lowest, floor, order}) && KeyTaken(origin, key, free)) --free;
          }
          if (!KeyTaken(origin, key, free)) stretch = free;
        } else if (keyed && origin == nullptr) {
          auto [it, added] = lastOfKey.try_emplace(std::make_pair(origin, key), stretch);
          if (!added && it->second >= stretch) stretch = std::min(restarts_, it->second + 1);
          it->second = stretch;
        }
        // The first placed before the restart its peer or tunnel must have existed at makes it
        // exist then: the settling keeps it there.
        std::size_t latest = restarts_;
        if (origin != nullptr && origin->existsBefore != 0 && stretch < origin->existsBefore && (provides || !origin->provided)) {
          origin->provided = true;
          latest = origin->existsBefore - 1;
        }
        AddMerged(child, origin, lowest, latest, stretch, keyed, key, runs_, source);
        previous = time;
        floor = stretch;
        if (header != nullptr && (!first || PlaceInWalk(*header, stretch, 0) < *first)) first = PlaceInWalk(*header, stretch, 0);
      }
    }
    if (first) firstOfAddress_[PeerAddressOf(peer)] = *first;
  }

  // Whether a negotiation read back into `origin` with cookie, family and message ID `key`
  // already lies in stretch s: one of its own or a merged peer's placed there.
  bool KeyTaken(const Origin* origin, const Key& key, std::size_t s) const {
    return origin != nullptr && (KeyAt(origin->own, key, s) || KeyAt(origin->merged, key, s));
  }

  void AddMerged(const LogNode* node, Origin* origin, std::size_t lowest, std::size_t latest, std::size_t stretch, bool keyed,
                 const Key& key, std::size_t run, std::uint32_t source) {
    stretchOf_[node] = stretch;
    if (keyed && origin != nullptr) origin->merged.emplace_back(key, node);
    // One whose own text restarts the daemon ends its stretch like any other carrier; the
    // settling moves it out of the last stretch, which no restart follows.
    if (ownRestarts_.contains(node)) carriers_.insert(node);
    merged_.emplace_back(node, Merged{origin, lowest, latest, keyed, key, run, source});
  }

  struct OriginKey {
    std::uint32_t address, local, peer;
    bool tunnel;
    friend bool operator<(const OriginKey& a, const OriginKey& b) {
      return std::tie(a.address, a.local, a.peer, a.tunnel) < std::tie(b.address, b.local, b.peer, b.tunnel);
    }
  };
  // A peer or tunnel of the tree as the reader builds it before the regrouping.
  struct Origin {
    std::size_t lowest = 0;        // the earliest stretch its negotiations may lie in
    std::size_t existsBefore = 0;  // a restart it must have existed at, through a moved negotiation
    bool provided = false;
    // The first stretch of its own negotiations (those the regrouping left in it); the settling
    // moves them no earlier and keeps one in the first stretch.
    std::size_t ownFirst = std::numeric_limits<std::size_t>::max();
    // Its own negotiations with their cookie, family and message ID: a merged peer's
    // negotiation read back into it must not share a stretch with one of the same key, or the
    // reader would add the packets of the later to the earlier (no restart closed it).
    std::vector<std::pair<Key, const LogNode*>> own;
    std::vector<std::pair<Key, const LogNode*>> merged;  // the merged peer's read back into it
    // A peer's tunnels in order: their address pair and the latest restart marked in them or
    // in a tunnel after them.
    struct TunnelMarks {
      std::uint32_t local, peer;
      std::size_t markedFrom;
    };
    std::vector<TunnelMarks> tunnels;
  };

  // The earliest stretch in which a tunnel of `pair` the peer does not hold yet may begin: a
  // restart gives its marker to the peer's first tunnel (tunnels go in ascending address
  // pairs, the one without addresses last), so no tunnel that sorts before one holding the
  // marker of restart r existed at r.
  static std::size_t NewTunnelLowest(const Origin& peer, std::uint32_t local, std::uint32_t remote) {
    for (const auto& tunnel : peer.tunnels) {
      const bool before = !(local == 0 && remote == 0) &&
                          ((tunnel.local == 0 && tunnel.peer == 0) || std::tie(local, remote) < std::tie(tunnel.local, tunnel.peer));
      if (before) return tunnel.markedFrom;
    }
    return peer.lowest;
  }
  std::map<OriginKey, Origin> origins_;
  // A merged peer's negotiation: the peer or tunnel it is read back into, the earliest stretch
  // it may lie in, and its cookie, family and message ID.
  struct Merged {
    const Origin* origin;
    std::size_t lowest;
    // The latest stretch it may lie in: the one that makes its peer or tunnel exist before the
    // restart whose marker it holds stays before that restart.
    std::size_t latest;
    bool keyed;
    Key key;
    std::size_t run;        // the negotiations of one start time (or of none) in one tunnel
    std::uint32_t source;   // the peer it is read back into
  };
  std::size_t runs_ = 0;
  std::vector<std::pair<const LogNode*, Merged>> merged_;

  bool mergedOutOfOrder_ = false;
  std::unordered_map<std::uint32_t, WalkPlace> firstOfAddress_;  // the last merged peer's first, per address
  std::unordered_map<std::uint32_t, std::vector<const LogNode*>> peersOfAddress_;  // merged peers in tree order
  std::size_t restarts_ = 0;
  std::size_t wanted_ = 0;     // the stretches that negotiations of one key need apart
  bool lastLineCut_ = false;   // last_ is there because the end of the log cut its packet line
  std::unordered_map<const LogNode*, std::size_t> stretchOf_;
  std::unordered_map<const LogNode*, std::size_t> markerRestart_;  // the restart each marker stands for
  std::unordered_set<const LogNode*> carriers_;  // negotiations whose own text restarts the daemon
  std::unordered_set<const LogNode*> ownRestarts_;  // negotiations whose own text restarts the daemon
  const LogNode* last_ = nullptr;  // the negotiation whose last packet the end of the log cut short
  // The earliest start time of the negotiations placed in each stretch.
  std::vector<std::optional<std::int64_t>> firstAfter_;
  std::vector<std::vector<const LogNode*>> stretches_;
  std::vector<std::vector<std::string>> texts_;
};

RestartStretches::RestartStretches(const LogFile& root) : impl_(std::make_unique<Impl>(root)) {}
RestartStretches::~RestartStretches() = default;
std::size_t RestartStretches::RestartCount() const { return impl_->RestartCount(); }
const std::vector<const LogNode*>& RestartStretches::Stretch(std::size_t s) const { return impl_->Stretch(s); }
bool RestartStretches::Carried(std::size_t r) const { return impl_->Carried(r); }
const std::vector<std::string>& RestartStretches::Texts(std::size_t r) const { return impl_->Texts(r); }
bool RestartStretches::RestartsOwn(const LogNode* negotiation) const { return impl_->RestartsOwn(negotiation); }
bool RestartStretches::Unsettled() const { return impl_->Unsettled(); }

}  // namespace quillon
