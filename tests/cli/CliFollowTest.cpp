// quillon-cli --follow as a live alarm: the failures appended to a log are printed as they come,
// and SIGTERM ends it with exit status 0.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fcntl.h>
#include <filesystem>
#include <set>
#include <sstream>
#include <string>
#include <thread>

#include "cli/TreePrinter.h"
#include "logs/OpenLog.h"
#include "model/Narrowing.h"
#include "tests/ScratchDir.h"

namespace quillon {
namespace {

namespace fs = std::filesystem;

using testing::ReadFileBytes;
using testing::WriteFileBytes;

// The lines --follow --verify=failed gives for the negotiations of a loaded log.
std::set<std::string> FailedLines(const std::string& text, const fs::path& path) {
  WriteFileBytes(path, text);
  OpenLogResult result = OpenLog(path.string());
  std::set<std::string> lines;
  if (!result.log) return lines;
  const VerifyCriteria failed{true, false, false, false, false};
  for (const auto& peer : result.log->Children())
    for (const auto& [tunnel, exchange] : cli::ShownNegotiations(*peer))
      if (ShownAfterNarrowing({}, &failed, *peer, tunnel, *exchange)) lines.insert(cli::FollowLine(*peer, tunnel, *exchange, false));
  return lines;
}

TEST(CliFollowTest, AppendedFailuresArePrintedAndSigtermEndsIt) {
  const std::string text = testing::ExampleText("gateway-day.ilx");
  const std::size_t cut = text.rfind("\n+++", text.size() / 2) + 1;
  const fs::path dir = fs::path(::testing::TempDir()) / ("quillon-cli-follow-" + std::to_string(getpid()));
  fs::create_directories(dir);
  std::set<std::string> expected = FailedLines(text, dir / "whole.ilx");
  for (const std::string& line : FailedLines(text.substr(0, cut), dir / "first.ilx")) expected.erase(line);
  ASSERT_FALSE(expected.empty());

  const fs::path log = dir / "gw.ilx";
  const fs::path out = dir / "out.txt";
  WriteFileBytes(log, text.substr(0, cut));
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    const int fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(fd, 1);
    execl(QUILLON_CLI, QUILLON_CLI, "--follow", "--verify=failed", log.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  // The tree is printed first; then the rest of the log is appended.
  const auto waitFor = [&](auto done) {
    for (int i = 0; i < 100 && !done(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  };
  waitFor([&] { return !ReadFileBytes(out).empty(); });
  std::this_thread::sleep_for(std::chrono::milliseconds(200));  // the whole tree
  const std::string tree = ReadFileBytes(out);
  WriteFileBytes(log, text.substr(cut), std::ios::app);
  const auto allPrinted = [&] {
    const std::string printed = ReadFileBytes(out);
    for (const std::string& line : expected)
      if (printed.find("\n" + line + "\n") == std::string::npos) return false;
    return true;
  };
  waitFor(allPrinted);
  EXPECT_TRUE(allPrinted());
  kill(child, SIGTERM);
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  // Every line after the tree is a failure.
  std::istringstream lines(ReadFileBytes(out).substr(tree.size()));
  for (std::string line; std::getline(lines, line);) EXPECT_NE(line.find("Failed"), std::string::npos) << line;
  fs::remove_all(dir);
}

}  // namespace
}  // namespace quillon
