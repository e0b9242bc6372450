#include "cli/Options.h"

#include <span>
#include <string_view>

#include "platform/SafeFile.h"

namespace quillon::cli {

namespace {

enum class Value {
  kNone,      // a flag
  kText,      // "--name TEXT" or "--name=TEXT"
  kOutput,    // "--name FILE" or "--name=FILE": a file written, "-" standard output
  kEqualsOnly,  // "--name" alone, or "--name=VALUE" (a following argument stays LOG)
};

// Where the usage lists an option: with the outputs, or with the narrowing.
enum class Section { kGeneral, kNarrowing };

struct Row {
  Option id;
  const char* name;
  const char* alias;  // a short spelling, or nullptr
  Value value;
  const char* valueName;  // as the usage shows it
  Section section;
  // The help: lines separated by '\n'. For kEqualsOnly, `help` is the bare option's and
  // `valueHelp` the one of "--name=VALUE".
  const char* help;
  const char* valueHelp = nullptr;
  // A value this returns false for is a usage error, `invalid` the message.
  bool (*valid)(std::string_view) = nullptr;
  const char* invalid = nullptr;
  // The option only makes sense with this other one.
  const char* needs = nullptr;
  // Options it cannot be combined with (names separated by blanks), and the message to give
  // (by default "--name cannot be combined with --other").
  const char* conflicts = nullptr;
  const char* conflictText = nullptr;
};

bool ValidVerifyList(std::string_view list) { return VerifyList(list).has_value(); }
bool ValidSize(std::string_view text) { return SizeValue(text).has_value(); }
bool ValidSeconds(std::string_view text) {
  const auto seconds = SizeValue(text);
  return seconds && *seconds <= 1000000000 && text.find_first_not_of("0123456789") == std::string_view::npos;
}

// The rows, in the order of the usage.
constexpr Row kRows[] = {
    {Option::kTexts, "--texts", nullptr, Value::kNone, nullptr, Section::kGeneral,
     "print each node's detail text below its line, prefixed by \"  | \""},
    {Option::kJson, "--json", nullptr, Value::kNone, nullptr, Section::kGeneral,
     "print the tree as one JSON document; packets and negotiations carry\n"
     "\"lines\": [first, last], the lines of LOG they were read from (from 1;\n"
     "of the text a compressed log holds); a failed negotiation carries \"reason\":\n"
     "{\"by\": \"peer\", \"local host\" or null (no answer), \"notify\": the rejecting\n"
     "notification or null, \"not_chosen\": [{\"proposal\", \"transform\", \"name\",\n"
     "\"reason\"}, ...], the transforms the gateway logged as not chosen}"},
    {Option::kStats, "--stats", nullptr, Value::kNone, nullptr, Section::kGeneral,
     "print only the counts of peers, tunnels, negotiations, packets and payloads,\n"
     "the load time and the reader used (\"reader: IKEv1\" or \"reader: IKEv2\",\n"
     "followed by \" (compressed)\" for a compressed log)",
     nullptr, nullptr, nullptr, nullptr, "--find",
     "--stats counts the whole narrowed tree; it cannot be combined with --find"},
    {Option::kFollow, "--follow", nullptr, Value::kNone, nullptr, Section::kGeneral,
     "print the tree, then keep reading what the gateway appends to LOG and print\n"
     "one line per new or changed negotiation as it appears: \"PEER > TUNNEL >\n"
     "CAPTION\" (the tunnel part only when the tree shows the tunnel), or with\n"
     "--json one JSON object per line {\"peer\", \"tunnel\" (null when not shown),\n"
     "\"caption\", \"complete\", \"icon\"}. Only negotiations the filters and the\n"
     "verify selection keep are printed, so --follow --verify=failed is a live\n"
     "alarm. A log that shrank or was replaced is read again whole, and only what\n"
     "it adds is printed. Ends on SIGINT or SIGTERM with exit status 0; cannot be\n"
     "combined with --stats, --save, --timeline, --find, --pcap or --report; with\n"
     "--events it prints events. LOG must be a regular file (not a FIFO, a device\n"
     "or standard input: exit status 1)",
     nullptr, nullptr, nullptr, nullptr, "--stats --find --save --timeline --pcap --report",
     "--follow cannot be combined with --stats, --find, --save, --timeline, --pcap or --report"},
    {Option::kSave, "--save", nullptr, Value::kOutput, "OUT", Section::kGeneral,
     "write the tree to OUT (\"-\": standard output) as a log of the same format\n"
     "(an IKEv1 debug log or an IKEv2 XML log) that loads as the same tree; OUT is\n"
     "replaced only once it is completely written, and LOG itself is never\n"
     "overwritten. Nothing is printed unless --json, --texts or --stats is also given;\n"
     "a damaged IKEv1 log that no debug log can hold as it stands (daemon restarts that\n"
     "cannot be placed, lines cut or broken) is saved all the same, with a warning on\n"
     "stderr (exit status 0)"},
    {Option::kTimeline, "--timeline", nullptr, Value::kOutput, "OUT.svg", Section::kGeneral,
     "write the log's timeline to OUT.svg (\"-\": standard output), as the viewer's\n"
     "Timeline panel draws it, fitted to the whole span: negotiations per time\n"
     "bucket with failures in red, and a lane per peer with a bar per negotiation\n"
     "from its first to its last packet (an IKEv2 exchange: its messages'\n"
     "arrival times). A log without times gives a picture that says \"No\n"
     "times in this log\". OUT.svg is replaced only once\n"
     "it is completely written, and never when it is LOG. Nothing is printed\n"
     "unless --json, --texts or --stats is also given"},
    {Option::kPcap, "--pcap", nullptr, Value::kOutput, "OUT.pcapng", Section::kGeneral,
     "write the packets to OUT.pcapng, a capture Wireshark and tshark read:\n"
     "each packet rebuilt from its logged header and payload fields inside IPv4\n"
     "and UDP (the gateway's address where the log names it, else 0.0.0.0, to or\n"
     "from the peer by the packet's direction; port 500, 4500 where the packet's\n"
     "debug record says so), stamped with its logged date and time, with a\n"
     "comment \"PEER > TUNNEL > NEGOTIATION > PACKET\" and what the log lacks of it.\n"
     "The log holds payloads after decryption: the encryption flag is cleared.\n"
     "An IKEv2 XML log names values, not bytes: its messages are written with the\n"
     "payloads and values it names (proposals, notify types, SPIs, identities,\n"
     "traffic selectors), key material as zeros, the comment naming what is\n"
     "missing. With --stats, \"packets written: N (incomplete: M)\" follows\n"
     "the counts (M: packets with a comment on what the log lacks)"},
    {Option::kReport, "--report", nullptr, Value::kOutput, "OUT.html", Section::kGeneral,
     "write a report for a ticket to OUT.html, one file with nothing outside it:\n"
     "the log's name, size, time span and reader, the counts, every peer with a\n"
     "failed negotiation and each such negotiation's diagnosis, text and log\n"
     "lines, the timeline and the statistics\n"
     "(OUT.pcapng and OUT.html are replaced only once completely written, and\n"
     "never when they are LOG; nothing is printed unless --json, --texts,\n"
     "--stats or --events is also given)"},
    {Option::kEvents, "--events", nullptr, Value::kNone, nullptr, Section::kGeneral,
     "print one JSON object per negotiation and line, for log shippers: the\n"
     "object --follow --json prints plus \"start\" and \"end\" (first and last\n"
     "packet, ISO 8601 as logged, no zone; null without times), \"lines\"\n"
     "([first, last] of LOG, null when not known), \"failed\", for a failed\n"
     "negotiation the \"reason\" of --json, and \"diagnosis\" (the lines of its\n"
     "summary). With --follow the events of new or changed negotiations keep\n"
     "coming",
     nullptr, nullptr, nullptr, nullptr, "--stats --find --json --texts",
     "--events prints the events alone: it cannot be combined with --stats, --find, --json or --texts"},
    {Option::kMaxSize, "--max-size", nullptr, Value::kText, "BYTES", Section::kGeneral,
     "the most a load keeps in memory beyond the file: the text of a compressed\n"
     "log, or what comes through standard input or a pipe (K, M, G: KiB, MiB,\n"
     "GiB). Past it: \"Failed to open file: LOG (File too large)\", exit status 1.\n"
     "Default 8G, or 16 times the size of a compressed file when that is more.\n"
     "A followed compressed log past it says \"File too large: LOG\" and keeps its tree",
     nullptr, ValidSize, "--max-size takes a size in bytes, with K, M or G for KiB, MiB or GiB"},
    {Option::kGrace, "--grace", nullptr, Value::kText, "SECONDS", Section::kGeneral,
     "with --follow and --verify=failed: a negotiation in progress counts as\n"
     "failed only once it cannot complete: rejected, closed by a daemon restart,\n"
     "or without a new packet for SECONDS (default 60) of the log's time or of\n"
     "the wall clock, whichever passes first",
     nullptr, ValidSeconds, "--grace takes a whole number of seconds, at least 1", "--follow"},
    {Option::kHelp, "--help", "-h", Value::kNone, nullptr, Section::kGeneral, "show this help"},
    {Option::kVersion, "--version", nullptr, Value::kNone, nullptr, Section::kGeneral, "show the version"},

    {Option::kFilterIp, "--filter-ip", nullptr, Value::kText, "TEXT", Section::kNarrowing,
     "peers with this address: the peer itself, its second address in\n"
     "parentheses, a user's address, or a tunnel ending at it (the\n"
     "peer then keeps only such tunnels)"},
    {Option::kFilterCookie, "--filter-cookie", nullptr, Value::kText, "TEXT", Section::kNarrowing,
     "negotiations with this initiator or responder cookie (16 hex digits)"},
    {Option::kFilterSpi, "--filter-spi", nullptr, Value::kText, "TEXT", Section::kNarrowing,
     "negotiations that carry this SPI (hex digits)"},
    {Option::kFilterUser, "--filter-user", nullptr, Value::kText, "TEXT", Section::kNarrowing,
     "peers with a negotiation of this user name"},
    {Option::kFailedPeers, "--failed-peers", nullptr, Value::kNone, nullptr, Section::kNarrowing,
     "peers with a failed negotiation"},
    {Option::kNoDpd, "--no-dpd", nullptr, Value::kNone, nullptr, Section::kNarrowing,
     "drop dead-peer-detection exchanges"},
    {Option::kVerify, "--verify", nullptr, Value::kEqualsOnly, "LIST", Section::kNarrowing,
     "keep only the problem negotiations of all five categories",
     "... of the listed ones, separated by commas: failed (failed\n"
     "negotiations), error (error informational), successive\n"
     "(successive identical negotiations), immediate (immediate\n"
     "delete after success), repeated (repeated delete)",
     ValidVerifyList, "--verify takes categories from failed,error,successive,immediate,repeated"},
    {Option::kFind, "--find", nullptr, Value::kText, "TEXT", Section::kNarrowing,
     "print only the nodes whose caption or detail text contains TEXT,\n"
     "and their ancestors, in the order Find Next visits them; with\n"
     "--json each printed node has \"match\": true or false"},
    {Option::kKeysOnly, "--keys-only", nullptr, Value::kNone, nullptr, Section::kNarrowing,
     "--find tests the captions only", nullptr, nullptr, nullptr, "--find"},
    {Option::kIgnoreCase, "--ignore-case", nullptr, Value::kNone, nullptr, Section::kNarrowing,
     "--find matches letters of either case", nullptr, nullptr, nullptr, "--find"},
    {Option::kFindLines, "--find-lines", nullptr, Value::kNone, nullptr, Section::kNarrowing,
     "--find also tests the lines of LOG each packet and negotiation was\n"
     "read from (the gateway's own messages are there); a match there\n"
     "selects that node",
     nullptr, nullptr, nullptr, "--find"},
};

static_assert(std::size(kRows) == Index(Option::kCount), "one row per option");

constexpr const char* kSynopsis =
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
    "\n";

constexpr const char* kNarrowingIntro =
    "\n"
    "Narrowing, in this order: the filters (all given ones must hold), then the verify\n"
    "selection, then the search. The printed tree (or the counts) is the narrowed tree, and so\n"
    "is what --save, --timeline, --pcap, --report and --events write (the search does not\n"
    "change it).\n"
    "\n";

constexpr const char* kClosing =
    "\n"
    "Every text test is case-sensitive (but --find with --ignore-case), and a text matches where\n"
    "it is a substring: the address 10.0.0.1 is not 10.0.0.10, and an upper-case cookie matches\n"
    "nothing. A filter that leaves no peer prints the root alone. TEXT may also be given as\n"
    "--option=TEXT.\n"
    "\n"
    "Options are refused (exit status 2) when they conflict: a single-valued option given twice,\n"
    "two outputs naming one file, or two outputs on standard output (\"-\" stands for standard\n"
    "output wherever an output file is named).\n"
    "\n"
    "Exit status: 0 done, 1 cannot open or read LOG (\"Failed to open file: LOG (reason)\") or\n"
    "cannot write the output, OUT.svg, OUT.pcapng or OUT.html, 2 usage error,\n"
    "3 wrong file type, 4 --find found nothing (\"String not found.\" on stderr; the root is\n"
    "printed alone), 5 cannot save to OUT (OUT and LOG are left as they were).\n";

// The column the help starts in, per section.
constexpr std::size_t HelpColumn(Section section) { return section == Section::kGeneral ? 14 : 24; }

void AppendEntry(std::string& out, const std::string& label, const char* help, std::size_t column) {
  out += "  " + label;
  if (2 + label.size() + 2 <= column) {
    out.append(column - 2 - label.size(), ' ');
  } else {
    out += '\n';
    out.append(column, ' ');
  }
  for (const char* p = help; *p != '\0'; ++p) {
    out += *p;
    if (*p == '\n') out.append(column, ' ');
  }
  out += '\n';
}

void AppendSection(std::string& out, Section section) {
  for (const Row& row : kRows) {
    if (row.section != section) continue;
    std::string label = row.alias != nullptr ? std::string(row.alias) + ", " + row.name : row.name;
    if (row.value == Value::kText || row.value == Value::kOutput) label += std::string(" ") + row.valueName;
    AppendEntry(out, label, row.help, HelpColumn(section));
    if (row.value == Value::kEqualsOnly)
      AppendEntry(out, std::string(row.name) + "=" + row.valueName, row.valueHelp, HelpColumn(section));
  }
}

const Row* Find(std::string_view name) {
  for (const Row& row : kRows)
    if (name == row.name || (row.alias != nullptr && name == row.alias)) return &row;
  return nullptr;
}

// The first of the blank-separated option names in `names` that was given; empty for none.
std::string_view FirstGiven(const ParsedArguments& parsed, std::string_view names) {
  while (!names.empty()) {
    const std::size_t blank = names.find(' ');
    const std::string_view name = names.substr(0, blank);
    const Row* row = Find(name);
    if (row != nullptr && parsed.Has(row->id)) return name;
    if (blank == std::string_view::npos) break;
    names.remove_prefix(blank + 1);
  }
  return {};
}

ParsedArguments Refuse(ParsedArguments parsed, std::string message) {
  parsed.action = ParsedArguments::Action::kUsageError;
  parsed.error = std::move(message);
  return parsed;
}

}  // namespace

std::optional<VerifyCriteria> VerifyList(std::string_view list) {
  VerifyCriteria criteria{false, false, false, false, false};
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

std::optional<std::uint64_t> SizeValue(std::string_view text) {
  std::uint64_t value = 0;
  std::size_t i = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    if (value > (UINT64_MAX - 9) / 10) return std::nullopt;
    value = value * 10 + static_cast<std::uint64_t>(text[i] - '0');
  }
  if (i == 0) return std::nullopt;
  int shift = 0;
  if (i + 1 == text.size()) {
    switch (text[i]) {
      case 'K': case 'k': shift = 10; break;
      case 'M': case 'm': shift = 20; break;
      case 'G': case 'g': shift = 30; break;
      default: return std::nullopt;
    }
  } else if (i != text.size()) {
    return std::nullopt;
  }
  if (value == 0 || value > (UINT64_MAX >> shift)) return std::nullopt;
  return value << shift;
}

bool ParsedArguments::PrintsTree() const {
  bool outputFile = false;
  for (const Row& row : kRows) outputFile = outputFile || (row.value == Value::kOutput && Has(row.id));
  return !outputFile || Has(Option::kJson) || Has(Option::kTexts) || Has(Option::kStats) || Has(Option::kEvents);
}

ParsedArguments ParseArguments(int argc, const char* const* argv) {
  ParsedArguments parsed;
  const std::span<const char* const> args(argv + 1, argc > 1 ? static_cast<std::size_t>(argc - 1) : 0);
  bool endOfOptions = false;
  bool logGiven = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string_view arg = args[i];
    if (endOfOptions || arg.size() < 2 || arg[0] != '-') {
      if (logGiven) return Refuse(std::move(parsed), "only one LOG may be given");
      parsed.log = arg;
      logGiven = true;
      continue;
    }
    if (arg == "--") {
      endOfOptions = true;
      continue;
    }
    const std::size_t equals = arg.starts_with("--") ? arg.find('=') : std::string_view::npos;
    const Row* row = Find(arg.substr(0, equals));
    if (row == nullptr || (equals != std::string_view::npos && row->value == Value::kNone))
      return Refuse(std::move(parsed), "unknown option " + std::string(arg));
    const std::size_t index = Index(row->id);
    std::string value;
    if (equals != std::string_view::npos) {
      value = arg.substr(equals + 1);
    } else if (row->value == Value::kText || row->value == Value::kOutput) {
      if (i + 1 >= args.size())
        return Refuse(std::move(parsed), row->value == Value::kOutput ? std::string(row->name) + " needs a file name"
                                                                      : "missing value for " + std::string(arg));
      value = args[++i];
    }
    if (row->value == Value::kOutput && value.empty())
      return Refuse(std::move(parsed), std::string(row->name) + " needs a file name");
    const bool hasValue = row->value != Value::kEqualsOnly || equals != std::string_view::npos;
    if (row->valid != nullptr && hasValue && !row->valid(value))
      return Refuse(std::move(parsed), row->invalid);
    // A flag may be repeated; a second value would silently replace the first.
    if (parsed.given[index] && row->value != Value::kNone)
      return Refuse(std::move(parsed), "only one " + std::string(row->name) + " may be given");
    parsed.given[index] = true;
    parsed.values[index] = std::move(value);
  }
  if (parsed.Has(Option::kHelp)) {
    parsed.action = ParsedArguments::Action::kHelp;
    return parsed;
  }
  if (parsed.Has(Option::kVersion)) {
    parsed.action = ParsedArguments::Action::kVersion;
    return parsed;
  }
  if (!logGiven) return Refuse(std::move(parsed), "no LOG given");
  for (const Row& row : kRows) {
    if (!parsed.Has(row.id)) continue;
    if (row.needs != nullptr && FirstGiven(parsed, row.needs).empty())
      return Refuse(std::move(parsed), std::string(row.name) + " needs " + row.needs);
    if (row.conflicts == nullptr) continue;
    const std::string_view other = FirstGiven(parsed, row.conflicts);
    if (!other.empty())
      return Refuse(std::move(parsed), row.conflictText != nullptr
                                           ? std::string(row.conflictText)
                                           : std::string(row.name) + " cannot be combined with " + std::string(other));
  }
  // The outputs: one writer for standard output, and never two for one file.
  int toStdout = parsed.PrintsTree() ? 1 : 0;
  for (const Row& row : kRows) {
    if (row.value != Value::kOutput || !parsed.Has(row.id)) continue;
    const std::string& target = parsed.Value(row.id);
    if (target == "-") {
      if (++toStdout > 1) {
        return Refuse(std::move(parsed), std::string(row.name) +
                                             " -: only one output can go to standard output (the tree, --save -"
                                             " or --timeline -)");
      }
      continue;
    }
    for (const Row* other = kRows; other != &row; ++other) {
      if (other->value != Value::kOutput || !parsed.Has(other->id) || parsed.Value(other->id) == "-") continue;
      if (platform::SameTarget(target, parsed.Value(other->id)))
        return Refuse(std::move(parsed),
                      std::string(other->name) + " and " + row.name + " name the same file: " + target);
    }
  }
  parsed.action = ParsedArguments::Action::kRun;
  return parsed;
}

std::string Usage() {
  std::string out = kSynopsis;
  AppendSection(out, Section::kGeneral);
  out += kNarrowingIntro;
  AppendSection(out, Section::kNarrowing);
  out += kClosing;
  return out;
}

}  // namespace quillon::cli
