#include "ikev2/LineScan.h"
#include "model/NodeArena.h"

#include <gtest/gtest.h>

#include <optional>
#include <stdexcept>
#include <string>

namespace quillon {
namespace {

TEST(V2LineScan, StripTokenRemovesBlanksEvenWhenTheTokenIsMissing) {
  std::string line = " \t<MsgID>1</MsgID> \t";
  EXPECT_TRUE(StripToken(line, "<MsgID>", true));
  EXPECT_TRUE(StripToken(line, "</MsgID>", false));  // blanks after the closing tag are fine
  EXPECT_EQ(line, "1");

  line = "  <peerIP>x  ";
  EXPECT_FALSE(StripToken(line, "</peerIP>", false));
  EXPECT_EQ(line, "  <peerIP>x");
  EXPECT_FALSE(StripToken(line, "<Message ", true));
  EXPECT_EQ(line, "<peerIP>x");

  // A token longer than the text fails without reading past it.
  line = " <a";
  EXPECT_FALSE(StripToken(line, "<arrivalTime>", true));
  EXPECT_FALSE(StripToken(line, "</arrivalTime>", false));
  EXPECT_EQ(line, "<a");
  for (const bool atFront : {true, false}) {
    for (const char* blanks : {" ", "   "}) {
      line = blanks;
      EXPECT_FALSE(StripToken(line, "x", atFront));
      EXPECT_TRUE(line.empty()) << atFront << " '" << blanks << "'";
    }
  }
}

TEST(V2LineScan, ParseAttributesReadsPairsUpToTheFirstIncompleteOne) {
  const auto parse = [](const char* text) {
    AttributeMap attributes;
    ParseAttributes(text, attributes);
    return attributes;
  };
  EXPECT_EQ(parse(" final_status=\"success\" Type=\"Initial\"\tserial=\"3\" Type=\"Again\">"),
            (AttributeMap{{"final_status", "success"}, {"Type", "Again"}, {"serial", "3"}}));
  EXPECT_EQ(parse("a=\"1\" b=\"unterminated"), (AttributeMap{{"a", "1"}}));
  // "dangling=": the text ends where the quote should be.
  for (const char* text : {"dangling=", "", "no pairs here>"}) EXPECT_TRUE(parse(text).empty()) << text;
}

TEST(V2LineScan, ParseElementTakesOneElementPerLine) {
  const struct {
    const char* line;
    const char* tag;
    const char* value;
  } read[] = {
      {"\t\t<initSPI>4f1a9c22</initSPI>  ", "initSPI", "4f1a9c22"},
      {"<Type>A</Type><Type>B</Type><Type>C</Type>", "Type", "A, B, C"},
      {"<a>x</a>y</a><a>z</a>", "a", "x</a>y, z"},  // only a closing tag right before an opening one joins
      {"<Value></Value>", "Value", ""},
  };
  for (const auto& r : read) {
    auto element = ParseElement(r.line);
    ASSERT_TRUE(element) << r.line;
    EXPECT_EQ(element->tag, r.tag);
    EXPECT_EQ(element->value, r.value);
  }
  // Empty tag, text before the tag, wrong closing tag, text after it, no element at all.
  for (const char* line : {"<>x</>", "x<a>1</a>", "<a>1</b>", "<a>1</a> trailing", "<Message Response=\"No\">",
                           "</Exchange>", "<", ""})
    EXPECT_FALSE(ParseElement(line)) << line;
}

TEST(V2LineScan, AttributeMapKeepsKeysSortedAndValuesIntactAcrossOverwrites) {
  AttributeMap attributes;
  attributes.Set("b", "long first value");
  attributes.Set("a", "1");
  attributes.Set("b", "short");                          // fits where the old value stood
  attributes.Set("a", "a value longer than the first");  // does not
  EXPECT_EQ(attributes.Touch("c"), "");                  // inserted empty, listed from now on
  EXPECT_EQ(attributes, (AttributeMap{{"a", "a value longer than the first"}, {"b", "short"}, {"c", ""}}));

  // A value or key taken from the map itself survives the text growing under it.
  attributes.Set("d", attributes.Get("a"));
  attributes.Set(attributes.Get("b"), attributes.Get("d"));
  EXPECT_EQ(attributes.Get("d"), "a value longer than the first");
  EXPECT_EQ(attributes.Get("short"), "a value longer than the first");
  EXPECT_EQ(attributes.Get("missing"), "");
  EXPECT_FALSE(attributes.contains("missing"));
  EXPECT_THROW((void)attributes.at("missing"), std::out_of_range);

  std::string keys;
  for (const auto& [key, value] : attributes) keys += std::string(key) + ",";
  EXPECT_EQ(keys, "a,b,c,d,short,");

  // Short maps keep their entries small; a long name or a long text widens them, keeping
  // every name and value, whatever step crosses the limit.
  const std::string longKey(300, 'k'), longValue(70000, 'v');
  for (const auto& [key, value] : {std::pair<std::string, std::string>{longKey, "x"}, {"e", longValue},
                                   {"a", longValue}}) {
    AttributeMap grown = attributes;
    grown.Set(key, value);
    grown.Set("zz", "last");
    EXPECT_EQ(grown.Get(key), value);
    EXPECT_EQ(grown.Get("zz"), "last");
    EXPECT_EQ(grown.Get("short"), "a value longer than the first");
    EXPECT_EQ(grown.Get("c"), "");
    EXPECT_EQ(grown.size(), attributes.size() + (attributes.contains(key) ? 1u : 2u));
  }
}

TEST(V2LineScan, AMapReadIntoAnArenaGrowsThereAndCopiesOutOfIt) {
  std::optional<AttributeMap> copy;
  std::optional<PackedTexts<2>> texts;
  {
    NodeArena arena;
    ArenaScope scope(&arena);
    AttributeMap read;
    std::string expected;
    for (int i = 0; i < 40; ++i) read.Set("key" + std::to_string(100 + i), std::string(static_cast<std::size_t>(i), 'v'));
    read.ShrinkToFit();
    PackedTexts<2> packed;
    packed.Set(1, std::string(300, 't'));
    packed.ShrinkToFit();
    // Maps of the same attributes share one block once read; a change to one is its own,
    // whether the new value fits where the old one stood or not.
    AttributeMap maps[3];
    for (AttributeMap& map : maps) {
      map.Set("encr", "AES-CBC-256");
      map.Set("prf", "HMAC-SHA256");
      map.ShrinkToFit();
    }
    maps[1].Set("encr", "3DES");
    maps[2].Set("prf", "HMAC-SHA384-and-longer");
    EXPECT_EQ(maps[0], (AttributeMap{{"encr", "AES-CBC-256"}, {"prf", "HMAC-SHA256"}}));
    EXPECT_EQ(maps[1], (AttributeMap{{"encr", "3DES"}, {"prf", "HMAC-SHA256"}}));
    EXPECT_EQ(maps[2], (AttributeMap{{"encr", "AES-CBC-256"}, {"prf", "HMAC-SHA384-and-longer"}}));
    // Copies made after the load, outside its scope, live on the heap and outlast the arena.
    ArenaScope outside(nullptr);
    copy.emplace(read);
    texts.emplace(packed);
  }
  ASSERT_EQ(copy->size(), 40u);
  EXPECT_EQ(copy->Get("key139"), std::string(39, 'v'));
  EXPECT_EQ(texts->Get(1), std::string(300, 't'));
}

TEST(V2LineScan, TakeElementPairsLabelTabsAndShortenTextBoundaries) {
  AttributeMap attributes;
  TakeElementPairs(" <proto>0</proto> <ports>0-65535</ports><range>10.1.1.0 - 10.1.1.255", attributes);
  EXPECT_EQ(attributes, (AttributeMap{{"proto", "0"}, {"ports", "0-65535"}}));  // stops at the incomplete pair

  EXPECT_EQ(LabelTabs("1234567"), "\t\t\t");
  EXPECT_EQ(LabelTabs("12345678"), "\t\t");
  EXPECT_EQ(LabelTabs("123456789012345"), "\t\t");
  EXPECT_EQ(LabelTabs("1234567890123456"), "\t");
  EXPECT_EQ(ShortenText("1234567890123456789"), "1234567890123456789");
  EXPECT_EQ(ShortenText("12345678901234567890"), "1234567890123456...");
  EXPECT_EQ(ShortenText(""), "");
}

TEST(V2LineScan, PackedTextsKeepEachFieldApartWhateverTheOrderOfChanges) {
  PackedTexts<4> texts;
  texts.Set(2, "third");
  texts.Set(0, "first, and longer than the block's first room of ninety-six bytes will hold: " + std::string(40, 'x'));
  texts.Set(3, "");
  texts.Set(1, "second");
  texts.Set(0, "1st");  // shrinking a field moves the ones after it down
  texts.ShrinkToFit();
  texts.Set(3, texts.Get(1));  // a field's own text copied into another survives the move
  EXPECT_EQ(texts.Get(0), "1st");
  EXPECT_EQ(texts.Get(1), "second");
  EXPECT_EQ(texts.Get(2), "third");
  EXPECT_EQ(texts.Get(3), "second");
  texts.Set(1, texts.Get(1).substr(3));
  EXPECT_EQ(texts.Get(1), "ond");
  EXPECT_EQ(texts.Get(2), "third");
}

}  // namespace
}  // namespace quillon
