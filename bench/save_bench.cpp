// Save benchmark: a generated log loaded through OpenLog, then saved as the viewer saves it
// (written to a new file next to the target, flushed to the disk and renamed over it), with the
// saved file's MB/s next to the load's.
//
//   save_bench [MB] [--ikev2]      (default: the 200 MB IKEv1 debug log of load_bench)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "LogGenerator.h"
#include "logs/OpenLog.h"
#include "logs/SaveLog.h"
#include "platform/ChunkSource.h"
#include "platform/SafeFile.h"

int main(int argc, char** argv) {
  quillon::platform::TuneHeap();
  std::vector<std::string> args(argv + 1, argv + argc);
  const auto flag = std::find(args.begin(), args.end(), "--ikev2");
  const bool ikev2 = flag != args.end();
  if (ikev2) args.erase(flag);
  const std::uint64_t mb = !args.empty() ? std::strtoull(args[0].c_str(), nullptr, 10) : 200;
  const auto temp = std::filesystem::temp_directory_path();
  const std::string path = (temp / ("quillon_load_" + std::to_string(mb) + (ikev2 ? "mb_v2.xml" : "mb.ilx"))).string();
  std::error_code ec;
  if (!std::filesystem::exists(path, ec) || std::filesystem::file_size(path, ec) < (mb << 20)) {
    if (ikev2) quillon::bench::WriteIKEv2Log(path, mb << 20, 2000);
    else quillon::bench::WriteDebugLog(path, mb << 20, 2000);
  }
  const double fileMb = static_cast<double>(std::filesystem::file_size(path)) / (1 << 20);

  const quillon::OpenLogResult loaded = quillon::OpenLog(path, {}, quillon::platform::LogChunkSource());
  if (loaded.status != quillon::OpenLogResult::Status::kLoaded) {
    std::fprintf(stderr, "load failed: %s\n", loaded.message.c_str());
    return 1;
  }
  const std::string target = (temp / (ikev2 ? "quillon_saved.xml" : "quillon_saved.ilx")).string();
  const auto start = std::chrono::steady_clock::now();
  const quillon::platform::SaveResult saved = quillon::platform::SaveFile(
      target, path, [&](quillon::ByteSink& sink) { return quillon::WriteLog(*loaded.log, sink); });
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (saved.status != quillon::platform::SaveResult::Status::kSaved) {
    std::fprintf(stderr, "save failed: %s\n", saved.message.c_str());
    return 1;
  }
  const double savedMb = static_cast<double>(std::filesystem::file_size(target)) / (1 << 20);
  std::printf("file:   %s (%.1f MB)\n", path.c_str(), fileMb);
  std::printf("load:   %.3f s = %.1f MB/s\n", loaded.seconds, fileMb / loaded.seconds);
  std::printf("save:   %.3f s = %.1f MB/s (%.1f MB written, flushed to the disk)\n", seconds, savedMb / seconds,
              savedMb);
  std::filesystem::remove(target, ec);
  return 0;
}
