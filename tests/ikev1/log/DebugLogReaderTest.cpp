#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ikev1/log/DebugLogReader.h"
#include "tests/ScratchDir.h"

namespace quillon {
namespace {

TEST(DebugLogReaderTest, TokensAcrossLineEndsAndPushBack) {
  auto r = DebugLogReader::FromText("  alpha\tbeta\r\ngamma\rdelta\n");
  EXPECT_EQ(r.ReadToken(), "alpha");
  EXPECT_EQ(r.ReadToken(), "beta");
  r.PushBack();
  EXPECT_EQ(r.ReadToken(), "beta");
  EXPECT_EQ(r.ReadToken(), "gamma");  // a lone CR separates tokens too
  EXPECT_EQ(r.ReadToken(), "delta");
  EXPECT_FALSE(r.AtEnd());
  EXPECT_EQ(r.ReadToken(), "");
  EXPECT_TRUE(r.AtEnd());

  auto noNewline = DebugLogReader::FromText("last");
  EXPECT_EQ(noNewline.ReadToken(), "last");
  EXPECT_TRUE(noNewline.AtEnd());  // the stream had to look past the last character
}

TEST(DebugLogReaderTest, HexNumbersFollowStrtoulOnA32BitLong) {
  struct Case { const char* token; std::uint32_t value; };
  for (const Case& c : {Case{"1c", 28}, Case{"1C", 28}, Case{"0x1c", 28}, Case{"ffffffff", 0xFFFFFFFFu},
                        Case{"100000000", 0xFFFFFFFFu}, Case{"-1", 0xFFFFFFFFu}, Case{"-2", 0xFFFFFFFEu},
                        Case{"(28)", 0xFFFFFFFFu}, Case{"1g", 0xFFFFFFFFu}, Case{"0x", 0xFFFFFFFFu},
                        Case{"", 0xFFFFFFFFu}, Case{"0000000000000012", 0x12}}) {
    EXPECT_EQ(DebugLogReader::ParseHexToken(c.token), c.value) << c.token;
  }
  auto r = DebugLogReader::FromText("1c (28) next");
  EXPECT_EQ(r.ReadHexNumber(), 28u);
  EXPECT_EQ(r.ReadHexNumber(), 0xFFFFFFFFu);
  EXPECT_EQ(r.CurrentToken(), "(28)");  // a failed token stays current
  EXPECT_EQ(r.ReadToken(), "next");
}

TEST(DebugLogReaderTest, ByteListStopsAtFirstNonHexTokenAndPushesItBack) {
  auto r = DebugLogReader::FromText("InitCookie: 01 02 03 04\n 05 06 07 08\n RspCookie: 00");
  r.SeekLabel("InitCookie:");
  EXPECT_EQ(r.ReadHexBytes(), (ByteList{1, 2, 3, 4, 5, 6, 7, 8}));
  EXPECT_EQ(r.ReadToken(), "RspCookie:");

  auto wide = DebugLogReader::FromText("0a 1234 zz");
  EXPECT_EQ(wide.ReadHexBytes(), (ByteList{0x0a, 0x1234}));  // a four-digit token is one element
  EXPECT_EQ(wide.ReadToken(), "zz");

  auto atEnd = DebugLogReader::FromText("0a 0b");
  EXPECT_EQ(atEnd.ReadHexBytes(), (ByteList{0x0a}));  // the token read at the end does not count
  EXPECT_TRUE(atEnd.AtEnd());
}

TEST(DebugLogReaderTest, SeekLabelStopsAtTheNextPacketAndLeavesIt) {
  for (const char* next : {"debugIsakmpHdr:", "++++++++++++++++"}) {
    auto r = DebugLogReader::FromText(std::string("a b c d ") + next + " (Process) InitCookie: 01");
    r.SeekLabel("Missing:");
    EXPECT_TRUE(r.IsAbandoned()) << next;
    EXPECT_EQ(r.ReadHexNumber(), 0xFFFFFFFFu);
    EXPECT_TRUE(r.ReadHexBytes().empty());
    r.ClearAbandon();
    EXPECT_EQ(r.ReadToken(), next);  // the packet scan sees the start again
  }
}

TEST(DebugLogReaderTest, SeekLabelGivesUpAfter100Tokens) {
  std::string text;
  for (int i = 0; i < 150; ++i) text += "noise ";
  text += "Label: 05";
  auto r = DebugLogReader::FromText(text);
  r.SeekLabel("Label:");
  EXPECT_FALSE(r.IsAbandoned());
  EXPECT_EQ(r.ReadHexNumber(), 0xFFFFFFFFu);
  r.SeekLabel("Label:");
  EXPECT_EQ(r.ReadHexNumber(), 5u);
}

TEST(DebugLogReaderTest, RestartTokenHoldsTheReaderUntilCleared) {
  auto r = DebugLogReader::FromText("one daemon started two 0a");
  EXPECT_EQ(r.ReadToken(), "one");
  EXPECT_EQ(r.ReadToken(), "daemon");
  EXPECT_TRUE(r.RestartSeen());
  EXPECT_EQ(r.ReadToken(), "daemon");
  EXPECT_EQ(r.ReadHexNumber(), 0xFFFFFFFFu);
  EXPECT_EQ(r.SkipToBlockKeyword(), "");
  r.SeekLabel("two");  // does nothing while the flag holds
  r.ClearRestartSeen();
  EXPECT_EQ(r.ReadToken(), "started");
  EXPECT_TRUE(r.RestartSeen());
  r.ClearRestartSeen();
  EXPECT_EQ(r.ReadToken(), "two");
  EXPECT_EQ(r.ReadHexNumber(), 10u);

  auto line = DebugLogReader::FromText("x\nIKE daemon restarting now\nafter");
  line.ReadToken();
  EXPECT_EQ(line.ReadLineRest(), "");
  EXPECT_EQ(line.ReadLineRest(), "IKE daemon restarting now");
  EXPECT_TRUE(line.RestartSeen());
}

TEST(DebugLogReaderTest, LineRestAndLongInput) {
  auto r = DebugLogReader::FromText("label value with  blanks\r\nnext");
  EXPECT_EQ(r.ReadToken(), "label");
  r.SkipWhitespace();
  EXPECT_EQ(r.ReadLineRest(), "value with  blanks");
  EXPECT_EQ(r.ReadToken(), "next");

  // A token longer than the buffer comes back in pieces; a long line is cut and its rest skipped.
  const std::string longToken(5000, 'a');
  auto t = DebugLogReader::FromText(longToken + " b");
  EXPECT_EQ(t.ReadToken().size(), 2047u);
  EXPECT_EQ(t.ReadToken().size(), 2047u);
  EXPECT_EQ(t.ReadToken().size(), 906u);
  EXPECT_EQ(t.ReadToken(), "b");

  auto l = DebugLogReader::FromText("x " + std::string(3000, 'c') + "\nafter");
  l.ReadToken();
  EXPECT_EQ(l.ReadLineRest().size(), 2047u);
  EXPECT_EQ(l.ReadToken(), "after");
}

TEST(DebugLogReaderTest, SkipToBlockKeywordStopsAtChainEnds) {
  auto r = DebugLogReader::FromText("noise more debugNoncePayload: x ##### y debugIsakmpHdr: z");
  EXPECT_EQ(r.SkipToBlockKeyword(), "debugNoncePayload:");
  EXPECT_EQ(r.SkipToBlockKeyword(), "#####");
  EXPECT_EQ(r.SkipToBlockKeyword(), "debugIsakmpHdr:");
  EXPECT_EQ(r.SkipToBlockKeyword(), "z");
  EXPECT_TRUE(r.AtEnd());
  EXPECT_EQ(DebugLogReader::BlockKeywordCode("debugnoncepayload:"), -1);  // keywords are case-sensitive
}

TEST(DebugLogReaderTest, FilesAreReadInBlocksAndReadersAreIndependent) {
  const auto dir = testing::ScratchDir();
  const auto a = dir / "quillon_reader_a.ilx";
  const auto b = dir / "quillon_reader_b.ilx";
  testing::WriteFileBytes(a, std::string(300000, ' ') + "token1 " + std::string(3, '\n') + "tail");
  testing::WriteFileBytes(b, "daemon other");
  DebugLogReader ra(a.string()), rb(b.string());
  EXPECT_EQ(rb.ReadToken(), "daemon");
  EXPECT_TRUE(rb.RestartSeen());
  EXPECT_FALSE(ra.RestartSeen());
  EXPECT_EQ(ra.ReadToken(), "token1");  // found after a block boundary
  EXPECT_EQ(ra.ReadToken(), "tail");
  EXPECT_TRUE(ra.AtEnd());
  EXPECT_THROW(DebugLogReader((dir / "quillon_no_such_file.ilx").string()), CannotOpenLog);
}

TEST(DebugLogReaderTest, TokensLeftInTheBufferSurviveAPushBackAndARefill) {
  // Tokens of every length land across the file's block boundaries. Each is looked at in
  // place, pushed back, the reader made to skip on (refilling its block where the token ended
  // at its end), and read again as a string: the same text every time.
  std::string text;
  std::vector<std::string> tokens;
  for (std::size_t i = 0; text.size() < 600000; ++i) {
    tokens.push_back(std::string(1 + i % 23, static_cast<char>('a' + i % 26)) + std::to_string(i));
    text += tokens.back() + (i % 5 == 0 ? "\n" : " ");
  }
  const auto path = testing::ScratchDir() / "quillon_reader_refill.ilx";
  testing::WriteFileBytes(path, text);
  DebugLogReader reader(path.string());
  for (const std::string& expected : tokens) {
    ASSERT_EQ(reader.ReadTokenView(), expected);
    reader.PushBack();
    reader.SkipWhitespace();
    ASSERT_EQ(reader.ReadToken(), expected);
  }
  reader.ReadTokenView();
  EXPECT_TRUE(reader.AtEnd());
}

TEST(DebugLogReaderTest, SeparatorsAreFoundAnywhereInAToken) {
  // The separator test looks at every seventh character first; checked against a plain search
  // over runs of '+' of every length at every offset.
  for (std::size_t before = 0; before < 16; ++before)
    for (std::size_t run = 0; run < 16; ++run)
      for (std::size_t after = 0; after < 3; ++after) {
        const std::string token = std::string(before, 'x') + std::string(run, '+') + std::string(after, '-') + "++++++";
        EXPECT_EQ(DebugLogReader::HasSeparator(token), token.find("+++++++") != std::string::npos) << token;
      }
}

TEST(DebugLogReaderTest, ReadByteListKeepsTheLengthNote) {
  auto reader = DebugLogReader::FromText("Length 24 bytes follow\n 0a 0b\n0c NextPld:");
  std::string note;
  EXPECT_EQ(ReadByteList(reader, &note), (ByteList{0x0a, 0x0b, 0x0c}));
  EXPECT_EQ(note, "Length 24 bytes follow\r\n\r\n");
  EXPECT_EQ(reader.ReadToken(), "NextPld:");

  auto plain = DebugLogReader::FromText("01 02 x");
  EXPECT_EQ(ReadByteList(plain, &note), (ByteList{1, 2}));
  EXPECT_EQ(note, "Length 24 bytes follow\r\n\r\n");  // unchanged
}

}  // namespace
}  // namespace quillon
