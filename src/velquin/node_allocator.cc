#include "velquin/node_allocator.h"

#include <cstdint>
#include <new>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace brackwater::velquin {

namespace {

#if defined(__linux__)
constexpr size_t kHugePage = size_t{2} << 20;

size_t mapped_size(size_t bytes) { return (bytes + kHugePage - 1) & ~(kHugePage - 1); }

void* map_aligned(size_t bytes) {
  const size_t size = mapped_size(bytes);
  void* raw = mmap(nullptr, size + kHugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (raw == MAP_FAILED) throw std::bad_alloc();
  const auto begin = reinterpret_cast<uintptr_t>(raw);
  const uintptr_t aligned = (begin + kHugePage - 1) & ~(uintptr_t{kHugePage} - 1);
  // Give back the slack before and after the aligned range (whole pages, as mmap returns them).
  if (aligned > begin) munmap(raw, aligned - begin);
  const uintptr_t tail = aligned + size;
  const uintptr_t end = begin + size + kHugePage;
  if (end > tail) munmap(reinterpret_cast<void*>(tail), end - tail);
#if defined(MADV_HUGEPAGE)
  madvise(reinterpret_cast<void*>(aligned), size, MADV_HUGEPAGE);  // a hint: failure changes nothing
#endif
  return reinterpret_cast<void*>(aligned);
}
#endif

}  // namespace

void* allocate_node_storage(size_t bytes) {
#if defined(__linux__)
  if (bytes >= kLargeNodeBytes) return map_aligned(bytes);
#endif
  return ::operator new(bytes);
}

void release_node_storage(void* p, size_t bytes) noexcept {
  if (p == nullptr) return;
#if defined(__linux__)
  if (bytes >= kLargeNodeBytes) {
    munmap(p, mapped_size(bytes));
    return;
  }
#endif
  ::operator delete(p);
}

}  // namespace brackwater::velquin
