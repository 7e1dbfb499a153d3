#include "construct/memory_usage.h"

#include "construct/engine_ops.h"
#include "construct/engine_state.h"

namespace brackwater::construct {

namespace {

// Adds what each component behind `mutexes` holds, one lock at a time.
template <class... Ts>
Result<void> account_each(MemoryUsage& usage, PoisonMutex<Ts>&... mutexes) {
  Result<void> out;
  auto one = [&](auto& mutex) {
    if (!out) return;
    auto guard = mutex.lock();
    if (!guard) {
      out = fail(std::move(guard.error()));
      return;
    }
    (*guard)->account(usage);
  };
  (one(mutexes), ...);
  return out;
}

}  // namespace

Result<MemoryUsage> memory_usage(EngineState& state) {
  MemoryUsage usage;
  {
    BW_LOCK(registry, state.components);
    // The record arrays grow under the registry's and the catalogs' locks; the engine-wide lock
    // that the caller holds keeps them still.
    state.records.account(usage);
    if (const PositIndex* index = registry->existing_posit_index()) index->account(usage);
  }
  {
    BW_LOCK(pool, state.identities);
    usage.identities += pool->memory_bytes();
  }
  auto rest = account_each(usage, state.appearances, state.appearance_sets, state.thing_appearances,
                           state.role_appearances, state.appearance_memberships, state.appearance_set_posits,
                           state.role_posits, state.posit_appearance_sets, state.posit_times);
  if (!rest) return fail(std::move(rest.error()));
  return usage;
}

}  // namespace brackwater::construct
