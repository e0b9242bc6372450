// The main window: menu, toolbar, status bar and the view, the commands of the menu, the
// toolbar and the keyboard, the loading of files (with a progress bar for long loads), the
// recent-file list, drag and drop, and the watch that tells when the open file changed on disk.
#pragma once

#include <array>
#include <functional>
#include <optional>

#include <QMainWindow>
#include <QString>

#include "app/Commands.h"
#include "app/RecentFiles.h"
#include "app/LogDocument.h"
#include "app/Services.h"
#include "logs/FollowLog.h"
#include "model/Narrowing.h"

class QAction;
class QDialog;
class QDockWidget;
class QLabel;
class QMenu;
class QProgressBar;
class QPushButton;
class QTimer;
class QToolBar;

namespace quillon {


class LoadController;
class LoadProgressDisplay;
class LogView;
class TimelinePanel;

class MainWindow : public QMainWindow {
  Q_OBJECT

 public:
  // How often the change watch looks at the file.
  static constexpr int kChangeWatchMilliseconds = 500;
  // How often Follow looks at the file: as often as the command line's follower, so that a
  // packet appears within two looks of its append.
  static constexpr int kFollowMilliseconds = LogFollower::kPollMilliseconds;
  // Loads that take longer than this show a progress bar.
  static constexpr int kProgressDelayMilliseconds = 500;

  MainWindow(LogDocument& document, Services services, QWidget* parent = nullptr);

  // Starts loading a file into the document: it is read on a worker thread while the window
  // goes on, then shown; on failure the reason is shown and the previous log kept. Returns
  // whether the load started (not while another runs); LoadFinished tells how it ended. The
  // load can be cancelled (Cancel, Esc): the previous log stays; a cancelled reload of the
  // shown file reads it once more (its old tree was given back before reading) and ends as
  // not loaded.
  bool OpenFile(const QString& path);
  // Whether a load (or Follow's first read) is running.
  bool IsLoading() const { return loading_; }
  // Stops a load that can be stopped (as Esc and the Cancel button do).
  void CancelLoad();

  QAction* Action(Command command) const { return actions_[static_cast<std::size_t>(command)]; }
  LogView* View() const { return view_; }
  QToolBar* ToolBar() const { return toolBar_; }
  // The "Timeline" panel and the dock that holds it (View menu: "Timeline").
  TimelinePanel* Timeline() const { return timeline_; }
  QDockWidget* TimelineDock() const { return timelineDock_; }
  // The status bar's message pane.
  QString MessageText() const;
  // Whether the status bar says that the file changed on disk.
  bool IsFileChangeShown() const;
  QProgressBar* LoadProgressBar() const { return progress_; }
  // Shown beside the progress bar; stops the load (as Esc does), keeping the current log.
  QPushButton* CancelLoadButton() const { return cancelButton_; }
  const RecentFiles& Recent() const { return recent_; }
  // The File menu's recent-file entries, newest first.
  QList<QAction*> RecentFileActions() const { return recentActions_; }
  QTimer* ChangeWatch() const { return changeWatch_; }
  QTimer* FollowWatch() const { return followWatch_; }

  // Enables and disables the commands for the document's and the selection's state.
  void UpdateCommands();

  // Where the user guide is: installed with the program, or in the source tree of a build.
  static QString UserGuidePath();
  // The user guide's window, once opened.
  QWidget* UserGuideWindow() const { return guide_; }

  // Shows a modal dialog of a command; true when the user confirmed it. Tests hand in their own
  // to fill the dialog in.
  using DialogRunner = std::function<bool(QDialog& dialog)>;
  void SetDialogRunner(DialogRunner runner) { runDialog_ = std::move(runner); }

 signals:
  // A load or Follow's first read ended: `loaded` when the file is shown as read (not when
  // cancelled or failed).
  void LoadFinished(bool loaded);

 public slots:
  // One tick of the change watch.
  void CheckFileChange();
  // One tick of Follow: reads what was appended to the file, if anything.
  void FollowFile();

 protected:
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  // Remembers the window's layout for the next start, and stops a load in progress.
  void closeEvent(QCloseEvent* event) override;

 private:
  void StartRead(const QString& path, bool cancellable);
  // The load controller's ends of a read: the file read (or not), Follow's first read done.
  void OnFileRead();
  void OnFollowRead();
  void CreateActions();
  void CreateMenus();
  void CreateToolBar();
  void CreateStatusBar();
  void CreateTimeline();
  void RebuildRecentMenu();
  void SetMessage(const QString& text);
  void UpdateTitle();
  void RestoreLayout();
  void SaveLayout();

  void OnOpen();
  void AddHandOverActions();
  void OnSaveAs();
  void OnRefresh();
  void OnSend();
  void OnRecentFile(const QString& path);
  void OnGoToLastEvent();
  void OnResolveIPs();
  void OnDeletePeer();
  void OnLaunchEditor();
  // Opens the log in a text editor at a line of it (0: no particular line).
  void OpenInEditor(std::uint64_t line);
  void OnUserGuide();
  void OnInstallLoggingEnvironment();
  // Adds the window's commands for a node to the tree row's context menu.
  void ExtendRowMenu(QMenu& menu, const LogNode& node);
  void FilterToPeer(const LogNode& node);
  void OnNew();
  void OnAbout();
  void OnFilter();
  void OnVerify();
  void OnFind();
  void OnFindNext();
  void OnFindPrevious();
  void OnFollow(bool on);
  // Reads the log again if the steps say so, then narrows the tree.
  void RunNarrowing(const NarrowingSteps& steps);
  void ApplyNarrowing(const NarrowingSteps& steps);

  LogDocument& document_;
  Services services_;
  RecentFiles recent_;
  LogView* view_ = nullptr;
  std::array<QAction*, static_cast<std::size_t>(Command::kCount)> actions_{};
  QMenu* fileMenu_ = nullptr;
  QAction* recentPlaceholder_ = nullptr;
  QAction* recentSeparator_ = nullptr;
  QList<QAction*> recentActions_;
  QToolBar* toolBar_ = nullptr;
  TimelinePanel* timeline_ = nullptr;
  QDockWidget* timelineDock_ = nullptr;
  QLabel* message_ = nullptr;
  QLabel* fileChanged_ = nullptr;
  QProgressBar* progress_ = nullptr;
  QPushButton* cancelButton_ = nullptr;
  LoadController* loader_ = nullptr;
  LoadProgressDisplay* loadProgress_ = nullptr;
  bool reloading_ = false;   // the load reads the shown file again
  bool readAgain_ = false;   // a cancelled reload reads it once more
  QString previousMessage_;  // the status message before the load, kept when it fails
  // Filter or Verify waiting for the log to be read again.
  std::optional<NarrowingSteps> pendingNarrowing_;
  QTimer* changeWatch_ = nullptr;
  QTimer* followWatch_ = nullptr;
  bool loading_ = false;
  DialogRunner runDialog_;
  QWidget* guide_ = nullptr;
};

}  // namespace quillon
