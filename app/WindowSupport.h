// What the main window's source files share: the file-dialog filters, the settings keys of the
// window's layout, and the wait cursor.
#pragma once

#include <QApplication>
#include <QString>

namespace quillon::window {

// Both names the debug-log reader takes (OpenLog chooses it by ".ilx" or ".ikev1trace").
inline const QString kDebugLogFilter = QStringLiteral("IKEv1 debug logs (*.ilx *.ikev1trace)");
// Every log the program reads, compressed ones too (their names end in the compressor's suffix).
inline const QString kAllLogsFilter =
    QStringLiteral("All IKE logs (*.ilx *.ikev1trace *.xml *.xmll *.gz *.xz *.zst)");
inline const QString kXmlLogFilter = QStringLiteral("IKEv2 XML logs (*.xml *.xmll)");
inline const QString kAllFilesFilter = QStringLiteral("All Files (*)");
inline const QString kSavedLogFilter = QStringLiteral("IKEv1 debug logs (*.ilx)");
// Whether the timeline panel is shown, as the user last chose.
inline const QString kTimelineVisibleKey = QStringLiteral("Preferences/ShowTimeline");
// Whether the toolbar is shown, likewise.
inline const QString kToolbarVisibleKey = QStringLiteral("Preferences/ShowToolbar");

// Shows the wait cursor for its lifetime.
class WaitCursor {
 public:
  WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
  ~WaitCursor() { QApplication::restoreOverrideCursor(); }
  WaitCursor(const WaitCursor&) = delete;
  WaitCursor& operator=(const WaitCursor&) = delete;
};

}  // namespace quillon::window
