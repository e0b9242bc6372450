#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "cli/TreePrinter.h"
#include "logs/SaveLog.h"
#include "logs/OpenLog.h"
#include "model/TreeCounts.h"
#include "tests/ScratchDir.h"

namespace quillon {
namespace {

const std::filesystem::path kSource = QUILLON_SOURCE_DIR;
using testing::ExampleText;

// Writes a file in the test's scratch folder.
struct TempFile {
  TempFile(const std::string& name, const std::string& content) : path(testing::ScratchPath(name)) {
    testing::WriteFileBytes(path, content);
  }
  std::filesystem::path path;
};

TEST(OpenLogTest, FailuresLeaveNoTreeAndSayWhy) {
  const std::string missing = testing::ScratchPath("no_such.ilx").string();
  OpenLogResult cannot = OpenLog(missing);
  EXPECT_EQ(cannot.status, OpenLogResult::Status::kCannotOpen);
  EXPECT_EQ(cannot.message, "Failed to open file: " + missing + " (No such file or directory)");
  EXPECT_EQ(cannot.log, nullptr);

  TempFile binary("binary.ilx", std::string("debugIsakmpHdr:\0\x01\x02", 18));
  OpenLogResult wrong = OpenLog(binary.path.string());
  EXPECT_EQ(wrong.status, OpenLogResult::Status::kWrongFileType);
  EXPECT_EQ(wrong.message, "Wrong file type");
  EXPECT_EQ(wrong.log, nullptr);

  TempFile empty("empty.ilx", "");
  OpenLogResult result = OpenLog(empty.path.string());
  ASSERT_EQ(result.status, OpenLogResult::Status::kLoaded) << "an empty file is an empty log";
  EXPECT_EQ(result.log->ChildCount(), 0u);
  EXPECT_EQ(LoadTimeText(3725), "File loaded in 02 minutes, 05 seconds.");
}

// A log cut off inside a packet, in both formats, as a copied or still-written log is; the
// sample logs end whole.
TEST(OpenLogTest, ALogEndingInsideAPacketIsTold) {
  for (const char* example : {"small.ilx", "gateway-day.ilx", "ikev2-site-to-site.xml", "ikev2-remote-access.xml"}) {
    const OpenLogResult whole = OpenLog((kSource / "examples" / example).string());
    EXPECT_FALSE(whole.truncated) << example;
    const std::string text = ExampleText(example);
    // Cut in the middle of the last exchange, within a line.
    const std::string name = std::string("cut_") + example;
    TempFile cut(name, text.substr(0, text.size() * 9 / 10));
    const OpenLogResult result = OpenLog(cut.path.string());
    ASSERT_EQ(result.status, OpenLogResult::Status::kLoaded) << example;
    EXPECT_TRUE(result.truncated) << example;
  }
  struct Case {
    const char* tail;
    bool ikev1, inside;
  };
  for (const Case& c : {Case{"debugSAPayload:\n\tNextPld: 00\n", true, false},
                        Case{"\tLength: 00 20 (32)\n\ngxike[1] 10:00:00 done\n", true, false},
                        Case{"##### END PACKET DEBUG #####\n", true, false},
                        Case{"debugNotifyPayload:\n", true, true}, Case{"\tNotifyType: 8d", true, true},
                        Case{"##### BEGIN PACKET DEBUG #####\n\tSent:\n", true, true},
                        Case{"</Exchange>\n\n", false, false}, Case{"\t</Message>\n", false, true},
                        Case{"</Exchange", false, true}, Case{"", false, false}})
    EXPECT_EQ(EndsInsidePacket(std::string("first line\n") + c.tail, c.ikev1 ? IKEv1LogFormat() : IKEv2LogFormat()), c.inside)
        << c.tail;
  EXPECT_EQ(TruncatedText("gw.ilx"), "The log ends inside a packet: gw.ilx");
}

// What loads saves to a file that loads as the same tree: an empty .xml, or one with its root
// element and no exchange yet, is an empty IKEv2 log (saved again as one), and a NUL byte past
// the first 64 KiB (where the type check does not look) reads as a blank wherever it stands.
TEST(OpenLogTest, SavedCopiesOfOddFilesLoad) {
  std::vector<std::pair<std::string, std::string>> logs{
      {"empty.xml", ""}, {"root.xml", "<?xml version=\"1.0\"?>\r\n<IKEv2Log gateway=\"gw\">\r\n"}};
  const std::string day = ExampleText("gateway-day.ilx");
  for (std::size_t at = 70000; at < day.size(); at += 37000) logs.emplace_back("nul.ilx", day.substr(0, at) + '\0' + day.substr(at));
  for (const auto& [name, text] : logs) {
    OpenLogResult loaded = LoadLog(name, std::make_shared<TextSource>(text));
    ASSERT_EQ(loaded.status, OpenLogResult::Status::kLoaded) << name;
    StringSink saved;
    ASSERT_TRUE(WriteLog(*loaded.log, saved));
    EXPECT_EQ(saved.text.find('\0'), std::string::npos);
    OpenLogResult again = LoadLog(name, std::make_shared<TextSource>(saved.text));
    ASSERT_EQ(again.status, OpenLogResult::Status::kLoaded) << name << ": " << again.message;
    EXPECT_EQ(cli::TextTree(*again.log, {.texts = true}), cli::TextTree(*loaded.log, {.texts = true})) << name;
    EXPECT_EQ(again.log->IsIKEv2(), name.ends_with(".xml")) << name;
  }
}

// Line ends as the daemon's platforms and old editors write them: LF, CR LF and CR alone read
// alike, across the reader's buffer boundaries too.
TEST(OpenLogTest, AnyLineEndsReadAlike) {
  for (const char* name : {"small.ilx", "gateway-day.ilx", "ikev2-site-to-site.xml"}) {
    const std::string lf = ExampleText(name);
    std::string cr = lf, crlf;
    std::replace(cr.begin(), cr.end(), '\n', '\r');
    for (char c : lf) c == '\n' ? crlf += "\r\n" : crlf += c;
    const cli::PrintOptions texts{.texts = true};
    const std::string expected = cli::TextTree(*LoadLog(name, std::make_shared<TextSource>(lf)).log, texts);
    for (const std::string* text : {&cr, &crlf}) {
      OpenLogResult result = LoadLog(name, std::make_shared<TextSource>(*text));
      ASSERT_EQ(result.status, OpenLogResult::Status::kLoaded) << name;
      EXPECT_EQ(cli::TextTree(*result.log, texts), expected) << name << (text == &cr ? " CR" : " CR LF");
    }
  }
}

TEST(OpenLogTest, ReaderIsChosenByThePathThenByTheContents) {
  for (const char* v1Path : {"C:\\logs\\IKE.ilx", "/tmp/capture.ikev1trace.xml", "/tmp/a.ilx.bak", "/tmp/gw.IKEv1Trace.gz"})
    EXPECT_TRUE(IsIKEv1LogPath(v1Path)) << v1Path;
  EXPECT_FALSE(IsIKEv1LogPath("/tmp/ike.xml"));

  const std::string v1 = ExampleText("small.ilx");
  const std::string v2 = ExampleText("ikev2-site-to-site.xml");
  const std::string text = "root:x:0:0:root:/root:/bin/bash\ndaemon:x:1:1:daemon:/usr/sbin\n";
  std::filesystem::create_directories(testing::ScratchPath("logs.ilx.d"));
  struct Case {
    const char* name;
    const std::string& content;
    OpenLogResult::Status status;
    bool ikev1Reader;
    bool noPackets;
  };
  using S = OpenLogResult::Status;
  const Case cases[] = {
      {"upper.ILX", v1, S::kLoaded, true, false},
      {"debug.log", v1, S::kLoaded, true, false},          // IKEv1 under another name
      {"logs.ilx.d/site.xml", v2, S::kLoaded, false, false},  // IKEv2 in a folder named like IKEv1
      {"site.ilx", v2, S::kLoaded, false, false},
      {"passwd.ilx", text, S::kLoaded, true, true},          // nothing found: said, not refused
      {"passwd.xml", text, S::kWrongFileType, false, false},  // lines without exchanges, as before
  };
  for (const Case& c : cases) {
    TempFile file(c.name, c.content);
    OpenLogResult result = OpenLog(file.path.string());
    ASSERT_EQ(result.status, c.status) << c.name;
    if (c.status != S::kLoaded) continue;
    EXPECT_EQ(result.format, c.ikev1Reader ? &IKEv1LogFormat() : &IKEv2LogFormat()) << c.name;
    EXPECT_EQ(result.noPackets, c.noPackets) << c.name;
    EXPECT_EQ(result.log->ChildCount() == 0, c.noPackets) << c.name;
  }
  EXPECT_EQ(NoPacketsText("/tmp/x.ilx"), "No IKE packets found in /tmp/x.ilx");
}

// What cannot be read is never an empty or short log: a read error in the middle of a load (a
// failing disk), of either format. (A directory as LOG: CliStreamsTest.)
TEST(OpenLogTest, UnreadableInputFailsWithTheSystemsReason) {
  // The log's bytes in small blocks until the reader's second read, then EIO.
  class FailingSource : public TextSource {
   public:
    using TextSource::TextSource;
    std::size_t ReadAt(std::uint64_t offset, char* data, std::size_t size) override {
      if (++reads_ <= 2) return TextSource::ReadAt(offset, data, std::min<std::size_t>(size, 1024));
      SetError("Input/output error");
      return 0;
    }

   private:
    int reads_ = 0;
  };
  for (const char* name : {"small.ilx", "ikev2-site-to-site.xml"}) {
    const std::string log = ExampleText(name);
    OpenLogResult failed = LoadLog(name, std::make_shared<FailingSource>(log));
    EXPECT_EQ(failed.status, OpenLogResult::Status::kCannotOpen) << name;
    EXPECT_EQ(failed.message, std::string("Failed to open file: ") + name + " (Input/output error)");
    EXPECT_EQ(failed.log, nullptr);
    EXPECT_EQ(LoadLog(name, std::make_shared<TextSource>(log)).status, OpenLogResult::Status::kLoaded) << name;
  }
}

// A load reads the file up to its size when the load began: what the daemon appends belongs to
// the next load. A file cut during the load gives what was read, with a warning.
TEST(OpenLogTest, GrowthIsLeftForTheNextLoadAndTruncationWarns) {
  for (const char* name : {"gateway-day.ilx", "ikev2-site-to-site.xml"}) {
    const std::string log = ExampleText(name);
    const std::string expected = cli::TextTree(*OpenLog(testing::ExamplePath(name).string()).log, {false, true});
    TempFile file(std::string("changing_") + name, log);
    const std::string path = file.path.string();

    std::string error;
    std::shared_ptr<FileSource> growing = FileSource::Open(path, error);
    ASSERT_TRUE(growing) << error;
    testing::WriteFileBytes(file.path, log, std::ios::app);  // appended after the start
    OpenLogResult grown = LoadLog(path, growing);
    ASSERT_EQ(grown.status, OpenLogResult::Status::kLoaded);
    EXPECT_EQ(cli::TextTree(*grown.log, {false, true}), expected) << name;
    EXPECT_TRUE(grown.warning.empty());

    std::shared_ptr<FileSource> shrinking = FileSource::Open(path, error);
    std::filesystem::resize_file(file.path, log.size() / 2);
    OpenLogResult cut = LoadLog(path, shrinking);
    ASSERT_EQ(cut.status, OpenLogResult::Status::kLoaded) << name;
    EXPECT_EQ(cut.warning, "The file changed while it was read: " + path);
    EXPECT_LT(CountTree(*cut.log).packets, CountTree(*grown.log).packets);
  }
}

}  // namespace
}  // namespace quillon
