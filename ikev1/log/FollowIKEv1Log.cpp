// Following an IKEv1 debug log while the daemon writes it (see FollowIKEv1Log.h): the packet
// scan and the placing of the whole-log load, kept between reads.
#include "ikev1/log/FollowIKEv1Log.h"

#include <algorithm>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "ikev1/log/Message.h"
#include "ikev1/log/PlaceIKEv1Packets.h"
#include "ikev1/negotiation/Peer.h"
#include "model/TextHash.h"

namespace quillon {

using ikev1_load::Placer;
using ikev1_load::ScannedPacket;
using ikev1_load::ScanStep;

namespace {

void AppendNodeText(const LogNode& node, std::string& out) {
  out += node.Name();
  out += '\x1f';
  out += node.Caption();
  out += '\x1f';
  out += node.DetailText();
  out += '\x1e';
  for (const auto& child : node.Children()) AppendNodeText(*child, out);
  out += '\x1d';
}

// The text from `skip` bytes on, for a reader.
std::vector<std::shared_ptr<const std::string>> Rest(const std::shared_ptr<const std::string>& text, std::uint64_t skip) {
  if (skip == 0) return {text};
  return {std::make_shared<const std::string>(*text, static_cast<std::size_t>(skip))};
}

// Everything placing the step depends on, as text: two steps with equal prints change the tree
// the same way. Empty for a step that changes nothing. The offsets belong to it: a packet's
// stretch starts where its block (or the received record before it) opens, and a log may repeat
// a packet line word for word (a retransmission, or a damaged block between two copies), so a
// longer log that reads the same packet from a later copy must not pass for the one placed.
std::string StepPrint(const ScannedPacket& step) {
  std::string out;
  if (step.record) {
    const PacketDebugRecord& r = *step.record;
    out += r.sent ? "S " : "R ";
    out += std::to_string(step.recordStart) + ' ';
    out += std::to_string(r.peer) + ' ' + std::to_string(r.peerIP) + ' ' + SpacedHex(r.initCookie) + '/' + SpacedHex(r.msgId) + '\x1f';
    out += r.text;
    out += '\x1e';
  }
  const Header* header = step.unread ? step.unread.get() : step.packet.header;
  if (header != nullptr) {
    out += step.unread ? "U " : "P ";
    out += std::to_string(header->LogBegin()) + ' ';
    out += std::to_string(header->PeerAddress()) + ' ' + std::to_string(header->TunnelLocalIP()) + ' ' +
           std::to_string(header->TunnelPeerIP()) + ' ' + std::to_string(header->PacketKind()) + (header->IsCreated() ? " c " : " r ");
    out += header->DateText() + '\x1f' + header->TimeText() + '\x1f' + header->DetailText() + '\x1e';
  }
  if (step.packet.message) AppendNodeText(*step.packet.message, out);
  if (step.packet.exchange) AppendNodeText(*step.packet.exchange, out);
  if (step.restart && !out.empty()) out += "restart";
  return out;
}

// Whether `text` (the log from offset `base` on) holds the restart's text in full. A restart on
// "daemon" takes the two words after it as its text ("IKE daemon version <text>"); a word is
// whole once whitespace follows it. Placed before that, the restart would read past the text
// and the follower could not go on, leaving what it placed so far without its packet ends.
bool RestartTextComplete(const DebugLogReader& reader, const std::string& text, std::uint64_t base) {
  if (reader.CurrentToken() != "daemon") return true;
  const auto space = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; };
  std::size_t at = static_cast<std::size_t>(reader.Position() - base);
  for (int word = 0; word < 2; ++word) {
    while (at < text.size() && space(text[at])) ++at;
    if (at == text.size()) return false;
    while (at < text.size() && !space(text[at])) ++at;
    if (at == text.size()) return false;
  }
  return true;
}

}  // namespace

struct IKEv1Follower::State {
  explicit State(LogFile& r) : root(r), placer(r, std::string()) {}
  LogFile& root;
  Placer placer;
  std::uint64_t committed = 0;  // a clean point: everything before is placed for good
  std::string pending;          // the log from `committed` on
  // The steps placed past `committed` as the end of the log, by their prints; checked against
  // the longer log at the next read.
  std::vector<std::string> tail;
  bool tailPlaced = false;
  bool tailCheckable = true;
  bool stuck = false;  // the tree was regrouped or a read went wrong: only a reload helps
  bool settled = false;  // nothing was appended since the last Settle
};

IKEv1Follower::IKEv1Follower(LogFile& root) : state_(std::make_unique<State>(root)) {
  root.SetWrongFormat(false);
  root.SetIKEv2(false);
  root.SetName("IKE debugging info");
}

IKEv1Follower::~IKEv1Follower() = default;

IKEv1Follower::Result IKEv1Follower::Append(std::string_view bytes) {
  State& s = *state_;
  if (!TakeAppended(bytes)) return Result::kUnchanged;
  if (s.stuck) return Result::kReload;
  s.pending.append(bytes);
  s.settled = false;
  std::uint64_t committed = s.committed;
  // The readers share the text; what is placed for good is dropped from `pending` at the end.
  auto text = std::make_shared<const std::string>(s.pending);

  // The tail placed as the end of the log must read the same now that the log goes on; then
  // the scan stands cleanly after it.
  if (s.tailPlaced) {
    if (!s.tailCheckable) {
      s.stuck = true;
      return Result::kReload;
    }
    DebugLogReader check({text}, committed, false);
    std::size_t matched = 0;
    while (matched < s.tail.size()) {
      check.Sync();
      if (check.Overrun()) return Result::kUnchanged;  // not enough yet to tell
      ScannedPacket step = ScanStep(check);
      if (check.Overrun()) return Result::kUnchanged;
      std::string print = StepPrint(step);
      if (print.empty()) continue;
      if (print != s.tail[matched] || step.restart) {
        s.stuck = true;
        return Result::kReload;
      }
      ++matched;
    }
    const SyncPoint at = check.Sync();
    if (check.Overrun()) return Result::kUnchanged;
    if (!at.clean) {
      s.stuck = true;
      return Result::kReload;
    }
    committed = at.position;
    s.tail.clear();
    s.tailPlaced = false;
  }

  // The packets that are whole are placed: a packet is whole when reading it stopped before the
  // end of the text. The scan stands cleanly between most packets; packets placed after a point
  // that is not clean are checked like a tail when the scan cannot go on.
  s.placer.touched = &changed_;
  {
    DebugLogReader reader(Rest(text, committed - s.committed), committed, false);
    std::vector<std::string> since;  // prints of the steps placed after `committed`
    bool sinceCheckable = true;
    for (;;) {
      const SyncPoint at = reader.Sync();
      if (reader.Overrun()) break;
      if (at.clean) {
        committed = at.position;
        since.clear();
        sinceCheckable = true;
      }
      ScannedPacket step = ScanStep(reader);
      if (reader.Overrun()) break;
      // A restart whose text the log does not hold yet waits for it like a packet cut short.
      if (step.restart && !RestartTextComplete(reader, *text, s.committed)) break;
      std::string print = StepPrint(step);
      if (!print.empty()) {
        if (step.restart) sinceCheckable = false;
        since.push_back(std::move(print));
      }
      s.placer.Place(step, &reader);
      if (reader.Overrun()) {
        // A daemon restart read past the text: the tree holds what the log does not say yet.
        s.stuck = true;
        s.placer.touched = nullptr;
        return Result::kReload;
      }
    }
    if (!since.empty()) {
      s.tail = std::move(since);
      s.tailPlaced = true;
      s.tailCheckable = sinceCheckable;
    }
  }
  s.pending.erase(0, static_cast<std::size_t>(committed - s.committed));
  s.committed = committed;
  s.placer.touched = nullptr;
  return Finish(false);
}

IKEv1Follower::Result IKEv1Follower::Settle() {
  State& s = *state_;
  changed_.clear();
  if (s.stuck || s.settled) return Result::kUnchanged;
  s.settled = true;
  if (s.pending.empty() || (s.pending.back() != '\n' && s.pending.back() != '\r')) return Finish(true);
  // Packets placed after the last clean point read the same up to the end; they are passed
  // over, and what follows them is placed. No byte came since they were placed, so a packet
  // that restarted the daemon reads the same too; the restart it brought is in the tree already.
  const std::size_t placed = s.tail.size();
  std::size_t matched = 0;
  s.placer.touched = &changed_;
  DebugLogReader reader({std::make_shared<const std::string>(s.pending)}, s.committed, true);
  while (!reader.AtEnd()) {
    ScannedPacket step = ScanStep(reader);
    std::string print = StepPrint(step);
    if (matched < placed) {
      // Left as placing it left the reader, without placing it again.
      reader.ClearRestartSeen();
      if (reader.IsAbandoned() && !reader.AtEnd()) reader.ClearAbandon();
      if (print.empty()) continue;
      if (print != s.tail[matched]) {
        s.stuck = true;
        s.placer.touched = nullptr;
        return Result::kReload;
      }
      ++matched;
      continue;
    }
    if (!print.empty()) {
      if (step.restart) s.tailCheckable = false;
      s.tail.push_back(std::move(print));
    }
    s.placer.Place(step, &reader);
  }
  if (matched < placed) {
    // The longer log no longer reads the packets placed as its end (a packet that stood whole
    // at the pause is now read as part of what follows): the tree holds steps the log does not.
    s.stuck = true;
    s.placer.touched = nullptr;
    return Result::kReload;
  }
  s.tailPlaced = !s.tail.empty();
  s.placer.touched = nullptr;
  return Finish(true);
}

IKEv1Follower::Result IKEv1Follower::Finish(bool settling) {
  State& s = *state_;
  if (changed_.empty() && !(settling && s.placer.NeedsRegroup())) {
    // A packet that found no peer still ends the packet before it.
    s.placer.SetPacketEndsFollowing(changed_);
    return Result::kUnchanged;
  }
  std::sort(changed_.begin(), changed_.end());
  changed_.erase(std::unique(changed_.begin(), changed_.end()), changed_.end());
  if (settling && s.placer.NeedsRegroup()) {
    // The regrouping moves negotiations between peers; later packets cannot be placed in
    // place after it. It waits until the log stops growing.
    s.root.Regroup();
    s.placer.ForgetPeers();
    s.stuck = true;
    changed_.clear();
    for (const auto& peer : s.root.Children()) changed_.push_back(peer.get());
  }
  s.placer.SetPacketEndsFollowing(changed_);
  for (LogNode* peer : changed_)
    if (Peer* ikePeer = NodeAs<Peer>(peer)) ikePeer->Analyze();
  return Result::kExtended;
}

}  // namespace quillon
