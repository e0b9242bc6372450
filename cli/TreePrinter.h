// The renderings of quillon-cli: the visible tree as indented text or as JSON, and the
// load statistics. Scripts read these formats: keep them stable.
#pragma once

#include <cstddef>
#include <string>
#include <unordered_set>
#include <vector>

#include "model/ByteSink.h"
#include "model/LogFile.h"
#include "model/LogLines.h"
#include "model/TreeSearch.h"

namespace quillon::cli {

// What --find leaves of the tree: the matching nodes and the nodes on the way to them.
struct FindSelection {
  std::unordered_set<const LogNode*> matches;
  std::unordered_set<const LogNode*> shown;  // the matches and their ancestors
};

// The nodes that match `text` (captions, and detail texts unless keysOnly) and their ancestors.
FindSelection SelectMatches(const LogFile& root, const std::string& text, bool keysOnly);
FindSelection SelectMatches(const LogFile& root, const std::string& text, const SearchOptions& options);

struct PrintOptions {
  bool json = false;
  bool texts = false;
  // Print only the selected nodes (the root always); JSON nodes then say whether they match.
  const FindSelection* find = nullptr;
};

// Output is handed to the sink in blocks of about this size while the tree is walked, so that
// printing a large log needs little memory beyond the tree.
inline constexpr std::size_t kPrintBlock = 64 * 1024;

// One node per line, two spaces of indent per depth, then the caption; with texts, each line
// of the node's detail text follows, indented by the node's indent plus "  | ". The output is
// meant for a terminal: control bytes of captions and texts (other than tab) are printed as
// visible escapes ("\x1b"), never as themselves. False when the sink failed (the walk stops).
bool WriteTextTree(const LogFile& root, const PrintOptions& options, ByteSink& sink);
std::string TextTree(const LogFile& root, const PrintOptions& options);

// One JSON document: each node {"name", "caption", "complete", "icon", "children"}; with
// texts, "text" holding the detail text exactly; with a find selection, "match": true or false;
// given the path of the file the tree was loaded from, each packet and negotiation "lines":
// [first, last], the 1-based lines of the file it was read from. Log bytes are taken as code
// points 0-255. JSON keeps every text exactly (control bytes as \u escapes). False when the
// sink failed.
bool WriteJsonTree(const LogFile& root, const PrintOptions& options, ByteSink& sink, const std::string& logPath = {});
// The same with the lines counted in the bytes the tree was read from (null: no "lines").
bool WriteJsonTree(const LogFile& root, const PrintOptions& options, ByteSink& sink, LogLineIndex* lines);
std::string JsonTree(const LogFile& root, const PrintOptions& options, const std::string& logPath = {});

// "peers: N", "tunnels: N", "negotiations: N (failed: N)", "packets: N", "payloads: N" and the
// load time line.
std::string StatsText(const LogFile& root, const std::string& loadTimeText);

// The negotiations a peer shows, each with the shown tunnel it stands in (null when it stands
// in place of a tunnel without addresses).
struct ShownNegotiation {
  const LogNode* tunnel;
  const LogNode* exchange;
};
std::vector<ShownNegotiation> ShownNegotiations(const LogNode& peer);

// A followed log's line for a new or changed negotiation: "PEER > TUNNEL > CAPTION" (the tunnel
// part only when a tunnel is shown), or with `json` one object {"peer", "tunnel" (null when none
// is shown), "caption", "complete", "icon"}. No line end.
std::string FollowLine(const LogNode& peer, const LogNode* tunnel, const LogNode& exchange, bool json);

// Appends a failed negotiation's `, "reason": {...}` member: who rejected it ("peer", "local
// host" or null), the notification's name (or null) and the transforms not chosen.
void AppendJsonReason(const LogNode& node, std::string& out);

// Single-byte log text as UTF-8 (each byte is the code point of the same value).
std::string Latin1ToUtf8(std::string_view text);

}  // namespace quillon::cli
