// libFuzzer targets, one per log format (log_fuzz_ikev1, log_fuzz_ikev2): arbitrary bytes go
// through the product's whole reading and writing path, the way a file does.
//
// Each input is loaded through the open path (LoadLog over bytes in memory: the same type
// check, reader choice and readers as a file), and must load without crash, hang, leak or
// undefined behaviour. Then everything the viewer and quillon-cli show of it is produced:
// every visible node's caption, detail text, summary and state icon, made safe for display,
// the text and JSON printers. What was read, saved, must load again to the same tree (a
// difference aborts, printing the node where the trees part). A log read in pieces must give
// the tree one reader gives, and a log followed while it grows in parts (cut where the input's
// bytes say) must end as the tree of one load.
//
// Build and run (clang), each format with its dictionary and the sample logs as seeds:
//   cmake -S . -B build/fuzz -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DQUILLON_BUILD_FUZZ=ON \
//         -DQUILLON_BUILD_TESTS=OFF -DQUILLON_BUILD_BENCH=OFF -DQUILLON_BUILD_APP=OFF \
//         -DCMAKE_CXX_FLAGS="-O1 -g"
//   cmake --build build/fuzz --target log_fuzz_ikev1 log_fuzz_ikev2
//   fuzz/run.sh ikev1 600     # or ikev2; the second argument is the time in seconds
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "cli/TreePrinter.h"
#include "export/HtmlReport.h"
#include "export/PacketCapture.h"
#include "ikev1/log/DebugLogReader.h"
#include "ikev1/log/FollowIKEv1Log.h"
#include "ikev1/log/ReadIKEv1Log.h"
#include "ikev1/log/WriteDebugLog.h"
#include "ikev2/FollowIKEv2Log.h"
#include "ikev2/LogLineReader.h"
#include "ikev2/ReadIKEv2Log.h"
#include "ikev2/V2Exchange.h"
#include "ikev2/V2Payloads.h"
#include "logs/OpenLog.h"
#include "logs/SaveLog.h"
#include "model/ByteSource.h"
#include "model/LogFile.h"
#include "model/NodeRoles.h"
#include "model/TreeRules.h"
#include "model/VisibleText.h"
#include "model/VisibleWalk.h"
#include "tests/model/TreeCompare.h"

namespace {

// ---- What a saved log cannot carry ----------------------------------------------------------
// A few trees hold something no text in the log format reads back as: the round trip is not
// checked for them. Each case is named and kept as narrow as the format's reason for it.

template <typename Test>
bool AnyNode(const quillon::LogNode& node, const Test& test) {
  if (test(node)) return true;
  for (std::size_t i = 0; i < node.ChildCount(); ++i)
    if (AnyNode(*node.Child(i), test)) return true;
  return false;
}

// The IKEv2 reader matches fixed texts at fixed places of a line and nothing is escaped. An
// attribute is written on its node's opening line as name="value" when it fits there, else as
// an element line <name>value</name> below it. Neither can carry some names and values: one
// that fits neither is named here, with the texts the reader looks for on each kind of line.
using Texts = std::vector<std::string_view>;

bool HoldsAny(std::string_view key, std::string_view value, const Texts& texts) {
  for (std::string_view text : texts)
    if (key.find(text) != std::string_view::npos || value.find(text) != std::string_view::npos) return true;
  return false;
}

// name="value": a name is read up to "=", a value up to the next quote, after leading blanks.
bool FitsLine(std::string_view key, std::string_view value, const Texts& ends) {
  return !key.starts_with(' ') && !key.starts_with('\t') && key.find('=') == std::string_view::npos &&
         value.find('"') == std::string_view::npos && !HoldsAny(key, value, ends);
}

// <name>value</name>: a name is read up to the first ">", and a value holding "</name><name>"
// is read as a list.
bool FitsElement(std::string_view key, std::string_view value, const Texts& ends) {
  const std::string repeat = "</" + std::string(key) + "><" + std::string(key) + ">";
  return !key.empty() && key.find('>') == std::string_view::npos && value.find(repeat) == std::string_view::npos &&
         !HoldsAny(key, value, ends);
}

bool AnyUnwritable(const quillon::AttributeMap& attributes, bool onLine, const Texts& lineEnds,
                   const Texts& elementEnds) {
  for (const auto& [key, value] : attributes)
    if (!(onLine && FitsLine(key, value, lineEnds)) && !FitsElement(key, value, elementEnds)) return true;
  return false;
}

bool V2NodeUnwritable(const quillon::LogNode& node) {
  // Below the messages, one of an exchange's element lines may end the exchange (as its last);
  // a message header's must not end the exchange.
  if (const auto* n = dynamic_cast<const quillon::v2Exchange*>(&node)) {
    if (AnyUnwritable(n->Attributes(), true, {}, {})) return true;
    int closing = 0;
    for (const auto& [key, value] : n->Attributes())
      if (!FitsLine(key, value, {}) && HoldsAny(key, value, {"</Exchange>"})) ++closing;
    return closing > 1;
  }
  if (const auto* n = dynamic_cast<const quillon::v2Message*>(&node))
    return AnyUnwritable(n->Attributes(), true, {}, {"</Exchange>"});
  if (const auto* n = dynamic_cast<const quillon::v2Payload*>(&node)) {
    // The payload's line is checked for the end of the payload list and of the exchange, and
    // takes a name ending in "Type" only when it names no kind there. The line carries the Type
    // it gave the payload (a traffic selector payload's name, else its display name spelt as
    // the log spells it). The body is read up to "</Payload>" or what follows it in the kind.
    Texts body = {"</Payload>"};
    bool proposals = false;
    if (dynamic_cast<const quillon::v2SAPayload*>(n)) proposals = true, body = {"</Payload>", "</Exchange>"};
    else if (dynamic_cast<const quillon::v2ConfPayload*>(n)) body = {"</Payload>", "<Attr>"};
    else if (dynamic_cast<const quillon::v2CertReqPayload*>(n)) body = {"</Payload>", "<CA>"};
    else if (dynamic_cast<const quillon::v2CertPayload*>(n)) body = {"</Payload>", "<![CDATA["};
    else if (dynamic_cast<const quillon::v2TSPayload*>(n)) body = {"</Payload>", "<TrafficSelector"};
    const bool line = n->Attributes().contains("Type");
    std::string lineType(dynamic_cast<const quillon::v2TSPayload*>(n) ? n->Name() : n->TypeName());
    if (lineType == "Key Exchange") lineType = "KeyExchange";
    else if (lineType == "Security Association") lineType = "SecurityAssociation";
    else if (lineType == "Next payload") lineType = "Next";
    for (const auto& [key, value] : n->Attributes()) {
      const std::string alone = "<Payload " + std::string(key) + "=\"" + std::string(value) + "\"";
      const bool namesNoKind =
          !key.ends_with("Type") || quillon::ClassifyPayloadLine(alone) == quillon::PayloadKind::kOther;
      const bool onLine = line && (key == "Type" ? value == lineType
                                                 : namesNoKind && FitsLine(key, value, {"</Payloads>", "</Exchange>"}));
      if (!onLine && (!FitsElement(key, value, body) || (proposals && key.starts_with("prop ")))) return true;
    }
    return false;
  }
  if (const auto* n = dynamic_cast<const quillon::v2Proposal*>(&node))
    return AnyUnwritable(n->Attributes(), true, {"</Payload>", "</Exchange>"}, {"</prop>"});
  if (const auto* n = dynamic_cast<const quillon::v2CA*>(&node)) return AnyUnwritable(n->Attributes(), false, {}, {});
  if (const auto* n = dynamic_cast<const quillon::v2TrafficSelector*>(&node))
    return AnyUnwritable(n->Attributes(), true, {"</Payload>"}, {"</TrafficSelector>"});
  return false;
}

#if QUILLON_FUZZ_IKEV1
constexpr const char* kName = "fuzz.ilx";
#else
constexpr const char* kName = "fuzz.xml";
#endif

// The open path over bytes in memory; nothing when the bytes are not a log of this format.
std::unique_ptr<quillon::LogFile> Load(std::string text) {
  quillon::OpenLogResult result = quillon::LoadLog(kName, std::make_shared<quillon::TextSource>(std::move(text)));
  if (result.status == quillon::OpenLogResult::Status::kCannotOpen) std::abort();  // memory never fails
  return std::move(result.log);
}

// What the viewer asks of each row and of the text pane.
std::size_t ShowAll(const quillon::LogNode& node) {
  std::size_t shown = quillon::VisibleText(node.Caption()).size() +
                      quillon::VisibleText(node.DetailText(), true).size() + node.SummaryText(true).size() +
                      static_cast<std::size_t>(quillon::StateIconIndex(node));
  quillon::ForEachVisibleChild(node, [&shown](const quillon::LogNode& child) {
    shown += ShowAll(child);
    return true;
  });
  return shown;
}

// Follows `text` appended in parts, pausing after some, as a viewer would; a follower that
// cannot go on (at a read or at a pause) is replaced by a fresh one given everything so far.
// The tree must be the one `whole` holds.
template <typename Follower>
void CheckFollowed(const std::string& text, const quillon::LogFile& whole) {
  auto root = std::make_unique<quillon::LogFile>();
  auto follower = std::make_unique<Follower>(*root);
  std::size_t from = 0;
  std::uint32_t mix = 2166136261u;
  for (unsigned char c : text) mix = (mix ^ c) * 16777619u;
  const auto reload = [&](std::size_t to, bool settle) {
    root = std::make_unique<quillon::LogFile>();
    follower = std::make_unique<Follower>(*root);
    follower->Append(std::string_view(text).substr(0, to));
    if (settle) follower->Settle();
  };
  for (int part = 0; from < text.size(); ++part) {
    mix = mix * 1103515245u + 12345u;
    const std::size_t to = part == 5 ? text.size() : std::min(text.size(), from + 1 + (mix >> 8) % (text.size() / 3 + 1));
    if (follower->Append(std::string_view(text).substr(from, to - from)) == Follower::Result::kReload) reload(to, false);
    if ((mix & 0x10000) != 0 && follower->Settle() == Follower::Result::kReload) reload(to, true);
    from = to;
  }
  if (follower->Settle() == Follower::Result::kReload) reload(text.size(), true);
  const std::string difference = quillon::testing::FirstTreeDifference(*root, whole, true);
  if (!difference.empty()) {
    std::fprintf(stderr, "followed log differs from one load:\n%s\n", difference.c_str());
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const std::unique_ptr<quillon::LogFile> root = Load(text);
  if (!root) return 0;  // a wrong file type
  volatile std::size_t sink = ShowAll(*root);
  (void)sink;
#if QUILLON_FUZZ_DECODE
  // The decode target stops here: reading and showing, many inputs a second.
  return 0;
#endif
  quillon::cli::PrintOptions all;
  all.texts = true;
  (void)quillon::cli::TextTree(*root, all);
  all.json = true;
  (void)quillon::cli::JsonTree(*root, all);
  // The hand-over outputs take any tree: every packet rebuilt, every text escaped.
  {
    quillon::StringSink handOver;
    quillon::hand_over::PacketCaptureCounts counts;
    if (!quillon::hand_over::WritePacketCapture(*root, handOver, counts)) std::abort();
    if (!quillon::hand_over::WriteHtmlReport(*root, {"fuzz", "", size, "fuzz"}, handOver)) std::abort();
  }

  // Saved and loaded again: the same tree. (A tree without peers is left out: its saved file,
  // a log without a single exchange or packet, does not load back as a log of its format.)
  quillon::StringSink saved;
  if (root->ChildCount() == 0) return 0;
  // The open path chooses the reader by the content too (an IKEv1 log named .xml is read as
  // one), so what follows goes by the format that was read, whichever target runs.
  const bool v2 = root->IsIKEv2();
  if (v2 && AnyNode(*root, V2NodeUnwritable)) return 0;
  if (v2) {
    if (!quillon::WriteLog(*root, saved)) std::abort();
  } else {
    // The writer tells what it could not carry (damaged lines, restart words inside packets,
    // see IKEv1SaveLosses); the saved log is still written, and must load.
    quillon::IKEv1SaveLosses losses;
    if (!quillon::WriteIKEv1Log(*root, saved, losses)) std::abort();
    if (losses.Any()) {
      if (!Load(saved.text)) std::abort();
      return 0;
    }
  }
  const std::unique_ptr<quillon::LogFile> again = Load(saved.text);
  const std::string difference =
      again ? quillon::testing::FirstTreeDifference(*again, *root) : std::string("the saved log is a wrong file type");
  if (!difference.empty()) {
    // For long runs past a known finding: QUILLON_FUZZ_RECORD=DIR keeps each such input in DIR
    // (named by its hash) and goes on; otherwise the difference ends the run.
    if (const char* record = std::getenv("QUILLON_FUZZ_RECORD")) {
      const std::string path = std::string(record) + "/save-" + std::to_string(std::hash<std::string>{}(text));
      if (std::FILE* file = std::fopen(path.c_str(), "wb")) {
        std::fwrite(text.data(), 1, text.size(), file);
        std::fclose(file);
      }
      return 0;
    }
    std::fprintf(stderr, "saved log reads back differently:\n%s\n", difference.c_str());
    std::abort();
  }

  // A followed log places its last line once the line is complete.
  const std::string lined = text.empty() || text.back() == '\n' ? text : text + '\n';
  // Read in small pieces on worker threads: the same tree as one reader.
  if (!v2) {
    const auto tree = [&text](const quillon::IKEv1ReadOptions& options) {
      quillon::LogFile log;
      auto reader = quillon::DebugLogReader::FromText(text);
      quillon::ReadIKEv1Log(log, reader, options);
      return quillon::cli::TextTree(log, {false, true}) + reader.RestartText();
    };
    // Some sixteen pieces, whatever the input's size.
    const std::size_t pieceSize = std::max<std::size_t>(text.size() / 16, 32);
    if (tree({0, 1}) != tree({pieceSize, 2})) std::abort();
    quillon::LogFile whole;
    auto wholeReader = quillon::DebugLogReader::FromText(lined);
    quillon::ReadIKEv1Log(whole, wholeReader, {0, 1});
    CheckFollowed<quillon::IKEv1Follower>(lined, whole);
    return 0;
  }
  // Small pieces, so that the cutting at exchange start lines and the in-place reading of
  // stretches without one are exercised on every input.
  quillon::LogFile pieces;
  auto reader = quillon::LogLineReader::FromText(text);
  quillon::ReadIKEv2Log(pieces, reader, {64, 1024, 2});
  const std::string piecesDifference = quillon::testing::FirstTreeDifference(pieces, *root, true);
  if (!piecesDifference.empty()) {
    std::fprintf(stderr, "log read in pieces differs from one load:\n%s\n", piecesDifference.c_str());
    std::abort();
  }
  quillon::LogFile whole;
  auto wholeReader = quillon::LogLineReader::FromText(lined);
  quillon::ReadIKEv2Log(whole, wholeReader, {64, 1024, 2});
  CheckFollowed<quillon::IKEv2Follower>(lined, whole);
  return 0;
}
