#include "logs/SaveLog.h"

#include "ikev1/log/WriteDebugLog.h"
#include "ikev2/WriteIKEv2Log.h"

namespace quillon {

bool WriteLog(const LogFile& root, ByteSink& sink) {
  return root.IsIKEv2() ? WriteIKEv2Log(root, sink) : WriteIKEv1Log(root, sink);
}

std::string DefaultSaveName(const LogFile& root) { return root.IsIKEv2() ? "quillon.xml" : "quillon.ilx"; }

}  // namespace quillon
