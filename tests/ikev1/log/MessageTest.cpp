#include "ikev1/log/Message.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "ikev1/log/DebugLogReader.h"
#include "ikev1/log/Header.h"
#include "ikev1/log/PacketDebugRecord.h"
#include "ikev1/log/PacketDebugTable.h"
#include "ikev1/payloads/KeyMaterialPayloads.h"
#include "ikev1/payloads/PayloadFactory.h"

namespace quillon {
namespace {

const std::string kPlus(70, '+');
const std::string kTunnel = "TunnelLocalIP:c0a80001,TunnelPeerIP:c0a80002";
const std::string kRecord =
    "##### BEGIN PACKET DEBUG #####\n\tReceived:\n\tPeer: 0a000001\n\tInitCookie: 01 02 03 04 05 06 07 08\n"
    "\tMsgID: 00 00 00 00\n\tExchange type: Main mode\n##### END PACKET DEBUG #####\n";

std::string HeaderBlock(bool created) {
  return std::string("debugIsakmpHdr: ") + (created ? "(Creation)" : "(Process)") +
         "\n\tInitCookie: 01 02 03 04 05 06 07 08 \n\tRspCookie: 11 12 13 14 15 16 17 18 \n\tNextPld: 04\n"
         "\tMjVer: 01\n\tMnVer: 00\n\tExcType: 02\n\tResFlag: 00\n\tCommitFlag: 00\n\tEncFlag: 00\n"
         "\tMsgID: 00 00 00 00 \n\tLength: 00 00 00 1c (28)\n";
}

std::string PacketLine(const std::string& keyword, const std::string& tunnel) {
  return "\n" + kPlus + "\n" + keyword + " peer: 0a000001 " + tunnel + " Mon Nov 13 12:34:56 2006\n" + kPlus + "\n";
}

std::string Received(const std::string& keyword, const std::string& payloads, const std::string& tunnel = "~~") {
  return HeaderBlock(false) + PacketLine(keyword, tunnel) + payloads;
}

std::string Created(const std::string& keyword, const std::string& payloads) {
  return PacketLine(keyword, "~~") + HeaderBlock(true) + payloads;
}

std::string Block(const std::string& keyword, const std::string& dataLabel, const std::string& data) {
  return keyword + "\n\tNextPld: 00\n\tReserved: 00\n\tLength: 00 08 (8)\n\t" + dataLabel + " " + data + "\n";
}

std::string Nonce(const std::string& data) { return Block("debugNoncePayload:", "NonceData:", data); }

// The loader's part between packets: scan for the next packet, park received packet-debug
// records, pass over abandoned scans.
std::unique_ptr<Header> NextPacket(DebugLogReader& reader, PacketDebugTable& table) {
  while (!reader.AtEnd()) {
    auto header = std::make_unique<Header>(reader);
    if (auto record = header->TakePacketDebugRecord(); record && !record->sent) table.Put(std::move(record));
    if (!reader.IsAbandoned()) return header;
    reader.ClearAbandon();
  }
  return nullptr;
}

template <class M>
std::unique_ptr<M> LoadNext(DebugLogReader& reader, PacketDebugTable& table, const std::string& name = "packet") {
  std::unique_ptr<Header> header = NextPacket(reader, table);
  if (!header) return nullptr;
  auto message = std::make_unique<M>(name, nullptr);
  message->Load(std::move(header), reader);
  return message;
}

// The saving walk: a node's block, its children's, then its trailing block.
void WriteTree(const QLFolder& node, std::string& out) {
  node.WriteDebug(out);
  for (const auto& child : node.Children()) WriteTree(*child, out);
  node.WriteDebugLength(out);
}

const ByteList& DataOf(const QLFolder* node) { return dynamic_cast<const KeyMaterialPayload&>(*node).Data(); }

// Stands for the payload classes that report SPIs, identities and configuration attributes.
class FakePayload : public QLFolder, public ConfigAttributeSource, public IdentitySource {
 public:
  std::string spi, userName, userDetail, identity;
  std::uint32_t address = 0, type = 0, status = 1;

  std::string SpiText() const override { return spi; }
  bool HasIdAddress() const override { return address != 0; }
  std::uint32_t IdAddress() const override { return address; }
  bool HasUserName() const override { return !userName.empty(); }
  std::string UserName() const override { return userName; }
  bool HasUserDetail() const override { return !userDetail.empty(); }
  std::string UserDetail() const override { return userDetail; }
  std::uint32_t ConfigMessageType() const override { return type; }
  std::uint32_t ConfigStatus() const override { return status; }
  std::string IdentityText() const override { return identity; }
};

std::unique_ptr<Header> MadeHeader(std::uint32_t kind, bool created) {
  auto header = std::make_unique<Header>();
  header->SetPacketKind(kind);
  header->SetCreated(created);
  header->SetPeerAddress(0x0a000001);
  header->SetDateTime(" Mon Nov 13 2006", "12:34:56");
  return header;
}

TEST(MessageTest, PayloadChainInLogOrder) {
  PacketDebugTable table;
  auto reader = DebugLogReader::FromText(
      "log start\n" +
      Received("process_packet3phase1:",
               Block("debugKeyPayload:", "KeyData:", "01 02") + "gxIsakmp noise: 12 ab\n" + Nonce("03") +
                   Block("debugVendorIDPayload:", "VID", "Data: aa bb") +
                   "debugHashData:\n\tHashData: 99\n" +                 // no hash link: no node
                   Block("debugNatDPayload:", "Hash:", "04") + "more noise\n" + Nonce("05")) +
      Received("process_packet4phase1:", "no payloads " + Nonce("06")) +
      Created("create_packet5phase1:", Nonce("07")) + "\r\n" + kRecord + Nonce("08"));

  auto m3 = LoadNext<Main34Mess>(reader, table);
  ASSERT_EQ(m3->ChildCount(), 6u);
  EXPECT_EQ(m3->Child(0), m3->GetHeader());
  EXPECT_EQ(m3->GetHeader()->Parent(), m3.get());
  EXPECT_EQ(m3->Child(1)->Caption(), "Key");
  EXPECT_EQ(DataOf(m3->Child(1)), (ByteList{1, 2}));
  EXPECT_EQ(DataOf(m3->Child(2)), (ByteList{3}));
  EXPECT_EQ(m3->Child(3)->Caption(), "Vendor ID");
  EXPECT_EQ(m3->Child(4)->Caption(), "NAT Discovery");
  EXPECT_EQ(DataOf(m3->Child(5)), (ByteList{5}));

  // Only the first token after the packet line tells whether there are payloads.
  auto m4 = LoadNext<Main34Mess>(reader, table);
  EXPECT_EQ(m4->GetHeader()->PacketKind(), 0x0Cu);
  EXPECT_EQ(m4->ChildCount(), 1u);

  // A packet-debug block ends the chain and is left for the scan.
  auto m5 = LoadNext<Main56Mess>(reader, table);
  ASSERT_EQ(m5->ChildCount(), 2u);
  Header scan(reader);
  EXPECT_NE(scan.TakePacketDebugRecord(), nullptr);
}

TEST(MessageTest, CreatedPacketTakesItsFinalHashAndLength) {
  PacketDebugTable table;
  auto reader = DebugLogReader::FromText(
      Created("create_packet5phase1:", Block("debugHashPayload:", "HashData:", "11 22") +
                                           "debugIsakmpHdrLen:\n\tLength: 00 00 00 4c (76)\n\n"
                                           "debugHashData:\n\tHashData: aa bb cc\n" + Nonce("01")) +
      Created("create_packet5phase1:", Block("debugHashPayload:", "HashData:", "11")));
  auto m5 = LoadNext<Main56Mess>(reader, table);
  ASSERT_EQ(m5->ChildCount(), 3u);
  ASSERT_EQ(m5->HashPayload(), m5->Child(1));
  EXPECT_EQ(m5->HashPayload()->Data(), (ByteList{0xaa, 0xbb, 0xcc}));
  EXPECT_EQ(m5->GetHeader()->Length(), (ByteList{0, 0, 0, 0x4c}));
  // Without its data block a created packet's hash stays empty.
  EXPECT_TRUE(LoadNext<Main56Mess>(reader, table)->HashPayload()->Data().empty());
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
  EXPECT_EQ(m.SpiText(), "aabb");  // the first non-empty SPI decides
  EXPECT_EQ(m.UserName(), "alice");
  EXPECT_EQ(m.UserDetail(), "(10.0.0.6)");
  EXPECT_EQ(m.IdAddress(), 259u);
}

TEST(MessageTest, ConfigurationMessagesAreNamedByTheirAttributes) {
  struct Case { std::uint32_t type, status; const char* name; bool complete; };
  for (const Case& c : {Case{1, 0, "CM Request  (12:34:56)", true}, Case{2, 0, "CM Reply (12:34:56)", true},
                        Case{3, 1, "CM Set (12:34:56)", true}, Case{3, 0, "CM Set (12:34:56)", false},
                        Case{4, 0, "CM Ack (12:34:56)", false}, Case{7, 0, "CM", true}}) {
    ConfigMess m(nullptr);
    m.SetHeader(MadeHeader(kConfigRequest, true));
    FakePayload attributes;
    attributes.type = c.type;
    attributes.status = c.status;
    m.SetAttributePayload(&attributes);
    EXPECT_EQ(m.Name(), c.name);
    EXPECT_EQ(m.IsComplete(), c.complete) << c.name;
    // Without a header nothing changes.
    ConfigMess headerless(nullptr);
    headerless.SetAttributePayload(&attributes);
    EXPECT_EQ(headerless.Name(), "CM");
  }
}

TEST(MessageTest, QuickModeIdentities) {
  PhaTwo12Mess m("QM packet 1 (12:34:56)", nullptr);
  m.SetHeader(MadeHeader(kQuickMode1, false));
  FakePayload local, remote;
  local.identity = "10.0.0.0/8";
  remote.identity = "192.168.1.0/24";
  m.SetIdPayload(&local);
  m.SetIdPayload(nullptr);
  m.SetIdPayload(&remote);
  EXPECT_EQ(m.Caption(), "QM packet 1 (12:34:56) - 10.0.0.0/8 - 192.168.1.0/24");
  EXPECT_EQ(m.DetailText(),
            "QM packet 1 (12:34:56) -  Mon Nov 13 2006\r\n\r\nID:\r\n10.0.0.0/8 - 192.168.1.0/24"
            "\r\n\r\n<== Received from peer 10.0.0.1");

  PhaTwo12Mess answer("QM packet 2", nullptr), other("QM packet 1", nullptr);
  answer.SetIdPayload(&remote);
  answer.SetIdPayload(&local);
  other.SetIdPayload(&local);
  EXPECT_TRUE(m.SameIdentities(answer));  // crossed roles
  EXPECT_FALSE(m.SameIdentities(other));
}

TEST(MessageTest, ReceivedPacketTakesItsPacketDebugRecord) {
  PacketDebugTable table;
  auto reader = DebugLogReader::FromText(kRecord + Received("process_packet2phase1:", Nonce("01"), kTunnel) +
                                         kRecord + Created("create_packet3phase1:", Nonce("02")));
  reader.SetPacketDebugRecords(&table);

  auto m2 = LoadNext<Main12Mess>(reader, table, "MM packet 2 (12:34:56)");
  ASSERT_NE(m2->PacketDebug(), nullptr);
  EXPECT_EQ(table.Size(), 0u);
  EXPECT_EQ(m2->DetailText(),
            "MM packet 2 (12:34:56)-  Mon Nov 13 2006\r\n\r\nExchange type:\t\tMain mode"
            "\r\n\r\n<== Received from peer 192.168.0.2");

  // A created packet with the same cookie and message ID leaves the parked record alone.
  auto m3 = LoadNext<Main34Mess>(reader, table, "MM packet 3 (12:34:56)");
  EXPECT_EQ(m3->PacketDebug(), nullptr);
  EXPECT_EQ(table.Size(), 1u);
  EXPECT_EQ(m3->DetailText(), "MM packet 3 (12:34:56)-  Mon Nov 13 2006\r\n\r\n==> Sent to peer 10.0.0.1");

  Main12Mess headerless("MM", nullptr);
  std::string out;
  WriteTree(headerless, out);
  EXPECT_EQ(out + headerless.DetailText(), "");
}

TEST(MessageTest, WrittenPacketsReadBackWithTheSameFraming) {
  PacketDebugTable table;
  auto reader = DebugLogReader::FromText(
      Created("create_packet5phase1:", Block("debugHashPayload:", "HashData:", "11") +
                                           "debugIsakmpHdrLen:\n\tLength: 00 00 00 4c (76)\n"
                                           "debugHashData:\n\tHashData: aa bb\n") +
      kRecord + Received("MMCrackProcess:", Nonce("01 02"), kTunnel) + Received("process_config", "") +
      Created("create_config_ack:", ""));
  reader.SetPacketDebugRecords(&table);
  std::vector<std::unique_ptr<Message>> originals;
  originals.push_back(LoadNext<Main56Mess>(reader, table));
  originals.push_back(LoadNext<Main56Mess>(reader, table));
  originals.push_back(LoadNext<ConfigMess>(reader, table));
  originals.push_back(LoadNext<ConfigMess>(reader, table));

  std::string saved = "IKE logging started (file saved by Quillon)\r\n\r\n";
  for (const auto& m : originals) WriteTree(*m, saved);
  const std::string date = " Mon Nov 13 12:34:56 2006\n";
  EXPECT_NE(saved.find("\n" + kPlus + "\ncreate_packet5phase1: peer: a000001 ~~" + date + kPlus +
                       "\ndebugIsakmpHdr: (Creation)\n"),
            std::string::npos)
      << saved;
  EXPECT_NE(saved.find("debugHashData:\n\tHashData: aa bb \ndebugIsakmpHdrLen:\n"), std::string::npos);
  // A received packet: its record and header block come before the packet line.
  const std::size_t record = saved.find("\r\n##### BEGIN PACKET DEBUG #####\n\tReceived:\n");
  const std::size_t header = saved.find("debugIsakmpHdr: (Process)\n", record);
  const std::size_t line = saved.find("\nprocess_packet5phase1: peer: a000001 " + kTunnel + date);
  EXPECT_LT(record, header);
  EXPECT_LT(header, line);
  EXPECT_NE(line, std::string::npos);
  EXPECT_NE(saved.find("\nprocess_config peer: a000001 ~~" + date), std::string::npos);
  EXPECT_NE(saved.find("\ncreate_config_ack: peer: a000001 ~~" + date), std::string::npos);

  auto again = DebugLogReader::FromText(saved);
  again.SetPacketDebugRecords(&table);
  for (const auto& original : originals) {
    auto copy = LoadNext<Main56Mess>(again, table);
    ASSERT_NE(copy, nullptr);
    const Header& a = *original->GetHeader();
    const Header& b = *copy->GetHeader();
    EXPECT_EQ(b.PacketKind(), a.PacketKind());
    EXPECT_EQ(b.IsCreated(), a.IsCreated());
    EXPECT_EQ(b.PeerAddress(), a.PeerAddress());
    EXPECT_EQ(b.TunnelLocalIP(), a.TunnelLocalIP());
    EXPECT_EQ(b.TunnelPeerIP(), a.TunnelPeerIP());
    EXPECT_EQ(b.DateText(), a.DateText());
    EXPECT_EQ(b.TimeText(), a.TimeText());
    EXPECT_EQ(b.Length(), a.Length());
    EXPECT_EQ(copy->DetailText(), original->DetailText());  // the record came back with the packet
    ASSERT_EQ(copy->ChildCount(), original->ChildCount());
    for (std::size_t i = 1; i < copy->ChildCount(); ++i)
      EXPECT_EQ(copy->Child(i)->DetailText(), original->Child(i)->DetailText());
  }
}

TEST(MessageTest, BlockCutByTheNextPacketKeepsThatPacket) {
  PacketDebugTable table;
  for (bool createdNext : {false, true}) {
    const std::string next =
        createdNext ? Created("create_packet4phase1:", "") : Received("process_packet4phase1:", "");
    auto reader = DebugLogReader::FromText(
        Received("process_packet3phase1:", Nonce("01") + "debugNoncePayload:\n\tNextPld: 0a\n\tReserved: ") + next);
    auto m3 = LoadNext<Main34Mess>(reader, table);
    ASSERT_EQ(m3->ChildCount(), 3u);
    EXPECT_EQ(dynamic_cast<const KeyMaterialPayload&>(*m3->Child(2)).Fields().reserved, 0xFFFFFFFFu);

    reader.ClearAbandon();
    auto m4 = LoadNext<Main34Mess>(reader, table);
    ASSERT_NE(m4, nullptr) << createdNext;
    EXPECT_EQ(m4->GetHeader()->PacketKind(), 0x0Cu);
    EXPECT_EQ(m4->GetHeader()->IsCreated(), createdNext);
    EXPECT_EQ(m4->GetHeader()->InitCookie(), (ByteList{1, 2, 3, 4, 5, 6, 7, 8}));
  }
}

TEST(MessageTest, ChainAtTheEndOfTheInputOrAtARestart) {
  PacketDebugTable table;
  for (const char* tail : {"debugNoncePayload:", "debugNoncePayload:\n\tNextPld: 0a\n\tReserved: 00\n\tLength:",
                           "debugHashData:", "debugIsakmpHdrLen:\n\tLength:", "TransMatchFailure: proposal"}) {
    auto reader = DebugLogReader::FromText(Created("create_packet5phase1:", tail));
    auto m = LoadNext<Main56Mess>(reader, table);
    ASSERT_NE(m, nullptr) << tail;
    EXPECT_TRUE(reader.AtEnd()) << tail;
  }

  auto restart = DebugLogReader::FromText(
      Received("process_packet3phase1:", Nonce("01") + "IKE daemon started\n" + Nonce("02")));
  EXPECT_EQ(LoadNext<Main34Mess>(restart, table)->ChildCount(), 2u);
  EXPECT_TRUE(restart.RestartSeen());  // left for the loader to tell the peers
}

}  // namespace
}  // namespace quillon
