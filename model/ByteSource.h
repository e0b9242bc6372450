// Where a log reader's bytes come from, for both log formats: a file opened once for the whole
// load, or bytes held in memory (tests, fuzzing, a log that came through a pipe), read through
// the same interface so that every input takes the same path through the readers.
//
// A source reads at any offset, so that several readers of one load can each start where they
// need to. A read that fails is not the end of the log: the source remembers the failure and
// the loader reports it instead of showing a short tree.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>

namespace quillon {

class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // Up to `size` bytes from `offset` into `data`; fewer only at the end of the input or after
  // a failure (Error()).
  virtual std::size_t ReadAt(std::uint64_t offset, char* data, std::size_t size) = 0;

  // The system's reason when a read failed ("Input/output error", "Is a directory"); empty
  // while every read succeeded.
  std::string Error() const;
  // The input ended before the size it had when it was opened: the file was cut or replaced
  // while it was read, so what was read may not be a whole log.
  bool Shrank() const;
  // Called once the load is done: a file compares its size now with its size at the start.
  virtual void CheckUnchanged() {}
  // The input's size when it is known before reading (a file, a text); 0 when not.
  virtual std::uint64_t SizeHint() const { return 0; }

 protected:
  void SetError(const std::string& reason);
  void SetShrank();

 private:
  mutable std::mutex mutex_;  // readers of one load may run on several threads
  std::string error_;
  bool shrank_ = false;
};

// Text held in memory.
class TextSource : public ByteSource {
 public:
  explicit TextSource(std::string text) : text_(std::move(text)) {}
  std::size_t ReadAt(std::uint64_t offset, char* data, std::size_t size) override;
  std::uint64_t SizeHint() const override { return text_.size(); }

 private:
  std::string text_;
};

// A file opened once for reading (read-only, binary). A file that can seek (a regular file) is
// read up to the size it had when it was opened: what the daemon appends during the load
// belongs to the next load. Anything else (a pipe, a FIFO, standard input, a terminal) is read
// as far as the reads ask and kept in memory, as it cannot be read twice: a look at its start
// reads no more than that start, and a stream longer than `maxStreamSize` fails with "File too
// large" rather than filling the memory.
class FileSource : public ByteSource {
 public:
  static constexpr std::uint64_t kDefaultMaxStream = std::uint64_t{8} << 30;
  static constexpr const char* kTooLarge = "File too large";

  // "-" is standard input. Nothing, with `error` set to the system's reason, when the file
  // cannot be opened.
  static std::shared_ptr<FileSource> Open(const std::string& path, std::string& error,
                                          std::uint64_t maxStreamSize = kDefaultMaxStream);
  ~FileSource() override;
  FileSource(const FileSource&) = delete;
  FileSource& operator=(const FileSource&) = delete;
  std::size_t ReadAt(std::uint64_t offset, char* data, std::size_t size) override;

  void CheckUnchanged() override;
  std::uint64_t SizeHint() const override { return size_; }

  // The size the file had when it was opened (a stream: all that came through it so far).
  std::uint64_t Size() const;
  bool IsStream() const { return stream_; }

 private:
  FileSource() = default;
  // Reads the stream on until it holds `end` bytes or ends. Called with readMutex_ held.
  void Stream(std::uint64_t end);

  std::FILE* file_ = nullptr;
  bool owned_ = false;         // false for standard input
  std::uint64_t size_ = 0;
  std::uint64_t next_ = 0;     // where the file stands: sequential reads need no seek
  mutable std::mutex readMutex_;
  bool stream_ = false;
  bool streamEnded_ = false;
  std::uint64_t maxStream_ = kDefaultMaxStream;
  std::string streamed_;       // what came through the stream so far
};

}  // namespace quillon
