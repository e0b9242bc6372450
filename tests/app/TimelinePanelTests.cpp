// The timeline panel in the main window: shown and remembered through the View menu, clicks
// select tree nodes and the tree's selection is outlined, expanding peers and deleting them
// changes the lanes, and the wheel, a drag and a double click move the view.
#include <gtest/gtest.h>

#include <QDockWidget>
#include <QMouseEvent>
#include <QWheelEvent>

#include "AppTestSupport.h"
#include "app/TimelinePanel.h"
#include "model/TreeRules.h"

namespace quillon::test {
namespace {

class TimelinePanelTest : public ::testing::Test {
 protected:
  FrameFixture f;

  TimelinePanel& Panel() const { return *f.frame->Timeline(); }
  QWidget& Surface() const { return *Panel().viewport(); }

  void Open(const QString& example) {
    f.frame->resize(1200, 800);
    f.frame->show();
    ASSERT_TRUE(f.Open(FrameFixture::Example(example)));
    QCoreApplication::processEvents();  // the panel collects its bars once the tree is shown
  }
  void Mouse(QEvent::Type type, QPoint at, Qt::MouseButtons held) {
    QMouseEvent event(type, at, Surface().mapToGlobal(at), Qt::LeftButton, held, Qt::NoModifier);
    QApplication::sendEvent(&Surface(), &event);
  }
  // The lane a bar shows in when nothing is expanded: its peer's.
  std::size_t PeerLaneOf(std::size_t bar) const {
    const TimelineData& data = Panel().Data();
    return static_cast<std::size_t>(Panel().Lanes().laneOfPeer[data.Groups()[data.Bars()[bar].group].peer]);
  }
  // A bar at least 5 pixels away from every other bar of its peer, at the current zoom.
  std::size_t IsolatedBar() const {
    const TimelineData& data = Panel().Data();
    for (std::size_t i = data.Bars().size(); i-- > 0;) {
      bool alone = true;
      for (std::size_t j = 0; j < data.Bars().size() && alone; ++j)
        alone = j == i || PeerLaneOf(j) != PeerLaneOf(i) ||
                std::abs(Panel().BarPoint(j, 0).x() - Panel().BarPoint(i, 0).x()) > 5;
      if (alone) return i;
    }
    return 0;
  }
};

TEST_F(TimelinePanelTest, ShownByDefaultAndTheViewMenuChoiceIsRemembered) {
  const auto remembered = [this] { return f.settings.values.value(QStringLiteral("Preferences/ShowTimeline")); };
  f.frame->show();
  EXPECT_TRUE(f.frame->TimelineDock()->isVisible());
  f.MenuEntry(QStringLiteral("Timeline"))->trigger();
  EXPECT_EQ(remembered(), QVariant(false));
  MainWindow next(*f.document, f.AllServices());
  next.show();
  EXPECT_FALSE(next.TimelineDock()->isVisible());
  next.TimelineDock()->toggleViewAction()->trigger();
  EXPECT_EQ(remembered(), QVariant(true));
  next.close();
  EXPECT_EQ(remembered(), QVariant(true)) << "closing the window hides the dock, which is no choice of the user's";
}

TEST_F(TimelinePanelTest, ClickingABarSelectsItsNodeAndTheSelectionIsOutlined) {
  Open(QStringLiteral("gateway-day.ilx"));
  const TimelineData& data = Panel().Data();
  // A click on a bar selects its negotiation in the tree.
  const std::size_t bar = IsolatedBar();
  ASSERT_NE(bar, 0u);
  const QPoint at = Panel().BarPoint(bar, PeerLaneOf(bar));
  EXPECT_EQ(Panel().ToolTipAt(at), QString::fromLatin1(data.Bars()[bar].node->Caption()));
  Mouse(QEvent::MouseButtonPress, at, Qt::LeftButton);
  Mouse(QEvent::MouseButtonRelease, at, Qt::NoButton);
  EXPECT_EQ(f.frame->View()->SelectedNode(), data.Bars()[bar].node);
  EXPECT_EQ(Panel().HighlightedBar(), static_cast<std::ptrdiff_t>(bar));

  // The bar's menu selects it in the tree too, and zooms to it; none off the bars.
  f.frame->View()->SelectNode(data.Peers()[0]);
  std::unique_ptr<QMenu> menu(Panel().ContextMenuAt(at));
  ASSERT_NE(menu, nullptr);
  QStringList items;
  for (const QAction* action : menu->actions()) items.append(action->text().remove('&'));
  ASSERT_EQ(items, QStringList({"Select in tree", "Zoom to this negotiation"}));
  menu->actions()[0]->trigger();
  EXPECT_EQ(f.frame->View()->SelectedNode(), data.Bars()[bar].node);
  const double before = Panel().Axis().SecondsPerPixel();
  menu->actions()[1]->trigger();
  EXPECT_LT(Panel().Axis().SecondsPerPixel(), before);
  EXPECT_EQ(Panel().ContextMenuAt(QPoint(1, 1)), nullptr);

  // Selecting a packet's payload in the tree outlines its negotiation's bar; a peer none.
  const LogNode* other = data.Bars()[0].node;
  const LogNode* payload = other->Child(0)->ChildCount() > 1 ? other->Child(0)->Child(1) : other->Child(0);
  f.frame->View()->SelectNode(payload);
  EXPECT_EQ(Panel().HighlightedBar(), 0);
  f.frame->View()->SelectNode(data.Peers()[0]);
  EXPECT_EQ(Panel().HighlightedBar(), -1);
}

TEST_F(TimelinePanelTest, ExpandedPeersShowTunnelLanesAndDeletedPeersLeave) {
  Open(QStringLiteral("gateway-day.ilx"));
  const std::size_t peers = Panel().Data().Peers().size();
  ASSERT_EQ(Panel().Lanes().lanes.size(), peers);

  f.frame->View()->MakeNegotiationsVisible();
  QCoreApplication::processEvents();
  const auto tunnels = static_cast<std::size_t>(std::count_if(Panel().Lanes().lanes.begin(), Panel().Lanes().lanes.end(),
                                                               [](const TimelineLane& lane) { return lane.isTunnel; }));
  EXPECT_GT(tunnels, 0u);
  EXPECT_EQ(Panel().Lanes().lanes.size(), peers + tunnels);

  // Delete peer: its lane and bars go (and nothing points at its destroyed nodes).
  const LogNode* victim = Panel().Data().Peers()[0];
  const std::size_t before = Panel().Data().Bars().size();
  std::size_t victimBars = 0;
  for (const TimelineBar& bar : Panel().Data().Bars()) victimBars += Panel().Data().Groups()[bar.group].peer == 0;
  f.frame->View()->SelectNode(victim);
  f.Trigger(Command::kDeletePeer);
  QCoreApplication::processEvents();
  EXPECT_EQ(Panel().Data().Peers().size(), peers - 1);
  EXPECT_EQ(Panel().Data().Bars().size(), before - victimBars);
  Panel().viewport()->repaint();
}

TEST_F(TimelinePanelTest, WheelZoomsAroundThePointerDragPansDoubleClickFits) {
  Open(QStringLiteral("gateway-day.ilx"));
  const TimeAxis fitted = Panel().Axis();
  const QPoint pointer(TimelineLayout::kLabelWidth + 300, 120);
  const double under = fitted.TimeAt(300);

  QWheelEvent wheel(pointer, Surface().mapToGlobal(pointer), QPoint(), QPoint(0, 3 * 120), Qt::NoButton,
                    Qt::NoModifier, Qt::NoScrollPhase, false);
  QApplication::sendEvent(&Surface(), &wheel);
  EXPECT_NEAR(Panel().Axis().SecondsPerPixel(), fitted.SecondsPerPixel() / std::pow(1.25, 3), 1e-6);
  EXPECT_NEAR(Panel().Axis().TimeAt(300), under, 1e-3);

  // Dragging 40 pixels to the right shows earlier times by 40 pixels' worth.
  const TimeAxis zoomed = Panel().Axis();
  const LogNode* selected = f.frame->View()->SelectedNode();
  Mouse(QEvent::MouseButtonPress, pointer, Qt::LeftButton);
  Mouse(QEvent::MouseMove, pointer + QPoint(20, 0), Qt::LeftButton);
  Mouse(QEvent::MouseMove, pointer + QPoint(40, 0), Qt::LeftButton);
  Mouse(QEvent::MouseButtonRelease, pointer + QPoint(40, 0), Qt::NoButton);
  EXPECT_NEAR(Panel().Axis().Origin(), zoomed.Origin() - 40 * zoomed.SecondsPerPixel(), 1e-3);
  EXPECT_EQ(f.frame->View()->SelectedNode(), selected);  // a drag is no click

  Mouse(QEvent::MouseButtonDblClick, pointer, Qt::LeftButton);
  EXPECT_DOUBLE_EQ(Panel().Axis().SecondsPerPixel(), fitted.SecondsPerPixel());
  EXPECT_DOUBLE_EQ(Panel().Axis().Origin(), fitted.Origin());
}

}  // namespace
}  // namespace quillon::test
