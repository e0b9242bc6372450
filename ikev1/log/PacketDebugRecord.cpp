#include "ikev1/log/PacketDebugRecord.h"

#include <algorithm>
#include <string_view>

#include "ikev1/log/DebugLogReader.h"
#include "model/IPv4.h"

namespace quillon {

void PacketDebugRecord::Read(DebugLogReader& reader) {
  reader.SkipTokens(1);  // the "#####" closing the opening line
  const std::string& direction = reader.ReadToken();
  if (direction == "Sent:") sent = true;
  else if (direction == "Received:") sent = false;

  reader.SeekLabel("Peer:");
  peer = reader.ReadHexNumber();
  reader.SeekLabel("InitCookie:");
  initCookie = reader.ReadHexBytes();
  reader.SeekLabel("MsgID:");
  msgId = reader.ReadHexBytes();

  // Free lines: a label of up to eight tokens ending in a token with ':', then the value.
  // A restart token stops the loop too: while the restart flag holds the reader every read
  // returns the same token, so going on would never end.
  text.reserve(256);
  std::string label;
  std::string t = reader.ReadToken();
  while (!DebugLogReader::IsBlockKeyword(t) && !DebugLogReader::IsBlockTerminator(t) && t != "debugIsakmpHdr:" &&
         !reader.IsAbandoned() && !reader.AtEnd() && !reader.RestartSeen()) {
    text += "\r\n";
    label = t;
    for (int added = 0; label.find(':') == std::string::npos && added < 7 && !reader.AtEnd(); ++added) {
      label += ' ';
      label += reader.ReadToken();
    }
    text += label;
    text += LabelTabs(label.size());
    reader.SkipWhitespace();
    if (label == "PeerIP:") {
      peerIP = reader.ReadHexNumber();
      text += FormatIPv4(peerIP);
    } else {
      text += reader.ReadLineRest();
    }
    t = reader.ReadToken();
  }
  text.shrink_to_fit();
  if (t == "#####") reader.ReadLineRest();
  reader.Abandon();
}

void PacketDebugRecord::Write(std::string& out) const {
  out += "\r\n##### BEGIN PACKET DEBUG #####\n";
  out += sent ? "\tSent:\n" : "\tReceived:\n";
  out += "\tPeer: ";
  AppendNumberText(out, peer, 16);
  out += "\n\tInitCookie: ";
  AppendHexText(out, initCookie, 16, false, true);
  out += "\n\tMsgID: ";
  AppendHexText(out, msgId, 16, false, true);
  // The detail text shows "PeerIP:" as a dotted address, but the block carries it in
  // hexadecimal: write that form so the saved record reads back with its address. Each line
  // keeps its own address (a block may carry more than one; the last is `peerIP`).
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t next = text.find("\r\n", start + 2);
    if (next == std::string::npos) next = text.size();
    const std::string_view line(text.data() + start, next - start);
    if (line.starts_with("\r\nPeerIP:\t")) {
      out += "\r\nPeerIP:";
      out += LabelTabs(7);
      const std::size_t address = std::min(line.find_first_not_of('\t', 9), line.size());
      AppendNumberText(out, ParseIPv4(line.substr(address)), 16);
    } else {
      out += line;
    }
    start = next;
  }
  if (CutByEnd()) {
    // The log ends where the line was cut. A label cut short ends the log: a blank after it
    // would let the label read one more (empty) token. A label whose value is missing is
    // followed by a blank: a label met at the very end is no line of the block.
    while (!out.empty() && out.back() == '\t') out.pop_back();
    const std::string_view line = std::string_view(text).substr(text.rfind("\r\n") + 2);
    if (line.substr(0, line.find('\t')).find(':') != std::string_view::npos) out += ' ';
    return;
  }
  // A block its last value stopped ends there: the reader goes on after the restart, and
  // would take a closing line's "PACKET DEBUG" for the opening of another block.
  out += StoppedByRestart() ? "\n" : "\n##### END PACKET DEBUG #####\r\n\r\n";
}

bool PacketDebugRecord::StoppedByRestart() const {
  const std::size_t start = text.rfind("\r\n");
  if (start == std::string::npos) return false;
  const std::string_view line = std::string_view(text).substr(start + 2);
  const std::size_t value = line.find_first_not_of('\t', std::min(line.find('\t'), line.size()));
  return value != std::string_view::npos && line.find("daemon", value) != std::string_view::npos;
}

bool PacketDebugRecord::CutByEnd() const {
  const std::size_t start = text.rfind("\r\n");
  if (start == std::string::npos) return false;
  const std::string_view line = std::string_view(text).substr(start + 2);
  const std::size_t tabs = line.find('\t');
  const std::string_view label = line.substr(0, tabs);
  if (label.find(':') == std::string_view::npos && std::count(label.begin(), label.end(), ' ') < 7) return true;
  return tabs != std::string_view::npos && line.find_first_not_of('\t', tabs) == std::string_view::npos;
}

}  // namespace quillon
