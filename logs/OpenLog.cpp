#include "logs/OpenLog.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <vector>

#include "ikev1/log/DebugLogReader.h"
#include "ikev1/log/ReadIKEv1Log.h"
#include "ikev2/LogLineReader.h"
#include "ikev2/ReadIKEv2Log.h"
#include "model/CannotOpenLog.h"

namespace quillon {

bool IsIKEv1LogPath(const std::string& path) {
  return path.find(".ilx") != std::string::npos || path.find(".ikev1trace") != std::string::npos;
}

std::string LoadTimeText(long long seconds) {
  if (seconds < 0) seconds = 0;
  char text[64];
  std::snprintf(text, sizeof text, "File loaded in %02lld minutes, %02lld seconds.", seconds / 60 % 60, seconds % 60);
  return text;
}

namespace {

// A debug log or XML log is text: a NUL byte near the start means some other kind of file.
// Returns false when the file cannot be read at all.
bool LooksLikeText(const std::string& path, bool& isText) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return false;
  std::vector<char> head(64 * 1024);
  const std::size_t n = std::fread(head.data(), 1, head.size(), f);
  std::fclose(f);
  isText = std::memchr(head.data(), '\0', n) == nullptr;
  return true;
}

}  // namespace

OpenLogResult OpenLog(const std::string& path, const ReadProgress& progress) {
  OpenLogResult result;
  const auto start = std::chrono::steady_clock::now();
  bool isText = true;
  if (!LooksLikeText(path, isText)) {
    result.status = OpenLogResult::Status::kCannotOpen;
    result.message = "Failed to open file: " + path;
    return result;
  }
  if (!isText) {
    result.status = OpenLogResult::Status::kWrongFileType;
    result.message = "Wrong file type";
    return result;
  }
  auto log = std::make_unique<LogFile>();
  try {
    if (IsIKEv1LogPath(path)) {
      DebugLogReader reader(path);
      reader.SetProgress(progress);
      ReadIKEv1Log(*log, reader);
    } else {
      LogLineReader reader(path);
      reader.SetProgress(progress);
      ReadIKEv2Log(*log, reader);
    }
  } catch (const CannotOpenLog&) {
    // The file vanished or became unreadable between the check above and the load.
    result.status = OpenLogResult::Status::kCannotOpen;
    result.message = "Failed to open file: " + path;
    return result;
  }
  if (log->IsWrongFormat()) {
    result.status = OpenLogResult::Status::kWrongFileType;
    result.message = "Wrong file type";
    return result;
  }
  const auto elapsed = std::chrono::steady_clock::now() - start;
  result.seconds = std::chrono::duration<double>(elapsed).count();
  result.loadTimeText = LoadTimeText(std::chrono::duration_cast<std::chrono::seconds>(elapsed).count());
  result.status = OpenLogResult::Status::kLoaded;
  result.log = std::move(log);
  return result;
}

}  // namespace quillon
