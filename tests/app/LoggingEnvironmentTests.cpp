// The logging-environment installer: the product directory's look-up, the log directory, and
// the machine-wide variables in /etc/environment.
#include <gtest/gtest.h>

#include <QDir>
#include <QSettings>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <thread>

#include "AppTestSupport.h"

namespace quillon::test {
namespace {

class LoggingEnvironmentTest : public ::testing::Test {
 protected:
  QTemporaryDir directory;
  QString productFile = directory.filePath("GX1.conf");
  QString environmentFile = directory.filePath("etc/environment");
  LoggingEnvironment environment{{productFile, environmentFile}};

  LoggingEnvironmentTest() { QDir().mkpath(directory.filePath("etc")); }

  void SetProduct(const QString& key, const QVariant& value) { QSettings(productFile, QSettings::IniFormat).setValue(key, value); }
  QByteArray EnvironmentContents() const { return FrameFixture::Contents(environmentFile); }
  QString Install(const LoggingEnvironment& installer) {
    RecordingMessages messages;
    installer.Install(messages);
    EXPECT_EQ(messages.shown.size(), 1);
    return messages.shown.value(0);
  }
};

TEST_F(LoggingEnvironmentTest, TheLogDirectoryIsMadeOnceUnderAKnownProductDirectoryOnly) {
  // Without its directory the daemon cannot log: one failed outcome, the variables set anyway.
  EXPECT_EQ(environment.ReadGxDir(), std::nullopt);
  EXPECT_TRUE(Install(environment).startsWith("IKE logging environment installation failed.\n\nFailed to get GXDIR."));
  EXPECT_EQ(EnvironmentContents(), "GXIKE_DEBUG=1\nGXISAKMP_DEBUG=1\n");

  const QString product = directory.filePath("opt/gx");
  QDir().mkpath(product);
  SetProduct("GXDIR", product);
  EXPECT_EQ(environment.InstallIKELogDir(), LoggingEnvironment::kLogDirCreated);
  EXPECT_TRUE(QFileInfo(product + "/log").isDir());
  EXPECT_TRUE(Install(environment).contains("Could not create log directory.  Make sure a \"" + product + "/log\" directory exists."));
  QDir(product + "/log").removeRecursively();
  EXPECT_TRUE(Install(environment).startsWith("IKE logging environment installation complete.\n\nLog directory added successfully."));
  // One level only: a product directory that does not exist is not created along the way.
  SetProduct("GXDIR", directory.filePath("not/there"));
  EXPECT_EQ(environment.InstallIKELogDir(), LoggingEnvironment::kLogDirNotCreated);
  EXPECT_FALSE(QFileInfo::exists(directory.filePath("not")));
  // An empty directory is unknown: otherwise "log" would be made at the root of the file system.
  SetProduct("GXDIR", "");
  EXPECT_EQ(environment.InstallIKELogDir(), LoggingEnvironment::kProductDirUnknown);
}

TEST_F(LoggingEnvironmentTest, TheFirstVersionGroupPresentIsTheOneRead) {
  const std::pair<const char*, std::optional<QString>> steps[] = {
      {"GXDIR", "/opt/gx-top"}, {"Alpha/GXDIR", "/opt/gx-alpha"},
      {"Beta/Other", std::nullopt},  // the Beta group without a directory does not fall back
      {"Beta/GXDIR", "/opt/gx-beta"}};
  for (const auto& [key, expected] : steps) {
    SetProduct(key, expected.value_or("x"));
    EXPECT_EQ(environment.ReadGxDir(), expected) << key;
  }
}

TEST_F(LoggingEnvironmentTest, EnvironmentFileKeepsItsOtherLinesAndPermissions) {
  QFile file(environmentFile);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write("PATH=\"/usr/local/bin:/usr/bin\"\nexport GXIKE_DEBUG=0\nLANG=C\nGXIKE_DEBUG=0\n# comment\nEND=1");
  file.close();
  ASSERT_EQ(::chmod(environmentFile.toStdString().c_str(), 0644), 0);
  for (int run = 0; run < 2; ++run) {  // running it twice gives the same file, with the same mode
    EXPECT_TRUE(environment.InstallEnvironmentVariables());
    EXPECT_EQ(EnvironmentContents(), "PATH=\"/usr/local/bin:/usr/bin\"\nGXIKE_DEBUG=1\nLANG=C\n# comment\nEND=1\nGXISAKMP_DEBUG=1\n");
    EXPECT_EQ(QFile(environmentFile).permissions() & 0x7077,
              QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup | QFileDevice::ReadOther);
  }
  // A file that cannot be written is left to the administrator, with the lines to add.
  const QString nowhere = directory.filePath("no/such/dir/environment");
  const LoggingEnvironment refused({productFile, nowhere});
  EXPECT_FALSE(refused.InstallEnvironmentVariables());
  EXPECT_TRUE(Install(refused).contains("Add the lines GXIKE_DEBUG=1 and GXISAKMP_DEBUG=1 to " + nowhere + " (as root)"));
}

// Another writer that locks the file as well (a second installer, an administrator's script)
// loses nothing to the read-modify-write, and the file keeps its owner, group and mode.
TEST_F(LoggingEnvironmentTest, ConcurrentWriterLosesNothingAndOwnerAndModeAreKept) {
  const std::string path = environmentFile.toStdString();
  QFile file(environmentFile);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write("LANG=C\n") == 7);
  file.close();
  ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
  const bool root = ::geteuid() == 0;
  if (root) {
    ASSERT_EQ(::chown(path.c_str(), 1234, 5678), 0);
  }
  constexpr int kLines = 300;
  std::thread writer([&path] {
    for (int i = 0; i < kLines;) {
      const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND);
      if (fd < 0) continue;
      struct stat opened {}, named {};
      const std::string line = "LINE" + std::to_string(i) + "=x\n";
      if (::flock(fd, LOCK_EX) == 0 && ::fstat(fd, &opened) == 0 && ::stat(path.c_str(), &named) == 0 &&
          opened.st_ino == named.st_ino && ::write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size()))
        ++i;
      ::close(fd);
    }
  });
  bool allInstalled = true;
  for (int run = 0; run < 40; ++run) allInstalled = environment.InstallEnvironmentVariables() && allInstalled;
  writer.join();
  EXPECT_TRUE(allInstalled);
  const QByteArray contents = EnvironmentContents();
  for (int i = 0; i < kLines; ++i) EXPECT_TRUE(contents.contains("\nLINE" + QByteArray::number(i) + "=x\n")) << i;
  EXPECT_EQ(contents.count("GXIKE_DEBUG=1\n") + contents.count("GXISAKMP_DEBUG=1\n"), 2);
  struct stat after {};
  ASSERT_EQ(::stat(path.c_str(), &after), 0);
  EXPECT_EQ(after.st_mode & 07777, 0444u);
  EXPECT_TRUE(!root || (after.st_uid == 1234u && after.st_gid == 5678u));
  EXPECT_EQ(QDir(directory.filePath("etc")).entryList(QDir::Files).size(), 1) << "no file is left beside it";
}

}  // namespace
}  // namespace quillon::test
