#include "cli/TreePrinter.h"

#include <cstddef>
#include <cstdio>
#include <unordered_map>

#include "model/LogLines.h"
#include "model/Summaries.h"
#include "model/TreeCounts.h"
#include "model/TreeRules.h"
#include "model/TreeSearch.h"
#include "model/VisibleText.h"

namespace quillon::cli {

namespace {

// The log's texts are single-byte (Latin-1): one character in UTF-8.
void AppendUtf8(unsigned char c, std::string& out) {
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
  } else {
    out.push_back(static_cast<char>(0xC0 | (c >> 6)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

}  // namespace

std::string Latin1ToUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char ch : text) AppendUtf8(static_cast<unsigned char>(ch), out);
  return out;
}

FindSelection SelectMatches(const LogFile& root, const std::string& text, bool keysOnly) {
  SearchOptions options;
  options.keysOnly = keysOnly;
  return SelectMatches(root, text, options);
}

FindSelection SelectMatches(const LogFile& root, const std::string& text, const SearchOptions& options) {
  FindSelection selection;
  for (const LogNode* match : AllMatches(root, text, options)) {
    selection.matches.insert(match);
    // Hidden levels (address-less tunnels) join the set too; they are never printed.
    for (const LogNode* up = match; up != nullptr && selection.shown.insert(up).second;) up = up->Parent();
  }
  selection.shown.insert(&root);
  return selection;
}

namespace {

// The children to print: the shown ones, or with a find selection those it selected.
std::vector<LogNode*> PrintedChildren(const LogNode& node, const PrintOptions& options) {
  std::vector<LogNode*> children = VisibleChildren(node);
  if (options.find != nullptr)
    std::erase_if(children, [&options](const LogNode* child) { return !options.find->shown.contains(child); });
  return children;
}

// A caption or text line for a terminal: control bytes as visible escapes, the rest as UTF-8.
void AppendTerminalLine(std::string_view line, std::string& out) {
  for (std::size_t i = 0; i < line.size(); ++i) {
    const auto c = static_cast<unsigned char>(line[i]);
    if (IsHiddenControl(c)) {
      AppendVisibleText(line.substr(i, 1), out);
    } else if (c < 0x80) {
      out.push_back(line[i]);
    } else {
      out.push_back(static_cast<char>(0xC0 | (c >> 6)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
}

// Appends the node and its printed descendants, handing the text on as it grows. False once a
// write failed: the walk then stops.
bool WriteTextNode(const LogNode& node, int depth, const PrintOptions& options, BufferedSink& sink) {
  const std::string indent(static_cast<std::size_t>(depth) * 2, ' ');
  std::string& out = sink.Buffer();
  out += indent;
  AppendTerminalLine(node.Caption(), out);
  out += '\n';
  if (options.texts) {
    const std::string text = node.DetailText();
    std::size_t start = 0;
    while (start < text.size()) {
      std::size_t end = text.find('\n', start);
      if (end == std::string::npos) end = text.size();
      std::string_view line(text.data() + start, end - start);
      if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
      out += indent;
      out += "  | ";
      AppendTerminalLine(line, out);
      out += '\n';
      start = end + 1;
    }
  }
  if (!sink.Written()) return false;
  for (LogNode* child : PrintedChildren(node, options))
    if (!WriteTextNode(*child, depth + 1, options, sink)) return false;
  return true;
}

void AppendJsonString(std::string_view text, std::string& out) {
  out.push_back('"');
  for (char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        // C1 controls too: U+009B is a terminal's one-byte CSI where a viewer of the JSON
        // decodes it.
        if (c < 0x20 || (c >= 0x7F && c <= 0x9F)) {
          char escape[8];
          std::snprintf(escape, sizeof escape, "\\u%04x", c);
          out += escape;
        } else {
          AppendUtf8(c, out);
        }
    }
  }
  out.push_back('"');
}

using LineMap = std::unordered_map<const LogNode*, LineRange>;

void CollectSpans(const LogNode& node, std::vector<const LogNode*>& nodes, std::vector<std::size_t>& firsts,
                  std::vector<LogSpan>& spans) {
  const std::size_t before = spans.size();
  node.AppendLogSpans(spans);
  if (spans.size() != before) {
    nodes.push_back(&node);
    firsts.push_back(before);
  }
  for (const LogNode* child : VisibleChildren(node)) CollectSpans(*child, nodes, firsts, spans);
}

// The lines of every shown node that has spans, counted in one pass over the file.
LineMap LinesOfTree(const LogNode& root, LogLineIndex& index) {
  LineMap lines;
  if (!index.IsOpen()) return lines;
  std::vector<const LogNode*> nodes;
  std::vector<std::size_t> firsts;
  std::vector<LogSpan> spans;
  CollectSpans(root, nodes, firsts, spans);
  const std::vector<LineRange> ranges = index.Lines(spans);
  for (std::size_t i = 0; i < nodes.size(); ++i) {
    const std::size_t end = i + 1 < nodes.size() ? firsts[i + 1] : ranges.size();
    const std::vector<LineRange> own(ranges.begin() + static_cast<std::ptrdiff_t>(firsts[i]),
                                     ranges.begin() + static_cast<std::ptrdiff_t>(end));
    lines.emplace(nodes[i], Overall(own));
  }
  return lines;
}

bool WriteJsonNode(const LogNode& node, const PrintOptions& options, const LineMap& lines, int depth,
                   BufferedSink& sink) {
  const std::string indent(static_cast<std::size_t>(depth) * 2, ' ');
  std::string& out = sink.Buffer();
  out += indent + "{\"name\": ";
  AppendJsonString(node.Name(), out);
  out += ", \"caption\": ";
  AppendJsonString(node.Caption(), out);
  out += node.IsComplete() ? ", \"complete\": true" : ", \"complete\": false";
  out += ", \"icon\": " + std::to_string(StateIconIndex(node));
  if (options.find != nullptr) out += options.find->matches.contains(&node) ? ", \"match\": true" : ", \"match\": false";
  if (const auto range = lines.find(&node); range != lines.end())
    out += ", \"lines\": [" + std::to_string(range->second.first) + ", " + std::to_string(range->second.last) + "]";
  if (node.HasState(kStateFailed)) AppendJsonReason(node, out);
  if (options.texts) {
    out += ", \"text\": ";
    AppendJsonString(node.DetailText(), out);
  }
  const std::vector<LogNode*> children = PrintedChildren(node, options);
  if (children.empty()) {
    out += ", \"children\": []}";
    return sink.Written();
  }
  out += ", \"children\": [\n";
  if (!sink.Written()) return false;
  for (std::size_t i = 0; i < children.size(); ++i) {
    if (!WriteJsonNode(*children[i], options, lines, depth + 1, sink)) return false;
    sink.Buffer() += i + 1 < children.size() ? ",\n" : "\n";
  }
  sink.Buffer() += indent + "]}";
  return sink.Written();
}

}  // namespace

bool WriteTextTree(const LogFile& root, const PrintOptions& options, ByteSink& sink) {
  BufferedSink buffered(sink, kPrintBlock);
  return WriteTextNode(root, 0, options, buffered) && buffered.Flush();
}

bool WriteJsonTree(const LogFile& root, const PrintOptions& options, ByteSink& sink, const std::string& logPath) {
  if (logPath.empty()) return WriteJsonTree(root, options, sink, nullptr);
  LogLineIndex index(logPath);
  return WriteJsonTree(root, options, sink, &index);
}

bool WriteJsonTree(const LogFile& root, const PrintOptions& options, ByteSink& sink, LogLineIndex* index) {
  const LineMap lines = index == nullptr ? LineMap() : LinesOfTree(root, *index);
  BufferedSink buffered(sink, kPrintBlock);
  if (!WriteJsonNode(root, options, lines, 0, buffered)) return false;
  buffered.Buffer() += '\n';
  return buffered.Flush();
}

std::string TextTree(const LogFile& root, const PrintOptions& options) {
  StringSink sink;
  WriteTextTree(root, options, sink);
  return std::move(sink.text);
}

std::string JsonTree(const LogFile& root, const PrintOptions& options, const std::string& logPath) {
  StringSink sink;
  WriteJsonTree(root, options, sink, logPath);
  return std::move(sink.text);
}

std::string StatsText(const LogFile& root, const std::string& loadTimeText) {
  const TreeCounts counts = CountTree(root);
  std::string out;
  out += "peers: " + std::to_string(counts.peers) + "\n";
  out += "tunnels: " + std::to_string(counts.tunnels) + "\n";
  out += "negotiations: " + std::to_string(counts.negotiations) + " (failed: " + std::to_string(counts.failed) + ")\n";
  out += "packets: " + std::to_string(counts.packets) + "\n";
  out += "payloads: " + std::to_string(counts.payloads) + "\n";
  out += loadTimeText + "\n";
  return out;
}

std::vector<ShownNegotiation> ShownNegotiations(const LogNode& peer) {
  std::vector<ShownNegotiation> out;
  for (LogNode* child : VisibleChildren(peer)) {
    if (!child->IsTunnel()) {
      out.push_back({nullptr, child});
      continue;
    }
    for (LogNode* exchange : VisibleChildren(*child)) out.push_back({child, exchange});
  }
  return out;
}

// A failed negotiation's "reason": who rejected it with which notification (null when no
// answer came, or when the diagnosis has nothing to say about it) and the transforms not chosen.
void AppendJsonReason(const LogNode& node, std::string& out) {
  FailureReason reason;
  node.GetFailureReason(reason);
  out += ", \"reason\": {\"by\": ";
  switch (reason.by) {
    case FailureReason::By::kNobody: out += "null"; break;
    case FailureReason::By::kPeer: out += "\"peer\""; break;
    case FailureReason::By::kLocalHost: out += "\"local host\""; break;
  }
  out += ", \"notify\": ";
  if (reason.by == FailureReason::By::kNobody) out += "null";
  else AppendJsonString(reason.notify, out);
  out += ", \"not_chosen\": [";
  for (std::size_t i = 0; i < reason.notChosen.size(); ++i) {
    const FailureReason::NotChosen& transform = reason.notChosen[i];
    if (i != 0) out += ", ";
    out += "{\"proposal\": " + std::to_string(transform.proposal) + ", \"transform\": " +
           std::to_string(transform.transform) + ", \"name\": ";
    AppendJsonString(transform.name, out);
    out += ", \"reason\": ";
    AppendJsonString(transform.reason, out);
    out += '}';
  }
  out += "]}";
}

std::string FollowLine(const LogNode& peer, const LogNode* tunnel, const LogNode& exchange, bool json) {
  std::string out;
  if (!json) {
    // For a terminal, like the tree printout: a log's ESC or BEL must not drive it.
    AppendTerminalLine(peer.Caption(), out);
    if (tunnel != nullptr) {
      out += " > ";
      AppendTerminalLine(tunnel->Caption(), out);
    }
    out += " > ";
    AppendTerminalLine(exchange.Caption(), out);
    return out;
  }
  out = "{\"peer\": ";
  AppendJsonString(peer.Caption(), out);
  out += ", \"tunnel\": ";
  if (tunnel != nullptr) AppendJsonString(tunnel->Caption(), out);
  else out += "null";
  out += ", \"caption\": ";
  AppendJsonString(exchange.Caption(), out);
  out += std::string(", \"complete\": ") + (exchange.IsComplete() ? "true" : "false");
  out += ", \"icon\": " + std::to_string(StateIconIndex(exchange)) + "}";
  return out;
}

}  // namespace quillon::cli
