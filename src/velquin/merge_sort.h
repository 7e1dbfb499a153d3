// A stable merge sort that stays within bounds whatever the comparison answers.
//
// Search ordering compares numbers and certainties as equal while ordering each family strictly
// within itself, so its comparison is not a strict weak order and std::sort / std::stable_sort
// would be undefined with it. This sort merges runs bottom-up: every index and bound follows from
// the run widths alone, and the comparison only picks which of two run heads moves next. The
// result is always a permutation of the input; an element moves ahead of an earlier one only when
// `before(later, earlier)` answers true, so elements the comparison does not separate keep their
// order. The stopping form asks `stop()` (a construct::Result<void>) before it starts and after
// every kSortStopStride elements moved, and ends with its error, leaving `items` a permutation of
// the input.
#pragma once

#include <algorithm>
#include <cstddef>
#include <utility>
#include <vector>

#include "construct/error.h"

namespace brackwater::velquin {

inline constexpr size_t kSortStopStride = size_t(1) << 14;

template <class T, class Before, class Stop>
construct::Result<void> stable_merge_sort(std::vector<T>& items, Before&& before, Stop&& stop) {
  const size_t n = items.size();
  if (n < 2) return {};
  std::vector<T> scratch(items);
  std::vector<T>* from = &items;
  std::vector<T>* to = &scratch;
  // `from` holds a whole permutation at every moment, so a stop leaves it in `items`.
  auto stopped = [&]() -> construct::Result<void> {
    auto r = stop();
    if (!r && from != &items) items = std::move(*from);
    return r;
  };
  if (auto r = stopped(); !r) return r;
  size_t budget = kSortStopStride;  // element moves left before the next stop check
  for (size_t width = 1; width < n; width *= 2) {
    for (size_t lo = 0; lo < n; lo += 2 * width) {
      const size_t mid = lo + width < n ? lo + width : n;
      const size_t hi = mid + width < n ? mid + width : n;
      size_t i = lo, j = mid, k = lo;
      while (k < hi) {
        if (budget == 0) {
          budget = kSortStopStride;
          if (auto r = stopped(); !r) return r;
        }
        // A bounded stretch of this merge.
        const size_t end = k + std::min(budget, hi - k);
        budget -= end - k;
        while (k < end) {
          if (i < mid && (j == hi || !before((*from)[j], (*from)[i]))) {
            (*to)[k++] = std::move((*from)[i++]);
          } else {
            (*to)[k++] = std::move((*from)[j++]);
          }
        }
      }
    }
    std::swap(from, to);
  }
  if (from != &items) items = std::move(*from);
  return {};
}

// Sorts `items` stably; `before(a, b)` answers whether `a` must come strictly before `b`.
template <class T, class Before>
void stable_merge_sort(std::vector<T>& items, Before&& before) {
  (void)stable_merge_sort(items, std::forward<Before>(before), [] { return construct::Result<void>(); });
}

}  // namespace brackwater::velquin
