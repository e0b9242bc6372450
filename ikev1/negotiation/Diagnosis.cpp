#include "ikev1/negotiation/Diagnosis.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <unordered_map>

#include "ikev1/log/Header.h"
#include "ikev1/negotiation/Exchange.h"
#include "ikev1/payloads/Dictionaries.h"
#include "ikev1/payloads/NotifyPayload.h"
#include "ikev1/payloads/SAPayload.h"
#include "model/LogNode.h"
#include "model/Summaries.h"

namespace quillon {

namespace {

constexpr std::string_view kHeading = kSummaryHeading;
constexpr std::string_view kImmediateDelete = "\r\nImmediate Delete after successful negotiation";
constexpr std::string_view kSuccessiveIdentical = "\r\nSuccessive identical negotiations";
constexpr std::string_view kRepeatedDelete = "\r\nRepeated Delete for same negotiation";

enum class NotifyError { kNone, kNoProposalChosen, kInvalidKeyInformation, kInvalidIdInformation };

// The error notification of interest an informational exchange announces; when it named more
// than one, the first of this order wins.
NotifyError ErrorOf(const Notify& notify) {
  const std::uint8_t errors = notify.NamedErrors();
  if ((errors & Notify::kNoProposalChosenBit) != 0) return NotifyError::kNoProposalChosen;
  if ((errors & Notify::kInvalidKeyInformationBit) != 0) return NotifyError::kInvalidKeyInformation;
  if ((errors & Notify::kInvalidIdInformationBit) != 0) return NotifyError::kInvalidIdInformation;
  return NotifyError::kNone;
}

// The negotiations of an IKEv1 tunnel are all exchanges (a restart marker is one too).
Exchange* AsExchange(LogNode& node) {
  const NodeKind kind = node.Kind();
  return kind >= NodeKind::kMainMode && kind <= NodeKind::kRestart ? static_cast<Exchange*>(&node) : nullptr;
}
const Exchange* AsExchange(const LogNode& node) { return AsExchange(const_cast<LogNode&>(node)); }

bool IsDeleteIpsec(const Exchange& exchange) {
  return exchange.IsNotify() && static_cast<const Notify&>(exchange).What() == Notify::Carries::kDeleteIpsec;
}

// A quick mode completed at `at`: the IPsec SA it made, deleted by the next negotiations of the
// tunnel within two minutes. The walk stops at the first negotiation outside the window (or
// one without a date and time, such as a main mode).
void MarkImmediateDelete(LogNode& tunnel, std::size_t at) {
  Exchange& quickMode = *AsExchange(*tunnel.Child(at));
  for (std::size_t i = at + 1; i < tunnel.ChildCount(); ++i) {
    LogNode& later = *tunnel.Child(i);
    if (!quickMode.IsCloseInTime(later)) return;
    Exchange* exchange = AsExchange(later);
    if (exchange != nullptr && IsDeleteIpsec(*exchange) && quickMode.MatchesSpi(later.SpiText())) {
      quickMode.Mark(kStateImmediateDelete);
      exchange->Mark(kStateImmediateDelete);
      return;
    }
  }
}

// A quick mode completed at `at`, and the complete quick modes for the same identities that
// follow it within two minutes: a rekey that should not have been needed.
void MarkSuccessiveIdentical(LogNode& tunnel, std::size_t at) {
  Exchange& quickMode = *AsExchange(*tunnel.Child(at));
  for (std::size_t i = at + 1; i < tunnel.ChildCount(); ++i) {
    LogNode& later = *tunnel.Child(i);
    if (!quickMode.IsCloseInTime(later)) return;
    if (later.Is(NodeKind::kQuickMode) && later.IsComplete() && quickMode.SameIdentities(static_cast<Exchange&>(later))) {
      quickMode.Mark(kStateSuccessiveIdentical);
      static_cast<Exchange&>(later).Mark(kStateSuccessiveIdentical);
    }
  }
}

// ---- who rejected a negotiation ------------------------------------------------------------

// An error notification answers a negotiation within two minutes of its first packet.
constexpr std::int64_t kRejectionWindow = 120;

std::optional<std::int64_t> PacketSeconds(const LogNode& node) {
  const std::string date = node.DateText(), time = node.TimeText();
  if (date.empty() || time.empty()) return std::nullopt;
  CalendarTime at;
  LogNode::ParseTime(time, at);
  LogNode::ParseDate(date, at);
  return at.Seconds();
}

// A main, aggressive or quick mode that did not complete: the ones a rejection is looked for.
bool MayBeRejected(const LogNode& node) {
  const NodeKind kind = node.Kind();
  return (kind == NodeKind::kMainMode || kind == NodeKind::kAggressiveMode || kind == NodeKind::kQuickMode) &&
         !node.IsComplete();
}

// An informational exchange of the peer that carries an error notification.
struct Rejection {
  std::uint32_t cookie = 0;
  std::int64_t at = 0;
  std::uint32_t type = 0;
  FailureReason::By by = FailureReason::By::kNobody;
};

// The transform ID name of a transform, as its row names it.
std::string TransformName(const TransPayload& transform) {
  return std::string(TransformIdName(static_cast<std::uint32_t>(transform.ProtId()), transform.TransId()));
}

std::string TrimmedReason(std::string_view reason) {
  const std::size_t start = reason.find_first_not_of(" \t");
  if (start == std::string_view::npos) return {};
  const std::size_t end = reason.find_last_not_of(" \t");
  return std::string(reason.substr(start, end - start + 1));
}

void AppendLine(std::string& text, std::string_view label, std::uint32_t count) {
  if (count == 0) return;
  text += label;
  text += std::to_string(count);
  text += "\r\n";
}

void AppendTotal(std::string& text, std::uint32_t notifications, const std::string& spi) {
  text += "\tTotal ";
  text += std::to_string(notifications);
  text += " Delete notifications for SPI ";
  text += spi;
  text += "\r\n";
}

}  // namespace

NegotiationStatistics& NegotiationStatistics::operator+=(const NegotiationStatistics& other) {
  failed += other.failed;
  noProposalChosen += other.noProposalChosen;
  invalidKeyInformation += other.invalidKeyInformation;
  invalidIdInformation += other.invalidIdInformation;
  repeatedDeleteSas += other.repeatedDeleteSas;
  repeatedDeleteNotifications += other.repeatedDeleteNotifications;
  repeatedDeleteSpi += other.repeatedDeleteSpi;
  immediateDeletes += other.immediateDeletes;
  successiveIdentical += other.successiveIdentical;
  repeatedDeletes.insert(repeatedDeletes.end(), other.repeatedDeletes.begin(), other.repeatedDeletes.end());
  return *this;
}

void AnalyzeNegotiations(LogNode& tunnel) {
  for (const auto& child : tunnel.Children())
    if (Exchange* exchange = AsExchange(*child)) exchange->ClearDiagnosis();
  // The earliest delete of each IPsec SPI heads the group of deletes of that SA. Equal SPIs
  // are found through the table rather than by comparing every delete with every later one:
  // a tunnel of a long log holds thousands.
  std::unordered_map<std::string, Exchange*> firstDelete;
  for (std::size_t i = 0; i < tunnel.ChildCount(); ++i) {
    Exchange* exchange = AsExchange(*tunnel.Child(i));
    if (exchange == nullptr) continue;
    if (IsDeleteIpsec(*exchange)) {
      // A delete whose SPI could not be read names no SA: it repeats nothing.
      std::string spi = exchange->SpiText();
      if (spi.empty()) continue;
      const auto [first, isFirst] = firstDelete.try_emplace(std::move(spi), exchange);
      if (!isFirst) {
        first->second->Mark(kStateDeleteRepeated | kStateFirstRepeatedDelete);
        exchange->Mark(kStateDeleteRepeated);
      }
      continue;
    }
    if (exchange->Is(NodeKind::kQuickMode) && exchange->IsComplete()) {
      MarkImmediateDelete(tunnel, i);
      // An SA deleted at once, or a negotiation already found to repeat an earlier one, is
      // reported as that; it starts no search of its own.
      if (!exchange->IsMarked(kStateImmediateDelete | kStateSuccessiveIdentical)) MarkSuccessiveIdentical(tunnel, i);
    }
  }
}

void DecideRejections(LogNode& peer) {
  // Why a negotiation that did not complete failed. A peer that turns a proposal, a key or an
  // identity down says so in an informational exchange protected by the same ISAKMP SA (same
  // initiator cookie), and so does the local host when it refuses the peer's; the daemon logs
  // it next to the negotiation, possibly under another tunnel of the peer. The earliest error
  // notification of the peer with the negotiation's cookie, from the negotiation's first
  // packet to two minutes after it, names the cause (the first in tree order among equally
  // early ones); without one the peer simply did not answer. Decided here, once the peer's
  // packets are all placed, and kept: narrowing the tree later may take the notification
  // away, but not the reason.
  bool anyFailed = false;
  for (const auto& tunnel : peer.Children())
    for (const auto& child : tunnel->Children())
      if (MayBeRejected(*child)) {
        static_cast<Exchange&>(*child).SetRejection(FailureReason::By::kNobody, 0);
        anyFailed = true;
      }
  if (!anyFailed) return;

  std::vector<Rejection> rejections;  // in tree order
  for (const auto& tunnel : peer.Children()) {
    for (const auto& child : tunnel->Children()) {
      if (!child->Is(NodeKind::kInformational)) continue;
      const auto& notify = static_cast<const Notify&>(*child);
      if (notify.ErrorType() == 0) continue;
      const std::optional<std::int64_t> at = PacketSeconds(notify);
      if (!at) continue;
      const Header* header = notify.GetHeader();
      const bool byPeer = header == nullptr || !header->IsCreated();
      rejections.push_back({notify.CookieValue(), *at, notify.ErrorType(),
                            byPeer ? FailureReason::By::kPeer : FailureReason::By::kLocalHost});
    }
  }
  if (rejections.empty()) return;

  for (const auto& tunnel : peer.Children()) {
    for (const auto& child : tunnel->Children()) {
      if (!MayBeRejected(*child)) continue;
      auto& exchange = static_cast<Exchange&>(*child);
      const Header* firstHeader =
          exchange.ChildCount() != 0 ? static_cast<const Header*>(exchange.Child(0)->PacketHeader()) : nullptr;
      const std::optional<std::int64_t> start = firstHeader != nullptr ? PacketSeconds(*firstHeader) : std::nullopt;
      if (!start) continue;
      const std::uint32_t cookie = exchange.CookieValue();
      const Rejection* found = nullptr;
      for (const Rejection& rejection : rejections) {
        if (rejection.cookie != cookie || rejection.at < *start || rejection.at > *start + kRejectionWindow) continue;
        if (found == nullptr || rejection.at < found->at) found = &rejection;
      }
      if (found != nullptr) exchange.SetRejection(found->by, found->type);
    }
  }
}

bool Exchange::FailureOfMessages(FailureReason& out) const {
  if (Completed()) return false;
  out = FailureReason{};
  out.by = rejectedBy_;
  if (rejectedBy_ != FailureReason::By::kNobody) out.notify = quillon::NotifyTypeName(rejectionType_);
  // The transforms the daemon logged as not chosen, in the SA payloads of the messages in
  // order: what the two sides' proposals did not agree on.
  for (const auto& message : Children()) {
    for (const auto& payload : message->Children()) {
      // The block code names the payload's class (PayloadFactory's table): kSaBlock reads an
      // SAPayload.
      const IsakmpPayload* isakmp = AsIsakmpPayload(*payload);
      if (isakmp == nullptr || isakmp->PayloadCode() != kSaBlock) continue;
      const auto* sa = static_cast<const SAPayload*>(isakmp);
      for (std::size_t p = 0; p < sa->ProposalCount(); ++p) {
        const PropPayload* proposal = sa->Proposal(p);
        if (proposal == nullptr) continue;
        for (std::size_t t = 0; t < proposal->TransformCount(); ++t) {
          const TransPayload* transform = proposal->Transform(t);
          if (transform == nullptr || !transform->IsNotChosen()) continue;
          out.notChosen.push_back({proposal->PropNum(), transform->TransNum(), TransformName(*transform),
                                   TrimmedReason(transform->NotChosenReason())});
        }
      }
    }
  }
  return true;
}

void CountStatistics(const LogNode& tunnel, NegotiationStatistics& record) {
  record = NegotiationStatistics{};
  // Where each repeatedly deleted SPI stands among record.repeatedDeletes, and whether the
  // group's first delete is still in the tunnel (a filter may have removed it).
  std::unordered_map<std::string, std::size_t> groupOf;
  std::vector<bool> headed;
  for (const auto& child : tunnel.Children()) {
    const LogNode& exchange = *child;
    if (!exchange.IsComplete()) ++record.failed;
    const Exchange* negotiation = AsExchange(exchange);
    if (negotiation == nullptr) continue;
    if (negotiation->IsNotify()) {
      switch (ErrorOf(static_cast<const Notify&>(*negotiation))) {
        case NotifyError::kNoProposalChosen: ++record.noProposalChosen; continue;
        case NotifyError::kInvalidKeyInformation: ++record.invalidKeyInformation; continue;
        case NotifyError::kInvalidIdInformation: ++record.invalidIdInformation; continue;
        case NotifyError::kNone: break;
      }
    }
    if (IsDeleteIpsec(*negotiation)) {
      if (negotiation->IsMarked(kStateFirstRepeatedDelete)) ++record.repeatedDeleteSas;
      if (negotiation->IsMarked(kStateDeleteRepeated)) {
        ++record.repeatedDeleteNotifications;
        record.repeatedDeleteSpi = exchange.SpiText();
        const auto [group, added] = groupOf.try_emplace(record.repeatedDeleteSpi, record.repeatedDeletes.size());
        if (added) {
          record.repeatedDeletes.push_back({record.repeatedDeleteSpi, 0});
          headed.push_back(false);
        }
        ++record.repeatedDeletes[group->second].notifications;
        if (negotiation->IsMarked(kStateFirstRepeatedDelete)) headed[group->second] = true;
      }
    } else if (negotiation->Is(NodeKind::kQuickMode)) {
      if (negotiation->IsMarked(kStateImmediateDelete)) ++record.immediateDeletes;
      if (negotiation->IsMarked(kStateSuccessiveIdentical)) ++record.successiveIdentical;
    }
  }
  // Only the SAs counted in repeatedDeleteSas get a total.
  std::size_t kept = 0;
  for (std::size_t i = 0; i < record.repeatedDeletes.size(); ++i) {
    if (!headed[i]) continue;
    if (kept != i) record.repeatedDeletes[kept] = std::move(record.repeatedDeletes[i]);
    ++kept;
  }
  record.repeatedDeletes.resize(kept);
}

std::string StatisticsText(const NegotiationStatistics& record, bool withTotals) {
  std::string text;
  text += FailedNegotiationsLine(record.failed);
  AppendLine(text, "Number of informational NO-PROPOSAL-CHOSEN\t\t", record.noProposalChosen);
  AppendLine(text, "Number of informational INVALID-KEY-INFORMATION\t\t", record.invalidKeyInformation);
  AppendLine(text, "Number of informational INVALID-ID-INFORMATION\t\t", record.invalidIdInformation);
  AppendLine(text, "Number of IPsec SAs with repeated Delete notifications\t", record.repeatedDeleteSas);
  if (record.repeatedDeleteSas != 0 && withTotals) {
    // One total per SA: the deletes of two SAs summed under the SPI of one of them would
    // send the reader after the wrong SA.
    for (const auto& group : record.repeatedDeletes) AppendTotal(text, group.notifications, group.spi);
  }
  AppendLine(text, "Number of immediate Delete after successful negotiation\t", record.immediateDeletes);
  AppendLine(text, "Number of successive identical negotiations\t\t", record.successiveIdentical);
  return text;
}

// ---- the summaries of the negotiations ----------------------------------------------------------

// The failure line and the transforms not chosen, after the heading.
static void AppendFailure(const LogNode& negotiation, std::string& text) {
  FailureReason reason;
  if (negotiation.GetFailureReason(reason)) reason.AppendLines(text);
}

std::string MainMode::SummaryText(bool /*withTotals*/) const {
  // The six packets never all came: rejected, or the peer stopped answering (or never did).
  if (IsComplete()) return {};
  std::string text(kHeading);
  AppendFailure(*this, text);
  return text;
}

std::string Aggresive::SummaryText(bool /*withTotals*/) const {
  if (IsComplete()) return {};
  std::string text(kHeading);
  AppendFailure(*this, text);
  return text;
}

std::string PhaseTwo::SummaryText(bool /*withTotals*/) const {
  const bool complete = IsComplete();
  const bool immediateDelete = IsMarked(kStateImmediateDelete), successive = IsMarked(kStateSuccessiveIdentical);
  if (complete && !immediateDelete && !successive) return {};
  std::string text(kHeading);
  if (!complete) AppendFailure(*this, text);
  if (immediateDelete) text += kImmediateDelete;
  if (successive) text += kSuccessiveIdentical;
  return text;
}

std::string Notify::SummaryText(bool /*withTotals*/) const {
  std::string text(kHeading);
  switch (ErrorOf(*this)) {
    case NotifyError::kNoProposalChosen:
      // The peer accepted none of the proposals: the two sides' encryption, hash, group or
      // lifetime settings do not agree.
      return text + "\r\nMismatch of encryption methods";
    case NotifyError::kInvalidKeyInformation:
      return text + "\r\nPossible root cause:" + "\r\n1. Invalid Key payload (wrong key length)" +
             "\r\n2. Key payload sent but PFS is not configured";
    case NotifyError::kInvalidIdInformation:
      // Quick mode identities are the protected networks: they must mirror the peer's.
      return text + "\r\nPossible root cause:" + "\r\n1. Invalid ID information in ID payload" +
             "\r\n2. Missing ID payload";
    case NotifyError::kNone: break;
  }
  if (What() == Carries::kDeleteIpsec) {
    if (IsMarked(kStateDeleteRepeated)) return text + std::string(kRepeatedDelete);
    if (IsMarked(kStateImmediateDelete)) return text + std::string(kImmediateDelete);
  }
  return {};
}

}  // namespace quillon
