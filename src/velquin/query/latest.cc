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

namespace brackwater::velquin::query {

namespace {

struct SetLatest {
  literal::TimeBound max_start;
  literal::TimeValue first_max;     // the first candidate time with start max_start
  bool other_max = false;           // a candidate time with that start is not identical to first_max
};

}  // namespace

std::vector<uint32_t> retain_latest_candidates(std::span<const construct::PositRef> candidates) {
  std::unordered_map<construct::AppearanceSetRef, SetLatest> sets;
  sets.reserve(candidates.size());
  for (const construct::PositRef p : candidates) {
    const literal::TimeBound start = p->appearance_time.bounds().first;
    auto [it, fresh] = sets.try_emplace(p->appearance_set, SetLatest{start, p->appearance_time});
    SetLatest& s = it->second;
    if (fresh) continue;
    if (start > s.max_start) {
      s = SetLatest{start, p->appearance_time};
    } else if (start == s.max_start && !s.other_max && !p->appearance_time.identical(s.first_max)) {
      s.other_max = true;
    }
  }
  std::vector<uint32_t> kept;
  kept.reserve(candidates.size());
  for (uint32_t i = 0; i < candidates.size(); ++i) {
    const literal::TimeValue& t = candidates[i]->appearance_time;
    const SetLatest& s = sets.find(candidates[i]->appearance_set)->second;
    const bool dropped = t.bounds().second <= s.max_start && (!t.identical(s.first_max) || s.other_max);
    if (!dropped) kept.push_back(i);
  }
  return kept;
}

}  // namespace brackwater::velquin::query
