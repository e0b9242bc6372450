#include "LogGenerator.h"

#include <array>
#include <cstdio>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "ikev1/log/FolderElement.h"
#include "ikev1/log/Header.h"
#include "ikev1/log/PacketDebugRecord.h"
#include "ikev1/payloads/AttributePayload.h"
#include "ikev1/payloads/ByteList.h"
#include "ikev1/payloads/DeletePayload.h"
#include "ikev1/payloads/IDPayload.h"
#include "ikev1/payloads/IsakmpValue.h"
#include "ikev1/payloads/KeyMaterialPayloads.h"
#include "ikev1/payloads/NotifyPayload.h"
#include "ikev1/payloads/SAPayload.h"
#include "ikev1/payloads/VendorIDPayload.h"
#include "ikev2/WriteIKEv2Log.h"
#include "model/IPv4.h"

// The IKEv1 log is written through the product's block writers: the generator decides what
// each packet carries (the protocol: sizes, cookies, message IDs, proposals, identities), and
// the writers give every packet line, header block, payload block, length block and
// packet-debug record its text, as a saved log has them. What only the daemon writes stays
// here and is marked so: its own output lines between packets and blocks, the transform-match
// success lines, and the restart lines. The IKEv2 log's element lines come from its writer too.

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
  ByteList Bytes(std::size_t n) {
    ByteList list;
    list.reserve(n);
    for (std::size_t i = 0; i < n; i += 8) {
      std::uint64_t v = Next();
      for (std::size_t j = i; j < n && j < i + 8; ++j, v >>= 8) list.push_back(static_cast<std::uint32_t>(v & 0xFF));
    }
    return list;
  }

 private:
  std::uint64_t state_;
};

constexpr char kDigits[] = "0123456789abcdef";

void Dec(std::string& out, std::uint64_t v) { AppendNumberText(out, static_cast<std::uint32_t>(v), 10); }

void TwoDigits(std::string& out, std::uint64_t v) {
  out.push_back(static_cast<char>('0' + v / 10 % 10));
  out.push_back(static_cast<char>('0' + v % 10));
}

// `value` as `size` bytes, most significant first, as the protocol puts numbers on the wire.
ByteList BigEndian(std::uint32_t value, int size) {
  ByteList list;
  for (int i = size - 1; i >= 0; --i) list.push_back((value >> (8 * i)) & 0xFF);
  return list;
}

ByteList ListOf(const std::uint8_t* data, std::size_t n) { return ByteList(data, data + n); }
ByteList ListOf(const std::string& text) {
  return ListOf(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
}

// The generic payload header a block opens with; `length` 0 stands for a created packet's
// SA, proposal, transform or attribute payload, whose length the daemon gives after its
// children.
PayloadFields Fields(std::uint32_t next, std::uint32_t length) { return {next, 0, BigEndian(length, 2)}; }

// ---- protocol values ----------------------------------------------------------------------------

// Payload type codes (the next-payload values).
enum : std::uint8_t {
  kSa = 1, kKe = 4, kId = 5, kHash = 8, kNonce = 10, kNotify = 11, kDelete = 12, kVid = 13, kAttr = 14, kNatD = 0x82
};
// Exchange types of the ISAKMP header.
enum : std::uint8_t {
  kMainModeExchange = 2, kAggressiveExchange = 4, kInformationalExchange = 5, kTransactionExchange = 6,
  kQuickModeExchange = 0x20
};

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
  Generator(unsigned peers, std::uint64_t seed, bool indexedPeers = true) : rng_(seed) {
    Rng vendors(seed ^ 0x5A5A5A5Aull);
    gatewayVid_ = vendors.Bytes(20);
    natVid_ = vendors.Bytes(16);
    dpdVid_ = vendors.Bytes(16);
    xauthVid_ = vendors.Bytes(8);
    clientVid_ = vendors.Bytes(16);
    unknownVid_ = vendors.Bytes(16);
    // The fields the daemon decodes from its own vendor ID.
    std::string vidData = "VIDData: ";
    ByteList head;
    for (std::size_t i = 0; i < 8; ++i) head.push_back(gatewayVid_[i]);
    AppendHexText(vidData, head, 16, false, true);
    gatewayFields_ = {vidData, "Product: 00 00 00 01 ", "Version: 00 00 13 8a", "Build number: 24031",
                      "Feature flags: nat-traversal dpd xauth"};
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
      if (indexedPeers && !p.remote && i % 50 == 7) p.index = 1 + i % 65278u;
      p.network = 0xAC100000u | ((i & 0xFFFu) << 8);  // 172.16.x.0/24 .. 172.31.x.0/24
    }
    out_.reserve(1u << 21);
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

  // The daemon's first line (a saved log has its own).
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
        if (n == 1 && !mine) TransMatchSuccess("01");
        Emit(p, kMainMode1 + static_cast<std::uint32_t>(n - 1), mine, kMainModeExchange, n >= 5, kZero, "Main Mode", false);
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
    WriteTransMatchFailure(after_, 1, 1, 1, "encryption 3DES-CBC not allowed by policy");
    WriteTransMatchFailure(after_, 1, 2, 1, "encryption DES-CBC not allowed by policy");
    Emit(p, kMainMode1, false, kMainModeExchange, false, kZero, "Main Mode", false);
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
    TransMatchSuccess("01");
    Emit(p, kAggressive1, false, kAggressiveExchange, false, kZero, "Aggressive Mode", false);
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
    Emit(p, kAggressive1 + 1, true, kAggressiveExchange, false, kZero, "Aggressive Mode", false);
    ++clock_;
    AddHash(false);
    AddBytesPayload(kNatD, 20);
    AddBytesPayload(kNatD, 20);
    Emit(p, kAggressive3, false, kAggressiveExchange, true, kZero, "Aggressive Mode", false);
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
    // Created: request, reply, set, acknowledge by attribute message type.
    const std::uint32_t kind = created ? kConfigRequest + static_cast<std::uint32_t>(type - 1) : kConfigReceived;
    Emit(p, kind, created, kTransactionExchange, true, msgId, "Transaction", true);
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
        if (n == 1 && !mine) TransMatchSuccess("0c");
      }
      Emit(p, kQuickMode1 + static_cast<std::uint32_t>(n - 1), mine, kQuickModeExchange, true, msgId, "Quick Mode", true);
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
    Informational(p, created, true, [&] { AddDelete(0x00000001, 3, 4, p.spi.data(), 1); });
  }

  void DeleteIke(PeerState& p, bool created) {
    std::uint8_t cookies[16];
    std::memcpy(cookies, p.icookie.data(), 8);
    std::memcpy(cookies + 8, p.rcookie.data(), 8);
    Informational(p, created, true, [&] { AddDelete(0, 1, 16, cookies, 1); });
  }

  // One informational packet whose payloads `add` puts after the hash (unprotected ones,
  // before phase 1 is up, have none).
  template <typename F>
  void Informational(PeerState& p, bool created, bool protectedPacket, F add) {
    std::uint8_t msgId[4];
    rng_.Fill(msgId, 4);
    if (protectedPacket) AddHash(created);
    add();
    Emit(p, kInformational, created, kInformationalExchange, protectedPacket, msgId, "Informational", p.up);
  }

  // A received DPD acknowledgement ends the packet the restart line follows, then the daemon
  // stops and comes back; every SA is gone. The stop and start lines are the daemon's own.
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

  // A payload of the packet being built, written once the packet is complete: its block opens
  // with the type of the payload after it. Daemon output between two blocks (type 0) is no
  // payload and is skipped in the chain.
  struct Pending {
    std::uint8_t type;
    std::uint32_t length;
    std::function<void(std::string&, std::uint32_t next)> write;
  };

  void Add(std::uint8_t type, std::uint32_t length, std::function<void(std::string&, std::uint32_t)> write) {
    pending_.push_back({type, length, std::move(write)});
  }

  static KeyMaterialKind KeyMaterialOf(std::uint8_t type) {
    switch (type) {
      case kKe: return KeyMaterialKind::kKey;
      case kNonce: return KeyMaterialKind::kNonce;
      case kHash: return KeyMaterialKind::kHash;
      default: return KeyMaterialKind::kNatD;
    }
  }

  // Key exchange data, nonces and NAT discovery hashes.
  void AddBytesPayload(std::uint8_t type, std::uint32_t n) {
    Add(type, 4 + n, [kind = KeyMaterialOf(type), length = 4 + n, data = rng_.Bytes(n)](std::string& out, auto next) {
      WriteKeyMaterialBlock(out, kind, Fields(next, length), data);
    });
  }

  // A created packet's hash is logged as zeros; its final value follows the payloads.
  void AddHash(bool created) {
    ByteList hash = rng_.Bytes(32);
    ByteList logged = created ? ByteList(32, 0) : hash;
    if (created) finalHashes_.push_back(std::move(hash));
    Add(kHash, 36, [data = std::move(logged)](std::string& out, auto next) {
      WriteKeyMaterialBlock(out, KeyMaterialKind::kHash, Fields(next, 36), data);
    });
  }

  void AddIdData(std::uint8_t idType, ByteList data) {
    const auto length = 8 + static_cast<std::uint32_t>(data.size());
    Add(kId, length, [idType, length, data = std::move(data)](std::string& out, auto next) {
      WriteIDBlock(out, Fields(next, length), idType, false, 0, {}, ByteList(3, 0), data);
    });
  }

  // An IPv4 identity: an address (4 bytes) or a subnet (8 bytes).
  void AddId(std::uint8_t idType, std::uint32_t address, std::uint32_t mask, std::uint32_t size) {
    ByteList data = BigEndian(address, 4);
    if (size == 8)
      for (std::uint32_t b : BigEndian(mask, 4)) data.push_back(b);
    AddIdData(idType, std::move(data));
  }

  void AddIdText(std::uint8_t idType, const std::string& text) { AddIdData(idType, ListOf(text)); }

  enum VidKind { kVidGateway, kVidNat, kVidDpd, kVidXauth, kVidClient, kVidUnknown };

  void AddVid(VidKind kind) {
    const ByteList* data = nullptr;
    const char* vendor = "";
    switch (kind) {
      case kVidGateway: data = &gatewayVid_, vendor = "Morrowvale Gateway"; break;
      case kVidNat: data = &natVid_, vendor = "NAT-T draft 2 and RFC 3947 support"; break;
      case kVidDpd: data = &dpdVid_, vendor = "Dead Peer Detection v1.0"; break;
      case kVidXauth: data = &xauthVid_, vendor = "XAUTH"; break;
      case kVidClient: data = &clientVid_, vendor = "Halvard Remote Client 4.1"; break;
      case kVidUnknown: data = &unknownVid_; break;
    }
    const auto length = 4 + static_cast<std::uint32_t>(data->size());
    Add(kVid, length, [this, kind, data, vendor, length](std::string& out, auto next) {
      WriteVendorIDBlock(out, Fields(next, length), vendor, *data);
      if (kind == kVidGateway) WriteVendorIDFieldsBlock(out, kVendorIDFieldsKeyword, gatewayFields_);
    });
  }

  static void WriteAttribute(std::string& out, const Attr& a) {
    if (a.size == 0) WriteIsakmpValueBlock(out, BigEndian(a.type, 2), 1, {}, BigEndian(a.value, 2));
    else WriteIsakmpValueBlock(out, BigEndian(a.type, 2), 0, BigEndian(a.size, 2), BigEndian(a.value, a.size));
  }

  // The SA with its proposals, transforms and attributes; a created packet logs the lengths as
  // 0 and gives them in length blocks after each level.
  void AddSa(bool created, std::vector<Proposal> proposals) {
    std::uint32_t saLength = 12;
    for (const Proposal& prop : proposals) saLength += ProposalLength(prop);
    Add(kSa, saLength, [created, saLength, proposals = std::move(proposals)](std::string& out, auto next) {
      const ByteList kIpsecDoi = BigEndian(1, 4);
      WriteSABlock(out, Fields(next, created ? 0 : saLength), kIpsecDoi, kIpsecDoi);
      for (std::size_t i = 0; i < proposals.size(); ++i) {
        const Proposal& prop = proposals[i];
        const std::uint32_t propLength = ProposalLength(prop);
        WriteProposalBlock(out, Fields(i + 1 < proposals.size() ? 2 : 0, created ? 0 : propLength),
                           static_cast<std::uint32_t>(i + 1), prop.protocol, prop.hasSpi ? 4 : 0,
                           static_cast<std::uint32_t>(prop.transforms.size()),
                           prop.hasSpi ? ListOf(prop.spi.data(), 4) : ByteList());
        for (std::size_t t = 0; t < prop.transforms.size(); ++t) {
          const Transform& tr = *prop.transforms[t];
          const std::uint32_t trLength = TransformLength(tr);
          WriteTransformBlock(out, Fields(t + 1 < prop.transforms.size() ? 3 : 0, created ? 0 : trLength),
                              static_cast<std::uint32_t>(t + 1), tr.id, ByteList(2, 0));
          for (const Attr& a : tr.attrs) WriteAttribute(out, a);
          if (created) WriteSALengthBlock(out, SALevel::kTransform, BigEndian(trLength, 2));
        }
        if (created) WriteSALengthBlock(out, SALevel::kProposal, BigEndian(propLength, 2));
      }
      if (created) WriteSALengthBlock(out, SALevel::kSA, BigEndian(saLength, 2));
    });
  }

  static std::uint32_t ProposalLength(const Proposal& prop) {
    std::uint32_t n = 8 + (prop.hasSpi ? 4u : 0u);
    for (const Transform* t : prop.transforms) n += TransformLength(*t);
    return n;
  }

  // A notification; `cookieSpi` uses the IKE SA's cookies as SPI, `spi` a 4-byte IPsec SPI.
  void AddNotify(const PeerState& p, std::uint32_t doi, std::uint8_t protocol, bool cookieSpi, std::uint16_t type,
                 const std::uint8_t* data, std::size_t size, const std::uint8_t* spi = nullptr) {
    ByteList spiList;
    if (cookieSpi) {
      spiList = ListOf(p.icookie.data(), 8);
      for (std::uint8_t b : p.rcookie) spiList.push_back(b);
    } else if (spi != nullptr) {
      spiList = ListOf(spi, 4);
    }
    const auto length = static_cast<std::uint32_t>(12 + spiList.size() + size);
    Add(kNotify, length,
        [length, doi, protocol, type, spiList = std::move(spiList),
         dataList = data != nullptr ? ListOf(data, size) : ByteList()](std::string& out, auto next) {
          WriteNotifyBlock(out, Fields(next, length), BigEndian(doi, 4), protocol,
                           static_cast<std::int32_t>(spiList.size()), BigEndian(type, 2), spiList, dataList);
        });
  }

  void AddDelete(std::uint32_t doi, std::uint8_t protocol, std::uint8_t spiSize, const std::uint8_t* spis,
                 std::uint16_t count) {
    const std::uint32_t length = 12u + spiSize * count;
    Add(kDelete, length,
        [length, doi, protocol, spiSize, count, spiList = ListOf(spis, std::size_t{spiSize} * count)](
            std::string& out, auto next) {
          WriteDeleteBlock(out, Fields(next, length), BigEndian(doi, 4), protocol, spiSize, BigEndian(count, 2),
                           spiList);
        });
  }

  void AddAttributes(bool created, int type, std::uint16_t ident, std::vector<ConfigAttr> attrs) {
    std::uint32_t length = 8;
    for (const ConfigAttr& a : attrs) length += a.basic ? 4 : 4 + static_cast<std::uint32_t>(a.data.size());
    Add(kAttr, length, [created, type, ident, length, attrs = std::move(attrs)](std::string& out, auto next) {
      WriteAttributeBlock(out, Fields(next, created ? 0 : length), static_cast<std::uint32_t>(type), 0,
                          BigEndian(ident, 2));
      for (const ConfigAttr& a : attrs) {
        if (a.basic) {
          WriteIsakmpValueBlock(out, BigEndian(a.type, 2), 1, {}, BigEndian(a.value, 2));
        } else {
          WriteIsakmpValueBlock(out, BigEndian(a.type, 2), 0, BigEndian(static_cast<std::uint32_t>(a.data.size()), 2),
                                ListOf(a.data));
        }
      }
      if (created) WriteAttributeLengthBlock(out, BigEndian(length, 2));
    });
  }

  // Daemon output between two payload blocks (the writers have no such line).
  void Noise(const char* text) {
    std::string line;
    DaemonPrefix(line);
    line += text;
    line.push_back('\n');
    Add(0, 0, [line = std::move(line)](std::string& out, auto) { out += line; });
  }

  // ---- packets ----

  // Writes the packet whose payloads are pending, in the daemon's layout for a created or a
  // received packet (`kind` a packet kind of the packet line), with its packet-debug record
  // when the peer has them. `afterPhase1` packets of an indexed peer name it by its index.
  void Emit(const PeerState& p, std::uint32_t kind, bool created, std::uint8_t exchange, bool encrypted,
            const std::uint8_t* msgId, const char* what, bool afterPhase1) {
    std::uint32_t length = 28;
    std::uint8_t first = 0;
    for (const Pending& block : pending_) {
      length += block.length;
      if (first == 0) first = block.type;
    }
    const std::uint32_t token = afterPhase1 && p.index != 0 ? p.index : p.address;

    header_.SetCreated(created);
    header_.SetPacketKind(kind);
    header_.SetPeerAddress(token);
    header_.SetTunnel(p.tunnelLocal, p.tunnelPeer);
    header_.SetInitCookie(ListOf(p.icookie.data(), 8));
    header_.SetRespCookie(ListOf(p.rcookie.data(), 8));
    header_.SetMsgId(ListOf(msgId, 4));
    header_.SetLength(BigEndian(length, 4));
    header_.SetFields(first, 1, 0, exchange, encrypted ? 1 : 0, 0, 0);
    header_.SetDateTime(DateText(), TimeText());
    const PacketDebugRecord* record = nullptr;
    if (p.records) {
      record_.sent = created;
      record_.peer = token;
      record_.peerIP = p.address;
      record_.initCookie = header_.InitCookie();
      record_.msgId = header_.MsgId();
      record_.text.clear();
      RecordLine("Exchange type:", what);
      RecordLine("Packet size:", std::to_string(length) + " bytes");
      RecordLine("PeerIP:", FormatIPv4(p.address));
      RecordLine("Port:", p.remote ? "4500" : "500");
      record = &record_;
    }

    WritePacketOpening(out_, header_, record);
    for (std::size_t i = 0; i < pending_.size(); ++i) {
      std::uint32_t next = 0;
      for (std::size_t j = i + 1; j < pending_.size() && next == 0; ++j) next = pending_[j].type;
      pending_[i].write(out_, next);
    }
    out_ += after_;
    for (const ByteList& hash : finalHashes_) WriteHashDataBlock(out_, hash);
    WritePacketClosing(out_, header_, record);
    if (created) Say("sent packet to %s (%s)", p.address, what);
    pending_.clear();
    after_.clear();
    finalHashes_.clear();
  }

  // One "label: value" line of a packet-debug record as the record keeps it.
  void RecordLine(std::string_view label, std::string_view value) {
    record_.text += "\r\n";
    record_.text += label;
    record_.text += LabelTabs(label.size());
    record_.text += value;
  }

  // The packet line's date: " Tue Mar 12 2024" (the time goes before the year).
  std::string DateText() const {
    const std::uint64_t day = clock_ / 86400;
    int month = 2, date = 12 + static_cast<int>(day);  // from Tue Mar 12 2024
    while (date > kMonthDays[static_cast<std::size_t>(month)]) {
      date -= kMonthDays[static_cast<std::size_t>(month)];
      month = (month + 1) % 12;
    }
    std::string text = " ";
    text += kWeekdays[(2 + day) % 7];
    text.push_back(' ');
    text += kMonths[static_cast<std::size_t>(month)];
    text.push_back(' ');
    TwoDigits(text, static_cast<unsigned>(date));
    text += " 2024";
    return text;
  }

  // "09:14:02"
  std::string TimeText() const {
    std::string text;
    const std::uint64_t t = clock_ % 86400;
    TwoDigits(text, static_cast<unsigned>(t / 3600));
    text.push_back(':');
    TwoDigits(text, static_cast<unsigned>(t / 60 % 60));
    text.push_back(':');
    TwoDigits(text, static_cast<unsigned>(t % 60));
    return text;
  }

  // ---- the daemon's own output (no writer produces it) ----

  // The line a responder logs after a received packet's payloads for the transform it chose
  // (`id` its transform ID); the reader passes over it.
  void TransMatchSuccess(const char* id) {
    after_ += "TransMatchSuccess: prop 1 trans in prop 1 id ";
    after_ += id;
    after_.push_back('\n');
  }

  void DaemonPrefix(std::string& out) const {
    out += "gxike[";
    Dec(out, pid_);
    out += "] ";
    out += TimeText();
    out.push_back(' ');
  }

  // One line of daemon output between packets: `format` holds at most one "%s", filled with
  // `address` dotted (and a second "%s" with the extra text when given).
  void Say(const char* format, std::uint32_t address, const char* extra = nullptr) {
    DaemonPrefix(out_);
    bool first = true;
    for (const char* c = format; *c != '\0'; ++c) {
      if (c[0] == '%' && c[1] == 's') {
        if (first) out_ += FormatIPv4(address);
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
  std::string out_, after_;
  std::vector<Pending> pending_;
  std::vector<ByteList> finalHashes_;
  Header header_;
  PacketDebugRecord record_;
  std::uint64_t clock_ = 4;
  unsigned pid_ = 1873;
  ByteList gatewayVid_, natVid_, dpdVid_, clientVid_, unknownVid_, xauthVid_;
  std::vector<std::string> gatewayFields_;
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

std::uint64_t WriteDebugLog(const std::string& path, std::uint64_t bytes, unsigned peers, std::uint64_t restartEvery,
                            bool indexedPeers) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return 0;
  const std::uint64_t kRestartEvery = restartEvery != 0 ? restartEvery : bytes + 1;
  Generator generator(peers, 42, indexedPeers);
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

std::vector<std::size_t> PacketUnitStarts(std::string_view text, std::size_t from) {
  std::vector<std::size_t> starts;
  std::size_t received = std::string_view::npos;  // a "Received:" block waiting for its packet
  for (std::size_t at = text.find('\n', from); at != std::string_view::npos && at + 1 < text.size(); at = text.find('\n', at + 1)) {
    const std::string_view line = text.substr(at + 1);
    if (line.starts_with("debugIsakmpHdr: (Process)")) {
      starts.push_back(received != std::string_view::npos ? received : at + 1);
      received = std::string_view::npos;
    } else if (line.starts_with("##### BEGIN")) {
      if (line.substr(line.find('\n') + 1).starts_with("\tReceived:")) received = at + 1;
    } else if (line.starts_with("+++")) {
      const std::size_t next = line.find('\n');
      if (next == std::string_view::npos) break;
      const std::string_view keyword = line.substr(next + 1);
      if (keyword.starts_with("create_") || keyword.starts_with("gxIsakmp_Build")) {
        starts.push_back(at + 1);
        received = std::string_view::npos;
      }
    }
  }
  return starts;
}

std::thread AppendPaced(std::size_t count, std::function<void(std::size_t)> append,
                        std::vector<std::chrono::steady_clock::time_point>& appended, std::atomic<std::size_t>& written) {
  return std::thread([count, append = std::move(append), &appended, &written] {
    std::mt19937 random(21);
    std::uniform_int_distribution<int> pause(80, 250);
    for (std::size_t i = 0; i < count; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(pause(random)));
      appended[i] = std::chrono::steady_clock::now();
      append(i);
      written.store(i + 1, std::memory_order_release);
    }
  });
}

}  // namespace quillon::bench
