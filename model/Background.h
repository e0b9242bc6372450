// Work handed to a thread of its own, for the loaders that read pieces of a log in parallel.
#pragma once

#include <future>
#include <memory>
#include <algorithm>
#include <cstddef>
#include <system_error>
#include <thread>
#include <utility>

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

// How many pieces of a log are read on worker threads while the loading thread places the
// pieces read before: `requested`, or by default one per core (so that no core idles while the
// loading thread places), at most eight (each piece in flight holds its text).
inline std::size_t PieceWorkers(unsigned requested) {
  return requested != 0 ? requested : std::clamp(std::thread::hardware_concurrency(), 1u, 8u);
}

}  // namespace quillon
