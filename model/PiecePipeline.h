// A log read in pieces: helper threads read the pieces, the loading thread takes what each one
// gives back in log order and places it in the tree. The format decides where a piece may be
// cut, what reading one gives (`Result`) and how that is placed.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "model/Background.h"
#include "model/NodeArena.h"

namespace quillon {

template <class Result>
class PiecePipeline {
 public:
  // At most `workers` pieces are read (queued or running) while the loading thread places the
  // ones before; by default one more than there are cores, at most eight (each piece in flight
  // holds its text). One per core would leave a core idle whenever a helper finished its piece
  // while the loading thread still waited for the one before. `pieceSize`: the wanted size of a
  // piece; `total`: the log's size when known before reading, else 0. What a helper allocates
  // goes to its lane of `arena`. The helpers are started here, before the first piece is cut.
  PiecePipeline(HelperThreads& threads, unsigned workers, NodeArena* arena, std::size_t pieceSize, std::uint64_t total)
      : threads_(threads),
        workers_(workers != 0 ? workers : std::clamp(std::thread::hardware_concurrency() + 1, 2u, 8u)),
        arena_(arena),
        pieceSize_(pieceSize),
        total_(total) {
    threads_.Start();
  }

  // The size wanted for the next piece. Near the end of a log of known size the pieces get
  // smaller, down to a quarter of a megabyte: the threads then run out of work together,
  // instead of one of them waiting for the other's last big piece.
  std::size_t PieceSize() const {
    constexpr std::size_t kSmallest = std::size_t{1} << 18;
    if (pieceSize_ <= kSmallest || total_ <= offset_) return pieceSize_;
    return static_cast<std::size_t>(std::clamp<std::uint64_t>((total_ - offset_) / 8, kSmallest, pieceSize_));
  }

  // A buffer for the next piece's text. One whose piece is read and placed keeps its room, so
  // that the load does not map and fault in fresh memory for every piece.
  std::shared_ptr<std::string> Buffer() {
    for (const auto& buffer : buffers_)
      if (buffer.use_count() == 1) return buffer;
    return buffers_.emplace_back(std::make_shared<std::string>());
  }

  // Hands the next piece, `size` bytes from where the previous one ended (the first from the
  // log's first byte), to a helper, which calls read(offset) with the piece's place in the log.
  // With more than `workers` pieces then in flight, returns what the oldest gave: this thread
  // reads queued pieces itself while it waits for that one.
  template <class Read>
  std::optional<Result> Submit(std::size_t size, Read read) {
    const std::uint64_t offset = offset_;
    offset_ += size;
    pending_.push_back(threads_.Run([read = std::optional<Read>(std::move(read)), offset, arena = arena_]() mutable {
      ArenaScope scope(arena);
      Result result = (*read)(offset);
      read.reset();  // the piece's text is free once its result is: Buffer may hand it out again
      return result;
    }));
    if (pending_.size() <= workers_) return std::nullopt;
    return Next();
  }

  // What the oldest piece still in flight gave; nothing when none is.
  std::optional<Result> Next() {
    if (pending_.empty()) return std::nullopt;
    std::future<Result> oldest = std::move(pending_.front());
    pending_.pop_front();
    return threads_.Await(oldest);
  }

 private:
  HelperThreads& threads_;
  const std::size_t workers_;
  NodeArena* const arena_;
  const std::size_t pieceSize_;
  const std::uint64_t total_;
  std::uint64_t offset_ = 0;
  std::deque<std::future<Result>> pending_;
  std::vector<std::shared_ptr<std::string>> buffers_;
};

}  // namespace quillon
