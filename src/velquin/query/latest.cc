// The latest candidates of each appearance set in O(k log k) time (one sort to group, one pass to
// decide), with the answer of comparing every candidate with every other one.
//
// Candidate i is dropped when some other candidate j of its set has !identical(i, j) and
// end(i) <= start(j). Only the largest start of the set matters: when it is below end(i), nothing
// drops i; otherwise a candidate holding it drops i unless it is identical to i, which can only
// happen when i's span is empty (start = end, BOT or EOT). Then i is dropped exactly when another
// candidate with that largest start is not identical to it, so it is enough to remember the first
// candidate with the largest start and whether a non-identical one shares that start.
#include "velquin/query/latest.h"

#include <algorithm>
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

// Many candidates: grouped by set through one sort of their positions, each group in candidate
// order.
void retain_latest_sorted(std::span<const construct::PositRef> candidates, std::vector<uint32_t>& kept) {
  std::vector<std::pair<construct::AppearanceSetRef, uint32_t>> by_set;
  by_set.reserve(candidates.size());
  for (uint32_t i = 0; i < candidates.size(); ++i) by_set.emplace_back(candidates[i]->appearance_set, i);
  std::sort(by_set.begin(), by_set.end());
  std::vector<uint8_t> dropped(candidates.size(), 0);
  for (size_t lo = 0; lo < by_set.size();) {
    size_t hi = lo + 1;
    while (hi < by_set.size() && by_set[hi].first == by_set[lo].first) ++hi;
    std::optional<SetLatest> latest;
    for (size_t k = lo; k < hi; ++k) fold(latest, *candidates[by_set[k].second]);
    for (size_t k = lo; k < hi; ++k) dropped[by_set[k].second] = is_dropped(*latest, *candidates[by_set[k].second]);
    lo = hi;
  }
  kept.clear();
  kept.reserve(candidates.size());
  for (uint32_t i = 0; i < candidates.size(); ++i) {
    if (!dropped[i]) kept.push_back(i);
  }
}

}  // namespace

void retain_latest_candidates(std::span<const construct::PositRef> candidates, std::vector<uint32_t>& kept) {
  if (candidates.size() <= kListMax) {
    retain_latest_listed(candidates, kept);
  } else {
    retain_latest_sorted(candidates, kept);
  }
}

std::vector<uint32_t> retain_latest_candidates(std::span<const construct::PositRef> candidates) {
  std::vector<uint32_t> kept;
  retain_latest_candidates(candidates, kept);
  return kept;
}

}  // namespace brackwater::velquin::query
