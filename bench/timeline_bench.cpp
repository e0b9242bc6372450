// Timeline benchmark: the timeline panel's repaint at full span and at deeper zooms on a large
// generated debug log, through the real window, and the panel's memory against the tree's.
//
//   timeline_bench [MB] [LOG] [--screenshot PNG] [--detail PNG]
//                                                    default: a generated 200 MB IKEv1 log
//
// Repaints are timed one by one (the panel's paint only: lanes, histogram and axis); each line
// gives the median and the slowest of the repeats. With --screenshot the window is saved as a
// picture after the full-span repaint (run under a display, e.g. Xvfb, for real fonts); with
// --detail, once more with the last failed negotiation selected in the tree and the timeline
// zoomed in around it.
#include <malloc.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <QApplication>
#include <QEventLoop>
#include <QDockWidget>
#include <QPixmap>
#include <QScrollBar>

#include "LogGenerator.h"
#include "WaitForLoad.h"
#include "app/LoggingEnvironment.h"
#include "app/MainWindow.h"
#include "app/LogDocument.h"
#include "app/LogView.h"
#include "app/Services.h"
#include "app/TimelinePanel.h"
#include "model/LogFile.h"
#include "platform/ChunkSource.h"

namespace {

using quillon::bench::OpenAndWait;
using quillon::bench::WaitForLoad;

using Clock = std::chrono::steady_clock;

double MillisecondsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

std::size_t HeapInUse() { return mallinfo2().uordblks + mallinfo2().hblkhd; }

class QuietMessages : public quillon::MessageSink {
 public:
  void Show(const QString& text, Kind /*kind*/) override { std::fprintf(stderr, "message: %s\n", qPrintable(text)); }
  bool Ask(const QString& /*question*/) override { return true; }
};
class MemorySettings : public quillon::SettingsStore {
 public:
  QVariant Value(const QString& key) const override { return values_.value(key); }
  void SetValue(const QString& key, const QVariant& value) override { values_.insert(key, value); }
  void Remove(const QString& key) override { values_.remove(key); }

 private:
  QHash<QString, QVariant> values_;
};
class NoResolver : public quillon::NameResolver {
 public:
  std::optional<std::string> HostName(std::uint32_t) override { return std::nullopt; }
};
class NoLauncher : public quillon::ProcessLauncher {
 public:
  QString FindProgram(const QString&) const override { return {}; }
  bool StartDetached(const QString&, const QStringList&) override { return false; }
};
class NoDialogs : public quillon::FileDialogs {
 public:
  QString ChooseFileToOpen(QWidget*, const OpenRequest&) override { return {}; }
  QString ChooseFileToSave(QWidget*, const SaveRequest&) override { return {}; }
};

// Repaints the panel `repeats` times; prints the median and the slowest.
double TimeRepaints(quillon::TimelinePanel& panel, const char* what, int repeats = 15) {
  std::vector<double> times;
  for (int i = 0; i < repeats; ++i) {
    const auto start = Clock::now();
    panel.viewport()->repaint();
    times.push_back(MillisecondsSince(start));
  }
  std::sort(times.begin(), times.end());
  const double seconds = panel.Axis().SecondsPerPixel() * panel.ChartWidth();
  std::printf("repaint %-28s %7.2f ms median, %7.2f ms slowest  (view %.0f s wide)\n", what, times[times.size() / 2],
              times.back(), seconds);
  return times.back();
}

}  // namespace

int main(int argc, char** argv) {
  quillon::platform::TuneHeap();
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY"))
    qputenv("QT_QPA_PLATFORM", "offscreen");
  std::vector<const char*> positional;
  const char* screenshot = nullptr;
  const char* detail = nullptr;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--screenshot") == 0 && i + 1 < argc) screenshot = argv[++i];
    else if (std::strcmp(argv[i], "--detail") == 0 && i + 1 < argc) detail = argv[++i];
    else positional.push_back(argv[i]);
  }
  const std::uint64_t mb = !positional.empty() ? std::strtoull(positional[0], nullptr, 10) : 200;
  std::string path;
  if (positional.size() > 1) {
    path = positional[1];
  } else {
    path = (std::filesystem::temp_directory_path() / ("quillon_viewer_" + std::to_string(mb) + "mb.ilx")).string();
    std::error_code error;
    if (!std::filesystem::exists(path, error) || std::filesystem::file_size(path, error) < (mb << 20)) {
      std::printf("generating %llu MB log at %s\n", static_cast<unsigned long long>(mb), path.c_str());
      quillon::bench::WriteDebugLog(path, mb << 20);
    }
  }

  QApplication application(argc, argv);
  QuietMessages messages;
  MemorySettings settings;
  NoResolver resolver;
  NoLauncher launcher;
  NoDialogs dialogs;
  const quillon::LoggingEnvironment loggingEnvironment;
  const quillon::Services services{messages, settings, resolver, launcher, dialogs, loggingEnvironment};
  quillon::LogDocument document(settings);
  quillon::MainWindow frame(document, services);
  frame.resize(1280, 800);
  frame.show();
  QCoreApplication::processEvents();

  const std::size_t heapBefore = HeapInUse();
  if (!OpenAndWait(frame, QString::fromStdString(path))) return 1;
  quillon::TimelinePanel& panel = *frame.Timeline();
  // Let the deferred rebuild run, then measure the tree alone by rebuilding the panel empty.
  QCoreApplication::processEvents();
  panel.RebuildFromTree(nullptr);
  const std::size_t treeBytes = HeapInUse() - heapBefore;
  const auto buildStart = Clock::now();
  panel.RebuildFromTree(document.Log());
  const double buildMs = MillisecondsSince(buildStart);
  const std::size_t panelBytes = HeapInUse() - heapBefore - treeBytes;
  QCoreApplication::processEvents();

  std::printf("log: %.1f MB, %zu peers, %zu negotiations with times, %zu lanes\n",
              static_cast<double>(std::filesystem::file_size(path)) / (1 << 20), panel.Data().Peers().size(),
              panel.Data().Bars().size(), panel.Lanes().lanes.size());
  std::printf("panel size: %d x %d, chart %d px wide\n", panel.viewport()->width(), panel.viewport()->height(),
              panel.ChartWidth());
  std::printf("timeline built from the tree: %.1f ms\n", buildMs);
  std::printf("memory: tree %.1f MB, timeline %.2f MB = %.2f%% of the tree\n", treeBytes / 1048576.0,
              panelBytes / 1048576.0, 100.0 * static_cast<double>(panelBytes) / static_cast<double>(treeBytes));

  double slowest = TimeRepaints(panel, "full span");
  if (screenshot != nullptr) {
    QCoreApplication::processEvents();
    frame.grab().save(QString::fromLocal8Bit(screenshot));
    std::printf("screenshot: %s\n", screenshot);
  }
  if (detail != nullptr) {
    const auto& bars = panel.Data().Bars();
    std::size_t chosen = 0;
    for (std::size_t i = 0; i < bars.size(); ++i)
      if (quillon::IsFailedState(bars[i].icon)) chosen = i;
    frame.View()->SelectNode(bars[chosen].node);
    QCoreApplication::processEvents();
    const double x = panel.Axis().X(static_cast<double>(bars[chosen].start));
    panel.ZoomAt(QPoint(quillon::TimelineLayout::kLabelWidth + static_cast<int>(x), 0), 6);
    panel.SetHighlighted(bars[chosen].node);
    QCoreApplication::processEvents();
    frame.grab().save(QString::fromLocal8Bit(detail));
    std::printf("detail screenshot: %s (%s)\n", detail, bars[chosen].node->Caption().c_str());
    panel.FitAll();
  }
  const QPoint middle(quillon::TimelineLayout::kLabelWidth + panel.ChartWidth() / 2, panel.viewport()->height() / 2);
  for (const double notches : {4.0, 8.0, 16.0, 24.0, 40.0}) {
    panel.FitAll();
    panel.ZoomAt(middle, notches);
    slowest = std::max(slowest, TimeRepaints(panel, ("zoomed in " + std::to_string(static_cast<int>(notches)) +
                                                     " notches").c_str()));
  }
  panel.FitAll();
  panel.verticalScrollBar()->setValue(panel.verticalScrollBar()->maximum());
  slowest = std::max(slowest, TimeRepaints(panel, "full span, last lanes"));

  // Every peer expanded: a lane per tunnel as well. (Expanding 2,000 peers in the tree view
  // itself takes the tree many seconds; the panel is told directly.)
  const auto expandStart = Clock::now();
  panel.SetExpandedTest([](const quillon::LogNode&) { return true; });
  panel.RelayOut();
  std::printf("all peers expanded: %zu lanes, laid out in %.1f ms\n", panel.Lanes().lanes.size(),
              MillisecondsSince(expandStart));
  panel.verticalScrollBar()->setValue(0);
  slowest = std::max(slowest, TimeRepaints(panel, "full span, expanded"));
  // The panel as tall as the window allows: more lanes in view.
  frame.resizeDocks({frame.TimelineDock()}, {700}, Qt::Vertical);
  QCoreApplication::processEvents();
  panel.FitAll();
  std::printf("panel size: %d x %d\n", panel.viewport()->width(), panel.viewport()->height());
  slowest = std::max(slowest, TimeRepaints(panel, "full span, tall, expanded"));
  panel.ZoomAt(middle, 40);
  slowest = std::max(slowest, TimeRepaints(panel, "deep zoom, tall, expanded"));
  std::printf("slowest repaint: %.2f ms\n", slowest);
  return 0;
}
