// The first member of a sequence of times that is strictly later than a given time.
//
// "b is later than a" is TimeValue::ends_at_or_before_start(a, b): a's span ends at or before b's
// begins, and identical values are never later than each other. A finite value's span is never
// empty, so a member identical to the probe never starts at or after the probe's end; BOT (an empty
// span at minus infinity) is earlier than every other value and EOT later than every other value.
// The members are indexed once by their running maximum start, so each probe is a binary search and
// a group of k members costs O(k log k) however the pairwise scan over it would go.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "literal/time_value.h"

namespace brackwater::effect {

class FirstLater {
 public:
  void clear() {
    max_start_.clear();
    first_not_bot_.reset();
  }

  void push(const literal::TimeValue& t) {
    if (!first_not_bot_ && t.tag != literal::TimeTag::Bot) first_not_bot_ = max_start_.size();
    const literal::TimeBound start = t.bounds().first;
    max_start_.push_back(max_start_.empty() ? start : std::max(max_start_.back(), start));
  }

  size_t size() const { return max_start_.size(); }

  // The position of the first member later than `t`, or nothing.
  std::optional<size_t> find(const literal::TimeValue& t) const {
    if (t.tag == literal::TimeTag::Bot) return first_not_bot_;
    if (t.tag == literal::TimeTag::Eot) return std::nullopt;
    const literal::TimeBound end = t.bounds().second;
    auto it = std::lower_bound(max_start_.begin(), max_start_.end(), end);
    if (it == max_start_.end()) return std::nullopt;
    return static_cast<size_t>(it - max_start_.begin());
  }

  // How many pairwise comparisons a scan in member order makes for the member at `self` (which it
  // skips) before it meets the first later member, that one included.
  uint64_t scan_cost(size_t self, std::optional<size_t> first) const {
    if (!first) return size() - 1;
    return *first < self ? *first + 1 : *first;
  }

 private:
  std::vector<literal::TimeBound> max_start_;  // running maximum of the members' start bounds
  std::optional<size_t> first_not_bot_;
};

}  // namespace brackwater::effect
