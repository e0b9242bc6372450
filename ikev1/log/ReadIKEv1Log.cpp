// Reading a whole IKEv1 debug log into the log root.
//
// The file is scanned packet by packet (the Header constructor skips to the next packet and
// reads its packet line and header block). Each packet goes to the peer of its "peer:" address,
// which places it in a tunnel and a negotiation, where a message reads the packet's payload
// blocks. Between packets the scan may meet a "PACKET DEBUG" block, the daemon's summary of a
// packet: a "Sent:" block follows the packet it describes and is attached at once; a
// "Received:" block precedes its packet and waits in this load's table until the packet's
// message takes it. A daemon restart met while a packet was read ends every open negotiation.

#include <algorithm>
#include <memory>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "ikev1/log/DebugLogReader.h"
#include "ikev1/log/Header.h"
#include "ikev1/log/PacketDebugRecord.h"
#include "ikev1/log/PacketDebugTable.h"
#include "ikev1/negotiation/Exchange.h"
#include "ikev1/negotiation/Peer.h"
#include "model/IPv4.h"
#include "model/LogFile.h"

namespace quillon {

namespace {

// Makes the load's table of received packet-debug records the reader's for the duration of
// the load, and gives the reader back its previous table afterwards.
class TableOnReader {
 public:
  TableOnReader(DebugLogReader& reader, PacketDebugTable& table)
      : reader_(reader), previous_(reader.PacketDebugRecords()) {
    reader_.SetPacketDebugRecords(&table);
  }
  ~TableOnReader() { reader_.SetPacketDebugRecords(previous_); }
  TableOnReader(const TableOnReader&) = delete;
  TableOnReader& operator=(const TableOnReader&) = delete;

 private:
  DebugLogReader& reader_;
  PacketDebugTable* previous_;
};

bool SameNegotiation(const Header& header, const PacketDebugRecord& record) {
  return header.InitCookie() == record.initCookie && header.MsgId() == record.msgId;
}

// The lookups of one load. A busy log holds thousands of peers and, per peer, thousands of
// negotiations; each packet looks for its peer and each "Sent:" record for its negotiation.
// Both are answered from maps kept up to date as packets are placed; the answers are those of
// a walk over the tree in order (the first peer of an address; the first negotiation, in
// tunnel order, whose last packet has the record's cookie and message ID).
class LoadIndex {
 public:
  explicit LoadIndex(const LogFile& root) : exact_(root.ChildCount() == 0) {
    for (const auto& child : root.Children())
      if (auto* peer = dynamic_cast<Peer*>(child.get())) peers_.emplace(peer->PeerAddress(), peer);
  }

  Peer* PeerAt(std::uint32_t address) const {
    auto it = peers_.find(address);
    return it == peers_.end() ? nullptr : it->second;
  }

  void AddPeer(Peer& peer) { peers_.emplace(peer.PeerAddress(), &peer); }

  // The exchange has just taken a packet: its last packet now names it.
  void NotePacket(std::uint32_t address, Exchange* exchange) {
    if (exchange == nullptr || exchange->GetHeader() == nullptr) return;
    const Header& header = *exchange->GetHeader();
    std::vector<Exchange*>& list = byRecordKey_[Key(address, header.InitCookie(), header.MsgId())];
    if (std::find(list.begin(), list.end(), exchange) == list.end()) list.push_back(exchange);
  }

  Exchange* ExchangeFor(Peer& peer, const PacketDebugRecord& record) const {
    if (!exact_) return WalkFor(peer, record);
    auto it = byRecordKey_.find(Key(peer.PeerAddress(), record.initCookie, record.msgId));
    if (it == byRecordKey_.end()) return nullptr;
    // An exchange is listed under every key its last packet ever had; keep those that still
    // have this one and take the first in tree order.
    std::vector<Exchange*> matches;
    for (Exchange* exchange : it->second)
      if (SameNegotiation(*exchange->GetHeader(), record)) matches.push_back(exchange);
    if (matches.size() <= 1) return matches.empty() ? nullptr : matches.front();
    return *std::min_element(matches.begin(), matches.end(), [&peer](const Exchange* a, const Exchange* b) {
      return PositionOf(peer, *a) < PositionOf(peer, *b);
    });
  }

 private:
  static PacketDebugKey Key(std::uint32_t address, const ByteList& cookie, const ByteList& msgId) {
    return {address, cookie, msgId};
  }

  // (tunnel position, exchange position) within the peer.
  static std::pair<std::size_t, std::size_t> PositionOf(const Peer& peer, const Exchange& exchange) {
    const QLFolder* tunnel = exchange.Parent();
    return {peer.IndexOf(tunnel), tunnel != nullptr ? tunnel->IndexOf(&exchange) : 0};
  }

  static Exchange* WalkFor(Peer& peer, const PacketDebugRecord& record) {
    for (const auto& tunnel : peer.Children()) {
      for (const auto& child : tunnel->Children()) {
        auto* exchange = dynamic_cast<Exchange*>(child.get());
        if (exchange != nullptr && exchange->GetHeader() != nullptr && SameNegotiation(*exchange->GetHeader(), record))
          return exchange;
      }
    }
    return nullptr;
  }

  // False when the root already held peers: their negotiations are not in the maps, so the
  // records are matched by walking the tree.
  bool exact_;
  std::unordered_map<std::uint32_t, Peer*> peers_;
  std::unordered_map<PacketDebugKey, std::vector<Exchange*>, PacketDebugKeyHash> byRecordKey_;
};

// A "Sent:" record follows the packet it describes: it goes to that packet's message (to the
// exchange itself for an informational exchange, whose packet is not a message node).
void AttachSentRecord(std::unique_ptr<PacketDebugRecord> record, const LoadIndex& index) {
  Peer* peer = index.PeerAt(record->peer);
  if (peer == nullptr) return;
  Exchange* exchange = index.ExchangeFor(*peer, *record);
  if (exchange == nullptr) return;
  const std::uint32_t peerIP = record->peerIP;
  if (exchange->IsNotify()) exchange->SetPacketDebug(std::move(record));
  else if (exchange->ChildCount() != 0) exchange->Child(exchange->ChildCount() - 1)->SetPacketDebug(std::move(record));
  if (exchange->PacketDebugValue() == 0 && peerIP != 0) exchange->SetPacketDebugValue(peerIP);
}

}  // namespace

void LogFile::ReadIKEv1Log(DebugLogReader& reader) {
  SetWrongFormat(false);
  SetIKEv2(false);
  SetName("IKE debugging info");

  PacketDebugTable receivedRecords;
  const TableOnReader tableOnReader(reader, receivedRecords);
  LoadIndex index(*this);
  bool regroup = false;

  while (!reader.AtEnd()) {
    auto header = std::make_unique<Header>(reader);
    if (std::unique_ptr<PacketDebugRecord> record = header->TakePacketDebugRecord()) {
      if (record->sent) AttachSentRecord(std::move(record), index);
      else receivedRecords.Put(std::move(record));
    }

    if (!reader.IsAbandoned()) {
      const std::uint32_t address = header->PeerAddress();
      if (Peer* peer = index.PeerAt(address)) {
        index.NotePacket(address, peer->AddPacket(std::move(header), reader));
        if (peer->HasIdAddress()) regroup = true;
      } else if (!reader.AtEnd()) {
        auto created = std::make_unique<Peer>(std::move(header), reader, FormatIPv4(address), this);
        Peer& added = *created;
        if (added.IsIndexedPeer() || added.HasIdAddress()) regroup = true;
        AddChild(std::move(created));
        index.AddPeer(added);
        // A new peer holds one tunnel with the exchange of its first packet.
        if (added.ChildCount() != 0 && added.Child(0)->ChildCount() != 0)
          index.NotePacket(address, dynamic_cast<Exchange*>(added.Child(0)->Child(0)));
      }
      if (reader.RestartSeen()) {
        for (const auto& child : Children())
          if (auto* peer = dynamic_cast<Peer*>(child.get())) peer->HandleRestart(reader);
        reader.ClearRestartSeen();
      }
    }
    if (reader.IsAbandoned() && !reader.AtEnd()) reader.ClearAbandon();
    // A header no peer took is destroyed here.
  }

  if (regroup) Regroup();
  for (const auto& peer : Children()) peer->Analyze();
}

}  // namespace quillon
