// Compressed logs: each format reads as the log it holds, a damaged file is refused without harm,
// and the log saved from one is plain text.
#include <gtest/gtest.h>
#include <lzma.h>
#include <zlib.h>
#include <zstd.h>

#include <filesystem>
#include <string>

#include "logs/OpenLog.h"
#include "logs/Compressed.h"
#include "logs/SaveLog.h"
#include "tests/model/TreeCompare.h"
#include "tests/ScratchDir.h"

namespace quillon {
namespace {

namespace fs = std::filesystem;

using testing::ReadFileBytes;
using testing::ScratchPath;

std::string Gzip(const std::string& text) {
  const fs::path path = ScratchPath("tmp.gz");
  gzFile out = gzopen(path.string().c_str(), "wb");
  gzwrite(out, text.data(), static_cast<unsigned>(text.size()));
  gzclose(out);
  return ReadFileBytes(path);
}

std::string Xz(const std::string& text) {
  std::string out(lzma_stream_buffer_bound(text.size()), '\0');
  std::size_t size = 0;
  lzma_easy_buffer_encode(6, LZMA_CHECK_CRC64, nullptr, reinterpret_cast<const std::uint8_t*>(text.data()), text.size(),
                          reinterpret_cast<std::uint8_t*>(out.data()), &size, out.size());
  out.resize(size);
  return out;
}

std::string Zstd(const std::string& text) {
  std::string out(ZSTD_compressBound(text.size()), '\0');
  out.resize(ZSTD_compress(out.data(), out.size(), text.data(), text.size(), 3));
  return out;
}

std::string Saved(const LogFile& root) {
  StringSink sink;
  EXPECT_TRUE(WriteLog(root, sink));
  return sink.text;
}

TEST(CompressedLog, EachFormatReadsAsTheLogItHolds) {
  for (const char* name : {"gateway-day.ilx", "ikev2-remote-access.xml"}) {
    const std::string plain = testing::ExampleText(name);
    OpenLogResult want = OpenLog(testing::ExamplePath(name).string());
    ASSERT_EQ(want.status, OpenLogResult::Status::kLoaded);
    struct Format {
      const char* suffix;
      std::string bytes;
      Compression compression;
    };
    const Format formats[] = {{".gz", Gzip(plain), Compression::kGzip},
                              {".xz", Xz(plain), Compression::kXz},
                              {".ZST", Zstd(plain), Compression::kZstd}};
    for (const Format& format : formats) {
      EXPECT_EQ(CompressionOf(format.bytes), format.compression);
      const fs::path path = ScratchPath(std::string(name) + format.suffix);
      testing::WriteFileBytes(path, format.bytes);
      OpenLogResult got = OpenLog(path.string());
      ASSERT_EQ(got.status, OpenLogResult::Status::kLoaded) << path;
      EXPECT_TRUE(got.compressed);
      EXPECT_EQ(testing::FirstTreeDifference(*got.log, *want.log, true), "") << path;
      // Saved back, it is the plain log the viewer writes for the uncompressed one.
      EXPECT_EQ(Saved(*got.log), Saved(*want.log)) << path;
      // Through a stream (standard input) the bytes the format check read are decompressed;
      // there is no path to open again.
      OpenLogResult streamed = LoadLog(kStandardInput, std::make_shared<TextSource>(format.bytes));
      ASSERT_EQ(streamed.status, OpenLogResult::Status::kLoaded) << path;
      EXPECT_EQ(testing::FirstTreeDifference(*streamed.log, *want.log, true), "") << path;
    }
  }
}

TEST(CompressedLog, DamagedFilesAreRefused) {
  const std::string plain = testing::ExampleText("small.ilx");
  for (std::string bytes : {Gzip(plain), Xz(plain), Zstd(plain)}) {
    const std::string whole = bytes;
    for (std::string damaged : {whole.substr(0, whole.size() / 2), whole.substr(0, 6) + std::string(200, '\x55')}) {
      const fs::path path = ScratchPath("damaged.ilx");
      testing::WriteFileBytes(path, damaged);
      OpenLogResult result = OpenLog(path.string());
      EXPECT_EQ(result.status, OpenLogResult::Status::kWrongFileType);
      EXPECT_EQ(result.message, "Wrong file type");
    }
  }
}

}  // namespace
}  // namespace quillon
