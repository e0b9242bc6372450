// Find, Find Next and Find Previous over a log read by the product's loader: the order of the
// matches, where a search starts, and what happens at either end.
#include "model/TreeSearch.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "bench/LogGenerator.h"
#include "logs/OpenLog.h"
#include "model/LogLines.h"
#include "model/TreeRules.h"
#include "model/VisibleWalk.h"
#include "tests/ScratchDir.h"

namespace quillon {
namespace {

using Nodes = std::vector<const LogNode*>;

// The matches as a walk testing one shown node after another finds them.
void MatchesNodeByNode(const LogNode& node, const std::string& text, bool keysOnly, Nodes& out) {
  ForEachVisibleChild(node, [&](const LogNode& child) {
    if (NodeMatches(child, text, keysOnly)) out.push_back(&child);
    MatchesNodeByNode(child, text, keysOnly, out);
    return true;
  });
}

class TreeSearchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    OpenLogResult result = OpenLog((std::filesystem::path(QUILLON_SOURCE_DIR) / "examples" / "gateway-day.ilx").string());
    ASSERT_EQ(result.status, OpenLogResult::Status::kLoaded);
    root = std::move(result.log);
  }
  std::unique_ptr<LogFile> root;
  SearchState state;
};

// "NO-PROPOSAL-CHOSEN" is the caption of an informational exchange and of its notify payload,
// and stands in the detail texts of the failed main mode and of its peer (the failure reason).
TEST_F(TreeSearchTest, KeysOnlyTestsCaptionsAndOtherwiseDetailTextsToo) {
  const Nodes captions = AllMatches(*root, "NO-PROPOSAL-CHOSEN", true);
  const Nodes all = AllMatches(*root, "NO-PROPOSAL-CHOSEN", false);
  ASSERT_EQ(captions.size(), 2u);
  EXPECT_GT(all.size(), captions.size());
  for (const LogNode* node : captions) EXPECT_NE(node->Caption().find("NO-PROPOSAL-CHOSEN"), std::string::npos);
  EXPECT_EQ(all.front()->Name(), "203.0.113.77") << "a peer whose detail text holds the reason comes first";

  // A user name stands only in detail texts.
  EXPECT_FALSE(Find(state, *root, "kmiller", true, nullptr));
  EXPECT_TRUE(Find(state, *root, "kmiller", false, nullptr));
  EXPECT_EQ(state.currentItem->Caption().find("kmiller"), std::string::npos);
  EXPECT_NE(state.currentItem->DetailText().find("kmiller"), std::string::npos);
}

TEST(ContainsTextTest, CaseFoldsLatin1LettersOnlyWhenAsked) {
  struct Case {
    const char* text;
    const char* wanted;
    bool matchCase, found;
  };
  for (const Case& c : {Case{"Main Mode", "main mode", true, false}, Case{"Main Mode", "main mode", false, true},
                        Case{"NO-PROPOSAL", "no-prop", false, true}, Case{"a[b", "A{B", false, false},
                        Case{"\xC9t\xE9", "\xE9T\xC9", false, true}, Case{"\xD7", "\xF7", false, false},
                        Case{"ab", "abc", false, false}, Case{"x", "", false, true}})
    EXPECT_EQ(ContainsText(c.text, c.wanted, c.matchCase), c.found) << c.text << " / " << c.wanted;
}

// The gateway's own words stand only in the log's lines, between the packets' blocks: found
// with the log lines and, there, by the packet they follow and by its negotiation.
TEST_F(TreeSearchTest, LogLinesTooFindsTheGatewaysOwnWords) {
  const std::string path = (std::filesystem::path(QUILLON_SOURCE_DIR) / "examples" / "gateway-day.ilx").string();
  SearchOptions options;
  options.matchCase = false;
  EXPECT_TRUE(AllMatches(*root, "DOES NOT ACCEPT", options).empty());
  options.logLines = true;
  EXPECT_TRUE(AllMatches(*root, "DOES NOT ACCEPT", options).empty()) << "no file, no lines";
  options.logPath = path;
  const Nodes found = AllMatches(*root, "DOES NOT ACCEPT", options);
  ASSERT_FALSE(found.empty());
  for (const LogNode* node : found) EXPECT_FALSE(LogSpansOf(*node).empty());
  // Find and Find Next on two threads reach the same nodes in the same order.
  Nodes walked;
  for (bool more = Find(state, *root, "DOES NOT ACCEPT", options, nullptr); more; more = FindNext(state, *root))
    walked.push_back(state.currentItem);
  EXPECT_EQ(walked, found);
  options.matchCase = true;
  EXPECT_TRUE(AllMatches(*root, "DOES NOT ACCEPT", options).empty());
}

// The ends of a search; the order of the matches and the start points are the batch test's.
TEST_F(TreeSearchTest, EdgesOfFindNextAndFindPrevious) {
  EXPECT_FALSE(FindNext(state, *root)) << "nothing to repeat before a Find";
  EXPECT_EQ(FindPrevious(state, *root), FindPreviousResult::kNoCurrentItem) << "no Find yet";
  const Nodes matches = AllMatches(*root, "Delete", true);
  ASSERT_GE(matches.size(), 2u);
  ASSERT_TRUE(Find(state, *root, "Delete", true, root.get())) << "the root selected: from the top";
  EXPECT_EQ(state.currentItem, matches[0]);
  EXPECT_EQ(FindPrevious(state, *root), FindPreviousResult::kNotFound) << "from the first match";
  EXPECT_EQ(state.currentItem, matches[0]);
  while (FindNext(state, *root)) {
  }
  EXPECT_EQ(state.currentItem, matches.back()) << "past the last match the last stays current";

  // A Find that found nothing after the selected node leaves that node as the start point,
  // though it does not match: Find Previous goes back from it all the same.
  const LogNode* lastNode = AllMatches(*root, "", true).back();
  EXPECT_FALSE(Find(state, *root, "Main Mode", true, lastNode));
  ASSERT_EQ(FindPrevious(state, *root), FindPreviousResult::kFound);
  EXPECT_EQ(state.currentItem, AllMatches(*root, "Main Mode", true).back());
}

// Find, Find Next and Find Previous test the nodes in batches on two threads: on a log large
// enough for many batches they must meet the matches of the node-by-node walk in its order,
// including matches that stand only in detail texts at the end of the log.
TEST(TreeSearchBatchTest, FindsWhatTheNodeByNodeWalkFinds) {
  const std::filesystem::path path = testing::ScratchPath("search-batches.ilx");
  ASSERT_GT(bench::WriteDebugLog(path.string(), 2u << 20, 30), 0u);
  OpenLogResult result = OpenLog(path.string());
  ASSERT_EQ(result.status, OpenLogResult::Status::kLoaded);
  const LogFile& root = *result.log;
  Nodes shown;
  MatchesNodeByNode(root, "", true, shown);
  ASSERT_GT(shown.size(), 4000u);
  // The last header's initiator cookie line stands only in detail texts near the end.
  const LogNode* lastHeader = nullptr;
  for (const LogNode* node : shown)
    if (node->Name() == "Header") lastHeader = node;
  ASSERT_NE(lastHeader, nullptr);
  const std::string text = lastHeader->DetailText();
  const std::size_t at = text.find("InitCookie:");
  const std::string cookieLine = text.substr(at, text.find('\r', at) - at);

  for (const auto& [what, keysOnly] : {std::pair{cookieLine, false}, std::pair{std::string("Failed"), true},
                                        std::pair{std::string("Delete"), false}, std::pair{std::string("absent"), false}}) {
    SCOPED_TRACE(what);
    Nodes expected;
    MatchesNodeByNode(root, what, keysOnly, expected);
    EXPECT_EQ(AllMatches(root, what, keysOnly), expected);
    SearchState state;
    Nodes forward;
    for (bool more = Find(state, root, what, keysOnly, nullptr); more; more = FindNext(state, root))
      forward.push_back(state.currentItem);
    EXPECT_EQ(forward, expected);
    if (expected.empty()) continue;
    Nodes backward{state.currentItem};
    while (FindPrevious(state, root) == FindPreviousResult::kFound) backward.insert(backward.begin(), state.currentItem);
    EXPECT_EQ(backward, expected);

    // From start points that need not match, at any depth: the searching thread walks the
    // upper levels and hands the lower ones over with their subtrees, and a start point may lie
    // in such a subtree or be one of the upper rows.
    for (const std::size_t at : {std::size_t{0}, shown.size() / 3, shown.size() / 2 + 7, shown.size() - 1}) {
      const LogNode* start = shown[at];
      SCOPED_TRACE(at);
      const LogNode* after = nullptr;
      const LogNode* before = nullptr;
      for (std::size_t i = 0; i < shown.size(); ++i) {
        if (std::find(expected.begin(), expected.end(), shown[i]) == expected.end()) continue;
        if (i < at) before = shown[i];
        if (i > at && after == nullptr) after = shown[i];
      }
      SearchState from;
      EXPECT_EQ(Find(from, root, what, keysOnly, start), after != nullptr);
      if (after != nullptr) {
        EXPECT_EQ(from.currentItem, after);
      }
      from.currentItem = start;
      EXPECT_EQ(FindPrevious(from, root),
                before != nullptr ? FindPreviousResult::kFound : FindPreviousResult::kNotFound);
      if (before != nullptr) {
        EXPECT_EQ(from.currentItem, before);
      }
    }
  }
}

}  // namespace
}  // namespace quillon
