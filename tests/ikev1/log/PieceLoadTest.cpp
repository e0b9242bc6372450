// A large IKEv1 log is read in pieces on worker threads and placed on the loading thread. The
// tree must be exactly the tree one reader gives when it reads the log through, whatever the
// piece size and wherever the pieces are cut: in the middle of a packet, of a packet-debug
// block, of a restart line, in a run of hostile bytes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <filesystem>
#include <random>
#include <string>

#include "bench/LogGenerator.h"
#include "cli/TreePrinter.h"
#include "ikev1/log/DebugLogReader.h"
#include "ikev1/log/ReadIKEv1Log.h"
#include "ikev1/negotiation/Peer.h"
#include "logs/OpenLog.h"
#include "model/LogFile.h"
#include "model/TreeCounts.h"
#include "tests/ScratchDir.h"
#include "tests/model/TreeCompare.h"

namespace quillon {
namespace {

using testing::ExampleText;

// Every node's name, caption, detail text and stretches of the log, and the restart text the
// load ends with.
std::string Tree(const std::string& text, const IKEv1ReadOptions& options) {
  LogFile root;
  DebugLogReader reader = DebugLogReader::FromText(text);
  ReadIKEv1Log(root, reader, options);
  return cli::TextTree(root, {false, true}) + testing::AllLogSpans(root) + "restart text: " + reader.RestartText();
}

constexpr IKEv1ReadOptions kOneReader{0, 1};

void ExpectSameInPieces(const std::string& log, const std::string& what) {
  const std::string whole = Tree(log, kOneReader);
  ASSERT_FALSE(whole.empty());
  for (const IKEv1ReadOptions options :
       {IKEv1ReadOptions{61, 3}, IKEv1ReadOptions{700, 2}, IKEv1ReadOptions{4096, 1}}) {
    EXPECT_EQ(Tree(log, options), whole) << what << ", pieces of " << options.pieceSize;
  }
}

std::string WithLineEnds(const std::string& text, const std::string& end) {
  std::string out;
  for (const char c : text) out += c == '\n' ? end : std::string(1, c);
  return out;
}

TEST(PieceLoad, SampleLogsGiveTheTreeOfOneReader) {
  for (const char* name : {"small.ilx", "gateway-day.ilx"}) {
    const std::string sample = ExampleText(name);
    ASSERT_FALSE(sample.empty()) << name;
    ExpectSameInPieces(sample, name);
    ExpectSameInPieces(WithLineEnds(sample, "\r\n"), std::string(name) + " with CR LF");
  }
}

// Restarts between and inside packets (their handling reads on from the log and carries the
// restart text from one restart to the next), packets cut short by the next one, lone packet
// markers and packet-debug blocks without end.
TEST(PieceLoad, RestartsAndBrokenPacketsGiveTheTreeOfOneReader) {
  const std::string sample = ExampleText("small.ilx");
  std::string log;
  std::size_t line = 0;
  for (std::size_t at = 0; at < sample.size();) {
    std::size_t end = sample.find('\n', at);
    end = end == std::string::npos ? sample.size() : end + 1;
    log.append(sample, at, end - at);
    switch (++line % 41) {
      case 7: log += "IKE daemon started GX-1(4.1.2) build 7\n"; break;
      case 13: log += "daemon\n"; break;
      case 19: log += "++++++++++++++++++++\n"; break;
      case 23: log += "##### BEGIN PACKET DEBUG #####\n\tReceived:\n"; break;
      case 29: log += "debugIsakmpHdr: (Process)\n\tInitCookie: 01 02\n"; break;
      case 37: log += "started\n"; break;
      default: break;
    }
    at = end;
  }
  ExpectSameInPieces(log, "restarts and broken packets");
}

// Hostile variants: bytes flipped, stretches dropped or repeated, the log cut off anywhere.
TEST(PieceLoad, DamagedLogsGiveTheTreeOfOneReader) {
  const std::string sample = ExampleText("small.ilx");
  std::mt19937 random(20261206);
  for (int round = 0; round < 24; ++round) {
    std::string log = sample;
    for (int edit = 0; edit < 12; ++edit) {
      const std::size_t at = random() % log.size();
      const std::size_t length = 1 + random() % 300;
      switch (random() % 4) {
        case 0: log[at] = static_cast<char>(random() % 256); break;
        case 1: log.erase(at, length); break;
        case 2: log.insert(at, log.substr(at, length)); break;
        default: log.insert(at, random() % 2 ? "\n+++++++\n" : " daemon "); break;
      }
    }
    log.resize(random() % (log.size() + 1));
    ExpectSameInPieces(log, "damaged log " + std::to_string(round));
  }
}

// The pieces are read from the file itself when the reader reads a file.
TEST(PieceLoad, FileReadInPiecesGivesTheTreeOfOneReader) {
  const std::string path = testing::ScratchPath("piece_load.ilx").string();
  const std::string sample = ExampleText("gateway-day.ilx");
  testing::WriteFileBytes(path, sample);
  LogFile root;
  DebugLogReader reader(path);
  std::uint64_t lastProgress = 0;
  reader.SetProgress([&lastProgress](std::uint64_t bytes) { lastProgress = bytes; });
  ReadIKEv1Log(root, reader, {4096, 2});
  EXPECT_EQ(cli::TextTree(root, {false, true}) + testing::AllLogSpans(root) + "restart text: " + reader.RestartText(),
            Tree(sample, kOneReader));
  EXPECT_EQ(lastProgress, sample.size());
  std::filesystem::remove(path);
}

// After the packets are placed, their ends, the diagnosis and the counts are worked out over the
// peers on two threads when a log has many peers. Each peer's share must come out as one thread
// working through the peers would make it.
TEST(PieceLoad, ManyPeersAreFinishedOnTwoThreadsAsOnOne) {
  const std::string path = testing::ScratchPath("many_peers.ilx").string();
  const std::uint64_t size = bench::WriteDebugLog(path, 3u << 20, 300, 1u << 20);
  ASSERT_GT(size, 0u);
  OpenLogResult opened = OpenLog(path);
  ASSERT_TRUE(opened.log);
  LogFile& root = *opened.log;
  ASSERT_GT(root.ChildCount(), 128u);

  // Every packet ends where the next one in the log begins, the last at the end of the file
  // (every packet of the generated log finds a peer).
  std::vector<LogSpan> spans;
  for (const auto& peer : root.Children())
    for (const auto& child : peer->Children()) {
      if (!child->IsTunnel()) child->AppendLogSpans(spans);
      else
        for (const auto& exchange : child->Children()) exchange->AppendLogSpans(spans);
    }
  std::sort(spans.begin(), spans.end(), [](const LogSpan& a, const LogSpan& b) { return a.begin < b.begin; });
  ASSERT_GT(spans.size(), 1000u);
  for (std::size_t i = 0; i + 1 < spans.size(); ++i) ASSERT_EQ(spans[i].end, spans[i + 1].begin) << "packet " << i;
  EXPECT_EQ(spans.back().end, LogSpan::kToEnd);

  // The diagnosis made once more, peer after peer on this thread, marks nothing differently.
  const std::string diagnosed = cli::TextTree(root, {false, false});
  for (std::size_t p = 0; p < root.ChildCount(); ++p) NodeAs<quillon::Peer>(root.Child(p))->Analyze();
  EXPECT_EQ(cli::TextTree(root, {false, false}), diagnosed);

  // The counts add up to what the walk over the whole tree finds.
  const TreeCounts counts = CountTree(root);
  TreeCounts walked;
  const auto payloadsOf = [](const LogNode& packet) {
    return static_cast<std::uint64_t>(std::count_if(packet.Children().begin(), packet.Children().end(),
                                                     [](const auto& child) { return child->Name() != "Header"; }));
  };
  std::function<void(const LogNode&, int)> walk = [&](const LogNode& node, int depth) {
    if (depth == 1) ++walked.peers;
    if (depth == 2 && node.IsTunnel()) ++walked.tunnels;
    if (depth == 3 && node.Is(NodeKind::kInformational)) walked.payloads += payloadsOf(node);
    if (depth == 4 && !node.Parent()->Is(NodeKind::kInformational)) walked.payloads += payloadsOf(node);
    for (const auto& child : node.Children()) walk(*child, depth + 1);
  };
  walk(root, 0);
  EXPECT_EQ(counts.peers, walked.peers);
  EXPECT_EQ(counts.tunnels, walked.tunnels);
  EXPECT_EQ(counts.packets, spans.size());
  EXPECT_EQ(counts.payloads, walked.payloads);
}

}  // namespace
}  // namespace quillon
