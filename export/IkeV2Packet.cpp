#include "export/IkeV2Packet.h"

#include <charconv>
#include <string>
#include <string_view>

#include "ikev2/V2Exchange.h"
#include "ikev2/V2Payloads.h"
#include "model/CalendarTime.h"
#include "model/IPv4.h"

namespace quillon::hand_over {
namespace {

void Put8(std::string& out, std::uint32_t v) { out += static_cast<char>(v & 0xFF); }
void Put32(std::string& out, std::uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) Put8(out, v >> shift);
}

// Sixteen hexadecimal digits as eight bytes; false (and zeros) for any other text.
bool PutSpi(std::string& out, std::string_view text) {
  bool ok = text.size() == 16;
  for (std::size_t i = 0; i < 8; ++i) {
    unsigned value = 0;
    if (ok) {
      const auto [end, error] = std::from_chars(text.data() + 2 * i, text.data() + 2 * i + 2, value, 16);
      ok = error == std::errc() && end == text.data() + 2 * i + 2;
    }
    Put8(out, ok ? value : 0);
  }
  return ok;
}

std::uint32_t ExchangeType(std::string_view name) {
  if (name == "IKE_SA_INIT") return 34;
  if (name == "IKE_AUTH") return 35;
  if (name == "CREATE_CHILD_SA") return 36;
  if (name == "INFORMATIONAL") return 37;
  unsigned number = 0;
  const auto [end, error] = std::from_chars(name.data(), name.data() + name.size(), number);
  return error == std::errc() && end == name.data() + name.size() && number <= 255 ? number : 0;
}

// "2008-03-02" and "08:14:55" as seconds since 1970; 0 when they do not read.
std::int64_t Seconds(std::string_view date, std::string_view time) {
  CalendarTime t;
  const auto number = [](std::string_view text, std::size_t at, std::size_t size, int& value) {
    if (text.size() < at + size) return false;
    const auto [end, error] = std::from_chars(text.data() + at, text.data() + at + size, value);
    return error == std::errc() && end == text.data() + at + size;
  };
  if (!number(date, 0, 4, t.year) || !number(date, 5, 2, t.month) || !number(date, 8, 2, t.day) ||
      !number(time, 0, 2, t.hour) || !number(time, 3, 2, t.minute) || !number(time, 6, 2, t.second))
    return 0;
  if (t.year < 1970 || t.month < 1 || t.month > 12 || t.day < 1 || t.day > 31) return 0;
  return t.Seconds();
}

}  // namespace

bool IsIKEv2Message(const LogNode& node) { return dynamic_cast<const v2Message*>(&node) != nullptr; }

bool RebuildIKEv2Message(const LogNode& node, RebuiltPacket& out) {
  const auto* message = dynamic_cast<const v2Message*>(&node);
  if (message == nullptr) return false;
  out = RebuiltPacket{};
  const auto* exchange = dynamic_cast<const v2Exchange*>(message->Parent());
  const int direction = exchange != nullptr ? exchange->Direction() : -1;
  const bool response = message->Attributes().Get("Response") == "Yes";
  out.created = !message->IsReceived(direction);
  if (exchange != nullptr) out.localAddress = exchange->TunnelLocalIP();
  out.seconds = Seconds(message->DateView(), message->TimeView());

  std::string& wire = out.bytes;
  if (!PutSpi(wire, message->InitiatorSpiView())) out.notes.push_back("initiator SPI: not 16 hex digits in the log");
  if (!PutSpi(wire, message->ResponderSpiView())) out.notes.push_back("responder SPI: not 16 hex digits in the log");
  Put8(wire, 0);     // no payload follows: the log holds none of their bytes
  Put8(wire, 0x20);  // version 2.0
  const std::uint32_t type = ExchangeType(message->Type());
  if (type == 0) out.notes.push_back("exchange type \"" + message->Type() + "\" not known, written as 0");
  Put8(wire, type);
  // The log does not say which side began the IKE SA: the initiator flag goes with requests.
  Put8(wire, (response ? 0x20 : 0x08));
  std::uint32_t id = 0;
  const std::string idText = message->MessageId();
  const auto [end, error] = std::from_chars(idText.data(), idText.data() + idText.size(), id);
  if (error != std::errc() || end != idText.data() + idText.size())
    out.notes.push_back("message ID \"" + idText + "\" is no number, written as 0");
  Put32(wire, id);
  Put32(wire, 28);

  std::string payloads;
  for (const auto& child : message->Children()) {
    const auto* payload = dynamic_cast<const v2Payload*>(child.get());
    if (payload == nullptr) continue;
    if (!payloads.empty()) payloads += ", ";
    payloads += payload->TypeName();
  }
  std::string note = "IKEv2 header only: the XML log names the payloads but holds none of their bytes";
  if (!message->NextPayload().empty()) note += "; next payload " + message->NextPayload();
  if (!payloads.empty()) note += "; payloads " + payloads;
  if (!message->Length().empty()) note += "; logged length " + message->Length();
  out.notes.push_back(note);
  return true;
}

}  // namespace quillon::hand_over
