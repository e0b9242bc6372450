// quillon-cli --follow as a live alarm: failures are printed once they are final, SIGTERM ends
// it with exit status 0, and a log rewritten in place shows nothing twice.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/ScratchDir.h"

namespace quillon {
namespace {

namespace fs = std::filesystem;

using testing::ReadFileBytes;
using testing::WriteFileBytes;

void Pause(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// Starts `quillon-cli --follow ARGS... LOG` with its standard output in `out`.
pid_t StartFollow(std::vector<const char*> args, const fs::path& log, const fs::path& out) {
  const pid_t child = fork();
  if (child == 0) {
    dup2(open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 1);
    dup2(open("/dev/null", O_WRONLY), 2);
    args.insert(args.begin(), {QUILLON_CLI, "--follow"});
    args.push_back(log.c_str());
    args.push_back(nullptr);
    execv(QUILLON_CLI, const_cast<char* const*>(args.data()));
    _exit(127);
  }
  return child;
}

// SIGTERM, then the exit status (-1 when it did not exit).
int Stop(pid_t child) {
  kill(child, SIGTERM);
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

fs::path TempFolder(const std::string& name) {
  const fs::path dir = fs::path(::testing::TempDir()) / (name + std::to_string(getpid()));
  fs::create_directories(dir);
  return dir;
}

// The live alarm on a log written packet by packet: a negotiation in progress is no failure.
// Only once no packet came for the grace period is one that never completed printed.
TEST(CliFollowTest, NegotiationsInProgressAreNotFailuresUntilTheGracePasses) {
  const std::string text = testing::ExampleText("small.ilx");
  std::vector<std::size_t> starts;  // each packet's first line: a separator or a header block
  for (std::size_t at = text.find("\n+++"); at != std::string::npos; at = text.find("\n+++", at + 1)) starts.push_back(at + 1);
  ASSERT_GT(starts.size(), 8u);
  const fs::path dir = TempFolder("quillon-cli-alarm-");
  const fs::path log = dir / "gw.ilx", out = dir / "out.txt";
  WriteFileBytes(log, "");
  // Every packet 0.1 s apart; the finished log has no failure, so nothing is printed.
  pid_t child = StartFollow({"--verify=failed", "--grace", "60"}, log, out);
  Pause(300);
  std::size_t written = 0;
  for (std::size_t i = 1; i <= starts.size(); ++i) {
    const std::size_t end = i < starts.size() ? starts[i] : text.size();
    WriteFileBytes(log, std::string_view(text).substr(written, end - written), std::ios::app);
    written = end;
    Pause(100);
  }
  Pause(300);
  EXPECT_EQ(Stop(child), 0);
  EXPECT_EQ(ReadFileBytes(out), "IKE debugging info\n");
  // A main mode that stops after its third packet fails once the grace has passed.
  WriteFileBytes(log, "");
  child = StartFollow({"--verify=failed", "--grace", "1"}, log, out);
  Pause(300);
  WriteFileBytes(log, text.substr(0, starts[3]), std::ios::app);
  Pause(500);
  EXPECT_EQ(ReadFileBytes(out), "IKE debugging info\n") << "still within the grace";
  Pause(1200);
  EXPECT_EQ(Stop(child), 0);
  const std::string printed = ReadFileBytes(out);
  EXPECT_NE(printed.find("Main Mode"), std::string::npos) << printed;
  EXPECT_NE(printed.find("Failed"), std::string::npos) << printed;
  fs::remove_all(dir);
}

// A regrouped log rewritten in place while followed (cut short, then written again; then the
// same bytes once more with a new time): every reload builds the tree anew, and no negotiation
// shown before is printed again, although its peer's name and its state change meanwhile.
TEST(CliFollowTest, ARewrittenLogShowsNothingAgain) {
  const std::string text = testing::ExampleText("gateway-day.ilx");
  const fs::path dir = TempFolder("quillon-cli-rewrite-");
  const fs::path log = dir / "gw.ilx", out = dir / "out.txt";
  WriteFileBytes(log, text);
  const pid_t child = StartFollow({}, log, out);
  for (int i = 0; i < 100 && ReadFileBytes(out).empty(); ++i) Pause(50);
  Pause(400);
  const std::string tree = ReadFileBytes(out);
  for (const std::size_t cut : {text.rfind("\n+++", text.size() / 2) + 1, text.rfind("\n+++", text.size() / 4) + 1}) {
    WriteFileBytes(log, text.substr(0, cut));
    Pause(300);
    WriteFileBytes(log, text.substr(cut), std::ios::app);
    Pause(300);
  }
  WriteFileBytes(log, text);
  fs::last_write_time(log, fs::last_write_time(log) + std::chrono::seconds(2));
  Pause(300);
  EXPECT_EQ(Stop(child), 0);
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
