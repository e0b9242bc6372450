// Compares two trees as the viewer shows them: every node's name, caption, completeness, kind
// and state (which choose the icon) and detail text, and the children in order (compared before the node's
// own detail text, which may sum them up); with `sameLog` (both trees read from the same log
// text) also the stretches of the log each node was read from, which the viewer shows as its
// lines. The log root is compared too. Empty when the trees agree, else the path of the first node that differs and how.
#pragma once

#include <string>
#include <vector>

#include "model/LogNode.h"

namespace quillon::testing {

inline std::string FirstTreeDifference(const LogNode& got, const LogNode& want, bool sameLog = false) {
  auto differs = [&](const char* what, std::string_view g, std::string_view w) {
    return want.Path() + ": " + what + "\n  got:  " + std::string(g) + "\n  want: " + std::string(w);
  };
  if (got.Name() != want.Name()) return differs("name", got.Name(), want.Name());
  if (got.Caption() != want.Caption()) return differs("caption", got.Caption(), want.Caption());
  if (got.IsComplete() != want.IsComplete())
    return differs("completeness", got.IsComplete() ? "complete" : "incomplete",
                   want.IsComplete() ? "complete" : "incomplete");
  if (got.Kind() != want.Kind() || got.State() != want.State())
    return differs("kind or state", std::to_string(static_cast<int>(got.Kind())) + "/" + std::to_string(got.State()),
                   std::to_string(static_cast<int>(want.Kind())) + "/" + std::to_string(want.State()));
  // The children before the detail text: a summary differs because a node below it does.
  for (std::size_t i = 0; i < got.ChildCount() && i < want.ChildCount(); ++i) {
    std::string difference = FirstTreeDifference(*got.Child(i), *want.Child(i), sameLog);
    if (!difference.empty()) return difference;
  }
  if (got.ChildCount() != want.ChildCount())
    return differs("children", std::to_string(got.ChildCount()), std::to_string(want.ChildCount()));
  if (got.DetailText() != want.DetailText()) return differs("detail text", got.DetailText(), want.DetailText());
  if (!sameLog) return {};
  std::vector<LogSpan> gotSpans;
  std::vector<LogSpan> wantSpans;
  got.AppendLogSpans(gotSpans);
  want.AppendLogSpans(wantSpans);
  if (gotSpans != wantSpans) {
    const auto text = [](const std::vector<LogSpan>& spans) {
      std::string out;
      for (const LogSpan& span : spans) out += std::to_string(span.begin) + "-" + std::to_string(span.end) + " ";
      return out;
    };
    return differs("log stretches", text(gotSpans), text(wantSpans));
  }
  return {};
}

// The stretches of the log every node of the tree was read from, depth first.
inline std::string AllLogSpans(const LogNode& node) {
  std::vector<LogSpan> spans;
  node.AppendLogSpans(spans);
  std::string out;
  for (const LogSpan& span : spans) out += std::to_string(span.begin) + "-" + std::to_string(span.end) + " ";
  for (const auto& child : node.Children()) out += AllLogSpans(*child);
  return out;
}

}  // namespace quillon::testing
