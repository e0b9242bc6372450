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
  reader.SeekLabel("InitCookie:");
  SetInitCookie(ReadByteList(reader));
  reader.ReadTokenView();  // "RspCookie:"
  respCookie_ = ReadByteList(reader);
  reader.SeekLabel("NextPld:");
  nextPayload_ = reader.ReadHexNumber();

  // The daemon writes the two version fields in either order.
  std::string_view t = reader.ReadTokenView();
  if (t != "MjVer:" && t != "MnVer:") t = reader.ReadTokenView();
  if (t == "MjVer:") {
    majorVersion_ = reader.ReadHexNumber();
    reader.SeekLabel("MnVer:");
    minorVersion_ = reader.ReadHexNumber();
  } else {
    minorVersion_ = reader.ReadHexNumber();
    reader.SeekLabel("MjVer:");
    majorVersion_ = reader.ReadHexNumber();
  }
  reader.SeekLabel("ExcType:");
  exchangeType_ = reader.ReadHexNumber();

  // ... and the flags either as ResFlag, CommitFlag, EncFlag or as EncFlag, CommitFlag, ResFlag.
  if (reader.ReadTokenView() == "ResFlag:") resFlag_ = reader.ReadHexNumber();
  else encFlag_ = reader.ReadHexNumber();
  reader.SeekLabel("CommitFlag:");
  commitFlag_ = reader.ReadHexNumber();
  if (reader.ReadTokenView() == "EncFlag:") encFlag_ = reader.ReadHexNumber();
  else resFlag_ = reader.ReadHexNumber();

  reader.SeekLabel("MsgID:");
  SetMsgId(ReadByteList(reader));
  reader.SeekLabel("Length:");
  length_ = ReadByteList(reader);
  reader.ReadTokenView();  // the decimal length in parentheses
}

void Header::ReadLengthBlock(DebugLogReader& reader) {
  reader.SeekLabel("Length:");
  length_ = ReadByteList(reader);
}

void Header::WriteHeaderBlock(std::string& out) const {
  out += created_ ? "debugIsakmpHdr: (Creation)\n" : "debugIsakmpHdr: (Process)\n";
  auto bytes = [&out](const char* label, const ByteList& list) {
    out += label;
    AppendHexText(out, list, 16, false, true);
  };
  auto hex = [&out](const char* label, std::uint32_t v) {
    out += label;
    AppendNumberText(out, v, 16);
    out += '\n';
  };
  bytes("\tInitCookie: ", initCookie_);
  out += '\n';
  bytes("\tRspCookie: ", respCookie_);
  out += '\n';
  hex("\tNextPld: ", nextPayload_);
  hex("\tMjVer: ", majorVersion_);
  hex("\tMnVer: ", minorVersion_);
  hex("\tExcType: ", exchangeType_);
  hex("\tResFlag: ", resFlag_);
  hex("\tCommitFlag: ", commitFlag_);
  hex("\tEncFlag: ", encFlag_);
  bytes("\tMsgID: ", msgId_);
  out += '\n';
  bytes("\tLength: ", length_);
  out += '(';
  AppendNumberText(out, ByteListValue(length_), 10);
  out += ")\n";
}

void Header::WriteLengthBlock(std::string& out) const {
  if (!created_) return;
  out += "debugIsakmpHdrLen:\n\tLength: ";
  AppendHexText(out, length_, 16, false, true);
  out += '(';
  AppendNumberText(out, ByteListValue(length_), 10);
  out += ")\n\n";
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
  out += "Header\r\n\r\nInitCookie:\t";
  AppendHexText(out, initCookie_, 16, false, false);
  out += "\r\nRespCookie:\t";
  AppendHexText(out, respCookie_, 16, false, false);
  out += "\r\nNext Payload:\t";
  out += PayloadTypeName(nextPayload_);
  const auto number = [&out](std::string_view label, std::uint32_t value, unsigned base) {
    out += label;
    AppendNumberText(out, value, base);
  };
  number("\r\nMjVer:\t\t", majorVersion_, 10);
  number("\r\nMnVer:\t\t", minorVersion_, 10);
  number("\r\nExcType:\t", exchangeType_, 16);
  number(" (", exchangeType_, 10);
  number(")\r\nEncFlag:\t", encFlag_, 10);
  number("\r\nCommitFlag:\t", commitFlag_, 10);
  number("\r\nResFlag:\t", resFlag_, 10);
  out += "\r\nMsgID:\t\t";
  AppendHexText(out, msgId_, 16, false, false);
  out += "\r\nLength:\t\t";
  AppendHexText(out, length_, 16, false, true);
  number(" (", ByteListValue(length_), 10);
  out += ")\r\n";
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
