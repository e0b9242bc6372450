// Following a growing log: the tree after any number of appended parts is the tree of one load
// of the whole log, for both formats, whether the parts end between packets, inside a packet
// or inside a line.
#include <gtest/gtest.h>
#include <zlib.h>

#include <filesystem>
#include <fstream>
#include <chrono>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "bench/LogGenerator.h"
#include "ikev1/log/FollowIKEv1Log.h"
#include "logs/OpenLog.h"
#include "ikev2/FollowIKEv2Log.h"
#include "logs/FollowLog.h"
#include "model/LogLines.h"
#include "tests/model/TreeCompare.h"
#include "tests/ScratchDir.h"

namespace quillon {
namespace {

namespace fs = std::filesystem;

using testing::ExampleText;
using testing::ReadFileBytes;
using testing::ScratchPath;
using testing::WriteFileBytes;

std::unique_ptr<LogFile> LoadOnce(const std::string& text, const std::string& name) {
  const fs::path path = ScratchPath(name);
  WriteFileBytes(path, text);
  OpenLogResult result = OpenLog(path.string());
  EXPECT_EQ(result.status, OpenLogResult::Status::kLoaded) << name;
  return std::move(result.log);
}

// Follows `text` given in the parts the cut points make; a follower that cannot go on is
// replaced by a fresh one given everything so far, as the viewer reloads the file.
struct Followed {
  std::unique_ptr<LogFile> root;
  int reloads = 0;
};

// `settleEvery`: the log pauses after every so many parts (0: only at the end).
template <class Follower>
Followed Follow(const std::string& text, std::vector<std::size_t> cuts, std::size_t settleEvery = 0) {
  Followed out;
  out.root = std::make_unique<LogFile>();
  auto follower = std::make_unique<Follower>(*out.root);
  cuts.push_back(text.size());
  std::size_t from = 0;
  const auto reload = [&](std::size_t to) {
    ++out.reloads;
    follower.reset();
    out.root = std::make_unique<LogFile>();
    follower = std::make_unique<Follower>(*out.root);
    follower->Append(std::string_view(text).substr(0, to));
  };
  for (std::size_t i = 0; i < cuts.size(); ++i) {
    const std::size_t to = cuts[i];
    if (follower->Append(std::string_view(text).substr(from, to - from)) == Follower::Result::kReload) reload(to);
    from = to;
    if ((i + 1 == cuts.size() || (settleEvery != 0 && i % settleEvery == 0)) &&
        follower->Settle() == Follower::Result::kReload) {
      reload(to);
      follower->Settle();
    }
  }
  return out;
}

std::vector<std::size_t> RandomCuts(std::mt19937& random, std::size_t size, std::size_t count) {
  std::vector<std::size_t> cuts;
  std::uniform_int_distribution<std::size_t> at(0, size);
  for (std::size_t i = 0; i < count; ++i) cuts.push_back(at(random));
  std::sort(cuts.begin(), cuts.end());
  return cuts;
}

struct LogCase {
  const char* name;
  bool ikev1;
  std::string text;
};

std::vector<LogCase> Logs() {
  std::vector<LogCase> logs;
  logs.push_back({"small.ilx", true, ExampleText("small.ilx")});
  logs.push_back({"gateway-day.ilx", true, ExampleText("gateway-day.ilx")});
  logs.push_back({"site.xml", false, ExampleText("ikev2-site-to-site.xml")});
  logs.push_back({"remote.xml", false, ExampleText("ikev2-remote-access.xml")});
  // Generated logs: daemon restarts, peers logged by index (regrouped), packet-debug blocks.
  const fs::path v1 = ScratchPath("generated.ilx");
  bench::WriteDebugLog(v1.string(), 300000, 20, 100000);
  logs.push_back({"generated.ilx", true, ReadFileBytes(v1)});
  const fs::path v2 = ScratchPath("generated.xml");
  bench::WriteIKEv2Log(v2.string(), 200000, 20);
  logs.push_back({"generated.xml", false, ReadFileBytes(v2)});
  return logs;
}

Followed FollowCase(const LogCase& log, const std::vector<std::size_t>& cuts, std::size_t settleEvery = 0) {
  return log.ikev1 ? Follow<IKEv1Follower>(log.text, cuts, settleEvery) : Follow<IKEv2Follower>(log.text, cuts, settleEvery);
}

TEST(Follow, AnyCutIntoAppendedPartsGivesTheTreeOfOneLoad) {
  std::mt19937 random(21);
  for (const LogCase& log : Logs()) {
    ASSERT_FALSE(log.text.empty()) << log.name;
    const auto once = LoadOnce(log.text, log.name);
    ASSERT_TRUE(once) << log.name;
    for (std::size_t count : {1, 3, 20, 200}) {
      for (std::size_t settleEvery : {0, 1, 3}) {
        const auto cuts = RandomCuts(random, log.text.size(), count);
        const Followed followed = FollowCase(log, cuts, settleEvery);
        EXPECT_EQ(testing::FirstTreeDifference(*followed.root, *once, true), "")
            << log.name << " in " << count + 1 << " parts, pausing every " << settleEvery;
      }
    }
  }
}

// Restarts inside a packet, where a follower can read otherwise than a load of the whole log.
// (1) The daemon restarted inside the first packet's header, and after the line appended at the
// pause the second start line no longer begins a packet of its own: the follower cannot keep the
// packet it placed at the pause and asks for a reload rather than leave it in the tree.
// (2) A vendor's name holding "daemon" restarts the daemon as the reader reads it, inside a
// packet, so the scan stands at no clean point after it; at a pause the packet that follows is
// still placed, and ends the one before.
TEST(Follow, RestartsInsideAPacket) {
  const std::string separator(70, '+');
  const std::string start = "create_packet1phase1: peer: c000020a ~~ Tue Mar 12 09:14:02 2024\n";
  const std::string paused = separator + "\n" + start + "\tRspCookie: 00 00 00IKE logging started\r\n" + separator + "\n" + start;
  const std::string vendor =
      "##### BEGIN PACKET DEBUG #####\n\tReceived:\n\tPeer: c6336428\n\tInitCookie: 9c 90 05 a7 f4 5a 5d 88 \n"
      "\tMsgID: 00 00 00 00 \n##### END PACKET DEBUG #####\n"
      "debugIsakmpHdr: (Process)\n\tInitCookie: 9c 90 05 a7 f4 5a 5d 88 \n\tRspCookie: 44 1f f4 24 62 b8 16 02 \n"
      "\tNextPld: 04\n\tMjVer: 01\n\tMnVer: 00\n\tExcType: 02\n\tResFlag: 00\n\tCommitFlag: 00\n\tEncFlag: 00\n"
      "\tMsgID: 00 00 00 00 \n\tLength: 00 00 01 88 (392)\n" +
      separator + "\nprocess_packet3phase1: peer: c6336428 TunnelLocalIP:0aff0101,TunnelPeerIP:0aff0102 Tue Mar 12 13:02:47 2024\n"
      "debugKeyPayload:\ndebugVendorIDPayload:\n\tNextPld: 82\n\tReserved: 00\n\tLength: 00 14 (20)\n"
      "\tVendor: Deadaemon Detection v1.0\n" +
      separator + "\ncreate_packet4phase1: peer: c6336428 TunnelLocalIP:0aff0101,TunnelPeerIP:0aff0102 Tue Mar 12 13:02:48 2024\n";
  struct Case {
    std::string text;
    std::vector<std::size_t> cuts;
    int reloads;
  };
  for (const Case& c : {Case{paused + "\tLength: 0+++++++0020a\n", {paused.size()}, 1}, Case{vendor, {}, 0}}) {
    const Followed followed = Follow<IKEv1Follower>(c.text, c.cuts, 1);
    EXPECT_EQ(followed.reloads, c.reloads);
    EXPECT_EQ(testing::FirstTreeDifference(*followed.root, *LoadOnce(c.text, "restart.ilx"), true), "");
  }
}

void AppendTo(const fs::path& path, std::string_view bytes) { WriteFileBytes(path, bytes, std::ios::app); }

// The file itself. `quillon-cli --follow` prints the tree of a load, then starts its follower:
// what the gateway appended in between must come as news, not vanish into the follower's first
// tree. Then the file is cut short, rewritten in place to the same size, replaced by another log.
TEST(Follow, FileGrownTruncatedAndReplaced) {
  for (const char* name : {"gateway-day.ilx", "ikev2-site-to-site.xml"}) {
    const std::string text = ExampleText(name);
    const std::size_t cut = text.rfind('\n', text.size() / 2) + 1;
    const fs::path path = ScratchPath(std::string("followed-") + name);
    WriteFileBytes(path, text.substr(0, cut));
    const OpenLogResult shown = OpenLog(path.string());
    ASSERT_EQ(shown.size, cut) << name;
    AppendTo(path, std::string_view(text).substr(cut));
    LogFile root;
    LogFollower follower(root, path.string());
    follower.StartAfter(shown.size);
    ASSERT_EQ(follower.Poll(), LogFollower::Change::kReloaded) << name;
    EXPECT_EQ(testing::FirstTreeDifference(root, *shown.log, true), "") << name;
    EXPECT_NE(follower.Poll(), LogFollower::Change::kNone) << name;
    follower.Poll();  // the writer paused: the last packet is placed
    EXPECT_EQ(testing::FirstTreeDifference(root, *LoadOnce(text, name), true), "") << name;
    EXPECT_EQ(follower.Poll(), LogFollower::Change::kNone);

    // Cut short (a rotation that emptied the file and began again). A line still being written
    // waits for its end, so the cut is made at one.
    const std::string shorter = text.substr(0, text.rfind('\n', text.size() / 2) + 1);
    WriteFileBytes(path, shorter);
    EXPECT_EQ(follower.Poll(), LogFollower::Change::kReloaded) << name;
    EXPECT_EQ(testing::FirstTreeDifference(root, *LoadOnce(shorter, name), true), "") << name;

    // Rewritten in place to the same size, the first bytes the same: told by the file's time.
    std::string rewritten = shorter;
    const std::size_t middle = rewritten.find("12", rewritten.size() / 2);
    ASSERT_NE(middle, std::string::npos);
    rewritten[middle] = '2';
    const auto before = fs::last_write_time(path);
    {
      std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
      file.seekp(static_cast<std::streamoff>(middle));
      file.put('2');
    }
    fs::last_write_time(path, before + std::chrono::seconds(2));
    EXPECT_TRUE(follower.MayChange()) << name;
    EXPECT_EQ(follower.Poll(), LogFollower::Change::kReloaded) << name;
    EXPECT_EQ(testing::FirstTreeDifference(root, *LoadOnce(rewritten, name), true), "") << name;

    // Replaced by a file that starts differently and is longer.
    std::string other = text;
    other.insert(0, "\n");
    WriteFileBytes(path, other);
    EXPECT_EQ(follower.Poll(), LogFollower::Change::kReloaded) << name;
    EXPECT_EQ(testing::FirstTreeDifference(root, *LoadOnce(other, name), true), "") << name;
  }
}

// The gateway appends one packet (one exchange) and pauses: the poll that reads it may not
// place it yet (it cannot know the packet whole), but the first poll that finds no growth does:
// the tree is then the one a load of the file gives, without a reload. Until then the follower
// asks to be polled; after it, an idle log asks for nothing but a look at its size.
TEST(Follow, APacketAppearsAtTheFirstPollThatFindsTheWriterPaused) {
  for (const char* name : {"small.ilx", "ikev2-site-to-site.xml"}) {
    const std::string text = ExampleText(name);
    // What the daemon writes at once: an IKEv1 created packet from its "+++" line on (with the
    // "Sent:" record after it), a received one from its "Received:" record on (with the header
    // block after it); an IKEv2 exchange from its start line on.
    const auto startsUnit = [&](std::size_t at) {
      const std::string_view line = std::string_view(text).substr(at);
      const std::string_view next = line.substr(std::min(line.size(), line.find('\n') + 1));
      return line.starts_with("<Exchange\n") || line.starts_with("##### BEGIN PACKET DEBUG #####\n\tReceived:") ||
             (line.starts_with("+++") && (next.starts_with("create_") || next.starts_with("gxIsakmp_Build")));
    };
    std::vector<std::size_t> cuts;
    for (std::size_t at = text.find('\n'); at != std::string::npos; at = text.find('\n', at + 1))
      if (startsUnit(at + 1)) cuts.push_back(at + 1);
    ASSERT_GE(cuts.size(), 5u) << name;
    cuts.erase(cuts.begin(), cuts.end() - static_cast<std::ptrdiff_t>(std::min<std::size_t>(cuts.size(), 8)));
    cuts.push_back(text.size());
    const fs::path path = ScratchPath(std::string("paused-") + name);
    WriteFileBytes(path, text.substr(0, cuts[0]));
    LogFile root;
    LogFollower follower(root, path.string());
    ASSERT_EQ(follower.Poll(), LogFollower::Change::kReloaded) << name;
    for (std::size_t i = 0; i + 1 < cuts.size(); ++i) {
      EXPECT_FALSE(follower.MayChange()) << name << " idle before part " << i;
      AppendTo(path, std::string_view(text).substr(cuts[i], cuts[i + 1] - cuts[i]));
      EXPECT_TRUE(follower.MayChange()) << name;
      EXPECT_NE(follower.Poll(), LogFollower::Change::kReloaded) << name << " part " << i;
      EXPECT_TRUE(follower.MayChange()) << name << ": the packet read must be placed at the next poll";
      EXPECT_NE(follower.Poll(), LogFollower::Change::kReloaded) << name << " part " << i;
      EXPECT_EQ(testing::FirstTreeDifference(root, *LoadOnce(text.substr(0, cuts[i + 1]), name), true), "")
          << name << " part " << i;
    }
  }
}


// One tree's memory, one read: the follower places its nodes in the log's arena as a load does
// (on the heap a followed log took a third more memory than its load), and a log whose name
// suggests the other format is read once per reload when the format is known, by the follower
// and by a load alike.
TEST(Follow, NodesInTheArenaAndAMisnamedLogReadOnce) {
  const std::string text = testing::ExampleText("ikev2-site-to-site.xml");
  const fs::path path = ScratchPath("misnamed-v2.ilx");
  WriteFileBytes(path, text);
  const OpenLogResult loaded = OpenLog(path.string());
  ASSERT_EQ(loaded.format, &IKEv2LogFormat());

  // A load told the format reads the file once: the sniffed head and the log, no second reader.
  struct CountingSource : TextSource {
    using TextSource::TextSource;
    std::size_t ReadAt(std::uint64_t offset, char* data, std::size_t size) override {
      const std::size_t n = TextSource::ReadAt(offset, data, size);
      read += n;
      return n;
    }
    std::uint64_t read = 0;
  };
  for (const LogFormat* known : {static_cast<const LogFormat*>(nullptr), &IKEv2LogFormat()}) {
    auto source = std::make_shared<CountingSource>(text);
    ASSERT_EQ(LoadLog(path.string(), source, {}, nullptr, 0, known).format, &IKEv2LogFormat());
    if (known != nullptr) EXPECT_LE(source->read, text.size() + kSniffBytes);
    else EXPECT_GT(source->read, 2 * text.size()) << "the name's reader first, then the other";
  }

  LogFile root;
  LogFollower follower(root, path.string());
  follower.ReadAs(*loaded.format);
  ASSERT_EQ(follower.Poll(), LogFollower::Change::kReloaded);
  EXPECT_EQ(follower.Passes(), 1u);
  ASSERT_GT(root.ChildCount(), 0u);
  for (const auto& peer : root.Children()) EXPECT_TRUE(peer->InArena()) << peer->Name();
  WriteFileBytes(path, "\n" + text);  // replaced: read again, once
  EXPECT_EQ(follower.Poll(), LogFollower::Change::kReloaded);
  EXPECT_EQ(follower.Passes(), 2u);
  EXPECT_EQ(testing::FirstTreeDifference(root, *LoadOnce("\n" + text, "misnamed-again.ilx"), true), "");
}

// A followed compressed log is decompressed within the limits of a load: a bomb of zeros stops
// at its first 64 KiB ("Wrong file type"), text past the size limit is "File too large"; the
// tree is kept either way.
TEST(Follow, CompressedLogWithinTheLoadLimits) {
  const auto gzip = [](const fs::path& path, const std::string& text, std::size_t times) {
    gzFile out = gzopen(path.string().c_str(), "wb");
    for (std::size_t i = 0; i < times; ++i) gzwrite(out, text.data(), static_cast<unsigned>(text.size()));
    gzclose(out);
  };
  const std::string text = ExampleText("small.ilx");
  const fs::path path = ScratchPath("followed.ilx.gz");
  gzip(path, text, 1);
  LogFile root;
  LogFollower follower(root, path.string());
  follower.SetMaxSize(4 * text.size());
  ASSERT_EQ(follower.Poll(), LogFollower::Change::kReloaded);
  const std::size_t peers = root.ChildCount();
  ASSERT_GT(peers, 0u);
  gzip(path, std::string(std::size_t{1} << 20, '\0'), 64);  // 64 MiB of zeros
  EXPECT_EQ(follower.Poll(), LogFollower::Change::kCannotRead);
  EXPECT_EQ(follower.Problem(), "Wrong file type");
  gzip(path, text, 8);
  EXPECT_EQ(follower.Poll(), LogFollower::Change::kCannotRead);
  EXPECT_EQ(follower.Problem(), "File too large");
  EXPECT_EQ(root.ChildCount(), peers);
  EXPECT_EQ(follower.Poll(), LogFollower::Change::kNone) << "not tried again until the file changes";
}

// --events --follow counts the lines of a growing file once: a step reads what was appended
// (and the last block the old end cut), not the file again.
TEST(Follow, LineCountGrowsWithTheFile) {
  const fs::path path = ScratchPath("lines-grow.ilx");
  std::string text;
  for (int i = 0; i < 200000; ++i) text += "line " + std::to_string(i) + "\n";  // about 2.3 MB
  WriteFileBytes(path, text);
  LogLineIndex lines(path.string());
  const std::uint64_t end = text.size() - 1;
  EXPECT_EQ(lines.Lines({LogSpan{end, LogSpan::kToEnd}}).front().first, 200000u);
  const std::uint64_t first = lines.BytesRead();
  AppendTo(path, "one\ntwo\n");
  lines.Grow();
  EXPECT_EQ(lines.Lines({LogSpan{text.size() + 4, LogSpan::kToEnd}}).front(), (LineRange{200002, 200002}));
  EXPECT_LT(lines.BytesRead() - first, std::uint64_t{3} << 20) << "at most the cut block and the new bytes, twice";
  EXPECT_GT(first, text.size() - 1);
}

}  // namespace
}  // namespace quillon
