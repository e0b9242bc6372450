#include "ikev1/payloads/Dictionaries.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The name tables the payload texts are built from. The names themselves show in the payload
// tests' texts and the sample logs' golden output; here only where each table ends: the last
// named value, the first one beyond, gaps, codes far up and an unreadable field (0xFFFFFFFF),
// and the fallback each of them gives.
namespace quillon {
namespace {

constexpr std::uint32_t kUnreadable = 0xFFFFFFFF;  // what the reader yields for a bad hex token

using Lookup = std::string (*)(std::uint32_t);
#define FN(fn) #fn, [](std::uint32_t v) { return std::string(fn(v)); }

TEST(DictionariesTest, TableEdgesAndFallbacks) {
  // Named values (the last of each run), and values that give the fallback: the first beyond
  // each run, gaps, and an unreadable field.
  struct Table {
    const char* function;
    Lookup lookup;
    const char* fallback;
    std::vector<std::uint32_t> named, unnamed;
  };
  const Table tables[] = {
      {FN(PayloadTypeName), "not recognized", {0, 14, 128, 130, 131}, {15, 129, 132}},
      {FN(ProtocolCaptionName), "Unknown Protocol ID!", {0, 4}, {5}},
      {FN(PhaseOneAttributeLabel), "Unknown Attribute", {16}, {17}},
      {FN(EncryptionAlgorithmName), "Undefined Encryption Algorithm", {7}, {8}},
      {FN(HashAlgorithmName), "Undefined Hash Algorithm", {1, 6, 9}, {0, 7, 8, 10}},
      {FN(AuthenticationMethodName), "Undefined Authentication Algorithm", {5, 128, 64221, 64224}, {6, 129, 64220, 64225}},
      {FN(GroupDescriptionName), "Undefined Group Description", {1, 5, 14, 20}, {0, 6, 13, 21}},
      {FN(GroupTypeName), "Unknown Group Type", {1, 3}, {0, 4}},
      {FN(LifeTypeName), "Unknown life type!", {1, 2}, {0, 3}},
      {FN(PhaseTwoAttributeLabel), "Unknown Attribute", {9}, {10}},
      {FN(IpsecAuthAlgorithmName), "Unknown Authentication Algorithm", {1, 7, 9}, {0, 8, 10}},
      {FN(EncapsulationModeName), "", {2, 61440, 61441}, {3, 61442}},
      {FN(CrackAttributeLabel), "Unknown Attribute", {16390, 16396}, {16389, 16397}},
      {FN(CrackFinStatusName), "", {2}, {3}},
      {FN(LamTypeName), "Unknown LAM type", {4}, {5}},
      {FN(ConfigModeTypeName), "Unknown Config Mode Type", {4}, {5}},
      {FN(ConfigModeAttributeLabel), "Unknown attribute!", {20}, {21}},
      {FN(NotifyTypeName), "UNKNOWN NOTIFICATION!!!", {30, 9101, 36136, 36137}, {31, 9103, 36138}},
  };
  for (const Table& t : tables) {
    for (std::uint32_t v : t.named) {
      EXPECT_FALSE(t.lookup(v).empty()) << t.function << "(" << v << ")";
      EXPECT_NE(t.lookup(v), t.fallback) << t.function << "(" << v << ")";
    }
    for (std::uint32_t v : t.unnamed) EXPECT_EQ(t.lookup(v), t.fallback) << t.function << "(" << v << ")";
    EXPECT_EQ(t.lookup(kUnreadable), t.fallback) << t.function << "(unreadable)";
  }
  // A payload type logged as a sign-extended byte names the type of the byte.
  EXPECT_EQ(PayloadTypeName(0xFFFFFF82), PayloadTypeName(130));
  EXPECT_EQ(PayloadTypeName(0xFFFFFF83), PayloadTypeName(131));
  // The certificate encoding's fallback names the value.
  EXPECT_NE(CertEncodingName(10), "Unknown certificate encoding (10)");
  EXPECT_EQ(CertEncodingName(11), "Unknown certificate encoding (11)");
  EXPECT_EQ(CertEncodingName(kUnreadable), "Unknown certificate encoding (4294967295)");
}

#undef FN

// Two-key tables: transform IDs by protocol, each protocol with its fallback ("UKNOWN ESP" is
// the daemon's spelling), and attribute values by class, where only classes with named values
// give text.
TEST(DictionariesTest, TransformIdsAndAttributeValues) {
  struct PairCase {
    std::string_view (*lookup)(std::uint32_t, std::uint32_t);
    std::uint32_t first, second;
    const char* expected;  // nullptr: named
    const char* fallback;
  };
  const PairCase cases[] = {
      {&TransformIdName, 1, 1, nullptr, "UNKNOWN KEY"}, {&TransformIdName, 1, 2, "UNKNOWN KEY", ""},
      {&TransformIdName, 2, 4, nullptr, "UNKNOWN AH"}, {&TransformIdName, 2, 5, "UNKNOWN AH", ""},
      {&TransformIdName, 3, 13, "UKNOWN ESP", ""}, {&TransformIdName, 3, 20, nullptr, "UKNOWN ESP"},
      {&TransformIdName, 3, 21, "UKNOWN ESP", ""}, {&TransformIdName, 3, 249, nullptr, "UKNOWN ESP"},
      {&TransformIdName, 3, 250, "UKNOWN ESP", ""}, {&TransformIdName, 3, kUnreadable, "UKNOWN ESP", ""},
      {&TransformIdName, 4, 4, nullptr, "UNKNOWN IPCOMP"}, {&TransformIdName, 4, 5, "UNKNOWN IPCOMP", ""},
      {&TransformIdName, 0, 1, "UNKNOWN PROP-ID", ""}, {&TransformIdName, 5, 1, "UNKNOWN PROP-ID", ""},
      {&TransformIdName, kUnreadable, 1, "UNKNOWN PROP-ID", ""},
      {&PhaseOneAttributeValueName, 3, 64222, nullptr, ""}, {&PhaseOneAttributeValueName, 5, 3, nullptr, ""},
      {&PhaseOneAttributeValueName, 11, 1, nullptr, ""}, {&PhaseOneAttributeValueName, 12, 1, "", ""},
      {&PhaseOneAttributeValueName, 13, 1, "", ""}, {&PhaseTwoAttributeValueName, 1, 2, nullptr, ""},
      {&PhaseTwoAttributeValueName, 3, 2, nullptr, ""}, {&PhaseTwoAttributeValueName, 4, 2, nullptr, ""},
      {&PhaseTwoAttributeValueName, 2, 1, "", ""}, {&PhaseTwoAttributeValueName, 11, 1, "", ""},
  };
  for (const PairCase& c : cases) {
    const std::string_view got = c.lookup(c.first, c.second);
    if (c.expected != nullptr) EXPECT_EQ(got, c.expected) << "(" << c.first << ", " << c.second << ")";
    else EXPECT_TRUE(!got.empty() && got != c.fallback) << "(" << c.first << ", " << c.second << ")";
  }
  // Each protocol names its transforms from its own table.
  for (std::uint32_t id = 1; id <= 4; ++id) {
    EXPECT_NE(TransformIdName(2, id), TransformIdName(4, id)) << id;
    EXPECT_NE(TransformIdName(2, id), TransformIdName(3, id)) << id;
  }
}

}  // namespace
}  // namespace quillon
