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
#include "model/QLFolder.h"
#include "model/Summaries.h"

namespace quillon {

namespace {

// The exchanges are told apart by the names they gave themselves while reading their packets:
// a quick mode is "QuickMode", an informational exchange with a delete payload is "Delete"
// and the protocol of the deleted SAs, one with an error notification is "Info" and the
// notify type's name. Names survive the regrouping and the filters, which move and remove
// exchanges but never rename them.
constexpr std::string_view kQuickMode = "QuickMode";
constexpr std::string_view kDeleteIpsec = "Delete IPsec";
constexpr std::string_view kDeleteIke = "Delete IKE";

// RFC 2408 notify message types that point at a cause the diagnosis can name.
constexpr std::uint32_t kInvalidKeyInformation = 17;
constexpr std::uint32_t kInvalidIdInformation = 18;

constexpr std::string_view kHeading = kSummaryHeading;
constexpr std::string_view kImmediateDelete = "\r\nImmediate Delete after successful negotiation";
constexpr std::string_view kSuccessiveIdentical = "\r\nSuccessive identical negotiations";
constexpr std::string_view kRepeatedDelete = "\r\nRepeated Delete for same negotiation";

bool Contains(std::string_view text, std::string_view what) { return text.find(what) != std::string_view::npos; }

enum class NotifyError { kNone, kNoProposalChosen, kInvalidKeyInformation, kInvalidIdInformation };

// The error notification an exchange's name announces; the first that the name holds wins.
NotifyError ErrorNamedIn(std::string_view name) {
  static const std::string noProposalChosen = NotifyTypeName(NotifyPayload::kNoProposalChosen);
  static const std::string invalidKey = NotifyTypeName(kInvalidKeyInformation);
  static const std::string invalidId = NotifyTypeName(kInvalidIdInformation);
  if (Contains(name, noProposalChosen)) return NotifyError::kNoProposalChosen;
  if (Contains(name, invalidKey)) return NotifyError::kInvalidKeyInformation;
  if (Contains(name, invalidId)) return NotifyError::kInvalidIdInformation;
  return NotifyError::kNone;
}

// A quick mode completed at `at`: the IPsec SA it made, deleted by the next negotiations of the
// tunnel within two minutes. The walk stops at the first negotiation outside the window (or
// one without a date and time, such as a main mode).
void MarkImmediateDelete(QLFolder& tunnel, std::size_t at) {
  QLFolder& quickMode = *tunnel.Child(at);
  for (std::size_t i = at + 1; i < tunnel.ChildCount(); ++i) {
    QLFolder& later = *tunnel.Child(i);
    if (!quickMode.IsCloseInTime(later)) return;
    if (Contains(later.Name(), kDeleteIpsec) && quickMode.MatchesSpi(later.SpiText())) {
      quickMode.SetImmediateDelete();
      later.SetImmediateDelete();
      return;
    }
  }
}

// A quick mode completed at `at`, and the complete quick modes for the same identities that
// follow it within two minutes: a rekey that should not have been needed.
void MarkSuccessiveIdentical(QLFolder& tunnel, std::size_t at) {
  QLFolder& quickMode = *tunnel.Child(at);
  for (std::size_t i = at + 1; i < tunnel.ChildCount(); ++i) {
    QLFolder& later = *tunnel.Child(i);
    if (!quickMode.IsCloseInTime(later)) return;
    if (Contains(later.Name(), kQuickMode) && later.IsComplete() && quickMode.SameIdentities(later)) {
      quickMode.SetSuccessiveIdentical();
      later.SetSuccessiveIdentical();
    }
  }
}

// ---- who rejected a negotiation ------------------------------------------------------------

// An error notification answers a negotiation within two minutes of its first packet.
constexpr std::int64_t kRejectionWindow = 120;
// RFC 2408 notify message types 1 to 8191 are errors; status types start at 16384.
constexpr std::uint32_t kLastErrorType = 8191;

std::optional<std::int64_t> PacketSeconds(const QLFolder& node) {
  const std::string date = node.DateText(), time = node.TimeText();
  if (date.empty() || time.empty()) return std::nullopt;
  CalendarTime at;
  QLFolder::ParseTime(time, at);
  QLFolder::ParseDate(date, at);
  return at.Seconds();
}

// The first error notification an informational exchange carries.
const NotifyPayload* ErrorNotification(const QLFolder& notify) {
  for (const auto& child : notify.Children()) {
    const auto* payload = dynamic_cast<const NotifyPayload*>(child.get());
    if (payload == nullptr) continue;
    const std::uint32_t type = payload->NotifyTypeValue();
    if (type >= 1 && type <= kLastErrorType) return payload;
  }
  return nullptr;
}

// Why a negotiation that did not complete failed. A peer that turns a proposal, a key or an
// identity down says so in an informational exchange protected by the same ISAKMP SA (same
// initiator cookie), and so does the local host when it refuses the peer's; the daemon logs
// it next to the negotiation, possibly under another tunnel of the peer. The earliest error
// notification of the peer with the negotiation's cookie, from the negotiation's first packet
// to two minutes after it, names the cause; without one the peer simply did not answer.
std::string FailureLine(const Exchange& exchange) {
  const auto* first = exchange.ChildCount() != 0 ? dynamic_cast<const FolderElement*>(exchange.Child(0)) : nullptr;
  const Header* firstHeader = first != nullptr ? first->GetHeader() : nullptr;
  const QLFolder* tunnel = exchange.Parent();
  const QLFolder* peer = tunnel != nullptr ? tunnel->Parent() : nullptr;
  const std::optional<std::int64_t> start = firstHeader != nullptr ? PacketSeconds(*firstHeader) : std::nullopt;
  if (!start || peer == nullptr) return std::string(kNoResponseLine);

  const std::uint32_t cookie = exchange.CookieValue();
  const QLFolder* rejection = nullptr;
  const NotifyPayload* notification = nullptr;
  std::int64_t earliest = 0;
  for (const auto& eachTunnel : peer->Children()) {
    for (const auto& child : eachTunnel->Children()) {
      const QLFolder& notify = *child;
      if (!notify.IsNotify() || notify.CookieValue() != cookie) continue;
      const std::optional<std::int64_t> at = PacketSeconds(notify);
      if (!at || *at < *start || *at > *start + kRejectionWindow) continue;
      if (rejection != nullptr && *at >= earliest) continue;  // ties: the first in tree order
      const NotifyPayload* error = ErrorNotification(notify);
      if (error == nullptr) continue;
      rejection = &notify;
      notification = error;
      earliest = *at;
    }
  }
  if (rejection == nullptr) return std::string(kNoResponseLine);
  const auto* element = dynamic_cast<const FolderElement*>(rejection);
  const bool byPeer = element == nullptr || element->GetHeader() == nullptr || !element->GetHeader()->IsCreated();
  return RejectionLine(byPeer, notification->NotifyTypeName());
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

void AnalyzeNegotiations(QLFolder& tunnel) {
  // The earliest delete of each IPsec SPI heads the group of deletes of that SA. Equal SPIs
  // are found through the table rather than by comparing every delete with every later one:
  // a tunnel of a long log holds thousands.
  std::unordered_map<std::string, QLFolder*> firstDelete;
  for (std::size_t i = 0; i < tunnel.ChildCount(); ++i) {
    QLFolder& exchange = *tunnel.Child(i);
    const std::string_view name = exchange.Name();
    if (Contains(name, kDeleteIke)) continue;
    if (Contains(name, kDeleteIpsec)) {
      // A delete whose SPI could not be read names no SA: it repeats nothing.
      std::string spi = exchange.SpiText();
      if (spi.empty()) continue;
      const auto [first, isFirst] = firstDelete.try_emplace(std::move(spi), &exchange);
      if (!isFirst) {
        first->second->SetDeleteRepeated();
        first->second->SetFirstRepeatedDelete();
        exchange.SetDeleteRepeated();
      }
      continue;
    }
    if (Contains(name, kQuickMode) && exchange.IsComplete()) {
      MarkImmediateDelete(tunnel, i);
      // An SA deleted at once, or a negotiation already found to repeat an earlier one, is
      // reported as that; it starts no search of its own.
      if (!exchange.IsImmediateDelete() && !exchange.IsSuccessiveIdentical()) MarkSuccessiveIdentical(tunnel, i);
    }
  }
}

void CountStatistics(const QLFolder& tunnel, NegotiationStatistics& record) {
  record = NegotiationStatistics{};
  // Where each repeatedly deleted SPI stands among record.repeatedDeletes, and whether the
  // group's first delete is still in the tunnel (a filter may have removed it).
  std::unordered_map<std::string, std::size_t> groupOf;
  std::vector<bool> headed;
  for (const auto& child : tunnel.Children()) {
    const QLFolder& exchange = *child;
    if (!exchange.IsComplete()) ++record.failed;
    const std::string_view name = exchange.Name();
    switch (ErrorNamedIn(name)) {
      case NotifyError::kNoProposalChosen: ++record.noProposalChosen; continue;
      case NotifyError::kInvalidKeyInformation: ++record.invalidKeyInformation; continue;
      case NotifyError::kInvalidIdInformation: ++record.invalidIdInformation; continue;
      case NotifyError::kNone: break;
    }
    if (Contains(name, kDeleteIpsec)) {
      if (exchange.IsFirstRepeatedDelete()) ++record.repeatedDeleteSas;
      if (exchange.IsDeleteRepeated()) {
        ++record.repeatedDeleteNotifications;
        record.repeatedDeleteSpi = exchange.SpiText();
        const auto [group, added] = groupOf.try_emplace(record.repeatedDeleteSpi, record.repeatedDeletes.size());
        if (added) {
          record.repeatedDeletes.push_back({record.repeatedDeleteSpi, 0});
          headed.push_back(false);
        }
        ++record.repeatedDeletes[group->second].notifications;
        if (exchange.IsFirstRepeatedDelete()) headed[group->second] = true;
      }
    } else if (Contains(name, kQuickMode)) {
      if (exchange.IsImmediateDelete()) ++record.immediateDeletes;
      if (exchange.IsSuccessiveIdentical()) ++record.successiveIdentical;
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

std::string MainMode::SummaryText(bool /*withTotals*/) const {
  // The six packets never all came: rejected, or the peer stopped answering (or never did).
  if (IsComplete()) return {};
  return std::string(kHeading) + FailureLine(*this);
}

std::string Aggresive::SummaryText(bool /*withTotals*/) const {
  if (IsComplete()) return {};
  return std::string(kHeading) + FailureLine(*this);
}

std::string PhaseTwo::SummaryText(bool /*withTotals*/) const {
  const bool complete = IsComplete();
  if (complete && !IsImmediateDelete() && !IsSuccessiveIdentical()) return {};
  std::string text(kHeading);
  if (!complete) text += FailureLine(*this);
  if (IsImmediateDelete()) text += kImmediateDelete;
  if (IsSuccessiveIdentical()) text += kSuccessiveIdentical;
  return text;
}

std::string Notify::SummaryText(bool /*withTotals*/) const {
  std::string text(kHeading);
  switch (ErrorNamedIn(Name())) {
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
  if (Contains(Name(), kDeleteIpsec)) {
    if (IsDeleteRepeated()) return text + std::string(kRepeatedDelete);
    if (IsImmediateDelete()) return text + std::string(kImmediateDelete);
  }
  return {};
}

}  // namespace quillon
