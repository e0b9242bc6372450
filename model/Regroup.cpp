// The regrouping of a loaded log: the daemon logs some negotiations under a small peer index
// (1..65278) instead of the peer's address. After the load, the exchanges of an indexed peer
// and those of an addressed peer that share a key (the IKEv1 initiator cookie, an IKEv2 SPI)
// are recognised as one party and moved into a merged peer named "address  (index)". The root
// knows no log format: it asks each node what its format answers (RegroupKeys, MatchesMessage,
// NewMergedPeer, NewTunnel, InsertExchange).
#include <algorithm>
#include <atomic>
#include <bit>
#include <numeric>
#include <set>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "model/Background.h"
#include "model/IPv4.h"
#include "model/LogFile.h"
#include "model/NodeRoles.h"

namespace quillon {
namespace {

std::string MergedPeerName(std::uint32_t address, std::uint32_t index) {
  return FormatIPv4(address) + "  (" + FormatIPv4(index) + ")";
}

std::uint64_t PairKey(std::uint32_t index, std::uint32_t address) {
  return (std::uint64_t{index} << 32) | address;
}

// Calls `visit` for every node below every tunnel of `peer` (the exchanges), in tree order.
template <class Visit>
void ForEachExchange(LogNode& peer, Visit&& visit) {
  for (std::size_t t = 0; t < peer.ChildCount(); ++t) {
    LogNode& tunnel = *peer.Child(t);
    const std::size_t count = tunnel.ChildCount();
    for (std::size_t e = 0; e < count; ++e) {
      // The walks over all exchanges wait mostly for the nodes to come from memory: the
      // next ones are asked for while this one is visited.
      if (e + kPrefetchAhead < count) PrefetchNode(tunnel.Child(e + kPrefetchAhead));
      visit(*tunnel.Child(e));
    }
  }
}

}  // namespace

// The peers of the root by name and the merged peers by (index, address), kept up to date
// while the regrouping creates merged peers. The regrouping looks a peer up for every exchange
// it moves; with thousands of peers a walk each time would dominate the load.
//
// While the regrouping moves exchanges, the merged peers it creates are appended to the root
// and put in address order once at the end (inserting each in place shifts every peer after
// it). Until then the root's order is the peers' addresses, and among equal addresses their
// positions: the order that inserting each in place would have given.
class LogFile::PeerDirectory {
 public:
  PeerDirectory(const LogFile& root, bool appendMergedPeers) : root_(root), appendMergedPeers_(appendMergedPeers) {
    for (const auto& peer : root.Children()) Add(*peer);
  }

  void Add(LogNode& node) {
    PeerNode* peer = NodeAs<PeerNode>(node);
    if (peer == nullptr) return;
    Add(*peer);
  }
  void Add(PeerNode& peer) {
    byName_[std::string(peer.Name())].push_back(&peer);
    if (peer.IsMergedPeer()) merged_.insert(PairKey(peer.PeerAddress(), peer.IdAddress()));
  }

  bool HasMergedPeer(std::uint32_t index, std::uint32_t address) const {
    return merged_.count(PairKey(index, address)) != 0;
  }

  // The peers named `name`, in the root's order.
  std::vector<PeerNode*> Named(const std::string& name) const {
    auto it = byName_.find(name);
    if (it == byName_.end()) return {};
    std::vector<PeerNode*> peers = it->second;
    if (peers.size() > 1) {
      std::vector<std::pair<std::pair<std::uint32_t, std::size_t>, PeerNode*>> ordered;
      for (PeerNode* peer : peers) ordered.push_back({{peer->PeerAddress(), root_.IndexOf(peer)}, peer});
      std::sort(ordered.begin(), ordered.end());
      for (std::size_t i = 0; i < ordered.size(); ++i) peers[i] = ordered[i].second;
    }
    return peers;
  }

  bool AppendsMergedPeers() const { return appendMergedPeers_; }
  void NoteAppended() { appended_ = true; }
  bool Appended() const { return appended_; }

  // The tunnels that take the moved exchanges in batches (while the root appends merged
  // peers, that is during the regrouping's moving pass).
  void Receive(TunnelNode& tunnel) {
    if (!appendMergedPeers_ || tunnel.HasOpenInsertBatch()) return;
    tunnel.OpenInsertBatch();
    if (tunnel.HasOpenInsertBatch()) batched_.push_back(&tunnel);
  }
  void CloseBatches() {
    for (TunnelNode* tunnel : batched_) tunnel->CloseInsertBatch();
    batched_.clear();
  }

 private:
  const LogFile& root_;
  const bool appendMergedPeers_;
  bool appended_ = false;
  std::unordered_map<std::string, std::vector<PeerNode*>> byName_;
  std::unordered_set<std::uint64_t> merged_;
  std::vector<TunnelNode*> batched_;
};

// What the pairing pass needs to know fast. Pairing walks, for every exchange of an indexed
// peer, all later peers looking for the exchanges that belong to the same negotiation; with
// thousands of indexed peers that walk is quadratic. An exchange can only pair with exchanges
// that share one of its keys: the initiator cookie value for IKEv1, the initiator SPI or the
// first SPI for IKEv2 (an empty SPI matches nothing). A peer without such an exchange is left
// as it is, unless it has no unpaired exchange at all (it is then marked as regrouped). So the
// walk need only visit the peers holding one of the keys, plus those left without unpaired
// exchanges; the result is the same as that of the full walk.
class LogFile::PairingIndex {
 public:
  // Null when some node under a tunnel is no exchange: the full walk is used.
  static std::unique_ptr<PairingIndex> Build(const LogFile& root) {
    auto index = std::make_unique<PairingIndex>();
    index->unpaired_.resize(root.ChildCount());
    index->mayMove_.assign(root.ChildCount(), 0);
    // Every exchange of the log is asked for its keys, and the walk waits mostly for the nodes
    // to come from memory: two threads walk the peers, each noting (key, peer) pairs.
    LaneState<std::vector<KeyedPeer>> lanes[2];
    std::atomic<bool> usable{true};
    index->entries_.resize(root.ChildCount());
    SpreadOverTwoThreads(root.Helpers(), root.ChildCount(), 64, nullptr, [&](std::size_t p, unsigned lane) {
      std::size_t unpaired = 0;
      bool mayMove = false;
      std::vector<Entry>& entries = index->entries_[p];
      std::size_t exchanges = 0;
      for (const auto& tunnel : root.Child(p)->Children()) exchanges += tunnel->ChildCount();
      entries.reserve(exchanges);
      ForEachExchange(*root.Child(p), [&](LogNode& node) {
        NegotiationNode* exchange = NodeAs<NegotiationNode>(node);
        Entry entry{exchange, {0, 0}, exchange != nullptr && exchange->IsReassigned()};
        if (exchange == nullptr || !exchange->RegroupKeys(entry.keys)) {
          usable.store(false, std::memory_order_relaxed);
          return;
        }
        if (!entry.reassigned) ++unpaired;
        mayMove = mayMove || entry.reassigned || node.HasIdAddress();
        // The exchanges of one SA, which follow one another, share their keys: a pair already
        // among the last few of this peer is not noted again (the sort drops repeats anyway).
        std::vector<KeyedPeer>& pairs = lanes[lane].value;
        for (const std::uint64_t key : entry.keys)
          if (key != 0 && std::none_of(pairs.end() - static_cast<std::ptrdiff_t>(std::min<std::size_t>(pairs.size(), 4)),
                                       pairs.end(), [&](const KeyedPeer& pair) { return pair.key == key && pair.peer == p; }))
            pairs.push_back({key, p});
        entries.push_back(entry);
      });
      index->unpaired_[p] = unpaired;
      index->mayMove_[p] = mayMove;
    });
    if (!usable.load()) return nullptr;
    for (std::size_t p = 0; p < root.ChildCount(); ++p)
      if (index->unpaired_[p] == 0) index->done_.insert(p);

    // The pairs grouped by key, each key's peers ascending and once, and a table from each
    // key to its run of pairs. The pairs are spread over about as many buckets by the top bits
    // of their scrambled key, and each bucket, of a pair or two, is sorted on its own: a few
    // passes over the pairs instead of a full sort. A key's pairs all land in one bucket.
    std::vector<KeyedPeer>& pairs = index->pairs_;
    const std::size_t total = lanes[0].value.size() + lanes[1].value.size();
    const int bits = std::clamp(static_cast<int>(std::bit_width(total)), 1, 20);
    const auto bucketOf = [bits](std::uint64_t key) {
      return static_cast<std::size_t>(key * 0x9E3779B97F4A7C15ull >> (64 - bits));
    };
    std::vector<std::size_t> starts((std::size_t{1} << bits) + 1, 0);
    for (const auto& lane : lanes)
      for (const KeyedPeer& pair : lane.value) ++starts[bucketOf(pair.key) + 1];
    std::partial_sum(starts.begin(), starts.end(), starts.begin());
    pairs.resize(total);
    {
      std::vector<std::size_t> next(starts.begin(), starts.end() - 1);
      for (const auto& lane : lanes)
        for (const KeyedPeer& pair : lane.value) pairs[next[bucketOf(pair.key)]++] = pair;
    }
    for (std::size_t b = 0; b + 1 < starts.size(); ++b)
      if (starts[b + 1] - starts[b] > 1)
        std::sort(pairs.begin() + static_cast<std::ptrdiff_t>(starts[b]), pairs.begin() + static_cast<std::ptrdiff_t>(starts[b + 1]));
    pairs.erase(std::unique(pairs.begin(), pairs.end()), pairs.end());
    // A slot counts its run in 32 bits: more pairs than that (never met) take the full walk.
    if (pairs.size() > UINT32_MAX) return nullptr;
    std::size_t keys = pairs.empty() ? 0 : 1;
    for (std::size_t at = 1; at < pairs.size(); ++at) keys += pairs[at].key != pairs[at - 1].key;
    std::size_t slots = 16;
    while (slots < keys * 2) slots *= 2;
    index->slots_.assign(slots, Slot{});
    for (std::size_t at = 0; at < pairs.size();) {
      std::size_t end = at + 1;
      while (end < pairs.size() && pairs[end].key == pairs[at].key) ++end;
      Slot& slot = index->SlotOf(pairs[at].key);
      slot = {pairs[at].key, static_cast<std::uint32_t>(at), static_cast<std::uint32_t>(end - at)};
      at = end;
    }
    return index;
  }

  // Positions of the peers with an exchange sharing one of the keys, ascending.
  std::vector<std::size_t> PeersWith(const std::uint64_t (&keys)[2]) const {
    std::vector<std::size_t> peers;
    for (const std::uint64_t key : keys) {
      if (key == 0) continue;
      const Slot& slot = const_cast<PairingIndex*>(this)->SlotOf(key);
      if (slot.key != key) continue;
      const std::size_t middle = peers.size();
      for (std::size_t i = slot.first; i < std::size_t{slot.first} + slot.count; ++i) peers.push_back(pairs_[i].peer);
      std::inplace_merge(peers.begin(), peers.begin() + static_cast<std::ptrdiff_t>(middle), peers.end());
    }
    peers.erase(std::unique(peers.begin(), peers.end()), peers.end());
    return peers;
  }

  // Calls visit(exchange, mayMatch) for every exchange of the peer at `p` that is not paired
  // yet, in tree order; `mayMatch` is false for one that shares no key with `keys` (so that it
  // cannot match the exchange they are of: exchanges that match share a key). The exchanges'
  // keys and pairing are kept here, next to one another, so that a visit reads the nodes only
  // of the exchanges that may match. Only those may be paired by `visit`.
  template <class Visit>
  void ForEachUnpaired(std::size_t p, const std::uint64_t (&keys)[2], Visit&& visit) {
    for (Entry& entry : entries_[p]) {
      if (entry.reassigned) continue;
      const bool mayMatch = SharesKey(entry.keys, keys);
      visit(*entry.exchange, mayMatch);
      if (mayMatch) entry.reassigned = entry.exchange->IsReassigned();
    }
  }

  // Whether an exchange of the peer at `p` may have to move: one is paired, or carries an
  // identity address (which may name a merged peer). The moving step skips the other peers
  // without reading their exchanges.
  bool MayMove(std::size_t p) const { return p >= mayMove_.size() || mayMove_[p] != 0; }

  // An exchange of the peer at `p` was paired.
  void NotePaired(std::size_t p) {
    if (p < mayMove_.size()) mayMove_[p] = 1;
    if (p < unpaired_.size() && unpaired_[p] != 0 && --unpaired_[p] == 0) done_.insert(p);
  }

  // Marks as regrouped the peers from `start` on that have no unpaired exchange left.
  void MarkDonePeers(LogFile& root, std::size_t start) {
    for (auto it = done_.lower_bound(start); it != done_.end();) {
      if (PeerNode* peer = NodeAs<PeerNode>(root.Child(*it))) peer->SetRegrouped();
      it = done_.erase(it);
    }
  }

 private:
  struct KeyedPeer {
    std::uint64_t key;
    std::size_t peer;
    bool operator<(const KeyedPeer& other) const { return key != other.key ? key < other.key : peer < other.peer; }
    bool operator==(const KeyedPeer& other) const = default;
  };
  // A key (0: a free slot; no key is 0) and its run in pairs_.
  struct Slot {
    std::uint64_t key = 0;
    std::uint32_t first = 0;
    std::uint32_t count = 0;
  };

  // The key's slot, or the free slot where it would go (open addressing, linear probing; the
  // table is at least twice as large as the keys, so a free slot is always met).
  Slot& SlotOf(std::uint64_t key) {
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t at = (key ^ (key >> 29)) * 0x9E3779B97F4A7C15ull >> 7 & mask;; at = (at + 1) & mask)
      if (slots_[at].key == key || slots_[at].key == 0) return slots_[at];
  }

  // An exchange, its keys and whether it is paired (as IsReassigned() says).
  struct Entry {
    NegotiationNode* exchange;
    std::uint64_t keys[2];
    bool reassigned;
  };

  static bool SharesKey(const std::uint64_t (&a)[2], const std::uint64_t (&b)[2]) {
    for (const std::uint64_t key : a)
      if (key != 0 && (key == b[0] || key == b[1])) return true;
    return false;
  }

  std::vector<KeyedPeer> pairs_;
  std::vector<Slot> slots_;
  std::vector<std::vector<Entry>> entries_;  // per peer, its exchanges in tree order
  std::vector<std::size_t> unpaired_;
  std::vector<char> mayMove_;  // per peer, see MayMove
  std::set<std::size_t> done_;
};

void LogFile::Regroup() {
  if (beforeRearranging_) beforeRearranging_();
  // 1. Pairing: every exchange of an indexed peer (or of a peer whose main modes named an
  //    index as identity) looks for its partners by initiator cookie.
  const std::unique_ptr<PairingIndex> pairing = PairingIndex::Build(*this);
  for (std::size_t i = 0; i < ChildCount(); ++i) {
    PeerNode* peer = NodeAs<PeerNode>(Child(i));
    if (peer == nullptr || !(peer->IsIndexedPeer() || peer->HasIdAddress()) || peer->IsRegrouped()) continue;
    ForEachExchange(*peer, [&](LogNode& node) {
      const NegotiationNode* exchange = NodeAs<NegotiationNode>(node);
      if (exchange != nullptr && !exchange->IsReassigned()) PairByCookie(i, *exchange, pairing.get());
    });
  }

  // 2. Moving. The merged peers created here join the peers being walked, so the walk goes
  //    over the peers as they stood; merged peers are not walked anyway.
  PeerDirectory directory(*this, true);
  // The pairing did not add or remove peers, so its positions are still those of the peers.
  std::vector<PeerNode*> peers;
  for (std::size_t i = 0; i < ChildCount(); ++i) {
    PeerNode* peer = NodeAs<PeerNode>(Child(i));
    if (peer != nullptr && !peer->IsMergedPeer() && (pairing == nullptr || pairing->MayMove(i))) peers.push_back(peer);
  }
  for (PeerNode* peer : peers) {
    // A main mode whose identity named an index that is already paired with this peer's
    // address belongs to that merged peer. True when the exchange is to move.
    const auto moves = [&](LogNode& node) {
      NegotiationNode* exchange = NodeAs<NegotiationNode>(node);
      if (exchange == nullptr) return false;
      if (!exchange->IsReassigned() && !peer->IsIndexedPeer() && exchange->HasIdAddress() &&
          directory.HasMergedPeer(exchange->IdAddress(), peer->PeerAddress()))
        exchange->Reassign(exchange->IdAddress(), peer->PeerAddress());
      return exchange->IsReassigned();
    };
    for (std::size_t t = 0; t < peer->ChildCount(); ++t) {
      TunnelNode* tunnelNode = NodeAs<TunnelNode>(peer->Child(t));
      if (tunnelNode == nullptr) continue;
      TunnelNode& tunnel = *tunnelNode;
      // The exchanges before the first that moves stay where they are.
      std::size_t first = 0;
      while (first < tunnel.ChildCount() && !moves(*tunnel.Child(first))) ++first;
      if (first == tunnel.ChildCount()) continue;
      // From there the tunnel's exchanges are taken out together and those that stay are put
      // back in order: taking them out one by one would shift the rest each time. (Asking the
      // first of them again changes nothing: it is reassigned already.)
      std::vector<std::unique_ptr<LogNode>> exchanges;
      exchanges.reserve(tunnel.ChildCount() - first);
      while (tunnel.ChildCount() > first) exchanges.push_back(tunnel.TakeChild(tunnel.ChildCount() - 1));
      for (auto it = exchanges.rbegin(); it != exchanges.rend(); ++it) {
        std::unique_ptr<LogNode> exchange = std::move(*it);
        if (moves(*exchange))
          exchange = Relocate(std::unique_ptr<NegotiationNode>(static_cast<NegotiationNode*>(exchange.release())), tunnel,
                              directory);
        if (exchange) tunnel.AppendChild(std::move(exchange));
      }
    }
  }

  directory.CloseBatches();
  if (directory.Appended()) SortPeers();

  // 3. Cleaning.
  RemoveEmpty();
}

void LogFile::SortPeers() {
  std::vector<std::unique_ptr<LogNode>> peers;
  peers.reserve(ChildCount());
  while (ChildCount() != 0) peers.push_back(TakeChild(ChildCount() - 1));
  std::reverse(peers.begin(), peers.end());
  // Stable: equal addresses keep their order, as AddChild keeps it.
  std::stable_sort(peers.begin(), peers.end(),
                   [](const auto& a, const auto& b) { return PeerAddressOf(*a) < PeerAddressOf(*b); });
  for (auto& peer : peers) AppendChild(std::move(peer));
}

void LogFile::PairByCookie(std::size_t start, const LogNode& x) {
  if (const auto* exchange = NodeAs<NegotiationNode>(x)) PairByCookie(start, *exchange, nullptr);
}

void LogFile::PairByCookie(std::size_t start, const NegotiationNode& x, PairingIndex* pairing) {
  std::uint32_t index = 0;
  std::uint32_t address = 0;
  bool allPaired = true;
  auto reassign = [pairing](NegotiationNode& exchange, std::size_t p, std::uint32_t i, std::uint32_t a) {
    const bool was = exchange.IsReassigned();
    exchange.Reassign(i, a);
    if (pairing != nullptr && !was && exchange.IsReassigned()) pairing->NotePaired(p);
  };
  // x's keys, when the index narrows the search.
  std::uint64_t keys[2] = {0, 0};
  if (pairing != nullptr && !x.RegroupKeys(keys)) keys[0] = keys[1] = 0;
  // Every exchange of the peer that is not paired yet, in tree order, and whether it may match.
  auto eachUnpaired = [&](std::size_t p, auto&& visit) {
    if (pairing != nullptr) {
      pairing->ForEachUnpaired(p, keys, visit);
      return;
    }
    ForEachExchange(*Child(p), [&](LogNode& node) {
      NegotiationNode* exchange = NodeAs<NegotiationNode>(node);
      if (exchange != nullptr && !exchange->IsReassigned()) visit(*exchange, true);
    });
  };
  auto visit = [&](std::size_t p) {
    PeerNode* peerNode = NodeAs<PeerNode>(Child(p));
    if (peerNode == nullptr) return;
    PeerNode& peer = *peerNode;
    if (peer.IsRegrouped()) return;
    bool peerDone = true;
    eachUnpaired(p, [&](NegotiationNode& exchange, bool mayMatch) {
      if (!mayMatch || !exchange.MatchesMessage(x)) {
        peerDone = false;
        return;
      }
      if (index == 0 && peer.IsIndexedPeer()) index = peer.PeerAddress();
      if (!peer.IsIndexedPeer()) address = peer.PeerAddress();
      const std::uint32_t recorded = exchange.PacketDebugValue();
      if (index == 0 || (address == 0 && recorded == 0)) {
        peerDone = false;
        allPaired = false;
        return;
      }
      // The addressed peer's own address is best; an indexed peer's exchange may know the
      // address from the "PeerIP:" of its packet-debug records.
      const std::uint32_t a = !peer.IsIndexedPeer() && address != 0 ? address : recorded != 0 ? recorded : address;
      reassign(exchange, p, index, a);
    });
    if (peerDone) peer.SetRegrouped();
  };

  std::vector<std::size_t> candidates;
  if (pairing != nullptr) {
    pairing->MarkDonePeers(*this, start);
    candidates = pairing->PeersWith(keys);
    for (auto it = std::lower_bound(candidates.begin(), candidates.end(), start); it != candidates.end(); ++it)
      visit(*it);
  } else {
    for (std::size_t p = start; p < ChildCount(); ++p) visit(p);
  }

  // Exchanges met before the pair was known get it now.
  if (allPaired || index == 0 || address == 0) return;
  auto late = [&](std::size_t p) {
    const PeerNode* peer = NodeAs<PeerNode>(Child(p));
    if (peer == nullptr || peer->IsRegrouped()) return;
    eachUnpaired(p, [&](NegotiationNode& exchange, bool mayMatch) {
      if (mayMatch && exchange.MatchesMessage(x)) reassign(exchange, p, index, address);
    });
  };
  if (pairing != nullptr) {
    for (std::size_t p : candidates) late(p);
  } else {
    for (std::size_t p = 0; p < ChildCount(); ++p) late(p);
  }
}
std::unique_ptr<LogNode> LogFile::Relocate(std::unique_ptr<NegotiationNode> exchange, const TunnelNode& tunnel,
                                            PeerDirectory& directory) {
  const std::uint32_t index = exchange->ReassignedIndex();
  const std::uint32_t address = exchange->ReassignedAddress();
  if (index == 0 || address == 0) return exchange;
  const std::string name = MergedPeerName(address, index);
  const std::uint32_t local = tunnel.TunnelLocalIP();
  const std::uint32_t remote = tunnel.TunnelPeerIP();
  const PeerNode* fromPeer = NodeAs<PeerNode>(tunnel.Parent());
  if (fromPeer == nullptr) return exchange;

  TunnelNode* target = nullptr;
  PeerNode* mergedPeer = nullptr;
  for (PeerNode* peer : directory.Named(name)) {
    if (mergedPeer == nullptr && peer->IsMergedPeer()) mergedPeer = peer;
    for (const auto& child : peer->Children()) {
      TunnelNode* candidate = NodeAs<TunnelNode>(child.get());
      if (candidate != nullptr && candidate->MatchesTunnel(local, remote)) {
        target = candidate;
        break;
      }
    }
    if (target != nullptr) break;
  }
  if (target == &tunnel) return exchange;  // already in its merged peer

  if (target == nullptr) {
    // A new tunnel for the pair; it goes into the merged peer of the pair when there already
    // is one (a second peer of the same name would make the name ambiguous for the view and
    // for RemovePeer), else into a new merged peer.
    // The new nodes are of the format of the tunnel and peer the exchange comes from.
    std::unique_ptr<TunnelNode> newTunnel = tunnel.NewTunnel(local, remote);
    if (!newTunnel) return exchange;
    target = newTunnel.get();
    if (mergedPeer != nullptr) {
      mergedPeer->AddChild(std::move(newTunnel));
    } else {
      std::unique_ptr<PeerNode> peer = fromPeer->NewMergedPeer(address, index, name, this);
      if (!peer) return exchange;
      peer->AddChild(std::move(newTunnel));
      PeerNode& added = *peer;
      if (directory.AppendsMergedPeers()) {
        AppendChild(std::move(peer));
        directory.NoteAppended();
      } else {
        AddChild(std::move(peer));
      }
      directory.Add(added);
    }
  }
  directory.Receive(*target);
  target->InsertExchange(std::move(exchange));
  return nullptr;
}
}  // namespace quillon
