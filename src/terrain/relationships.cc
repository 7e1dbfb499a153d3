#include "terrain/relationships.h"

#include <array>

#include "terrain/ids.h"
#include "terrain/projection.h"

namespace brackwater::terrain {

namespace {

struct Cell {
  uint64_t distinct_things = 0;
  uint64_t participations = 0;
};

struct RoleAccumulator {
  construct::IdentitySet things;
  RoleTotal total;
  std::array<Cell, 256> cells{};  // by profile mask (masks use at most 8 bits)
};

// Adds the members of the frame's sets with this signature, position by position.
Result<void> accumulate(std::span<const construct::AppearanceSetRef> sets, const Signature& signature,
                        const FrameStats& stats, size_t mask_count, const TerrainBudget& budget,
                        std::vector<RoleAccumulator>& roles) {
  PacedStop pace(budget);
  for (size_t step = 0; step < sets.size(); ++step) {
    const construct::MemberList& members = sets[step]->members;
    if (auto stop = pace.before(step, members.size()); !stop) return stop;
    for (size_t i = 0; i < members.size(); ++i) {
      const construct::Appearance& member = *members[i];
      if (i >= signature.size() || member.role->identity != signature[i]) {
        return fail(EngineError::internal("relationship signature omits Role " + decimal(member.role->identity)));
      }
      const std::optional<uint16_t> mask = stats.profile_masks.find(member.thing);
      if (!mask) return fail(EngineError::internal("relationship endpoint " + decimal(member.thing) + " has no profile"));
      if (*mask >= mask_count) {
        return fail(EngineError::internal("profile mask " + decimal(*mask) + " is outside projection"));
      }
      RoleAccumulator& role = roles[i];
      Cell& cell = role.cells[*mask];
      ++role.total.participations;
      ++cell.participations;
      if (role.things.addChecked(member.thing)) {
        ++role.total.distinct_things;
        ++cell.distinct_things;
      }
    }
  }
  return {};
}

Result<Relationship> build_relationship(const Signature& signature, const FrameStats& stats, size_t mask_count,
                                        const TerrainBudget& budget, uint64_t& allocation_total) {
  std::vector<RoleAccumulator> roles(signature.size());
  for (size_t i = 0; i < signature.size(); ++i) roles[i].total.role_id = decimal(signature[i]);
  Relationship out;
  out.signature_id = signature_id(signature);
  const SignatureTable& table = stats.signatures;
  if (const uint32_t found = table.find(signature, SignatureTable::hash(signature)); found != SignatureTable::kNone) {
    out.appearance_sets = table.set_count(found);
    out.posits = table.posits(found);
    if (auto added = accumulate(table.sets(found), signature, stats, mask_count, budget, roles); !added) {
      return fail(std::move(added.error()));
    }
  }

  for (size_t i = 0; i < roles.size(); ++i) {
    Cell sum;
    for (size_t mask = 0; mask < mask_count; ++mask) {
      const Cell& cell = roles[i].cells[mask];
      if (cell.participations == 0) continue;
      const auto m = static_cast<uint16_t>(mask);
      out.allocations.push_back(Allocation{allocation_id(signature, signature[i], m), roles[i].total.role_id,
                                           profile_id(m), m, m == 0 ? std::nullopt : std::optional(isopleth_id(m)),
                                           cell.distinct_things, cell.participations});
      sum.distinct_things += cell.distinct_things;
      sum.participations += cell.participations;
    }
    if (sum.distinct_things != roles[i].total.distinct_things ||
        sum.participations != roles[i].total.participations) {
      return fail(EngineError::internal("allocations do not reconcile for relationship Role " + roles[i].total.role_id));
    }
    out.role_totals.push_back(std::move(roles[i].total));
  }

  if (__builtin_add_overflow(allocation_total, out.allocations.size(), &allocation_total)) {
    return fail(EngineError::resource_limit("allocations", UINT64_MAX));
  }
  if (allocation_total > budget.allocations) return fail(EngineError::resource_limit("allocations", budget.allocations));
  return out;
}

}  // namespace

Result<TerrainFrame> build_terrain_frame(FrameScope scope, const FrameStats& stats,
                                         const std::vector<ProjectedRole>& projected,
                                         const std::vector<Signature>& signatures, const TerrainBudget& budget,
                                         uint64_t& allocation_total) {
  TerrainFrame frame;
  frame.scope = scope;
  frame.stats = stats.counts;
  frame.role_supports = build_role_supports(stats, projected);
  auto profiles = build_profiles(stats, projected, budget);
  if (!profiles) return fail(std::move(profiles.error()));
  frame.profiles = std::move(profiles->profiles);
  frame.isopleths = std::move(profiles->isopleths);

  const size_t mask_count = size_t{1} << projected.size();
  frame.relationships.reserve(signatures.size());
  for (size_t step = 0; step < signatures.size(); ++step) {
    if (auto stop = budget.check_stop_periodic(step); !stop) return fail(std::move(stop.error()));
    auto relationship = build_relationship(signatures[step], stats, mask_count, budget, allocation_total);
    if (!relationship) return fail(std::move(relationship.error()));
    frame.relationships.push_back(std::move(*relationship));
  }
  return frame;
}

}  // namespace brackwater::terrain
