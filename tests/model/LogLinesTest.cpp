// Every packet and negotiation knows the lines of the log it was read from: a packet from its
// opening line (a received packet's debug record included) up to the next packet, so that the
// daemon's own messages between packets are shown with the packet before them.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "cli/TreePrinter.h"
#include "ikev1/log/DebugLogReader.h"
#include "ikev1/log/ReadIKEv1Log.h"
#include "model/LogFile.h"
#include "model/LogLines.h"
#include "tests/ScratchDir.h"
#include "tests/ikev1/negotiation/NegotiationLog.h"

namespace quillon {
namespace {

using namespace negtest;

// The log file of one test.
std::string LogFileOf(const std::string& text) {
  const std::string path = testing::ScratchPath("lines.ilx").string();
  testing::WriteFileBytes(path, text);
  return path;
}

std::unique_ptr<LogFile> LoadFile(const std::string& path) {
  auto root = std::make_unique<LogFile>();
  DebugLogReader reader(path);
  ReadIKEv1Log(*root, reader);
  return root;
}

// The 1-based line of the first occurrence of `what`, and the text from the start of that line.
std::uint64_t LineOf(const std::string& text, const std::string& what) {
  const std::size_t at = text.find(what);
  return 1 + static_cast<std::uint64_t>(std::count(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(at), '\n'));
}
std::size_t LineStartOf(const std::string& text, const std::string& what) {
  const std::size_t at = text.rfind('\n', text.find(what));
  return at == std::string::npos ? 0 : at + 1;
}

std::string ReceivedRecord(const std::string& cookie) {
  return "##### BEGIN PACKET DEBUG #####\n\tReceived:\n\tPeer: 0a000001\n\tInitCookie: " + cookie +
         " \n\tMsgID: 00 00 00 00 \n\tPacket size: 56 bytes\n##### END PACKET DEBUG #####\n";
}

TEST(LogLinesTest, PacketsRunToTheNextPacketInLfAndCrLfFiles) {
  const std::string daemon = "gxike[1873] 12:00:01 sent main mode packet 1 to 10.0.0.1:500\n";
  const std::string log = "IKE logging started\n" + Text(MainModePacket(1)) + daemon + ReceivedRecord(kCookie) +
                          Text(MainModePacket(2)) + "gxike[1873] 12:00:02 peer rejected packet 3: check the key\n";
  for (const bool crlf : {false, true}) {
    std::string text = log;
    if (crlf) {
      text.clear();
      for (const char c : log) text += c == '\n' ? std::string("\r\n") : std::string(1, c);
    }
    const std::string path = LogFileOf(text);
    auto root = LoadFile(path);
    const LogNode& mainMode = *TunnelOf(*root).Child(0);
    ASSERT_EQ(mainMode.ChildCount(), 2u);
    LogLineIndex index(path);
    const std::vector<LogSpan> first = LogSpansOf(*mainMode.Child(0)), second = LogSpansOf(*mainMode.Child(1));
    ASSERT_EQ(first.size(), 1u);
    ASSERT_EQ(second.size(), 1u);
    const std::uint64_t recordLine = LineOf(text, "##### BEGIN");
    EXPECT_EQ(index.Lines(first), (std::vector<LineRange>{{LineOf(text, kPlus), recordLine - 1}})) << crlf;
    EXPECT_EQ(index.Lines(second), (std::vector<LineRange>{{recordLine, LineOf(text, "peer rejected")}})) << crlf;
    // The lines exactly as the file has them: the daemon's message belongs to packet 1.
    const std::size_t begin = LineStartOf(text, kPlus), record = LineStartOf(text, "##### BEGIN");
    EXPECT_EQ(index.Text(first, 1 << 20), text.substr(begin, record - begin)) << crlf;
    EXPECT_EQ(index.Text(LogSpansOf(mainMode), 1 << 20), text.substr(begin)) << crlf;
    bool cut = false;
    EXPECT_EQ(index.Text(second, 10, &cut), text.substr(record, 10));
    EXPECT_TRUE(cut);
  }
}

TEST(LogLinesTest, RangesSurviveTheRemovalOfOtherNegotiations) {
  const std::string other = "0c 0c 0c 0c 0c 0c 0c 0c";
  Packet interleaved = MainModePacket(1, "12:00:01", other);
  interleaved.keyword = "create_packet1phase1:";
  const std::string text =
      Text(MainModePacket(1)) + "between\n" + Text(interleaved) + Text(MainModePacket(2)) + Text(MainModePacket(3));
  const std::string path = LogFileOf(text);
  auto root = LoadFile(path);
  LogNode& tunnel = *root->Child(0)->Child(0);
  ASSERT_EQ(tunnel.ChildCount(), 2u);
  tunnel.Child(1)->SetDeleted();  // the filter's narrowing: the other cookie's negotiation goes
  root->Child(0)->PurgeDeleted();
  ASSERT_EQ(tunnel.ChildCount(), 1u);

  // Packet 1 still ends where the removed negotiation's packet began, and the negotiation's
  // lines run from its first packet to its last.
  const std::string json = cli::JsonTree(*root, {}, path);
  const std::string firstLine = std::to_string(LineOf(text, kPlus));
  const std::string beforeOther = std::to_string(LineOf(text, "between") + 1);  // and the empty line after it
  EXPECT_NE(json.find("\"caption\": \"MM packet 1 (12:00:01)\", \"complete\": false, \"icon\": 0, \"lines\": [" + firstLine +
                      ", " + beforeOther + "]"),
            std::string::npos)
      << json;
  const std::uint64_t lastLine = static_cast<std::uint64_t>(std::count(text.begin(), text.end(), '\n'));
  EXPECT_NE(json.find("\"icon\": 1, \"lines\": [" + firstLine + ", " + std::to_string(lastLine) + "]"), std::string::npos)
      << json;
  EXPECT_EQ(cli::JsonTree(*root, {}).find("\"lines\""), std::string::npos);  // no file, no lines
}

}  // namespace
}  // namespace quillon
