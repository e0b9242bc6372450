// Reading a whole IKEv1 debug log into the log root.
//
// The file is scanned packet by packet (the Header constructor skips to the next packet and
// reads its packet line and header block). Each packet goes to the peer of its "peer:" address,
// which places it in a tunnel and a negotiation, where a message reads the packet's payload
// blocks. Between packets the scan may meet a "PACKET DEBUG" block, the daemon's summary of a
// packet: a "Sent:" block follows the packet it describes and is attached at once; a
// "Received:" block precedes its packet and waits in this load's table until the packet's
// message takes it. A daemon restart met while a packet was read ends every open negotiation.
//
// Reading a packet needs only the log text; placing it needs the tree. So a large log is cut
// into pieces, worker threads scan the pieces, and this thread places their packets in log
// order. A worker starts at its piece's first byte, not knowing how the scan of the log before
// it ended, so its first packets may be read differently from how the whole-log scan reads
// them. Each packet a worker reads is marked with where its scan started and whether the reader
// was there in the state a fresh reader would be in. The placing thread knows where the log's
// scan stands; it takes a worker's packets from the one that starts exactly there, and reads
// on by itself, from the file, wherever no worker packet starts at that point (a piece cut in
// an awkward place, a packet the worker could not finish within its text, a daemon restart,
// whose handling reads on from the log). The tree is the one a single reader gives.

#include <algorithm>
#include <cstring>
#include <deque>
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "ikev1/log/DebugLogReader.h"
#include "ikev1/log/FollowIKEv1Log.h"
#include "ikev1/log/Header.h"
#include "ikev1/log/Message.h"
#include "ikev1/log/PacketDebugRecord.h"
#include "ikev1/log/PacketDebugTable.h"
#include "ikev1/log/ReadIKEv1Log.h"
#include "ikev1/negotiation/Exchange.h"
#include "ikev1/negotiation/Peer.h"
#include "ikev1/negotiation/PreparedPacket.h"
#include "model/Background.h"
#include "model/IPv4.h"
#include "model/TextHash.h"

namespace quillon {

namespace {

bool SameNegotiation(const Header& header, const PacketDebugRecord& record) {
  return header.InitCookie() == record.initCookie && header.MsgId() == record.msgId;
}

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



// ---- the packet scan ----------------------------------------------------------------------------

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

// ---- placing ------------------------------------------------------------------------------------

// Places the scanned packets in log order: the packet-debug records, the peers, and the daemon
// restarts, whose restart text carries over from one restart to the next.
class Placer {
 public:
  Placer(LogFile& root, std::string restartText) : root_(root), index_(root), restartText_(std::move(restartText)) {}

  // `reader` is the reader that scanned the step; it may be null for a regular step.
  void Place(ScannedPacket& step, DebugLogReader* reader) {
    if (step.record) {
      // A received packet's record comes just before the packet: its lines are the packet's.
      if (step.record->sent) receivedRecordStart_.reset();
      else if (!receivedRecordStart_) receivedRecordStart_ = step.recordStart;
      if (step.record->sent) AttachSentRecord(std::move(step.record), index_, previous_);
      else receivedRecords_.Put(std::move(step.record));
    }
    Header* header = step.unread ? step.unread.get() : step.packet.header;
    if (header == nullptr) return;  // the scan met no packet
    if (receivedRecordStart_) header->SetLogBegin(*receivedRecordStart_);
    receivedRecordStart_.reset();
    packetStarts_.push_back(header->LogBegin());

    const std::uint32_t address = header->PeerAddress();
    Peer* peer = index_.PeerAt(address);
    if (step.unread) {
      if (peer != nullptr && reader != nullptr) step.packet = ReadPacket(std::move(step.unread), *reader);
      step.unread.reset();
    }
    previous_ = nullptr;
    if (peer != nullptr) {
      if (touched != nullptr) touched->push_back(peer);
      previous_ = peer->AddPacket(std::move(step.packet), &receivedRecords_);
      index_.NotePacket(address, previous_);
      if (peer->HasIdAddress()) regroup_ = true;
    } else if (step.packet.header != nullptr) {
      auto created = std::make_unique<Peer>(std::move(step.packet), &receivedRecords_, FormatIPv4(address), &root_);
      Peer& added = *created;
      if (added.IsIndexedPeer() || added.HasIdAddress()) regroup_ = true;
      root_.AddChild(std::move(created));
      index_.AddPeer(added);
      if (touched != nullptr) touched->push_back(&added);
      // A new peer holds one tunnel with the exchange of its first packet.
      if (added.ChildCount() != 0 && added.Child(0)->ChildCount() != 0) {
        previous_ = NodeAs<Exchange>(added.Child(0)->Child(0));
        index_.NotePacket(address, previous_);
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

  bool NeedsRegroup() const { return regroup_; }
  const std::string& RestartText() const { return restartText_; }

  // When set, every peer a step touches is added here (a follower's changed peers).
  std::vector<LogNode*>* touched = nullptr;

  // Every packet of the tree read in this load ends where the next packet of the log starts
  // (the last one at the end of the log), whether or not that packet found a place.
  // A follower keeps the starts: the packets it places later end the ones placed before.
  // With `analyze`, each peer's negotiations are diagnosed right after its packets are ended,
  // while its nodes are still in cache (a peer's diagnosis depends on its own packets only).
  void SetPacketEnds(bool analyze, NodeArena* arena) {
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
  // A follower's: the starts are kept (the packets it places later end the ones placed before),
  // and only the peers that took packets since the last call, or still held a packet without an
  // end then, are walked. Every packet but those of the last steps has its end already, and
  // walking every peer of a large log at each step would cost more than the step.
  void SetPacketEndsFollowing(const std::vector<LogNode*>& touched) {
    SortStarts();
    std::vector<LogNode*> peers = touched;
    peers.insert(peers.end(), withoutEnd_.begin(), withoutEnd_.end());
    std::sort(peers.begin(), peers.end());
    peers.erase(std::unique(peers.begin(), peers.end()), peers.end());
    withoutEnd_.clear();
    for (LogNode* peer : peers)
      if (!SetPacketEndsOf(*peer)) withoutEnd_.push_back(peer);
  }
  // The tree was regrouped: peers noted before may be gone.
  void ForgetPeers() { withoutEnd_.clear(); }

 private:
  void SortStarts() {
    if (!std::is_sorted(packetStarts_.begin(), packetStarts_.end())) std::sort(packetStarts_.begin(), packetStarts_.end());
  }
  // Sets the end of every packet of `peer` that has none yet and is followed by a packet start;
  // false when one is left without an end (the last packet of the log read so far).
  bool SetPacketEndsOf(const LogNode& peer) {
    bool allEnded = true;
    for (const auto& tunnel : peer.Children())
      for (const auto& exchange : tunnel->Children()) allEnded &= exchange->EndPackets(packetStarts_);
    return allEnded;
  }

  LogFile& root_;
  LoadIndex index_;
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

// ---- pieces -------------------------------------------------------------------------------------

// Cuts the log into pieces of the wanted size to twice that. A piece ends just before a line
// that opens a received packet ("debugIsakmpHdr: (Process)") or a packet-debug block
// ("##### BEGIN"), where the log's own scan stands between packets; when there is no such line
// in that stretch, at its last line end, or anywhere. (Where a piece is cut does not change
// what is read, only how much the loading thread reads itself.)
class PieceCutter {
 public:
  explicit PieceCutter(std::shared_ptr<ByteSource> source) : source_(std::move(source)) {}

  // Tells `progress` what is read so far, and from then on each block read.
  void SetProgress(ReadProgress progress) {
    progress_ = std::move(progress);
    if (progress_ && read_ != 0) progress_(read_);
  }

  // The next piece; null at the end of the log.
  std::shared_ptr<const std::string> Next(std::size_t size) {
    size = std::max<std::size_t>(size, 1);
    std::shared_ptr<std::string> piece = Buffer();
    piece->assign(carry_);
    carry_.clear();
    const std::size_t limit = size > kMaxPiece / 2 ? kMaxPiece : 2 * size;
    std::size_t searchFrom = size;
    for (;;) {
      if (piece->size() > size) {
        const std::size_t at = FindCut(*piece, searchFrom, limit);
        if (at != std::string::npos) return Cut(piece, at);
        if (piece->size() >= limit) {
          const std::size_t lineEnd = piece->rfind('\n', limit - 1);
          return Cut(piece, lineEnd != std::string::npos && lineEnd >= size ? lineEnd + 1 : limit);
        }
        // A cut line may straddle what is read so far: look again from just before its end.
        searchFrom = std::max(size, piece->size() > kLongestCut ? piece->size() - kLongestCut : 0);
      }
      if (!Fill(*piece, limit, piece->size() >= size ? kLookBlock : kBlock)) break;
    }
    if (piece->empty()) return nullptr;
    return piece;
  }

 private:
  static constexpr std::size_t kBlock = std::size_t{1} << 20;
  // Past the wanted size the reads only look for the next cut line: small blocks, so that what
  // is read past the cut and carried over to the next piece stays small.
  static constexpr std::size_t kLookBlock = std::size_t{64} << 10;
  static constexpr std::size_t kMaxPiece = std::size_t{1} << 30;
  static constexpr std::string_view kCutLines[] = {"debugIsakmpHdr: (Process)", "##### BEGIN"};
  static constexpr std::size_t kLongestCut = 27;

  // A buffer for the next piece: one no longer in use keeps its room, so that the load does not
  // map and fault in fresh memory for every piece.
  std::shared_ptr<std::string> Buffer() {
    for (const auto& buffer : buffers_)
      if (buffer.use_count() == 1) return buffer;
    buffers_.push_back(std::make_shared<std::string>());
    return buffers_.back();
  }

  // The first line start in [from, before) that opens a cut line, followed by more text.
  static std::size_t FindCut(const std::string& text, std::size_t from, std::size_t before) {
    const std::string_view all(text);
    for (std::size_t nl = all.find('\n', from - 1); nl != std::string_view::npos && nl + 1 < before;
         nl = all.find('\n', nl + 1)) {
      const std::string_view rest = all.substr(nl + 1);
      for (std::string_view line : kCutLines)
        if (rest.size() > line.size() && rest.starts_with(line)) return nl + 1;
    }
    return std::string::npos;
  }

  std::shared_ptr<const std::string> Cut(const std::shared_ptr<std::string>& piece, std::size_t at) {
    carry_.assign(*piece, at, std::string::npos);
    piece->resize(at);
    return piece;
  }

  // Reads a block onto the piece, no more than up to `limit` plus a cut line's length.
  bool Fill(std::string& piece, std::size_t limit, std::size_t block) {
    if (exhausted_) return false;
    const std::size_t old = piece.size();
    std::size_t want = std::min(block, std::max(limit + kLongestCut + 1, old + 1) - old);
    // A source of known size needs no room past its end (and one byte more to see the end): a
    // small log does not clear megabytes it never fills.
    if (const std::uint64_t size = source_->SizeHint(); size != 0 && size >= read_)
      want = static_cast<std::size_t>(std::min<std::uint64_t>(want, size - read_ + 1));
    piece.resize(old + want);
    const std::size_t n = source_->ReadAt(read_, piece.data() + old, want);
    piece.resize(old + n);
    read_ += n;
    if (n == 0) {
      exhausted_ = true;
      return false;
    }
    if (progress_) progress_(read_);
    return true;
  }

  std::shared_ptr<ByteSource> source_;
  ReadProgress progress_;
  std::vector<std::shared_ptr<std::string>> buffers_;
  std::string carry_;
  std::uint64_t read_ = 0;
  bool exhausted_ = false;
};

// What a worker read of one piece.
struct PieceScan {
  std::uint64_t begin = 0;  // the piece's place in the log
  std::uint64_t end = 0;
  // In log order: regular steps, and gaps where the placing thread has to read itself (a step
  // that needs the tree or more of the log, or a point the worker could not start cleanly).
  std::vector<ScannedPacket> steps;
  // kPieceEnd: the first step past the piece starts at `at` (a clean point). kLogEnd: the log
  // ended within the piece. kOpen: the placing thread reads on from the last gap.
  enum class Stop { kPieceEnd, kLogEnd, kOpen } stop = Stop::kPieceEnd;
  SyncPoint at;
};

// Leaves the rest of the log from `at` to the placing thread. The placing thread starts its
// own reader there, which needs a clean point: steps are given back until there is one. No
// gap is needed when no step is left (the placing thread then never took a step of this
// piece) or when the previous gap already covers the place.
void AddGap(PieceScan& scan, SyncPoint at) {
  while (!at.clean && !scan.steps.empty() && !scan.steps.back().gap) {
    at = scan.steps.back().start;
    scan.steps.pop_back();
  }
  if (!at.clean || scan.steps.empty()) return;
  ScannedPacket gap;
  gap.start = at;
  gap.gap = true;
  scan.steps.push_back(std::move(gap));
}

// Scans the piece, reading on into the next piece for the last packet. The scan stops before
// the first step that starts past the piece, or when it runs out of text; a step that needs
// the tree or the placing thread's reader becomes a gap, and the scan goes on after it.
PieceScan ScanPiece(std::shared_ptr<const std::string> piece, std::shared_ptr<const std::string> next,
                    std::uint64_t begin) {
  PieceScan scan;
  scan.begin = begin;
  scan.end = begin + piece->size();
  const bool endsLog = next == nullptr;
  std::vector<std::shared_ptr<const std::string>> texts{std::move(piece)};
  if (next) texts.push_back(std::move(next));
  DebugLogReader reader(std::move(texts), begin, endsLog);
  for (;;) {
    const SyncPoint at = reader.Sync();
    if (reader.Overrun()) {
      AddGap(scan, at);
      scan.stop = PieceScan::Stop::kOpen;
      break;
    }
    if (reader.AtEnd()) {
      scan.stop = PieceScan::Stop::kLogEnd;
      break;
    }
    if (at.position >= scan.end) {
      if (at.clean) {
        scan.stop = PieceScan::Stop::kPieceEnd;
        scan.at = at;
      } else {
        AddGap(scan, at);
        scan.stop = PieceScan::Stop::kOpen;
      }
      break;
    }
    ScannedPacket step = ScanStep(reader);
    step.start = at;
    if (reader.Overrun()) {
      AddGap(scan, at);
      scan.stop = PieceScan::Stop::kOpen;
      break;
    }
    if (!step.Regular()) {
      // The placing thread reads this step itself. The scan goes on as if after a plain
      // packet; should that not be how the log's scan goes on, the placing thread's reader
      // simply does not meet the next steps' starting points and reads further by itself.
      AddGap(scan, at);
      reader.ClearRestartSeen();
      if (!reader.AtEnd()) reader.ClearAbandon();
      continue;
    }
    scan.steps.push_back(std::move(step));
  }
  return scan;
}

// The placing side of a load read in pieces.
class PieceLoader {
 public:
  PieceLoader(Placer& placer, std::shared_ptr<ByteSource> source) : placer_(placer), source_(std::move(source)) {}

  // Places what the scan of the piece gives, from where the log's scan stands.
  void Take(PieceScan& scan) {
    if (done_) return;
    std::size_t next = 0;
    if (reader_) {
      next = RunReader(scan, 0);
    } else if (scan.stop == PieceScan::Stop::kPieceEnd && scan.at.position == at_) {
      return;  // the log's scan went past the whole piece
    } else {
      // The piece's steps from the one that starts where the log's scan stands.
      next = FindStep(scan, 0, at_);
      if (next == scan.steps.size()) {
        reader_.emplace(source_, at_);
        next = RunReader(scan, 0);
      }
    }
    while (next < scan.steps.size()) {
      ScannedPacket& step = scan.steps[next];
      if (!step.gap) {
        placer_.Place(step, nullptr);
        ++next;
        continue;
      }
      reader_.emplace(source_, step.start.position);
      next = RunReader(scan, next + 1);
    }
    if (reader_ || done_) return;
    if (scan.stop == PieceScan::Stop::kPieceEnd) at_ = scan.at.position;
    if (scan.stop == PieceScan::Stop::kLogEnd) done_ = true;
  }

  // After the last piece: a scan still going reads to the end of the log.
  void Finish() {
    if (!reader_ || done_) return;
    while (!reader_->AtEnd()) Step();
  }

 private:
  // The first regular step from `from` on that starts cleanly at `position`; size() when none.
  static std::size_t FindStep(const PieceScan& scan, std::size_t from, std::uint64_t position) {
    const auto begin = scan.steps.begin() + static_cast<std::ptrdiff_t>(std::min(from, scan.steps.size()));
    const auto it = std::lower_bound(begin, scan.steps.end(), position,
                                     [](const ScannedPacket& step, std::uint64_t p) { return step.start.position < p; });
    if (it != scan.steps.end() && it->start.position == position && it->start.clean && !it->gap)
      return static_cast<std::size_t>(it - scan.steps.begin());
    return scan.steps.size();
  }

  void Step() {
    ScannedPacket step = ScanStep(*reader_);
    placer_.Place(step, &*reader_);
  }

  // Scans on with this thread's reader until it stands at a clean point where a regular step
  // of the piece (from `from` on) starts, and returns that step, the reader given up. Returns
  // size() with the reader kept when the scan goes past the piece first, and with done_ set
  // when the log ends. Meeting the piece's clean stop gives up the reader too.
  std::size_t RunReader(const PieceScan& scan, std::size_t from) {
    for (;;) {
      const SyncPoint at = reader_->Sync();
      if (reader_->AtEnd()) {
        reader_.reset();
        done_ = true;
        return scan.steps.size();
      }
      if (at.clean) {
        const std::size_t found = FindStep(scan, from, at.position);
        const bool atStop = scan.stop == PieceScan::Stop::kPieceEnd && scan.at.position == at.position;
        if (found != scan.steps.size() || atStop) {
          reader_.reset();
          at_ = at.position;
          return found;
        }
      }
      if (at.position >= scan.end) return scan.steps.size();
      Step();
    }
  }

  Placer& placer_;
  std::shared_ptr<ByteSource> source_;
  std::optional<DebugLogReader> reader_;  // this thread's own scan, while it runs
  std::uint64_t at_ = 0;                  // where the log's scan stands when reader_ is empty
  bool done_ = false;
};

void ReadSequentially(DebugLogReader& reader, Placer& placer) {
  while (!reader.AtEnd()) {
    ScannedPacket step = ScanStep(reader);
    placer.Place(step, &reader);
  }
}

}  // namespace

void ReadIKEv1Log(LogFile& root, DebugLogReader& reader, const IKEv1ReadOptions& options) {
  root.SetWrongFormat(false);
  root.SetIKEv2(false);
  root.SetName("IKE debugging info");
  // Every node of the log, including the merged peers of the regrouping, is placed in the
  // log's arena: this thread's lane here, each worker's own lane in its scan.
  NodeArena* arena = &root.Arena();
  ArenaScope scope(arena);
  Placer placer(root, reader.RestartText());

  const bool fresh = options.pieceSize != 0 && reader.Source() && reader.Position() == 0 && !reader.AtEnd() && !reader.IsAbandoned() &&
                     !reader.RestartSeen();
  std::shared_ptr<const std::string> piece;
  std::shared_ptr<const std::string> next;
  std::unique_ptr<PieceCutter> cutter;
  if (fresh) {
    root.Helpers().Start();  // asleep by the time the first pieces are cut
    cutter = std::make_unique<PieceCutter>(reader.Source());
    piece = cutter->Next(options.pieceSize);
    if (piece) next = cutter->Next(options.pieceSize);
  }
  if (!next) {
    // One piece or less: one reader reads it all.
    ReadSequentially(reader, placer);
  } else {
    const std::size_t workers = PieceWorkers(options.workers);
    // Progress is told as pieces are read (a log of one piece is read by the reader, which
    // tells its own).
    cutter->SetProgress(reader.Progress());
    PieceLoader loader(placer, reader.Source());
    HelperThreads& threads = root.Helpers();
    std::deque<std::future<PieceScan>> pending;
    std::uint64_t begin = 0;
    while (piece) {
      const std::uint64_t pieceBegin = begin;
      begin += piece->size();
      pending.push_back(threads.Run([piece, next, pieceBegin, arena] {
        ArenaScope workerScope(arena);
        return ScanPiece(piece, next, pieceBegin);
      }));
      if (pending.size() > workers) {
        PieceScan scan = threads.Await(pending.front());
        pending.pop_front();
        loader.Take(scan);
      }
      piece = std::move(next);
      if (piece) next = cutter->Next(options.pieceSize);
    }
    while (!pending.empty()) {
      PieceScan scan = threads.Await(pending.front());
      pending.pop_front();
      loader.Take(scan);
    }
    loader.Finish();
  }
  reader.SetRestartText(placer.RestartText());
  // The regrouping moves whole negotiations between peers and drops only emptied tunnels and
  // peers, so every packet read is still in the tree to be ended after it.
  if (options.regroup && placer.NeedsRegroup()) root.Regroup();
  placer.SetPacketEnds(options.regroup, arena);
}

// ---- following a growing log --------------------------------------------------------------------

namespace {

void AppendNodeText(const LogNode& node, std::string& out) {
  out += node.Name();
  out += '\x1f';
  out += node.Caption();
  out += '\x1f';
  out += node.DetailText();
  out += '\x1e';
  for (const auto& child : node.Children()) AppendNodeText(*child, out);
  out += '\x1d';
}

// The text from `skip` bytes on, for a reader.
std::vector<std::shared_ptr<const std::string>> Rest(const std::shared_ptr<const std::string>& text, std::uint64_t skip) {
  if (skip == 0) return {text};
  return {std::make_shared<const std::string>(*text, static_cast<std::size_t>(skip))};
}

// Everything placing the step depends on, as text: two steps with equal prints change the tree
// the same way. Empty for a step that changes nothing.
std::string StepPrint(const ScannedPacket& step) {
  std::string out;
  if (step.record) {
    const PacketDebugRecord& r = *step.record;
    out += r.sent ? "S " : "R ";
    out += std::to_string(r.peer) + ' ' + std::to_string(r.peerIP) + ' ' + SpacedHex(r.initCookie) + '/' + SpacedHex(r.msgId) + '\x1f';
    out += r.text;
    out += '\x1e';
  }
  const Header* header = step.unread ? step.unread.get() : step.packet.header;
  if (header != nullptr) {
    out += step.unread ? "U " : "P ";
    out += std::to_string(header->PeerAddress()) + ' ' + std::to_string(header->TunnelLocalIP()) + ' ' +
           std::to_string(header->TunnelPeerIP()) + ' ' + std::to_string(header->PacketKind()) + (header->IsCreated() ? " c " : " r ");
    out += header->DateText() + '\x1f' + header->TimeText() + '\x1f' + header->DetailText() + '\x1e';
  }
  if (step.packet.message) AppendNodeText(*step.packet.message, out);
  if (step.packet.exchange) AppendNodeText(*step.packet.exchange, out);
  if (step.restart && !out.empty()) out += "restart";
  return out;
}

}  // namespace

struct IKEv1Follower::State {
  explicit State(LogFile& r) : root(r), placer(r, std::string()) {}
  LogFile& root;
  Placer placer;
  std::uint64_t committed = 0;  // a clean point: everything before is placed for good
  std::string pending;          // the log from `committed` on
  // The steps placed past `committed` as the end of the log, by their prints; checked against
  // the longer log at the next read.
  std::vector<std::string> tail;
  bool tailPlaced = false;
  bool tailCheckable = true;
  bool stuck = false;  // the tree was regrouped or a read went wrong: only a reload helps
  bool settled = false;  // nothing was appended since the last Settle
};

IKEv1Follower::IKEv1Follower(LogFile& root) : state_(std::make_unique<State>(root)) {
  root.SetWrongFormat(false);
  root.SetIKEv2(false);
  root.SetName("IKE debugging info");
}

IKEv1Follower::~IKEv1Follower() = default;

IKEv1Follower::Result IKEv1Follower::Append(std::string_view bytes) {
  State& s = *state_;
  changed_.clear();
  if (bytes.empty()) return Result::kUnchanged;
  size_ += bytes.size();
  if (s.stuck) return Result::kReload;
  s.pending.append(bytes);
  s.settled = false;
  std::uint64_t committed = s.committed;
  // The readers share the text; what is placed for good is dropped from `pending` at the end.
  auto text = std::make_shared<const std::string>(s.pending);

  // The tail placed as the end of the log must read the same now that the log goes on; then
  // the scan stands cleanly after it.
  if (s.tailPlaced) {
    if (!s.tailCheckable) {
      s.stuck = true;
      return Result::kReload;
    }
    DebugLogReader check({text}, committed, false);
    std::size_t matched = 0;
    while (matched < s.tail.size()) {
      check.Sync();
      if (check.Overrun()) return Result::kUnchanged;  // not enough yet to tell
      ScannedPacket step = ScanStep(check);
      if (check.Overrun()) return Result::kUnchanged;
      std::string print = StepPrint(step);
      if (print.empty()) continue;
      if (print != s.tail[matched] || step.restart) {
        s.stuck = true;
        return Result::kReload;
      }
      ++matched;
    }
    const SyncPoint at = check.Sync();
    if (check.Overrun()) return Result::kUnchanged;
    if (!at.clean) {
      s.stuck = true;
      return Result::kReload;
    }
    committed = at.position;
    s.tail.clear();
    s.tailPlaced = false;
  }

  // The packets that are whole are placed: a packet is whole when reading it stopped before the
  // end of the text. The scan stands cleanly between most packets; packets placed after a point
  // that is not clean are checked like a tail when the scan cannot go on.
  s.placer.touched = &changed_;
  {
    DebugLogReader reader(Rest(text, committed - s.committed), committed, false);
    std::vector<std::string> since;  // prints of the steps placed after `committed`
    bool sinceCheckable = true;
    for (;;) {
      const SyncPoint at = reader.Sync();
      if (reader.Overrun()) break;
      if (at.clean) {
        committed = at.position;
        since.clear();
        sinceCheckable = true;
      }
      ScannedPacket step = ScanStep(reader);
      if (reader.Overrun()) break;
      std::string print = StepPrint(step);
      if (!print.empty()) {
        if (step.restart) sinceCheckable = false;
        since.push_back(std::move(print));
      }
      s.placer.Place(step, &reader);
      if (reader.Overrun()) {
        // A daemon restart read past the text: the tree holds what the log does not say yet.
        s.stuck = true;
        s.placer.touched = nullptr;
        return Result::kReload;
      }
    }
    if (!since.empty()) {
      s.tail = std::move(since);
      s.tailPlaced = true;
      s.tailCheckable = sinceCheckable;
    }
  }
  s.pending.erase(0, static_cast<std::size_t>(committed - s.committed));
  s.committed = committed;
  s.placer.touched = nullptr;
  return Finish(false);
}

IKEv1Follower::Result IKEv1Follower::Settle() {
  State& s = *state_;
  changed_.clear();
  if (s.stuck || s.settled) return Result::kUnchanged;
  s.settled = true;
  if (s.pending.empty() || (s.pending.back() != '\n' && s.pending.back() != '\r')) return Finish(true);
  // Packets placed after the last clean point read the same up to the end; they are passed
  // over, and what follows them is placed. No byte came since they were placed, so a packet
  // that restarted the daemon reads the same too; the restart it brought is in the tree already.
  const std::size_t placed = s.tail.size();
  std::size_t matched = 0;
  s.placer.touched = &changed_;
  DebugLogReader reader({std::make_shared<const std::string>(s.pending)}, s.committed, true);
  while (!reader.AtEnd()) {
    ScannedPacket step = ScanStep(reader);
    std::string print = StepPrint(step);
    if (matched < placed) {
      // Left as placing it left the reader, without placing it again.
      reader.ClearRestartSeen();
      if (reader.IsAbandoned() && !reader.AtEnd()) reader.ClearAbandon();
      if (print.empty()) continue;
      if (print != s.tail[matched]) {
        s.stuck = true;
        s.placer.touched = nullptr;
        return Result::kReload;
      }
      ++matched;
      continue;
    }
    if (!print.empty()) {
      if (step.restart) s.tailCheckable = false;
      s.tail.push_back(std::move(print));
    }
    s.placer.Place(step, &reader);
  }
  if (matched < placed) {
    // The longer log no longer reads the packets placed as its end (a packet that stood whole
    // at the pause is now read as part of what follows): the tree holds steps the log does not.
    s.stuck = true;
    s.placer.touched = nullptr;
    return Result::kReload;
  }
  s.tailPlaced = !s.tail.empty();
  s.placer.touched = nullptr;
  return Finish(true);
}

IKEv1Follower::Result IKEv1Follower::Finish(bool settling) {
  State& s = *state_;
  if (changed_.empty() && !(settling && s.placer.NeedsRegroup())) {
    // A packet that found no peer still ends the packet before it.
    s.placer.SetPacketEndsFollowing(changed_);
    return Result::kUnchanged;
  }
  std::sort(changed_.begin(), changed_.end());
  changed_.erase(std::unique(changed_.begin(), changed_.end()), changed_.end());
  if (settling && s.placer.NeedsRegroup()) {
    // The regrouping moves negotiations between peers; later packets cannot be placed in
    // place after it. It waits until the log stops growing.
    s.root.Regroup();
    s.placer.ForgetPeers();
    s.stuck = true;
    changed_.clear();
    for (const auto& peer : s.root.Children()) changed_.push_back(peer.get());
  }
  s.placer.SetPacketEndsFollowing(changed_);
  for (LogNode* peer : changed_)
    if (Peer* ikePeer = NodeAs<Peer>(peer)) ikePeer->Analyze();
  return Result::kExtended;
}

}  // namespace quillon
