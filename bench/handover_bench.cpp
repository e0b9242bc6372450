// Hand-over benchmark: a generated log loaded through OpenLog, then its packet capture, its
// HTML report and its events written as quillon-cli writes them (the capture and the report
// through the safe file writer, flushed to the disk; the events into memory), each against
// the load.
//
//   handover_bench [MB]      (default: the 200 MB IKEv1 debug log of load_bench)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>

#include "LogGenerator.h"
#include "cli/HandOver.h"
#include "export/HtmlReport.h"
#include "export/PacketCapture.h"
#include "logs/OpenLog.h"
#include "platform/ChunkSource.h"
#include "platform/SafeFile.h"

namespace {

double Seconds(const std::function<void()>& run) {
  const auto start = std::chrono::steady_clock::now();
  run();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
  quillon::platform::TuneHeap();
  const std::uint64_t mb = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 200;
  const auto temp = std::filesystem::temp_directory_path();
  const std::string path = (temp / ("quillon_load_" + std::to_string(mb) + "mb.ilx")).string();
  std::error_code ec;
  if (!std::filesystem::exists(path, ec) || std::filesystem::file_size(path, ec) < (mb << 20))
    quillon::bench::WriteDebugLog(path, mb << 20, 2000);
  const quillon::OpenLogResult loaded = quillon::OpenLog(path, {}, quillon::platform::LogChunkSource());
  if (loaded.status != quillon::OpenLogResult::Status::kLoaded) {
    std::fprintf(stderr, "load failed: %s\n", loaded.message.c_str());
    return 1;
  }
  const quillon::LogFile& root = *loaded.log;
  const std::string capture = (temp / "quillon_handover.pcapng").string();
  const std::string report = (temp / "quillon_handover.html").string();
  quillon::hand_over::PacketCaptureCounts counts;
  bool ok = true;
  const double pcap = Seconds([&] {
    ok = ok && quillon::platform::SaveFile(capture, path, [&](quillon::ByteSink& sink) {
                 return quillon::hand_over::WritePacketCapture(root, sink, counts);
               }).status == quillon::platform::SaveResult::Status::kSaved;
  });
  const double html = Seconds([&] {
    const quillon::hand_over::ReportSource source{"log", path, std::filesystem::file_size(path), "IKEv1", nullptr, 0};
    ok = ok && quillon::platform::SaveFile(report, path, [&](quillon::ByteSink& sink) {
                 return quillon::hand_over::WriteHtmlReport(root, source, sink);
               }).status == quillon::platform::SaveResult::Status::kSaved;
  });
  quillon::StringSink eventText;
  const double events = Seconds([&] {
    quillon::LogLineIndex lines(path);
    ok = ok && quillon::cli::WriteEvents(root, eventText, &lines);
  });
  if (!ok) {
    std::fprintf(stderr, "writing failed\n");
    return 1;
  }
  const double load = loaded.seconds;
  std::printf("load:    %.3f s\n", load);
  std::printf("pcap:    %.3f s = %.2fx the load (%llu packets, %.1f MB)\n", pcap, pcap / load,
              static_cast<unsigned long long>(counts.written),
              static_cast<double>(std::filesystem::file_size(capture)) / (1 << 20));
  std::printf("report:  %.3f s = %.2fx the load (%.1f MB)\n", html, html / load,
              static_cast<double>(std::filesystem::file_size(report)) / (1 << 20));
  std::printf("events:  %.3f s = %.2fx the load (%.1f MB)\n", events, events / load,
              static_cast<double>(eventText.text.size()) / (1 << 20));
  std::filesystem::remove(capture, ec);
  std::filesystem::remove(report, ec);
  return 0;
}
