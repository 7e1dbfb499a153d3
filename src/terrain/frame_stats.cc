#include "terrain/frame_stats.h"

#include <vector>

#include "construct/background_release.h"
#include "terrain/ordering.h"
#include "terrain/role_numbers.h"

namespace brackwater::terrain {

namespace {

using construct::AppearanceSetRef;

// Statistics of at least this many sets are freed off the calling thread.
constexpr uint64_t kReleaseLaterSets = 16384;

EngineError counter_overflow(std::string_view name) { return EngineError::resource_limit(name, UINT64_MAX); }

// Walks the sets `order` names (indexes into sets/posits).
Result<FrameStatsPtr> walk(std::span<const AppearanceSetRef> sets, std::span<const uint32_t> posits,
                           std::span<const uint32_t> order, const TerrainBudget& budget) {
  const uint64_t arity_bound = budget.relationship_arity == 0 ? 1 : budget.relationship_arity;
  FrameStatsPtr out(new FrameStats);
  FrameCounts& counts = out->counts;
  counts.appearance_sets = order.size();
  RoleNumbers roles;  // the distinct Roles of the members, to be counted
  std::vector<uint64_t> key;
  PacedStop pace(budget);
  for (size_t step = 0; step < order.size(); ++step) {
    const construct::AppearanceSet& set = *sets[order[step]];
    const uint64_t m = set.members.size();
    if (auto stop = pace.before(step, m); !stop) return fail(std::move(stop.error()));
    const uint64_t c = posits[order[step]];
    if (m > arity_bound) return fail(EngineError::resource_limit("relationship arity", budget.relationship_arity));
    uint64_t incidences = 0;
    if (__builtin_mul_overflow(m, c, &incidences) ||
        __builtin_add_overflow(counts.incidences, incidences, &counts.incidences)) {
      return fail(counter_overflow("frame incidences"));
    }
    for (const construct::AppearanceRef member : set.members) {
      if (out->endpoint_bitmap.addChecked(member->thing)) ++counts.endpoint_things;
    }
    if (counts.endpoint_things > budget.endpoint_things) {
      return fail(EngineError::resource_limit("endpoint Things", budget.endpoint_things));
    }
    if (m == 1) {
      const construct::Appearance& member = *set.members[0];
      if (out->attributes.add(member.role->identity, member.thing)) roles.number(member.role->identity);
    } else if (m > 1) {
      key.clear();
      for (const construct::AppearanceRef member : set.members) key.push_back(member->role->identity);
      const SignatureTable::Added added = out->signatures.add(key, SignatureTable::hash(key), &set, c);
      if (!added.ok) return fail(counter_overflow("relationship posits"));
      if (added.is_new) {
        for (const uint64_t role : key) roles.number(role);
      }
    }
  }
  // Every member Role is an attribute Role or part of a signature.
  counts.roles = roles.size();
  out->signatures.finish();
  if (auto finished = out->attributes.finish(budget); !finished) return fail(std::move(finished.error()));
  return out;
}

}  // namespace

void FrameStatsRelease::operator()(FrameStats* stats) const {
  std::unique_ptr<FrameStats> owned(stats);
  if (owned != nullptr && owned->counts.appearance_sets >= kReleaseLaterSets) construct::destroy_later(std::move(owned));
}

Result<FrameStatsPtr> collect_frame_stats(std::span<const AppearanceSetRef> sets, std::span<const uint32_t> posits,
                                          const TerrainBudget& budget) {
  std::vector<uint32_t> order;
  uint64_t frame_posits = 0;
  for (size_t i = 0; i < sets.size(); ++i) {
    if (posits[i] == 0) continue;
    order.push_back(static_cast<uint32_t>(i));
    frame_posits += posits[i];
  }
  if (order.size() > budget.active_appearance_sets) {
    return fail(EngineError::resource_limit("active appearance sets", budget.active_appearance_sets));
  }
  auto stats = walk(sets, posits, order, budget);
  if (!stats && stats.error().kind() == construct::ErrorKind::ResourceLimit) {
    auto in_set_order = [&sets](uint32_t a, uint32_t b) {
      const int c = construct::compare_members(*sets[a], *sets[b]);
      return c != 0 ? c < 0 : a < b;
    };
    if (auto sorted = sort_checked(std::span(order), in_set_order, budget); !sorted) return fail(std::move(sorted.error()));
    stats = walk(sets, posits, order, budget);
  }
  if (stats) (*stats)->counts.posits = frame_posits;
  return stats;
}

}  // namespace brackwater::terrain
