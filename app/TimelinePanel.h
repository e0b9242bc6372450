// The "Timeline" panel: the log's negotiations over time, a lane per peer (and per tunnel of a
// peer expanded in the tree), each negotiation a bar from its first to its last packet in the
// colour of its state icon, with a histogram of negotiations per time bucket above the lanes,
// failures stacked in red.
//
// The wheel zooms around the pointer (Shift+wheel scrolls the lanes), dragging pans, a double
// click fits the whole span; hovering shows what is under the pointer; clicking a bar selects
// its negotiation in the tree, and the tree's selection is outlined here.
//
// Painting looks only at the lanes and bars in view and draws one rectangle per run of pixel
// columns of one state (model/Timeline.h), so a day of 50,000 negotiations repaints at any zoom
// without a widget or scene item per negotiation.
#pragma once

#include <functional>

#include <QAbstractScrollArea>
#include <QElapsedTimer>
#include <QPoint>
#include <QString>

#include "model/Timeline.h"

class QTimer;

class QMenu;

namespace quillon {

class LogView;

class TimelinePanel : public QAbstractScrollArea {
  Q_OBJECT

 public:
  explicit TimelinePanel(QWidget* parent = nullptr);

  // Follows the view: rebuilt when its tree is replaced or nodes are removed (load, reload,
  // filters, Delete peer), laid out again when a peer is expanded or collapsed, outlining the
  // selected node; a clicked bar selects its node in the view.
  void Attach(LogView& view);

  // Rebuilds bars and lanes from the tree below `root` (nullptr: no log). `keepView` keeps the
  // zoom and position (after nodes were removed); otherwise the whole span is fitted.
  // Whatever later extends the tree (a log that grows while shown) calls this again.
  void RebuildFromTree(const LogNode* root, bool keepView = false);
  // Lanes again from the same bars, after peers were expanded or collapsed.
  void RelayOut();
  // Which peers show a lane per tunnel; without it none does.
  void SetExpandedTest(std::function<bool(const LogNode& peer)> expanded) { expanded_ = std::move(expanded); }
  // Outlines the bar of `node` (or of the negotiation it belongs to), or the lane of a peer or
  // tunnel, and brings it into view.
  void SetHighlighted(const LogNode* node);
  // Shows the whole span.
  void FitAll();

  const TimelineData& Data() const { return data_; }
  const TimelineLanes& Lanes() const { return lanes_; }
  const TimeAxis& Axis() const { return axis_; }
  // The bar outlined for the selection, -1 for none.
  std::ptrdiff_t HighlightedBar() const;
  // Whether the panel says "No times in this log" (a log is shown but has no times).
  bool ShowsNoTimes() const { return hasLog_ && !data_.HasTimes() && !(emptyText_ && !emptyText_().isEmpty()); }
  // The chart's width in pixels (the viewport without the label column).
  int ChartWidth() const;
  // The middle of a bar in the given lane, in viewport coordinates.
  QPoint BarPoint(std::size_t bar, std::size_t lane) const;
  // The text the pointer shows at a viewport position (empty where there is nothing).
  QString ToolTipAt(QPoint position) const;
  // Zooms around a viewport position, as one wheel notch per `notches` does.
  void ZoomAt(QPoint position, double notches);
  // The negotiation whose bar is at a viewport position, or none.
  const LogNode* NodeAtPoint(QPoint position) const;
  // Fits the view to one negotiation's bar (with a little room either side).
  void ZoomTo(const LogNode* node);
  // The context menu of a bar ("Select in tree", "Zoom to this negotiation"); none off the bars.
  // The caller owns it.
  QMenu* ContextMenuAt(QPoint position);

 signals:
  // A bar was clicked.
  void NodeClicked(const LogNode* node);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  bool viewportEvent(QEvent* event) override;
  void scrollContentsBy(int dx, int dy) override;

 private:
  int HeaderHeight() const;
  // The lane at a viewport height, -1 outside the lanes.
  int LaneAt(int y) const;
  int LaneTop(std::size_t lane) const;
  // The lane a bar shows in most precisely: its tunnel's when the peer is expanded.
  int LaneOfBar(std::size_t bar) const;
  double MaxSecondsPerPixel() const;
  void KeepSpanInView();
  void UpdateScrollRange();
  void ScheduleRebuild(bool keepView);
  void ScheduleRelayOut();

  TimelineData data_;
  TimelineLanes lanes_;
  TimeAxis axis_;
  std::function<bool(const LogNode&)> expanded_;
  std::function<const LogNode*()> root_;
  std::function<QString()> emptyText_;  // the view's message in the empty tree's place
  bool hasLog_ = false;
  bool fitted_ = true;  // the view shows the whole span; a resize fits it again
  const LogNode* highlighted_ = nullptr;
  std::ptrdiff_t highlightedBar_ = -1;
  bool pendingRebuild_ = false;
  bool pendingKeepView_ = true;
  QTimer* deferred_ = nullptr;
  // Bars collected again after rows were inserted, at most once per this interval.
  static constexpr int kCoarseRebuildMilliseconds = 1000;
  QTimer* coarse_ = nullptr;
  QElapsedTimer lastRebuild_;
  bool pendingRelayOut_ = false;
  QPoint pressPosition_;
  QPoint lastDragPosition_;
  bool pressed_ = false;
  bool dragging_ = false;
};

}  // namespace quillon
