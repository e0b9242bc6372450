#include "model/TreeRules.h"

#include <string>

#include "model/VisibleWalk.h"

namespace quillon {

namespace {

bool Contains(std::string_view text, std::string_view part) { return text.find(part) != std::string_view::npos; }

void AppendVisible(const QLFolder& node, std::vector<QLFolder*>& out) {
  for (const auto& child : node.Children()) {
    if (child->IsAttributeValue()) continue;
    if (IsShownAsLevel(*child)) out.push_back(child.get());
    else AppendVisible(*child, out);
  }
}

}  // namespace

bool HoldsFailedNegotiation(const QLFolder& peer) {
  // "Failed" on a shown child of the peer, or on a shown child of one of its tunnel rows (a
  // tunnel is shown with its two addresses joined by " <=> "; no other caption holds that).
  return !ForEachVisibleChild(peer, [](const QLFolder& child) {
    const std::string label = child.Caption();
    if (Contains(label, "Failed")) return false;
    if (!Contains(label, " <=> ")) return true;
    return ForEachVisibleChild(child, [](const QLFolder& exchange) { return !Contains(exchange.Caption(), "Failed"); });
  });
}

int StateIconIndex(const QLFolder& node) {
  if (node.Parent() != nullptr && node.Parent()->IsLogRoot())
    return HoldsFailedNegotiation(node) ? kIconPeerInTrouble : kIconNone;
  const std::string_view name = node.Name();
  const int c = node.IsComplete() ? 1 : 0;
  int icon = kIconNone;
  if (name == "Main Mode" || name == "Aggressive") icon = kIconPhaseOneFailed + c;
  else if (name == "QuickMode") icon = kIconQuickModeFailed + c;
  else if (Contains(name, "[IPsec] Create Child SA") ||
           (Contains(name, "Create Child SA") && !Contains(name, "[IPsec]") && !Contains(name, "[IKE]")))
    icon = kIconChildSaFailed + c;
  else if (Contains(name, "Delete") && Contains(node.Caption(), "==")) icon = kIconDelete;
  else if (Contains(name, "[IKE] Create Child SA")) icon = c ? kIconIkeChildSaDone : kIconChildSaFailed;
  else if (Contains(name, "ConfigMode")) icon = c ? kIconConfigDone : kIconConfigFailed;
  else if (Contains(name, "Info")) icon = kIconInfo;
  else if (Contains(name, "DPD")) icon = kIconDpd;
  if (name.starts_with("Initial")) icon = kIconInitialFailed + c;
  if (name.starts_with("Authentication")) icon = kIconAuthFailed + c;
  return icon;
}

bool IsShownAsLevel(const QLFolder& node) {
  return !node.IsAttributeValue() && !(node.IsTunnel() && !node.HasTunnelAddresses());
}

std::vector<QLFolder*> VisibleChildren(const QLFolder& node) {
  std::vector<QLFolder*> out;
  AppendVisible(node, out);
  return out;
}

}  // namespace quillon
