// The allocator of parse-tree node arrays: block storage (construct/block_storage.h), so a large
// script's tree is mapped on its own, on huge pages where offered, and unmapped when it is freed.
#pragma once

#include "construct/block_storage.h"

namespace brackwater::velquin {

// Node arrays of this many bytes or more sit on huge-page-aligned mappings.
inline constexpr size_t kLargeNodeBytes = construct::kHugeBlockBytes;

template <class T>
using NodeAllocator = construct::BlockAllocator<T>;

}  // namespace brackwater::velquin
