// Narrowing benchmark: on a generated IKEv1 debug log (200 MB by default), the time of
//   (a) a filter by one peer's address,
//   (b) verify with all five categories,
//   (c) a Find Next walk from the top to the last match of a text that stands only in detail
//       texts near the end of the log (the last negotiation's initiator cookie line),
// each against the time the same log takes to load. Each step runs on a freshly loaded tree.
// A narrowing destroys nothing (the log keeps what it removed); the time of destroying the
// filter's removed nodes is given apart.
//
//   narrowing_bench [MB] [LOG]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "LogGenerator.h"
#include "logs/OpenLog.h"
#include "model/Narrowing.h"
#include "model/TreeCounts.h"
#include "model/TreeSearch.h"
#include "model/VisibleWalk.h"
#include "platform/ChunkSource.h"

namespace {

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

quillon::OpenLogResult Load(const std::string& path, double& seconds) {
  const auto start = Clock::now();
  quillon::OpenLogResult result = quillon::OpenLog(path, {}, quillon::platform::LogChunkSource());
  seconds = SecondsSince(start);
  if (result.status != quillon::OpenLogResult::Status::kLoaded) {
    std::fprintf(stderr, "cannot load %s\n", path.c_str());
    std::exit(1);
  }
  return result;
}

// The last shown node named "Header" in pre-order.
const quillon::LogNode* LastHeader(const quillon::LogNode& node) {
  const quillon::LogNode* last = nullptr;
  quillon::ForEachVisibleChild(node, [&last](const quillon::LogNode& child) {
    if (child.Name() == "Header") last = &child;
    if (const quillon::LogNode* below = LastHeader(child)) last = below;
    return true;
  });
  return last;
}

void Report(const char* what, double seconds, double load) {
  std::printf("%-34s %7.3f s  (%5.1f%% of the load)\n", what, seconds, 100.0 * seconds / load);
}

}  // namespace

int main(int argc, char** argv) {
  quillon::platform::TuneHeap();
  const std::uint64_t mb = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 200;
  std::string path;
  if (argc > 2) {
    path = argv[2];
  } else {
    path = (std::filesystem::temp_directory_path() / ("quillon_viewer_" + std::to_string(mb) + "mb.ilx")).string();
    std::error_code error;
    if (!std::filesystem::exists(path, error) || std::filesystem::file_size(path, error) < (mb << 20)) {
      std::printf("generating %llu MB log at %s\n", static_cast<unsigned long long>(mb), path.c_str());
      quillon::bench::WriteDebugLog(path, mb << 20);
    }
  }

  double load = 0;
  quillon::OpenLogResult result = Load(path, load);
  const quillon::TreeCounts counts = quillon::CountTree(*result.log);
  std::printf("log: %.1f MB, %llu peers, %llu negotiations, %llu packets, %llu payloads\n",
              static_cast<double>(std::filesystem::file_size(path)) / (1 << 20),
              static_cast<unsigned long long>(counts.peers), static_cast<unsigned long long>(counts.negotiations),
              static_cast<unsigned long long>(counts.packets), static_cast<unsigned long long>(counts.payloads));
  std::printf("%-34s %7.3f s\n", "load", load);

  // (a) One peer from the middle of the log. The removed nodes stay with the log.
  quillon::FilterCriteria byAddress;
  byAddress.ipOn = true;
  byAddress.ipText = result.log->Child(result.log->ChildCount() / 2)->Name();
  auto start = Clock::now();
  quillon::ApplyFilter(*result.log, byAddress);
  Report(("filter by address " + byAddress.ipText).c_str(), SecondsSince(start), load);
  // What the viewer hands to another thread, and quillon-cli leaves to the end of the process.
  quillon::RemovedNodes removed = result.log->TakeRemoved();
  start = Clock::now();
  removed.clear();
  Report("  destroying the removed nodes", SecondsSince(start), load);

  // (b) Verify, all categories.
  result = Load(path, load);
  start = Clock::now();
  quillon::ApplyVerify(*result.log, quillon::VerifyCriteria{});
  Report("verify, all categories", SecondsSince(start), load);
  std::printf("  negotiations kept: %llu\n", static_cast<unsigned long long>(quillon::CountTree(*result.log).negotiations));

  // (c) The last negotiation's initiator cookie, as its headers' detail texts give it.
  result = Load(path, load);
  const quillon::LogNode* header = LastHeader(*result.log);
  if (header == nullptr) return 1;
  const std::string text = header->DetailText();
  const std::size_t at = text.find("InitCookie:");
  if (at == std::string::npos) return 1;
  const std::string wanted = text.substr(at, text.find('\r', at) - at);
  quillon::SearchState state;
  int matches = 0;
  start = Clock::now();
  for (bool found = quillon::Find(state, *result.log, wanted, false, nullptr); found;
       found = quillon::FindNext(state, *result.log))
    ++matches;
  Report("find next to the last match", SecondsSince(start), load);
  std::printf("  \"%s\": %d matches\n", wanted.c_str(), matches);
  return 0;
}
