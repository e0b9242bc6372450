#include "logs/Compressed.h"

#include <lzma.h>
#include <zlib.h>
#include <zstd.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

namespace quillon {

namespace {

constexpr std::size_t kChunk = std::size_t{1} << 20;

// Reads a source from its start, block after block.
class SourceReader {
 public:
  explicit SourceReader(ByteSource& source) : source_(source) {}
  std::size_t Read(void* data, std::size_t size) {
    const std::size_t n = source_.ReadAt(at_, static_cast<char*>(data), size);
    at_ += n;
    return n;
  }
  bool Failed() const { return !source_.Error().empty(); }

 private:
  ByteSource& source_;
  std::uint64_t at_ = 0;
};

bool EndsWithNoCase(const std::string& text, std::string_view suffix) {
  if (text.size() < suffix.size()) return false;
  return std::equal(suffix.begin(), suffix.end(), text.end() - static_cast<std::ptrdiff_t>(suffix.size()),
                    [](char a, char b) { return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b)); });
}

// Where the decompressed text goes: `text`, grown kChunk bytes at a time, watched so that the
// decompression stops as soon as the text is known to be no log or to be too large.
class Output {
 public:
  Output(std::string& text, const DecompressLimits& limits) : text_(text), limits_(limits) {}

  // Room for kChunk more bytes after `used`; nullptr when there is no memory for it.
  char* Room(std::size_t used) {
    if (text_.size() < used + kChunk) {
      try {
        text_.resize(used + kChunk);
      } catch (const std::bad_alloc&) {
        stopped_ = DecompressStatus::kTooLarge;
        return nullptr;
      }
    }
    return text_.data() + used;
  }
  // False once the decompression has to stop: past the size limit, or a NUL byte within the
  // first bytes the type check looks at.
  bool Goes(std::size_t used) {
    if (stopped_ != DecompressStatus::kDone) return false;
    if (used > limits_.maxSize) stopped_ = DecompressStatus::kTooLarge;
    if (limits_.textOnly && checked_ < limits_.headBytes) {
      const std::size_t upTo = std::min(used, limits_.headBytes);
      if (std::memchr(text_.data() + checked_, '\0', upTo - checked_) != nullptr) stopped_ = DecompressStatus::kNotText;
      checked_ = upTo;
    }
    return stopped_ == DecompressStatus::kDone;
  }
  DecompressStatus Stopped() const { return stopped_; }
  void Resize(std::size_t used) { text_.resize(std::min(used, text_.size())); }

 private:
  std::string& text_;
  const DecompressLimits& limits_;
  std::size_t checked_ = 0;
  DecompressStatus stopped_ = DecompressStatus::kDone;
};

// gzip, several members one after the other as `cat a.gz b.gz` gives.
bool Gunzip(SourceReader& file, Output& text) {
  z_stream z{};
  if (inflateInit2(&z, 15 + 32) != Z_OK) return false;
  std::vector<unsigned char> in(kChunk);
  std::size_t used = 0;
  int status = Z_OK;
  bool ok = true;
  for (;;) {
    if (z.avail_in == 0) {
      z.avail_in = static_cast<uInt>(file.Read(in.data(), in.size()));
      z.next_in = in.data();
      if (z.avail_in == 0) {
        ok = status == Z_STREAM_END && !file.Failed();
        break;
      }
    }
    if (status == Z_STREAM_END) {
      // Another member follows.
      if (inflateReset(&z) != Z_OK) {
        ok = false;
        break;
      }
    }
    z.next_out = reinterpret_cast<Bytef*>(text.Room(used));
    if (z.next_out == nullptr) {
      ok = false;
      break;
    }
    z.avail_out = static_cast<uInt>(kChunk);
    status = inflate(&z, Z_NO_FLUSH);
    used += kChunk - z.avail_out;
    if ((status != Z_OK && status != Z_STREAM_END && status != Z_BUF_ERROR) || !text.Goes(used)) {
      ok = false;
      break;
    }
  }
  inflateEnd(&z);
  text.Resize(used);
  return ok;
}

bool Unxz(SourceReader& file, Output& text) {
  lzma_stream z = LZMA_STREAM_INIT;
  if (lzma_stream_decoder(&z, UINT64_MAX, LZMA_CONCATENATED) != LZMA_OK) return false;
  std::vector<std::uint8_t> in(kChunk);
  std::size_t used = 0;
  lzma_action action = LZMA_RUN;
  bool ok = false;
  for (;;) {
    if (z.avail_in == 0 && action == LZMA_RUN) {
      z.avail_in = file.Read(in.data(), in.size());
      z.next_in = in.data();
      if (z.avail_in == 0) action = LZMA_FINISH;
    }
    z.next_out = reinterpret_cast<std::uint8_t*>(text.Room(used));
    if (z.next_out == nullptr) break;
    z.avail_out = kChunk;
    const lzma_ret status = lzma_code(&z, action);
    used += kChunk - z.avail_out;
    if (!text.Goes(used)) break;
    if (status == LZMA_STREAM_END) {
      ok = !file.Failed();
      break;
    }
    if (status != LZMA_OK) break;
  }
  lzma_end(&z);
  text.Resize(used);
  return ok;
}

bool Unzstd(SourceReader& file, Output& text) {
  std::unique_ptr<ZSTD_DCtx, decltype(&ZSTD_freeDCtx)> z(ZSTD_createDCtx(), &ZSTD_freeDCtx);
  if (!z) return false;
  std::vector<char> in(kChunk);
  std::size_t used = 0;
  std::size_t pending = 1;  // 0 once a frame is complete
  bool any = false;
  for (;;) {
    const std::size_t n = file.Read(in.data(), in.size());
    if (n == 0) break;
    any = true;
    ZSTD_inBuffer input{in.data(), n, 0};
    while (input.pos < input.size) {
      char* room = text.Room(used);
      if (room == nullptr) {
        text.Resize(used);
        return false;
      }
      ZSTD_outBuffer output{room, kChunk, 0};
      pending = ZSTD_decompressStream(z.get(), &output, &input);
      used += output.pos;
      if (ZSTD_isError(pending) || !text.Goes(used)) {
        text.Resize(used);
        return false;
      }
    }
  }
  // Flush what the last frame still holds.
  for (int guard = 0; pending != 0 && any && guard < 1 << 20; ++guard) {
    ZSTD_inBuffer input{nullptr, 0, 0};
    char* room = text.Room(used);
    if (room == nullptr) break;
    ZSTD_outBuffer output{room, kChunk, 0};
    pending = ZSTD_decompressStream(z.get(), &output, &input);
    used += output.pos;
    if (ZSTD_isError(pending) || output.pos == 0 || !text.Goes(used)) break;
  }
  text.Resize(used);
  return any && pending == 0 && !file.Failed();
}

}  // namespace

Compression CompressionOf(std::string_view head) {
  if (head.starts_with("\x1f\x8b")) return Compression::kGzip;
  if (head.starts_with(std::string_view("\xfd" "7zXZ\0", 6))) return Compression::kXz;
  if (head.starts_with("\x28\xb5\x2f\xfd")) return Compression::kZstd;
  return Compression::kNone;
}

std::string WithoutCompressionSuffix(const std::string& path) {
  for (std::string_view suffix : {".gz", ".xz", ".zst"})
    if (EndsWithNoCase(path, suffix)) return path.substr(0, path.size() - suffix.size());
  return path;
}

DecompressStatus Decompress(ByteSource& source, Compression compression, std::string& text,
                            const DecompressLimits& limits) {
  text.clear();
  SourceReader reader(source);
  Output output(text, limits);
  bool ok = false;
  switch (compression) {
    case Compression::kGzip: ok = Gunzip(reader, output); break;
    case Compression::kXz: ok = Unxz(reader, output); break;
    case Compression::kZstd: ok = Unzstd(reader, output); break;
    case Compression::kNone: break;
  }
  if (output.Stopped() != DecompressStatus::kDone) return output.Stopped();
  return ok ? DecompressStatus::kDone : DecompressStatus::kDamaged;
}

bool Decompress(ByteSource& source, Compression compression, std::string& text) {
  return Decompress(source, compression, text, DecompressLimits{}) == DecompressStatus::kDone;
}

bool DecompressFile(const std::string& path, Compression compression, std::string& text) {
  text.clear();
  std::string error;
  const std::shared_ptr<FileSource> source = FileSource::Open(path, error);
  return source && Decompress(*source, compression, text);
}

}  // namespace quillon
