// Filter, Verify, Find, Find Next and Find Previous driven through the main window: the
// dialogs' controls, when the log is read again, the toolbar buttons, the selected match and
// the messages.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QSignalSpy>
#include <QTest>
#include <QTreeView>

#include "AppTestSupport.h"
#include "app/LogTreeModel.h"
#include "app/FindBar.h"
#include "app/NarrowingDialogs.h"
#include "app/TextPane.h"

namespace quillon::test {
namespace {

const QString kNotFound = QStringLiteral("String not found.");
const QString kNoPrevious =
    QStringLiteral("Cannot find previous item.  This command can only be executed after a find operation has been.");

class NarrowingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path = FrameFixture::Example(QStringLiteral("gateway-day.ilx"));
    ASSERT_TRUE(f.Open(path));
  }
  // The next dialog is filled in by `fill` and confirmed (or cancelled when it answers false).
  template <class Dialog>
  void Answer(std::function<bool(Dialog&)> fill) {
    f.frame->SetDialogRunner([fill](QDialog& dialog) {
      auto* typed = dynamic_cast<Dialog*>(&dialog);
      EXPECT_NE(typed, nullptr);
      return typed != nullptr && fill(*typed);
    });
  }
  void FilterBy(const std::function<void(FiltersDialog&)>& fill) {
    Answer<FiltersDialog>([fill](FiltersDialog& dialog) {
      fill(dialog);
      return true;
    });
    f.Trigger(Command::kFilter);
  }
  void VerifyWith(const std::function<void(VerifyDialog&)>& fill) {
    Answer<VerifyDialog>([fill](VerifyDialog& dialog) {
      fill(dialog);
      return true;
    });
    f.Trigger(Command::kVerify);
  }
  // Ctrl+F, the text typed (exact case) and searched.
  void FindText(const QString& text, bool keysOnly = false) {
    f.Trigger(Command::kFind);
    FindBar& bar = *f.frame->View()->FindBarWidget();
    bar.MatchCaseBox()->setChecked(true);
    bar.KeysOnlyBox()->setChecked(keysOnly);
    bar.Edit()->setText(text);
    bar.SearchNow();
  }
  QString BarStatus() const { return f.frame->View()->FindBarWidget()->Status(); }
  // The peers as the tree shows them.
  QStringList ShownPeers() const {
    LogTreeModel& model = *f.frame->View()->Model();
    QStringList peers;
    const QModelIndex root = model.index(0, 0);
    for (int row = 0; row < model.rowCount(root); ++row) peers.append(model.index(row, 0, root).data().toString());
    return peers;
  }
  bool Checked(Command command) const { return f.frame->Action(command)->isChecked(); }
  LogNode* Selected() const { return f.frame->View()->SelectedNode(); }

  FrameFixture f;
  QString path;
};

TEST_F(NarrowingTest, FiltersDialogEnablesEachEditWithItsBox) {
  FiltersDialog dialog(FilterCriteria{});
  const QList<QCheckBox*> boxes{dialog.IpBox(),         dialog.CookieBox(),      dialog.SpiBox(),
                                dialog.UserNameBox(),   dialog.FailedPeersBox(), dialog.FilterOutDpdBox()};
  for (QCheckBox* box : boxes) EXPECT_FALSE(box->isChecked());
  const VerifyDialog verify(VerifyCriteria{});
  for (QCheckBox* box : verify.Boxes()) EXPECT_TRUE(box->isChecked()) << "Verify: all checked";
  const QList<QLineEdit*> edits{dialog.IpEdit(), dialog.CookieEdit(), dialog.SpiEdit(), dialog.UserNameEdit()};
  for (int i = 0; i < 4; ++i) {
    for (QLineEdit* edit : edits) EXPECT_FALSE(edit->isEnabled()) << i;
    QTest::mouseClick(boxes[i], Qt::LeftButton, {}, QPoint(5, boxes[i]->height() / 2));
    for (int j = 0; j < 4; ++j) EXPECT_EQ(edits[j]->isEnabled(), i == j) << i << " " << j;
    QTest::mouseClick(boxes[i], Qt::LeftButton, {}, QPoint(5, boxes[i]->height() / 2));
  }

  FilterCriteria chosen;
  chosen.spiOn = true;
  chosen.spiText = "6aa24c19";
  chosen.filterOutDpdOn = true;
  FiltersDialog again(chosen);
  EXPECT_TRUE(again.SpiEdit()->isEnabled()) << "enabled from the start for a checked box";
  EXPECT_FALSE(again.IpEdit()->isEnabled());
  EXPECT_EQ(again.Criteria(), chosen);
}

TEST_F(NarrowingTest, StricterNarrowsInPlaceLessStrictReadsTheLogAgain) {
  QSignalSpy narrowed(f.frame->View(), &LogView::TreeNarrowed);
  const int loads = f.loader.loads;
  EXPECT_FALSE(Checked(Command::kFilter));
  FilterBy([](FiltersDialog& d) { d.FilterOutDpdBox()->setChecked(true); });
  EXPECT_EQ(ShownPeers().size(), 8);
  EXPECT_TRUE(Checked(Command::kFilter));
  EXPECT_EQ(narrowed.count(), 1);
  EXPECT_EQ(f.loader.loads, loads);

  // Another box on top: narrowed in place.
  f.SelectPath("IKE debugging info\\203.0.113.77");
  FilterBy([](FiltersDialog& d) {
    d.IpBox()->setChecked(true);
    d.IpEdit()->setText("203.0.113.77");
  });
  EXPECT_EQ(ShownPeers(), QStringList{"203.0.113.77"});
  EXPECT_EQ(f.loader.loads, loads);
  EXPECT_EQ(Selected()->Name(), "203.0.113.77") << "the selection stays where its node is still shown";

  // Verify on top, then a filter box unchecked: read again, filter and verify again.
  VerifyWith([](VerifyDialog& d) {
    for (QCheckBox* box : d.Boxes()) box->setChecked(box == d.Boxes()[1]);
  });
  EXPECT_TRUE(Checked(Command::kVerify));
  EXPECT_EQ(f.loader.loads, loads);
  FilterBy([](FiltersDialog& d) {
    EXPECT_TRUE(d.FilterOutDpdBox()->isChecked() && d.IpBox()->isChecked()) << "the dialog shows what was chosen";
    d.FilterOutDpdBox()->setChecked(false);
  });
  EXPECT_EQ(f.loader.loads, loads + 1);
  EXPECT_EQ(ShownPeers(), QStringList{"203.0.113.77"});
  EXPECT_TRUE(Checked(Command::kFilter) && Checked(Command::kVerify));
  LogTreeModel& model = *f.frame->View()->Model();
  const QModelIndex peer = model.index(0, 0, model.index(0, 0));
  QStringList exchanges;
  for (int row = 0; row < model.rowCount(peer); ++row) exchanges.append(std::string(model.NodeAt(model.index(row, 0, peer))->Name()).c_str());
  EXPECT_EQ(exchanges, (QStringList{"Info NO-PROPOSAL-CHOSEN", "Info INVALID-ID-INFORMATION"}));

  // Nothing checked in Verify: read again, the filter stays.
  VerifyWith([](VerifyDialog& d) {
    for (QCheckBox* box : d.Boxes()) box->setChecked(false);
  });
  EXPECT_EQ(f.loader.loads, loads + 2);
  EXPECT_FALSE(Checked(Command::kVerify));
  EXPECT_TRUE(Checked(Command::kFilter));
  EXPECT_GT(model.rowCount(model.index(0, 0, model.index(0, 0))), 2);

  // A cancelled dialog changes nothing, the button included.
  Answer<FiltersDialog>([](FiltersDialog&) { return false; });
  f.Trigger(Command::kFilter);
  EXPECT_TRUE(Checked(Command::kFilter));
  EXPECT_EQ(f.loader.loads, loads + 2);
}

TEST_F(NarrowingTest, CriteriaResetWhenAnotherFileIsOpened) {
  FilterBy([](FiltersDialog& d) {
    d.FilterOutDpdBox()->setChecked(true);
  });
  f.Trigger(Command::kRefresh);
  EXPECT_FALSE(Checked(Command::kFilter)) << "a reload undoes the filter";
  EXPECT_TRUE(f.frame->View()->NarrowingState().Filter().filterOutDpdOn) << "and keeps the criteria";

  QFile sample(path);
  ASSERT_TRUE(sample.open(QIODevice::ReadOnly));
  ASSERT_TRUE(f.Open(f.WriteFile("copy.ilx", sample.readAll())));
  EXPECT_EQ(f.frame->View()->NarrowingState().Filter(), FilterCriteria{});
}

TEST_F(NarrowingTest, FindNextAndPreviousSelectTheMatchesInOrder) {
  f.Trigger(Command::kFindPrevious);
  EXPECT_EQ(BarStatus(), kNoPrevious);

  // The informational exchanges named after an error, then their notify payloads.
  FindText("INVALID-ID", true);
  LogNode* first = Selected();
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->Name(), "Info INVALID-ID-INFORMATION");
  EXPECT_TRUE(f.frame->View()->Tree()->isExpanded(f.frame->View()->Model()->IndexOf(first->Parent())) ||
              first->Parent()->IsTunnel())
      << "scrolled into view";
  EXPECT_TRUE(f.frame->View()->Text()->toPlainText().startsWith("Notify")) << "its text is shown";
  f.Trigger(Command::kFindNext);
  LogNode* second = Selected();
  EXPECT_EQ(second->Parent(), first);
  f.Trigger(Command::kFindNext);
  EXPECT_EQ(BarStatus(), kNotFound) << "past the last match";
  EXPECT_EQ(Selected(), second) << "the selection stays";

  f.Trigger(Command::kFindPrevious);
  EXPECT_EQ(Selected(), first);
  f.Trigger(Command::kFindPrevious);
  EXPECT_EQ(BarStatus(), kNotFound) << "nothing before the first match";
  EXPECT_EQ(Selected(), first);
  EXPECT_TRUE(f.messages.shown.isEmpty()) << "the bar says it; no box to dismiss";

  // A text only in detail texts is found unless keys only.
  f.SelectPath("IKE debugging info");
  FindText("kmiller", true);
  EXPECT_EQ(BarStatus(), kNotFound);
  FindText("kmiller");
  ASSERT_NE(Selected(), nullptr);
  EXPECT_NE(Selected()->DetailText().find("kmiller"), std::string::npos);
}

TEST_F(NarrowingTest, TheStartPointOfFindNextSurvivesAStricterFilterOnly) {
  FindText("QuickMode", true);
  f.Trigger(Command::kFindNext);
  const LogNode* second = Selected();
  FilterBy([](FiltersDialog& d) { d.FilterOutDpdBox()->setChecked(true); });
  EXPECT_EQ(f.frame->View()->Search().currentItem, second);
  f.Trigger(Command::kFindNext);
  EXPECT_NE(Selected(), second);
  EXPECT_TRUE(f.messages.shown.isEmpty());

  // Read again: the tree is new, Find Next starts at the top.
  f.Trigger(Command::kRefresh);
  EXPECT_EQ(f.frame->View()->Search().currentItem, nullptr);
  f.Trigger(Command::kFindNext);
  ASSERT_NE(Selected(), nullptr);
  EXPECT_EQ(Selected()->Name(), "QuickMode");
}

}  // namespace
}  // namespace quillon::test
