// A map from identities to ordinals (positions in an append-only sequence), compact for the way
// identities are issued.
//
// Identities are drawn in increasing order, so a map usually receives them in increasing order
// with consecutive ordinals. Such runs are stored as segments: a bitmap of the identities present
// from the segment's first identity on, with a running count per 64-bit word, so an entry costs a
// fraction of a byte and a lookup is a bit test and a population count. An identity that arrives
// out of order, far beyond its segment, or with a non-consecutive ordinal opens a new segment or
// (out of order, or re-mapped) goes to a hash table, which lookups consult first.
#pragma once

#include <algorithm>
#include <bit>
#include <cstdint>
#include <vector>

#include "construct/flat_table.h"
#include "construct/identity.h"
#include "construct/seahash.h"
#include "construct/stable_arena.h"

namespace brackwater::construct {

class IdOrdinalMap {
 public:
  size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  size_t memory_bytes() const {
    size_t bytes = block_footprint(segments_.capacity() * sizeof(Segment)) + extra_.memory_bytes();
    for (const Segment& s : segments_) {
      bytes += block_footprint(s.words.capacity() * sizeof(uint64_t)) + block_footprint(s.ranks.capacity() * sizeof(uint32_t));
    }
    return bytes;
  }

  // Maps `id` to `ordinal`, replacing an earlier mapping of `id`.
  void insert(Identity id, uint32_t ordinal) {
    if (Extra* extra = find_extra(id)) {
      extra->ordinal = ordinal;
      return;
    }
    if (!segments_.empty() && id <= last_) {
      // Out of order: a new entry, or a replacement that shadows the segment's bit.
      if (find_in_segments(id) == kNoOrdinal) ++size_;
      extra_.insert_new(seahash_u64(id), Extra{id, ordinal});
      return;
    }
    ++size_;
    last_ = id;
    if (!segments_.empty()) {
      Segment& s = segments_.back();
      if (ordinal == s.first + s.count && id - s.base < 64 * (2 * uint64_t(s.count) + kSlackWords)) {
        s.add(id - s.base);
        return;
      }
    }
    segments_.push_back(Segment{id, ordinal, 0, {}, {}});
    segments_.back().add(0);
  }

  // The ordinal of `id`, or kNoOrdinal.
  uint32_t find(Identity id) const {
    if (!extra_.empty()) {
      if (const Extra* extra = const_cast<IdOrdinalMap*>(this)->find_extra(id)) return extra->ordinal;
    }
    return find_in_segments(id);
  }

  // Visits (identity, ordinal) in ascending identity order.
  template <class F>
  void for_each(F&& f) const {
    visit_while([&f](Identity id, uint32_t ordinal) {
      f(id, ordinal);
      return true;
    });
  }

  // Visits (identity, ordinal) in ascending identity order while `f` returns true; false when `f`
  // stopped the walk.
  template <class F>
  bool visit_while(F&& f) const {
    std::vector<Extra> extras;
    extras.reserve(extra_.size());
    extra_.for_each([&extras](const Extra& e) { extras.push_back(e); });
    std::sort(extras.begin(), extras.end(), [](const Extra& a, const Extra& b) { return a.id < b.id; });
    size_t next = 0;
    for (const Segment& s : segments_) {
      uint32_t ordinal = s.first;
      for (size_t w = 0; w < s.words.size(); ++w) {
        for (uint64_t bits = s.words[w]; bits != 0; bits &= bits - 1) {
          const Identity id = s.base + 64 * w + unsigned(std::countr_zero(bits));
          for (; next < extras.size() && extras[next].id < id; ++next) {
            if (!f(extras[next].id, extras[next].ordinal)) return false;
          }
          if (next < extras.size() && extras[next].id == id) {
            if (!f(id, extras[next++].ordinal)) return false;  // replaced
          } else if (!f(id, ordinal)) {
            return false;
          }
          ++ordinal;
        }
      }
    }
    for (; next < extras.size(); ++next) {
      if (!f(extras[next].id, extras[next].ordinal)) return false;
    }
    return true;
  }

 private:
  static constexpr uint64_t kSlackWords = 1024;  // a gap of up to 65,536 identities stays in a segment

  struct Segment {
    Identity base;   // the segment's first identity
    uint32_t first;  // its ordinal; the k-th identity of the segment has ordinal first + k
    uint32_t count;
    std::vector<uint64_t, BlockAllocator<uint64_t>> words;  // bit i: identity base + i is present
    std::vector<uint32_t, BlockAllocator<uint32_t>> ranks;  // entries in the words before each word

    void add(uint64_t offset) {
      const size_t w = offset / 64;
      while (words.size() <= w) {
        words.push_back(0);
        ranks.push_back(count);
      }
      words[w] |= uint64_t(1) << (offset % 64);
      ++count;
    }
  };
  struct Extra {
    Identity id = 0;
    uint32_t ordinal = 0;
  };

  Extra* find_extra(Identity id) {
    if (extra_.empty()) return nullptr;
    return extra_.find(seahash_u64(id), [id](const Extra& e) { return e.id == id; });
  }

  uint32_t find_in_segments(Identity id) const {
    if (segments_.empty() || id < segments_.front().base) return kNoOrdinal;
    const Segment* s = &segments_.back();
    if (id < s->base) {
      auto it = std::upper_bound(segments_.begin(), segments_.end(), id,
                                 [](Identity v, const Segment& seg) { return v < seg.base; });
      s = &*(it - 1);
    }
    const uint64_t offset = id - s->base;
    const uint64_t w = offset / 64;
    if (w >= s->words.size()) return kNoOrdinal;
    const uint64_t word = s->words[w];
    const uint64_t bit = uint64_t(1) << (offset % 64);
    if ((word & bit) == 0) return kNoOrdinal;
    return s->first + s->ranks[w] + unsigned(std::popcount(word & (bit - 1)));
  }

  std::vector<Segment> segments_;
  Identity last_ = 0;  // the largest identity in the segments
  FlatTable<Extra> extra_;
  size_t size_ = 0;
};

}  // namespace brackwater::construct
