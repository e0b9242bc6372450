#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "cli/TreePrinter.h"
#include "logs/OpenLog.h"
#include "model/TreeCounts.h"

namespace quillon {
namespace {

const std::filesystem::path kSource = QUILLON_SOURCE_DIR;

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// Writes a temporary file that is removed with the object.
struct TempFile {
  TempFile(const std::string& name, const std::string& content)
      : path(std::filesystem::temp_directory_path() / ("quillon_openlog_" + name)) {
    std::ofstream(path, std::ios::binary) << content;
  }
  ~TempFile() { std::filesystem::remove(path); }
  std::filesystem::path path;
};

TEST(OpenLogTest, FailuresLeaveNoTreeAndSayWhy) {
  const std::string missing = (std::filesystem::temp_directory_path() / "quillon_no_such.ilx").string();
  OpenLogResult cannot = OpenLog(missing);
  EXPECT_EQ(cannot.status, OpenLogResult::Status::kCannotOpen);
  EXPECT_EQ(cannot.message, "Failed to open file: " + missing);
  EXPECT_EQ(cannot.log, nullptr);

  TempFile binary("binary.ilx", std::string("debugIsakmpHdr:\0\x01\x02", 18));
  OpenLogResult wrong = OpenLog(binary.path.string());
  EXPECT_EQ(wrong.status, OpenLogResult::Status::kWrongFileType);
  EXPECT_EQ(wrong.message, "Wrong file type");
  EXPECT_EQ(wrong.log, nullptr);

  TempFile notXml("notxml.xml", "just some text\nwithout exchanges\n");
  EXPECT_EQ(OpenLog(notXml.path.string()).status, OpenLogResult::Status::kWrongFileType);
}

TEST(OpenLogTest, EmptyFilesAreEmptyLogs) {
  TempFile empty("empty.ilx", "");
  OpenLogResult result = OpenLog(empty.path.string());
  ASSERT_EQ(result.status, OpenLogResult::Status::kLoaded);
  EXPECT_EQ(result.log->Name(), "IKE debugging info");
  EXPECT_EQ(result.log->ChildCount(), 0u);
  EXPECT_EQ(result.loadTimeText, "File loaded in 00 minutes, 00 seconds.");
  EXPECT_EQ(LoadTimeText(3725), "File loaded in 02 minutes, 05 seconds.");
}

TEST(OpenLogTest, ReaderIsChosenByThePathThenByTheContents) {
  EXPECT_TRUE(IsIKEv1LogPath("C:\\logs\\IKE.ilx"));
  EXPECT_TRUE(IsIKEv1LogPath("/tmp/capture.ikev1trace.xml"));
  EXPECT_TRUE(IsIKEv1LogPath("/tmp/a.ilx.bak"));
  EXPECT_TRUE(IsIKEv1LogPath("/tmp/IKE.ILX"));
  EXPECT_TRUE(IsIKEv1LogPath("/tmp/gw.IKEv1Trace.gz"));
  EXPECT_FALSE(IsIKEv1LogPath("/tmp/ike.xml"));

  const std::string v1 = ReadFile(kSource / "examples" / "small.ilx");
  const std::string v2 = ReadFile(kSource / "examples" / "ikev2-site-to-site.xml");
  const std::string text = "root:x:0:0:root:/root:/bin/bash\ndaemon:x:1:1:daemon:/usr/sbin\n";
  std::filesystem::create_directories(std::filesystem::temp_directory_path() / "quillon_openlog_logs.ilx.d");
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
    EXPECT_EQ(result.ikev1Reader, c.ikev1Reader) << c.name;
    EXPECT_EQ(result.noPackets, c.noPackets) << c.name;
    EXPECT_EQ(result.log->ChildCount() == 0, c.noPackets) << c.name;
  }
  EXPECT_EQ(NoPacketsText("/tmp/x.ilx"), "No IKE packets found in /tmp/x.ilx");
}

// The command-line tool's output is read by scripts: the sample's tree must not drift.
TEST(OpenLogTest, CommandLineOutputOfTheSmallSample) {
  const std::string path = (kSource / "examples" / "small.ilx").string();
  OpenLogResult first = OpenLog(path);
  ASSERT_EQ(first.status, OpenLogResult::Status::kLoaded);
  const std::string text = cli::TextTree(*first.log, {});
  EXPECT_EQ(text, ReadFile(kSource / "tests" / "cli" / "small.ilx.expected.txt"));

  // Loading the same file again gives the same tree, detail texts included.
  cli::PrintOptions all;
  all.json = true;
  all.texts = true;
  OpenLogResult second = OpenLog(path);
  ASSERT_EQ(second.status, OpenLogResult::Status::kLoaded);
  EXPECT_EQ(cli::JsonTree(*first.log, all), cli::JsonTree(*second.log, all));
}

}  // namespace
}  // namespace quillon
