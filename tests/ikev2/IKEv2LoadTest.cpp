#include "ikev2/ReadIKEv2Log.h"
#include "ikev2/V2Peer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/TreePrinter.h"
#include "model/LogLines.h"
#include "model/TreeCounts.h"
#include "tests/ScratchDir.h"
#include "tests/model/TreeCompare.h"
#include "tests/ikev2/V2TestLogs.h"

namespace quillon {
namespace {

using v2test::ExchangeXml;
using v2test::Msg;
using v2test::RequestAndResponse;

std::string Attrs(const std::string& serial, const std::string& tunnel = "") {
  return "final_status=\"success\" Type=\"Initial\" serial=\"" + serial + "\" Dir=\"Outbound\"" +
         (tunnel.empty() ? "" : " " + tunnel);
}

std::string Tunnel(const std::string& local, const std::string& peer) {
  return "TunnelLocalIP=\"" + local + "\" TunnelPeerIP=\"" + peer + "\"";
}

bool Load(LogFile& root, std::string text) {
  LogLineReader reader = LogLineReader::FromText(std::move(text));
  return ReadIKEv2Exchanges(root, reader);
}

std::vector<std::string> Captions(const LogNode& node) {
  std::vector<std::string> captions;
  for (std::size_t i = 0; i < node.ChildCount(); ++i) captions.push_back(node.Child(i)->Caption());
  return captions;
}

std::size_t CountExchanges(const LogNode& root) {
  std::size_t count = 0;
  for (std::size_t p = 0; p < root.ChildCount(); ++p)
    for (std::size_t t = 0; t < root.Child(p)->ChildCount(); ++t) count += root.Child(p)->Child(t)->ChildCount();
  return count;
}

using Texts = std::vector<std::string>;

TEST(IKEv2Load, GroupsExchangesByPeerTextAndTunnel) {
  const std::vector<Msg> m = RequestAndResponse();
  LogFile root;
  const bool regroup = Load(root, "<?xml version=\"1.0\"?>\n" +
                                      ExchangeXml(Attrs("1", Tunnel("10.0.0.1", "10.0.0.9")), "10.0.0.5", m) +
                                      ExchangeXml(Attrs("2", Tunnel("10.0.0.1", "10.0.0.2")), "10.0.0.5", m) +
                                      ExchangeXml(Attrs("3"), "10.0.0.5", m) +
                                      ExchangeXml(Attrs("4", "TunnelLocalIP=\"10.0.0.1\""), "10.0.0.5", m) +
                                      ExchangeXml(Attrs("5", Tunnel("128.0.0.1", "10.0.0.2")), "10.0.0.5", m) +
                                      ExchangeXml(Attrs("6", Tunnel("10.0.0.1", "10.0.0.2")), "10.0.0.5", m) +
                                      ExchangeXml(Attrs("7"), "10.0.0.1", m) +
                                      ExchangeXml(Attrs("8"), "010.0.0.1", m) +
                                      ExchangeXml(Attrs("9"), "10.0.0.3", m));
  EXPECT_FALSE(regroup);
  EXPECT_TRUE(root.IsIKEv2());

  // Ascending addresses; the same address written differently is another peer, placed after.
  EXPECT_EQ(Captions(root), (Texts{"10.0.0.1", "010.0.0.1", "10.0.0.3", "10.0.0.5"}));
  const PeerNode& peer = *NodeAs<PeerNode>(root.Child(3));
  EXPECT_EQ(peer.PeerAddress(), 0x0A000005u);
  EXPECT_FALSE(peer.IsIndexedPeer());
  EXPECT_EQ(peer.IdAddress(), 0u);

  EXPECT_EQ(Captions(peer), (Texts{"10.0.0.1 <=> 10.0.0.2", "10.0.0.1 <=> 10.0.0.9", "128.0.0.1 <=> 10.0.0.2",
                                   "0.0.0.0 <=> 0.0.0.0"}));
  const TunnelNode& shared = *NodeAs<TunnelNode>(peer.Child(0));
  ASSERT_EQ(shared.ChildCount(), 2u);
  EXPECT_EQ(shared.Child(1)->Caption().substr(0, 9), "Initial 6");
  EXPECT_TRUE(shared.HasTunnelAddresses());
  // Serial 4 had one tunnel attribute only: it shares the address-less tunnel with serial 3.
  EXPECT_EQ(peer.Child(3)->ChildCount(), 2u);
  EXPECT_FALSE(NodeAs<TunnelNode>(peer.Child(3))->HasTunnelAddresses());
}

TEST(IKEv2Load, CountsLeaveOutOnlyPayloadsNamedHeader) {
  // A payload's name comes from its Type: one that reads "Header" is left out of the count,
  // which every other message answers from its number of children.
  LogFile root;
  ASSERT_FALSE(Load(root, ExchangeXml(Attrs("1"), "10.0.0.1",
                                      RequestAndResponse(v2test::PayloadXml("Nonce") + v2test::PayloadXml("Header"),
                                                         v2test::PayloadXml("Nonce") + v2test::PayloadXml("KeyExchange")))));
  const TreeCounts counts = CountTree(root);
  EXPECT_EQ(counts.packets, 2u);
  EXPECT_EQ(counts.payloads, 3u);
  // An exchange counts its messages once they are read; a message added later is still counted.
  LogNode& exchange = *root.Child(0)->Child(0)->Child(0);
  exchange.AppendChild(std::make_unique<LogNode>("Message", nullptr))->AppendChild(std::make_unique<LogNode>("Nonce", nullptr));
  EXPECT_EQ(CountTree(root).packets, 3u);
  EXPECT_EQ(CountTree(root).payloads, 4u);
}

// Captions are put together in a small buffer; long parts (a serial or message ID of a few
// hundred characters) must come out whole all the same.
TEST(IKEv2Load, LongCaptionsComeOutWhole) {
  const std::string serial(300, '7');
  std::vector<Msg> m = RequestAndResponse();
  m[0].id = std::string(200, '9');
  LogFile root;
  Load(root, ExchangeXml(Attrs(serial), "10.0.0.1", m));
  const LogNode& exchange = *root.Child(0)->Child(0)->Child(0);
  EXPECT_EQ(exchange.Name(), "Initial " + serial + " ==> 2008-01-15 10:01:02 to 10:01:03");
  EXPECT_EQ(exchange.Child(0)->Name(), "Message " + m[0].id + " - 10:01:02");
}

TEST(IKEv2Load, FileWithoutExchangeStartIsWrongFormat) {
  LogFile root;
  Load(root, "<Exchange final_status=\"success\">\nnothing else\n");
  EXPECT_TRUE(root.IsWrongFormat());
  EXPECT_TRUE(root.IsIKEv2());
  EXPECT_EQ(root.ChildCount(), 0u);

  LogFile empty;
  Load(empty, "");
  EXPECT_FALSE(empty.IsWrongFormat());
  EXPECT_FALSE(empty.IsIKEv2());
  EXPECT_EQ(empty.Name(), "IKEv2 debugging info");

  // A start line makes it an IKEv2 log even if no exchange can be read from it.
  LogFile unreadable;
  Load(unreadable, "<Exchange\n");
  EXPECT_FALSE(unreadable.IsWrongFormat());
  EXPECT_EQ(unreadable.ChildCount(), 0u);
}

TEST(IKEv2Load, IndexedPeersAndIndexIdentitiesAskForRegrouping) {
  const std::string auth = "final_status=\"success\" Type=\"Authentication\" serial=\"2\" Dir=\"Inbound\"";
  const std::string id = "\t\t\t<Payload Type=\"IDi\">\n\t\t\t\t<Type>IPV4_ADDR</Type>\n\t\t\t\t<Data>0.0.1.2</Data>\n"
                         "\t\t\t</Payload>\n";
  LogFile byIdentity;
  EXPECT_TRUE(Load(byIdentity, ExchangeXml(auth, "192.168.7.1", RequestAndResponse(id))));
  EXPECT_TRUE(byIdentity.Child(0)->HasIdAddress());
  EXPECT_EQ(byIdentity.Child(0)->IdAddress(), 0u);  // the peer's own address is no index

  // (A peer logged by its index asks for it too: LogFileRegroupTest.IKEv2PeersRegroupTheSameWay.)
  // The identity arrives with a later exchange of an existing peer.
  LogFile later;
  EXPECT_TRUE(Load(later, ExchangeXml(Attrs("1"), "192.168.7.1", RequestAndResponse()) +
                              ExchangeXml(auth, "192.168.7.1", RequestAndResponse(id))));
}

// A peer remembers the tunnel its last exchange went to; exchanges that alternate between
// tunnels, and tunnels that are taken out or added between two exchanges, must not mislead it.
TEST(V2Peer, ExchangesReachTheirTunnelsHoweverTheyAlternate) {
  const std::vector<Msg> m = RequestAndResponse();
  const std::string a = Tunnel("10.0.0.1", "10.0.0.2"), b = Tunnel("10.0.0.1", "10.0.0.3"), c = Tunnel("10.0.0.4", "10.0.0.2");
  LogFile root;
  std::string text;
  int serial = 0;
  for (const std::string* tunnel : {&a, &a, &b, &a, &c, &c, &b})
    text += ExchangeXml(Attrs(std::to_string(++serial), *tunnel), "p", m);
  Load(root, text);
  auto* peer = dynamic_cast<V2Peer*>(root.Child(0));
  ASSERT_NE(peer, nullptr);
  const auto serials = [](const LogNode& tunnel) {
    std::string out;
    for (const auto& exchange : tunnel.Children()) out += std::string(exchange->Caption()).substr(8, 1);
    return out;
  };
  ASSERT_EQ(Captions(*peer), (Texts{"10.0.0.1 <=> 10.0.0.2", "10.0.0.1 <=> 10.0.0.3", "10.0.0.4 <=> 10.0.0.2"}));
  EXPECT_EQ(serials(*peer->Child(0)), "124");
  EXPECT_EQ(serials(*peer->Child(1)), "37");
  EXPECT_EQ(serials(*peer->Child(2)), "56");

  // The last exchange went to the second tunnel; it goes, and the next of its addresses makes
  // a tunnel of its own. Then a tunnel added before the others shifts their positions.
  std::unique_ptr<LogNode> gone = peer->TakeChild(std::size_t{1});
  peer->AddExchange(v2test::ReadExchange(ExchangeXml(Attrs("8", b), "p", m)));
  ASSERT_EQ(peer->ChildCount(), 3u);
  EXPECT_EQ(serials(*peer->Child(1)), "8");
  peer->AddChild(std::make_unique<V2Tunnel>(0x01000000u, 0x01000001u));
  peer->AddExchange(v2test::ReadExchange(ExchangeXml(Attrs("9", b), "p", m)));
  ASSERT_EQ(peer->ChildCount(), 4u);
  EXPECT_EQ(serials(*peer->Child(2)), "89");
  EXPECT_EQ(serials(*gone), "37");
}

TEST(V2Peer, PurgeDeletedDropsMarkedExchangesAndEmptyTunnels) {
  const std::vector<Msg> m = RequestAndResponse();
  LogFile root;
  Load(root, ExchangeXml(Attrs("1", Tunnel("10.0.0.1", "10.0.0.2")), "p", m) +
                 ExchangeXml(Attrs("2", Tunnel("10.0.0.1", "10.0.0.2")), "p", m) +
                 ExchangeXml(Attrs("3", Tunnel("10.0.0.1", "10.0.0.3")), "p", m) + ExchangeXml(Attrs("4"), "p", m));
  LogNode& peer = *root.Child(0);
  ASSERT_EQ(peer.ChildCount(), 3u);
  peer.Child(0)->Child(0)->SetDeleted();
  peer.Child(1)->Child(0)->SetDeleted();
  peer.Child(2)->SetDeleted();
  peer.PurgeDeleted();
  ASSERT_EQ(peer.ChildCount(), 1u);
  EXPECT_EQ(Captions(*peer.Child(0)), Texts{"Initial 2 ==> 2008-01-15 10:01:02 to 10:01:03"});
}

TEST(IKEv2Load, MissingClosingTagsDoNotSwallowTheNextExchange) {
  const std::vector<Msg> m = RequestAndResponse();
  std::string broken = ExchangeXml(Attrs("1"), "10.0.0.1", m);
  // Cut the first exchange after its first message's payload list opened.
  broken = broken.substr(0, broken.find("\t\t</Payloads>"));
  LogFile root;
  Load(root, broken + ExchangeXml(Attrs("2"), "10.0.0.2", m) + ExchangeXml(Attrs("3"), "10.0.0.2", m));
  ASSERT_EQ(Captions(root), (Texts{"10.0.0.1", "10.0.0.2"}));
  EXPECT_EQ(root.Child(1)->Child(0)->ChildCount(), 2u);

  // The same with the payload list closed but the message and exchange not.
  std::string unclosed = ExchangeXml(Attrs("1"), "10.0.0.1", {m[0]});
  unclosed = unclosed.substr(0, unclosed.find("\t</Message>"));
  LogFile second;
  Load(second, unclosed + ExchangeXml(Attrs("2"), "10.0.0.2", m));
  EXPECT_EQ(CountExchanges(second), 2u);

  // A payload that runs into the end of its exchange leaves the lines after it alone.
  const std::string openSA = "\t\t\t<Payload Type=\"SecurityAssociation\">\n</Exchange>\n";
  std::string swallowing = "<Exchange\n " + Attrs("1") + ">\n<peerIP>10.0.0.1</peerIP>\n";
  std::string message = v2test::MessageXml(m[0]);
  message = message.substr(0, message.find("\t\t</Payloads>")) + openSA;
  LogFile third;
  Load(third, swallowing + message + "<Note>between exchanges</Note>\n" + ExchangeXml(Attrs("2"), "10.0.0.2", m));
  EXPECT_EQ(CountExchanges(third), 2u);
}

// Reading a log in pieces on several threads must give the tree that reading it in one piece
// gives, whatever the piece size, including the fallback for stretches with nowhere to cut.
TEST(IKEv2Load, PiecesReadApartGiveTheTreeOfOnePiece) {
  std::vector<std::string> logs;
  for (const char* name : {"ikev2-site-to-site.xml", "ikev2-remote-access.xml"}) {
    const std::string sample = testing::ExampleText(name);
    ASSERT_FALSE(sample.empty());
    logs.push_back(sample);
    std::string crlf, cr;
    for (const char c : sample) {
      crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
      cr += c == '\n' ? '\r' : c;
    }
    logs.push_back(crlf);
    logs.push_back(cr);
    // Exchanges cut short by the next one's start line.
    std::string cut = sample;
    for (std::size_t at = cut.find("</Exchange>"); at != std::string::npos; at = cut.find("</Exchange>", at + 1))
      cut.replace(at, 11, "<Exchange\n");
    logs.push_back(cut);
  }

  const auto tree = [](const std::string& text, const IKEv2ReadOptions& options) {
    LogFile root;
    LogLineReader reader = LogLineReader::FromText(text);
    ReadIKEv2Log(root, reader, options);
    return cli::TextTree(root, {false, true}) + testing::AllLogSpans(root) + (root.IsWrongFormat() ? "wrong format" : "");
  };
  for (const std::string& log : logs) {
    const std::string whole = tree(log, {std::size_t{1} << 40, std::size_t{1} << 40, 1});
    ASSERT_FALSE(whole.empty());
    EXPECT_EQ(tree(log, {1, std::size_t{1} << 40, 3}), whole);  // a piece per exchange
    EXPECT_EQ(tree(log, {700, std::size_t{1} << 40, 2}), whole);
    EXPECT_EQ(tree(log, {1, 200, 2}), whole);  // most stretches too long to cut: read in place
  }
  // A log of known size is cut into smaller pieces towards its end.
  std::string big;
  while (big.size() < (std::size_t{3} << 19)) big += logs[0] + logs[4];
  EXPECT_EQ(tree(big, {}), tree(big, {std::size_t{1} << 40, std::size_t{1} << 40, 1}));
}

TEST(IKEv2Load, FailedExchangesSayWhoRejectedThem) {
  const std::string noProposal = v2test::PayloadXml("Notify", "<Type>No proposal chosen</Type>\n");
  const std::string rekey = v2test::PayloadXml("Notify", "<Type>Rekey SA</Type>\n");
  const auto attrs = [](const std::string& status, const std::string& dir) {
    return "final_status=\"" + status + "\" Type=\"Initial\" serial=\"5\" Dir=\"" + dir + "\"";
  };
  struct Case {
    const char* what;
    std::string attributes;
    std::vector<Msg> messages;
    std::string summary;
  };
  const std::string heading = "\r\n\r\nSummary:\r\n";
  for (const Case& c : {
           Case{"the peer's answer refuses", attrs("failed", "Outbound"), RequestAndResponse("", noProposal),
                heading + "Rejected by peer: No proposal chosen"},
           Case{"our answer refuses", attrs("failed", "Inbound"), RequestAndResponse("", noProposal),
                heading + "Rejected by local host: No proposal chosen"},
           Case{"no answer", attrs("timeout", "Outbound"), {RequestAndResponse()[0]}, heading + "No response from peer"},
           Case{"a status notification refuses nothing", attrs("failed", "Outbound"), RequestAndResponse("", rekey),
                heading + "No response from peer"},
           Case{"a completed exchange has no summary", attrs("success", "Outbound"), RequestAndResponse("", noProposal), ""},
       }) {
    LogFile root;
    const std::string text = ExchangeXml(c.attributes, "192.168.7.1", c.messages) +
                             ExchangeXml(Attrs("6"), "192.168.7.1", RequestAndResponse());
    Load(root, text);
    const LogNode& tunnel = *root.Child(0)->Child(0);
    const std::string detail = tunnel.Child(0)->DetailText();
    EXPECT_EQ(detail.substr(detail.size() - c.summary.size()), c.summary) << c.what;
    EXPECT_EQ(detail.find("Summary:") == std::string::npos, c.summary.empty()) << c.what;
    // Peer and log count the failed exchanges as IKEv1 peers and logs do.
    const std::string failed = c.summary.empty() ? "" : "Number of failed negotiations\t\t\t\t1\r\n";
    EXPECT_EQ(root.Child(0)->DetailText(), "IKEv2 Peer\r\n" + (failed.empty() ? "" : "\r\nSummary:\r\n" + failed)) << c.what;
    EXPECT_EQ(root.DetailText(), "LogFile\r\n" + (failed.empty() ? "" : "\r\nSummary:\r\n\r\n192.168.7.1\r\n" + failed + "\r\n"))
        << c.what;
    // Each message's stretch of the log is its element; the exchange's, its whole element.
    const LogNode& exchange = *tunnel.Child(1);
    const std::size_t start = text.find("<Exchange", 1);
    EXPECT_EQ(LogSpansOf(exchange), (std::vector<LogSpan>{{start, text.size()}}));
    const std::size_t message = text.find("\t<Message", start);
    EXPECT_EQ(LogSpansOf(*exchange.Child(0)),
              (std::vector<LogSpan>{{message, text.find("</Message>\n", message) + 11}}));
  }
}

}  // namespace
}  // namespace quillon
