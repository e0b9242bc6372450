// The payload table ties a kind's line text, the class that reads it and the marker a writer
// puts on the line; a saved log reads back only while the three agree.
#include <gtest/gtest.h>

#include <string>

#include "ikev2/V2Payloads.h"
#include "tests/ikev2/V2TestLogs.h"

namespace quillon {
namespace {

TEST(V2PayloadTableTest, MarkersReadBackAsTheirKindAndClass) {
  for (const V2PayloadType& row : PayloadTypes()) {
    const std::string line = "<Payload " + std::string(row.marker) + ">";
    EXPECT_EQ(ClassifyPayloadLine(line), row.kind) << line;
    const auto node = v2test::ReadOnePayload(line + "\n</Payload>\n");
    ASSERT_NE(node, nullptr) << line;
    EXPECT_EQ(PayloadTypeOf(*node), &row) << line;
  }
  const auto plain = v2test::ReadOnePayload("<Payload Type=\"Nonce\">\n</Payload>\n");
  EXPECT_EQ(PayloadTypeOf(*plain), nullptr);
}

}  // namespace
}  // namespace quillon
