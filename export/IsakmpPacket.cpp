#include "export/IsakmpPacket.h"

#include <charconv>
#include <optional>
#include <string_view>

#include "ikev1/log/FolderElement.h"
#include "ikev1/log/Header.h"
#include "ikev1/log/PacketDebugRecord.h"
#include "ikev1/payloads/AttributePayload.h"
#include "ikev1/payloads/CHREPayload.h"
#include "ikev1/payloads/CertPayloads.h"
#include "ikev1/payloads/DeletePayload.h"
#include "ikev1/payloads/IDPayload.h"
#include "ikev1/payloads/IsakmpPayload.h"
#include "ikev1/payloads/IsakmpValue.h"
#include "ikev1/payloads/KeyMaterialPayloads.h"
#include "ikev1/payloads/NatOAPayload.h"
#include "ikev1/payloads/NotifyPayload.h"
#include "ikev1/payloads/SAPayload.h"
#include "ikev1/payloads/VendorIDPayload.h"
#include "model/CalendarTime.h"
#include "model/LogNode.h"

namespace quillon::hand_over {
namespace {

// ISAKMP payload types (RFC 2408, RFC 3947 and the drafts before it, CRACK).
constexpr std::uint32_t kSA = 1, kProposal = 2, kTransform = 3, kKey = 4, kId = 5, kCert = 6, kCertReq = 7, kHash = 8,
                        kSig = 9, kNonce = 10, kNotify = 11, kDelete = 12, kVendorId = 13, kAttribute = 14,
                        kNatD = 20, kNatOA = 21, kChallengeResponse = 128, kNatDDraft = 130, kNatOADraft = 131;

void Put8(std::string& out, std::uint32_t v) { out += static_cast<char>(v & 0xFF); }
void Put16(std::string& out, std::uint32_t v) {
  Put8(out, v >> 8);
  Put8(out, v);
}
void Put32(std::string& out, std::uint32_t v) {
  Put16(out, v >> 16);
  Put16(out, v);
}

// What is rebuilt of one packet: its bytes grow payload by payload, the notes collect what differs.
struct Build {
  std::vector<std::string>& notes;

  // A dump's elements as bytes. An element wider than a byte (a token of more digits, which
  // only a damaged dump holds) keeps its low byte.
  void PutList(std::string& out, const ByteList& list, std::string_view what) {
    bool wide = false;
    for (std::uint32_t v : list) {
      wide = wide || v > 0xFF;
      Put8(out, v);
    }
    if (wide) notes.push_back(std::string(what) + ": a value wider than a byte was cut to its low byte");
  }
  // A dump that must be `size` bytes: the value it spells, in that many bytes.
  void PutFixed(std::string& out, const ByteList& list, std::size_t size, std::string_view what) {
    if (list.size() == size) return PutList(out, list, what);
    notes.push_back(std::string(what) + (list.empty() ? ": not in the log, written as zeros"
                                                       : ": logged as " + std::to_string(list.size()) +
                                                             " bytes, written as " + std::to_string(size)));
    const std::uint32_t value = ByteListValue(list);
    for (std::size_t i = size; i-- > 0;) Put8(out, i < 4 ? value >> (8 * i) : 0);
  }
  // A one-byte field; a value the log could not give (0xFFFFFFFF) or that does not fit is 0.
  void PutByte(std::string& out, std::uint32_t value, std::string_view what) {
    if (value > 0xFF) {
      notes.push_back(std::string(what) + (value == 0xFFFFFFFFu ? ": not in the log, written as 0"
                                                                  : ": " + std::to_string(value) +
                                                                        " does not fit in a byte, written as 0"));
      value = 0;
    }
    Put8(out, value);
  }
};

// The logged two-byte length of a payload, when it reads as one.
std::optional<std::uint32_t> LoggedLength(const ByteList& length) {
  if (length.size() != 2 || length[0] > 0xFF || length[1] > 0xFF) return std::nullopt;
  return ByteListValue(length);
}

// One data attribute in its basic (type and 2-byte value) or variable (type, length, value) form.
void PutAttribute(Build& b, std::string& out, const IsakmpValue& value, std::string_view where) {
  const std::uint32_t type = ByteListValue(value.Attribute()) & 0x7FFF;
  const std::string what = std::string(where) + " attribute " + std::to_string(type);
  if (value.Format() != 0) {
    Put16(out, 0x8000 | type);
    b.PutFixed(out, value.Val(), 2, what + " value");
  } else {
    std::string data;
    b.PutList(data, value.Val(), what + " value");
    if (data.size() > 0xFFFF) {
      b.notes.push_back(what + ": value cut to 65535 bytes");
      data.resize(0xFFFF);
    }
    Put16(out, type);
    Put16(out, static_cast<std::uint32_t>(data.size()));
    out += data;
  }
}

void PutAttributes(Build& b, std::string& out, const LogNode& owner, std::string_view where) {
  for (const auto& child : owner.Children()) {
    if (const IsakmpValue* value = AsAttributeValue(*child)) PutAttribute(b, out, *value, where);
  }
}

// A payload's generic header before `body`: `next` the type of the payload after it (0 for the
// last), the reserved octet, and the length. `pad`: a payload whose body is one run of data
// may be filled with zeros up to the logged length when the log lacks part of it (a nested
// payload may not: the zeros would read as further entries).
void PutPayload(Build& b, std::string& out, std::uint32_t next, std::uint32_t reserved, const ByteList& logged,
                std::string body, bool pad, std::string_view what) {
  const std::optional<std::uint32_t> length = LoggedLength(logged);
  if (length && pad && *length > body.size() + 4) {
    b.notes.push_back(std::string(what) + ": " + std::to_string(*length - body.size() - 4) +
                      " bytes not in the log, written as zeros");
    body.resize(*length - 4, '\0');
  }
  if (body.size() + 4 > 0xFFFF) {
    b.notes.push_back(std::string(what) + ": cut to 65535 bytes");
    body.resize(0xFFFF - 4);
  }
  const auto rebuilt = static_cast<std::uint32_t>(body.size() + 4);
  if (!length) {
    b.notes.push_back(std::string(what) + ": length not in the log, written as " + std::to_string(rebuilt));
  } else if (*length != rebuilt) {
    b.notes.push_back(std::string(what) + ": logged length " + std::to_string(*length) + ", written as " +
                      std::to_string(rebuilt));
  }
  Put8(out, next);
  Put8(out, reserved <= 0xFF ? reserved : 0);
  Put16(out, rebuilt);
  out += body;
}

// The SPI size written before an SPI: the SPI's own size, which the logged size should equal.
std::uint32_t SpiSize(Build& b, std::int64_t logged, const ByteList& spi, std::string_view what) {
  if (logged != static_cast<std::int64_t>(spi.size()))
    b.notes.push_back(std::string(what) + ": logged SPI size " + std::to_string(logged) + ", written as " +
                      std::to_string(spi.size()));
  return static_cast<std::uint32_t>(spi.size() & 0xFF);
}

std::string SABody(Build& b, const SAPayload& sa) {
  std::string body;
  b.PutFixed(body, sa.DOI(), 4, "SA DOI");
  b.PutList(body, sa.Situation(), "SA situation");
  const std::size_t proposals = sa.ProposalCount();
  for (std::size_t p = 0; p < proposals; ++p) {
    const PropPayload& prop = *sa.Proposal(p);
    const std::string where = "proposal " + std::to_string(prop.PropNum());
    std::string pbody;
    b.PutByte(pbody, prop.PropNum(), where + " number");
    b.PutByte(pbody, static_cast<std::uint32_t>(prop.ProtId()), where + " protocol");
    Put8(pbody, SpiSize(b, prop.SpiSize(), prop.SPI(), where));
    const std::size_t transforms = prop.TransformCount();
    if (static_cast<std::int64_t>(transforms) != prop.NumOfTrans())
      b.notes.push_back(where + ": " + std::to_string(prop.NumOfTrans()) + " transforms logged, " +
                        std::to_string(transforms) + " read and written");
    Put8(pbody, static_cast<std::uint32_t>(transforms));
    b.PutList(pbody, prop.SPI(), where + " SPI");
    for (std::size_t t = 0; t < transforms; ++t) {
      const TransPayload& trans = *prop.Transform(t);
      const std::string twhere = where + " transform " + std::to_string(trans.TransNum());
      std::string tbody;
      b.PutByte(tbody, trans.TransNum(), twhere + " number");
      b.PutByte(tbody, trans.TransId(), twhere + " ID");
      b.PutFixed(tbody, trans.Reserved2(), 2, twhere + " reserved");
      PutAttributes(b, tbody, trans, twhere);
      PutPayload(b, pbody, t + 1 < transforms ? kTransform : 0, trans.Fields().reserved, trans.Fields().length,
                 std::move(tbody), false, twhere);
    }
    PutPayload(b, body, p + 1 < proposals ? kProposal : 0, prop.Fields().reserved, prop.Fields().length,
               std::move(pbody), false, where);
  }
  return body;
}

// "192.168.1.10" as four bytes; false for any other text.
bool ParseDotted(std::string_view text, std::uint32_t& address) {
  address = 0;
  for (int i = 0; i < 4; ++i) {
    unsigned part = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), part);
    if (error != std::errc() || part > 255) return false;
    address = address << 8 | part;
    text.remove_prefix(static_cast<std::size_t>(end - text.data()));
    if (i < 3) {
      if (text.empty() || text.front() != '.') return false;
      text.remove_prefix(1);
    }
  }
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t' || text.front() == '\r')) text.remove_prefix(1);
  return text.empty();
}

// The payload's type on the wire when the log does not give one, and whether a logged type
// fits the payload (NAT-T has its RFC and its draft numbers).
std::uint32_t DefaultType(const IsakmpPayload& p) {
  switch (p.PayloadCode()) {
    case kSaBlock: return kSA;
    case kKeyBlock: return kKey;
    case kIdBlock: return kId;
    case kCertBlock: return kCert;
    case kCertReqBlock: return kCertReq;
    case kHashBlock: return kHash;
    case kSigBlock: return kSig;
    case kNonceBlock: return kNonce;
    case kNotifyBlock: return kNotify;
    case kDeleteBlock: return kDelete;
    case kVendorIdBlock: return kVendorId;
    case kAttributeBlock: return kAttribute;
    case kChreBlock: return kChallengeResponse;
    case kNatDBlock: return kNatDDraft;
    case kNatOaBlock: return kNatOADraft;
    default: return 0;  // the data blocks make no payload node
  }
}

bool TypeFits(std::uint32_t logged, std::uint32_t defaultType) {
  if (defaultType == kNatDDraft) return logged == kNatD || logged == kNatDDraft;
  if (defaultType == kNatOADraft) return logged == kNatOA || logged == kNatOADraft;
  return logged == defaultType;
}

// The generic header fields of any payload class (each code is read by one class).
const PayloadFields* FieldsOf(const IsakmpPayload& p) {
  switch (p.PayloadCode()) {
    case kKeyBlock:
    case kNonceBlock:
    case kHashBlock:
    case kSigBlock:
    case kNatDBlock: return &static_cast<const KeyMaterialPayload&>(p).Fields();
    case kSaBlock: return &static_cast<const SAPayload&>(p).Fields();
    case kIdBlock: return &static_cast<const IDPayload&>(p).Fields();
    case kCertBlock: return &static_cast<const CertPayload&>(p).Fields();
    case kCertReqBlock: return &static_cast<const CertReqPayload&>(p).Fields();
    case kNotifyBlock: return &static_cast<const NotifyPayload&>(p).Fields();
    case kDeleteBlock: return &static_cast<const DeletePayload&>(p).Fields();
    case kVendorIdBlock: return &static_cast<const VendorIDPayload&>(p).Fields();
    case kAttributeBlock: return &static_cast<const AttributePayload&>(p).Fields();
    case kChreBlock: return &static_cast<const CHREPayload&>(p).Fields();
    case kNatOaBlock: return &static_cast<const NatOAPayload&>(p).Fields();
    default: return nullptr;
  }
}

// The body of one payload after its generic header; `pad` says whether zeros may fill it up.
std::string PayloadBody(Build& b, const IsakmpPayload& p, const std::string& what, bool& pad) {
  std::string body;
  pad = true;
  switch (p.PayloadCode()) {
    case kSaBlock:
      pad = false;
      return SABody(b, static_cast<const SAPayload&>(p));
    case kKeyBlock:
    case kNonceBlock:
    case kHashBlock:
    case kSigBlock:
    case kNatDBlock:
      b.PutList(body, static_cast<const KeyMaterialPayload&>(p).Data(), what);
      break;
    case kIdBlock: {
      const auto& id = static_cast<const IDPayload&>(p);
      b.PutByte(body, id.IdType(), what + " type");
      if (id.HasService()) {
        b.PutByte(body, id.ServiceType(), what + " protocol");
        b.PutFixed(body, id.ServicePort(), 2, what + " port");
      } else {
        b.PutFixed(body, id.Reserved2(), 3, what + " protocol and port");
      }
      b.PutList(body, id.IdData(), what + " data");
      break;
    }
    case kCertBlock: {
      const auto& cert = static_cast<const CertPayload&>(p);
      b.PutByte(body, cert.Encoding(), what + " encoding");
      b.PutList(body, cert.Data(), what + " data");
      break;
    }
    case kCertReqBlock: {
      const auto& req = static_cast<const CertReqPayload&>(p);
      b.PutByte(body, req.Encoding(), what + " type");
      if (req.HasData()) b.PutList(body, req.Data(), what + " authority");
      break;
    }
    case kNotifyBlock: {
      const auto& n = static_cast<const NotifyPayload&>(p);
      b.PutFixed(body, n.DOI(), 4, what + " DOI");
      b.PutByte(body, static_cast<std::uint32_t>(n.ProtID()), what + " protocol");
      Put8(body, SpiSize(b, n.SPISize(), n.SPI(), what));
      b.PutFixed(body, n.NotifyType(), 2, what + " type");
      b.PutList(body, n.SPI(), what + " SPI");
      if (!n.NotifData().empty()) b.PutList(body, n.NotifData(), what + " data");
      else PutAttributes(b, body, n, what);  // the responder lifetime's attributes
      break;
    }
    case kDeleteBlock: {
      const auto& d = static_cast<const DeletePayload&>(p);
      b.PutFixed(body, d.DOI(), 4, what + " DOI");
      b.PutByte(body, static_cast<std::uint32_t>(d.ProtID()), what + " protocol");
      b.PutByte(body, static_cast<std::uint32_t>(d.SPISize()), what + " SPI size");
      b.PutFixed(body, d.SpiCount(), 2, what + " SPI count");
      const std::uint64_t expected = static_cast<std::uint64_t>(d.SPISize() < 0 ? 0 : d.SPISize()) *
                                     ByteListValue(d.SpiCount());
      if (expected != d.SPIs().size())
        b.notes.push_back(what + ": " + std::to_string(d.SPIs().size()) + " SPI bytes logged, " +
                          std::to_string(expected) + " announced");
      b.PutList(body, d.SPIs(), what + " SPIs");
      break;
    }
    case kVendorIdBlock: {
      const auto& v = static_cast<const VendorIDPayload&>(p);
      if (v.VidData().empty()) {
        std::string name(v.VendorName());
        b.notes.push_back(what + ": the log names the vendor" + (name.empty() ? std::string() : " (" + name + ")") +
                          " but holds no ID bytes");
      }
      b.PutList(body, v.VidData(), what);
      break;
    }
    case kAttributeBlock: {
      const auto& attr = static_cast<const AttributePayload&>(p);
      pad = false;
      b.PutByte(body, attr.Type(), what + " type");
      b.PutByte(body, attr.Reserved2(), what + " reserved");
      b.PutFixed(body, attr.Identifier(), 2, what + " identifier");
      PutAttributes(b, body, attr, what);
      break;
    }
    case kChreBlock: {
      const auto& ch = static_cast<const CHREPayload&>(p);
      pad = false;
      b.PutFixed(body, ch.LamType(), 2, what + " type");
      b.PutByte(body, ch.Reserved2(), what + " reserved");
      b.PutByte(body, ch.Reserved3(), what + " reserved");
      PutAttributes(b, body, ch, what);
      break;
    }
    case kNatOaBlock: {
      const auto& oa = static_cast<const NatOAPayload&>(p);
      b.PutByte(body, oa.IdType(), what + " ID type");
      Put8(body, 0);
      Put16(body, 0);
      std::uint32_t address = 0;
      if (!ParseDotted(oa.Address(), address))
        b.notes.push_back(what + ": address \"" + std::string(oa.Address()) + "\" is no IPv4 address, written as zeros");
      Put32(body, address);
      break;
    }
    default: break;
  }
  return body;
}

}  // namespace

const LogNode* IKEv1PacketHeader(const LogNode& node) {
  const LogNode* header = node.PacketHeader();
  // An exchange links the header of its last packet without holding it; a packet holds its
  // own as its first child.
  if (header == nullptr || node.ChildCount() == 0 || node.Child(0) != header) return nullptr;
  return header->Is(NodeKind::kHeader) ? header : nullptr;
}

bool RebuildIKEv1Packet(const LogNode& packet, RebuiltPacket& out) {
  const auto* header = static_cast<const Header*>(IKEv1PacketHeader(packet));
  if (header == nullptr) return false;
  out = RebuiltPacket{};
  Build b{out.notes};
  out.created = header->IsCreated();
  out.peerAddress = header->EffectivePeerAddress();
  if (header->TunnelLocalIP() != 0 && header->TunnelPeerIP() != 0) out.localAddress = header->TunnelLocalIP();
  CalendarTime time;
  LogNode::ParseDate(header->DateView(), time);
  LogNode::ParseTime(header->TimeView(), time);
  if (time.year >= 1970 && time.month >= 1 && time.day >= 1) out.seconds = time.Seconds();
  // Only an IKEv1 negotiation element (a FolderElement) links a packet header.
  if (const auto& element = static_cast<const FolderElement&>(packet); element.PacketDebug() != nullptr) {
    const std::string_view text = element.PacketDebug()->text;
    // The record's lines: "\r\n" + label + tabs + value.
    if (const std::size_t at = text.find("\r\nPort:"); at != std::string_view::npos) {
      std::string_view value = text.substr(at + 7);
      while (!value.empty() && (value.front() == '\t' || value.front() == ' ')) value.remove_prefix(1);
      out.natTraversal = value.starts_with("4500") && (value.size() == 4 || value[4] == '\r');
    }
  }

  // The payloads in log order, each with the type the payload before it (or the header)
  // announced when that fits the payload, else the type of its kind.
  std::vector<const IsakmpPayload*> payloads;
  std::vector<std::uint32_t> types;
  std::uint32_t announced = header->NextPayload();
  for (std::size_t i = 1; i < packet.ChildCount(); ++i) {
    const IsakmpPayload* payload = AsIsakmpPayload(*packet.Child(i));
    if (payload == nullptr) continue;
    const IsakmpPayload& p = *payload;
    const std::uint32_t kind = DefaultType(p);
    const PayloadFields* fields = FieldsOf(p);
    if (kind == 0 || fields == nullptr) continue;
    payloads.push_back(&p);
    types.push_back(TypeFits(announced, kind) ? announced : kind);
    announced = fields->nextPld;
  }

  std::string body;
  for (std::size_t i = 0; i < payloads.size(); ++i) {
    const IsakmpPayload& p = *payloads[i];
    const PayloadFields& fields = *FieldsOf(p);
    const std::string what = p.Caption();
    const std::uint32_t next = i + 1 < payloads.size() ? types[i + 1] : 0;
    if (fields.nextPld != next)
      b.notes.push_back(what + ": next payload logged as " +
                        (fields.nextPld == 0xFFFFFFFFu ? std::string("missing") : std::to_string(fields.nextPld)) +
                        ", written as " + std::to_string(next));
    bool pad = true;
    std::string payloadBody = PayloadBody(b, p, what, pad);
    PutPayload(b, body, next, fields.reserved, fields.length, std::move(payloadBody), pad, what);
  }

  std::string& wire = out.bytes;
  b.PutFixed(wire, header->InitCookie(), 8, "initiator cookie");
  b.PutFixed(wire, header->RespCookie(), 8, "responder cookie");
  const std::uint32_t first = types.empty() ? 0 : types.front();
  if (header->NextPayload() != first)
    b.notes.push_back("header: next payload logged as " + std::to_string(header->NextPayload()) + ", written as " +
                      std::to_string(first));
  Put8(wire, first);
  Put8(wire, (header->MajorVersion() & 0x0F) << 4 | (header->MinorVersion() & 0x0F));
  b.PutByte(wire, header->ExchangeType(), "exchange type");
  std::uint32_t flags = header->CommitFlag() == 1 ? 0x02 : 0;
  if (header->EncFlag() != 0 && header->EncFlag() != 0xFFFFFFFFu)
    out.encryptionCleared = true;
  if (header->ResFlag() != 0 && header->ResFlag() != 0xFFFFFFFFu)
    b.notes.push_back("header: reserved flag " + std::to_string(header->ResFlag()) + " not written");
  Put8(wire, flags);
  b.PutFixed(wire, header->MsgId(), 4, "message ID");
  const auto total = static_cast<std::uint32_t>(28 + body.size());
  const ByteList& loggedLength = header->Length();
  if (loggedLength.size() != 4 || ByteListValue(loggedLength) != total)
    b.notes.push_back("header: logged length " +
                      (loggedLength.empty() ? std::string("missing") : std::to_string(ByteListValue(loggedLength))) +
                      ", written as " + std::to_string(total));
  Put32(wire, total);
  wire += body;
  return true;
}

}  // namespace quillon::hand_over
