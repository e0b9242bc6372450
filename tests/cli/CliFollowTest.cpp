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
#include <vector>

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
    // A negotiation still open at the end of the log is printed once the grace passes.
    execl(QUILLON_CLI, QUILLON_CLI, "--follow", "--verify=failed", "--grace", "1", log.c_str(), static_cast<char*>(nullptr));
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

namespace quillon {
namespace {

// The live alarm on a log written packet by packet: a negotiation in progress is no failure.
// Only once no packet came for the grace period is one that never completed printed.
TEST(CliFollowTest, NegotiationsInProgressAreNotFailuresUntilTheGracePasses) {
  const std::string text = testing::ExampleText("small.ilx");
  std::vector<std::size_t> starts;  // each packet's first line: a separator or a header block
  for (std::size_t at = text.find("\n+++"); at != std::string::npos; at = text.find("\n+++", at + 1)) starts.push_back(at + 1);
  ASSERT_GT(starts.size(), 8u);
  const fs::path dir = fs::path(::testing::TempDir()) / ("quillon-cli-alarm-" + std::to_string(getpid()));
  fs::create_directories(dir);
  const fs::path log = dir / "gw.ilx", out = dir / "out.txt";
  WriteFileBytes(log, "");
  const auto follow = [&](const char* grace) {
    const pid_t child = fork();
    if (child == 0) {
      const int fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      dup2(fd, 1);
      dup2(open("/dev/null", O_WRONLY), 2);
      execl(QUILLON_CLI, QUILLON_CLI, "--follow", "--verify=failed", "--grace", grace, log.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    return child;
  };
  const auto stop = [](pid_t child) {
    kill(child, SIGTERM);
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  };
  // Every packet 0.1 s apart; the finished log has no failure, so nothing is printed.
  pid_t child = follow("60");
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  std::size_t written = 0;
  for (std::size_t i = 1; i <= starts.size(); ++i) {
    const std::size_t end = i < starts.size() ? starts[i] : text.size();
    WriteFileBytes(log, std::string_view(text).substr(written, end - written), std::ios::app);
    written = end;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(stop(child), 0);
  EXPECT_EQ(ReadFileBytes(out), "IKE debugging info\n");
  // A main mode that stops after its third packet fails once the grace has passed.
  WriteFileBytes(log, "");
  child = follow("1");
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  WriteFileBytes(log, text.substr(0, starts[3]), std::ios::app);
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  EXPECT_EQ(ReadFileBytes(out), "IKE debugging info\n") << "still within the grace";
  std::this_thread::sleep_for(std::chrono::milliseconds(1200));
  EXPECT_EQ(stop(child), 0);
  const std::string printed = ReadFileBytes(out);
  EXPECT_NE(printed.find("Main Mode"), std::string::npos) << printed;
  EXPECT_NE(printed.find("Failed"), std::string::npos) << printed;
  fs::remove_all(dir);
}

}  // namespace
}  // namespace quillon

namespace quillon {
namespace {

// A regrouped log rewritten in place while followed (cut short, then written again; then the
// same bytes once more with a new time): every reload builds the tree anew, and no negotiation
// shown before is printed again, although its peer's name and its state change meanwhile.
TEST(CliFollowTest, ARewrittenLogShowsNothingAgain) {
  const std::string text = testing::ExampleText("gateway-day.ilx");
  const fs::path dir = fs::path(::testing::TempDir()) / ("quillon-cli-rewrite-" + std::to_string(getpid()));
  fs::create_directories(dir);
  const fs::path log = dir / "gw.ilx", out = dir / "out.txt";
  WriteFileBytes(log, text);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    const int fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(fd, 1);
    execl(QUILLON_CLI, QUILLON_CLI, "--follow", log.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  const auto pause = [](int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); };
  for (int i = 0; i < 100 && ReadFileBytes(out).empty(); ++i) pause(50);
  pause(400);
  const std::string tree = ReadFileBytes(out);
  for (const std::size_t cut : {text.rfind("\n+++", text.size() / 2) + 1, text.rfind("\n+++", text.size() / 4) + 1}) {
    WriteFileBytes(log, text.substr(0, cut));
    pause(300);
    WriteFileBytes(log, text.substr(cut), std::ios::app);
    pause(300);
  }
  WriteFileBytes(log, text);
  fs::last_write_time(log, fs::last_write_time(log) + std::chrono::seconds(2));
  pause(300);
  kill(child, SIGTERM);
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  // A negotiation of the half-written file may be printed (one its end had not joined yet);
  // none the tree showed.
  std::istringstream lines(ReadFileBytes(out).substr(tree.size()));
  for (std::string line; std::getline(lines, line);) {
    const std::string caption = line.substr(line.rfind(" > ") + 3);
    EXPECT_EQ(tree.find("    " + caption + "\n"), std::string::npos) << line;
  }
  fs::remove_all(dir);
}

}  // namespace
}  // namespace quillon
