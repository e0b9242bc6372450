#include "ikev2/ReadIKEv2Log.h"

#include "ikev2/FollowIKEv2Log.h"

#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "ikev2/V2Peer.h"
#include "model/PiecePipeline.h"
#include "ikev2/V2Exchange.h"

namespace quillon {

namespace {

// The exchanges of one stretch of the log, in log order.
struct ExchangeRun {
  std::vector<std::unique_ptr<v2Exchange>> exchanges;
  bool hadLines = false;     // the stretch held at least one line
  bool sawExchange = false;  // ... and at least one exchange start line
};

// Reads every exchange the cursor delivers. Lines outside exchanges are skipped; an exchange
// that does not parse is dropped.
void ReadRun(LineCursor& cursor, ExchangeRun& run) {
  while (!cursor.AtEnd()) {
    run.hadLines = true;
    auto exchange = std::make_unique<v2Exchange>(cursor);
    if (exchange->StartFound()) run.sawExchange = true;
    if (exchange->IsParsed()) run.exchanges.push_back(std::move(exchange));
  }
}

// Reads `text`, which starts at `offset` in the log: the exchanges note where in the log they
// stand. The text is lent to the reader and given back, its room kept for a later piece.
ExchangeRun ReadText(std::string& text, std::uint64_t offset) {
  LogLineReader reader = LogLineReader::FromText(std::move(text), offset);
  LineCursor cursor(reader);
  ExchangeRun run;
  ReadRun(cursor, run);
  text = reader.ReleaseText();
  return run;
}

// Hands the exchanges to their peers, in log order.
class Placer {
 public:
  explicit Placer(LogFile& root) : root_(root) {
    for (std::size_t i = 0; i < root.ChildCount(); ++i) {
      // The peers of an IKEv2 log are V2Peers.
      if (auto* peer = NodeAs<V2Peer>(root.Child(i))) peersByCaption_.emplace(peer->Name(), peer);
    }
  }

  void Place(ExchangeRun run) {
    hadLines_ = hadLines_ || run.hadLines;
    sawExchange_ = sawExchange_ || run.sawExchange;
    if (run.hadLines) root_.SetIKEv2(true);
    for (auto& exchange : run.exchanges) Place(std::move(exchange));
  }

  // When set, every peer that takes an exchange is added here (a follower's changed peers).
  std::vector<LogNode*>* touched = nullptr;

  bool HadLines() const { return hadLines_; }
  bool SawExchange() const { return sawExchange_; }
  bool NeedsRegroup() const { return needsRegroup_; }

 private:
  void Place(std::unique_ptr<v2Exchange> exchange) {
    const auto known = peersByCaption_.find(std::string(exchange->PeerText()));
    if (known != peersByCaption_.end()) {
      V2Peer& owner = *known->second;
      owner.AddExchange(std::move(exchange));
      if (touched != nullptr) touched->push_back(&owner);
      if (owner.HasIdAddress()) needsRegroup_ = true;
    } else {
      std::string caption(exchange->PeerText());
      auto peer = std::make_unique<V2Peer>(caption, std::move(exchange));
      if (peer->IsIndexedPeer() || peer->HasIdAddress()) needsRegroup_ = true;
      peersByCaption_.emplace(std::move(caption), peer.get());
      if (touched != nullptr) touched->push_back(peer.get());
      root_.AddChild(std::move(peer));
    }
  }

  LogFile& root_;
  // Peers are told apart by the address text as the log writes it; captions are unique, so an
  // index by caption finds the peer of each exchange without walking all peers.
  std::unordered_map<std::string, V2Peer*> peersByCaption_;
  bool hadLines_ = false;
  bool sawExchange_ = false;
  bool needsRegroup_ = false;
};

}  // namespace

// Exchanges are independent of one another: each one is read from its start line up to the
// next start line and nothing else. So the log is cut at start lines into pieces, the pieces
// are read on worker threads, and their exchanges are placed in log order here. Only a few
// pieces are in flight at a time, which bounds the extra memory.
bool ReadIKEv2Exchanges(LogFile& root, LogLineReader& reader, const IKEv2ReadOptions& options) {
  root.SetName("IKEv2 debugging info");
  root.SetWrongFormat(false);
  // Every node of the log is placed in the log's arena: this thread's lane here, each worker's
  // own lane in its piece.
  NodeArena* arena = &root.Arena();
  ArenaScope scope(arena);
  Placer placer(root);

  // This thread reads and places; the others read pieces.
  PiecePipeline<ExchangeRun> pipeline(root.Helpers(), options.workers, arena, options.pieceSize, reader.SizeHint());
  LogLineReader::Run step;
  for (;;) {
    std::shared_ptr<std::string> piece = pipeline.Buffer();
    step = reader.ReadExchangeRun(*piece, pipeline.PieceSize(), options.pieceLimit);
    if (step != LogLineReader::Run::kPiece) break;
    std::optional<ExchangeRun> run =
        pipeline.Submit(piece->size(), [piece](std::uint64_t offset) { return ReadText(*piece, offset); });
    if (run) placer.Place(std::move(*run));
  }
  while (std::optional<ExchangeRun> run = pipeline.Next()) placer.Place(std::move(*run));
  if (step == LogLineReader::Run::kTooLong) {
    LineCursor cursor(reader);
    ExchangeRun run;
    ReadRun(cursor, run);
    placer.Place(std::move(run));
  }

  if (placer.HadLines() && !placer.SawExchange()) root.SetWrongFormat(true);
  return placer.NeedsRegroup();
}

void ReadIKEv2Log(LogFile& root, LogLineReader& reader, const IKEv2ReadOptions& options) {
  // Merge the exchanges a peer made under its index with those under its address.
  if (ReadIKEv2Exchanges(root, reader, options)) {
    ArenaScope scope(&root.Arena());
    root.Regroup();
  }
}

// ---- following a growing log --------------------------------------------------------------------

namespace {

// Offset of the first start line ("<Exchange" alone on its line) at or after `from` that
// follows a line end; npos when there is none.
std::size_t NextStartLine(std::string_view text, std::size_t from) {
  constexpr std::string_view kStart = LineCursor::kExchangeStart;
  for (std::size_t at = text.find(kStart, from); at != std::string_view::npos; at = text.find(kStart, at + 1)) {
    if (at == 0) continue;
    const char before = text[at - 1];
    const std::size_t after = at + kStart.size();
    if ((before == '\n' || before == '\r') && after < text.size() && (text[after] == '\n' || text[after] == '\r'))
      return at;
  }
  return std::string_view::npos;
}

}  // namespace

struct IKEv2Follower::State {
  explicit State(LogFile& r) : root(r), placer(r) {}
  LogFile& root;
  Placer placer;
  std::string pending;  // the log from the start line of the last exchange (or the start) on
  std::string tail;     // the text of `pending` placed as the end of the log
  bool settled = false; // nothing was appended since the last Settle
  bool stuck = false;
};

IKEv2Follower::IKEv2Follower(LogFile& root) : state_(std::make_unique<State>(root)) {
  root.SetName("IKEv2 debugging info");
  root.SetWrongFormat(false);
}

IKEv2Follower::~IKEv2Follower() = default;

IKEv2Follower::Result IKEv2Follower::Append(std::string_view bytes) {
  State& s = *state_;
  if (!TakeAppended(bytes)) return Result::kUnchanged;
  if (s.stuck) return Result::kReload;
  s.pending.append(bytes);
  s.settled = false;
  // Only whole lines are read.
  const std::size_t lines = s.pending.find_last_of("\n\r");
  if (lines == std::string::npos) return Result::kUnchanged;
  const std::string_view whole(s.pending.data(), lines + 1);
  // The exchanges closed by a later start line are read for good.
  std::size_t last = 0;
  for (std::size_t at = NextStartLine(whole, 0); at != std::string_view::npos; at = NextStartLine(whole, at + 1)) last = at;
  // A tail placed earlier must be the same exchange now.
  if (!s.tail.empty()) {
    const std::string_view exchange = whole.substr(0, last != 0 ? last : whole.size());
    if (exchange != s.tail) {
      // The exchange grew by lines (or the log by a part of an exchange): it reads differently.
      s.stuck = true;
      return Result::kReload;
    }
  }
  s.placer.touched = &changed_;
  if (last != 0) {
    if (s.tail.empty()) {
      std::string text(whole.substr(0, last));
      s.placer.Place(ReadText(text, size_ - s.pending.size()));
    }
    s.tail.clear();
    s.pending.erase(0, last);
  }
  s.placer.touched = nullptr;
  return Finish(false);
}

IKEv2Follower::Result IKEv2Follower::Settle() {
  State& s = *state_;
  changed_.clear();
  if (s.stuck || s.settled) return Result::kUnchanged;
  s.settled = true;
  const std::size_t lines = s.pending.find_last_of("\n\r");
  if (lines == std::string::npos || !s.tail.empty()) return Finish(true);
  // The last exchange, placed as the end of the log.
  s.placer.touched = &changed_;
  std::string text = s.pending.substr(0, lines + 1);
  ExchangeRun run = ReadText(text, size_ - s.pending.size());
  if (!run.exchanges.empty()) s.tail.assign(s.pending, 0, lines + 1);
  s.placer.Place(std::move(run));
  s.placer.touched = nullptr;
  return Finish(true);
}

IKEv2Follower::Result IKEv2Follower::Finish(bool settling) {
  State& s = *state_;
  s.root.SetWrongFormat(s.placer.HadLines() && !s.placer.SawExchange());
  if (changed_.empty() && !(settling && s.placer.NeedsRegroup())) return Result::kUnchanged;
  std::sort(changed_.begin(), changed_.end());
  changed_.erase(std::unique(changed_.begin(), changed_.end()), changed_.end());
  if (settling && s.placer.NeedsRegroup()) {
    s.root.Regroup();
    s.stuck = true;
    changed_.clear();
    for (const auto& peer : s.root.Children()) changed_.push_back(peer.get());
  }
  return Result::kExtended;
}

}  // namespace quillon
