#include "terrain/capture.h"

#include "construct/database_lock.h"
#include "construct/engine_state.h"

namespace brackwater::terrain {

namespace {

// Reads one component under its own lock.
template <class T, class Read>
auto read_component(construct::PoisonMutex<T>& mutex, Read&& read) -> Result<decltype(read(std::declval<T&>()))> {
  auto guard = mutex.lock();
  if (!guard) return fail(std::move(guard.error()));
  return read(**guard);
}

EngineError mismatched_indexes() {
  return EngineError::internal("Terrain capture found mismatched posit reverse indexes");
}

Result<void> copy_entries(construct::EngineState& state, const TerrainBudget& budget, TerrainSnapshot& out) {
  auto sets = state.posit_appearance_sets.lock();
  if (!sets) return fail(std::move(sets.error()));
  auto times = state.posit_times.lock();
  if (!times) return fail(std::move(times.error()));
  const uint64_t posits = out.counts.posits;
  if ((*sets)->size() != posits || (*times)->size() != posits) return fail(mismatched_indexes());

  out.entries.reserve(posits);
  const construct::PositTimeIndex& time_index = **times;
  std::optional<EngineError> error;
  uint64_t step = 0;
  (*sets)->visit_while([&](construct::Identity posit, construct::AppearanceSetRef set) {
    if (auto stop = budget.check_stop_periodic(step++); !stop) {
      error = std::move(stop.error());
      return false;
    }
    std::optional<literal::TimeValue> time = time_index.find(posit);
    if (!time) {
      error = mismatched_indexes();
      return false;
    }
    out.entries.push_back(SnapshotEntry{*time, set, posit});
    return true;
  });
  if (error) return fail(std::move(*error));
  return {};
}

}  // namespace

Result<TerrainSnapshot> capture_snapshot(construct::Engine& engine, const TerrainBudget& budget) {
  auto guard = construct::lock_database_cancellable(engine.database_lock(), *budget.cancel, budget.deadline);
  if (!guard) return fail(std::move(guard.error()));
  construct::EngineState& state = engine.state();
  TerrainSnapshot out;

  auto identities = read_component(state.identities, [](const construct::IdentityPool& p) { return p.size(); });
  if (!identities) return fail(std::move(identities.error()));
  out.counts.referenced_things = *identities;
  if (auto stop = budget.check_stop(); !stop) return fail(std::move(stop.error()));

  auto roles = read_component(state.roles, [](const construct::RoleCatalog& c) { return c.roles_by_identity(); });
  if (!roles) return fail(std::move(roles.error()));
  out.counts.roles = roles->size();
  out.role_names = RoleNames(std::move(*roles));
  if (auto stop = budget.check_stop(); !stop) return fail(std::move(stop.error()));

  auto appearances =
      read_component(state.appearances, [](const construct::AppearanceCatalog& c) { return uint64_t(c.size()); });
  if (!appearances) return fail(std::move(appearances.error()));
  out.counts.appearances = *appearances;
  if (auto stop = budget.check_stop(); !stop) return fail(std::move(stop.error()));

  auto sets = read_component(state.appearance_sets,
                             [](const construct::AppearanceSetCatalog& c) { return uint64_t(c.size()); });
  if (!sets) return fail(std::move(sets.error()));
  out.counts.appearance_sets = *sets;
  if (auto stop = budget.check_stop(); !stop) return fail(std::move(stop.error()));

  auto posits = read_component(state.components, [](const construct::ComponentRegistry& r) { return r.posit_count; });
  if (!posits) return fail(std::move(posits.error()));
  out.counts.posits = *posits;
  if (*posits > budget.posits_scanned) {
    return fail(EngineError::resource_limit("posits scanned", budget.posits_scanned));
  }
  if (auto stop = budget.check_stop(); !stop) return fail(std::move(stop.error()));

  if (auto copied = copy_entries(state, budget, out); !copied) return fail(std::move(copied.error()));
  if (auto stop = budget.check_stop(); !stop) return fail(std::move(stop.error()));
  return out;
}

}  // namespace brackwater::terrain
