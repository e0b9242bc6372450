#include "model/NodeText.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <stdexcept>

#include "model/NodeArena.h"

namespace quillon {

namespace {

// A block of `bytes` where the thread builds its nodes; `arena` tells which it was.
char* Allocate(std::size_t bytes, bool& arena) {
  arena = InArenaScope();
  if (!arena) return static_cast<char*>(::operator new(bytes));
  return static_cast<char*>(NodeResource()->allocate(bytes, 1));
}

}  // namespace

void NodeText::ReleaseBlock() {
  // A view of a shared text (no room of its own) is not ours: the lane that shares it keeps it.
  if (!InArena()) ::operator delete(data_);
  else if (ArenaLane* lane = CurrentLane()) lane->deallocate(data_, capacity(), 1);
}

void NodeText::CopyFrom(const NodeText& other) {
  // A copy is made at its exact size.
  data_ = nullptr;
  size_ = room_ = 0;
  if (other.size_ == 0) return;
  bool arena = false;
  data_ = Allocate(other.size_, arena);
  std::memcpy(data_, other.data_, other.size_);
  size_ = other.size_;
  room_ = other.size_ | (arena ? kArenaFlag : 0);
}

void NodeText::Grow(std::size_t bytes) {
  if (bytes <= capacity()) return;
  if (bytes > kMaxSize) throw std::length_error("node text too long");
  // Never less than the text: a view of a shared text has no room of its own, and a request
  // below its size (a reserve, a replace that shortens it) must still take all of it.
  const std::size_t room =
      std::min(std::max({bytes, std::size_t{size_}, capacity() * 2, std::size_t{16}}), kMaxSize);
  // A text growing at the end of its arena lane (the node being read) grows in place.
  if (InArena())
    if (ArenaLane* lane = CurrentLane(); lane != nullptr && lane->TryExtend(data_, capacity(), room)) {
      room_ = static_cast<std::uint32_t>(room) | kArenaFlag;
      return;
    }
  bool arena = false;
  char* block = Allocate(room, arena);
  if (size_ != 0) std::memcpy(block, data_, size_);
  const std::uint32_t size = size_;
  Release();
  data_ = block;
  size_ = size;
  room_ = static_cast<std::uint32_t>(room) | (arena ? kArenaFlag : 0);
}

void NodeText::assign(std::string_view text) {
  if (text.size() > capacity()) {
    NodeText exact;
    exact.Grow(text.size());
    *this = std::move(exact);
  }
  size_ = 0;
  append(text);
}

void NodeText::AssignShared(std::string_view text) {
  ArenaLane* lane = CurrentLane();
  const std::string_view shared = lane != nullptr ? lane->Shared(text) : std::string_view();
  if (shared.data() == nullptr) {
    assign(text);
    return;
  }
  Release();
  data_ = const_cast<char*>(shared.data());
  size_ = static_cast<std::uint32_t>(shared.size());
  room_ = 0;
}

void NodeText::ShareOrShrink() {
  if (IsView()) return;
  ArenaLane* lane = CurrentLane();
  // The lane copies the text before this block goes.
  const std::string_view shared = lane != nullptr ? lane->Shared(*this) : std::string_view();
  if (shared.data() == nullptr) {
    shrink_to_fit();
    return;
  }
  Release();
  data_ = const_cast<char*>(shared.data());
  size_ = static_cast<std::uint32_t>(shared.size());
  room_ = 0;
}

void NodeText::reserve(std::size_t bytes) { Grow(bytes); }

void NodeText::replace(std::size_t at, std::size_t count, std::string_view text) {
  at = std::min<std::size_t>(at, size_);
  count = std::min<std::size_t>(count, size_ - at);
  const std::size_t size = size_ - count + text.size();
  Grow(size);
  if (const std::size_t tail = size_ - at - count; tail != 0) std::memmove(data_ + at + text.size(), data_ + at + count, tail);
  if (!text.empty()) std::memcpy(data_ + at, text.data(), text.size());
  size_ = static_cast<std::uint32_t>(size);
}

void NodeText::insert(std::size_t at, std::size_t count, char zero) {
  if (count == 0) return;
  at = std::min<std::size_t>(at, size_);
  Grow(size_ + count);
  if (size_ != at) std::memmove(data_ + at + count, data_ + at, size_ - at);
  std::memset(data_ + at, zero, count);
  size_ = static_cast<std::uint32_t>(size_ + count);
}

void NodeText::shrink_to_fit() {
  if (capacity() == size_ || IsView()) return;
  NodeText exact(*this);
  *this = std::move(exact);
}

}  // namespace quillon
