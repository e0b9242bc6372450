#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "PayloadBlocks.h"
#include "ikev1/payloads/DeletePayload.h"
#include "ikev1/payloads/IsakmpValue.h"
#include "ikev1/payloads/NotifyPayload.h"

namespace quillon {
namespace {

using namespace payload_blocks;

// The notification's data size is not logged: it is the payload length less the fixed fields
// (12 bytes) and the SPI.
std::string NotifyBlock(const std::string& length, const std::string& protId, const std::string& spiSize,
                        const std::string& type, const std::string& spi, const std::string& data) {
  return "debugNotifyPayload:\n" + Head(length) + "\tDOI: 00 00 00 01 \n\tProtID: " + protId +
         "\n\tSPISize: " + spiSize + "\n\tNotifyType: " + type + " \n\tSPI: " + spi + " \n\tNotifData: " + data +
         " \n";
}

std::string DeleteBlock(const std::string& doi, const std::string& spiSize, const std::string& count,
                        const std::string& spis) {
  return "debugDeletePayload:\n" + Head("00 14 (20)") + "\tDOI: " + doi + " \n\tProtID: 03\n\tSPISize: " + spiSize +
         "\n\tSPIs: " + count + " \n\tSPIs: " + spis + " \n";
}

std::unique_ptr<NotifyPayload> ReadNotify(const std::string& text) { return ReadBlock<NotifyPayload>(text + Nonce()); }

// A responder-lifetime notification of an ESP SA: its data repeated as two attributes.
const std::string kLifetime = NotifyBlock("00 1c (28)", "03", "04", "60 00", "11 22 33 44", "80 01 00 01 80 02 70 80") +
                              Basic("80 01", "00 01") + Basic("80 02", "00 00 70 80");

// ---- notifications -------------------------------------------------------------------------------

TEST(NotifyPayloadTest, WithoutDataNoDataIsSought) {
  auto reader = DebugLogReader::FromText(NotifyBlock("00 0c (12)", "01", "00", "00 18", "", "aa bb") + Nonce());
  auto notify = ReadBlock<NotifyPayload>(reader);
  ASSERT_NE(notify, nullptr);
  EXPECT_FALSE(notify->HasData());
  EXPECT_TRUE(notify->NotifData().empty());
  EXPECT_EQ(notify->Caption(), "Notify:   AUTHENTICATION-FAILED");
  EXPECT_EQ(notify->SpiText(), "");
  EXPECT_EQ(notify->DetailText(),
            "Notify Payload\r\n\r\nNext Payload:\tNONE\r\nReserved:\t0\r\nLength:\t\t00 0c  (12)\r\n"
            "DOI:\t\t00 00 00 01  (1)\r\nProtID:\t\t1\r\nSPI Size:\t0\r\nNotify Type:\t24 (AUTHENTICATION-FAILED)\r\n");
  // The chain's skip passes over the rest of the block.
  EXPECT_EQ(reader.SkipToBlockKeyword(), "debugNoncePayload:");
}

// What a notification shows after its fields depends on its type: a replay status, the data as
// characters, or the lifetime attributes read in the SA set of the notification's protocol.
TEST(NotifyPayloadTest, DataShownByType) {
  struct Case {
    std::string block;
    const char* caption;
    const char* ending;
  };
  const Case cases[] = {
      {NotifyBlock("00 14 (20)", "03", "04", "60 01", "11 22 33 44", "00 00 00 01"), "Notify:   REPLAY-STATUS",
       "\r\nProtID:\t\t3\r\nSPI Size:\t4\r\nNotify Type:\t24577 (REPLAY-STATUS)\r\nSPI:\r\n11223344\r\n"
       "Notify Data:\r\n00 00 00 01  (replay detection enabled)\r\n\r\n"},
      {NotifyBlock("00 14 (20)", "03", "04", "60 01", "11 22 33 44", "00 00 00 00"), "Notify:   REPLAY-STATUS",
       "Notify Data:\r\n00 00 00 00  (replay detection disabled)\r\n\r\n"},
      {NotifyBlock("00 10 (16)", "03", "00", "60 02", "", "00 00 00 01"), "Notify:   INITIAL-CONTACT",
       "Notify Data:\r\n00 00 00 01 \r\n\r\n"},
      {NotifyBlock("00 0e (14)", "03", "01", "60 02", "ab", "01"), "Notify:   INITIAL-CONTACT",
       "\r\nSPI Size:\t1\r\nNotify Type:\t24578 (INITIAL-CONTACT)\r\nSPI:\r\nab\r\nNotify Data:\r\n01 \r\n\r\n"},
      {NotifyBlock("00 0d (13)", "01", "00", "80 04", "", "41"), "Notify:   TRX_AUTH_NOTIFY ",
       "Notify Data as string:\r\nA\r\n\r\n"},
      {NotifyBlock("00 0d (13)", "01", "00", "00 0f", "", "41"), "Notify:   BAD-PROPOSAL-SYNTAX",
       "Notify Data:\r\n41 \r\n\r\n"},
      {NotifyBlock("00 18 (24)", "01", "00", "60 00", "", "80 0b 00 01 80 0c 70 80") + Basic("80 0b", "00 01") +
           Basic("80 0c", "00 00 70 80"),
       "Notify:   RESPONDER-LIFETIME", "\r\n\r\nLife Type:\t\tSeconds\r\nLife Duration:\t\t28800\r\n"},
  };
  for (const Case& c : cases) {
    auto notify = ReadNotify(c.block);
    ASSERT_NE(notify, nullptr);
    EXPECT_EQ(notify->Caption(), c.caption);
    EXPECT_TRUE(notify->DetailText().ends_with(c.ending)) << notify->DetailText();
  }
  // A long data dump wraps.
  auto longData = ReadNotify(NotifyBlock("00 2c (44)", "01", "00", "00 0e", "", Hex(32, 0x41)));
  EXPECT_NE(longData->DetailText().find("Notify Data:\r\n  41 42"), std::string::npos);
}

// The daemon's second rendering of 45 data bytes: after "NotifData" and two tokens, 3 characters
// a byte, 3 for the first line break and 4 for each full 20 bytes: 135 + 3 + 8 = 146 characters.
std::string SecondRendering45() {
  std::string body = "\n  ";
  for (int i = 0; i < 45; ++i) {
    if (i == 20 || i == 40) body += "\n   ";
    body += " " + NumberText(static_cast<std::uint32_t>(i), 16);
  }
  EXPECT_EQ(body.size(), 146u);
  return "NotifData (45 bytes):" + body;
}

TEST(NotifyPayloadTest, SecondDataRenderingIsSkipped) {
  auto notify = ReadBeforeNonce<NotifyPayload>(NotifyBlock("00 39 (57)", "03", "00", "60 00", "", Hex(45)) +
                                               SecondRendering45() + "\n" + Basic("80 01", "00 01") +
                                               Basic("80 02", "00 00 70 80"));
  ASSERT_EQ(notify->NotifData().size(), 45u);
  ASSERT_EQ(notify->ChildCount(), 2u);  // the attributes after the rendering were found

  // Without attributes the token after the rendering is left to be read.
  auto plain = DebugLogReader::FromText(NotifyBlock("00 39 (57)", "01", "00", "00 0e", "", Hex(45)) +
                                        SecondRendering45() + "\nnext-token");
  EXPECT_TRUE(ReadBlock<NotifyPayload>(plain)->DataAsText());
  EXPECT_EQ(plain.ReadToken(), "next-token");

  // The skip counts characters from the end of the last token read: 146 for 45 bytes, 60 and 4
  // for the full line for 20.
  struct Skip { std::size_t blanks; std::size_t bytes; const char* next; };
  for (const Skip& s : {Skip{145, 45, "next"}, Skip{146, 45, "z"}, Skip{63, 20, "next"}}) {
    auto counted = DebugLogReader::FromText("a" + std::string(s.blanks, ' ') + "z next");
    counted.ReadToken();
    SkipSecondDataRendering(counted, s.bytes);
    EXPECT_EQ(counted.ReadToken(), s.next) << s.blanks;
  }
  // A shorter rendering does not swallow the next packet, nor run past the end.
  auto shortRendering = DebugLogReader::FromText("a 00 01\ndebugIsakmpHdr: x");
  shortRendering.ReadToken();
  SkipSecondDataRendering(shortRendering, 45);
  EXPECT_EQ(shortRendering.ReadToken(), "debugIsakmpHdr:");
  auto atEnd = DebugLogReader::FromText("a 00 01");
  atEnd.ReadToken();
  SkipSecondDataRendering(atEnd, 45);
  EXPECT_TRUE(atEnd.AtEnd());
}

TEST(NotifyPayloadTest, BadLengths) {
  // Shorter than the fixed fields (a negative data size), no room left after the SPI, unreadable.
  for (const std::string& block : {NotifyBlock("00 04 (4)", "01", "00", "00 0e", "", "41 42"),
                                   NotifyBlock("00 10 (16)", "03", "04", "00 0e", "11 22 33 44", "41"),
                                   NotifyBlock("zz", "01", "00", "00 0e", "", "41")}) {
    auto notify = ReadNotify(block);
    EXPECT_FALSE(notify->HasData()) << block;
    EXPECT_EQ(notify->DetailText().find("Notify Data:"), std::string::npos);
  }
  // A length far beyond the file: the data there is read.
  EXPECT_EQ(ReadNotify(NotifyBlock("ff ff (65535)", "01", "00", "00 0e", "", "41 42"))->NotifData(),
            (ByteList{0x41, 0x42}));
  // A missing data label leaves the data empty and the next block alone.
  auto noLabel = ReadBeforeNonce<NotifyPayload>("debugNotifyPayload:\n" + Head("00 20 (32)") +
                                                "\tDOI: 00 00 00 01\n\tProtID: 01\n\tSPISize: 00\n"
                                                "\tNotifyType: 60 00\n" + Basic("80 0b", "00 01"));
  EXPECT_TRUE(noLabel->HasData());
  EXPECT_TRUE(noLabel->NotifData().empty());
  EXPECT_EQ(noLabel->ChildCount(), 1u);
  // A block missing every field.
  auto bare = ReadNotify("debugNotifyPayload:\n");
  EXPECT_EQ(bare->Fields().nextPld, kUnread);
  EXPECT_EQ(bare->Caption(), "Notify:   UNKNOWN NOTIFICATION!!!");
}

TEST(NotifyPayloadTest, ChainGoesOnAfterBadNotifications) {
  const std::string bad[] = {
      NotifyBlock("ff ff (65535)", "01", "00", "00 0e", "", "41 42") + "NotifData (2 bytes):\n",
      NotifyBlock("00 39 (57)", "03", "00", "60 00", "", Hex(45)) + "NotifData (45 bytes):\n 00 01\n",
      "debugNotifyPayload:\n" + Head("00 20 (32)") +
          "\tDOI: 00 00 00 01\n\tProtID: 03\n\tSPISize: 04\n\tNotifyType: 60 00\n\tSPI: 11 22\n",
      NotifyBlock("00 20 (32)", "03", "00", "60 00", "", "80 01") +
          "debugIsakmpValue:\n\tAttribute: 80 01\n\tFormat:\n",
  };
  for (const std::string& block : bad) {
    SCOPED_TRACE(block);
    LoadedPackets packets(Received("process_packet3phase1:", block) +
                                           Received("process_packet4phase1:", Nonce("07")));
    auto first = CutPacketThenWholeOne<Main34Mess>(packets, 0x0C);
    ASSERT_NE(first, nullptr);
    ASSERT_GE(first->ChildCount(), 2u);
    EXPECT_NE(dynamic_cast<NotifyPayload*>(first->Child(1)), nullptr);
  }
}

TEST(NotifyPayloadTest, ReadsBackWhatItWrites) {
  EXPECT_EQ(Written(*ReadAndReadBack(kLifetime)),
            "debugNotifyPayload:\n\tNextPld: 00\n\tReserved: 00\n\tLength: 00 1c (28)\n\tDOI: 00 00 00 01 \n"
            "\tProtID: 03\n\tSPISize: 04 (4)\n\tNotifyType: 60 00 \n\tSPI: 11 22 33 44 \n"
            "\tNotifData: 80 01 00 01 80 02 70 80 \n"
            "debugIsakmpValue:\n\tAttribute: 80 01 \n\tFormat: 1\n\tVal: 00 01 \n"
            "debugIsakmpValue:\n\tAttribute: 80 02 \n\tFormat: 1\n\tVal: 00 00 70 80 \n");
  // Nothing to say: the SPI and data lines stay, empty.
  EXPECT_TRUE(Written(*ReadAndReadBack(NotifyBlock("00 0c (12)", "01", "00", "8d 28", "", "")))
                  .ends_with("\tNotifyType: 8d 28 \n\tSPI: \n\tNotifData: \n"));
  ReadAndReadBack(NotifyBlock("00 14 (20)", "03", "04", "60 01", "11 22 33 44", "00 00 00 01"));
  // A 16-byte SPI in the wrapped, unspaced form: two halves, fifteen bytes a line.
  auto wide = ReadAndReadBack(NotifyBlock("00 2c (44)", "01", "10", "00 0e", Hex(16), Hex(16, 0x41)));
  EXPECT_NE(wide->DetailText().find("SPI:\r\n  0001020304050607  08090a0b0c0d0e\r\n  0f\r\n"), std::string::npos);
}

// ---- deletes -------------------------------------------------------------------------------------

TEST(DeletePayloadTest, CaptionTextAndProtocol) {
  auto ipsec = ReadAndReadBack<DeletePayload>(DeleteBlock("00 00 00 01", "04", "00 02", "11 22 33 44 aa bb cc dd"));
  ASSERT_NE(ipsec, nullptr);
  EXPECT_EQ(ipsec->Caption(), "Delete  (11223344aabbccdd)");
  EXPECT_EQ(ipsec->SpiText(), "11223344aabbccdd");
  EXPECT_EQ(ipsec->ProtocolName(), "IPsec");
  EXPECT_EQ(ipsec->DetailText(),
            "Delete Payload\r\n\r\nNext Payload:\tNONE\r\nReserved:\t0\r\nLength:\t\t00 14  (20)\r\n"
            "DOI:\t\t00 00 00 01 \r\nProtID:\t\t3\r\nSPI Size:\t4\r\nNum of SPIs:\t2\r\nSPI:\t\t11223344aabbccdd\r\n");
  EXPECT_EQ(Written(*ipsec),
            "debugDeletePayload:\n\tNextPld: 00\n\tReserved: 00\n\tLength: 00 14 (20)\n\tDOI: 00 00 00 01 \n"
            "\tProtID: 03\n\tSPISize: 04 (4)\n\tSPIs: 00 02 \n\tSPIs: 11 22 33 44 aa bb cc dd \n");

  EXPECT_EQ(ReadBlock<DeletePayload>(DeleteBlock("00 00 00 00", "04", "00 01", "11 22 33 44"))->ProtocolName(), "IKE");
  EXPECT_EQ(ReadBlock<DeletePayload>(DeleteBlock("00 00 00 02", "04", "00 01", "11 22 33 44"))->ProtocolName(), "");
  ReadAndReadBack<DeletePayload>(DeleteBlock("", "", "", ""));


  // The daemon's count label may carry more words; the SPI label is what counts.
  EXPECT_EQ(ReadBeforeNonce<DeletePayload>("debugDeletePayload:\n" + Head("00 10 (16)") +
                                           "\tDOI: 00 00 00 01\n\tProtID: 03\n\tSPISize: 04\n"
                                           "\tNum of SPIs: 00 01\n\tSPIs: 0a 0b 0c 0d\n")
                ->SPIs(),
            (ByteList{0xa, 0xb, 0xc, 0xd}));
}

TEST(DeletePayloadTest, InTheChain) {
  LoadedPackets packets(
      Received("process_packet3phase1:", DeleteBlock("00 00 00 01", "04", "00 01", "11 22 33 44") +
                                             NotifyBlock("00 10 (16)", "03", "04", "60 02", "55 66 77 88", "") +
                                             "debugDeletePayload:\n") +
      Received("process_packet4phase1:", Nonce("07")));
  auto m = packets.Next<Main34Mess>();
  ASSERT_EQ(m->ChildCount(), 4u);
  EXPECT_EQ(m->Child(1)->Caption(), "Delete  (11223344)");
  EXPECT_EQ(m->Child(2)->Caption(), "Notify:   INITIAL-CONTACT");
  EXPECT_EQ(m->SpiText(), "11223344");
  // A delete block without fields keeps empty SPIs and the next packet is found.
  EXPECT_EQ(m->Child(3)->Caption(), "Delete  ()");
  EXPECT_EQ(packets.Next<Main34Mess>()->GetHeader()->PacketKind(), 0x0Cu);
}

}  // namespace
}  // namespace quillon
