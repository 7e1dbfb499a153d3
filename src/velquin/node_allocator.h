// The allocator of parse-tree node arrays.
//
// Small arrays come from operator new. An array of kLargeBytes or more is mapped on its own, aligned
// to 2 MiB, and (where the system offers it) marked as a candidate for transparent huge pages: a
// large script's tree is filled front to back right after it is reserved, and huge pages spare the
// fault of every 4 KiB page. Allocation failure throws std::bad_alloc, as operator new does.
#pragma once

#include <cstddef>
#include <limits>

namespace brackwater::velquin {

// Raw storage for the allocator below; `bytes` must be the same in both calls.
void* allocate_node_storage(size_t bytes);
void release_node_storage(void* p, size_t bytes) noexcept;

inline constexpr size_t kLargeNodeBytes = size_t{8} << 20;

template <class T>
struct NodeAllocator {
  using value_type = T;

  NodeAllocator() = default;
  template <class U>
  NodeAllocator(const NodeAllocator<U>&) {}

  T* allocate(size_t n) { return static_cast<T*>(allocate_node_storage(n * sizeof(T))); }
  void deallocate(T* p, size_t n) noexcept { release_node_storage(p, n * sizeof(T)); }
  // Leaves room for the alignment slack of a mapping.
  size_t max_size() const noexcept { return (std::numeric_limits<size_t>::max() >> 1) / sizeof(T); }

  template <class U>
  bool operator==(const NodeAllocator<U>&) const noexcept {
    return true;
  }
};

}  // namespace brackwater::velquin
