// The logging-environment installer: the product directory's look-up, the log directory, the
// machine-wide variables in /etc/environment, and the report's exact texts.
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

  void SetProduct(const QString& key, const QVariant& value) {
    QSettings settings(productFile, QSettings::IniFormat);
    settings.setValue(key, value);
  }
  // /etc/environment as it stood before the installer, with the given mode bits.
  void WriteEnvironment(const QByteArray& contents, mode_t mode) {
    QFile file(environmentFile);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(contents);
    file.close();
    ASSERT_EQ(::chmod(environmentFile.toStdString().c_str(), mode), 0);
  }
  QByteArray EnvironmentContents() const {
    QFile file(environmentFile);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
  }
  QString Install() {
    RecordingMessages messages;
    environment.Install(messages);
    EXPECT_EQ(messages.shown.size(), 1);
    return messages.shown.value(0);
  }
};

TEST_F(LoggingEnvironmentTest, WithoutTheProductTheReportSaysSoAndTheVariablesAreSet) {
  EXPECT_EQ(environment.ReadGxDir(), std::nullopt);
  // One outcome: without its directory the daemon cannot log.
  EXPECT_EQ(Install(),
            "IKE logging environment installation failed.\n\n"
            "Failed to get GXDIR.  Log directory not added.  Make sure a \"log\" directory exists under GXDIR.\n\n"
            "Environment variables added successfully to " + environmentFile +
                ".\n\nYou must now update your environment settings.  You can do this by logging out and logging "
                "back in.  In addition, you must restart all relevant processes.");
  EXPECT_EQ(EnvironmentContents(), "GXIKE_DEBUG=1\nGXISAKMP_DEBUG=1\n");
}

TEST_F(LoggingEnvironmentTest, CreatesTheLogDirectoryOnceAndReportsAnExistingOne) {
  const QString product = directory.filePath("opt/gx");
  QDir().mkpath(product);
  SetProduct("GXDIR", product);
  EXPECT_EQ(environment.InstallIKELogDir(), LoggingEnvironment::kLogDirCreated);
  EXPECT_TRUE(QFileInfo(product + "/log").isDir());
  EXPECT_TRUE(Install().contains("Could not create log directory.  Make sure a \"" + product +
                                 "/log\" directory exists.\n\nEnvironment variables added successfully"));

  QDir(product + "/log").removeRecursively();
  EXPECT_TRUE(Install().startsWith("IKE logging environment installation complete.\n\n"
                                   "Log directory added successfully.\n\nEnvironment"));

  // One level only: a product directory that does not exist is not created along the way.
  SetProduct("GXDIR", directory.filePath("not/there"));
  EXPECT_EQ(environment.InstallIKELogDir(), LoggingEnvironment::kLogDirNotCreated);
  EXPECT_FALSE(QFileInfo::exists(directory.filePath("not")));
}

TEST_F(LoggingEnvironmentTest, TheFirstVersionGroupPresentIsTheOneRead) {
  // An empty directory is unknown: otherwise "log" would be made at the root of the file system.
  SetProduct("GXDIR", "");
  EXPECT_EQ(environment.ReadGxDir(), std::nullopt);
  EXPECT_EQ(environment.InstallIKELogDir(), LoggingEnvironment::kProductDirUnknown);
  SetProduct("GXDIR", "/opt/gx-top");
  EXPECT_EQ(environment.ReadGxDir(), "/opt/gx-top");
  SetProduct("Alpha/GXDIR", "/opt/gx-alpha");
  EXPECT_EQ(environment.ReadGxDir(), "/opt/gx-alpha");
  SetProduct("Beta/Other", "x");
  EXPECT_EQ(environment.ReadGxDir(), std::nullopt) << "the Beta group without a directory does not fall back";
  SetProduct("Beta/GXDIR", "/opt/gx-beta");
  EXPECT_EQ(environment.ReadGxDir(), "/opt/gx-beta");
}

TEST_F(LoggingEnvironmentTest, EnvironmentFileKeepsItsOtherLinesAndPermissions) {
  WriteEnvironment("PATH=\"/usr/local/bin:/usr/bin\"\nexport GXIKE_DEBUG=0\nLANG=C\nGXIKE_DEBUG=0\n# comment\nEND=1", 0644);
  // Running it twice gives the same file, with the same rw-r--r-- mode.
  for (int run = 0; run < 2; ++run) {
    EXPECT_TRUE(environment.InstallEnvironmentVariables());
    EXPECT_EQ(EnvironmentContents(),
              "PATH=\"/usr/local/bin:/usr/bin\"\nGXIKE_DEBUG=1\nLANG=C\n# comment\nEND=1\nGXISAKMP_DEBUG=1\n");
    EXPECT_EQ(QFile(environmentFile).permissions() & 0x7077,  // owner, group and other bits
              QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup | QFileDevice::ReadOther);
  }
}

// Another writer that locks the file as well (a second installer, an administrator's script)
// loses nothing to the read-modify-write, and the file keeps its owner, group and mode.
TEST_F(LoggingEnvironmentTest, ConcurrentWriterLosesNothingAndOwnerAndModeAreKept) {
  const std::string path = environmentFile.toStdString();
  WriteEnvironment("LANG=C\n", 0444);
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
      if (::flock(fd, LOCK_EX) == 0 && ::fstat(fd, &opened) == 0 && ::stat(path.c_str(), &named) == 0 &&
          opened.st_ino == named.st_ino) {
        const std::string line = "LINE" + std::to_string(i) + "=x\n";
        if (::write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size())) ++i;
      }
      ::close(fd);
    }
  });
  bool allInstalled = true;
  for (int run = 0; run < 40; ++run) allInstalled = environment.InstallEnvironmentVariables() && allInstalled;
  writer.join();
  EXPECT_TRUE(allInstalled);
  const QByteArray contents = EnvironmentContents();
  for (int i = 0; i < kLines; ++i) EXPECT_TRUE(contents.contains("\nLINE" + QByteArray::number(i) + "=x\n")) << i;
  EXPECT_EQ(contents.count("GXIKE_DEBUG=1\n"), 1);
  EXPECT_EQ(contents.count("GXISAKMP_DEBUG=1\n"), 1);
  struct stat after {};
  ASSERT_EQ(::stat(path.c_str(), &after), 0);
  EXPECT_EQ(after.st_mode & 07777, 0444u);
  if (root) {
    EXPECT_EQ(after.st_uid, 1234u);
    EXPECT_EQ(after.st_gid, 5678u);
  }
  EXPECT_EQ(QDir(directory.filePath("etc")).entryList(QDir::Files).size(), 1) << "no file is left beside it";
}

TEST_F(LoggingEnvironmentTest, VariablesThatCannotBeWrittenAreLeftToTheAdministrator) {
  const LoggingEnvironment nowhere({productFile, directory.filePath("no/such/dir/environment")});
  EXPECT_FALSE(nowhere.InstallEnvironmentVariables());
  RecordingMessages messages;
  nowhere.Install(messages);
  ASSERT_EQ(messages.shown.size(), 1);
  EXPECT_TRUE(messages.shown[0].endsWith(
      "Failed to install IKE logging environment variables.  You will have to do so manually.  Add the lines "
      "GXIKE_DEBUG=1 and GXISAKMP_DEBUG=1 to " + directory.filePath("no/such/dir/environment") +
      " (as root), then log out and log back in.  In addition, you must restart all relevant processes."));

  RecordingMessages bad;
  environment.Report(3, true, bad);
  EXPECT_EQ(bad.shown, QStringList({"Bad return code from InstallIKELogDir()."}));
}

}  // namespace
}  // namespace quillon::test
