#include "ikev1/payloads/Dictionaries.h"

#include <array>
#include <cstddef>
#include <string_view>

namespace quillon {

namespace {

using std::string_view_literals::operator""sv;

// Indexes a name table, or gives `fallback` when `value` lies beyond it. The comparison is
// unsigned on purpose: an unreadable field or a sign-extended negative never indexes.
template <std::size_t N>
std::string_view LookupView(const std::array<std::string_view, N>& names, std::uint32_t value,
                            std::string_view fallback) {
  return value < names.size() ? names[value] : fallback;
}

template <std::size_t N>
std::string Lookup(const std::array<std::string_view, N>& names, std::uint32_t value,
                   std::string_view fallback) {
  return std::string(LookupView(names, value, fallback));
}

// RFC 2407 section 4.4.1 protocol IDs, written as the proposal caption shows them.
constexpr std::array kProtocolCaptions = {"Reserved"sv, " PROTO_ISAKMP"sv, " PROTO_IPSEC_AH"sv,
                                          " PROTO_IPSEC_ESP"sv, " PROTO_IPCOMP"sv};

// RFC 2407 section 4.4.2 - 4.4.5 transform IDs per protocol.
constexpr std::array kIsakmpTransforms = {"Reserved"sv, "KEY_IKE"sv};
constexpr std::array kAhTransforms = {"Reserved"sv, "Reserved"sv, "AH_MD5"sv, "AH_SHA1"sv,
                                      "AH_DES"sv};
// 13 to 19 (AES-CTR, AES-CCM, ...) have no name here; 20 is AES-GCM with a 16-octet ICV
// (RFC 4106).
constexpr std::array kEspTransforms = {
    "Reserved"sv,     "ESP_DES_IV64"sv, "ESP_DES"sv,      "ESP_3DES"sv,       "ESP_RC5"sv,
    "ESP_IDEA"sv,     "ESP_CAST"sv,     "ESP_BLOWFISH"sv, "ESP_3IDEA"sv,      "ESP_DES_IV32"sv,
    "ESP_RC4"sv,      "ESP_NULL"sv,     "ESP_AES"sv,      "UKNOWN ESP"sv,     "UKNOWN ESP"sv,
    "UKNOWN ESP"sv,   "UKNOWN ESP"sv,   "UKNOWN ESP"sv,   "UKNOWN ESP"sv,     "UKNOWN ESP"sv,
    "ESP_AES_GCM"sv};
// The daemon's private 40-bit export DES transform.
constexpr std::uint32_t kEspDes40Mv = 249;
constexpr std::array kIpcompTransforms = {"Reserved"sv, "IPCOMP_OUI"sv, "IPCOMP_DEFLATE"sv,
                                          "IPCOMP_LZS"sv, "IPCOMP_V42BIS"sv};

// RFC 2409 appendix A: ISAKMP SA attribute classes 1-16, labels padded for the detail text.
constexpr std::array kPhaseOneLabels = {
    "Unknown Attribute"sv,
    "Encryption Algorithm:\t"sv,
    "Hash Algorithm:\t\t"sv,
    "Authentication Method:\t"sv,
    "Group Description:\t"sv,
    "Group Type:\t\t"sv,
    "Group Prime/Irreducible Polynomial :"sv,
    "Group Generator One:\t"sv,
    "Group Generator Two:\t"sv,
    "Group Curve A:\t\t"sv,
    "Group Curve B:\t\t"sv,
    "Life Type:\t\t"sv,
    "Life Duration:\t\t"sv,
    "PRF: "sv,
    "Key Length:\t\t"sv,
    "Field Size:\t\t"sv,
    "Group Order:\t"sv};
constexpr std::string_view kUnknownAttribute = "Unknown Attribute";

// RFC 2409 (1-6) and RFC 3602 (7).
constexpr std::array kEncryptionAlgorithms = {
    "Undefined Encryption Algorithm"sv, "DES-CBC"sv,  "IDEA-CBC"sv, "Blowfish-CBC"sv,
    "RC5-R16-B64-CBC"sv,                "3DES-CBC"sv, "CAST-CBC"sv, "AES-CBC"sv};

// RFC 2409 (1-3) and RFC 4868 (4-6); 7 and 8 have no name, 9 is the AES-XCBC hash.
constexpr std::array kHashAlgorithms = {
    "Undefined Hash Algorithm"sv, "MD5"sv,     "SHA1"sv,    "Tiger"sv,
    "SHA-256"sv,                  "SHA-384"sv, "SHA-512"sv, "Undefined Hash Algorithm"sv,
    "Undefined Hash Algorithm"sv, "AES-XCBC"sv};

constexpr std::array kAuthenticationMethods = {
    "Undefined Authentication Algorithm"sv, "Pre-shared key"sv,      "DSS signatures"sv,
    "RSA signatures"sv,                     "Encryption with RSA"sv, "Revised encryption with RSA"sv};

// Oakley groups: RFC 2409 (1-4), RFC 3526 (5, 14-18), RFC 4753 (19, 20). The daemon's own
// texts say "GP[...]" for the characteristic-two fields; they are kept as it prints them.
constexpr std::array kGroupDescriptions = {
    "Undefined Group Description"sv,       "Default 768-bit MODP group"sv,
    "Alternate 1024-bit MODP group"sv,     "EC2N group on GP[2^155]"sv,
    "EC2N group on GP[2^185]"sv,           "1536-bit MODP group (5)"sv,
    "Undefined Group Description"sv,       "Undefined Group Description"sv,
    "Undefined Group Description"sv,       "Undefined Group Description"sv,
    "Undefined Group Description"sv,       "Undefined Group Description"sv,
    "Undefined Group Description"sv,       "Undefined Group Description"sv,
    "2048-bit MODP group (14)"sv,          "3072-bit MODP group (15)"sv,
    "4096-bit MODP group (16)"sv,          "6144-bit MODP group (17)"sv,
    "8192-bit MODP group (18)"sv,          "256-bit elliptic curve group (19)"sv,
    "384-bit elliptic curve group (20)"sv};

constexpr std::array kGroupTypes = {"Unknown Group Type"sv, "MODP (modular exponentiation group)"sv,
                                    "ECP  (elliptic curve group over GF[P])"sv,
                                    "EC2N (elliptic curve group over GF[2^N])"sv};

constexpr std::array kLifeTypes = {"Unknown life type!"sv, "Seconds"sv, "KiloBytes"sv};

// RFC 2407 section 4.5: IPsec SA attribute classes 1-9.
constexpr std::array kPhaseTwoLabels = {"Unknown Attribute"sv,
                                        "Life Type:\t\t"sv,
                                        "Life Duration:\t"sv,
                                        "Group Description:\t"sv,
                                        "Encapsulation Mode:\t"sv,
                                        "Authentication Alg:\t"sv,
                                        "Key Length:\t\t"sv,
                                        "Key Rounds:\t"sv,
                                        "Compress Dictionary Size:\t"sv,
                                        "Compress Private Algorithm:\t"sv};

// RFC 2407 (1-4), RFC 4868 (5-7), RFC 3566 (9).
constexpr std::array kIpsecAuthAlgorithms = {
    "Unknown Authentication Algorithm"sv, "HMAC-MD5"sv, "HMAC-SHA1"sv, "DES-MAC"sv,
    "KPDK"sv, "SHA-256"sv, "SHA-384"sv, "SHA-512"sv, "Unknown Authentication Algorithm"sv,
    "AES-XCBC"sv};

// The CRACK attributes live in the private range of the ISAKMP attribute space, from 16390.
constexpr std::uint32_t kFirstCrackAttribute = 16390;
constexpr std::array kCrackLabels = {"CRACK_T_USERNAME:\t"sv, "CRACK_T_SECRET:\t\t"sv,
                                     "CRACK_T_DOMAIN"sv,      "CRACK_T_PIN"sv,
                                     "CRACK_T_CHALLENGE"sv,   "CRACK_T_MESSAGE"sv,
                                     "CRACK_T_FIN:\t"sv};
constexpr std::array kCrackFinStatus = {" (RESERVED)"sv, " (CRACK_FIN_SUCCESS)"sv,
                                        " (CRACK_FIN_MORE)"sv};

constexpr std::array kLamTypes = {"Unknown LAM type"sv, "CRACK_PASSWORD"sv, "CRACK_OTP"sv,
                                  "CRACK_CHALLENGE_RESPONSE"sv, "CRACK_SECURID"sv};

// ISAKMP configuration method message types; the daemon spells the prefix "ISKAMP".
constexpr std::array kConfigModeTypes = {"Unknown Config Mode Type"sv, "ISKAMP_CFG_REQUEST"sv,
                                         "ISKAMP_CFG_REPLY"sv, "ISKAMP_CFG_SET"sv,
                                         "ISKAMP_CFG_ACK"sv};

// Configuration-mode attributes 1-12 (internal address, DNS, ...), then the labels of the
// extended-authentication attributes; the attribute payload maps its types onto these entries.
// Entry 15 stands for the whole password line: the password itself is never shown.
constexpr std::array kConfigModeLabels = {
    "Unknown attribute!"sv,       "Internal IP4 address:\t\t"sv, "Internal IP4 netmask:\t\t"sv,
    "Internal IP4 DNS:\t\t"sv,    "Internal IP4 NBNS:\t\t"sv,    "Internal address expiry:\t"sv,
    "Internal IP4 DHCP:\t"sv,     "Application version:\t"sv,    "Internal IP6 address:\t"sv,
    "Internal IP6 netmask:\t"sv,  "Internal IP6 DNS:\t"sv,       "Internal IP6 NBNS:\t"sv,
    "Internal IP6 DHCP:\t"sv,     "Type:\t"sv,                   "Username:\t"sv,
    "Password:\t(***********)"sv, "Passcode:\t"sv,               "Message:\r\n"sv,
    "Challenge:\r\n"sv,           "Domain:\t"sv,                 "Status:\t"sv};

// RFC 2408 section 3.14.1 notify message types 1-30.
constexpr std::array kNotifyTypes = {
    "UNKNOWN NOTIFICATION!!!"sv,  "INVALID-PAYLOAD-TYPE"sv,      "DOI-NOT-SUPPORTED"sv,
    "SITUATION-NOT-SUPPORTED"sv,  "INVALID-COOKIE"sv,            "INVALID-MAJOR-VERSION"sv,
    "INVALID-MINOR-VERSION"sv,    "INVALID-EXCHANGE-TYPE"sv,     "INVALID-FLAGS"sv,
    "INVALID-MESSAGE-ID"sv,       "INVALID-PROTOCOL-ID"sv,       "INVALID-SPI"sv,
    "INVALID-TRANSFORM-ID"sv,     "ATTRIBUTES-NOT-SUPPORTED"sv,  "NO-PROPOSAL-CHOSEN"sv,
    "BAD-PROPOSAL-SYNTAX"sv,      "PAYLOAD-MALFORMED"sv,         "INVALID-KEY-INFORMATION"sv,
    "INVALID-ID-INFORMATION"sv,   "INVALID-CERT-ENCODING"sv,     "INVALID-CERTIFICATE"sv,
    "CERT-TYPE-UNSUPPORTED"sv,    "INVALID-CERT-AUTHORITY"sv,    "INVALID-HASH-INFORMATION"sv,
    "AUTHENTICATION-FAILED"sv,    "INVALID-SIGNATURE"sv,         "ADDRESS-NOTIFICATION"sv,
    "NOTIFY-SA-LIFETIME"sv,       "CERTIFICATE-UNAVAILABLE"sv,   "UNSUPPORTED-EXCHANGE-TYPE"sv,
    "UNEQUAL-PAYLOAD-LENGTHS"sv};
constexpr std::string_view kUnknownNotification = "UNKNOWN NOTIFICATION!!!";

// RFC 2408 section 3.9 certificate encodings.
constexpr std::array kCertEncodings = {
    "NONE"sv,
    "PKCS #7 wrapped X.509 certificate"sv,
    "PGP Certificate"sv,
    "DNS Signed Key"sv,
    "X.509 Certificate - Signature"sv,
    "X.509 Certificate - Key Exchange"sv,
    "Kerberos Tokens"sv,
    "Certificate Revocation List (CRL)"sv,
    "Authority Revocation List (ARL)"sv,
    "SPKI Certificate"sv,
    "X.509 Certificate - Attribute"sv};

// RFC 2407 section 4.6.2.1 identification types.
constexpr std::array kIdTypes = {
    "RESERVED"sv,           "ID_IPV4_ADDR"sv,       "ID_FQDN"sv,
    "ID_USER_FQDN"sv,       "ID_IPV4_ADDR_SUBNET"sv, "ID_IPV6_ADDR"sv,
    "ID_IPV6_ADDR_SUBNET"sv, "ID_IPV4_ADDR_RANGE"sv, "ID_IPV6_ADDR_RANGE"sv,
    "ID_DER_ASN1_DN"sv,     "ID_DER_ASN1_GN"sv,     "ID_KEY_ID"sv};

// Phase-one and phase-two attribute classes that carry a named value.
constexpr std::uint32_t kAttrEncryption = 1;
constexpr std::uint32_t kAttrHash = 2;
constexpr std::uint32_t kAttrAuthMethod = 3;
constexpr std::uint32_t kAttrGroupDescription = 4;
constexpr std::uint32_t kAttrGroupType = 5;
constexpr std::uint32_t kAttrLifeType = 11;
constexpr std::uint32_t kIpsecAttrLifeType = 1;
constexpr std::uint32_t kIpsecAttrGroupDescription = 3;
constexpr std::uint32_t kIpsecAttrEncapsulation = 4;
constexpr std::uint32_t kIpsecAttrAuthAlgorithm = 5;

}  // namespace

std::string_view PayloadTypeName(std::uint32_t type) {
  static constexpr std::array<const char*, 15> kNames = {
      "NONE",        "Security Association", "Proposal",  "Transform",
      "Key Exchange", "Identification",      "Certificate", "Certificate Request",
      "Hash",        "Signature",            "Nonce",     "Notification",
      "Delete",      "Vendor ID",            "Attribute"};
  if (type < kNames.size()) return kNames[type];
  // The daemon sometimes logs the private payload types through a signed char,
  // so 128, 130 and 131 also arrive as their 8-bit sign extensions.
  switch (static_cast<std::int32_t>(type)) {
    case 128: case -128: return "Challenge/Response";
    case 130: case -126: return "NAT-D";
    case 131: case -125: return "NAT-OA";
    default: return "not recognized";
  }
}

std::string_view ProtocolCaptionName(std::uint32_t protocolId) {
  return LookupView(kProtocolCaptions, protocolId, "Unknown Protocol ID!");
}

std::string_view TransformIdName(std::uint32_t protocolId, std::uint32_t transformId) {
  switch (protocolId) {
    case 1: return LookupView(kIsakmpTransforms, transformId, "UNKNOWN KEY");
    case 2: return LookupView(kAhTransforms, transformId, "UNKNOWN AH");
    case 3:
      if (transformId == kEspDes40Mv) return "ESP_DES40_MV";
      return LookupView(kEspTransforms, transformId, "UKNOWN ESP");
    case 4: return LookupView(kIpcompTransforms, transformId, "UNKNOWN IPCOMP");
    default: return "UNKNOWN PROP-ID";
  }
}

std::string_view PhaseOneAttributeLabel(std::uint32_t type) {
  return LookupView(kPhaseOneLabels, type, kUnknownAttribute);
}

std::string_view PhaseOneAttributeValueName(std::uint32_t type, std::uint32_t value) {
  switch (type) {
    case kAttrEncryption: return EncryptionAlgorithmName(value);
    case kAttrHash: return HashAlgorithmName(value);
    case kAttrAuthMethod: return AuthenticationMethodName(value);
    case kAttrGroupDescription: return GroupDescriptionName(value);
    case kAttrGroupType: return GroupTypeName(value);
    case kAttrLifeType: return LifeTypeName(value);
    default: return {};
  }
}

std::string_view EncryptionAlgorithmName(std::uint32_t value) {
  return LookupView(kEncryptionAlgorithms, value, kEncryptionAlgorithms[0]);
}

std::string_view HashAlgorithmName(std::uint32_t value) {
  return LookupView(kHashAlgorithms, value, kHashAlgorithms[0]);
}

std::string_view AuthenticationMethodName(std::uint32_t value) {
  switch (value) {
    case 128: return "IKE_A_CRACK";  // challenge/response authentication
    // Hybrid authentication methods, from the private-use range.
    case 64221: return "HybridInitRSA";
    case 64222: return "HybridRespRSA";
    case 64223: return "HybridInitDSS";
    case 64224: return "HybridRespDSS";
    default: return LookupView(kAuthenticationMethods, value, kAuthenticationMethods[0]);
  }
}

std::string_view GroupDescriptionName(std::uint32_t value) {
  return LookupView(kGroupDescriptions, value, kGroupDescriptions[0]);
}

std::string_view GroupTypeName(std::uint32_t value) {
  return LookupView(kGroupTypes, value, kGroupTypes[0]);
}

std::string_view LifeTypeName(std::uint32_t value) {
  return LookupView(kLifeTypes, value, kLifeTypes[0]);
}

std::string_view PhaseTwoAttributeLabel(std::uint32_t type) {
  return LookupView(kPhaseTwoLabels, type, kUnknownAttribute);
}

std::string_view PhaseTwoAttributeValueName(std::uint32_t type, std::uint32_t value) {
  switch (type) {
    case kIpsecAttrLifeType: return LifeTypeName(value);
    case kIpsecAttrGroupDescription: return GroupDescriptionName(value);
    case kIpsecAttrEncapsulation: return EncapsulationModeName(value);
    case kIpsecAttrAuthAlgorithm: return IpsecAuthAlgorithmName(value);
    default: return {};
  }
}

std::string_view IpsecAuthAlgorithmName(std::uint32_t value) {
  return LookupView(kIpsecAuthAlgorithms, value, kIpsecAuthAlgorithms[0]);
}

std::string_view EncapsulationModeName(std::uint32_t value) {
  switch (value) {
    case 1: return "Tunnel";
    case 2: return "Transport";
    // UDP-encapsulated modes for NAT traversal, from the private-use range.
    case 61440: return "Tunnel UDP Encapsulation";
    case 61441: return "Transport UDP Encapsulation";
    default: return {};
  }
}

std::string CrackAttributeLabel(std::uint32_t type) {
  if (type < kFirstCrackAttribute) return std::string(kUnknownAttribute);
  return Lookup(kCrackLabels, type - kFirstCrackAttribute, kUnknownAttribute);
}

std::string CrackFinStatusName(std::uint32_t value) {
  return Lookup(kCrackFinStatus, value, {});
}

std::string LamTypeName(std::uint32_t type) {
  return Lookup(kLamTypes, type, kLamTypes[0]);
}

std::string ConfigModeTypeName(std::uint32_t type) {
  return Lookup(kConfigModeTypes, type, kConfigModeTypes[0]);
}

std::string ConfigModeAttributeLabel(std::uint32_t index) {
  return Lookup(kConfigModeLabels, index, kConfigModeLabels[0]);
}

std::string NotifyTypeName(std::uint32_t type) {
  switch (type) {
    // The gateway's private notifications.
    case 9101: return "GX_LANTERNET_NOTIFICATION";
    case 9102: return "GX_MY_CERT_IS_INVALID";
    case 9110: return "GXIKE_UNDER_HEAVY_LOAD";
    // RFC 2407 section 4.6.3 IPsec DOI status types.
    case 24576: return "RESPONDER-LIFETIME";
    case 24577: return "REPLAY-STATUS";
    case 24578: return "INITIAL-CONTACT";
    case 32771: return "TRX_POLICY_ID_NOTIFY";
    case 32772: return "TRX_AUTH_NOTIFY ";  // the daemon's text ends in a blank
    // RFC 3706 dead peer detection.
    case 36136: return "DPD HELLO";
    case 36137: return "DPD ACK";
    default: return Lookup(kNotifyTypes, type, kUnknownNotification);
  }
}

std::string CertEncodingName(std::uint32_t encoding) {
  if (encoding < kCertEncodings.size()) return std::string(kCertEncodings[encoding]);
  return "Unknown certificate encoding (" + std::to_string(encoding) + ")";
}

std::string IdTypeName(std::uint32_t type) {
  if (type < kIdTypes.size()) return std::string(kIdTypes[type]);
  return "Unknown ID type (" + std::to_string(type) + ")";
}

}  // namespace quillon
