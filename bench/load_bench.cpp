// Whole-load benchmark: OpenLog from file to finished tree, for a generated IKEv1 debug log and
// (with --ikev2 FILE) any log given on the command line.
//
//   load_bench [MB] [LOG]     default 200 MB generated log
//
// Prints the load's MB/s, the peak resident memory against the file size, and for scale the
// time `LC_ALL=C wc -w` takes on the same file.
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "LogGenerator.h"
#include "ikev1/log/OpenLog.h"
#include "model/TreeCounts.h"

namespace {

double WcSeconds(const std::string& path) {
  const auto start = std::chrono::steady_clock::now();
  const std::string command = "LC_ALL=C wc -w '" + path + "' > /dev/null";
  if (std::system(command.c_str()) != 0) return -1;
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
  const std::uint64_t mb = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 200;
  std::string path;
  if (argc > 2) {
    path = argv[2];
  } else {
    path = (std::filesystem::temp_directory_path() / ("quillon_load_" + std::to_string(mb) + "mb.ilx")).string();
    std::error_code ec;
    if (!std::filesystem::exists(path, ec) || std::filesystem::file_size(path, ec) < (mb << 20))
      quillon::bench::WriteDebugLog(path, mb << 20, 2000);
  }
  const double fileMb = static_cast<double>(std::filesystem::file_size(path)) / (1 << 20);

  const auto start = std::chrono::steady_clock::now();
  quillon::OpenLogResult result = quillon::OpenLog(path);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (result.status != quillon::OpenLogResult::Status::kLoaded) {
    std::fprintf(stderr, "load failed: %s\n", result.message.c_str());
    return 1;
  }
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  const double peakMb = static_cast<double>(usage.ru_maxrss) / 1024.0;
  const quillon::TreeCounts counts = quillon::CountTree(*result.log);
  const double wc = WcSeconds(path);

  std::printf("file:   %s (%.1f MB)\n", path.c_str(), fileMb);
  std::printf("tree:   %llu peers, %llu tunnels, %llu negotiations, %llu packets, %llu payloads\n",
              static_cast<unsigned long long>(counts.peers), static_cast<unsigned long long>(counts.tunnels),
              static_cast<unsigned long long>(counts.negotiations), static_cast<unsigned long long>(counts.packets),
              static_cast<unsigned long long>(counts.payloads));
  std::printf("load:   %.3f s = %.1f MB/s\n", seconds, fileMb / seconds);
  if (wc > 0) std::printf("wc -w:  %.3f s = %.1f MB/s  (load is %.2fx wc's speed)\n", wc, fileMb / wc, wc / seconds);
  std::printf("memory: peak RSS %.1f MB = %.2fx the file size\n", peakMb, peakMb / fileMb);
  return 0;
}
