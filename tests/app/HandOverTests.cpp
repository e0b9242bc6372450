// The File menu's "Export packets..." and "Save report...": the narrowed tree, or the selected
// peer, through the save dialog and the safe file writer.
#include <gtest/gtest.h>

#include <QtEndian>

#include "AppTestSupport.h"
#include "model/TreeCounts.h"

namespace quillon::test {
namespace {

// Enhanced packet blocks (type 6) in a pcapng file written little-endian; -1 when malformed.
int PacketBlocks(const QByteArray& bytes) {
  const auto word = [&](qsizetype i) { return qFromLittleEndian<quint32>(bytes.constData() + i); };
  int count = 0;
  for (qsizetype at = 0; at + 8 <= bytes.size(); at += word(at + 4)) {
    if (word(at + 4) < 12) return -1;
    count += word(at) == 6;
  }
  return count;
}

TEST(HandOverCommandsTest, ExportTheTreeOrTheSelectedPeerAndSaveTheReport) {
  FrameFixture f;
  QAction* exportPackets = f.MenuEntry("Export packets...");
  QAction* saveReport = f.MenuEntry("Save report...");
  ASSERT_TRUE(exportPackets && saveReport);
  const QString log = f.directory.filePath("gateway-day.ilx");
  ASSERT_TRUE(QFile::copy(FrameFixture::Example("gateway-day.ilx"), log));
  ASSERT_TRUE(f.Open(log));

  const QString all = f.directory.filePath("all.pcapng");
  f.dialogs.saveAnswer = all;
  exportPackets->trigger();
  EXPECT_EQ(f.dialogs.saveRequests.last().defaultSuffix, "pcapng");
  const auto packets = static_cast<int>(CountTree(*f.document->Log()).packets);
  EXPECT_EQ(PacketBlocks(FrameFixture::Contents(all)), packets);
  EXPECT_TRUE(f.frame->MessageText().startsWith(QString("%1 packets exported to ").arg(packets)));

  // A selected peer exports its own packets only.
  const LogNode& peer = *f.document->Log()->Child(0);
  f.SelectPath(std::string(f.document->Log()->Name()) + "\\" + std::string(peer.Name()));
  const QString one = f.directory.filePath("peer.pcapng");
  f.dialogs.saveAnswer = one;
  exportPackets->trigger();
  const int peerPackets = PacketBlocks(FrameFixture::Contents(one));
  EXPECT_GT(peerPackets, 0);
  EXPECT_LT(peerPackets, packets);

  const QString report = f.directory.filePath("report.html");
  f.dialogs.saveAnswer = report;
  saveReport->trigger();
  EXPECT_TRUE(FrameFixture::Contents(report).contains("Quillon report: gateway-day.ilx"));
  EXPECT_EQ(f.frame->MessageText(), "Report saved to " + report);

  // Never over the open log; cancelling writes nothing.
  const QByteArray before = FrameFixture::Contents(log);
  f.dialogs.saveAnswer = log;
  saveReport->trigger();
  EXPECT_EQ(f.messages.shown.last(), log + " is currently open.\nPlease select a new file name.");
  EXPECT_EQ(FrameFixture::Contents(log), before);
  f.dialogs.saveAnswer.clear();
  exportPackets->trigger();
  EXPECT_EQ(f.messages.shown.size(), 1) << "cancelled: nothing written, nothing said";
}

}  // namespace
}  // namespace quillon::test
