#include "ikev1/payloads/Dictionaries.h"

#include <array>
#include <cstddef>
#include <string_view>

namespace quillon {

namespace {

// A value and its name.
struct Named {
  std::uint32_t value;
  std::string_view name;
};

// A label of the detail texts and the gap that sets the value after it off.
struct Label {
  std::uint32_t value;
  std::string_view name;
  LabelGap gap;
};

// The row of `value`, or null. A row that stands at its value's index (a table that starts at
// 0 and runs without gaps) is found at once; any other is searched, the tables being short.
// Values are compared unsigned: an unreadable field or a sign-extended negative never matches.
template <class Row, std::size_t N>
constexpr const Row* Find(const std::array<Row, N>& rows, std::uint32_t value) {
  if (value < N && rows[value].value == value) return &rows[value];
  for (const Row& row : rows)
    if (row.value == value) return &row;
  return nullptr;
}

template <std::size_t N>
constexpr std::string_view NameOf(const std::array<Named, N>& names, std::uint32_t value, std::string_view fallback) {
  const Named* found = Find(names, value);
  return found != nullptr ? found->name : fallback;
}

// Appends the label of `value`, or `fallback` (which has no gap).
template <std::size_t N>
void AppendLabel(std::string& out, const std::array<Label, N>& labels, std::uint32_t value, std::string_view fallback) {
  const Label* found = Find(labels, value);
  if (found == nullptr) {
    out += fallback;
    return;
  }
  out += found->name;
  AppendLabelGap(out, found->gap);
}

template <std::size_t N>
std::string RenderLabel(const std::array<Label, N>& labels, std::uint32_t value, std::string_view fallback) {
  std::string out;
  AppendLabel(out, labels, value, fallback);
  return out;
}

template <std::size_t N>
constexpr std::string_view LabelName(const std::array<Label, N>& labels, std::uint32_t value, std::string_view fallback) {
  const Label* found = Find(labels, value);
  return found != nullptr ? found->name : fallback;
}

// The rows of every table ascend by value: a value given twice would hide its second name.
template <class Row, std::size_t N>
constexpr bool Ascending(const std::array<Row, N>& rows) {
  for (std::size_t i = 1; i < N; ++i)
    if (rows[i - 1].value >= rows[i].value) return false;
  return true;
}

constexpr auto T = LabelGap::kTab;
constexpr auto TT = LabelGap::kTwoTabs;

// ISAKMP next-payload types (RFC 2408 section 3.1), with the daemon's private ones: 128 the
// challenge/response payload, 130 and 131 the NAT traversal payloads of the drafts.
constexpr std::array<Named, 18> kPayloadTypes = {{
    {0, "NONE"},           {1, "Security Association"}, {2, "Proposal"},      {3, "Transform"},
    {4, "Key Exchange"},   {5, "Identification"},       {6, "Certificate"},   {7, "Certificate Request"},
    {8, "Hash"},           {9, "Signature"},            {10, "Nonce"},        {11, "Notification"},
    {12, "Delete"},        {13, "Vendor ID"},           {14, "Attribute"},    {128, "Challenge/Response"},
    {130, "NAT-D"},        {131, "NAT-OA"},
}};

// RFC 2407 section 4.4.1 protocol IDs, written as the proposal caption shows them: with a
// leading blank, except "Reserved".
constexpr std::array<Named, 5> kProtocolCaptions = {{
    {0, "Reserved"}, {1, " PROTO_ISAKMP"}, {2, " PROTO_IPSEC_AH"}, {3, " PROTO_IPSEC_ESP"}, {4, " PROTO_IPCOMP"},
}};

// RFC 2407 sections 4.4.2 - 4.4.5: transform IDs per protocol.
constexpr std::array<Named, 2> kIsakmpTransforms = {{{0, "Reserved"}, {1, "KEY_IKE"}}};
constexpr std::array<Named, 5> kAhTransforms = {{
    {0, "Reserved"}, {1, "Reserved"}, {2, "AH_MD5"}, {3, "AH_SHA1"}, {4, "AH_DES"},
}};
// 13 to 19 (AES-CTR, AES-CCM, ...) have no name here; 20 is AES-GCM with a 16-octet ICV
// (RFC 4106); 249 the daemon's private 40-bit export DES.
constexpr std::array<Named, 15> kEspTransforms = {{
    {0, "Reserved"},      {1, "ESP_DES_IV64"}, {2, "ESP_DES"},   {3, "ESP_3DES"},      {4, "ESP_RC5"},
    {5, "ESP_IDEA"},      {6, "ESP_CAST"},     {7, "ESP_BLOWFISH"}, {8, "ESP_3IDEA"},  {9, "ESP_DES_IV32"},
    {10, "ESP_RC4"},      {11, "ESP_NULL"},    {12, "ESP_AES"},  {20, "ESP_AES_GCM"},  {249, "ESP_DES40_MV"},
}};
constexpr std::array<Named, 5> kIpcompTransforms = {{
    {0, "Reserved"}, {1, "IPCOMP_OUI"}, {2, "IPCOMP_DEFLATE"}, {3, "IPCOMP_LZS"}, {4, "IPCOMP_V42BIS"},
}};

// RFC 2409 appendix A: ISAKMP SA attribute classes 1-16. Most labels align their values at the
// third tab stop; the others keep the daemon's own layout.
constexpr std::array<Label, 16> kPhaseOneLabels = {{
    {1, "Encryption Algorithm:", T},
    {2, "Hash Algorithm:", TT},
    {3, "Authentication Method:", T},
    {4, "Group Description:", T},
    {5, "Group Type:", TT},
    {6, "Group Prime/Irreducible Polynomial :", LabelGap::kNone},
    {7, "Group Generator One:", T},
    {8, "Group Generator Two:", T},
    {9, "Group Curve A:", TT},
    {10, "Group Curve B:", TT},
    {11, "Life Type:", TT},
    {12, "Life Duration:", TT},
    {13, "PRF:", LabelGap::kBlank},
    {14, "Key Length:", TT},
    {15, "Field Size:", TT},
    {16, "Group Order:", T},
}};
constexpr std::string_view kUnknownAttribute = "Unknown Attribute";

// RFC 2409 (1-6) and RFC 3602 (7).
constexpr std::string_view kUndefinedEncryption = "Undefined Encryption Algorithm";
constexpr std::array<Named, 7> kEncryptionAlgorithms = {{
    {1, "DES-CBC"}, {2, "IDEA-CBC"}, {3, "Blowfish-CBC"}, {4, "RC5-R16-B64-CBC"}, {5, "3DES-CBC"},
    {6, "CAST-CBC"}, {7, "AES-CBC"},
}};

// RFC 2409 (1-3), RFC 4868 (4-6) and the AES-XCBC hash (9).
constexpr std::string_view kUndefinedHash = "Undefined Hash Algorithm";
constexpr std::array<Named, 7> kHashAlgorithms = {{
    {1, "MD5"}, {2, "SHA1"}, {3, "Tiger"}, {4, "SHA-256"}, {5, "SHA-384"}, {6, "SHA-512"}, {9, "AES-XCBC"},
}};

// RFC 2409 (1-5); 128 the challenge/response authentication; the hybrid methods from the
// private-use range.
constexpr std::string_view kUndefinedAuthentication = "Undefined Authentication Algorithm";
constexpr std::array<Named, 10> kAuthenticationMethods = {{
    {1, "Pre-shared key"},
    {2, "DSS signatures"},
    {3, "RSA signatures"},
    {4, "Encryption with RSA"},
    {5, "Revised encryption with RSA"},
    {128, "IKE_A_CRACK"},
    {64221, "HybridInitRSA"},
    {64222, "HybridRespRSA"},
    {64223, "HybridInitDSS"},
    {64224, "HybridRespDSS"},
}};

// Oakley groups: RFC 2409 (1-4), RFC 3526 (5, 14-18), RFC 4753 (19, 20). The daemon's own
// texts say "GP[...]" for the characteristic-two fields; they are kept as it prints them.
constexpr std::string_view kUndefinedGroup = "Undefined Group Description";
constexpr std::array<Named, 12> kGroupDescriptions = {{
    {1, "Default 768-bit MODP group"},
    {2, "Alternate 1024-bit MODP group"},
    {3, "EC2N group on GP[2^155]"},
    {4, "EC2N group on GP[2^185]"},
    {5, "1536-bit MODP group (5)"},
    {14, "2048-bit MODP group (14)"},
    {15, "3072-bit MODP group (15)"},
    {16, "4096-bit MODP group (16)"},
    {17, "6144-bit MODP group (17)"},
    {18, "8192-bit MODP group (18)"},
    {19, "256-bit elliptic curve group (19)"},
    {20, "384-bit elliptic curve group (20)"},
}};

constexpr std::string_view kUnknownGroupType = "Unknown Group Type";
constexpr std::array<Named, 3> kGroupTypes = {{
    {1, "MODP (modular exponentiation group)"},
    {2, "ECP  (elliptic curve group over GF[P])"},
    {3, "EC2N (elliptic curve group over GF[2^N])"},
}};

constexpr std::string_view kUnknownLifeType = "Unknown life type!";
constexpr std::array<Named, 2> kLifeTypes = {{{1, "Seconds"}, {2, "KiloBytes"}}};

// RFC 2407 section 4.5: IPsec SA attribute classes 1-9. The life type and duration follow an
// "SA " or "IPCA " prefix, which their gaps count with.
constexpr std::array<Label, 9> kPhaseTwoLabels = {{
    {1, "Life Type:", TT},
    {2, "Life Duration:", T},
    {3, "Group Description:", T},
    {4, "Encapsulation Mode:", T},
    {5, "Authentication Alg:", T},
    {6, "Key Length:", TT},
    {7, "Key Rounds:", T},
    {8, "Compress Dictionary Size:", T},
    {9, "Compress Private Algorithm:", T},
}};

// RFC 2407 (1-4), RFC 4868 (5-7), RFC 3566 (9).
constexpr std::string_view kUnknownIpsecAuth = "Unknown Authentication Algorithm";
constexpr std::array<Named, 8> kIpsecAuthAlgorithms = {{
    {1, "HMAC-MD5"}, {2, "HMAC-SHA1"}, {3, "DES-MAC"}, {4, "KPDK"}, {5, "SHA-256"}, {6, "SHA-384"}, {7, "SHA-512"},
    {9, "AES-XCBC"},
}};

// RFC 2407 (1, 2) and the UDP-encapsulated modes of NAT traversal, from the private-use range.
constexpr std::array<Named, 4> kEncapsulationModes = {{
    {1, "Tunnel"}, {2, "Transport"}, {61440, "Tunnel UDP Encapsulation"}, {61441, "Transport UDP Encapsulation"},
}};

// The CRACK attributes live in the private range of the ISAKMP attribute space, from 16390.
// The domain, PIN, challenge and message labels stand alone: their values are not shown.
constexpr std::array<Label, 7> kCrackLabels = {{
    {16390, "CRACK_T_USERNAME:", T},
    {16391, "CRACK_T_SECRET:", TT},
    {16392, "CRACK_T_DOMAIN", LabelGap::kNone},
    {16393, "CRACK_T_PIN", LabelGap::kNone},
    {16394, "CRACK_T_CHALLENGE", LabelGap::kNone},
    {16395, "CRACK_T_MESSAGE", LabelGap::kNone},
    {16396, "CRACK_T_FIN:", T},
}};
// The status of CRACK_T_FIN, shown in parentheses after its dump.
constexpr std::array<Named, 3> kCrackFinStatus = {{{0, "RESERVED"}, {1, "CRACK_FIN_SUCCESS"}, {2, "CRACK_FIN_MORE"}}};

constexpr std::string_view kUnknownLamType = "Unknown LAM type";
constexpr std::array<Named, 4> kLamTypes = {{
    {1, "CRACK_PASSWORD"}, {2, "CRACK_OTP"}, {3, "CRACK_CHALLENGE_RESPONSE"}, {4, "CRACK_SECURID"},
}};

// ISAKMP configuration method message types; the daemon spells the prefix "ISKAMP".
constexpr std::string_view kUnknownConfigModeType = "Unknown Config Mode Type";
constexpr std::array<Named, 4> kConfigModeTypes = {{
    {1, "ISKAMP_CFG_REQUEST"}, {2, "ISKAMP_CFG_REPLY"}, {3, "ISKAMP_CFG_SET"}, {4, "ISKAMP_CFG_ACK"},
}};

// Configuration-mode attributes 1-12 (internal address, DNS, ...), then the labels of the
// extended-authentication attributes; the attribute payload maps its types onto these rows.
// The message and challenge values are dumped on the lines below their labels.
constexpr std::string_view kUnknownConfigAttribute = "Unknown attribute!";
constexpr std::array<Label, 20> kConfigModeLabels = {{
    {1, "Internal IP4 address:", TT},
    {2, "Internal IP4 netmask:", TT},
    {3, "Internal IP4 DNS:", TT},
    {4, "Internal IP4 NBNS:", TT},
    {5, "Internal address expiry:", T},
    {6, "Internal IP4 DHCP:", T},
    {7, "Application version:", T},
    {8, "Internal IP6 address:", T},
    {9, "Internal IP6 netmask:", T},
    {10, "Internal IP6 DNS:", T},
    {11, "Internal IP6 NBNS:", T},
    {12, "Internal IP6 DHCP:", T},
    {13, "Type:", T},
    {14, "Username:", T},
    {15, "Password:", T},
    {16, "Passcode:", T},
    {17, "Message:", LabelGap::kLineBreak},
    {18, "Challenge:", LabelGap::kLineBreak},
    {19, "Domain:", T},
    {20, "Status:", T},
}};

// RFC 2408 section 3.14.1 notify message types 1-30, the IPsec DOI status types (RFC 2407
// section 4.6.3), dead peer detection (RFC 3706) and the gateway's private notifications.
constexpr std::string_view kUnknownNotification = "UNKNOWN NOTIFICATION!!!";
constexpr std::array<Named, 40> kNotifyTypes = {{
    {1, "INVALID-PAYLOAD-TYPE"},      {2, "DOI-NOT-SUPPORTED"},
    {3, "SITUATION-NOT-SUPPORTED"},   {4, "INVALID-COOKIE"},
    {5, "INVALID-MAJOR-VERSION"},     {6, "INVALID-MINOR-VERSION"},
    {7, "INVALID-EXCHANGE-TYPE"},     {8, "INVALID-FLAGS"},
    {9, "INVALID-MESSAGE-ID"},        {10, "INVALID-PROTOCOL-ID"},
    {11, "INVALID-SPI"},              {12, "INVALID-TRANSFORM-ID"},
    {13, "ATTRIBUTES-NOT-SUPPORTED"}, {14, "NO-PROPOSAL-CHOSEN"},
    {15, "BAD-PROPOSAL-SYNTAX"},      {16, "PAYLOAD-MALFORMED"},
    {17, "INVALID-KEY-INFORMATION"},  {18, "INVALID-ID-INFORMATION"},
    {19, "INVALID-CERT-ENCODING"},    {20, "INVALID-CERTIFICATE"},
    {21, "CERT-TYPE-UNSUPPORTED"},    {22, "INVALID-CERT-AUTHORITY"},
    {23, "INVALID-HASH-INFORMATION"}, {24, "AUTHENTICATION-FAILED"},
    {25, "INVALID-SIGNATURE"},        {26, "ADDRESS-NOTIFICATION"},
    {27, "NOTIFY-SA-LIFETIME"},       {28, "CERTIFICATE-UNAVAILABLE"},
    {29, "UNSUPPORTED-EXCHANGE-TYPE"}, {30, "UNEQUAL-PAYLOAD-LENGTHS"},
    {9101, "GX_LANTERNET_NOTIFICATION"}, {9102, "GX_MY_CERT_IS_INVALID"},
    {9110, "GXIKE_UNDER_HEAVY_LOAD"}, {24576, "RESPONDER-LIFETIME"},
    {24577, "REPLAY-STATUS"},         {24578, "INITIAL-CONTACT"},
    {32771, "TRX_POLICY_ID_NOTIFY"},  {32772, "TRX_AUTH_NOTIFY "},  // the daemon's text ends in a blank
    {36136, "DPD HELLO"},             {36137, "DPD ACK"},
}};

// RFC 2408 section 3.9 certificate encodings.
constexpr std::array<Named, 11> kCertEncodings = {{
    {0, "NONE"},
    {1, "PKCS #7 wrapped X.509 certificate"},
    {2, "PGP Certificate"},
    {3, "DNS Signed Key"},
    {4, "X.509 Certificate - Signature"},
    {5, "X.509 Certificate - Key Exchange"},
    {6, "Kerberos Tokens"},
    {7, "Certificate Revocation List (CRL)"},
    {8, "Authority Revocation List (ARL)"},
    {9, "SPKI Certificate"},
    {10, "X.509 Certificate - Attribute"},
}};

// RFC 2407 section 4.6.2.1 identification types.
constexpr std::array<Named, 12> kIdTypes = {{
    {0, "RESERVED"},           {1, "ID_IPV4_ADDR"},        {2, "ID_FQDN"},            {3, "ID_USER_FQDN"},
    {4, "ID_IPV4_ADDR_SUBNET"}, {5, "ID_IPV6_ADDR"},       {6, "ID_IPV6_ADDR_SUBNET"}, {7, "ID_IPV4_ADDR_RANGE"},
    {8, "ID_IPV6_ADDR_RANGE"}, {9, "ID_DER_ASN1_DN"},      {10, "ID_DER_ASN1_GN"},    {11, "ID_KEY_ID"},
}};

static_assert(Ascending(kPayloadTypes) && Ascending(kProtocolCaptions) && Ascending(kIsakmpTransforms) &&
              Ascending(kAhTransforms) && Ascending(kEspTransforms) && Ascending(kIpcompTransforms) &&
              Ascending(kPhaseOneLabels) && Ascending(kEncryptionAlgorithms) && Ascending(kHashAlgorithms) &&
              Ascending(kAuthenticationMethods) && Ascending(kGroupDescriptions) && Ascending(kGroupTypes) &&
              Ascending(kLifeTypes) && Ascending(kPhaseTwoLabels) && Ascending(kIpsecAuthAlgorithms) &&
              Ascending(kEncapsulationModes) && Ascending(kCrackLabels) && Ascending(kCrackFinStatus) &&
              Ascending(kLamTypes) && Ascending(kConfigModeTypes) && Ascending(kConfigModeLabels) &&
              Ascending(kNotifyTypes) && Ascending(kCertEncodings) && Ascending(kIdTypes));

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

void AppendLabelGap(std::string& out, LabelGap gap) {
  switch (gap) {
    case LabelGap::kNone: break;
    case LabelGap::kBlank: out += ' '; break;
    case LabelGap::kTab: out += '\t'; break;
    case LabelGap::kTwoTabs: out += "\t\t"; break;
    case LabelGap::kLineBreak: out += "\r\n"; break;
  }
}

std::string_view PayloadTypeName(std::uint32_t type) {
  // The daemon sometimes logs the private payload types through a signed char, so 128, 130
  // and 131 also arrive as their 8-bit sign extensions.
  if (type >= 0xFFFFFF80u) type &= 0xFFu;
  return NameOf(kPayloadTypes, type, "not recognized");
}

std::string_view ProtocolCaptionName(std::uint32_t protocolId) {
  return NameOf(kProtocolCaptions, protocolId, "Unknown Protocol ID!");
}

std::string_view TransformIdName(std::uint32_t protocolId, std::uint32_t transformId) {
  switch (protocolId) {
    case 1: return NameOf(kIsakmpTransforms, transformId, "UNKNOWN KEY");
    case 2: return NameOf(kAhTransforms, transformId, "UNKNOWN AH");
    case 3: return NameOf(kEspTransforms, transformId, "UKNOWN ESP");
    case 4: return NameOf(kIpcompTransforms, transformId, "UNKNOWN IPCOMP");
    default: return "UNKNOWN PROP-ID";
  }
}

std::string_view PhaseOneAttributeLabel(std::uint32_t type) { return LabelName(kPhaseOneLabels, type, kUnknownAttribute); }

void AppendPhaseOneAttributeLabel(std::string& out, std::uint32_t type) {
  AppendLabel(out, kPhaseOneLabels, type, kUnknownAttribute);
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
  return NameOf(kEncryptionAlgorithms, value, kUndefinedEncryption);
}

std::string_view HashAlgorithmName(std::uint32_t value) { return NameOf(kHashAlgorithms, value, kUndefinedHash); }

std::string_view AuthenticationMethodName(std::uint32_t value) {
  return NameOf(kAuthenticationMethods, value, kUndefinedAuthentication);
}

std::string_view GroupDescriptionName(std::uint32_t value) {
  return NameOf(kGroupDescriptions, value, kUndefinedGroup);
}

std::string_view GroupTypeName(std::uint32_t value) { return NameOf(kGroupTypes, value, kUnknownGroupType); }

std::string_view LifeTypeName(std::uint32_t value) { return NameOf(kLifeTypes, value, kUnknownLifeType); }

std::string_view PhaseTwoAttributeLabel(std::uint32_t type) { return LabelName(kPhaseTwoLabels, type, kUnknownAttribute); }

void AppendPhaseTwoAttributeLabel(std::string& out, std::uint32_t type) {
  AppendLabel(out, kPhaseTwoLabels, type, kUnknownAttribute);
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
  return NameOf(kIpsecAuthAlgorithms, value, kUnknownIpsecAuth);
}

std::string_view EncapsulationModeName(std::uint32_t value) { return NameOf(kEncapsulationModes, value, {}); }

std::string CrackAttributeLabel(std::uint32_t type) { return RenderLabel(kCrackLabels, type, kUnknownAttribute); }

std::string CrackFinStatusName(std::uint32_t value) {
  const std::string_view name = NameOf(kCrackFinStatus, value, {});
  if (name.empty()) return {};
  std::string text = " (";
  text += name;
  text += ')';
  return text;
}

std::string LamTypeName(std::uint32_t type) { return std::string(NameOf(kLamTypes, type, kUnknownLamType)); }

std::string ConfigModeTypeName(std::uint32_t type) {
  return std::string(NameOf(kConfigModeTypes, type, kUnknownConfigModeType));
}

std::string ConfigModeAttributeLabel(std::uint32_t index) {
  return RenderLabel(kConfigModeLabels, index, kUnknownConfigAttribute);
}

std::string NotifyTypeName(std::uint32_t type) {
  return std::string(NameOf(kNotifyTypes, type, kUnknownNotification));
}

std::string CertEncodingName(std::uint32_t encoding) {
  if (const Named* found = Find(kCertEncodings, encoding)) return std::string(found->name);
  return "Unknown certificate encoding (" + std::to_string(encoding) + ")";
}

std::string IdTypeName(std::uint32_t type) {
  if (const Named* found = Find(kIdTypes, type)) return std::string(found->name);
  return "Unknown ID type (" + std::to_string(type) + ")";
}

}  // namespace quillon
