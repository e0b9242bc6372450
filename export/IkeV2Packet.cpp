#include "export/IkeV2Packet.h"

#include <cctype>
#include <charconv>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "ikev2/V2Exchange.h"
#include "ikev2/V2Payloads.h"
#include "model/CalendarTime.h"
#include "model/LogFile.h"

namespace quillon::hand_over {
namespace {

// IKEv2 payload types (RFC 7296 section 3.2).
constexpr std::uint32_t kSA = 33, kKE = 34, kIDi = 35, kIDr = 36, kCert = 37, kCertReq = 38, kAuth = 39, kNonce = 40,
                        kNotify = 41, kDelete = 42, kVendorId = 43, kTSi = 44, kTSr = 45, kEncrypted = 46,
                        kConfiguration = 47, kEap = 48;
// Substructures of the security association.
constexpr std::uint32_t kMoreProposals = 2, kMoreTransforms = 3;
constexpr std::uint32_t kProtocolIke = 1, kProtocolEsp = 3;
constexpr std::uint32_t kKeyLengthAttribute = 14;
constexpr std::uint32_t kTsIPv4Range = 7;

void Put8(std::string& out, std::uint32_t v) { out += static_cast<char>(v & 0xFF); }
void Put16(std::string& out, std::uint32_t v) {
  Put8(out, v >> 8);
  Put8(out, v);
}
void Put32(std::string& out, std::uint32_t v) {
  Put16(out, v >> 16);
  Put16(out, v);
}

// A name of the log or of the RFCs reduced to its letters and digits in upper case: the daemon
// writes "No proposal chosen" and "AES-CBC-256" where the RFCs write NO_PROPOSAL_CHOSEN and
// ENCR_AES_CBC, so names are compared in this form.
std::string Key(std::string_view text) {
  std::string key;
  for (const char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (std::isalnum(u) != 0) key += static_cast<char>(std::toupper(u));
  }
  return key;
}

// A decimal number of at most `max`, the whole text.
std::optional<std::uint32_t> Number(std::string_view text, std::uint32_t max) {
  std::uint32_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size() || value > max) return std::nullopt;
  return value;
}

struct Named {
  std::string_view key;  // as Key() gives it
  std::uint32_t value;
};

// The value a name stands for in `table`, or the number the log wrote instead of a name.
std::optional<std::uint32_t> Lookup(std::span<const Named> table, std::string_view name, std::uint32_t max) {
  if (const auto number = Number(name, max)) return number;
  const std::string key = Key(name);
  for (const Named& entry : table)
    if (entry.key == key) return entry.value;
  return std::nullopt;
}

// Payload kinds by the names the log's Payload lines give them (shown spelt for people).
constexpr Named kPayloadTypes[] = {
    {"SECURITYASSOCIATION", kSA}, {"KEYEXCHANGE", kKE}, {"IDI", kIDi},        {"IDR", kIDr},
    {"CERT", kCert},              {"CERTREQ", kCertReq}, {"AUTH", kAuth},     {"NONCE", kNonce},
    {"NOTIFY", kNotify},          {"DELETE", kDelete},   {"VENDORID", kVendorId}, {"VID", kVendorId},
    {"TSI", kTSi},                {"TSR", kTSr},         {"ENCRYPTED", kEncrypted}, {"CONF", kConfiguration},
    {"CP", kConfiguration},       {"EAP", kEap}};
constexpr Named kProtocols[] = {{"IKE", 1}, {"AH", 2}, {"ESP", 3}};
// Transform IDs by transform type (1 encryption, 2 pseudo-random function, 3 integrity,
// 4 Diffie-Hellman group, 5 extended sequence numbers), IANA's IKEv2 registry.
constexpr Named kEncryption[] = {
    {"DES", 2},       {"3DES", 3},       {"RC5", 4},         {"IDEA", 5},          {"CAST", 6},
    {"BLOWFISH", 7},  {"NULL", 11},      {"AESCBC", 12},     {"AESCTR", 13},       {"AESCCM8", 14},
    {"AESCCM12", 15}, {"AESCCM16", 16},  {"AESGCM8", 18},    {"AESGCM12", 19},     {"AESGCM16", 20},
    {"CAMELLIACBC", 23}, {"CHACHA20POLY1305", 28}};
constexpr Named kPrf[] = {{"HMACMD5", 1},    {"HMACSHA1", 2},    {"HMACTIGER", 3},  {"AES128XCBC", 4},
                          {"HMACSHA256", 5}, {"HMACSHA384", 6},  {"HMACSHA512", 7}, {"AES128CMAC", 8},
                          {"HMACSHA2256", 5}, {"HMACSHA2384", 6}, {"HMACSHA2512", 7}};
constexpr Named kIntegrity[] = {{"NONE", 0},           {"HMACMD596", 1},       {"HMACSHA196", 2},
                                {"DESMAC", 3},         {"KPDKMD5", 4},         {"AESXCBC96", 5},
                                {"HMACMD5128", 6},     {"HMACSHA1160", 7},     {"AESCMAC96", 8},
                                {"AES128GMAC", 9},     {"AES192GMAC", 10},     {"AES256GMAC", 11},
                                {"HMACSHA256128", 12}, {"HMACSHA384192", 13},  {"HMACSHA512256", 14},
                                {"HMACSHA2256128", 12}, {"HMACSHA2384192", 13}, {"HMACSHA2512256", 14}};
constexpr Named kGroups[] = {{"NONE", 0},
                             {"768BITMODP", 1},
                             {"1024BITMODP", 2},
                             {"1536BITMODP", 5},
                             {"2048BITMODP", 14},
                             {"3072BITMODP", 15},
                             {"4096BITMODP", 16},
                             {"6144BITMODP", 17},
                             {"8192BITMODP", 18},
                             {"256BITRANDOMECP", 19},
                             {"384BITRANDOMECP", 20},
                             {"521BITRANDOMECP", 21},
                             {"1024BITMODPWITH160BITPRIMEORDERSUBGROUP", 22},
                             {"2048BITMODPWITH224BITPRIMEORDERSUBGROUP", 23},
                             {"2048BITMODPWITH256BITPRIMEORDERSUBGROUP", 24},
                             {"192BITRANDOMECP", 25},
                             {"224BITRANDOMECP", 26},
                             {"CURVE25519", 31},
                             {"CURVE448", 32}};
constexpr Named kEsn[] = {{"NOESN", 0}, {"ESN", 1}};
// Notify message types (RFC 7296 and the RFCs that added to it).
constexpr Named kNotifyTypes[] = {
    {"UNSUPPORTEDCRITICALPAYLOAD", 1}, {"INVALIDIKESPI", 4},           {"INVALIDMAJORVERSION", 5},
    {"INVALIDSYNTAX", 7},              {"INVALIDMESSAGEID", 9},        {"INVALIDSPI", 11},
    {"NOPROPOSALCHOSEN", 14},          {"INVALIDKEPAYLOAD", 17},       {"AUTHENTICATIONFAILED", 24},
    {"SINGLEPAIRREQUIRED", 34},        {"NOADDITIONALSAS", 35},        {"INTERNALADDRESSFAILURE", 36},
    {"FAILEDCPREQUIRED", 37},          {"TSUNACCEPTABLE", 38},         {"INVALIDSELECTORS", 39},
    {"UNACCEPTABLEADDRESSES", 40},     {"UNEXPECTEDNATDETECTED", 41},  {"USEASSIGNEDHOA", 42},
    {"TEMPORARYFAILURE", 43},          {"CHILDSANOTFOUND", 44},        {"INVALIDGROUPID", 45},
    {"AUTHORIZATIONFAILED", 46},       {"INITIALCONTACT", 16384},      {"SETWINDOWSIZE", 16385},
    {"ADDITIONALTSPOSSIBLE", 16386},   {"IPCOMPSUPPORTED", 16387},     {"NATDETECTIONSOURCEIP", 16388},
    {"NATDETECTIONDESTINATIONIP", 16389}, {"COOKIE", 16390},           {"USETRANSPORTMODE", 16391},
    {"HTTPCERTLOOKUPSUPPORTED", 16392}, {"REKEYSA", 16393},            {"ESPTFCPADDINGNOTSUPPORTED", 16394},
    {"NONFIRSTFRAGMENTSALSO", 16395},  {"MOBIKESUPPORTED", 16396},     {"ADDITIONALIP4ADDRESS", 16397},
    {"ADDITIONALIP6ADDRESS", 16398},   {"NOADDITIONALADDRESSES", 16399}, {"UPDATESAADDRESSES", 16400},
    {"COOKIE2", 16401},                {"NONATSALLOWED", 16402},       {"AUTHLIFETIME", 16403},
    {"MULTIPLEAUTHSUPPORTED", 16404},  {"ANOTHERAUTHFOLLOWS", 16405},  {"REDIRECTSUPPORTED", 16406},
    {"REDIRECT", 16407},               {"REDIRECTEDFROM", 16408},      {"EAPONLYAUTHENTICATION", 16417},
    {"IKEV2FRAGMENTATIONSUPPORTED", 16430}, {"SIGNATUREHASHALGORITHMS", 16431}};
constexpr Named kIdTypes[] = {{"IPV4ADDR", 1}, {"FQDN", 2},      {"RFC822ADDR", 3}, {"USERFQDN", 3},
                              {"IPV6ADDR", 5}, {"DERASN1DN", 9}, {"DERASN1GN", 10}, {"KEYID", 11}};
constexpr Named kCertEncodings[] = {{"PKCS7WRAPPEDX509CERTIFICATE", 1}, {"PGPCERTIFICATE", 2},
                                    {"DNSSIGNEDKEY", 3},                {"X509CERTIFICATESIGNATURE", 4},
                                    {"KERBEROSTOKEN", 6},               {"CERTIFICATEREVOCATIONLIST", 7},
                                    {"AUTHORITYREVOCATIONLIST", 8},     {"SPKICERTIFICATE", 9},
                                    {"X509CERTIFICATEATTRIBUTE", 10},   {"RAWRSAKEY", 11},
                                    {"HASHANDURLOFX509CERTIFICATE", 12}, {"HASHANDURLOFX509BUNDLE", 13}};
constexpr Named kAuthMethods[] = {{"RSADIGITALSIGNATURE", 1}, {"SHAREDKEYMESSAGEINTEGRITYCODE", 2},
                                  {"DSSDIGITALSIGNATURE", 3}, {"NULLAUTHENTICATION", 13},
                                  {"DIGITALSIGNATURE", 14}};
constexpr Named kConfigurationTypes[] = {{"CFGREQUEST", 1}, {"CFGREPLY", 2}, {"CFGSET", 3}, {"CFGACK", 4}};
// Configuration attributes by the labels the reader gives them, or by their own names.
constexpr Named kConfigurationAttributes[] = {
    {"INTERNALADDRESS", 1},  {"INTERNALNETMASK", 2},      {"INTERNALDNS", 3},         {"INTERNALNBNS", 4},
    {"ADDRESSEXPIRY", 5},    {"APPLICATIONVERSION", 7},   {"INTERNALIP4ADDRESS", 1},  {"INTERNALIP4NETMASK", 2},
    {"INTERNALIP4DNS", 3},   {"INTERNALIP4NBNS", 4},      {"INTERNALADDRESSEXPIRY", 5}, {"INTERNALIP4DHCP", 6},
    {"INTERNALIP4SUBNET", 13}, {"SUPPORTEDATTRIBUTES", 14}};
constexpr Named kEapCodes[] = {{"REQUEST", 1}, {"RESPONSE", 2}, {"SUCCESS", 3}, {"FAILURE", 4}};
constexpr Named kEapTypes[] = {{"IDENTITY", 1}, {"NOTIFICATION", 2}, {"NAK", 3},      {"MD5CHALLENGE", 4},
                               {"OTP", 5},      {"GTC", 6},          {"TLS", 13},     {"SIM", 18},
                               {"TTLS", 21},    {"AKA", 23},         {"PEAP", 25},    {"MSCHAPV2", 26}};

// Hexadecimal digits as bytes (an SPI, a hash); false for any other text.
bool PutHex(std::string& out, std::string_view text) {
  if (text.size() % 2 != 0) return false;
  std::string bytes;
  for (std::size_t i = 0; i < text.size(); i += 2) {
    unsigned value = 0;
    const auto [end, error] = std::from_chars(text.data() + i, text.data() + i + 2, value, 16);
    if (error != std::errc() || end != text.data() + i + 2) return false;
    bytes += static_cast<char>(value);
  }
  out += bytes;
  return true;
}

// "10.1.1.0" as four bytes; false for any other text.
bool PutIPv4(std::string& out, std::string_view text) {
  std::uint32_t address = 0;
  for (int i = 0; i < 4; ++i) {
    if (i > 0) {
      if (text.empty() || text.front() != '.') return false;
      text.remove_prefix(1);
    }
    unsigned part = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), part);
    if (error != std::errc() || part > 255) return false;
    address = address << 8 | part;
    text.remove_prefix(static_cast<std::size_t>(end - text.data()));
  }
  if (!text.empty()) return false;
  Put32(out, address);
  return true;
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) text.remove_suffix(1);
  return text;
}

// The values of an element the log repeated, joined with ", " by the reader.
std::vector<std::string_view> Values(std::string_view joined) {
  std::vector<std::string_view> values;
  while (!joined.empty()) {
    const std::size_t comma = joined.find(", ");
    values.push_back(Trim(joined.substr(0, comma)));
    if (comma == std::string_view::npos) break;
    joined.remove_prefix(comma + 2);
  }
  return values;
}

// "2008-03-02" and "08:14:55" as seconds since 1970; 0 when they do not read.
std::int64_t Seconds(std::string_view date, std::string_view time) {
  CalendarTime t;
  const auto number = [](std::string_view text, std::size_t at, std::size_t size, int& value) {
    if (text.size() < at + size) return false;
    const auto [end, error] = std::from_chars(text.data() + at, text.data() + at + size, value);
    return error == std::errc() && end == text.data() + at + size;
  };
  if (!number(date, 0, 4, t.year) || !number(date, 5, 2, t.month) || !number(date, 8, 2, t.day) ||
      !number(time, 0, 2, t.hour) || !number(time, 3, 2, t.minute) || !number(time, 6, 2, t.second))
    return 0;
  if (t.year < 1970 || t.month < 1 || t.month > 12 || t.day < 1 || t.day > 31) return 0;
  return t.Seconds();
}

std::uint32_t ExchangeType(std::string_view name) {
  if (name == "IKE_SA_INIT") return 34;
  if (name == "IKE_AUTH") return 35;
  if (name == "CREATE_CHILD_SA") return 36;
  if (name == "INFORMATIONAL") return 37;
  return Number(name, 255).value_or(0);
}

// One message's rebuilding: the notes collect what the log lacks.
struct Build {
  std::vector<std::string>& notes;

  void Note(std::string_view what, std::string_view text) { notes.push_back(std::string(what) + ": " + std::string(text)); }

  // A value named by the log: its number, or `fallback` and a note when the name is unknown.
  std::uint32_t Value(std::span<const Named> table, std::string_view name, std::uint32_t max,
                      std::string_view what, std::uint32_t fallback = 0) {
    if (const auto value = Lookup(table, name, max)) return *value;
    Note(what, name.empty() ? "not in the log, written as " + std::to_string(fallback)
                            : "\"" + std::string(name) + "\" not known, written as " + std::to_string(fallback));
    return fallback;
  }

  // A structure with the generic header (next, reserved, length) before `body`, which is cut
  // where its length would not fit in 16 bits (only a hostile log lists that many values).
  void Wrap(std::string& out, std::uint32_t next, std::string_view body, std::string_view what) {
    if (body.size() + 4 > 0xFFFF) {
      Note(what, "cut to 65535 bytes");
      body = body.substr(0, 0xFFFF - 4);
    }
    Put8(out, next);
    Put8(out, 0);
    Put16(out, static_cast<std::uint32_t>(body.size() + 4));
    out += body;
  }

  // `length` of the log's Length element less `header`, as zeros (key material the log does
  // not hold).
  void Zeros(std::string& body, std::string_view length, std::size_t header, std::string_view what) {
    const auto logged = Number(length, 0xFFFF);
    if (!logged || *logged < header) {
      Note(what, "data not in the log, none written");
      return;
    }
    body.append(*logged - header, '\0');
    Note(what, "data not in the log, " + std::to_string(*logged - header) + " zero bytes written");
  }

  std::string Transforms(const AttributeMap& proposal, const std::string& where, std::size_t& count) {
    struct Kind {
      std::string_view key;
      std::uint32_t type;
      std::span<const Named> table;
    };
    static constexpr Kind kKinds[] = {
        {"encr", 1, kEncryption}, {"prf", 2, kPrf}, {"integ", 3, kIntegrity}, {"dh", 4, kGroups}, {"esn", 5, kEsn}};
    std::vector<std::string> transforms;
    for (const Kind& kind : kKinds) {
      for (const std::string_view name : Values(proposal.Get(kind.key))) {
        std::string body;
        Put8(body, kind.type);
        Put8(body, 0);
        std::optional<std::uint32_t> id = Lookup(kind.table, name, 0xFFFF);
        std::uint32_t keyLength = 0;
        // An encryption name may end in its key length ("AES-CBC-256").
        if (!id && kind.type == 1) {
          const std::size_t dash = name.rfind('-');
          const auto bits = dash == std::string_view::npos ? std::nullopt : Number(name.substr(dash + 1), 0xFFFF);
          if (bits && (*bits == 128 || *bits == 192 || *bits == 256)) {
            id = Lookup(kind.table, name.substr(0, dash), 0xFFFF);
            keyLength = *bits;
          }
        }
        if (!id) {
          Note(where, std::string(kind.key) + " \"" + std::string(name) + "\" not known, transform not written");
          continue;
        }
        Put16(body, *id);
        if (keyLength != 0) {
          Put16(body, 0x8000 | kKeyLengthAttribute);
          Put16(body, keyLength);
        }
        transforms.push_back(std::move(body));
      }
    }
    if (transforms.size() > 255) {
      Note(where, std::to_string(transforms.size()) + " transforms, the first 255 written");
      transforms.resize(255);
    }
    std::string out;
    for (std::size_t i = 0; i < transforms.size(); ++i)
      Wrap(out, i + 1 < transforms.size() ? kMoreTransforms : 0, transforms[i], where);
    count = transforms.size();
    return out;
  }

  std::string SecurityAssociation(const v2Payload& sa) {
    std::string out;
    const std::size_t proposals = sa.ChildCount();
    for (std::size_t p = 0; p < proposals; ++p) {
      // A security association's children are its proposals.
      const auto& proposal = static_cast<const v2Proposal&>(*sa.Child(p));
      const AttributeMap& a = proposal.Attributes();
      const std::string where = "proposal " + std::string(a.Get("ID"));
      std::string body;
      Put8(body, Value({}, a.Get("ID"), 255, where + " number", static_cast<std::uint32_t>(p + 1)));
      Put8(body, Value(kProtocols, a.Get("Protocol"), 255, where + " protocol", kProtocolIke));
      std::string spi;
      if (!PutHex(spi, a.Get("SPI")) || spi.size() > 255) {
        Note(where, "SPI \"" + std::string(a.Get("SPI")) + "\" is no hexadecimal SPI, none written");
        spi.clear();
      }
      Put8(body, static_cast<std::uint32_t>(spi.size()));
      std::size_t count = 0;
      std::string transforms = Transforms(a, where, count);
      Put8(body, static_cast<std::uint32_t>(count));
      body += spi;
      body += transforms;
      Wrap(out, p + 1 < proposals ? kMoreProposals : 0, body, where);
    }
    return out;
  }

  std::string Notify(const v2Payload& n, const std::string& what) {
    const AttributeMap& a = n.Attributes();
    std::string spi;
    if (!PutHex(spi, a.Get("SPI")) || spi.size() > 255) {
      Note(what, "SPI \"" + std::string(a.Get("SPI")) + "\" is no hexadecimal SPI, none written");
      spi.clear();
    }
    std::uint32_t protocol = 0;
    if (a.contains("Protocol")) {
      protocol = Value(kProtocols, a.Get("Protocol"), 255, what + " protocol");
    } else if (!spi.empty()) {
      protocol = spi.size() == 8 ? kProtocolIke : kProtocolEsp;
      Note(what, std::string("protocol not in the log, written as ") + (protocol == kProtocolIke ? "IKE" : "ESP") +
                     " by the SPI's size");
    }
    std::string body;
    Put8(body, protocol);
    Put8(body, static_cast<std::uint32_t>(spi.size()));
    const std::uint32_t type = Value(kNotifyTypes, a.Get("Type"), 0xFFFF, what + " type");
    Put16(body, type);
    body += spi;
    // The log holds no notification data. The types whose data has a fixed size get zeros of
    // that size (the accepted group of INVALID_KE_PAYLOAD, a window size, an IPComp CPI and
    // transform, a lifetime): without them the payload would read as cut short.
    std::size_t size = 0;
    if (type == 17) size = 2;
    else if (type == 16385 || type == 16403) size = 4;
    else if (type == 16387) size = 3;
    if (size != 0) {
      body.append(size, '\0');
      Note(what, "notification data not in the log, " + std::to_string(size) + " zero bytes written");
    }
    return body;
  }

  std::string Delete(const v2Payload& d, const std::string& what) {
    const AttributeMap& a = d.Attributes();
    std::string spis;
    std::size_t size = 0, count = 0;
    for (const std::string_view text : Values(a.Get("SPI"))) {
      std::string spi;
      if (!PutHex(spi, text) || spi.empty() || spi.size() > 255 || (count > 0 && spi.size() != size)) {
        Note(what, "SPI \"" + std::string(text) + "\" is no hexadecimal SPI of the others' size, not written");
        continue;
      }
      size = spi.size();
      spis += spi;
      ++count;
    }
    std::string body;
    Put8(body, Value(kProtocols, a.Get("Protocol"), 255, what + " protocol", size == 4 ? kProtocolEsp : kProtocolIke));
    Put8(body, static_cast<std::uint32_t>(size));
    Put16(body, static_cast<std::uint32_t>(count));
    return body + spis;
  }

  std::string Identification(const v2Payload& id, const std::string& what) {
    const AttributeMap& a = id.Attributes();
    const std::uint32_t type = Value(kIdTypes, a.Get("Type"), 255, what + " type");
    std::string body;
    Put8(body, type);
    body.append(3, '\0');
    const std::string_view data = a.Get("Data");
    if (type == 1) {
      if (!PutIPv4(body, data)) Note(what, "\"" + std::string(data) + "\" is no IPv4 address, no data written");
    } else if (type == 2 || type == 3) {
      body += data;
    } else {
      Note(what, "the log shows the identity as text, no data written");
    }
    return body;
  }

  std::string TrafficSelectors(const v2Payload& ts, const std::string& what) {
    std::string selectors;
    std::uint32_t count = 0;
    for (const auto& child : ts.Children()) {
      // A traffic selector payload's children are its selectors.
      const AttributeMap& a = static_cast<const v2TrafficSelector&>(*child).Attributes();
      const std::string where = what + " selector " + std::to_string(count + 1);
      if (a.Get("Type") != "TS_IPV4_ADDR_RANGE") {
        Note(where, "type \"" + std::string(a.Get("Type")) + "\" not written (IPv4 ranges only)");
        continue;
      }
      std::string body;
      Put8(body, kTsIPv4Range);
      Put8(body, Value({}, a.Get("proto"), 255, where + " protocol"));
      Put16(body, 16);
      const std::string_view ports = a.Get("ports");
      const std::size_t dash = ports.find('-');
      const auto low = Number(Trim(ports.substr(0, dash)), 0xFFFF);
      const auto high = dash == std::string_view::npos ? low : Number(Trim(ports.substr(dash + 1)), 0xFFFF);
      if (!low || !high) Note(where, "ports \"" + std::string(ports) + "\" do not read, written as 0-65535");
      Put16(body, low && high ? *low : 0);
      Put16(body, low && high ? *high : 0xFFFF);
      const std::string_view range = a.Get("range");
      const std::size_t to = range.find(" - ");
      std::string addresses;
      if (to == std::string_view::npos || !PutIPv4(addresses, Trim(range.substr(0, to))) ||
          !PutIPv4(addresses, Trim(range.substr(to + 3)))) {
        Note(where, "range \"" + std::string(range) + "\" does not read, written as 0.0.0.0 - 255.255.255.255");
        addresses.assign(4, '\0');
        addresses.append(4, '\xFF');
      }
      selectors += body + addresses;
      ++count;
    }
    std::string body;
    Put8(body, count);
    body.append(3, '\0');
    return body + selectors;
  }

  std::string Configuration(const v2ConfPayload& cp, const std::string& what) {
    std::string body;
    Put8(body, Value(kConfigurationTypes, cp.Attributes().Get("CFG_Type"), 255, what + " type"));
    body.append(3, '\0');
    // The reader keeps one line per attribute: its label, tabs, its value.
    std::string_view text = cp.AttributeText();
    while (!text.empty()) {
      const std::size_t end = text.find("\r\n");
      const std::string_view line = text.substr(0, end);
      text.remove_prefix(end == std::string_view::npos ? text.size() : end + 2);
      if (line.empty()) continue;
      const std::size_t colon = line.find(':');
      const std::string_view label = line.substr(0, colon);
      const std::string_view value = colon == std::string_view::npos ? std::string_view() : Trim(line.substr(colon + 1));
      const auto type = Lookup(kConfigurationAttributes, label, 0x7FFF);
      if (!type) {
        Note(what, "attribute \"" + std::string(label) + "\" not known, not written");
        continue;
      }
      std::string data;
      if (!value.empty() && *type != 7 && !PutIPv4(data, value)) {
        Note(what, "attribute \"" + std::string(label) + "\" value \"" + std::string(value) + "\" not written");
        data.clear();
      } else if (*type == 7) {
        data = value;
      }
      Put16(body, *type);
      Put16(body, static_cast<std::uint32_t>(data.size()));
      body += data;
    }
    return body;
  }

  std::string Eap(const v2Payload& eap, const std::string& what) {
    const AttributeMap& a = eap.Attributes();
    const std::uint32_t code = Value(kEapCodes, a.Get("Code"), 255, what + " code", 3);
    std::string body;
    Put8(body, code);
    Put8(body, 0);  // the identifier is not logged
    if ((code == 1 || code == 2) && a.contains("Type")) {
      const std::uint32_t type = Value(kEapTypes, a.Get("Type"), 255, what + " type", 1);
      Put16(body, type == 4 ? 6 : 5);
      Put8(body, type);
      if (type == 4) Put8(body, 0);  // an MD5 challenge of no bytes: the value is not logged
      Note(what, "identifier and type data not in the log");
    } else {
      Put16(body, 4);
    }
    return body;
  }
};

}  // namespace

bool InIKEv2Log(const LogNode& node) {
  const LogNode* top = &node;
  while (top->Parent() != nullptr) top = top->Parent();
  return top->IsLogRoot() && static_cast<const LogFile*>(top)->IsIKEv2();
}

void RebuildIKEv2Message(const v2Message& message, RebuiltPacket& out) {
  out = RebuiltPacket{};
  Build b{out.notes};
  // A message's parent is its exchange.
  const auto* exchange = static_cast<const v2Exchange*>(message.Parent());
  const int direction = exchange != nullptr ? exchange->Direction() : -1;
  const bool response = message.Attributes().Get("Response") == "Yes";
  out.created = !message.IsReceived(direction);
  if (exchange != nullptr) out.localAddress = exchange->TunnelLocalIP();
  out.seconds = Seconds(message.DateView(), message.TimeView());

  // The payloads in log order; one of a kind that has no payload type is left out.
  std::vector<std::uint32_t> types;
  std::vector<std::string> bodies, names;
  for (const auto& child : message.Children()) {
    if (!child->Is(NodeKind::kPayload)) continue;
    // A message's children are its payloads.
    const auto& payload = static_cast<const v2Payload&>(*child);
    const std::string what(payload.TypeName());
    const auto type = Lookup(kPayloadTypes, payload.TypeName(), 255);
    if (!type || *type == kEncrypted) {
      b.Note(what, "no payload type of that name, not written");
      continue;
    }
    const AttributeMap& a = payload.Attributes();
    std::string body;
    switch (payload.PayloadKindOf()) {
      case PayloadKind::kSecurityAssociation: body = b.SecurityAssociation(payload); break;
      case PayloadKind::kNotify: body = b.Notify(payload, what); break;
      case PayloadKind::kDelete: body = b.Delete(payload, what); break;
      case PayloadKind::kIdentification: body = b.Identification(payload, what); break;
      case PayloadKind::kTrafficSelectors: body = b.TrafficSelectors(payload, what); break;
      case PayloadKind::kConfiguration:
        body = b.Configuration(static_cast<const v2ConfPayload&>(payload), what);
        break;
      case PayloadKind::kEAP: body = b.Eap(payload, what); break;
      case PayloadKind::kCertificate:
        // The log prints the certificate as text; a certificate payload without its DER data
        // reads as a broken packet in Wireshark, whatever its encoding.
        b.Note(what, "the log shows the certificate as text, the payload is not written");
        continue;
      case PayloadKind::kCertificateRequest:
        Put8(body, b.Value(kCertEncodings, a.Get("Encoding"), 255, what + " encoding", 4));
        for (const auto& authority : payload.Children()) {
          // A certificate request's children are its authorities.
          // SHA-1 hashes of the authorities' public keys, 20 bytes each: a hash of another
          // size would make the list unreadable.
          const std::string_view hash = static_cast<const v2CA&>(*authority).Attributes().Get("hash");
          std::string bytes;
          if (PutHex(bytes, hash) && bytes.size() == 20) body += bytes;
          else b.Note(what, "authority hash \"" + std::string(hash) + "\" is no SHA-1 hash, not written");
        }
        break;
      case PayloadKind::kNone:
      case PayloadKind::kOther:
        if (*type == kKE) {
          Put16(body, b.Value(kGroups, a.Get("Group"), 0xFFFF, what + " group"));
          Put16(body, 0);
          b.Zeros(body, a.Get("Length"), 8, what);
        } else if (*type == kNonce) {
          b.Zeros(body, a.Get("Length"), 4, what);
        } else if (*type == kAuth) {
          Put8(body, b.Value(kAuthMethods, a.Get("Method"), 255, what + " method"));
          body.append(3, '\0');
          b.Note(what, "authentication data not in the log, none written");
        } else {
          b.Note(what, "the log holds no bytes of it, written empty");
        }
        break;
    }
    types.push_back(*type);
    bodies.push_back(std::move(body));
    names.push_back(what);
  }
  std::string payloads;
  for (std::size_t i = 0; i < bodies.size(); ++i)
    b.Wrap(payloads, i + 1 < types.size() ? types[i + 1] : 0, bodies[i], names[i]);

  std::string& wire = out.bytes;
  if (!PutHex(wire, message.InitiatorSpiView()) || wire.size() != 8) {
    wire.assign(8, '\0');
    b.Note("initiator SPI", "not 16 hex digits in the log, written as zeros");
  }
  if (!PutHex(wire, message.ResponderSpiView()) || wire.size() != 16) {
    wire.resize(8);
    wire.append(8, '\0');
    b.Note("responder SPI", "not 16 hex digits in the log, written as zeros");
  }
  const std::uint32_t first = types.empty() ? 0 : types.front();
  const auto logged = Lookup(kPayloadTypes, message.NextPayload(), 255);
  if (logged == kEncrypted) {
    b.notes.push_back("The log shows the payloads of the Encrypted payload decrypted: they are written in the clear.");
  } else if (logged.value_or(0) != first) {
    b.Note("header", "next payload logged as \"" + message.NextPayload() + "\", written as " + std::to_string(first));
  }
  Put8(wire, first);
  Put8(wire, 0x20);  // version 2.0
  const std::uint32_t type = ExchangeType(message.Type());
  if (type == 0) b.Note("header", "exchange type \"" + message.Type() + "\" not known, written as 0");
  Put8(wire, type);
  // The log does not say which side began the IKE SA: the initiator flag goes with requests.
  Put8(wire, (response ? 0x20 : 0x08));
  const auto id = Number(message.MessageId(), 0xFFFFFFFFu);
  if (!id) b.Note("header", "message ID \"" + message.MessageId() + "\" is no number, written as 0");
  Put32(wire, id.value_or(0));
  const auto total = static_cast<std::uint32_t>(28 + payloads.size());
  Put32(wire, total);
  wire += payloads;
  if (Number(message.Length(), 0xFFFFFFFFu) != total)
    b.Note("header", "logged length " + (message.Length().empty() ? std::string("missing") : message.Length()) +
                         ", written as " + std::to_string(total));
}

}  // namespace quillon::hand_over
