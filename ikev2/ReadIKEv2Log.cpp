#include "ikev2/ReadIKEv2Log.h"

#include <memory>
#include <string>
#include <unordered_map>

#include "ikev2/V2Peer.h"
#include "ikev2/v2Exchange.h"

namespace quillon {

bool ReadIKEv2Exchanges(LogFile& root, LogLineReader& reader) {
  root.SetName("IKEv2 debugging info");
  root.SetWrongFormat(false);

  // Peers are told apart by the address text as the log writes it; captions are unique, so an
  // index by caption finds the peer of each exchange without walking all peers.
  std::unordered_map<std::string, V2Peer*> peersByCaption;
  for (std::size_t i = 0; i < root.ChildCount(); ++i) {
    if (auto* peer = dynamic_cast<V2Peer*>(root.Child(i))) peersByCaption.emplace(peer->Name(), peer);
  }

  LineCursor cursor(reader);
  bool hadLines = false;
  bool sawExchange = false;
  bool needsRegroup = false;
  while (!cursor.AtEnd()) {
    hadLines = true;
    root.SetIKEv2(true);
    auto exchange = std::make_unique<v2Exchange>(cursor);
    if (exchange->StartFound()) sawExchange = true;
    if (!exchange->IsParsed()) continue;

    const auto known = peersByCaption.find(exchange->PeerText());
    if (known != peersByCaption.end()) {
      V2Peer& owner = *known->second;
      owner.AddExchange(std::move(exchange));
      if (owner.HasIdAddress()) needsRegroup = true;
    } else {
      std::string caption = exchange->PeerText();
      auto peer = std::make_unique<V2Peer>(caption, std::move(exchange));
      if (peer->IsIndexedPeer() || peer->HasIdAddress()) needsRegroup = true;
      peersByCaption.emplace(std::move(caption), peer.get());
      root.AddChild(std::move(peer));
    }
  }
  if (hadLines && !sawExchange) root.SetWrongFormat(true);
  return needsRegroup;
}

void ReadIKEv2Log(LogFile& root, LogLineReader& reader) {
  // Merge the exchanges a peer made under its index with those under its address.
  if (ReadIKEv2Exchanges(root, reader)) root.Regroup();
}

}  // namespace quillon
