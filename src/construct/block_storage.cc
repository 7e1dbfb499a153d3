#include "construct/block_storage.h"

#include <cstdint>
#include <cstring>
#include <new>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace brackwater::construct {

namespace {

#if defined(__linux__)
constexpr size_t kPage = size_t{4} << 10;
constexpr size_t kHugePage = size_t{2} << 20;

size_t round_up(size_t bytes, size_t unit) { return (bytes + unit - 1) & ~(unit - 1); }

bool huge(size_t bytes, bool huge_pages) { return huge_pages && bytes >= kHugeBlockBytes; }

size_t mapped_size(size_t bytes, bool huge_pages) { return round_up(bytes, huge(bytes, huge_pages) ? kHugePage : kPage); }

void* map_block(size_t bytes, bool huge_pages) {
  const size_t size = mapped_size(bytes, huge_pages);
  if (!huge(bytes, huge_pages)) {
    void* p = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) throw std::bad_alloc();
    return p;
  }
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

void* allocate_block(size_t bytes, bool huge_pages) {
#if defined(__linux__)
  if (bytes >= kMappedBlockBytes) return map_block(bytes, huge_pages);
#endif
  return ::operator new(bytes);  // 16-byte aligned on the platforms built for
}

void* allocate_zeroed_block(size_t bytes) {
  void* p = allocate_block(bytes);
#if defined(__linux__)
  if (bytes >= kMappedBlockBytes) return p;
#endif
  std::memset(p, 0, bytes);
  return p;
}

void release_block(void* p, size_t bytes, bool huge_pages) noexcept {
  if (p == nullptr) return;
#if defined(__linux__)
  if (bytes >= kMappedBlockBytes) {
    munmap(p, mapped_size(bytes, huge_pages));
    return;
  }
#endif
  ::operator delete(p);
}

void* resize_block(void* p, size_t old_bytes, size_t new_bytes) {
  if (p == nullptr) return allocate_block(new_bytes);
#if defined(__linux__)
  if (old_bytes >= kMappedBlockBytes && new_bytes >= kMappedBlockBytes) {
    void* moved = mremap(p, mapped_size(old_bytes, false), mapped_size(new_bytes, false), MREMAP_MAYMOVE);
    if (moved == MAP_FAILED) throw std::bad_alloc();
    return moved;
  }
#endif
  void* fresh = allocate_block(new_bytes);
  std::memcpy(fresh, p, old_bytes < new_bytes ? old_bytes : new_bytes);
  release_block(p, old_bytes);
  return fresh;
}

void release_pages(void* p, size_t bytes, size_t block_bytes) noexcept {
#if defined(__linux__)
  if (block_bytes < kMappedBlockBytes) return;
  const auto begin = reinterpret_cast<uintptr_t>(p);
  const uintptr_t first = (begin + kPage - 1) & ~(uintptr_t{kPage} - 1);
  const uintptr_t last = (begin + bytes) & ~(uintptr_t{kPage} - 1);
  if (last > first) madvise(reinterpret_cast<void*>(first), last - first, MADV_DONTNEED);
#else
  (void)p;
  (void)bytes;
  (void)block_bytes;
#endif
}

size_t block_footprint(size_t bytes, size_t used) {
  if (bytes == 0) return 0;
#if defined(__linux__)
  if (bytes >= kMappedBlockBytes) return round_up(used, kPage);
#endif
  return (bytes + 8 + 15) & ~size_t{15};  // the heap's chunk header and 16-byte granule
}

}  // namespace brackwater::construct
