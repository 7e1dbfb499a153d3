// A growable array of trivially copyable values for the large short-lived arrays of a search.
//
// Up to kMappedArrayBytes it lives on the heap, which hands the same memory to the next search
// without faulting its pages in again. From there on it is a mapped block: growing remaps its pages
// instead of copying them, and it is handed to the background releaser when the array lets it go,
// so neither growth nor the end of a large array holds up its owner for time in proportion to its
// size (a deadline is answered without first copying or freeing a table of a gigabyte). Capacity
// doubles.
//
// Given a budget, the array charges its bytes before it takes them: a heap block whole, a mapped
// block by the pages its elements reach (a little ahead of them, so that a charge is not made per
// element). Growing past the budget fails with its error and leaves the array as it was; reserve(n)
// charges all n elements at once, since its caller means to fill them.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <span>
#include <type_traits>
#include <utility>

#include "construct/background_release.h"
#include "construct/block_storage.h"
#include "construct/budget.h"
#include "construct/error.h"

namespace brackwater::construct {

inline constexpr size_t kMappedArrayBytes = size_t{16} << 20;

template <class T>
class LargeArray {
  static_assert(std::is_trivially_copyable_v<T> && std::is_trivially_destructible_v<T>);
  static_assert(alignof(T) <= 16);

 public:
  explicit LargeArray(Budget* budget = nullptr) : charge_(budget) {}
  LargeArray(LargeArray&& other) noexcept
      : data_(std::exchange(other.data_, nullptr)),
        size_(std::exchange(other.size_, 0)),
        capacity_(std::exchange(other.capacity_, 0)),
        covered_(std::exchange(other.covered_, 0)),
        charge_(std::move(other.charge_)) {}
  LargeArray& operator=(LargeArray&& other) noexcept {
    if (this != &other) {
      release();
      data_ = std::exchange(other.data_, nullptr);
      size_ = std::exchange(other.size_, 0);
      capacity_ = std::exchange(other.capacity_, 0);
      covered_ = std::exchange(other.covered_, 0);
      charge_ = std::move(other.charge_);
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

  [[nodiscard]] Result<void> push_back(const T& value) {
    if (size_ == covered_) {
      if (auto r = extend(size_ + 1); !r) return r;
    }
    data_[size_++] = value;
    return {};
  }
  // Whether `n` more elements fit without a growth or a charge.
  bool has_room(size_t n) const { return n <= covered_ - size_; }
  // Appends `values`, for which has_room holds.
  void append_in_room(std::span<const T> values) {
    std::uninitialized_copy(values.begin(), values.end(), data_ + size_);
    size_ += values.size();
  }
  [[nodiscard]] Result<void> append(std::span<const T> values) {
    if (values.size() > covered_ - size_) {
      if (auto r = extend(size_ + values.size()); !r) return r;
    }
    append_in_room(values);
    return {};
  }
  // New elements are value-initialised.
  [[nodiscard]] Result<void> resize(size_t n) {
    if (n > covered_) {
      if (auto r = extend(n); !r) return r;
    }
    if (n > size_) std::uninitialized_value_construct(data_ + size_, data_ + n);
    size_ = n;
    return {};
  }
  [[nodiscard]] Result<void> reserve(size_t n) {
    if (n <= covered_) return {};
    if (n > kMaxElements) return too_large();
    const size_t capacity = std::max(n, capacity_);
    const size_t covered = charge_.budget() != nullptr && mapped(capacity) ? n : capacity;
    if (auto r = charge_.hold(footprint(capacity, covered)); !r) return r;
    if (capacity != capacity_) grow_to(capacity);
    covered_ = covered;
    return {};
  }
  void clear() { size_ = 0; }
  // Keeps the first `n` elements (n <= size()).
  void truncate(size_t n) { size_ = n; }

  // Leaves the budget: the bytes held so far are given back, and the array charges nothing more.
  void detach() {
    charge_.release();
    covered_ = capacity_;
  }
  // Charges the bytes held so far to `budget`, and from here everything it grows by.
  [[nodiscard]] Result<void> attach(Budget* budget) {
    Charge charge(budget);
    if (auto r = charge.hold(footprint(capacity_, size_)); !r) return r;
    charge_ = std::move(charge);
    covered_ = budget != nullptr && mapped(capacity_) ? size_ : capacity_;
    return {};
  }

 private:
  static constexpr size_t kPage = size_t{4} << 10;
  // A mapped block is charged this far beyond the elements written, or an eighth of them if more.
  static constexpr size_t kChargeAhead = size_t{1} << 20;

  static constexpr size_t kMaxElements = (SIZE_MAX >> 2) / sizeof(T);

  // More elements than any block holds: past the budget, or short of memory without one.
  Result<void> too_large() const {
    if (Budget* budget = charge_.budget()) return fail(out_of_budget(budget->max_bytes()));
    throw std::bad_alloc();
  }
  static bool mapped(size_t capacity) { return capacity * sizeof(T) >= kMappedArrayBytes; }
  // The bytes of a block of `capacity` elements whose first `covered` are written.
  static size_t footprint(size_t capacity, size_t covered) {
    if (!mapped(capacity)) return capacity * sizeof(T);
    return (covered * sizeof(T) + kPage - 1) & ~(kPage - 1);
  }

  // Makes the first `needed` elements writable, charging them first.
  Result<void> extend(size_t needed) {
    if (needed > kMaxElements) return too_large();
    size_t capacity = capacity_;
    if (needed > capacity_) capacity = std::min(std::max(needed, capacity_ < 8 ? size_t{16} : capacity_ * 2), kMaxElements);
    size_t covered = capacity;
    if (charge_.budget() != nullptr && mapped(capacity)) {
      covered = std::min(capacity, needed + std::max(needed / 8, kChargeAhead / sizeof(T)));
    }
    if (auto r = charge_.hold(footprint(capacity, covered)); !r) return r;
    if (capacity != capacity_) grow_to(capacity);
    covered_ = covered;
    return {};
  }
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
    size_ = capacity_ = covered_ = 0;
    static_cast<void>(charge_.hold(0));
  }

  T* data_ = nullptr;
  size_t size_ = 0;
  size_t capacity_ = 0;
  size_t covered_ = 0;  // elements that may be written without a charge: capacity_ without a budget
  Charge charge_;
};

}  // namespace brackwater::construct
