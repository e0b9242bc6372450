// Following a growing log: how long a packet the gateway appends takes to appear in the tree,
// and how fast compressed logs are read.
//
//   follow_bench [MB] [--no-compressed]
//       An IKEv1 log of MB megabytes (200 by default) is followed the way `quillon-cli --follow`
//       follows it (the same polling loop). First the processor time of following it idle; then
//       a writer thread appends packets one at a time with pauses of 80 to 250 ms, and each
//       packet is timed from its append to the end of the poll that put it in the tree (median
//       and max over 40 packets). Then, unless --no-compressed, the log is compressed with gzip,
//       xz and zstd and each is decompressed, in MB/s of log text.
#include <lzma.h>
#include <zlib.h>
#include <zstd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "LogGenerator.h"
#include "logs/Compressed.h"
#include "logs/FollowLog.h"
#include "logs/OpenLog.h"
#include "tests/model/TreeCompare.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The greatest offset at which a packet of `peers` starts.
std::uint64_t LastPacketStart(const std::vector<quillon::LogNode*>& peers) {
  std::uint64_t last = 0;
  std::vector<quillon::LogSpan> spans;
  std::function<void(const quillon::LogNode&, int)> walk = [&](const quillon::LogNode& node, int depth) {
    node.AppendLogSpans(spans);
    if (depth < 3)
      for (const auto& child : node.Children()) walk(*child, depth + 1);
  };
  for (const quillon::LogNode* peer : peers) walk(*peer, 0);
  for (const quillon::LogSpan& span : spans) last = std::max(last, span.begin);
  return last;
}

void Append(const fs::path& path, std::string_view bytes) {
  std::FILE* f = std::fopen(path.string().c_str(), "ab");
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
}

std::string Gzip(const std::string& text, const fs::path& path) {
  gzFile out = gzopen(path.string().c_str(), "wb6");
  for (std::size_t at = 0; at < text.size(); at += 1u << 26)
    gzwrite(out, text.data() + at, static_cast<unsigned>(std::min<std::size_t>(1u << 26, text.size() - at)));
  gzclose(out);
  return ReadAll(path);
}

std::string Xz(const std::string& text) {
  std::string out(lzma_stream_buffer_bound(text.size()), '\0');
  std::size_t size = 0;
  lzma_easy_buffer_encode(1, LZMA_CHECK_CRC64, nullptr, reinterpret_cast<const std::uint8_t*>(text.data()), text.size(),
                          reinterpret_cast<std::uint8_t*>(out.data()), &size, out.size());
  out.resize(size);
  return out;
}

std::string Zstd(const std::string& text) {
  std::string out(ZSTD_compressBound(text.size()), '\0');
  out.resize(ZSTD_compress(out.data(), out.size(), text.data(), text.size(), 3));
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  const std::uint64_t megabytes = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 200;
  const fs::path dir = fs::temp_directory_path() / "quillon-follow-bench";
  fs::create_directories(dir);
  const fs::path generated = dir / "generated.ilx";
  // No peer logged by index: such a log is regrouped when the writer pauses, and read again
  // whole when it grows after that.
  quillon::bench::WriteDebugLog(generated.string(), megabytes << 20, 500, 25ull << 20, false);
  const std::string text = ReadAll(generated);
  const double mb = static_cast<double>(text.size()) / (1 << 20);

  // The log without its last packets; then a writer appends them one at a time, pausing
  // between them as a gateway does, while the follower polls as `quillon-cli --follow` does.
  // Each packet is timed from its append to the poll after which it is in the tree.
  constexpr std::size_t kPackets = 40;
  const std::vector<std::size_t> all = quillon::bench::PacketUnitStarts(text, text.size() > (4u << 20) ? text.size() - (4u << 20) : 0);
  if (all.size() < kPackets + 1) {
    std::fprintf(stderr, "too few packets\n");
    return 1;
  }
  std::vector<std::size_t> cuts(all.end() - (kPackets + 1), all.end());
  const fs::path followed = dir / "followed.ilx";
  std::ofstream(followed, std::ios::binary | std::ios::trunc) << std::string_view(text).substr(0, cuts[0]);

  quillon::LogFile root;
  quillon::LogFollower follower(root, followed.string());
  auto start = Clock::now();
  follower.Poll();
  const double first = Seconds(start);
  std::printf("log: %.1f MB, %zu peers; read whole by the follower in %.2f s (%.0f MB/s)\n", mb, root.ChildCount(), first,
              mb / first);

  // The follower idle: the processor time it takes per second of following.
  {
    const std::clock_t cpu = std::clock();
    start = Clock::now();
    quillon::FollowLoop(follower, [&] { return Seconds(start) >= 2.0; }, [](quillon::LogFollower::Change) { return true; });
    std::printf("following the idle log: %.2f ms of processor time per second (a look every %d ms)\n",
                1000.0 * static_cast<double>(std::clock() - cpu) / CLOCKS_PER_SEC / Seconds(start),
                quillon::LogFollower::kPollMilliseconds);
  }

  std::vector<Clock::time_point> appended(kPackets);
  std::atomic<std::size_t> written{0};
  std::thread writer = quillon::bench::AppendPaced(
      kPackets, [&](std::size_t i) { Append(followed, std::string_view(text).substr(cuts[i], cuts[i + 1] - cuts[i])); }, appended, written);
  std::vector<double> times;
  int reloads = 0;
  quillon::FollowLoop(
      follower, [&] { return times.size() == kPackets || (written.load() == kPackets && Seconds(appended.back()) > 5.0); },
      [&](quillon::LogFollower::Change change) {
        const Clock::time_point polled = Clock::now();
        if (change == quillon::LogFollower::Change::kReloaded) ++reloads;
        if (change != quillon::LogFollower::Change::kExtended && change != quillon::LogFollower::Change::kReloaded) return true;
        const std::uint64_t last = LastPacketStart(follower.Changed());
        const std::size_t count = written.load(std::memory_order_acquire);
        while (times.size() < count && cuts[times.size()] <= last)
          times.push_back(std::chrono::duration<double>(polled - appended[times.size()]).count() * 1000);
        return true;
      });
  writer.join();
  if (times.size() < kPackets) {
    std::fprintf(stderr, "only %zu of %zu appended packets appeared\n", times.size(), kPackets);
    return 1;
  }
  // The followed tree must be the one a load of the file gives.
  {
    quillon::OpenLogResult whole = quillon::OpenLog(followed.string());
    const std::string difference = whole.log ? quillon::testing::FirstTreeDifference(root, *whole.log, true) : "not loaded";
    if (!difference.empty()) {
      std::fprintf(stderr, "the followed tree differs from a load:\n%s\n", difference.c_str());
      return 1;
    }
  }
  std::sort(times.begin(), times.end());
  std::printf("append of one packet to its place in the tree: median %.1f ms, max %.1f ms over %zu packets (%d reloads)\n",
              times[times.size() / 2], times.back(), times.size(), reloads);

  if (argc > 2 && std::string_view(argv[2]) == "--no-compressed") {
    fs::remove_all(dir);
    return 0;
  }
  // Compressed logs: decompression alone, and the whole open.
  const std::string plain = text;
  struct Format {
    const char* name;
    std::string bytes;
  };
  const Format formats[] = {{"gzip", Gzip(plain, dir / "log.ilx.gz")}, {"xz", Xz(plain)}, {"zstd", Zstd(plain)}};
  for (const Format& format : formats) {
    const fs::path path = dir / (std::string("log.ilx.") + format.name);
    std::ofstream(path, std::ios::binary | std::ios::trunc) << format.bytes;
    std::string out;
    start = Clock::now();
    quillon::DecompressFile(path.string(), quillon::CompressionOf(format.bytes), out);
    const double unpack = Seconds(start);
    start = Clock::now();
    quillon::OpenLogResult opened = quillon::OpenLog(path.string());
    const double open = Seconds(start);
    std::printf("%-5s %6.1f MB -> %.1f MB: decompressed at %.0f MB/s; opened (decompress and load) at %.0f MB/s%s\n",
                format.name, static_cast<double>(format.bytes.size()) / (1 << 20), static_cast<double>(out.size()) / (1 << 20),
                static_cast<double>(out.size()) / (1 << 20) / unpack, mb / open,
                opened.status == quillon::OpenLogResult::Status::kLoaded ? "" : " (NOT LOADED)");
  }
  start = Clock::now();
  quillon::OpenLog(generated.string());
  std::printf("plain log opened at %.0f MB/s\n", mb / Seconds(start));
  fs::remove_all(dir);
  return 0;
}
