#include "logs/SaveLog.h"

#include "ikev1/log/WriteDebugLog.h"
#include "ikev2/WriteIKEv2Log.h"

namespace quillon {

bool WriteLog(const LogFile& root, ByteSink& sink) {
  std::string notice;
  return WriteLog(root, sink, notice);
}

bool WriteLog(const LogFile& root, ByteSink& sink, std::string& notice) {
  notice.clear();
  if (root.IsIKEv2()) return WriteIKEv2Log(root, sink);
  IKEv1SaveLosses losses;
  const bool written = WriteIKEv1Log(root, sink, losses);
  if (losses.restartStretches)
    notice = "the saved log cannot place every negotiation between the daemon restarts as this log has them: "
             "read back, some are shown in another place";
  else if (losses.restartTexts)
    notice = "the saved log cannot give every daemon restart the text this log has: read back, some restarts "
             "are shown with another text";
  else if (losses.damagedLines)
    notice = "the saved log cannot hold some damaged lines of this log as they stand: read back, they are "
             "shown otherwise";
  return written;
}

std::string DefaultSaveName(const LogFile& root) { return root.IsIKEv2() ? "quillon.xml" : "quillon.ilx"; }

}  // namespace quillon
