// quillon-cli's command line: one table of options that both parses the arguments and prints
// the usage. An option is added by a value of `Option` and a row of the table in Options.cpp
// (its name, its value, its help lines and what it cannot be combined with); main() then asks
// the parsed arguments for it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "model/Narrowing.h"

namespace quillon::cli {

enum class Option : std::size_t {
  kTexts,
  kJson,
  kStats,
  kFollow,
  kSave,
  kTimeline,
  kHelp,
  kVersion,
  kFilterIp,
  kFilterCookie,
  kFilterSpi,
  kFilterUser,
  kFailedPeers,
  kNoDpd,
  kVerify,
  kFind,
  kKeysOnly,
  kIgnoreCase,
  kFindLines,
  kPcap,
  kReport,
  kEvents,
  kMaxSize,
  kGrace,
  kCount
};

constexpr std::size_t Index(Option option) { return static_cast<std::size_t>(option); }

struct ParsedArguments {
  enum class Action {
    kRun,         // load LOG
    kHelp,        // print Usage() on standard output, exit 0
    kVersion,     // print the version, exit 0
    kUsageError,  // `error` says why, exit 2
  };
  Action action = Action::kUsageError;
  std::string error;
  std::string log;  // LOG; "-" is standard input

  bool Has(Option option) const { return given[Index(option)]; }
  // The option's value; empty for a flag, or for --verify given without a list.
  const std::string& Value(Option option) const { return values[Index(option)]; }
  // An output option whose value is "-": it writes to standard output.
  bool ToStdout(Option option) const { return Has(option) && Value(option) == "-"; }
  // Whether the tree (or the counts) is printed: always, unless an output file is written and
  // no printing option asks for it as well.
  bool PrintsTree() const;

  std::array<bool, Index(Option::kCount)> given{};
  std::array<std::string, Index(Option::kCount)> values;
};

// Parses argv[1..argc). The same arguments give the same answer in any order: an unknown
// option, a missing or bad value or a repeated single-valued option is an error even after -h;
// -h then wins over the remaining checks (no LOG, conflicts).
ParsedArguments ParseArguments(int argc, const char* const* argv);

// The --help text, the option lines made from the table.
std::string Usage();

// "--verify=failed,error": the named categories on, the others off. Nothing for an unknown or
// missing name.
std::optional<VerifyCriteria> VerifyList(std::string_view list);

// "4096", "512K", "64M", "8G": a size in bytes (K, M and G are binary multiples). Nothing for
// anything else, for 0 or for a size past 2^64.
std::optional<std::uint64_t> SizeValue(std::string_view text);

}  // namespace quillon::cli
