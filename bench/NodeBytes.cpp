#include "NodeBytes.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <map>
#include <string>
#include <typeindex>
#include <unordered_set>
#include <typeinfo>
#include <vector>

#include "ikev1/log/Header.h"
#include "ikev1/log/Message.h"
#include "ikev1/negotiation/Exchange.h"
#include "ikev1/negotiation/Peer.h"
#include "ikev1/negotiation/Tunnel.h"
#include "ikev1/payloads/AttributePayload.h"
#include "ikev1/payloads/CHREPayload.h"
#include "ikev1/payloads/CertPayloads.h"
#include "ikev1/payloads/DeletePayload.h"
#include "ikev1/payloads/IDPayload.h"
#include "ikev1/payloads/IsakmpValue.h"
#include "ikev1/payloads/KeyMaterialPayloads.h"
#include "ikev1/payloads/NatOAPayload.h"
#include "ikev1/payloads/NotifyPayload.h"
#include "ikev1/payloads/SAPayload.h"
#include "ikev1/payloads/VendorIDPayload.h"
#include "ikev2/V2Exchange.h"
#include "ikev2/V2Payloads.h"
#include "ikev2/V2Peer.h"

namespace quillon::bench {

namespace {

template <class... Classes>
std::map<std::type_index, std::size_t> Sizes() {
  return {{std::type_index(typeid(Classes)), sizeof(Classes)}...};
}

struct Placed {
  std::uintptr_t at;
  std::type_index type;
};

void Collect(const LogNode& node, std::vector<Placed>& out) {
  if (node.InArena()) out.push_back({reinterpret_cast<std::uintptr_t>(&node), std::type_index(typeid(node))});
  for (const auto& child : node.Children()) Collect(*child, out);
}

// The attribute map of an IKEv2 node, if it has one.
const AttributeMap* AttributesOf(const LogNode& node) {
  if (const auto* n = dynamic_cast<const v2Payload*>(&node)) return &n->Attributes();
  if (const auto* n = dynamic_cast<const v2Message*>(&node)) return &n->Attributes();
  if (const auto* n = dynamic_cast<const v2Exchange*>(&node)) return &n->Attributes();
  if (const auto* n = dynamic_cast<const v2Proposal*>(&node)) return &n->Attributes();
  if (const auto* n = dynamic_cast<const v2CA*>(&node)) return &n->Attributes();
  if (const auto* n = dynamic_cast<const v2TrafficSelector*>(&node)) return &n->Attributes();
  return nullptr;
}

std::string ShortName(const char* mangled) {
  // Enough to tell the classes apart: the mangled name without the namespace prefix.
  std::string name = mangled;
  const auto at = name.find("quillon");
  if (at != std::string::npos) name = name.substr(at + 7);
  while (!name.empty() && (std::isdigit(static_cast<unsigned char>(name.front())) != 0)) name.erase(0, 1);
  if (!name.empty() && name.back() == 'E') name.pop_back();
  return name;
}

}  // namespace

void PrintNodeBytes(const LogFile& root, std::FILE* out) {
  const auto sizes =
      Sizes<Header, Message, Main12Mess, Main34Mess, Main56Mess, Aggr1Mess, Aggr2Mess, Aggr3Mess,
            PhaTwo12Mess, PhaTwo3Mess, ConfigMess, Exchange, MainMode, Aggresive, PhaseTwo, ConfigMode, Notify,
            Restarted, Peer, Tunnel, AttributePayload, CHREPayload, CertPayload, CertReqPayload, DeletePayload,
            IDPayload, IsakmpValue, KeyPayload, NoncePayload, HashPayload, SigPayload, NatDPayload, NatOAPayload,
            NotifyPayload, SAPayload, PropPayload, TransPayload, VendorIDPayload, v2Message, v2Exchange, v2Payload,
            v2SAPayload, v2NotifyPayload, v2CertReqPayload, v2CertPayload, v2TSPayload, v2ConfPayload,
            v2EAPPayload, v2DeletePayload, v2IDPayload, v2Proposal, v2CA, v2TrafficSelector, V2Peer, V2Tunnel>();
  std::vector<Placed> nodes;
  for (const auto& child : root.Children()) Collect(*child, nodes);
  std::sort(nodes.begin(), nodes.end(), [](const Placed& a, const Placed& b) { return a.at < b.at; });

  struct Sum {
    std::size_t count = 0, own = 0, attached = 0, childLists = 0, names = 0, entries = 0, attributeText = 0;
    std::map<std::string, std::size_t, std::less<>> distinct;
  };
  std::map<std::type_index, Sum> sums;
  std::unordered_set<const char*> nameBlocks;
  // A gap larger than this is another chunk or lane, not what the node placed.
  constexpr std::uintptr_t kChunkGap = std::uintptr_t{1} << 16;
  for (std::size_t i = 0; i < nodes.size(); ++i) {
    const auto found = sizes.find(nodes[i].type);
    const std::size_t own = found != sizes.end() ? found->second : 0;
    Sum& sum = sums[nodes[i].type];
    ++sum.count;
    sum.own += own;
    if (i + 1 < nodes.size()) {
      const std::uintptr_t gap = nodes[i + 1].at - nodes[i].at;
      if (gap < kChunkGap && gap >= own) sum.attached += gap - own;
    }
    const auto* node = reinterpret_cast<const LogNode*>(nodes[i].at);
    sum.childLists += node->Children().capacity() * sizeof(void*);
    // A name takes a block of at least sixteen bytes in steps of eight (see NodeText); a name
    // shared within its lane is counted once.
    const std::size_t name = node->Name().size();
    if (name != 0 && nameBlocks.insert(node->Name().data()).second)
      sum.names += std::max<std::size_t>(16, (name + 7) / 8 * 8);
    if (sum.distinct.size() < 1000) ++sum.distinct[std::string(node->Name())];
    if (const AttributeMap* map = AttributesOf(*node)) {
      sum.entries += map->size();
      for (const auto& [key, value] : *map) sum.attributeText += key.size() + value.size();
    }
  }
  std::vector<std::pair<std::type_index, Sum>> rows(sums.begin(), sums.end());
  std::sort(rows.begin(), rows.end(), [](const auto& a, const auto& b) {
    return a.second.own + a.second.attached > b.second.own + b.second.attached;
  });
  Sum total;
  std::fprintf(out, "%-22s %9s %6s %9s %9s %9s %9s %7s %7s %6s\n", "class", "nodes", "size", "own MB", "attach MB",
               "lists MB", "names MB", "B/node", "att/n", "names");
  std::fprintf(out, "%-22s %9s %6s (IKEv2 attribute maps: entries and text MB after the name count)\n", "", "", "");
  for (const auto& [type, sum] : rows) {
    std::fprintf(out, "%-22s %9zu %6zu %9.1f %9.1f %9.1f %9.1f %7.0f %7.0f %6zu %9zu %6.1f\n", ShortName(type.name()).c_str(),
                 sum.count, sum.count != 0 ? sum.own / sum.count : 0, sum.own / 1048576.0, sum.attached / 1048576.0,
                 sum.childLists / 1048576.0, sum.names / 1048576.0, double(sum.own + sum.attached) / double(sum.count),
                 double(sum.attached) / double(sum.count), sum.distinct.size(), sum.entries,
                 sum.attributeText / 1048576.0);
    total.count += sum.count;
    total.own += sum.own;
    total.attached += sum.attached;
    total.childLists += sum.childLists;
    total.names += sum.names;
    total.entries += sum.entries;
    total.attributeText += sum.attributeText;
  }
  std::fprintf(out, "%-22s %9zu %6s %9.1f %9.1f %9.1f %9.1f %22s %9zu %6.1f\n", "total", total.count, "",
               total.own / 1048576.0, total.attached / 1048576.0, total.childLists / 1048576.0, total.names / 1048576.0,
               "", total.entries, total.attributeText / 1048576.0);
}

}  // namespace quillon::bench
