// What makes the viewer behave as a desktop application here: the help options, the layout
// kept across runs, the recent-file list shared between
// running windows, and icons drawn for the screen's pixel ratio and palette.
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

TEST(DesktopTextsTest, HelpAndVersionAreAnsweredWithoutAWindow) {
  using Info = QuillonApplication::Information;
  const struct {
    QStringList arguments;
    Info expected;
  } cases[] = {
      {{"-h"}, Info::kHelp},
      {{"--help"}, Info::kHelp},
      {{"log.ilx", "-h"}, Info::kHelp},
      {{"--version"}, Info::kVersion},
      {{"--version", "--help"}, Info::kVersion},
      {{"log.ilx"}, Info::kNone},
      {{"--", "-h"}, Info::kNone},  // a file named "-h"
      {{}, Info::kNone},
  };
  for (const auto& c : cases)
    EXPECT_EQ(QuillonApplication::InformationRequested(c.arguments), c.expected) << c.arguments.join(' ').toStdString();
}

TEST(QuillonApplicationTest, CommandLine) {
  const struct {
    QStringList arguments;
    bool parsed;
    QString file, screenshot;
    bool install;
  } cases[] = {
      {{}, true, "", "", false},
      {{"--install-logging-environment"}, true, "", "", true},
      {{"--screenshot", "/tmp/s.png", "--", "-odd name.ilx"}, true, "-odd name.ilx", "/tmp/s.png", false},
      {{"a.ilx", "b.ilx"}, false, "", "", false},
      {{"--screenshot"}, false, "", "", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.arguments.join(' ').toStdString());
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
  QSplitter& splitter = *f.frame->View()->Splitter();
  EXPECT_EQ(f.frame->View()->TreeWidth(), LogView::kTreeWidth);

  // Captions as long as the sample's longest ones widen the tree once they are loaded.
  const std::string longCaption = "Info INVALID-ID-INFORMATION   <== Tue Mar 12 2024 From: 09:30:09 To: 09:30:09";
  ASSERT_TRUE(f.Open(f.RegisterTree("long.ilx", [&] {
    std::unique_ptr<LogFile> log = ThreePeerLog();
    AddExchange(AddTunnel(AddPeer(*log, "198.51.100.23"), false), longCaption, " Tue Mar 12 2024", "09:30:09");
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
  QSplitterHandle* handle = splitter.handle(1);
  const QPoint grip(handle->width() / 2, handle->height() / 2);
  QTest::mousePress(handle, Qt::LeftButton, {}, grip);
  QTest::mouseMove(handle, grip - QPoint(fitted - 300, 0));
  QTest::mouseRelease(handle, Qt::LeftButton, {}, grip - QPoint(fitted - 300, 0));
  ASSERT_EQ(f.frame->View()->TreeWidth(), 300);
  ASSERT_TRUE(f.Open(f.RegisterTree("again.ilx", &ThreePeerLog)));
  EXPECT_EQ(f.frame->View()->TreeWidth(), 300);
  f.frame->resize(900, 600);
  f.frame->close();
  EXPECT_EQ(f.settings.Value("Layout/TreeWidth").toInt(), 300);

  // The next window starts as this one ended.
  MainWindow next(*f.document, f.AllServices());
  next.show();
  EXPECT_EQ(next.size(), QSize(900, 600));
  EXPECT_EQ(next.View()->TreeWidth(), 300);
  EXPECT_TRUE(next.View()->IsTreeWidthChosen());

  // Damaged settings are ignored.
  f.settings.SetValue("Layout/TreeWidth", "wide");
  f.settings.SetValue("Layout/Geometry", 12);
  MainWindow damaged(*f.document, f.AllServices());
  damaged.show();
  EXPECT_EQ(damaged.View()->TreeWidth(), LogView::kTreeWidth);
  EXPECT_FALSE(damaged.View()->IsTreeWidthChosen());
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
    EXPECT_EQ(state.size(), QSize(qRound(12 * ratio), qRound(12 * ratio))) << ratio;
    EXPECT_DOUBLE_EQ(state.devicePixelRatio(), ratio);
    EXPECT_EQ(ToolbarIcon(Command::kOpen).pixmap(QSize(16, 16), ratio).size(),
              QSize(qRound(16 * ratio), qRound(16 * ratio)));
  }

  // Strokes without a square of their own (the "i" of an informational exchange, the tree
  // lines of a toolbar button) turn light when the palette is dark.
  const QPalette original = QApplication::palette();
  QPalette dark = original;
  dark.setColor(QPalette::Window, QColor(0x2A, 0x2A, 0x2E));
  dark.setColor(QPalette::WindowText, QColor(0xE0, 0xE0, 0xE0));
  dark.setColor(QPalette::Base, QColor(0x1E, 0x1E, 0x22));
  dark.setColor(QPalette::Text, QColor(0xE0, 0xE0, 0xE0));
  const auto lightness = [](const QIcon& icon, int side, QPoint at) {
    return icon.pixmap(QSize(side, side), 1.0).toImage().pixelColor(at).lightness();
  };
  const QIcon info = states.At(kIconInfo), makeVisible = ToolbarIcon(Command::kMakeVisible);
  EXPECT_LT(lightness(info, 12, {5, 2}), 110);
  EXPECT_LT(lightness(makeVisible, 16, {3, 10}), 110);
  QApplication::setPalette(dark);
  EXPECT_GT(lightness(info, 12, {5, 2}), 160);
  EXPECT_GT(lightness(makeVisible, 16, {3, 10}), 160);
  QApplication::setPalette(original);
}

}  // namespace
}  // namespace quillon::test
