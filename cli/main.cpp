// quillon-cli: prints a loaded key-exchange log as the viewer's tree, for administrators and
// scripts.
//
//   quillon-cli [--json] [--texts] [--stats] [--save OUT] [--timeline OUT.svg] [FILTER...]
//               [--verify[=LIST]] [--find TEXT [--keys-only]] LOG
//   quillon-cli --follow [--json] [--texts] [FILTER...] [--verify[=LIST]] LOG
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
#include <chrono>
#include <climits>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <unordered_set>

#include "cli/HandOver.h"
#include "cli/Options.h"
#include "cli/TreePrinter.h"
#include "logs/FollowLog.h"
#include "logs/OpenLog.h"
#include "logs/SaveLog.h"
#include "model/LogLines.h"
#include "model/NodeRoles.h"
#include "model/Narrowing.h"
#include "model/Summaries.h"
#include "model/Timeline.h"
#include "model/TimelineSvg.h"
#include "model/TreeRules.h"
#include "platform/ChunkSource.h"
#include "platform/FileIdentity.h"
#include "platform/SafeFile.h"

namespace {

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
//
// A negotiation still being written is not complete, which the verify selection "failed" takes
// for a failure: the live alarm would cry at every negotiation in progress. So one that only
// "failed" keeps is held back until it cannot complete any more: rejected, closed by a daemon
// restart, or without a new packet for the grace period, of the log's time (the latest start
// time the log has shown) or of the wall clock, whichever passes first. One that completes
// meanwhile is never printed as failed.
class FollowPrinter {
 public:
  using Clock = std::chrono::steady_clock;

  // `eventsPath` not empty: --events, each negotiation printed as its event, its lines
  // counted in that file (a regular file: follow reads no stream).
  FollowPrinter(const quillon::FilterCriteria& filter, const std::optional<quillon::VerifyCriteria>& verify, bool json,
                std::int64_t graceSeconds, std::string eventsPath)
      : filter_(filter), verify_(verify), json_(json), grace_(graceSeconds), eventsPath_(std::move(eventsPath)) {}

  // Returns false when the output cannot be written. A negotiation is printed again only in a
  // state it has not shown before; a peer regrouped under another name is no new state. After a
  // reload (`reloaded`) the tree is new, and a negotiation shown before (the same start in the
  // log) is not shown again at all: the state it has may be the one a half-written file gave it
  // for a moment.
  bool Peers(const std::vector<quillon::LogNode*>& peers, bool print, bool reloaded) {
    std::string out;
    for (const quillon::LogNode* peer : peers) {
      for (const auto& [tunnel, exchange] : quillon::cli::ShownNegotiations(*peer)) {
        const auto* negotiation = quillon::NodeAs<quillon::NegotiationNode>(exchange);
        if (const auto start = negotiation != nullptr ? negotiation->StartTime() : std::nullopt)
          logTime_ = std::max(logTime_, start->Seconds());
      }
    }
    const std::map<const quillon::LogNode*, std::string> events = Events(peers, print);
    for (const quillon::LogNode* peer : peers) {
      for (const auto& [tunnel, exchange] : quillon::cli::ShownNegotiations(*peer)) {
        std::string line = quillon::cli::FollowLine(*peer, tunnel, *exchange, json_ || !eventsPath_.empty());
        if (!eventsPath_.empty()) {
          // A restart marker is no negotiation and has no event.
          const auto event = events.find(exchange);
          if (event == events.end()) continue;
          if (print) line = event->second;
        }
        // The negotiation (where it starts) and the state it shows: its caption, and what the text
        // line does not show. Not its peer's name, which a regrouping changes; an event, which
        // also tells its lines and diagnosis, is new whenever any of it changed.
        const std::string key = StartKey(*exchange, line);
        const std::string shows = eventsPath_.empty() ? std::string(exchange->Caption()) : line;
        const std::size_t state = std::hash<std::string>{}(key + '\x1f' + shows +
                                                            (exchange->IsComplete() ? "\x1f" "1" : "\x1f" "0") +
                                                            std::to_string(quillon::StateIconIndex(*exchange)));
        if (seen_.contains(state)) continue;
        if (!print || (reloaded && shown_.contains(key))) {
          seen_.insert(state);
          shown_.insert(key);
          continue;
        }
        pending_.erase(exchange);
        if (!quillon::ShownAfterNarrowing(filter_, verify_ ? &*verify_ : nullptr, *peer, tunnel, *exchange)) {
          seen_.insert(state);
          continue;
        }
        if (InProgress(*peer, tunnel, *exchange)) {
          pending_[exchange] = Pending{std::move(line), state, key, Clock::now(), logTime_};
          continue;
        }
        seen_.insert(state);
        shown_.insert(key);
        out += line;
        out += '\n';
      }
    }
    return Due(out) && (out.empty() || WriteOut(out));
  }

  // The held-back negotiations whose grace has passed by the wall clock. False when the output
  // cannot be written.
  bool Tick() {
    std::string out;
    return Due(out) && (out.empty() || WriteOut(out));
  }

  // A reload builds the tree anew: the held-back nodes are gone (what they showed is judged
  // again from the new tree).
  void Forget() {
    pending_.clear();
    lines_.reset();  // the file may be another one, or rewritten
  }

 private:
  // With --events: the event of every negotiation of `peers`, the lines counted in one pass.
  std::map<const quillon::LogNode*, std::string> Events(const std::vector<quillon::LogNode*>& peers, bool print) {
    std::map<const quillon::LogNode*, std::string> out;
    if (eventsPath_.empty()) return out;
    std::vector<quillon::cli::EventNode> nodes;
    for (const quillon::LogNode* peer : peers)
      for (const auto& [tunnel, exchange] : quillon::cli::ShownNegotiations(*peer))
        if (exchange->Kind() != quillon::NodeKind::kRestart) nodes.push_back({peer, tunnel, exchange});
    if (!print) {
      for (const auto& node : nodes) out.emplace(node.exchange, std::string());
      return out;
    }
    // The lines are counted once: a step counts only what was appended since the last one.
    if (!lines_) lines_ = std::make_unique<quillon::LogLineIndex>(eventsPath_);
    else lines_->Grow();
    const std::vector<std::string> texts = quillon::cli::EventLines(nodes, lines_.get());
    for (std::size_t i = 0; i < nodes.size() && i < texts.size(); ++i) out.emplace(nodes[i].exchange, texts[i]);
    return out;
  }

  // What tells a negotiation from the others across reloads: where in the log it starts, and
  // its kind and start time (a log rewritten with other content may start another one there).
  // A node read from no span (a restart marker) is told by its line.
  static std::string StartKey(const quillon::LogNode& exchange, const std::string& line) {
    const std::vector<quillon::LogSpan> spans = quillon::LogSpansOf(exchange);
    if (spans.empty()) return "L" + line;
    std::string key = std::to_string(spans.front().begin) + ' ';
    key += exchange.Name();
    const auto* negotiation = quillon::NodeAs<quillon::NegotiationNode>(exchange);
    if (const auto start = negotiation != nullptr ? negotiation->StartTime() : std::nullopt)
      key += ' ' + std::to_string(start->Seconds());
    return key;
  }

  struct Pending {
    std::string line;
    std::size_t state;
    std::string key;
    Clock::time_point since;  // the wall time of its last change
    std::int64_t logSince;    // the log's time then
  };

  // Kept only as a failure, but it may still complete.
  bool InProgress(const quillon::LogNode& peer, const quillon::LogNode* tunnel, const quillon::LogNode& exchange) const {
    if (!verify_ || !verify_->failedNegotiations || exchange.IsComplete() || CannotComplete(peer, exchange)) return false;
    quillon::VerifyCriteria others = *verify_;
    others.failedNegotiations = false;
    return !(others.AnyOn() && quillon::ShownAfterNarrowing(filter_, &others, peer, tunnel, exchange));
  }

  // Whether the log already says that the negotiation cannot complete: rejected, or closed by a
  // daemon restart (the peer holds a restart marker after it). The one place that asks.
  static bool CannotComplete(const quillon::LogNode& peer, const quillon::LogNode& exchange) {
    quillon::FailureReason reason;
    if (exchange.GetFailureReason(reason) && reason.by != quillon::FailureReason::By::kNobody) return true;
    bool after = false;
    for (const auto& tunnel : peer.Children()) {
      for (const auto& child : tunnel->Children()) {
        if (child.get() == &exchange) after = true;
        else if (after && child->Kind() == quillon::NodeKind::kRestart) return true;
      }
    }
    return false;
  }

  // Appends the lines of the held-back negotiations whose grace has passed.
  bool Due(std::string& out) {
    const auto now = Clock::now();
    for (auto it = pending_.begin(); it != pending_.end();) {
      const bool byWall = now - it->second.since >= std::chrono::seconds(grace_);
      const bool byLog = logTime_ - it->second.logSince >= grace_;
      if (!byWall && !byLog) {
        ++it;
        continue;
      }
      seen_.insert(it->second.state);
      shown_.insert(it->second.key);
      out += it->second.line;
      out += '\n';
      it = pending_.erase(it);
    }
    return true;
  }

  quillon::FilterCriteria filter_;
  std::optional<quillon::VerifyCriteria> verify_;
  bool json_;
  std::int64_t grace_;
  std::string eventsPath_;
  std::int64_t logTime_ = INT64_MIN / 2;
  std::unordered_set<std::size_t> seen_;
  std::unordered_set<std::string> shown_;  // the StartKey of every negotiation shown or known
  std::unique_ptr<quillon::LogLineIndex> lines_;  // --events: the lines of the followed file
  std::map<const quillon::LogNode*, Pending> pending_;
};

void Say(const std::string& message);

// The --follow loop: polls the log until a signal ends it.
int Follow(const std::string& path, std::uint64_t printedSize, const quillon::LogFormat& format, std::uint64_t maxSize,
           const quillon::FilterCriteria& filter, const std::optional<quillon::VerifyCriteria>& verify, bool json,
           std::int64_t graceSeconds, bool events) {
  std::signal(SIGINT, StopFollowing);
  std::signal(SIGTERM, StopFollowing);
  // Its nodes come from the chunks the load's tree had (given back before the follow began).
  quillon::LogFile root(quillon::platform::LogChunkSource());
  quillon::LogFollower follower(root, path, quillon::platform::FileIdentity);
  // The tree was printed from the first `printedSize` bytes; what came after is news.
  follower.StartAfter(printedSize);
  follower.ReadAs(format);
  follower.SetMaxSize(maxSize);
  FollowPrinter printer(filter, verify, json, graceSeconds, events ? path : std::string());
  bool started = false;
  bool written = true;
  std::string problem;
  quillon::FollowLoop(
      follower, [&] { return stopFollowing != 0 || !(written = written && printer.Tick()); },
      [&](quillon::LogFollower::Change change) {
        if (change == quillon::LogFollower::Change::kReloaded) printer.Forget();
        // What the first load holds was printed as the tree.
        if (change == quillon::LogFollower::Change::kExtended || change == quillon::LogFollower::Change::kReloaded)
          written = printer.Peers(follower.Changed(), started, change == quillon::LogFollower::Change::kReloaded);
        if (change != quillon::LogFollower::Change::kCannotRead) started = true;
        // A compressed log replaced by one past the size limit, or by no log: said once.
        if (change == quillon::LogFollower::Change::kCannotRead && !follower.Problem().empty() &&
            follower.Problem() != problem)
          Say("quillon-cli: " + follower.Problem() + ": " + path);
        problem = follower.Problem();
        return written;
      });
  if (!written) {
    std::fprintf(stderr, "quillon-cli: cannot write the output: %s\n", std::strerror(errno));
    return 1;
  }
  return 0;
}

// A message for the terminal: a path may hold any byte but NUL, and ESC, BEL or a C1 control
// (U+009B is a one-byte CSI) from it must not drive the terminal. They are written as visible
// escapes; line ends and the rest of UTF-8 stay as they are.
std::string ForTerminal(std::string_view text) {
  std::string out;
  int continuation = 0;  // bytes still due to the current UTF-8 sequence
  const auto escape = [&out](unsigned char c) {
    char code[8];
    std::snprintf(code, sizeof code, "\\x%02x", c);
    out += code;
  };
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    const bool follows = c >= 0x80 && c <= 0xBF;
    if (continuation > 0 && follows) {
      out.push_back(static_cast<char>(c));
      --continuation;
      continue;
    }
    continuation = 0;
    const auto next = i + 1 < text.size() ? static_cast<unsigned char>(text[i + 1]) : 0;
    if (c == 0xC2 && next >= 0x80 && next <= 0x9F) {  // a C1 control in UTF-8
      escape(c);
      escape(next);
      ++i;
    } else if ((c < 0x20 && c != '\n' && c != '\t') || c == 0x7F || (c >= 0x80 && c <= 0x9F)) {
      escape(c);
    } else {
      out.push_back(static_cast<char>(c));
      continuation = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : 0;
    }
  }
  return out;
}

// Writes a message line to stderr, made safe for the terminal.
void Say(const std::string& message) { std::fprintf(stderr, "%s\n", ForTerminal(message).c_str()); }

int UsageError(const std::string& what) {
  Say("quillon-cli: " + what);
  std::fputs(quillon::cli::Usage().c_str(), stderr);
  return 2;
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
  Say("quillon-cli: " + saved.message);
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
  // A save past the file size limit (ulimit -f) fails with "File too large" and leaves nothing
  // behind, rather than killing the program in the middle of a write.
  std::signal(SIGXFSZ, SIG_IGN);
  using quillon::cli::Option;
  const quillon::cli::ParsedArguments args = quillon::cli::ParseArguments(argc, argv);
  switch (args.action) {
    case quillon::cli::ParsedArguments::Action::kUsageError:
      return UsageError(args.error);
    case quillon::cli::ParsedArguments::Action::kHelp:
      std::fputs(quillon::cli::Usage().c_str(), stdout);
      return 0;
    case quillon::cli::ParsedArguments::Action::kVersion:
      std::printf("quillon-cli %s\n", QUILLON_VERSION);
      return 0;
    case quillon::cli::ParsedArguments::Action::kRun:
      break;
  }
  quillon::cli::PrintOptions options;
  options.json = args.Has(Option::kJson);
  options.texts = args.Has(Option::kTexts);
  const bool stats = args.Has(Option::kStats);
  const bool print = args.PrintsTree();
  const char* path = args.log.c_str();
  quillon::FilterCriteria filter;
  for (auto [option, on, text] : {std::tuple{Option::kFilterIp, &filter.ipOn, &filter.ipText},
                                  std::tuple{Option::kFilterCookie, &filter.cookieOn, &filter.cookieText},
                                  std::tuple{Option::kFilterSpi, &filter.spiOn, &filter.spiText},
                                  std::tuple{Option::kFilterUser, &filter.userNameOn, &filter.userNameText}}) {
    *on = args.Has(option);
    *text = args.Value(option);
  }
  filter.failedPeersOn = args.Has(Option::kFailedPeers);
  filter.filterOutDpdOn = args.Has(Option::kNoDpd);
  std::optional<quillon::VerifyCriteria> verify;
  if (args.Has(Option::kVerify))
    verify = args.Value(Option::kVerify).empty() ? quillon::VerifyCriteria{}
                                                 : *quillon::cli::VerifyList(args.Value(Option::kVerify));
  const bool findOn = args.Has(Option::kFind);
  const bool follow = args.Has(Option::kFollow);

  // A followed log grows in place: a stream (a FIFO, a device, standard input) does not, and
  // the follower would wait on it for ever (a FIFO blocks in open(), deaf to SIGINT).
  if (follow) {
    // SIGINT and SIGTERM end a follow from the start, also while the log loads.
    std::signal(SIGINT, StopFollowing);
    std::signal(SIGTERM, StopFollowing);
    if (const std::string what = quillon::platform::NotAFollowableFile(path); !what.empty()) {
      Say(std::string("quillon-cli: --follow needs a regular file: ") + path + " is " + what);
      return 1;
    }
  }
  const std::uint64_t maxSize = args.Has(Option::kMaxSize) ? *quillon::cli::SizeValue(args.Value(Option::kMaxSize)) : 0;
  quillon::OpenLogResult result = quillon::OpenLog(path, {}, quillon::platform::LogChunkSource(), maxSize);
  switch (result.status) {
    case quillon::OpenLogResult::Status::kCannotOpen:
      Say(result.message);
      return 1;
    case quillon::OpenLogResult::Status::kWrongFileType:
      Say(result.message + ": " + path);
      return 3;
    case quillon::OpenLogResult::Status::kLoaded:
      break;
  }
  if (!result.warning.empty()) Say(result.warning);
  const bool events = args.Has(Option::kEvents);
  // Only the JSON's, the events' and the report's lines read the log's bytes again.
  if (!((options.json || events) && print) && !args.Has(Option::kReport)) result.text.reset();
  quillon::LogFile& root = *result.log;
  if (filter.AnyOn()) quillon::ApplyFilter(root, filter);
  if (verify) quillon::ApplyVerify(root, *verify);
  // A save that cannot hold the tree as it stands still writes the log, and says so.
  std::string notice;
  if (args.ToStdout(Option::kSave)) {
    StdoutSink out;
    if (!out.Finish(quillon::WriteLog(root, out, notice))) ExitReleasingTheLog(result.log, 1);
  } else if (args.Has(Option::kSave)) {
    const quillon::platform::SaveResult saved = quillon::platform::SaveFile(
        args.Value(Option::kSave), path, [&](quillon::ByteSink& sink) { return quillon::WriteLog(root, sink, notice); });
    if (saved.status != quillon::platform::SaveResult::Status::kSaved) {
      Say("quillon-cli: " + saved.message);
      ExitReleasingTheLog(result.log, 5);
    }
  }
  if (!notice.empty()) Say("quillon-cli: warning: " + notice);
  if (args.Has(Option::kTimeline) && !WriteTimeline(root, args.Value(Option::kTimeline), path))
    ExitReleasingTheLog(result.log, 1);
  const quillon::cli::HandOverSource handOver{path, result.size, result.format->name, result.compressed, result.text,
                                              result.textSize};
  std::string packetsLine;
  if (args.Has(Option::kPcap) &&
      !quillon::cli::WritePacketCaptureFile(root, args.Value(Option::kPcap), handOver, packetsLine))
    ExitReleasingTheLog(result.log, 1);
  if (args.Has(Option::kReport) && !quillon::cli::WriteReportFile(root, args.Value(Option::kReport), handOver))
    ExitReleasingTheLog(result.log, 1);
  std::optional<quillon::cli::FindSelection> selection;
  if (findOn) {
    quillon::SearchOptions find;
    find.keysOnly = args.Has(Option::kKeysOnly);
    find.matchCase = !args.Has(Option::kIgnoreCase);
    find.logLines = args.Has(Option::kFindLines);
    // The nodes' offsets are in the file as it is on disk; a compressed log's are not.
    if (find.logLines && !result.compressed && std::string_view(path) != "-") find.logPath = path;
    selection = quillon::cli::SelectMatches(root, args.Value(Option::kFind), find);
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
                        result.format->name + (result.compressed ? " (compressed)" : "") + "\n" +
                        packetsLine);
  } else if (events) {
    quillon::LogLineIndex lines(result.text, result.textSize);
    written = quillon::cli::WriteEvents(*result.log, out, &lines);
  } else if (options.json) {
    // The lines are counted in the bytes the load read, never in the file opened again: a
    // stream cannot be, and the file may have been replaced meanwhile.
    quillon::LogLineIndex lines(result.text, result.textSize);
    written = quillon::cli::WriteJsonTree(*result.log, options, out, &lines);
  } else {
    written = quillon::cli::WriteTextTree(*result.log, options, out);
  }
  if (!out.Finish(written)) ExitReleasingTheLog(result.log, 1);
  if (result.noPackets) Say(quillon::NoPacketsText(path));
  if (selection && selection->matches.empty()) {
    std::fputs("String not found.\n", stderr);
    ExitReleasingTheLog(result.log, 4);
  }
  if (follow) {
    // The follower builds its own tree from the file: the printed one goes first, so that one
    // tree is in memory, not two.
    const std::uint64_t printedSize = result.size;
    result.log.reset();
    result.text.reset();
    quillon::platform::GiveBackFreeMemory();
    const std::int64_t grace = args.Has(Option::kGrace) ? static_cast<std::int64_t>(*quillon::cli::SizeValue(args.Value(Option::kGrace))) : 60;
    std::exit(Follow(path, printedSize, *result.format, maxSize, filter, verify, options.json, grace, events));
  }
  ExitReleasingTheLog(result.log, 0);
}
