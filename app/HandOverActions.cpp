#include "app/HandOverActions.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "app/LogDocument.h"
#include "app/Services.h"
#include "export/HtmlReport.h"
#include "export/IsakmpPacket.h"
#include "export/PacketCapture.h"
#include "platform/SafeFile.h"

namespace quillon {
namespace {

// Writes through the safe file writer; false after showing why it failed.
bool Save(Services& services, const LogDocument& document, const QString& path,
          const std::function<bool(ByteSink&)>& write, QString& written) {
  const platform::SaveResult result = platform::SaveFile(QFile::encodeName(path).toStdString(),
                                                         QFile::encodeName(document.Path()).toStdString(), write);
  if (result.status != platform::SaveResult::Status::kSaved) {
    services.messages.Show(QString::fromLocal8Bit(result.message.c_str()), MessageSink::Kind::kWarning);
    return false;
  }
  written = QDir::toNativeSeparators(QFile::decodeName(QByteArray::fromStdString(result.path)));
  return true;
}

// The part of the tree to export: the whole tree, or the selected peer, tunnel or negotiation,
// or the packet (an IKEv1 packet, an IKEv2 message) that holds the selected header or payload.
const LogNode& ExportScope(const LogDocument& document, const LogNode* selected) {
  if (selected == nullptr || selected->IsLogRoot()) return *document.Log();
  for (const LogNode* node = selected; node != nullptr && !node->IsLogRoot(); node = node->Parent()) {
    if (hand_over::IKEv1PacketHeader(*node) != nullptr || node->Is(NodeKind::kPacket)) return *node;
  }
  return *selected;
}

// Asks where to write an output of the loaded log, named after it (NAME + `ending`); empty when
// no log is loaded or the user cancels.
QString ChooseTarget(QWidget* parent, Services& services, const LogDocument& document, const QString& ending,
                     const QString& filter, const QString& suffix) {
  if (!document.IsLoaded()) return {};
  FileDialogs::SaveRequest request;
  request.fileName = QFileInfo(document.Path()).completeBaseName() + ending;
  request.filters = {filter};
  request.defaultSuffix = suffix;
  return services.dialogs.ChooseFileToSave(parent, request);
}

}  // namespace

QString ExportPacketsCommand(QWidget* parent, Services& services, const LogDocument& document,
                             const LogNode* selected) {
  const QString path = ChooseTarget(parent, services, document, QStringLiteral(".pcapng"),
                                    QStringLiteral("Packet captures (*.pcapng)"), QStringLiteral("pcapng"));
  if (path.isEmpty()) return {};
  const LogNode& scope = ExportScope(document, selected);
  hand_over::PacketCaptureCounts counts;
  QString written;
  if (!Save(services, document, path,
            [&](ByteSink& sink) {
              counts = {};
              return hand_over::WritePacketCapture(scope, sink, counts);
            },
            written))
    return {};
  QString text = QStringLiteral("%1 packets exported to %2").arg(counts.written).arg(written);
  if (counts.incomplete > 0) text += QStringLiteral(" (%1 incomplete: see their comments)").arg(counts.incomplete);
  return text;
}

QString SaveReportCommand(QWidget* parent, Services& services, const LogDocument& document) {
  const QString path = ChooseTarget(parent, services, document, QStringLiteral("-report.html"),
                                    QStringLiteral("HTML files (*.html)"), QStringLiteral("html"));
  if (path.isEmpty()) return {};
  hand_over::ReportSource source;
  const QFileInfo info(document.Path());
  source.name = info.fileName().toStdString();
  source.path = document.IsCompressed() ? std::string() : QFile::encodeName(document.Path()).toStdString();
  source.size = static_cast<std::uint64_t>(info.size());
  source.reader = std::string(document.Log()->IsIKEv2() ? "IKEv2" : "IKEv1") +
                  (document.IsCompressed() ? " (compressed)" : "");
  QString written;
  if (!Save(services, document, path,
            [&](ByteSink& sink) { return hand_over::WriteHtmlReport(*document.Log(), source, sink); }, written))
    return {};
  return QStringLiteral("Report saved to %1").arg(written);
}

}  // namespace quillon
