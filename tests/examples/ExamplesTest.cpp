// The sample logs in examples/: every one loads without losing a packet and shows the
// negotiations it was written to show (saving them is the round-trip test's). (The small sample's
// tree is pinned by the command-line tool's golden output.)
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <filesystem>
#include <iterator>
#include <memory>
#include <set>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "bench/LogGenerator.h"
#include "ikev1/log/Message.h"
#include "ikev1/payloads/KeyMaterialPayloads.h"
#include "ikev1/payloads/SAPayload.h"
#include "tests/ScratchDir.h"
#include "tests/ikev1/negotiation/NegotiationLog.h"

namespace quillon {
namespace {

namespace fs = std::filesystem;
using negtest::Names;
using Texts = std::vector<std::string>;

const fs::path kExamples = testing::ExamplePath("");

std::vector<fs::path> SampleLogs() {
  std::vector<fs::path> logs;
  for (const auto& entry : fs::directory_iterator(kExamples))
    if (entry.path().extension() == ".ilx") logs.push_back(entry.path());
  std::sort(logs.begin(), logs.end());
  return logs;
}

std::unique_ptr<LogFile> LoadFile(const fs::path& path) {
  auto root = std::make_unique<LogFile>();
  DebugLogReader reader(path.string());
  ReadIKEv1Log(*root, reader);
  return root;
}

std::size_t Count(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size())) ++n;
  return n;
}

bool Has(const std::string& text, const std::string& what) { return text.find(what) != std::string::npos; }

void Collect(const LogNode& node, std::vector<const LogNode*>& out) {
  for (const auto& child : node.Children()) {
    out.push_back(child.get());
    Collect(*child, out);
  }
}

// The negotiations of a peer, tunnel by tunnel.
std::vector<const Exchange*> Exchanges(const LogNode& peer) {
  std::vector<const Exchange*> list;
  for (const auto& tunnel : peer.Children())
    for (const auto& child : tunnel->Children())
      if (const auto* exchange = dynamic_cast<const Exchange*>(child.get())) list.push_back(exchange);
  return list;
}

TEST(ExamplesTest, EverySampleLoadsEveryPacketWithItsData) {
  const std::vector<fs::path> logs = SampleLogs();
  ASSERT_FALSE(logs.empty()) << kExamples;
  for (const fs::path& path : logs) {
    SCOPED_TRACE(path.filename().string());
    const std::string file = testing::ReadFileBytes(path);
    const auto root = LoadFile(path);
    ASSERT_GT(root->ChildCount(), 0u);

    std::vector<const LogNode*> nodes;
    Collect(*root, nodes);
    std::size_t packets = 0, records = 0;
    for (const LogNode* node : nodes) {
      // A packet is a message node, or an informational exchange (which holds its packet's
      // header and payloads itself).
      if (dynamic_cast<const Message*>(node) != nullptr || dynamic_cast<const Notify*>(node) != nullptr) {
        ++packets;
        const auto* packet = dynamic_cast<const FolderElement*>(node);
        records += packet != nullptr && packet->PacketDebug() != nullptr;
      }
      // A field whose label or value was not found reads as 0xFFFFFFFF.
      const std::string text = node->Caption() + "\n" + node->DetailText();
      for (const char* unread : {"ffffffff", "4294967295", "not recognized"})
        EXPECT_FALSE(Has(text, unread)) << node->Path() << "\n" << text;
      // What the sample dumps is there: no empty dump, no SA level without its contents.
      const auto* data = dynamic_cast<const KeyMaterialPayload*>(node);
      EXPECT_TRUE(data == nullptr || !data->Data().empty()) << node->Path();
      const bool level = dynamic_cast<const SAPayload*>(node) != nullptr ||
                         dynamic_cast<const PropPayload*>(node) != nullptr ||
                         dynamic_cast<const TransPayload*>(node) != nullptr || node->Name() == "Attribute";
      EXPECT_TRUE(!level || node->ChildCount() > 0) << node->Path();
      EXPECT_TRUE(node->Name() != "Delete" || !node->SpiText().empty()) << node->Path();
      EXPECT_TRUE(node->Name() != "Notify" || !Has(node->Caption(), "UNKNOWN")) << node->Path();
    }
    // Each packet line sits between two lines of 70 "+": no packet was abandoned or dropped,
    // and every packet-debug block reached its packet.
    EXPECT_EQ(packets, Count(file, "\n" + std::string(70, '+') + "\n") / 2);
    EXPECT_EQ(records, Count(file, "##### BEGIN PACKET DEBUG #####"));
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

// ---- gateway-day.ilx ----------------------------------------------------------------------------

class GatewayDayTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { day_ = LoadFile(kExamples / "gateway-day.ilx"); }
  static void TearDownTestSuite() { day_.reset(); }

  static const LogNode& Peer(const std::string& name) {
    for (const auto& peer : day_->Children())
      if (peer->Name() == name) return *peer;
    throw std::runtime_error("no peer " + name);
  }

  static std::unique_ptr<const LogFile> day_;
};

std::unique_ptr<const LogFile> GatewayDayTest::day_;

TEST_F(GatewayDayTest, PeersTunnelsAndTheMergedHomeOffice) {
  // The home office's packets named it by address and by index 3: one merged peer, ordered by
  // its index; the others in address order.
  EXPECT_EQ(Names(*day_), (Texts{"198.51.100.23  (0.0.0.3)", "192.0.2.10", "192.0.2.200", "192.168.50.2",
                                 "198.51.100.40", "198.51.100.99", "203.0.113.77", "203.0.113.150"}));
  // All of its negotiations succeeded, the main mode logged under the address, the rest under
  // the index.
  const std::vector<const Exchange*> home = Exchanges(*day_->Child(0));
  EXPECT_EQ(home.size(), 8u);
  for (const Exchange* exchange : home) EXPECT_TRUE(exchange->IsComplete()) << exchange->Name();
  // Branch A: its tunnel interface, then the dead-peer detection logged without tunnel.
  EXPECT_EQ(Names(Peer("192.0.2.10")), (Texts{"10.255.0.1 <=> 10.255.0.2", "0.0.0.0 <=> 0.0.0.0"}));
  EXPECT_FALSE(NodeAs<TunnelNode>(Peer("192.0.2.10").Child(1))->HasTunnelAddresses());
  EXPECT_EQ(Names(Peer("198.51.100.40")), (Texts{"10.255.1.1 <=> 10.255.1.2", "10.255.2.1 <=> 10.255.2.2"}));
}

TEST_F(GatewayDayTest, FailuresAndTroubleAreTheOnesWrittenIntoTheDay) {
  // Twice a day the gateway calls a peer that never answers: packet 1, sent three times.
  for (const Exchange* mm : Exchanges(Peer("192.0.2.200"))) {
    if (mm->IsRestart()) continue;
    EXPECT_EQ(mm->ChildCount(), 3u);
    for (const auto& message : mm->Children()) EXPECT_EQ(message->Name().rfind("MM packet 1 (", 0), 0u);
    EXPECT_TRUE(Has(mm->DetailText(), "Summary:\r\nNo response from peer"));
  }
  // The others were answered: a pre-shared key mismatch, a proposal the gateway refused, and
  // quick-mode identities the peer refused.
  std::multiset<std::string> rejected;
  for (const char* peer : {"192.168.50.2", "203.0.113.77"})
    for (const Exchange* exchange : Exchanges(Peer(peer)))
      if (const std::string text = exchange->DetailText(); Has(text, "\r\nRejected by "))
        rejected.insert(std::string(exchange->Name()) + ": " + text.substr(text.find("\r\nRejected by ") + 2));
  // The refused proposal names the transforms the gateway's policy did not allow.
  EXPECT_EQ(rejected, (std::multiset<std::string>{
                          "Main Mode: Rejected by peer: PAYLOAD-MALFORMED",
                          "Main Mode: Rejected by local host: NO-PROPOSAL-CHOSEN\r\n"
                          "Not chosen: proposal 1 transform 1 KEY_IKE - encryption 3DES-CBC not allowed by policy partner-77\r\n"
                          "Not chosen: proposal 1 transform 2 KEY_IKE - encryption DES-CBC not allowed by policy partner-77",
                          "QuickMode: Rejected by peer: INVALID-ID-INFORMATION"}));

  // The diagnosis (its rules are pinned down on small logs): branch A's peer deletes one SA
  // twice; branch B deletes a new SA 21 seconds after its quick mode began, in one tunnel, and
  // negotiates the same networks twice within a minute in the other.
  EXPECT_TRUE(Has(Peer("192.0.2.10").Child(0)->DetailText(), "Number of IPsec SAs with repeated Delete notifications\t1"
                                                             "\r\n\tTotal 2 Delete notifications for SPI f1e22cf8\r\n"));
  const std::string b = Peer("198.51.100.40").DetailText();
  EXPECT_TRUE(Has(b, "\r\n10.255.1.1 <=> 10.255.1.2\r\n")) << b;
  EXPECT_TRUE(Has(b, "Number of successive identical negotiations\t\t2\r\n\r\n10.255.2.1 <=> 10.255.2.2\r\n"));
  EXPECT_TRUE(Has(b, "\r\n10.255.2.1 <=> 10.255.2.2\r\nNumber of immediate Delete after successful negotiation\t1\r\n"));
  // The log's own text lists the peers to look at, without totals; the home office (all well)
  // is not among them.
  const std::string log = day_->DetailText();
  ASSERT_EQ(log.rfind("LogFile\r\n\r\nSummary:\r\n\r\n", 0), 0u) << log;
  EXPECT_TRUE(Has(log, "\r\n192.0.2.200\r\nNumber of failed negotiations\t\t\t\t3\r\n"));
  EXPECT_TRUE(Has(log, "\r\n203.0.113.77\r\nNumber of failed negotiations\t\t\t\t3\r\n"
                       "Number of informational NO-PROPOSAL-CHOSEN\t\t1\r\n"
                       "Number of informational INVALID-ID-INFORMATION\t\t1\r\n"));
  for (const char* peer : {"192.0.2.10", "192.168.50.2", "198.51.100.40"})
    EXPECT_TRUE(Has(log, std::string("\r\n") + peer + "\r\n")) << peer;
  EXPECT_FALSE(Has(log, "198.51.100.23"));
  EXPECT_FALSE(Has(log, "Total "));
}

}  // namespace
}  // namespace quillon
