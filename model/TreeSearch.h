// Find, Find Next and Find Previous: a walk of the shown tree in pre-order, below the log root
// (which is never tested), that tests each node's caption and, unless "keys only" is asked
// for, its detail text and, when asked, the lines of the log the node was read from (where the
// gateway's own plain-language messages are). The walk does not wrap around: after the last
// match it reports nothing.
//
// Detail texts are built when a node is tested and dropped at once: a search over a large log
// holds one text per testing thread at a time.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "model/LogNode.h"

namespace quillon {

class LogLineIndex;

// What a search tests besides the captions.
struct SearchOptions {
  bool keysOnly = false;  // captions only (and, with logLines, the log lines)
  // Letters compared as they stand; otherwise A-Z and the Latin-1 letters match either case.
  bool matchCase = true;
  // Also the lines of the log file each packet and negotiation was read from. Needs logPath,
  // the file the tree was read from as it is on disk (not a compressed one: the nodes' offsets
  // are in the text it holds).
  bool logLines = false;
  std::string logPath;
};

// Whether `text` holds `wanted`; without matchCase letters of either case match.
bool ContainsText(std::string_view text, std::string_view wanted, bool matchCase);

// Tests nodes against one text; one per thread (it keeps a scratch text and, for log lines, an
// open file of its own).
class NodeTester {
 public:
  NodeTester(std::string_view text, const SearchOptions& options);
  ~NodeTester();
  NodeTester(NodeTester&&) noexcept;
  NodeTester& operator=(NodeTester&&) = delete;
  NodeTester(const NodeTester&) = delete;
  NodeTester& operator=(const NodeTester&) = delete;
  bool Matches(const LogNode& node);

 private:
  std::string_view text_;
  const SearchOptions* options_;
  std::string scratch_;
  std::unique_ptr<LogLineIndex> lines_;
};

struct SearchState {
  std::string searchText;  // the text last entered
  bool keysOnly = false;   // captions only
  bool matchCase = true;
  bool logLines = false;   // the nodes' log lines too (from logPath)
  std::string logPath;
  // Where the next search starts and where the last match is; a node of the current tree or
  // none. Whoever changes the tree keeps this true (see IsShownBelow).
  const LogNode* currentItem = nullptr;
  std::string currentPath;  // Path() of currentItem (or of the match met last)
  bool found = false;
  bool skipping = false;      // passing over the nodes up to currentItem
  bool previousMode = false;  // looking for the last match before currentItem
  bool stopped = false;
  const LogNode* lastMatchBefore = nullptr;

  // The tree was replaced or narrowed and the nodes named here are gone: the next Find Next
  // starts at the top and Find Previous has nothing to go back from. The text stays.
  void ForgetNodes() {
    currentItem = nullptr;
    lastMatchBefore = nullptr;
  }
};

// Whether the node's caption (or, unless keysOnly, its detail text) contains the text.
bool NodeMatches(const LogNode& node, std::string_view text, bool keysOnly);
// The same, building the texts in `scratch` (a search testing many nodes reuses one buffer).
bool NodeMatches(const LogNode& node, std::string_view text, bool keysOnly, std::string& scratch);


// Find: the first match after `selected` (from the top when nothing or the root is selected).
// The state keeps the text, keysOnly and, when found, the match as currentItem.
bool Find(SearchState& state, const LogNode& root, std::string text, bool keysOnly, const LogNode* selected);
// The same with every option (matchCase, log lines).
bool Find(SearchState& state, const LogNode& root, std::string text, const SearchOptions& options,
          const LogNode* selected);
// Find Next: the first match after currentItem, from the top when there is none (the tree was
// read again since); nothing before the first Find.
bool FindNext(SearchState& state, const LogNode& root);

enum class FindPreviousResult { kNoCurrentItem, kFound, kNotFound };
// Find Previous: the last match before currentItem; kNoCurrentItem when no Find set one.
FindPreviousResult FindPrevious(SearchState& state, const LogNode& root);

// Every matching node in the order Find Next reaches them (quillon-cli's --find), tested on
// two threads.
std::vector<const LogNode*> AllMatches(const LogNode& root, std::string_view text, bool keysOnly);
std::vector<const LogNode*> AllMatches(const LogNode& root, std::string_view text, const SearchOptions& options);

// Whether `node` is one of the nodes shown below `root` (or `root` itself). Compares addresses
// only, so it may be asked about a node that a narrowing has destroyed since: the narrowing
// creates no node that could take its place.
bool IsShownBelow(const LogNode& root, const LogNode* node);

}  // namespace quillon
