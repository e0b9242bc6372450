#include "logs/OpenLog.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

#include "ikev1/log/DebugLogReader.h"
#include "ikev1/log/ReadIKEv1Log.h"
#include "ikev2/LogLineReader.h"
#include "ikev2/ReadIKEv2Log.h"
#include "logs/Compressed.h"

namespace quillon {

std::string NoPacketsText(const std::string& path) { return "No IKE packets found in " + path; }

std::string TruncatedText(const std::string& path) { return "The log ends inside a packet: " + path; }

namespace {

std::string_view Trimmed(std::string_view line) {
  while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t')) line.remove_suffix(1);
  while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
  return line;
}

}  // namespace

bool EndsInsidePacket(std::string_view tail, bool ikev1) {
  // The lines of the tail from the last one up; a first line cut by the tail's start is not
  // looked at.
  const bool lastLineComplete = !tail.empty() && tail.back() == '\n';
  std::vector<std::string_view> lines;
  for (std::size_t end = tail.size(); end > 0;) {
    const std::size_t start = tail.rfind('\n', end - 1);
    if (start == std::string_view::npos) break;
    lines.push_back(tail.substr(start + 1, end - start - 1));
    end = start;
  }
  if (!lastLineComplete && !tail.empty()) {
    // The text after the last line end is a line of its own, cut.
    const std::size_t start = tail.rfind('\n');
    if (start != std::string_view::npos) lines.insert(lines.begin(), tail.substr(start + 1));
  }
  if (!ikev1) {
    // The XML log's elements each stand on a line: after a whole exchange comes its closing tag
    // or the log's own.
    for (std::size_t i = 0; i < lines.size(); ++i) {
      const std::string_view line = Trimmed(lines[i]);
      if (line.empty()) continue;
      if (i == 0 && !lastLineComplete) return true;
      return !(line.starts_with("</Exchange>") || line.starts_with("</IKEv2Log>") || line.starts_with("<IKEv2Log") ||
               line.starts_with("<?xml"));
    }
    return false;
  }
  // A debug log's packet is a run of blocks, each a label line ("debugSAPayload:") and its
  // field lines, which start with a tab; a packet-debug record runs from its BEGIN line to its
  // END line. The daemon's other lines between packets say nothing. A log that stops within a
  // line of a block, after a label before its fields, or inside a record ends inside a packet.
  // (One that stops between two blocks of a packet cannot be told from a complete one.)
  const auto inBlock = [](std::string_view line) {
    return line.starts_with('\t') || line.starts_with("debug") || line.starts_with("#####");
  };
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const std::string_view line = lines[i];
    if (Trimmed(line).empty() || !inBlock(line)) continue;
    if (i == 0 && !lastLineComplete) return true;
    if (!line.starts_with('\t')) return !line.starts_with("##### END PACKET DEBUG");
    for (std::size_t up = i + 1; up < lines.size(); ++up) {
      if (lines[up].starts_with('\t')) continue;
      return lines[up].starts_with("##### BEGIN PACKET DEBUG");
    }
    return false;  // the tail holds no label: nothing to tell
  }
  return false;
}

std::string LoadTimeText(long long seconds) {
  if (seconds < 0) seconds = 0;
  char text[64];
  std::snprintf(text, sizeof text, "File loaded in %02lld minutes, %02lld seconds.", seconds / 60 % 60, seconds % 60);
  return text;
}

namespace {

OpenLogResult CannotOpen(const std::string& path, const std::string& reason) {
  OpenLogResult result;
  result.status = OpenLogResult::Status::kCannotOpen;
  result.message = "Failed to open file: " + path;
  if (!reason.empty()) result.message += " (" + reason + ")";
  result.reason = reason;
  return result;
}

OpenLogResult WrongFileType() {
  OpenLogResult result;
  result.status = OpenLogResult::Status::kWrongFileType;
  result.message = "Wrong file type";
  return result;
}

// Whether a line of `head` begins with `start` (and, with `whole`, is nothing else).
bool HasLine(std::string_view head, std::string_view start, bool whole) {
  for (std::size_t at = head.find(start); at != std::string_view::npos; at = head.find(start, at + 1)) {
    const std::size_t after = at + start.size();
    const bool lineStart = at == 0 || head[at - 1] == '\n';
    const bool lineEnd = after == head.size() || head[after] == '\r' || head[after] == '\n';
    if (lineStart && (lineEnd || !whole)) return true;
  }
  return false;
}

// Standard input has no name to choose a reader by: an IKEv2 log is recognised by a line that
// opens an exchange, anything else is read as a debug log.
bool LooksLikeIKEv2(std::string_view head) { return HasLine(head, "<Exchange", true); }

// The daemon's XML log opens with its root element, "<IKEv2Log ...>", before any exchange: a
// log with that element and no exchange (a daemon that has negotiated nothing yet, or a log
// saved with every peer deleted) is an empty IKEv2 log, not some other kind of file.
bool DeclaresIKEv2Log(std::string_view head) { return HasLine(head, "<IKEv2Log", false); }

// A debug log or XML log is text, and a NUL byte in its first 64 KiB makes a file some other
// kind of file. Further on, a NUL is what a crash leaves where the system had given the file
// room the daemon never wrote: it is read as a blank. So no text of the tree holds a NUL, and a
// saved copy (where the byte may come within the first 64 KiB) still loads.
class BlankNulSource : public ByteSource {
 public:
  explicit BlankNulSource(std::shared_ptr<ByteSource> source) : source_(std::move(source)) {}
  std::size_t ReadAt(std::uint64_t offset, char* data, std::size_t size) override {
    const std::size_t n = source_->ReadAt(offset, data, size);
    for (char* nul = static_cast<char*>(std::memchr(data, '\0', n)); nul != nullptr;
         nul = static_cast<char*>(std::memchr(nul + 1, '\0', static_cast<std::size_t>(data + n - nul - 1))))
      *nul = ' ';
    if (const std::string error = source_->Error(); !error.empty()) SetError(error);
    return n;
  }
  void CheckUnchanged() override {
    source_->CheckUnchanged();
    if (source_->Shrank()) SetShrank();
  }
  std::uint64_t SizeHint() const override { return source_->SizeHint(); }

 private:
  std::shared_ptr<ByteSource> source_;
};

// Reads the log with one reader from the start of the source.
std::unique_ptr<LogFile> Load(const std::shared_ptr<ByteSource>& source, bool ikev1, const ReadProgress& progress,
                              std::pmr::memory_resource* chunkSource) {
  auto log = std::make_unique<LogFile>(chunkSource);
  if (ikev1) {
    DebugLogReader reader(source, 0);
    reader.SetProgress(progress);
    ReadIKEv1Log(*log, reader);
  } else {
    LogLineReader reader(source);
    reader.SetProgress(progress);
    ReadIKEv2Log(*log, reader);
  }
  return log;
}

}  // namespace

std::uint64_t DefaultMaxDecompressed(std::uint64_t compressedSize) {
  const std::uint64_t floor = FileSource::kDefaultMaxStream;
  return compressedSize > floor / 16 ? compressedSize * 16 : floor;
}

OpenLogResult OpenLog(const std::string& path, const ReadProgress& progress, std::pmr::memory_resource* chunkSource,
                      std::uint64_t maxSize) {
  std::string error;
  std::shared_ptr<FileSource> source =
      FileSource::Open(path, error, maxSize != 0 ? maxSize : FileSource::kDefaultMaxStream);
  if (!source) return CannotOpen(path, error);
  OpenLogResult result = LoadLog(path, source, progress, chunkSource, maxSize);
  if (!result.compressed) result.size = result.textSize = source->Size();
  return result;
}

OpenLogResult LoadLog(const std::string& path, std::shared_ptr<ByteSource> source, const ReadProgress& progress,
                      std::pmr::memory_resource* chunkSource, std::uint64_t maxSize) {
  const auto start = std::chrono::steady_clock::now();
  // The type check reads through the same source as the load: a stream is not read twice.
  std::string head(kSniffBytes, '\0');
  head.resize(source->ReadAt(0, head.data(), head.size()));
  if (!source->Error().empty()) return CannotOpen(path, source->Error());
  // A compressed log is read as the text it holds.
  bool compressed = false;
  std::uint64_t textSize = source->SizeHint();
  const Compression compression = CompressionOf(head);
  if (compression != Compression::kNone) {
    std::string text;
    compressed = true;
    // Through the handle the type check read: a pipe or standard input cannot be opened again.
    // A compressed file may hold far more than it takes (2 GB of zeros fit in 300 KB): the
    // decompression stops at the first 64 KiB that tell it is no log, or at the size limit.
    DecompressLimits limits;
    limits.textOnly = true;
    limits.headBytes = kSniffBytes;
    limits.maxSize = maxSize != 0 ? maxSize : DefaultMaxDecompressed(source->SizeHint());
    switch (Decompress(*source, compression, text, limits)) {
      case DecompressStatus::kDone: break;
      case DecompressStatus::kTooLarge: return CannotOpen(path, FileSource::kTooLarge);
      case DecompressStatus::kNotText: return WrongFileType();
      case DecompressStatus::kDamaged:
        return source->Error().empty() ? WrongFileType() : CannotOpen(path, source->Error());
    }
    head.assign(text, 0, std::min(text.size(), kSniffBytes));
    textSize = text.size();
    source = std::make_shared<TextSource>(std::move(text));
  }
  // A debug log or XML log is text: a NUL byte near the start means some other kind of file.
  if (std::memchr(head.data(), '\0', head.size()) != nullptr) return WrongFileType();
  source = std::make_shared<BlankNulSource>(std::move(source));
  bool ikev1 = path == kStandardInput ? !LooksLikeIKEv2(head) : IsIKEv1LogPath(path);
  std::unique_ptr<LogFile> log = Load(source, ikev1, progress, chunkSource);
  // The name misleads: the reader it chose found nothing, and the file clearly is the other
  // kind of log.
  if (source->Error().empty() && log->ChildCount() == 0 &&
      (ikev1 ? HoldsIKEv2Exchanges(head) : HoldsIKEv1Packets(head))) {
    auto other = Load(source, !ikev1, progress, chunkSource);
    if (!other->IsWrongFormat() && other->ChildCount() != 0) {
      log = std::move(other);
      ikev1 = !ikev1;
    }
  }
  // A read error is not the end of the log: the tree would be a part passed off as the whole.
  if (!source->Error().empty()) return CannotOpen(path, source->Error());
  if (log->IsWrongFormat() && !ikev1 && DeclaresIKEv2Log(head)) {
    log->SetWrongFormat(false);
    log->SetIKEv2(true);
  }
  if (log->IsWrongFormat()) return WrongFileType();
  // An empty file read as an IKEv2 log (by its name) is an empty IKEv2 log: saved, it gets the
  // XML head that loads again, not a debug log's.
  if (!ikev1) log->SetIKEv2(true);
  OpenLogResult result;
  source->CheckUnchanged();
  if (source->Shrank()) result.warning = "The file changed while it was read: " + path;
  if (log->ChildCount() != 0) {
    // Only the last few kilobytes are looked at: the end of the last packet is there.
    constexpr std::size_t kTail = 16 * 1024;
    const std::uint64_t size = source->SizeHint();
    std::string tail(static_cast<std::size_t>(std::min<std::uint64_t>(size, kTail)), '\0');
    if (!tail.empty()) tail.resize(source->ReadAt(size - tail.size(), tail.data(), tail.size()));
    result.truncated = EndsInsidePacket(tail, ikev1);
  }
  const auto elapsed = std::chrono::steady_clock::now() - start;
  result.seconds = std::chrono::duration<double>(elapsed).count();
  result.loadTimeText = LoadTimeText(std::chrono::duration_cast<std::chrono::seconds>(elapsed).count());
  result.status = OpenLogResult::Status::kLoaded;
  result.ikev1Reader = ikev1;
  result.compressed = compressed;
  result.noPackets = log->ChildCount() == 0;
  result.textSize = textSize;
  result.text = std::move(source);
  result.log = std::move(log);
  return result;
}

}  // namespace quillon
