#include "ikev2/ReadIKEv2Log.h"

#include <algorithm>
#include <deque>
#include <future>
#include <memory>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "ikev2/V2Peer.h"
#include "model/Background.h"
#include "ikev2/V2Exchange.h"

namespace quillon {

namespace {

// The exchanges of one stretch of the log, in log order.
struct ExchangeRun {
  std::vector<std::unique_ptr<v2Exchange>> exchanges;
  bool hadLines = false;     // the stretch held at least one line
  bool sawExchange = false;  // ... and at least one exchange start line
  std::string text;          // the piece's buffer, handed back for the next piece
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

ExchangeRun ReadPiece(std::string piece) {
  LogLineReader reader = LogLineReader::FromText(std::move(piece));
  LineCursor cursor(reader);
  ExchangeRun run;
  ReadRun(cursor, run);
  run.text = reader.ReleaseText();
  return run;
}

// Hands the exchanges to their peers, in log order.
class Placer {
 public:
  explicit Placer(LogFile& root) : root_(root) {
    for (std::size_t i = 0; i < root.ChildCount(); ++i) {
      if (auto* peer = dynamic_cast<V2Peer*>(root.Child(i))) peersByCaption_.emplace(peer->Name(), peer);
    }
  }

  void Place(ExchangeRun run) {
    hadLines_ = hadLines_ || run.hadLines;
    sawExchange_ = sawExchange_ || run.sawExchange;
    if (run.hadLines) root_.SetIKEv2(true);
    for (auto& exchange : run.exchanges) Place(std::move(exchange));
  }

  bool HadLines() const { return hadLines_; }
  bool SawExchange() const { return sawExchange_; }
  bool NeedsRegroup() const { return needsRegroup_; }

 private:
  void Place(std::unique_ptr<v2Exchange> exchange) {
    const auto known = peersByCaption_.find(exchange->PeerText());
    if (known != peersByCaption_.end()) {
      V2Peer& owner = *known->second;
      owner.AddExchange(std::move(exchange));
      if (owner.HasIdAddress()) needsRegroup_ = true;
    } else {
      std::string caption = exchange->PeerText();
      auto peer = std::make_unique<V2Peer>(caption, std::move(exchange));
      if (peer->IsIndexedPeer() || peer->HasIdAddress()) needsRegroup_ = true;
      peersByCaption_.emplace(std::move(caption), peer.get());
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

std::future<ExchangeRun> StartReading(std::string piece) {
  return RunInBackground([text = std::move(piece)]() mutable { return ReadPiece(std::move(text)); });
}

}  // namespace

// Exchanges are independent of one another: each one is read from its start line up to the
// next start line and nothing else. So the log is cut at start lines into pieces, the pieces
// are read on worker threads, and their exchanges are placed in log order here. Only a few
// pieces are in flight at a time, which bounds the extra memory.
bool ReadIKEv2Exchanges(LogFile& root, LogLineReader& reader, const IKEv2ReadOptions& options) {
  root.SetName("IKEv2 debugging info");
  root.SetWrongFormat(false);
  Placer placer(root);

  // This thread reads and places; the others read pieces.
  const std::size_t workers = PieceWorkers(options.workers);
  std::deque<std::future<ExchangeRun>> pending;
  // Piece buffers go round: a read piece's buffer takes the next piece, so that the load does
  // not map and unmap a fresh block for every piece.
  std::vector<std::string> spare;
  std::string piece;
  LogLineReader::Run step;
  while ((step = reader.ReadExchangeRun(piece, options.pieceSize, options.pieceLimit)) == LogLineReader::Run::kPiece) {
    pending.push_back(StartReading(std::move(piece)));
    piece = std::string();
    if (pending.size() > workers) {
      ExchangeRun run = pending.front().get();
      pending.pop_front();
      spare.push_back(std::move(run.text));
      placer.Place(std::move(run));
    }
    if (!spare.empty()) {
      piece = std::move(spare.back());
      spare.pop_back();
    }
  }
  for (auto& run : pending) placer.Place(run.get());
  pending.clear();
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
  if (ReadIKEv2Exchanges(root, reader, options)) root.Regroup();
}

}  // namespace quillon
