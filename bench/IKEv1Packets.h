// The IKEv1 debug log's packets as the daemon writes them: the protocol values the generator
// offers, its peers' state, and a writer that turns the payloads of one packet into the packet
// line, header block, payload blocks and packet-debug record through the product's writers,
// with the daemon's own lines between them.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "GeneratorSupport.h"
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
#include "model/IPv4.h"

namespace quillon::bench::gen {

// The generic payload header a block opens with; `length` 0 stands for a created packet's
// SA, proposal, transform or attribute payload, whose length the daemon gives after its
// children.
inline PayloadFields Fields(std::uint32_t next, std::uint32_t length) { return {next, 0, BigEndian(length, 2)}; }

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

inline constexpr std::uint32_t AttrLength(const Attr& a) { return a.size == 0 ? 4u : 4u + a.size; }

inline std::uint32_t TransformLength(const Transform& t) {
  std::uint32_t n = 8;
  for (const Attr& a : t.attrs) n += AttrLength(a);
  return n;
}

// Phase one: AES-256/SHA-256/group 14 as the gateway wants it, and the outdated offers.
inline const Transform kIkeAes{1, {{0x8001, 7, 0}, {0x800e, 256, 0}, {0x8002, 4, 0}, {0x8003, 1, 0}, {0x8004, 14, 0},
                           {0x800b, 1, 0}, {0x000c, 28800, 4}}};
inline const Transform kIke3Des{1, {{0x8001, 5, 0}, {0x8002, 2, 0}, {0x8003, 1, 0}, {0x8004, 2, 0}, {0x800b, 1, 0},
                            {0x000c, 86400, 4}}};
inline const Transform kIkeDes{1, {{0x8001, 1, 0}, {0x8002, 1, 0}, {0x8003, 1, 0}, {0x8004, 1, 0}, {0x800b, 1, 0},
                           {0x000c, 86400, 4}}};
// Phase two: ESP with AES-256 or 3DES, tunnel mode or UDP-encapsulated, with or without PFS.
inline const Transform kEspAes{12, {{0x8001, 1, 0}, {0x0002, 3600, 4}, {0x8004, 1, 0}, {0x8005, 5, 0}, {0x8006, 256, 0}}};
inline const Transform kEspAesNat{12,
                           {{0x8001, 1, 0}, {0x0002, 3600, 4}, {0x8004, 0xf000, 0}, {0x8005, 5, 0}, {0x8006, 256, 0}}};
inline const Transform kEspAesPfs{12, {{0x8001, 1, 0}, {0x0002, 3600, 4}, {0x8004, 1, 0}, {0x8005, 5, 0}, {0x8006, 256, 0},
                               {0x8003, 14, 0}}};
inline const Transform kEsp3Des{3, {{0x8001, 1, 0}, {0x0002, 3600, 4}, {0x8004, 1, 0}, {0x8005, 2, 0}}};

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

inline ConfigAttr Basic(std::uint16_t type, std::uint32_t value) { return {type, value, {}, true}; }
inline ConfigAttr Var(std::uint16_t type, std::string data) { return {type, 0, std::move(data), false}; }
inline std::string Address(std::uint32_t a) {
  return {static_cast<char>(a >> 24), static_cast<char>(a >> 16), static_cast<char>(a >> 8), static_cast<char>(a)};
}

// ---- the gateway's peers ------------------------------------------------------------------------

inline constexpr std::uint32_t kGateway = 0xCB007101;  // 203.0.113.1
inline constexpr std::uint32_t kInnerPool = 0x0A141E00;  // 10.20.30.0: remote clients' inner addresses
inline constexpr std::uint32_t kLan = 0x0A010000;        // 10.1.0.0/16 behind the gateway

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
inline std::uint32_t PeerAddressFor(unsigned i) {
  const std::uint32_t spread = static_cast<std::uint32_t>(i) * 0x9E3779u + 0x0102u;
  switch (i % 3) {
    case 0: return 0x0A000000u | (spread & 0xFFFFFFu);
    case 1: return 0xAC100000u | (spread & 0xFFFFFu);
    default: return 0xC0A80000u | (spread & 0xFFFFu);
  }
}

// ---- the calendar ------------------------------------------------------------------------------

inline constexpr std::array<const char*, 7> kWeekdays = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
inline constexpr std::array<const char*, 12> kMonths = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                 "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
inline constexpr std::array<int, 12> kMonthDays = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};  // 2024

// ---- packets ------------------------------------------------------------------------------------

// Collects the payloads of one packet and writes it; the negotiations sit on top.
class PacketWriter {
 public:
  explicit PacketWriter(std::uint64_t seed) : rng_(seed) {
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
    out_.reserve(1u << 21);
  }

  std::string& Text() { return out_; }

 protected:
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

}  // namespace quillon::bench::gen
