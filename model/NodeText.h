// The character block of a node's packed texts (see ikev2/LineScan.h): a pointer and two 32-bit
// counts, sixteen bytes where a std::pmr::string takes forty. A large IKEv2 log holds a few of
// them per node for hundreds of thousands of nodes.
//
// Like ByteList, the block is placed in the thread's node arena inside an ArenaScope (see
// model/NodeArena.h), else taken from the heap; the top bit of the room says which, so that the
// destructor frees only a heap block. An arena block goes back with the arena (or to the lane
// that reuses it, when its own thread gives it back). A block holds at most 2^31 - 1 bytes;
// more throws std::length_error.
//
// A text may also view a block it does not own (no room of its own): a text the thread's lane
// shares among the nodes of its arena (AssignShared), such as the fixed name of a payload that
// a large log repeats hundreds of thousands of times. A change to it copies it first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace quillon {

class NodeText {
 public:
  NodeText() = default;
  NodeText(const NodeText& other) { CopyFrom(other); }
  NodeText(NodeText&& other) noexcept : data_(other.data_), size_(other.size_), room_(other.room_) {
    other.data_ = nullptr;
    other.size_ = other.room_ = 0;
  }
  NodeText& operator=(const NodeText& other) {
    if (this != &other) {
      Release();
      CopyFrom(other);
    }
    return *this;
  }
  NodeText& operator=(NodeText&& other) noexcept {
    if (this != &other) {
      Release();
      data_ = other.data_;
      size_ = other.size_;
      room_ = other.room_;
      other.data_ = nullptr;
      other.size_ = other.room_ = 0;
    }
    return *this;
  }
  ~NodeText() { Release(); }

  NodeText& operator=(std::string_view text) {
    assign(text);
    return *this;
  }
  NodeText& operator+=(std::string_view text) {
    append(text);
    return *this;
  }
  NodeText& operator+=(char c) {
    append(std::string_view(&c, 1));
    return *this;
  }

  // Writing through it: a view is copied first, so that the shared block never changes.
  char* data() {
    if (IsView()) Grow(size_);
    return data_;
  }
  const char* data() const { return data_; }
  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  std::size_t capacity() const { return room_ & ~kArenaFlag; }
  operator std::string_view() const { return {data_, size_}; }

  void reserve(std::size_t bytes);
  void clear() { size_ = 0; }
  void append(std::string_view text) { replace(size_, 0, text); }
  // The text becomes `text`, which must not lie in this block.
  void assign(std::string_view text);
  // The same, viewing the copy of `text` that the thread's lane shares (see
  // ArenaLane::Shared) when there is one; else as assign. Only for a text whose node lives in
  // the thread's arena, which keeps the shared copy as long as the node.
  void AssignShared(std::string_view text);
  // Views `text`, which must last as long as the program (a string literal): nothing is copied.
  void AssignFixed(std::string_view text) {
    Release();
    data_ = const_cast<char*>(text.data());
    size_ = static_cast<std::uint32_t>(text.size());
  }
  // Replaces `count` bytes at `at` by `text`, which must not lie in this block.
  void replace(std::size_t at, std::size_t count, std::string_view text);
  // Inserts `count` zero bytes at `at`.
  void insert(std::size_t at, std::size_t count, char zero);
  // Moves the text to a block of its exact size.
  void shrink_to_fit();
  // Once the text is complete: views the lane's shared copy of it (see AssignShared), or else
  // moves it to a block of its exact size.
  void ShareOrShrink();

 private:
  static constexpr std::uint32_t kArenaFlag = 0x80000000u;
  static constexpr std::size_t kMaxSize = 0x7FFFFFFFu;

  // Makes room for `bytes` in all, keeping the text.
  void Grow(std::size_t bytes);
  void CopyFrom(const NodeText& other);
  // Inline for a text without a block of its own (empty, or viewing a shared text).
  void Release() {
    if (room_ != 0) ReleaseBlock();
    data_ = nullptr;
    size_ = room_ = 0;
  }
  void ReleaseBlock();
  bool InArena() const { return (room_ & kArenaFlag) != 0; }
  // A view of a shared block: nothing to free, and a change copies first.
  bool IsView() const { return room_ == 0 && data_ != nullptr; }

  char* data_ = nullptr;
  std::uint32_t size_ = 0;
  std::uint32_t room_ = 0;
};

}  // namespace quillon
