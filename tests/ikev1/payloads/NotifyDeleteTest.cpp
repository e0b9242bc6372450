#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "ikev1/log/DebugLogReader.h"
#include "ikev1/log/Header.h"
#include "ikev1/log/Message.h"
#include "ikev1/log/PacketDebugRecord.h"
#include "ikev1/log/PacketDebugTable.h"
#include "ikev1/payloads/DeletePayload.h"
#include "ikev1/payloads/IsakmpValue.h"
#include "ikev1/payloads/NotifyPayload.h"
#include "ikev1/payloads/PayloadFactory.h"

namespace quillon {
namespace {

// ---- blocks ---------------------------------------------------------------------------------------

std::string NotifyBlock(const std::string& length, const std::string& protId, const std::string& spiSize,
                        const std::string& type, const std::string& spi, const std::string& data) {
  return "debugNotifyPayload:\n\tNextPld: 00\n\tReserved: 00\n\tLength: " + length +
         "\n\tDOI: 00 00 00 01 \n\tProtID: " + protId + "\n\tSPISize: " + spiSize + "\n\tNotifyType: " + type +
         " \n\tSPI: " + spi + " \n\tNotifData: " + data + " \n";
}

std::string Basic(const std::string& attribute, const std::string& val) {
  return "debugIsakmpValue:\n\tAttribute: " + attribute + " \n\tFormat: 1\n\tVal: " + val + " \n";
}

std::string DeleteBlock(const std::string& doi, const std::string& spiSize, const std::string& count,
                        const std::string& spis) {
  return "debugDeletePayload:\n\tNextPld: 00\n\tReserved: 00\n\tLength: 00 14 (20)\n\tDOI: " + doi +
         " \n\tProtID: 03\n\tSPISize: " + spiSize + "\n\tSPIs: " + count + " \n\tSPIs: " + spis + " \n";
}

std::string Nonce(const std::string& data) {
  return "debugNoncePayload:\n\tNextPld: 00\n\tReserved: 00\n\tLength: 00 08 (8)\n\tNonceData: " + data + "\n";
}

std::string Hex(std::size_t count, unsigned first = 0) {
  std::string out;
  for (std::size_t i = 0; i < count; ++i)
    out += (i > 0 ? " " : "") + NumberText(static_cast<std::uint32_t>(first + i) & 0xFF, 16);
  return out;
}

// Reads one block as the message's chain does: the keyword, then the class the factory names.
template <class P>
std::unique_ptr<P> ReadBlock(DebugLogReader& reader) {
  const int code = DebugLogReader::BlockKeywordCode(reader.ReadToken());
  std::unique_ptr<QLFolder> node = CreatePayload(code, reader, PayloadContext{false, 64, nullptr});
  return std::unique_ptr<P>(dynamic_cast<P*>(node.release()));
}

template <class P>
std::unique_ptr<P> ReadBlock(const std::string& text) {
  auto reader = DebugLogReader::FromText(text);
  return ReadBlock<P>(reader);
}

std::unique_ptr<NotifyPayload> ReadNotify(const std::string& text) {
  return ReadBlock<NotifyPayload>(text + Nonce("01"));
}

void WriteTree(const QLFolder& node, std::string& out) {
  node.WriteDebug(out);
  for (const auto& child : node.Children()) WriteTree(*child, out);
  node.WriteDebugLength(out);
}

std::string Written(const QLFolder& node) {
  std::string out;
  WriteTree(node, out);
  return out;
}

// ---- packets --------------------------------------------------------------------------------------

const std::string kPlus(70, '+');

std::string Received(const std::string& keyword, const std::string& payloads) {
  return "debugIsakmpHdr: (Process)\n\tInitCookie: 01 02 03 04 05 06 07 08 \n\tRspCookie: 11 12 13 14 15 16 17 18 \n"
         "\tNextPld: 0b\n\tMjVer: 01\n\tMnVer: 00\n\tExcType: 05\n\tResFlag: 00\n\tCommitFlag: 00\n\tEncFlag: 00\n"
         "\tMsgID: 00 00 00 09 \n\tLength: 00 00 00 1c (28)\n\n" +
         kPlus + "\n" + keyword + " peer: 0a000001 ~~ Mon Nov 13 12:34:56 2006\n" + kPlus + "\n" + payloads;
}

std::unique_ptr<Main34Mess> LoadNext(DebugLogReader& reader) {
  while (!reader.AtEnd()) {
    auto header = std::make_unique<Header>(reader);
    if (reader.IsAbandoned()) {
      reader.ClearAbandon();
      continue;
    }
    auto message = std::make_unique<Main34Mess>("packet", nullptr);
    message->Load(std::move(header), reader);
    reader.ClearAbandon();
    return message;
  }
  return nullptr;
}

// ---- notifications ----------------------------------------------------------------------------------

TEST(NotifyPayloadTest, WithoutDataNoDataIsSought) {
  auto reader = DebugLogReader::FromText(NotifyBlock("00 0c (12)", "01", "00", "00 18", "", "aa bb") + Nonce("01"));
  auto notify = ReadBlock<NotifyPayload>(reader);
  ASSERT_NE(notify, nullptr);
  EXPECT_FALSE(notify->HasData());
  EXPECT_TRUE(notify->NotifData().empty());
  EXPECT_EQ(notify->Caption(), "Notify:   AUTHENTICATION-FAILED");
  EXPECT_EQ(notify->NotifyTypeName(), "AUTHENTICATION-FAILED");
  EXPECT_EQ(notify->SpiText(), "");
  EXPECT_EQ(notify->DetailText(),
            "Notify Payload\r\n\r\nNext Payload:\tNONE\r\nReserved:\t0\r\nLength:\t\t00 0c  (12)\r\n"
            "DOI:\t\t00 00 00 01  (1)\r\nProtID:\t\t1\r\nSPI Size:\t0\r\nNotify Type:\t24 (AUTHENTICATION-FAILED)\r\n");
  // The chain's skip passes over the rest of the block.
  EXPECT_EQ(reader.SkipToBlockKeyword(), "debugNoncePayload:");
}

TEST(NotifyPayloadTest, ReplayStatus) {
  auto enabled = ReadNotify(NotifyBlock("00 14 (20)", "03", "04", "60 01", "11 22 33 44", "00 00 00 01"));
  EXPECT_TRUE(enabled->HasData());
  EXPECT_EQ(enabled->SPI(), (ByteList{0x11, 0x22, 0x33, 0x44}));
  EXPECT_EQ(enabled->SpiText(), "11223344");
  EXPECT_EQ(enabled->Caption(), "Notify:   REPLAY-STATUS");
  EXPECT_TRUE(enabled->DetailText().ends_with(
      "\r\nProtID:\t\t3\r\nSPI Size:\t4\r\nNotify Type:\t24577 (REPLAY-STATUS)\r\nSPI:\r\n11223344\r\n"
      "Notify Data:\r\n00 00 00 01  (replay detection enabled)\r\n\r\n"));
  auto disabled = ReadNotify(NotifyBlock("00 14 (20)", "03", "04", "60 01", "11 22 33 44", "00 00 00 00"));
  EXPECT_TRUE(disabled->DetailText().ends_with("Notify Data:\r\n00 00 00 00  (replay detection disabled)\r\n\r\n"));
  // Other types have no status text.
  EXPECT_EQ(ReadNotify(NotifyBlock("00 10 (16)", "03", "00", "60 02", "", "00 00 00 01"))->StatusText(), "");
}

TEST(NotifyPayloadTest, NoProposalChosenShowsItsDataTwice) {
  auto notify = ReadNotify(NotifyBlock("00 13 (19)", "01", "00", "00 0e", "", "6e 6f 20 70 72 6f 70"));
  EXPECT_TRUE(notify->DataAsText());
  EXPECT_TRUE(notify->DetailText().ends_with(
      "Notify Type:\t14 (NO-PROPOSAL-CHOSEN)\r\nNotify Data:\r\n6e 6f 20 70 72 6f 70 \r\n\r\n"
      "Notify Data as string:\r\nno prop\r\n\r\n"));
  EXPECT_TRUE(ReadNotify(NotifyBlock("00 0d (13)", "01", "00", "80 04", "", "41"))->DataAsText());  // TRX_AUTH_NOTIFY
  EXPECT_FALSE(ReadNotify(NotifyBlock("00 0d (13)", "01", "00", "00 0f", "", "41"))->DataAsText());

  // A long data dump wraps in the text.
  auto longData = ReadNotify(NotifyBlock("00 2c (44)", "01", "00", "00 0e", "", Hex(32, 0x41)));
  EXPECT_NE(longData->DetailText().find("Notify Data:\r\n  41 42"), std::string::npos);
}

TEST(NotifyPayloadTest, ResponderLifetimeAttributesInBothSpaces) {
  auto esp = ReadNotify(NotifyBlock("00 1c (28)", "03", "04", "60 00", "11 22 33 44", "80 01 00 01 80 02 70 80") +
                        Basic("80 01", "00 01") + Basic("80 02", "00 00 70 80"));
  ASSERT_EQ(esp->ChildCount(), 2u);
  EXPECT_EQ(dynamic_cast<const IsakmpValue&>(*esp->Child(0)).AttributeSpace(), 64);
  EXPECT_EQ(esp->Caption(), "Notify:   RESPONDER-LIFETIME");
  EXPECT_TRUE(
      esp->DetailText().ends_with("Notify Data:\r\n80 01 00 01 80 02 70 80 \r\n\r\n"
                                  "SA Life Type:\t\tSeconds\r\nSA Life Duration:\t28800\r\n"));

  auto isakmp = ReadNotify(NotifyBlock("00 18 (24)", "01", "00", "60 00", "", "80 0b 00 01 80 0c 70 80") +
                           Basic("80 0b", "00 01") + Basic("80 0c", "00 00 70 80"));
  ASSERT_EQ(isakmp->ChildCount(), 2u);
  EXPECT_EQ(dynamic_cast<const IsakmpValue&>(*isakmp->Child(0)).AttributeSpace(), 32);
  EXPECT_TRUE(isakmp->DetailText().ends_with("\r\n\r\nLife Type:\t\tSeconds\r\nLife Duration:\t\t28800\r\n"));
}

// The daemon's second rendering of 45 data bytes: after "NotifData" and two tokens, 3 characters
// a byte, 3 for the first line break and 4 for each full 20 bytes: 135 + 3 + 8 = 146 characters.
std::string SecondRendering45() {
  std::string r = "NotifData (45 bytes):";
  std::string body = "\n  ";
  for (int i = 0; i < 45; ++i) {
    if (i == 20 || i == 40) body += "\n   ";
    body += " " + NumberText(static_cast<std::uint32_t>(i), 16);
  }
  EXPECT_EQ(body.size(), 146u);
  return r + body;
}

TEST(NotifyPayloadTest, SecondDataRenderingIsSkipped) {
  const std::string data = Hex(45);
  auto reader =
      DebugLogReader::FromText(NotifyBlock("00 39 (57)", "03", "00", "60 00", "", data) + SecondRendering45() + "\n" +
                               Basic("80 01", "00 01") + Basic("80 02", "00 00 70 80") + Nonce("01"));
  auto notify = ReadBlock<NotifyPayload>(reader);
  ASSERT_EQ(notify->NotifData().size(), 45u);
  ASSERT_EQ(notify->ChildCount(), 2u);  // the attributes after the rendering were found
  EXPECT_EQ(reader.ReadToken(), "debugNoncePayload:");

  // Without attributes the token after the rendering is left to be read.
  auto plain = DebugLogReader::FromText(NotifyBlock("00 39 (57)", "01", "00", "00 0e", "", data) + SecondRendering45() +
                                        "\nnext-token");
  auto noProposal = ReadBlock<NotifyPayload>(plain);
  EXPECT_TRUE(noProposal->DataAsText());
  EXPECT_EQ(plain.ReadToken(), "next-token");
}

TEST(NotifyPayloadTest, SecondRenderingSkipCountsCharacters) {
  // 45 bytes: 146 characters from the end of the last token read.
  for (std::size_t blanks : {145u, 146u}) {
    auto reader = DebugLogReader::FromText("a" + std::string(blanks, ' ') + "z next");
    reader.ReadToken();
    SkipSecondDataRendering(reader, 45);
    EXPECT_EQ(reader.ReadToken(), blanks == 145u ? "next" : "z") << blanks;
  }
  // 20 bytes: 60 characters and 4 for the full line.
  auto twenty = DebugLogReader::FromText("a" + std::string(63, ' ') + "z next");
  twenty.ReadToken();
  SkipSecondDataRendering(twenty, 20);
  EXPECT_EQ(twenty.ReadToken(), "next");
  // A shorter rendering does not swallow the next block or packet.
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
  // A length shorter than the fixed fields: negative data size, no data.
  auto negative = ReadNotify(NotifyBlock("00 04 (4)", "01", "00", "00 0e", "", "41 42"));
  EXPECT_FALSE(negative->HasData());
  EXPECT_EQ(negative->DetailText().find("Notify Data:"), std::string::npos);
  // The SPI size counts too: 16 - 12 - 4 = 0.
  EXPECT_FALSE(ReadNotify(NotifyBlock("00 10 (16)", "03", "04", "00 0e", "11 22 33 44", "41"))->HasData());
  // An unreadable length.
  EXPECT_FALSE(ReadNotify(NotifyBlock("zz", "01", "00", "00 0e", "", "41"))->HasData());
  // A length far beyond the file: the data there is read.
  auto huge = ReadNotify(NotifyBlock("ff ff (65535)", "01", "00", "00 0e", "", "41 42"));
  EXPECT_TRUE(huge->HasData());
  EXPECT_EQ(huge->NotifData(), (ByteList{0x41, 0x42}));
  // A missing data label leaves the data empty and the next block alone.
  auto reader = DebugLogReader::FromText(
      "debugNotifyPayload:\n\tNextPld: 00\n\tReserved: 00\n\tLength: 00 20 (32)\n\tDOI: 00 00 00 01\n\tProtID: 01\n"
      "\tSPISize: 00\n\tNotifyType: 60 00\n" +
      Basic("80 0b", "00 01") + Nonce("01"));
  auto noLabel = ReadBlock<NotifyPayload>(reader);
  EXPECT_TRUE(noLabel->HasData());
  EXPECT_TRUE(noLabel->NotifData().empty());
  EXPECT_EQ(noLabel->ChildCount(), 1u);
  EXPECT_EQ(reader.ReadToken(), "debugNoncePayload:");
  // A block missing every field.
  auto bare = ReadBlock<NotifyPayload>("debugNotifyPayload:\n" + Nonce("01"));
  EXPECT_EQ(bare->Fields().nextPld, 0xFFFFFFFFu);
  EXPECT_EQ(bare->Caption(), "Notify:   UNKNOWN NOTIFICATION!!!");
  EXPECT_FALSE(bare->DetailText().empty());
}

TEST(NotifyPayloadTest, ChainGoesOnAfterBadNotifications) {
  const std::string bad[] = {
      NotifyBlock("ff ff (65535)", "01", "00", "00 0e", "", "41 42") + "NotifData (2 bytes):\n",
      NotifyBlock("00 39 (57)", "03", "00", "60 00", "", Hex(45)) + "NotifData (45 bytes):\n 00 01\n",
      "debugNotifyPayload:\n\tNextPld: 00\n\tReserved: 00\n\tLength: 00 20 (32)\n\tDOI: 00 00 00 01\n"
      "\tProtID: 03\n\tSPISize: 04\n\tNotifyType: 60 00\n\tSPI: 11 22\n",
      NotifyBlock("00 20 (32)", "03", "00", "60 00", "", "80 01") +
          "debugIsakmpValue:\n\tAttribute: 80 01\n\tFormat:\n",
  };
  for (const std::string& block : bad) {
    SCOPED_TRACE(block);
    auto reader = DebugLogReader::FromText(Received("process_packet3phase1:", block) +
                                           Received("process_packet4phase1:", Nonce("07")));
    auto first = LoadNext(reader);
    ASSERT_NE(first, nullptr);
    ASSERT_GE(first->ChildCount(), 2u);
    EXPECT_NE(dynamic_cast<NotifyPayload*>(first->Child(1)), nullptr);
    auto second = LoadNext(reader);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(second->GetHeader()->PacketKind(), 0x0Cu);
    EXPECT_EQ(second->ChildCount(), 2u);
  }
}

TEST(NotifyPayloadTest, ReadsBackWhatItWrites) {
  const std::string blocks[] = {
      NotifyBlock("00 1c (28)", "03", "04", "60 00", "11 22 33 44", "80 01 00 01 80 02 70 80") +
          Basic("80 01", "00 01") + Basic("80 02", "00 00 70 80"),
      NotifyBlock("00 0c (12)", "01", "00", "8d 28", "", ""),
      NotifyBlock("00 14 (20)", "03", "04", "60 01", "11 22 33 44", "00 00 00 01"),
      NotifyBlock("00 2c (44)", "01", "10", "00 0e", Hex(16), Hex(16, 0x41)),
  };
  for (const std::string& block : blocks) {
    SCOPED_TRACE(block);
    auto first = ReadNotify(block);
    const std::string written = Written(*first);
    auto again = ReadNotify(written);
    EXPECT_EQ(Written(*again), written);
    EXPECT_EQ(again->Caption(), first->Caption());
    EXPECT_EQ(again->DetailText(), first->DetailText());
    EXPECT_EQ(again->SpiText(), first->SpiText());
    EXPECT_EQ(again->ChildCount(), first->ChildCount());
  }
  auto lifetime = ReadNotify(blocks[0]);
  EXPECT_EQ(Written(*lifetime),
            "debugNotifyPayload:\n\tNextPld: 00\n\tReserved: 00\n\tLength: 00 1c (28)\n\tDOI: 00 00 00 01 \n"
            "\tProtID: 03\n\tSPISize: 04 (4)\n\tNotifyType: 60 00 \n\tSPI: 11 22 33 44 \n"
            "\tNotifData: 80 01 00 01 80 02 70 80 \n"
            "debugIsakmpValue:\n\tAttribute: 80 01 \n\tFormat: 1\n\tVal: 00 01 \n"
            "debugIsakmpValue:\n\tAttribute: 80 02 \n\tFormat: 1\n\tVal: 00 00 70 80 \n");
  // Nothing to say: the SPI and data lines stay, empty.
  EXPECT_TRUE(Written(*ReadNotify(blocks[1])).ends_with("\tNotifyType: 8d 28 \n\tSPI: \n\tNotifData: \n"));
  // A 16-byte SPI in the wrapped, unspaced form: two halves, fifteen bytes a line.
  EXPECT_NE(ReadNotify(blocks[3])->DetailText().find("SPI:\r\n  0001020304050607  08090a0b0c0d0e\r\n  0f\r\n"),
            std::string::npos);
}

// ---- deletes ----------------------------------------------------------------------------------------

TEST(DeletePayloadTest, CaptionTextAndProtocol) {
  auto ipsec =
      ReadBlock<DeletePayload>(DeleteBlock("00 00 00 01", "04", "00 02", "11 22 33 44 aa bb cc dd") + Nonce("01"));
  ASSERT_NE(ipsec, nullptr);
  EXPECT_EQ(ipsec->Caption(), "Delete  (11223344aabbccdd)");
  EXPECT_EQ(ipsec->SpiText(), "11223344aabbccdd");
  EXPECT_EQ(ipsec->ProtocolName(), "IPsec");
  EXPECT_EQ(ipsec->SpiCount(), (ByteList{0, 2}));
  EXPECT_EQ(ipsec->DetailText(),
            "Delete Payload\r\n\r\nNext Payload:\tNONE\r\nReserved:\t0\r\nLength:\t\t00 14  (20)\r\n"
            "DOI:\t\t00 00 00 01 \r\nProtID:\t\t3\r\nSPI Size:\t4\r\nNum of SPIs:\t2\r\nSPI:\t\t11223344aabbccdd\r\n");

  EXPECT_EQ(ReadBlock<DeletePayload>(DeleteBlock("00 00 00 00", "04", "00 01", "11 22 33 44"))->ProtocolName(), "IKE");
  EXPECT_EQ(ReadBlock<DeletePayload>(DeleteBlock("00 00 00 02", "04", "00 01", "11 22 33 44"))->ProtocolName(), "");

  // An ISAKMP SA is deleted by its cookie pair: 16 bytes, on a line of its own, in two halves.
  auto ike = ReadBlock<DeletePayload>(DeleteBlock("00 00 00 00", "10", "00 01", Hex(16)));
  EXPECT_TRUE(ike->DetailText().ends_with(
      "\r\nSPI Size:\t16\r\nNum of SPIs:\t1\r\nSPI:\r\n0001020304050607  08090a0b0c0d0e0f\r\n"));

  // The daemon's count label may carry more words; the SPI label is what counts.
  auto reader = DebugLogReader::FromText(
      "debugDeletePayload:\n\tNextPld: 00\n\tReserved: 00\n\tLength: 00 10 (16)\n\tDOI: 00 00 00 01\n\tProtID: 03\n"
      "\tSPISize: 04\n\tNum of SPIs: 00 01\n\tSPIs: 0a 0b 0c 0d\n" +
      Nonce("01"));
  auto worded = ReadBlock<DeletePayload>(reader);
  EXPECT_EQ(worded->SPIs(), (ByteList{0xa, 0xb, 0xc, 0xd}));
  EXPECT_EQ(reader.ReadToken(), "debugNoncePayload:");
}

TEST(DeletePayloadTest, ReadsBackWhatItWrites) {
  for (const std::string& block : {DeleteBlock("00 00 00 01", "04", "00 02", "11 22 33 44 aa bb cc dd"),
                                   DeleteBlock("00 00 00 00", "10", "00 01", Hex(16)), DeleteBlock("", "", "", "")}) {
    SCOPED_TRACE(block);
    auto first = ReadBlock<DeletePayload>(block + Nonce("01"));
    const std::string written = Written(*first);
    auto again = ReadBlock<DeletePayload>(written + Nonce("01"));
    EXPECT_EQ(Written(*again), written);
    EXPECT_EQ(again->Caption(), first->Caption());
    EXPECT_EQ(again->DetailText(), first->DetailText());
    EXPECT_EQ(again->ProtocolName(), first->ProtocolName());
  }
  EXPECT_EQ(Written(*ReadBlock<DeletePayload>(DeleteBlock("00 00 00 01", "04", "00 01", "11 22 33 44"))),
            "debugDeletePayload:\n\tNextPld: 00\n\tReserved: 00\n\tLength: 00 14 (20)\n\tDOI: 00 00 00 01 \n"
            "\tProtID: 03\n\tSPISize: 04 (4)\n\tSPIs: 00 01 \n\tSPIs: 11 22 33 44 \n");
}

TEST(DeletePayloadTest, InTheChain) {
  auto reader = DebugLogReader::FromText(
      Received("process_packet3phase1:", DeleteBlock("00 00 00 01", "04", "00 01", "11 22 33 44") +
                                             NotifyBlock("00 10 (16)", "03", "04", "60 02", "55 66 77 88", "") +
                                             "debugDeletePayload:\n") +
      Received("process_packet4phase1:", Nonce("07")));
  auto m = LoadNext(reader);
  ASSERT_EQ(m->ChildCount(), 4u);
  EXPECT_EQ(m->Child(1)->Caption(), "Delete  (11223344)");
  EXPECT_EQ(m->Child(2)->Caption(), "Notify:   INITIAL-CONTACT");
  EXPECT_EQ(m->SpiText(), "11223344");
  // A delete block without fields keeps empty SPIs and the next packet is found.
  EXPECT_EQ(m->Child(3)->Caption(), "Delete  ()");
  EXPECT_EQ(LoadNext(reader)->GetHeader()->PacketKind(), 0x0Cu);
}

}  // namespace
}  // namespace quillon
