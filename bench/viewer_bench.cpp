// Viewer benchmark: the time from start to a shown tree for a large generated debug log, and
// the time to expand the node with the most children, through the real window (Qt offscreen),
// and the time to show the root's text (the whole log's summary).
//
//   viewer_bench [MB] [LOG]     default: a generated 200 MB IKEv1 debug log
//
// Also expands an in-memory node of 100,000 children, which needs no loader at all.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QTreeView>

#include "LogGenerator.h"
#include "platform/ProcessMemory.h"
#include "app/LogTreeModel.h"
#include "app/LoggingEnvironment.h"
#include "app/MainFrame.h"
#include "app/NarrowingDialogs.h"
#include "app/QuillonDoc.h"
#include "app/QuillonView.h"
#include "app/Services.h"
#include "model/LogFile.h"
#include "model/TreeRules.h"

namespace {

using Clock = std::chrono::steady_clock;

double MillisecondsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

class QuietMessages : public quillon::MessageSink {
 public:
  void Show(const QString& text, Kind /*kind*/) override { std::fprintf(stderr, "message: %s\n", qPrintable(text)); }
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
const quillon::QLFolder* LargestNode(const quillon::QLFolder& node, std::size_t& most) {
  const quillon::QLFolder* best = nullptr;
  if (node.ChildCount() > most) {
    most = node.ChildCount();
    best = &node;
  }
  for (const auto& child : node.Children())
    if (const quillon::QLFolder* found = LargestNode(*child, most)) best = found;
  return best;
}

// Expands the node's row and lets the view lay out and paint it.
double TimeExpansion(quillon::CMainFrame& frame, const quillon::QLFolder* node, int& rows) {
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

}  // namespace

int main(int argc, char** argv) {
  // The allocator as the viewer and the command-line tool set it up.
  quillon::platform::TuneAllocatorForLargeLogs(argv);
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  const std::uint64_t mb = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 200;
  std::string path;
  if (argc > 2) {
    path = argv[2];
  } else {
    path = (std::filesystem::temp_directory_path() / ("quillon_viewer_" + std::to_string(mb) + "mb.ilx")).string();
    std::error_code error;
    if (!std::filesystem::exists(path, error) || std::filesystem::file_size(path, error) < (mb << 20)) {
      std::printf("generating %llu MB log at %s\n", static_cast<unsigned long long>(mb), path.c_str());
      quillon::bench::WriteDebugLog(path, mb << 20);
    }
  }
  const double fileMb = static_cast<double>(std::filesystem::file_size(path)) / (1 << 20);

  const auto start = Clock::now();
  QApplication application(argc, argv);
  QuietMessages messages;
  MemorySettings settings;
  NoResolver resolver;
  NoLauncher launcher;
  NoDialogs dialogs;
  const quillon::LoggingEnvironment loggingEnvironment;
  const quillon::Services services{messages, settings, resolver, launcher, dialogs, loggingEnvironment};
  quillon::CQuillonDoc document(settings);
  quillon::CMainFrame frame(document, services);
  frame.show();
  QCoreApplication::processEvents();
  const double windowMs = MillisecondsSince(start);
  if (!frame.OpenFile(QString::fromStdString(path))) return 1;
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

  std::size_t most = 0;
  const quillon::QLFolder* largest = nullptr;
  for (const auto& peer : document.Log()->Children())
    if (const quillon::QLFolder* found = LargestNode(*peer, most)) largest = found;
  int rows = 0;
  if (largest != nullptr && !quillon::IsShownAsLevel(*largest)) largest = largest->Parent();
  if (largest != nullptr) {
    const double expandMs = TimeExpansion(frame, largest, rows);
    std::printf("expand largest node:   %8.1f ms  (%d rows: %s)\n", expandMs, rows, largest->Caption().c_str());
  }

  // A node with 100,000 children, whatever the generator makes.
  auto wide = std::make_unique<quillon::LogFile>();
  {
    auto peer = std::make_unique<quillon::QLFolder>("10.0.0.1", nullptr);
    for (int i = 0; i < 100000; ++i)
      peer->AppendChild(std::make_unique<quillon::QLFolder>("Informational " + std::to_string(i), nullptr));
    wide->AddChild(std::move(peer));
  }
  frame.View()->Model()->SetLog(wide.get());
  const double wideMs = TimeExpansion(frame, wide->Child(0), rows);
  std::printf("expand 100,000 rows:   %8.1f ms  (%d rows)\n", wideMs, rows);
  frame.View()->Model()->SetLog(document.Log());

  // How long Filter and Verify keep the window from answering, from the dialog's OK to the
  // repainted tree: in place (stricter), and with the log read again (less strict).
  const std::string peer = document.Log()->Child(document.Log()->ChildCount() / 2)->Name();
  const auto timeCommand = [&frame](quillon::Command command, const std::function<void(QDialog&)>& fill) {
    frame.SetDialogRunner([&fill](QDialog& dialog) {
      fill(dialog);
      return true;
    });
    const auto commandStart = Clock::now();
    frame.Action(command)->trigger();
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
