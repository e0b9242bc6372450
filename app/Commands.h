// The window's commands: their menu texts, keys, and the prompts of the string table (the
// status-bar text and the tool tip of each, separated by a newline).
#pragma once

#include <QKeySequence>
#include <QList>
#include <QString>

namespace quillon {

enum class Command {
  kOpen,
  kSaveAs,
  kRefresh,
  kSend,
  kExit,
  kCopy,
  kGoToLastEvent,
  kResolveIPs,
  kDeletePeer,
  kFind,
  kFindNext,
  kFindPrevious,
  kToolbar,
  kStatusBar,
  kAbout,
  kFilter,
  kVerify,
  kMakeVisible,
  kOpenInEditor,
  kNew,
  kFollow,
  kUserGuide,
  kInstallLoggingEnvironment,
  kCount,
};

struct CommandInfo {
  Command command;
  const char* text;    // menu text, or the button's name for commands without a menu entry
  const char* prompt;  // "status text\ntool tip" as the string table has it
  QList<QKeySequence> keys;
};

const CommandInfo& InfoOf(Command command);

// The two halves of a prompt: the status-bar text before the first newline, the tool tip after
// it (a trailing newline is dropped).
QString StatusTextOf(const CommandInfo& info);
QString ToolTipOf(const CommandInfo& info);

}  // namespace quillon
