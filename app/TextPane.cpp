#include "app/TextPane.h"

#include <QFontDatabase>
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
  setLineWrapMode(QPlainTextEdit::NoWrap);
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
