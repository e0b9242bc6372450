// Reaching a node's role by its kind, over the trees of both log formats, and the time order
// that asks the kind rather than the caption.
#include <gtest/gtest.h>

#include "ikev1/negotiation/Tunnel.h"
#include "ikev2/V2Exchange.h"
#include "model/NodeRoles.h"
#include "model/TimeOrder.h"
#include "tests/ikev1/negotiation/NegotiationLog.h"
#include "tests/ikev2/V2TestLogs.h"

namespace quillon {
namespace {

// Which roles a node is reached as: peer, tunnel, negotiation.
std::string Roles(const LogNode* node) {
  std::string roles;
  roles += NodeAs<PeerNode>(node) != nullptr ? "P" : "-";
  roles += NodeAs<TunnelNode>(node) != nullptr ? "T" : "-";
  roles += NodeAs<NegotiationNode>(node) != nullptr ? "N" : "-";
  return roles;
}

TEST(NodeRolesTest, EachLevelOfAnIKEv1TreeIsReachedAsItsOwnRoleOnly) {
  const auto root = negtest::Load(negtest::MainModeLog(2));
  ASSERT_EQ(root->ChildCount(), 1u);
  const LogNode* peer = root->Child(0);
  const LogNode* tunnel = peer->Child(0);
  const LogNode* exchange = tunnel->Child(0);
  const LogNode* message = exchange->Child(0);
  const LogNode* header = message->Child(0);
  EXPECT_EQ(Roles(root.get()), "---");
  EXPECT_EQ(Roles(peer), "P--");
  EXPECT_EQ(Roles(tunnel), "-T-");
  EXPECT_EQ(Roles(exchange), "--N");
  // A message shares the exchange's class chain, but its kind is a packet's.
  EXPECT_EQ(Roles(message), "---");
  EXPECT_EQ(Roles(header), "---");
  EXPECT_EQ(Roles(nullptr), "---");
  EXPECT_EQ(PeerAddressOf(*peer), 0x0a000001u);
  EXPECT_EQ(PeerAddressOf(*tunnel), 0u);
  EXPECT_FALSE(IsMergedPeer(*peer));
}

TEST(NodeRolesTest, TimeOrderTakesTheFirstPhaseFromTheKindNotFromTheCaption) {
  using namespace v2test;
  struct Case {
    const char* attributes;
    bool first;
  };
  // A serial number is the log's text: one reading "Main Mode" or "Initial" must not make an
  // exchange a first-phase one.
  const Case cases[] = {
      {R"(final_status="success" Type="Initial" serial="1")", true},
      {R"(final_status="success" Type="[IKE] Create Child SA" serial="2")", true},
      {R"(final_status="success" Type="Authentication" serial="Main Mode")", false},
      {R"(final_status="success" Type="Create Child SA" serial="Initial Child SA IKE")", false},
      {R"(final_status="success" Type="Informational" serial="Initial")", false},
  };
  for (const Case& c : cases) {
    const auto exchange = ReadExchange(ExchangeXml(c.attributes, "192.168.7.1", RequestAndResponse()));
    const std::optional<TimeOrderKey> key = TimeOrderKeyOf(*exchange);
    ASSERT_TRUE(key.has_value()) << c.attributes;
    EXPECT_EQ(key->first, c.first) << c.attributes;
    EXPECT_EQ(Roles(exchange.get()), "--N");
    EXPECT_EQ(Roles(exchange->Child(0)), "---");
  }
  // A node that is no negotiation has no place in time.
  const auto root = negtest::Load(negtest::MainModeLog(2));
  EXPECT_FALSE(TimeOrderKeyOf(*root->Child(0)).has_value());
}

}  // namespace
}  // namespace quillon
