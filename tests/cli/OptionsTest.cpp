// quillon-cli's option table: what it accepts, what it refuses and why, in any order.
#include "cli/Options.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "tests/cli/ShellRun.h"

namespace {

using quillon::cli::Option;
using quillon::cli::ParsedArguments;

ParsedArguments Parse(const std::string& line) {
  std::vector<std::string> words{"quillon-cli"};
  std::istringstream in(line);
  for (std::string word; in >> word;) words.push_back(word);
  std::vector<const char*> argv;
  for (const std::string& word : words) argv.push_back(word.c_str());
  return quillon::cli::ParseArguments(static_cast<int>(argv.size()), argv.data());
}

TEST(OptionsTest, AcceptedArgumentsKeepTheirMeaning) {
  ParsedArguments args = Parse("--filter-ip=10.0.0.1 --find x --keys-only --verify=failed,error -- --json");
  ASSERT_EQ(args.action, ParsedArguments::Action::kRun) << args.error;
  EXPECT_EQ(args.Value(Option::kFilterIp), "10.0.0.1");
  EXPECT_EQ(args.Value(Option::kFind), "x");
  EXPECT_EQ(args.log, "--json") << "after --, an argument is LOG";
  EXPECT_FALSE(args.Has(Option::kJson));

  args = Parse("--verify - --json --json");  // "-" is LOG: --verify takes its list after "="
  ASSERT_EQ(args.action, ParsedArguments::Action::kRun) << args.error;
  EXPECT_EQ(args.log, "-");
  EXPECT_TRUE(args.Has(Option::kVerify));
  EXPECT_EQ(args.Value(Option::kVerify), "");
  EXPECT_TRUE(args.PrintsTree());

  args = Parse("--save out.ilx --timeline - LOG");
  ASSERT_EQ(args.action, ParsedArguments::Action::kRun) << args.error;
  EXPECT_TRUE(args.ToStdout(Option::kTimeline));
  EXPECT_FALSE(args.PrintsTree());

  EXPECT_EQ(Parse("LOG --bogus -h").action, ParsedArguments::Action::kUsageError);
  EXPECT_EQ(Parse("-h --bogus LOG").action, ParsedArguments::Action::kUsageError);
  EXPECT_EQ(Parse("-h --json --find x --stats").action, ParsedArguments::Action::kHelp);
  EXPECT_EQ(Parse("--version").action, ParsedArguments::Action::kVersion);
}

TEST(OptionsTest, ConflictsAreRefusedWithAReason) {
  const std::string tmp = testing::TempDir();
  struct Case {
    std::string args;
    const char* error;  // how the message begins
  };
  const Case cases[] = {
      {"--bogus", "unknown option --bogus"},
      {"--json=1", "unknown option --json=1"},
      {"--filter-ip a --filter-ip b", "only one --filter-ip may be given"},
      {"--find a --find=b", "only one --find may be given"},
      {"--verify --verify=failed", "only one --verify may be given"},
      {"--save a --save b", "only one --save may be given"},
      {"LOG --save", "--save needs a file name"},
      {"--timeline=", "--timeline needs a file name"},
      {"--verify=failed,nope", "--verify takes categories"},
      {"--keys-only", "--keys-only needs --find"},
      {"--ignore-case", "--ignore-case needs --find"},
      {"--find-lines", "--find-lines needs --find"},
      {"--verify=", "--verify takes"},
      {"LOG --filter-ip", "missing value for --filter-ip"},
      {"--stats --find x", "--stats counts the whole narrowed tree"},
      {"--follow --save x", "--follow cannot be combined with"},
      {"--follow --pcap x", "--follow cannot be combined with"},
      {"--events --json", "--events prints the events alone"},
      {"--timeline - --json", "--timeline -: only one output can go to standard output"},
      {"--save - --timeline -", "--timeline -: only one output"},
      {"--save - --stats", "--save -: only one output"},
      {"--save X --timeline X", "--save and --timeline name the same file: X"},
      {"--save " + tmp + "/new.ilx --timeline " + tmp + "/./new.ilx", "--save and --timeline name the same file"},
      {"", "no LOG given"},
  };
  for (const Case& c : cases) {
    // LOG comes first where the option would take it as its value.
    const ParsedArguments args = Parse(c.args.starts_with("LOG") ? c.args : c.args + (c.args.empty() ? "" : " LOG"));
    EXPECT_EQ(args.action, ParsedArguments::Action::kUsageError) << c.args;
    EXPECT_EQ(args.error.rfind(c.error, 0), 0u) << c.args << ": " << args.error;
  }
  EXPECT_EQ(Parse("LOG other").error, "only one LOG may be given");
}

// "-" is standard output for every output: the saved log comes out there and loads as the file.
TEST(OptionsTest, SaveToStandardOutput) {
  const std::string cli = QUILLON_CLI;
  const std::string log = std::string(QUILLON_SOURCE_DIR) + "/examples/small.ilx";
  const std::string saved = testing::TempDir() + "stdout-save-" + std::to_string(getpid()) + ".ilx";
  const auto run = quillon::testing_support::RunShell("cd '" + testing::TempDir() + "' && '" + cli + "' --save - '" +
                                                      log + "' > '" + saved + "' && test ! -e ./-");
  EXPECT_EQ(run.status, 0) << run.err;
  const auto stats = quillon::testing_support::RunShell("'" + cli + "' --stats '" + saved + "' | head -5");
  const auto original = quillon::testing_support::RunShell("'" + cli + "' --stats '" + log + "' | head -5");
  EXPECT_EQ(stats.out, original.out);
  std::remove(saved.c_str());
}

}  // namespace
