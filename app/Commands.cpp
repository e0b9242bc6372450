#include "app/Commands.h"

#include <array>

namespace quillon {

namespace {

std::array<CommandInfo, static_cast<std::size_t>(Command::kCount)> MakeTable() {
  using K = QKeySequence;
  return {{
      {Command::kOpen, "&Open...", "Open a new file\nOpen File", {K(Qt::CTRL | Qt::Key_O)}},
      {Command::kSaveAs, "Save as...", "Save as a new file...\nSave the log as a new file...",
       {K(Qt::CTRL | Qt::Key_S)}},
      {Command::kRefresh, "&Refresh...", "Refresh/Undo changes (F5)\nRefresh/Undo changes (F5)",
       {K(Qt::Key_F5), K(Qt::CTRL | Qt::Key_R)}},
      {Command::kSend, "&Send...", "Send the log by mail\nSend", {}},
      {Command::kExit, "E&xit", "Quit the application (Ctrl+Q)\nExit", {K(Qt::CTRL | Qt::Key_Q)}},
      {Command::kCopy, "&Copy", "Copy the text and put it on the Clipboard\nCopy",
       {K(Qt::CTRL | Qt::Key_C), K(Qt::CTRL | Qt::Key_Insert)}},
      {Command::kGoToLastEvent, "&Go to last event",
       "Go to last event in file (F2)\nGo to last event in file (F2)", {K(Qt::Key_F2)}},
      {Command::kResolveIPs, "&Resolve IPs",
       "Resolve the peers' addresses to host names (F6)\nResolve the peers' addresses (F6)", {K(Qt::Key_F6)}},
      {Command::kDeletePeer, "Delete peer", "Delete selected peer\nDelete selected peer",
       {K(Qt::CTRL | Qt::Key_Delete)}},
      {Command::kFind, "&Find...", "Find a text in the tree (Ctrl+F)\nFind (Ctrl+F)", {K(Qt::CTRL | Qt::Key_F)}},
      {Command::kFindNext, "Find &Next", "Go to the next match (F3)\nFind next (F3)", {K(Qt::Key_F3)}},
      {Command::kFindPrevious, "Find &Previous", "Go to the previous match (Shift+F3)\nFind previous (Shift+F3)",
       {K(Qt::SHIFT | Qt::Key_F3)}},
      {Command::kToolbar, "&Toolbar", "Show or hide the toolbar\nToggle ToolBar", {}},
      {Command::kStatusBar, "&Status Bar", "Show or hide the status bar\nToggle StatusBar", {}},
      {Command::kAbout, "&About Quillon", "Display program information and version\nAbout", {}},
      {Command::kFilter, "F&ilter...", "Keep only the peers and negotiations that match (Ctrl+Shift+F)\nFilter (Ctrl+Shift+F)",
       {K(Qt::CTRL | Qt::SHIFT | Qt::Key_F)}},
      {Command::kVerify, "&Verify...", "Keep only the problem negotiations (Ctrl+Shift+V)\nVerify (Ctrl+Shift+V)",
       {K(Qt::CTRL | Qt::SHIFT | Qt::Key_V)}},
      // The numeric keypad's plus, and the main keyboard's for keyboards without a keypad.
      {Command::kMakeVisible, "&Make negotiations visible",
       "Expand every peer to show its negotiations (Ctrl+Plus)\nMake negotiations visible (Ctrl+Plus)",
       {K(Qt::ControlModifier | Qt::KeypadModifier | Qt::Key_Plus), K(Qt::CTRL | Qt::Key_Plus)}},
#ifdef Q_OS_WIN
      {Command::kOpenInEditor, "Launch with Notepad", "Launch with Notepad\nLaunch with Notepad", {}},
#else
      // There is no Notepad here: the command opens the desktop's text editor.
      {Command::kOpenInEditor, "Open in text &editor", "Open the log in a text editor (Ctrl+E)\nOpen in text editor (Ctrl+E)",
       {K(Qt::CTRL | Qt::Key_E)}},
#endif
      {Command::kNew, "&New", "Close the log and start with an empty window\nNew", {K(Qt::CTRL | Qt::Key_N)}},
      {Command::kFollow, "&Follow",
       "Follow the log: add what the gateway appends to it as it is written (F9)\nFollow the log (F9)",
       {K(Qt::Key_F9)}},
      {Command::kUserGuide, "&User guide", "Show the user guide (F1)\nUser guide (F1)", {K(Qt::Key_F1)}},
      {Command::kInstallLoggingEnvironment, "&Install logging environment...",
       "Switch the gateway daemon's debug logging on for this machine\nInstall logging environment", {}},
  }};
}

}  // namespace

const CommandInfo& InfoOf(Command command) {
  static const auto table = MakeTable();
  return table[static_cast<std::size_t>(command)];
}

QString StatusTextOf(const CommandInfo& info) {
  const QString prompt = QString::fromLatin1(info.prompt);
  return prompt.section(QLatin1Char('\n'), 0, 0);
}

QString ToolTipOf(const CommandInfo& info) {
  const QString prompt = QString::fromLatin1(info.prompt);
  return prompt.section(QLatin1Char('\n'), 1, 1);
}

}  // namespace quillon
