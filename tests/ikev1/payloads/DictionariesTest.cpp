#include "ikev1/payloads/Dictionaries.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>

namespace quillon {
namespace {

constexpr std::uint32_t kUnreadable = 0xFFFFFFFF;  // what the reader yields for a bad hex token

using Lookup1 = std::string (*)(std::uint32_t);

struct Case {
  const char* function;
  Lookup1 lookup;
  std::uint32_t value;
  std::string_view expected;
};

void PrintTo(const Case& c, std::ostream* os) {
  *os << c.function << "(" << c.value << ") -> \"" << c.expected << "\"";
}

#define CASE(fn, value, text) Case{#fn, &fn, value, text}

// Each table's fallback, met at the first value beyond the table and at an unreadable field.
class DictionaryFallbackTest : public testing::TestWithParam<Case> {};

TEST_P(DictionaryFallbackTest, FirstValueBeyondAndUnreadableGiveFallback) {
  const Case& c = GetParam();
  EXPECT_EQ(c.lookup(c.value), c.expected);
  EXPECT_EQ(c.lookup(kUnreadable), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    AllTables, DictionaryFallbackTest,
    testing::Values(
        CASE(PayloadTypeName, 15, "not recognized"),
        CASE(ProtocolCaptionName, 5, "Unknown Protocol ID!"),
        CASE(PhaseOneAttributeLabel, 17, "Unknown Attribute"),
        CASE(EncryptionAlgorithmName, 8, "Undefined Encryption Algorithm"),
        CASE(HashAlgorithmName, 10, "Undefined Hash Algorithm"),
        CASE(AuthenticationMethodName, 6, "Undefined Authentication Algorithm"),
        CASE(GroupDescriptionName, 21, "Undefined Group Description"),
        CASE(GroupTypeName, 4, "Unknown Group Type"),
        CASE(LifeTypeName, 3, "Unknown life type!"),
        CASE(PhaseTwoAttributeLabel, 10, "Unknown Attribute"),
        CASE(IpsecAuthAlgorithmName, 10, "Unknown Authentication Algorithm"),
        CASE(EncapsulationModeName, 3, ""),
        CASE(CrackAttributeLabel, 16397, "Unknown Attribute"),
        CASE(CrackFinStatusName, 3, ""),
        CASE(LamTypeName, 5, "Unknown LAM type"),
        CASE(ConfigModeTypeName, 5, "Unknown Config Mode Type"),
        CASE(ConfigModeAttributeLabel, 21, "Unknown attribute!"),
        CASE(NotifyTypeName, 31, "UNKNOWN NOTIFICATION!!!")));

// Last entries, single values and their neighbours, and the daemon's own spellings, blanks and
// tabs, which are easy to "correct" by mistake.
class DictionaryTextTest : public testing::TestWithParam<Case> {};

TEST_P(DictionaryTextTest, NamesValueExactly) {
  const Case& c = GetParam();
  EXPECT_EQ(c.lookup(c.value), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    AllTables, DictionaryTextTest,
    testing::Values(
        CASE(PayloadTypeName, 14, "Attribute"), CASE(PayloadTypeName, 0xFFFFFF82, "NAT-D"),
        CASE(ProtocolCaptionName, 0, "Reserved"), CASE(ProtocolCaptionName, 4, " PROTO_IPCOMP"),
        CASE(PhaseOneAttributeLabel, 6, "Group Prime/Irreducible Polynomial :"),
        CASE(PhaseOneAttributeLabel, 13, "PRF: "),
        CASE(PhaseOneAttributeLabel, 16, "Group Order:\t"),
        CASE(EncryptionAlgorithmName, 7, "AES-CBC"),
        CASE(HashAlgorithmName, 7, "Undefined Hash Algorithm"),
        CASE(HashAlgorithmName, 9, "AES-XCBC"),
        CASE(AuthenticationMethodName, 5, "Revised encryption with RSA"),
        CASE(AuthenticationMethodName, 128, "IKE_A_CRACK"),
        CASE(AuthenticationMethodName, 129, "Undefined Authentication Algorithm"),
        CASE(AuthenticationMethodName, 64220, "Undefined Authentication Algorithm"),
        CASE(AuthenticationMethodName, 64221, "HybridInitRSA"),
        CASE(AuthenticationMethodName, 64224, "HybridRespDSS"),
        CASE(AuthenticationMethodName, 64225, "Undefined Authentication Algorithm"),
        CASE(GroupDescriptionName, 6, "Undefined Group Description"),
        CASE(GroupDescriptionName, 14, "2048-bit MODP group (14)"),
        CASE(GroupDescriptionName, 20, "384-bit elliptic curve group (20)"),
        CASE(GroupTypeName, 2, "ECP  (elliptic curve group over GF[P])"),
        CASE(LifeTypeName, 2, "KiloBytes"),
        CASE(PhaseTwoAttributeLabel, 2, "Life Duration:\t"),
        CASE(PhaseTwoAttributeLabel, 9, "Compress Private Algorithm:\t"),
        CASE(IpsecAuthAlgorithmName, 8, "Unknown Authentication Algorithm"),
        CASE(IpsecAuthAlgorithmName, 9, "AES-XCBC"),
        CASE(EncapsulationModeName, 61440, "Tunnel UDP Encapsulation"),
        CASE(EncapsulationModeName, 61441, "Transport UDP Encapsulation"),
        CASE(EncapsulationModeName, 61442, ""),
        CASE(CrackAttributeLabel, 16389, "Unknown Attribute"),
        CASE(CrackAttributeLabel, 16390, "CRACK_T_USERNAME:\t"),
        CASE(CrackAttributeLabel, 16396, "CRACK_T_FIN:\t"),
        CASE(CrackFinStatusName, 2, " (CRACK_FIN_MORE)"),
        CASE(LamTypeName, 4, "CRACK_SECURID"), CASE(ConfigModeTypeName, 4, "ISKAMP_CFG_ACK"),
        CASE(ConfigModeAttributeLabel, 15, "Password:\t(***********)"),
        CASE(ConfigModeAttributeLabel, 17, "Message:\r\n"),
        CASE(ConfigModeAttributeLabel, 20, "Status:\t"),
        CASE(NotifyTypeName, 30, "UNEQUAL-PAYLOAD-LENGTHS"),
        CASE(NotifyTypeName, 9101, "GX_LANTERNET_NOTIFICATION"),
        CASE(NotifyTypeName, 9103, "UNKNOWN NOTIFICATION!!!"),
        CASE(NotifyTypeName, 24578, "INITIAL-CONTACT"),
        CASE(NotifyTypeName, 32772, "TRX_AUTH_NOTIFY "),
        CASE(NotifyTypeName, 36136, "DPD HELLO"), CASE(NotifyTypeName, 36137, "DPD ACK"),
        CASE(NotifyTypeName, 36138, "UNKNOWN NOTIFICATION!!!"),
        CASE(CertEncodingName, 10, "X.509 Certificate - Attribute"),
        CASE(CertEncodingName, 11, "Unknown certificate encoding (11)"),
        CASE(CertEncodingName, kUnreadable, "Unknown certificate encoding (4294967295)"),
        CASE(IdTypeName, 11, "ID_KEY_ID"), CASE(IdTypeName, 12, "Unknown ID type (12)"),
        CASE(IdTypeName, kUnreadable, "Unknown ID type (4294967295)")));

#undef CASE

struct PairCase {
  std::string (*lookup)(std::uint32_t, std::uint32_t);
  std::uint32_t first;
  std::uint32_t second;
  std::string_view expected;
};

void PrintTo(const PairCase& c, std::ostream* os) {
  *os << "(" << c.first << ", " << c.second << ") -> \"" << c.expected << "\"";
}

class DictionaryPairTest : public testing::TestWithParam<PairCase> {};

TEST_P(DictionaryPairTest, NamesValueExactly) {
  const PairCase& c = GetParam();
  EXPECT_EQ(c.lookup(c.first, c.second), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    TransformIds, DictionaryPairTest,
    testing::Values(
        PairCase{&TransformIdName, 1, 1, "KEY_IKE"}, PairCase{&TransformIdName, 1, 2, "UNKNOWN KEY"},
        PairCase{&TransformIdName, 2, 4, "AH_DES"}, PairCase{&TransformIdName, 2, 5, "UNKNOWN AH"},
        PairCase{&TransformIdName, 3, 13, "UKNOWN ESP"},
        PairCase{&TransformIdName, 3, 20, "ESP_AES_GCM"},
        PairCase{&TransformIdName, 3, 21, "UKNOWN ESP"},
        PairCase{&TransformIdName, 3, 249, "ESP_DES40_MV"},
        PairCase{&TransformIdName, 3, 250, "UKNOWN ESP"},
        PairCase{&TransformIdName, 3, kUnreadable, "UKNOWN ESP"},
        PairCase{&TransformIdName, 4, 4, "IPCOMP_V42BIS"},
        PairCase{&TransformIdName, 4, 5, "UNKNOWN IPCOMP"},
        PairCase{&TransformIdName, 0, 1, "UNKNOWN PROP-ID"},
        PairCase{&TransformIdName, 5, 1, "UNKNOWN PROP-ID"},
        PairCase{&TransformIdName, kUnreadable, 1, "UNKNOWN PROP-ID"}));

// Only the classes with a named value give text; numeric classes and PRF give nothing.
INSTANTIATE_TEST_SUITE_P(
    AttributeValues, DictionaryPairTest,
    testing::Values(PairCase{&PhaseOneAttributeValueName, 3, 64222, "HybridRespRSA"},
                    PairCase{&PhaseOneAttributeValueName, 5, 3,
                             "EC2N (elliptic curve group over GF[2^N])"},
                    PairCase{&PhaseOneAttributeValueName, 11, 1, "Seconds"},
                    PairCase{&PhaseOneAttributeValueName, 12, 1, ""},
                    PairCase{&PhaseOneAttributeValueName, 13, 1, ""},
                    PairCase{&PhaseTwoAttributeValueName, 1, 2, "KiloBytes"},
                    PairCase{&PhaseTwoAttributeValueName, 3, 2, "Alternate 1024-bit MODP group"},
                    PairCase{&PhaseTwoAttributeValueName, 4, 2, "Transport"},
                    PairCase{&PhaseTwoAttributeValueName, 5, 2, "HMAC-SHA1"},
                    PairCase{&PhaseTwoAttributeValueName, 2, 1, ""},
                    PairCase{&PhaseTwoAttributeValueName, 11, 1, ""}));

}  // namespace
}  // namespace quillon
