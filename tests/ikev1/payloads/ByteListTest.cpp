#include "ikev1/payloads/ByteList.h"

#include <gtest/gtest.h>

#include <string>

namespace quillon {
namespace {

ByteList Sequence(std::uint32_t count) {
  ByteList list;
  for (std::uint32_t i = 0; i < count; ++i) list.push_back(i);
  return list;
}

TEST(ByteListTest, NumberTextPadsOnlySingleHexDigits) {
  // An unreadable field prints as the full 32-bit value, without sign or prefix.
  struct Case { std::uint32_t value; int base; const char* text; };
  for (const Case& c : {Case{0, 16, "00"}, Case{5, 16, "05"}, Case{0xab, 16, "ab"}, Case{0x123, 16, "123"},
                        Case{0, 10, "0"}, Case{7, 10, "7"}, Case{10, 10, "10"}, Case{0xFFFFFFFFu, 16, "ffffffff"},
                        Case{0xFFFFFFFFu, 10, "4294967295"}})
    EXPECT_EQ(NumberText(c.value, c.base), c.text) << c.value << " base " << c.base;
}

TEST(ByteListTest, ValueIsBigEndianAndWraps) {
  EXPECT_EQ(ByteListValue({}), 0u);
  EXPECT_EQ(ByteListValue({0x00, 0x18}), 24u);
  // Only the last four bytes of a longer list survive (an eight-byte cookie's tail).
  EXPECT_EQ(ByteListValue({1, 2, 3, 4, 5, 6, 7, 8}), 0x05060708u);
  // An element wider than a byte (a four-digit token) is added with its full value.
  EXPECT_EQ(ByteListValue({0x1234, 0x56}), 0x123456u);
}

// Byte lists are dumped in place from a table of digit pairs: every layout, at the lengths where
// lines break (fifteen elements a line; from sixteen on every line indented by two blanks) and
// cookies split (sixteen unspaced elements read as two cookies), reads as element after element
// would. A key exchange dump runs to hundreds of elements, some wider than a byte.
TEST(ByteListTest, ByteDumpsOfEveryLayoutAndLength) {
  for (const std::size_t n : {0u, 1u, 8u, 14u, 15u, 16u, 17u, 30u, 31u, 46u, 256u, 600u}) {
    for (const bool wrap : {false, true}) {
      for (const bool spaced : {false, true}) {
        const auto value = [n](std::size_t i) { return static_cast<std::uint32_t>(n == 600 ? i : i * 37 % 256); };
        std::string expected = wrap && n > 15 ? "  " : "";
        ByteList list;
        for (std::size_t i = 0; i < n; ++i) {
          if (wrap && i > 0 && i % 15 == 0) expected += "\r\n  ";
          if (!spaced && n == 16 && i == 8) expected += "  ";
          expected += NumberText(value(i), 16) + (spaced ? " " : "");
          list.push_back(value(i));
        }
        std::string out = "x";
        AppendHexText(out, list, 16, wrap, spaced);
        EXPECT_EQ(out, "x" + expected) << n << " wrap " << wrap << " spaced " << spaced;
        EXPECT_EQ(HexText(list, 16, wrap, spaced), expected);
      }
    }
  }
  EXPECT_EQ(WrappedHex(Sequence(16)), "  00 01 02 03 04 05 06 07 08 09 0a 0b 0c 0d 0e \r\n  0f ");
  EXPECT_EQ(UnspacedHex(Sequence(16)), "0001020304050607  08090a0b0c0d0e0f");
}

TEST(ByteListTest, WideElementsAndOtherBases) {
  EXPECT_EQ(SpacedHex({0x12, 0x1234, 0x5}), "12 1234 05 ");
  EXPECT_EQ(HexText({10, 255}, 10, false, true), "10 255 ");
  EXPECT_EQ(SpacedHex({}), "");
  EXPECT_EQ(WrappedHex({}), "");

  std::string out = "Length: ";
  AppendHexText(out, {0x00, 0x18}, 16, false, true);
  AppendNumberText(out, 24, 10);
  EXPECT_EQ(out, "Length: 00 18 24");
}

// Lists are stored a byte an element until a wider token arrives; both forms must read, copy
// and compare alike.
TEST(ByteListTest, ByteAndWideListsReadCopyAndCompareAlike) {
  ByteList list = Sequence(20);  // beyond the inline room of short lists
  list.push_back(0x1234);        // widens every element
  list.push_back(7);
  ASSERT_EQ(list.size(), 22u);
  EXPECT_EQ(list[19], 19u);
  EXPECT_EQ(list[20], 0x1234u);
  EXPECT_EQ(list.back(), 7u);

  ByteList copy = list;
  EXPECT_EQ(copy, list);
  copy.push_back(1);
  EXPECT_NE(copy, list);
  EXPECT_EQ(list.size(), 22u);  // the copy owns its own elements

  const ByteList narrow{1, 2, 3};
  ByteList widened{0x100};
  widened.clear();
  for (std::uint32_t v : narrow) widened.push_back(v);
  EXPECT_EQ(widened, narrow);
  EXPECT_EQ(ByteList(3, 0xff), (ByteList{0xff, 0xff, 0xff}));
  EXPECT_EQ(ByteList(narrow.begin() + 1, narrow.end()), (ByteList{2, 3}));
  EXPECT_EQ(ByteListValue({0x1, 0x0, 0x0}), 0x10000u);
}

}  // namespace
}  // namespace quillon
