#include "app/LogView.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QScrollBar>
#include <QStackedWidget>
#include <QStyleOptionViewItem>
#include <QSplitter>
#include <QTabWidget>
#include <QTextBlock>
#include <QTextDocument>
#include <QTreeView>
#include <QVBoxLayout>

#include "app/FindBar.h"
#include "app/LogTreeModel.h"
#include "app/LogDocument.h"
#include "app/Services.h"
#include "app/TextPane.h"
#include "model/Background.h"
#include "platform/ChunkSource.h"
#include "model/CalendarTime.h"
#include "model/IPv4.h"
#include "model/LogLines.h"
#include "model/TreeRules.h"
#include "model/VisibleText.h"

namespace quillon {

namespace {

// Collapsing a row that let go of at least this many rows below it gives the freed memory back.
constexpr std::size_t kRowsWorthGivingBack = 10000;

// The levels the first tree width is fitted to: peers, tunnels and negotiations below the root.
constexpr int kFittedLevels = 3;
// Measuring stops after this many rows: a log of a million negotiations opens without delay,
// and its first rows tell the usual caption length.
constexpr int kMaxMeasuredRows = 5000;


// The address a peer's name starts with ("10.0.0.1", or "10.0.0.1  (0.0.0.7)" for a peer that
// the daemon also logged under an index); 0 when the name does not start with a dotted address.
std::uint32_t LeadingAddress(std::string_view name) {
  const std::string token(name.substr(0, name.find(' ')));
  const std::uint32_t address = ParseIPv4(token);
  if (address == 0 || address == 0xFFFFFFFFu || FormatIPv4(address) != token) return 0;
  return address;
}

}  // namespace

LogView::LogView(LogDocument& document, QWidget* parent)
    : QWidget(parent),
      document_(document),
      model_(new LogTreeModel(this)),
      tree_(new QTreeView),
      text_(new TextPane),
      logLines_(new NumberedPane),
      findBar_(new FindBar),
      emptyMessage_(new QLabel),
      treeStack_(new QStackedWidget),
      tabs_(new QTabWidget),
      splitter_(new QSplitter(Qt::Horizontal)) {
  tree_->setModel(model_);
  tree_->setHeaderHidden(true);
  tree_->setUniformRowHeights(true);  // lets a node with 100,000 rows lay out at once
  tree_->setSelectionMode(QAbstractItemView::SingleSelection);
  tree_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  tree_->setIconSize(QSize(12, 12));
  tree_->header()->setStretchLastSection(false);
  tree_->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
  tree_->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);

  // The detail text, and beside it the lines of the log the node was read from: the daemon's
  // own messages between packets are there and nowhere else.
  tabs_->setDocumentMode(true);
  tabs_->addTab(text_, QStringLiteral("Detail text"));
  tabs_->addTab(logLines_, QStringLiteral("Log lines"));
  logLines_->setPlaceholderText(
      QStringLiteral("Select a packet or a negotiation to see the lines of the log it was read from."));

  // The tree, or in its place a message when it has nothing to show; the find bar under it.
  emptyMessage_->setAlignment(Qt::AlignCenter);
  emptyMessage_->setWordWrap(true);
  emptyMessage_->setMargin(12);
  emptyMessage_->setAutoFillBackground(true);
  emptyMessage_->setBackgroundRole(QPalette::Base);
  treeStack_->addWidget(tree_);
  treeStack_->addWidget(emptyMessage_);
  auto* left = new QWidget;
  auto* leftLayout = new QVBoxLayout(left);
  leftLayout->setContentsMargins(0, 0, 0, 0);
  leftLayout->setSpacing(0);
  leftLayout->addWidget(treeStack_, 1);
  leftLayout->addWidget(findBar_);
  findBar_->hide();
  connect(findBar_, &FindBar::SearchChanged, this, &LogView::SearchFromFindBar);
  connect(findBar_, &FindBar::NextRequested, this, [this] { FindNext(); });
  connect(findBar_, &FindBar::PreviousRequested, this, [this] { FindPrevious(); });
  connect(findBar_, &FindBar::Closed, this, [this] {
    HighlightMatches();  // the marks go with the bar
    tree_->setFocus();
  });

  tree_->installEventFilter(this);
  tree_->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(tree_, &QWidget::customContextMenuRequested, this, [this](const QPoint& position) {
    if (QMenu* menu = RowContextMenu(position)) {
      menu->setAttribute(Qt::WA_DeleteOnClose);
      menu->popup(tree_->viewport()->mapToGlobal(position));
    }
  });
  for (TextPane* pane : {text_, static_cast<TextPane*>(logLines_)}) {
    pane->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(pane, &QWidget::customContextMenuRequested, this, [this, pane](const QPoint& position) {
      QMenu* menu = pane == text_ ? TextContextMenu() : LogLinesContextMenu();
      menu->setAttribute(Qt::WA_DeleteOnClose);
      menu->popup(pane->viewport()->mapToGlobal(position));
    });
  }

  splitter_->addWidget(left);
  splitter_->addWidget(tabs_);
  splitter_->setChildrenCollapsible(false);
  splitter_->setStretchFactor(0, 0);  // the tree keeps its width when the window grows
  splitter_->setStretchFactor(1, 1);
  SetTreeWidth(kTreeWidth);
  // Only the user drags the splitter: from then on the tree keeps the width given to it.
  connect(splitter_, &QSplitter::splitterMoved, this, [this] { treeWidthChosen_ = true; });

  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(splitter_);

  connect(tree_->selectionModel(), &QItemSelectionModel::currentChanged, this, &LogView::OnCurrentChanged);
  // A collapsed row gives back what its rows below held: the rows expanded below it close with
  // it (the view would otherwise keep an index for each), then the model lets the rows go.
  connect(tree_, &QTreeView::collapsed, this, [this](const QModelIndex& index) {
    if (releasing_) return;
    releasing_ = true;
    std::size_t closed = 0;
    std::function<void(const QModelIndex&)> closeBelow = [&](const QModelIndex& parent) {
      for (int row = 0; row < model_->rowCount(parent); ++row) {
        const QModelIndex child = model_->index(row, 0, parent);
        if (!tree_->isExpanded(child)) continue;
        closeBelow(child);
        tree_->collapse(child);
        ++closed;
      }
    };
    closeBelow(index);
    releasing_ = false;
    // Thousands of rows let go of (the view's indexes for the closed ones, the model's lists)
    // are worth giving back to the system.
    if (model_->ReleaseBelow(index) + closed >= kRowsWorthGivingBack) platform::GiveBackFreeMemory();
  });
  connect(tabs_, &QTabWidget::currentChanged, this, &LogView::ShowLogLines);
}

LogView::~LogView() {
  if (disposal_.valid()) disposal_.wait();
}

void LogView::FinishDisposal() {
  if (disposal_.valid()) disposal_.wait();
}

void LogView::ReleaseLog() {
  FinishDisposal();
  document_.ReleaseLog();
  ShowLog();
}

void LogView::ShowLog() {
  followLast_.reset();
  narrowing_.TreeReloaded();
  search_.ForgetNodes();
  if (document_.Path() != criteriaPath_) {
    narrowing_.ResetCriteria();
    criteriaPath_ = document_.Path();
  }
  model_->SetLog(document_.Log());
  lineIndex_.reset();
  resolvedPeers_.clear();
  findStart_ = nullptr;
  ForgetMatchCount();
  SetEmptyTreeMessage({});
  text_->ShowText({});
  // Fitted to the captions of the first log shown only: the splitter then stays where it is
  // for every file after it.
  if (!treeWidthChosen_ && !treeWidthFitted_ && model_->Log() != nullptr && model_->Log()->ChildCount() > 0) {
    treeWidthFitted_ = true;
    // As wide as the captions need, unless that leaves the text pane too little of the window.
    const int most = std::max(kTreeWidth, window()->width() * 3 / 5);
    SetTreeWidth(std::clamp(WidthForNegotiationCaptions(), kTreeWidth, most));
  }
  logLines_->ShowText({});
  linesShown_ = false;
  MakeFirstPeerVisible();
  emit SelectionChanged();
}

int LogView::TreeWidth() const { return splitter_->sizes().value(0); }

void LogView::SetTreeWidth(int width) {
  // The text pane takes the rest; before the window is laid out the splitter keeps the tree's
  // size and gives the growth to the text pane (its stretch factor).
  const int rest = std::max(splitter_->width() - splitter_->handleWidth() - width, 1);
  splitter_->setSizes({width, rest});
}

void LogView::SetChosenTreeWidth(int width) {
  treeWidthChosen_ = true;
  SetTreeWidth(width);
}

int LogView::WidthForNegotiationCaptions() const {
  const LogFile* root = model_->Log();
  if (root == nullptr) return 0;
  // A row's width as the tree's delegate lays it out (icon, gaps, caption); each level is
  // indented once more, the root row once for its expander; the view adds its frame and a
  // scroll bar.
  QStyleOptionViewItem option;
  option.initFrom(tree_);
  option.decorationSize = tree_->iconSize();
  const QAbstractItemDelegate* delegate = tree_->itemDelegate();
  const int fixed = 2 * tree_->frameWidth() + tree_->verticalScrollBar()->sizeHint().width();
  int widest = 0;
  int measured = 0;
  std::vector<std::pair<const LogNode*, int>> pending{{root, 0}};
  while (!pending.empty() && measured < kMaxMeasuredRows) {
    const auto [node, level] = pending.back();
    pending.pop_back();
    ++measured;
    const int row = delegate->sizeHint(option, model_->IndexOf(node)).width();
    widest = std::max(widest, (level + 1) * tree_->indentation() + row);
    if (level == kFittedLevels) continue;
    // Pushed last to first, so that rows are measured in the order the tree shows them.
    const std::vector<LogNode*>& children = model_->VisibleChildrenOf(node);
    for (auto child = children.rbegin(); child != children.rend(); ++child) pending.emplace_back(*child, level + 1);
  }
  return widest + fixed;
}

void LogView::MakeFirstPeerVisible() {
  const QModelIndex root = model_->index(0, 0);
  if (root.isValid() && model_->hasChildren(root)) tree_->expand(root);
}

LogNode* LogView::SelectedNode() const {
  const QModelIndex current = tree_->selectionModel()->currentIndex();
  return current.isValid() ? model_->NodeAt(current) : nullptr;
}

void LogView::SelectNode(const LogNode* node) {
  const QModelIndex index = model_->IndexOf(node);
  if (!index.isValid()) return;
  tree_->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
  tree_->scrollTo(index);
}

namespace {

// A node's place as the tree shows it: the captions of its shown ancestors below the root and
// its own, joined by " > " (levels the tree leaves out, such as a tunnel without addresses, are
// left out here too).
QString ShownPath(const LogTreeModel& model, const LogNode* node) {
  QModelIndex index = model.IndexOf(node);
  if (!index.parent().isValid()) return index.data().toString();  // the log root itself
  QStringList parts;
  for (; index.parent().isValid(); index = index.parent()) parts.prepend(index.data().toString());
  return parts.join(QStringLiteral(" > "));
}

}  // namespace

void LogView::OnCurrentChanged() {
  const LogNode* node = SelectedNode();
  if (node == nullptr) {
    text_->ShowText({});
    emit StatusMessage({});
  } else {
    text_->ShowText(QString::fromLatin1(VisibleText(node->DetailText(), true)));
    emit StatusMessage(ShownPath(*model_, node));
  }
  linesShown_ = false;
  ShowLogLines();
  HighlightMatches();
  emit SelectionChanged();
}

void LogView::ShowLogLines() {
  if (tabs_->currentWidget() != logLines_) return;
  const LogNode* node = SelectedNode();
  if (linesShown_ && linesShownFor_ == node) return;
  linesShown_ = true;
  linesShownFor_ = node;
  const std::vector<LogSpan> spans = node != nullptr ? LogSpansOf(*node) : std::vector<LogSpan>();
  logLines_->SetStretches({});
  if (!spans.empty() && document_.IsCompressed()) {
    // The nodes' places are in the text the file holds, not in the file.
    logLines_->setPlaceholderText(QStringLiteral("The lines of a compressed log are not shown. Decompress it and "
                                                 "open the log it holds to see them."));
    logLines_->ShowText({});
    tabs_->setTabToolTip(1, {});
    return;
  }
  logLines_->setPlaceholderText(
      QStringLiteral("Select a packet or a negotiation to see the lines of the log it was read from."));
  if (spans.empty() || document_.Path().isEmpty()) {
    logLines_->ShowText({});
    tabs_->setTabToolTip(1, {});
    return;
  }
  if (!lineIndex_) lineIndex_ = std::make_unique<LogLineIndex>(QFile::encodeName(document_.Path()).toStdString());
  bool cut = false;
  QString text = QString::fromLatin1(lineIndex_->Text(spans, kMaxLogLinesBytes, &cut));
  if (cut) text += QStringLiteral("\n[... the rest is not shown: more than 4 MB of the log ...]\n");
  // The file's lines end in LF or CR LF; the pane shows one line per line of the file.
  logLines_->ShowText(text);
  const std::vector<LineRange> ranges = lineIndex_->Lines(spans);
  std::vector<NumberedPane::Stretch> stretches;
  for (const LineRange& range : ranges) stretches.push_back({range.first, range.last});
  logLines_->SetStretches(std::move(stretches));
  const LineRange lines = Overall(ranges);
  tabs_->setTabToolTip(1, QStringLiteral("Lines %1 to %2 of the log").arg(lines.first).arg(lines.last));
  HighlightMatches();
}

void LogView::Copy() {
  // A selection in one of the panes is what the user means; otherwise the row.
  for (TextPane* pane : {text_, static_cast<TextPane*>(logLines_)}) {
    if (pane->hasFocus() && pane->textCursor().hasSelection()) {
      pane->copy();
      return;
    }
  }
  CopyRow();
}


LogView::ResolveCount LogView::ResolvePeerNames(NameResolver& resolver,
                                                         const std::function<void(const QString&)>& status) {
  ResolveCount count;
  const LogFile* root = model_->Log();
  if (root == nullptr) return count;
  std::vector<LogNode*> renamed;
  for (LogNode* peer : model_->VisibleChildrenOf(root)) {
    ++count.peers;
    status(QStringLiteral("Resolving %1...").arg(QString::fromLatin1(peer->Name())));
    // A peer already named after its host keeps its name.
    if (resolvedPeers_.contains(peer)) continue;
    const std::uint32_t address = LeadingAddress(peer->Name());
    if (address == 0) continue;
    const std::optional<std::string> host = resolver.HostName(address);
    if (!host || host->empty()) continue;
    peer->SetName(std::string(peer->Name()) + " (" + *host + ")");
    renamed.push_back(peer);
    resolvedPeers_.insert(peer);
  }
  model_->NodesChanged(renamed);
  MakeFirstPeerVisible();
  // The selected node's path and text may name a renamed peer.
  if (const LogNode* node = SelectedNode()) text_->ShowText(QString::fromLatin1(VisibleText(node->DetailText(), true)));
  count.resolved = static_cast<int>(renamed.size());
  return count;
}

bool LogView::DeleteSelectedPeer(MessageSink& messages) {
  LogFile* root = model_->Log();
  LogNode* peer = SelectedNode();
  if (root == nullptr || peer == nullptr || peer == root) return false;
  // The peer is the ancestor that stands directly below the log root.
  while (peer->Parent() != nullptr && peer->Parent() != root) peer = peer->Parent();
  if (peer->Parent() != root) return false;
  if (root->ChildCount() <= 1) {
    messages.Show(QStringLiteral("A log should contain at least one IKE peer.\n\n") +
                      QStringLiteral("Cannot remove the only peer ") + QString::fromLatin1(peer->Name()),
                  MessageSink::Kind::kWarning);
    return false;
  }
  followLast_.reset();
  // Exactly this node goes: another peer with the same address and name (a merged peer) stays.
  RemovedNodes removed;
  model_->RemoveNode(peer, [root, &removed](LogNode* node) { removed.push_back(root->TakeChild(node)); });
  Dispose(std::move(removed));
  if (!IsShownBelow(*root, search_.currentItem)) search_.ForgetNodes();
  search_.lastMatchBefore = nullptr;
  ForgetMatchCount();
  emit SelectionChanged();
  return true;
}

void LogView::MakeNegotiationsVisible() {
  const QModelIndex root = model_->index(0, 0);
  if (!root.isValid() || !model_->hasChildren(root)) return;
  // The root and every peer in one batch: the view lays itself out once, not once per peer
  // (item by item, a log of 500 peers froze the window for seconds).
  tree_->expandRecursively(root, 1);
}

void LogView::Narrow(const NarrowingSteps& steps) {
  LogFile* root = model_->Log();
  if (root == nullptr || !(steps.applyFilter || steps.applyVerify)) return;
  const LogNode* selected = SelectedNode();
  RemovedNodes removed;
  followLast_.reset();
  model_->Rebuild([&] {
    if (steps.applyFilter) narrowing_.ApplyFilterTo(*root, &removed);
    if (steps.applyVerify) narrowing_.ApplyVerifyTo(*root, &removed);
  });
  Dispose(std::move(removed));
  // Nodes were only taken out, none made, so an address still in the tree is the same node.
  if (!IsShownBelow(*root, search_.currentItem)) search_.ForgetNodes();
  search_.lastMatchBefore = nullptr;
  ForgetMatchCount();
  MakeFirstPeerVisible();
  if (IsShownBelow(*root, selected)) SelectNode(selected);
  else OnCurrentChanged();
  // A filter that leaves nothing says so where the tree was.
  SetEmptyTreeMessage(model_->VisibleChildrenOf(root).empty() ? QStringLiteral("No peer matches the filter")
                                                               : QString());
  if (!findBar_->isHidden()) ShowMatchCount();
  emit TreeNarrowed();
}

void LogView::Dispose(RemovedNodes removed) {
  // Nodes placed in the log's arena are let go: what they hold lives in the arena and leaves with
  // it (their bytes stay there until the log is read again). Others are destroyed on another
  // thread, so that the window does not wait for thousands of nodes to go; the log waits for
  // that thread before it goes (FinishDisposal), since such a node may hold nodes of its arena.
  std::erase_if(removed, [](std::unique_ptr<LogNode>& node) {
    if (!node || !node->InArena()) return false;
    node->AbandonArenaChildren();
    (void)node.release();
    return true;
  });
  if (removed.empty()) return;
  if (disposal_.valid()) disposal_.wait();
  disposal_ = RunInBackground([nodes = std::move(removed)]() mutable {
    nodes.clear();
    return true;
  });
}

}  // namespace quillon
