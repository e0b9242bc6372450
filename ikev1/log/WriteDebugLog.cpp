#include "ikev1/log/WriteDebugLog.h"

#include <algorithm>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "ikev1/log/DebugLogReader.h"
#include "ikev1/log/FolderElement.h"
#include "ikev1/log/Header.h"
#include "ikev1/log/Message.h"
#include "ikev1/log/PacketDebugRecord.h"
#include "ikev1/log/RestartStretches.h"
#include "ikev1/negotiation/Exchange.h"
#include "ikev1/negotiation/Peer.h"
#include "ikev1/payloads/VendorIDPayload.h"
#include "model/LogFile.h"

namespace quillon {

void WriteTree(const LogNode& node, std::string& out) {
  node.WriteDebug(out);
  for (const auto& child : node.Children()) WriteTree(*child, out);
  node.WriteDebugLength(out);
}

namespace {

// The reader takes a restart's text from up to two words after the restart word "daemon"; a
// packet start, a record marker or a payload block keyword stops it, and leaves every peer the
// word "daemon" itself as the text. So a restart whose text is that word is written as the word
// with this keyword after it (the header-length block keyword: the scan for the next packet
// passes over it). Written as "daemon restart daemon", the second "daemon" would be a restart
// word again, and the other peers would be told what follows it.
constexpr std::string_view kRestartWordStop = "debugIsakmpHdrLen:";

// A token the reader takes as a restart line's text: one plain token that stops nothing.
bool PlainToken(const std::string& text) {
  if (text.empty() || text.size() > 2000) return false;
  for (char c : text)
    if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f' || c == '\0') return false;
  return !DebugLogReader::IsHeaderStart(text) && !DebugLogReader::IsDebugMarker(text) &&
         !DebugLogReader::IsBlockKeyword(text);
}

// Whether a line "... daemon restart <text>", <text> the first peer's, tells the other peers
// theirs: the reader keeps the version in parentheses of a "GX-1(...)" text for them.
bool LineTellsTexts(const std::vector<std::string>& texts) {
  const std::string& text = texts.front();
  const std::string others = text.find("GX-1") != std::string::npos ? RestartVersionText(text) : text;
  return std::all_of(texts.begin() + 1, texts.end(), [&](const std::string& t) { return t == others; });
}

// The restart line for the marker texts of one restart. The daemon's line "... daemon <word>
// <text>" gives the first peer <text> and the others what the reader keeps of it (the version
// in parentheses for a "GX-1(...)" text); a line with "started" but no "daemon" repeats the
// text of the restart before. `carried` is that text; it is updated.
std::string RestartLine(const std::vector<std::string>& texts, std::string& carried, bool endsLog, bool& lost) {
  // A restart word that ends the log leaves every peer the word itself as the restart's text;
  // written so it reads back so, where "... daemon restart daemon" would give the other peers
  // the empty text after the second word.
  if (endsLog && !texts.empty() &&
      std::all_of(texts.begin(), texts.end(), [](const std::string& t) { return t == "daemon"; })) {
    carried = texts.front();
    return "\nIKE daemon";  // no line end: the reader must meet the end of the log with the word
  }
  const bool allCarried = std::all_of(texts.begin(), texts.end(), [&](const std::string& t) { return t == carried; });
  if (!texts.empty() && std::all_of(texts.begin(), texts.end(), [](const std::string& t) { return t == "daemon"; })) {
    carried = texts.front();
    return "\nIKE daemon " + std::string(kRestartWordStop) + "\n";
  }
  if (!texts.empty() && PlainToken(texts.front())) {
    const std::string& text = texts.front();
    const bool fits = LineTellsTexts(texts);
    if (fits || !allCarried) {
      lost = lost || !fits;
      carried = text;
      return "\nIKE daemon restart " + text + "\n";
    }
  }
  lost = lost || !allCarried;
  return "\nIKE logging started\n";
}

// The node as a vendor ID payload, or null.
const VendorIDPayload* AsVendorID(const LogNode& node) {
  const IsakmpPayload* payload = AsIsakmpPayload(node);
  return payload != nullptr && payload->PayloadCode() == kVendorIdBlock ? static_cast<const VendorIDPayload*>(payload) : nullptr;
}

// Whether a received packet's blocks end in a vendor ID's field lines. The reader takes each
// line there as a label of up to eight words and its value, and a restart ends the label it
// is in: the words before "daemon" on a restart line would be read as one more field line.
bool EndsInFreeLines(const FolderElement* packet) {
  if (packet == nullptr || packet->ChildCount() == 0 || packet->GetHeader() == nullptr || packet->GetHeader()->IsCreated())
    return false;
  const VendorIDPayload* vendor = AsVendorID(*packet->Child(packet->ChildCount() - 1));
  return vendor != nullptr && (vendor->HasFields() || vendor->HasNokiaFields());
}

// Puts the restart line after the last packet written: the reader ends every negotiation at a
// restart met while it reads a packet's blocks. A packet's "Sent:" record follows its
// blocks; the restart goes before the record, which still finds its packet. (After the record
// the restart would be met by the scan for the next packet, which passes over daemon lines;
// so would a restart word in a record's last value, where a restart cut the record short.) A
// received packet written without blocks (its payloads were cut short by the restart when it
// was read) ends at its packet line, after which the reader reads its blocks only when a block
// keyword comes first: an empty header-length block, which the reader passes over, carries the
// restart, also when the packet's "Sent:" record follows. `last` is the negotiation written
// last.
void AppendRestart(std::string& out, const std::string& line, const LogNode* last) {
  static const std::string kPacketLineEnd = std::string(70, '+') + "\n";
  std::size_t at = out.size();
  const FolderElement* packet = last != nullptr ? LastPacket(*last) : nullptr;
  if (const PacketDebugRecord* record = packet != nullptr ? packet->PacketDebug() : nullptr; record != nullptr && record->sent) {
    std::string written;
    record->Write(written);
    if (std::string_view(out).ends_with(written)) at = out.size() - written.size();
  }
  const bool bare = std::string_view(out).substr(0, at).ends_with(kPacketLineEnd);
  std::string text = bare || EndsInFreeLines(packet) ? "debugIsakmpHdrLen:\n" + line : line;
  if (!text.ends_with('\n') && at < out.size()) text += '\n';
  out.insert(at, text);
}

// A negotiation whose own text restarts the daemon (a restart word the log had inside a packet)
// carries the restart in the saved log too. When the word is "daemon", the reader takes the
// restart's text two words after it, where the daemon's own line "IKE daemon version <text>"
// has it; in the saved packet those words are the packet's next fields, and the markers would
// read back without their text. So the two words go right after the restart word: the reader
// stops reading the packet at that word, and takes them for the restart only.
void GiveCarriedRestartItsText(std::string& out, std::size_t from, const std::vector<std::string>& texts,
                               std::string& carried, bool& lost) {
  if (texts.empty()) return;
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; };
  for (std::size_t at = from; at < out.size();) {
    while (at < out.size() && blank(out[at])) ++at;
    std::size_t end = at;
    while (end < out.size() && !blank(out[end])) ++end;
    const std::string_view word(out.data() + at, end - at);
    if (DebugLogReader::IsRestartToken(word)) {
      // "started" gives every peer the text of the restart before; no word can go with it.
      if (word == "started")
        lost = lost || !std::all_of(texts.begin(), texts.end(), [&](const std::string& t) { return t == carried; });
      if (word == "daemon" && PlainToken(texts.front())) {
        // The packet's own words after it may give the restart its text already (a field
        // that holds the daemon's own "daemon version GX-1(...)" line): then they stay.
        std::size_t next = end;
        std::string_view second;
        for (int i = 0; i < 2 && next < out.size(); ++i) {
          while (next < out.size() && blank(out[next])) ++next;
          const std::size_t stop = std::min(out.find_first_of(" \t\n\r\v\f", next), out.size());
          second = std::string_view(out.data() + next, stop - next);
          next = stop;
        }
        const std::string& text = texts.front();
        if (std::all_of(texts.begin(), texts.end(), [](const std::string& t) { return t == "daemon"; })) {
          // Every peer is told the word itself: it needs a word after it that stops the reading
          // of the text (kRestartWordStop), unless the packet's next word already does.
          std::size_t first = end;
          while (first < out.size() && blank(out[first])) ++first;
          const std::size_t stop = std::min(out.find_first_of(" \t\n\r\v\f", first), out.size());
          const std::string_view next(out.data() + first, stop - first);
          const bool stops = DebugLogReader::IsHeaderStart(next) || DebugLogReader::IsDebugMarker(next) ||
                             DebugLogReader::IsBlockKeyword(next);
          if (!stops || next.find("GX-1") != std::string_view::npos) out.insert(end, " " + std::string(kRestartWordStop));
          carried = text;
          return;
        }
        if (second == text || (second.find("GX-1") != std::string_view::npos &&
                               RestartVersionText(std::string(second)) == text)) {
          carried = std::string(second);  // what the reader keeps for a later line without a text
          return;
        }
        out.insert(end, " restart " + texts.front());
        lost = lost || !LineTellsTexts(texts);
        carried = texts.front();  // a later restart line without a text of its own repeats it
      }
      return;
    }
    at = end;
  }
}

// The node as a packet with a header and a packet-debug record: a message, or an
// informational exchange (its own packet).
const FolderElement* AsPacket(const LogNode& node) {
  if (const auto* message = NodeAs<Message>(node)) return message;
  return NodeAs<Exchange>(node);
}

bool VendorFieldsSearchOverran(const LogNode& node) {
  const VendorIDPayload* vendor = AsVendorID(node);
  if (vendor == nullptr || !vendor->HasFields()) return false;
  const auto lines = vendor->FieldLines();
  static constexpr std::string_view kLabels[] = {"VIDData: ", "Product: ", "Version: "};
  std::size_t labelled = 0;
  while (labelled < lines.size() && labelled < 3 && lines[labelled].starts_with(kLabels[labelled])) ++labelled;
  return labelled < 3 && lines.size() > labelled;
}

bool RecordLabelHoldsRestart(const FolderElement& packet) {
  if (packet.PacketDebug() == nullptr) return false;
  const std::string_view text = packet.PacketDebug()->text;
  for (std::size_t start = 0; start < text.size();) {
    std::size_t next = text.find("\r\n", start + 2);
    if (next == std::string_view::npos) next = text.size();
    std::string_view label(text.data() + start + 2, next - start - 2);
    label = label.substr(0, label.find('\t'));
    while (!label.empty()) {
      const std::size_t space = label.find(' ');
      if (DebugLogReader::IsRestartToken(label.substr(0, space))) return true;
      label = space == std::string_view::npos ? std::string_view() : label.substr(space + 1);
    }
    start = next;
  }
  return false;
}

bool HoldsRestart(const LogNode& node) {
  if (node.Is(NodeKind::kRestart)) return true;
  for (const auto& child : node.Children())
    if (HoldsRestart(*child)) return true;
  return false;
}

bool PacketCutNotLast(const LogNode& node, const FolderElement& packet, const LogNode& root) {
  // (Asked of the whole tree only for a record the end of the log cut short: one at most.)
  const bool lineCut = packet.GetHeader() != nullptr && packet.GetHeader()->LineCutByEnd();
  const bool recordCut = packet.PacketDebug() != nullptr && packet.PacketDebug()->CutByEnd();
  if (!lineCut && !recordCut) return false;
  const LogNode* negotiation = NodeAs<Exchange>(node) != nullptr ? &node : node.Parent();
  const LogNode* tunnel = negotiation != nullptr ? negotiation->Parent() : nullptr;
  if (tunnel == nullptr || tunnel->Parent() == nullptr || IsMergedPeer(*tunnel->Parent())) return true;
  if (!lineCut && HoldsRestart(root)) return true;
  const bool lastPacket = negotiation == &node || negotiation->Child(negotiation->ChildCount() - 1) == &node;
  return !lastPacket || tunnel->Child(tunnel->ChildCount() - 1) != negotiation;
}

// Whether the tree holds damaged lines no saved log reads back as (IKEv1SaveLosses::damagedLines).
bool HoldsDamagedLines(const LogNode& node, const LogNode& root) {
  if (VendorFieldsSearchOverran(node)) return true;
  if (const FolderElement* packet = AsPacket(node))
    if (RecordLabelHoldsRestart(*packet) || PacketCutNotLast(node, *packet, root)) return true;
  for (const auto& child : node.Children())
    if (HoldsDamagedLines(*child, root)) return true;
  return false;
}

}  // namespace

bool WriteIKEv1Log(const LogFile& root, ByteSink& sink) {
  IKEv1SaveLosses losses;
  return WriteIKEv1Log(root, sink, losses);
}

bool WriteIKEv1Log(const LogFile& root, ByteSink& sink, IKEv1SaveLosses& losses) {
  BufferedSink out(sink);
  out.Buffer() += kSavedLogHead;
  const RestartStretches stretches(root);
  losses.restartStretches = stretches.Unsettled();
  losses.damagedLines = HoldsDamagedLines(root, root);
  std::string carried;  // the text a restart line without its own keeps from the one before
  const LogNode* last = nullptr;  // the negotiation written last
  for (std::size_t s = 0; s <= stretches.RestartCount(); ++s) {
    if (s > 0 && !stretches.Carried(s)) {
      // The restart goes after the last packet written; the buffer holds it unless the buffer
      // was just handed on, in which case nothing can be moved in front of its record.
      const bool endsLog = s == stretches.RestartCount() && stretches.Stretch(s).empty();
      AppendRestart(out.Buffer(), RestartLine(stretches.Texts(s), carried, endsLog, losses.restartTexts), last);
    }
    const std::vector<const LogNode*>& stretch = stretches.Stretch(s);
    for (std::size_t i = 0; i < stretch.size(); ++i) {
      const std::size_t start = out.Buffer().size();
      WriteTree(*stretch[i], out.Buffer());
      last = stretch[i];
      if ((i + 1 == stretch.size() && stretches.Carried(s + 1)) ||
          (s < stretches.RestartCount() && stretches.RestartsOwn(stretch[i])))
        GiveCarriedRestartItsText(out.Buffer(), start, stretches.Texts(s + 1), carried, losses.restartTexts);
      // Keep the end of a stretch in the buffer for the restart line that follows it.
      if (i + 1 < stretch.size() && !out.Written()) return false;
    }
  }
  return out.Flush();
}

}  // namespace quillon
