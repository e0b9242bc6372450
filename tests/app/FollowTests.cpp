// The viewer's Follow driven offscreen: a log that grows while it is shown extends the tree in
// place, keeps what is expanded, and a selection on the last event moves to the new last event.
#include <gtest/gtest.h>

#include <fstream>

#include <QFile>
#include <QTimer>
#include <QTreeView>

#include "AppTestSupport.h"
#include "app/LogTreeModel.h"
#include "logs/OpenLog.h"
#include "tests/model/TreeCompare.h"

namespace quillon::test {
namespace {

QByteArray ReadExample(const QString& name) {
  QFile file(FrameFixture::Example(name));
  file.open(QIODevice::ReadOnly);
  return file.readAll();
}

TEST(FollowViewer, GrowingLogExtendsTheShownTree) {
  FrameFixture f;
  const QByteArray text = ReadExample("gateway-day.ilx");
  const qsizetype cut = text.lastIndexOf("\n+++", text.size() / 2) + 1;
  const QString path = f.WriteFile("growing.ilx", text.left(cut));
  f.dialogs.answer = path;
  f.Trigger(Command::kOpen);
  ASSERT_TRUE(f.document->IsLoaded());
  QAction* follow = f.frame->Action(Command::kFollow);
  EXPECT_TRUE(follow->shortcuts().contains(QKeySequence(Qt::Key_F9)));
  EXPECT_TRUE(follow->isCheckable());

  CQuillonView& view = *f.frame->View();
  view.GoToLastEvent();
  const QLFolder* last = view.LastEvent();
  ASSERT_NE(last, nullptr);
  ASSERT_EQ(view.SelectedNode(), last);
  const std::string firstPeer = view.Model()->VisibleChildrenOf(f.document->Log())[0]->Name();
  view.Tree()->expand(view.Model()->IndexOf(view.Model()->VisibleChildrenOf(f.document->Log())[0]));

  follow->trigger();
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
  const QLFolder* peer = nullptr;
  for (QLFolder* shown : view.Model()->VisibleChildrenOf(f.document->Log()))
    if (shown->Name() == firstPeer) peer = shown;
  ASSERT_NE(peer, nullptr);
  EXPECT_TRUE(view.Tree()->isExpanded(view.Model()->IndexOf(peer))) << "expansion is kept";

  follow->trigger();
  EXPECT_FALSE(follow->isChecked());
  EXPECT_FALSE(f.frame->FollowWatch()->isActive());
  EXPECT_TRUE(f.frame->Action(Command::kFilter)->isEnabled());
}

TEST(FollowViewer, AFileWithoutPacketsSaysSo) {
  FrameFixture f;
  const QString path = f.WriteFile("notes.ilx", "nothing to see here\n");
  f.dialogs.answer = path;
  f.Trigger(Command::kOpen);
  EXPECT_EQ(f.frame->MessageText(), "No IKE packets found in " + QDir::toNativeSeparators(path));
}

}  // namespace
}  // namespace quillon::test
