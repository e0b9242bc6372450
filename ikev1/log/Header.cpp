#include "ikev1/log/Header.h"

#include <array>
#include <cctype>
#include <string_view>

#include "ikev1/log/DebugLogReader.h"
#include "ikev1/payloads/Dictionaries.h"

namespace quillon {

namespace {

struct PacketKeyword {
  std::string_view keyword;
  std::uint32_t kind;
  bool created;
};

// Packet-line keywords in lookup order: within one packet kind the processed keyword comes
// before the created one, so "MMCrackCreate:" (the daemon's name for a received packet 6) reads
// as received.
constexpr std::array<PacketKeyword, 31> kPacketKeywords = {{
    {"process_packet1phase1:", 0x09, false},     {"create_packet1phase1:", 0x09, true},
    {"process_packet2phase1:", 0x0A, false},     {"create_packet2phase1:", 0x0A, true},
    {"process_packet3phase1:", 0x0B, false},     {"create_packet3phase1:", 0x0B, true},
    {"process_packet4phase1:", 0x0C, false},     {"create_packet4phase1:", 0x0C, true},
    {"process_packet5phase1:", 0x0D, false},     {"MMCrackProcess:", 0x0D, false},
    {"create_packet5phase1:", 0x0D, true},       {"process_packet6phase1:", 0x0E, false},
    {"MMCrackCreate:", 0x0E, false},             {"create_packet6phase1:", 0x0E, true},
    {"process_packet1aggressive:", 0x30, false}, {"create_packet1aggressive:", 0x30, true},
    {"process_packet2aggressive:", 0x31, false}, {"create_packet2aggressive:", 0x31, true},
    {"process_packet3aggressive:", 0x32, false}, {"create_packet3aggressive:", 0x32, true},
    {"process_packet1phase2:", 0x40, false},     {"create_packet1phase2:", 0x40, true},
    {"process_packet2phase2:", 0x41, false},     {"create_packet2phase2:", 0x41, true},
    {"process_packet3phase2:", 0x42, false},     {"create_packet3phase2:", 0x42, true},
    {"gxIsakmp_ProcessInfoExc", 0x80, false},    {"gxIsakmp_BuildInfoExc-N", 0x80, true},
    {"gxIsakmp_BuildInfoExc-D", 0x80, true},     {"process_config", 0x11, false},
    {"create_config_request:", 0x12, true},
}};

constexpr std::array<PacketKeyword, 3> kMoreConfigKeywords = {{
    {"create_config_reply:", 0x13, true},
    {"create_config_set:", 0x14, true},
    {"create_config_ack:", 0x15, true},
}};

const PacketKeyword* FindPacketKeyword(std::string_view token) {
  for (const PacketKeyword& k : kPacketKeywords)
    if (k.keyword == token) return &k;
  for (const PacketKeyword& k : kMoreConfigKeywords)
    if (k.keyword == token) return &k;
  return nullptr;
}

// "TunnelLocalIP:%x,TunnelPeerIP:%x": both numbers or nothing.
bool ParseTunnelToken(std::string_view token, std::uint32_t& local, std::uint32_t& peer) {
  constexpr std::string_view kLocal = "TunnelLocalIP:";
  constexpr std::string_view kPeer = ",TunnelPeerIP:";
  auto isHex = [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; };
  // One %x conversion: optional sign, optional 0x prefix, at least one hex digit.
  auto scanHex = [&isHex](std::string_view text, std::size_t& pos, std::uint32_t& value) {
    std::size_t end = pos;
    if (end < text.size() && (text[end] == '+' || text[end] == '-')) ++end;
    if (end + 2 < text.size() && text[end] == '0' && (text[end + 1] == 'x' || text[end + 1] == 'X') &&
        isHex(text[end + 2]))
      end += 2;
    const std::size_t digits = end;
    while (end < text.size() && isHex(text[end])) ++end;
    if (end == digits) return false;
    value = DebugLogReader::ParseHexToken(text.substr(pos, end - pos));
    pos = end;
    return true;
  };
  if (!token.starts_with(kLocal)) return false;
  std::size_t pos = kLocal.size();
  std::uint32_t a = 0, b = 0;
  if (!scanHex(token, pos, a)) return false;
  if (token.substr(pos, kPeer.size()) != kPeer) return false;
  pos += kPeer.size();
  if (!scanHex(token, pos, b)) return false;
  local = a;
  peer = b;
  return true;
}

// How the label of a header field is found in the "debugIsakmpHdr:" block.
enum class LabelRead : std::uint8_t {
  kSought,     // looked for, over the daemon's output between the fields
  kUnchecked,  // the next token, whatever it says
  // The field opens a run of fields that some daemon builds log in the opposite order; the
  // label read here says which order: the field's own label the order below, any other the
  // reverse. "Late": the label may follow one token later.
  kRunOpens,
  kRunOpensLate,
  // The last field of a run: the next token picks between the run's two ends, this field's
  // own label this field, any other the run's first field.
  kRunClosesByLabel,
};

// How a field's value is written in the block (and read back).
enum class Written : std::uint8_t {
  kHex,                 // a number in hex: "02"
  kBytes,               // spaced hex bytes: "00 00 00 00 "
  kBytesAndDecimal,     // the same and the value in decimal: "00 00 00 1c (28)"
};

// How a field's value is shown in the detail text.
enum class Shown : std::uint8_t {
  kBytes,             // unspaced hex bytes: "0102030405060708"
  kDecimal,           // "1"
  kHexAndDecimal,     // "02 (2)"
  kPayloadName,       // the payload type's name: "Security Association"
  kBytesAndDecimal,   // spaced hex bytes and the value in decimal: "00 00 00 1c  (28)"
};

struct HeaderField {
  std::string_view label;      // in the log: "NextPld:"
  std::string_view shownName;  // in the detail text: "Next Payload:"
  LabelGap shownGap;
  ByteList Header::*bytes;       // the field, when it holds bytes
  std::uint32_t Header::*number;  // the field, when it holds a number
  LabelRead read;
  std::uint8_t run;  // the fields of the run a kRunOpens field opens, itself included
  Written written;
  Shown shown;
  std::uint8_t shownAt;  // the field's line in the detail text
};

}  // namespace

// The fields of the "debugIsakmpHdr:" block, in the order the daemon logs them; the detail
// text shows the flags the other way round.
struct HeaderFieldTable {
  static constexpr std::array<HeaderField, 11> kFields = {{
      {"InitCookie:", "InitCookie:", LabelGap::kTab, &Header::initCookie_, nullptr, LabelRead::kSought, 0,
       Written::kBytes, Shown::kBytes, 0},
      {"RspCookie:", "RespCookie:", LabelGap::kTab, &Header::respCookie_, nullptr, LabelRead::kUnchecked, 0,
       Written::kBytes, Shown::kBytes, 1},
      {"NextPld:", "Next Payload:", LabelGap::kTab, nullptr, &Header::nextPayload_, LabelRead::kSought, 0,
       Written::kHex, Shown::kPayloadName, 2},
      {"MjVer:", "MjVer:", LabelGap::kTwoTabs, nullptr, &Header::majorVersion_, LabelRead::kRunOpensLate, 2,
       Written::kHex, Shown::kDecimal, 3},
      {"MnVer:", "MnVer:", LabelGap::kTwoTabs, nullptr, &Header::minorVersion_, LabelRead::kSought, 0,
       Written::kHex, Shown::kDecimal, 4},
      {"ExcType:", "ExcType:", LabelGap::kTab, nullptr, &Header::exchangeType_, LabelRead::kSought, 0,
       Written::kHex, Shown::kHexAndDecimal, 5},
      {"ResFlag:", "ResFlag:", LabelGap::kTab, nullptr, &Header::resFlag_, LabelRead::kRunOpens, 3,
       Written::kHex, Shown::kDecimal, 8},
      {"CommitFlag:", "CommitFlag:", LabelGap::kTab, nullptr, &Header::commitFlag_, LabelRead::kSought, 0,
       Written::kHex, Shown::kDecimal, 7},
      {"EncFlag:", "EncFlag:", LabelGap::kTab, nullptr, &Header::encFlag_, LabelRead::kRunClosesByLabel, 0,
       Written::kHex, Shown::kDecimal, 6},
      {"MsgID:", "MsgID:", LabelGap::kTwoTabs, &Header::msgId_, nullptr, LabelRead::kSought, 0,
       Written::kBytes, Shown::kBytes, 9},
      // The decimal that follows the length ends the block.
      {"Length:", "Length:", LabelGap::kTwoTabs, &Header::length_, nullptr, LabelRead::kSought, 0,
       Written::kBytesAndDecimal, Shown::kBytesAndDecimal, 10},
  }};
  static constexpr std::size_t kLength = 10;

  // The fields in the order of the detail text.
  static constexpr std::array<std::uint8_t, kFields.size()> kShownOrder = [] {
    std::array<std::uint8_t, kFields.size()> order{};
    for (std::size_t i = 0; i < kFields.size(); ++i) order[kFields[i].shownAt] = static_cast<std::uint8_t>(i);
    return order;
  }();

  static constexpr bool Consistent() {
    std::array<bool, kFields.size()> shown{};
    for (std::size_t i = 0; i < kFields.size(); ++i) {
      const HeaderField& f = kFields[i];
      if ((f.bytes == nullptr) == (f.number == nullptr) || f.shownAt >= kFields.size() || shown[f.shownAt]) return false;
      shown[f.shownAt] = true;
      const bool opens = f.read == LabelRead::kRunOpens || f.read == LabelRead::kRunOpensLate;
      if (opens != (f.run >= 2) || i + f.run > kFields.size()) return false;
      if (f.read == LabelRead::kRunClosesByLabel) {
        bool closesARun = false;
        for (std::size_t j = 0; j < i; ++j) closesARun = closesARun || (kFields[j].run >= 2 && j + kFields[j].run - 1 == i);
        if (!closesARun) return false;
      }
      const bool isBytes = f.bytes != nullptr;
      if (isBytes != (f.written != Written::kHex)) return false;
      if (isBytes != (f.shown == Shown::kBytes || f.shown == Shown::kBytesAndDecimal)) return false;
    }
    return kFields[kLength].label == "Length:";
  }
};
static_assert(HeaderFieldTable::Consistent(), "every header field has one value, one line and a well-formed run");

namespace {

using Fields = HeaderFieldTable;

void ReadValue(Header& header, DebugLogReader& reader, const HeaderField& field) {
  if (field.bytes != nullptr) header.*field.bytes = ReadByteList(reader);
  else header.*field.number = reader.ReadHexNumber();
}

// Reads the run of `count` fields from `first`, logged in either order (see LabelRead).
void ReadRun(Header& header, DebugLogReader& reader, std::size_t first, std::size_t count) {
  const HeaderField* run = &Fields::kFields[first];
  const HeaderField& opening = run[0];
  const HeaderField& closing = run[count - 1];
  std::string_view t = reader.ReadTokenView();
  if (opening.read == LabelRead::kRunOpensLate && t != opening.label && t != closing.label) t = reader.ReadTokenView();
  const bool inOrder = t == opening.label;
  auto at = [&](std::size_t i) -> const HeaderField& { return inOrder ? run[i] : run[count - 1 - i]; };
  ReadValue(header, reader, at(0));
  for (std::size_t i = 1; i < count; ++i) {
    // The label at a position is found as the position's row says, whichever field it holds.
    if (run[i].read == LabelRead::kRunClosesByLabel) {
      ReadValue(header, reader, reader.ReadTokenView() == run[i].label ? run[i] : run[0]);
    } else {
      reader.SeekLabel(at(i).label);
      ReadValue(header, reader, at(i));
    }
  }
}

void WriteField(std::string& out, const Header& header, const HeaderField& field) {
  out += '\t';
  out += field.label;
  out += ' ';
  switch (field.written) {
    case Written::kHex: AppendNumberText(out, header.*field.number, 16); break;
    case Written::kBytes: AppendHexText(out, header.*field.bytes, 16, false, true); break;
    case Written::kBytesAndDecimal:
      AppendHexText(out, header.*field.bytes, 16, false, true);
      out += '(';
      AppendNumberText(out, ByteListValue(header.*field.bytes), 10);
      out += ')';
      break;
  }
  out += '\n';
}

void ShowField(std::string& out, const Header& header, const HeaderField& field) {
  out += field.shownName;
  AppendLabelGap(out, field.shownGap);
  switch (field.shown) {
    case Shown::kBytes: AppendHexText(out, header.*field.bytes, 16, false, false); break;
    case Shown::kDecimal: AppendNumberText(out, header.*field.number, 10); break;
    case Shown::kHexAndDecimal:
      AppendNumberText(out, header.*field.number, 16);
      out += " (";
      AppendNumberText(out, header.*field.number, 10);
      out += ')';
      break;
    case Shown::kPayloadName: out += PayloadTypeName(header.*field.number); break;
    case Shown::kBytesAndDecimal:
      AppendHexText(out, header.*field.bytes, 16, false, true);
      out += " (";
      AppendNumberText(out, ByteListValue(header.*field.bytes), 10);
      out += ')';
      break;
  }
  out += "\r\n";
}

}  // namespace

Header::Header() : LogNode(FixedName("Header"), nullptr) {}

Header::~Header() = default;

Header::Header(DebugLogReader& reader) : Header() {
  // A packet-debug block opens with "PACKET DEBUG" (or the two words the other way round): the
  // last two tokens are followed as which of the two words each is.
  enum Word { kOther, kPacket, kDebug };
  Word before = kOther;
  bool createdLayout = false;  // the token that ends the scan is a "+" line: a created packet
  for (;;) {
    const std::string_view token = reader.ReadTokenView();
    if (reader.AtEnd()) reader.Abandon();
    if (reader.RestartSeen()) reader.ClearRestartSeen();
    const Word word = token == "PACKET" ? kPacket : token == "DEBUG" ? kDebug : kOther;
    const bool pair = (before == kPacket && word == kDebug) || (before == kDebug && word == kPacket);
    before = word;
    createdLayout = !token.empty() && token.front() == '+';
    if (token == "debugIsakmpHdr:" || DebugLogReader::HasSeparator(token) || reader.IsAbandoned()) {
      logBegin_ = reader.TokenStart();
      break;
    }
    if (pair) {
      logBegin_ = reader.TokenStart();
      scannedRecord_ = std::make_unique<PacketDebugRecord>();
      scannedRecord_->Read(reader);
      break;
    }
    if (reader.AtEnd()) break;
  }

  if (createdLayout && !reader.IsAbandoned()) {
    created_ = true;
    bool lineCreated = false;
    ReadPacketLine(reader, lineCreated);
    const std::string_view next = reader.ReadTokenView();
    if (next == "#####" || next == "****" || DebugLogReader::HasSeparator(next)) reader.Abandon();
  }
  if (!reader.IsAbandoned()) ReadHeaderFields(reader);
  if (!createdLayout && !reader.IsAbandoned()) {
    reader.ReadTokenView();  // the "+" line that opens the packet line
    created_ = false;
    bool lineCreated = false;
    ReadPacketLine(reader, lineCreated);
    if (lineCreated) {
      // A processed header block followed by a "create_" line: the daemon logged the packet
      // it answers with; the header block that follows supersedes the first.
      created_ = true;
      reader.ReadTokenView();
      ReadHeaderFields(reader);
    }
  }
  if (packetKind_ == kConfigReceived) created_ = false;
}

void Header::ReadPacketLine(DebugLogReader& reader, bool& created) {
  created = false;
  packetKind_ = 0;
  const PacketKeyword* keyword = FindPacketKeyword(reader.ReadTokenView());
  if (keyword == nullptr) {
    reader.Abandon();
    return;
  }
  packetKind_ = keyword->kind;
  created = keyword->created;

  reader.SeekLabel("peer:");
  peerAddress_ = reader.ReadHexNumber();
  const std::string_view tunnel = reader.ReadTokenView();
  tunnelLocalIP_ = tunnelPeerIP_ = 0;
  if (tunnel != "~~" && !ParseTunnelToken(tunnel, tunnelLocalIP_, tunnelPeerIP_)) tunnelLocalIP_ = tunnelPeerIP_ = 0;
  // The date repeats over a day's packets and the time over a second's: both are shared within
  // the lane rather than copied for each packet.
  std::string date(dateText_);
  for (int i = 0; i < 3; ++i) {
    date += ' ';
    date += reader.ReadTokenView();
  }
  timeText_.AssignShared(reader.ReadTokenView());
  date += ' ';
  date += reader.ReadTokenView();
  // A packet line that runs into the end of the log is still being written (a live log): its
  // last token may be cut short, or missing with the tokens before it. Such a packet is left
  // for the next read of the log, as a saved copy could not carry its half-written line.
  if (reader.AtEnd()) {
    reader.Abandon();
    return;
  }
  dateText_.AssignShared(date);
  reader.SkipTokens(1);
}

void Header::ReadHeaderFields(DebugLogReader& reader) {
  for (std::size_t i = 0; i < Fields::kFields.size(); ++i) {
    const HeaderField& field = Fields::kFields[i];
    switch (field.read) {
      case LabelRead::kSought:
        reader.SeekLabel(field.label);
        ReadValue(*this, reader, field);
        break;
      case LabelRead::kUnchecked:
        reader.ReadTokenView();
        ReadValue(*this, reader, field);
        break;
      case LabelRead::kRunOpens:
      case LabelRead::kRunOpensLate:
        ReadRun(*this, reader, i, field.run);
        i += field.run - 1;
        break;
      case LabelRead::kRunClosesByLabel: break;  // read with its run
    }
    if (field.written == Written::kBytesAndDecimal) reader.ReadTokenView();  // the decimal in parentheses
  }
  cookieValue_ = ByteListValue(initCookie_);
  msgIdValue_ = ByteListValue(msgId_);
}

void Header::ReadLengthBlock(DebugLogReader& reader) {
  const HeaderField& length = Fields::kFields[Fields::kLength];
  reader.SeekLabel(length.label);
  ReadValue(*this, reader, length);
}

void Header::WriteHeaderBlock(std::string& out) const {
  out += created_ ? "debugIsakmpHdr: (Creation)\n" : "debugIsakmpHdr: (Process)\n";
  for (const HeaderField& field : Fields::kFields) WriteField(out, *this, field);
}

void Header::WriteLengthBlock(std::string& out) const {
  if (!created_) return;
  out += "debugIsakmpHdrLen:\n";
  WriteField(out, *this, Fields::kFields[Fields::kLength]);
  out += '\n';
}

namespace {

// The packet line's keyword after "create_" / "process_", by packet kind; the kinds without a
// "packetN..." keyword (configuration, informational) have none here.
std::string NumberedPacketKeyword(std::uint32_t kind) {
  auto numbered = [](std::uint32_t number, std::string_view mode) {
    std::string text = "packet";
    text += static_cast<char>('0' + number);
    text += mode;
    text += ':';
    return text;
  };
  if (kind >= kMainMode1 && kind <= kMainMode6) return numbered(kind - kMainMode1 + 1, "phase1");
  if (kind >= kAggressive1 && kind <= kAggressive3) return numbered(kind - kAggressive1 + 1, "aggressive");
  if (kind >= kQuickMode1 && kind <= kQuickMode3) return numbered(kind - kQuickMode1 + 1, "phase2");
  return {};
}

// The keyword of a configuration packet line.
std::string_view ConfigKeyword(std::uint32_t kind) {
  switch (kind) {
    case kConfigReceived: return "process_config";
    case kConfigRequest: return "create_config_request:";
    case kConfigReply: return "create_config_reply:";
    case kConfigSet: return "create_config_set:";
    case kConfigAck: return "create_config_ack:";
    default: return {};
  }
}

}  // namespace

std::string PacketLineStart(std::uint32_t kind, bool created) {
  std::string start;
  if ((kind & ~7u) == kFamilyConfig) {
    start = ConfigKeyword(kind);
  } else if (kind == kInformational) {
    // The daemon's informational keywords carry no colon.
    start = created ? "gxIsakmp_BuildInfoExc-N" : "gxIsakmp_ProcessInfoExc";
  } else {
    start = created ? "create_" : "process_";
    start += NumberedPacketKeyword(kind);
  }
  start += " peer: ";
  return start;
}

std::string Header::PacketLineDateTime() const {
  const std::string date(dateText_);
  const std::string time(timeText_);
  const std::size_t year = date.rfind(' ');
  if (year == std::string::npos) return date + ' ' + time;
  return date.substr(0, year) + ' ' + time + date.substr(year);
}

std::string Header::TunnelText() const {
  if (tunnelLocalIP_ == 0 && tunnelPeerIP_ == 0) return " ~~";
  return " TunnelLocalIP:" + NumberText(tunnelLocalIP_, 16) + ",TunnelPeerIP:" + NumberText(tunnelPeerIP_, 16);
}

std::uint32_t Header::EffectivePeerAddress() const {
  if (tunnelLocalIP_ == 0) return peerAddress_;
  return tunnelPeerIP_ != 0 ? tunnelPeerIP_ : peerAddress_;
}

void Header::AppendDetailText(std::string& out) const {
  // Every packet has a header, so a search over a large log builds this text more often than
  // any other: it is appended in place rather than joined from temporaries.
  out.reserve(out.size() + 320);
  out += "Header\r\n\r\n";
  for (const std::uint8_t i : Fields::kShownOrder) ShowField(out, *this, Fields::kFields[i]);
}

void Header::SetInitCookie(ByteList cookie) {
  initCookie_ = std::move(cookie);
  cookieValue_ = ByteListValue(initCookie_);
}

void Header::SetMsgId(ByteList id) {
  msgId_ = std::move(id);
  msgIdValue_ = ByteListValue(msgId_);
}

void Header::SetFields(std::uint32_t nextPayload, std::uint32_t major, std::uint32_t minor, std::uint32_t exchangeType,
                       std::uint32_t enc, std::uint32_t commit, std::uint32_t res) {
  nextPayload_ = nextPayload;
  majorVersion_ = major;
  minorVersion_ = minor;
  exchangeType_ = exchangeType;
  encFlag_ = enc;
  commitFlag_ = commit;
  resFlag_ = res;
}

}  // namespace quillon
