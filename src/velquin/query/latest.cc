// The latest candidates of each appearance set in O(k) expected time (one pass to group, one to
// decide), with the answer of comparing every candidate with every other one.
//
// Candidate i is dropped when some other candidate j of its set has !identical(i, j) and
// end(i) <= start(j). Only the largest start of the set matters: when it is below end(i), nothing
// drops i; otherwise a candidate holding it drops i unless it is identical to i, which can only
// happen when i's span is empty (start = end, BOT or EOT). Then i is dropped exactly when another
// candidate with that largest start is not identical to it, so it is enough to remember the first
// candidate with the largest start and whether a non-identical one shares that start.
#include "velquin/query/latest.h"

#include <cstdint>
#include <optional>
#include <utility>

#include <boost/container/small_vector.hpp>

namespace brackwater::velquin::query {

namespace {

struct SetLatest {
  literal::TimeBound max_start;
  literal::TimeValue first_max;     // the first candidate time with start max_start
  bool other_max = false;           // a candidate time with that start is not identical to first_max
};

// Folds the next candidate of a set (in candidate order) into what is known of the set.
void fold(std::optional<SetLatest>& s, const construct::Posit& p) {
  const literal::TimeBound start = p.appearance_time.bounds().first;
  if (!s || start > s->max_start) {
    s = SetLatest{start, p.appearance_time};
  } else if (start == s->max_start && !s->other_max && !p.appearance_time.identical(s->first_max)) {
    s->other_max = true;
  }
}

bool is_dropped(const SetLatest& s, const construct::Posit& p) {
  const literal::TimeValue& t = p.appearance_time;
  return t.bounds().second <= s.max_start && (!t.identical(s.first_max) || s.other_max);
}

// Few candidates: their sets in a list searched in order.
constexpr size_t kListMax = 16;

void retain_latest_listed(std::span<const construct::PositRef> candidates, std::vector<uint32_t>& kept) {
  boost::container::small_vector<std::pair<construct::AppearanceSetRef, std::optional<SetLatest>>, kListMax> sets;
  auto of = [&sets](construct::AppearanceSetRef set) -> std::optional<SetLatest>& {
    for (auto& [ref, latest] : sets) {
      if (ref == set) return latest;
    }
    return sets.emplace_back(set, std::nullopt).second;
  };
  for (const construct::PositRef p : candidates) fold(of(p->appearance_set), *p);
  kept.clear();
  for (uint32_t i = 0; i < candidates.size(); ++i) {
    if (!is_dropped(*of(candidates[i]->appearance_set), *candidates[i])) kept.push_back(i);
  }
}

// Many candidates: their sets in an open-addressing table (linear probing, grown to stay at most
// half full) of positions into one list, so no allocation is made per set.
class SetTable {
 public:
  std::optional<SetLatest>& of(construct::AppearanceSetRef set) {
    size_t at = slot(set);
    if (table_[at] != kEmpty) return sets_[table_[at]].second;
    if (2 * (sets_.size() + 1) > table_.size()) {
      grow();
      at = slot(set);
    }
    table_[at] = static_cast<uint32_t>(sets_.size());
    return sets_.emplace_back(set, std::nullopt).second;
  }

 private:
  static constexpr uint32_t kEmpty = UINT32_MAX;

  // The slot holding `set`, or the empty slot where it would go.
  size_t slot(construct::AppearanceSetRef set) const {
    const size_t mask = table_.size() - 1;
    const uint64_t h = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(set)) * 0x9E3779B97F4A7C15ull;
    size_t at = static_cast<size_t>(h >> 32) & mask;
    while (table_[at] != kEmpty && sets_[table_[at]].first != set) at = (at + 1) & mask;
    return at;
  }

  void grow() {
    table_.assign(table_.size() * 2, kEmpty);
    for (uint32_t i = 0; i < sets_.size(); ++i) table_[slot(sets_[i].first)] = i;
  }

  std::vector<uint32_t> table_ = std::vector<uint32_t>(64, kEmpty);
  std::vector<std::pair<construct::AppearanceSetRef, std::optional<SetLatest>>> sets_;
};

void retain_latest_hashed(std::span<const construct::PositRef> candidates, std::vector<uint32_t>& kept) {
  SetTable sets;
  for (const construct::PositRef p : candidates) fold(sets.of(p->appearance_set), *p);
  kept.clear();
  kept.reserve(candidates.size());
  for (uint32_t i = 0; i < candidates.size(); ++i) {
    if (!is_dropped(*sets.of(candidates[i]->appearance_set), *candidates[i])) kept.push_back(i);
  }
}

}  // namespace

void retain_latest_candidates(std::span<const construct::PositRef> candidates, std::vector<uint32_t>& kept) {
  if (candidates.size() <= kListMax) {
    retain_latest_listed(candidates, kept);
  } else {
    retain_latest_hashed(candidates, kept);
  }
}

std::vector<uint32_t> retain_latest_candidates(std::span<const construct::PositRef> candidates) {
  std::vector<uint32_t> kept;
  retain_latest_candidates(candidates, kept);
  return kept;
}

}  // namespace brackwater::velquin::query
