// The block table: the reader's keyword test, the chain's dispatch and the payload construction
// all read it, so a row that disagrees with itself (a code out of place, a keyword the filter
// turns away, a payload type given twice) breaks every log that holds the block.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "ikev1/log/DebugLogReader.h"
#include "ikev1/payloads/Dictionaries.h"
#include "ikev1/payloads/PayloadFactory.h"

namespace quillon {
namespace {

TEST(PayloadBlockTableTest, KeywordsReadAsTheirRowsAndNearMissesAsNothing) {
  std::set<std::uint32_t> payloadTypes;
  for (const PayloadBlock& row : PayloadBlocks()) {
    const std::string keyword(row.keyword);
    EXPECT_EQ(DebugLogReader::BlockKeywordCode(keyword), row.code) << keyword;
    EXPECT_EQ(PayloadBlockFor(row.code), &row) << keyword;
    std::string upper = keyword;
    upper[0] = static_cast<char>(upper[0] ^ 0x20);
    for (const std::string& miss : {keyword.substr(0, keyword.size() - 1), keyword + ":", upper, "x" + keyword})
      EXPECT_EQ(BlockCodeOf(miss), -1) << miss;
    // A payload row stands for one ISAKMP payload type of its own; a data block for none.
    if (row.construct != nullptr) {
      EXPECT_TRUE(payloadTypes.insert(row.payloadType).second) << keyword;
      EXPECT_NE(PayloadTypeName(row.payloadType), "not recognized") << keyword;
    } else {
      EXPECT_EQ(row.payloadType, 0u) << keyword;
    }
  }
  EXPECT_EQ(PayloadBlockFor(-1), nullptr);
  EXPECT_EQ(PayloadBlockFor(kBlockCodeCount), nullptr);
  EXPECT_EQ(PayloadConstructorFor(kBlockCodeCount), nullptr);
}

TEST(PayloadBlockTableTest, EveryPayloadRowBuildsItsNodeFromAnEmptyBlock) {
  // A block cut off right after its keyword still makes its node (with empty fields); a data
  // block makes none.
  for (const PayloadBlock& row : PayloadBlocks()) {
    for (const bool created : {false, true}) {
      auto reader = DebugLogReader::FromText("\n#####\n");
      const auto node = CreatePayload(row.code, reader, PayloadContext{created, 32, nullptr});
      EXPECT_EQ(node != nullptr, row.construct != nullptr) << row.keyword;
    }
  }
}

}  // namespace
}  // namespace quillon
