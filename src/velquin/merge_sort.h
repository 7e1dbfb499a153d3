// A stable merge sort that stays within bounds whatever the comparison answers.
//
// Search ordering compares numbers and certainties as equal while ordering each family strictly
// within itself, so its comparison is not a strict weak order and std::sort / std::stable_sort
// would be undefined with it. This sort merges runs bottom-up: every index and bound follows from
// the run widths alone, and the comparison only picks which of two run heads moves next. The
// result is always a permutation of the input; an element moves ahead of an earlier one only when
// `before(later, earlier)` answers true, so elements the comparison does not separate keep their
// order. The budgeted form charges its scratch copy to the budget before it makes it, counts
// `units` of work for every element moved (a move follows one comparison: `units` is what one
// comparison costs), and, failing or stopped, ends with the error, leaving `items` a permutation of
// the input.
#pragma once

#include <algorithm>
#include <cstddef>
#include <utility>
#include <vector>

#include "construct/budget.h"
#include "construct/error.h"

namespace brackwater::velquin {

template <class T, class Before>
construct::Result<void> stable_merge_sort(std::vector<T>& items, Before&& before, construct::Budget& budget,
                                          uint64_t units = 1) {
  const size_t n = items.size();
  if (n < 2) return {};
  construct::Charge charge(&budget);
  if (auto r = charge.hold(construct::bytes_for(n, sizeof(T))); !r) return r;
  std::vector<T> scratch(items);
  std::vector<T>* from = &items;
  std::vector<T>* to = &scratch;
  // `from` holds a whole permutation at every moment, so a stop leaves it in `items`.
  auto stopped = [&](size_t moves) -> construct::Result<void> {
    auto r = budget.work(construct::bytes_for(moves, units));
    if (!r && from != &items) items = std::move(*from);
    return r;
  };
  // Merges go in stretches of this many moves, each counted before it is made.
  constexpr size_t kStretch = size_t(1) << 10;
  for (size_t width = 1; width < n; width *= 2) {
    for (size_t lo = 0; lo < n; lo += 2 * width) {
      const size_t mid = lo + width < n ? lo + width : n;
      const size_t hi = mid + width < n ? mid + width : n;
      size_t i = lo, j = mid, k = lo;
      while (k < hi) {
        const size_t end = k + std::min(kStretch, hi - k);
        if (auto r = stopped(end - k); !r) return r;
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
  construct::Budget unbounded(construct::StopCondition{}, UINT64_MAX);
  (void)stable_merge_sort(items, std::forward<Before>(before), unbounded);
}

}  // namespace brackwater::velquin
