#include "app/DrawnIcon.h"

#include <algorithm>
#include <cmath>
#include <memory>

#include <QApplication>
#include <QIconEngine>
#include <QPainter>
#include <QPalette>
#include <QStyle>
#include <QStyleOption>

namespace quillon {

namespace {

class DrawnIconEngine : public QIconEngine {
 public:
  DrawnIconEngine(int grid, IconPainter paint) : grid_(grid), paint_(std::move(paint)) {}

  // The toolkit takes ownership of the engine it is handed.
  QIconEngine* clone() const override { return std::make_unique<DrawnIconEngine>(grid_, paint_).release(); }
  QString key() const override { return QStringLiteral("quillon-drawn"); }
  QSize actualSize(const QSize& size, QIcon::Mode /*mode*/, QIcon::State /*state*/) override { return size; }

  // `size` is in device pixels; the toolkit sets the ratio on the result.
  QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
    return scaledPixmap(size, mode, state, 1.0);
  }

  QPixmap scaledPixmap(const QSize& size, QIcon::Mode mode, QIcon::State /*state*/, qreal /*scale*/) override {
    const int side = std::max(1, std::min(size.width(), size.height()));
    QPixmap picture = DrawnPixmap(grid_, paint_, static_cast<qreal>(side) / grid_, IsDarkPalette());
    picture.setDevicePixelRatio(1.0);
    if (mode == QIcon::Disabled && qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr) {
      QStyleOption option;
      option.palette = QApplication::palette();
      picture = QApplication::style()->generatedIconPixmap(QIcon::Disabled, picture, &option);
    }
    return picture;
  }

  void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State state) override {
    const qreal ratio = painter->device() != nullptr ? painter->device()->devicePixelRatioF() : 1.0;
    const QSize pixels(qRound(rect.width() * ratio), qRound(rect.height() * ratio));
    painter->drawPixmap(rect, scaledPixmap(pixels, mode, state, ratio));
  }

 private:
  int grid_;
  IconPainter paint_;
};

}  // namespace

QIcon DrawnIcon(int grid, IconPainter paint) {
  return QIcon(std::make_unique<DrawnIconEngine>(grid, std::move(paint)).release());
}

QPixmap DrawnPixmap(int grid, const IconPainter& paint, qreal scale, bool dark) {
  const int side = std::max(1, static_cast<int>(std::lround(grid * scale)));
  QPixmap pixmap(side, side);
  pixmap.fill(Qt::transparent);
  {
    QPainter painter(&pixmap);
    painter.scale(static_cast<qreal>(side) / grid, static_cast<qreal>(side) / grid);
    paint(painter, dark);
  }
  pixmap.setDevicePixelRatio(scale);
  return pixmap;
}

bool IsDarkPalette() {
  const QPalette palette = QGuiApplication::palette();
  return palette.color(QPalette::Window).lightness() < palette.color(QPalette::WindowText).lightness();
}

}  // namespace quillon
