#include "construct/engine_reads.h"

#include <algorithm>

#include <boost/container/small_vector.hpp>

#include "construct/engine_ops.h"
#include "construct/engine_state.h"
#include "construct/posit_index.h"

namespace brackwater::construct::reads {

namespace {

// Reads one component under its lock, as a reader.
template <class T, class Read>
auto read_component(PoisonMutex<T>& mutex, Read&& read) -> Result<decltype(read(std::declval<T&>()))> {
  BW_READ(component, mutex);
  return read(*component);
}

}  // namespace

Result<const IdentitySet*> role_posits(Engine& engine, Identity role) {
  BW_READ(index, engine.state().role_posits);
  return index->find(role);
}

Result<uint64_t> smallest_role_posting(Engine& engine, std::span<const Identity> roles) {
  BW_READ(index, engine.state().role_posits);
  uint64_t smallest = UINT64_MAX;
  for (const Identity role : roles) {
    const IdentitySet* posting = index->find(role);
    smallest = std::min<uint64_t>(smallest, posting ? construct::identity_count(*posting) : 0);
  }
  return smallest;
}

Result<const Posting*> set_posits(Engine& engine, const AppearanceSet& set) {
  BW_READ(index, engine.state().appearance_set_posits);
  return index->find(set);
}

Result<PositRef> posit(Engine& engine, Identity id) {
  BW_READ(registry, engine.state().components);
  return posit_by_identity(*registry, id);
}

Result<void> thing_postings(Engine& engine, std::span<const Identity> things, std::optional<Identity> role,
                            std::vector<const Posting*>& out) {
  EngineState& state = engine.state();
  boost::container::small_vector<AppearanceRef, 8> appearances;
  {
    BW_READ(index, state.thing_appearances);
    for (const Identity thing : things) {
      for (AppearanceRef a : index->appearances(thing)) {
        if (!role || a->role->identity == *role) appearances.push_back(a);
      }
    }
  }
  boost::container::small_vector<AppearanceSetRef, 8> sets;
  {
    BW_READ(index, state.appearance_memberships);
    for (AppearanceRef a : appearances) {
      for (AppearanceSetRef s : index->sets(*a)) sets.push_back(s);
    }
  }
  // Catalog sets: one record per set, so the handle tells sets apart.
  std::sort(sets.begin(), sets.end());
  sets.erase(std::unique(sets.begin(), sets.end()), sets.end());
  BW_READ(index, state.appearance_set_posits);
  for (AppearanceSetRef s : sets) {
    if (const Posting* p = index->find(*s); p != nullptr && *p) out.push_back(p);
  }
  return {};
}

Result<void> all_posit_ids(Engine& engine, std::vector<Identity>& out) {
  BW_READ(index, engine.state().posit_appearance_sets);
  out.clear();
  out.reserve(index->size());
  index->for_each([&](Identity id, AppearanceSetRef) { out.push_back(id); });
  return {};
}

Result<void> posits_by_identity(Engine& engine, std::span<const Identity> ids, Budget& budget,
                                std::vector<PositRef>& out) {
  out.clear();
  BW_READ(registry, engine.state().components);
  for (const Identity id : ids) {
    if (auto stopped = budget.work(1); !stopped) return stopped;
    PositRef posit = posit_by_identity(*registry, id);
    if (posit == nullptr) return fail(posit_index_missing_literal_posit(id));
    out.push_back(posit);
  }
  return {};
}

PositRef PositLookup::find(Identity id) const { return posit_by_identity(registry_, id); }

Result<void> with_posit_lookup(Engine& engine, const std::function<Result<void>(const PositLookup&)>& read) {
  BW_READ(registry, engine.state().components);
  return read(PositLookup(*registry));
}

Result<uint64_t> identity_pool_size(Engine& engine) {
  return read_component(engine.state().identities, [](const IdentityPool& pool) { return uint64_t(pool.size()); });
}

Result<uint64_t> appearance_count(Engine& engine) {
  return read_component(engine.state().appearances, [](const AppearanceCatalog& c) { return uint64_t(c.size()); });
}

Result<uint64_t> appearance_set_count(Engine& engine) {
  return read_component(engine.state().appearance_sets, [](const AppearanceSetCatalog& c) { return uint64_t(c.size()); });
}

Result<uint64_t> posit_count(Engine& engine) {
  return read_component(engine.state().components, [](const ComponentRegistry& r) { return r.posit_count; });
}

Result<std::vector<RoleRef>> roles_by_identity(Engine& engine) {
  return read_component(engine.state().roles, [](const RoleCatalog& c) { return c.roles_by_identity(); });
}

Result<bool> visit_posit_entries(Engine& engine, uint64_t posits,
                                 const std::function<Result<void>(Identity, AppearanceSetRef, const TimeValue*)>& visit) {
  EngineState& state = engine.state();
  BW_READ(sets, state.posit_appearance_sets);
  BW_READ(times, state.posit_times);
  if (sets->size() != posits || times->size() != posits) return false;
  std::optional<EngineError> error;
  sets->visit_while([&](Identity posit, AppearanceSetRef set) {
    const std::optional<TimeValue> time = times->find(posit);
    if (auto visited = visit(posit, set, time ? &*time : nullptr); !visited) {
      error = std::move(visited.error());
      return false;
    }
    return true;
  });
  if (error) return fail(std::move(*error));
  return true;
}

}  // namespace brackwater::construct::reads
