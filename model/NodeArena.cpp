#include "model/NodeArena.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>

#include "model/AddressSanitizer.h"
#include "model/TextHash.h"

namespace quillon {

namespace {

constexpr std::size_t kFirstChunk = std::size_t{256} << 10;
constexpr std::size_t kChunkAlignment = 64;

// The lane this thread's new nodes go to. Per thread, set and restored only by ArenaScope, so
// no thread ever sees another's arena.
thread_local ArenaLane* currentLane = nullptr;

}  // namespace

// ---- ArenaLane ----------------------------------------------------------------------------------

ArenaLane::ArenaLane(std::pmr::memory_resource* upstream, const NodeArena* arena)
    : upstream_(upstream), arena_(arena), nextChunkSize_(kFirstChunk) {}

ArenaLane::~ArenaLane() {
  for (const Chunk& chunk : chunks_) {
    QUILLON_UNPOISON(chunk.begin, chunk.size);
    upstream_->deallocate(chunk.begin, chunk.size, kChunkAlignment);
  }
}

void ArenaLane::TakeChunks(std::vector<ChunkSource::Chunk>& out) {
  for (const Chunk& chunk : chunks_) {
    QUILLON_UNPOISON(chunk.begin, chunk.size);
    out.push_back({chunk.begin, chunk.size});
  }
  chunks_.clear();
  chunkBegin_ = next_ = end_ = nullptr;
  std::fill(std::begin(free_), std::end(free_), nullptr);
  std::fill(std::begin(shared_), std::end(shared_), std::string_view());
}

void* ArenaLane::NewChunk(std::size_t bytes, std::size_t alignment) {
  // An object larger than a quarter of the next chunk gets a chunk of its own, so that the
  // current chunk's rest stays in use.
  const std::size_t need = bytes + alignment;
  if (need > nextChunkSize_ / 4) {
    const std::size_t size = (need + kChunkAlignment - 1) / kChunkAlignment * kChunkAlignment;
    auto* begin = static_cast<std::byte*>(upstream_->allocate(size, kChunkAlignment));
    chunks_.push_back({begin, size});
    reserved_ += size;
    used_ += size;
    QUILLON_POISON(begin, size);
    const auto at = (reinterpret_cast<std::uintptr_t>(begin) + alignment - 1) & ~(alignment - 1);
    QUILLON_UNPOISON(reinterpret_cast<void*>(at), bytes);
    return reinterpret_cast<void*>(at);
  }
  const std::size_t size = nextChunkSize_;
  auto* begin = static_cast<std::byte*>(upstream_->allocate(size, kChunkAlignment));
  chunks_.push_back({begin, size});
  reserved_ += size;
  nextChunkSize_ = std::min(nextChunkSize_ * 2, NodeArena::kLargestChunk);
  used_ += static_cast<std::size_t>(next_ - chunkBegin_);
  QUILLON_POISON(begin, size);
  chunkBegin_ = begin;
  next_ = begin;
  end_ = begin + size;
  return nullptr;
}

void* ArenaLane::do_allocate(std::size_t bytes, std::size_t alignment) {
  // A text or list of a node built by another thread grows while this thread builds (a worker's
  // packet placed and then completed by the loading thread): its room comes from this thread's
  // lane of the same arena, which lives as long, so that no two threads move one bump pointer.
  ArenaLane* lane = currentLane;
  if (lane != this && lane != nullptr && lane->arena_ == arena_) return lane->Place(bytes, alignment);
  return Place(bytes, alignment);
}

void* ArenaLane::Place(std::size_t bytes, std::size_t alignment) {
  bytes = Rounded(bytes);
  if (bytes <= kLargestReused) {
    void*& head = free_[bytes / kGranule];
    if (head != nullptr && (reinterpret_cast<std::uintptr_t>(head) & (alignment - 1)) == 0) {
      void* block = head;
      QUILLON_UNPOISON(block, bytes);
      std::memcpy(&head, block, sizeof(void*));
      reused_ += bytes;
      return block;
    }
  }
  for (;;) {
    const auto at = (reinterpret_cast<std::uintptr_t>(next_) + alignment - 1) & ~(alignment - 1);
    if (next_ != nullptr && at + bytes + kRedzone <= reinterpret_cast<std::uintptr_t>(end_)) {
      next_ = reinterpret_cast<std::byte*>(at + bytes + kRedzone);
      QUILLON_UNPOISON(reinterpret_cast<void*>(at), bytes);
      QUILLON_POISON(reinterpret_cast<void*>(at + bytes), kRedzone);
      return reinterpret_cast<void*>(at);
    }
    if (void* own = NewChunk(bytes, alignment)) return own;
  }
}

void ArenaLane::do_deallocate(void* p, std::size_t bytes, std::size_t /*alignment*/) {
  bytes = Rounded(bytes);
  QUILLON_POISON(p, bytes);
  // Only the lane's own thread changes it, and only for a block of its current chunk (a block
  // of an older chunk, of another lane or of another arena stays where it is: the arena's
  // memory goes back as a whole).
  auto* at = static_cast<std::byte*>(p);
  if (currentLane != this) {
    // Counted by the lane of this thread, if it is of the same arena (no other thread's counts
    // are touched).
    if (currentLane != nullptr && currentLane->arena_ == arena_) currentLane->left_ += bytes;
    return;
  }
  if (at < chunkBegin_ || at >= end_) {
    left_ += bytes;
    return;
  }
  if (at + bytes + kRedzone == next_) {
    next_ = at;
  } else if (bytes > kLargestReused) {
    left_ += bytes;
  } else {
    listed_ += bytes;
    void*& head = free_[bytes / kGranule];
    QUILLON_UNPOISON(p, sizeof(void*));
    std::memcpy(p, &head, sizeof(void*));
    QUILLON_POISON(p, sizeof(void*));
    head = p;
  }
}

std::string_view ArenaLane::Shared(std::string_view text) {
  if (text.empty() || text.size() > kLongestShared) return {};
  std::string_view& slot = shared_[TextHash(text) % kSharedSlots];
  if (!SameText(slot, text)) {
    // The copy is the lane's, never given back: other nodes may view it after this one is gone.
    auto* copy = static_cast<char*>(Place(text.size(), 1));
    std::memcpy(copy, text.data(), text.size());
    slot = std::string_view(copy, text.size());
  }
  return slot;
}

bool ArenaLane::TryExtend(void* p, std::size_t oldBytes, std::size_t newBytes) {
  oldBytes = Rounded(oldBytes);
  newBytes = Rounded(newBytes);
  auto* at = static_cast<std::byte*>(p);
  if (at < chunkBegin_ || at + oldBytes + kRedzone != next_ || newBytes < oldBytes ||
      newBytes + kRedzone > static_cast<std::size_t>(end_ - at))
    return false;
  QUILLON_UNPOISON(at + oldBytes, newBytes - oldBytes);
  QUILLON_POISON(at + newBytes, kRedzone);
  next_ = at + newBytes + kRedzone;
  return true;
}

// ---- NodeArena ----------------------------------------------------------------------------------

NodeArena::NodeArena(std::pmr::memory_resource* upstream, HelperThreads* helpers)
    : upstream_(upstream != nullptr ? upstream : std::pmr::new_delete_resource()), helpers_(helpers) {}

NodeArena::~NodeArena() {
  // A chunk source that gives chunks back faster together gets them all in one call.
  auto* source = dynamic_cast<ChunkSource*>(upstream_);
  if (source == nullptr) return;  // each lane gives its own back
  std::vector<ChunkSource::Chunk> chunks;
  for (const auto& lane : lanes_) lane->TakeChunks(chunks);
  source->ReleaseChunks(chunks, kChunkAlignment, helpers_);
}

ArenaLane* NodeArena::TakeLane() {
  std::lock_guard lock(mutex_);
  if (!idle_.empty()) {
    ArenaLane* lane = idle_.back();
    idle_.pop_back();
    return lane;
  }
  lanes_.push_back(std::make_unique<ArenaLane>(upstream_, this));
  return lanes_.back().get();
}

void NodeArena::ReturnLane(ArenaLane* lane) {
  if (lane == nullptr) return;
  std::lock_guard lock(mutex_);
  idle_.push_back(lane);
}

std::size_t NodeArena::ChunkCount() const {
  std::size_t count = 0;
  for (const auto& lane : lanes_) count += lane->ChunkCount();
  return count;
}

std::size_t NodeArena::UsedBytes() const {
  std::size_t bytes = 0;
  for (const auto& lane : lanes_) bytes += lane->UsedBytes();
  return bytes;
}

std::size_t NodeArena::IdleBytes() const {
  std::size_t bytes = 0;
  for (const auto& lane : lanes_) bytes += lane->IdleBytes();
  return bytes;
}

std::size_t NodeArena::ReservedBytes() const {
  std::size_t bytes = 0;
  for (const auto& lane : lanes_) bytes += lane->ReservedBytes();
  return bytes;
}

// ---- ArenaScope ---------------------------------------------------------------------------------

ArenaScope::ArenaScope(NodeArena* arena)
    : arena_(arena), lane_(arena != nullptr ? arena->TakeLane() : nullptr), previous_(currentLane) {
  currentLane = lane_;
}

ArenaScope::~ArenaScope() {
  currentLane = previous_;
  if (arena_ != nullptr) arena_->ReturnLane(lane_);
}

std::pmr::memory_resource* NodeResource() {
  return currentLane != nullptr ? currentLane : std::pmr::new_delete_resource();
}

bool InArenaScope() { return currentLane != nullptr; }

void GiveBackArenaBytes(void* p, std::size_t bytes, std::size_t alignment) {
  if (currentLane != nullptr) currentLane->deallocate(p, bytes, alignment);
  else QUILLON_POISON(p, bytes);
}

ArenaLane* CurrentLane() { return currentLane; }

}  // namespace quillon
