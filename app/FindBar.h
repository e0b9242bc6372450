// The find bar under the tree (Ctrl+F): the text to find, searched as it is typed; "Match
// case", "Keys only" and "Log lines too"; the match count ("3 of 17") or what went wrong; the
// previous and next buttons. Enter and F3 go to the next match, Shift+Enter and Shift+F3 to the
// previous one, Esc closes the bar.
#pragma once

#include <QString>
#include <QWidget>

class QCheckBox;
class QLabel;
class QLineEdit;
class QTimer;
class QToolButton;

namespace quillon {

class FindBar : public QWidget {
  Q_OBJECT

 public:
  // Typing waits this long for the next key before it searches: a search of a large log takes a
  // moment, and each key would start one.
  static constexpr int kTypingPauseMilliseconds = 250;

  explicit FindBar(QWidget* parent = nullptr);

  // Shows the bar with its text selected, ready to type over.
  void Open();
  // Hides the bar (Esc, its close button).
  void Close();
  QString Text() const;
  bool MatchCase() const;
  bool KeysOnly() const;
  bool LogLines() const;
  // "3 of 17", "String not found.", or empty.
  void SetStatus(const QString& text);
  QString Status() const;

  QLineEdit* Edit() const { return edit_; }
  QCheckBox* MatchCaseBox() const { return matchCase_; }
  QCheckBox* KeysOnlyBox() const { return keysOnly_; }
  QCheckBox* LogLinesBox() const { return logLines_; }
  // The pending search of what was typed, run at once (tests, and Enter before the pause ends).
  void SearchNow();

 signals:
  // The text or an option changed (after the typing pause).
  void SearchChanged();
  void NextRequested();
  void PreviousRequested();
  void Closed();

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QLineEdit* edit_;
  QCheckBox* matchCase_;
  QCheckBox* keysOnly_;
  QCheckBox* logLines_;
  QLabel* status_;
  QToolButton* previous_;
  QToolButton* next_;
  QToolButton* close_;
  QTimer* pause_;
};

}  // namespace quillon
