#include "logs/OpenLog.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "ikev1/log/DebugLogReader.h"
#include "ikev1/log/ReadIKEv1Log.h"
#include "ikev2/LogLineReader.h"
#include "ikev2/ReadIKEv2Log.h"
#include "logs/Compressed.h"
#include "model/CannotOpenLog.h"

namespace quillon {

std::string NoPacketsText(const std::string& path) { return "No IKE packets found in " + path; }

std::string LoadTimeText(long long seconds) {
  if (seconds < 0) seconds = 0;
  char text[64];
  std::snprintf(text, sizeof text, "File loaded in %02lld minutes, %02lld seconds.", seconds / 60 % 60, seconds % 60);
  return text;
}

namespace {

// The first bytes of the file; false when it cannot be read at all.
bool ReadHead(const std::string& path, std::string& head) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return false;
  head.resize(kSniffBytes);
  head.resize(std::fread(head.data(), 1, head.size(), f));
  std::fclose(f);
  return true;
}

// Reads the log with one reader: from the file, or from its decompressed text.
std::unique_ptr<LogFile> Load(const std::string& path, const std::string* text, bool ikev1, const ReadProgress& progress) {
  auto log = std::make_unique<LogFile>();
  if (ikev1) {
    DebugLogReader reader = text != nullptr ? DebugLogReader(std::make_shared<TextSource>(*text), 0) : DebugLogReader(path);
    reader.SetProgress(progress);
    ReadIKEv1Log(*log, reader);
  } else {
    LogLineReader reader = text != nullptr ? LogLineReader::FromText(*text) : LogLineReader(path);
    reader.SetProgress(progress);
    ReadIKEv2Log(*log, reader);
  }
  return log;
}

}  // namespace

OpenLogResult OpenLog(const std::string& path, const ReadProgress& progress) {
  OpenLogResult result;
  const auto start = std::chrono::steady_clock::now();
  std::string head;
  if (!ReadHead(path, head)) {
    result.status = OpenLogResult::Status::kCannotOpen;
    result.message = "Failed to open file: " + path;
    return result;
  }
  // A compressed log is read as the text it holds.
  std::unique_ptr<std::string> text;
  const Compression compression = CompressionOf(head);
  if (compression != Compression::kNone) {
    text = std::make_unique<std::string>();
    result.compressed = true;
    if (!DecompressFile(path, compression, *text)) {
      result.status = OpenLogResult::Status::kWrongFileType;
      result.message = "Wrong file type";
      return result;
    }
    head.assign(*text, 0, std::min(text->size(), kSniffBytes));
  }
  if (std::memchr(head.data(), '\0', head.size()) != nullptr) {
    result.status = OpenLogResult::Status::kWrongFileType;
    result.message = "Wrong file type";
    return result;
  }
  std::unique_ptr<LogFile> log;
  bool ikev1 = IsIKEv1LogPath(path);
  try {
    log = Load(path, text.get(), ikev1, progress);
    // The name misleads: the reader it chose found nothing, and the file clearly is the other
    // kind of log.
    if (log->ChildCount() == 0 && (ikev1 ? HoldsIKEv2Exchanges(head) : HoldsIKEv1Packets(head))) {
      auto other = Load(path, text.get(), !ikev1, progress);
      if (!other->IsWrongFormat() && other->ChildCount() != 0) {
        log = std::move(other);
        ikev1 = !ikev1;
      }
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
  result.ikev1Reader = ikev1;
  result.noPackets = log->ChildCount() == 0;
  result.log = std::move(log);
  return result;
}

}  // namespace quillon
