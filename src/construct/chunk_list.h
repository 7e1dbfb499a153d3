// A list that is filled at the back, then read once from front to back, in chunks of block storage
// (block_storage.h) that go back one by one as the reading passes them.
//
// Chunks hold kChunk elements, except that the first one starts small and moves to one twice as
// large whenever it fills, up to kChunk: a short list costs one small allocation. An element lives
// in its chunk until that chunk goes back: once its last position is consumed, or when the list is
// cleared or destroyed. Allocation failure throws std::bad_alloc, as operator new does.
#pragma once

#include <algorithm>
#include <cstddef>
#include <new>
#include <utility>
#include <vector>

#include "construct/block_storage.h"

namespace brackwater::construct {

template <class T, size_t kChunk = 16384>
class ChunkList {
 public:
  ChunkList() = default;
  ChunkList(ChunkList&& other) noexcept
      : chunks_(std::move(other.chunks_)),
        size_(std::exchange(other.size_, 0)),
        first_capacity_(std::exchange(other.first_capacity_, 0)) {
    other.chunks_.clear();
  }
  ChunkList& operator=(ChunkList&& other) noexcept {
    if (this != &other) {
      clear();
      chunks_ = std::move(other.chunks_);
      size_ = std::exchange(other.size_, 0);
      first_capacity_ = std::exchange(other.first_capacity_, 0);
      other.chunks_.clear();
    }
    return *this;
  }
  ChunkList(const ChunkList&) = delete;
  ChunkList& operator=(const ChunkList&) = delete;
  ~ChunkList() { clear(); }

  size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  // Positions not yet given back.
  T& operator[](size_t i) { return chunks_[i / kChunk][i % kChunk]; }
  const T& operator[](size_t i) const { return chunks_[i / kChunk][i % kChunk]; }

  // Makes the first chunk hold `n` elements (at most kChunk); for a list still empty.
  void reserve_first(size_t n) {
    if (chunks_.empty() && n > 0) grow_first(std::min(kChunk, n));
  }

  template <class... Args>
  void emplace_back(Args&&... args) {
    if (size_ < kChunk && size_ == first_capacity_) {
      grow_first(std::min(kChunk, std::max<size_t>(4, 2 * first_capacity_)));
    } else if (size_ % kChunk == 0 && size_ >= kChunk) {
      chunks_.push_back(static_cast<T*>(allocate_block(kChunk * sizeof(T))));
    }
    new (&chunks_.back()[size_ % kChunk]) T(std::forward<Args>(args)...);
    ++size_;
  }

  // Position `i` is read for the last time: a chunk whose last element it is goes back.
  void consumed(size_t i) {
    if ((i + 1) % kChunk == 0) release_chunk(i / kChunk, kChunk);
  }

  void clear() {
    for (size_t c = 0; c < chunks_.size(); ++c) release_chunk(c, std::min(kChunk, size_ - c * kChunk));
    chunks_.clear();
    size_ = 0;
    first_capacity_ = 0;
  }

 private:
  size_t capacity(size_t c) const { return c == 0 ? first_capacity_ : kChunk; }

  // The first chunk moves to one of `grown` elements.
  void grow_first(size_t grown) {
    auto* chunk = static_cast<T*>(allocate_block(grown * sizeof(T)));
    if (!chunks_.empty()) {
      for (size_t i = 0; i < size_; ++i) {
        new (&chunk[i]) T(std::move(chunks_[0][i]));
        chunks_[0][i].~T();
      }
      release_block(chunks_[0], first_capacity_ * sizeof(T));
      chunks_[0] = chunk;
    } else {
      chunks_.push_back(chunk);
    }
    first_capacity_ = grown;
  }

  void release_chunk(size_t c, size_t n) {
    T* chunk = std::exchange(chunks_[c], nullptr);
    if (chunk == nullptr) return;
    for (size_t i = 0; i < n; ++i) chunk[i].~T();
    release_block(chunk, capacity(c) * sizeof(T));
  }

  std::vector<T*> chunks_;  // a chunk given back is null
  size_t size_ = 0;
  size_t first_capacity_ = 0;  // of chunks_[0]
};

}  // namespace brackwater::construct
