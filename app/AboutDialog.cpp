#include "app/AboutDialog.h"

#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QRadialGradient>

#ifndef QUILLON_VERSION
#define QUILLON_VERSION "0.0.0"
#endif

namespace quillon {

namespace {

// The left edge of every text on the picture.
constexpr int kLeft = 28;
constexpr int kVersionTop = 130;  // the version line, between the title and the tagline

void DrawGateway(QPainter& p, const QRectF& box) {
  QLinearGradient face(box.topLeft(), box.bottomLeft());
  face.setColorAt(0, QColor(0xE8, 0xEE, 0xF6));
  face.setColorAt(1, QColor(0x9C, 0xAE, 0xC6));
  p.setPen(QPen(QColor(0x20, 0x30, 0x48), 1.5));
  p.setBrush(face);
  p.drawRoundedRect(box, 6, 6);
  p.setPen(Qt::NoPen);
  for (int led = 0; led < 4; ++led) {
    p.setBrush(led == 0 ? QColor(0x40, 0xD0, 0x60) : QColor(0x30, 0x50, 0x78));
    p.drawEllipse(QPointF(box.left() + 14 + led * 12, box.bottom() - 12), 3, 3);
  }
}

}  // namespace

QString AboutDialog::VersionText() { return QStringLiteral("Version: ") + QStringLiteral(QUILLON_VERSION); }

QPixmap AboutDialog::Picture() {
  QPixmap picture(kWidth, kHeight);
  QPainter p(&picture);
  p.setRenderHint(QPainter::Antialiasing, true);

  // A night-blue sky that lightens towards the bottom right.
  QLinearGradient sky(0, 0, kWidth, kHeight);
  sky.setColorAt(0, QColor(0x0B, 0x16, 0x30));
  sky.setColorAt(0.6, QColor(0x14, 0x34, 0x5C));
  sky.setColorAt(1, QColor(0x1E, 0x5A, 0x78));
  p.fillRect(picture.rect(), sky);

  // The name, with the version line below it (painted by the dialog).
  QFont title(QStringLiteral("Sans Serif"));
  title.setPixelSize(44);
  title.setBold(true);
  p.setFont(title);
  p.setPen(Qt::white);
  // Title, version, tagline and maker share one left edge.
  p.drawText(QRect(kLeft, 60, kWidth - 2 * kLeft, 56), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Quillon"));
  QFont caption(QStringLiteral("Sans Serif"));
  caption.setPixelSize(13);
  p.setFont(caption);
  p.setPen(QColor(0xB8, 0xCC, 0xE4));
  p.drawText(QRect(kLeft, 160, kWidth - 2 * kLeft, 20), Qt::AlignLeft, QStringLiteral("IKE log viewer and diagnosis"));

  // Two gateways and the tunnel between them, a padlock on the tunnel.
  const QRectF left(40, 230, 110, 60);
  const QRectF right(290, 230, 110, 60);
  QLinearGradient pipe(0, 248, 0, 272);
  pipe.setColorAt(0, QColor(0x60, 0xC0, 0xE0));
  pipe.setColorAt(1, QColor(0x20, 0x70, 0xA0));
  p.setPen(Qt::NoPen);
  p.setBrush(pipe);
  p.drawRoundedRect(QRectF(left.right() - 6, 248, right.left() - left.right() + 12, 24), 12, 12);
  DrawGateway(p, left);
  DrawGateway(p, right);
  p.setPen(QPen(QColor(0xF0, 0xC0, 0x40), 4));
  p.setBrush(Qt::NoBrush);
  p.drawArc(QRectF(208, 226, 24, 28), 0, 180 * 16);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0xF0, 0xC0, 0x40));
  p.drawRoundedRect(QRectF(202, 240, 36, 26), 4, 4);
  p.setBrush(QColor(0x60, 0x40, 0x10));
  p.drawEllipse(QPointF(220, 251), 3.5, 3.5);
  p.drawRect(QRectF(218.5, 252, 3, 8));

  // Packets on their way.
  p.setBrush(QColor(0xFF, 0xFF, 0xFF, 0xA0));
  for (int packet = 0; packet < 3; ++packet) p.drawRect(QRectF(163 + packet * 12, 256, 6, 4));
  for (int packet = 0; packet < 3; ++packet) p.drawRect(QRectF(250 + packet * 12, 256, 6, 4));

  p.setPen(QColor(0x80, 0x98, 0xB8));
  p.setFont(caption);
  p.drawText(QRect(kLeft, 370, 340, 20), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Morrowvale"));
  return picture;
}

AboutDialog::AboutDialog(QWidget* parent) : QDialog(parent), picture_(Picture()) {
  setWindowTitle(QStringLiteral("About Quillon"));
  setFixedSize(picture_.size());
  auto* ok = new QPushButton(QStringLiteral("OK"), this);
  ok->setGeometry(382, 366, 48, 23);
  ok->setDefault(true);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}

void AboutDialog::paintEvent(QPaintEvent* /*event*/) {
  QPainter p(this);
  p.drawPixmap(0, 0, picture_);
  QFont font(QStringLiteral("Sans Serif"));
  font.setPixelSize(13);
  p.setFont(font);
  p.setPen(Qt::white);
  p.drawText(QRect(kLeft, kVersionTop, kWidth - 2 * kLeft, p.fontMetrics().height()), Qt::AlignLeft | Qt::AlignTop,
             VersionText());
}

void AboutDialog::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return QDialog::mousePressEvent(event);
  dragging_ = true;
  grabOffset_ = event->globalPosition().toPoint() - frameGeometry().topLeft();
}

void AboutDialog::mouseMoveEvent(QMouseEvent* event) {
  if (!dragging_) return QDialog::mouseMoveEvent(event);
  move(event->globalPosition().toPoint() - grabOffset_);
}

void AboutDialog::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) dragging_ = false;
  QDialog::mouseReleaseEvent(event);
}

}  // namespace quillon
