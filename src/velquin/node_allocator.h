// The allocator of parse-tree node arrays: block storage on huge pages (construct/block_storage.h),
// so a large script's tree is mapped on its own, filled without a fault per 4 KiB page, and
// unmapped when it is freed.
#pragma once

#include "construct/block_storage.h"

namespace brackwater::velquin {

// Node arrays of this many bytes or more sit on huge-page-aligned mappings.
inline constexpr size_t kLargeNodeBytes = construct::kHugeBlockBytes;

template <class T>
using NodeAllocator = construct::BlockAllocator<T, true>;

}  // namespace brackwater::velquin
