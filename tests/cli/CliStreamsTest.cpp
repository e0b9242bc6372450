// quillon-cli at the ends of its streams, run through the shell as scripts run it: a log on
// standard input, a directory given as LOG, a full output device and a reader that stops early.
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <string>
#include <string_view>

#include "model/AddressSanitizer.h"
#include "tests/cli/ShellRun.h"

namespace {

using quillon::testing_support::ShellRun;

// Runs `command` with "CLI" and "EXAMPLES" set for it.
ShellRun Shell(const std::string& command) {
  return quillon::testing_support::RunShell(std::string("CLI='") + QUILLON_CLI + "' EXAMPLES='" +
                                            QUILLON_SOURCE_DIR + "/examples'; " + command);
}

// "-" reads standard input, its format recognised by the content; a pipe named as a path
// (/dev/stdin) loads as the file does too.
TEST(CliStreamsTest, StandardInputAndPipesLoadAsTheFile) {
  for (const char* name : {"small.ilx", "ikev2-site-to-site.xml"}) {
    const ShellRun file = Shell(std::string("\"$CLI\" --stats \"$EXAMPLES/") + name + "\" | head -5");
    ASSERT_EQ(file.status, 0) << file.err;
    EXPECT_NE(file.out.find("packets: "), std::string::npos);
    for (const char* as : {"-", "/dev/stdin"}) {
      if (std::string(as) == "/dev/stdin" && std::string(name).ends_with(".ilx")) continue;  // the path says XML
      const ShellRun piped = Shell(std::string("cat \"$EXAMPLES/") + name + "\" | \"$CLI\" --stats " + as + " | head -5");
      EXPECT_EQ(piped.status, 0) << name << " " << as << ": " << piped.err;
      EXPECT_EQ(piped.out, file.out) << name << " " << as;
    }
    const ShellRun compressed = Shell(std::string("gzip -c \"$EXAMPLES/") + name + "\" | \"$CLI\" --stats - | head -5");
    EXPECT_EQ(compressed.status, 0) << name << ": " << compressed.err;
    EXPECT_EQ(compressed.out, file.out) << name << " gzip-compressed on standard input";
  }
}

// The JSON's "lines" are counted in the bytes the load read, whatever LOG is: a FIFO with a
// writer (which a second open would wait on for ever), standard input, a compressed log.
TEST(CliStreamsTest, JsonLinesComeFromTheBytesRead) {
  const std::string tmp = testing::TempDir() + "quillon-lines-" + std::to_string(getpid());
  Shell("rm -rf '" + tmp + "'; mkdir -p '" + tmp + "'");
  const ShellRun file = Shell("\"$CLI\" --json \"$EXAMPLES/small.ilx\"");
  ASSERT_EQ(file.status, 0);
  ASSERT_NE(file.out.find("\"lines\": [5, 116]"), std::string::npos);
  for (const char* command : {
           "mkfifo \"$T/f.ilx\"; (cat \"$EXAMPLES/small.ilx\" > \"$T/f.ilx\" &); timeout 5 \"$CLI\" --json \"$T/f.ilx\"",
           "cat \"$EXAMPLES/small.ilx\" | \"$CLI\" --json -",
           "cd \"$T\" && touch ./- && \"$CLI\" --json - < \"$EXAMPLES/small.ilx\"",
           "gzip -c \"$EXAMPLES/small.ilx\" > \"$T/small.ilx.gz\"; \"$CLI\" --json \"$T/small.ilx.gz\"",
       }) {
    const ShellRun run = Shell("T='" + tmp + "'; " + command);
    EXPECT_EQ(run.status, 0) << command << ": " << run.err;
    EXPECT_EQ(run.out, file.out) << command;
  }
  Shell("rm -rf '" + tmp + "'");
}

// What scripts parse parses: the JSON tree (with texts, narrowed or not) and the events of
// every sample log, read by a JSON parser no one here wrote.
TEST(CliStreamsTest, MachineReadableOutputParses) {
  if (Shell("command -v python3 >/dev/null").status != 0) GTEST_SKIP() << "python3 is not installed";
  for (const char* name : {"small.ilx", "gateway-day.ilx", "ikev2-site-to-site.xml", "ikev2-remote-access.xml"}) {
    for (const char* options : {"--json --texts", "--json --verify=failed", "--json --find Notify --keys-only"}) {
      const ShellRun run = Shell(std::string("\"$CLI\" ") + options + " \"$EXAMPLES/" + name +
                                 "\" | python3 -c 'import json, sys; json.load(sys.stdin); print(\"ok\")'");
      EXPECT_EQ(run.out, "ok\n") << name << " " << options << ": " << run.err;
    }
    const ShellRun events = Shell(std::string("\"$CLI\" --events \"$EXAMPLES/") + name +
                                  "\" | python3 -c 'import json, sys; print(sum(1 for line in sys.stdin if json.loads(line)))'");
    EXPECT_EQ(events.status, 0) << name << ": " << events.err;
    EXPECT_NE(events.out, "0\n") << name;
  }
}

TEST(CliStreamsTest, FailuresAreReportedWithExitOne) {
  struct Case {
    const char* command;
    int status;
    const char* err;  // what stderr holds
  };
  for (const Case& c : {
           Case{"mkdir -p \"$TMPDIR_Q/dir.ilx\"; \"$CLI\" \"$TMPDIR_Q/dir.ilx\"", 1, "dir.ilx (Is a directory)\n"},
           // A path's control bytes reach the terminal as visible escapes, UTF-8 as it is.
           Case{"\"$CLI\" \"$TMPDIR_Q/$(printf 'a\\033]0;x\\007\\302\\233\\303\\251')\"", 1,
                "a\\x1b]0;x\\x07\\xc2\\x9b\xc3\xa9 (No such file or directory)\n"},
           // --follow follows a file that grows in place; a stream would keep it waiting.
           Case{"mkfifo \"$TMPDIR_Q/f.ilx\"; timeout 5 \"$CLI\" --follow \"$TMPDIR_Q/f.ilx\"", 1, "f.ilx is a FIFO\n"},
           Case{"timeout 5 \"$CLI\" --follow /dev/zero", 1,
                "quillon-cli: --follow needs a regular file: /dev/zero is a character device\n"},
           Case{"cd \"$TMPDIR_Q\" && touch ./- && timeout 5 \"$CLI\" --follow - < \"$EXAMPLES/small.ilx\"", 1,
                "- is standard input\n"},
           Case{"\"$CLI\" \"$EXAMPLES/small.ilx\" >/dev/full", 1,
                "quillon-cli: cannot write the output: No space left on device\n"},
           Case{"\"$CLI\" --json --texts \"$EXAMPLES/gateway-day.ilx\" >/dev/full", 1,
                "quillon-cli: cannot write the output: No space left on device\n"},
           // A reader that has what it wants and goes away is no failure to report.
           Case{"\"$CLI\" --texts \"$EXAMPLES/gateway-day.ilx\" | head -1 >/dev/null", 0, ""},
       }) {
    const std::string tmp = testing::TempDir() + "quillon-streams-" + std::to_string(getpid());
    Shell("mkdir -p '" + tmp + "'");
    const ShellRun run = Shell("TMPDIR_Q='" + tmp + "'; " + c.command);
    EXPECT_EQ(run.status, c.status) << c.command << ": " << run.err;
    EXPECT_TRUE(run.err.ends_with(c.err)) << c.command << ": " << run.err;
    if (*c.err == '\0') {
      EXPECT_EQ(run.err, "") << c.command;
    }
    Shell("rm -rf '" + tmp + "'");
  }
}

// A compressed file or a stream is read only as far as it takes to tell it is no log, and never
// past the size limit: no decompression bomb fills the memory or aborts on it.
TEST(CliStreamsTest, BombsAndEndlessStreamsStopEarly) {
  const std::string tmp = testing::TempDir() + "quillon-bombs-" + std::to_string(getpid());
  struct Case {
    const char* command;
    int status;
    const char* err;
  };
  for (const Case& c : {
           Case{"head -c 64M /dev/zero | gzip -1 > \"$T/zeros.ilx.gz\"; \"$CLI\" \"$T/zeros.ilx.gz\"", 3, "Wrong file type"},
           Case{"head -c 1G /dev/zero | \"$CLI\" -", 3, "Wrong file type"},
           // 200 MB of text in 1 MB: under an address-space limit it is too large, not a crash.
           Case{"yes | head -c 200M | gzip -1 > \"$T/text.ilx.gz\"; ulimit -v 250000; \"$CLI\" \"$T/text.ilx.gz\"", 1,
                "(File too large)"},
           Case{"gzip -c \"$EXAMPLES/small.ilx\" | \"$CLI\" --max-size 16K -", 1, "Failed to open file: - (File too large)"},
           Case{"cat \"$EXAMPLES/small.ilx\" | \"$CLI\" --max-size 16K -", 1, "(File too large)"},
       }) {
#ifdef QUILLON_ASAN
    // The sanitizer maps terabytes of shadow memory at start: under an address-space limit it
    // cannot start at all.
    if (std::string_view(c.command).find("ulimit -v") != std::string_view::npos) continue;
#endif
    Shell("rm -rf '" + tmp + "'; mkdir -p '" + tmp + "'");
    const auto start = std::chrono::steady_clock::now();
    const ShellRun run = Shell("T='" + tmp + "'; (" + c.command + ")");
    EXPECT_EQ(run.status, c.status) << c.command << ": " << run.err;
    EXPECT_NE(run.err.find(c.err), std::string::npos) << c.command << ": " << run.err;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20)) << c.command;
  }
  EXPECT_EQ(Shell("cat \"$EXAMPLES/small.ilx\" | \"$CLI\" --max-size 17K --stats - | tail -1").out, "reader: IKEv1\n");
  Shell("rm -rf '" + tmp + "'");
}

// The log read through standard input is recognised by identity like a named one, and a save
// that cannot finish leaves no temporary file.
TEST(CliStreamsTest, SavesNeverReplaceTheLogOrLeaveTemporaries) {
  const std::string tmp = testing::TempDir() + "quillon-saves-" + std::to_string(getpid());
  struct Case {
    const char* command;
    int status;
    const char* err;
  };
  for (const Case& c : {
           Case{"\"$CLI\" --save \"$T/gw.ilx\" - < \"$T/gw.ilx\"", 5, "is currently open."},
           Case{"\"$CLI\" --timeline \"$T/gw.ilx\" - < \"$T/gw.ilx\"", 1, "is currently open."},
           Case{"ulimit -f 1; \"$CLI\" --save \"$T/out.ilx\" \"$T/gw.ilx\"", 5, "File too large"},
           // Ended by SIGTERM or SIGINT in the middle of a large save.
           Case{"for i in $(seq 300); do cat \"$T/gw.ilx\"; done > \"$T/big.ilx\"; \"$CLI\" --save \"$T/out.ilx\" "
                "\"$T/big.ilx\" & p=$!; sleep 0.3; kill -TERM $p; wait $p; s=$?; rm \"$T/big.ilx\"; exit $s", 143, ""},
       }) {
    Shell("rm -rf '" + tmp + "'; mkdir -p '" + tmp + "'; cp \"$EXAMPLES/gateway-day.ilx\" '" + tmp + "/gw.ilx'");
    const ShellRun run = Shell("T='" + tmp + "'; (" + c.command + ")");
    EXPECT_EQ(run.status, c.status) << c.command << ": " << run.err;
    EXPECT_NE(run.err.find(c.err), std::string::npos) << c.command << ": " << run.err;
    const ShellRun left = Shell("T='" + tmp + "'; cmp \"$EXAMPLES/gateway-day.ilx\" \"$T/gw.ilx\" && ls -A \"$T\"");
    EXPECT_EQ(left.out, "gw.ilx\n") << c.command;
  }
  Shell("rm -rf '" + tmp + "'");
}

}  // namespace
