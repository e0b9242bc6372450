// Saving replaces the target only once every byte is on disk, never writes over the file it is
// told to keep, and leaves nothing behind when it fails.
#include "platform/SafeFile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>

#include "tests/ScratchDir.h"

namespace quillon::platform {
namespace {

namespace fs = std::filesystem;

class SafeFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::path(::testing::TempDir()) / ("quillon-safefile-" + std::to_string(::getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string Path(const std::string& name) const { return (dir_ / name).string(); }
  static std::string Read(const std::string& path) { return testing::ReadFileBytes(path); }
  static void Write(const std::string& path, const std::string& text) { testing::WriteFileBytes(path, text); }
  std::size_t Entries() const { return static_cast<std::size_t>(std::distance(fs::directory_iterator(dir_), {})); }

  static SaveResult Save(const std::string& target, const std::string& keep, const std::string& text, bool ok = true) {
    // Half the text, then (when `ok`) the rest: a writer that fails after writing something.
    return SaveFile(target, keep, [&](ByteSink& sink) {
      return sink.Write(text.substr(0, text.size() / 2)) && ok && sink.Write(text.substr(text.size() / 2));
    });
  }

  fs::path dir_;
};

// The target is replaced whole and keeps its permissions; a linked target replaces the file
// it names and stays a link.
TEST_F(SafeFileTest, ReplacesTheTargetWholeAndKeepsItsPermissionsAndLink) {
  const std::string target = Path("out.ilx"), link = Path("link.ilx");
  EXPECT_EQ(Save(target, "", "first").status, SaveResult::Status::kSaved);
  EXPECT_EQ(Read(target), "first");
  ASSERT_EQ(::chmod(target.c_str(), 0640), 0);
  fs::create_symlink(target, link);
  const SaveResult result = Save(link, "", "second, longer");
  EXPECT_EQ(result.status, SaveResult::Status::kSaved);
  EXPECT_EQ(Read(target), "second, longer");
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(fs::canonical(result.path), fs::canonical(target));
  struct stat st {};
  ASSERT_EQ(::stat(target.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  EXPECT_EQ(Entries(), 2u);  // no temporary file left
}

TEST_F(SafeFileTest, TheKeptFileIsRecognisedByIdentityNotSpelling) {
  const std::string log = Path("open.ilx");
  Write(log, "the open log");
  fs::create_symlink(log, Path("link.ilx"));
  fs::create_hard_link(log, Path("hard.ilx"));
  for (const std::string& same : {log, Path("./open.ilx"), Path("link.ilx"), Path("hard.ilx")}) {
    SCOPED_TRACE(same);
    const SaveResult result = Save(same, log, "overwritten");
    EXPECT_EQ(result.status, SaveResult::Status::kSameFile);
    EXPECT_EQ(result.message, same + " is currently open.\nPlease select a new file name.");
  }
  EXPECT_EQ(Read(log), "the open log");
  EXPECT_EQ(Entries(), 3u);
}

TEST_F(SafeFileTest, FailuresLeaveTheTargetAndNoTemporaryFile) {
  const std::string target = Path("out.ilx");
  Write(target, "kept");
  Write(Path("plain-file"), "x");
  fs::create_directory(Path("folder"));
  struct Case {
    std::string target;
    bool writerOk;
    const char* reason;
  };
  const Case cases[] = {
      {target, false, "Input/output error"},                       // the writer could not finish
      {Path("missing/out.ilx"), true, "No such file or directory"},  // folder missing
      {Path("plain-file/out.ilx"), true, "Not a directory"},         // a path under a file
      {Path("folder"), true, "Is a directory"},
      {"/dev/full", true, "No space left on device"},                // the disk is full
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.target);
    const SaveResult result = Save(c.target, "", "new contents", c.writerOk);
    EXPECT_EQ(result.status, SaveResult::Status::kFailed);
    EXPECT_EQ(result.message, "Failed to save file: " + c.target + "\n" + c.reason);
  }
  EXPECT_EQ(Read(target), "kept");
  EXPECT_EQ(Entries(), 3u);  // out.ilx, plain-file, folder: nothing else
}

}  // namespace
}  // namespace quillon::platform
