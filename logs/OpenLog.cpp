#include "logs/OpenLog.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

#include "logs/Compressed.h"

namespace quillon {

std::string NoPacketsText(const std::string& path) { return "No IKE packets found in " + path; }

std::string TruncatedText(const std::string& path) { return "The log ends inside a packet: " + path; }

bool EndsInsidePacket(std::string_view tail, const LogFormat& format) { return format.endsInside(tail); }

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
std::unique_ptr<LogFile> Load(const std::shared_ptr<ByteSource>& source, const LogFormat& format,
                              const ReadProgress& progress, std::pmr::memory_resource* chunkSource) {
  auto log = std::make_unique<LogFile>(chunkSource);
  format.read(*log, source, progress);
  return log;
}

}  // namespace

std::uint64_t DefaultMaxDecompressed(std::uint64_t compressedSize) {
  const std::uint64_t floor = FileSource::kDefaultMaxStream;
  return compressedSize > floor / 16 ? compressedSize * 16 : floor;
}

OpenLogResult OpenLog(const std::string& path, const ReadProgress& progress, std::pmr::memory_resource* chunkSource,
                      std::uint64_t maxSize, const LogFormat* known) {
  std::string error;
  std::shared_ptr<FileSource> source =
      FileSource::Open(path, error, maxSize != 0 ? maxSize : FileSource::kDefaultMaxStream);
  if (!source) return CannotOpen(path, error);
  OpenLogResult result = LoadLog(path, source, progress, chunkSource, maxSize, known);
  if (!result.compressed) result.size = result.textSize = source->Size();
  return result;
}

OpenLogResult LoadLog(const std::string& path, std::shared_ptr<ByteSource> source, const ReadProgress& progress,
                      std::pmr::memory_resource* chunkSource, std::uint64_t maxSize, const LogFormat* known) {
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
  // The format a previous load of this log found is read first: it found packets, the name's
  // reader did not, and trying that again would read the whole file once more.
  const LogFormat* format = &(known != nullptr ? *known : path == kStandardInput ? FormatOfStream(head) : FormatOfPath(path));
  std::unique_ptr<LogFile> log = Load(source, *format, progress, chunkSource);
  // The name misleads: the reader it chose found nothing, and the file clearly is the other
  // kind of log.
  if (source->Error().empty() && log->ChildCount() == 0 && OtherFormat(*format).holds(head)) {
    auto other = Load(source, OtherFormat(*format), progress, chunkSource);
    if (!other->IsWrongFormat() && other->ChildCount() != 0) {
      log = std::move(other);
      format = &OtherFormat(*format);
    }
  }
  // A read error is not the end of the log: the tree would be a part passed off as the whole.
  if (!source->Error().empty()) return CannotOpen(path, source->Error());
  if (log->IsWrongFormat() && format->declares(head)) log->SetWrongFormat(false);
  if (log->IsWrongFormat()) return WrongFileType();
  OpenLogResult result;
  source->CheckUnchanged();
  if (source->Shrank()) result.warning = "The file changed while it was read: " + path;
  if (log->ChildCount() != 0) {
    // Only the last few kilobytes are looked at: the end of the last packet is there.
    constexpr std::size_t kTail = 16 * 1024;
    const std::uint64_t size = source->SizeHint();
    std::string tail(static_cast<std::size_t>(std::min<std::uint64_t>(size, kTail)), '\0');
    if (!tail.empty()) tail.resize(source->ReadAt(size - tail.size(), tail.data(), tail.size()));
    result.truncated = format->endsInside(tail);
  }
  const auto elapsed = std::chrono::steady_clock::now() - start;
  result.seconds = std::chrono::duration<double>(elapsed).count();
  result.loadTimeText = LoadTimeText(std::chrono::duration_cast<std::chrono::seconds>(elapsed).count());
  result.status = OpenLogResult::Status::kLoaded;
  result.format = format;
  result.compressed = compressed;
  result.noPackets = log->ChildCount() == 0;
  result.textSize = textSize;
  result.text = std::move(source);
  result.log = std::move(log);
  return result;
}

}  // namespace quillon
