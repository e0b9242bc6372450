// The sample logs in examples/: every one loads without losing a packet, reads back the same
// after being saved, and shows the negotiations it was written to show.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "ikev1/log/DebugLogReader.h"
#include "ikev1/log/Message.h"
#include "ikev1/negotiation/Exchange.h"
#include "ikev1/payloads/KeyMaterialPayloads.h"
#include "ikev1/payloads/SAPayload.h"
#include "model/LogFile.h"

namespace quillon {
namespace {

namespace fs = std::filesystem;

const fs::path kExamples = fs::path(QUILLON_SOURCE_DIR) / "examples";

std::vector<fs::path> SampleLogs() {
  std::vector<fs::path> logs;
  for (const auto& entry : fs::directory_iterator(kExamples))
    if (entry.path().extension() == ".ilx") logs.push_back(entry.path());
  std::sort(logs.begin(), logs.end());
  return logs;
}

std::string FileText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::unique_ptr<LogFile> Load(const fs::path& path) {
  auto root = std::make_unique<LogFile>();
  DebugLogReader reader(path.string());
  root->ReadIKEv1Log(reader);
  return root;
}

std::unique_ptr<LogFile> LoadText(std::string text) {
  auto root = std::make_unique<LogFile>();
  auto reader = DebugLogReader::FromText(std::move(text));
  root->ReadIKEv1Log(reader);
  return root;
}

// Occurrences of `what` in `text`.
std::size_t Count(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size())) ++n;
  return n;
}

// Every node below `node`, depth first.
void Collect(const QLFolder& node, std::vector<const QLFolder*>& out) {
  for (const auto& child : node.Children()) {
    out.push_back(child.get());
    Collect(*child, out);
  }
}

std::vector<const QLFolder*> Nodes(const QLFolder& root) {
  std::vector<const QLFolder*> nodes;
  Collect(root, nodes);
  return nodes;
}

// A packet of the log is a message node, or an informational exchange (which holds its
// packet's header and payloads itself).
bool IsPacket(const QLFolder& node) { return dynamic_cast<const Message*>(&node) != nullptr || node.IsNotify(); }

// The saving walk: a node's block, its children's, then its trailing block.
void WriteTree(const QLFolder& node, std::string& out) {
  node.WriteDebug(out);
  for (const auto& child : node.Children()) WriteTree(*child, out);
  node.WriteDebugLength(out);
}

std::string Saved(const LogFile& root) {
  std::string out = "IKE logging started (file saved by Quillon)\r\n\r\n";
  WriteTree(root, out);
  return out;
}

// Each node's depth, caption and detail text: two trees that print the same look the same.
// Left out is what a saved log has no line for: the restart markers (and so the statistics of
// the log, peers and tunnels, which count them as failed negotiations), and the reason a
// transform-match line gave for a transform that was not chosen.
std::vector<std::string> Rendering(const QLFolder& node, int depth = 0) {
  std::string text = node.DetailText();
  if (const std::size_t cut = text.find("\r\nNot chosen because: "); cut != std::string::npos) text.erase(cut);
  const bool container = node.IsLogRoot() || node.IsTunnel() || (node.Parent() != nullptr && node.Parent()->IsLogRoot());
  if (const std::size_t cut = text.find("\r\nSummary:\r\n"); container && cut != std::string::npos) text.erase(cut);
  std::vector<std::string> lines{std::string(static_cast<std::size_t>(depth), ' ') + node.Caption() + " | " + text};
  for (const auto& child : node.Children()) {
    if (const auto* exchange = dynamic_cast<const Exchange*>(child.get()); exchange != nullptr && exchange->IsRestart())
      continue;
    std::vector<std::string> below = Rendering(*child, depth + 1);
    lines.insert(lines.end(), below.begin(), below.end());
  }
  return lines;
}

// Empty when the renderings agree; else the first line where they part, for the failure message.
std::string FirstDifference(const std::vector<std::string>& got, const std::vector<std::string>& want) {
  for (std::size_t i = 0; i < std::min(got.size(), want.size()); ++i)
    if (got[i] != want[i]) return "line " + std::to_string(i) + ":\n" + got[i] + "\ninstead of\n" + want[i];
  if (got.size() != want.size())
    return std::to_string(got.size()) + " lines instead of " + std::to_string(want.size());
  return {};
}

const QLFolder* PeerNamed(const LogFile& root, const std::string& name) {
  for (const auto& peer : root.Children())
    if (peer->Name() == name) return peer.get();
  return nullptr;
}

// The negotiations of a peer, tunnel by tunnel.
std::vector<const Exchange*> Exchanges(const QLFolder& peer) {
  std::vector<const Exchange*> list;
  for (const auto& tunnel : peer.Children())
    for (const auto& child : tunnel->Children())
      if (const auto* exchange = dynamic_cast<const Exchange*>(child.get())) list.push_back(exchange);
  return list;
}

std::vector<std::string> ExchangeNames(const QLFolder& peer) {
  std::vector<std::string> names;
  for (const Exchange* exchange : Exchanges(peer)) names.push_back(exchange->Name());
  return names;
}

std::vector<std::string> ChildNames(const QLFolder& node) {
  std::vector<std::string> names;
  for (const auto& child : node.Children()) names.push_back(child->Name());
  return names;
}

// ---- every sample -------------------------------------------------------------------------------

TEST(ExamplesTest, EverySampleLoadsEveryPacketWithItsData) {
  const std::vector<fs::path> logs = SampleLogs();
  ASSERT_FALSE(logs.empty()) << kExamples;
  for (const fs::path& path : logs) {
    SCOPED_TRACE(path.filename().string());
    const std::string file = FileText(path);
    const auto root = Load(path);
    ASSERT_GT(root->ChildCount(), 0u);

    std::size_t packets = 0, records = 0;
    for (const QLFolder* node : Nodes(*root)) {
      if (IsPacket(*node)) {
        ++packets;
        if (node->PacketDebug() != nullptr) ++records;
      }
      // A field whose label or value was not found reads as 0xFFFFFFFF.
      const std::string text = node->Caption() + "\n" + node->DetailText();
      EXPECT_EQ(text.find("ffffffff"), std::string::npos) << node->Path() << "\n" << text;
      EXPECT_EQ(text.find("4294967295"), std::string::npos) << node->Path() << "\n" << text;
      EXPECT_EQ(text.find("not recognized"), std::string::npos) << node->Path() << "\n" << text;

      // What the sample dumps is there: no empty dump, no SA level without its contents.
      if (const auto* data = dynamic_cast<const KeyMaterialPayload*>(node)) {
        EXPECT_FALSE(data->Data().empty()) << node->Path();
      }
      if (dynamic_cast<const SAPayload*>(node) != nullptr || dynamic_cast<const PropPayload*>(node) != nullptr ||
          dynamic_cast<const TransPayload*>(node) != nullptr || node->Name() == "Attribute") {
        EXPECT_GT(node->ChildCount(), 0u) << node->Path();
      }
      if (node->Name() == "Delete") {
        EXPECT_FALSE(node->SpiText().empty()) << node->Path();
      }
      if (node->Name() == "Notify") {
        EXPECT_EQ(node->Caption().find("UNKNOWN"), std::string::npos) << node->Path();
      }
    }
    // Each packet line sits between two lines of 70 "+": no packet was abandoned or dropped,
    // and every packet-debug block reached its packet.
    EXPECT_EQ(packets, Count(file, "\n" + std::string(70, '+') + "\n") / 2);
    EXPECT_EQ(records, Count(file, "##### BEGIN PACKET DEBUG #####"));
  }
}

TEST(ExamplesTest, SavedSampleReadsBackTheSame) {
  for (const fs::path& path : SampleLogs()) {
    SCOPED_TRACE(path.filename().string());
    const auto root = Load(path);
    const std::string saved = Saved(*root);
    const auto again = LoadText(saved);
    EXPECT_EQ(FirstDifference(Rendering(*again), Rendering(*root)), "");
    // Saving the reloaded tree changes nothing more.
    EXPECT_EQ(Saved(*again), saved);
  }
}

// ---- small.ilx: one main mode and one quick mode ------------------------------------------------

TEST(ExamplesTest, SmallSampleIsOneMainModeAndOneQuickMode) {
  const auto root = Load(kExamples / "small.ilx");
  ASSERT_EQ(ChildNames(*root), std::vector<std::string>{"192.0.2.10"});
  const QLFolder& peer = *root->Child(0);
  ASSERT_EQ(peer.ChildCount(), 1u);
  EXPECT_FALSE(peer.Child(0)->HasTunnelAddresses());

  const std::vector<const Exchange*> exchanges = Exchanges(peer);
  ASSERT_EQ(exchanges.size(), 2u);
  const Exchange& mm = *exchanges[0];
  const Exchange& qm = *exchanges[1];
  EXPECT_EQ(mm.Caption(), "Main Mode   ==> Tue Mar 12 2024 From: 09:14:02 To: 09:14:07");
  EXPECT_EQ(ChildNames(mm), (std::vector<std::string>{"MM packet 1 (09:14:02)", "MM packet 2 (09:14:03)",
                                                      "MM packet 3 (09:14:04)", "MM packet 4 (09:14:05)",
                                                      "MM packet 5 (09:14:06)", "MM packet 6 (09:14:07)"}));
  EXPECT_EQ(ChildNames(*mm.Child(0)),
            (std::vector<std::string>{"Header", "Security Association", "Vendor ID", "Vendor ID", "Vendor ID"}));
  EXPECT_EQ(ChildNames(*mm.Child(2)),
            (std::vector<std::string>{"Header", "Key", "Nonce", "Vendor ID", "NAT Discovery", "NAT Discovery"}));
  EXPECT_EQ(ChildNames(*mm.Child(4)), (std::vector<std::string>{"Header", "ID", "Hash", "Notify"}));
  EXPECT_EQ(ChildNames(*mm.Child(5)), (std::vector<std::string>{"Header", "ID", "Hash"}));

  EXPECT_TRUE(qm.IsComplete());
  ASSERT_EQ(qm.ChildCount(), 3u);
  EXPECT_EQ(qm.Child(0)->Name(), "QM packet 1 (09:14:09) - 10.1.0.0/16 - 172.16.20.0/24");
  EXPECT_EQ(ChildNames(*qm.Child(0)),
            (std::vector<std::string>{"Header", "Hash", "Security Association", "Nonce", "ID", "ID"}));
  // The initiator offers two ESP transforms and the responder picks the first.
  const QLFolder& offer = *qm.Child(0)->Child(2)->Child(0);
  const QLFolder& answer = *qm.Child(1)->Child(2)->Child(0);
  EXPECT_EQ(ChildNames(offer), (std::vector<std::string>{"tran1", "tran2"}));
  EXPECT_EQ(offer.Child(0)->Caption(), "tran1 ESP_AES");
  EXPECT_EQ(answer.ChildCount(), 1u);
  EXPECT_NE(offer.SpiText(), answer.SpiText());
  EXPECT_TRUE(qm.MatchesSpi(offer.SpiText()));
  // The created hash was logged as zeros and completed by its final block.
  const auto& hash = dynamic_cast<const KeyMaterialPayload&>(*qm.Child(0)->Child(1));
  EXPECT_NE(std::count(hash.Data().begin(), hash.Data().end(), 0u), static_cast<std::ptrdiff_t>(hash.Data().size()));
}

// ---- gateway-day.ilx ----------------------------------------------------------------------------

class GatewayDayTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { day_ = Load(kExamples / "gateway-day.ilx").release(); }
  static void TearDownTestSuite() {
    delete day_;
    day_ = nullptr;
  }

  static const QLFolder& Peer(const std::string& name) {
    const QLFolder* peer = PeerNamed(*day_, name);
    if (peer == nullptr) throw std::runtime_error("no peer " + name);
    return *peer;
  }

  static const LogFile* day_;
};

const LogFile* GatewayDayTest::day_ = nullptr;

TEST_F(GatewayDayTest, PeersAndTunnels) {
  // The home office's packets named it by address and by index 3: one merged peer, ordered by
  // its index.
  EXPECT_EQ(ChildNames(*day_), (std::vector<std::string>{"198.51.100.23  (0.0.0.3)", "192.0.2.10", "192.0.2.200",
                                                          "192.168.50.2", "198.51.100.40", "198.51.100.99",
                                                          "203.0.113.77", "203.0.113.150"}));
  // Branch A: its tunnel interface, and the dead-peer detection logged without tunnel.
  EXPECT_EQ(ChildNames(Peer("192.0.2.10")),
            (std::vector<std::string>{"10.255.0.1 <=> 10.255.0.2", "0.0.0.0 <=> 0.0.0.0"}));
  EXPECT_TRUE(Peer("192.0.2.10").Child(0)->HasTunnelAddresses());
  EXPECT_FALSE(Peer("192.0.2.10").Child(1)->HasTunnelAddresses());
  EXPECT_EQ(ChildNames(Peer("198.51.100.40")),
            (std::vector<std::string>{"10.255.1.1 <=> 10.255.1.2", "10.255.2.1 <=> 10.255.2.2"}));
  for (const char* name : {"192.0.2.200", "192.168.50.2", "203.0.113.77", "203.0.113.150"})
    EXPECT_FALSE(Peer(name).Child(0)->HasTunnelAddresses()) << name;
}

TEST_F(GatewayDayTest, FailedNegotiationsAreTheOnesWrittenToFail) {
  std::multiset<std::string> failed;
  for (const auto& peer : day_->Children())
    for (const Exchange* exchange : Exchanges(*peer))
      if (!exchange->IsComplete() && !exchange->IsRestart()) failed.insert(peer->Name() + " " + exchange->Name());
  EXPECT_EQ(failed, (std::multiset<std::string>{"192.0.2.200 Main Mode", "192.0.2.200 Main Mode",
                                                "192.168.50.2 Main Mode", "203.0.113.77 Main Mode",
                                                "203.0.113.77 QuickMode", "198.51.100.99 ConfigMode"}));

  // Twice a day the gateway calls a peer that never answers: packet 1, sent three times.
  for (const Exchange* mm : Exchanges(Peer("192.0.2.200"))) {
    if (mm->IsRestart()) continue;
    ASSERT_EQ(mm->ChildCount(), 3u);
    for (const auto& message : mm->Children()) EXPECT_EQ(message->Name().rfind("MM packet 1 (", 0), 0u);
    EXPECT_NE(mm->Caption().find(" Failed!"), std::string::npos);
  }

  // The partner's first offer: both transforms refused, and the refusal sent back.
  const std::vector<const Exchange*> partner = Exchanges(Peer("203.0.113.77"));
  ASSERT_GE(partner.size(), 5u);
  ASSERT_EQ(partner[0]->ChildCount(), 1u);
  const QLFolder& proposal = *partner[0]->Child(0)->Child(1)->Child(0);
  ASSERT_EQ(proposal.ChildCount(), 2u);
  for (const auto& transform : proposal.Children()) {
    const auto& t = dynamic_cast<const TransPayload&>(*transform);
    EXPECT_TRUE(t.IsNotChosen());
    EXPECT_NE(t.NotChosenReason().find("not allowed by policy partner-77"), std::string::npos);
  }
  EXPECT_EQ(partner[1]->Name(), "Info NO-PROPOSAL-CHOSEN");
  // Later the same day the phase 1 succeeds, the gateway's quick mode names a network the
  // partner does not protect, and the partner's own quick mode succeeds.
  EXPECT_TRUE(partner[2]->IsComplete());
  EXPECT_EQ(partner[3]->Name(), "QuickMode");
  EXPECT_EQ(partner[4]->Name(), "Info INVALID-ID-INFORMATION");

  // The lab peer cannot read packet 5 (wrong pre-shared key).
  const std::vector<const Exchange*> lab = Exchanges(Peer("192.168.50.2"));
  ASSERT_GE(lab.size(), 2u);
  EXPECT_EQ(lab[0]->ChildCount(), 7u);
  EXPECT_EQ(lab[1]->Name(), "Info PAYLOAD-MALFORMED");

  // kmiller's first password is refused; the gateway then deletes the IKE SA.
  const std::vector<std::string> kmiller = ExchangeNames(Peer("198.51.100.99"));
  ASSERT_GE(kmiller.size(), 3u);
  EXPECT_EQ(std::vector<std::string>(kmiller.begin(), kmiller.begin() + 3),
            (std::vector<std::string>{"Aggressive", "ConfigMode", "Delete IKE"}));
}

TEST_F(GatewayDayTest, RestartEndsEveryOpenNegotiation) {
  // Every peer known at the restart gets one marker, in its first tunnel; the home office
  // first appears afterwards.
  std::size_t markers = 0;
  for (const auto& peer : day_->Children()) {
    std::size_t own = 0;
    for (const auto& tunnel : peer->Children())
      for (const auto& exchange : tunnel->Children())
        if (exchange->Name() == "Daemon Restarted!!") {
          ++own;
          EXPECT_EQ(tunnel.get(), peer->Child(0)) << peer->Name();
          EXPECT_FALSE(exchange->DetailText().empty()) << peer->Name();
        }
    EXPECT_EQ(own, peer->Name() == "198.51.100.23  (0.0.0.3)" ? 0u : 1u) << peer->Name();
    markers += own;
  }
  EXPECT_EQ(markers, 7u);

  // Branch A negotiates again after the marker: a new main mode, not a continuation.
  const QLFolder& tunnel = *Peer("192.0.2.10").Child(0);
  std::size_t marker = tunnel.ChildCount();
  for (std::size_t i = 0; i < tunnel.ChildCount(); ++i)
    if (tunnel.Child(i)->Name() == "Daemon Restarted!!") marker = i;
  ASSERT_LT(marker + 1, tunnel.ChildCount());
  EXPECT_EQ(tunnel.Child(marker + 1)->Name(), "Main Mode");
  EXPECT_TRUE(tunnel.Child(marker + 1)->IsComplete());
}

TEST_F(GatewayDayTest, IndexedPeerIsMergedWithItsAddress) {
  const QLFolder& home = Peer("198.51.100.23  (0.0.0.3)");
  EXPECT_TRUE(home.IsMergedPeer());
  EXPECT_EQ(home.PeerAddress(), 3u);
  EXPECT_EQ(PeerNamed(*day_, "0.0.0.3"), nullptr);
  EXPECT_EQ(PeerNamed(*day_, "198.51.100.23"), nullptr);
  // The main mode was logged under the address, the rest under the index.
  EXPECT_EQ(ExchangeNames(home), (std::vector<std::string>{"Main Mode", "QuickMode", "DPD", "DPD", "DPD", "DPD",
                                                           "Delete IPsec", "Delete IKE"}));
  for (const Exchange* exchange : Exchanges(home)) {
    EXPECT_TRUE(exchange->IsComplete()) << exchange->Name();
    EXPECT_EQ(exchange->ReassignedIndex(), 3u);
    EXPECT_EQ(exchange->ReassignedAddress(), 0xc6336417u);  // 198.51.100.23
  }
}

TEST_F(GatewayDayTest, RemoteAccessUsersAndAddresses) {
  auto configs = [](const QLFolder& peer) {
    std::vector<const Exchange*> list;
    for (const Exchange* exchange : Exchanges(peer))
      if (exchange->Name() == "ConfigMode") list.push_back(exchange);
    return list;
  };
  // jdoe logs in twice (before and after the restart): authentication, then the address.
  const std::vector<const Exchange*> jdoe = configs(Peer("203.0.113.150"));
  ASSERT_EQ(jdoe.size(), 4u);
  for (std::size_t i = 0; i < jdoe.size(); i += 2) {
    EXPECT_EQ(ChildNames(*jdoe[i]).size(), 4u);
    EXPECT_TRUE(jdoe[i]->MatchesUserName("jdoe"));
    EXPECT_TRUE(jdoe[i + 1]->MatchesUserDetail("10.20.30.5"));
  }
  const std::vector<const Exchange*> kmiller = configs(Peer("198.51.100.99"));
  ASSERT_EQ(kmiller.size(), 3u);
  EXPECT_FALSE(kmiller[0]->IsComplete());
  EXPECT_TRUE(kmiller[0]->MatchesUserName("kmiller"));
  EXPECT_TRUE(kmiller[1]->IsComplete());
  EXPECT_TRUE(kmiller[2]->MatchesUserDetail("10.20.30.6"));

  // The remote clients negotiate in aggressive mode and quick mode through NAT.
  const std::vector<std::string> names = ExchangeNames(Peer("203.0.113.150"));
  EXPECT_EQ(std::count(names.begin(), names.end(), "Aggressive"), 2);
  EXPECT_EQ(std::count(names.begin(), names.end(), "QuickMode"), 2);
  const Exchange& aggressive = *Exchanges(Peer("203.0.113.150"))[0];
  EXPECT_TRUE(aggressive.IsComplete());
  EXPECT_EQ(ChildNames(aggressive), (std::vector<std::string>{"AG packet 1 (08:10:14)", "AG packet2 (08:10:15)",
                                                              "AG packet3 (08:10:16)"}));
}

TEST_F(GatewayDayTest, InformationalExchanges) {
  std::size_t dpd = 0, deleteIpsec = 0, deleteIke = 0;
  for (const auto& peer : day_->Children()) {
    for (const Exchange* exchange : Exchanges(*peer)) {
      if (!exchange->IsNotify()) continue;
      dpd += exchange->Name() == "DPD";
      deleteIpsec += exchange->Name() == "Delete IPsec";
      deleteIke += exchange->Name() == "Delete IKE";
    }
  }
  EXPECT_EQ(dpd, 20u);
  EXPECT_EQ(deleteIpsec, 8u);
  EXPECT_EQ(deleteIke, 4u);

  // Branch A's peer deletes the same SA twice; branch B deletes a new SA 18 seconds after
  // making it.
  const QLFolder& a = *Peer("192.0.2.10").Child(0);
  std::vector<std::string> spis;
  for (const auto& exchange : a.Children())
    if (exchange->Name() == "Delete IPsec" && exchange->Caption().find("<==") != std::string::npos)
      spis.push_back(exchange->SpiText());
  ASSERT_EQ(spis.size(), 2u);
  EXPECT_EQ(spis[0], spis[1]);

  const QLFolder& b2 = *Peer("198.51.100.40").Child(1);
  const std::vector<std::string> b2Names = ChildNames(b2);
  const auto del = std::find(b2Names.begin(), b2Names.end(), "Delete IPsec");
  ASSERT_NE(del, b2Names.end());
  const QLFolder& deleted = *b2.Child(static_cast<std::size_t>(del - b2Names.begin()) - 1);
  EXPECT_EQ(deleted.Name(), "QuickMode");
  EXPECT_TRUE(deleted.MatchesSpi(b2.Child(static_cast<std::size_t>(del - b2Names.begin()))->SpiText()));
  EXPECT_TRUE(deleted.IsCloseInTime(*b2.Child(static_cast<std::size_t>(del - b2Names.begin()))));
}

// The negotiation of the peer named `name` that started at `time`, as the tree shows it.
const Exchange& Negotiation(const QLFolder& peer, const std::string& name, const std::string& time) {
  for (const Exchange* exchange : Exchanges(peer))
    if (exchange->Name() == name && exchange->Caption().find(" From: " + time) != std::string::npos) return *exchange;
  throw std::runtime_error("no " + name + " at " + time + " in " + peer.Name());
}

bool Has(const std::string& text, const std::string& what) { return text.find(what) != std::string::npos; }

TEST_F(GatewayDayTest, DiagnosisFlagsTheDaysTrouble) {
  const std::string summary = "\r\n\r\nSummary:";
  // Branch A's peer deletes one SA twice.
  const QLFolder& a = Peer("192.0.2.10");
  for (const char* time : {"11:45:00", "11:45:10"}) {
    EXPECT_TRUE(Has(Negotiation(a, "Delete IPsec", time).DetailText(),
                    summary + "\r\nRepeated Delete for same negotiation")) << time;
  }
  EXPECT_TRUE(Has(a.DetailText(), "\r\n10.255.0.1 <=> 10.255.0.2\r\n"));
  EXPECT_TRUE(Has(a.Child(0)->DetailText(), "Number of IPsec SAs with repeated Delete notifications\t1\r\n"
                                            "\tTotal 2 Delete notifications for SPI f1e22cf8\r\n"));

  // Branch B: its second tunnel's new SA is deleted 21 seconds after the quick mode began; its
  // first tunnel negotiates the same networks twice within a minute.
  const QLFolder& b = Peer("198.51.100.40");
  EXPECT_TRUE(Has(Negotiation(b, "QuickMode", "10:15:00").DetailText(),
                  summary + "\r\nImmediate Delete after successful negotiation"));
  EXPECT_TRUE(Has(Negotiation(b, "Delete IPsec", "10:15:21").DetailText(),
                  summary + "\r\nImmediate Delete after successful negotiation"));
  for (const char* time : {"11:00:00", "11:00:41"}) {
    EXPECT_TRUE(Has(Negotiation(b, "QuickMode", time).DetailText(), summary + "\r\nSuccessive identical negotiations"))
        << time;
  }
  EXPECT_TRUE(Has(b.DetailText(), "\r\n10.255.1.1 <=> 10.255.1.2\r\n"));
  EXPECT_TRUE(Has(b.DetailText(), "Number of successive identical negotiations\t\t2\r\n"));
  EXPECT_TRUE(Has(b.DetailText(), "\r\n10.255.2.1 <=> 10.255.2.2\r\nNumber of immediate Delete after successful "
                                  "negotiation\t1\r\n"));

  // The partner's proposals are refused, later its quick mode names a network it does not have.
  const QLFolder& partner = Peer("203.0.113.77");
  EXPECT_TRUE(Has(Negotiation(partner, "Info NO-PROPOSAL-CHOSEN", "02:15:41").DetailText(),
                  summary + "\r\nMismatch of encryption methods"));
  EXPECT_TRUE(Has(Negotiation(partner, "Info INVALID-ID-INFORMATION", "09:30:09").DetailText(),
                  summary + "\r\nPossible root cause:\r\n1. Invalid ID information in ID payload"));
  const Exchange& refusedQuickMode = Negotiation(partner, "QuickMode", "09:30:07");
  EXPECT_TRUE(Has(refusedQuickMode.Caption(), " Failed!"));
  EXPECT_TRUE(Has(refusedQuickMode.DetailText(), summary + "\r\nNo response from peer"));

  // The lab peer answers packet 5 with PAYLOAD-MALFORMED; the unanswered peer never answers.
  const Exchange& lab = Negotiation(Peer("192.168.50.2"), "Main Mode", "07:30:00");
  EXPECT_TRUE(Has(lab.Caption(), " Failed!"));
  EXPECT_TRUE(Has(lab.DetailText(), summary + "\r\nNo response from peer"));
  EXPECT_TRUE(Has(Negotiation(Peer("192.168.50.2"), "Info PAYLOAD-MALFORMED", "07:30:37").Caption(), "<=="));
  for (const char* time : {"00:01:00", "16:00:00"}) {
    const Exchange& unanswered = Negotiation(Peer("192.0.2.200"), "Main Mode", time);
    EXPECT_TRUE(Has(unanswered.Caption(), " Failed!")) << time;
    EXPECT_TRUE(Has(unanswered.DetailText(), summary + "\r\nNo response from peer")) << time;
  }

  // The log's own text lists the peers to look at, the home office (all well) not among them.
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
