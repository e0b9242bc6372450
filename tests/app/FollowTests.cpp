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

class FollowViewer : public ::testing::Test {
 protected:
  FrameFixture f;
  QString path;
  QByteArray rest;

  // Opens the log cut at `cut` and follows it.
  void FollowCut(const QByteArray& text, qsizetype cut) {
    path = f.WriteFile("growing.ilx", text.left(cut));
    rest = text.mid(cut);
    ASSERT_TRUE(f.Open(path));
    f.Trigger(Command::kFollow);
  }
  // The rest of the log written; read as it comes and once more when the writer pauses.
  void Grow(std::vector<LogNode*>* changed = nullptr) {
    std::ofstream(path.toStdString(), std::ios::binary | std::ios::app) << rest.toStdString();
    for (int step = 0; step < 2; ++step) {
      f.frame->FollowFile();
      for (LogNode* peer : f.document->FollowChanged())
        if (changed) changed->push_back(peer);
    }
    OpenLogResult whole = OpenLog(path.toStdString());
    ASSERT_TRUE(whole.log);
    EXPECT_EQ(testing::FirstTreeDifference(*f.document->Log(), *whole.log, true), "");
  }
};

TEST_F(FollowViewer, TheSelectionOnTheLastEventMovesToTheNewLastEvent) {
  const QByteArray text = FrameFixture::Contents(FrameFixture::Example("gateway-day.ilx"));
  LogView& view = f.View();
  FollowCut(text, text.lastIndexOf("\n+++", text.size() / 2) + 1);
  EXPECT_TRUE(f.Checked(Command::kFollow));
  EXPECT_TRUE(f.frame->FollowWatch()->isActive());
  EXPECT_FALSE(f.Enabled(Command::kFilter)) << "a followed tree is not narrowed";
  view.GoToLastEvent();
  const LogNode* last = view.LastEvent();
  ASSERT_NE(last, nullptr);
  Grow();
  EXPECT_NE(view.LastEvent(), last);
  EXPECT_EQ(view.SelectedNode(), view.LastEvent());

  f.Trigger(Command::kFollow);
  EXPECT_FALSE(f.Checked(Command::kFollow));
  EXPECT_FALSE(f.frame->FollowWatch()->isActive());
  EXPECT_TRUE(f.Enabled(Command::kFilter));
}

TEST_F(FollowViewer, PacketsAddedInPlaceLeaveOtherPeersRowsExpansionAndSelectionAlone) {
  // A gateway's traffic without peers logged by index (those are regrouped, which reloads).
  const QString generated = f.WriteFile("generated.ilx", "");
  bench::WriteDebugLog(generated.toStdString(), 300 << 10, 20, 0, false);
  const QByteArray text = FrameFixture::Contents(generated);
  FollowCut(text, static_cast<qsizetype>(bench::PacketUnitStarts(text.toStdString(), text.size() * 9 / 10).at(0)));
  LogView& view = f.View();
  LogTreeModel& model = *view.Model();
  view.MakeNegotiationsVisible();
  // A row below each peer, and the selection on one of them.
  std::vector<std::pair<QPersistentModelIndex, const LogNode*>> rows;
  for (const LogNode* peer : model.VisibleChildrenOf(f.document->Log())) {
    const QModelIndex row = model.index(0, 0, model.IndexOf(peer));
    rows.emplace_back(row, model.NodeAt(row));
  }
  ASSERT_GT(rows.size(), 2u);
  view.SelectNode(rows[1].second);
  QSignalSpy resets(&model, &QAbstractItemModel::modelReset);
  QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
  QSignalSpy removed(&model, &QAbstractItemModel::rowsRemoved);
  f.frame->FollowFile();  // the file did not grow: nothing happens
  EXPECT_EQ(inserted.count(), 0);

  std::vector<LogNode*> changed;
  Grow(&changed);
  ASSERT_EQ(resets.count() + removed.count(), 0) << "rows were only added";
  EXPECT_GT(inserted.count(), 0);
  EXPECT_EQ(view.SelectedNode(), rows[1].second);
  int untouched = 0;
  for (const auto& [row, node] : rows) {
    ASSERT_TRUE(row.isValid());
    EXPECT_EQ(model.NodeAt(row), node);
    EXPECT_TRUE(view.Tree()->isExpanded(row.parent())) << node->Path();
    untouched += std::find(changed.begin(), changed.end(), model.NodeAt(row.parent())) == changed.end();
  }
  EXPECT_GT(untouched, 0);
  EXPECT_LT(untouched, static_cast<int>(rows.size()));
  // The shown rows are those of the tree as it is now.
  for (const LogNode* peer : changed) {
    const QModelIndex index = model.IndexOf(peer);
    ASSERT_EQ(model.rowCount(index), static_cast<int>(VisibleChildren(*peer).size()));
    for (int row = 0; row < model.rowCount(index); ++row) EXPECT_EQ(model.NodeAt(model.index(row, 0, index)), VisibleChildren(*peer)[row]);
  }
}

}  // namespace
}  // namespace quillon::test
