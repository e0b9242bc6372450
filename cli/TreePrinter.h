// The renderings of quillon-cli: the visible tree as indented text or as JSON, and the
// load statistics. Scripts read these formats: keep them stable.
#pragma once

#include <string>

#include "model/LogFile.h"

namespace quillon::cli {

struct PrintOptions {
  bool json = false;
  bool texts = false;
};

// One node per line, two spaces of indent per depth, then the caption; with texts, each line
// of the node's detail text follows, indented by the node's indent plus "  | ".
std::string TextTree(const LogFile& root, const PrintOptions& options);

// One JSON document: each node {"name", "caption", "complete", "icon", "children"} and, with
// texts, "text" holding the detail text exactly. Log bytes are taken as code points 0-255.
std::string JsonTree(const LogFile& root, const PrintOptions& options);

// "peers: N", "tunnels: N", "negotiations: N (failed: N)", "packets: N", "payloads: N" and the
// load time line.
std::string StatsText(const LogFile& root, const std::string& loadTimeText);

// Single-byte log text as UTF-8 (each byte is the code point of the same value).
std::string Latin1ToUtf8(std::string_view text);

}  // namespace quillon::cli
