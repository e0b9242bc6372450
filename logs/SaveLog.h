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
// As WriteLog; `notice` tells the user what the saved log cannot hold as the tree has it, empty
// when it holds everything. Only bytes a gateway does not write (a damaged or tampered log) make
// such a tree: an IKEv1 log whose daemon restarts the debug-log format cannot place as they are,
// or with lines cut or broken where no text reads back as what the reader made of them.
bool WriteLog(const LogFile& root, ByteSink& sink, std::string& notice);

// The file name the save dialog proposes: "quillon.xml" for an IKEv2 log, else "quillon.ilx"
// (the reader is chosen by the name, so the name keeps the format).
std::string DefaultSaveName(const LogFile& root);

}  // namespace quillon
