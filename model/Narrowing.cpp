#include "model/Narrowing.h"

#include <string_view>

#include "model/IPv4.h"
#include "model/NodeRoles.h"
#include "model/TreeRules.h"
#include "model/VisibleWalk.h"

namespace quillon {

namespace {

bool Contains(std::string_view text, std::string_view part) { return text.find(part) != std::string_view::npos; }

// The tunnel "ip <=> other" or "other <=> ip": one of its two addresses, written as the tree
// writes it, is the text.
bool TunnelEndsAt(const LogNode& node, const std::string& ip) {
  const auto* tunnel = NodeAs<TunnelNode>(node);
  return tunnel != nullptr && (FormatIPv4(tunnel->TunnelLocalIP()) == ip || FormatIPv4(tunnel->TunnelPeerIP()) == ip);
}

// The address on the peer's own caption: the whole caption, the address and a blank (a caption
// that goes on after it), or the address in parentheses (the second address of a merged peer).
bool CaptionNamesAddress(const std::string& label, const std::string& ip) {
  return label == ip || Contains(label, ip + " ") || Contains(label, "(" + ip + ")");
}

bool AnyChildMatchesUserDetail(const LogNode& peer, const std::string& text) {
  // The peer's own children: a tunnel answers for its negotiations, shown or not.
  for (const auto& child : peer.Children())
    if (const auto* tunnel = NodeAs<TunnelNode>(child.get()); tunnel != nullptr && tunnel->MatchesUserDetail(text))
      return true;
  return false;
}

bool AnyChildMatchesUserName(const LogNode& peer, const std::string& text) {
  for (const auto& child : peer.Children())
    if (const auto* tunnel = NodeAs<TunnelNode>(child.get()); tunnel != nullptr && tunnel->MatchesUserName(text))
      return true;
  return false;
}

// Takes out what the narrowing marked deleted below `peer` (its tunnels, and the negotiations
// in the tunnels that stay: the two levels the marks are set on) into `removed`, or destroys it
// without a list; then the peer purges what is left empty.
void PurgeMarked(LogNode& peer, RemovedNodes* removed) {
  if (removed != nullptr) {
    peer.TakeDeletedChildren(*removed);
    for (const auto& child : peer.Children()) child->TakeDeletedChildren(*removed);
  }
  peer.PurgeDeleted();
}

// When only a tunnel names the address, the peer keeps just the tunnels that end at it.
bool KeepTunnelsEndingAt(LogNode& peer, const std::string& ip, RemovedNodes* removed) {
  bool any = false;
  ForEachVisibleChild(peer, [&](const LogNode& child) {
    any = any || (child.IsTunnel() && TunnelEndsAt(child, ip));
    return !any;
  });
  if (!any) return false;
  ForEachVisibleChild(peer, [&](LogNode& child) {
    if (!(child.IsTunnel() && TunnelEndsAt(child, ip))) child.SetDeleted();
    return true;
  });
  PurgeMarked(peer, removed);
  return true;
}

bool PassesAddress(LogNode& peer, const std::string& ip, RemovedNodes* removed) {
  return CaptionNamesAddress(peer.Caption(), ip) || AnyChildMatchesUserDetail(peer, ip) ||
         KeepTunnelsEndingAt(peer, ip, removed);
}

bool HasVisibleChild(const LogNode& node) {
  return !ForEachVisibleChild(node, [](const LogNode&) { return false; });
}

// The walk both narrowings share: each peer that `keepPeer` refuses or that shows nothing is
// removed; otherwise each negotiation (in a tunnel, or in place of an address-less one) that
// `keepExchange` refuses is marked deleted, so is each tunnel left with none, and the peer is
// purged, or removed when it kept no negotiation. Nothing removed is destroyed here: it goes
// to `removed` or, without that list, is kept aside by the log.
template <class KeepPeerTest, class KeepExchangeTest>
void Narrow(LogFile& root, KeepPeerTest keepPeer, KeepExchangeTest keepExchange, RemovedNodes* removed) {
  RemovedNodes taken;
  for (std::size_t i = 0; i < root.ChildCount(); ++i) {
    LogNode& peer = *root.Child(i);
    bool kept = keepPeer(peer, taken) && HasVisibleChild(peer);
    if (kept) {
      bool anyExchange = false;
      ForEachVisibleChild(peer, [&](LogNode& child) {
        if (!child.IsTunnel()) {
          if (keepExchange(child)) anyExchange = true;
          else child.SetDeleted();
          return true;
        }
        bool anyInTunnel = false;
        ForEachVisibleChild(child, [&](LogNode& exchange) {
          if (keepExchange(exchange)) anyInTunnel = true;
          else exchange.SetDeleted();
          return true;
        });
        if (anyInTunnel) anyExchange = true;
        else child.SetDeleted();
        return true;
      });
      kept = anyExchange;
      if (kept) PurgeMarked(peer, &taken);
    }
    // Marked and taken out together below: exactly this peer goes, not a namesake (the log
    // root's RemovePeer would take the first peer with the same address and name), and a log
    // of many peers is not shifted once per removed peer.
    if (!kept) peer.SetDeleted();
  }
  root.TakeDeletedChildren(taken);
  if (removed == nullptr) {
    root.KeepRemoved(std::move(taken));
    return;
  }
  removed->reserve(removed->size() + taken.size());
  for (auto& node : taken) removed->push_back(std::move(node));
}

}  // namespace

bool KeepPeer(const FilterCriteria& criteria, LogNode& peer, RemovedNodes* removed) {
  if (criteria.ipOn && !PassesAddress(peer, criteria.ipText, removed)) return false;
  if (criteria.failedPeersOn && !HoldsFailedNegotiation(peer)) return false;
  if (criteria.userNameOn && !AnyChildMatchesUserName(peer, criteria.userNameText)) return false;
  return true;
}

bool KeepExchange(const FilterCriteria& criteria, const LogNode& node) {
  const auto* exchange = NodeAs<NegotiationNode>(node);
  if (criteria.cookieOn && !(exchange != nullptr && exchange->MatchesCookie(criteria.cookieText))) return false;
  if (criteria.spiOn && !(exchange != nullptr && exchange->MatchesSpi(criteria.spiText))) return false;
  if (criteria.filterOutDpdOn && node.HasState(kStateDpd)) return false;
  return true;
}

bool KeepForVerify(const VerifyCriteria& criteria, const LogNode& exchange) {
  const std::uint16_t state = exchange.State();
  return (criteria.failedNegotiations && (state & kStateFailed) != 0) ||
         (criteria.errorInformational && (state & kStateErrorInformational) != 0) ||
         (criteria.successiveIdentical && (state & kStateSuccessiveIdentical) != 0) ||
         (criteria.immediateDelete && (state & kStateImmediateDelete) != 0) ||
         (criteria.repeatedDelete && (state & kStateDeleteRepeated) != 0);
}

bool ShownAfterNarrowing(const FilterCriteria& filter, const VerifyCriteria* verify, const LogNode& peer,
                         const LogNode* tunnel, const LogNode& exchange) {
  if (filter.ipOn && !CaptionNamesAddress(peer.Caption(), filter.ipText) && !AnyChildMatchesUserDetail(peer, filter.ipText) &&
      !(tunnel != nullptr && TunnelEndsAt(*tunnel, filter.ipText)))
    return false;
  if (filter.failedPeersOn && !HoldsFailedNegotiation(peer)) return false;
  if (filter.userNameOn && !AnyChildMatchesUserName(peer, filter.userNameText)) return false;
  if (!KeepExchange(filter, exchange)) return false;
  return verify == nullptr || KeepForVerify(*verify, exchange);
}

void ApplyFilter(LogFile& root, const FilterCriteria& criteria, RemovedNodes* removed) {
  Narrow(
      root, [&](LogNode& peer, RemovedNodes& taken) { return KeepPeer(criteria, peer, &taken); },
      [&](const LogNode& exchange) { return KeepExchange(criteria, exchange); }, removed);
}

void ApplyVerify(LogFile& root, const VerifyCriteria& criteria, RemovedNodes* removed) {
  Narrow(
      root, [](LogNode&, RemovedNodes&) { return true; },
      [&](const LogNode& exchange) { return KeepForVerify(criteria, exchange); }, removed);
}

bool FilterNeedsReload(const FilterCriteria& before, const FilterCriteria& after, bool filterApplied,
                       bool verifyApplied) {
  if (before.failedPeersOn && (filterApplied || verifyApplied)) return true;
  if (!filterApplied) return false;
  const auto widened = [](bool wasOn, const std::string& wasText, bool isOn, const std::string& isText) {
    return (wasOn && !isOn) || (wasOn && isOn && wasText != isText);
  };
  if (widened(before.ipOn, before.ipText, after.ipOn, after.ipText) ||
      widened(before.cookieOn, before.cookieText, after.cookieOn, after.cookieText) ||
      widened(before.spiOn, before.spiText, after.spiOn, after.spiText) ||
      widened(before.userNameOn, before.userNameText, after.userNameOn, after.userNameText))
    return true;
  return before.filterOutDpdOn && !after.filterOutDpdOn;
}

bool VerifyNeedsReload(const VerifyCriteria& before, const VerifyCriteria& after, bool verifyApplied) {
  if (!verifyApplied) return false;
  return (!before.failedNegotiations && after.failedNegotiations) ||
         (!before.errorInformational && after.errorInformational) ||
         (!before.successiveIdentical && after.successiveIdentical) ||
         (!before.immediateDelete && after.immediateDelete) || (!before.repeatedDelete && after.repeatedDelete);
}

NarrowingSteps Narrowing::ChooseFilter(const FilterCriteria& criteria) {
  const bool reload = FilterNeedsReload(filter_, criteria, filterApplied_, verifyApplied_);
  filter_ = criteria;
  NarrowingSteps steps;
  if (!filter_.AnyOn()) {
    // No box checked: an applied filter is undone by reading the log again.
    if (filterApplied_) {
      steps.reload = true;
      steps.applyVerify = verifyApplied_;
    }
    return steps;
  }
  steps.applyFilter = true;
  if (reload) {
    steps.reload = true;
    steps.applyVerify = verifyApplied_;
  }
  return steps;
}

NarrowingSteps Narrowing::ChooseVerify(const VerifyCriteria& criteria) {
  const bool reload = VerifyNeedsReload(verify_, criteria, verifyApplied_);
  verify_ = criteria;
  NarrowingSteps steps;
  if (verify_.AnyOn()) {
    steps.applyVerify = true;
    if (reload) {
      steps.reload = true;
      steps.applyFilter = filterApplied_;
    }
  } else if (verifyApplied_) {
    steps.reload = true;
    steps.applyFilter = filterApplied_;
  }
  return steps;
}

void Narrowing::ApplyFilterTo(LogFile& root, RemovedNodes* removed) {
  ApplyFilter(root, filter_, removed);
  filterApplied_ = true;
}

void Narrowing::ApplyVerifyTo(LogFile& root, RemovedNodes* removed) {
  ApplyVerify(root, verify_, removed);
  verifyApplied_ = true;
}

}  // namespace quillon
