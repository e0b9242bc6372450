// quillon-cli at the ends of its streams, run through the shell as scripts run it: a log on
// standard input, a directory given as LOG, a full output device and a reader that stops early.
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <string>
#include <string_view>
#include <vector>

#include "model/AddressSanitizer.h"
#include "tests/cli/ShellRun.h"

namespace {

using quillon::testing_support::ShellRun;

// Runs `command` with "CLI", "EXAMPLES" and a fresh scratch folder "T" set for it.
ShellRun Shell(const std::string& command) {
  const std::string tmp = testing::TempDir() + "quillon-streams-" + std::to_string(getpid());
  return quillon::testing_support::RunShell(std::string("CLI='") + QUILLON_CLI + "' EXAMPLES='" + QUILLON_SOURCE_DIR +
                                            "/examples' T='" + tmp + "'; rm -rf \"$T\"; mkdir -p \"$T\"; (" + command +
                                            "); s=$?; rm -rf \"$T\"; exit $s");
}

struct Case {
  std::string command;
  int status;
  const char* err;  // what stderr holds ("": nothing; null: not checked)
};

// Runs every case; the status and a part of stderr as given, within 20 seconds.
void Check(const std::vector<Case>& cases) {
  for (const Case& c : cases) {
#ifdef QUILLON_ASAN
    // The sanitizer maps terabytes of shadow memory at start: under an address-space limit it
    // cannot start at all.
    if (c.command.find("ulimit -v") != std::string::npos) continue;
#endif
    const auto start = std::chrono::steady_clock::now();
    const ShellRun run = Shell(c.command);
    EXPECT_EQ(run.status, c.status) << c.command << ": " << run.err;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20)) << c.command;
    if (c.err == nullptr) continue;
    if (*c.err == '\0') {
      EXPECT_EQ(run.err, "") << c.command;
    }
    EXPECT_NE(run.err.find(c.err), std::string::npos) << c.command << ": " << run.err;
  }
}

// A log however it comes loads as the file: "-" (format told by the content, compressed or
// not), a pipe named as a path, a FIFO with a writer (which a second open would wait on for
// ever), a file named "-" in the folder (not read for "-"). The JSON's "lines" too are counted
// in the bytes the load read.
TEST(CliStreamsTest, EverySourceLoadsAsTheFile) {
  for (const char* name : {"small.ilx", "ikev2-site-to-site.xml"}) {
    const std::string log = std::string("\"$EXAMPLES/") + name + "\"";
    const ShellRun file = Shell("\"$CLI\" --json " + log);
    ASSERT_EQ(file.status, 0) << file.err;
    if (std::string_view(name) == "small.ilx") {
      ASSERT_NE(file.out.find("\"lines\": [5, 116]"), std::string::npos);
    }
    std::vector<std::string> commands = {
        "cat " + log + " | \"$CLI\" --json -",
        "gzip -c " + log + " | \"$CLI\" --json -",
        "mkfifo \"$T/f\"; (cat " + log + " > \"$T/f\" &); timeout 5 \"$CLI\" --json \"$T/f\"",
        "cd \"$T\" && touch ./- && \"$CLI\" --json - < " + log,
        "gzip -c " + log + " > \"$T/" + name + ".gz\"; \"$CLI\" --json \"$T/" + name + ".gz\""};
    if (std::string_view(name).ends_with(".xml")) commands.push_back("cat " + log + " | \"$CLI\" --json /dev/stdin");
    for (const std::string& command : commands) {
      const ShellRun run = Shell(command);
      EXPECT_EQ(run.status, 0) << command << ": " << run.err;
      EXPECT_EQ(run.out, file.out) << command;
    }
  }
}

// What scripts parse parses: the JSON tree (with texts, narrowed or not) of every sample log,
// read by a JSON parser no one here wrote.
TEST(CliStreamsTest, JsonOutputParses) {
  if (Shell("command -v python3 >/dev/null").status != 0) GTEST_SKIP() << "python3 is not installed";
  for (const char* name : {"small.ilx", "gateway-day.ilx", "ikev2-site-to-site.xml", "ikev2-remote-access.xml"}) {
    for (const char* options : {"--json --texts", "--json --verify=failed", "--json --find Notify --keys-only"}) {
      const ShellRun run = Shell(std::string("\"$CLI\" ") + options + " \"$EXAMPLES/" + name +
                                 "\" | python3 -c 'import json, sys; json.load(sys.stdin); print(\"ok\")'");
      EXPECT_EQ(run.out, "ok\n") << name << " " << options << ": " << run.err;
    }
  }
}

TEST(CliStreamsTest, FailuresAreReportedWithExitOne) {
  Check({
      Case{"mkdir -p \"$T/dir.ilx\"; \"$CLI\" \"$T/dir.ilx\"", 1, "dir.ilx (Is a directory)\n"},
      // A path's control bytes reach the terminal as visible escapes, UTF-8 as it is.
      Case{"\"$CLI\" \"$T/$(printf 'a\\033]0;x\\007\\302\\233\\303\\251')\"", 1,
           "a\\x1b]0;x\\x07\\xc2\\x9b\xc3\xa9 (No such file or directory)\n"},
      // --follow follows a file that grows in place; a stream would keep it waiting.
      Case{"mkfifo \"$T/f.ilx\"; timeout 5 \"$CLI\" --follow \"$T/f.ilx\"", 1, "f.ilx is a FIFO\n"},
      Case{"timeout 5 \"$CLI\" --follow /dev/zero", 1,
           "quillon-cli: --follow needs a regular file: /dev/zero is a character device\n"},
      Case{"cd \"$T\" && touch ./- && timeout 5 \"$CLI\" --follow - < \"$EXAMPLES/small.ilx\"", 1, "- is standard input\n"},
      Case{"\"$CLI\" \"$EXAMPLES/small.ilx\" >/dev/full", 1, "quillon-cli: cannot write the output: No space left on device\n"},
      Case{"\"$CLI\" --json --texts \"$EXAMPLES/gateway-day.ilx\" >/dev/full", 1,
           "quillon-cli: cannot write the output: No space left on device\n"},
      // A reader that has what it wants and goes away is no failure to report.
      Case{"\"$CLI\" --texts \"$EXAMPLES/gateway-day.ilx\" | head -1 >/dev/null", 0, ""},
  });
}

// A compressed file or a stream is read only as far as it takes to tell it is no log, and never
// past the size limit: no decompression bomb fills the memory or aborts on it.
TEST(CliStreamsTest, BombsAndEndlessStreamsStopEarly) {
  Check({
      Case{"head -c 64M /dev/zero | gzip -1 > \"$T/zeros.ilx.gz\"; \"$CLI\" \"$T/zeros.ilx.gz\"", 3, "Wrong file type"},
      Case{"head -c 1G /dev/zero | \"$CLI\" -", 3, "Wrong file type"},
      // 200 MB of text in 1 MB: under an address-space limit it is too large, not a crash.
      Case{"yes | head -c 200M | gzip -1 > \"$T/text.ilx.gz\"; ulimit -v 250000; \"$CLI\" \"$T/text.ilx.gz\"", 1,
           "(File too large)"},
      Case{"gzip -c \"$EXAMPLES/small.ilx\" | \"$CLI\" --max-size 16K -", 1, "Failed to open file: - (File too large)"},
      Case{"cat \"$EXAMPLES/small.ilx\" | \"$CLI\" --max-size 16K -", 1, "(File too large)"},
  });
  EXPECT_EQ(Shell("cat \"$EXAMPLES/small.ilx\" | \"$CLI\" --max-size 17K --stats - | tail -1").out, "reader: IKEv1\n");
}

// The log read through standard input is recognised by identity like a named one, and a save
// that cannot finish leaves no temporary file.
TEST(CliStreamsTest, SavesNeverReplaceTheLogOrLeaveTemporaries) {
  // Exit status 99 when the log changed or something besides it is left in the folder.
  const auto keeps = [](const std::string& command) {
    return "cp \"$EXAMPLES/gateway-day.ilx\" \"$T/gw.ilx\"; " + command +
           "; s=$?; cmp -s \"$EXAMPLES/gateway-day.ilx\" \"$T/gw.ilx\" && [ \"$(ls -A \"$T\")\" = gw.ilx ] || s=99; exit $s";
  };
  Check({
      Case{keeps("\"$CLI\" --save \"$T/gw.ilx\" - < \"$T/gw.ilx\""), 5, "is currently open."},
      // A damaged log whose daemon restarts no debug log can place as they are is saved all the
      // same, with a warning; a sound log saves without one.
      Case{"\"$CLI\" --save \"$T/out.ilx\" \"$EXAMPLES/../tests/data/restarts-the-format-cannot-place.ilx\" && "
           "\"$CLI\" --stats \"$T/out.ilx\" > /dev/null",
           0, "quillon-cli: warning: the saved log cannot place every negotiation between the daemon restarts"},
      Case{"\"$CLI\" --save - \"$EXAMPLES/gateway-day.ilx\" > /dev/null", 0, ""},
      // A garbled vendor label whose search runs past its bound: the words passed over are in no
      // node, and the save says so.
      Case{"sed \"0,/VIDData: 68 b9 5f 84 b0 f7 d5 9d/s//VIDDaat: $(printf 'aa %.0s' $(seq 120))/\" "
           "\"$EXAMPLES/gateway-day.ilx\" > \"$T/d.ilx\" && \"$CLI\" --save \"$T/out.ilx\" \"$T/d.ilx\"",
           0, "quillon-cli: warning: the saved log cannot hold some damaged lines of this log"},
      Case{keeps("\"$CLI\" --timeline \"$T/gw.ilx\" - < \"$T/gw.ilx\""), 1, "is currently open."},
      Case{keeps("(ulimit -f 1; \"$CLI\" --save \"$T/out.ilx\" \"$T/gw.ilx\")"), 5, "File too large"},
      // Ended by SIGTERM in the middle of a large save.
      Case{keeps("for i in $(seq 300); do cat \"$T/gw.ilx\"; done > \"$T/big.ilx\"; \"$CLI\" --save \"$T/out.ilx\" "
                 "\"$T/big.ilx\" & p=$!; sleep 0.3; kill -TERM $p; wait $p; s=$?; rm \"$T/big.ilx\"; (exit $s)"),
           143, nullptr},
  });
}

}  // namespace
