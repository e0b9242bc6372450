#include "app/StateIcons.h"

#include <array>
#include <cstdint>
#include <string_view>

#include <QColor>
#include <QPainter>

#include "app/DrawnIcon.h"
#include "model/TreeRules.h"

namespace quillon {

namespace {

constexpr int kSize = 12;
constexpr int kGlyphHeight = 7;

// A tiny pixel font: each glyph is up to 4 pixels wide and 7 high, one row per byte, the
// leftmost pixel in the highest of the glyph's `width` bits. Drawn pixel by pixel, the letters
// stay legible at 12 pixels, where any outline font blurs.
struct Glyph {
  char letter;
  int width;
  std::array<std::uint8_t, kGlyphHeight> rows;
};

constexpr std::array<Glyph, 10> kGlyphs{{
    {'P', 4, {0b1110, 0b1001, 0b1001, 0b1110, 0b1000, 0b1000, 0b1000}},
    {'1', 3, {0b010, 0b110, 0b010, 0b010, 0b010, 0b010, 0b111}},
    {'2', 4, {0b0110, 0b1001, 0b0001, 0b0010, 0b0100, 0b1000, 0b1111}},
    {'S', 4, {0b0111, 0b1000, 0b1000, 0b0110, 0b0001, 0b0001, 0b1110}},
    {'A', 4, {0b0110, 0b1001, 0b1001, 0b1111, 0b1001, 0b1001, 0b1001}},
    {'I', 3, {0b111, 0b010, 0b010, 0b010, 0b010, 0b010, 0b111}},
    {'D', 4, {0b1110, 0b1001, 0b1001, 0b1001, 0b1001, 0b1001, 0b1110}},
    {'C', 4, {0b0111, 0b1000, 0b1000, 0b1000, 0b1000, 0b1000, 0b0111}},
    {'i', 2, {0b11, 0b00, 0b11, 0b11, 0b11, 0b11, 0b11}},
    {'!', 2, {0b11, 0b11, 0b11, 0b11, 0b11, 0b00, 0b11}},
}};

const Glyph* FindGlyph(char letter) {
  for (const Glyph& glyph : kGlyphs)
    if (glyph.letter == letter) return &glyph;
  return nullptr;
}

const QColor kRed(0xC0, 0x10, 0x10);
const QColor kBlue(0x10, 0x40, 0xC0);
const QColor kGreen(0x10, 0x80, 0x20);
const QColor kGrey(0x80, 0x80, 0x80);
const QColor kDarkGrey(0x60, 0x60, 0x60);  // letters without a square need more contrast
const QColor kLightGrey(0xB8, 0xB8, 0xB8);  // the same on a dark background
const QColor kTeal(0x00, 0x80, 0x80);

struct IconLook {
  std::string_view letters;  // empty for the cross
  QColor background;         // invalid: no square, the letters are drawn in `foreground`
  QColor foreground;
};

IconLook LookOf(int index) {
  switch (index) {
    case kIconPhaseOneFailed: return {"P1", kRed, Qt::white};
    case kIconPhaseOneDone: return {"P1", kBlue, Qt::white};
    case kIconQuickModeFailed: return {"P2", kRed, Qt::white};
    case kIconQuickModeDone: return {"P2", kGreen, Qt::white};
    case kIconDelete: return {"", kGrey, Qt::white};
    case kIconChildSaFailed: return {"SA", kRed, Qt::white};
    case kIconIpsecChildSaDone: return {"SA", kGreen, Qt::white};
    case kIconInitialFailed: return {"I", kRed, Qt::white};
    case kIconInitialDone: return {"I", kBlue, Qt::white};
    case kIconIkeChildSaDone: return {"SA", kBlue, Qt::white};
    case kIconAuthFailed: return {"A", kRed, Qt::white};
    case kIconAuthDone: return {"A", kGreen, Qt::white};
    case kIconInfo: return {"i", QColor(), kDarkGrey};
    case kIconDpd: return {"D", QColor(), kDarkGrey};
    case kIconConfigDone: return {"C", kTeal, Qt::white};
    case kIconConfigFailed: return {"C", kRed, Qt::white};
    case kIconPeerInTrouble: return {"!", kRed, Qt::white};
    default: return {"", QColor(), QColor()};
  }
}

void DrawLetters(QPainter& painter, std::string_view letters, const QColor& colour) {
  int width = 0;
  for (const char letter : letters) {
    if (const Glyph* glyph = FindGlyph(letter)) width += glyph->width;
  }
  width += static_cast<int>(letters.size()) - 1;  // one pixel between letters
  int x = (kSize - width + 1) / 2;
  const int top = (kSize - kGlyphHeight) / 2;
  for (const char letter : letters) {
    const Glyph* glyph = FindGlyph(letter);
    if (glyph == nullptr) continue;
    for (int row = 0; row < kGlyphHeight; ++row)
      for (int column = 0; column < glyph->width; ++column)
        if ((glyph->rows[static_cast<std::size_t>(row)] >> (glyph->width - 1 - column)) & 1)
          painter.fillRect(x + column, top + row, 1, 1, colour);
    x += glyph->width + 1;
  }
}

// Paints icon `index` on its 12 by 12 grid.
void PaintStateIcon(QPainter& painter, int index, bool dark) {
  IconLook look = LookOf(index);
  // Letters without a square stand on the tree's own background: light grey on a dark one.
  if (!look.background.isValid() && dark) look.foreground = kLightGrey;
  if (look.background.isValid()) {
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setPen(Qt::NoPen);
    painter.setBrush(look.background);
    painter.drawRoundedRect(QRectF(0, 0, kSize, kSize), 2, 2);
    painter.setRenderHint(QPainter::Antialiasing, false);
  }
  if (look.letters.empty()) {
    // The cross of a delete: two strokes corner to corner.
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setPen(QPen(look.foreground, 2, Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(QPointF(3.5, 3.5), QPointF(8.5, 8.5));
    painter.drawLine(QPointF(8.5, 3.5), QPointF(3.5, 8.5));
  } else {
    DrawLetters(painter, look.letters, look.foreground);
  }
}

}  // namespace

QPixmap StateIconPixmap(int index, qreal scale, bool dark) {
  if (index <= kIconNone || index >= kStateIconCount || !(scale > 0)) return {};
  return DrawnPixmap(kSize, [index](QPainter& painter, bool onDark) { PaintStateIcon(painter, index, onDark); }, scale,
                     dark);
}

StateIconSet::StateIconSet() {
  for (int index = 1; index < kStateIconCount; ++index)
    icons_[index] = DrawnIcon(kSize, [index](QPainter& painter, bool dark) { PaintStateIcon(painter, index, dark); });
}

const QIcon& StateIconSet::At(int index) const {
  if (index <= kIconNone || index >= kStateIconCount) return none_;
  return icons_[index];
}

}  // namespace quillon
