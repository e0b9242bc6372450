// The view's context menus (tree row, detail pane, "Log lines") and the row commands they
// offer: copies of a row, a subtree as text or JSON, expanding and collapsing a subtree, the
// row's lines in the log.
#include <string>
#include <string_view>
#include <vector>

#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QKeyEvent>
#include <QMenu>
#include <QTabWidget>
#include <QTreeView>

#include "app/LogDocument.h"
#include "app/LogTreeModel.h"
#include "app/LogView.h"
#include "app/TextPane.h"
#include "model/LogLines.h"
#include "model/TreeRules.h"
#include "model/VisibleText.h"

namespace quillon {

namespace {

// A Latin-1 text as a JSON string (UTF-8, control characters escaped).
void AppendJsonString(std::string_view text, QByteArray& out) {
  out += '"';
  for (const char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || (c >= 0x7f && c < 0xa0)) {
      out += QStringLiteral("\\u%1").arg(c, 4, 16, QLatin1Char('0')).toLatin1();
    } else {
      out += QString(QChar(c)).toUtf8();
    }
  }
  out += '"';
}

// The copies walk the shown children as the tree rules give them, not the model's rows: a
// copied subtree makes no rows.
void AppendJson(const LogNode& node, int depth, QByteArray& out) {
  const QByteArray indent(2 * depth, ' ');
  out += indent + "{\"name\": ";
  AppendJsonString(node.Name(), out);
  out += ", \"caption\": ";
  AppendJsonString(node.Caption(), out);
  out += node.IsComplete() ? ", \"complete\": true" : ", \"complete\": false";
  out += ", \"text\": ";
  AppendJsonString(node.DetailText(), out);
  const std::vector<LogNode*> children = VisibleChildren(node);
  if (!children.empty()) {
    out += ", \"children\": [\n";
    for (std::size_t i = 0; i < children.size(); ++i) {
      AppendJson(*children[i], depth + 1, out);
      out += i + 1 < children.size() ? ",\n" : "\n";
    }
    out += indent + "]";
  }
  out += "}";
}

void AppendOutline(const LogNode& node, int depth, QString& out) {
  out += QString(2 * depth, QLatin1Char(' ')) + QString::fromLatin1(VisibleText(node.Caption())) + QLatin1Char('\n');
  for (const LogNode* child : VisibleChildren(node)) AppendOutline(*child, depth + 1, out);
}

}  // namespace

void LogView::CopyRow() {
  if (const LogNode* node = SelectedNode())
    QApplication::clipboard()->setText(QString::fromLatin1(VisibleText(node->Caption())));
}

void LogView::CopySubtree() {
  const LogNode* node = SelectedNode();
  if (node == nullptr) return;
  QString text;
  AppendOutline(*node, 0, text);
  QApplication::clipboard()->setText(text);
}

void LogView::CopyJson() {
  const LogNode* node = SelectedNode();
  if (node == nullptr) return;
  QByteArray json;
  AppendJson(*node, 0, json);
  json += '\n';
  QApplication::clipboard()->setText(QString::fromUtf8(json));
}

void LogView::ExpandSubtree(bool expand) {
  const QModelIndex index = tree_->selectionModel()->currentIndex();
  if (!index.isValid()) return;
  if (expand) {
    ExpandBelow(index);
    return;
  }
  // The rows expanded below it close with it, and their rows are let go of.
  tree_->collapse(index);
}

void LogView::ExpandBelow(const QModelIndex& top) {
  if (!model_->hasChildren(top)) return;
  // The view's own recursive expansion keeps every row below as expanded, leaves too, and the
  // view and the model pay an index for each: a million on a large log. Here only rows with
  // rows below are expanded, each noted while a layout of the whole view is pending (the view
  // then only notes it), so the view lays itself out once.
  tree_->setRootIndex(tree_->rootIndex());
  std::vector<QModelIndex> pending{top};
  while (!pending.empty()) {
    const QModelIndex at = pending.back();
    pending.pop_back();
    tree_->expand(at);
    for (int row = model_->rowCount(at) - 1; row >= 0; --row) {
      const QModelIndex child = model_->index(row, 0, at);
      if (model_->hasChildren(child)) pending.push_back(child);
    }
  }
}

bool LogView::eventFilter(QObject* watched, QEvent* event) {
  if (watched == tree_ && event->type() == QEvent::KeyPress &&
      static_cast<QKeyEvent*>(event)->key() == Qt::Key_Asterisk) {
    const QModelIndex current = tree_->currentIndex();
    if (current.isValid()) ExpandBelow(current);
    return true;
  }
  return QWidget::eventFilter(watched, event);
}

void LogView::ShowLogLinesTab() { tabs_->setCurrentWidget(logLines_); }

std::uint64_t LogView::FirstLogLineOfSelection() {
  const LogNode* node = SelectedNode();
  if (node == nullptr || document_.Path().isEmpty() || document_.IsCompressed()) return 0;
  const std::vector<LogSpan> spans = LogSpansOf(*node);
  if (spans.empty()) return 0;
  if (!lineIndex_) lineIndex_ = std::make_unique<LogLineIndex>(QFile::encodeName(document_.Path()).toStdString());
  return Overall(lineIndex_->Lines(spans)).first;
}

QMenu* LogView::RowContextMenu(const QPoint& position) {
  const QModelIndex index = tree_->indexAt(position);
  if (!index.isValid()) return nullptr;
  tree_->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
  const LogNode* node = model_->NodeAt(index);
  auto* menu = new QMenu(this);
  QAction* copy = menu->addAction(QStringLiteral("&Copy row"), this, &LogView::CopyRow);
  copy->setShortcut(QKeySequence(QKeySequence::Copy));
  menu->addAction(QStringLiteral("Copy &subtree as text"), this, &LogView::CopySubtree);
  menu->addAction(QStringLiteral("Copy as &JSON"), this, &LogView::CopyJson);
  menu->addSeparator();
  const bool hasRows = model_->hasChildren(index);
  menu->addAction(QStringLiteral("&Expand subtree"), this, [this] { ExpandSubtree(true); })->setEnabled(hasRows);
  menu->addAction(QStringLiteral("C&ollapse subtree"), this, [this] { ExpandSubtree(false); })->setEnabled(hasRows);
  menu->addSeparator();
  const bool hasLines = node != nullptr && !LogSpansOf(*node).empty();
  menu->addAction(QStringLiteral("Show &log lines"), this, &LogView::ShowLogLinesTab)->setEnabled(hasLines);
  menu->addAction(QStringLiteral("Open in text &editor at this line"), this, [this] {
        emit OpenInEditorRequested(FirstLogLineOfSelection());
      })->setEnabled(hasLines && !document_.IsCompressed());
  if (rowMenuExtender_ && node != nullptr) rowMenuExtender_(*menu, *node);
  return menu;
}

QMenu* LogView::TextContextMenu() {
  auto* menu = new QMenu(this);
  QAction* copy = menu->addAction(QStringLiteral("&Copy"), text_, [this] {
    if (text_->textCursor().hasSelection()) text_->copy();
    else text_->CopyToClipboard();
  });
  copy->setShortcut(QKeySequence(QKeySequence::Copy));
  menu->addAction(QStringLiteral("Select &all"), text_, &QPlainTextEdit::selectAll)
      ->setShortcut(QKeySequence(QKeySequence::SelectAll));
  menu->addSeparator();
  menu->addAction(QStringLiteral("&Find..."), this, &LogView::OpenFindBar)
      ->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_F));
  return menu;
}

QMenu* LogView::LogLinesContextMenu() {
  auto* menu = new QMenu(this);
  menu->addAction(QStringLiteral("&Copy"), logLines_, [this] {
        if (logLines_->textCursor().hasSelection()) logLines_->copy();
        else logLines_->CopyToClipboard();
      })->setShortcut(QKeySequence(QKeySequence::Copy));
  menu->addAction(QStringLiteral("Select &all"), logLines_, &QPlainTextEdit::selectAll)
      ->setShortcut(QKeySequence(QKeySequence::SelectAll));
  menu->addSeparator();
  const std::uint64_t line = logLines_->LineNumberOf(0);
  QAction* open = menu->addAction(line != 0 ? QStringLiteral("Open in text &editor at line %1").arg(line)
                                            : QStringLiteral("Open in text &editor"),
                                  this, [this, line] { emit OpenInEditorRequested(line); });
  open->setEnabled(line != 0);
  return menu;
}

}  // namespace quillon
