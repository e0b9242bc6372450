// The view's find bar: the search it asks for, the match selected and scrolled to the middle,
// the count of matches, the marks in the detail pane and the "Log lines" tab; and the message
// shown in the tree's place.
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QStackedWidget>
#include <QTabWidget>
#include <QTextBlock>
#include <QTextDocument>
#include <QTreeView>

#include "app/FindBar.h"
#include "app/LogDocument.h"
#include "app/LogTreeModel.h"
#include "app/LogView.h"
#include "app/TextPane.h"
#include "model/VisibleText.h"

namespace quillon {

void LogView::SelectMatch() {
  const QModelIndex index = model_->IndexOf(search_.currentItem);
  if (!index.isValid()) return;
  tree_->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
  // In the middle of the tree, not at its edge: the rows around the match are seen too.
  tree_->scrollTo(index, QAbstractItemView::PositionAtCenter);
  // A match that only the log's lines hold is shown there.
  const LogNode& node = *search_.currentItem;
  if (search_.logLines) {
    const std::string& wanted = search_.searchText;
    const bool inTexts = ContainsText(node.Caption(), wanted, search_.matchCase) ||
                         (!search_.keysOnly && ContainsText(node.DetailText(), wanted, search_.matchCase));
    if (!inTexts) ShowLogLinesTab();
  }
  HighlightMatches();
  if (findBar_->isHidden()) tree_->setFocus();
  ShowMatchCount();
}

bool LogView::Find(const QString& text, bool keysOnly) {
  SearchOptions options;
  options.keysOnly = keysOnly;
  return Find(text, options);
}

bool LogView::Find(const QString& text, const SearchOptions& options) {
  const LogFile* root = model_->Log();
  if (root == nullptr) return false;
  const bool found = quillon::Find(search_, *root, text.toLatin1().toStdString(), options, SelectedNode());
  if (found) SelectMatch();
  return found;
}

bool LogView::FindNext() {
  const LogFile* root = model_->Log();
  if (root == nullptr) return false;
  const bool found = quillon::FindNext(search_, *root);
  if (found) SelectMatch();
  else if (!search_.searchText.empty()) findBar_->SetStatus(QStringLiteral("String not found."));
  return found;
}

FindPreviousResult LogView::FindPrevious() {
  const LogFile* root = model_->Log();
  if (root == nullptr) return FindPreviousResult::kNoCurrentItem;
  const FindPreviousResult result = quillon::FindPrevious(search_, *root);
  if (result == FindPreviousResult::kFound) SelectMatch();
  else if (result == FindPreviousResult::kNotFound) findBar_->SetStatus(QStringLiteral("String not found."));
  return result;
}

void LogView::OpenFindBar() {
  findStart_ = SelectedNode();
  if (findBar_->Text().isEmpty() && !search_.searchText.empty())
    findBar_->Edit()->setText(QString::fromLatin1(search_.searchText));
  findBar_->Open();
  if (!findBar_->Text().isEmpty()) ShowMatchCount();
}

SearchOptions LogView::FindBarOptions() const {
  SearchOptions options;
  options.keysOnly = findBar_->KeysOnly();
  options.matchCase = findBar_->MatchCase();
  options.logLines = findBar_->LogLines();
  // The nodes' offsets are in the file as it is on disk: a compressed log's lines are not
  // searched.
  if (options.logLines && !document_.IsCompressed()) options.logPath = QFile::encodeName(document_.Path()).toStdString();
  return options;
}

void LogView::SearchFromFindBar() {
  ForgetMatchCount();
  const LogFile* root = model_->Log();
  const QString text = findBar_->Text();
  if (root == nullptr || text.isEmpty()) {
    findBar_->SetStatus({});
    HighlightMatches();
    return;
  }
  // Each change of the text searches again from where the user stood when the bar opened, so
  // that typing on narrows the same search; from the top when nothing after it matches.
  const LogNode* start = IsShownBelow(*root, findStart_) ? findStart_ : nullptr;
  const SearchOptions options = FindBarOptions();
  bool found = quillon::Find(search_, *root, text.toLatin1().toStdString(), options, start);
  if (!found && start != nullptr) found = quillon::Find(search_, *root, text.toLatin1().toStdString(), options, nullptr);
  if (found) {
    SelectMatch();
  } else {
    // Nothing matches: the selection stays where the search started.
    search_.currentItem = start;
    HighlightMatches();
    ShowMatchCount();
  }
}

void LogView::ForgetMatchCount() {
  matches_.clear();
  matches_.shrink_to_fit();
  matchesKnown_ = false;
}

void LogView::ShowMatchCount() {
  const LogFile* root = model_->Log();
  if (root == nullptr || search_.searchText.empty()) {
    findBar_->SetStatus({});
    return;
  }
  if (!matchesKnown_) {
    SearchOptions options;
    options.keysOnly = search_.keysOnly;
    options.matchCase = search_.matchCase;
    options.logLines = search_.logLines;
    options.logPath = search_.logPath;
    matches_ = AllMatches(*root, search_.searchText, options);
    matchesKnown_ = true;
  }
  if (matches_.empty()) {
    findBar_->SetStatus(QStringLiteral("String not found."));
    return;
  }
  const auto at = std::find(matches_.begin(), matches_.end(), search_.currentItem);
  if (at == matches_.end())
    findBar_->SetStatus(matches_.size() == 1 ? QStringLiteral("1 match")
                                             : QStringLiteral("%1 matches").arg(matches_.size()));
  else
    findBar_->SetStatus(QStringLiteral("%1 of %2").arg(at - matches_.begin() + 1).arg(matches_.size()));
}

void LogView::HighlightMatches() {
  const bool active = !findBar_->isHidden() && !findBar_->Text().isEmpty();
  const QString wanted = active ? findBar_->Text() : QString();
  const QTextDocument::FindFlags flags =
      findBar_->MatchCase() ? QTextDocument::FindCaseSensitively : QTextDocument::FindFlags();
  for (TextPane* pane : {text_, static_cast<TextPane*>(logLines_)}) {
    QList<QTextEdit::ExtraSelection> marks;
    if (active) {
      // A long text is marked in its first few hundred places only.
      constexpr int kMostMarks = 500;
      QTextEdit::ExtraSelection mark;
      mark.format.setBackground(QColor(0xff, 0xd8, 0x4d));
      mark.format.setForeground(Qt::black);
      for (QTextCursor found = pane->document()->find(wanted, 0, flags);
           !found.isNull() && marks.size() < kMostMarks; found = pane->document()->find(wanted, found, flags)) {
        mark.cursor = found;
        marks.append(mark);
      }
      if (!marks.isEmpty()) {
        // The first place is scrolled into view; the caret stays at the start of the text.
        QTextCursor first(marks.first().cursor);
        first.clearSelection();
        pane->setTextCursor(first);
        pane->ensureCursorVisible();
      }
    }
    pane->setExtraSelections(marks);
  }
}

QString LogView::EmptyTreeMessage() const {
  return treeStack_->currentWidget() == emptyMessage_ ? emptyMessage_->text() : QString();
}

void LogView::SetEmptyTreeMessage(const QString& text) {
  emptyMessage_->setText(text);
  treeStack_->setCurrentWidget(text.isEmpty() ? static_cast<QWidget*>(tree_) : emptyMessage_);
}

}  // namespace quillon
