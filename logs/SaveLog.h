// Saving a loaded log in its own format: what knows both log formats.
#pragma once

#include <string>

#include "model/ByteSink.h"
#include "model/LogFile.h"

namespace quillon {

// Writes the tree as it stands (after deletes and filters) to the sink: an IKEv2 tree as an
// IKEv2 XML log, any other as an IKEv1 debug log. Either reads back as the same tree. False when
// the sink failed.
bool WriteLog(const LogFile& root, ByteSink& sink);

// The file name the save dialog proposes: "quillon.xml" for an IKEv2 log, else "quillon.ilx"
// (the reader is chosen by the name, so the name keeps the format).
std::string DefaultSaveName(const LogFile& root);

}  // namespace quillon
