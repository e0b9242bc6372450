// A read-only iterator over a container that hands out its elements by value from an index
// (packed storage that holds no element objects to point at).
#pragma once

#include <cstddef>
#include <iterator>

namespace quillon {

// `Container` provides `Value ElementAt(std::size_t) const`.
template <typename Container, typename Value>
class IndexIterator {
 public:
  using iterator_category = std::random_access_iterator_tag;
  using value_type = Value;
  using difference_type = std::ptrdiff_t;
  using pointer = void;
  using reference = Value;

  IndexIterator() = default;
  IndexIterator(const Container* container, std::size_t index) : container_(container), index_(index) {}

  Value operator*() const { return container_->ElementAt(index_); }
  Value operator[](difference_type n) const { return container_->ElementAt(index_ + static_cast<std::size_t>(n)); }
  IndexIterator& operator++() {
    ++index_;
    return *this;
  }
  IndexIterator operator++(int) {
    IndexIterator old = *this;
    ++index_;
    return old;
  }
  IndexIterator& operator--() {
    --index_;
    return *this;
  }
  IndexIterator operator--(int) {
    IndexIterator old = *this;
    --index_;
    return old;
  }
  IndexIterator& operator+=(difference_type n) {
    index_ += static_cast<std::size_t>(n);
    return *this;
  }
  IndexIterator& operator-=(difference_type n) {
    index_ -= static_cast<std::size_t>(n);
    return *this;
  }
  friend IndexIterator operator+(IndexIterator it, difference_type n) { return it += n; }
  friend IndexIterator operator+(difference_type n, IndexIterator it) { return it += n; }
  friend IndexIterator operator-(IndexIterator it, difference_type n) { return it -= n; }
  friend difference_type operator-(const IndexIterator& a, const IndexIterator& b) {
    return static_cast<difference_type>(a.index_) - static_cast<difference_type>(b.index_);
  }
  friend bool operator==(const IndexIterator& a, const IndexIterator& b) { return a.index_ == b.index_; }
  friend auto operator<=>(const IndexIterator& a, const IndexIterator& b) { return a.index_ <=> b.index_; }

 private:
  const Container* container_ = nullptr;
  std::size_t index_ = 0;
};

}  // namespace quillon
