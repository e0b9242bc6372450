#include "app/TimelinePanel.h"

#include <algorithm>
#include <cmath>

#include <QHelpEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QTimer>
#include <QContextMenuEvent>
#include <QMenu>
#include <QToolTip>
#include <QTreeView>
#include <QWheelEvent>

#include "app/LogTreeModel.h"
#include "app/LogView.h"
#include "model/TreeRules.h"

namespace quillon {

namespace {

using L = TimelineLayout;

// One notch of a mouse wheel (120 eighths of a degree) zooms by this factor.
constexpr double kZoomPerNotch = 1.25;
// A press that moves less than this is a click, not a drag.
constexpr int kDragThreshold = 3;

QColor ColourOf(int icon) {
  const TimelineColour c = StateColour(icon);
  return QColor(c.r, c.g, c.b);
}

const QColor kHistogramColour(0x8d, 0xa2, 0xb8);
const QColor kFailedColour = ColourOf(kIconPhaseOneFailed);
const QColor kStripeColour(0xf4, 0xf6, 0xf8);
const QColor kGridColour(0xe0, 0xe0, 0xe0);
const QColor kHighlightLaneColour(0xff, 0xf3, 0xc0);
const QColor kOutlineColour(0xff, 0x90, 0x00);

QString LaneLabel(const TimelineLane& lane) {
  return lane.isTunnel ? QStringLiteral("   ") + QString::fromLatin1(lane.node->Caption())
                       : QString::fromLatin1(lane.node->Name());
}

}  // namespace

TimelinePanel::TimelinePanel(QWidget* parent)
    : QAbstractScrollArea(parent), deferred_(new QTimer(this)), coarse_(new QTimer(this)) {
  coarse_->setSingleShot(true);
  connect(coarse_, &QTimer::timeout, this, [this] { ScheduleRebuild(true); });
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  viewport()->setMouseTracking(false);
  viewport()->setBackgroundRole(QPalette::Base);
  setMinimumHeight(L::kAxisHeight + L::kHistogramHeight + 3 * L::kLaneHeight);
  verticalScrollBar()->setSingleStep(L::kLaneHeight);
  // Tree changes arrive one removal at a time (a filter removes many nodes): the bars are
  // collected again once, when the changes are over.
  deferred_->setSingleShot(true);
  deferred_->setInterval(0);
  connect(deferred_, &QTimer::timeout, this, [this] {
    if (pendingRebuild_) {
      pendingRebuild_ = false;
      pendingRelayOut_ = false;
      RebuildFromTree(root_ ? root_() : nullptr, pendingKeepView_);
    } else if (pendingRelayOut_) {
      pendingRelayOut_ = false;
      RelayOut();
    }
  });
}

void TimelinePanel::Attach(LogView& view) {
  LogTreeModel* model = view.Model();
  QTreeView* tree = view.Tree();
  root_ = [model]() -> const LogNode* { return model->Log(); };
  emptyText_ = [&view] { return view.EmptyTreeMessage(); };
  SetExpandedTest([model, tree](const LogNode& peer) { return tree->isExpanded(model->IndexOf(&peer)); });

  // Before nodes go, nothing here may point at them any more. Until the bars are collected
  // again the panel stays blank (rather than saying that the log has no times).
  auto forget = [this] {
    hasLog_ = false;
    data_ = TimelineData();
    lanes_ = TimelineLanes();
    highlighted_ = nullptr;
    highlightedBar_ = -1;
    viewport()->update();
  };
  connect(model, &QAbstractItemModel::modelAboutToBeReset, this, forget);
  connect(model, &QAbstractItemModel::rowsAboutToBeRemoved, this, forget);
  connect(model, &QAbstractItemModel::modelReset, this, [this] { ScheduleRebuild(false); });
  connect(model, &QAbstractItemModel::rowsRemoved, this, [this] { ScheduleRebuild(true); });
  // Rows are inserted while a followed log grows, packet by packet: collecting the bars of a
  // large log again takes longer than the interval of its appends, so it waits until a second
  // has passed since the last time. The bars it has point at nodes that stay.
  connect(model, &QAbstractItemModel::rowsInserted, this, [this] {
    if (coarse_->isActive()) return;
    const qint64 since = lastRebuild_.isValid() ? lastRebuild_.elapsed() : kCoarseRebuildMilliseconds;
    coarse_->start(static_cast<int>(std::max<qint64>(0, kCoarseRebuildMilliseconds - since)));
  });
  connect(model, &QAbstractItemModel::layoutChanged, this, [this] { ScheduleRebuild(true); });
  connect(model, &QAbstractItemModel::dataChanged, viewport(), qOverload<>(&QWidget::update));

  auto peerToggled = [this, model](const QModelIndex& index) {
    const LogNode* node = model->NodeAt(index);
    if (node != nullptr && node->Parent() != nullptr && node->Parent()->IsLogRoot()) ScheduleRelayOut();
  };
  connect(tree, &QTreeView::expanded, this, peerToggled);
  connect(tree, &QTreeView::collapsed, this, peerToggled);

  connect(tree->selectionModel(), &QItemSelectionModel::currentChanged, this,
          [this, &view] { SetHighlighted(view.SelectedNode()); });
  connect(this, &TimelinePanel::NodeClicked, &view, [&view](const LogNode* node) { view.SelectNode(node); });
  // A later rebuild outlines the selection again.
  connect(deferred_, &QTimer::timeout, &view, [this, &view] {
    if (highlighted_ == nullptr && view.SelectedNode() != nullptr) {
      highlighted_ = view.SelectedNode();
      highlightedBar_ = data_.BarOf(highlighted_);
      viewport()->update();
    }
  });
}

void TimelinePanel::ScheduleRebuild(bool keepView) {
  // A rebuild that fits the view wins over one that keeps it.
  pendingKeepView_ = pendingRebuild_ ? pendingKeepView_ && keepView : keepView;
  pendingRebuild_ = true;
  deferred_->start();
}

void TimelinePanel::ScheduleRelayOut() {
  pendingRelayOut_ = true;
  deferred_->start();
}

void TimelinePanel::RebuildFromTree(const LogNode* root, bool keepView) {
  lastRebuild_.start();
  coarse_->stop();  // what it waited for is collected now
  highlighted_ = nullptr;
  highlightedBar_ = -1;
  hasLog_ = root != nullptr;
  data_ = root != nullptr ? TimelineData::FromTree(*root) : TimelineData();
  RelayOut();
  if (!keepView || fitted_) FitAll();
  else KeepSpanInView();
  viewport()->update();
}

void TimelinePanel::RelayOut() {
  lanes_ = LayOutLanes(data_, expanded_);
  UpdateScrollRange();
  viewport()->update();
}

void TimelinePanel::FitAll() {
  axis_.Fit(data_.SpanStart(), data_.SpanEnd(), ChartWidth());
  fitted_ = true;
  viewport()->update();
}

double TimelinePanel::MaxSecondsPerPixel() const {
  TimeAxis fitted;
  fitted.Fit(data_.SpanStart(), data_.SpanEnd(), ChartWidth());
  return fitted.SecondsPerPixel();
}

// At least a tenth of the view keeps showing the span, so the bars cannot be panned out of sight.
void TimelinePanel::KeepSpanInView() {
  const double visible = axis_.SecondsPerPixel() * ChartWidth();
  const double lowest = static_cast<double>(data_.SpanStart()) - 0.9 * visible;
  const double highest = static_cast<double>(data_.SpanEnd()) - 0.1 * visible;
  axis_.Set(std::clamp(axis_.Origin(), std::min(lowest, highest), std::max(lowest, highest)), axis_.SecondsPerPixel());
}

int TimelinePanel::ChartWidth() const { return std::max(viewport()->width() - L::kLabelWidth, 1); }

int TimelinePanel::HeaderHeight() const { return L::kAxisHeight + L::kHistogramHeight + 4; }

int TimelinePanel::LaneTop(std::size_t lane) const {
  return HeaderHeight() + static_cast<int>(lane) * L::kLaneHeight - verticalScrollBar()->value();
}

int TimelinePanel::LaneAt(int y) const {
  if (y < HeaderHeight()) return -1;
  const int lane = (y - HeaderHeight() + verticalScrollBar()->value()) / L::kLaneHeight;
  return lane < static_cast<int>(lanes_.lanes.size()) ? lane : -1;
}

int TimelinePanel::LaneOfBar(std::size_t bar) const {
  if (bar >= data_.Bars().size() || lanes_.laneOfGroup.empty()) return -1;
  const std::uint32_t group = data_.Bars()[bar].group;
  const int tunnelLane = lanes_.laneOfGroup[group];
  return tunnelLane >= 0 ? tunnelLane : lanes_.laneOfPeer[data_.Groups()[group].peer];
}

std::ptrdiff_t TimelinePanel::HighlightedBar() const { return highlightedBar_; }

void TimelinePanel::UpdateScrollRange() {
  const int total = static_cast<int>(lanes_.lanes.size()) * L::kLaneHeight;
  const int shown = std::max(viewport()->height() - HeaderHeight(), 0);
  verticalScrollBar()->setPageStep(std::max(shown, L::kLaneHeight));
  verticalScrollBar()->setRange(0, std::max(total - shown, 0));
}

void TimelinePanel::SetHighlighted(const LogNode* node) {
  highlighted_ = node;
  highlightedBar_ = data_.BarOf(node);
  // Bring the bar (or the selected peer's or tunnel's lane) into view, keeping the zoom.
  int lane = -1;
  if (highlightedBar_ >= 0) {
    const TimelineBar& bar = data_.Bars()[static_cast<std::size_t>(highlightedBar_)];
    lane = LaneOfBar(static_cast<std::size_t>(highlightedBar_));
    const double x0 = axis_.X(static_cast<double>(bar.start)), x1 = axis_.X(static_cast<double>(bar.end));
    if (x1 < 0 || x0 >= ChartWidth()) {
      axis_.PanBy(ChartWidth() / 2.0 - (x0 + x1) / 2);
      fitted_ = false;
    }
  } else if (node != nullptr) {
    for (std::size_t i = 0; i < lanes_.lanes.size(); ++i)
      if (lanes_.lanes[i].node == node) lane = static_cast<int>(i);
  }
  if (lane >= 0) {
    const int top = LaneTop(static_cast<std::size_t>(lane));
    if (top < HeaderHeight() || top + L::kLaneHeight > viewport()->height())
      verticalScrollBar()->setValue(lane * L::kLaneHeight - (viewport()->height() - HeaderHeight()) / 2);
  }
  viewport()->update();
}

QPoint TimelinePanel::BarPoint(std::size_t bar, std::size_t lane) const {
  const TimelineBar& b = data_.Bars()[bar];
  const double x = (std::floor(axis_.X(static_cast<double>(b.start))) + std::floor(axis_.X(static_cast<double>(b.end)))) / 2;
  return QPoint(L::kLabelWidth + static_cast<int>(x), LaneTop(lane) + L::kLaneHeight / 2);
}

void TimelinePanel::ZoomAt(QPoint position, double notches) {
  if (!data_.HasTimes()) return;
  const double x = std::clamp(position.x() - L::kLabelWidth, 0, ChartWidth());
  axis_.ZoomAround(x, std::pow(kZoomPerNotch, notches), MaxSecondsPerPixel());
  KeepSpanInView();
  fitted_ = false;
  viewport()->update();
}

QString TimelinePanel::ToolTipAt(QPoint position) const {
  if (!data_.HasTimes()) return {};
  const double x = position.x() - L::kLabelWidth;
  if (position.y() < HeaderHeight()) {
    if (x < 0 || position.y() < L::kAxisHeight) return {};
    for (const TimelineBucket& bucket : Histogram(data_, axis_, ChartWidth(), L::kBucketPixels)) {
      if (x < bucket.x0 || x >= bucket.x1) continue;
      return QStringLiteral("%1 to %2\n%3 negotiations, %4 failed")
          .arg(QString::fromLatin1(TimelineTimeText(bucket.start)),
               QString::fromLatin1(TimelineTimeText(bucket.start + bucket.seconds)))
          .arg(bucket.total)
          .arg(bucket.failed);
    }
    return {};
  }
  const int lane = LaneAt(position.y());
  if (lane < 0) return {};
  const TimelineLane& row = lanes_.lanes[static_cast<std::size_t>(lane)];
  if (x < 0) return LaneLabel(row).trimmed();
  const std::ptrdiff_t bar = BarAt(data_, row, axis_, x);
  if (bar < 0) return {};
  return QString::fromLatin1(data_.Bars()[static_cast<std::size_t>(bar)].node->Caption());
}

void TimelinePanel::paintEvent(QPaintEvent* /*event*/) {
  QPainter painter(viewport());
  const QRect area = viewport()->rect();
  painter.fillRect(area, palette().base());
  if (!hasLog_) return;
  painter.setPen(palette().color(QPalette::Text));
  if (!data_.HasTimes()) {
    // A filter that left nothing says so here as in the tree's place; a log without times
    // says that.
    const bool filteredAway = emptyText_ && !emptyText_().isEmpty();
    painter.drawText(area, Qt::AlignCenter, filteredAway ? emptyText_() : QString::fromLatin1(kNoTimesText));
    return;
  }
  const int chart = ChartWidth();
  const int header = HeaderHeight();
  const QFontMetrics metrics = painter.fontMetrics();

  // Lanes, clipped below the header: only those in view are looked at.
  painter.save();
  painter.setClipRect(QRect(0, header, area.width(), area.height() - header));
  const int firstLane = std::max(LaneAt(header), 0);
  const int barOffset = (L::kLaneHeight - L::kBarHeight) / 2;
  const int highlightLane = highlightedBar_ >= 0 ? LaneOfBar(static_cast<std::size_t>(highlightedBar_)) : -1;
  for (std::size_t lane = static_cast<std::size_t>(firstLane); lane < lanes_.lanes.size(); ++lane) {
    const int top = LaneTop(lane);
    if (top >= area.height()) break;
    const TimelineLane& row = lanes_.lanes[lane];
    const QRect band(0, top, area.width(), L::kLaneHeight);
    if (row.node == highlighted_) painter.fillRect(band, kHighlightLaneColour);
    else if (lane % 2 == 1) painter.fillRect(band, kStripeColour);
    painter.setPen(palette().color(QPalette::Text));
    painter.drawText(QRect(4, top, L::kLabelWidth - 8, L::kLaneHeight), Qt::AlignVCenter | Qt::AlignLeft,
                     metrics.elidedText(LaneLabel(row), Qt::ElideRight, L::kLabelWidth - 8));
    for (const TimelineRun& run : LaneRuns(data_, row, axis_, chart))
      painter.fillRect(L::kLabelWidth + run.x0, top + barOffset, run.x1 - run.x0, L::kBarHeight, ColourOf(run.icon));
    if (static_cast<int>(lane) == highlightLane) {
      const TimelineBar& bar = data_.Bars()[static_cast<std::size_t>(highlightedBar_)];
      const double x0 = std::floor(axis_.X(static_cast<double>(bar.start)));
      const double x1 = std::floor(axis_.X(static_cast<double>(bar.end)));
      if (x1 >= 0 && x0 < chart) {
        const int left = L::kLabelWidth + static_cast<int>(std::max(x0, -2.0)) - 2;
        const int right = L::kLabelWidth + static_cast<int>(std::min(x1, chart + 2.0)) + 2;
        painter.setPen(QPen(kOutlineColour, 2));
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(QRect(QPoint(left, top + 1), QPoint(right, top + L::kLaneHeight - 2)));
      }
    }
  }
  painter.restore();

  // Time axis, with faint lines down through histogram and lanes.
  const std::vector<TimelineTick> ticks = Ticks(axis_, chart, L::kTickSpacing);
  painter.setPen(kGridColour);
  for (const TimelineTick& tick : ticks) {
    const int x = L::kLabelWidth + static_cast<int>(tick.x);
    painter.drawLine(x, L::kAxisHeight - 4, x, area.height());
  }
  painter.setPen(palette().color(QPalette::Text));
  for (const TimelineTick& tick : ticks) {
    const QString label = QString::fromLatin1(tick.label);
    const int x = L::kLabelWidth + static_cast<int>(tick.x) + 2;
    if (x + metrics.horizontalAdvance(label) <= area.width()) painter.drawText(x, L::kAxisHeight - 5, label);
  }

  // Histogram, failures stacked at the bottom.
  const std::vector<TimelineBucket> buckets = Histogram(data_, axis_, chart, L::kBucketPixels);
  std::uint32_t most = 1;
  for (const TimelineBucket& bucket : buckets) most = std::max(most, bucket.total);
  const int base = L::kAxisHeight + L::kHistogramHeight;
  const double scale = (L::kHistogramHeight - 4) / static_cast<double>(most);
  for (const TimelineBucket& bucket : buckets) {
    if (bucket.total == 0) continue;
    const int x0 = L::kLabelWidth + static_cast<int>(std::floor(std::max(bucket.x0, 0.0)));
    const int x1 = L::kLabelWidth + static_cast<int>(std::floor(std::min(bucket.x1, static_cast<double>(chart))));
    const int width = std::max(x1 - x0 - 1, 1);
    const int total = std::max(static_cast<int>(std::lround(bucket.total * scale)), 1);
    const int failed = bucket.failed > 0 ? std::max(static_cast<int>(std::lround(bucket.failed * scale)), 1) : 0;
    painter.fillRect(x0, base - total, width, total - failed, kHistogramColour);
    if (failed > 0) painter.fillRect(x0, base - failed, width, failed, kFailedColour);
  }
  painter.fillRect(0, L::kAxisHeight, L::kLabelWidth - 1, L::kHistogramHeight, palette().base());
  painter.drawText(4, L::kAxisHeight + 12, QStringLiteral("Negotiations"));
  painter.setPen(palette().color(QPalette::PlaceholderText));
  painter.drawText(4, L::kAxisHeight + 26, QStringLiteral("%1 at most").arg(most));
  painter.setPen(kGridColour);
  painter.drawLine(0, header - 1, area.width(), header - 1);
  painter.drawLine(L::kLabelWidth - 1, 0, L::kLabelWidth - 1, area.height());
}

void TimelinePanel::resizeEvent(QResizeEvent* event) {
  QAbstractScrollArea::resizeEvent(event);
  UpdateScrollRange();
  if (fitted_) FitAll();
}

void TimelinePanel::wheelEvent(QWheelEvent* event) {
  const QPoint delta = event->angleDelta();
  if (event->modifiers() & Qt::ShiftModifier) {
    QAbstractScrollArea::wheelEvent(event);
    return;
  }
  if (delta.y() != 0) {
    ZoomAt(event->position().toPoint(), delta.y() / 120.0);
  } else if (delta.x() != 0 && data_.HasTimes()) {
    axis_.PanBy(delta.x() / 2.0);
    KeepSpanInView();
    fitted_ = false;
    viewport()->update();
  }
  event->accept();
}

void TimelinePanel::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  pressed_ = true;
  dragging_ = false;
  pressPosition_ = lastDragPosition_ = event->position().toPoint();
}

void TimelinePanel::mouseMoveEvent(QMouseEvent* event) {
  if (!pressed_) return;
  const QPoint position = event->position().toPoint();
  if (!dragging_ && (position - pressPosition_).manhattanLength() < kDragThreshold) return;
  if (!dragging_) viewport()->setCursor(Qt::ClosedHandCursor);
  dragging_ = true;
  const QPoint delta = position - lastDragPosition_;
  lastDragPosition_ = position;
  if (data_.HasTimes()) {
    axis_.PanBy(delta.x());
    KeepSpanInView();
    fitted_ = false;
  }
  verticalScrollBar()->setValue(verticalScrollBar()->value() - delta.y());
  viewport()->update();
}

void TimelinePanel::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton || !pressed_) return;
  pressed_ = false;
  if (dragging_) {
    dragging_ = false;
    viewport()->unsetCursor();
    return;
  }
  if (const LogNode* node = NodeAtPoint(event->position().toPoint())) emit NodeClicked(node);
}

const LogNode* TimelinePanel::NodeAtPoint(QPoint position) const {
  const int lane = LaneAt(position.y());
  if (lane < 0 || position.x() < L::kLabelWidth) return nullptr;
  const std::ptrdiff_t bar =
      BarAt(data_, lanes_.lanes[static_cast<std::size_t>(lane)], axis_, position.x() - L::kLabelWidth);
  return bar >= 0 ? data_.Bars()[static_cast<std::size_t>(bar)].node : nullptr;
}

void TimelinePanel::ZoomTo(const LogNode* node) {
  for (const TimelineBar& bar : data_.Bars()) {
    if (bar.node != node) continue;
    // A tenth of the bar's length (at least a second) free on either side.
    const std::int64_t room = std::max<std::int64_t>(1, (bar.end - bar.start) / 10);
    axis_.Fit(bar.start - room, bar.end + room, ChartWidth());
    fitted_ = false;
    viewport()->update();
    return;
  }
}

QMenu* TimelinePanel::ContextMenuAt(QPoint position) {
  const LogNode* node = NodeAtPoint(position);
  if (node == nullptr) return nullptr;
  auto* menu = new QMenu(this);
  menu->addAction(QStringLiteral("&Select in tree"), this, [this, node] { emit NodeClicked(node); });
  menu->addAction(QStringLiteral("&Zoom to this negotiation"), this, [this, node] { ZoomTo(node); });
  return menu;
}

void TimelinePanel::contextMenuEvent(QContextMenuEvent* event) {
  // Delivered through the viewport: the position is in its coordinates.
  QMenu* menu = ContextMenuAt(event->pos());
  if (menu == nullptr) return;
  menu->setAttribute(Qt::WA_DeleteOnClose);
  menu->popup(event->globalPos());
}

void TimelinePanel::mouseDoubleClickEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) FitAll();
}

bool TimelinePanel::viewportEvent(QEvent* event) {
  if (event->type() == QEvent::ToolTip) {
    const auto* help = static_cast<QHelpEvent*>(event);
    const QString text = ToolTipAt(help->pos());
    if (text.isEmpty()) QToolTip::hideText();
    else QToolTip::showText(help->globalPos(), text, viewport());
    return true;
  }
  return QAbstractScrollArea::viewportEvent(event);
}

void TimelinePanel::scrollContentsBy(int /*dx*/, int /*dy*/) { viewport()->update(); }

}  // namespace quillon
