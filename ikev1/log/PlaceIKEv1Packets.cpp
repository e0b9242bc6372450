#include "ikev1/log/PlaceIKEv1Packets.h"

#include <algorithm>
#include <deque>
#include <memory>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "ikev1/log/Message.h"
#include "ikev1/negotiation/Peer.h"
#include "model/Background.h"
#include "model/IPv4.h"
#include "model/TextHash.h"

namespace quillon::ikev1_load {

namespace {

bool SameNegotiation(const Header& header, const PacketDebugRecord& record) {
  return header.InitCookie() == record.initCookie && header.MsgId() == record.msgId;
}

}  // namespace

// The lookups of one load. A busy log holds thousands of peers and, per peer, thousands of
// negotiations; each packet looks for its peer and each "Sent:" record for its negotiation.
// Both are answered from maps kept up to date as packets are placed; the answers are those of
// a walk over the tree in order (the first peer of an address; the first negotiation, in
// tunnel order, whose last packet has the record's cookie and message ID).
class LoadIndex {
 public:
  explicit LoadIndex(const LogFile& root) : exact_(root.ChildCount() == 0) {
    for (const auto& child : root.Children())
      if (auto* peer = NodeAs<Peer>(child.get())) peers_.emplace(peer->PeerAddress(), peer);
  }

  Peer* PeerAt(std::uint32_t address) const {
    auto it = peers_.find(address);
    return it == peers_.end() ? nullptr : it->second;
  }

  void AddPeer(Peer& peer) { peers_.emplace(peer.PeerAddress(), &peer); }

  // The exchange has just taken a packet: its last packet now names it. Only noted here: most
  // "Sent:" records follow their packet and need no lookup, so the notes are indexed when a
  // record first needs one.
  void NotePacket(std::uint32_t address, Exchange* exchange) {
    if (exchange == nullptr || exchange->GetHeader() == nullptr) return;
    const Header& header = *exchange->GetHeader();
    notes_.push_back({KeyHash(address, header.InitCookie(), header.MsgId()), address, exchange});
  }

  Exchange* ExchangeFor(Peer& peer, const PacketDebugRecord& record) {
    if (!exact_) return WalkFor(peer, record);
    for (; indexed_ < notes_.size(); ++indexed_) {
      const Note& note = notes_[indexed_];
      std::vector<const Note*>& list = byKeyHash_[note.keyHash];
      if (std::none_of(list.begin(), list.end(),
                       [&](const Note* listed) { return listed->exchange == note.exchange && listed->address == note.address; }))
        list.push_back(&note);
    }
    const std::uint32_t address = peer.PeerAddress();
    auto it = byKeyHash_.find(KeyHash(address, record.initCookie, record.msgId));
    if (it == byKeyHash_.end()) return nullptr;
    // An exchange is listed under every key its last packet ever had (and, rarely, under a key
    // of the same hash); keep those of this peer's address that still have this key and take
    // the first in tree order.
    std::vector<Exchange*> matches;
    for (const Note* note : it->second)
      if (note->address == address && SameNegotiation(*note->exchange->GetHeader(), record)) matches.push_back(note->exchange);
    if (matches.size() <= 1) return matches.empty() ? nullptr : matches.front();
    return *std::min_element(matches.begin(), matches.end(), [&peer](const Exchange* a, const Exchange* b) {
      return PositionOf(peer, *a) < PositionOf(peer, *b);
    });
  }

 private:
  struct Note {
    std::uint64_t keyHash;
    std::uint32_t address;
    Exchange* exchange;
  };

  static std::uint64_t KeyHash(std::uint32_t address, const ByteList& cookie, const ByteList& msgId) {
    std::uint64_t hash = address;
    for (std::uint32_t b : cookie) hash = HashStep(hash, b);
    hash = HashStep(hash, ~std::uint64_t{0});  // keeps the two lists apart
    for (std::uint32_t b : msgId) hash = HashStep(hash, b);
    return hash;
  }

  // (tunnel position, exchange position) within the peer.
  static std::pair<std::size_t, std::size_t> PositionOf(const Peer& peer, const Exchange& exchange) {
    const LogNode* tunnel = exchange.Parent();
    return {peer.IndexOf(tunnel), tunnel != nullptr ? tunnel->IndexOf(&exchange) : 0};
  }

  static Exchange* WalkFor(Peer& peer, const PacketDebugRecord& record) {
    for (const auto& tunnel : peer.Children()) {
      for (const auto& child : tunnel->Children()) {
        auto* exchange = NodeAs<Exchange>(child.get());
        if (exchange != nullptr && exchange->GetHeader() != nullptr && SameNegotiation(*exchange->GetHeader(), record))
          return exchange;
      }
    }
    return nullptr;
  }

  // False when the root already held peers: their negotiations are not in the maps, so the
  // records are matched by walking the tree.
  bool exact_;
  std::unordered_map<std::uint32_t, Peer*> peers_;
  // Notes are only appended; byKeyHash_ points into notes_[0, indexed_), hence a deque.
  std::deque<Note> notes_;
  std::size_t indexed_ = 0;
  std::unordered_map<std::uint64_t, std::vector<const Note*>> byKeyHash_;
};

namespace {

// A "Sent:" record follows the packet it describes: it goes to that packet's message (to the
// exchange itself for an informational exchange, whose packet is not a message node). The
// exchange that took the packet just read is the one, when it is of the record's peer and its
// last packet has the record's cookie and message ID; else the first negotiation of the peer
// that has them. (Two negotiations of a peer may share cookie and message ID, e.g. in two
// tunnels: the record belongs to the one whose packet it follows.)
void AttachSentRecord(std::unique_ptr<PacketDebugRecord> record, LoadIndex& index, Exchange* previous) {
  Peer* peer = index.PeerAt(record->peer);
  if (peer == nullptr) return;
  const bool follows = previous != nullptr && previous->GetHeader() != nullptr && previous->Parent() != nullptr &&
                       previous->Parent()->Parent() == peer && SameNegotiation(*previous->GetHeader(), *record);
  Exchange* exchange = follows ? previous : index.ExchangeFor(*peer, *record);
  if (exchange == nullptr) return;
  const std::uint32_t peerIP = record->peerIP;
  FolderElement* packet = exchange;
  if (!exchange->IsNotify())
    packet = exchange->ChildCount() != 0 ? NodeAs<Message>(exchange->Child(exchange->ChildCount() - 1)) : nullptr;
  if (packet != nullptr) packet->SetPacketDebug(std::move(record));
  if (exchange->PacketDebugValue() == 0 && peerIP != 0) exchange->SetPacketDebugValue(peerIP);
}

}  // namespace

ScannedPacket ScanStep(DebugLogReader& reader) {
  ScannedPacket step;
  auto header = std::make_unique<Header>(reader);
  step.record = header->TakePacketDebugRecord();
  if (step.record) step.recordStart = header->LogBegin();
  if (reader.IsAbandoned()) {
    // A cut-short packet or a packet-debug block: the scan goes on after it.
    if (!reader.AtEnd()) reader.ClearAbandon();
    return step;
  }
  if (reader.AtEnd()) {
    step.unread = std::move(header);
    return step;
  }
  step.packet = ReadPacket(std::move(header), reader);
  step.restart = reader.RestartSeen();
  if (!step.restart && reader.IsAbandoned() && !reader.AtEnd()) reader.ClearAbandon();
  return step;
}

Placer::Placer(LogFile& root, std::string restartText)
    : root_(root), index_(std::make_unique<LoadIndex>(root)), restartText_(std::move(restartText)) {}

Placer::~Placer() = default;

void Placer::Place(ScannedPacket& step, DebugLogReader* reader) {
  if (step.record) {
    // A received packet's record comes just before the packet: its lines are the packet's.
    if (step.record->sent) receivedRecordStart_.reset();
    else if (!receivedRecordStart_) receivedRecordStart_ = step.recordStart;
    if (step.record->sent) AttachSentRecord(std::move(step.record), *index_, previous_);
    else receivedRecords_.Put(std::move(step.record));
  }
  Header* header = step.unread ? step.unread.get() : step.packet.header;
  if (header == nullptr) return;  // the scan met no packet
  if (receivedRecordStart_) header->SetLogBegin(*receivedRecordStart_);
  receivedRecordStart_.reset();
  packetStarts_.push_back(header->LogBegin());

  const std::uint32_t address = header->PeerAddress();
  Peer* peer = index_->PeerAt(address);
  if (step.unread) {
    if (peer != nullptr && reader != nullptr) step.packet = ReadPacket(std::move(step.unread), *reader);
    step.unread.reset();
  }
  previous_ = nullptr;
  if (peer != nullptr) {
    if (touched != nullptr) touched->push_back(peer);
    previous_ = peer->AddPacket(std::move(step.packet), &receivedRecords_);
    index_->NotePacket(address, previous_);
    if (peer->HasIdAddress()) regroup_ = true;
  } else if (step.packet.header != nullptr) {
    auto created = std::make_unique<Peer>(std::move(step.packet), &receivedRecords_, FormatIPv4(address), &root_);
    Peer& added = *created;
    if (added.IsIndexedPeer() || added.HasIdAddress()) regroup_ = true;
    root_.AddChild(std::move(created));
    index_->AddPeer(added);
    if (touched != nullptr) touched->push_back(&added);
    // A new peer holds one tunnel with the exchange of its first packet.
    if (added.ChildCount() != 0 && added.Child(0)->ChildCount() != 0) {
      previous_ = NodeAs<Exchange>(added.Child(0)->Child(0));
      index_->NotePacket(address, previous_);
    }
  }
  if (reader == nullptr) return;
  if (reader->RestartSeen()) {
    reader->SetRestartText(restartText_);
    for (const auto& child : root_.Children())
      if (auto* each = NodeAs<Peer>(child.get())) {
        each->HandleRestart(*reader);
        if (touched != nullptr) touched->push_back(each);
      }
    restartText_ = reader->RestartText();
    reader->ClearRestartSeen();
  }
  if (reader->IsAbandoned() && !reader->AtEnd()) reader->ClearAbandon();
}

void Placer::SetPacketEnds(bool analyze, NodeArena* arena) {
  SortStarts();
  // The peers hold their packets apart and the starts are only read here: two threads share
  // the walk, which waits mostly for the nodes to come from memory.
  SpreadOverTwoThreads(root_.Helpers(), root_.ChildCount(), 64, arena, [&](std::size_t p, unsigned) {
    LogNode& peer = *root_.Child(p);
    SetPacketEndsOf(peer);
    if (Peer* ikePeer = NodeAs<Peer>(peer); analyze && ikePeer != nullptr) ikePeer->Analyze();
  });
  std::vector<std::uint64_t>().swap(packetStarts_);
}

void Placer::SetPacketEndsFollowing(const std::vector<LogNode*>& touched) {
  SortStarts();
  std::vector<LogNode*> peers = touched;
  peers.insert(peers.end(), withoutEnd_.begin(), withoutEnd_.end());
  std::sort(peers.begin(), peers.end());
  peers.erase(std::unique(peers.begin(), peers.end()), peers.end());
  withoutEnd_.clear();
  for (LogNode* peer : peers)
    if (!SetPacketEndsOf(*peer)) withoutEnd_.push_back(peer);
}

void Placer::SortStarts() {
  if (!std::is_sorted(packetStarts_.begin(), packetStarts_.end())) std::sort(packetStarts_.begin(), packetStarts_.end());
}

bool Placer::SetPacketEndsOf(const LogNode& peer) {
  bool allEnded = true;
  for (const auto& tunnel : peer.Children())
    for (const auto& exchange : tunnel->Children()) allEnded &= exchange->EndPackets(packetStarts_);
  return allEnded;
}

}  // namespace quillon::ikev1_load
