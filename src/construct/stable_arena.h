// Append-only storage of records at stable addresses, numbered in insertion order (ordinals).
// Chunks are block storage (block_storage.h): the large ones are mappings of their own.
//
// Chunk c holds kFirst << c records and starts at ordinal kFirst * (2^c - 1). Chunks never move and
// their addresses are published atomically, so another component may read a record (and find its
// ordinal from its address) while later records are appended, provided it learnt of the record
// through a lock that the appender released after writing it. Only the owner appends. Records live
// until the arena is destroyed, or until the owner truncates records it never published. Ordinals are 32-bit: the arena refuses to grow past kMaxRecords.
#pragma once

#include <atomic>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <new>
#include <algorithm>
#include <utility>

#include "construct/block_storage.h"

namespace brackwater::construct {

inline constexpr uint32_t kNoOrdinal = UINT32_MAX;

template <class T, unsigned kFirstLog = 6>
class StableArena {
 public:
  static constexpr uint64_t kFirst = uint64_t(1) << kFirstLog;
  static constexpr unsigned kChunks = 32 - kFirstLog;
  static constexpr uint64_t kMaxRecords = UINT32_MAX - 1;

  StableArena() = default;
  StableArena(const StableArena&) = delete;
  StableArena& operator=(const StableArena&) = delete;
  ~StableArena() {
    uint64_t left = size_;
    for (unsigned c = 0; c < kChunks; ++c) {
      T* chunk = chunks_[c].load(std::memory_order_relaxed);
      if (chunk == nullptr) break;
      const uint64_t n = std::min<uint64_t>(left, kFirst << c);
      for (uint64_t i = 0; i < n; ++i) chunk[i].~T();
      left -= n;
      release_block(chunk, chunk_bytes(c));
    }
  }

  size_t size() const { return size_; }
  // The bytes of the chunks in use (of a mapped chunk, the pages its records reach).
  size_t memory_bytes() const {
    size_t bytes = 0;
    uint64_t left = size_;
    for (unsigned c = 0; c < chunks_used_.load(std::memory_order_relaxed); ++c) {
      const uint64_t n = std::min<uint64_t>(left, kFirst << c);
      bytes += block_footprint(chunk_bytes(c), n * sizeof(T));
      left -= n;
    }
    return bytes;
  }
  bool full() const { return size_ >= kMaxRecords; }

  // Appends a record (the caller checks full() first) and returns it with its ordinal.
  template <class... Args>
  std::pair<T*, uint32_t> emplace_back(Args&&... args) {
    const uint32_t ordinal = static_cast<uint32_t>(size_);
    const auto [c, offset] = locate(ordinal);
    T* chunk = chunks_[c].load(std::memory_order_relaxed);
    if (chunk == nullptr) {
      chunk = static_cast<T*>(allocate_block(chunk_bytes(c)));
      chunks_[c].store(chunk, std::memory_order_release);
      chunks_used_.store(c + 1, std::memory_order_release);
    }
    T* slot = new (chunk + offset) T(std::forward<Args>(args)...);
    ++size_;
    return {slot, ordinal};
  }

  const T& operator[](uint32_t ordinal) const {
    const auto [c, offset] = locate(ordinal);
    return chunks_[c].load(std::memory_order_acquire)[offset];
  }
  T& operator[](uint32_t ordinal) { return const_cast<T&>(std::as_const(*this)[ordinal]); }

  // Destroys the records from ordinal `n` on (records appended by the owner and not yet published
  // to anyone, given back when what made them fails). Their chunks stay for the next appends.
  void truncate(size_t n) {
    while (size_ > n) {
      --size_;
      const auto [c, offset] = locate(static_cast<uint32_t>(size_));
      chunks_[c].load(std::memory_order_relaxed)[offset].~T();
    }
  }

  // Appends default records until there are at least `n` (used as a growable table that never
  // moves its entries).
  void extend_to(size_t n) {
    while (size_ < n) emplace_back();
  }

  // The ordinal of the record at `p`, or kNoOrdinal when `p` is not a record of this arena.
  uint32_t ordinal_of(const T* p) const {
    const auto address = reinterpret_cast<uintptr_t>(p);
    for (unsigned c = chunks_used_.load(std::memory_order_acquire); c-- > 0;) {
      const T* chunk = chunks_[c].load(std::memory_order_acquire);
      const auto start = reinterpret_cast<uintptr_t>(chunk);
      if (address >= start && address < start + sizeof(T) * (kFirst << c)) {
        if ((address - start) % sizeof(T) != 0) return kNoOrdinal;
        return static_cast<uint32_t>(kFirst * ((uint64_t(1) << c) - 1) + (address - start) / sizeof(T));
      }
    }
    return kNoOrdinal;
  }

 private:
  static size_t chunk_bytes(unsigned c) { return sizeof(T) * (kFirst << c); }
  static std::pair<unsigned, uint64_t> locate(uint32_t ordinal) {
    const uint64_t x = uint64_t(ordinal) + kFirst;
    const unsigned c = static_cast<unsigned>(std::bit_width(x)) - 1 - kFirstLog;
    return {c, x - (kFirst << c)};
  }

  std::atomic<T*> chunks_[kChunks] = {};
  std::atomic<unsigned> chunks_used_{0};
  size_t size_ = 0;
};

}  // namespace brackwater::construct
