#include "LogGenerator.h"

#include <array>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace quillon::bench {

namespace {

// ---- randomness and text ------------------------------------------------------------------------

// splitmix64: fast, and the same sequence on every platform (the standard engines' distributions
// are not), so a seed always gives the same file.
class Rng {
 public:
  explicit Rng(std::uint64_t seed) : state_(seed) {}

  std::uint64_t Next() {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  unsigned Below(unsigned n) { return static_cast<unsigned>(Next() % n); }
  bool Percent(unsigned p) { return Below(100) < p; }
  void Fill(std::uint8_t* out, std::size_t n) {
    for (std::size_t i = 0; i < n; i += 8) {
      std::uint64_t v = Next();
      for (std::size_t j = i; j < n && j < i + 8; ++j, v >>= 8) out[j] = static_cast<std::uint8_t>(v);
    }
  }

 private:
  std::uint64_t state_;
};

constexpr char kDigits[] = "0123456789abcdef";
const std::string kPlusLine(70, '+');

void Hex2(std::string& out, unsigned v) {
  out.push_back(kDigits[(v >> 4) & 15]);
  out.push_back(kDigits[v & 15]);
}

// "xx " per byte, as the daemon dumps a field.
void Bytes(std::string& out, const std::uint8_t* p, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) {
    Hex2(out, p[i]);
    out.push_back(' ');
  }
}

void BigEndian(std::string& out, std::uint32_t value, int size) {
  for (int i = size - 1; i >= 0; --i) {
    Hex2(out, (value >> (8 * i)) & 0xFF);
    out.push_back(' ');
  }
}

void Dec(std::string& out, std::uint64_t v) {
  char buffer[24];
  int n = 0;
  do {
    buffer[n++] = static_cast<char>('0' + v % 10);
    v /= 10;
  } while (v != 0);
  while (n > 0) out.push_back(buffer[--n]);
}

// The lower-case hexadecimal of a value, at least two digits (the packet line's peer).
void HexNumber(std::string& out, std::uint32_t v) {
  char buffer[8];
  int n = 0;
  do {
    buffer[n++] = kDigits[v & 15];
    v >>= 4;
  } while (v != 0);
  if (n == 1) out.push_back('0');
  while (n > 0) out.push_back(buffer[--n]);
}

void Dotted(std::string& out, std::uint32_t a) {
  for (int i = 3; i >= 0; --i) {
    Dec(out, (a >> (8 * i)) & 0xFF);
    if (i > 0) out.push_back('.');
  }
}

// "\tLength: 00 3c (60)\n"
void LengthLine(std::string& out, std::uint32_t value, int size) {
  out += "\tLength: ";
  BigEndian(out, value, size);
  out.push_back('(');
  Dec(out, value);
  out += ")\n";
}

// ---- protocol values ----------------------------------------------------------------------------

// Payload type codes (the next-payload values).
enum : std::uint8_t {
  kSa = 1, kKe = 4, kId = 5, kHash = 8, kNonce = 10, kNotify = 11, kDelete = 12, kVid = 13, kAttr = 14, kNatD = 0x82
};
enum : std::uint8_t { kMainMode = 2, kAggressive = 4, kInformational = 5, kTransaction = 6, kQuickMode = 0x20 };

// A data attribute: basic (the format bit in the type, a 16-bit value) or, with `size`, a
// variable-length one carrying `value` in `size` bytes.
struct Attr {
  std::uint16_t type;
  std::uint32_t value;
  std::uint8_t size;
};

struct Transform {
  std::uint8_t id;
  std::vector<Attr> attrs;
};

constexpr std::uint32_t AttrLength(const Attr& a) { return a.size == 0 ? 4u : 4u + a.size; }

std::uint32_t TransformLength(const Transform& t) {
  std::uint32_t n = 8;
  for (const Attr& a : t.attrs) n += AttrLength(a);
  return n;
}

// Phase one: AES-256/SHA-256/group 14 as the gateway wants it, and the outdated offers.
const Transform kIkeAes{1, {{0x8001, 7, 0}, {0x800e, 256, 0}, {0x8002, 4, 0}, {0x8003, 1, 0}, {0x8004, 14, 0},
                           {0x800b, 1, 0}, {0x000c, 28800, 4}}};
const Transform kIke3Des{1, {{0x8001, 5, 0}, {0x8002, 2, 0}, {0x8003, 1, 0}, {0x8004, 2, 0}, {0x800b, 1, 0},
                            {0x000c, 86400, 4}}};
const Transform kIkeDes{1, {{0x8001, 1, 0}, {0x8002, 1, 0}, {0x8003, 1, 0}, {0x8004, 1, 0}, {0x800b, 1, 0},
                           {0x000c, 86400, 4}}};
// Phase two: ESP with AES-256 or 3DES, tunnel mode or UDP-encapsulated, with or without PFS.
const Transform kEspAes{12, {{0x8001, 1, 0}, {0x0002, 3600, 4}, {0x8004, 1, 0}, {0x8005, 5, 0}, {0x8006, 256, 0}}};
const Transform kEspAesNat{12,
                           {{0x8001, 1, 0}, {0x0002, 3600, 4}, {0x8004, 0xf000, 0}, {0x8005, 5, 0}, {0x8006, 256, 0}}};
const Transform kEspAesPfs{12, {{0x8001, 1, 0}, {0x0002, 3600, 4}, {0x8004, 1, 0}, {0x8005, 5, 0}, {0x8006, 256, 0},
                               {0x8003, 14, 0}}};
const Transform kEsp3Des{3, {{0x8001, 1, 0}, {0x0002, 3600, 4}, {0x8004, 1, 0}, {0x8005, 2, 0}}};

struct Proposal {
  std::uint8_t protocol;  // 1 ISAKMP, 3 ESP
  std::array<std::uint8_t, 4> spi;
  bool hasSpi;
  std::vector<const Transform*> transforms;
};

// A configuration-mode attribute: basic with `value`, or variable with `data`.
struct ConfigAttr {
  std::uint16_t type;
  std::uint32_t value;
  std::string data;
  bool basic;
};

ConfigAttr Basic(std::uint16_t type, std::uint32_t value) { return {type, value, {}, true}; }
ConfigAttr Var(std::uint16_t type, std::string data) { return {type, 0, std::move(data), false}; }
std::string Address(std::uint32_t a) {
  return {static_cast<char>(a >> 24), static_cast<char>(a >> 16), static_cast<char>(a >> 8), static_cast<char>(a)};
}

// ---- the gateway's peers ------------------------------------------------------------------------

constexpr std::uint32_t kGateway = 0xCB007101;  // 203.0.113.1
constexpr std::uint32_t kInnerPool = 0x0A141E00;  // 10.20.30.0: remote clients' inner addresses
constexpr std::uint32_t kLan = 0x0A010000;        // 10.1.0.0/16 behind the gateway

struct PeerState {
  std::uint32_t address = 0;
  std::uint32_t index = 0;        // logged under this index once phase 1 is up (0: never)
  std::uint32_t tunnelLocal = 0;  // tunnel interface addresses (0: "~~")
  std::uint32_t tunnelPeer = 0;
  std::uint32_t network = 0;      // the peer's protected network (/24)
  bool remote = false;            // a remote-access client: aggressive mode, configuration
  bool records = false;           // its packets carry packet-debug blocks
  bool up = false;                // an IKE SA is established
  std::array<std::uint8_t, 8> icookie{};
  std::array<std::uint8_t, 8> rcookie{};
  std::array<std::uint8_t, 4> spi{};
  bool haveSpi = false;
};

// Distinct private addresses: 10/8, 172.16/12 and 192.168/16 in turn, spread by an odd
// multiplier (a bijection modulo each range's size).
std::uint32_t PeerAddressFor(unsigned i) {
  const std::uint32_t spread = static_cast<std::uint32_t>(i) * 0x9E3779u + 0x0102u;
  switch (i % 3) {
    case 0: return 0x0A000000u | (spread & 0xFFFFFFu);
    case 1: return 0xAC100000u | (spread & 0xFFFFFu);
    default: return 0xC0A80000u | (spread & 0xFFFFu);
  }
}

// ---- the calendar ------------------------------------------------------------------------------

constexpr std::array<const char*, 7> kWeekdays = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr std::array<const char*, 12> kMonths = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                 "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
constexpr std::array<int, 12> kMonthDays = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};  // 2024

// ---- the generator ------------------------------------------------------------------------------

class Generator {
 public:
  Generator(unsigned peers, std::uint64_t seed) : rng_(seed) {
    Rng vendors(seed ^ 0x5A5A5A5Aull);
    vendors.Fill(gatewayVid_.data(), gatewayVid_.size());
    vendors.Fill(natVid_.data(), natVid_.size());
    vendors.Fill(dpdVid_.data(), dpdVid_.size());
    vendors.Fill(xauthVid_.data(), xauthVid_.size());
    vendors.Fill(clientVid_.data(), clientVid_.size());
    vendors.Fill(unknownVid_.data(), unknownVid_.size());
    if (peers == 0) peers = 1;
    peers_.resize(peers);
    for (unsigned i = 0; i < peers; ++i) {
      PeerState& p = peers_[i];
      p.address = PeerAddressFor(i);
      p.remote = i % 5 == 4;
      p.records = i % 4 != 3;
      if (!p.remote && i % 5 <= 1) {
        p.tunnelLocal = 0x0AFF0000u | ((i * 4u + 1u) & 0xFFFFu);
        p.tunnelPeer = p.tunnelLocal + 1;
      }
      if (!p.remote && i % 50 == 7) p.index = 1 + i % 65278u;
      p.network = 0xAC100000u | ((i & 0xFFFu) << 8);  // 172.16.x.0/24 .. 172.31.x.0/24
    }
    out_.reserve(1u << 21);
    body_.reserve(4096);
  }

  std::string& Text() { return out_; }

  // One event: a peer without an IKE SA tries to get one, a peer with one keeps it busy. A
  // restart follows the event when one is due.
  void Step(bool restartDue) {
    clock_ += 1 + rng_.Below(24);
    PeerState& p = peers_[rng_.Below(static_cast<unsigned>(peers_.size()))];
    if (!p.up) Establish(p);
    else Maintain(p);
    if (restartDue) Restart();
  }

  void Head() { out_ += "IKE logging started\r\n\r\n"; }

 private:
  // ---- negotiations ----

  void Establish(PeerState& p) {
    const unsigned r = rng_.Below(100);
    if (p.remote) {
      Aggressive(p);
      if (r < 3) {
        Xauth(p, false);
        DeleteIke(p, true);
        return;
      }
      Xauth(p, true);
      ModeConfig(p);
      p.up = true;
      QuickMode(p, false);
      return;
    }
    if (r < 4) {
      MainMode(p, true, 1);  // no answer
    } else if (r < 7) {
      NoProposalChosen(p);
    } else if (r < 9) {
      MainMode(p, true, 5);  // the peer cannot read packet 5: wrong pre-shared key
      Say("%s rejected main mode packet 5: check the pre-shared key", p.address);
      Informational(p, false, false, [&] { AddNotify(p, 1, 1, true, 16, nullptr, 0); });
    } else {
      MainMode(p, rng_.Percent(50), 6);
      p.up = true;
      QuickMode(p, rng_.Percent(50));
    }
  }

  void Maintain(PeerState& p) {
    const unsigned r = rng_.Below(100);
    if (r < 40) {
      QuickMode(p, !p.remote && rng_.Percent(50));
    } else if (r < 75) {
      Dpd(p, rng_.Percent(60));
    } else if (r < 85) {
      if (!p.haveSpi) return;
      const bool fromPeer = rng_.Percent(60);
      DeleteIpsec(p, !fromPeer);
      if (fromPeer && rng_.Percent(20)) {
        clock_ += 10;
        DeleteIpsec(p, false);  // the peer repeats its delete
      }
      p.haveSpi = false;
    } else if (r < 92 || p.remote) {
      DeleteIke(p, rng_.Percent(30));
      p.up = false;
    } else {
      MainMode(p, rng_.Percent(50), 6);  // phase 1 rekey
    }
  }

  // Main mode packets 1 to `last`; retransmits the last one twice when the peer stops
  // answering.
  void MainMode(PeerState& p, bool localInit, int last) {
    static constexpr std::uint8_t kZero[4] = {0, 0, 0, 0};
    rng_.Fill(p.icookie.data(), 8);
    p.rcookie.fill(0);
    std::array<std::uint8_t, 8> rcookie{};
    rng_.Fill(rcookie.data(), 8);
    if (localInit) Say("initiating main mode with %s", p.address);
    for (int n = 1; n <= last; ++n) {
      const bool mine = (n % 2 == 1) == localInit;
      if (n == 2) p.rcookie = rcookie;
      const int repeats = (n == last && last < 6 && mine) ? 3 : 1;
      for (int attempt = 0; attempt < repeats; ++attempt) {
        if (attempt > 0) {
          clock_ += 10 * static_cast<unsigned>(attempt);
          Say("retransmitting main mode packet to %s", p.address);
        }
        switch (n) {
          case 1:
          case 2:
            AddSa(mine, {{1, {}, false, {&kIkeAes}}});
            AddVid(kVidGateway);
            AddVid(kVidNat);
            break;
          case 3:
          case 4:
            AddBytesPayload(kKe, 256);
            if (!mine) Noise("computing shared secret, group 14 (2048 bit)");
            AddBytesPayload(kNonce, 32);
            AddVid(kVidDpd);
            AddBytesPayload(kNatD, 20);
            AddBytesPayload(kNatD, 20);
            break;
          default:
            AddId(1, mine ? kGateway : p.address, 0, 4);
            AddHash(mine);
            break;
        }
        // The responder reports which transform it chose.
        if (n == 1 && !mine) after_ = "TransMatchSuccess: prop 1 trans in prop 1 id 01\n";
        Emit(p, PacketKeyword(mine, n, "phase1"), mine, kMainMode, n >= 5, kZero, "Main Mode", false);
      }
      ++clock_;
    }
    if (last == 1) Say("no answer from %s after 3 attempts, giving up", p.address);
    if (last == 6) Say("phase 1 SA with %s established", p.address);
  }

  void NoProposalChosen(PeerState& p) {
    static constexpr std::uint8_t kZero[4] = {0, 0, 0, 0};
    rng_.Fill(p.icookie.data(), 8);
    p.rcookie.fill(0);
    AddSa(false, {{1, {}, false, {&kIke3Des, &kIkeDes}}});
    AddVid(kVidUnknown);
    after_ =
        "TransMatchFailure: prop 1 trans in prop 1 id 01 reason: encryption 3DES-CBC not allowed by policy\n"
        "TransMatchFailure: prop 1 trans in prop 2 id 01 reason: encryption DES-CBC not allowed by policy\n";
    Emit(p, "process_packet1phase1:", false, kMainMode, false, kZero, "Main Mode", false);
    ++clock_;
    Informational(p, true, false, [&] {
      static constexpr char kText[] = "no matching ISAKMP proposal";
      AddNotify(p, 1, 1, false, 14, reinterpret_cast<const std::uint8_t*>(kText), sizeof kText - 1);
    });
  }

  void Aggressive(PeerState& p) {
    static constexpr std::uint8_t kZero[4] = {0, 0, 0, 0};
    rng_.Fill(p.icookie.data(), 8);
    p.rcookie.fill(0);
    AddSa(false, {{1, {}, false, {&kIkeAes, &kIke3Des}}});
    AddBytesPayload(kKe, 256);
    AddBytesPayload(kNonce, 32);
    AddIdText(3, UserOf(p));
    AddVid(kVidClient);
    AddVid(kVidXauth);
    AddVid(kVidDpd);
    AddVid(kVidNat);
    after_ = "TransMatchSuccess: prop 1 trans in prop 1 id 01\n";
    Emit(p, "process_packet1aggressive:", false, kAggressive, false, kZero, "Aggressive Mode", false);
    ++clock_;
    rng_.Fill(p.rcookie.data(), 8);
    AddSa(true, {{1, {}, false, {&kIkeAes}}});
    AddBytesPayload(kKe, 256);
    AddBytesPayload(kNonce, 32);
    AddId(1, kGateway, 0, 4);
    AddHash(true);
    AddVid(kVidGateway);
    AddVid(kVidXauth);
    AddVid(kVidDpd);
    AddVid(kVidNat);
    AddBytesPayload(kNatD, 20);
    AddBytesPayload(kNatD, 20);
    Emit(p, "create_packet2aggressive:", true, kAggressive, false, kZero, "Aggressive Mode", false);
    ++clock_;
    AddHash(false);
    AddBytesPayload(kNatD, 20);
    AddBytesPayload(kNatD, 20);
    Emit(p, "process_packet3aggressive:", false, kAggressive, true, kZero, "Aggressive Mode", false);
    Say("phase 1 SA with %s established, peer is behind NAT", p.address);
    ++clock_;
  }

  std::string UserOf(const PeerState& p) {
    std::string user = "user";
    Dec(user, p.address & 0xFFFF);
    return user + "@corp.example";
  }

  void Xauth(PeerState& p, bool accept) {
    std::uint8_t msgId[4];
    rng_.Fill(msgId, 4);
    const std::uint16_t ident = static_cast<std::uint16_t>(1 + rng_.Below(65534));
    std::string user = "user";
    Dec(user, p.address & 0xFFFF);
    Config(p, true, 1, ident, msgId, {Basic(0x800d, 0), Var(0x000e, ""), Var(0x000f, "")});
    clock_ += 4;
    Config(p, false, 2, ident, msgId, {Basic(0x800d, 0), Var(0x000e, user), Var(0x000f, "********")});
    ++clock_;
    Config(p, true, 3, ident, msgId,
           {Basic(0x8014, accept ? 1 : 0),
            Var(0x0011, accept ? "User " + user + " authenticated" : "Authentication failed for " + user)});
    ++clock_;
    Config(p, false, 4, ident, msgId, {Basic(0x8014, accept ? 1 : 0)});
    ++clock_;
  }

  void ModeConfig(PeerState& p) {
    std::uint8_t msgId[4];
    rng_.Fill(msgId, 4);
    const std::uint16_t ident = static_cast<std::uint16_t>(1 + rng_.Below(65534));
    Config(p, false, 1, ident, msgId, {Var(0x0001, ""), Var(0x0002, ""), Var(0x0003, ""), Var(0x4003, "")});
    ++clock_;
    Config(p, true, 2, ident, msgId,
           {Var(0x0001, Address(InnerAddress(p))), Var(0x0002, Address(0xFFFFFFFFu)),
            Var(0x0003, Address(0x0A140035u)), Var(0x4003, "corp.example")});
    ++clock_;
  }

  static std::uint32_t InnerAddress(const PeerState& p) { return kInnerPool + 2 + (p.address & 0xFF) % 250; }

  void Config(PeerState& p, bool created, int type, std::uint16_t ident, const std::uint8_t* msgId,
              const std::vector<ConfigAttr>& attrs) {
    AddHash(created);
    AddAttributes(created, type, ident, attrs);
    static constexpr std::array<const char*, 5> kCreated = {"", "create_config_request:", "create_config_reply:",
                                                           "create_config_set:", "create_config_ack:"};
    Emit(p, created ? kCreated[static_cast<std::size_t>(type)] : "process_config", created, kTransaction, true, msgId,
         "Transaction", true);
  }

  void QuickMode(PeerState& p, bool localInit) {
    std::uint8_t msgId[4];
    rng_.Fill(msgId, 4);
    std::array<std::uint8_t, 4> spiI{}, spiR{};
    rng_.Fill(spiI.data(), 4);
    rng_.Fill(spiR.data(), 4);
    const bool pfs = !p.remote && p.address % 3 == 0;
    const Transform* first = p.remote ? &kEspAesNat : pfs ? &kEspAesPfs : &kEspAes;
    // One in 25 gateway-initiated quick modes names a network the peer does not protect.
    const bool wrongId = localInit && rng_.Percent(4);
    const std::uint32_t peerNet = wrongId ? p.network ^ 0x00000100u : p.network;
    for (int n = 1; n <= 3; ++n) {
      const bool mine = (n % 2 == 1) == localInit;
      AddHash(mine);
      if (n < 3) {
        if (n == 1) AddSa(mine, {{3, spiI, true, {first, &kEsp3Des}}});
        else AddSa(mine, {{3, spiR, true, {first}}});
        AddBytesPayload(kNonce, 32);
        if (pfs) AddBytesPayload(kKe, 256);
        // The initiator's identities first: a client its inner address, a site its network.
        if (p.remote) {
          AddId(1, InnerAddress(p), 0, 4);
          AddId(4, 0, 0, 8);
        } else if (localInit) {
          AddId(4, kLan, 0xFFFF0000u, 8);
          AddId(4, peerNet, 0xFFFFFF00u, 8);
        } else {
          AddId(4, peerNet, 0xFFFFFF00u, 8);
          AddId(4, kLan, 0xFFFF0000u, 8);
        }
        if (n == 1 && !mine) after_ = "TransMatchSuccess: prop 1 trans in prop 1 id 0c\n";
      }
      Emit(p, PacketKeyword(mine, n, "phase2"), mine, kQuickMode, true, msgId, "Quick Mode", true);
      ++clock_;
      if (wrongId) {
        ++clock_;
        Informational(p, false, true, [&] {
          std::uint8_t data[12] = {4, 0, 0, 0};
          for (int i = 0; i < 4; ++i) data[4 + i] = static_cast<std::uint8_t>(peerNet >> (24 - 8 * i));
          for (int i = 0; i < 4; ++i) data[8 + i] = i < 3 ? 0xFF : 0;
          AddNotify(p, 1, 3, false, 18, data, sizeof data, spiI.data());
        });
        Say("the peer does not accept the proposed network: check the tunnel's remote network", p.address);
        return;
      }
    }
    p.spi = localInit ? spiR : spiI;
    p.haveSpi = true;
    Say("IPsec SA with %s installed", p.address);
  }

  void Dpd(PeerState& p, bool localAsks) {
    std::uint8_t sequence[4];
    rng_.Fill(sequence, 4);
    Informational(p, localAsks, true, [&] { AddNotify(p, 1, 1, true, 36136, sequence, 4); });
    ++clock_;
    Informational(p, !localAsks, true, [&] { AddNotify(p, 1, 1, true, 36137, sequence, 4); });
  }

  void DeleteIpsec(PeerState& p, bool created) {
    Informational(p, created, true, [&] { AddDelete(0x00000001, 3, 4, p.spi.data(), 1); }, true);
  }

  void DeleteIke(PeerState& p, bool created) {
    std::uint8_t cookies[16];
    std::memcpy(cookies, p.icookie.data(), 8);
    std::memcpy(cookies + 8, p.rcookie.data(), 8);
    Informational(p, created, true, [&] { AddDelete(0, 1, 16, cookies, 1); }, true);
  }

  // One informational packet whose payloads `add` puts after the hash (unprotected ones,
  // before phase 1 is up, have none).
  template <typename F>
  void Informational(PeerState& p, bool created, bool protectedPacket, F add, bool isDelete = false) {
    std::uint8_t msgId[4];
    rng_.Fill(msgId, 4);
    if (protectedPacket) AddHash(created);
    add();
    const char* keyword = !created ? "gxIsakmp_ProcessInfoExc" : isDelete ? "gxIsakmp_BuildInfoExc-D"
                                                                          : "gxIsakmp_BuildInfoExc-N";
    Emit(p, keyword, created, kInformational, protectedPacket, msgId, "Informational", p.up);
  }

  // A received DPD acknowledgement ends the packet the restart line follows, then the daemon
  // stops and comes back; every SA is gone.
  void Restart() {
    const unsigned start = rng_.Below(static_cast<unsigned>(peers_.size()));
    for (std::size_t k = 0; k < peers_.size(); ++k) {
      PeerState& p = peers_[(start + k) % peers_.size()];
      if (!p.up) continue;
      Dpd(p, true);
      clock_ += 30;
      Say("caught signal 15, shutting down", 0);
      ++pid_;
      clock_ += 3;
      Say("IKE daemon version GX-1(6.2) started", 0);
      Say("configuration loaded, listening on 203.0.113.1:500 and 203.0.113.1:4500", 0);
      for (PeerState& q : peers_) {
        q.up = false;
        q.haveSpi = false;
      }
      return;
    }
  }

  // ---- payload blocks ----

  struct Entry {
    std::uint8_t type;
    std::uint32_t length;
    std::size_t nextOffset;  // where the block's next-payload digits stand in body_
  };

  void Begin(const char* keyword, std::uint8_t type, std::uint32_t length) {
    body_ += keyword;
    body_ += "\n\tNextPld: ";
    entries_.push_back({type, length, body_.size()});
    body_ += "00\n\tReserved: 00\n";
    LengthLine(body_, length, 2);
  }

  void RandomBytes(std::size_t n) {
    std::uint8_t buffer[256];
    while (n > 0) {
      const std::size_t k = n < sizeof buffer ? n : sizeof buffer;
      rng_.Fill(buffer, k);
      Bytes(body_, buffer, k);
      n -= k;
    }
  }

  // Key exchange data, nonces and NAT discovery hashes.
  void AddBytesPayload(std::uint8_t type, std::uint32_t n) {
    switch (type) {
      case kKe: {
        Begin("debugKeyPayload:", kKe, 4 + n);
        body_ += "\tKeyData:\n";
        for (std::uint32_t i = 0; i < n; i += 16) {
          body_.push_back('\t');
          RandomBytes(n - i < 16 ? n - i : 16);
          body_.push_back('\n');
        }
        return;
      }
      case kNonce:
        Begin("debugNoncePayload:", kNonce, 4 + n);
        body_ += "\tNonceData: ";
        break;
      default:
        Begin("debugNatDPayload:", kNatD, 4 + n);
        body_ += "\tHash: ";
        break;
    }
    RandomBytes(n);
    body_.push_back('\n');
  }

  // A created packet's hash is logged as zeros; its final value follows the payloads.
  void AddHash(bool created) {
    Begin("debugHashPayload:", kHash, 36);
    body_ += "\tHashData: ";
    if (created) {
      std::uint8_t hash[32];
      rng_.Fill(hash, sizeof hash);
      for (int i = 0; i < 32; ++i) body_ += "00 ";
      finalHashes_.emplace_back(reinterpret_cast<const char*>(hash), sizeof hash);
    } else {
      RandomBytes(32);
    }
    body_.push_back('\n');
  }

  // An IPv4 identity: an address (4 bytes) or a subnet (8 bytes).
  void AddId(std::uint8_t idType, std::uint32_t address, std::uint32_t mask, std::uint32_t size) {
    Begin("debugIDPayload:", kId, 8 + size);
    body_ += "\tID Type: ";
    Hex2(body_, idType);
    body_ += "\n\tReserved2: 00 00 00 \n\tID: ";
    BigEndian(body_, address, 4);
    if (size == 8) BigEndian(body_, mask, 4);
    body_.push_back('\n');
  }

  void AddIdText(std::uint8_t idType, const std::string& text) {
    Begin("debugIDPayload:", kId, 8 + static_cast<std::uint32_t>(text.size()));
    body_ += "\tID Type: ";
    Hex2(body_, idType);
    body_ += "\n\tReserved2: 00 00 00 \n\tID: ";
    Bytes(body_, reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
    body_.push_back('\n');
  }

  enum VidKind { kVidGateway, kVidNat, kVidDpd, kVidXauth, kVidClient, kVidUnknown };

  void AddVid(VidKind kind) {
    const std::uint8_t* data = nullptr;
    std::size_t n = 0;
    const char* vendor = nullptr;
    switch (kind) {
      case kVidGateway: data = gatewayVid_.data(), n = gatewayVid_.size(), vendor = "Morrowvale Gateway"; break;
      case kVidNat: data = natVid_.data(), n = natVid_.size(), vendor = "NAT-T draft 2 and RFC 3947 support"; break;
      case kVidDpd: data = dpdVid_.data(), n = dpdVid_.size(), vendor = "Dead Peer Detection v1.0"; break;
      case kVidXauth: data = xauthVid_.data(), n = xauthVid_.size(), vendor = "XAUTH"; break;
      case kVidClient: data = clientVid_.data(), n = clientVid_.size(), vendor = "Halvard Remote Client 4.1"; break;
      case kVidUnknown: data = unknownVid_.data(), n = unknownVid_.size(); break;
    }
    Begin("debugVendorIDPayload:", kVid, 4 + static_cast<std::uint32_t>(n));
    if (vendor != nullptr) {
      body_ += "\tVendor: ";
      body_ += vendor;
      body_.push_back('\n');
    }
    body_ += "\tVID Data: ";
    Bytes(body_, data, n);
    body_.push_back('\n');
    if (kind == kVidGateway) {
      body_ += "debugVendorIDFields:\n\tVIDData: ";
      Bytes(body_, data, 8);
      body_ += "\n\tProduct: 00 00 00 01 \n\tVersion: 00 00 13 8a\n\tBuild number: 24031\n"
               "\tFeature flags: nat-traversal dpd xauth\n";
    }
  }

  // The SA with its proposals, transforms and attributes; a created packet logs the lengths as
  // 0 and gives them in length blocks after each level.
  void AddSa(bool created, const std::vector<Proposal>& proposals) {
    std::uint32_t saLength = 12;
    for (const Proposal& prop : proposals) saLength += ProposalLength(prop);
    Begin("debugSAPayload:", kSa, created ? 0 : saLength);
    entries_.back().length = saLength;
    body_ += "\tDOI: 00 00 00 01 \n\tSituation: 00 00 00 01 \n";
    for (std::size_t i = 0; i < proposals.size(); ++i) {
      const Proposal& prop = proposals[i];
      const std::uint32_t propLength = ProposalLength(prop);
      body_ += "debugPropPayload:\n\tNextPld: ";
      Hex2(body_, i + 1 < proposals.size() ? 2 : 0);
      body_ += "\n\tReserved: 00\n";
      LengthLine(body_, created ? 0 : propLength, 2);
      body_ += "\tPropNum: ";
      Hex2(body_, static_cast<unsigned>(i + 1));
      body_ += "\n\tProtId: ";
      Hex2(body_, prop.protocol);
      body_ += "\n\tSpiSize: ";
      Hex2(body_, prop.hasSpi ? 4 : 0);
      body_ += "\n\tNumOfTrans: ";
      Hex2(body_, static_cast<unsigned>(prop.transforms.size()));
      body_.push_back('\n');
      if (prop.hasSpi) {
        body_ += "\tSPI: ";
        Bytes(body_, prop.spi.data(), 4);
        body_.push_back('\n');
      }
      for (std::size_t t = 0; t < prop.transforms.size(); ++t) {
        const Transform& tr = *prop.transforms[t];
        const std::uint32_t trLength = TransformLength(tr);
        body_ += "debugTransPayload:\n\tNextPld: ";
        Hex2(body_, t + 1 < prop.transforms.size() ? 3 : 0);
        body_ += "\n\tReserved: 00\n";
        LengthLine(body_, created ? 0 : trLength, 2);
        body_ += "\tTransNum: ";
        Hex2(body_, static_cast<unsigned>(t + 1));
        body_ += "\n\tTransId: ";
        Hex2(body_, tr.id);
        body_ += "\n\tReserved2: 00 00 (0)\n";
        for (const Attr& a : tr.attrs) {
          body_ += "debugIsakmpValue:\n\tAttribute: ";
          BigEndian(body_, a.type, 2);
          if (a.size == 0) {
            body_ += "\n\tFormat: 1\n\tVal: ";
            BigEndian(body_, a.value, 2);
          } else {
            body_ += "\n\tFormat: 0\n";
            LengthLine(body_, a.size, 2);
            body_ += "\tVal: ";
            BigEndian(body_, a.value, a.size);
          }
          body_.push_back('\n');
        }
        if (created) {
          body_ += "debugTransPayloadLen:\n";
          LengthLine(body_, trLength, 2);
        }
      }
      if (created) {
        body_ += "debugPropPayloadLen:\n";
        LengthLine(body_, propLength, 2);
      }
    }
    if (created) {
      body_ += "debugSAPayloadLen:\n";
      LengthLine(body_, saLength, 2);
    }
  }

  static std::uint32_t ProposalLength(const Proposal& prop) {
    std::uint32_t n = 8 + (prop.hasSpi ? 4u : 0u);
    for (const Transform* t : prop.transforms) n += TransformLength(*t);
    return n;
  }

  // A notification; `cookieSpi` uses the IKE SA's cookies as SPI, `spi` a 4-byte IPsec SPI.
  void AddNotify(const PeerState& p, std::uint32_t doi, std::uint8_t protocol, bool cookieSpi, std::uint16_t type,
                 const std::uint8_t* data, std::size_t size, const std::uint8_t* spi = nullptr) {
    const std::size_t spiSize = cookieSpi ? 16 : spi != nullptr ? 4 : 0;
    Begin("debugNotifyPayload:", kNotify, static_cast<std::uint32_t>(12 + spiSize + size));
    body_ += "\tDOI: ";
    BigEndian(body_, doi, 4);
    body_ += "\n\tProtID: ";
    Hex2(body_, protocol);
    body_ += "\n\tSPISize: ";
    Hex2(body_, static_cast<unsigned>(spiSize));
    body_ += " (";
    Dec(body_, spiSize);
    body_ += ")\n\tNotifyType: ";
    BigEndian(body_, type, 2);
    body_ += "\n\tSPI: ";
    if (cookieSpi) {
      Bytes(body_, p.icookie.data(), 8);
      Bytes(body_, p.rcookie.data(), 8);
    } else if (spi != nullptr) {
      Bytes(body_, spi, 4);
    }
    body_ += "\n\tNotifData: ";
    if (data != nullptr) Bytes(body_, data, size);
    body_.push_back('\n');
  }

  void AddDelete(std::uint32_t doi, std::uint8_t protocol, std::uint8_t spiSize, const std::uint8_t* spis,
                 std::uint16_t count) {
    Begin("debugDeletePayload:", kDelete, 12u + spiSize * count);
    body_ += "\tDOI: ";
    BigEndian(body_, doi, 4);
    body_ += "\n\tProtID: ";
    Hex2(body_, protocol);
    body_ += "\n\tSPISize: ";
    Hex2(body_, spiSize);
    body_ += " (";
    Dec(body_, spiSize);
    body_ += ")\n\tSPIs: ";
    BigEndian(body_, count, 2);
    body_ += "\n\tSPIs: ";
    Bytes(body_, spis, static_cast<std::size_t>(spiSize) * count);
    body_.push_back('\n');
  }

  void AddAttributes(bool created, int type, std::uint16_t ident, const std::vector<ConfigAttr>& attrs) {
    std::uint32_t length = 8;
    for (const ConfigAttr& a : attrs) length += a.basic ? 4 : 4 + static_cast<std::uint32_t>(a.data.size());
    body_ += "debugAttributePayload:\n\tNextPld: ";
    entries_.push_back({kAttr, length, body_.size()});
    body_ += "00\n\tReserved: 00\n";
    LengthLine(body_, created ? 0 : length, 2);
    body_ += "\tType: ";
    Hex2(body_, static_cast<unsigned>(type));
    body_ += "\n\tReserved: 00\n\tIdentifier: ";
    BigEndian(body_, ident, 2);
    body_.push_back('(');
    Dec(body_, ident);
    body_ += ")\n";
    for (const ConfigAttr& a : attrs) {
      body_ += "debugIsakmpValue:\n\tAttribute: ";
      BigEndian(body_, a.type, 2);
      if (a.basic) {
        body_ += "\n\tFormat: 1\n\tVal: ";
        BigEndian(body_, a.value, 2);
      } else {
        body_ += "\n\tFormat: 0\n";
        LengthLine(body_, static_cast<std::uint32_t>(a.data.size()), 2);
        body_ += "\tVal: ";
        Bytes(body_, reinterpret_cast<const std::uint8_t*>(a.data.data()), a.data.size());
      }
      body_.push_back('\n');
    }
    if (created) {
      body_ += "debugAttributePayloadLen:\n";
      LengthLine(body_, length, 2);
    }
  }

  // Daemon output between two payload blocks.
  void Noise(const char* text) {
    body_ += "gxike[";
    Dec(body_, pid_);
    body_ += "] ";
    Clock(body_);
    body_.push_back(' ');
    body_ += text;
    body_.push_back('\n');
  }

  // ---- packets ----

  static std::string PacketKeyword(bool created, int n, const char* mode) {
    std::string k = created ? "create_packet" : "process_packet";
    k.push_back(static_cast<char>('0' + n));
    k += mode;
    k.push_back(':');
    return k;
  }

  // Writes the packet whose payload blocks are in body_, in the daemon's layout for a created
  // or a received packet, with its packet-debug block when the peer has them. `afterPhase1`
  // packets of an indexed peer name it by its index.
  void Emit(const PeerState& p, const std::string& keyword, bool created, std::uint8_t exchange, bool encrypted,
            const std::uint8_t* msgId, const char* what, bool afterPhase1) {
    std::uint32_t length = 28;
    for (std::size_t i = 0; i < entries_.size(); ++i) {
      length += entries_[i].length;
      const unsigned next = i + 1 < entries_.size() ? entries_[i + 1].type : 0;
      body_[entries_[i].nextOffset] = kDigits[next >> 4];
      body_[entries_[i].nextOffset + 1] = kDigits[next & 15];
    }
    const std::uint8_t first = entries_.empty() ? 0 : entries_.front().type;
    const std::uint32_t token = afterPhase1 && p.index != 0 ? p.index : p.address;

    if (created) {
      PacketLine(p, keyword, token);
      HeaderBlock(p, true, first, exchange, encrypted, msgId, 28);
      out_ += body_;
      out_ += after_;
      for (const std::string& hash : finalHashes_) {
        out_ += "debugHashData:\n\tHashData: ";
        Bytes(out_, reinterpret_cast<const std::uint8_t*>(hash.data()), hash.size());
        out_.push_back('\n');
      }
      out_ += "debugIsakmpHdrLen:\n";
      LengthLine(out_, length, 4);
      out_.push_back('\n');
      if (p.records) Record(p, true, token, msgId, what, length);
      Say("sent packet to %s (%s)", p.address, what);
    } else {
      if (p.records) Record(p, false, token, msgId, what, length);
      HeaderBlock(p, false, first, exchange, encrypted, msgId, length);
      PacketLine(p, keyword, token);
      out_ += body_;
      out_ += after_;
    }
    body_.clear();
    after_.clear();
    entries_.clear();
    finalHashes_.clear();
  }

  void PacketLine(const PeerState& p, const std::string& keyword, std::uint32_t token) {
    out_.push_back('\n');
    out_ += kPlusLine;
    out_.push_back('\n');
    out_ += keyword;
    out_ += " peer: ";
    HexNumber(out_, token);
    if (p.tunnelLocal != 0) {
      out_ += " TunnelLocalIP:";
      HexNumber(out_, p.tunnelLocal);
      out_ += ",TunnelPeerIP:";
      HexNumber(out_, p.tunnelPeer);
    } else {
      out_ += " ~~";
    }
    // "Tue Mar 12 09:14:02 2024"
    const std::uint64_t day = clock_ / 86400;
    int month = 2, date = 12 + static_cast<int>(day);  // from Tue Mar 12 2024
    while (date > kMonthDays[static_cast<std::size_t>(month)]) {
      date -= kMonthDays[static_cast<std::size_t>(month)];
      month = (month + 1) % 12;
    }
    out_.push_back(' ');
    out_ += kWeekdays[(2 + day) % 7];
    out_.push_back(' ');
    out_ += kMonths[static_cast<std::size_t>(month)];
    out_.push_back(' ');
    Hex2Dec(out_, static_cast<unsigned>(date));
    out_.push_back(' ');
    Clock(out_);
    out_ += " 2024\n";
    out_ += kPlusLine;
    out_.push_back('\n');
  }

  static void Hex2Dec(std::string& out, unsigned v) {
    out.push_back(static_cast<char>('0' + v / 10 % 10));
    out.push_back(static_cast<char>('0' + v % 10));
  }

  void Clock(std::string& out) const {
    const std::uint64_t t = clock_ % 86400;
    Hex2Dec(out, static_cast<unsigned>(t / 3600));
    out.push_back(':');
    Hex2Dec(out, static_cast<unsigned>(t / 60 % 60));
    out.push_back(':');
    Hex2Dec(out, static_cast<unsigned>(t % 60));
  }

  void HeaderBlock(const PeerState& p, bool created, std::uint8_t first, std::uint8_t exchange, bool encrypted,
                   const std::uint8_t* msgId, std::uint32_t length) {
    out_ += created ? "debugIsakmpHdr: (Creation)\n\tInitCookie: " : "debugIsakmpHdr: (Process)\n\tInitCookie: ";
    Bytes(out_, p.icookie.data(), 8);
    out_ += "\n\tRspCookie: ";
    Bytes(out_, p.rcookie.data(), 8);
    out_ += "\n\tNextPld: ";
    Hex2(out_, first);
    out_ += "\n\tMjVer: 01\n\tMnVer: 00\n\tExcType: ";
    Hex2(out_, exchange);
    out_ += "\n\tResFlag: 00\n\tCommitFlag: 00\n\tEncFlag: ";
    out_ += encrypted ? "01" : "00";
    out_ += "\n\tMsgID: ";
    Bytes(out_, msgId, 4);
    out_.push_back('\n');
    LengthLine(out_, length, 4);
  }

  void Record(const PeerState& p, bool sent, std::uint32_t token, const std::uint8_t* msgId, const char* what,
              std::uint32_t length) {
    out_ += sent ? "\r\n##### BEGIN PACKET DEBUG #####\n\tSent:\n\tPeer: "
                 : "\r\n##### BEGIN PACKET DEBUG #####\n\tReceived:\n\tPeer: ";
    HexNumber(out_, token);
    out_ += "\n\tInitCookie: ";
    Bytes(out_, p.icookie.data(), 8);
    out_ += "\n\tMsgID: ";
    Bytes(out_, msgId, 4);
    out_ += "\n\tExchange type: ";
    out_ += what;
    out_ += "\n\tPacket size: ";
    Dec(out_, length);
    out_ += " bytes\n\tPeerIP: ";
    HexNumber(out_, p.address);
    out_ += p.remote ? "\n\tPort: 4500\n" : "\n\tPort: 500\n";
    out_ += "##### END PACKET DEBUG #####\r\n\r\n";
  }

  // One line of daemon output between packets: `format` holds at most one "%s", filled with
  // `address` dotted (and a second "%s" with the extra text when given).
  void Say(const char* format, std::uint32_t address, const char* extra = nullptr) {
    out_ += "gxike[";
    Dec(out_, pid_);
    out_ += "] ";
    Clock(out_);
    out_.push_back(' ');
    bool first = true;
    for (const char* c = format; *c != '\0'; ++c) {
      if (c[0] == '%' && c[1] == 's') {
        if (first) Dotted(out_, address);
        else if (extra != nullptr) out_ += extra;
        first = false;
        ++c;
      } else {
        out_.push_back(*c);
      }
    }
    out_.push_back('\n');
  }

  Rng rng_;
  std::vector<PeerState> peers_;
  std::string out_, body_, after_;
  std::vector<Entry> entries_;
  std::vector<std::string> finalHashes_;
  std::uint64_t clock_ = 4;
  unsigned pid_ = 1873;
  std::array<std::uint8_t, 20> gatewayVid_{};
  std::array<std::uint8_t, 16> natVid_{}, dpdVid_{}, clientVid_{}, unknownVid_{};
  std::array<std::uint8_t, 8> xauthVid_{};
};

// ---- IKEv2 XML log ----------------------------------------------------------------------------

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
    Stamp();
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

  void Hex(std::uint64_t v, int digits) {
    for (int i = digits - 1; i >= 0; --i) out_.push_back(kDigits[(v >> (4 * i)) & 15]);
  }

  // 2008-03-02T08:14:55, from the clock in seconds (months of 30 days are close enough).
  void Stamp() {
    const std::uint64_t day = clock_ / 86400, second = clock_ % 86400;
    const std::uint64_t month = (day / 28) % 12, year = 2008 + day / (28 * 12);
    Dec(out_, year);
    out_ += month < 9 ? "-0" : "-";
    Dec(out_, month + 1);
    out_ += day % 28 < 9 ? "-0" : "-";
    Dec(out_, day % 28 + 1);
    out_.push_back('T');
    Two(second / 3600);
    out_.push_back(':');
    Two(second / 60 % 60);
    out_.push_back(':');
    Two(second % 60);
  }
  void Two(std::uint64_t v) {
    out_.push_back(static_cast<char>('0' + v / 10));
    out_.push_back(static_cast<char>('0' + v % 10));
  }

  // <tag>value</tag> on a line of its own, behind `tabs` tabs.
  void Element(int tabs, const char* tag, std::string_view value) {
    out_.append(static_cast<std::size_t>(tabs), '\t');
    out_.push_back('<');
    out_ += tag;
    out_.push_back('>');
    out_ += value;
    out_ += "</";
    out_ += tag;
    out_ += ">\n";
  }
  void Element(int tabs, const char* tag, std::uint64_t value) {
    scratch_.clear();
    Dec(scratch_, value);
    Element(tabs, tag, scratch_);
  }
  std::string DottedText(std::uint32_t a) {
    std::string text;
    Dotted(text, a);
    return text;
  }

  // ---- exchanges ----

  void OpenExchange(V2PeerState& p, const char* status, const char* type, bool outbound, bool tunnel,
                    bool byIndex = false) {
    out_ += "<Exchange\n final_status=\"";
    out_ += status;
    out_ += "\" Type=\"";
    out_ += type;
    out_ += "\" serial=\"";
    Dec(out_, ++serial_);
    out_ += outbound ? "\" Dir=\"Outbound\"" : "\" Dir=\"Inbound\"";
    if (tunnel) {
      out_ += " TunnelLocalIP=\"";
      Dotted(out_, p.local);
      out_ += "\" TunnelPeerIP=\"";
      Dotted(out_, p.address + rng_.Below(p.tunnels) * 0x10000u);
      out_.push_back('"');
    }
    out_ += ">\n<peerIP>";
    Dotted(out_, byIndex ? p.index : p.address);
    out_ += "</peerIP>\n";
  }

  void OpenMessage(V2PeerState& p, bool response, unsigned id, const char* next, const char* type,
                   bool zeroResponder = false) {
    out_ += response ? "\t<Message Response=\"Yes\">\n" : "\t<Message Response=\"No\">\n";
    out_ += "\t\t<arrivalTime>";
    Stamp();
    out_ += "</arrivalTime>\n\t\t<MsgID>";
    Dec(out_, id);
    out_ += "</MsgID>\n\t\t<initSPI>";
    Hex(p.ispi, 16);
    out_ += "</initSPI>\n\t\t<respSPI>";
    Hex(zeroResponder ? 0 : p.rspi, 16);
    out_ += "</respSPI>\n";
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

  void Payload(const char* type) {
    out_ += "\t\t\t<Payload Type=\"";
    out_ += type;
    out_ += "\">\n";
  }
  void EndPayload() { out_ += "\t\t\t</Payload>\n"; }

  void Notify(const char* type, std::uint32_t spi = 0) {
    Payload("Notify");
    Element(4, "Type", type);
    if (spi != 0) {
      out_ += "\t\t\t\t<SPI>";
      Hex(spi, 8);
      out_ += "</SPI>\n";
    }
    EndPayload();
  }

  void IkeProposals(bool offer) {
    static constexpr const char* kEncr[] = {"AES-CBC-256", "AES-CBC-128", "AES-GCM-16-256", "3DES"};
    static constexpr const char* kPrf[] = {"HMAC-SHA256", "HMAC-SHA1", "HMAC-SHA384"};
    static constexpr const char* kDh[] = {"2048-bit MODP", "1024-bit MODP", "256-bit random ECP", "3072-bit MODP"};
    Payload("SecurityAssociation");
    const unsigned count = offer ? 1 + rng_.Below(3) : 1;
    for (unsigned i = 1; i <= count; ++i) {
      out_ += "\t\t\t\t<prop ID=\"";
      Dec(out_, i);
      out_ += "\" Protocol=\"IKE\" SPI=\"\">\n";
      const unsigned e = rng_.Below(4);
      out_ += "\t\t\t\t\t";
      out_ += "<encr>";
      out_ += kEncr[e];
      out_ += "</encr>";
      if (offer && rng_.Percent(40)) {
        out_ += "<encr>";
        out_ += kEncr[(e + 1) % 4];
        out_ += "</encr>";
      }
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
      out_ += "\t\t\t\t<prop ID=\"";
      Dec(out_, i);
      out_ += "\" Protocol=\"ESP\" SPI=\"";
      Hex(spi, 8);
      out_ += "\">\n";
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
      Element(4, "Data", DottedText(p.index));
    } else if (p.remoteAccess) {
      Element(4, "Type", "USER_FQDN");
      scratch_ = "user" + std::to_string(p.address & 0xFFFF) + "@example.org";
      Element(4, "Data", scratch_);
    } else if (rng_.Percent(30)) {
      Element(4, "Type", "IPV4_ADDR");
      Element(4, "Data", DottedText(p.address));
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
      out_ += "\t\t\t\t<TrafficSelector Type=\"TS_IPV4_ADDR_RANGE\">\n\t\t\t\t\t<proto>";
      Dec(out_, i == 0 ? 0 : 6);
      out_ += "</proto><ports>";
      out_ += i == 0 ? "0-65535" : "443-443";
      out_ += "</ports>\n\t\t\t\t\t<range>";
      const std::uint32_t net = (initiator ? 0x0A000000u : 0xAC100000u) + ((p.address & 0xFFFFu) << 8);
      Dotted(out_, net);
      out_ += " - ";
      Dotted(out_, net + 255);
      out_ += "</range>\n\t\t\t\t</TrafficSelector>\n";
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
      Element(5, "Value", reply ? DottedText(values[i]) : std::string());
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
        out_ += "\t\t\t\t<SPI>";
        Hex(p.ispi, 16);
        out_ += "</SPI>\n";
      } else {
        Element(4, "Protocol", "ESP");
        out_ += "\t\t\t\t<SPI>";
        Hex(p.childSpis.empty() ? 0 : p.childSpis.back(), 8);
        out_ += "</SPI>\n";
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

std::uint64_t WriteDebugLog(const std::string& path, std::uint64_t bytes, unsigned peers, std::uint64_t restartEvery) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return 0;
  const std::uint64_t kRestartEvery = restartEvery != 0 ? restartEvery : bytes + 1;
  Generator generator(peers, 42);
  generator.Head();
  std::uint64_t written = 0;
  std::uint64_t nextRestart = kRestartEvery;
  std::string& out = generator.Text();
  while (written + out.size() < bytes) {
    const bool restart = written + out.size() >= nextRestart;
    if (restart) nextRestart += kRestartEvery;
    generator.Step(restart);
    if (out.size() > (1u << 20)) {
      written += std::fwrite(out.data(), 1, out.size(), f);
      out.clear();
    }
  }
  written += std::fwrite(out.data(), 1, out.size(), f);
  out.clear();
  std::fclose(f);
  return written;
}

std::uint64_t WriteHexDump(const std::string& path, std::uint64_t bytes) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return 0;
  std::mt19937 rng(7);
  std::uint64_t written = 0;
  std::string out;
  while (written < bytes) {
    out.clear();
    // Dumps of 256 bytes behind a label, as a key or certificate block carries them.
    for (int block = 0; block < 256; ++block) {
      out += "\tKeyData:\n";
      for (int line = 0; line < 16; ++line) {
        out.push_back('\t');
        for (int i = 0; i < 16; ++i) {
          const unsigned v = rng() & 0xFF;
          out.push_back(kDigits[v >> 4]);
          out.push_back(kDigits[v & 15]);
          out.push_back(' ');
        }
        out.push_back('\n');
      }
    }
    written += std::fwrite(out.data(), 1, out.size(), f);
  }
  std::fclose(f);
  return written;
}

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
