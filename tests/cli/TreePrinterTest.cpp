#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>

#include "cli/TreePrinter.h"
#include "model/LogFile.h"
#include "model/NodeRoles.h"
#include "model/TreeCounts.h"
#include "model/TreeRules.h"

namespace quillon {
namespace {

// Minimal stand-ins for the node kinds the printers meet (a node of a negotiation kind is of
// the negotiation role).
class FakeNode : public NegotiationNode {
 public:
  FakeNode(std::string name, std::string text = {}, bool complete = false)
      : NegotiationNode(std::move(name), nullptr), text_(std::move(text)), complete_(complete) {}
  void AppendDetailText(std::string& out) const override { out += text_; }
  std::uint16_t State() const override { return complete_ ? kStateComplete : kStateNone; }
  NodeKind Kind() const override {
    return Name() == "Main Mode" ? NodeKind::kMainMode : Name() == "QuickMode" ? NodeKind::kQuickMode : NodeKind::kOther;
  }

 private:
  std::string text_;
  bool complete_;
};

class FakeTunnel : public TunnelNode {
 public:
  FakeTunnel(std::string name, bool addresses) : TunnelNode(std::move(name), nullptr), addresses_(addresses) {}
  std::uint32_t TunnelLocalIP() const override { return addresses_ ? 1 : 0; }
  std::uint32_t TunnelPeerIP() const override { return addresses_ ? 2 : 0; }
  std::unique_ptr<TunnelNode> NewTunnel(std::uint32_t, std::uint32_t) const override { return nullptr; }
  std::uint16_t State() const override { return kStateComplete; }

 private:
  bool addresses_;
};

class FakeAttribute : public LogNode {
 public:
  NodeKind Kind() const override { return NodeKind::kAttributeValue; }
};

// root / peer / {tunnel with addresses / Main Mode, tunnel without / QuickMode}
std::unique_ptr<LogFile> SampleTree() {
  auto root = std::make_unique<LogFile>();
  root->SetName("IKE debugging info");
  LogNode* peer = root->AppendChild(std::make_unique<FakeNode>("10.0.0.1", "Peer\r\n\r\nline \"two\"\r\n"));
  LogNode* t1 = peer->AppendChild(std::make_unique<FakeTunnel>("192.168.1.1 <=> 192.168.2.1", true));
  LogNode* mm = t1->AppendChild(std::make_unique<FakeNode>("Main Mode", "", true));
  LogNode* packet = mm->AppendChild(std::make_unique<FakeNode>("MM packet 1"));
  packet->AppendChild(std::make_unique<FakeNode>("Header"));
  packet->AppendChild(std::make_unique<FakeNode>("Nonce"));
  packet->AppendChild(std::make_unique<FakeAttribute>());
  LogNode* t2 = peer->AppendChild(std::make_unique<FakeTunnel>("0.0.0.0 <=> 0.0.0.0", false));
  t2->AppendChild(std::make_unique<FakeNode>("QuickMode"))->AppendChild(std::make_unique<FakeNode>("QM packet \xe9"));
  return root;
}

// Both printers leave out address-less tunnels (their negotiations move up to the peer) and
// attribute values; JSON keeps detail texts byte for byte.
TEST(TreePrinterTest, TreesHideAddresslessTunnelsAndAttributes) {
  auto root = SampleTree();
  EXPECT_EQ(cli::TextTree(*root, {}),
            "IKE debugging info\n"
            "  10.0.0.1\n"
            "    192.168.1.1 <=> 192.168.2.1\n"
            "      Main Mode\n"
            "        MM packet 1\n"
            "          Header\n"
            "          Nonce\n"
            "    QuickMode\n"
            "      QM packet \xc3\xa9\n");
  cli::PrintOptions options{.texts = true};
  const std::string withTexts = cli::TextTree(*root, options);
  EXPECT_NE(withTexts.find("  10.0.0.1\n    | Peer\n    | \n    | line \"two\"\n    192.168"), std::string::npos)
      << withTexts;
  options.json = true;
  const std::string json = cli::JsonTree(*root, options);
  EXPECT_NE(json.find("\"text\": \"Peer\\r\\n\\r\\nline \\\"two\\\"\\r\\n\""), std::string::npos) << json;
  EXPECT_NE(json.find("{\"name\": \"Main Mode\", \"caption\": \"Main Mode\", \"complete\": true, \"icon\": 2"),
            std::string::npos);
  EXPECT_NE(json.find("\"QM packet \xc3\xa9\""), std::string::npos);
  EXPECT_EQ(json.find("0.0.0.0 <=> 0.0.0.0"), std::string::npos);
}

// A caption or text holding terminal controls (a Notify type carrying ESC ] 0 ; ... BEL sets a
// terminal's title) reaches the terminal only as visible escapes; JSON keeps the bytes exactly.
TEST(TreePrinterTest, ControlBytesAreEscapedInTextOutputOnly) {
  LogFile root;
  root.SetName("IKEv2 debugging info");
  root.AppendChild(std::make_unique<FakeNode>("Notify \x1b]0;owned\x07 \x9b" "2J\x7f\tend\xff",
                                              "Type:\t\t\x1b[31mred\r\nlone\rCR\x85\r\n"));
  cli::PrintOptions texts;
  texts.texts = true;
  EXPECT_EQ(cli::TextTree(root, texts),
            "IKEv2 debugging info\n"
            "  | LogFile\n"
            "  Notify \\x1b]0;owned\\x07 \\x9b" "2J\\x7f\tend\xc3\xbf\n"
            "    | Type:\t\t\\x1b[31mred\n"
            "    | lone\\x0dCR\\x85\n");
  texts.json = true;
  const std::string json = cli::JsonTree(root, texts);
  // C1 controls (U+009B, a one-byte CSI) are escaped too.
  EXPECT_NE(json.find("\"Notify \\u001b]0;owned\\u0007 \\u009b" "2J\\u007f\\tend\xc3\xbf\""), std::string::npos) << json;
  EXPECT_NE(json.find("\"Type:\\t\\t\\u001b[31mred\\r\\nlone\\rCR\\u0085\\r\\n\""), std::string::npos) << json;
  // The lines --follow prints are for a terminal as well.
  const LogNode& notify = *root.Child(0);
  EXPECT_EQ(cli::FollowLine(root, nullptr, notify, false),
            "IKEv2 debugging info > Notify \\x1b]0;owned\\x07 \\x9b" "2J\\x7f\tend\xc3\xbf");
}

// The printers hand their output on in blocks while they walk, and stop at the first failed
// write: a large tree never sits in memory as one text, and a full disk ends the walk.
TEST(TreePrinterTest, OutputIsStreamedInBoundedBlocksAndStopsAtAFailure) {
  class Recording : public ByteSink {
   public:
    explicit Recording(std::size_t failAt) : failAt_(failAt) {}
    bool Write(std::string_view bytes) override {
      largest = std::max(largest, bytes.size());
      total += bytes.size();
      return ++writes < failAt_;
    }
    std::size_t writes = 0, largest = 0, total = 0;

   private:
    std::size_t failAt_;
  };
  LogFile root;
  for (int i = 0; i < 2000; ++i) root.AppendChild(std::make_unique<FakeNode>("peer", std::string(1000, 'x') + "\r\n"));
  for (const bool json : {false, true}) {
    cli::PrintOptions options;
    options.json = json;
    options.texts = true;
    Recording all(SIZE_MAX);
    EXPECT_TRUE(json ? cli::WriteJsonTree(root, options, all) : cli::WriteTextTree(root, options, all));
    EXPECT_GT(all.total, 2'000'000u);
    EXPECT_LT(all.largest, cli::kPrintBlock + 2000);
    Recording failing(3);
    EXPECT_FALSE(json ? cli::WriteJsonTree(root, options, failing) : cli::WriteTextTree(root, options, failing));
    EXPECT_EQ(failing.writes, 3u);
  }
}

TEST(TreePrinterTest, CountsAndStats) {
  // The incomplete QuickMode is the failed one; the header is not a payload.
  EXPECT_EQ(cli::StatsText(*SampleTree(), "File loaded in 00 minutes, 01 seconds."),
            "peers: 1\ntunnels: 2\nnegotiations: 2 (failed: 1)\npackets: 2\npayloads: 2\n"
            "File loaded in 00 minutes, 01 seconds.\n");
}

// The icon of a negotiation comes from its kind and state alone: the edges of the rules.
TEST(TreeRulesTest, StateIcons) {
  struct Case { NodeKind kind; std::uint16_t state; int icon; };
  const std::uint16_t done = kStateComplete, failed = kStateFailed;
  for (const Case& c : {Case{NodeKind::kMainMode, failed, kIconPhaseOneFailed},
                        Case{NodeKind::kChildSa, done, kIconIpsecChildSaDone},
                        Case{NodeKind::kChildSa, failed, kIconChildSaFailed},
                        Case{NodeKind::kIkeRekey, done, kIconIkeChildSaDone},
                        Case{NodeKind::kInformational, done | kStateDelete | kStateDirected, kIconDelete},
                        Case{NodeKind::kInformational, done | kStateDelete, kIconNone},
                        Case{NodeKind::kConfigMode, failed, kIconConfigFailed},
                        Case{NodeKind::kInformational, done | kStateErrorInformational, kIconInfo},
                        Case{NodeKind::kInformational, done | kStateDpd, kIconDpd},
                        Case{NodeKind::kRestart, kStateRestart, kIconNone},
                        Case{NodeKind::kOtherExchange, done, kIconNone}}) {
    class Typed : public LogNode {
     public:
      explicit Typed(const Case& c) : kind_(c.kind), state_(c.state) {}
      NodeKind Kind() const override { return kind_; }
      std::uint16_t State() const override { return state_; }

     private:
      NodeKind kind_;
      std::uint16_t state_;
    };
    EXPECT_EQ(StateIconIndex(Typed(c)), c.icon) << static_cast<int>(c.kind) << " " << c.state;
  }
}

}  // namespace
}  // namespace quillon
