// The read-only text pane that shows the selected node's detail text, in a fixed-pitch font
// with tab stops every 8 characters so that the tabbed columns of the texts line up.
#pragma once

#include <cstdint>
#include <vector>

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

namespace quillon {

// The "Log lines" pane: the lines of the log a node was read from, long lines wrapped, each
// with its number in the file in a margin on the left. The text is the lines of one or more
// stretches of the file, one after the other.
class NumberedPane : public TextPane {
  Q_OBJECT

 public:
  // The first and last line number of each stretch shown, in order.
  struct Stretch {
    std::uint64_t first = 0;
    std::uint64_t last = 0;
  };

  explicit NumberedPane(QWidget* parent = nullptr);

  void SetStretches(std::vector<Stretch> stretches);
  // The file's line number of a line of the text (from 0), 0 when not known.
  std::uint64_t LineNumberOf(int block) const;
  // The file's line number where the caret stands, or the first one shown.
  std::uint64_t CurrentLineNumber() const;
  int NumberWidth() const;

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  friend class LineNumberMargin;
  void PaintNumbers(QPaintEvent* event);
  void UpdateMargin();

  QWidget* margin_;
  std::vector<Stretch> stretches_;
};

}  // namespace quillon
