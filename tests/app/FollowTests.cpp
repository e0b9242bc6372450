// The viewer's Follow driven offscreen: a log that grows while it is shown extends the tree in
// place, keeps what is expanded, and a selection on the last event moves to the new last event.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <vector>

#include <QSignalSpy>

#include "AppTestSupport.h"
#include "bench/LogGenerator.h"
#include "model/TreeRules.h"
#include "tests/model/TreeCompare.h"

namespace quillon::test {
namespace {

TEST(FollowViewer, GrowingLogExtendsTheShownTree) {
  FrameFixture f;
  const QByteArray text = FrameFixture::Contents(FrameFixture::Example("gateway-day.ilx"));
  const qsizetype cut = text.lastIndexOf("\n+++", text.size() / 2) + 1;
  const QString path = f.WriteFile("growing.ilx", text.left(cut));
  f.dialogs.answer = path;
  f.Trigger(Command::kOpen);
  ASSERT_TRUE(f.document->IsLoaded());
  QAction* follow = f.frame->Action(Command::kFollow);
  EXPECT_TRUE(follow->isCheckable());

  LogView& view = *f.frame->View();
  view.GoToLastEvent();
  const LogNode* last = view.LastEvent();
  ASSERT_NE(last, nullptr);
  ASSERT_EQ(view.SelectedNode(), last);
  const std::string firstPeer(view.Model()->VisibleChildrenOf(f.document->Log())[0]->Name());
  view.Tree()->expand(view.Model()->IndexOf(view.Model()->VisibleChildrenOf(f.document->Log())[0]));

  follow->trigger();
  FrameFixture::WaitForLoad(*f.frame);
  EXPECT_TRUE(follow->isChecked());
  EXPECT_TRUE(f.frame->FollowWatch()->isActive());
  EXPECT_FALSE(f.frame->Action(Command::kFilter)->isEnabled()) << "a followed tree is not narrowed";

  std::ofstream(path.toStdString(), std::ios::binary | std::ios::app) << text.mid(cut).toStdString();
  f.frame->FollowFile();  // the appended packets
  f.frame->FollowFile();  // the writer paused: the last packet
  OpenLogResult whole = OpenLog(path.toStdString());
  ASSERT_TRUE(whole.log);
  EXPECT_EQ(testing::FirstTreeDifference(*f.document->Log(), *whole.log, true), "");
  EXPECT_EQ(view.SelectedNode(), view.LastEvent()) << "the selection moved to the new last event";
  EXPECT_NE(view.SelectedNode()->Caption(), "");
  const LogNode* peer = nullptr;
  for (LogNode* shown : view.Model()->VisibleChildrenOf(f.document->Log()))
    if (shown->Name() == firstPeer) peer = shown;
  ASSERT_NE(peer, nullptr);
  EXPECT_TRUE(view.Tree()->isExpanded(view.Model()->IndexOf(peer))) << "expansion is kept";

  follow->trigger();
  FrameFixture::WaitForLoad(*f.frame);
  EXPECT_FALSE(follow->isChecked());
  EXPECT_FALSE(f.frame->FollowWatch()->isActive());
  EXPECT_TRUE(f.frame->Action(Command::kFilter)->isEnabled());
}

TEST(FollowViewer, PacketsAddedInPlaceLeaveOtherPeersRowsExpansionAndSelectionAlone) {
  FrameFixture f;
  // A gateway's traffic without peers logged by index (those are regrouped, which reloads).
  const QString generated = f.WriteFile("generated.ilx", "");
  bench::WriteDebugLog(generated.toStdString(), 300 << 10, 20, 0, false);
  const QByteArray text = FrameFixture::Contents(generated);
  const qsizetype cut = static_cast<qsizetype>(bench::PacketUnitStarts(text.toStdString(), text.size() * 9 / 10).at(0));
  const QString path = f.WriteFile("growing.ilx", text.left(cut));
  f.dialogs.answer = path;
  f.Trigger(Command::kOpen);
  f.Trigger(Command::kFollow);
  LogView& view = *f.frame->View();
  LogTreeModel& model = *view.Model();
  const LogFile& log = *f.document->Log();
  view.MakeNegotiationsVisible();
  // A row below each peer, and the selection on one of them.
  std::vector<std::pair<QPersistentModelIndex, const LogNode*>> rows;
  for (const LogNode* peer : model.VisibleChildrenOf(&log)) {
    const QModelIndex row = model.index(0, 0, model.IndexOf(peer));
    rows.emplace_back(row, model.NodeAt(row));
  }
  ASSERT_GT(rows.size(), 2u);
  const LogNode* selected = rows[1].second;
  view.SelectNode(selected);
  QSignalSpy resets(&model, &QAbstractItemModel::modelReset);
  QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
  QSignalSpy removed(&model, &QAbstractItemModel::rowsRemoved);

  f.frame->FollowFile();  // the file did not grow: nothing happens
  EXPECT_EQ(resets.count() + inserted.count(), 0);
  std::ofstream(path.toStdString(), std::ios::binary | std::ios::app) << text.mid(cut).toStdString();
  std::vector<LogNode*> changed;
  for (int step = 0; step < 2; ++step) {  // the appended packets, then the last one at the pause
    f.frame->FollowFile();
    for (LogNode* peer : f.document->FollowChanged()) changed.push_back(peer);
  }
  OpenLogResult whole = OpenLog(path.toStdString());
  ASSERT_TRUE(whole.log);
  EXPECT_EQ(testing::FirstTreeDifference(log, *whole.log, true), "");
  ASSERT_EQ(resets.count(), 0);
  ASSERT_EQ(removed.count(), 0) << "rows were only added";
  EXPECT_GT(inserted.count(), 0);
  EXPECT_EQ(view.SelectedNode(), selected);
  int untouched = 0;
  for (const auto& [row, node] : rows) {
    ASSERT_TRUE(row.isValid());
    EXPECT_EQ(model.NodeAt(row), node);
    EXPECT_TRUE(view.Tree()->isExpanded(row.parent())) << node->Path();
    if (std::find(changed.begin(), changed.end(), model.NodeAt(row.parent())) == changed.end()) ++untouched;
  }
  EXPECT_GT(untouched, 0);
  EXPECT_LT(untouched, static_cast<int>(rows.size()));
  // The shown rows are those of the tree as it is now.
  for (const LogNode* peer : changed) {
    const QModelIndex index = model.IndexOf(peer);
    ASSERT_TRUE(index.isValid());
    ASSERT_EQ(model.rowCount(index), static_cast<int>(VisibleChildren(*peer).size()));
    for (int row = 0; row < model.rowCount(index); ++row) EXPECT_EQ(model.NodeAt(model.index(row, 0, index)), VisibleChildren(*peer)[row]);
  }
}

}  // namespace
}  // namespace quillon::test
