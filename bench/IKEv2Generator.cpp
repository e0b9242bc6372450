#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "GeneratorSupport.h"
#include "LogGenerator.h"
#include "ikev2/WriteIKEv2Log.h"
#include "model/IPv4.h"

namespace quillon::bench {

namespace {

using namespace gen;

// The daemon's IKEv2 log: one <Exchange> element per exchange in its fixed line layout. Peers
// are invented in the documentation ranges (and the benchmarking range once those run out);
// each peer lives through initial and authentication exchanges, child SAs, dead-peer detection
// and deletes, with failures and unanswered requests among them.
class V2Generator {
 public:
  V2Generator(unsigned peers, std::uint64_t seed) : rng_(seed) {
    peers_.resize(peers == 0 ? 1 : peers);
    for (unsigned i = 0; i < peers_.size(); ++i) {
      V2PeerState& p = peers_[i];
      p.address = V2PeerAddress(i);
      p.inbound = rng_.Percent(60);       // most peers call in
      p.remoteAccess = rng_.Percent(40);  // clients with EAP and configuration
      p.certificates = !p.remoteAccess && rng_.Percent(70);
      // A few peers the daemon logs by index; their identities carry that index.
      p.index = i % 97 == 13 ? 0x100u + i : 0;
      p.local = kGatewayAddresses[i % 3];
      p.tunnels = 1 + rng_.Below(3);
      p.fqdn = "gw-" + std::to_string(i) + ".example.net";
    }
  }

  std::string& Text() { return out_; }

  void Head() {
    out_ += "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n<IKEv2Log gateway=\"hq-gw\" started=\"";
    Stamp(out_);
    out_ += "\">\n";
  }
  void Tail() { out_ += "</IKEv2Log>\n"; }

  // One exchange (or, now and then, a short burst of daemon noise between exchanges).
  void Step() {
    clock_ += 1 + rng_.Below(4);
    V2PeerState& p = peers_[rng_.Below(static_cast<unsigned>(peers_.size()))];
    if (rng_.Percent(1)) out_ += "<!-- log rotated by keeper -->\n";
    if (!p.established) {
      Initial(p);
      return;
    }
    const unsigned roll = rng_.Below(100);
    if (roll < 45) Dpd(p);
    else if (roll < 70) ChildSa(p);
    else if (roll < 85) DeleteChild(p);
    else if (roll < 92) DeleteIke(p);
    else Initial(p);  // a peer that lost its SA starts over
  }

 private:
  struct V2PeerState {
    std::uint32_t address = 0;
    std::uint32_t index = 0;
    std::uint32_t local = 0;
    unsigned tunnels = 1;
    bool inbound = true;
    bool remoteAccess = false;
    bool certificates = false;
    bool established = false;
    std::uint64_t ispi = 0, rspi = 0;
    unsigned messageId = 0;
    std::vector<std::uint32_t> childSpis;
    std::string fqdn;
  };

  static constexpr std::uint32_t kGatewayAddresses[3] = {0xC0000201u, 0xC0000202u, 0xCB007101u};

  // 192.0.2.0/24, 198.51.100.0/24, 203.0.113.0/24, then 198.18.0.0/15.
  static std::uint32_t V2PeerAddress(unsigned i) {
    if (i < 3 * 250) {
      static constexpr std::uint32_t kNets[3] = {0xC0000200u, 0xC6336400u, 0xCB007100u};
      return kNets[i / 250] + 4 + i % 250;
    }
    i -= 3 * 250;
    return 0xC6120000u + ((i / 250) % 512) * 256 + 2 + i % 250;
  }

  // ---- text pieces ----

  void Hex(std::uint64_t v, int digits) { out_ += HexText(v, digits); }

  // 2008-03-02T08:14:55, from the clock in seconds (months of 30 days are close enough).
  void Stamp(std::string& out) const {
    const std::uint64_t day = clock_ / 86400, second = clock_ % 86400;
    const std::uint64_t month = (day / 28) % 12, year = 2008 + day / (28 * 12);
    Dec(out, year);
    out += month < 9 ? "-0" : "-";
    Dec(out, month + 1);
    out += day % 28 < 9 ? "-0" : "-";
    Dec(out, day % 28 + 1);
    out.push_back('T');
    TwoDigits(out, second / 3600);
    out.push_back(':');
    TwoDigits(out, second / 60 % 60);
    out.push_back(':');
    TwoDigits(out, second % 60);
  }

  // <tag>value</tag> on a line of its own, behind `tabs` tabs.
  void Element(int tabs, const char* tag, std::string_view value) { ElementLine(out_, tabs, tag, value); }
  void Element(int tabs, const char* tag, std::uint64_t value) {
    scratch_.clear();
    Dec(scratch_, value);
    Element(tabs, tag, scratch_);
  }
  static std::string HexText(std::uint64_t v, int digits) {
    std::string text;
    for (int i = digits - 1; i >= 0; --i) text.push_back(kDigits[(v >> (4 * i)) & 15]);
    return text;
  }

  // ---- exchanges ----

  void OpenExchange(V2PeerState& p, const char* status, const char* type, bool outbound, bool tunnel,
                    bool byIndex = false) {
    const std::string serial = std::to_string(++serial_);
    AttributeMap attributes{
        {"final_status", status}, {"Type", type}, {"serial", serial}, {"Dir", outbound ? "Outbound" : "Inbound"}};
    std::string local, peer;
    if (tunnel) {
      local = FormatIPv4(p.local);
      peer = FormatIPv4(p.address + rng_.Below(p.tunnels) * 0x10000u);
      attributes.Set("TunnelLocalIP", local);
      attributes.Set("TunnelPeerIP", peer);
    }
    out_ += "<Exchange\n";
    AttributeLine(out_, "", attributes, 0);
    Element(0, "peerIP", FormatIPv4(byIndex ? p.index : p.address));
  }

  void OpenMessage(V2PeerState& p, bool response, unsigned id, const char* next, const char* type,
                   bool zeroResponder = false) {
    AttributeLine(out_, "<Message", {{"Response", response ? "Yes" : "No"}}, 1);
    scratch_.clear();
    Stamp(scratch_);
    Element(2, "arrivalTime", scratch_);
    Element(2, "MsgID", id);
    Element(2, "initSPI", HexText(p.ispi, 16));
    Element(2, "respSPI", HexText(zeroResponder ? 0 : p.rspi, 16));
    Element(2, "Next", next);
    Element(2, "Version", "2.0");
    Element(2, "Type", type);
    Element(2, "Length", 60 + rng_.Below(1400));
    out_ += "\t\t<Payloads>\n";
  }
  void CloseMessage() { out_ += "\t\t</Payloads>\n\t</Message>\n"; }
  void CloseExchange(const char* reason = nullptr) {
    if (reason != nullptr) Element(1, "Reason", reason);
    out_ += "</Exchange>\n";
  }

  void Payload(const char* type) { PayloadOpeningLine(out_, type); }
  void EndPayload() { out_ += "\t\t\t</Payload>\n"; }

  void Notify(const char* type, std::uint32_t spi = 0) {
    Payload("Notify");
    Element(4, "Type", type);
    if (spi != 0) Element(4, "SPI", HexText(spi, 8));
    EndPayload();
  }

  void IkeProposals(bool offer) {
    static constexpr const char* kEncr[] = {"AES-CBC-256", "AES-CBC-128", "AES-GCM-16-256", "3DES"};
    static constexpr const char* kPrf[] = {"HMAC-SHA256", "HMAC-SHA1", "HMAC-SHA384"};
    static constexpr const char* kDh[] = {"2048-bit MODP", "1024-bit MODP", "256-bit random ECP", "3072-bit MODP"};
    Payload("SecurityAssociation");
    const unsigned count = offer ? 1 + rng_.Below(3) : 1;
    for (unsigned i = 1; i <= count; ++i) {
      AttributeLine(out_, "<prop", {{"ID", std::to_string(i)}, {"Protocol", "IKE"}, {"SPI", ""}}, 4);
      const unsigned e = rng_.Below(4);
      out_ += "\t\t\t\t\t";
      AppendElement(out_, "encr", kEncr[e]);
      if (offer && rng_.Percent(40)) AppendElement(out_, "encr", kEncr[(e + 1) % 4]);
      out_.push_back('\n');
      Element(5, "prf", kPrf[rng_.Below(3)]);
      Element(5, "integ", rng_.Percent(50) ? "HMAC-SHA256-128" : "HMAC-SHA1-96");
      Element(5, "dh", kDh[rng_.Below(4)]);
      out_ += "\t\t\t\t</prop>\n";
    }
    EndPayload();
  }

  void ChildProposals(std::uint32_t spi, bool offer) {
    Payload("SecurityAssociation");
    const unsigned count = offer ? 1 + rng_.Below(2) : 1;
    for (unsigned i = 1; i <= count; ++i) {
      AttributeLine(out_, "<prop", {{"ID", std::to_string(i)}, {"Protocol", "ESP"}, {"SPI", HexText(spi, 8)}}, 4);
      Element(5, "encr", i == 1 ? "AES-CBC-128" : "3DES");
      Element(5, "integ", "HMAC-SHA1-96");
      if (rng_.Percent(50)) Element(5, "esn", "No ESN");
      out_ += "\t\t\t\t</prop>\n";
    }
    EndPayload();
  }

  void KeyAndNonce(unsigned group) {
    Payload("KeyExchange");
    Element(4, "Group", group);
    Element(4, "Length", group == 14 ? 264 : 136);
    EndPayload();
    Payload("Nonce");
    Element(4, "Length", 36);
    EndPayload();
  }

  void Identity(const V2PeerState& p, bool initiator, bool ours) {
    Payload(initiator ? "IDi" : "IDr");
    if (ours) {
      Element(4, "Type", "FQDN");
      Element(4, "Data", "hq-gw.example.net");
    } else if (p.index != 0 && rng_.Percent(50)) {
      Element(4, "Type", "IPV4_ADDR");
      Element(4, "Data", FormatIPv4(p.index));
    } else if (p.remoteAccess) {
      Element(4, "Type", "USER_FQDN");
      scratch_ = "user" + std::to_string(p.address & 0xFFFF) + "@example.org";
      Element(4, "Data", scratch_);
    } else if (rng_.Percent(30)) {
      Element(4, "Type", "IPV4_ADDR");
      Element(4, "Data", FormatIPv4(p.address));
    } else {
      Element(4, "Type", "FQDN");
      Element(4, "Data", p.fqdn);
    }
    EndPayload();
  }

  void Certificate(const std::string& name) {
    Payload("Cert");
    Element(4, "Encoding", "X.509 Certificate - Signature");
    out_ += "\t\t\t\t<![CDATA[\n\t\t\t\tCertificate:\n\t\t\t\t\tVersion: 3\n\t\t\t\t\tSerial Number: ";
    const std::uint64_t serial = rng_.Next();
    for (int i = 0; i < 4; ++i) {
      if (i > 0) out_.push_back(':');
      Hex(serial >> (8 * i), 2);
    }
    out_ += "\n\t\t\t\t\tIssuer: O=Example Trust, CN=Example Root CA 2,\n\t\t\t\t\tSubject: O=Example Corp, CN=";
    out_ += name;
    out_ += ",\n\t\t\t\t\tValidity: 2007-06-01 - 2010-06-01\n\t\t\t\t]]>\n";
    EndPayload();
  }

  void CertificateRequest() {
    Payload("CertReq");
    Element(4, "Encoding", "X.509 Certificate - Signature");
    out_ += "\t\t\t\t<CA><DN>O=Example Trust, CN=Example Root CA 2</DN><hash>";
    Hex(rng_.Next(), 16);
    Hex(rng_.Next(), 16);
    out_ += "</hash></CA>\n";
    EndPayload();
  }

  void Selectors(const V2PeerState& p, bool initiator) {
    Payload(initiator ? "TSi" : "TSr");
    const unsigned count = p.remoteAccess ? 1 : 1 + rng_.Below(2);
    for (unsigned i = 0; i < count; ++i) {
      AttributeLine(out_, "<TrafficSelector", {{"Type", "TS_IPV4_ADDR_RANGE"}}, 4);
      out_ += "\t\t\t\t\t";
      AppendElement(out_, "proto", i == 0 ? "0" : "6");
      AppendElement(out_, "ports", i == 0 ? "0-65535" : "443-443");
      out_.push_back('\n');
      const std::uint32_t net = (initiator ? 0x0A000000u : 0xAC100000u) + ((p.address & 0xFFFFu) << 8);
      Element(5, "range", FormatIPv4(net) + " - " + FormatIPv4(net + 255));
      out_ += "\t\t\t\t</TrafficSelector>\n";
    }
    EndPayload();
  }

  void Configuration(const V2PeerState& p, bool reply) {
    Payload("Conf");
    Element(4, "CFG_Type", reply ? "CFG_REPLY" : "CFG_REQUEST");
    const char* types[] = {"INTERNAL_IP4_ADDRESS", "INTERNAL_IP4_NETMASK", "INTERNAL_IP4_DNS"};
    const std::uint32_t values[] = {0x0AC80000u + (p.address & 0xFFFFu), 0xFFFFFF00u, 0x0AC80002u};
    for (int i = 0; i < 3; ++i) {
      out_ += "\t\t\t\t<Attr>\n";
      Element(5, "Type", types[i]);
      Element(5, "Value", reply ? FormatIPv4(values[i]) : std::string());
      out_ += "\t\t\t\t</Attr>\n";
    }
    EndPayload();
  }

  void Eap(const char* code, const char* type) {
    Payload("EAP");
    Element(4, "Code", code);
    if (type != nullptr) Element(4, "Type", type);
    EndPayload();
  }

  void NewIkeSa(V2PeerState& p) {
    p.ispi = rng_.Next() | 1;
    p.rspi = rng_.Next() | 1;
    p.messageId = 0;
    p.childSpis.clear();
  }

  std::uint32_t NewChildSpi() { return static_cast<std::uint32_t>(rng_.Next()) | 0x01000000u; }

  // IKE_SA_INIT, then (when it succeeded) IKE_AUTH.
  void Initial(V2PeerState& p) {
    NewIkeSa(p);
    p.established = false;
    const bool outbound = !p.inbound;
    const unsigned roll = rng_.Below(100);
    const bool noAnswer = roll < 4;
    const bool noProposal = roll >= 4 && roll < 9;
    const bool retry = roll >= 9 && roll < 14;  // INVALID_KE_PAYLOAD, then the right group
    OpenExchange(p, noAnswer ? "timeout" : noProposal || retry ? "failed" : "success", "Initial", outbound, false);
    OpenMessage(p, false, 0, "SecurityAssociation", "IKE_SA_INIT", true);
    IkeProposals(true);
    KeyAndNonce(retry ? 2 : 14);
    Notify("NAT detection source IP");
    Notify("NAT detection destination IP");
    CloseMessage();
    if (noAnswer) {
      CloseExchange("No response from peer");
      return;
    }
    clock_ += rng_.Below(2);
    OpenMessage(p, true, 0, noProposal || retry ? "Notify" : "SecurityAssociation", "IKE_SA_INIT", noProposal);
    if (noProposal) {
      Notify("No proposal chosen");
      CloseMessage();
      CloseExchange("No proposal chosen");
      return;
    }
    if (retry) {
      Notify("Invalid KE payload");
      CloseMessage();
      CloseExchange("Invalid KE payload");
      // The initiator tries again with the group asked for.
      OpenExchange(p, "success", "Initial", outbound, false);
      OpenMessage(p, false, 0, "SecurityAssociation", "IKE_SA_INIT", true);
      IkeProposals(true);
      KeyAndNonce(14);
      CloseMessage();
      OpenMessage(p, true, 0, "SecurityAssociation", "IKE_SA_INIT");
    }
    IkeProposals(false);
    KeyAndNonce(14);
    Notify("NAT detection source IP");
    Notify("NAT detection destination IP");
    if (p.certificates) CertificateRequest();
    CloseMessage();
    CloseExchange();
    clock_ += 1;
    Authentication(p);
  }

  void Authentication(V2PeerState& p) {
    const bool outbound = !p.inbound;
    const unsigned roll = rng_.Below(100);
    const bool authFailed = roll < 5;
    const bool tsUnacceptable = roll >= 5 && roll < 8;
    const std::uint32_t childSpi = NewChildSpi();
    const std::uint32_t answerSpi = NewChildSpi();
    // The peer's side of the exchange: its request when it initiated, its response otherwise.
    const bool peerInitiates = !outbound;
    const unsigned id = ++p.messageId;
    OpenExchange(p, authFailed || tsUnacceptable ? "failed" : "success", "Authentication", outbound, true);

    OpenMessage(p, false, id, "Encrypted", "IKE_AUTH");
    Identity(p, true, !peerInitiates);
    if (p.certificates) {
      Certificate(peerInitiates ? p.fqdn : std::string("hq-gw.example.net"));
      CertificateRequest();
    }
    if (!p.certificates || rng_.Percent(20)) {
      Payload("Auth");
      Element(4, "Method", p.certificates ? "RSA Digital Signature" : "Shared Key Message Integrity Code");
      EndPayload();
    }
    if (p.remoteAccess) Configuration(p, false);
    ChildProposals(childSpi, true);
    Selectors(p, true);
    Selectors(p, false);
    CloseMessage();
    clock_ += rng_.Below(2);

    if (p.remoteAccess && !authFailed) {
      // An EAP round: challenge, response, success.
      OpenMessage(p, true, id, "Encrypted", "IKE_AUTH");
      Identity(p, false, true);
      Eap("Request", "MD5-Challenge");
      CloseMessage();
      CloseExchange();
      const unsigned second = ++p.messageId;
      OpenExchange(p, tsUnacceptable ? "failed" : "success", "Authentication", outbound, true);
      OpenMessage(p, false, second, "Encrypted", "IKE_AUTH");
      Eap("Response", "MD5-Challenge");
      CloseMessage();
      OpenMessage(p, true, second, "Encrypted", "IKE_AUTH");
      Eap("Success", nullptr);
      if (!tsUnacceptable) Configuration(p, true);
    } else {
      OpenMessage(p, true, id, "Encrypted", "IKE_AUTH");
      if (!authFailed) Identity(p, false, peerInitiates);
      if (p.certificates && !authFailed) Certificate(peerInitiates ? std::string("hq-gw.example.net") : p.fqdn);
      if (authFailed) Notify("Authentication failed");
    }
    if (tsUnacceptable) {
      Notify("TS unacceptable");
    } else if (!authFailed) {
      ChildProposals(answerSpi, false);
      Selectors(p, true);
      Selectors(p, false);
      p.childSpis.push_back(childSpi);
      p.established = true;
    }
    CloseMessage();
    CloseExchange(authFailed ? "Authentication failed" : tsUnacceptable ? "Traffic selectors unacceptable" : nullptr);
  }

  void ChildSa(V2PeerState& p) {
    const bool outbound = rng_.Percent(50);
    const unsigned roll = rng_.Below(100);
    const bool noProposal = roll < 6;
    const bool invalidSpi = roll >= 6 && roll < 9 && !p.childSpis.empty();
    const bool noAnswer = roll >= 9 && roll < 12;
    const bool rekey = !p.childSpis.empty() && rng_.Percent(60);
    const std::uint32_t spi = NewChildSpi();
    const unsigned id = ++p.messageId;
    OpenExchange(p, noAnswer ? "timeout" : (noProposal || invalidSpi) ? "failed" : "success", "Child SA", outbound,
                 true);
    OpenMessage(p, false, id, "Encrypted", "CREATE_CHILD_SA");
    if (rekey) Notify("Rekey SA", p.childSpis.back());
    ChildProposals(spi, true);
    KeyAndNonce(14);
    Selectors(p, true);
    Selectors(p, false);
    CloseMessage();
    if (noAnswer) {
      CloseExchange("No response from peer");
      return;
    }
    OpenMessage(p, true, id, "Encrypted", "CREATE_CHILD_SA");
    if (noProposal) {
      Notify("No proposal chosen");
    } else if (invalidSpi) {
      Notify("Invalid SPI", p.childSpis.back());
    } else {
      ChildProposals(NewChildSpi(), false);
      KeyAndNonce(14);
      Selectors(p, true);
      Selectors(p, false);
      if (rekey) p.childSpis.pop_back();
      if (p.childSpis.size() < 8) p.childSpis.push_back(spi);
    }
    CloseMessage();
    CloseExchange();
  }

  void Dpd(V2PeerState& p) {
    const bool outbound = rng_.Percent(70);
    const bool noAnswer = rng_.Percent(3);
    const unsigned id = ++p.messageId;
    // Peers logged by index show up under it now and then.
    const bool byIndex = p.index != 0 && rng_.Percent(30);
    OpenExchange(p, noAnswer ? "timeout" : "success", "Informational", outbound, rng_.Percent(50), byIndex);
    OpenMessage(p, false, id, "Encrypted", "INFORMATIONAL");
    CloseMessage();
    if (!noAnswer) {
      clock_ += rng_.Below(2);
      OpenMessage(p, true, id, "Encrypted", "INFORMATIONAL");
      CloseMessage();
    } else {
      p.established = false;
    }
    CloseExchange(noAnswer ? "Dead peer" : nullptr);
  }

  void Deletes(V2PeerState& p, bool ikeSa) {
    const bool outbound = rng_.Percent(50);
    const unsigned id = ++p.messageId;
    OpenExchange(p, "success", "Informational", outbound, true);
    for (int m = 0; m < 2; ++m) {
      OpenMessage(p, m == 1, id, "Encrypted", "INFORMATIONAL");
      Payload("Delete");
      if (ikeSa) {
        Element(4, "Protocol", "IKE");
        Element(4, "SPI", HexText(p.ispi, 16));
      } else {
        Element(4, "Protocol", "ESP");
        Element(4, "SPI", HexText(p.childSpis.empty() ? 0 : p.childSpis.back(), 8));
      }
      EndPayload();
      CloseMessage();
    }
    CloseExchange();
  }
  void DeleteChild(V2PeerState& p) {
    Deletes(p, false);
    if (!p.childSpis.empty()) p.childSpis.pop_back();
  }
  void DeleteIke(V2PeerState& p) {
    Deletes(p, true);
    p.established = false;
  }

  Rng rng_;
  std::vector<V2PeerState> peers_;
  std::string out_, scratch_;
  std::uint64_t clock_ = 9 * 86400 + 8 * 3600;
  std::uint64_t serial_ = 0;
};

}  // namespace

std::uint64_t WriteIKEv2Log(const std::string& path, std::uint64_t bytes, unsigned peers) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return 0;
  V2Generator generator(peers, 2008);
  generator.Head();
  std::uint64_t written = 0;
  std::string& out = generator.Text();
  while (written + out.size() < bytes) {
    generator.Step();
    if (out.size() > (1u << 20)) {
      written += std::fwrite(out.data(), 1, out.size(), f);
      out.clear();
    }
  }
  generator.Tail();
  written += std::fwrite(out.data(), 1, out.size(), f);
  out.clear();
  std::fclose(f);
  return written;
}
}  // namespace quillon::bench
