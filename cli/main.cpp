// quillon-cli: prints a loaded key-exchange log as the viewer's tree, for administrators and
// scripts.
//
//   quillon-cli [--json] [--texts] [--stats] [--save OUT] [--timeline OUT.svg] LOG
//
// Exit status: 0 loaded, 1 cannot open (or output not written), 2 usage error, 3 wrong file
// type, 5 cannot save.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "cli/TreePrinter.h"
#include "ikev1/log/OpenLog.h"
#include "logs/SaveLog.h"
#include "model/Timeline.h"
#include "model/TimelineSvg.h"
#include "platform/ProcessMemory.h"
#include "platform/SafeFile.h"

namespace {

constexpr const char* kUsage =
    "Usage: quillon-cli [--json] [--texts] [--stats] [--save OUT] [--timeline OUT.svg] LOG\n"
    "\n"
    "Loads an IKEv1 debug log (a path containing \".ilx\" or \".ikev1trace\") or an IKEv2 XML log\n"
    "and prints its tree: one node per line, indented two spaces per level.\n"
    "\n"
    "  --texts     print each node's detail text below its line, prefixed by \"  | \"\n"
    "  --json      print the tree as one JSON document\n"
    "  --stats     print only the counts of peers, tunnels, negotiations, packets and payloads\n"
    "  --save OUT  write the tree to OUT as a log of the same format (an IKEv1 debug log or an\n"
    "              IKEv2 XML log) that loads as the same tree; OUT is replaced only once it is\n"
    "              completely written, and LOG itself is never overwritten. Nothing is printed\n"
    "              unless --json, --texts or --stats is also given\n"
    "  --timeline OUT.svg\n"
    "              write the log's timeline to OUT.svg (\"-\": standard output), as the viewer's\n"
    "              Timeline panel draws it, fitted to the whole span: negotiations per time\n"
    "              bucket with failures in red, and a lane per peer with a bar per negotiation\n"
    "              from its first to its last packet. A log without times (IKEv2) gives a\n"
    "              picture that says \"No times in this log\". OUT.svg is replaced only once\n"
    "              it is completely written, and never when it is LOG. Nothing is printed\n"
    "              unless --json, --texts or --stats is also given\n"
    "  --help      show this help\n"
    "  --version   show the version\n"
    "\n"
    "Exit status: 0 done, 1 cannot open LOG or cannot write the output or OUT.svg, 2 usage error,\n"
    "3 wrong file type, 5 cannot save to OUT (OUT and LOG are left as they were).\n";

int UsageError(const char* what) {
  std::fprintf(stderr, "quillon-cli: %s\n%s", what, kUsage);
  return 2;
}

// Writes the timeline picture to `target` ("-": standard output), never over the log itself.
bool WriteTimeline(const quillon::LogFile& log, const std::string& target, const std::string& logPath) {
  const std::string svg = quillon::TimelineSvg(quillon::TimelineData::FromTree(log));
  if (target == "-") {
    const bool written = std::fwrite(svg.data(), 1, svg.size(), stdout) == svg.size();
    if (std::fflush(stdout) == 0 && written && std::ferror(stdout) == 0) return true;
    std::fprintf(stderr, "quillon-cli: cannot write the timeline: %s\n", std::strerror(errno));
    return false;
  }
  const quillon::platform::SaveResult saved =
      quillon::platform::SaveFile(target, logPath, [&svg](quillon::ByteSink& sink) { return sink.Write(svg); });
  if (saved.status == quillon::platform::SaveResult::Status::kSaved) return true;
  std::fprintf(stderr, "quillon-cli: %s\n", saved.message.c_str());
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  quillon::platform::TuneAllocatorForLargeLogs(argv);
  quillon::cli::PrintOptions options;
  bool stats = false;
  bool print = true;  // without --save the tree is printed
  const char* path = nullptr;
  const char* savePath = nullptr;
  const char* timelinePath = nullptr;
  bool endOfOptions = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (!endOfOptions && arg == "--") {
      endOfOptions = true;
    } else if (!endOfOptions && arg == "--help") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (!endOfOptions && arg == "--version") {
      std::printf("quillon-cli %s\n", QUILLON_VERSION);
      return 0;
    } else if (!endOfOptions && arg == "--json") {
      options.json = true;
    } else if (!endOfOptions && arg == "--texts") {
      options.texts = true;
    } else if (!endOfOptions && arg == "--stats") {
      stats = true;
    } else if (!endOfOptions && arg == "--save") {
      if (i + 1 >= argc) return UsageError("--save needs a file name");
      if (savePath != nullptr) return UsageError("only one --save may be given");
      savePath = argv[++i];
      if (*savePath == '\0') return UsageError("--save needs a file name");
    } else if (!endOfOptions && arg == "--timeline") {
      if (i + 1 >= argc) return UsageError("--timeline needs a file name");
      if (timelinePath != nullptr) return UsageError("only one --timeline may be given");
      timelinePath = argv[++i];
      if (*timelinePath == '\0') return UsageError("--timeline needs a file name");
    } else if (!endOfOptions && arg.size() > 1 && arg[0] == '-') {
      return UsageError(("unknown option " + std::string(arg)).c_str());
    } else if (path == nullptr) {
      path = argv[i];
    } else {
      return UsageError("only one LOG may be given");
    }
  }
  if (path == nullptr) return UsageError("no LOG given");
  if (savePath != nullptr || timelinePath != nullptr) print = options.json || options.texts || stats;

  quillon::OpenLogResult result = quillon::OpenLog(path);
  switch (result.status) {
    case quillon::OpenLogResult::Status::kCannotOpen:
      std::fprintf(stderr, "%s\n", result.message.c_str());
      return 1;
    case quillon::OpenLogResult::Status::kWrongFileType:
      std::fprintf(stderr, "%s: %s\n", result.message.c_str(), path);
      return 3;
    case quillon::OpenLogResult::Status::kLoaded:
      break;
  }
  if (savePath != nullptr) {
    const quillon::platform::SaveResult saved = quillon::platform::SaveFile(
        savePath, path, [&](quillon::ByteSink& sink) { return quillon::WriteLog(*result.log, sink); });
    if (saved.status != quillon::platform::SaveResult::Status::kSaved) {
      std::fprintf(stderr, "quillon-cli: %s\n", saved.message.c_str());
      return 5;
    }
  }
  if (timelinePath != nullptr && !WriteTimeline(*result.log, timelinePath, path)) return 1;
  if (!print) return 0;
  std::string out;
  if (stats) {
    out = quillon::cli::StatsText(*result.log, result.loadTimeText);
  } else if (options.json) {
    out = quillon::cli::JsonTree(*result.log, options);
  } else {
    out = quillon::cli::TextTree(*result.log, options);
  }
  // A full disk or a closed pipe must not pass for success.
  const bool written = std::fwrite(out.data(), 1, out.size(), stdout) == out.size();
  if (std::fflush(stdout) != 0 || !written || std::ferror(stdout) != 0) {
    std::fprintf(stderr, "quillon-cli: cannot write the output: %s\n", std::strerror(errno));
    return 1;
  }
  return 0;
}
