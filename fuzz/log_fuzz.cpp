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

#include "cli/TreePrinter.h"
#include "ikev1/log/DebugLogReader.h"
#include "ikev1/log/FolderElement.h"
#include "ikev1/log/FollowIKEv1Log.h"
#include "ikev1/log/ReadIKEv1Log.h"
#include "ikev1/negotiation/Exchange.h"
#include "ikev1/payloads/VendorIDPayload.h"
#include "ikev2/FollowIKEv2Log.h"
#include "ikev2/LogLineReader.h"
#include "ikev2/ReadIKEv2Log.h"
#include "ikev2/V2Exchange.h"
#include "ikev2/V2Payloads.h"
#include "logs/OpenLog.h"
#include "logs/SaveLog.h"
#include "model/ByteSource.h"
#include "model/LogFile.h"
#include "model/TreeRules.h"
#include "model/VisibleText.h"
#include "model/VisibleWalk.h"
#include "tests/model/TreeCompare.h"

namespace {

// ---- What a saved log cannot carry ----------------------------------------------------------
// A few trees hold something no text in the log format reads back as: the round trip is not
// checked for them. Each case is named and kept as narrow as the format's reason for it.

template <typename Test>
bool AnyNode(const quillon::QLFolder& node, const Test& test) {
  if (test(node)) return true;
  for (std::size_t i = 0; i < node.ChildCount(); ++i)
    if (AnyNode(*node.Child(i), test)) return true;
  return false;
}

// A Vendor ID fields block is read as "VIDData:", "Product:", "Version:" (each searched for
// over a bounded run of tokens), then free lines. Free lines with one of the three missing mean
// the search ran past its bound and the free lines began where it stopped: the tokens it passed
// over are not in the tree, and written without them the search would read the free lines.
bool VendorFieldsSearchOverran(const quillon::QLFolder& node) {
  const auto* vendor = dynamic_cast<const quillon::VendorIDPayload*>(&node);
  if (vendor == nullptr || !vendor->HasFields()) return false;
  const auto& lines = vendor->FieldLines();
  static constexpr std::string_view kLabels[] = {"VIDData: ", "Product: ", "Version: "};
  std::size_t labelled = 0;
  while (labelled < lines.size() && labelled < 3 && lines[labelled].starts_with(kLabels[labelled])) ++labelled;
  return labelled < 3 && lines.size() > labelled;
}

// A "started" or "daemon" token is the daemon's restart line, wherever the reader meets it. Met
// inside a packet-debug label it ends the record there, the label keeping the token (repeated,
// as the reader returns it while the restart holds); written back, the record's line carries
// the restart to a place in the log where it reads as a restart of its own.
bool PacketDebugLabelHoldsRestart(const quillon::QLFolder& node) {
  const auto* element = dynamic_cast<const quillon::FolderElement*>(&node);
  if (element == nullptr || element->PacketDebug() == nullptr) return false;
  const std::string& text = element->PacketDebug()->text;
  for (std::size_t start = 0; start < text.size();) {
    std::size_t next = text.find("\r\n", start + 2);
    if (next == std::string::npos) next = text.size();
    std::string_view label(text.data() + start + 2, next - start - 2);
    label = label.substr(0, label.find('\t'));
    while (!label.empty()) {
      const std::size_t space = label.find(' ');
      if (quillon::DebugLogReader::IsRestartToken(label.substr(0, space))) return true;
      label = space == std::string_view::npos ? std::string_view() : label.substr(space + 1);
    }
    start = next;
  }
  return false;
}

// A packet's start line ends with the date and time, read as the tokens that follow, across
// line ends; a packet-debug line's label runs over up to eight tokens until one holds a colon,
// and its value is read from the next character that is no blank, across line ends. Where the
// end of the input cut either short (an empty time or year, a short label without a colon, an
// empty value), the saved log has to end there too: the writer puts the packet's negotiation
// last. That is not possible when the packet is not the last of its negotiation, or the
// negotiation not the last of its tunnel (one begun after it came before its last packet), or
// the regrouping moved it to a merged peer: then others would have to move. Nor for a cut
// record in a log with restarts: its packet may lie before restarts that the record follows.
bool PacketCutNotLast(const quillon::QLFolder& node) {
  const auto* element = dynamic_cast<const quillon::FolderElement*>(&node);
  if (element == nullptr) return false;
  const bool lineCut = element->GetHeader() != nullptr && element->GetHeader()->LineCutByEnd();
  const bool recordCut = element->PacketDebug() != nullptr && element->PacketDebug()->CutByEnd();
  if (!lineCut && !recordCut) return false;
  const quillon::QLFolder* negotiation = dynamic_cast<const quillon::Exchange*>(&node) ? &node : node.Parent();
  const quillon::QLFolder* tunnel = negotiation != nullptr ? negotiation->Parent() : nullptr;
  if (tunnel == nullptr || tunnel->Parent() == nullptr || tunnel->Parent()->IsMergedPeer()) return true;
  if (!lineCut) {
    const quillon::QLFolder* root = tunnel->Parent()->Parent();
    if (root != nullptr && AnyNode(*root, [](const quillon::QLFolder& n) {
          const auto* exchange = dynamic_cast<const quillon::Exchange*>(&n);
          return exchange != nullptr && exchange->IsRestart();
        }))
      return true;
  }
  const bool lastPacket = negotiation == &node || negotiation->Child(negotiation->ChildCount() - 1) == &node;
  return !lastPacket || tunnel->Child(tunnel->ChildCount() - 1) != negotiation;
}

// The IKEv2 reader matches fixed texts at fixed places of a line and nothing is escaped, so a
// name="value" or <name>value</name> cannot carry an empty name, a name holding a tag bracket,
// or a name or value holding one of the texts by which the reader finds the log's structure.
bool V2AttributeUnwritable(std::string_view key, std::string_view value) {
  static constexpr std::string_view kStructure[] = {
      "<Exchange", "</Exchange>", "<Message ", "</Message>", "<Payloads>", "</Payloads>", "<Payload ",
      "</Payload>", "<prop ", "</prop>", "<TrafficSelector", "</TrafficSelector>", "<CA>", "</CA>",
      "<Attr>", "</Attr>", "<peerIP>", "</peerIP>", "<arrivalTime>", "</arrivalTime>", "<MsgID>", "</MsgID>"};
  if (key.empty() || key.find_first_of("<>") != std::string_view::npos) return true;
  for (std::string_view text : kStructure)
    if (key.find(text) != std::string_view::npos || value.find(text) != std::string_view::npos) return true;
  return false;
}

bool V2NodeUnwritable(const quillon::QLFolder& node) {
  const quillon::AttributeMap* attributes = nullptr;
  if (const auto* n = dynamic_cast<const quillon::v2Exchange*>(&node)) attributes = &n->Attributes();
  else if (const auto* n = dynamic_cast<const quillon::v2Message*>(&node)) attributes = &n->Attributes();
  else if (const auto* n = dynamic_cast<const quillon::v2Payload*>(&node)) attributes = &n->Attributes();
  else if (const auto* n = dynamic_cast<const quillon::v2Proposal*>(&node)) attributes = &n->Attributes();
  else if (const auto* n = dynamic_cast<const quillon::v2CA*>(&node)) attributes = &n->Attributes();
  else if (const auto* n = dynamic_cast<const quillon::v2TrafficSelector*>(&node)) attributes = &n->Attributes();
  if (attributes == nullptr) return false;
  for (const auto& [key, value] : *attributes)
    if (V2AttributeUnwritable(key, value)) return true;
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
std::size_t ShowAll(const quillon::QLFolder& node) {
  std::size_t shown = quillon::VisibleText(node.Caption()).size() +
                      quillon::VisibleText(node.DetailText(), true).size() + node.SummaryText(true).size() +
                      static_cast<std::size_t>(quillon::StateIconIndex(node));
  quillon::ForEachVisibleChild(node, [&shown](const quillon::QLFolder& child) {
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
  quillon::cli::PrintOptions all;
  all.texts = true;
  const std::string printed = quillon::cli::TextTree(*root, all);
  all.json = true;
  (void)quillon::cli::JsonTree(*root, all);

  // Saved and loaded again: the same tree. (A tree without peers is left out: its saved file,
  // a log without a single exchange or packet, does not load back as a log of its format.)
  quillon::StringSink saved;
  if (root->ChildCount() == 0) return 0;
#if QUILLON_FUZZ_IKEV1
  const bool carried = !AnyNode(*root, PacketCutNotLast) && !AnyNode(*root, VendorFieldsSearchOverran) &&
                       !AnyNode(*root, PacketDebugLabelHoldsRestart);
#else
  const bool carried = !AnyNode(*root, V2NodeUnwritable);
#endif
  if (!carried) return 0;
  if (!quillon::WriteLog(*root, saved)) std::abort();
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
#if QUILLON_FUZZ_IKEV1
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
#else
  // Small pieces, so that the cutting at exchange start lines and the in-place reading of
  // stretches without one are exercised on every input.
  quillon::LogFile pieces;
  auto reader = quillon::LogLineReader::FromText(text);
  quillon::ReadIKEv2Log(pieces, reader, {64, 1024, 2});
  if (quillon::cli::TextTree(pieces, {false, true}) != printed) std::abort();
  quillon::LogFile whole;
  auto wholeReader = quillon::LogLineReader::FromText(lined);
  quillon::ReadIKEv2Log(whole, wholeReader, {64, 1024, 2});
  CheckFollowed<quillon::IKEv2Follower>(lined, whole);
#endif
  return 0;
}
