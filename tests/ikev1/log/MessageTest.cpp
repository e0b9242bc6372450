// One packet of the log as a message node: its payload chain, the values the negotiation asks
// of it, its packet-debug record, and its framing when the log is saved.
#include "ikev1/log/Message.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <tuple>

#include "ikev1/log/DebugLogReader.h"
#include "ikev1/log/Header.h"
#include "ikev1/log/PacketDebugRecord.h"
#include "ikev1/log/PacketDebugTable.h"
#include "ikev1/payloads/KeyMaterialPayloads.h"
#include "tests/ikev1/LoadedPackets.h"
#include "tests/ikev1/negotiation/NegotiationLog.h"

namespace quillon {
namespace {

using negtest::Block;
using negtest::FakePayload;
using negtest::kPlus;
using negtest::Nonce;

const std::string kTunnel = "TunnelLocalIP:c0a80001,TunnelPeerIP:c0a80002";
const std::string kRecord = negtest::Record(false, "0a000001", negtest::kCookie, negtest::kZeroId);
const std::string kFinalHash = "debugIsakmpHdrLen:\n\tLength: 00 00 00 4c (76)\n\ndebugHashData:\n\tHashData: aa bb cc\n";

// A packet of peer 10.0.0.1 at 12:34:56, created or processed as its keyword says.
std::string Packet(const std::string& keyword, const std::string& payloads, const std::string& tunnel = "~~") {
  negtest::Packet p;
  p.keyword = keyword;
  p.time = "12:34:56";
  p.tunnel = tunnel;
  p.payloads = payloads;
  return negtest::Text(p);
}

const ByteList& DataOf(const LogNode* node) { return dynamic_cast<const KeyMaterialPayload&>(*node).Data(); }

std::unique_ptr<Header> MadeHeader(std::uint32_t kind, bool created) {
  auto header = std::make_unique<Header>();
  header->SetPacketKind(kind);
  header->SetCreated(created);
  header->SetPeerAddress(0x0a000001);
  header->SetDateTime(" Mon Nov 13 2006", "12:34:56");
  return header;
}

TEST(MessageTest, PayloadChainInLogOrder) {
  LoadedPackets packets(
      "log start\n" +
      Packet("process_packet3phase1:",
             Block("debugKeyPayload:", "KeyData:", "01 02") + "gxIsakmp noise: 12 ab\n" + Nonce("03") +
                 Block("debugVendorIDPayload:", "VID", "Data: aa bb") +
                 "debugHashData:\n\tHashData: 99\n" +  // no hash link: no node
                 Block("debugNatDPayload:", "Hash:", "04") + "more noise\n" + Nonce("05")) +
      Packet("process_packet4phase1:", "no payloads " + Nonce("06")) +
      Packet("create_packet5phase1:", Block("debugHashPayload:", "HashData:", "11 22") + kFinalHash + Nonce("07")) +
      kRecord + Nonce("08") + Packet("create_packet5phase1:", Block("debugHashPayload:", "HashData:", "11")));

  auto m3 = packets.Next<Main34Mess>();
  ASSERT_EQ(m3->ChildCount(), 6u);
  EXPECT_EQ(m3->Child(0), m3->GetHeader());
  EXPECT_EQ(m3->GetHeader()->Parent(), m3);
  EXPECT_EQ(m3->Child(1)->Caption(), "Key");
  EXPECT_EQ(DataOf(m3->Child(1)), (ByteList{1, 2}));
  EXPECT_EQ(DataOf(m3->Child(2)), (ByteList{3}));
  EXPECT_EQ(m3->Child(3)->Caption(), "Vendor ID");
  EXPECT_EQ(m3->Child(4)->Caption(), "NAT Discovery");
  EXPECT_EQ(DataOf(m3->Child(5)), (ByteList{5}));
  // Only the first token after the packet line tells whether there are payloads.
  auto m4 = packets.Next<Main34Mess>();
  EXPECT_EQ(m4->GetHeader()->PacketKind(), 0x0Cu);
  EXPECT_EQ(m4->ChildCount(), 1u);
  // The daemon logs a created packet's hash as zeros and its computed value, with the final
  // length, after the payloads; a packet-debug block ends the chain and is left for the scan.
  auto m5 = packets.Next<Main56Mess>();
  ASSERT_EQ(m5->ChildCount(), 3u);
  ASSERT_EQ(m5->HashPayload(), m5->Child(1));
  EXPECT_EQ(m5->HashPayload()->Data(), (ByteList{0xaa, 0xbb, 0xcc}));
  EXPECT_EQ(m5->GetHeader()->Length(), (ByteList{0, 0, 0, 0x4c}));
  EXPECT_EQ(DataOf(packets.Next<Main56Mess>()->Child(1)), ByteList{});  // no data block: empty
}

TEST(MessageTest, GathersValuesFromItsPayloads) {
  Main12Mess m("MM packet 1", nullptr);
  using Values = std::tuple<const char*, const char*, const char*, std::uint32_t>;
  for (auto [spi, user, detail, address] : {Values{"", "", "", 0}, Values{"aabb", "alice", "(10.0.0.5)", 258},
                                            Values{"ccdd", "bob", "(10.0.0.6)", 0}, Values{"", "", "", 259}}) {
    auto p = std::make_unique<FakePayload>();
    p->spi = spi;
    p->userName = user;
    p->userDetail = detail;
    p->address = address;
    m.AddPayload(std::move(p));
  }
  // The first SPI and user name, the last user detail and identity address.
  EXPECT_EQ(m.SpiText(), "aabb");
  EXPECT_EQ(m.UserName(), "alice");
  EXPECT_EQ(m.UserDetail(), "(10.0.0.6)");
  EXPECT_EQ(m.IdAddress(), 259u);

  // A configuration message takes its name from its attributes and the packet line's time
  // (AttributePayloadTest checks every type through the loader); without a header it keeps
  // its plain name.
  ConfigMess headerless(nullptr);
  FakePayload attributes;
  attributes.type = 1;
  headerless.SetAttributePayload(&attributes);
  EXPECT_EQ(headerless.Name(), "CM");
}

TEST(MessageTest, QuickModeMessageShowsItsIdentities) {
  PhaTwo12Mess m("QM packet 1 (12:34:56)", nullptr);
  m.SetHeader(MadeHeader(kQuickMode1, false));
  FakePayload local, remote;
  local.identity = "10.0.0.0/8";
  remote.identity = "192.168.1.0/24";
  m.SetIdPayload(&local);
  m.SetIdPayload(nullptr);
  m.SetIdPayload(&remote);
  EXPECT_EQ(m.Caption(), "QM packet 1 (12:34:56) - 10.0.0.0/8 - 192.168.1.0/24");
  EXPECT_EQ(m.DetailText(), "QM packet 1 (12:34:56) -  Mon Nov 13 2006\r\n\r\nID:\r\n10.0.0.0/8 - 192.168.1.0/24"
                            "\r\n\r\n<== Received from peer 10.0.0.1");
}

TEST(MessageTest, PacketDebugRecordsAndFramingAsTheDaemonLogsThem) {
  LoadedPackets packets(
      kRecord + Packet("create_packet5phase1:", Block("debugHashPayload:", "HashData:", "11") + kFinalHash) +
      Packet("MMCrackProcess:", Nonce("01 02"), kTunnel) + Packet("process_config", "") +
      Packet("create_config_ack:", ""));
  // A created packet with the parked record's cookie and message ID leaves it alone; the
  // received one takes it. Through a tunnel the peer's address is the tunnel's. (The tunnel
  // with addresses comes first in the tree.)
  auto m6 = packets.Next<Main56Mess>();
  auto m5 = packets.Next<Main56Mess>();
  ASSERT_NE(m5, nullptr);
  EXPECT_EQ(m5->PacketDebug(), nullptr);
  EXPECT_EQ(m5->DetailText(), "MM packet 5 (12:34:56)-  Mon Nov 13 2006\r\n\r\n==> Sent to peer 10.0.0.1");
  ASSERT_NE(m6->PacketDebug(), nullptr);
  EXPECT_EQ(m6->DetailText(), "MM packet 5 (12:34:56)-  Mon Nov 13 2006\r\n\r\nExchange type:\t\tMain mode"
                              "\r\n\r\n<== Received from peer 192.168.0.2");

  // Saved, each packet is framed as the daemon logs it (that the saved log reads back to the
  // same tree, the sample logs show):
  std::string saved;
  WriteTree(*m5, saved);
  WriteTree(*m6, saved);
  for (int i = 0; i < 2; ++i) WriteTree(*packets.Next<ConfigMess>(), saved);
  const std::string date = " Mon Nov 13 12:34:56 2006\n";
  // a created packet has its packet line, header block, payloads, then final hash and length;
  EXPECT_NE(saved.find("\n" + kPlus + "\ncreate_packet5phase1: peer: a000001 ~~" + date + kPlus +
                       "\ndebugIsakmpHdr: (Creation)\n"),
            std::string::npos)
      << saved;
  EXPECT_NE(saved.find("debugHashData:\n\tHashData: aa bb cc \ndebugIsakmpHdrLen:\n"), std::string::npos);
  // a received packet its record and header block before the packet line, and every kind
  // the keyword the daemon gives it.
  const std::size_t record = saved.find("\r\n##### BEGIN PACKET DEBUG #####\n\tReceived:\n");
  const std::size_t header = saved.find("debugIsakmpHdr: (Process)\n", record);
  const std::size_t line = saved.find("\nprocess_packet5phase1: peer: a000001 " + kTunnel + date);
  EXPECT_LT(record, header);
  EXPECT_LT(header, line);
  EXPECT_NE(line, std::string::npos);
  EXPECT_NE(saved.find("\nprocess_config peer: a000001 ~~" + date), std::string::npos);
  EXPECT_NE(saved.find("\ncreate_config_ack: peer: a000001 ~~" + date), std::string::npos);

  // Without a header there is nothing to show or save.
  Main12Mess headerless("MM", nullptr);
  std::string none;
  WriteTree(headerless, none);
  EXPECT_EQ(none + headerless.DetailText(), "");
}

// (A block cut short by the next packet: ExamplesTest.APacketCutShortAnywhereLeavesTheNextOneWhole.)
TEST(MessageTest, CutChainEndsAtTheEndOrARestart) {
  // The end of the log inside a block keeps the block's payload in the chain.
  LoadedPackets atEnd(Packet("create_packet5phase1:", Nonce("01") + "debugNoncePayload:\n\tNextPld: 0a\n\tLength:"));
  EXPECT_EQ(atEnd.Next<Main56Mess>()->ChildCount(), 3u);
  LoadedPackets restart(Packet("process_packet3phase1:", Nonce("01") + "IKE daemon started\n" + Nonce("02")));
  EXPECT_EQ(restart.Next<Main34Mess>()->ChildCount(), 2u);
  // The restart ends the chain; the loader then marks it in the tunnel.
  EXPECT_EQ(restart.Root().Child(0)->Child(0)->Child(1)->Name(), "Daemon Restarted!!");
}

}  // namespace
}  // namespace quillon
