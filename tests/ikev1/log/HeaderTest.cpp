// The packet scan: a packet line between two lines of 70 "+", and the "debugIsakmpHdr:" block
// that the daemon logs after the line for a packet it creates and before it for one it receives.
#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "ikev1/log/DebugLogReader.h"
#include "ikev1/log/Header.h"
#include "ikev1/log/PacketDebugRecord.h"

namespace quillon {
namespace {

const std::string kPlus(70, '+');

// Some daemon builds log the version and flag fields in the other order.
std::string HeaderBlock(const char* mode, bool swapped = false) {
  return std::string("debugIsakmpHdr: ") + mode +
         "\n\tInitCookie: 01 02 03 04 05 06 07 08 \n\tRspCookie: 11 12 13 14 15 16 17 18 \n\tNextPld: 01\n" +
         (swapped ? "\tMnVer: 00\n\tMjVer: 01\n\tExcType: 02\n\tEncFlag: 01\n\tCommitFlag: 00\n\tResFlag: 00\n"
                  : "\tMjVer: 01\n\tMnVer: 00\n\tExcType: 02\n\tResFlag: 00\n\tCommitFlag: 00\n\tEncFlag: 01\n") +
         "\tMsgID: 00 00 00 00 \n\tLength: 00 00 00 1c (28)\n";
}

std::string PacketLine(const std::string& keyword, const std::string& tunnel = "~~") {
  return "\n" + kPlus + "\n" + keyword + " peer: 0a000001 " + tunnel + " Mon Nov 13 12:34:56 2006\n" + kPlus + "\n";
}

const char* kReceivedRecord =
    "##### BEGIN PACKET DEBUG #####\n\tReceived:\n\tPeer: 0a000001\n\tInitCookie: 01 02 03 04 05 06 07 08 \n"
    "\tMsgID: 00 00 00 00\n\tPacket size: 180 bytes\n\tPeerIP: c0a80105\n\tSource port:\t500\n"
    "##### END PACKET DEBUG #####\n";

// The fields of HeaderBlock() and PacketLine(), as the header shows them.
void ExpectStandardFields(const Header& h) {
  EXPECT_EQ(h.DetailText(), "Header\r\n\r\nInitCookie:\t0102030405060708\r\nRespCookie:\t1112131415161718"
                            "\r\nNext Payload:\tSecurity Association\r\nMjVer:\t\t1\r\nMnVer:\t\t0\r\nExcType:\t02 (2)"
                            "\r\nEncFlag:\t1\r\nCommitFlag:\t0\r\nResFlag:\t0\r\nMsgID:\t\t00000000"
                            "\r\nLength:\t\t00 00 00 1c  (28)\r\n");
  EXPECT_EQ(h.InitCookie(), (ByteList{1, 2, 3, 4, 5, 6, 7, 8}));
  EXPECT_EQ(h.CookieValue(), 0x05060708u);  // the cookie's last four bytes
  EXPECT_EQ(h.Length(), (ByteList{0, 0, 0, 0x1c}));
  EXPECT_EQ(h.PeerAddress(), 0x0a000001u);
  EXPECT_EQ(h.DateText(), " Mon Nov 13 2006");
  EXPECT_EQ(h.TimeText(), "12:34:56");
}

TEST(HeaderTest, CreatedAndProcessedLayoutsInBothFieldOrders) {
  for (bool swapped : {false, true}) {
    SCOPED_TRACE(swapped ? "swapped" : "in order");
    auto created = DebugLogReader::FromText("noise line\n" + PacketLine("create_packet3phase1:") +
                                            HeaderBlock("(Creation)", swapped) + "debugKeyPayload:");
    Header c(created);
    EXPECT_FALSE(created.IsAbandoned());
    EXPECT_TRUE(c.IsCreated());
    EXPECT_EQ(c.PacketKind(), 0x0Bu);
    EXPECT_EQ(c.PacketFamily(), 0x08u);
    ExpectStandardFields(c);
    EXPECT_EQ(created.ReadToken(), "debugKeyPayload:");  // the scan stops at the first payload

    auto processed = DebugLogReader::FromText(HeaderBlock("(Process)", swapped) +
                                              PacketLine("process_packet2phase1:") + "debugSAPayload:");
    Header p(processed);
    EXPECT_FALSE(processed.IsAbandoned());
    EXPECT_FALSE(p.IsCreated());
    EXPECT_EQ(p.PacketKind(), 0x0Au);
    ExpectStandardFields(p);
    EXPECT_EQ(processed.ReadToken(), "debugSAPayload:");
  }
}

TEST(HeaderTest, PacketKeywordsAndTunnelTokens) {
  struct Case { const char* keyword; std::uint32_t kind; bool created; };
  for (const Case& c : {Case{"MMCrackCreate:", 0x0E, false}, Case{"MMCrackProcess:", 0x0D, false},
                        Case{"gxIsakmp_BuildInfoExc-D", 0x80, true}, Case{"gxIsakmp_ProcessInfoExc", 0x80, false},
                        Case{"create_config_ack:", 0x15, true}, Case{"process_packet3aggressive:", 0x32, false},
                        Case{"create_packet1phase2:", 0x40, true}}) {
    auto r = DebugLogReader::FromText(PacketLine(c.keyword).substr(72));
    Header h;
    bool created = !c.created;
    h.ReadPacketLine(r, created);
    EXPECT_EQ(h.PacketKind(), c.kind) << c.keyword;
    EXPECT_EQ(created, c.created) << c.keyword;
  }
  // A tunnel counts only with both addresses; the packet then really went to the tunnel peer.
  struct Tunnel { const char* token; std::uint32_t local, peer; };
  for (const Tunnel& t : {Tunnel{"TunnelLocalIP:c0a80101,TunnelPeerIP:c0a80202", 0xc0a80101, 0xc0a80202},
                          Tunnel{"TunnelLocalIP:c0a80101,TunnelPeerIP:", 0, 0},
                          Tunnel{"TunnelLocalIP:c0a80101", 0, 0}, Tunnel{"TunnelLocalIP:,TunnelPeerIP:5", 0, 0},
                          Tunnel{"~~", 0, 0}}) {
    auto r = DebugLogReader::FromText(PacketLine("create_packet1phase1:", t.token).substr(72));
    Header h;
    bool created = false;
    h.ReadPacketLine(r, created);
    EXPECT_EQ(h.TunnelLocalIP(), t.local) << t.token;
    EXPECT_EQ(h.TunnelPeerIP(), t.peer) << t.token;
    EXPECT_EQ(h.EffectivePeerAddress(), t.peer != 0 ? t.peer : 0x0a000001u) << t.token;
    EXPECT_EQ(h.TunnelText(), t.peer != 0 ? std::string(" ") + t.token : " ~~");
  }
}

TEST(HeaderTest, UnknownKeywordAbandonsThePacketAndScanningResumes) {
  auto r = DebugLogReader::FromText(PacketLine("create_packet9phase9:") + HeaderBlock("(Creation)") +
                                    PacketLine("create_packet1phase1:") + HeaderBlock("(Creation)"));
  Header bad(r);
  EXPECT_TRUE(r.IsAbandoned());
  EXPECT_EQ(bad.PacketKind(), 0u);
  // The loader clears the flag and scans again: the bad packet's closing "+" line looks like an
  // opening one and is abandoned as well, then the next real packet is read whole.
  std::unique_ptr<Header> good;
  for (int scans = 0; scans < 5 && !r.AtEnd(); ++scans) {
    r.ClearAbandon();
    good = std::make_unique<Header>(r);
    if (!r.IsAbandoned()) break;
  }
  ASSERT_FALSE(r.IsAbandoned());
  EXPECT_EQ(good->PacketKind(), 0x09u);
  ExpectStandardFields(*good);

  // A processed block followed by a created packet's line belongs to nothing: the created
  // packet's own block, after its line, supersedes it.
  std::string second = HeaderBlock("(Creation)");
  second.replace(second.find("01 02 03 04 05 06 07 08"), 23, "0a 0b 0c 0d 0e 0f 10 11");
  auto superseded = DebugLogReader::FromText(HeaderBlock("(Process)") + PacketLine("create_packet4phase1:") + second);
  Header h(superseded);
  EXPECT_TRUE(h.IsCreated());
  EXPECT_EQ(h.PacketKind(), 0x0Cu);
  EXPECT_EQ(h.InitCookieText(), "0a0b0c0d0e0f1011");
}

TEST(HeaderTest, WrittenBlocksReadBackFieldForField) {
  Header h;
  h.SetCreated(true);
  h.SetInitCookie({0xde, 0xad, 0xbe, 0xef, 0, 1, 2, 3});
  h.SetRespCookie({9, 8, 7, 6, 5, 4, 3, 2});
  h.SetFields(0x0b, 1, 0, 5, 1, 0, 0);
  h.SetMsgId({0x12, 0x34, 0x56, 0x78});
  h.SetLength({0, 0, 1, 0x2c});
  std::string block;
  h.WriteHeaderBlock(block);
  EXPECT_NE(block.find("\tLength: 00 00 01 2c (300)\n"), std::string::npos);  // the scan reads up to the decimal
  auto r = DebugLogReader::FromText(block + "next");
  EXPECT_EQ(r.ReadToken(), "debugIsakmpHdr:");  // the packet scan stops after this keyword
  Header back;
  back.ReadHeaderFields(r);
  EXPECT_EQ(back.DetailText(), h.DetailText());
  EXPECT_EQ(back.CookieValue(), 0x00010203u);
  EXPECT_EQ(back.MsgIdValue(), 0x12345678u);
  EXPECT_EQ(r.ReadToken(), "next");

  // A created packet's final length; a received packet has none.
  std::string length;
  h.WriteLengthBlock(length);
  EXPECT_EQ(length, "debugIsakmpHdrLen:\n\tLength: 00 00 01 2c (300)\n\n");
  auto lr = DebugLogReader::FromText(length);
  Header l;
  l.ReadLengthBlock(lr);
  EXPECT_EQ(l.Length(), h.Length());
  h.SetCreated(false);
  std::string none;
  h.WriteLengthBlock(none);
  EXPECT_EQ(none, "");
}

TEST(HeaderTest, PacketDebugBlockEndsTheScanWithItsRecord) {
  auto r = DebugLogReader::FromText(std::string(kReceivedRecord) + HeaderBlock("(Process)") +
                                    PacketLine("process_packet1phase1:"));
  Header scan(r);
  EXPECT_TRUE(r.IsAbandoned());
  std::unique_ptr<PacketDebugRecord> record = scan.TakePacketDebugRecord();
  ASSERT_NE(record, nullptr);
  EXPECT_FALSE(record->sent);
  EXPECT_EQ(record->peer, 0x0a000001u);
  EXPECT_EQ(record->peerIP, 0xc0a80105u);
  EXPECT_EQ(record->Key(), PacketDebugRecord::Key(ByteList{1, 2, 3, 4, 5, 6, 7, 8}, ByteList{0, 0, 0, 0}));
  EXPECT_EQ(record->text, "\r\nPacket size:\t\t180 bytes\r\nPeerIP:\t\t\t192.168.1.5\r\nSource port:\t\t500");
  r.ClearAbandon();
  Header packet(r);  // the packet after the block is still found
  EXPECT_FALSE(r.IsAbandoned());
  EXPECT_EQ(packet.PacketKind(), 0x09u);

  // Written and read again, the record keeps every field, its PeerIP address included.
  std::string written;
  record->Write(written);
  auto again = DebugLogReader::FromText(written);
  std::unique_ptr<PacketDebugRecord> copy = Header(again).TakePacketDebugRecord();
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(std::tie(copy->sent, copy->peer, copy->peerIP, copy->text),
            std::tie(record->sent, record->peer, record->peerIP, record->text));
  EXPECT_EQ(copy->Key(), record->Key());
}

// An empty file ends the scan at once, with defined fields.
TEST(HeaderTest, EmptyInputEndsTheScan) {
  auto r = DebugLogReader::FromText("");
  Header h(r);
  EXPECT_TRUE(r.AtEnd());
  EXPECT_TRUE(r.IsAbandoned());
  EXPECT_EQ(h.PacketKind(), 0u);
  EXPECT_EQ(h.PeerAddress(), 0u);
}

}  // namespace
}  // namespace quillon
