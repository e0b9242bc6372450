// The viewer as a user works it: the find bar, the right-click menus, the editor at a line,
// the menus and keys, what the window says when there is nothing to show, and the rows given
// back on collapse.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QClipboard>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTextBrowser>
#include <QTextCursor>

#include "AppTestSupport.h"
#include "app/FindBar.h"
#include "app/NarrowingDialogs.h"
#include "app/QuillonApplication.h"
#include "app/TextPane.h"
#include "app/TimelinePanel.h"

namespace quillon::test {
namespace {

QStringList ItemTexts(const QMenu& menu) {
  QStringList texts;
  for (const QAction* action : menu.actions())
    if (!action->isSeparator()) texts.append(action->text().remove(QLatin1Char('&')));
  return texts;
}

QAction* Item(const QMenu& menu, const QString& text) {
  for (QAction* action : menu.actions())
    if (action->text().remove(QLatin1Char('&')) == text) return action;
  ADD_FAILURE() << "no menu item " << text.toStdString();
  return nullptr;
}

const QString kNotFound = QStringLiteral("String not found.");

class ViewerUseTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(f.Open(FrameFixture::Example("gateway-day.ilx"))); }

  LogView& View() const { return f.View(); }
  FindBar& Bar() const { return *View().FindBarWidget(); }
  LogNode* Selected() const { return f.Selected(); }
  void Type(const QString& text) {
    Bar().Edit()->setText(text);
    Bar().SearchNow();
  }
  // The text typed into the bar and searched, in exact case, in the tree's rows.
  void FindText(const QString& text, bool keysOnly = false) {
    f.Trigger(Command::kFind);
    Bar().MatchCaseBox()->setChecked(true);
    Bar().KeysOnlyBox()->setChecked(keysOnly);
    Bar().LogLinesBox()->setChecked(false);
    Type(text);
  }
  void FilterBy(const std::function<void(FiltersDialog&)>& fill) {
    f.Answer<FiltersDialog>([fill](FiltersDialog& dialog) {
      fill(dialog);
      return true;
    });
    f.Trigger(Command::kFilter);
  }
  void VerifyWith(const std::function<void(VerifyDialog&)>& fill) {
    f.Answer<VerifyDialog>([fill](VerifyDialog& dialog) {
      fill(dialog);
      return true;
    });
    f.Trigger(Command::kVerify);
  }
  std::unique_ptr<QMenu> RowMenu(const LogNode* node) {
    const QModelIndex index = View().Model()->IndexOf(node);
    View().Tree()->scrollTo(index);
    return std::unique_ptr<QMenu>(View().RowContextMenu(View().Tree()->visualRect(index).center()));
  }

  FrameFixture f;
};

// Find Previous before any search, then the matches of the tree's rows in order, then the
// bar's own ways: as typed, in either case, Enter and Shift+Enter, the log's lines, Esc.
TEST_F(ViewerUseTest, FindBarStepsThroughTheMatchesAndMarksTheText) {
  EXPECT_TRUE(Bar().isHidden());
  f.Trigger(Command::kFindPrevious);
  EXPECT_EQ(Bar().Status(),
            "Cannot find previous item.  This command can only be executed after a find operation has been.");
  f.Trigger(Command::kFind);
  EXPECT_FALSE(Bar().isHidden()) << "Ctrl+F opens the bar, no dialog";
  EXPECT_FALSE(Bar().MatchCase()) << "either case by default";

  // The informational exchanges named after an error, then their notify payloads.
  FindText("INVALID-ID", true);
  LogNode* first = Selected();
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->Name(), "Info INVALID-ID-INFORMATION");
  EXPECT_TRUE(View().Tree()->isExpanded(View().Model()->IndexOf(first->Parent())) || first->Parent()->IsTunnel())
      << "scrolled into view";
  EXPECT_TRUE(View().Text()->toPlainText().startsWith("Notify")) << "its text is shown";
  f.Trigger(Command::kFindNext);
  LogNode* second = Selected();
  EXPECT_EQ(second->Parent(), first);
  f.Trigger(Command::kFindNext);
  EXPECT_EQ(Bar().Status(), kNotFound) << "past the last match";
  EXPECT_EQ(Selected(), second) << "the selection stays";
  f.Trigger(Command::kFindPrevious);
  EXPECT_EQ(Selected(), first);
  f.Trigger(Command::kFindPrevious);
  EXPECT_EQ(Bar().Status(), kNotFound) << "nothing before the first match";
  EXPECT_EQ(Selected(), first);
  EXPECT_TRUE(f.messages.shown.isEmpty()) << "the bar says it; no box to dismiss";

  // A text only in detail texts is found unless keys only.
  f.SelectPath("IKE debugging info");
  FindText("kmiller", true);
  EXPECT_EQ(Bar().Status(), kNotFound);
  FindText("kmiller");
  ASSERT_NE(Selected(), nullptr);
  EXPECT_NE(Selected()->DetailText().find("kmiller"), std::string::npos);

  f.SelectPath("IKE debugging info");
  Bar().MatchCaseBox()->setChecked(false);
  Type("no-proposal-chosen");
  ASSERT_NE(Selected(), nullptr);
  EXPECT_TRUE(Bar().Status().startsWith("1 of ")) << Bar().Status().toStdString();
  EXPECT_FALSE(View().Text()->extraSelections().isEmpty()) << "the text is marked in the detail pane";
  // Enter goes on to the next match, Shift+Enter back.
  const LogNode* match = Selected();
  QTest::keyClick(Bar().Edit(), Qt::Key_Return);
  EXPECT_TRUE(Bar().Status().startsWith("2 of ")) << Bar().Status().toStdString();
  QTest::keyClick(Bar().Edit(), Qt::Key_Return, Qt::ShiftModifier);
  EXPECT_EQ(Selected(), match);
  Bar().MatchCaseBox()->setChecked(true);
  EXPECT_EQ(Bar().Status(), kNotFound);

  // The gateway's own words are in the log's lines only: found there, and shown there.
  Bar().MatchCaseBox()->setChecked(false);
  Type("its protected network is");
  EXPECT_EQ(Bar().Status(), kNotFound);
  Bar().LogLinesBox()->setChecked(true);
  ASSERT_NE(Selected(), nullptr);
  EXPECT_TRUE(Bar().Status().startsWith("1 of ")) << Bar().Status().toStdString();
  EXPECT_EQ(View().Tabs()->currentWidget(), View().LogLines());
  EXPECT_TRUE(View().LogLines()->toPlainText().contains("its protected network is"));
  EXPECT_FALSE(View().LogLines()->extraSelections().isEmpty());

  QTest::keyClick(Bar().Edit(), Qt::Key_Escape);
  EXPECT_TRUE(Bar().isHidden());
  EXPECT_TRUE(View().LogLines()->extraSelections().isEmpty()) << "the marks go with the bar";
}

TEST_F(ViewerUseTest, TheStartPointOfFindNextSurvivesAStricterFilterOnly) {
  FindText("QuickMode", true);
  f.Trigger(Command::kFindNext);
  const LogNode* second = Selected();
  FilterBy([](FiltersDialog& d) { d.FilterOutDpdBox()->setChecked(true); });
  EXPECT_EQ(View().Search().currentItem, second);
  f.Trigger(Command::kFindNext);
  EXPECT_NE(Selected(), second);
  EXPECT_TRUE(f.messages.shown.isEmpty());

  // Read again: the tree is new, Find Next starts at the top.
  f.Trigger(Command::kRefresh);
  EXPECT_EQ(View().Search().currentItem, nullptr);
  f.Trigger(Command::kFindNext);
  ASSERT_NE(Selected(), nullptr);
  EXPECT_EQ(Selected()->Name(), "QuickMode");
}

TEST_F(ViewerUseTest, FiltersDialogEnablesEachEditWithItsBox) {
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

// Filter and Verify: a stricter choice narrows the shown tree in place, a less strict one reads
// the log again and narrows it anew; Refresh undoes the narrowing, another file its criteria.
TEST_F(ViewerUseTest, StricterNarrowsInPlaceLessStrictReadsTheLogAgain) {
  QSignalSpy narrowed(&View(), &LogView::TreeNarrowed);
  const int loads = f.loader.loads;
  EXPECT_FALSE(f.Checked(Command::kFilter));
  FilterBy([](FiltersDialog& d) { d.FilterOutDpdBox()->setChecked(true); });
  EXPECT_EQ(f.ShownPeers().size(), 8);
  EXPECT_TRUE(f.Checked(Command::kFilter));
  EXPECT_EQ(narrowed.count(), 1);
  EXPECT_EQ(f.loader.loads, loads);

  // Another box on top: narrowed in place.
  f.SelectPath("IKE debugging info\\203.0.113.77");
  FilterBy([](FiltersDialog& d) {
    d.IpBox()->setChecked(true);
    d.IpEdit()->setText("203.0.113.77");
  });
  EXPECT_EQ(f.ShownPeers(), QStringList{"203.0.113.77"});
  EXPECT_EQ(f.loader.loads, loads);
  EXPECT_EQ(Selected()->Name(), "203.0.113.77") << "the selection stays where its node is still shown";

  // Verify on top, then a filter box unchecked: read again, filter and verify again.
  VerifyWith([](VerifyDialog& d) {
    for (QCheckBox* box : d.Boxes()) box->setChecked(box == d.Boxes()[1]);
  });
  EXPECT_TRUE(f.Checked(Command::kVerify));
  EXPECT_EQ(f.loader.loads, loads);
  FilterBy([](FiltersDialog& d) {
    EXPECT_TRUE(d.FilterOutDpdBox()->isChecked() && d.IpBox()->isChecked()) << "the dialog shows what was chosen";
    d.FilterOutDpdBox()->setChecked(false);
  });
  EXPECT_EQ(f.loader.loads, loads + 1);
  EXPECT_EQ(f.ShownPeers(), QStringList{"203.0.113.77"});
  EXPECT_TRUE(f.Checked(Command::kFilter) && f.Checked(Command::kVerify));
  const LogNode* peer = f.document->Log()->Child(0);
  QStringList exchanges;
  for (const LogNode* shown : View().Model()->VisibleChildrenOf(peer)) exchanges.append(std::string(shown->Name()).c_str());
  EXPECT_EQ(exchanges, (QStringList{"Info NO-PROPOSAL-CHOSEN", "Info INVALID-ID-INFORMATION"}));

  // Nothing checked in Verify: read again, the filter stays.
  VerifyWith([](VerifyDialog& d) {
    for (QCheckBox* box : d.Boxes()) box->setChecked(false);
  });
  EXPECT_EQ(f.loader.loads, loads + 2);
  EXPECT_FALSE(f.Checked(Command::kVerify));
  EXPECT_TRUE(f.Checked(Command::kFilter));
  EXPECT_GT(View().Model()->VisibleChildrenOf(f.document->Log()->Child(0)).size(), 2u);

  // A cancelled dialog changes nothing, the button included.
  f.Answer<FiltersDialog>([](FiltersDialog&) { return false; });
  f.Trigger(Command::kFilter);
  EXPECT_TRUE(f.Checked(Command::kFilter));
  EXPECT_EQ(f.loader.loads, loads + 2);

  f.Trigger(Command::kRefresh);
  EXPECT_FALSE(f.Checked(Command::kFilter)) << "a reload undoes the filter";
  EXPECT_TRUE(View().NarrowingState().Filter().ipOn) << "and keeps the criteria";
  ASSERT_TRUE(f.Open(f.WriteFile("copy.ilx", FrameFixture::Contents(f.document->Path()))));
  EXPECT_EQ(View().NarrowingState().Filter(), FilterCriteria{});
}

// The log lines tab shows the lines a node was read from, numbered; the editor opens at the first.
TEST_F(ViewerUseTest, LogLinesAreShownNumberedAndOpenTheEditorAtTheFirstLine) {
  const std::string peer = "IKE debugging info\\192.168.50.2";
  // The peer holds the failed main mode: its row carries the red "!".
  EXPECT_FALSE(View().Model()->data(View().Model()->IndexOf(f.FindByPath(peer)), Qt::DecorationRole).isNull());
  f.SelectPath(peer + "\\0.0.0.0 <=> 0.0.0.0\\Info PAYLOAD-MALFORMED");
  EXPECT_TRUE(View().LogLines()->toPlainText().isEmpty()) << "read only when the tab is shown";
  View().Tabs()->setCurrentWidget(View().LogLines());
  // The received packet's debug record, its blocks, and the gateway's own words after it.
  const QString lines = View().LogLines()->toPlainText();
  EXPECT_TRUE(lines.startsWith("##### BEGIN PACKET DEBUG #####\n\tReceived:")) << lines.toStdString();
  EXPECT_TRUE(lines.endsWith("192.168.50.2 rejected packet 5: check the pre-shared key on both sides\n\n"))
      << lines.toStdString();
  EXPECT_EQ(View().Tabs()->tabToolTip(1), "Lines 3572 to 3610 of the log");
  EXPECT_TRUE(View().Text()->toPlainText().startsWith("Notify\n")) << "the detail text stays in its tab";
  // A node that was not read from lines of its own shows none.
  f.SelectPath(peer);
  EXPECT_TRUE(View().LogLines()->toPlainText().isEmpty());

  f.Trigger(Command::kFind);
  Bar().LogLinesBox()->setChecked(true);
  Type("its protected network is");
  ASSERT_NE(Selected(), nullptr);
  const std::uint64_t line = View().FirstLogLineOfSelection();
  ASSERT_GT(line, 0u);
  EXPECT_EQ(View().LogLines()->LineNumberOf(0), line);
  EXPECT_EQ(View().LogLines()->lineWrapMode(), QPlainTextEdit::WidgetWidth);
  const QString log = f.document->Path();
  const QString at = "+" + QString::number(line);

  struct Case {
    QHash<QString, QString> environment;
    QHash<QString, QString> programs;
    QString program;
    QStringList arguments;
  };
  const Case cases[] = {
      // The user's editor: $VISUAL before $EDITOR; one for the terminal gets a terminal window.
      {{{"VISUAL", "gedit"}, {"EDITOR", "vim"}}, {{"gedit", "/usr/bin/gedit"}, {"vim", "/usr/bin/vim"}},
       "/usr/bin/gedit", {at, log}},
      {{{"EDITOR", "vim -R"}},
       {{"vim", "/usr/bin/vim"}, {"x-terminal-emulator", "/usr/bin/x-terminal-emulator"}},
       "/usr/bin/x-terminal-emulator", {"-e", "/usr/bin/vim", "-R", at, log}},
      // None set: a desktop editor, with the line as it takes one.
      {{}, {{"kate", "/usr/bin/kate"}}, "/usr/bin/kate", {"--line", QString::number(line), log}},
      {{}, {{"xdg-open", "/usr/bin/xdg-open"}}, "/usr/bin/xdg-open", {log}},
  };
  for (const Case& c : cases) {
    f.launcher.environment = c.environment;
    f.launcher.programs = c.programs;
    f.launcher.started.clear();
    std::unique_ptr<QMenu> menu(View().LogLinesContextMenu());
    Item(*menu, "Open in text editor at line " + QString::number(line))->trigger();
    ASSERT_EQ(f.launcher.started.size(), 1) << c.program.toStdString();
    EXPECT_EQ(f.launcher.started[0].program, c.program);
    EXPECT_EQ(f.launcher.started[0].arguments, c.arguments);
  }
  // None installed, or one that does not start: said, and nothing else happens.
  f.launcher.programs.clear();
  f.launcher.environment.clear();
  f.launcher.started.clear();
  f.Trigger(Command::kOpenInEditor);
  EXPECT_EQ(f.messages.shown.size(), 1) << "no editor installed";
  f.launcher.programs = {{"kate", "/usr/bin/kate"}};
  f.launcher.startSucceeds = false;
  f.Trigger(Command::kOpenInEditor);
  EXPECT_EQ(f.messages.shown.last(), "Could not start /usr/bin/kate");
  f.launcher.startSucceeds = true;
  // The command of the Tools menu and the row's menu open it there too.
  f.launcher.started.clear();
  f.Trigger(Command::kOpenInEditor);
  Item(*RowMenu(Selected()), "Open in text editor at this line")->trigger();
  ASSERT_EQ(f.launcher.started.size(), 2);
  EXPECT_EQ(f.launcher.started[1].arguments, f.launcher.started[0].arguments);
}

TEST_F(ViewerUseTest, RowMenuCopiesExpandsAndFilters) {
  const LogNode* peer = f.document->Log()->Child(0);
  std::unique_ptr<QMenu> menu = RowMenu(peer);
  EXPECT_EQ(Selected(), peer) << "a right click selects the row";
  EXPECT_EQ(ItemTexts(*menu), QStringList({"Copy row", "Copy subtree as text", "Copy as JSON", "Expand subtree",
                                           "Collapse subtree", "Show log lines", "Open in text editor at this line",
                                           "Filter to this peer", "Export packets...", "Save report..."}));
  QClipboard& clipboard = *QApplication::clipboard();
  Item(*menu, "Copy row")->trigger();
  EXPECT_EQ(clipboard.text(), QString::fromStdString(peer->Caption()));
  Item(*menu, "Copy subtree as text")->trigger();
  const QStringList outline = clipboard.text().split('\n', Qt::SkipEmptyParts);
  ASSERT_GT(outline.size(), 2);
  EXPECT_EQ(outline[0], QString::fromStdString(peer->Caption()));
  EXPECT_TRUE(outline[1].startsWith("  ")) << "children indented";
  clipboard.clear();
  f.ShowActive();
  View().Tree()->setFocus();
  QTest::keyClick(View().Tree(), Qt::Key_C, Qt::ControlModifier);
  EXPECT_EQ(clipboard.text(), QString::fromStdString(peer->Caption())) << "the keys copy the row too";
  clipboard.clear();
  QTest::keyClick(View().Tree(), Qt::Key_Insert, Qt::ControlModifier);
  EXPECT_EQ(clipboard.text(), QString::fromStdString(peer->Caption()));
  Item(*menu, "Copy as JSON")->trigger();
  QJsonParseError error;
  const QJsonDocument json = QJsonDocument::fromJson(clipboard.text().toUtf8(), &error);
  ASSERT_EQ(error.error, QJsonParseError::NoError) << error.errorString().toStdString();
  EXPECT_EQ(json.object()["caption"].toString(), QString::fromStdString(peer->Caption()));
  EXPECT_FALSE(json.object()["children"].toArray().isEmpty());

  // Expand the subtree, then collapse it: the rows made below it are given back.
  LogTreeModel& model = *View().Model();
  const std::size_t before = model.CachedRows();
  Item(*menu, "Expand subtree")->trigger();
  const LogNode* deep = peer->Child(0)->Child(0);
  EXPECT_TRUE(View().Tree()->isExpanded(model.IndexOf(peer)));
  const std::size_t expanded = model.CachedRows();
  EXPECT_GE(expanded, before);  // rows that are a node's own children are not kept in lists
  Item(*menu, "Collapse subtree")->trigger();
  EXPECT_FALSE(View().Tree()->isExpanded(model.IndexOf(peer)));
  EXPECT_LE(model.CachedRows(), expanded);
  EXPECT_TRUE(model.IndexOf(deep).isValid()) << "made again when asked for";

  // Text selected in the detail pane is what the keys copy there; the pane's own menu copies all
  // of it when nothing is selected, and opens the find bar.
  View().SelectNode(deep);
  TextPane& text = *View().Text();
  const QString shown = text.toPlainText();
  ASSERT_GT(shown.size(), 10);
  QTextCursor cursor = text.textCursor();
  cursor.setPosition(2);
  cursor.setPosition(9, QTextCursor::KeepAnchor);
  text.setTextCursor(cursor);
  text.setFocus();
  QTest::keyClick(&text, Qt::Key_C, Qt::ControlModifier);
  EXPECT_EQ(clipboard.text(), shown.mid(2, 7));
  cursor.setPosition(0);
  text.setTextCursor(cursor);
  std::unique_ptr<QMenu> textMenu(View().TextContextMenu());
  QStringList items;
  for (QAction* action : textMenu->actions())
    if (!action->isSeparator()) items.append(action->text() + "|" + action->shortcut().toString());
  EXPECT_EQ(items, QStringList({"&Copy|Ctrl+C", "Select &all|Ctrl+A", "&Find...|Ctrl+F"}));
  textMenu->actions().first()->trigger();
  EXPECT_EQ(clipboard.text(), shown);
  textMenu->actions().last()->trigger();
  EXPECT_TRUE(Bar().isVisible());

  const QString name = QString::fromStdString(peer->Caption());
  Item(*RowMenu(peer), "Filter to this peer")->trigger();
  FrameFixture::WaitForLoad(*f.frame);
  EXPECT_EQ(f.ShownPeers(), QStringList({name}));
  EXPECT_TRUE(f.frame->Action(Command::kFilter)->isChecked());
}

TEST_F(ViewerUseTest, MessagesSayWhatHappenedAndClearingAFilterKeepsThePlace) {
  const auto filterIp = [this](const QString& ip) {
    FilterBy([ip](FiltersDialog& d) {
      d.IpBox()->setChecked(!ip.isEmpty());
      d.IpEdit()->setText(ip);
    });
  };
  filterIp("203.0.113");
  EXPECT_EQ(View().EmptyTreeMessage(), "No peer matches the filter");
  EXPECT_FALSE(f.frame->Timeline()->ShowsNoTimes()) << "the timeline says the same";

  // Expanded and selected in a filtered tree, and found again once the filter is cleared (the
  // log is read again).
  filterIp("203.0.113.77");
  EXPECT_EQ(View().EmptyTreeMessage(), "");
  const LogNode* peer = f.document->Log()->Child(0);
  const LogNode* negotiation = View().Model()->VisibleChildrenOf(peer).at(1);
  const std::string selectedPath = negotiation->Path();
  View().Tree()->expand(View().Model()->IndexOf(peer));
  View().SelectNode(negotiation);
  filterIp("");
  EXPECT_GT(f.ShownPeers().size(), 1);
  ASSERT_NE(Selected(), nullptr);
  EXPECT_EQ(Selected()->Path(), selectedPath);
  EXPECT_TRUE(View().Tree()->isExpanded(View().Model()->IndexOf(Selected()).parent()));

  // An empty log, a log of no packet, a log cut inside a packet: said with the file's name.
  const QString empty = f.WriteFile("empty.ilx", "");
  ASSERT_TRUE(f.Open(empty));
  EXPECT_EQ(View().EmptyTreeMessage(), "No IKE packets found in " + empty);
  const QString notes = f.WriteFile("notes.ilx", "nothing to see here\n");
  ASSERT_TRUE(f.Open(notes));
  EXPECT_EQ(f.frame->MessageText(), "No IKE packets found in " + QDir::toNativeSeparators(notes));
  const QByteArray text = FrameFixture::Contents(FrameFixture::Example("small.ilx"));
  const QString cut = f.WriteFile("cut.ilx", text.left(text.size() * 9 / 10));
  ASSERT_TRUE(f.Open(cut));
  EXPECT_EQ(f.messages.shown.value(0), "The log ends inside a packet: " + cut);
  EXPECT_EQ(View().EmptyTreeMessage(), "");
}

TEST_F(ViewerUseTest, MenusHoldEveryCommandWithItsKey) {
  QList<QAction*> inMenus;
  for (QAction* menu : f.frame->menuBar()->actions()) inMenus += menu->menu()->actions();
  for (int i = 0; i < static_cast<int>(Command::kCount); ++i) {
    const auto command = static_cast<Command>(i);
    EXPECT_TRUE(inMenus.contains(f.frame->Action(command))) << InfoOf(command).text;
  }
  const struct {
    Command command;
    QKeySequence key;
  } keys[] = {{Command::kExit, Qt::CTRL | Qt::Key_Q},         {Command::kUserGuide, Qt::Key_F1},
              {Command::kFind, Qt::CTRL | Qt::Key_F},         {Command::kFindNext, Qt::Key_F3},
              {Command::kFindPrevious, Qt::SHIFT | Qt::Key_F3}, {Command::kFollow, Qt::Key_F9},
              {Command::kOpenInEditor, Qt::CTRL | Qt::Key_E}};
  for (const auto& k : keys) EXPECT_EQ(f.frame->Action(k.command)->shortcut(), k.key) << InfoOf(k.command).text;
  // Tooltips name the key as the toolbar shows it.
  for (const Command command : {Command::kResolveIPs, Command::kOpenInEditor, Command::kFind}) {
    const QAction& action = *f.frame->Action(command);
    EXPECT_TRUE(action.toolTip().endsWith(" (" + action.shortcut().toString(QKeySequence::NativeText) + ")"))
        << action.toolTip().toStdString();
  }

  f.Trigger(Command::kUserGuide);
  ASSERT_NE(f.frame->UserGuideWindow(), nullptr);
  EXPECT_TRUE(f.frame->UserGuideWindow()->isVisible());
  EXPECT_TRUE(f.frame->UserGuideWindow()->findChild<QTextBrowser*>()->toPlainText().contains("Finding"));

  // The toolbar hidden by the user stays hidden at the next start.
  f.frame->Action(Command::kToolbar)->trigger();
  LogDocument document(f.settings);
  MainWindow next(document, f.AllServices());
  EXPECT_FALSE(next.Action(Command::kToolbar)->isChecked());
  EXPECT_TRUE(next.ToolBar()->isHidden());
}

TEST_F(ViewerUseTest, TheLoggingEnvironmentIsInstalledOnlyWhenTheUserAgrees) {
  const QString environment = f.directory.filePath("environment");
  f.messages.answer = false;
  f.Trigger(Command::kInstallLoggingEnvironment);
  EXPECT_EQ(f.messages.asked.size(), 1);
  EXPECT_FALSE(QFile::exists(environment)) << "nothing written";
  f.messages.answer = true;
  f.Trigger(Command::kInstallLoggingEnvironment);
  EXPECT_TRUE(QFile::exists(environment));
  EXPECT_EQ(f.messages.shown.size(), 1) << "one report";
  EXPECT_FALSE(f.loggingEnvironment.Install(f.messages)) << "a failure the command line exits non-zero for";

  QString error;
  EXPECT_TRUE(QuillonApplication::ParseArguments({"--install-logging-environment", "--yes"}, error)->yes);
}

}  // namespace
}  // namespace quillon::test
