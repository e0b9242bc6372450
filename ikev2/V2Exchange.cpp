#include "ikev2/V2Exchange.h"

#include <cstdint>
#include <cstring>
#include <optional>

#include "ikev2/V2Payloads.h"
#include "model/IPv4.h"
#include "model/Summaries.h"
#include "model/TextHash.h"

namespace quillon {

namespace {

constexpr std::string_view kExchangeEnd = "</Exchange>";

// The closing line of an exchange: nothing after it belongs to the exchange.
bool EndsExchange(const LineCursor& cursor) { return cursor.HasLine() && Contains(cursor.Line(), kExchangeEnd); }

// One "%d" conversion as the C library reads it: optional white space, optional sign, digits.
bool ScanDecimal(std::string_view text, std::size_t& pos, int& value) {
  while (pos < text.size() && (text[pos] == ' ' || (text[pos] >= '\t' && text[pos] <= '\r'))) ++pos;
  bool negative = false;
  if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) negative = text[pos++] == '-';
  const std::size_t start = pos;
  long long v = 0;
  while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
    if (v < 100000000000LL) v = v * 10 + (text[pos] - '0');  // far beyond any date; no overflow
    ++pos;
  }
  if (pos == start) return false;
  if (v > 2147483647LL) v = 2147483647LL;
  value = static_cast<int>(negative ? -v : v);
  return true;
}

// "year-month-day" as the arrival time writes the date; false unless all three are read.
bool ScanDate(std::string_view text, int& year, int& month, int& day) {
  std::size_t pos = 0;
  if (!ScanDecimal(text, pos, year)) return false;
  if (pos >= text.size() || text[pos++] != '-') return false;
  if (!ScanDecimal(text, pos, month)) return false;
  if (pos >= text.size() || text[pos++] != '-') return false;
  return ScanDecimal(text, pos, day);
}

// Narrows `text` to what stands between the two tags; false unless both are there.
bool StripTags(std::string_view& text, std::string_view opening, std::string_view closing) {
  return StripToken(text, opening, true) && StripToken(text, closing, false);
}

}  // namespace

// ---- v2Message ------------------------------------------------------------------------------

v2Message::v2Message(LineCursor& cursor, LogNode* exchange) : LogNode(FixedName("Message"), exchange) {
  SetParsed(true);
  span_.begin = cursor.LineBegin();
  // However the message ends, its stretch of the log is what it read.
  struct SpanEnd {
    LogSpan& span;
    const LineCursor& cursor;
    ~SpanEnd() { span.end = cursor.ReadEnd(); }
  } spanEnd{span_, cursor};
  {
    std::string_view line = cursor.Line();
    StripToken(line, "<Message ", true);
    ParseAttributes(line, attributes_);  // Response="Yes" or "No"
  }

  cursor.Next();
  std::string_view arrival = cursor.Line();
  if (!StripTags(arrival, "<arrivalTime>", "</arrivalTime>")) {
    SetParsed(false);
    endedExchange_ = EndsExchange(cursor);
    return;
  }
  // 2008-01-15T10:01:02
  const std::size_t t = arrival.find('T');
  if (t == std::string_view::npos) {
    texts_.Set(kDate, arrival);
    texts_.Set(kTime, arrival);
  } else {
    texts_.Set(kDate, arrival.substr(0, t));
    texts_.Set(kTime, arrival.substr(t + 1));
  }

  cursor.Next();
  std::string_view id = cursor.Line();
  if (!StripTags(id, "<MsgID>", "</MsgID>")) {
    SetParsed(false);
    endedExchange_ = EndsExchange(cursor);
    return;
  }
  texts_.Set(kMessageId, id);

  // The header, one element per line, up to the payload list.
  bool payloadList = false;
  cursor.Next();
  std::string_view tag, value;
  while (cursor.HasLine() && !Contains(cursor.Line(), kExchangeEnd)) {
    if (cursor.Element(tag, value)) {
      if (tag == "initSPI") texts_.Set(kInitiatorSpi, value);
      else if (tag == "respSPI") texts_.Set(kResponderSpi, value);
      else if (tag == "Next") texts_.Set(kNextPayload, value);
      else if (tag == "Version") texts_.Set(kVersion, value);
      else if (tag == "Type") texts_.Set(kType, value);
      else if (tag == "Length") texts_.Set(kLength, value);
      else attributes_.Set(tag, value);
    }
    cursor.Next();
    if (Contains(cursor.Line(), "<Payloads>")) {
      payloadList = true;
      break;
    }
  }
  if (payloadList) ReadPayloadList(cursor);

  // Skip what is left of the message. A message that already ran into the end of its exchange
  // stops there, so that the lines after the exchange are not taken from the next one.
  if (!EndsExchange(cursor)) {
    while (cursor.Next()) {
      if (Contains(cursor.Line(), "</Message>") || Contains(cursor.Line(), kExchangeEnd)) break;
    }
  }
  endedExchange_ = EndsExchange(cursor);

  attributes_.ShrinkToFit();
  texts_.ShrinkToFit();
  const std::string_view response = attributes_.Touch("Response");
  CaptionText caption;
  caption += response == "No" ? "Message " : response == "Yes" ? "Response " : "Message";
  caption += texts_.Get(kMessageId);
  caption += " - ";
  caption += texts_.Get(kTime);
  SetOwnName(caption.View());  // the message ID and time make it this message's own
}

void v2Message::ReadPayloadList(LineCursor& cursor) {
  cursor.Next();
  while (cursor.HasLine() && !Contains(cursor.Line(), "</Payloads>") && !Contains(cursor.Line(), kExchangeEnd)) {
    std::unique_ptr<v2Payload> payload = ReadPayload(cursor);
    if (payload->IsParsed()) {
      if (texts_.Get(kMessageSpi).empty()) texts_.Set(kMessageSpi, payload->SpiText());
      if (payload->HasIdAddress()) {
        hasIdAddress_ = true;
        idAddress_ = payload->IdAddress();
      }
      if (payload->Name() == "Header") headerNamedPayload_ = true;
      AppendChild(std::move(payload));
    }
    if (EndsExchange(cursor)) return;  // a payload without its closing lines ran into the end
    cursor.Next();
  }
}

bool v2Message::IsReceived(int direction) const {
  const bool response = attributes_.Get("Response") == "Yes";
  return direction == 0 ? !response : response;
}

std::string v2Message::ErrorNotification() const {
  for (const auto& child : Children()) {
    // A message's children are its payloads; the kind the reader gave one names its class.
    if (!child->Is(NodeKind::kPayload)) continue;
    const auto& payload = static_cast<const v2Payload&>(*child);
    if (payload.PayloadKindOf() != PayloadKind::kNotify) continue;
    const auto& notify = static_cast<const v2NotifyPayload&>(payload);
    if (notify.IsError()) return notify.NotifyType();
  }
  return {};
}

void v2Message::AppendDetailText(std::string& out) const {
  const auto line = [&](const char* label, Field field) {
    out += label;
    out += texts_.Get(field);
    out += "\r\n";
  };
  line("Initiator SPI:\t\t", kInitiatorSpi);
  line("Responder SPI:\t\t", kResponderSpi);
  line("Next payload:\t\t", kNextPayload);
  line("Version:\t\t", kVersion);
  line("Type:\t\t\t", kType);
  line("Message ID:\t\t", kMessageId);
}

// ---- v2Exchange -----------------------------------------------------------------------------

v2Exchange::v2Exchange(LineCursor& cursor) : NegotiationNode(FixedName("Exchange"), nullptr) {
  SetParsed(true);
  while (cursor.Next()) {
    if (cursor.Line() == LineCursor::kExchangeStart) {
      startFound_ = true;
      break;
    }
  }
  if (!startFound_) {
    SetParsed(false);
    return;
  }
  span_.begin = cursor.LineBegin();
  struct SpanEnd {
    LogSpan& span;
    const LineCursor& cursor;
    ~SpanEnd() { span.end = cursor.ReadEnd(); }
  } spanEnd{span_, cursor};

  // Inside the exchange the next start line ends the input for this exchange.
  struct ExchangeScope {
    LineCursor& cursor;
    explicit ExchangeScope(LineCursor& c) : cursor(c) { cursor.EnterExchange(); }
    ~ExchangeScope() { cursor.LeaveExchange(); }
    ExchangeScope(const ExchangeScope&) = delete;
    ExchangeScope& operator=(const ExchangeScope&) = delete;
  } scope(cursor);

  cursor.Next();
  ParseAttributes(cursor.Line(), attributes_);

  cursor.Next();
  std::string_view peer = cursor.Line();
  StripToken(peer, "<peerIP>", true);
  StripToken(peer, "</peerIP>", false);
  // The peer's address, and below the SPIs, repeat over the exchanges of a peer and of an SA:
  // shared within the lane rather than copied for each exchange.
  peerText_.AssignShared(peer);

  ReadMessages(cursor);
  // Never 0 for an SPI: an empty one pairs with nothing.
  const std::string_view initiator = lastInitiatorSpi_;
  const std::string_view first = firstSpi_;
  if (!initiator.empty()) regroupKeys_[0] = TextHash(initiator) | 1;
  if (!first.empty() && first != initiator) regroupKeys_[1] = TextHash(first) | 1;
  if (ChildCount() == 0) {
    SetParsed(false);
    return;
  }
  std::size_t payloads = 0;
  for (const auto& message : Children()) payloads += message->PayloadCount();
  // More than 32 bits hold (never met) are counted one by one: no count is kept.
  if (payloads <= UINT32_MAX) {
    countedMessages_ = static_cast<std::uint32_t>(ChildCount());
    countedPayloads_ = static_cast<std::uint32_t>(payloads);
  }
  if (!EndsExchange(cursor)) ReadTrailingElements(cursor);

  // "success" anywhere in the status counts, so "unsuccessful" does too: the daemon's own test.
  if (!Contains(attributes_.Touch("final_status"), "success")) succeeded_ = false;
  BuildCaption();
  TakeIdentity();

  const auto local = attributes_.find("TunnelLocalIP");
  const auto remote = attributes_.find("TunnelPeerIP");
  if (local != attributes_.end() && remote != attributes_.end()) {
    tunnelLocal_ = ParseIPv4((*local).second);
    tunnelPeer_ = ParseIPv4((*remote).second);
  }
  attributes_.ShrinkToFitOwn();
}

void v2Exchange::ReadMessages(LineCursor& cursor) {
  cursor.Next();
  while (cursor.HasLine() && Contains(cursor.Line(), "<Message ")) {
    auto message = std::make_unique<v2Message>(cursor, this);
    const bool ended = message->EndedExchange();
    if (message->IsParsed()) {
      lastInitiatorSpi_.AssignShared(message->InitiatorSpiView());
      lastResponderSpi_.AssignShared(message->ResponderSpiView());
      const std::string_view spi = message->FirstSpiView();
      if (!spi.empty()) {
        if (firstSpi_.empty()) firstSpi_.AssignShared(spi);
        else if (secondSpi_.empty()) secondSpi_.AssignShared(spi);
      }
      AppendChild(std::move(message));
    }
    if (ended) return;
    cursor.Next();
  }
}

void v2Exchange::ReadTrailingElements(LineCursor& cursor) {
  // The line that ended the message list is the first of them.
  while (cursor.HasLine()) {
    std::string_view tag, value;
    if (cursor.Element(tag, value)) attributes_.Set(tag, value);
    if (EndsExchange(cursor)) return;
    cursor.Next();
  }
}

const v2Message* v2Exchange::MessageAt(std::size_t index) const {
  // An exchange's children are its messages.
  return index < ChildCount() ? static_cast<const v2Message*>(Child(index)) : nullptr;
}

void v2Exchange::BuildCaption() {
  const v2Message* first = MessageAt(0);
  const v2Message* last = ChildCount() > 0 ? MessageAt(ChildCount() - 1) : nullptr;

  CaptionText caption;
  // Taken at once: a later Touch may change the map the type is viewed in.
  const std::string_view type = attributes_.Touch("Type");
  bool isDelete = false, isDpd = false;
  if (type == "Informational") {
    std::string_view kind = "Info";
    // The row names the exchange after its first payload as that payload's row reads; what
    // the exchange is comes from the payload itself.
    if (first != nullptr && first->ChildCount() > 0) {
      if (Contains(first->Child(0)->Caption(), "Delete")) kind = "Delete";
      const LogNode& payload = *first->Child(0);
      isDelete = payload.Is(NodeKind::kPayload) &&
                 static_cast<const v2Payload&>(payload).PayloadKindOf() == PayloadKind::kDelete;
    }
    // A request and a response without payloads: the liveness check of dead-peer detection.
    if (ChildCount() == 2 && Child(0)->ChildCount() == 0 && Child(1)->ChildCount() == 0) {
      kind = "DPD";
      isDpd = true;
    }
    caption += kind;
  } else {
    caption += type;
  }
  // Before the next Touch, which may move the text `type` views.
  const std::string_view dirText = attributes_.Get("Dir");
  Classify(type == "Informational" ? std::string_view() : type, isDelete, isDpd,
           dirText == "Inbound" || dirText == "Outbound");
  caption += " ";
  caption += attributes_.Touch("serial");

  const std::string_view dir = attributes_.Touch("Dir");
  if (dir == "Inbound") {
    direction_ = 0;
    caption += " <==";
  } else if (dir == "Outbound") {
    direction_ = 1;
    caption += " ==>";
  }

  if (first != nullptr && last != nullptr) {
    caption += " ";
    caption += first->DateView();
    caption += " ";
    caption += first->TimeView();
    if (last->TimeView() != first->TimeView()) {
      caption += " to ";
      caption += last->TimeView();
    }
  }
  if (!succeeded_) caption += " Failed!";
  SetOwnName(caption.View());  // the serial number makes it this exchange's own
}

void v2Exchange::TakeIdentity() {
  if (kind_ != NodeKind::kAuthentication) return;
  // The peer's identity travels in the peer's own message: the request when the peer initiated
  // (inbound), the response when we did.
  const v2Message* source = nullptr;
  if (direction_ == 0) {
    source = MessageAt(0);
  } else if (ChildCount() == 2) {
    source = MessageAt(1);
  }
  if (source != nullptr && source->HasIdAddress()) {
    hasIdAddress_ = true;
    idAddress_ = source->IdAddress();
  }
}

void v2Exchange::AppendDetailText(std::string& out) const {
  out += "Exchange #";
  out += attributes_.Get("serial");
  out += "\r\n\r\n";
  for (const auto& [key, value] : attributes_) {
    if (key == "TunnelLocalIP" || key == "TunnelPeerIP") continue;
    out += key;
    out += LabelTabs(key);
    out += value;
    out += "\r\n";
  }
  out += SummaryText(false);
}

std::string v2Exchange::SummaryText(bool /*withTotals*/) const {
  FailureReason reason;
  if (!GetFailureReason(reason)) return {};
  std::string text(kSummaryHeading);
  reason.AppendLines(text);
  return text;
}

bool v2Exchange::GetFailureReason(FailureReason& out) const {
  if (succeeded_) return false;
  out = FailureReason{};
  // The side that turned the exchange down says why in an error notification: in the response
  // to a request it refuses, or in a request of its own.
  for (std::size_t i = 0; i < ChildCount(); ++i) {
    const v2Message* message = MessageAt(i);
    if (message == nullptr) continue;
    std::string error = message->ErrorNotification();
    if (error.empty()) continue;
    out.by = message->IsReceived(direction_) ? FailureReason::By::kPeer : FailureReason::By::kLocalHost;
    out.notify = std::move(error);
    break;
  }
  return true;
}

void v2Exchange::Classify(std::string_view type, bool informationalDelete, bool informationalDpd, bool directed) {
  if (type.empty()) {
    // An informational exchange: dead-peer detection, a delete, or notifications.
    kind_ = NodeKind::kInformational;
    typeState_ = informationalDpd ? kStateDpd : informationalDelete ? kStateDelete : kStateErrorInformational;
    return;
  }
  // Any other type is shown as the log names it; the kinds the viewer knows are told by it
  // (the daemon names a rekey of the IKE SA "[IKE] Create Child SA", of IPsec SAs "[IPsec]
  // Create Child SA" or plain "Create Child SA").
  if (type.starts_with("Initial")) kind_ = NodeKind::kInitial;
  else if (type.starts_with("Authentication")) kind_ = NodeKind::kAuthentication;
  else if (Contains(type, "[IPsec] Create Child SA") ||
           (Contains(type, "Create Child SA") && !Contains(type, "[IPsec]") && !Contains(type, "[IKE]")))
    kind_ = NodeKind::kChildSa;
  else if (Contains(type, "Delete") && directed) kind_ = NodeKind::kInformational;
  else if (Contains(type, "[IKE] Create Child SA")) kind_ = NodeKind::kIkeRekey;
  else if (Contains(type, "ConfigMode")) kind_ = NodeKind::kConfigMode;
  else if (Contains(type, "Info") || Contains(type, "DPD")) kind_ = NodeKind::kInformational;
  else kind_ = NodeKind::kOtherExchange;
  if (kind_ != NodeKind::kInformational) return;
  // An informational exchange of a type of its own: what its type says it carries.
  if (Contains(type, "Delete") && directed) typeState_ |= kStateDelete;
  if (Contains(type, "Info")) typeState_ |= kStateErrorInformational;
  if (Contains(type, "DPD")) typeState_ |= kStateDpd;
}

std::uint16_t v2Exchange::State() const {
  std::uint16_t state = typeState_;
  state |= succeeded_ ? kStateComplete : kStateFailed;
  if (direction_ != -1) state |= kStateDirected;
  return state;
}

bool v2Exchange::TimeSpan(std::int64_t& first, std::int64_t& last) const {
  // The arrival times as the caption shows them: the date before the "T", the time after it.
  const auto seconds = [](const v2Message& message) -> std::optional<std::int64_t> {
    CalendarTime time;
    if (!ScanDate(message.DateView(), time.year, time.month, time.day)) return std::nullopt;
    if (message.TimeView().empty()) return std::nullopt;
    ParseTime(message.TimeView(), time);
    if (!IsPlausibleLogTime(time) || time.month < 1 || time.month > 12) return std::nullopt;
    return time.Seconds();
  };
  std::size_t front = 0;
  std::optional<std::int64_t> earliest;
  for (; front < ChildCount() && !earliest; ++front)
    if (const v2Message* message = MessageAt(front)) earliest = seconds(*message);
  if (!earliest) return false;
  std::optional<std::int64_t> latest;
  for (std::size_t back = ChildCount(); back > front && !latest; --back)
    if (const v2Message* message = MessageAt(back - 1)) latest = seconds(*message);
  first = latest ? std::min(*earliest, *latest) : *earliest;
  last = latest ? std::max(*earliest, *latest) : *earliest;
  return true;
}

bool v2Exchange::MatchesMessage(const NegotiationNode& other) const {
  // An empty SPI says nothing about the SA: it never makes two exchanges match.
  // SPIs are texts of one length: most that differ do so in their first eight characters,
  // which are compared in place before the whole texts are.
  const auto same = [](std::string_view a, std::string_view b) {
    if (a.empty() || a.size() != b.size()) return false;
    if (a.size() >= 8) {
      std::uint64_t x, y;
      std::memcpy(&x, a.data(), 8);
      std::memcpy(&y, b.data(), 8);
      if (x != y) return false;
    }
    return a == b;
  };
  // The negotiations of an IKEv2 log are its exchanges. The regrouping asks this of every
  // exchange for every exchange of an indexed peer: the texts are compared in place.
  const auto& exchange = static_cast<const v2Exchange&>(other);
  const std::string_view theirInitiator = exchange.lastInitiatorSpi_;
  const std::string_view theirFirst = exchange.firstSpi_;
  return same(lastInitiatorSpi_, theirInitiator) || same(lastInitiatorSpi_, theirFirst) ||
         same(firstSpi_, theirInitiator) || same(firstSpi_, theirFirst);
}

bool v2Exchange::MatchesCookie(std::string_view text) const {
  if (text.empty()) return false;
  return text == lastInitiatorSpi_ || text == lastResponderSpi_ || text == firstSpi_ || text == secondSpi_;
}

bool v2Exchange::MatchesSpi(std::string_view text) const {
  if (text.empty()) return false;
  return text == firstSpi_ || text == secondSpi_;
}

void v2Exchange::Reassign(std::uint32_t index, std::uint32_t address) {
  reassigned_ = true;
  reassignedIndex_ = index;
  reassignedAddress_ = address;
}

namespace {

// A calendar time in one word: year 16 bits, month 4, day 5, hour 5, minute 6, second 6, a
// flag bit on top. The exchange's start time has no weekday or milliseconds.
constexpr std::uint64_t kKnownTime = std::uint64_t{1} << 63;

bool PackTime(const CalendarTime& time, std::uint64_t& packed) {
  auto fits = [](int value, int bits) { return value >= 0 && value < (1 << bits); };
  if (!fits(time.year, 16) || !fits(time.month, 4) || !fits(time.day, 5) || !fits(time.hour, 5) ||
      !fits(time.minute, 6) || !fits(time.second, 6) || time.weekday != 0 || time.millisecond != 0)
    return false;
  packed = kKnownTime | std::uint64_t(time.year) << 26 | std::uint64_t(time.month) << 22 |
           std::uint64_t(time.day) << 17 | std::uint64_t(time.hour) << 12 | std::uint64_t(time.minute) << 6 |
           std::uint64_t(time.second);
  return true;
}

CalendarTime UnpackTime(std::uint64_t packed) {
  CalendarTime time;
  time.year = static_cast<int>(packed >> 26 & 0xFFFF);
  time.month = static_cast<int>(packed >> 22 & 0xF);
  time.day = static_cast<int>(packed >> 17 & 0x1F);
  time.hour = static_cast<int>(packed >> 12 & 0x1F);
  time.minute = static_cast<int>(packed >> 6 & 0x3F);
  time.second = static_cast<int>(packed & 0x3F);
  return time;
}

}  // namespace

std::optional<CalendarTime> v2Exchange::StartTime() const {
  if ((startTime_ & kKnownTime) != 0) return UnpackTime(startTime_);
  const v2Message* first = MessageAt(0);
  if (first == nullptr || first->Date().empty() || first->Time().empty()) return std::nullopt;
  CalendarTime time;
  if (!ScanDate(first->Date(), time.year, time.month, time.day)) return std::nullopt;
  ParseTime(first->Time(), time);
  // A date before 1900 cannot be a real log date: it gives the zero time.
  if (time.year < 1900) time = CalendarTime{};
  PackTime(time, startTime_);
  return time;
}

bool v2Exchange::RegroupKeys(std::uint64_t (&keys)[2]) const {
  keys[0] = regroupKeys_[0];
  keys[1] = regroupKeys_[1];
  return true;
}

}  // namespace quillon
