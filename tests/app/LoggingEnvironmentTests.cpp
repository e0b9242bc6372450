// The logging-environment installer: the product directory's look-up, the log directory, the
// machine-wide variables in /etc/environment, and the report's exact texts.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>

#include "AppTestSupport.h"
#include "app/LoggingEnvironment.h"

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
  EXPECT_EQ(Install(),
            "IKE logging environment installation complete.\n\n"
            "Failed to get GXDIR.  Log directory not added.  Make sure a \"log\" directory exists under GXDIR.\n\n"
            "Environment variables added successfully.\n\nYou must now update your environment settings.  You can "
            "do this by either logging out and logging back in, or by pressing the \"OK\" button on the Control "
            "Panel->System Environment property sheet.  In addition, you must restart all relevant processes.");
  EXPECT_EQ(EnvironmentContents(), "GXIKE_DEBUG=1\nGXISAKMP_DEBUG=1\n");
}

TEST_F(LoggingEnvironmentTest, CreatesTheLogDirectoryOnceAndReportsAnExistingOne) {
  const QString product = directory.filePath("opt/gx");
  QDir().mkpath(product);
  SetProduct("GXDIR", product);
  EXPECT_EQ(environment.InstallIKELogDir(), LoggingEnvironment::kLogDirCreated);
  EXPECT_TRUE(QFileInfo(product + "/log").isDir());
  EXPECT_TRUE(Install().contains("Could not create log directory.  Make sure a \"" + product +
                                 "/log\" directory exists.\n\nEnvironment variables added successfully."));

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
  {
    QFile file(environmentFile);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("PATH=\"/usr/local/bin:/usr/bin\"\nexport GXIKE_DEBUG=0\nLANG=C\nGXIKE_DEBUG=0\n# comment\nEND=1");
    file.close();
    ASSERT_TRUE(file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup |
                                    QFileDevice::ReadOther));
  }
  // Running it twice gives the same file, with the same rw-r--r-- mode.
  for (int run = 0; run < 2; ++run) {
    EXPECT_TRUE(environment.InstallEnvironmentVariables());
    EXPECT_EQ(EnvironmentContents(),
              "PATH=\"/usr/local/bin:/usr/bin\"\nGXIKE_DEBUG=1\nLANG=C\n# comment\nEND=1\nGXISAKMP_DEBUG=1\n");
    EXPECT_EQ(QFile(environmentFile).permissions() & 0x7077,  // owner, group and other bits
              QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup | QFileDevice::ReadOther);
  }
}

TEST_F(LoggingEnvironmentTest, VariablesThatCannotBeWrittenAreLeftToTheAdministrator) {
  const LoggingEnvironment nowhere({productFile, directory.filePath("no/such/dir/environment")});
  EXPECT_FALSE(nowhere.InstallEnvironmentVariables());
  RecordingMessages messages;
  nowhere.Install(messages);
  ASSERT_EQ(messages.shown.size(), 1);
  EXPECT_TRUE(messages.shown[0].endsWith(
      "Failed to install IKE logging environment variables.  You will have to do so manually.  Add GXIKE_DEBUG and "
      "GXISAKMP_DEBUG to your environment, both with value \"1.\"  In addition, you must restart all relevant "
      "processes."));

  RecordingMessages bad;
  environment.Report(3, true, bad);
  EXPECT_EQ(bad.shown, QStringList({"Bad return code from InstallIKELogDir()."}));
}

}  // namespace
}  // namespace quillon::test
