// quillon-cli: prints a loaded key-exchange log as the viewer's tree, for administrators and
// scripts.
//
//   quillon-cli [--json] [--texts] [--stats] [--save OUT] [--timeline OUT.svg] [FILTER...]
//               [--verify[=LIST]] [--find TEXT [--keys-only]] LOG
//   quillon-cli --follow [--json] [--texts] [FILTER...] [--verify[=LIST]] LOG
//   quillon-cli [--pcap OUT.pcapng] [--report OUT.html] [--events [--follow]] [FILTER...] [--verify[=LIST]] LOG
//
// The filter, then the verify selection narrow the tree as the viewer's Filter and Verify do
// (--save and --timeline write the narrowed tree); the search then picks what is printed, as Find Next would
// visit it.
//
// Exit status: 0 loaded, 1 cannot open (or output not written), 2 usage error, 3 wrong file
// type, 4 --find found nothing, 5 cannot save.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <unordered_set>

#include "cli/HandOver.h"
#include "cli/TreePrinter.h"
#include "logs/FollowLog.h"
#include "logs/OpenLog.h"
#include "logs/SaveLog.h"
#include "model/Narrowing.h"
#include "model/Timeline.h"
#include "model/TimelineSvg.h"
#include "model/TreeRules.h"
#include "platform/ChunkSource.h"
#include "platform/FileIdentity.h"
#include "platform/SafeFile.h"

namespace {

constexpr const char* kUsage =
    "Usage: quillon-cli [--json] [--texts] [--stats] [--save OUT] [--timeline OUT.svg]\n"
    "                   [FILTER...] [--verify[=LIST]] [--find TEXT [--keys-only]] LOG\n"
    "       quillon-cli --follow [--json] [--texts] [FILTER...] [--verify[=LIST]] LOG\n"
    "       quillon-cli [--pcap OUT.pcapng] [--report OUT.html] [--events [--follow]]\n"
    "                   [FILTER...] [--verify[=LIST]] LOG\n"
    "\n"
    "Loads an IKEv1 debug log (a path containing \".ilx\" or \".ikev1trace\", in any case) or an\n"
    "IKEv2 XML log and prints its tree: one node per line, indented two spaces per level. When the\n"
    "reader the name chooses finds nothing and the file clearly holds the other kind of log, the\n"
    "other reader reads it; when neither finds a packet, \"No IKE packets found in LOG\" is said on\n"
    "stderr (exit status 0). A gzip, xz or zstd file (told by its first bytes) is read as the log\n"
    "it holds; the name counts without its .gz, .xz or .zst suffix.\n"
    "LOG may be a pipe or a FIFO; \"-\" reads standard input (compressed too), an IKEv2 log when it\n"
    "has a line \"<Exchange\", else a debug log. A file is read up to the size it had when the load began;\n"
    "one that became shorter meanwhile is loaded with \"The file changed while it was read: LOG\"\n"
    "on stderr. Control characters of the log's texts are printed as visible escapes (\"\\x1b\"),\n"
    "except in --json. The output is written while the tree is walked; a reader that stops early\n"
    "(| head) ends the program quietly.\n"
    "\n"
    "  --texts     print each node's detail text below its line, prefixed by \"  | \"\n"
    "  --json      print the tree as one JSON document; packets and negotiations carry\n"
    "              \"lines\": [first, last], the lines of LOG they were read from (from 1;\n"
    "              not for a compressed log); a failed negotiation carries \"reason\": {\"by\":\n"
    "              \"peer\", \"local host\" or null (no answer), \"notify\": the rejecting\n"
    "              notification or null, \"not_chosen\": [{\"proposal\", \"transform\", \"name\",\n"
    "              \"reason\"}, ...], the transforms the gateway logged as not chosen}\n"
    "  --stats     print only the counts of peers, tunnels, negotiations, packets and payloads,\n"
    "              the load time and the reader used (\"reader: IKEv1\" or \"reader: IKEv2\",\n"
    "              followed by \" (compressed)\" for a compressed log)\n"
    "  --follow    print the tree, then keep reading what the gateway appends to LOG and print\n"
    "              one line per new or changed negotiation as it appears: \"PEER > TUNNEL >\n"
    "              CAPTION\" (the tunnel part only when the tree shows the tunnel), or with\n"
    "              --json one JSON object per line {\"peer\", \"tunnel\" (null when not shown),\n"
    "              \"caption\", \"complete\", \"icon\"}. Only negotiations the filters and the\n"
    "              verify selection keep are printed, so --follow --verify=failed is a live\n"
    "              alarm. A log that shrank or was replaced is read again whole, and only what\n"
    "              it adds is printed. Ends on SIGINT or SIGTERM with exit status 0; cannot be\n"
    "              combined with --stats, --save, --timeline, --find, --pcap or --report\n"
    "  --save OUT  write the tree to OUT as a log of the same format (an IKEv1 debug log or an\n"
    "              IKEv2 XML log) that loads as the same tree; OUT is replaced only once it is\n"
    "              completely written, and LOG itself is never overwritten. Nothing is printed\n"
    "              unless --json, --texts or --stats is also given\n"
    "  --timeline OUT.svg\n"
    "              write the log's timeline to OUT.svg (\"-\": standard output), as the viewer's\n"
    "              Timeline panel draws it, fitted to the whole span: negotiations per time\n"
    "              bucket with failures in red, and a lane per peer with a bar per negotiation\n"
    "              from its first to its last packet (an IKEv2 exchange: its messages'\n"
    "              arrival times). A log without times gives a picture that says \"No\n"
    "              times in this log\". OUT.svg is replaced only once\n"
    "              it is completely written, and never when it is LOG. Nothing is printed\n"
    "              unless --json, --texts or --stats is also given\n"
    "  --pcap OUT.pcapng\n"
    "              write the packets to OUT.pcapng, a capture Wireshark and tshark read:\n"
    "              each packet rebuilt from its logged header and payload fields inside IPv4\n"
    "              and UDP (the gateway's address where the log names it, else 0.0.0.0, to or\n"
    "              from the peer by the packet's direction; port 500, 4500 where the packet's\n"
    "              debug record says so), stamped with its logged date and time, with a\n"
    "              comment \"PEER > TUNNEL > NEGOTIATION > PACKET\" and what the log lacks of it.\n"
    "              The log holds payloads after decryption: the encryption flag is cleared.\n"
    "              An IKEv2 XML log holds no payload bytes: its messages are written as their\n"
    "              IKE headers (SPIs, exchange type, flags, message ID), the comment naming\n"
    "              the payloads. With --stats, \"packets written: N (incomplete: M)\" follows\n"
    "              the counts (M: packets with a comment on what the log lacks)\n"
    "  --report OUT.html\n"
    "              write a report for a ticket to OUT.html, one file with nothing outside it:\n"
    "              the log's name, size, time span and reader, the counts, every peer with a\n"
    "              failed negotiation and each such negotiation's diagnosis, text and log\n"
    "              lines, the timeline and the statistics\n"
    "              (OUT.pcapng and OUT.html are replaced only once completely written, and\n"
    "              never when they are LOG; nothing is printed unless --json, --texts,\n"
    "              --stats or --events is also given)\n"
    "  --events    print one JSON object per negotiation and line, for log shippers: the\n"
    "              object --follow --json prints plus \"start\" and \"end\" (first and last\n"
    "              packet, ISO 8601 as logged, no zone; null without times), \"lines\"\n"
    "              ([first, last] of LOG, null when not known), \"failed\" and \"diagnosis\"\n"
    "              (the lines of its summary, then \"Not chosen: ...\" per transform not\n"
    "              chosen). With --follow the events of new or changed\n"
    "              negotiations keep coming\n"
    "  -h, --help  show this help\n"
    "  --version   show the version\n"
    "\n"
    "Narrowing, in this order: the filters (all given ones must hold), then the verify\n"
    "selection, then the search. The printed tree (or the counts) is the narrowed tree, and so\n"
    "is what --save, --timeline, --pcap, --report and --events write (the search does not\n"
    "change it).\n"
    "\n"
    "  --filter-ip TEXT      peers with this address: the peer itself, its second address in\n"
    "                        parentheses, a user's address, or a tunnel ending at it (the\n"
    "                        peer then keeps only such tunnels)\n"
    "  --filter-cookie TEXT  negotiations with this initiator or responder cookie (16 hex digits)\n"
    "  --filter-spi TEXT     negotiations that carry this SPI (hex digits)\n"
    "  --filter-user TEXT    peers with a negotiation of this user name\n"
    "  --failed-peers        peers with a failed negotiation\n"
    "  --no-dpd              drop dead-peer-detection exchanges\n"
    "  --verify              keep only the problem negotiations of all five categories\n"
    "  --verify=LIST         ... of the listed ones, separated by commas: failed (failed\n"
    "                        negotiations), error (error informational), successive\n"
    "                        (successive identical negotiations), immediate (immediate\n"
    "                        delete after success), repeated (repeated delete)\n"
    "  --find TEXT           print only the nodes whose caption or detail text contains TEXT,\n"
    "                        and their ancestors, in the order Find Next visits them; with\n"
    "                        --json each printed node has \"match\": true or false\n"
    "  --keys-only           --find tests the captions only\n"
    "  --ignore-case         --find matches letters of either case\n"
    "  --find-lines          --find also tests the lines of LOG each packet and negotiation was\n"
    "                        read from (the gateway's own messages are there); a match there\n"
    "                        selects that node (not for a compressed LOG or standard input)\n"
    "\n"
    "Every text test is case-sensitive (but --find with --ignore-case), and a text matches where it is a substring: the\n"
    "address 10.0.0.1 is not 10.0.0.10, and an upper-case cookie matches nothing. A filter that\n"
    "leaves no peer prints the root alone. TEXT may also be given as --option=TEXT.\n"
    "\n"
    "Exit status: 0 done, 1 cannot open or read LOG (\"Failed to open file: LOG (reason)\") or\n"
    "cannot write the output, OUT.svg, OUT.pcapng or OUT.html, 2 usage error,\n"
    "3 wrong file type, 4 --find found nothing (\"String not found.\" on stderr; the root is\n"
    "printed alone), 5 cannot save to OUT (OUT and LOG are left as they were).\n";

// Set by SIGINT and SIGTERM: --follow ends.
volatile std::sig_atomic_t stopFollowing = 0;

void StopFollowing(int) { stopFollowing = 1; }

bool WriteOut(const std::string& out) {
  const bool written = std::fwrite(out.data(), 1, out.size(), stdout) == out.size();
  return std::fflush(stdout) == 0 && written && std::ferror(stdout) == 0;
}

// The negotiations of `peers` as a followed log prints them, with the state they show. Lines
// not printed before (a new negotiation, or one whose caption, completeness or icon changed)
// are printed when the narrowing keeps them; all are remembered.
class FollowPrinter {
 public:
  FollowPrinter(const quillon::FilterCriteria& filter, const std::optional<quillon::VerifyCriteria>& verify, bool json,
                const std::string& eventsPath)
      : filter_(filter), verify_(verify), json_(json), eventsPath_(eventsPath) {}

  // Returns false when the output cannot be written.
  bool Peers(const std::vector<quillon::QLFolder*>& peers, bool print) {
    std::string out;
    std::vector<quillon::cli::EventNode> events;
    for (const quillon::QLFolder* peer : peers) {
      for (const auto& [tunnel, exchange] : quillon::cli::ShownNegotiations(*peer)) {
        std::string line = quillon::cli::FollowLine(*peer, tunnel, *exchange, json_ || !eventsPath_.empty());
        // The state the text line does not show.
        const std::string state = line + (exchange->IsComplete() ? "\x1f" "1" : "\x1f" "0") +
                                  std::to_string(quillon::StateIconIndex(*exchange));
        if (!seen_.insert(std::hash<std::string>{}(state)).second || !print) continue;
        if (!quillon::ShownAfterNarrowing(filter_, verify_ ? &*verify_ : nullptr, *peer, tunnel, *exchange)) continue;
        if (!eventsPath_.empty()) {
          events.push_back({peer, tunnel, exchange});
          continue;
        }
        out += line;
        out += '\n';
      }
    }
    for (const std::string& event : quillon::cli::EventLines(events, eventsPath_)) out += event + '\n';
    return out.empty() || WriteOut(out);
  }

 private:
  quillon::FilterCriteria filter_;
  std::optional<quillon::VerifyCriteria> verify_;
  bool json_;
  std::string eventsPath_;  // --events: print events, lines counted in this file
  std::unordered_set<std::size_t> seen_;
};

// The --follow loop: polls the log until a signal ends it.
int Follow(const std::string& path, std::uint64_t printedSize, const quillon::FilterCriteria& filter,
           const std::optional<quillon::VerifyCriteria>& verify, bool json, bool events) {
  std::signal(SIGINT, StopFollowing);
  std::signal(SIGTERM, StopFollowing);
  quillon::LogFile root;
  quillon::LogFollower follower(root, path, quillon::platform::FileIdentity);
  // The tree was printed from the first `printedSize` bytes; what came after is news.
  follower.StartAfter(printedSize);
  FollowPrinter printer(filter, verify, json, events ? path : std::string());
  bool started = false;
  bool written = true;
  quillon::FollowLoop(
      follower, [] { return stopFollowing != 0; },
      [&](quillon::LogFollower::Change change) {
        // What the first load holds was printed as the tree.
        if (change == quillon::LogFollower::Change::kExtended || change == quillon::LogFollower::Change::kReloaded)
          written = printer.Peers(follower.Changed(), started);
        if (change != quillon::LogFollower::Change::kCannotRead) started = true;
        return written;
      });
  if (!written) {
    std::fprintf(stderr, "quillon-cli: cannot write the output: %s\n", std::strerror(errno));
    return 1;
  }
  return 0;
}

int UsageError(const std::string& what) {
  std::fprintf(stderr, "quillon-cli: %s\n%s", what.c_str(), kUsage);
  return 2;
}

// "--verify=failed,error": the named categories on, the others off. Nothing for an unknown or
// missing name.
std::optional<quillon::VerifyCriteria> ParseVerifyList(std::string_view list) {
  quillon::VerifyCriteria criteria{false, false, false, false, false};
  while (true) {
    const std::size_t comma = list.find(',');
    const std::string_view name = list.substr(0, comma);
    if (name == "failed") criteria.failedNegotiations = true;
    else if (name == "error") criteria.errorInformational = true;
    else if (name == "successive") criteria.successiveIdentical = true;
    else if (name == "immediate") criteria.immediateDelete = true;
    else if (name == "repeated") criteria.repeatedDelete = true;
    else return std::nullopt;
    if (comma == std::string_view::npos) return criteria;
    list.remove_prefix(comma + 1);
  }
}

// An option with a value: "--name TEXT" or "--name=TEXT". Sets `value` and answers true when
// `arg` is this option; `error` tells a missing value.
bool TakeValue(std::string_view arg, std::string_view name, int argc, char** argv, int& i, std::string& value,
               bool& error) {
  if (arg == name) {
    if (i + 1 >= argc) {
      error = true;
      return true;
    }
    value = argv[++i];
    return true;
  }
  if (arg.size() > name.size() && arg.starts_with(name) && arg[name.size()] == '=') {
    value = std::string(arg.substr(name.size() + 1));
    return true;
  }
  return false;
}

// Standard output as a sink. Remembers the first error, which Finish reports.
class StdoutSink : public quillon::ByteSink {
 public:
  bool Write(std::string_view bytes) override {
    errno = 0;
    if (error_ == 0 && std::fwrite(bytes.data(), 1, bytes.size(), stdout) != bytes.size()) error_ = ErrorNumber();
    return error_ == 0;
  }
  // Flushes; false after any failure, with the message on stderr. A reader that went away (a
  // pipe into `head`) is no fault of ours: that ends the program quietly.
  bool Finish(bool written) {
    errno = 0;
    if (error_ == 0 && std::fflush(stdout) != 0) error_ = ErrorNumber();
    if (error_ == 0 && !written) error_ = EIO;
    if (error_ == 0) return true;
    if (error_ != EPIPE) std::fprintf(stderr, "quillon-cli: cannot write the output: %s\n", std::strerror(error_));
    return false;
  }

 private:
  static int ErrorNumber() { return errno != 0 ? errno : EIO; }
  int error_ = 0;
};

// Writes the timeline picture to `target` ("-": standard output), never over the log itself.
bool WriteTimeline(const quillon::LogFile& log, const std::string& target, const std::string& logPath) {
  const std::string svg = quillon::TimelineSvg(quillon::TimelineData::FromTree(log));
  if (target == "-") {
    StdoutSink out;
    return out.Finish(out.Write(svg));
  }
  const quillon::platform::SaveResult saved =
      quillon::platform::SaveFile(target, logPath, [&svg](quillon::ByteSink& sink) { return sink.Write(svg); });
  if (saved.status == quillon::platform::SaveResult::Status::kSaved) return true;
  std::fprintf(stderr, "quillon-cli: %s\n", saved.message.c_str());
  return false;
}

// Ends the process once a log is loaded. A large log is millions of nodes, and a narrowing keeps
// the ones it removed with the log; destroying them one by one on the way out of main would
// take a good part of the load time. So no node is destroyed: the log lets go of them and
// gives its arena's chunks back together, which frees their pages on two threads (the system
// would free them on one at exit). std::exit flushes and closes the standard streams as a
// return from main does, and skips only main's own objects.
[[noreturn]] void ExitReleasingTheLog(std::unique_ptr<quillon::LogFile>& log, int status) {
  log.reset();
  std::exit(status);
}

}  // namespace

int main(int argc, char** argv) {
  quillon::platform::TuneHeap();
  quillon::cli::PrintOptions options;
  bool stats = false;
  bool print = true;  // without --save the tree is printed
  const char* path = nullptr;
  const char* savePath = nullptr;
  const char* timelinePath = nullptr;
  bool endOfOptions = false;
  quillon::FilterCriteria filter;
  std::optional<quillon::VerifyCriteria> verify;
  bool findOn = false;
  std::string findText;
  bool keysOnly = false;
  bool ignoreCase = false;
  bool findLines = false;
  bool follow = false;
  const char* pcapPath = nullptr;
  const char* reportPath = nullptr;
  bool events = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    // The options with a text: "--name TEXT" or "--name=TEXT".
    if (!endOfOptions) {
      bool* on = nullptr;
      for (auto [name, field, flag] : {std::tuple{"--filter-ip", &filter.ipText, &filter.ipOn},
                                       std::tuple{"--filter-cookie", &filter.cookieText, &filter.cookieOn},
                                       std::tuple{"--filter-spi", &filter.spiText, &filter.spiOn},
                                       std::tuple{"--filter-user", &filter.userNameText, &filter.userNameOn},
                                       std::tuple{"--find", &findText, &findOn}}) {
        bool missing = false;
        if (TakeValue(arg, name, argc, argv, i, *field, missing)) {
          if (missing) return UsageError("missing value for " + std::string(arg));
          on = flag;
          break;
        }
      }
      if (on != nullptr) {
        *on = true;
        continue;
      }
    }
    if (!endOfOptions && arg == "--failed-peers") {
      filter.failedPeersOn = true;
    } else if (!endOfOptions && arg == "--no-dpd") {
      filter.filterOutDpdOn = true;
    } else if (!endOfOptions && arg == "--verify") {
      verify = quillon::VerifyCriteria{};
    } else if (!endOfOptions && arg.starts_with("--verify=")) {
      verify = ParseVerifyList(arg.substr(std::strlen("--verify=")));
      if (!verify) return UsageError("--verify takes categories from failed,error,successive,immediate,repeated");
    } else if (!endOfOptions && arg == "--keys-only") {
      keysOnly = true;
    } else if (!endOfOptions && arg == "--ignore-case") {
      ignoreCase = true;
    } else if (!endOfOptions && arg == "--find-lines") {
      findLines = true;
    } else if (!endOfOptions && arg == "--") {
      endOfOptions = true;
    } else if (!endOfOptions && (arg == "--help" || arg == "-h")) {
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
    } else if (!endOfOptions && arg == "--follow") {
      follow = true;
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
    } else if (!endOfOptions && (arg == "--pcap" || arg == "--report")) {
      const char*& target = arg == "--pcap" ? pcapPath : reportPath;
      if (i + 1 >= argc || *argv[i + 1] == '\0') return UsageError(std::string(arg) + " needs a file name");
      if (target != nullptr) return UsageError("only one " + std::string(arg) + " may be given");
      target = argv[++i];
    } else if (!endOfOptions && arg == "--events") {
      events = true;
    } else if (!endOfOptions && arg.size() > 1 && arg[0] == '-') {
      return UsageError("unknown option " + std::string(arg));
    } else if (path == nullptr) {
      path = argv[i];
    } else {
      return UsageError("only one LOG may be given");
    }
  }
  if (path == nullptr) return UsageError("no LOG given");
  if (keysOnly && !findOn) return UsageError("--keys-only needs --find");
  if (ignoreCase && !findOn) return UsageError("--ignore-case needs --find");
  if (findLines && !findOn) return UsageError("--find-lines needs --find");
  if (stats && findOn) return UsageError("--stats counts the whole narrowed tree; it cannot be combined with --find");
  if (follow && (stats || findOn || savePath != nullptr || timelinePath != nullptr))
    return UsageError("--follow cannot be combined with --stats, --find, --save or --timeline");
  if (follow && (pcapPath != nullptr || reportPath != nullptr))
    return UsageError("--follow cannot be combined with --pcap or --report");
  if (events && (stats || findOn || options.json || options.texts))
    return UsageError("--events prints the events alone: it cannot be combined with --stats, --find, --json or --texts");
  if (savePath != nullptr || timelinePath != nullptr || pcapPath != nullptr || reportPath != nullptr)
    print = options.json || options.texts || stats || events;

  quillon::OpenLogResult result = quillon::OpenLog(path, {}, quillon::platform::LogChunkSource());
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
  if (!result.warning.empty()) std::fprintf(stderr, "%s\n", result.warning.c_str());
  quillon::LogFile& root = *result.log;
  if (filter.AnyOn()) quillon::ApplyFilter(root, filter);
  if (verify) quillon::ApplyVerify(root, *verify);
  if (savePath != nullptr) {
    const quillon::platform::SaveResult saved = quillon::platform::SaveFile(
        savePath, path, [&](quillon::ByteSink& sink) { return quillon::WriteLog(root, sink); });
    if (saved.status != quillon::platform::SaveResult::Status::kSaved) {
      std::fprintf(stderr, "quillon-cli: %s\n", saved.message.c_str());
      ExitReleasingTheLog(result.log, 5);
    }
  }
  if (timelinePath != nullptr && !WriteTimeline(root, timelinePath, path)) ExitReleasingTheLog(result.log, 1);
  const quillon::cli::HandOverSource handOver{path, result.size, result.ikev1Reader, result.compressed};
  std::string packetsLine;
  if (pcapPath != nullptr && !quillon::cli::WritePacketCaptureFile(root, pcapPath, handOver, packetsLine))
    ExitReleasingTheLog(result.log, 1);
  if (reportPath != nullptr && !quillon::cli::WriteReportFile(root, reportPath, handOver))
    ExitReleasingTheLog(result.log, 1);
  std::optional<quillon::cli::FindSelection> selection;
  if (findOn) {
    quillon::SearchOptions find;
    find.keysOnly = keysOnly;
    find.matchCase = !ignoreCase;
    find.logLines = findLines;
    // The nodes' offsets are in the file as it is on disk; a compressed log's are not.
    if (findLines && !result.compressed && std::string_view(path) != "-") find.logPath = path;
    selection = quillon::cli::SelectMatches(root, findText, find);
    options.find = &*selection;
  }

  // Written as the tree is walked, so that the output of a large log never has to fit in
  // memory. A full disk or a closed pipe must not pass for success.
  StdoutSink out;
  bool written = true;
  if (!print) {
    // Nothing to print.
  } else if (stats) {
    written = out.Write(quillon::cli::StatsText(*result.log, result.loadTimeText) + "reader: " +
                        (result.ikev1Reader ? "IKEv1" : "IKEv2") + (result.compressed ? " (compressed)" : "") + "\n" +
                        packetsLine);
  } else if (events) {
    written = quillon::cli::WriteEvents(*result.log, out, result.compressed ? std::string() : std::string(path));
  } else if (options.json) {
    // The lines are counted in the file: a compressed log's offsets are in the text it holds.
    written = quillon::cli::WriteJsonTree(*result.log, options, out, result.compressed ? std::string() : std::string(path));
  } else {
    written = quillon::cli::WriteTextTree(*result.log, options, out);
  }
  if (!out.Finish(written)) ExitReleasingTheLog(result.log, 1);
  if (result.noPackets) std::fprintf(stderr, "%s\n", quillon::NoPacketsText(path).c_str());
  if (selection && selection->matches.empty()) {
    std::fputs("String not found.\n", stderr);
    ExitReleasingTheLog(result.log, 4);
  }
  if (follow) ExitReleasingTheLog(result.log, Follow(path, result.size, filter, verify, options.json, events));
  ExitReleasingTheLog(result.log, 0);
}
