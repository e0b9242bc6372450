// Opening a log file: choosing the format's reader by the path, timing the load, and the
// failures the caller shows to the user. The viewer and the command-line tool both load
// through here; this is the one place above both log formats.
#pragma once

#include <memory>
#include <memory_resource>
#include <string>
#include <string_view>

#include "logs/LogFormat.h"
#include "model/ByteSource.h"
#include "model/LogFile.h"
#include "model/ReadProgress.h"

namespace quillon {

struct OpenLogResult {
  enum class Status {
    kLoaded,         // `log` holds the new tree
    kCannotOpen,     // message: "Failed to open file: " + path, and the system's reason in parentheses
    kWrongFileType,  // message: "Wrong file type"
  };
  Status status = Status::kCannotOpen;
  std::unique_ptr<LogFile> log;  // the loaded tree (only when loaded)
  std::string message;           // the error text for the user (empty when loaded)
  std::string reason;            // cannot open: the system's reason ("Is a directory"), if any
  std::string loadTimeText;      // "File loaded in MM minutes, SS seconds."
  // Loaded, but the file became shorter while it was read: "The file changed while it was
  // read: " + path. The tree holds what was read.
  std::string warning;
  double seconds = 0;            // the load's duration, for tools and benchmarks
  const LogFormat* format = &IKEv1LogFormat();  // the format whose reader read the log
  bool compressed = false;       // the file was a compressed log, read as the text it holds
  // The bytes of the file the tree was read from (its size when the load began); 0 for what is
  // not a plain file. A follower started after the load goes on from there.
  std::uint64_t size = 0;
  // The bytes the tree was read from, `textSize` of them: the file as far as it was read, what
  // came through a stream, or the text a compressed log holds. The nodes' spans are offsets in
  // them (their lines: LogLineIndex). Holds the file open, or the text in memory: let go of it
  // when it is not needed.
  std::shared_ptr<ByteSource> text;
  std::uint64_t textSize = 0;
  // Neither reader found a packet: the tree is an empty root, and the user is told
  // "No IKE packets found in PATH" (NoPacketsText).
  bool noPackets = false;
  // The file ends inside a packet (IKEv1) or an exchange (IKEv2): cut off, or still being
  // written. The tree holds what was read; the user is told TruncatedText.
  bool truncated = false;
};

std::string NoPacketsText(const std::string& path);
// "The log ends inside a packet: PATH"
std::string TruncatedText(const std::string& path);
// Whether a log's last bytes (`tail`, the end of the text) end inside a packet or exchange.
bool EndsInsidePacket(std::string_view tail, const LogFormat& format);

// "File loaded in %M minutes, %S seconds." for a span of whole seconds (two digits each,
// minutes taken modulo 60).
std::string LoadTimeText(long long seconds);

// The path that names standard input. Its reader is chosen by the content.
inline constexpr const char* kStandardInput = "-";

// Loads the file into a new tree. The caller's current tree is untouched on failure, so a
// failed open leaves the previous log on screen. The file is opened once: the type check and
// the load read the same handle, so pipes, FIFOs and standard input ("-") load as files do.
// A gzip, xz or zstd file is read as the log it holds (a damaged one is a wrong file type). A
// file that is not text (a NUL byte within its first 64 KiB) is a wrong file type; an empty
// file is an empty log. The reader is chosen by the path (FormatOfPath; standard input by
// its content, FormatOfStream), or is the `known` format a previous load of the log found;
// when it finds nothing and the start of the file clearly holds the other format, the other
// reader reads it. A regular file is read up to the size it had when the load
// began; what is appended meanwhile belongs to the next load. A read error fails the load.
// `progress`, when given, is told the bytes read after each block. `chunkSource` gives the
// chunks of the new log's node arena (null: the general heap); it must outlive the log.
//
// `maxSize` bounds what a load keeps in memory beyond the file: the text of a compressed log and
// what comes through a stream (standard input, a pipe). Past it the load fails with the reason
// "File too large". 0 chooses the default: 8 GiB, or 16 times the compressed file's size when
// that is more. A compressed log is decompressed only as far as its first 64 KiB when they show
// that it holds no log (a NUL byte), and a stream is read no further either.
OpenLogResult OpenLog(const std::string& path, const ReadProgress& progress = {},
                      std::pmr::memory_resource* chunkSource = nullptr, std::uint64_t maxSize = 0,
                      const LogFormat* known = nullptr);

// The same load from a source already opened (a file, or bytes in memory); `path` chooses the
// reader and names the log in the messages.
OpenLogResult LoadLog(const std::string& path, std::shared_ptr<ByteSource> source,
                      const ReadProgress& progress = {}, std::pmr::memory_resource* chunkSource = nullptr,
                      std::uint64_t maxSize = 0, const LogFormat* known = nullptr);

// The default limit of a compressed log's text: 8 GiB, or 16 times its compressed size.
std::uint64_t DefaultMaxDecompressed(std::uint64_t compressedSize);

}  // namespace quillon
