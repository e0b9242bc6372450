#include "model/TreeRules.h"


#include "model/NodeRoles.h"
#include "model/VisibleWalk.h"

namespace quillon {

namespace {

void AppendVisible(const LogNode& node, std::vector<LogNode*>& out) {
  for (const auto& child : node.Children()) {
    if (child->IsAttributeValue()) continue;
    if (IsShownAsLevel(*child)) out.push_back(child.get());
    else AppendVisible(*child, out);
  }
}

}  // namespace

bool HoldsFailedNegotiation(const LogNode& peer) {
  // A failed negotiation shown below the peer, or below one of its shown tunnels.
  return !ForEachVisibleChild(peer, [](const LogNode& child) {
    if (child.HasState(kStateFailed)) return false;
    if (!child.IsTunnel()) return true;
    return ForEachVisibleChild(child, [](const LogNode& exchange) { return !exchange.HasState(kStateFailed); });
  });
}

int StateIconIndex(const LogNode& node) {
  // The log root's children are its peers (an IKEv2 peer keeps no link to the root and has
  // no icon).
  if (node.Parent() != nullptr && node.Parent()->IsLogRoot())
    return HoldsFailedNegotiation(node) ? kIconPeerInTrouble : kIconNone;
  const std::uint16_t state = node.State();
  const int c = (state & kStateComplete) != 0 ? 1 : 0;
  switch (node.Kind()) {
    case NodeKind::kMainMode:
    case NodeKind::kAggressiveMode: return kIconPhaseOneFailed + c;
    case NodeKind::kQuickMode: return kIconQuickModeFailed + c;
    case NodeKind::kChildSa: return kIconChildSaFailed + c;
    case NodeKind::kIkeRekey: return c ? kIconIkeChildSaDone : kIconChildSaFailed;
    case NodeKind::kConfigMode: return c ? kIconConfigDone : kIconConfigFailed;
    case NodeKind::kInitial: return kIconInitialFailed + c;
    case NodeKind::kAuthentication: return kIconAuthFailed + c;
    case NodeKind::kInformational:
      // A delete is drawn as such only where its row shows a direction.
      if ((state & kStateDelete) != 0) return (state & kStateDirected) != 0 ? kIconDelete : kIconNone;
      if ((state & kStateErrorInformational) != 0) return kIconInfo;
      if ((state & kStateDpd) != 0) return kIconDpd;
      return kIconNone;
    default: return kIconNone;
  }
}

bool IsShownAsLevel(const LogNode& node) {
  if (const auto* tunnel = NodeAs<TunnelNode>(node)) return tunnel->HasTunnelAddresses();
  return !node.IsAttributeValue();
}

std::vector<LogNode*> VisibleChildren(const LogNode& node) {
  std::vector<LogNode*> out;
  AppendVisible(node, out);
  return out;
}

}  // namespace quillon
