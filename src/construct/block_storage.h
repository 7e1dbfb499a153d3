// Storage for large arrays that is given back to the system the moment it is released.
//
// A block of kMappedBlockBytes or more is mapped on its own instead of coming from the heap: the
// engine's long-lived arrays (record chunks, tables) then never sit between the short-lived buffers
// of a large script, and those buffers return their pages when they are freed, so what stays
// resident after a script is what the engine keeps. Asked for huge pages, a block of
// kHugeBlockBytes or more is aligned to 2 MiB and (where the system offers it) marked as a candidate
// for transparent huge pages, which spares the fault of every 4 KiB page of a large array filled
// front to back at once (a parse tree); arrays that fill gradually fault cheaper in 4 KiB pages.
// Smaller blocks come from operator new. Allocation failure throws std::bad_alloc, as operator new does.
#pragma once

#include <cstddef>
#include <limits>
#include <vector>

namespace brackwater::construct {

inline constexpr size_t kMappedBlockBytes = size_t{64} << 10;
inline constexpr size_t kHugeBlockBytes = size_t{8} << 20;

// Raw storage aligned for any type of at most 16-byte alignment; `bytes` and `huge_pages` must be
// the same in both calls.
void* allocate_block(size_t bytes, bool huge_pages = false);
void release_block(void* p, size_t bytes, bool huge_pages = false) noexcept;
// The same storage with every byte zero: a mapped block is zero as mapped, so its pages are touched
// only when written.
void* allocate_zeroed_block(size_t bytes);

// A block of `old_bytes` (not asked for huge pages) made `new_bytes` long, its first
// min(old_bytes, new_bytes) bytes kept: a mapped block that stays mapped is remapped rather than
// copied, so growing a large array costs no copy of it. On failure (std::bad_alloc) the old block
// is unchanged.
void* resize_block(void* p, size_t old_bytes, size_t new_bytes);

// Gives the system back the whole pages within [p, p + bytes) of a block of `block_bytes` that
// starts at or before `p`: a mapped block's pages read as zeros afterwards (a heap block keeps its
// pages). For the consumed front of a large array that is read once, front to back.
void release_pages(void* p, size_t bytes, size_t block_bytes) noexcept;

// The bytes that a block of `bytes` occupies once its first `used` bytes are touched (a heap block
// whole, of a mapped block the pages reached).
size_t block_footprint(size_t bytes, size_t used);
inline size_t block_footprint(size_t bytes) { return block_footprint(bytes, bytes); }

template <class T, bool kHugePages = false>
struct BlockAllocator {
  static_assert(alignof(T) <= 16);
  using value_type = T;
  template <class U>
  struct rebind {
    using other = BlockAllocator<U, kHugePages>;
  };

  BlockAllocator() = default;
  template <class U>
  BlockAllocator(const BlockAllocator<U, kHugePages>&) {}

  T* allocate(size_t n) { return static_cast<T*>(allocate_block(n * sizeof(T), kHugePages)); }
  void deallocate(T* p, size_t n) noexcept { release_block(p, n * sizeof(T), kHugePages); }
  // Leaves room for the alignment slack of a mapping.
  size_t max_size() const noexcept { return (std::numeric_limits<size_t>::max() >> 1) / sizeof(T); }

  template <class U>
  bool operator==(const BlockAllocator<U, kHugePages>&) const noexcept {
    return true;
  }
};

// A vector on block storage: for the large arrays of one command, which then leave nothing behind.
template <class T>
using BlockVector = std::vector<T, BlockAllocator<T>>;

}  // namespace brackwater::construct
