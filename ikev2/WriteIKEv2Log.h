// Writing a loaded IKEv2 tree back as an IKEv2 XML log in the daemon's line layout, so that the
// saved file loads again as the same tree.
#pragma once

#include "model/ByteSink.h"
#include "model/LogFile.h"

namespace quillon {

// Every exchange of every peer, peer by peer, in the layout the IKEv2 reader reads. False when
// the sink failed.
bool WriteIKEv2Log(const LogFile& root, ByteSink& sink);

}  // namespace quillon
