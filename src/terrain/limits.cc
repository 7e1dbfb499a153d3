#include "terrain/limits.h"

#include <string_view>

namespace brackwater::terrain {

Result<TerrainBudget> TerrainLimits::validate() const {
  struct Check {
    uint64_t value;
    uint64_t maximum;
    std::string_view name;
  };
  const Check checks[] = {
      {posits_scanned, kMaxPositsScanned, "posits scanned"},
      {active_appearance_sets, kMaxActiveAppearanceSets, "active appearance sets"},
      {endpoint_things, kMaxEndpointThings, "endpoint Things"},
      {temporal_comparisons, kMaxTemporalComparisons, "temporal comparisons"},
      {relationship_arity, kMaxRelationshipArity, "relationship arity"},
      {allocations, kMaxAllocations, "allocations"},
      {projected_role_limit, kMaxProjectedRoles, "projected attribute Roles"},
      {max_relationship_signatures, kMaxRelationshipSignatures, "relationship signatures"},
  };
  for (const Check& check : checks) {
    if (check.value > check.maximum) return fail(EngineError::resource_limit(check.name, check.maximum));
  }
  TerrainBudget budget;
  if (timeout) {
    budget.deadline = construct::Deadline::after(*timeout);
    if (!budget.deadline) return fail(EngineError::execution("Terrain timeout is too large"));
  }
  budget.cancel = cancel ? cancel : construct::make_cancel_flag();
  budget.posits_scanned = posits_scanned;
  budget.active_appearance_sets = active_appearance_sets;
  budget.endpoint_things = endpoint_things;
  budget.temporal_comparisons = temporal_comparisons;
  budget.relationship_arity = relationship_arity;
  budget.allocations = allocations;
  return budget;
}

}  // namespace brackwater::terrain
