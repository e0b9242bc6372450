#include "app/FindBar.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QStyle>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

namespace quillon {

FindBar::FindBar(QWidget* parent)
    : QWidget(parent),
      edit_(new QLineEdit),
      matchCase_(new QCheckBox(QStringLiteral("Match &case"))),
      keysOnly_(new QCheckBox(QStringLiteral("&Keys only"))),
      logLines_(new QCheckBox(QStringLiteral("&Log lines too"))),
      status_(new QLabel),
      previous_(new QToolButton),
      next_(new QToolButton),
      close_(new QToolButton),
      pause_(new QTimer(this)) {
  edit_->setPlaceholderText(QStringLiteral("Find in the tree"));
  edit_->setClearButtonEnabled(true);
  edit_->installEventFilter(this);
  matchCase_->setToolTip(QStringLiteral("Tell capital and small letters apart"));
  keysOnly_->setToolTip(QStringLiteral("Search the rows' captions only, not the detail texts"));
  logLines_->setToolTip(
      QStringLiteral("Search also the lines of the log each packet and negotiation was read from"));
  previous_->setArrowType(Qt::UpArrow);
  previous_->setToolTip(QStringLiteral("Previous match (Shift+F3)"));
  next_->setArrowType(Qt::DownArrow);
  next_->setToolTip(QStringLiteral("Next match (F3)"));
  close_->setIcon(style()->standardIcon(QStyle::SP_TitleBarCloseButton));
  close_->setToolTip(QStringLiteral("Close the find bar (Esc)"));
  close_->setAutoRaise(true);
  status_->setMinimumWidth(status_->fontMetrics().horizontalAdvance(QStringLiteral("String not found.")));
  // A long message wraps instead of widening the tree's pane.
  status_->setWordWrap(true);

  // Two rows: the text with its buttons, then the options and the count.
  auto* top = new QHBoxLayout;
  top->setContentsMargins(0, 0, 0, 0);
  top->addWidget(edit_, 1);
  top->addWidget(previous_);
  top->addWidget(next_);
  top->addWidget(close_);
  auto* options = new QHBoxLayout;
  options->setContentsMargins(0, 0, 0, 0);
  options->addWidget(matchCase_);
  options->addWidget(keysOnly_);
  options->addWidget(logLines_);
  options->addStretch(1);
  options->addWidget(status_);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(4, 2, 4, 2);
  layout->setSpacing(2);
  layout->addLayout(top);
  layout->addLayout(options);

  pause_->setSingleShot(true);
  pause_->setInterval(kTypingPauseMilliseconds);
  connect(pause_, &QTimer::timeout, this, &FindBar::SearchChanged);
  connect(edit_, &QLineEdit::textEdited, pause_, qOverload<>(&QTimer::start));
  for (QCheckBox* box : {matchCase_, keysOnly_, logLines_}) connect(box, &QCheckBox::toggled, this, &FindBar::SearchNow);
  connect(next_, &QToolButton::clicked, this, &FindBar::NextRequested);
  connect(previous_, &QToolButton::clicked, this, &FindBar::PreviousRequested);
  connect(close_, &QToolButton::clicked, this, &FindBar::Close);
}

void FindBar::Open() {
  show();
  edit_->setFocus(Qt::ShortcutFocusReason);
  edit_->selectAll();
}

void FindBar::Close() {
  hide();
  emit Closed();
}

QString FindBar::Text() const { return edit_->text(); }
bool FindBar::MatchCase() const { return matchCase_->isChecked(); }
bool FindBar::KeysOnly() const { return keysOnly_->isChecked(); }
bool FindBar::LogLines() const { return logLines_->isChecked(); }
void FindBar::SetStatus(const QString& text) { status_->setText(text); }
QString FindBar::Status() const { return status_->text(); }

void FindBar::SearchNow() {
  pause_->stop();
  emit SearchChanged();
}

bool FindBar::eventFilter(QObject* watched, QEvent* event) {
  if (watched == edit_ && event->type() == QEvent::KeyPress) {
    const auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
      // What was typed is searched first; Enter then goes on from the match.
      if (pause_->isActive()) {
        SearchNow();
        if (!(key->modifiers() & Qt::ShiftModifier)) return true;
      }
      if (key->modifiers() & Qt::ShiftModifier) emit PreviousRequested();
      else emit NextRequested();
      return true;
    }
  }
  return QWidget::eventFilter(watched, event);
}

void FindBar::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape) {
    Close();
    return;
  }
  QWidget::keyPressEvent(event);
}

}  // namespace quillon
