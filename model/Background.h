// Work handed to a thread of its own, for the loaders that read pieces of a log in parallel.
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "model/NodeArena.h"

namespace quillon {

// Runs `work` on a thread of its own; on this thread when no thread can be started (a process
// at its thread limit still loads its log).
template <class Work>
auto RunInBackground(Work work) -> std::future<decltype(work())> {
  using Result = decltype(work());
  // Held apart from the task, so that the work is still here when the thread fails to start.
  auto held = std::make_shared<Work>(std::move(work));
  try {
    return std::async(std::launch::async, [held] { return (*held)(); });
  } catch (const std::system_error&) {
    std::promise<Result> done;
    done.set_value((*held)());
    return done.get_future();
  }
}

// The helper threads of one loaded log: they read the pieces of its load, then share the
// passes over the loaded tree (regrouping, counting) and give its memory back at the end,
// together with the thread that hands the work out, which takes a share itself (Await,
// SpreadOverTwoThreads). Started as work comes, up to a limit, and joined when the log goes.
// A thread started for a piece of work was often queued behind the busy thread on the same
// core until the scheduler moved it at its next tick, a few milliseconds later: for a short
// pass the starting thread had done all of it by then. A thread that has run before is woken
// where it ran, and one that finds the next piece waiting does not sleep at all.
class HelperThreads {
 public:
  // At most `limit` threads, and no more than there are cores (more work than that may be
  // queued); with none (or when none can be started) all work runs on the caller's thread as
  // it is handed over.
  explicit HelperThreads(std::size_t limit)
      : limit_(std::min<std::size_t>(limit, std::max(1u, std::thread::hardware_concurrency()))) {}
  // Runs what is still queued, then joins the threads.
  ~HelperThreads() {
    {
      std::lock_guard lock(mutex_);
      closing_ = true;
    }
    ready_.notify_all();
    for (std::thread& thread : threads_) thread.join();
  }
  HelperThreads(const HelperThreads&) = delete;
  HelperThreads& operator=(const HelperThreads&) = delete;

  // Starts all the threads now, to wait for work. A load calls this before it reads its
  // first piece: the threads are then asleep when the work comes, and a sleeping thread is
  // woken on an idle core, where a new one would start on the busy core that made it.
  void Start() {
    std::lock_guard lock(mutex_);
    while (threads_.size() < limit_ && AddThread()) {
    }
  }

  // Returns once no work is queued or running (work queued meanwhile by other threads
  // included).
  void WaitIdle() {
    std::unique_lock lock(mutex_);
    idle_.wait(lock, [this] { return tasks_.empty() && running_ == 0; });
  }

  // The result of `work` queued here (its exception rethrown), which this thread waits for by
  // running the work still queued, the awaited work included: a caller that would otherwise
  // sleep takes a core's share of the work, so that one thread per core does all of it.
  // Threads that share a core with a busy waiter slow each other down (the waiter is woken
  // behind a helper until the scheduler's next tick, and the pieces it should have handed out
  // meanwhile leave the other core idle).
  template <class Result>
  Result Await(std::future<Result>& result) {
    while (result.wait_for(std::chrono::seconds(0)) != std::future_status::ready && RunOneQueued()) {
    }
    return result.get();
  }

  // Queues `work` for the next free thread; its result (or exception) comes through the future.
  template <class Work>
  auto Run(Work work) -> std::future<decltype(work())> {
    using Result = decltype(work());
    auto task = std::make_shared<std::packaged_task<Result()>>(std::move(work));
    std::future<Result> result = task->get_future();
    std::unique_lock lock(mutex_);
    // A new thread when the waiting ones all have a piece queued for them already.
    if (tasks_.size() >= waiting_ && threads_.size() < limit_) AddThread();
    if (threads_.empty()) {
      lock.unlock();
      (*task)();
      return result;
    }
    tasks_.emplace_back([task] { (*task)(); });
    lock.unlock();
    ready_.notify_one();
    return result;
  }

 private:
  // Runs the first queued work on this thread; false when none is queued.
  bool RunOneQueued() {
    std::unique_lock lock(mutex_);
    if (tasks_.empty()) return false;
    RunFront(lock);
    return true;
  }

  // With the lock held and work queued: runs the first queued work, the lock released
  // meanwhile. The work is a packaged task: what it throws goes to its future.
  void RunFront(std::unique_lock<std::mutex>& lock) {
    std::function<void()> task = std::move(tasks_.front());
    tasks_.pop_front();
    ++running_;
    lock.unlock();
    task();
    task = nullptr;  // what the work held goes before the lock is taken again
    lock.lock();
    if (--running_ == 0 && tasks_.empty()) idle_.notify_all();
  }

  // One more thread, with the lock held; false when the system starts no more (those started
  // so far serve).
  bool AddThread() {
    try {
      threads_.emplace_back([this] { Serve(); });
      return true;
    } catch (const std::system_error&) {
      return false;
    }
  }

  void Serve() {
    std::unique_lock lock(mutex_);
    for (;;) {
      ++waiting_;
      ready_.wait(lock, [this] { return closing_ || !tasks_.empty(); });
      --waiting_;
      if (tasks_.empty()) return;
      RunFront(lock);
    }
  }

  const std::size_t limit_;
  std::mutex mutex_;
  std::condition_variable ready_;
  std::condition_variable idle_;
  std::deque<std::function<void()>> tasks_;
  std::size_t waiting_ = 0;  // threads waiting for work
  std::size_t running_ = 0;  // threads running work
  bool closing_ = false;
  std::vector<std::thread> threads_;
};

// What one lane of SpreadOverTwoThreads changes as it goes (a sum, a scratch text, a list of
// finds), on a cache line of its own: two lanes' state side by side on one line would make
// every change of either move the line between the cores.
template <class T>
struct alignas(64) LaneState {
  T value{};
};

// Calls work(index, lane) once for every index in [0, count), spread over this thread (lane 0)
// and one of `helpers` (lane 1), which take runs of a few indexes in ascending order, so that
// big and small items even out. Below `minimum` indexes, or when no helper can be started,
// this thread does all of it. The helper places what it allocates in `arena` (a lane of its
// own) when one is given. Meant for the passes over a loaded log's peers after the load, whose
// peers are independent of one another: the work must touch only what belongs to its index,
// or its lane. Not to be called from one of `helpers` itself.
template <class Work>
void SpreadOverTwoThreads(HelperThreads& helpers, std::size_t count, std::size_t minimum, NodeArena* arena, Work&& work) {
  constexpr std::size_t kRun = 4;
  std::atomic<std::size_t> next{0};
  const auto take = [&](unsigned lane) {
    for (std::size_t begin = next.fetch_add(kRun); begin < count; begin = next.fetch_add(kRun))
      for (std::size_t index = begin; index < std::min(count, begin + kRun); ++index) work(index, lane);
  };
  if (count < minimum || count < 2 * kRun) {
    take(0);
    return;
  }
  std::future<void> other = helpers.Run([&] {
    ArenaScope scope(arena);
    take(1);
  });
  try {
    take(0);
  } catch (...) {
    // The helper works on this frame's objects: it must be done before they go.
    next.store(count);
    other.wait();
    throw;
  }
  other.get();
}

}  // namespace quillon
