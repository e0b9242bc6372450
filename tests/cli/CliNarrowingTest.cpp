// quillon-cli's narrowing options, run as scripts run them: the printed tree, the streams and
// the exit status.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <sstream>
#include <string>

#include "logs/OpenLog.h"
#include "tests/cli/ShellRun.h"

namespace {

using CliRun = quillon::testing_support::ShellRun;

// Runs quillon-cli with `args` (already quoted for the shell) on the gateway's day log.
CliRun Cli(const std::string& args) {
  // The log first: options may follow it, and an option missing its value comes last.
  return quillon::testing_support::RunShell(std::string(QUILLON_CLI) + " " + QUILLON_SOURCE_DIR +
                                            "/examples/gateway-day.ilx " + args);
}

// The lines of the text tree up to a depth (two spaces per level).
std::string Top(const std::string& tree, std::size_t depth) {
  std::istringstream in(tree);
  std::string line, out;
  while (std::getline(in, line)) {
    const std::size_t indent = line.find_first_not_of(' ');
    if (indent <= depth * 2) out += line.substr(0, line.find("   ", indent)) + "\n";  // without the times
  }
  return out;
}

TEST(CliNarrowingTest, FiltersAndVerifyNarrowThePrintedTree) {
  struct Case {
    const char* args;
    const char* peers;  // the tree to the peers' children
  };
  const Case cases[] = {
      {"--filter-ip=0.0.0.3 --no-dpd",
       "IKE debugging info\n  198.51.100.23  (0.0.0.3)\n    Main Mode\n    QuickMode\n    Delete IPsec\n"
       "    Delete IKE\n"},
      // The quick mode of 09:30:49 carries SPI 7ffe758b in its first message, 6aa24c19 in its
      // second, none in its third: either finds it.
      {"--filter-spi 7ffe758b", "IKE debugging info\n  203.0.113.77\n    QuickMode\n"},
      {"--filter-spi 6aa24c19", "IKE debugging info\n  203.0.113.77\n    QuickMode\n"},
      {"--filter-user kmiller --failed-peers --verify=failed",
       "IKE debugging info\n  198.51.100.99\n    ConfigMode\n"},
      {"--verify=error,error",
       "IKE debugging info\n  192.168.50.2\n    Info PAYLOAD-MALFORMED\n  203.0.113.77\n"
       "    Info NO-PROPOSAL-CHOSEN\n    Info INVALID-ID-INFORMATION\n"},
  };
  for (const Case& c : cases) {
    const CliRun run = Cli(c.args);
    EXPECT_EQ(run.status, 0) << c.args << "\n" << run.err;
    EXPECT_EQ(Top(run.out, 2), c.peers) << c.args;
  }
  // The counts are those of the narrowed tree, and so is what --save writes.
  EXPECT_NE(Cli("--stats --filter-ip 192.0.2.10").out.find("peers: 1\n"), std::string::npos);
  const std::string saved = testing::TempDir() + "narrowed-" + std::to_string(getpid()) + ".ilx";
  EXPECT_EQ(Cli("--filter-ip 192.0.2.10 --no-dpd --save " + saved).status, 0);
  const quillon::OpenLogResult reread = quillon::OpenLog(saved);
  ASSERT_EQ(reread.status, quillon::OpenLogResult::Status::kLoaded);
  ASSERT_EQ(reread.log->ChildCount(), 1u);
  EXPECT_EQ(reread.log->Child(0)->Name(), "192.0.2.10");
  EXPECT_EQ(reread.log->Child(0)->ChildCount(), 1u) << "the tunnel alone, without the DPD exchanges";
  std::remove(saved.c_str());
}

TEST(CliNarrowingTest, FindPrintsTheMatchesAndTheirAncestors) {
  CliRun run = Cli("--find INVALID-ID --keys-only --filter-ip 203.0.113.77");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(Top(run.out, 4), "IKE debugging info\n  203.0.113.77\n    Info INVALID-ID-INFORMATION\n"
                             "      Notify:\n");

  run = Cli("--json --find NO-PROPOSAL-CHOSEN");
  EXPECT_EQ(run.status, 0);
  const std::string& json = run.out;
  EXPECT_EQ(json.rfind("{\"name\": \"IKE debugging info\"", 0), 0u);
  // The root and the peer carry "match" too; the peer's own text names the failure (and its
  // icon says it holds failed negotiations).
  EXPECT_NE(json.find("\"icon\": 0, \"match\": false, \"children\""), std::string::npos);
  EXPECT_NE(json.find("{\"name\": \"203.0.113.77\", \"caption\": \"203.0.113.77\", \"complete\": false, \"icon\": 17, "
                      "\"match\": true"),
            std::string::npos);
  EXPECT_EQ(json.find("198.51.100.40"), std::string::npos);

  run = Cli("--find kmiller --keys-only");
  EXPECT_EQ(run.status, 4);
  EXPECT_EQ(run.err, "String not found.\n");
  EXPECT_EQ(run.out, "IKE debugging info\n");

  // --ignore-case and --find-lines widen the search (what each finds: TreeSearchTest).
  EXPECT_NE(Cli("--find invalid-id --keys-only --ignore-case").out.find("Info INVALID-ID-INFORMATION"),
            std::string::npos);
  EXPECT_NE(Cli("--find 'its protected network is' --find-lines").out.find("203.0.113.77"), std::string::npos);
}

// The option table's refusals (OptionsTest) reach the user as exit status 2 with the usage.
TEST(CliNarrowingTest, UsageErrors) {
  for (const char* args : {"--verify=failed,bogus", "--filter-ip"}) {
    const CliRun run = Cli(args);
    EXPECT_EQ(run.status, 2) << args;
    EXPECT_EQ(run.err.rfind("quillon-cli: ", 0), 0u) << args << "\n" << run.err;
    EXPECT_NE(run.err.find("Usage: quillon-cli"), std::string::npos) << args;
  }
}

}  // namespace
