#include "terrain/frames.h"

#include "construct/flat_table.h"
#include "construct/seahash.h"

namespace brackwater::terrain {

namespace {

using construct::AppearanceSetRef;
using literal::TimeBound;
using literal::TimeValue;

// The snapshot's entries grouped by set: the entries of set g are members[offsets[g]..offsets[g+1]),
// in entry order.
struct Grouping {
  std::vector<AppearanceSetRef> sets;
  std::vector<uint32_t> offsets;
  std::vector<uint32_t> members;
};

uint64_t set_hash(AppearanceSetRef set) { return construct::seahash_u64(reinterpret_cast<uintptr_t>(set)); }

// Catalog sets are interned, so a handle names its set.
Result<Grouping> group_entries(const std::vector<SnapshotEntry>& entries, const TerrainBudget& budget) {
  struct Slot {
    AppearanceSetRef set = nullptr;
    uint32_t group = 0;
  };
  construct::FlatTable<Slot> groups;
  Grouping out;
  std::vector<uint32_t> group_of(entries.size());
  std::vector<uint32_t> sizes;
  AppearanceSetRef last_set = nullptr;
  uint32_t last_group = 0;
  for (size_t i = 0; i < entries.size(); ++i) {
    if (auto stop = budget.check_stop_periodic(i); !stop) return fail(std::move(stop.error()));
    const AppearanceSetRef set = entries[i].appearance_set;
    if (set != last_set || i == 0) {
      const uint64_t h = set_hash(set);
      if (const Slot* slot = groups.find(h, [set](const Slot& s) { return s.set == set; })) {
        last_group = slot->group;
      } else {
        last_group = static_cast<uint32_t>(out.sets.size());
        groups.insert_new(h, Slot{set, last_group});
        out.sets.push_back(set);
        sizes.push_back(0);
      }
      last_set = set;
    }
    group_of[i] = last_group;
    ++sizes[last_group];
  }
  out.offsets.resize(out.sets.size() + 1);
  for (size_t g = 0; g < sizes.size(); ++g) out.offsets[g + 1] = out.offsets[g] + sizes[g];
  out.members.resize(entries.size());
  std::vector<uint32_t>& next = sizes;  // reused as the fill position of each group
  for (size_t g = 0; g < next.size(); ++g) next[g] = out.offsets[g];
  for (size_t i = 0; i < entries.size(); ++i) out.members[next[group_of[i]]++] = static_cast<uint32_t>(i);
  return out;
}

struct Candidate {
  TimeValue time;
  TimeBound start;
  TimeBound end;
};

// The number of the group's entries that stay current.
Result<uint32_t> select_current(const std::vector<SnapshotEntry>& entries, std::span<const uint32_t> group,
                                const TimeValue& as_of, TerrainBudget& budget, std::vector<Candidate>& candidates) {
  candidates.clear();
  for (const uint32_t i : group) {
    if (auto counted = budget.count_temporal_comparison(); !counted) return fail(std::move(counted.error()));
    const TimeValue& time = entries[i].time;
    if (TimeValue::is_at_or_before(time, as_of)) {
      auto [start, end] = time.bounds();
      candidates.push_back(Candidate{time, start, end});
    }
  }
  uint32_t kept = 0;
  for (size_t i = 0; i < candidates.size(); ++i) {
    bool later_exists = false;
    for (size_t j = 0; j < candidates.size() && !later_exists; ++j) {
      if (j == i) continue;
      if (auto counted = budget.count_temporal_comparison(); !counted) return fail(std::move(counted.error()));
      // ends_at_or_before_start(i, j) over the precomputed bounds
      later_exists = !candidates[i].time.identical(candidates[j].time) && candidates[i].end <= candidates[j].start;
    }
    if (!later_exists) ++kept;
  }
  return kept;
}

}  // namespace

Result<FrameSets> select_frames(std::vector<SnapshotEntry> entries, const TimeValue& as_of, TerrainBudget& budget) {
  auto grouping = group_entries(entries, budget);
  if (!grouping) return fail(std::move(grouping.error()));
  const size_t groups = grouping->sets.size();
  if (groups > budget.active_appearance_sets) {
    return fail(EngineError::resource_limit("active appearance sets", budget.active_appearance_sets));
  }

  FrameSets out;
  out.history_posits.resize(groups);
  out.current_posits.resize(groups);
  std::vector<Candidate> candidates;
  for (size_t g = 0; g < groups; ++g) {
    if (auto stop = budget.check_stop(); !stop) return fail(std::move(stop.error()));
    const uint32_t begin = grouping->offsets[g];
    const uint32_t end = grouping->offsets[g + 1];
    auto kept = select_current(entries, std::span(grouping->members).subspan(begin, end - begin), as_of, budget,
                               candidates);
    if (!kept) return fail(std::move(kept.error()));
    out.history_posits[g] = end - begin;
    out.current_posits[g] = *kept;
  }
  out.sets = std::move(grouping->sets);
  return out;
}

}  // namespace brackwater::terrain
