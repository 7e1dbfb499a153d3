#include "terrain/frame_stats.h"

namespace brackwater::terrain {

namespace {

using construct::AppearanceSetRef;

EngineError counter_overflow(std::string_view name) { return EngineError::resource_limit(name, UINT64_MAX); }

// Walks the sets `order` names (indexes into sets/posits).
Result<FrameStats> walk(std::span<const AppearanceSetRef> sets, std::span<const uint32_t> posits,
                        std::span<const uint32_t> order, const TerrainBudget& budget) {
  const uint64_t arity_bound = budget.relationship_arity == 0 ? 1 : budget.relationship_arity;
  FrameStats out;
  FrameCounts& counts = out.counts;
  counts.appearance_sets = order.size();
  Signature key;
  construct::IdentitySet* last_attribute = nullptr;
  construct::Identity last_attribute_role = 0;
  for (size_t step = 0; step < order.size(); ++step) {
    if (auto stop = budget.check_stop_periodic(step); !stop) return fail(std::move(stop.error()));
    const construct::AppearanceSet& set = *sets[order[step]];
    const uint64_t c = posits[order[step]];
    const uint64_t m = set.members.size();
    if (m > arity_bound) return fail(EngineError::resource_limit("relationship arity", budget.relationship_arity));
    uint64_t incidences = 0;
    if (__builtin_mul_overflow(m, c, &incidences) ||
        __builtin_add_overflow(counts.incidences, incidences, &counts.incidences)) {
      return fail(counter_overflow("frame incidences"));
    }
    for (const construct::AppearanceRef member : set.members) {
      if (out.endpoint_bitmap.addChecked(member->thing)) ++counts.endpoint_things;
    }
    if (counts.endpoint_things > budget.endpoint_things) {
      return fail(EngineError::resource_limit("endpoint Things", budget.endpoint_things));
    }
    if (m == 1) {
      const construct::Appearance& member = *set.members[0];
      if (last_attribute == nullptr || member.role->identity != last_attribute_role) {
        last_attribute_role = member.role->identity;
        last_attribute = &out.attribute_map[last_attribute_role];
      }
      last_attribute->add(member.thing);
    } else if (m > 1) {
      key.clear();
      for (const construct::AppearanceRef member : set.members) key.push_back(member->role->identity);
      auto it = out.signature_map.find(std::span<const uint64_t>(key));
      if (it == out.signature_map.end()) it = out.signature_map.emplace(key, RelationshipCounts{}).first;
      if (__builtin_add_overflow(it->second.posits, c, &it->second.posits)) {
        return fail(counter_overflow("relationship posits"));
      }
      it->second.sets.push_back(&set);
    }
  }
  // Every member Role is an attribute Role or part of a signature.
  construct::IdentitySet roles;
  for (const auto& [role, things] : out.attribute_map) roles.add(role);
  for (const auto& [signature, relationship] : out.signature_map) roles.addMany(signature.size(), signature.data());
  counts.roles = roles.cardinality();
  return out;
}

}  // namespace

Result<FrameStats> collect_frame_stats(std::span<const AppearanceSetRef> sets, std::span<const uint32_t> posits,
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
    std::sort(order.begin(), order.end(),
              [&sets](uint32_t a, uint32_t b) { return construct::compare_members(*sets[a], *sets[b]) < 0; });
    stats = walk(sets, posits, order, budget);
  }
  if (stats) stats->counts.posits = frame_posits;
  return stats;
}

}  // namespace brackwater::terrain
