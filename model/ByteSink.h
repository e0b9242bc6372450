// Where a saved log's bytes go. The writers of both log formats produce text and hand it on in
// large pieces; what receives them (a file written safely, a string in a test) lives with its
// user, so that the writers need nothing beyond the standard library.
#pragma once

#include <string>
#include <string_view>

namespace quillon {

class ByteSink {
 public:
  virtual ~ByteSink() = default;
  // Appends the bytes. False when they could not be stored; a writer stops at the first failure.
  virtual bool Write(std::string_view bytes) = 0;
};

// Keeps everything in memory.
class StringSink : public ByteSink {
 public:
  bool Write(std::string_view bytes) override {
    text += bytes;
    return true;
  }
  std::string text;
};

// Gathers small writes into blocks of about `block` bytes for `sink`. Flush (also run by the
// destructor, whose result is lost) hands on what is left.
class BufferedSink {
 public:
  explicit BufferedSink(ByteSink& sink, std::size_t block = std::size_t{1} << 20) : sink_(sink), block_(block) {
    buffer_.reserve(block_ + block_ / 4);
  }
  ~BufferedSink() { Flush(); }
  BufferedSink(const BufferedSink&) = delete;
  BufferedSink& operator=(const BufferedSink&) = delete;

  // The text to append to; call Written() after appending.
  std::string& Buffer() { return buffer_; }
  // Hands the buffer on once it is large. False once a write has failed.
  bool Written() { return buffer_.size() < block_ ? ok_ : Flush(); }
  bool Flush() {
    if (ok_ && !buffer_.empty()) ok_ = sink_.Write(buffer_);
    buffer_.clear();
    return ok_;
  }
  bool Ok() const { return ok_; }

 private:
  ByteSink& sink_;
  std::size_t block_;
  std::string buffer_;
  bool ok_ = true;
};

}  // namespace quillon
