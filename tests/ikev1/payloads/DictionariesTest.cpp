#include "ikev1/payloads/Dictionaries.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>

// The name tables the payload texts are built from. The attribute labels and names that a
// payload test already shows in full (ValueTexts, the notify captions, the identity texts) are
// not repeated here; these are the table edges and the daemon's own spellings.
namespace quillon {
namespace {

constexpr std::uint32_t kUnreadable = 0xFFFFFFFF;  // what the reader yields for a bad hex token

struct Case {
  const char* function;
  std::string (*lookup)(std::uint32_t);
  std::uint32_t value;
  std::string_view expected;
};
// Some tables give views, others strings.
#define CASE(fn, value, text) Case{#fn, [](std::uint32_t v) { return std::string(fn(v)); }, value, text}

// Each table's fallback, met at the first value beyond the table and at an unreadable field.
TEST(DictionariesTest, FirstValueBeyondAndUnreadableGiveTheFallback) {
  const Case cases[] = {
      CASE(PayloadTypeName, 15, "not recognized"), CASE(ProtocolCaptionName, 5, "Unknown Protocol ID!"),
      CASE(PhaseOneAttributeLabel, 17, "Unknown Attribute"),
      CASE(EncryptionAlgorithmName, 8, "Undefined Encryption Algorithm"),
      CASE(HashAlgorithmName, 10, "Undefined Hash Algorithm"),
      CASE(AuthenticationMethodName, 6, "Undefined Authentication Algorithm"),
      CASE(GroupDescriptionName, 21, "Undefined Group Description"), CASE(GroupTypeName, 4, "Unknown Group Type"),
      CASE(LifeTypeName, 3, "Unknown life type!"), CASE(PhaseTwoAttributeLabel, 10, "Unknown Attribute"),
      CASE(IpsecAuthAlgorithmName, 10, "Unknown Authentication Algorithm"), CASE(EncapsulationModeName, 3, ""),
      CASE(CrackAttributeLabel, 16397, "Unknown Attribute"), CASE(CrackFinStatusName, 3, ""),
      CASE(LamTypeName, 5, "Unknown LAM type"), CASE(ConfigModeTypeName, 5, "Unknown Config Mode Type"),
      CASE(ConfigModeAttributeLabel, 21, "Unknown attribute!"), CASE(NotifyTypeName, 31, "UNKNOWN NOTIFICATION!!!"),
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.lookup(c.value), c.expected) << c.function << "(" << c.value << ")";
    EXPECT_EQ(c.lookup(kUnreadable), c.expected) << c.function << "(unreadable)";
  }
}

// Last entries, gaps and their neighbours, and the daemon's spellings, blanks and tabs, which
// are easy to "correct" by mistake.
TEST(DictionariesTest, EdgesAndSpellings) {
  const Case cases[] = {
      CASE(PayloadTypeName, 0, "NONE"), CASE(PayloadTypeName, 14, "Attribute"),
      CASE(PayloadTypeName, 128, "Challenge/Response"), CASE(PayloadTypeName, 129, "not recognized"),
      CASE(PayloadTypeName, 130, "NAT-D"), CASE(PayloadTypeName, 0xFFFFFF82, "NAT-D"),
      CASE(PayloadTypeName, 0xFFFFFF83, "NAT-OA"),  // -125: a sign-extended 131
      CASE(ProtocolCaptionName, 0, "Reserved"), CASE(ProtocolCaptionName, 4, " PROTO_IPCOMP"),
      CASE(EncryptionAlgorithmName, 7, "AES-CBC"), CASE(HashAlgorithmName, 7, "Undefined Hash Algorithm"),
      CASE(HashAlgorithmName, 9, "AES-XCBC"), CASE(AuthenticationMethodName, 5, "Revised encryption with RSA"),
      CASE(AuthenticationMethodName, 128, "IKE_A_CRACK"),
      CASE(AuthenticationMethodName, 129, "Undefined Authentication Algorithm"),
      CASE(AuthenticationMethodName, 64220, "Undefined Authentication Algorithm"),
      CASE(AuthenticationMethodName, 64224, "HybridRespDSS"),
      CASE(AuthenticationMethodName, 64225, "Undefined Authentication Algorithm"),
      CASE(GroupDescriptionName, 6, "Undefined Group Description"),
      CASE(GroupDescriptionName, 20, "384-bit elliptic curve group (20)"), CASE(LifeTypeName, 2, "KiloBytes"),
      CASE(PhaseTwoAttributeLabel, 2, "Life Duration:\t"),
      CASE(IpsecAuthAlgorithmName, 8, "Unknown Authentication Algorithm"),
      CASE(IpsecAuthAlgorithmName, 9, "AES-XCBC"), CASE(EncapsulationModeName, 61440, "Tunnel UDP Encapsulation"),
      CASE(EncapsulationModeName, 61442, ""), CASE(CrackAttributeLabel, 16389, "Unknown Attribute"),
      CASE(CrackFinStatusName, 2, " (CRACK_FIN_MORE)"), CASE(LamTypeName, 4, "CRACK_SECURID"),
      CASE(ConfigModeTypeName, 4, "ISKAMP_CFG_ACK"), CASE(ConfigModeAttributeLabel, 17, "Message:\r\n"),
      CASE(NotifyTypeName, 30, "UNEQUAL-PAYLOAD-LENGTHS"), CASE(NotifyTypeName, 9101, "GX_LANTERNET_NOTIFICATION"),
      CASE(NotifyTypeName, 9103, "UNKNOWN NOTIFICATION!!!"), CASE(NotifyTypeName, 36136, "DPD HELLO"),
      CASE(NotifyTypeName, 36137, "DPD ACK"), CASE(NotifyTypeName, 36138, "UNKNOWN NOTIFICATION!!!"),
      CASE(CertEncodingName, 10, "X.509 Certificate - Attribute"),
      CASE(CertEncodingName, 11, "Unknown certificate encoding (11)"),
      CASE(CertEncodingName, kUnreadable, "Unknown certificate encoding (4294967295)"),
      CASE(IdTypeName, 11, "ID_KEY_ID"),
  };
  for (const Case& c : cases) EXPECT_EQ(c.lookup(c.value), c.expected) << c.function << "(" << c.value << ")";
}

#undef CASE

// Two-key tables: transform IDs by protocol ("UKNOWN ESP" is the daemon's spelling), and
// attribute values by class, where only the classes with named values give text.
TEST(DictionariesTest, TransformIdsAndAttributeValues) {
  struct PairCase {
    std::string_view (*lookup)(std::uint32_t, std::uint32_t);
    std::uint32_t first;
    std::uint32_t second;
    std::string_view expected;
  };
  const PairCase cases[] = {
      {&TransformIdName, 1, 1, "KEY_IKE"}, {&TransformIdName, 1, 2, "UNKNOWN KEY"},
      {&TransformIdName, 2, 4, "AH_DES"}, {&TransformIdName, 2, 5, "UNKNOWN AH"},
      {&TransformIdName, 3, 13, "UKNOWN ESP"}, {&TransformIdName, 3, 20, "ESP_AES_GCM"},
      {&TransformIdName, 3, 21, "UKNOWN ESP"}, {&TransformIdName, 3, 249, "ESP_DES40_MV"},
      {&TransformIdName, 3, 250, "UKNOWN ESP"}, {&TransformIdName, 3, kUnreadable, "UKNOWN ESP"},
      {&TransformIdName, 4, 4, "IPCOMP_V42BIS"}, {&TransformIdName, 4, 5, "UNKNOWN IPCOMP"},
      {&TransformIdName, 0, 1, "UNKNOWN PROP-ID"}, {&TransformIdName, 5, 1, "UNKNOWN PROP-ID"},
      {&TransformIdName, kUnreadable, 1, "UNKNOWN PROP-ID"}, {&PhaseOneAttributeValueName, 3, 64222, "HybridRespRSA"},
      {&PhaseOneAttributeValueName, 5, 3, "EC2N (elliptic curve group over GF[2^N])"},
      {&PhaseOneAttributeValueName, 11, 1, "Seconds"}, {&PhaseOneAttributeValueName, 12, 1, ""},
      {&PhaseOneAttributeValueName, 13, 1, ""}, {&PhaseTwoAttributeValueName, 1, 2, "KiloBytes"},
      {&PhaseTwoAttributeValueName, 3, 2, "Alternate 1024-bit MODP group"},
      {&PhaseTwoAttributeValueName, 4, 2, "Transport"}, {&PhaseTwoAttributeValueName, 2, 1, ""},
      {&PhaseTwoAttributeValueName, 11, 1, ""},
  };
  for (const PairCase& c : cases)
    EXPECT_EQ(c.lookup(c.first, c.second), c.expected) << "(" << c.first << ", " << c.second << ")";
}

}  // namespace
}  // namespace quillon
