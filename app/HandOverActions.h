// The File menu's hand-over commands: "Export packets..." writes the packets of the
// narrowed tree (or of the selected peer, tunnel, negotiation or packet) as a pcapng capture,
// "Save report..." the tree as an HTML report for a ticket (export/). Both ask for the file
// through the services' save dialog and write it through the safe file writer of Save as:
// replaced only once completely written, never over the open log.
#pragma once

#include <QString>

class QWidget;

namespace quillon {

class LogDocument;
class LogNode;
struct Services;

// What the commands tell the user in the status bar ("12 packets exported to PATH"); empty
// when nothing was written (cancelled, or the failure was shown in a message box).
QString ExportPacketsCommand(QWidget* parent, Services& services, const LogDocument& document,
                             const LogNode* selected);
QString SaveReportCommand(QWidget* parent, Services& services, const LogDocument& document);

}  // namespace quillon
