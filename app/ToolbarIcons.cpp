#include "app/ToolbarIcons.h"

#include "app/DrawnIcon.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

#include <initializer_list>

namespace quillon {

namespace {

// Outlines: dark on a light toolbar, light on a dark one.
const QColor kInkOnLight(0x30, 0x30, 0x30);
const QColor kInkOnDark(0xD8, 0xD8, 0xD8);
const QColor kPaper(0xFA, 0xFA, 0xF5);
const QColor kFolder(0xE8, 0xB8, 0x40);
const QColor kBlue(0x20, 0x60, 0xC0);
const QColor kGreen(0x20, 0x90, 0x30);
const QColor kRed(0xC8, 0x20, 0x20);

// A path through the points; Polygon closes it.
QPainterPath Polyline(std::initializer_list<QPointF> points) {
  QPainterPath path;
  for (const QPointF& point : points) {
    if (path.elementCount() == 0) path.moveTo(point);
    else path.lineTo(point);
  }
  return path;
}

QPainterPath Polygon(std::initializer_list<QPointF> points) {
  QPainterPath path = Polyline(points);
  path.closeSubpath();
  return path;
}

void DrawOpen(QPainter& p, const QColor& ink) {
  p.setPen(QPen(ink, 1));
  p.setBrush(kFolder.darker(115));
  p.drawRect(QRectF(1.5, 3.5, 12, 10));
  p.setBrush(kFolder);
  const QPainterPath front = Polygon({{1.5, 13.5}, {4.5, 6.5}, {15.5, 6.5}, {13.5, 13.5}});
  p.drawPath(front);
}

void DrawSave(QPainter& p, const QColor& ink) {
  p.setPen(QPen(ink, 1));
  p.setBrush(kBlue);
  p.drawRect(QRectF(1.5, 1.5, 13, 13));
  p.setBrush(kPaper);
  p.drawRect(QRectF(4.5, 1.5, 7, 5));
  p.setBrush(Qt::white);
  p.drawRect(QRectF(3.5, 9.5, 9, 5));
}

void DrawRefresh(QPainter& p, const QColor& /*ink*/) {
  p.setPen(QPen(kGreen, 2, Qt::SolidLine, Qt::RoundCap));
  p.setBrush(Qt::NoBrush);
  p.drawArc(QRectF(2.5, 2.5, 11, 11), 100 * 16, 280 * 16);
  p.setPen(Qt::NoPen);
  p.setBrush(kGreen);
  const QPainterPath head = Polygon({{6.5, 0.5}, {10.5, 3.0}, {6.5, 5.5}});
  p.drawPath(head);
}

void DrawDeletePeer(QPainter& p, const QColor& ink) {
  // A gateway box with a red cross over it.
  p.setPen(QPen(ink, 1));
  p.setBrush(QColor(0xB0, 0xC4, 0xDE));
  p.drawRect(QRectF(1.5, 4.5, 11, 7));
  p.drawLine(QPointF(4.5, 13.5), QPointF(9.5, 13.5));
  p.setPen(QPen(kRed, 2.2, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(QPointF(8, 7), QPointF(14.5, 14.5));
  p.drawLine(QPointF(14.5, 7), QPointF(8, 14.5));
}

void DrawFilter(QPainter& p, const QColor& ink) {
  p.setPen(QPen(ink, 1));
  p.setBrush(QColor(0x70, 0x90, 0xC0));
  const QPainterPath funnel = Polygon({{1.5, 2.5}, {14.5, 2.5}, {9.5, 8.5}, {9.5, 14.5}, {6.5, 12.5}, {6.5, 8.5}});
  p.drawPath(funnel);
}

void DrawVerify(QPainter& p, const QColor& ink) {
  p.setPen(QPen(ink, 1));
  p.setBrush(kPaper);
  p.drawRect(QRectF(1.5, 1.5, 12, 13));
  p.setPen(QPen(kGreen, 2.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  const QPainterPath tick = Polyline({{4, 8.5}, {7, 11.5}, {14.5, 3}});
  p.setBrush(Qt::NoBrush);
  p.drawPath(tick);
}

void DrawMakeVisible(QPainter& p, const QColor& ink) {
  // An opened tree: a root and three rows below it, and a plus.
  p.setPen(QPen(ink, 1));
  p.drawLine(QPointF(3.5, 4), QPointF(3.5, 13.5));
  for (const double y : {7.5, 10.5, 13.5}) p.drawLine(QPointF(3.5, y), QPointF(6, y));
  p.setBrush(kBlue);
  p.drawRect(QRectF(1.5, 1.5, 4, 3));
  p.setBrush(kGreen);
  for (const double y : {6.5, 9.5, 12.5}) p.drawRect(QRectF(6.5, y, 3, 2));
  p.setPen(QPen(kBlue, 2));
  p.drawLine(QPointF(12.5, 2), QPointF(12.5, 8));
  p.drawLine(QPointF(9.5, 5), QPointF(15.5, 5));
}

void DrawGoToLast(QPainter& p, const QColor& ink) {
  // An arrow down to the last line of a page.
  p.setPen(QPen(ink, 1));
  p.setBrush(kPaper);
  p.drawRect(QRectF(1.5, 1.5, 10, 13));
  p.setPen(QPen(QColor(0x90, 0x90, 0x90), 1));
  for (const double y : {4.5, 6.5, 8.5, 10.5}) p.drawLine(QPointF(3.5, y), QPointF(9.5, y));
  p.setPen(QPen(kRed, 2));
  p.drawLine(QPointF(3, 12.5), QPointF(10, 12.5));
  p.setPen(Qt::NoPen);
  p.setBrush(kBlue);
  const QPainterPath arrow = Polygon({{12, 2}, {15, 2}, {15, 9}, {16, 9}, {13.5, 13}, {11, 9}, {12, 9}});
  p.drawPath(arrow);
}

void DrawResolve(QPainter& p, const QColor& /*ink*/) {
  // A globe: the peers' addresses get their names.
  p.setPen(QPen(kBlue.darker(130), 1));
  p.setBrush(QColor(0xA8, 0xD0, 0xF0));
  p.drawEllipse(QRectF(1.5, 1.5, 13, 13));
  p.setBrush(Qt::NoBrush);
  p.drawEllipse(QRectF(5, 1.5, 6, 13));
  p.drawLine(QPointF(1.5, 8), QPointF(14.5, 8));
  p.drawLine(QPointF(8, 1.5), QPointF(8, 14.5));
  p.drawLine(QPointF(3, 4.5), QPointF(13, 4.5));
  p.drawLine(QPointF(3, 11.5), QPointF(13, 11.5));
}

void DrawLaunchEditor(QPainter& p, const QColor& ink) {
  // A note pad with a pencil.
  p.setPen(QPen(ink, 1));
  p.setBrush(kPaper);
  p.drawRect(QRectF(1.5, 2.5, 10, 12));
  p.setBrush(kBlue);
  p.drawRect(QRectF(1.5, 1.5, 10, 2));
  p.setPen(QPen(QColor(0x90, 0x90, 0x90), 1));
  for (const double y : {6.5, 8.5, 10.5, 12.5}) p.drawLine(QPointF(3.5, y), QPointF(9.5, y));
  p.setPen(QPen(kFolder.darker(140), 2.5, Qt::SolidLine, Qt::FlatCap));
  p.drawLine(QPointF(15, 4), QPointF(9, 12));
  p.setPen(QPen(ink, 1));
  p.drawPoint(QPointF(8.6, 12.6));
}

void DrawFollow(QPainter& p, const QColor& ink) {
  // A page with lines running on below it, and a green arrow pointing down into them.
  p.setPen(QPen(ink, 1));
  p.setBrush(kPaper);
  p.drawRect(QRectF(1.5, 1.5, 9, 10));
  p.setPen(QPen(QColor(0x90, 0x90, 0x90), 1));
  for (const double y : {4.5, 6.5, 8.5}) p.drawLine(QPointF(3.5, y), QPointF(8.5, y));
  p.setPen(QPen(QColor(0x90, 0x90, 0x90), 1, Qt::DotLine));
  p.drawLine(QPointF(3.5, 13.5), QPointF(8.5, 13.5));
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0x20, 0x90, 0x30));
  p.drawPath(Polygon({{12, 3}, {15, 3}, {15, 10}, {16, 10}, {13.5, 15}, {11, 10}, {12, 10}}));
}

using Drawer = void (*)(QPainter&, const QColor& ink);

Drawer DrawerOf(Command command) {
  switch (command) {
    case Command::kOpen: return &DrawOpen;
    case Command::kSaveAs: return &DrawSave;
    case Command::kRefresh: return &DrawRefresh;
    case Command::kDeletePeer: return &DrawDeletePeer;
    case Command::kFilter: return &DrawFilter;
    case Command::kVerify: return &DrawVerify;
    case Command::kMakeVisible: return &DrawMakeVisible;
    case Command::kGoToLastEvent: return &DrawGoToLast;
    case Command::kResolveIPs: return &DrawResolve;
    case Command::kOpenInEditor: return &DrawLaunchEditor;
    case Command::kFollow: return &DrawFollow;
    default: return nullptr;
  }
}

}  // namespace

QIcon ToolbarIcon(Command command) {
  const Drawer draw = DrawerOf(command);
  if (draw == nullptr) return {};
  return DrawnIcon(16, [draw](QPainter& painter, bool dark) {
    painter.setRenderHint(QPainter::Antialiasing, true);
    draw(painter, dark ? kInkOnDark : kInkOnLight);
  });
}

}  // namespace quillon
