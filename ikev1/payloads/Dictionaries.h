// Value-to-name tables of ISAKMP, the IPsec DOI and the daemon's private values, each a list
// of {value, name} pairs. Every lookup is a pure function; values outside a table get that
// table's fixed text. Values are compared unsigned, so an unreadable field (0xFFFFFFFF) or a
// negative number converted to 32 bits always falls outside the tables.
//
// The attribute labels of the detail texts ("Hash Algorithm:") are names too; the gap that
// sets the value off after them (tabs, a blank, a line break) is a property of the label,
// added when the label is rendered: by the Append functions and by the label functions that
// return a std::string.
//
// Several texts are the daemon's own spellings and are kept verbatim because users compare
// the viewer against the raw log: "UKNOWN ESP", "ISKAMP_CFG_...", the leading blank of the
// protocol captions, the labels' gaps and the blank after "TRX_AUTH_NOTIFY".
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace quillon {

// What follows a label before its value.
enum class LabelGap : std::uint8_t { kNone, kBlank, kTab, kTwoTabs, kLineBreak };
void AppendLabelGap(std::string& out, LabelGap gap);

// Name of an ISAKMP next-payload / payload type value (0-14, 128, 130, 131).
std::string_view PayloadTypeName(std::uint32_t type);

// Proposal caption part for a protocol ID: "Reserved", " PROTO_ISAKMP" .. " PROTO_IPCOMP"; 5 and above "Unknown Protocol ID!".
std::string_view ProtocolCaptionName(std::uint32_t protocolId);

// IPsec DOI transform ID name within a protocol (1 ISAKMP, 2 AH, 3 ESP, 4 IPCOMP); other protocols "UNKNOWN PROP-ID".
std::string_view TransformIdName(std::uint32_t protocolId, std::uint32_t transformId);

// --- Phase one (ISAKMP SA attributes, attribute space 32; type without the format bit) ---

// Label of a phase-one attribute type 1-16; other types "Unknown Attribute". The Append form
// renders it with its gap ("Hash Algorithm:\t\t").
std::string_view PhaseOneAttributeLabel(std::uint32_t type);
void AppendPhaseOneAttributeLabel(std::string& out, std::uint32_t type);

// Named value of a phase-one attribute (types 1-5 and 11); empty for types whose value is shown as a number or not at all.
std::string_view PhaseOneAttributeValueName(std::uint32_t type, std::uint32_t value);

// Phase-one encryption algorithm (0-7); 8 and above "Undefined Encryption Algorithm".
std::string_view EncryptionAlgorithmName(std::uint32_t value);

// Phase-one hash algorithm (0-9); 10 and above "Undefined Hash Algorithm".
std::string_view HashAlgorithmName(std::uint32_t value);

// Phase-one authentication method (0-5, CRACK 128, hybrid 64221-64224); others "Undefined Authentication Algorithm".
std::string_view AuthenticationMethodName(std::uint32_t value);

// Oakley group description of either phase (0-20); 21 and above "Undefined Group Description".
std::string_view GroupDescriptionName(std::uint32_t value);

// Phase-one group type (0-3); 4 and above "Unknown Group Type".
std::string_view GroupTypeName(std::uint32_t value);

// SA life type of either phase (0-2); 3 and above "Unknown life type!".
std::string_view LifeTypeName(std::uint32_t value);

// --- Phase two (IPsec SA attributes, attribute space 64; type modulo 32) ---

// Label of a phase-two attribute type 1-9 (life type and duration without their "SA "/"IPCA " prefix); others
// "Unknown Attribute". The Append form renders it with its gap.
std::string_view PhaseTwoAttributeLabel(std::uint32_t type);
void AppendPhaseTwoAttributeLabel(std::string& out, std::uint32_t type);

// Named value of a phase-two attribute (types 1, 3, 4, 5); empty otherwise. Type 5 is the plain table, without the AES-GCM rule.
std::string_view PhaseTwoAttributeValueName(std::uint32_t type, std::uint32_t value);

// IPsec authentication algorithm (0-9); 10 and above "Unknown Authentication Algorithm".
std::string_view IpsecAuthAlgorithmName(std::uint32_t value);

// Encapsulation mode (1, 2 and the UDP-encapsulated 61440, 61441); any other value empty.
std::string_view EncapsulationModeName(std::uint32_t value);

// --- Challenge/response (CRACK) ---

// Label of a CRACK attribute type 16390-16396 (attribute space 32, format bit cleared) with its gap; others
// "Unknown Attribute".
std::string CrackAttributeLabel(std::uint32_t type);

// Parenthesised CRACK_T_FIN status with its leading blank (0-2); any other value empty.
std::string CrackFinStatusName(std::uint32_t value);

// Legacy authentication method type of a challenge/response payload (0-4); 5 and above "Unknown LAM type".
std::string LamTypeName(std::uint32_t type);

// --- Configuration mode ---

// Configuration-mode message type (0-4); 5 and above "Unknown Config Mode Type".
std::string ConfigModeTypeName(std::uint32_t type);

// Configuration-mode attribute label by table index 1-20 with its gap; others "Unknown attribute!".
std::string ConfigModeAttributeLabel(std::uint32_t index);

// --- Notification, certificate and identification ---

// Notify message type (RFC 2408 errors 1-30, status and private types); others "UNKNOWN NOTIFICATION!!!".
std::string NotifyTypeName(std::uint32_t type);

// Certificate encoding (0-10); above that "Unknown certificate encoding (N)" with N in decimal.
std::string CertEncodingName(std::uint32_t encoding);

// Identification type (0-11); above that "Unknown ID type (N)" with N in decimal.
std::string IdTypeName(std::uint32_t type);

}  // namespace quillon
