#include "ikev2/LogLineReader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "model/CannotOpenLog.h"
#include "tests/ScratchDir.h"

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

// A file holding `content`, named after the running test.
std::string FileOf(const std::string& content) {
  const std::string path =
      testing::ScratchPath(std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + ".xml").string();
  testing::WriteFileBytes(path, content);
  return path;
}

using Lines = std::vector<std::string>;

TEST(V2LineReader, EveryLineEndStyleEndsALine) {
  EXPECT_EQ(AllLines("a\nb\r\nc\rd"), (Lines{"a", "b", "c", "d"}));
  // A final line end does not open another line; an empty line in between is a line.
  EXPECT_EQ(AllLines("a\n\nb\n"), (Lines{"a", "", "b"}));
  EXPECT_EQ(AllLines("a\r\r\n"), (Lines{"a", ""}));
  EXPECT_TRUE(AllLines("").empty());
  // Restart words and NUL bytes are ordinary text here.
  const std::string withNul("x\0y", 3);
  EXPECT_EQ(AllLines("daemon started\n" + withNul + "\n"), (Lines{"daemon started", withNul}));
}

TEST(V2LineReader, LineEndsAreFoundAtEveryPlaceInAWord) {
  // The line end is searched for eight bytes at a time: every length up to a few words, with
  // either end character, and bytes one above or below them (which a word test may mistake
  // for them) before and after it.
  for (std::size_t length = 0; length < 26; ++length) {
    for (const char* end : {"\n", "\r", "\r\n"}) {
      std::string line;
      for (std::size_t i = 0; i < length; ++i) line += "\x0b\x0c\x0e\x09\x8a\x8d"[i % 6];
      EXPECT_EQ(AllLines(line + end + "\x0b\x0e" + end), (Lines{line, "\x0b\x0e"})) << length << " " << end;
    }
  }
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

TEST(V2LineReader, OverlongLineIsCutAndTheNextLineSurvives) {
  const std::size_t cap = LogLineReader::kMaxLineLength;
  const std::string text = std::string(cap + 12345, 'x') + "\nnext\n";
  for (const bool fromFile : {false, true}) {
    LogLineReader reader = fromFile ? LogLineReader(FileOf(text)) : LogLineReader::FromText(text);
    EXPECT_EQ(AllLines(reader), (Lines{std::string(cap, 'x'), "next"})) << fromFile;
  }
}

TEST(V2LineReader, FileReadsLikeTextAcrossBlockBoundaries) {
  // Put a CR LF pair exactly across the first block boundary, and lines longer than a block.
  std::string text(LogLineReader::kBlockSize - 1, 'a');
  text += "\r\n";
  text += std::string(LogLineReader::kBlockSize * 2 + 7, 'b');
  text += "\rtail\n\nlast";
  LogLineReader reader(FileOf(text));
  EXPECT_EQ(AllLines(reader), AllLines(text));
  EXPECT_TRUE(reader.AtEnd());
  EXPECT_EQ(AllLines(text).size(), 5u);
  EXPECT_THROW(LogLineReader("/nonexistent/dir/quillon-no-such-log.xml"), CannotOpenLog);
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

// The pieces a log is cut into for parallel reading: together they are the input, byte for
// byte, and every cut falls just before a line that is exactly "<Exchange".
TEST(V2LineReader, ExchangeRunsCutOnlyBeforeStartLines) {
  const std::string text =
      "<?xml?>\n<Exchange\nA\n <Exchange\n<Exchange x\nB<Exchange\n\r<Exchange\r\nC\r\n<Exchange\rD\n"
      "<Exchange\n\n<Exchanges\n<Exchange";
  for (const bool fromFile : {false, true}) {
    LogLineReader reader = fromFile ? LogLineReader(FileOf(text)) : LogLineReader::FromText(text);
    std::vector<std::string> pieces;
    std::string piece;
    while (reader.ReadExchangeRun(piece, 1, 1 << 20) == LogLineReader::Run::kPiece) pieces.push_back(piece);
    EXPECT_TRUE(piece.empty());

    std::string joined;
    for (const std::string& p : pieces) joined += p;
    EXPECT_EQ(joined, text);
    // Cuts before the start lines ended by LF, CR LF, CR and LF again; none before " <Exchange",
    // "<Exchange x", "B<Exchange", "<Exchanges" or a start line the input ends in.
    EXPECT_EQ(pieces, (Lines{"<?xml?>\n", "<Exchange\nA\n <Exchange\n<Exchange x\nB<Exchange\n\r",
                             "<Exchange\r\nC\r\n", "<Exchange\rD\n", "<Exchange\n\n<Exchanges\n<Exchange"}));
  }
}

TEST(V2LineReader, ExchangeRunWithoutAPlaceToCutGivesItsBytesBack) {
  // Longer than two blocks, so that from a file the limit is met before the input ends.
  const std::string longLine(2 * LogLineReader::kBlockSize + 100, 'x');
  const std::string text = "<Exchange\n" + longLine + "\nlast\n<Exchanges\ntail";
  for (const bool fromFile : {false, true}) {
    LogLineReader reader = fromFile ? LogLineReader(FileOf(text)) : LogLineReader::FromText(text);
    std::string piece;
    ASSERT_EQ(reader.ReadExchangeRun(piece, 10, LogLineReader::kBlockSize), LogLineReader::Run::kTooLong);
    EXPECT_TRUE(piece.empty());
    // The lines are read from the start of what was taken, and on into the rest of the file.
    EXPECT_EQ(AllLines(reader), (Lines{"<Exchange", longLine, "last", "<Exchanges", "tail"}));
  }
}

}  // namespace
}  // namespace quillon
