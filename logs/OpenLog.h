// Opening a log file: choosing the format's reader by the path, timing the load, and the
// failures the caller shows to the user. The viewer and the command-line tool both load
// through here; this is the one place above both log formats.
#pragma once

#include <memory>
#include <string>

#include "model/LogFile.h"
#include "model/ReadProgress.h"

namespace quillon {

struct OpenLogResult {
  enum class Status {
    kLoaded,         // `log` holds the new tree
    kCannotOpen,     // message: "Failed to open file: " + path
    kWrongFileType,  // message: "Wrong file type"
  };
  Status status = Status::kCannotOpen;
  std::unique_ptr<LogFile> log;  // the loaded tree (only when loaded)
  std::string message;           // the error text for the user (empty when loaded)
  std::string loadTimeText;      // "File loaded in MM minutes, SS seconds."
  double seconds = 0;            // the load's duration, for tools and benchmarks
};

// Files whose path contains ".ilx" or ".ikev1trace" anywhere are IKEv1 debug logs; everything
// else is read as an IKEv2 XML log.
bool IsIKEv1LogPath(const std::string& path);

// "File loaded in %M minutes, %S seconds." for a span of whole seconds (two digits each,
// minutes taken modulo 60).
std::string LoadTimeText(long long seconds);

// Loads the file into a new tree. The caller's current tree is untouched on failure, so a
// failed open leaves the previous log on screen. A file that is not text (a NUL byte within
// its first 64 KiB) is a wrong file type; an empty file is an empty log.
// `progress`, when given, is told the bytes read after each block.
OpenLogResult OpenLog(const std::string& path, const ReadProgress& progress = {});

}  // namespace quillon
