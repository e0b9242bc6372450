// The threads the loaders read their pieces on, and the pipeline that hands the pieces out.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <stdexcept>
#include <thread>
#include <vector>

#include "model/Background.h"
#include "model/PiecePipeline.h"

namespace quillon {
namespace {

// Every piece runs once and its result comes back through its own future, whatever the
// order the threads finish in; no more threads run the pieces than allowed; a piece's
// exception reaches the one who waits for it; with no thread allowed the caller runs them.
TEST(HelperThreadsTest, EveryPieceRunsOnceWithinTheLimit) {
  for (const std::size_t limit : {0u, 1u, 2u, 3u}) {
    std::mutex mutex;
    std::set<std::thread::id> ran;
    std::atomic<int> runs{0};
    std::vector<std::future<int>> results;
    {
      HelperThreads threads(limit);
      for (int piece = 0; piece < 40; ++piece) {
        results.push_back(threads.Run([&, piece] {
          {
            std::lock_guard lock(mutex);
            ran.insert(std::this_thread::get_id());
          }
          ++runs;
          // Uneven pieces, so that later ones finish first.
          std::this_thread::sleep_for(std::chrono::microseconds((40 - piece) * 20));
          if (piece == 7) throw std::runtime_error("piece 7");
          return piece * piece;
        }));
      }
      for (int piece = 0; piece < 40; ++piece) {
        if (piece == 7) EXPECT_THROW(results[piece].get(), std::runtime_error);
        else EXPECT_EQ(results[piece].get(), piece * piece) << "limit " << limit;
      }
    }
    EXPECT_EQ(runs.load(), 40);
    if (limit == 0) EXPECT_EQ(ran, std::set<std::thread::id>{std::this_thread::get_id()});
    else EXPECT_LE(ran.size(), limit);
    EXPECT_EQ(ran.count(std::this_thread::get_id()), limit == 0 ? 1u : 0u);
  }
}

// Pieces still queued when the threads are closed are run, not dropped: a load that stops
// waiting early must not leave a piece's future unanswered.
TEST(HelperThreadsTest, ClosingRunsWhatIsQueued) {
  std::atomic<int> runs{0};
  std::vector<std::future<void>> results;
  {
    HelperThreads threads(1);
    for (int piece = 0; piece < 20; ++piece)
      results.push_back(threads.Run([&runs] {
        std::this_thread::sleep_for(std::chrono::microseconds(200));
        ++runs;
      }));
  }
  EXPECT_EQ(runs.load(), 20);
  for (auto& result : results) EXPECT_EQ(result.wait_for(std::chrono::seconds(0)), std::future_status::ready);
}

// A caller awaiting a piece runs the queued pieces itself while the helper is busy: the one it
// waits for (which then need not wait for the helper) and those queued before it. Its
// exception reaches the caller, and the helper's own piece still answers.
TEST(HelperThreadsTest, AwaitingRunsQueuedPiecesOnTheCaller) {
  HelperThreads threads(1);
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  std::promise<void> started;
  std::future<std::thread::id> busy = threads.Run([&] {
    started.set_value();
    released.wait();
    return std::this_thread::get_id();
  });
  started.get_future().wait();  // the helper holds the first piece
  std::future<std::thread::id> before = threads.Run([] { return std::this_thread::get_id(); });
  std::future<int> failing = threads.Run([]() -> int { throw std::runtime_error("bad piece"); });
  std::future<std::thread::id> awaited = threads.Run([] { return std::this_thread::get_id(); });
  EXPECT_EQ(threads.Await(awaited), std::this_thread::get_id());
  EXPECT_EQ(threads.Await(before), std::this_thread::get_id());
  EXPECT_THROW(threads.Await(failing), std::runtime_error);
  release.set_value();
  EXPECT_NE(threads.Await(busy), std::this_thread::get_id());
  threads.WaitIdle();
}

// Every index is visited once, on this thread and a helper; an exception on this thread's
// side waits for the helper, which works on this thread's frame, before it leaves.
TEST(SpreadOverTwoThreadsTest, EveryIndexOnceAndExceptionsWaitForTheHelper) {
  HelperThreads helpers(2);
  std::vector<std::atomic<int>> visits(1000);
  std::set<unsigned> lanes;
  std::mutex mutex;
  SpreadOverTwoThreads(helpers, visits.size(), 64, nullptr, [&](std::size_t index, unsigned lane) {
    ++visits[index];
    std::lock_guard lock(mutex);
    lanes.insert(lane);
  });
  for (const auto& count : visits) EXPECT_EQ(count.load(), 1);
  EXPECT_LE(lanes.size(), 2u);

  std::atomic<int> after{0};
  EXPECT_THROW(SpreadOverTwoThreads(helpers, 1000, 64, nullptr,
                                    [&](std::size_t index, unsigned lane) {
                                      if (lane == 0 && index > 100) throw std::runtime_error("stop");
                                      std::this_thread::sleep_for(std::chrono::microseconds(20));
                                      ++after;
                                    }),
               std::runtime_error);
  const int settled = after.load();
  std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_EQ(after.load(), settled) << "the helper went on after the call returned";
}

// Results come back in the order the pieces were handed out, each with its place in the log,
// however unevenly the helpers (started ahead) finish; after each piece handed out at most
// `workers` are in flight; a piece's buffer is handed out again as soon as its result is
// taken. Waiting for the helpers to be idle waits for the pieces still queued.
TEST(PiecePipelineTest, ResultsInLogOrderWithinTheBound) {
  constexpr unsigned kWorkers = 3;
  HelperThreads threads(2);
  PiecePipeline<std::uint64_t> pipeline(threads, kWorkers, nullptr, 100, 0);
  std::vector<std::uint64_t> taken, expected;
  std::set<const std::string*> buffers;
  std::atomic<int> reads{0};
  std::uint64_t offset = 0;
  for (std::size_t piece = 0; piece < 40; ++piece) {
    expected.push_back(offset);
    offset += piece + 1;
    std::shared_ptr<std::string> buffer = pipeline.Buffer();
    buffers.insert(buffer.get());
    std::optional<std::uint64_t> oldest = pipeline.Submit(piece + 1, [buffer, piece, &reads](std::uint64_t at) {
      std::this_thread::sleep_for(std::chrono::microseconds(piece % 4 * 150));
      ++reads;
      return at;
    });
    if (oldest) taken.push_back(*oldest);
    EXPECT_LE(piece + 1 - taken.size(), kWorkers);
  }
  threads.WaitIdle();
  EXPECT_EQ(reads.load(), 40);
  while (std::optional<std::uint64_t> oldest = pipeline.Next()) taken.push_back(*oldest);
  EXPECT_EQ(taken, expected);
  EXPECT_EQ(buffers.size(), kWorkers + 1);
}

// A piece is the wanted size until the rest of a log of known size is small, then an eighth of
// the rest, but never under a quarter of a megabyte; a log of unknown size keeps the wanted size.
TEST(PiecePipelineTest, PiecesGetSmallerNearTheEndOfTheLog) {
  constexpr std::size_t kWanted = std::size_t{2} << 20, kSmallest = std::size_t{1} << 18;
  for (const std::uint64_t total : {std::uint64_t{0}, std::uint64_t{40} << 20}) {
    HelperThreads threads(0);
    PiecePipeline<int> pipeline(threads, 2, nullptr, kWanted, total);
    std::vector<std::size_t> sizes;
    for (std::uint64_t at = 0; at < (std::uint64_t{40} << 20); at += sizes.back()) {
      sizes.push_back(pipeline.PieceSize());
      (void)pipeline.Submit(sizes.back(), [](std::uint64_t) { return 0; });
    }
    EXPECT_EQ(sizes.front(), kWanted);
    EXPECT_EQ(sizes.back(), total == 0 ? kWanted : kSmallest);
    EXPECT_TRUE(std::is_sorted(sizes.rbegin(), sizes.rend()));
  }
}

}  // namespace
}  // namespace quillon
