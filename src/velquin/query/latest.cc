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

#include <unordered_map>
#include <utility>

#include <boost/container/small_vector.hpp>

namespace brackwater::velquin::query {

namespace {

struct SetLatest {
  literal::TimeBound max_start;
  literal::TimeValue first_max;     // the first candidate time with start max_start
  bool other_max = false;           // a candidate time with that start is not identical to first_max
};

// `sets.entry(set, first)` is the SetLatest of `set`, made from `first` when the set is new (with
// true).
template <class Sets>
void retain_latest_in(std::span<const construct::PositRef> candidates, Sets& sets, std::vector<uint32_t>& kept) {
  for (const construct::PositRef p : candidates) {
    const literal::TimeBound start = p->appearance_time.bounds().first;
    auto [s, fresh] = sets.entry(p->appearance_set, SetLatest{start, p->appearance_time});
    if (fresh) continue;
    if (start > s->max_start) {
      *s = SetLatest{start, p->appearance_time};
    } else if (start == s->max_start && !s->other_max && !p->appearance_time.identical(s->first_max)) {
      s->other_max = true;
    }
  }
  kept.clear();
  kept.reserve(candidates.size());
  for (uint32_t i = 0; i < candidates.size(); ++i) {
    const literal::TimeValue& t = candidates[i]->appearance_time;
    const SetLatest& s = *sets.find(candidates[i]->appearance_set);
    const bool dropped = t.bounds().second <= s.max_start && (!t.identical(s.first_max) || s.other_max);
    if (!dropped) kept.push_back(i);
  }
}

// Few candidates: the sets in a list searched in order.
constexpr size_t kListMax = 16;
struct SetList {
  boost::container::small_vector<std::pair<construct::AppearanceSetRef, SetLatest>, kListMax> sets;

  std::pair<SetLatest*, bool> entry(construct::AppearanceSetRef set, const SetLatest& first) {
    if (SetLatest* s = find(set)) return {s, false};
    sets.emplace_back(set, first);
    return {&sets.back().second, true};
  }
  SetLatest* find(construct::AppearanceSetRef set) {
    for (auto& [ref, latest] : sets) {
      if (ref == set) return &latest;
    }
    return nullptr;
  }
};

struct SetTable {
  std::unordered_map<construct::AppearanceSetRef, SetLatest> sets;

  std::pair<SetLatest*, bool> entry(construct::AppearanceSetRef set, const SetLatest& first) {
    auto [it, fresh] = sets.try_emplace(set, first);
    return {&it->second, fresh};
  }
  SetLatest* find(construct::AppearanceSetRef set) { return &sets.find(set)->second; }
};

}  // namespace

void retain_latest_candidates(std::span<const construct::PositRef> candidates, std::vector<uint32_t>& kept) {
  if (candidates.size() <= kListMax) {
    SetList sets;
    retain_latest_in(candidates, sets, kept);
    return;
  }
  SetTable sets;
  sets.sets.reserve(candidates.size());
  retain_latest_in(candidates, sets, kept);
}

std::vector<uint32_t> retain_latest_candidates(std::span<const construct::PositRef> candidates) {
  std::vector<uint32_t> kept;
  retain_latest_candidates(candidates, kept);
  return kept;
}

}  // namespace brackwater::velquin::query
