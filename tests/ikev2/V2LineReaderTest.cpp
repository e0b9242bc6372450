#include "ikev2/LogLineReader.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "ikev1/log/DebugLogReader.h"  // WrongFormat

namespace quillon {
namespace {

std::vector<std::string> AllLines(LogLineReader& reader) {
  std::vector<std::string> lines;
  std::string line;
  while (reader.ReadLine(line)) lines.push_back(line);
  return lines;
}

std::vector<std::string> AllLines(std::string text) {
  LogLineReader reader = LogLineReader::FromText(std::move(text));
  return AllLines(reader);
}

class TempFile {
 public:
  explicit TempFile(const std::string& content) {
    // Tests may run in parallel processes: the test's name and a random number keep names apart.
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    path_ = std::filesystem::temp_directory_path() /
            ("quillon_v2_" + std::string(test ? test->name() : "reader") + "_" +
             std::to_string(std::random_device{}()) + ".xml");
    std::ofstream out(path_, std::ios::binary);
    out << content;
  }
  ~TempFile() { std::filesystem::remove(path_); }
  std::string Path() const { return path_.string(); }

 private:
  std::filesystem::path path_;
};

using Lines = std::vector<std::string>;

TEST(V2LineReader, EveryLineEndStyleEndsALine) {
  EXPECT_EQ(AllLines("a\nb\r\nc\rd"), (Lines{"a", "b", "c", "d"}));
  // A final line end does not open another line; an empty line in between is a line.
  EXPECT_EQ(AllLines("a\n\nb\n"), (Lines{"a", "", "b"}));
  EXPECT_EQ(AllLines("a\r\r\n"), (Lines{"a", ""}));
  EXPECT_TRUE(AllLines("").empty());
}

TEST(V2LineReader, AtEndOnlyWhenNoLineIsLeft) {
  LogLineReader reader = LogLineReader::FromText("one\r\ntwo\r\n");
  EXPECT_FALSE(reader.AtEnd());
  EXPECT_EQ(reader.ReadLine(), "one");
  EXPECT_FALSE(reader.AtEnd());
  EXPECT_EQ(reader.ReadLine(), "two");
  EXPECT_TRUE(reader.AtEnd());
  std::string line = "stale";
  EXPECT_FALSE(reader.ReadLine(line));
  EXPECT_TRUE(line.empty());

  LogLineReader empty = LogLineReader::FromText("");
  EXPECT_TRUE(empty.AtEnd());
}

TEST(V2LineReader, RestartWordsAndNulBytesAreOrdinaryText) {
  const std::string withNul("x\0y", 3);
  EXPECT_EQ(AllLines("daemon started\n" + withNul + "\n"), (Lines{"daemon started", withNul}));
}

TEST(V2LineReader, OverlongLineIsCutAndTheNextLineSurvives) {
  const std::size_t cap = LogLineReader::kMaxLineLength;
  const std::string text = std::string(cap + 12345, 'x') + "\nnext\n";
  const Lines fromText = AllLines(text);
  ASSERT_EQ(fromText.size(), 2u);
  EXPECT_EQ(fromText[0].size(), cap);
  EXPECT_EQ(fromText[1], "next");

  TempFile file(text);
  LogLineReader reader(file.Path());
  const Lines fromFile = AllLines(reader);
  ASSERT_EQ(fromFile.size(), 2u);
  EXPECT_EQ(fromFile[0].size(), cap);
  EXPECT_EQ(fromFile[1], "next");
}

TEST(V2LineReader, FileReadsLikeTextAcrossBlockBoundaries) {
  // Put a CR LF pair exactly across the first block boundary, and lines longer than a block.
  std::string text(LogLineReader::kBlockSize - 1, 'a');
  text += "\r\n";
  text += std::string(LogLineReader::kBlockSize * 2 + 7, 'b');
  text += "\rtail\n\nlast";
  TempFile file(text);
  LogLineReader reader(file.Path());
  EXPECT_EQ(AllLines(reader), AllLines(text));
  EXPECT_TRUE(reader.AtEnd());
  EXPECT_EQ(AllLines(text).size(), 5u);
}

TEST(V2LineReader, MissingFileRaisesWrongFormat) {
  EXPECT_THROW(LogLineReader("/nonexistent/dir/quillon-no-such-log.xml"), WrongFormat);
}

TEST(V2LineReader, CursorKeepsTheNextExchangeStartInsideAnExchange) {
  LogLineReader reader = LogLineReader::FromText("a\n<Exchange\nb\n");
  LineCursor cursor(reader);
  cursor.EnterExchange();
  EXPECT_TRUE(cursor.Next());
  EXPECT_EQ(cursor.Line(), "a");
  EXPECT_FALSE(cursor.Next());  // the start line ends the exchange's input
  EXPECT_FALSE(cursor.Next());
  EXPECT_FALSE(cursor.AtEnd());
  cursor.LeaveExchange();
  EXPECT_TRUE(cursor.Next());
  EXPECT_EQ(cursor.Line(), "<Exchange");
  EXPECT_TRUE(cursor.Next());
  EXPECT_EQ(cursor.Line(), "b");
  EXPECT_TRUE(cursor.AtEnd());
}

}  // namespace
}  // namespace quillon
