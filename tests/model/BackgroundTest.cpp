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

// Threads started ahead serve work as threads started with it do, and waiting for the helpers
// to be idle waits for what is queued.
TEST(HelperThreadsTest, StartedThreadsServeAndWaitingForIdleWaitsForTheWork) {
  HelperThreads threads(2);
  threads.Start();
  std::atomic<int> runs{0};
  for (int piece = 0; piece < 10; ++piece)
    (void)threads.Run([&runs] {
      std::this_thread::sleep_for(std::chrono::microseconds(300));
      ++runs;
    });
  threads.WaitIdle();
  EXPECT_EQ(runs.load(), 10);
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

}  // namespace
}  // namespace quillon
