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

// Go to last event looks at the first three levels below the root: peers, tunnels and
// negotiations (or negotiations and their packets where a tunnel has no addresses).
constexpr int kLastEventDepth = 3;

// The search for the last event starts at 1 January 1980: an event dated earlier is never it.
std::int64_t EarliestEventSeconds() {
  CalendarTime start;
  start.year = 1980;
  start.month = 1;
  start.day = 1;
  return start.Seconds();
}

std::int64_t EventSeconds(const LogNode& node) {
  CalendarTime time;
  LogNode::ParseDate(node.DateText(), time);
  LogNode::ParseTime(node.TimeText(), time);
  return time.Seconds();
}

void FindLatestEvent(const LogTreeModel& model, const LogNode& node, int depth, std::int64_t& latest,
                     const LogNode*& found) {
  if (depth >= kLastEventDepth) return;
  for (const LogNode* child : model.VisibleChildrenOf(&node)) {
    FindLatestEvent(model, *child, depth + 1, latest, found);
    if (child->DateText().empty()) continue;
    const std::int64_t seconds = EventSeconds(*child);
    // Later or equal: of events logged in the same second, the one read last wins.
    if (seconds >= latest) {
      latest = seconds;
      found = child;
    }
  }
}

// The address a peer's name starts with ("10.0.0.1", or "10.0.0.1  (0.0.0.7)" for a peer that
// the daemon also logged under an index); 0 when the name does not start with a dotted address.
std::uint32_t LeadingAddress(std::string_view name) {
  const std::string token(name.substr(0, name.find(' ')));
  const std::uint32_t address = ParseIPv4(token);
  if (address == 0 || address == 0xFFFFFFFFu || FormatIPv4(address) != token) return 0;
  return address;
}

// A node by the names from the root down, each with its place among the siblings of that name:
// stable while a followed log grows (new peers, tunnels and negotiations may come between).
using NodeKey = std::vector<std::pair<std::string, int>>;

NodeKey KeyOf(const LogNode* node) {
  NodeKey key;
  for (; node != nullptr && node->Parent() != nullptr; node = node->Parent()) {
    int ordinal = 0;
    for (const auto& sibling : node->Parent()->Children()) {
      if (sibling.get() == node) break;
      if (sibling->Name() == node->Name()) ++ordinal;
    }
    key.emplace_back(node->Name(), ordinal);
  }
  std::reverse(key.begin(), key.end());
  return key;
}

const LogNode* NodeOf(const LogNode& root, const NodeKey& key) {
  const LogNode* node = &root;
  for (const auto& [name, ordinal] : key) {
    const LogNode* next = nullptr;
    int seen = 0;
    for (const auto& child : node->Children()) {
      if (child->Name() == name && seen++ == ordinal) {
        next = child.get();
        break;
      }
    }
    if (next == nullptr) return nullptr;
    node = next;
  }
  return node;
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
    std::function<void(const QModelIndex&)> closeBelow = [&](const QModelIndex& parent) {
      for (int row = 0; row < model_->rowCount(parent); ++row) {
        const QModelIndex child = model_->index(row, 0, parent);
        if (!tree_->isExpanded(child)) continue;
        closeBelow(child);
        tree_->collapse(child);
      }
    };
    closeBelow(index);
    releasing_ = false;
    // Thousands of rows let go of are worth giving back to the system.
    if (model_->ReleaseBelow(index) >= kRowsWorthGivingBack) platform::GiveBackFreeMemory();
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

const LogNode* LogView::LastEvent() const {
  const LogFile* root = model_->Log();
  if (root == nullptr) return nullptr;
  // Searched afresh each time: a peer deleted since the last search must not be found.
  std::int64_t latest = EarliestEventSeconds();
  const LogNode* found = nullptr;
  FindLatestEvent(*model_, *root, 0, latest, found);
  return found;
}

// Where the user stands in the tree, by names that outlive the rows: what is expanded, the
// selection, the scroll position, and whether the selection is on the last event.
struct LogView::Place {
  std::vector<NodeKey> expanded;
  std::optional<NodeKey> selected;
  int scrolled = 0;
  bool onLastEvent = false;
};

LogView::Place LogView::NotePlace(bool onLastEvent) const {
  Place place;
  std::function<void(const QModelIndex&)> collect = [&](const QModelIndex& parent) {
    for (int row = 0; row < model_->rowCount(parent); ++row) {
      const QModelIndex index = model_->index(row, 0, parent);
      if (!tree_->isExpanded(index)) continue;
      place.expanded.push_back(KeyOf(model_->NodeAt(index)));
      collect(index);
    }
  };
  collect({});
  if (const LogNode* selected = SelectedNode()) place.selected = KeyOf(selected);
  place.scrolled = tree_->verticalScrollBar()->value();
  place.onLastEvent = onLastEvent;
  return place;
}

void LogView::GoBackTo(const Place& place) {
  const LogFile* log = model_->Log();
  if (log == nullptr) return;
  followLast_ = LastEvent();
  for (const NodeKey& key : place.expanded)
    if (const LogNode* node = NodeOf(*log, key)) tree_->expand(model_->IndexOf(node));
  tree_->verticalScrollBar()->setValue(place.scrolled);
  if (place.onLastEvent) {
    GoToLastEvent();
  } else if (place.selected) {
    if (const LogNode* node = NodeOf(*log, *place.selected)) {
      const QModelIndex index = model_->IndexOf(node);
      if (index.isValid()) tree_->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
    }
  }
  if (SelectedNode() == nullptr) text_->ShowText({});
}

bool LogView::OnLastEvent() {
  if (!followLast_) followLast_ = LastEvent();
  const LogNode* selected = SelectedNode();
  return selected != nullptr && selected == *followLast_;
}

void LogView::NotePlaceForReload() { notedPlace_ = std::make_unique<Place>(NotePlace(false)); }

void LogView::ReturnToNotedPlace() {
  if (!notedPlace_) return;
  const std::unique_ptr<Place> place = std::move(notedPlace_);
  GoBackTo(*place);
  // The rows were made anew: the count too.
  if (!findBar_->isHidden()) ShowMatchCount();
}

void LogView::ForgetNotedPlace() { notedPlace_.reset(); }

void LogView::BeginFollowRead() {
  if (model_->Log() == nullptr) return;
  notedPlace_ = std::make_unique<Place>(NotePlace(OnLastEvent()));
  // The view shows no tree while the file is read (the window goes on serving events).
  search_.ForgetNodes();
  narrowing_.TreeReloaded();  // a followed tree is read from the file and never narrowed
  followLast_.reset();
  model_->SetLog(nullptr);
  ForgetMatchCount();
}

void LogView::EndFollowRead() {
  if (!notedPlace_) return;
  const std::unique_ptr<Place> place = std::move(notedPlace_);
  model_->SetLog(document_.Log());
  GoBackTo(*place);
  emit SelectionChanged();
  emit FollowStepShown();
}

void LogView::ShowFollowed(const std::function<std::vector<LogNode*>()>& poll) {
  LogFile* log = model_->Log();
  if (log == nullptr) return;
  const LogNode* selected = SelectedNode();
  const bool onLastEvent = OnLastEvent();

  // A step mostly adds packets in place. When it reads the file again or regroups the peers, the
  // nodes go: first the rows are let go of, with where the user stands noted by names that
  // outlive the rows.
  bool reset = false;
  Place place;
  log->SetBeforeRearranging([&] {
    if (reset) return;
    reset = true;
    place = NotePlace(onLastEvent);
    search_.ForgetNodes();
    ForgetMatchCount();
    // A followed tree is read from the file and never narrowed.
    narrowing_.TreeReloaded();
    followLast_.reset();
    model_->BeginReset();
  });
  std::vector<LogNode*> changed;
  {
    struct Unhook {
      LogFile* log;
      ~Unhook() { log->SetBeforeRearranging({}); }
    } unhook{log};
    changed = poll();
  }

  if (reset) {
    model_->EndReset();
    GoBackTo(place);
  } else if (!changed.empty()) {
    // Rows of the extended peers only: the rest of the view is not touched.
    model_->NodesAdded(changed);
    ForgetMatchCount();
    const LogNode* last = LatestEventAmong(changed, *followLast_);
    followLast_ = last;
    if (onLastEvent && last != selected && last != nullptr) {
      SelectNode(last);
      tree_->expand(model_->IndexOf(last));
    } else if (selected != nullptr) {
      // The selected node's text may count what was added.
      const LogNode* peer = selected;
      while (peer->Parent() != nullptr && peer->Parent() != log) peer = peer->Parent();
      if (std::find(changed.begin(), changed.end(), peer) != changed.end() || selected == log)
        text_->ShowText(QString::fromLatin1(VisibleText(selected->DetailText(), true)));
    }
  } else {
    return;  // nothing placed: nothing to show
  }
  emit SelectionChanged();
  emit FollowStepShown();
}

const LogNode* LogView::LatestEventAmong(const std::vector<LogNode*>& peers, const LogNode* previous) const {
  const LogFile* root = model_->Log();
  if (root == nullptr) return nullptr;
  const auto peerOf = [root](const LogNode* node) {
    while (node->Parent() != nullptr && node->Parent() != root) node = node->Parent();
    return node;
  };
  // As the whole search goes: peers in the tree's order, a later or equal time wins.
  std::vector<std::pair<std::size_t, const LogNode*>> ordered;
  for (const LogNode* peer : peers)
    if (peer->Parent() == root) ordered.emplace_back(root->IndexOf(peer), peer);
  std::sort(ordered.begin(), ordered.end());
  std::int64_t latest = EarliestEventSeconds();
  const LogNode* found = nullptr;
  for (const auto& [place, peer] : ordered) {
    FindLatestEvent(*model_, *peer, 1, latest, found);
    if (!peer->DateText().empty() && EventSeconds(*peer) >= latest) {
      latest = EventSeconds(*peer);
      found = peer;
    }
  }
  if (previous == nullptr) return found;
  // Events only gain packets and later times: a previous last event in a peer that took nothing
  // is still the latest of those peers, and one in an extended peer was searched again.
  const LogNode* previousPeer = peerOf(previous);
  if (std::find(peers.begin(), peers.end(), previousPeer) != peers.end()) return found;
  if (found == nullptr) return previous;
  const std::int64_t before = EventSeconds(*previous);
  if (latest != before) return latest > before ? found : previous;
  // Of equal times the one further down the tree wins.
  return root->IndexOf(previousPeer) > root->IndexOf(peerOf(found)) ? previous : found;
}

void LogView::GoToLastEvent() {
  const LogNode* found = LastEvent();
  if (found == nullptr) return;
  SelectNode(found);
  tree_->expand(model_->IndexOf(found));
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

}  // namespace quillon

namespace quillon {

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

void LogView::SelectMatch() {
  const QModelIndex index = model_->IndexOf(search_.currentItem);
  if (!index.isValid()) return;
  tree_->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
  // In the middle of the tree, not at its edge: the rows around the match are seen too.
  tree_->scrollTo(index, QAbstractItemView::PositionAtCenter);
  // A match that only the log's lines hold is shown there.
  const LogNode& node = *search_.currentItem;
  if (search_.logLines) {
    const std::string& wanted = search_.searchText;
    const bool inTexts = ContainsText(node.Caption(), wanted, search_.matchCase) ||
                         (!search_.keysOnly && ContainsText(node.DetailText(), wanted, search_.matchCase));
    if (!inTexts) ShowLogLinesTab();
  }
  HighlightMatches();
  if (findBar_->isHidden()) tree_->setFocus();
  ShowMatchCount();
}

bool LogView::Find(const QString& text, bool keysOnly) {
  SearchOptions options;
  options.keysOnly = keysOnly;
  return Find(text, options);
}

bool LogView::Find(const QString& text, const SearchOptions& options) {
  const LogFile* root = model_->Log();
  if (root == nullptr) return false;
  const bool found = quillon::Find(search_, *root, text.toLatin1().toStdString(), options, SelectedNode());
  if (found) SelectMatch();
  return found;
}

bool LogView::FindNext() {
  const LogFile* root = model_->Log();
  if (root == nullptr) return false;
  const bool found = quillon::FindNext(search_, *root);
  if (found) SelectMatch();
  else if (!search_.searchText.empty()) findBar_->SetStatus(QStringLiteral("String not found."));
  return found;
}

FindPreviousResult LogView::FindPrevious() {
  const LogFile* root = model_->Log();
  if (root == nullptr) return FindPreviousResult::kNoCurrentItem;
  const FindPreviousResult result = quillon::FindPrevious(search_, *root);
  if (result == FindPreviousResult::kFound) SelectMatch();
  else if (result == FindPreviousResult::kNotFound) findBar_->SetStatus(QStringLiteral("String not found."));
  return result;
}

void LogView::OpenFindBar() {
  findStart_ = SelectedNode();
  if (findBar_->Text().isEmpty() && !search_.searchText.empty())
    findBar_->Edit()->setText(QString::fromLatin1(search_.searchText));
  findBar_->Open();
  if (!findBar_->Text().isEmpty()) ShowMatchCount();
}

SearchOptions LogView::FindBarOptions() const {
  SearchOptions options;
  options.keysOnly = findBar_->KeysOnly();
  options.matchCase = findBar_->MatchCase();
  options.logLines = findBar_->LogLines();
  // The nodes' offsets are in the file as it is on disk: a compressed log's lines are not
  // searched.
  if (options.logLines && !document_.IsCompressed()) options.logPath = QFile::encodeName(document_.Path()).toStdString();
  return options;
}

void LogView::SearchFromFindBar() {
  ForgetMatchCount();
  const LogFile* root = model_->Log();
  const QString text = findBar_->Text();
  if (root == nullptr || text.isEmpty()) {
    findBar_->SetStatus({});
    HighlightMatches();
    return;
  }
  // Each change of the text searches again from where the user stood when the bar opened, so
  // that typing on narrows the same search; from the top when nothing after it matches.
  const LogNode* start = IsShownBelow(*root, findStart_) ? findStart_ : nullptr;
  const SearchOptions options = FindBarOptions();
  bool found = quillon::Find(search_, *root, text.toLatin1().toStdString(), options, start);
  if (!found && start != nullptr) found = quillon::Find(search_, *root, text.toLatin1().toStdString(), options, nullptr);
  if (found) {
    SelectMatch();
  } else {
    // Nothing matches: the selection stays where the search started.
    search_.currentItem = start;
    HighlightMatches();
    ShowMatchCount();
  }
}

void LogView::ForgetMatchCount() {
  matches_.clear();
  matches_.shrink_to_fit();
  matchesKnown_ = false;
}

void LogView::ShowMatchCount() {
  const LogFile* root = model_->Log();
  if (root == nullptr || search_.searchText.empty()) {
    findBar_->SetStatus({});
    return;
  }
  if (!matchesKnown_) {
    SearchOptions options;
    options.keysOnly = search_.keysOnly;
    options.matchCase = search_.matchCase;
    options.logLines = search_.logLines;
    options.logPath = search_.logPath;
    matches_ = AllMatches(*root, search_.searchText, options);
    matchesKnown_ = true;
  }
  if (matches_.empty()) {
    findBar_->SetStatus(QStringLiteral("String not found."));
    return;
  }
  const auto at = std::find(matches_.begin(), matches_.end(), search_.currentItem);
  if (at == matches_.end())
    findBar_->SetStatus(matches_.size() == 1 ? QStringLiteral("1 match")
                                             : QStringLiteral("%1 matches").arg(matches_.size()));
  else
    findBar_->SetStatus(QStringLiteral("%1 of %2").arg(at - matches_.begin() + 1).arg(matches_.size()));
}

void LogView::HighlightMatches() {
  const bool active = !findBar_->isHidden() && !findBar_->Text().isEmpty();
  const QString wanted = active ? findBar_->Text() : QString();
  const QTextDocument::FindFlags flags =
      findBar_->MatchCase() ? QTextDocument::FindCaseSensitively : QTextDocument::FindFlags();
  for (TextPane* pane : {text_, static_cast<TextPane*>(logLines_)}) {
    QList<QTextEdit::ExtraSelection> marks;
    if (active) {
      // A long text is marked in its first few hundred places only.
      constexpr int kMostMarks = 500;
      QTextEdit::ExtraSelection mark;
      mark.format.setBackground(QColor(0xff, 0xd8, 0x4d));
      mark.format.setForeground(Qt::black);
      for (QTextCursor found = pane->document()->find(wanted, 0, flags);
           !found.isNull() && marks.size() < kMostMarks; found = pane->document()->find(wanted, found, flags)) {
        mark.cursor = found;
        marks.append(mark);
      }
      if (!marks.isEmpty()) {
        // The first place is scrolled into view; the caret stays at the start of the text.
        QTextCursor first(marks.first().cursor);
        first.clearSelection();
        pane->setTextCursor(first);
        pane->ensureCursorVisible();
      }
    }
    pane->setExtraSelections(marks);
  }
}

QString LogView::EmptyTreeMessage() const {
  return treeStack_->currentWidget() == emptyMessage_ ? emptyMessage_->text() : QString();
}

void LogView::SetEmptyTreeMessage(const QString& text) {
  emptyMessage_->setText(text);
  treeStack_->setCurrentWidget(text.isEmpty() ? static_cast<QWidget*>(tree_) : emptyMessage_);
}

namespace {

// A Latin-1 text as a JSON string (UTF-8, control characters escaped).
void AppendJsonString(std::string_view text, QByteArray& out) {
  out += '"';
  for (const char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || (c >= 0x7f && c < 0xa0)) {
      out += QStringLiteral("\\u%1").arg(c, 4, 16, QLatin1Char('0')).toLatin1();
    } else {
      out += QString(QChar(c)).toUtf8();
    }
  }
  out += '"';
}

// The copies walk the shown children as the tree rules give them, not the model's rows: a
// copied subtree makes no rows.
void AppendJson(const LogNode& node, int depth, QByteArray& out) {
  const QByteArray indent(2 * depth, ' ');
  out += indent + "{\"name\": ";
  AppendJsonString(node.Name(), out);
  out += ", \"caption\": ";
  AppendJsonString(node.Caption(), out);
  out += node.IsComplete() ? ", \"complete\": true" : ", \"complete\": false";
  out += ", \"text\": ";
  AppendJsonString(node.DetailText(), out);
  const std::vector<LogNode*> children = VisibleChildren(node);
  if (!children.empty()) {
    out += ", \"children\": [\n";
    for (std::size_t i = 0; i < children.size(); ++i) {
      AppendJson(*children[i], depth + 1, out);
      out += i + 1 < children.size() ? ",\n" : "\n";
    }
    out += indent + "]";
  }
  out += "}";
}

void AppendOutline(const LogNode& node, int depth, QString& out) {
  out += QString(2 * depth, QLatin1Char(' ')) + QString::fromLatin1(VisibleText(node.Caption())) + QLatin1Char('\n');
  for (const LogNode* child : VisibleChildren(node)) AppendOutline(*child, depth + 1, out);
}

}  // namespace

void LogView::CopyRow() {
  if (const LogNode* node = SelectedNode())
    QApplication::clipboard()->setText(QString::fromLatin1(VisibleText(node->Caption())));
}

void LogView::CopySubtree() {
  const LogNode* node = SelectedNode();
  if (node == nullptr) return;
  QString text;
  AppendOutline(*node, 0, text);
  QApplication::clipboard()->setText(text);
}

void LogView::CopyJson() {
  const LogNode* node = SelectedNode();
  if (node == nullptr) return;
  QByteArray json;
  AppendJson(*node, 0, json);
  json += '\n';
  QApplication::clipboard()->setText(QString::fromUtf8(json));
}

void LogView::ExpandSubtree(bool expand) {
  const QModelIndex index = tree_->selectionModel()->currentIndex();
  if (!index.isValid()) return;
  if (expand) {
    tree_->expandRecursively(index);
    return;
  }
  // The rows expanded below it close with it, and their rows are let go of.
  tree_->collapse(index);
}

void LogView::ShowLogLinesTab() { tabs_->setCurrentWidget(logLines_); }

std::uint64_t LogView::FirstLogLineOfSelection() {
  const LogNode* node = SelectedNode();
  if (node == nullptr || document_.Path().isEmpty() || document_.IsCompressed()) return 0;
  const std::vector<LogSpan> spans = LogSpansOf(*node);
  if (spans.empty()) return 0;
  if (!lineIndex_) lineIndex_ = std::make_unique<LogLineIndex>(QFile::encodeName(document_.Path()).toStdString());
  return Overall(lineIndex_->Lines(spans)).first;
}

QMenu* LogView::RowContextMenu(const QPoint& position) {
  const QModelIndex index = tree_->indexAt(position);
  if (!index.isValid()) return nullptr;
  tree_->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
  const LogNode* node = model_->NodeAt(index);
  auto* menu = new QMenu(this);
  QAction* copy = menu->addAction(QStringLiteral("&Copy row"), this, &LogView::CopyRow);
  copy->setShortcut(QKeySequence(QKeySequence::Copy));
  menu->addAction(QStringLiteral("Copy &subtree as text"), this, &LogView::CopySubtree);
  menu->addAction(QStringLiteral("Copy as &JSON"), this, &LogView::CopyJson);
  menu->addSeparator();
  const bool hasRows = model_->hasChildren(index);
  menu->addAction(QStringLiteral("&Expand subtree"), this, [this] { ExpandSubtree(true); })->setEnabled(hasRows);
  menu->addAction(QStringLiteral("C&ollapse subtree"), this, [this] { ExpandSubtree(false); })->setEnabled(hasRows);
  menu->addSeparator();
  const bool hasLines = node != nullptr && !LogSpansOf(*node).empty();
  menu->addAction(QStringLiteral("Show &log lines"), this, &LogView::ShowLogLinesTab)->setEnabled(hasLines);
  menu->addAction(QStringLiteral("Open in text &editor at this line"), this, [this] {
        emit OpenInEditorRequested(FirstLogLineOfSelection());
      })->setEnabled(hasLines && !document_.IsCompressed());
  if (rowMenuExtender_ && node != nullptr) rowMenuExtender_(*menu, *node);
  return menu;
}

QMenu* LogView::TextContextMenu() {
  auto* menu = new QMenu(this);
  QAction* copy = menu->addAction(QStringLiteral("&Copy"), text_, [this] {
    if (text_->textCursor().hasSelection()) text_->copy();
    else text_->CopyToClipboard();
  });
  copy->setShortcut(QKeySequence(QKeySequence::Copy));
  menu->addAction(QStringLiteral("Select &all"), text_, &QPlainTextEdit::selectAll)
      ->setShortcut(QKeySequence(QKeySequence::SelectAll));
  menu->addSeparator();
  menu->addAction(QStringLiteral("&Find..."), this, &LogView::OpenFindBar)
      ->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_F));
  return menu;
}

QMenu* LogView::LogLinesContextMenu() {
  auto* menu = new QMenu(this);
  menu->addAction(QStringLiteral("&Copy"), logLines_, [this] {
        if (logLines_->textCursor().hasSelection()) logLines_->copy();
        else logLines_->CopyToClipboard();
      })->setShortcut(QKeySequence(QKeySequence::Copy));
  menu->addAction(QStringLiteral("Select &all"), logLines_, &QPlainTextEdit::selectAll)
      ->setShortcut(QKeySequence(QKeySequence::SelectAll));
  menu->addSeparator();
  const std::uint64_t line = logLines_->LineNumberOf(0);
  QAction* open = menu->addAction(line != 0 ? QStringLiteral("Open in text &editor at line %1").arg(line)
                                            : QStringLiteral("Open in text &editor"),
                                  this, [this, line] { emit OpenInEditorRequested(line); });
  open->setEnabled(line != 0);
  return menu;
}

}  // namespace quillon
