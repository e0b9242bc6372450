// What you see is what you save: a log loaded, saved and loaded again shows the same tree, for
// the sample logs, the logs the benchmarks generate (IKEv1 with daemon restarts, IKEv2), small
// logs built for the cases a large log may miss, and trees narrowed by deleting peers.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <tuple>
#include <string>
#include <vector>

#include "bench/LogGenerator.h"
#include "ikev1/log/FollowIKEv1Log.h"
#include "ikev1/log/ReadIKEv1Log.h"
#include "ikev1/log/WriteDebugLog.h"
#include "ikev2/ReadIKEv2Log.h"
#include "logs/OpenLog.h"
#include "logs/SaveLog.h"
#include "model/AddressSanitizer.h"
#include "model/Narrowing.h"
#include "model/TreeCounts.h"
#include "tests/ikev1/negotiation/NegotiationLog.h"
#include "tests/ikev2/V2TestLogs.h"
#include "tests/model/TreeCompare.h"
#include "tests/ScratchDir.h"

namespace quillon {
namespace {

namespace fs = std::filesystem;

using testing::ScratchPath;

std::string Saved(const LogFile& root) {
  StringSink sink;
  EXPECT_TRUE(WriteLog(root, sink));
  return sink.text;
}

// The tree of `text` loaded (narrowed to its failures when asked), saved and loaded again; the
// difference, empty when none. `loads` tells whether `text` itself loaded.
std::string SaveDifference(const std::string& name, const std::string& text, bool narrowed = false, bool* loads = nullptr) {
  OpenLogResult loaded = LoadLog(name, std::make_shared<TextSource>(text));
  if (loads != nullptr) *loads = loaded.status == OpenLogResult::Status::kLoaded;
  if (loaded.status != OpenLogResult::Status::kLoaded) return "does not load";
  if (narrowed) ApplyVerify(*loaded.log, VerifyCriteria{true, false, false, false, false});
  OpenLogResult again = LoadLog(name, std::make_shared<TextSource>(Saved(*loaded.log)));
  if (again.status != OpenLogResult::Status::kLoaded) return "the saved log does not load";
  return testing::FirstTreeDifference(*again.log, *loaded.log);
}

std::unique_ptr<LogFile> Open(const fs::path& path) {
  OpenLogResult result = OpenLog(path.string());
  EXPECT_EQ(result.status, OpenLogResult::Status::kLoaded) << path << ": " << result.message;
  return std::move(result.log);
}

// Saves `root` next to `name` under the name the save dialog proposes, reloads it and compares;
// returns the saved text.
std::string ExpectRoundTrip(const LogFile& root, const std::string& name) {
  const std::string saved = Saved(root);
  if (!root.IsIKEv2()) {
    // What the writer reports it cannot carry comes only from hostile bytes.
    StringSink sink;
    IKEv1SaveLosses losses;
    EXPECT_TRUE(WriteIKEv1Log(root, sink, losses));
    EXPECT_FALSE(losses.Any()) << name << ": restart texts " << losses.restartTexts << ", stretches " << losses.restartStretches;
  }
  const fs::path path = ScratchPath(name + "." + DefaultSaveName(root));
  testing::WriteFileBytes(path, saved);
  const auto again = Open(path);
  if (!again) return saved;
  EXPECT_EQ(testing::FirstTreeDifference(*again, root), "") << name;
  EXPECT_EQ(Saved(*again), saved) << name << ": saving the reloaded tree changes nothing more";
  return saved;
}

TEST(RoundTripTest, EverySampleLog) {
  std::size_t logs = 0;
  for (const auto& entry : fs::directory_iterator(testing::ExamplePath(""))) {
    SCOPED_TRACE(entry.path().filename().string());
    const auto root = Open(entry.path());
    ASSERT_TRUE(root);
    ASSERT_GT(root->ChildCount(), 0u);
    ExpectRoundTrip(*root, entry.path().stem().string());
    ++logs;
  }
  EXPECT_GE(logs, 4u);
}

TEST(RoundTripTest, GeneratedLogs) {
  const fs::path v1 = ScratchPath("generated.ilx"), v2 = ScratchPath("generated.xml");
  ASSERT_GT(bench::WriteDebugLog(v1.string(), 3u << 20, 40, 700u << 10), 0u);  // with daemon restarts
  ASSERT_GT(bench::WriteIKEv2Log(v2.string(), 2u << 20, 40), 0u);
  for (const fs::path& path : {v1, v2}) {
    const auto root = Open(path);
    ASSERT_TRUE(root) << path;
    const std::string saved = ExpectRoundTrip(*root, "generated" + path.extension().string());
    if (path == v1) {
      EXPECT_NE(saved.find("IKE daemon restart"), std::string::npos);
    }
    // Narrowed to every verify category in turn, the log keeps its negotiations when saved
    // (restart markers may come back; they are not negotiations).
    for (int category = 0; category < 5; ++category) {
      VerifyCriteria criteria{category == 0, category == 1, category == 2, category == 3, category == 4};
      const auto narrowed = Open(path);
      ApplyVerify(*narrowed, criteria);
      OpenLogResult again = LoadLog(path.string(), std::make_shared<TextSource>(Saved(*narrowed)));
      ASSERT_EQ(again.status, OpenLogResult::Status::kLoaded);
      const TreeCounts before = CountTree(*narrowed), after = CountTree(*again.log);
      EXPECT_EQ(std::tie(before.negotiations, before.packets, before.payloads),
                std::tie(after.negotiations, after.packets, after.payloads))
          << path << " narrowed to verify category " << category;
    }
  }
}

TEST(RoundTripTest, AfterDeletingPeers) {
  // Deleting every other peer narrows the log; the restarts of the peers left stay in place.
  for (const char* name : {"gateway-day.ilx", "ikev2-site-to-site.xml"}) {
    SCOPED_TRACE(name);
    auto root = Open(testing::ExamplePath(name));
    ASSERT_TRUE(root);
    for (std::size_t i = root->ChildCount(); i-- > 0;)
      if (i % 2 == 1 && root->ChildCount() > 1) root->RemoveChild(i);
    ExpectRoundTrip(*root, std::string("narrowed-") + name);
  }
}

// Each message's "Packet size" line, tree order ("-" for a message without a record).
void CollectSizes(const LogNode& node, std::vector<std::string>& sizes) {
  if (node.Name().find("packet") != std::string::npos) {
    const std::string text = node.DetailText();
    const std::size_t at = text.find("Packet size:\t\t");
    sizes.push_back(at == std::string::npos ? "-" : text.substr(at + 14, text.find(' ', at + 14) - at - 14));
    return;
  }
  for (const auto& child : node.Children()) CollectSizes(*child, sizes);
}

TEST(RoundTripTest, SentRecordsStayWithTheirPackets) {
  using namespace negtest;
  const auto sent = [](const std::string& size) { return Record(true, "0a000001", kCookie, kZeroId, "\tPacket size: " + size + " bytes\n"); };
  Packet otherTunnel = MainModePacket(1, "12:00:09");
  otherTunnel.tunnel = "TunnelLocalIP:0a000002,TunnelPeerIP:0a000003";
  const struct {
    const char* name;
    std::string log;
    std::vector<std::string> sizes;
  } cases[] = {
      // A "Sent:" record after a received packet is that packet's: it is saved after the
      // packet, not before it where a received packet's record goes.
      {"after a received packet", Text(MainModePacket(1)) + sent("10") + Text(MainModePacket(2)) + sent("20"), {"10", "20"}},
      // Two negotiations with one cookie and message ID, the later one in a tunnel listed
      // first: each record stays with the packet it follows.
      {"shared cookie", Text(MainModePacket(1)) + sent("10") + Text(otherTunnel) + sent("90"), {"90", "10"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto root = Load(c.log);
    std::vector<std::string> sizes;
    CollectSizes(*root, sizes);
    EXPECT_EQ(sizes, c.sizes);
    ExpectRoundTrip(*root, std::string("sent-records-") + c.name);
  }
}

// Renderings the daemon's writing allows that a saved log must give back as they were read,
// and daemon restarts that a saved log must give back where they were.
TEST(RoundTripTest, OddRenderingsReadBack) {
  using namespace negtest;
  const std::string restart = "debugIsakmpHdrLen:\n\nIKE logging started\n";
  Packet cutByRestart = MainModePacket(2);
  cutByRestart.payloads = restart;
  // Two restarts, each read inside a packet; the second packet's tunnel sorts after the first
  // one's, which takes both markers.
  Packet inTunnel = MainModePacket(1);
  inTunnel.tunnel = "TunnelLocalIP:0a000002,TunnelPeerIP:0a000003";
  inTunnel.payloads = restart;
  Packet outsideTunnel = MainModePacket(1, "12:00:05", "0b 0b 0b 0b 0b 0b 0b 0b");
  outsideTunnel.payloads = restart;
  // A restart token on a packet line restarts the daemon right after that packet.
  Packet otherPeer = MainModePacket(1);
  otherPeer.peer = "0a000009";
  Packet restartOnLine = MainModePacket(1, "12:00:07", "0c 0c 0c 0c 0c 0c 0c 0c");
  restartOnLine.day = "started";
  // ... and the rest of its line, up to the next packet, is read after the restart.
  const std::string receivedRestartOnLine = HeaderBlock(MainModePacket(2, "", "0c 0c 0c 0c 0c 0c 0c 0c"), false) + "\n" +
                                            kPlus + "\nprocess_packet2phase1: peer: 0a000001 ~~ Mon Nov started 12:00:07\n";
  Packet restartInVendor = MainModePacket(1, "12:00:07", "0c 0c 0c 0c 0c 0c 0c 0c");
  restartInVendor.payloads = "debugVendorIDPayload:\n\tNextPld: 00\n\tReserved: 00\n\tLength: 00 0c (12)\n"
                             "\tVID Data: 0a 0b 0c 0d\ndebugVendorIDFields:\n\tVIDData: 01\n\tProduct: 01\n"
                             "\tVersion: 00 00 13 88\n\tFlags: daemonic\n";
  // Negotiations of a peer logged under its index (0.0.0.7), whose address a received record
  // gives: they are placed in the log by their time.
  const auto indexed = [&restart](const std::string& cookie, const std::string& time) {
    Packet p = MainModePacket(2, time, cookie);
    p.peer = "00000007";
    p.payloads = restart;
    return Record(false, "07", cookie, kZeroId, "\tPeerIP: 0a000004\n") + Text(p);
  };
  Packet later = MainModePacket(1, "11:00:00", "0e 0e 0e 0e 0e 0e 0e 0e");
  later.peer = "0a000009";
  Packet halfTunnel = MainModePacket(1);
  halfTunnel.tunnel = "TunnelLocalIP:0a000002,TunnelPeerIP:0";
  std::string shortYear = Text(MainModePacket(1));
  shortYear.replace(shortYear.find(" 2006\n"), 6, " 06\n");
  const struct {
    const char* name;
    std::string log;
  } cases[] = {
      // The time of day goes before the packet line's last date token, however long it is.
      {"short year", shortYear},
      // Each "PeerIP:" line of a record keeps its own address.
      // A received packet without payload blocks, read up to a restart.
      {"restart after a bare received packet",
       Text(cutByRestart) + Text(MainModePacket(1, "12:30:00", "0c 0c 0c 0c 0c 0c 0c 0c"))},
      // An identity type that is no number: the word after it is still the one read next.
      {"identity type no number",
       Text(MainModePacket(1)) + "debugIDPayload:\n\tNextPld: 00\n\tReserved: 00\n\tLength: 00 0c (12)\n"
                                 "\tID Type: zz 01 02\n\tID: 0a 00 00 01\n"},
      {"two addresses", Text(MainModePacket(1)) + Record(true, "0a000001", kCookie, kZeroId,
                                                         "\tPeerIP: 0a000063\n\tPort: 500\n\tPeerIP: 0a000064\n")},
      // A "Vendor:" line with no name still shows as one.
      {"vendor without a name", Text(MainModePacket(1)) + "debugVendorIDPayload:\n\tNextPld: 00\n\tReserved: 00\n"
                                                         "\tLength: 00 0c (12)\n\tVendor:\n\tVID Data: 0a 0b 0c 0d\n"},
      // A tunnel token naming 0 for the tunnel's peer: a tunnel of its own.
      {"tunnel without its peer", Text(halfTunnel) + Text(MainModePacket(2))},
      {"restart in a tunnel without markers", Text(inTunnel) + Text(outsideTunnel)},
      {"restart on a packet line", Text(otherPeer) + Text(restartOnLine)},
      {"packet after a restart on a packet line", Text(otherPeer) + receivedRestartOnLine + Text(later)},
      {"restart in a vendor field", Text(otherPeer) + Text(restartInVendor)},
      {"indexed negotiations of one cookie", indexed(kCookie, "12:00:01") + indexed(kCookie, "12:00:02")},
      {"indexed negotiations between restarts",
       indexed("0a 0a 0a 0a 0a 0a 0a 0a", "12:00:01") + indexed("0b 0b 0b 0b 0b 0b 0b 0b", "12:00:02") + Text(later)},
      // The end of the log cuts a packet line before its year, or a record's last line: the
      // saved log ends there too, though the tree lists another peer after it.
      {"packet line cut by the end", Text(MainModePacket(1)) + Text(otherPeer) + "\n" + kPlus +
                                         "\ncreate_packet3phase1: peer: 0a000001 ~~ Mon Nov 13 12:00:03"},
      {"record cut by the end", Text(MainModePacket(1)) + Text(otherPeer) +
                                    "\r\n##### BEGIN PACKET DEBUG #####\n\tSent:\n\tPeer: 0a000001\n\tInitCookie: " +
                                    kCookie + "\n\tMsgID: " + kZeroId + "\n\tExchange type"},
      {"record value cut by the end", Text(MainModePacket(1)) + Text(otherPeer) +
                                          "\r\n##### BEGIN PACKET DEBUG #####\n\tSent:\n\tPeer: 0a000001\n\tInitCookie: " +
                                          kCookie + "\n\tMsgID: " + kZeroId + "\n\tSize: "},
      // A value holding "daemon" stops its record: the packet after it is read after a restart.
      {"record stopped by a restart", Text(MainModePacket(1)) +
                                          "\r\n##### BEGIN PACKET DEBUG #####\n\tSent:\n\tPeer: 0a000001\n\tInitCookie: " +
                                          kCookie + "\n\tMsgID: " + kZeroId + "\n\tVID Data: 0daemonc\n" + Text(MainModePacket(2))},
      // Reserved fields that are no numbers, the attributes after them still read.
      {"challenge reserved no number",
       Text(MainModePacket(1)) + "debugCHREPayload:\n\tNextPld: 00\n\tReserved: 00\n\tLength: 00 0c (12)\n\tType: 00 01\n"
                                 "\tReserved: zz\n\tReserved:\ndebugIsakmpValue:\n\tAttribute: 80 04\n\tFormat: 1\n\tVal: 00 01\n"},
      // A received packet's last payload a certificate without its debug text, a block
      // between it and the record of the received packet after it: the record stays that
      // packet's (next to the certificate, the certificate would take it for its text).
      {"certificate before a received record",
       Text(MainModePacket(2)) + "debugCertPayload:\n\tNextPld: 00\n\tReserved: 00\n\tLength: 00 04 (4)\n\tCert Type: 04\n" +
           "debugIsakmpHdrLen:\n" +
           Record(false, "0a000001", kCookie, kZeroId, "\tPeerIP: 0a000063\n") + Text(MainModePacket(4, "12:00:09"))},
      {"certificate before its packet's sent record",
       Text(MainModePacket(2)) + "debugCertPayload:\n\tNextPld: 00\n\tReserved: 00\n\tLength: 00 04 (4)\n\tCert Type: 04\n" +
           "debugIsakmpHdrLen:\n" + Record(true, "0a000001", kCookie, kZeroId, "\tPeerIP: 0a000063\n")},
      // The restart goes between the packet and its "Sent:" record.
      {"restart before a bare packet's record", Text(cutByRestart) + Record(true, "0a000001", kCookie, kZeroId)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ExpectRoundTrip(*Load(c.log), std::string("odd-") + c.name);
  }
}

// The IKEv2 reader matches fixed texts on each line. Lines where what names a node and what
// its text shows disagree, or where a value could only be read back from one place, are saved
// so that both read back.
TEST(RoundTripTest, IKEv2OddLines) {
  const std::string selector = "<TrafficSelector Type=\"TS_IPV4_ADDR_RANGE\">\n<StartPort>0</StartPort>\n"
                               "</TrafficSelector>\n";
  const struct {
    const char* name;
    std::string payloads;
    const char* written;       // a line as saved
    std::string message = "";  // instead of a request with the payloads: this message
  } cases[] = {
      // A payload's kind is found by a text anywhere on its line, its type in the line's Type.
      {"selector payload without a type", "<Payload Type=\"TS 9b 3b\n" + selector + "</Payload>\n",
       "<Payload Type=\"TS\" Type='\">"},
      {"selector payload named as spelt for people", "<Payload Type=\"TSx\" Type=\"Key Exchange\">\n</Payload>\n",
       "<Payload Type=\"TS\" Type='Key Exchange\">"},
      {"plain payload of type TSr", "<Payload Type=xTSr\">\n<Data>1</Data>\n</Payload>\n",
       "<Payload Data=\"1\" Type='TSr\">"},
      // Not at the line's front: no attribute of the line is read, not even the type.
      {"configuration line with a text before it",
       "x<Payload Type=\"Conf\">\n<CFG_Type>1</CFG_Type>\n<Attr>\n<Value>a</Value>\n</Attr>\n</Payload>\n",
       "-<Payload Type=\"Conf\" >"},
      // As an element line, the value would read back as the list "a, b".
      {"attribute value holding a repeated element",
       "<Payload Type=\"Notify\" k=\"a</k><k>b\">\n<Type>X</Type>\n</Payload>\n", "k=\"a</k><k>b\""},
      // Two values of a configuration attribute that join to a text read as a list.
      {"configuration values joining to a list",
       "<Payload Type=\"Conf\">\n<Attr>\n<Value>x</Value</Value>\n<Value>><Value>y</Value>\n</Attr>\n</Payload>\n",
       "<Value>x</Value</Value>"},
      // Texts the reader looks for on a payload's or a proposal's line stay below it.
      {"payload value holding the end of the payload list",
       "<Payload Type=\"Notify\">\n<Type>X</Type>\n<k>a</Payloads></k>\n</Payload>\n", "<k>a</Payloads></k>"},
      {"proposal value holding the end of its payload",
       "<Payload Type=\"SecurityAssociation\">\n<prop ID=\"1\">\n<k></Payload></k>\n</prop>\n</Payload>\n",
       "<k></Payload></k>"},
      // The proposal keeps the name its line gave it.
      {"proposal ID changed below its line",
       "<Payload Type=\"SecurityAssociation\">\n<prop ID=\"1\">\n<ID>a\"b</ID>\n</prop>\n</Payload>\n",
       "<ID>a\"b</ID>"},
      // No attribute fits the message's line: it still opens a message.
      {"message response holding a quote", "", "<Message >",
       "\t<Message Response=\"No\">\n\t\t<arrivalTime>2008-01-15T10:01:02</arrivalTime>\n\t\t<MsgID>0</MsgID>\n"
       "\t\t<Response>a\"b</Response>\n\t\t<Payloads>\n\t\t</Payloads>\n\t</Message>\n"},
      // The exchange's element lines after its messages: the first of them must not look like a
      // message, and one holding the exchange's end ends it.
      {"exchange elements holding a message and the exchange's end", "", "\n\t<a>\"<Message x</a>",
       v2test::MessageXml(v2test::RequestAndResponse()[0]) +
           "\t<b>\"</b>\n\t<a>\"<Message x</a>\n\t<0>\"</Exchange></0>\n"},
      // A name ending in "Type" stays on the payload's line unless it names a kind there.
      {"name ending in Type that names no kind", "<Payload Type=\"Nonce\" >Type=\"a</Payload>b\">\n</Payload>\n",
       " >Type=\"a</Payload>b\""},
      {"name ending in Type that names a kind", "<Payload Type=\"Nonce\">\n<xType>Notify</xType>\n</Payload>\n",
       "<xType>Notify</xType>"},
      // A name is read up to its "=": a quote or ">" in it fits a line, not an element.
      {"attribute name holding a quote", "<Payload Type=\"Notify\" a\"> b=\"1\">\n<Type>X</Type>\n</Payload>\n",
       "a\"> b=\"1\""},
      {"attribute with an empty name",
       "<Payload Type=\"SecurityAssociation\">\n<prop ID=\"1\" =\"x\">\n</prop>\n</Payload>\n", "<prop =\"x\""},
      // Only the header's first line may hold the text that opens the payload list.
      {"message header opening the payload list", "", "<MsgID>0</MsgID>\n\t\t<Type>a<Payloads>b</Type>\n",
       "\t<Message Response=\"No\">\n\t\t<arrivalTime>2008-01-15T10:01:02</arrivalTime>\n\t\t<MsgID>0</MsgID>\n"
       "\t\t<Type>a<Payloads>b</Type>\n\t\t<Payloads>\n\t\t</Payloads>\n\t</Message>\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    v2test::Msg request = v2test::RequestAndResponse()[0];
    request.payloads = c.payloads;
    const std::string message = c.message.empty() ? v2test::MessageXml(request) : c.message;
    const std::string log = "<IKEv2Log>\n<Exchange\n final_status=\"success\" Type=\"Initial\" serial=\"1\">\n"
                            "<peerIP>10.0.0.1</peerIP>\n" + message + "</Exchange>\n</IKEv2Log>\n";
    LogFile root;
    LogLineReader reader = LogLineReader::FromText(log);
    ReadIKEv2Log(root, reader);
    ASSERT_EQ(root.ChildCount(), 1u);
    const std::string saved = ExpectRoundTrip(root, "v2-odd-lines");
    EXPECT_NE(saved.find(c.written), std::string::npos) << saved;
  }
}

TEST(RoundTripTest, EmptyTreeIsTheHeadAlone) {
  LogFile root;
  EXPECT_EQ(Saved(root), kSavedLogHead);
}

}  // namespace
}  // namespace quillon

namespace quillon {
namespace {

// A log read while the gateway writes it ends anywhere: at a line end, in a packet line, in a
// separator or a header block. Whatever a cut shows saves to a log that shows the same. Every
// line end of the sample logs is a cut point, and so is every seventh byte of the lines that
// frame packets (in the large log: of every packet line and the two lines around it).
// Under the sanitizers (a debug build, many times slower) every eighth cut point; the
// optimised suite takes them all.
#ifdef QUILLON_ASAN
constexpr std::size_t kCutStride = 8;
#else
constexpr std::size_t kCutStride = 1;
#endif

TEST(RoundTripTest, EveryCutPointOfTheSampleLogs) {
  for (const char* name : {"small.ilx", "gateway-day.ilx", "ikev2-site-to-site.xml", "ikev2-remote-access.xml"}) {
    const std::string text = testing::ExampleText(name);
    const bool sparse = text.size() > 100000;
    std::vector<std::size_t> cuts;
    for (std::size_t line = 0; line < text.size();) {
      const std::size_t end = std::min(text.find('\n', line), text.size());
      const std::string_view content(text.data() + line, end - line);
      const bool framing = content.find("peer:") != std::string_view::npos ||
                           content.starts_with("+++") || content.starts_with("debugIsakmpHdr") ||
                           content.starts_with("#####") || content.find('<') != std::string_view::npos;
      const bool near = !sparse || content.find("peer:") != std::string_view::npos;
      if (!sparse || framing) cuts.push_back(end);
      if (framing && near)
        for (std::size_t at = line + 1; at < end; at += 7) cuts.push_back(at);
      line = end + 1;
    }
    int differences = 0;
    for (std::size_t i = 0; i < cuts.size(); i += kCutStride) {
      bool loads = false;  // not when cut inside the XML head
      const std::string difference = SaveDifference(std::string("cut-") + name, text.substr(0, cuts[i]), false, &loads);
      if (loads && !difference.empty() && ++differences <= 3) ADD_FAILURE() << name << " cut at byte " << cuts[i] << ": " << difference;
    }
    EXPECT_EQ(differences, 0) << name << ", of " << cuts.size() << " cut points";
  }
}

}  // namespace
}  // namespace quillon

namespace quillon {
namespace {

// Two main modes of one cookie that a daemon restart separates: a narrowing that keeps both
// and drops the restart marker still saves them as two negotiations (the saved log gets a
// restart of its own between them, which the reloaded tree shows).
TEST(RoundTripTest, NarrowingKeepsNegotiationsARestartSeparated) {
  using namespace negtest;
  Packet cutByRestart = MainModePacket(2);
  cutByRestart.payloads = "debugIsakmpHdrLen:\n\nIKE logging started\n";
  const auto root = Load(Text(MainModePacket(1)) + Text(cutByRestart) + Text(MainModePacket(1, "12:30:00")));
  ASSERT_EQ(Names(TunnelOf(*root)).size(), 3u) << "two main modes and the restart between them";
  ApplyVerify(*root, VerifyCriteria{true, false, false, false, false});
  ASSERT_EQ(Names(TunnelOf(*root)).size(), 2u) << "the failed main modes, without the marker";
  const auto again = Load(Saved(*root));
  std::vector<std::string> names = Names(TunnelOf(*again));
  std::erase(names, "Daemon Restarted!!");
  EXPECT_EQ(names, Names(TunnelOf(*root)));
}

}  // namespace
}  // namespace quillon

namespace quillon {
namespace {

// Daemon restart lines where a live log may have them: inside a packet's blocks, between a
// packet line and its header block, at the very end, two in a row, and after a packet line cut
// before its address (the reader then finds the packet's fields in the restart line, and its
// restart word is the packet's own text). Each log, also narrowed to its failures, saves to a
// file that reads back to the same tree.
TEST(RoundTripTest, RestartLinesAnywhereReadBack) {
  const std::string text = testing::ExampleText("small.ilx");
  const std::string restart = "gxike[2290] 13:02:14 IKE daemon version GX-1(6.2) started\n";
  const auto nth = [&](std::string_view what, int n) {
    std::size_t at = 0;
    for (int i = 0; i < n; ++i) at = text.find(what, at + 1);
    return at;
  };
  const auto insert = [&](std::size_t at, const std::string& line) { return text.substr(0, at) + line + text.substr(at); };
  const std::size_t packetLine = nth("create_packet", 3);
  const std::size_t lineEnd = text.find('\n', packetLine);
  const std::pair<const char*, std::string> cases[] = {
      {"inside the blocks", insert(nth("\ndebugPropPayload:", 2) + 1, restart)},
      {"after the packet line", insert(nth("\ndebugIsakmpHdr", 3) + 1, restart)},
      {"at the end", text + restart},
      {"twice in a row", insert(nth("\n+++", 7) + 1, restart + restart)},
      {"cut packet line", text.substr(0, packetLine) + "process_packet2phase2: pe\n" + restart + text.substr(lineEnd + 1)},
  };
  for (const auto& [name, log] : cases) {
    for (const bool narrowed : {false, true}) {
      const std::string difference = SaveDifference("restart.ilx", log, narrowed);
      if (!narrowed) EXPECT_EQ(difference, "") << name;
      // A narrowing may drop the marker between two negotiations of one cookie: the saved log
      // then gets a restart of its own (see NarrowingKeepsNegotiationsARestartSeparated).
      else EXPECT_TRUE(difference.empty() || difference.find("Daemon Restarted") != std::string::npos) << name << ": " << difference;
    }
  }
}

}  // namespace
}  // namespace quillon

namespace quillon {
namespace {

// Inputs that once read back or followed differently (fuzz/known, each named in README's
// fuzzing section), most of them daemon restarts at awkward places. Each saves to a log that reads back the same, and
// followed while it grows (in one piece and in small ones, a pause at the end or at a line end) gives the tree
// of one load.
TEST(RoundTripTest, KnownFuzzFindings) {
  std::size_t inputs = 0;
  const std::string readme = testing::ReadFileBytes(fs::path(QUILLON_SOURCE_DIR) / "README.md");
  for (const auto& entry : fs::directory_iterator(fs::path(QUILLON_SOURCE_DIR) / "fuzz" / "known")) {
    const std::string name = entry.path().filename().string();
    std::string text = testing::ReadFileBytes(entry.path());
    ++inputs;
    EXPECT_NE(readme.find("`" + name + "`"), std::string::npos) << name << " is not described in README";
    EXPECT_EQ(SaveDifference(name, text), "") << name;
    // A followed log places its last line once the line is complete.
    if (!text.empty() && text.back() != '\n') text += '\n';
    LogFile whole;
    auto reader = DebugLogReader::FromText(text);
    ReadIKEv1Log(whole, reader, {0, 1});
    for (const std::size_t piece : {text.size(), std::size_t{97}, std::size_t{13}}) {
      auto root = std::make_unique<LogFile>();
      auto follower = std::make_unique<IKEv1Follower>(*root);
      const auto reload = [&](std::size_t to) {
        root = std::make_unique<LogFile>();
        follower = std::make_unique<IKEv1Follower>(*root);
        follower->Append(std::string_view(text).substr(0, to));
      };
      for (std::size_t from = 0; from < text.size(); from += piece) {
        const std::size_t to = std::min(text.size(), from + piece);
        if (follower->Append(std::string_view(text).substr(from, to - from)) == FormatFollower::Result::kReload) reload(to);
      }
      if (follower->Settle() == FormatFollower::Result::kReload) {
        reload(text.size());
        follower->Settle();
      }
      EXPECT_EQ(testing::FirstTreeDifference(*root, whole, true), "") << name << " in pieces of " << piece;
    }
    // The writer paused at a line end: what the follower placed as the end of the log then
    // gives way to what the longer log says (a follower that cannot tell is loaded again).
    for (std::size_t cut = text.find('\n') + 1; cut != 0 && cut < text.size(); cut = text.find('\n', cut) + 1) {
      LogFile root;
      IKEv1Follower follower(root);
      follower.Append(std::string_view(text).substr(0, cut));
      follower.Settle();
      if (follower.Append(std::string_view(text).substr(cut)) == FormatFollower::Result::kReload ||
          follower.Settle() == FormatFollower::Result::kReload)
        continue;
      EXPECT_EQ(testing::FirstTreeDifference(root, whole, true), "") << name << " paused at byte " << cut;
    }
  }
  EXPECT_GE(inputs, 2u);
}

bool HasPacket(const LogNode& node, std::string_view name) {
  if (node.Name().starts_with(name)) return true;
  for (const auto& child : node.Children())
    if (HasPacket(*child, name)) return true;
  return false;
}

// A packet that breaks off inside one of its payload blocks (the daemon died while writing it)
// does not take the next packet with it, also when that packet opens with its "Received:"
// record; the log saves to one that reads back the same.
TEST(RoundTripTest, PacketBrokenOffInItsBlocksKeepsTheNext) {
  const std::string text = testing::ExampleText("small.ilx");
  const std::size_t packet = text.find("create_packet5phase1");
  const std::size_t next = text.rfind("##### BEGIN", text.find("process_packet6phase1"));
  ASSERT_LT(packet, next);
  for (const char* cut : {"debugIDPayload:", "Length: 00 0c (", "\tID Type: ", "debugHashPayload", "\tHashData: "}) {
    const std::size_t at = text.find(cut, packet);
    ASSERT_LT(at, next) << cut;
    const std::string log = text.substr(0, at + std::strlen(cut)) + "\n" + text.substr(next);
    OpenLogResult loaded = LoadLog("broken.ilx", std::make_shared<TextSource>(log));
    ASSERT_EQ(loaded.status, OpenLogResult::Status::kLoaded) << cut;
    EXPECT_TRUE(HasPacket(*loaded.log, "MM packet 6 (")) << "cut after " << cut;
    EXPECT_EQ(SaveDifference("broken.ilx", log), "") << cut;
  }
}

}  // namespace
}  // namespace quillon
