// The read-only text pane that shows the selected node's detail text, in a fixed-pitch font
// with tab stops every 8 characters so that the tabbed columns of the texts line up.
#pragma once

#include <QPlainTextEdit>

namespace quillon {

class TextPane : public QPlainTextEdit {
  Q_OBJECT

 public:
  explicit TextPane(QWidget* parent = nullptr);

  // Shows a detail text (lines end in "\r\n" in the core's texts).
  void ShowText(const QString& text);

  // The program's Copy: with nothing selected and the caret at the start (as after every
  // selection change in the tree) the whole text is copied; otherwise the selection. The
  // selection is removed afterwards.
  void CopyToClipboard();
};

// "Courier New" when it is installed, else the system's fixed-pitch font; 15 pixels high.
QFont DisplayFont();

}  // namespace quillon
