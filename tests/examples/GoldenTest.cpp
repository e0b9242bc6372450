// The whole printed output of the sample logs, pinned byte for byte: every caption, detail
// text, icon, state, log line range and diagnosis of examples/, whole and narrowed, and their
// timeline pictures. The cases
// and their expected output are data in tests/golden/ (scripts/update-golden.sh writes them).
#include <gtest/gtest.h>

#include <cstddef>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <string_view>

#include "tests/cli/ShellRun.h"

namespace {

const std::string kGolden = std::string(QUILLON_SOURCE_DIR) + "/tests/golden/";

// Line `n` (from 1) of `text`, cut to a readable length.
std::string LineAt(std::string_view text, std::size_t start) {
  const std::size_t end = text.find('\n', start);
  const std::string_view line = text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
  return std::string(line.substr(0, 400)) + (line.size() > 400 ? " ..." : "");
}

// "" when equal, else the first line that differs in both texts.
std::string FirstDifference(std::string_view expected, std::string_view actual) {
  std::size_t at = 0, line = 1, start = 0;
  while (at < expected.size() && at < actual.size() && expected[at] == actual[at]) {
    if (expected[at++] == '\n') {
      ++line;
      start = at;
    }
  }
  if (at == expected.size() && at == actual.size()) return "";
  std::ostringstream out;
  out << "first difference in line " << line << " (column " << at - start + 1 << ")\n  expected: "
      << (start < expected.size() ? LineAt(expected, start) : "(end of output)")
      << "\n  actual:   " << (start < actual.size() ? LineAt(actual, start) : "(end of output)");
  return out.str();
}

TEST(GoldenTest, SampleOutputsAreUnchanged) {
  std::ifstream cases(kGolden + "cases.txt");
  ASSERT_TRUE(cases) << kGolden;
  std::string line;
  std::size_t compared = 0;
  while (std::getline(cases, line)) {
    if (line.empty() || line[0] == '#') continue;
    const std::size_t blank = line.find(' ');
    const std::string file = line.substr(0, blank), args = line.substr(blank + 1);
    SCOPED_TRACE(file + ": quillon-cli " + args);
    const auto run = quillon::testing_support::RunShell(std::string("cd '") + QUILLON_SOURCE_DIR + "' && '" +
                                                        QUILLON_CLI + "' " + args);
    EXPECT_EQ(run.status, 0) << run.err;
    std::ifstream in(kGolden + file, std::ios::binary);
    const std::string expected{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    ASSERT_FALSE(expected.empty()) << "no expected output";
    const std::string difference = FirstDifference(expected, run.out);
    EXPECT_TRUE(difference.empty()) << difference
                                    << "\n(if the change is intended: scripts/update-golden.sh)";
    ++compared;
  }
  EXPECT_GE(compared, 4u);
}

}  // namespace
