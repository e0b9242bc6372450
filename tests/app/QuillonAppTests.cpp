// The command line.
#include <gtest/gtest.h>

#include "app/QuillonApp.h"

namespace quillon {
namespace {

TEST(QuillonAppTest, CommandLine) {
  QString error;
  auto options = CQuillonApp::ParseArguments({}, error);
  ASSERT_TRUE(options);
  EXPECT_TRUE(options->file.isEmpty());
  EXPECT_FALSE(options->installLoggingEnvironment);

  options = CQuillonApp::ParseArguments({"--install-logging-environment"}, error);
  ASSERT_TRUE(options);
  EXPECT_TRUE(options->installLoggingEnvironment);

  options = CQuillonApp::ParseArguments({"--screenshot", "/tmp/s.png", "--", "-odd name.ilx"}, error);
  ASSERT_TRUE(options);
  EXPECT_EQ(options->screenshot, "/tmp/s.png");
  EXPECT_EQ(options->file, "-odd name.ilx");

  EXPECT_FALSE(CQuillonApp::ParseArguments({"a.ilx", "b.ilx"}, error));
  EXPECT_FALSE(CQuillonApp::ParseArguments({"--bogus"}, error));
  EXPECT_EQ(error, "unknown option --bogus");
  EXPECT_FALSE(CQuillonApp::ParseArguments({"--screenshot"}, error));
}

}  // namespace
}  // namespace quillon
