// The main view: the log tree on the left, the selected node's detail text on the right, a
// movable splitter between them; and the commands that work on the tree.
#pragma once

#include <cstdint>
#include <functional>
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <unordered_set>
#include <vector>

#include <QString>
#include <QWidget>

#include "model/Narrowing.h"
#include "model/LogNode.h"
#include "model/TreeSearch.h"

class QLabel;
class QMenu;
class QSplitter;
class QStackedWidget;
class QTabWidget;
class QTreeView;

namespace quillon {

class LogDocument;
class FindBar;
class LogLineIndex;
class NumberedPane;
class LogTreeModel;
class MessageSink;
class NameResolver;
class TextPane;

class LogView : public QWidget {
  Q_OBJECT

 public:
  // The tree's width when the window opens for the first time.
  static constexpr int kTreeWidth = 390;

  // The tree pane's width. Until the user moves the splitter (or a width is restored), each
  // load widens the pane, up to three fifths of the window, so that the negotiations' captions
  // fit.
  int TreeWidth() const;
  // A width the user chose, in this run or a previous one (restored from the settings).
  void SetChosenTreeWidth(int width);
  bool IsTreeWidthChosen() const { return treeWidthChosen_; }
  // The width the tree needs to show its rows down to the negotiations without cutting them.
  int WidthForNegotiationCaptions() const;
  // The most of the log a node's "Log lines" tab shows.
  static constexpr std::size_t kMaxLogLinesBytes = std::size_t{4} << 20;

  LogView(LogDocument& document, QWidget* parent = nullptr);
  ~LogView() override;

  // Shows the document's current tree (after a load or New): the rows are rebuilt, the text pane
  // emptied and the peers made visible. Nothing is filtered or verified any more; the criteria
  // return to their start values when the log is another file than before.
  void ShowLog();
  // Gives the document's tree back (a reload, before reading the file again) once no peer
  // removed by a narrowing is still being destroyed, and shows the empty document.
  void ReleaseLog();
  // Waits until the nodes a narrowing or Delete peer removed are destroyed: call before the
  // document's log goes.
  void FinishDisposal();

  LogNode* SelectedNode() const;
  // Selects a shown node, scrolls to it and shows its text.
  void SelectNode(const LogNode* node);

  // Copy: the text pane's selection, or all of its text when nothing is selected.
  void Copy();
  // Selects the negotiation with the latest date and time in the log and expands it. Logs
  // without dates (IKEv2) are left as they are.
  void GoToLastEvent();
  struct ResolveCount {
    int resolved = 0;  // peers renamed
    int peers = 0;     // peers looked at
  };
  // Renames each peer whose name is an address to "address (host name)" when the address has a
  // name. `status` is told what is being resolved.
  ResolveCount ResolvePeerNames(NameResolver& resolver, const std::function<void(const QString&)>& status);
  // Removes the peer that contains the selected node; the last peer of a log is kept. Returns
  // whether a peer was removed.
  bool DeleteSelectedPeer(MessageSink& messages);
  // Expands the log root and each of its peers.
  void MakeNegotiationsVisible();
  // The node Go to last event selects; null when there is none.
  const LogNode* LastEvent() const;

  // Follow: runs `poll`, which may extend the tree or build it anew from the file and returns
  // the peers it extended, and shows the tree it leaves. A step that adds packets inserts the
  // new rows of those peers only; one that reads the file again or regroups the peers makes
  // the rows anew. What was expanded stays expanded and the selection stays on its node (after
  // new rows, found again by their names and places among equally named siblings); a selection
  // on the last event moves to the new last event. A step that placed nothing changes nothing.
  void ShowFollowed(const std::function<std::vector<LogNode*>()>& poll);
  // Follow turned on: the follower reads the whole file again on a worker; from BeginFollowRead
  // to EndFollowRead the view shows no tree. Afterwards expansion and selection are found again
  // as after a step that reads the file again.
  void BeginFollowRead();
  void EndFollowRead();

  // Filter and Verify: the criteria and what the shown tree reflects.
  Narrowing& NarrowingState() { return narrowing_; }
  const Narrowing& NarrowingState() const { return narrowing_; }
  // Applies the filter and/or the verify selection to the shown tree (after the frame read the
  // log again when the steps say so). The selection stays where its node is still shown.
  void Narrow(const NarrowingSteps& steps);
  // Around a load that reads the log again (a filter made less strict): notes what is expanded
  // and selected, by names, and after the load expands and selects it again in the new tree.
  void NotePlaceForReload();
  void ReturnToNotedPlace();
  void ForgetNotedPlace();

  // Find, Find Next and Find Previous: each selects the match, scrolls it to the middle of the
  // tree and highlights the text in the detail pane (or in the "Log lines" tab when only the
  // log's lines hold it).
  const SearchState& Search() const { return search_; }
  bool Find(const QString& text, bool keysOnly);
  bool Find(const QString& text, const SearchOptions& options);
  bool FindNext();
  FindPreviousResult FindPrevious();
  // The find bar under the tree, and what it searches with (the log's own file for its lines).
  FindBar* FindBarWidget() const { return findBar_; }
  void OpenFindBar();
  SearchOptions FindBarOptions() const;
  // The search the find bar's text and options ask for, from where the selection was when the
  // bar was opened (from the top when nothing after it matches); shows the count.
  void SearchFromFindBar();
  // The bar's count: "N of M", "M matches" or "String not found.".
  void ShowMatchCount();
  // The text shown in the tree's place when there are no rows to show (empty: the tree).
  QString EmptyTreeMessage() const;
  void SetEmptyTreeMessage(const QString& text);

  // The context menus (the caller owns each): of the tree row at a position of the tree's
  // viewport (none off the rows), and of the detail pane. Commands of the window the tree row's
  // menu offers too (filter to a peer, export, report) are added by the window through
  // SetRowMenuExtender.
  QMenu* RowContextMenu(const QPoint& position);
  QMenu* TextContextMenu();
  QMenu* LogLinesContextMenu();
  void SetRowMenuExtender(std::function<void(QMenu& menu, const LogNode& node)> extender) {
    rowMenuExtender_ = std::move(extender);
  }
  // The row commands.
  void CopyRow();
  void CopySubtree();
  void CopyJson();
  void ExpandSubtree(bool expand);
  // Expands `top` and every row below it that has rows below.
  void ExpandBelow(const QModelIndex& top);
  // Shows the selected node's "Log lines" tab.
  void ShowLogLinesTab();
  // The selected packet's or negotiation's first line in the log, 0 when it has none (or the
  // lines of a compressed log).
  std::uint64_t FirstLogLineOfSelection();

  QTreeView* Tree() const { return tree_; }
  TextPane* Text() const { return text_; }
  // The selected packet's or negotiation's lines of the log, exactly as the file has them; read
  // from the file while its tab is shown.
  NumberedPane* LogLines() const { return logLines_; }
  // The detail text and "Log lines" tabs beside the tree.
  QTabWidget* Tabs() const { return tabs_; }
  LogTreeModel* Model() const { return model_; }
  QSplitter* Splitter() const { return splitter_; }

 signals:
  // The selection moved; the frame re-evaluates its commands.
  void SelectionChanged();
  // A text for the status bar's message pane.
  void StatusMessage(const QString& text);
  // Filter or Verify removed nodes: the tree now differs from the file.
  void TreeNarrowed();
  // A Follow step changed the tree and the view shows it.
  void FollowStepShown();
  // "Open in text editor" at a line of the log (from the row's or the log lines' menu).
  void OpenInEditorRequested(std::uint64_t line);

 protected:
  // The tree's "*" key expands the current row's subtree as the row menu does.
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void OnCurrentChanged();
  // The last event after the tree below `peers` grew, `previous` being the one before.
  const LogNode* LatestEventAmong(const std::vector<LogNode*>& peers, const LogNode* previous) const;
  void MakeFirstPeerVisible();
  void SelectMatch();
  // Marks every place of the find bar's text in the two panes.
  void HighlightMatches();
  // The tree changed: the find bar's count is made again when next asked for.
  void ForgetMatchCount();
  // Hands nodes taken out of the tree to the disposal thread.
  void Dispose(RemovedNodes removed);
  void SetTreeWidth(int width);
  // Fills the "Log lines" tab for the selected node when the tab is shown.
  void ShowLogLines();

  LogDocument& document_;
  LogTreeModel* model_;
  QTreeView* tree_;
  TextPane* text_;
  NumberedPane* logLines_;
  FindBar* findBar_;
  QLabel* emptyMessage_;
  QStackedWidget* treeStack_;
  std::function<void(QMenu&, const LogNode&)> rowMenuExtender_;
  // The find bar's matches in walk order, made once per text, options and tree.
  std::vector<const LogNode*> matches_;
  bool matchesKnown_ = false;
  const LogNode* findStart_ = nullptr;  // the selection when the bar was opened
  // The peers Resolve IPs renamed since the log was shown (a peer is renamed once).
  std::unordered_set<const LogNode*> resolvedPeers_;
  QTabWidget* tabs_;
  QSplitter* splitter_;
  Narrowing narrowing_;
  SearchState search_;
  QString criteriaPath_;  // the file the criteria were chosen for
  // The nodes a narrowing or Delete peer took out of the tree are destroyed on another thread:
  // for a large log that is most of the narrowing's time. One batch at a time; the last one is
  // waited for when the view goes.
  std::future<bool> disposal_;
  bool treeWidthChosen_ = false;
  bool treeWidthFitted_ = false;  // fitted to the first log's captions (not a width to remember)
  // While the log is followed: the last event of the shown tree, once searched.
  std::optional<const LogNode*> followLast_;
  // Where the user stands in the tree, by names that outlive the rows: what is expanded, the
  // selection, the scroll position, and whether the selection is on the last event. A node is
  // named by the names from the root down, each with its place among the siblings of that name.
  using NodeKey = std::vector<std::pair<std::string, int>>;
  struct Place {
    std::vector<NodeKey> expanded;
    std::optional<NodeKey> selected;
    int scrolled = 0;
    bool onLastEvent = false;
  };
  Place NotePlace(bool onLastEvent) const;
  // The place noted before a load or Follow's first read, gone back to after it.
  std::unique_ptr<Place> notedPlace_;
  void GoBackTo(const Place& place);
  // Whether the selection is on the last event (searched once while following).
  bool OnLastEvent();
  // The line index of the open log, made when lines are first shown.
  std::unique_ptr<LogLineIndex> lineIndex_;
  const LogNode* linesShownFor_ = nullptr;
  bool linesShown_ = false;
  bool releasing_ = false;  // closing the rows below a collapsed row
};

}  // namespace quillon
