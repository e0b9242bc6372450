// The tree model: rows by the visible-tree rules, consistent indexes and parents (checked by
// Qt's model tester), lazily made rows for huge nodes, removal, and the state icons.
#include <gtest/gtest.h>

#include <functional>
#include <set>

#include <QAbstractItemModelTester>
#include <QImage>
#include <QTest>

#include "AppTestSupport.h"
#include "bench/LogGenerator.h"
#include "app/StateIcons.h"
#include "model/TreeRules.h"

namespace quillon::test {
namespace {

QStringList Captions(const LogTreeModel& model, const QModelIndex& parent) {
  QStringList captions;
  for (int row = 0; row < model.rowCount(parent); ++row) captions.append(model.index(row, 0, parent).data().toString());
  return captions;
}

TEST(LogTreeModelTest, ShowsTheVisibleLevelsWithConsistentParentsThroughARemoval) {
  std::unique_ptr<LogFile> log = ThreePeerLog();
  LogTreeModel model;
  QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
  model.SetLog(log.get());

  ASSERT_EQ(model.rowCount(), 1);
  const QModelIndex root = model.index(0, 0);
  EXPECT_EQ(root.data().toString(), "IKE debugging info");
  EXPECT_EQ(Captions(model, root), QStringList({"10.0.0.1", "10.0.0.2", "10.0.0.3"}));

  // A tunnel with addresses is a level; one without gives its place to its negotiations.
  const QModelIndex first = model.index(0, 0, root);
  EXPECT_EQ(Captions(model, first), QStringList({"10.1.0.0 <=> 10.2.0.0"}));
  const QModelIndex second = model.index(1, 0, root);
  EXPECT_EQ(Captions(model, second), QStringList({"Main Mode", "Informational"}));

  // Data attributes are never rows; a payload with only attributes below it has no children.
  const QModelIndex packet = model.index(0, 0, model.index(0, 0, second));
  const QModelIndex payload = model.index(0, 0, packet);
  EXPECT_EQ(payload.data().toString(), "SA payload");
  EXPECT_FALSE(model.hasChildren(payload));
  EXPECT_EQ(model.rowCount(payload), 0);

  // (Indexes found from nodes, through hidden tunnels: TreesPassTheModelTester.)
  EXPECT_FALSE(model.IndexOf(log->Child(1)->Child(0)).isValid()) << "a hidden tunnel has no row";

  // A complete main mode carries "P1" on blue; tunnels carry no icon.
  const QModelIndex tunnel = model.index(0, 0, first);
  const QIcon icon = model.index(0, 0, tunnel).data(Qt::DecorationRole).value<QIcon>();
  ASSERT_FALSE(icon.isNull());
  EXPECT_EQ(icon.pixmap(12, 12).toImage().pixelColor(1, 6), QColor(0x10, 0x40, 0xC0));
  EXPECT_FALSE(tunnel.data(Qt::DecorationRole).isValid());

  // Removing the second peer keeps the rows behind it consistent.
  LogNode* third = log->Child(2);
  LogNode* thirdTunnel = third->Child(0);
  ASSERT_TRUE(model.IndexOf(thirdTunnel).isValid());  // rows of the third peer are known

  int removedSignals = 0;
  QObject::connect(&model, &QAbstractItemModel::rowsAboutToBeRemoved, [&](const QModelIndex& parent, int from, int to) {
    ++removedSignals;
    EXPECT_EQ(parent, root);
    EXPECT_EQ(from, 1);
    EXPECT_EQ(to, 1);
  });
  model.RemoveNode(log->Child(1), [&](LogNode* node) { log->RemoveChild(log->IndexOf(node)); });
  EXPECT_EQ(removedSignals, 1);
  EXPECT_EQ(Captions(model, root), QStringList({"10.0.0.1", "10.0.0.3"}));
  EXPECT_EQ(model.IndexOf(third).row(), 1);
  EXPECT_EQ(model.IndexOf(thirdTunnel).parent().row(), 1);

  // The root itself is never removed.
  model.RemoveNode(log.get(), [](LogNode*) { ADD_FAILURE() << "the root was destroyed"; });
  EXPECT_EQ(model.rowCount(), 1);
}

// Below a negotiation the rows are the nodes' own children, with nothing kept for most of them:
// a packet with many payloads, rows far down among their siblings and a payload whose
// attributes are hidden must still give consistent parents.
std::unique_ptr<LogFile> WidePacketLog() {
  auto log = std::make_unique<LogFile>();
  LogNode& packet = Add(AddExchange(AddTunnel(AddPeer(*log, "10.0.0.1"), false), "Main Mode", "", ""), "MM packet 1");
  for (int i = 0; i < 100; ++i) {
    TestNode& payload = Add(packet, "Payload " + std::to_string(i));
    Add(payload, "Proposal");
    if (i % 40 == 39) Add(payload, "Attribute").attribute = true;
    Add(Add(payload, "Proposal"), "Transform");
  }
  return log;
}

TEST(LogTreeModelTest, TreesPassTheModelTester) {
  OpenLogResult loaded = OpenLog(FrameFixture::Example("ikev2-remote-access.xml").toStdString());
  ASSERT_EQ(loaded.status, OpenLogResult::Status::kLoaded);
  const std::unique_ptr<LogFile> wide = WidePacketLog(), three = ThreePeerLog();
  for (LogFile* log : {loaded.log.get(), wide.get(), three.get()}) {
    LogTreeModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
    model.SetLog(log);
    // Walk every row: each child's parent is the row it was reached from.
    std::function<int(const QModelIndex&)> walk = [&](const QModelIndex& parent) {
      int rows = 0;
      for (int row = 0; row < model.rowCount(parent); ++row) {
        const QModelIndex child = model.index(row, 0, parent);
        EXPECT_EQ(child.parent(), parent);
        EXPECT_EQ(model.IndexOf(model.NodeAt(child)), child);
        EXPECT_EQ(model.hasChildren(child), model.rowCount(child) > 0);
        EXPECT_EQ((model.flags(child) & Qt::ItemNeverHasChildren) != 0, !model.hasChildren(child));
        rows += 1 + walk(child);
      }
      return rows;
    };
    EXPECT_GT(walk({}), 5);
    model.SetLog(nullptr);
    EXPECT_EQ(model.rowCount(), 0);
  }
}

TEST(LogTreeModelTest, NodeWithHundredThousandChildren) {
  auto log = std::make_unique<LogFile>();
  TestPeer& peer = AddPeer(*log, "10.9.9.9");
  constexpr int kChildren = 100000;
  // Every tenth child is an address-less tunnel holding two negotiations: they all count as rows.
  for (int i = 0; i < kChildren; ++i) {
    if (i % 10 != 0) {
      Add(peer, "Info " + std::to_string(i));
      continue;
    }
    TestTunnel& tunnel = AddTunnel(peer, false);
    Add(tunnel, "Info " + std::to_string(i) + "a");
    Add(tunnel, "Info " + std::to_string(i) + "b");
  }
  const int expected = kChildren + kChildren / 10;
  LogTreeModel model;
  model.SetLog(log.get());
  const QModelIndex peerIndex = model.index(0, 0, model.index(0, 0));
  EXPECT_TRUE(model.hasChildren(peerIndex));
  ASSERT_EQ(model.rowCount(peerIndex), expected);
  const QModelIndex last = model.index(expected - 1, 0, peerIndex);
  EXPECT_EQ(last.data().toString(), "Info 99999");
  EXPECT_EQ(last.parent(), peerIndex);
  EXPECT_EQ(model.index(1, 0, peerIndex).data().toString(), "Info 0b");
  EXPECT_EQ(model.IndexOf(model.NodeAt(last)).row(), expected - 1);
}

// "Expand all" shows every row. The view keeps an index for each row it holds as expanded, so
// only rows with rows below may be held so (not the leaves, three rows of four), and the model
// keeps entries only for the levels above the packets. Collapsing the root, or opening another
// log, gives them back.
TEST(LogTreeModelTest, ExpandAllKeepsLittleAndGivesItBack) {
  FrameFixture f;
  const QString path = f.WriteFile("moderate.ilx", "");
  bench::WriteDebugLog(path.toStdString(), 1 << 20, 30, 0, false);
  ASSERT_TRUE(f.Open(path));
  LogTreeModel& model = *f.frame->View()->Model();
  QTreeView& tree = *f.frame->View()->Tree();
  const QModelIndex root = model.index(0, 0);
  const std::size_t listed = model.ListedNodes();
  const std::size_t held = model.HeldIndexes();

  // The view's own expand-all, and the row menu's "Expand subtree" (the "*" key) on the root.
  const std::function<void()> expansions[] = {
      [&] { tree.expandAll(); },
      [&] {
        tree.setCurrentIndex(root);
        QTest::keyClick(&tree, Qt::Key_Asterisk);
      }};
  for (const auto& expandAll : expansions) {
    expandAll();
    std::size_t rows = 0, leaves = 0;
    std::function<void(const QModelIndex&)> walk = [&](const QModelIndex& parent) {
      for (int row = 0; row < model.rowCount(parent); ++row) {
        const QModelIndex child = model.index(row, 0, parent);
        ++rows;
        if (!model.hasChildren(child)) {
          ++leaves;
          continue;
        }
        ASSERT_TRUE(tree.isExpanded(child));
        walk(child);
      }
    };
    walk(root);
    ASSERT_GT(leaves, 1000u);
    EXPECT_LT(model.HeldIndexes(), rows - leaves + 10) << "indexes held for leaves";
    EXPECT_LT(model.ListedNodes() * 4, rows - leaves) << "an entry per expanded row";

    tree.collapse(root);
    EXPECT_LE(model.ListedNodes(), listed) << "kept after collapsing the root";
    EXPECT_LE(model.HeldIndexes(), held) << "the view forgets the expansion below";
    tree.expand(root);
    EXPECT_EQ(model.rowCount(root), static_cast<int>(f.document->Log()->ChildCount())) << "made again when expanded";
  }

  tree.expandAll();
  ASSERT_TRUE(f.Open(FrameFixture::Example("small.ilx")));
  EXPECT_LT(model.CachedRows(), 50u) << "another log starts with the rows it shows";
  EXPECT_LT(model.ListedNodes(), 20u);
}

TEST(StateIconsTest, SeventeenDistinctTwelvePixelPictures) {
  EXPECT_TRUE(StateIconPixmap(kIconNone).isNull());
  EXPECT_TRUE(StateIconPixmap(kStateIconCount).isNull());
  std::set<QByteArray> pictures;
  for (int index = 1; index < kStateIconCount; ++index) {
    const QPixmap pixmap = StateIconPixmap(index);
    ASSERT_EQ(pixmap.size(), QSize(12, 12)) << index;
    const QImage image = pixmap.toImage().convertToFormat(QImage::Format_ARGB32);
    pictures.insert(QByteArray(reinterpret_cast<const char*>(image.constBits()), image.sizeInBytes()));
  }
  EXPECT_EQ(pictures.size(), 17u) << "two states share a picture";
  // Failed negotiations and the peers holding them are red, whatever their kind; the
  // informational "i" is grey on clear.
  for (const int failed : {kIconPhaseOneFailed, kIconQuickModeFailed, kIconChildSaFailed, kIconInitialFailed,
                           kIconAuthFailed, kIconConfigFailed, kIconPeerInTrouble})
    EXPECT_EQ(StateIconPixmap(failed).toImage().pixelColor(1, 6), QColor(0xC0, 0x10, 0x10)) << failed;
  EXPECT_EQ(StateIconPixmap(kIconInfo).toImage().pixelColor(0, 0).alpha(), 0);
}

}  // namespace
}  // namespace quillon::test
