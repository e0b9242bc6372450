// Opens a file in a text editor at a given line: the user's own editor ($VISUAL, else $EDITOR)
// with "+LINE", as editors on this platform take it (one for the terminal in a terminal
// window), else a desktop text editor (at the line where it takes one), else the desktop's
// default program for the file.
#pragma once

#include <cstdint>

#include <QString>

namespace quillon {

class ProcessLauncher;

struct EditorOutcome {
  bool started = false;
  QString message;  // why not, for the user
};

// `line` 0: no particular line.
EditorOutcome OpenInTextEditor(ProcessLauncher& launcher, const QString& path, std::uint64_t line);

}  // namespace quillon
