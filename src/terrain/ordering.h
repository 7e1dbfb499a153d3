// Ordering long lists of a Terrain within its stop checks.
//
// keep_first(items, k, less, budget) leaves in `items` only the first k items of the order `less`
// (a strict total order), in that order: one pass over the items keeps the best k in a heap, so its
// work is the number of items times log k. sort_checked(items, less, budget) sorts a span: runs of
// 1024 items sorted in place, then merged pairwise, level by level. Both count one step per item
// handled (a run counts its 1024 items) and run TerrainBudget::check_stop_periodic on the step
// count, so a stop is seen every 1024 items; a stop leaves `items` in an unspecified order.
// group_stably(values, groups, count) lays values out by group number in one counting pass (linear,
// with no stop check), keeping the order within each group.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "terrain/limits.h"

namespace brackwater::terrain {

template <class T, class Less>
Result<void> keep_first(std::vector<T>& items, size_t k, Less less, const TerrainBudget& budget) {
  k = std::min(k, items.size());
  if (k == 0) {
    items.clear();
    return {};
  }
  // items[0..k) is a heap whose top is the last kept item; a later item that comes before the top
  // takes its place.
  for (size_t step = 0; step < items.size(); ++step) {
    if (auto stop = budget.check_stop_periodic(step); !stop) return stop;
    if (step < k) {
      std::push_heap(items.begin(), items.begin() + static_cast<ptrdiff_t>(step) + 1, less);
    } else if (less(items[step], items.front())) {
      std::pop_heap(items.begin(), items.begin() + static_cast<ptrdiff_t>(k), less);
      std::swap(items[k - 1], items[step]);
      std::push_heap(items.begin(), items.begin() + static_cast<ptrdiff_t>(k), less);
    }
  }
  items.resize(k);
  std::sort_heap(items.begin(), items.end(), less);
  return {};
}

template <class T, class Less>
Result<void> sort_checked(std::span<T> items, Less less, const TerrainBudget& budget) {
  constexpr size_t kRun = 1024;
  const size_t n = items.size();
  uint64_t step = 0;
  for (size_t begin = 0; begin < n; begin += kRun, step += kRun) {
    if (auto stop = budget.check_stop_periodic(step); !stop) return stop;
    std::sort(items.begin() + static_cast<ptrdiff_t>(begin),
              items.begin() + static_cast<ptrdiff_t>(std::min(n, begin + kRun)), less);
  }
  if (n <= kRun) return {};
  std::vector<T> from(items.begin(), items.end());
  std::vector<T> to(n);
  for (size_t width = kRun; width < n; width *= 2) {
    size_t out = 0;
    for (size_t lo = 0; lo < n; lo += 2 * width) {
      const size_t mid = std::min(n, lo + width);
      const size_t hi = std::min(n, lo + 2 * width);
      size_t a = lo;
      size_t b = mid;
      while (a < mid || b < hi) {
        if (auto stop = budget.check_stop_periodic(step++); !stop) return stop;
        to[out++] = (b == hi || (a < mid && !less(from[b], from[a]))) ? from[a++] : from[b++];
      }
    }
    from.swap(to);
  }
  std::copy(from.begin(), from.end(), items.begin());
  return {};
}

// `groups[k]` (below `count`) is the group of values[k]. Afterwards group g's values are
// values[offsets[g], offsets[g + 1]), in their former order; returns the count + 1 offsets.
template <class T>
std::vector<uint32_t> group_stably(std::vector<T>& values, std::span<const uint32_t> groups, size_t count) {
  std::vector<uint32_t> offsets(count + 1, 0);
  for (const uint32_t g : groups) ++offsets[g + 1];
  for (size_t g = 1; g < offsets.size(); ++g) offsets[g] += offsets[g - 1];
  std::vector<T> grouped(values.size());
  std::vector<uint32_t> fill(offsets.begin(), offsets.end() - 1);
  for (size_t k = 0; k < values.size(); ++k) grouped[fill[groups[k]]++] = values[k];
  values.swap(grouped);
  return offsets;
}

}  // namespace brackwater::terrain
