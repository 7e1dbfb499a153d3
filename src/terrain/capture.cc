#include "terrain/capture.h"

#include "construct/database_lock.h"
#include "construct/engine_reads.h"

namespace brackwater::terrain {

namespace {

EngineError mismatched_indexes() {
  return EngineError::internal("Terrain capture found mismatched posit reverse indexes");
}

Result<void> copy_entries(construct::Engine& engine, const TerrainBudget& budget, TerrainSnapshot& out) {
  out.entries.reserve(out.counts.posits);
  uint64_t step = 0;
  auto consistent = construct::reads::visit_posit_entries(
      engine, out.counts.posits,
      [&](construct::Identity posit, construct::AppearanceSetRef set, const literal::TimeValue* time) -> Result<void> {
        if (auto stop = budget.check_stop_periodic(step++); !stop) return stop;
        if (time == nullptr) return fail(mismatched_indexes());
        out.entries.push_back(SnapshotEntry{*time, set, posit});
        return {};
      });
  if (!consistent) return fail(std::move(consistent.error()));
  if (!*consistent) return fail(mismatched_indexes());
  return {};
}

// Reads one count, then asks the stop check.
Result<uint64_t> count_then_check(Result<uint64_t> count, const TerrainBudget& budget) {
  if (!count) return count;
  if (auto stop = budget.check_stop(); !stop) return fail(std::move(stop.error()));
  return count;
}

}  // namespace

Result<TerrainSnapshot> capture_snapshot(construct::Engine& engine, const TerrainBudget& budget) {
  auto guard = construct::lock_database_cancellable(engine.database_lock(), *budget.cancel, budget.deadline);
  if (!guard) return fail(std::move(guard.error()));
  TerrainSnapshot out;

  auto identities = count_then_check(construct::reads::identity_pool_size(engine), budget);
  if (!identities) return fail(std::move(identities.error()));
  out.counts.referenced_things = *identities;

  auto roles = construct::reads::roles_by_identity(engine);
  if (!roles) return fail(std::move(roles.error()));
  out.counts.roles = roles->size();
  out.role_names = RoleNames(std::move(*roles));
  if (auto stop = budget.check_stop(); !stop) return fail(std::move(stop.error()));

  auto appearances = count_then_check(construct::reads::appearance_count(engine), budget);
  if (!appearances) return fail(std::move(appearances.error()));
  out.counts.appearances = *appearances;

  auto sets = count_then_check(construct::reads::appearance_set_count(engine), budget);
  if (!sets) return fail(std::move(sets.error()));
  out.counts.appearance_sets = *sets;

  auto posits = construct::reads::posit_count(engine);
  if (!posits) return fail(std::move(posits.error()));
  out.counts.posits = *posits;
  if (*posits > budget.posits_scanned) {
    return fail(EngineError::resource_limit("posits scanned", budget.posits_scanned));
  }
  if (auto stop = budget.check_stop(); !stop) return fail(std::move(stop.error()));

  if (auto copied = copy_entries(engine, budget, out); !copied) return fail(std::move(copied.error()));
  if (auto stop = budget.check_stop(); !stop) return fail(std::move(stop.error()));
  return out;
}

}  // namespace brackwater::terrain
