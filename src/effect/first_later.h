// The first member of a sequence of times that is strictly later than a given time.
//
// "b is later than a" is TimeValue::ends_at_or_before_start(a, b): a's span ends at or before b's
// begins, and identical values are never later than each other. A finite value's span is never
// empty, so a member identical to the probe never starts at or after the probe's end; BOT (an empty
// span at minus infinity) is earlier than every other value and EOT later than every other value.
// The members are indexed once by their running maximum start, so each probe is a binary search and
// a group of k members costs O(k log k) however the pairwise scan over it would go. One index holds
// any number of sequences side by side (numbered from 0 in the order they are started).
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
    sequences_.clear();
  }
  void reserve(size_t members, size_t sequences) {
    max_start_.reserve(members);
    sequences_.reserve(sequences);
  }

  // Starts a new, empty sequence; later pushes go to it.
  void start_sequence() { sequences_.push_back(Sequence{max_start_.size(), 0, kNone}); }

  void push(const literal::TimeValue& t) {
    Sequence& seq = sequences_.back();
    if (seq.first_not_bot == kNone && t.tag != literal::TimeTag::Bot) seq.first_not_bot = seq.size;
    const literal::TimeBound start = t.bounds().first;
    max_start_.push_back(seq.size == 0 ? start : std::max(max_start_.back(), start));
    ++seq.size;
  }

  size_t size(size_t seq) const { return sequences_[seq].size; }

  // The position in sequence `seq` of its first member later than `t`, or nothing.
  std::optional<size_t> find(size_t seq, const literal::TimeValue& t) const {
    const Sequence& s = sequences_[seq];
    if (t.tag == literal::TimeTag::Bot) {
      return s.first_not_bot == kNone ? std::nullopt : std::optional<size_t>(s.first_not_bot);
    }
    if (t.tag == literal::TimeTag::Eot) return std::nullopt;
    const auto begin = max_start_.begin() + static_cast<std::ptrdiff_t>(s.offset);
    const auto end = begin + static_cast<std::ptrdiff_t>(s.size);
    auto it = std::lower_bound(begin, end, t.bounds().second);
    if (it == end) return std::nullopt;
    return static_cast<size_t>(it - begin);
  }

  // How many pairwise comparisons a scan of sequence `seq` in member order makes for its member at
  // `self` (which it skips) before it meets the first later member, that one included.
  uint64_t scan_cost(size_t seq, size_t self, std::optional<size_t> first) const {
    if (!first) return size(seq) - 1;
    return *first < self ? *first + 1 : *first;
  }

 private:
  static constexpr size_t kNone = SIZE_MAX;
  struct Sequence {
    size_t offset;  // of its first member in max_start_
    size_t size;
    size_t first_not_bot;  // kNone when every member is BOT
  };

  std::vector<literal::TimeBound> max_start_;  // per sequence: running maximum of its members' starts
  std::vector<Sequence> sequences_;
};

}  // namespace brackwater::effect
