// The sample logs in examples/ torn apart (their whole output is pinned by GoldenTest, saving
// them by the round-trip test).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <filesystem>
#include <iterator>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "bench/LogGenerator.h"
#include "ikev1/log/Message.h"
#include "tests/ScratchDir.h"
#include "tests/ikev1/negotiation/NegotiationLog.h"

namespace quillon {
namespace {

namespace fs = std::filesystem;

const fs::path kExamples = testing::ExamplePath("");

std::unique_ptr<LogFile> LoadFile(const fs::path& path) {
  auto root = std::make_unique<LogFile>();
  DebugLogReader reader(path.string());
  ReadIKEv1Log(*root, reader);
  return root;
}

void Collect(const LogNode& node, std::vector<const LogNode*>& out) {
  for (const auto& child : node.Children()) {
    out.push_back(child.get());
    Collect(*child, out);
  }
}

// The packets of a tree by their headers: kind, direction, cookie and time.
std::multiset<std::string> PacketNames(const LogNode& root) {
  std::vector<const LogNode*> nodes;
  Collect(root, nodes);
  std::multiset<std::string> names;
  for (const LogNode* node : nodes) {
    const Header* header = nullptr;
    if (const auto* message = dynamic_cast<const Message*>(node)) header = message->GetHeader();
    if (const auto* notify = dynamic_cast<const Notify*>(node)) header = notify->GetHeader();
    if (header != nullptr)
      names.insert(NumberText(header->PacketKind(), 16) + (header->IsCreated() ? " > " : " < ") +
                   header->InitCookieText() + " " + header->TimeText());
  }
  return names;
}

// The daemon's output torn off inside a packet's payloads, anywhere in any block, must not
// take the next packet with it: in each round every packet of the samples is cut at another
// place after its first payload keyword, and every packet is still read with its own header.
TEST(ExamplesTest, APacketCutShortAnywhereLeavesTheNextOneWhole) {
  for (const char* name : {"small.ilx", "gateway-day.ilx"}) {
    SCOPED_TRACE(name);
    const std::string text = testing::ReadFileBytes(kExamples / name);
    const std::vector<std::size_t> starts = bench::PacketUnitStarts(text, 0);
    ASSERT_GT(starts.size(), 5u);
    const std::multiset<std::string> whole = PacketNames(*LoadFile(kExamples / name));
    ASSERT_EQ(whole.size(), starts.size());
    for (std::size_t round = 0; round < 16; ++round) {
      std::string cut = text.substr(0, starts[0]);
      for (std::size_t i = 0; i < starts.size(); ++i) {
        const std::size_t end = i + 1 < starts.size() ? starts[i + 1] : text.size();
        const std::string_view unit(text.data() + starts[i], end - starts[i]);
        const std::size_t keyword = unit.find("Payload:");
        // (Left whole before a received packet that opens with its packet-debug record: a block
        // cut there still takes that packet along.)
        if (keyword == std::string_view::npos || text.compare(end, 5, "#####") == 0) {
          cut += unit;
          continue;
        }
        // The payloads run to the packet-debug record or, in a created packet, to its final
        // length and hash.
        const std::size_t first = unit.rfind('\n', keyword) + 1;
        const std::size_t last = std::min({unit.find("\n#####", first), unit.find("\ndebugIsakmpHdrLen", first), unit.size()});
        const std::size_t torn = first + 1 + (round * 97 + i * 31) % (last - first);
        cut.append(unit.substr(0, torn)).push_back('\n');
      }
      auto root = std::make_unique<LogFile>();
      DebugLogReader reader = DebugLogReader::FromText(cut);
      ReadIKEv1Log(*root, reader);
      const std::multiset<std::string> names = PacketNames(*root);
      std::vector<std::string> lost, gained;
      std::set_difference(whole.begin(), whole.end(), names.begin(), names.end(), std::back_inserter(lost));
      std::set_difference(names.begin(), names.end(), whole.begin(), whole.end(), std::back_inserter(gained));
      EXPECT_TRUE(lost.empty() && gained.empty())
          << "round " << round << ": lost " << ::testing::PrintToString(lost) << ", gained " << ::testing::PrintToString(gained);
    }
  }
}

}  // namespace
}  // namespace quillon
