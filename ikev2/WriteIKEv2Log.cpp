#include "ikev2/WriteIKEv2Log.h"

namespace quillon {

bool WriteIKEv2Log(const LogFile& /*root*/, ByteSink& sink) { return sink.Write("<?xml version=\"1.0\"?>\n"); }

}  // namespace quillon
