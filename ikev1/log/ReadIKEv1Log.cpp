// Reading a whole IKEv1 debug log into the log root.
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
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "ikev1/log/DebugLogReader.h"
#include "ikev1/log/PlaceIKEv1Packets.h"
#include "ikev1/log/ReadIKEv1Log.h"
#include "model/PiecePipeline.h"

namespace quillon {

using ikev1_load::Placer;
using ikev1_load::ScannedPacket;
using ikev1_load::ScanStep;

namespace {

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

  // The next piece, in `piece` (a buffer whose room is reused); null at the end of the log.
  std::shared_ptr<const std::string> Next(std::size_t size, std::shared_ptr<std::string> piece) {
    size = std::max<std::size_t>(size, 1);
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
  std::optional<PieceCutter> cutter;
  std::optional<PiecePipeline<PieceScan>> pipeline;
  if (fresh) {
    // No log size: the pieces keep their size to the end (smaller last ones held more memory, saved no time).
    pipeline.emplace(root.Helpers(), options.workers, arena, options.pieceSize, 0);
    cutter.emplace(reader.Source());
    piece = cutter->Next(pipeline->PieceSize(), pipeline->Buffer());
    if (piece) next = cutter->Next(pipeline->PieceSize(), pipeline->Buffer());
  }
  if (!next) {
    // One piece or less: one reader reads it all.
    while (!reader.AtEnd()) {
      ScannedPacket step = ScanStep(reader);
      placer.Place(step, &reader);
    }
  } else {
    // Progress is told as pieces are read (a log of one piece is read by the reader, which
    // tells its own).
    cutter->SetProgress(reader.Progress());
    PieceLoader loader(placer, reader.Source());
    while (piece) {
      // A worker reads on into the next piece for the packet its own piece ends in.
      std::optional<PieceScan> scan =
          pipeline->Submit(piece->size(), [piece, next](std::uint64_t begin) { return ScanPiece(piece, next, begin); });
      if (scan) loader.Take(*scan);
      piece = std::move(next);
      if (piece) next = cutter->Next(pipeline->PieceSize(), pipeline->Buffer());
    }
    while (std::optional<PieceScan> scan = pipeline->Next()) loader.Take(*scan);
    loader.Finish();
  }
  reader.SetRestartText(placer.RestartText());
  // The regrouping moves whole negotiations between peers and drops only emptied tunnels and
  // peers, so every packet read is still in the tree to be ended after it.
  if (options.regroup && placer.NeedsRegroup()) root.Regroup();
  placer.SetPacketEnds(options.regroup, arena);
}

}  // namespace quillon
