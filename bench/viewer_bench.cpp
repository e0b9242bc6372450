// Viewer benchmark: the time from start to a shown tree for a large generated debug log, and
// the time to expand the node with the most children, through the real window (Qt offscreen),
// and the time to show the root's text (the whole log's summary).
//
//   viewer_bench [MB] [LOG]     default: a generated 200 MB IKEv1 debug log
//   viewer_bench --follow [MB]  the viewer's Follow instead: a generated log (no peer logged by
//                               index) without its last 40 packets is opened and followed, the
//                               time to turn Follow on is taken, then a writer thread appends the
//                               packets one at a time with pauses of 80 to 250 ms while the
//                               window's event loop runs, and each is timed from its append to the
//                               end of the Follow step that shows it in the tree
//
// Also expands an in-memory node of 100,000 children, which needs no loader at all.
#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QEventLoop>
#include <QObject>
#include <QTimer>
#include <QTreeView>

#include "LogGenerator.h"
#include "WaitForLoad.h"
#include "platform/ChunkSource.h"
#include "app/LogTreeModel.h"
#include "app/LoggingEnvironment.h"
#include "app/MainWindow.h"
#include "app/NarrowingDialogs.h"
#include "app/LogDocument.h"
#include "app/LogView.h"
#include "app/Services.h"
#include "model/LogFile.h"
#include "logs/OpenLog.h"
#include "model/TreeRules.h"
#include "tests/model/TreeCompare.h"

namespace {

using quillon::bench::OpenAndWait;
using quillon::bench::WaitForLoad;

using Clock = std::chrono::steady_clock;

double MillisecondsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// The longest time the window's event loop went without serving a timer due every 10 ms: how
// long the window was frozen, while it lives.
class StallWatch {
 public:
  StallWatch() : last_(Clock::now()) {
    timer_.setInterval(10);
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      longest_ = std::max(longest_, MillisecondsSince(last_));
      last_ = Clock::now();
    });
    timer_.start();
  }
  double Longest() const { return std::max(longest_, MillisecondsSince(last_)); }

 private:
  QTimer timer_;
  Clock::time_point last_;
  double longest_ = 0;
};

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

// The node with the most children below the root (which is expanded at load), found on the log
// tree itself: the model is not asked, so that it has computed nothing before the timed expansion.
const quillon::LogNode* LargestNode(const quillon::LogNode& node, std::size_t& most) {
  const quillon::LogNode* best = nullptr;
  if (node.ChildCount() > most) {
    most = node.ChildCount();
    best = &node;
  }
  for (const auto& child : node.Children())
    if (const quillon::LogNode* found = LargestNode(*child, most)) best = found;
  return best;
}

// Expands the node's row and lets the view lay out and paint it.
double TimeExpansion(quillon::MainWindow& frame, const quillon::LogNode* node, int& rows) {
  quillon::LogTreeModel& model = *frame.View()->Model();
  QTreeView& tree = *frame.View()->Tree();
  const auto start = Clock::now();
  const QModelIndex index = model.IndexOf(node);
  tree.expand(index);
  tree.scrollTo(index, QAbstractItemView::PositionAtTop);
  tree.viewport()->repaint();
  QCoreApplication::processEvents();
  rows = model.rowCount(index);
  return MillisecondsSince(start);
}

// The greatest offset at which a packet of the tree starts.
std::uint64_t LastPacketStart(const quillon::LogNode& root) {
  std::uint64_t last = 0;
  std::vector<quillon::LogSpan> spans;
  for (const auto& peer : root.Children())
    for (const auto& tunnel : peer->Children())
      for (const auto& exchange : tunnel->Children()) {
        spans.clear();
        exchange->AppendLogSpans(spans);
        for (const quillon::LogSpan& span : spans) last = std::max(last, span.begin);
      }
  return last;
}

// The viewer's Follow on a growing log, through the window's own timer.
int FollowInViewer(quillon::MainWindow& frame, quillon::LogDocument& document, std::uint64_t mb) {
  namespace fs = std::filesystem;
  const fs::path generated = fs::temp_directory_path() / "quillon_viewer_follow.ilx";
  quillon::bench::WriteDebugLog(generated.string(), mb << 20, 500, 25ull << 20, false);
  std::string text;
  {
    std::FILE* in = std::fopen(generated.string().c_str(), "rb");
    if (in == nullptr) return 1;
    text.resize(fs::file_size(generated));
    text.resize(std::fread(text.data(), 1, text.size(), in));
    std::fclose(in);
  }
  fs::remove(generated);
  constexpr std::size_t kPackets = 40;
  const std::vector<std::size_t> all =
      quillon::bench::PacketUnitStarts(text, text.size() > (4u << 20) ? text.size() - (4u << 20) : 0);
  if (all.size() < kPackets + 1) return 1;
  const std::vector<std::size_t> cuts(all.end() - (kPackets + 1), all.end());
  const fs::path path = fs::temp_directory_path() / "quillon_viewer_followed.ilx";
  const auto append = [&](std::size_t from, std::size_t to, const char* mode) {
    std::FILE* out = std::fopen(path.string().c_str(), mode);
    std::fwrite(text.data() + from, 1, to - from, out);
    std::fclose(out);
  };
  append(0, cuts[0], "wb");

  if (!OpenAndWait(frame, QString::fromStdString(path.string()))) return 1;
  std::printf("log: %.1f MB, %zu peers\n", static_cast<double>(cuts[0]) / (1 << 20), document.Log()->ChildCount());
  frame.View()->GoToLastEvent();
  QCoreApplication::processEvents();
  auto start = Clock::now();
  double frozen = 0;
  {
    StallWatch watch;
    frame.Action(quillon::Command::kFollow)->trigger();
    WaitForLoad(frame);
    frozen = watch.Longest();
  }
  QCoreApplication::processEvents();
  std::printf("Follow turned on:      %8.1f ms  (the log read again on a worker; the window's longest wait %.1f ms)\n",
              MillisecondsSince(start), frozen);

  std::vector<Clock::time_point> appended(kPackets);
  std::atomic<std::size_t> written{0};
  std::vector<double> times;
  QEventLoop loop;
  // A Follow step that changed the tree ends with the view showing it; the timer event after it
  // sees the tree as laid out.
  QObject::connect(frame.View(), &quillon::LogView::FollowStepShown, &frame, [&] {
    QTimer::singleShot(0, &frame, [&] {
      const Clock::time_point shown = Clock::now();
      const std::uint64_t last = LastPacketStart(*document.Log());
      const std::size_t count = written.load();
      while (times.size() < count && cuts[times.size()] <= last)
        times.push_back(std::chrono::duration<double, std::milli>(shown - appended[times.size()]).count());
      if (times.size() == kPackets) loop.quit();
    });
  });
  std::thread writer = quillon::bench::AppendPaced(
      kPackets, [&](std::size_t i) { append(cuts[i], cuts[i + 1], "ab"); }, appended, written);
  QTimer::singleShot(60000, &loop, &QEventLoop::quit);
  loop.exec();
  writer.join();
  fs::remove(path);
  if (times.size() < kPackets) {
    std::fprintf(stderr, "only %zu of %zu appended packets were shown\n", times.size(), kPackets);
    return 1;
  }
  append(0, cuts.back(), "wb");
  quillon::OpenLogResult whole = quillon::OpenLog(path.string());
  fs::remove(path);
  const std::string difference = whole.log ? quillon::testing::FirstTreeDifference(*document.Log(), *whole.log, true) : "not loaded";
  if (!difference.empty()) {
    std::fprintf(stderr, "the followed tree differs from a load:\n%s\n", difference.c_str());
    return 1;
  }
  std::sort(times.begin(), times.end());
  std::printf("append to shown:       median %.1f ms, max %.1f ms over %zu packets (a look every %d ms)\n",
              times[times.size() / 2], times.back(), times.size(), quillon::MainWindow::kFollowMilliseconds);
  return 0;
}

// The process's peak resident memory so far, in MB.
// The memory the process holds now (resident), from /proc/self/status.
double ResidentMb() {
  std::FILE* status = std::fopen("/proc/self/status", "r");
  if (status == nullptr) return 0;
  char line[256];
  double kb = 0;
  while (std::fgets(line, sizeof line, status) != nullptr)
    if (std::sscanf(line, "VmRSS: %lf kB", &kb) == 1) break;
  std::fclose(status);
  return kb / 1024.0;
}

double PeakMb() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

}  // namespace

int main(int argc, char** argv) {
  // The allocator as the viewer and the command-line tool set it up.
  quillon::platform::TuneHeap();
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  const bool follow = argc > 1 && std::string_view(argv[1]) == "--follow";
  if (follow) {
    --argc;
    ++argv;
  }
  const std::uint64_t mb = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 200;
  std::string path;
  if (argc > 2) {
    path = argv[2];
  } else if (!follow) {
    path = (std::filesystem::temp_directory_path() / ("quillon_viewer_" + std::to_string(mb) + "mb.ilx")).string();
    std::error_code error;
    if (!std::filesystem::exists(path, error) || std::filesystem::file_size(path, error) < (mb << 20)) {
      std::printf("generating %llu MB log at %s\n", static_cast<unsigned long long>(mb), path.c_str());
      quillon::bench::WriteDebugLog(path, mb << 20);
    }
  }
  std::error_code sizeError;
  const double fileMb = static_cast<double>(std::filesystem::file_size(path, sizeError)) / (1 << 20);

  const auto start = Clock::now();
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
  frame.show();
  QCoreApplication::processEvents();
  if (follow) return FollowInViewer(frame, document, mb);
  const double windowMs = MillisecondsSince(start);
  if (!OpenAndWait(frame, QString::fromStdString(path))) return 1;
  frame.View()->Tree()->viewport()->repaint();
  QCoreApplication::processEvents();
  const double shownMs = MillisecondsSince(start);

  std::printf("log: %.1f MB, %zu peers\n", fileMb, document.Log()->ChildCount());
  std::printf("window shown:          %8.1f ms\n", windowMs);
  std::printf("start to shown tree:   %8.1f ms  (%s)\n", shownMs, qPrintable(frame.MessageText()));

  // Selecting the root shows the whole log's summary, computed when asked for.
  const auto selectStart = Clock::now();
  frame.View()->SelectNode(document.Log());
  QCoreApplication::processEvents();
  std::printf("select root (summary): %8.1f ms\n", MillisecondsSince(selectStart));

  // Make negotiations visible: the root and every peer expanded in one batch.
  const auto visibleStart = Clock::now();
  frame.Action(quillon::Command::kMakeVisible)->trigger();
  frame.View()->Tree()->viewport()->repaint();
  QCoreApplication::processEvents();
  std::printf("make visible:          %8.1f ms  (%zu peers)\n", MillisecondsSince(visibleStart),
              document.Log()->ChildCount());

  // The peak memory of the first load, then of a reload (F5), which gives the old tree back
  // before reading the file again.
  const double firstPeak = PeakMb();
  const auto reloadStart = Clock::now();
  frame.Action(quillon::Command::kRefresh)->trigger();
  WaitForLoad(frame);
  frame.View()->Tree()->viewport()->repaint();
  QCoreApplication::processEvents();
  const double reloadMs = MillisecondsSince(reloadStart);
  const double reloadPeak = PeakMb();
  std::printf("reload:                %8.1f ms  (peak %.1f MB after the first load, %.1f MB after the reload: %.2fx)\n",
              reloadMs, firstPeak, reloadPeak, reloadPeak / firstPeak);

  // Memory: after the load, with every row expanded, after collapsing the root, and after
  // opening a small log.
  {
    const double loaded = ResidentMb();
    QTreeView& tree = *frame.View()->Tree();
    const auto expandStart = Clock::now();
    tree.expandAll();
    tree.viewport()->repaint();
    QCoreApplication::processEvents();
    const double expandAllMs = MillisecondsSince(expandStart);
    const double expanded = ResidentMb();
    const std::size_t rowsKept = frame.View()->Model()->CachedRows();
    const std::size_t nodesKept = frame.View()->Model()->ListedNodes();
    const std::size_t held = frame.View()->Model()->HeldIndexes();
    tree.collapse(frame.View()->Model()->index(0, 0));
    QCoreApplication::processEvents();
    const double collapsed = ResidentMb();
    std::printf("expand all:            %8.1f ms  (%zu rows in lists of %zu nodes, %zu indexes held; resident %.1f MB "
                "after the load, %.1f MB expanded: %.2fx, %.1f MB collapsed, %zu rows kept)\n",
                expandAllMs, rowsKept, nodesKept, held, loaded, expanded, expanded / loaded, collapsed,
                frame.View()->Model()->CachedRows());
    // The row menu's "Expand subtree" on the root: the same rows, expanded by the viewer.
    tree.setCurrentIndex(frame.View()->Model()->index(0, 0));
    const auto subtreeStart = Clock::now();
    frame.View()->ExpandSubtree(true);
    tree.viewport()->repaint();
    QCoreApplication::processEvents();
    std::printf("expand subtree (root): %8.1f ms  (%zu indexes held; resident %.1f MB: %.2fx)\n",
                MillisecondsSince(subtreeStart), frame.View()->Model()->HeldIndexes(), ResidentMb(),
                ResidentMb() / loaded);
    tree.expandAll();
    QCoreApplication::processEvents();
    // Another, small log opened while everything is expanded.
    const std::string small = std::string(QUILLON_SOURCE_DIR) + "/examples/small.ilx";
    if (OpenAndWait(frame, QString::fromStdString(small))) {
      std::printf("small log after expand all: resident %.1f MB\n", ResidentMb());
      if (!OpenAndWait(frame, QString::fromStdString(path))) return 1;
    }
  }

  std::size_t most = 0;
  const quillon::LogNode* largest = nullptr;
  for (const auto& peer : document.Log()->Children())
    if (const quillon::LogNode* found = LargestNode(*peer, most)) largest = found;
  int rows = 0;
  if (largest != nullptr && !quillon::IsShownAsLevel(*largest)) largest = largest->Parent();
  if (largest != nullptr) {
    const double expandMs = TimeExpansion(frame, largest, rows);
    std::printf("expand largest node:   %8.1f ms  (%d rows: %s)\n", expandMs, rows, largest->Caption().c_str());
  }

  // A node with 100,000 children, whatever the generator makes.
  auto wide = std::make_unique<quillon::LogFile>();
  {
    auto peer = std::make_unique<quillon::LogNode>("10.0.0.1", nullptr);
    for (int i = 0; i < 100000; ++i)
      peer->AppendChild(std::make_unique<quillon::LogNode>("Informational " + std::to_string(i), nullptr));
    wide->AddChild(std::move(peer));
  }
  frame.View()->Model()->SetLog(wide.get());
  const double wideMs = TimeExpansion(frame, wide->Child(0), rows);
  std::printf("expand 100,000 rows:   %8.1f ms  (%d rows)\n", wideMs, rows);
  frame.View()->Model()->SetLog(document.Log());

  // How long Filter and Verify keep the window from answering, from the dialog's OK to the
  // repainted tree: in place (stricter), and with the log read again (less strict).
  const std::string peer(document.Log()->Child(document.Log()->ChildCount() / 2)->Name());
  const auto timeCommand = [&frame](quillon::Command command, const std::function<void(QDialog&)>& fill) {
    frame.SetDialogRunner([&fill](QDialog& dialog) {
      fill(dialog);
      return true;
    });
    const auto commandStart = Clock::now();
    frame.Action(command)->trigger();
    WaitForLoad(frame);
    frame.View()->Tree()->viewport()->repaint();
    QCoreApplication::processEvents();
    return MillisecondsSince(commandStart);
  };
  const double filterMs = timeCommand(quillon::Command::kFilter, [&peer](QDialog& dialog) {
    auto& filters = dynamic_cast<quillon::FiltersDialog&>(dialog);
    filters.IpBox()->setChecked(true);
    filters.IpEdit()->setText(QString::fromStdString(peer));
  });
  std::printf("filter by %s:  %8.1f ms  (in place)\n", peer.c_str(), filterMs);
  const double widenMs = timeCommand(quillon::Command::kFilter, [](QDialog& dialog) {
    dynamic_cast<quillon::FiltersDialog&>(dialog).IpBox()->setChecked(false);
  });
  std::printf("filter off:            %8.1f ms  (log read again)\n", widenMs);
  const double verifyMs = timeCommand(quillon::Command::kVerify, [](QDialog&) {});
  std::printf("verify, all:           %8.1f ms  (in place)\n", verifyMs);
  return 0;
}
