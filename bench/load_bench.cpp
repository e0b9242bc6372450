// Whole-load benchmark: OpenLog from file to finished tree, for a generated IKEv1 debug log, a
// generated IKEv2 XML log, or any log given on the command line.
//
//   load_bench [MB] [LOG]            default: a generated IKEv1 log of 200 MB
//   load_bench --ikev2 [MB] [LOG]    a generated IKEv2 log instead
//   --one-reader                     read with one reader on this thread, not in pieces
//   --piece-kb N, --workers N        the loader's piece size and pieces in flight
//   --kinds                          also the nodes and arena bytes per node class (NodeBytes.h)
//   --no-regroup                     leave the peers as logged (the regrouping's share of the peak)
//
// Prints the load's MB/s, the peak resident memory against the file size, and for scale the
// time `LC_ALL=C wc -w` takes on the same file.
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "LogGenerator.h"
#include "NodeBytes.h"
#include "platform/ChunkSource.h"
#include "ikev1/log/DebugLogReader.h"
#include "ikev1/log/ReadIKEv1Log.h"
#include "logs/OpenLog.h"
#include "ikev2/LogLineReader.h"
#include "ikev2/ReadIKEv2Log.h"
#include "model/TreeCounts.h"

namespace {

double CpuSeconds(int who) {
  rusage usage{};
  getrusage(who, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Wall and processor seconds of `wc -w` on the file. On a busy machine the processor time is
// the fairer comparison; both are printed.
bool WcSeconds(const std::string& path, double& wall, double& cpu) {
  const double cpuBefore = CpuSeconds(RUSAGE_CHILDREN);
  const auto start = std::chrono::steady_clock::now();
  const std::string command = "LC_ALL=C wc -w '" + path + "' > /dev/null";
  if (std::system(command.c_str()) != 0) return false;
  wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  cpu = CpuSeconds(RUSAGE_CHILDREN) - cpuBefore;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  // The allocator as the viewer and the command-line tool set it up.
  quillon::platform::TuneHeap();
  std::vector<std::string> args(argv + 1, argv + argc);
  const auto flag = std::find(args.begin(), args.end(), "--ikev2");
  const bool ikev2 = flag != args.end();
  if (ikev2) args.erase(flag);
  const auto kindsFlag = std::find(args.begin(), args.end(), "--kinds");
  const bool kinds = kindsFlag != args.end();
  if (kinds) args.erase(kindsFlag);
  const auto noRegroupFlag = std::find(args.begin(), args.end(), "--no-regroup");
  const bool noRegroup = noRegroupFlag != args.end();
  if (noRegroup) args.erase(noRegroupFlag);
  const auto oneFlag = std::find(args.begin(), args.end(), "--one-reader");
  const bool oneReader = oneFlag != args.end();
  if (oneReader) args.erase(oneFlag);
  // --piece-kb N and --workers N: the loaders' options, for tuning; OpenLog's defaults otherwise.
  auto takeNumber = [&args](const std::string& name, long fallback) {
    const auto at = std::find(args.begin(), args.end(), name);
    if (at == args.end() || at + 1 == args.end()) return fallback;
    const long value = std::strtol((at + 1)->c_str(), nullptr, 10);
    args.erase(at, at + 2);
    return value;
  };
  const long pieceKb = takeNumber("--piece-kb", -1);
  const long workers = takeNumber("--workers", -1);
  const bool tuned = pieceKb >= 0 || workers >= 0 || noRegroup;
  const std::uint64_t mb = !args.empty() ? std::strtoull(args[0].c_str(), nullptr, 10) : 200;
  std::string path;
  if (args.size() > 1) {
    path = args[1];
  } else {
    // The extension chooses the reader: ".ilx" the IKEv1 one, anything else the IKEv2 one.
    const std::string name = "quillon_load_" + std::to_string(mb) + (ikev2 ? "mb_v2.xml" : "mb.ilx");
    path = (std::filesystem::temp_directory_path() / name).string();
    std::error_code ec;
    if (!std::filesystem::exists(path, ec) || std::filesystem::file_size(path, ec) < (mb << 20)) {
      if (ikev2) quillon::bench::WriteIKEv2Log(path, mb << 20, 2000);
      else quillon::bench::WriteDebugLog(path, mb << 20, 2000);
    }
  }
  const double fileMb = static_cast<double>(std::filesystem::file_size(path)) / (1 << 20);

  const double cpuStart = CpuSeconds(RUSAGE_SELF);
  const auto start = std::chrono::steady_clock::now();
  quillon::OpenLogResult result;
  if (oneReader || tuned) {
    // The loaders themselves, without the file checks OpenLog adds.
    result.log = std::make_unique<quillon::LogFile>();
    result.status = quillon::OpenLogResult::Status::kLoaded;
    if (ikev2) {
      quillon::IKEv2ReadOptions options;
      if (oneReader) options = {~std::size_t{0}, ~std::size_t{0}, 1};
      if (pieceKb >= 0) options.pieceSize = static_cast<std::size_t>(pieceKb) << 10;
      if (workers >= 0) options.workers = static_cast<unsigned>(workers);
      quillon::LogLineReader reader(path);
      if (noRegroup) quillon::ReadIKEv2Exchanges(*result.log, reader, options);
      else quillon::ReadIKEv2Log(*result.log, reader, options);
    } else {
      quillon::IKEv1ReadOptions options;
      if (oneReader) options = {0, 1};
      if (pieceKb >= 0) options.pieceSize = static_cast<std::size_t>(pieceKb) << 10;
      if (workers >= 0) options.workers = static_cast<unsigned>(workers);
      options.regroup = !noRegroup;
      quillon::DebugLogReader reader(path);
      ReadIKEv1Log(*result.log, reader, options);
    }
  } else {
    result = quillon::OpenLog(path, {}, quillon::platform::LogChunkSource());
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const double cpuSeconds = CpuSeconds(RUSAGE_SELF) - cpuStart;
  if (result.status != quillon::OpenLogResult::Status::kLoaded) {
    std::fprintf(stderr, "load failed: %s\n", result.message.c_str());
    return 1;
  }
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  const double peakMb = static_cast<double>(usage.ru_maxrss) / 1024.0;
  const quillon::TreeCounts counts = quillon::CountTree(*result.log);
  double wc = 0, wcCpu = 0;
  const bool haveWc = WcSeconds(path, wc, wcCpu);

  std::printf("file:   %s (%.1f MB)\n", path.c_str(), fileMb);
  std::printf("tree:   %llu peers, %llu tunnels, %llu negotiations, %llu packets, %llu payloads\n",
              static_cast<unsigned long long>(counts.peers), static_cast<unsigned long long>(counts.tunnels),
              static_cast<unsigned long long>(counts.negotiations), static_cast<unsigned long long>(counts.packets),
              static_cast<unsigned long long>(counts.payloads));
  std::printf("load:   %.3f s = %.1f MB/s   (cpu %.3f s = %.1f MB/s)\n", seconds, fileMb / seconds, cpuSeconds,
              fileMb / cpuSeconds);
  if (haveWc) {
    std::printf("wc -w:  %.3f s = %.1f MB/s   (cpu %.3f s = %.1f MB/s)\n", wc, fileMb / wc, wcCpu, fileMb / wcCpu);
    std::printf("ratio:  load is %.2fx wc's speed (cpu: %.2fx)\n", wc / seconds, wcCpu / cpuSeconds);
  }
  std::printf("memory: peak RSS %.1f MB = %.2fx the file size\n", peakMb, peakMb / fileMb);
  const quillon::NodeArena& arena = result.log->Arena();
  std::printf("arena:  %zu chunks, %.1f MB reserved, %.1f MB used, %.1f MB of it given back and idle\n",
              arena.ChunkCount(), static_cast<double>(arena.ReservedBytes()) / (1 << 20),
              static_cast<double>(arena.UsedBytes()) / (1 << 20), static_cast<double>(arena.IdleBytes()) / (1 << 20));
  if (kinds) quillon::bench::PrintNodeBytes(*result.log, stdout);
  return 0;
}
