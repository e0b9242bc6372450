// What makes the viewer behave as a desktop application here: the command line, the layout
// kept across runs, the recent-file list shared between running windows, and icons drawn for
// the screen's pixel ratio and palette.
#include <gtest/gtest.h>

#include <QSettings>
#include <QSplitter>

#include "AppTestSupport.h"
#include "app/AboutDialog.h"
#include "app/StateIcons.h"
#include "app/ToolbarIcons.h"
#include "model/TreeRules.h"
#include "app/PlatformServices.h"
#include "app/QuillonApplication.h"
#include "app/RecentFiles.h"

namespace quillon::test {
namespace {

// The help options are answered without a window; the rest is parsed into the start options.
TEST(QuillonApplicationTest, CommandLine) {
  using Info = QuillonApplication::Information;
  const struct {
    QStringList arguments;
    Info information;
    bool parsed;
    QString file, screenshot;
    bool install;
  } cases[] = {
      {{"log.ilx", "-h"}, Info::kHelp, false, "", "", false},
      {{"--help"}, Info::kHelp, false, "", "", false},
      {{"--version", "--help"}, Info::kVersion, false, "", "", false},
      {{}, Info::kNone, true, "", "", false},
      {{"--install-logging-environment"}, Info::kNone, true, "", "", true},
      {{"--screenshot", "/tmp/s.png", "--", "-h"}, Info::kNone, true, "-h", "/tmp/s.png", false},  // a file named "-h"
      {{"a.ilx", "b.ilx"}, Info::kNone, false, "", "", false},
      {{"--screenshot"}, Info::kNone, false, "", "", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.arguments.join(' ').toStdString());
    EXPECT_EQ(QuillonApplication::InformationRequested(c.arguments), c.information);
    if (c.information != Info::kNone) continue;
    QString error;
    const auto options = QuillonApplication::ParseArguments(c.arguments, error);
    ASSERT_EQ(options.has_value(), c.parsed);
    if (!options) continue;
    EXPECT_EQ(options->file, c.file);
    EXPECT_EQ(options->screenshot, c.screenshot);
    EXPECT_EQ(options->installLoggingEnvironment, c.install);
  }
  QString error;
  EXPECT_FALSE(QuillonApplication::ParseArguments({"--bogus"}, error));
  EXPECT_EQ(error, "unknown option --bogus");
}

TEST(DesktopFrameTest, TreeWidthFitsTheCaptionsUntilTheUserChoosesOne) {
  FrameFixture f;
  f.frame->show();
  f.frame->resize(1180, 720);  // wider than the test screen's nine tenths
  EXPECT_EQ(f.frame->View()->TreeWidth(), LogView::kTreeWidth);

  // Captions as long as the sample's longest ones widen the tree once they are loaded.
  ASSERT_TRUE(f.Open(f.RegisterTree("long.ilx", [] {
    std::unique_ptr<LogFile> log = ThreePeerLog();
    AddExchange(AddTunnel(AddPeer(*log, "198.51.100.23"), false),
                "Info INVALID-ID-INFORMATION   <== Tue Mar 12 2024 From: 09:30:09 To: 09:30:09", " Tue Mar 12 2024", "09:30:09");
    return log;
  })));
  const int fitted = f.frame->View()->TreeWidth();
  EXPECT_GT(fitted, LogView::kTreeWidth);
  EXPECT_GE(fitted, f.frame->View()->WidthForNegotiationCaptions());
  EXPECT_LE(fitted, f.frame->width() * 3 / 5);
  // The next file keeps the splitter where it is.
  ASSERT_TRUE(f.Open(f.RegisterTree("short.ilx", &ThreePeerLog)));
  EXPECT_EQ(f.frame->View()->TreeWidth(), fitted);
  EXPECT_FALSE(f.frame->View()->IsTreeWidthChosen()) << "not the user's choice, not remembered";

  // Dragged by the user: kept through loads and remembered with the window's geometry.
  QSplitterHandle* handle = f.frame->View()->Splitter()->handle(1);
  const QPoint grip(handle->width() / 2, handle->height() / 2), to = grip - QPoint(fitted - 300, 0);
  QTest::mousePress(handle, Qt::LeftButton, {}, grip);
  QTest::mouseMove(handle, to);
  QTest::mouseRelease(handle, Qt::LeftButton, {}, to);
  ASSERT_EQ(f.frame->View()->TreeWidth(), 300);
  ASSERT_TRUE(f.Open(f.RegisterTree("again.ilx", &ThreePeerLog)));
  EXPECT_EQ(f.frame->View()->TreeWidth(), 300);
  f.frame->resize(900, 600);
  f.frame->close();
  EXPECT_EQ(f.settings.Value("Layout/TreeWidth").toInt(), 300);

  // The next window starts as this one ended; damaged settings are ignored.
  MainWindow next(*f.document, f.AllServices());
  next.show();
  EXPECT_EQ(next.size(), QSize(900, 600));
  EXPECT_EQ(next.View()->TreeWidth(), 300);
  EXPECT_TRUE(next.View()->IsTreeWidthChosen());
  f.settings.SetValue("Layout/TreeWidth", "wide");
  f.settings.SetValue("Layout/Geometry", 12);
  MainWindow damaged(*f.document, f.AllServices());
  damaged.show();
  EXPECT_FALSE(damaged.View()->IsTreeWidthChosen());
  EXPECT_EQ(damaged.View()->TreeWidth(), LogView::kTreeWidth);
}

TEST(DesktopSettingsTest, RecentFilesOfTwoProgramsShareOneSettingsFile) {
  QTemporaryDir directory;
  const QString file = directory.filePath("Quillon.conf");
  QtSettingsStore first(std::make_unique<QSettings>(file, QSettings::IniFormat));
  QtSettingsStore second(std::make_unique<QSettings>(file, QSettings::IniFormat));
  RecentFiles a(first), b(second);
  a.Add("/logs/a.ilx");
  b.Add("/logs/b.ilx");  // b had read the list before a's entry existed
  a.Add("/logs/c.ilx");
  EXPECT_EQ(RecentFiles(first).Entries(), QStringList({"/logs/c.ilx", "/logs/b.ilx", "/logs/a.ilx"}));
  b.Remove("/logs/a.ilx");
  EXPECT_EQ(QSettings(file, QSettings::IniFormat).value("Recent File List/File3"), QVariant());
}

TEST(DesktopIconsTest, DrawnForThePixelRatioAndLegibleOnADarkPalette) {
  // Drawn at the device pixels asked for, not scaled from a smaller picture.
  const StateIconSet states;
  for (const qreal ratio : {1.0, 1.5, 2.0, 3.0}) {
    const QPixmap state = states.At(kIconQuickModeDone).pixmap(QSize(12, 12), ratio);
    EXPECT_TRUE(state.size() == QSize(12, 12) * ratio && state.devicePixelRatio() == ratio) << ratio;
    EXPECT_EQ(ToolbarIcon(Command::kOpen).pixmap(QSize(16, 16), ratio).size(), QSize(16, 16) * ratio);
  }

  // Strokes without a square of their own (the "i" of an informational exchange, the tree
  // lines of a toolbar button) turn light when the palette is dark.
  const QPalette original = QApplication::palette();
  QPalette dark = original;
  for (const auto role : {QPalette::Window, QPalette::Base}) dark.setColor(role, QColor(0x2A, 0x2A, 0x2E));
  for (const auto role : {QPalette::WindowText, QPalette::Text}) dark.setColor(role, QColor(0xE0, 0xE0, 0xE0));
  const auto lightness = [&states] {
    return std::pair(states.At(kIconInfo).pixmap(QSize(12, 12), 1.0).toImage().pixelColor(5, 2).lightness(),
                     ToolbarIcon(Command::kMakeVisible).pixmap(QSize(16, 16), 1.0).toImage().pixelColor(3, 10).lightness());
  };
  EXPECT_LT(std::max(lightness().first, lightness().second), 110);
  QApplication::setPalette(dark);
  EXPECT_GT(std::min(lightness().first, lightness().second), 160);
  QApplication::setPalette(original);
}

}  // namespace
}  // namespace quillon::test
