// Token reader throughput: ReadToken over a realistic debug log, ReadHexBytes over hex dumps.
//
//   reader_bench [MB]    (default 100; the generated files stay in the temp directory)
//
// For scale, compare with `LC_ALL=C wc -w` on the same files.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "LogGenerator.h"
#include "ikev1/log/DebugLogReader.h"

using quillon::DebugLogReader;

namespace {

template <typename F>
double Seconds(F&& f) {
  const auto start = std::chrono::steady_clock::now();
  f();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

std::string Prepare(const std::string& name, std::uint64_t bytes, bool hexOnly) {
  const std::string path = (std::filesystem::temp_directory_path() / name).string();
  std::error_code ec;
  if (!std::filesystem::exists(path, ec) || std::filesystem::file_size(path, ec) < bytes) {
    if (hexOnly) quillon::bench::WriteHexDump(path, bytes);
    else quillon::bench::WriteDebugLog(path, bytes);
  }
  return path;
}

}  // namespace

int main(int argc, char** argv) {
  const std::uint64_t mb = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 100;
  const std::uint64_t bytes = mb << 20;
  const std::string log = Prepare("quillon_bench_" + std::to_string(mb) + "mb.ilx", bytes, false);
  const std::string hex = Prepare("quillon_bench_hexdump_" + std::to_string(mb) + "mb.txt", bytes, true);
  const double logMb = static_cast<double>(std::filesystem::file_size(log)) / (1 << 20);
  const double hexMb = static_cast<double>(std::filesystem::file_size(hex)) / (1 << 20);

  std::uint64_t tokens = 0;
  const double tTok = Seconds([&] {
    DebugLogReader r(log);
    while (!r.AtEnd()) {
      r.ReadToken();
      r.ClearRestartSeen();  // "started" in the log's first line holds the reader otherwise
      ++tokens;
    }
  });
  std::uint64_t elements = 0;
  const double tHex = Seconds([&] {
    DebugLogReader r(hex);
    while (!r.AtEnd()) {
      elements += r.ReadHexBytes().size();
      r.ReadToken();  // the label that ended the dump
    }
  });
  std::printf("ReadToken:    %8.1f MB in %6.3f s = %7.1f MB/s (%llu tokens)  [%s]\n", logMb, tTok, logMb / tTok,
              static_cast<unsigned long long>(tokens), log.c_str());
  std::printf("ReadHexBytes: %8.1f MB in %6.3f s = %7.1f MB/s (%llu bytes)  [%s]\n", hexMb, tHex, hexMb / tHex,
              static_cast<unsigned long long>(elements), hex.c_str());
  return 0;
}
