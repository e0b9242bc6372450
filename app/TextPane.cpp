#include "app/TextPane.h"

#include <QFontDatabase>
#include <QPaintEvent>
#include <QPainter>
#include <QTextBlock>
#include <QFontMetricsF>
#include <QTextCursor>

namespace quillon {

QFont DisplayFont() {
  QFont font;
  if (QFontDatabase::families().contains(QStringLiteral("Courier New"))) {
    font = QFont(QStringLiteral("Courier New"));
  } else {
    font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  }
  font.setStyleHint(QFont::TypeWriter);
  font.setFixedPitch(true);
  font.setPixelSize(15);
  return font;
}

TextPane::TextPane(QWidget* parent) : QPlainTextEdit(parent) {
  setReadOnly(true);
  // Long lines (a wide certificate, a peer's counts) wrap at the pane's edge instead of running off it.
  setLineWrapMode(QPlainTextEdit::WidgetWidth);
  setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  setFont(DisplayFont());
  setTabStopDistance(8 * QFontMetricsF(font()).horizontalAdvance(QLatin1Char(' ')));
}

void TextPane::ShowText(const QString& text) {
  QString plain = text;
  plain.replace(QLatin1String("\r\n"), QLatin1String("\n"));
  setPlainText(plain);
  QTextCursor cursor = textCursor();
  cursor.movePosition(QTextCursor::Start);
  setTextCursor(cursor);
}

void TextPane::CopyToClipboard() {
  QTextCursor cursor = textCursor();
  if (!cursor.hasSelection() && cursor.position() == 0) {
    cursor.select(QTextCursor::Document);
    setTextCursor(cursor);
  }
  copy();
  cursor = textCursor();
  cursor.setPosition(0);
  setTextCursor(cursor);
}

}  // namespace quillon

namespace quillon {

// The margin beside the text that shows the line numbers.
class LineNumberMargin : public QWidget {
 public:
  explicit LineNumberMargin(NumberedPane* pane) : QWidget(pane), pane_(pane) {}
  QSize sizeHint() const override { return {pane_->NumberWidth(), 0}; }

 protected:
  void paintEvent(QPaintEvent* event) override { pane_->PaintNumbers(event); }

 private:
  NumberedPane* pane_;
};

NumberedPane::NumberedPane(QWidget* parent) : TextPane(parent), margin_(new LineNumberMargin(this)) {
  setLineWrapMode(QPlainTextEdit::WidgetWidth);
  setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
  connect(this, &QPlainTextEdit::blockCountChanged, this, &NumberedPane::UpdateMargin);
  connect(this, &QPlainTextEdit::updateRequest, this, [this](const QRect& rect, int dy) {
    if (dy != 0) margin_->scroll(0, dy);
    else margin_->update(0, rect.y(), margin_->width(), rect.height());
  });
  UpdateMargin();
}

void NumberedPane::SetStretches(std::vector<Stretch> stretches) {
  stretches_ = std::move(stretches);
  UpdateMargin();
  margin_->update();
}

std::uint64_t NumberedPane::LineNumberOf(int block) const {
  if (block < 0) return 0;
  auto left = static_cast<std::uint64_t>(block);
  for (const Stretch& stretch : stretches_) {
    const std::uint64_t lines = stretch.last >= stretch.first ? stretch.last - stretch.first + 1 : 0;
    if (left < lines) return stretch.first + left;
    left -= lines;
  }
  return 0;
}

std::uint64_t NumberedPane::CurrentLineNumber() const {
  const std::uint64_t here = LineNumberOf(textCursor().blockNumber());
  return here != 0 ? here : LineNumberOf(0);
}

int NumberedPane::NumberWidth() const {
  std::uint64_t widest = 1;
  for (const Stretch& stretch : stretches_) widest = std::max(widest, stretch.last);
  if (stretches_.empty()) return 0;
  const int digits = static_cast<int>(QString::number(widest).size());
  return 8 + fontMetrics().horizontalAdvance(QLatin1Char('9')) * digits;
}

void NumberedPane::UpdateMargin() { setViewportMargins(NumberWidth(), 0, 0, 0); }

void NumberedPane::resizeEvent(QResizeEvent* event) {
  TextPane::resizeEvent(event);
  const QRect area = contentsRect();
  margin_->setGeometry(QRect(area.left(), area.top(), NumberWidth(), area.height()));
}

void NumberedPane::PaintNumbers(QPaintEvent* event) {
  QPainter painter(margin_);
  painter.fillRect(event->rect(), palette().color(QPalette::AlternateBase));
  painter.setPen(palette().color(QPalette::PlaceholderText));
  QTextBlock block = firstVisibleBlock();
  int top = qRound(blockBoundingGeometry(block).translated(contentOffset()).top());
  const int lineHeight = fontMetrics().height();
  while (block.isValid() && top <= event->rect().bottom()) {
    const int bottom = top + qRound(blockBoundingRect(block).height());
    if (block.isVisible() && bottom >= event->rect().top()) {
      if (const std::uint64_t number = LineNumberOf(block.blockNumber()))
        painter.drawText(0, top, margin_->width() - 4, lineHeight, Qt::AlignRight, QString::number(number));
    }
    block = block.next();
    top = bottom;
  }
}

}  // namespace quillon
