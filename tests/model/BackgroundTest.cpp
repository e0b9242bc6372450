// The threads the loaders read their pieces on.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <mutex>
#include <set>
#include <stdexcept>
#include <thread>
#include <vector>

#include "model/Background.h"

namespace quillon {
namespace {

// Every piece runs once and its result comes back through its own future, whatever the
// order the threads finish in; no more threads run the pieces than allowed; a piece's
// exception reaches the one who waits for it; with no thread allowed the caller runs them.
TEST(PieceThreadsTest, EveryPieceRunsOnceWithinTheLimit) {
  for (const std::size_t limit : {0u, 1u, 2u, 3u}) {
    std::mutex mutex;
    std::set<std::thread::id> ran;
    std::atomic<int> runs{0};
    std::vector<std::future<int>> results;
    {
      PieceThreads threads(limit);
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
TEST(PieceThreadsTest, ClosingRunsWhatIsQueued) {
  std::atomic<int> runs{0};
  std::vector<std::future<void>> results;
  {
    PieceThreads threads(1);
    for (int piece = 0; piece < 20; ++piece)
      results.push_back(threads.Run([&runs] {
        std::this_thread::sleep_for(std::chrono::microseconds(200));
        ++runs;
      }));
  }
  EXPECT_EQ(runs.load(), 20);
  for (auto& result : results) EXPECT_EQ(result.wait_for(std::chrono::seconds(0)), std::future_status::ready);
}

}  // namespace
}  // namespace quillon
