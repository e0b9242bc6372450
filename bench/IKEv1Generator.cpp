#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "IKEv1Packets.h"
#include "LogGenerator.h"

// The IKEv1 log is written through the product's block writers: the generator decides what
// each packet carries (the protocol: sizes, cookies, message IDs, proposals, identities), and
// the writers give every packet line, header block, payload block, length block and
// packet-debug record its text, as a saved log has them. What only the daemon writes stays
// here and is marked so: its own output lines between packets and blocks, the transform-match
// success lines, and the restart lines. The IKEv2 log's element lines come from its writer too.

namespace quillon::bench {

namespace {

using namespace gen;

// ---- the generator ------------------------------------------------------------------------------

class Generator : public PacketWriter {
 public:
  Generator(unsigned peers, std::uint64_t seed, bool indexedPeers = true) : PacketWriter(seed) {
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
  }

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


  std::vector<PeerState> peers_;
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
}  // namespace quillon::bench
