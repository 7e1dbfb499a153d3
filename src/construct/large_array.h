// A growable array of trivially copyable values for the large short-lived arrays of a search.
//
// Up to kMappedArrayBytes it lives on the heap, which hands the same memory to the next search
// without faulting its pages in again. From there on it is a mapped block: growing remaps its pages
// instead of copying them, and it is handed to the background releaser when the array lets it go,
// so neither growth nor the end of a large array holds up its owner for time in proportion to its
// size (a deadline is answered without first copying or freeing a table of a gigabyte). Capacity
// doubles.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <span>
#include <type_traits>
#include <utility>

#include "construct/background_release.h"
#include "construct/block_storage.h"

namespace brackwater::construct {

inline constexpr size_t kMappedArrayBytes = size_t{16} << 20;

template <class T>
class LargeArray {
  static_assert(std::is_trivially_copyable_v<T> && std::is_trivially_destructible_v<T>);
  static_assert(alignof(T) <= 16);

 public:
  LargeArray() = default;
  LargeArray(LargeArray&& other) noexcept
      : data_(std::exchange(other.data_, nullptr)),
        size_(std::exchange(other.size_, 0)),
        capacity_(std::exchange(other.capacity_, 0)) {}
  LargeArray& operator=(LargeArray&& other) noexcept {
    if (this != &other) {
      release();
      data_ = std::exchange(other.data_, nullptr);
      size_ = std::exchange(other.size_, 0);
      capacity_ = std::exchange(other.capacity_, 0);
    }
    return *this;
  }
  LargeArray(const LargeArray&) = delete;
  LargeArray& operator=(const LargeArray&) = delete;
  ~LargeArray() { release(); }

  size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  size_t capacity() const { return capacity_; }
  T* data() { return data_; }
  const T* data() const { return data_; }
  T& operator[](size_t i) { return data_[i]; }
  const T& operator[](size_t i) const { return data_[i]; }
  T* begin() { return data_; }
  T* end() { return data_ + size_; }
  const T* begin() const { return data_; }
  const T* end() const { return data_ + size_; }

  void push_back(const T& value) {
    if (size_ == capacity_) grow(size_ + 1);
    data_[size_++] = value;
  }
  void append(std::span<const T> values) {
    if (values.size() > capacity_ - size_) grow(size_ + values.size());
    std::uninitialized_copy(values.begin(), values.end(), data_ + size_);
    size_ += values.size();
  }
  // New elements are value-initialised.
  void resize(size_t n) {
    if (n > capacity_) grow(n);
    if (n > size_) std::uninitialized_value_construct(data_ + size_, data_ + n);
    size_ = n;
  }
  void reserve(size_t n) {
    if (n > capacity_) grow_to(n);
  }
  void clear() { size_ = 0; }

 private:
  void grow(size_t needed) { grow_to(std::max(needed, capacity_ < 8 ? size_t{16} : capacity_ * 2)); }
  void grow_to(size_t capacity) {
    const size_t old_bytes = capacity_ * sizeof(T);
    const size_t bytes = capacity * sizeof(T);
    void* grown;
    if (bytes < kMappedArrayBytes) {
      grown = std::realloc(data_, bytes);
      if (grown == nullptr) throw std::bad_alloc();
    } else if (old_bytes >= kMappedArrayBytes) {
      grown = resize_block(data_, old_bytes, bytes);
    } else {
      grown = allocate_block(bytes);
      if (size_ != 0) std::memcpy(grown, data_, size_ * sizeof(T));
      std::free(data_);
    }
    data_ = static_cast<T*>(grown);
    capacity_ = capacity;
  }
  void release() {
    const size_t bytes = capacity_ * sizeof(T);
    if (bytes >= kMappedArrayBytes) {
      release_block_later(data_, bytes);
    } else {
      std::free(data_);
    }
    data_ = nullptr;
    size_ = capacity_ = 0;
  }

  T* data_ = nullptr;
  size_t size_ = 0;
  size_t capacity_ = 0;
};

}  // namespace brackwater::construct
