// Interning of Appearances, Appearance sets and Posits, and the filing of Posits in the indexes.
#include <algorithm>

#include "construct/engine_ops.h"
#include "construct/record_keys.h"

namespace brackwater::construct {

Result<std::pair<AppearanceRef, bool>> intern_appearance(EngineState& state, RoleRef role, Identity thing) {
  const Appearance candidate{role, thing};
  const uint64_t h = appearance_hash(candidate);
  AppearanceRef stored;
  {
    BW_LOCK(catalog, state.appearances);
    if (AppearanceRef found = catalog->find(candidate, h)) return std::pair{found, true};
    stored = catalog->insert_new(candidate, h);
  }
  {
    BW_LOCK(by_thing, state.thing_appearances);
    by_thing->add(stored);
  }
  if (role->reserved) {
    BW_LOCK(by_role, state.role_appearances);
    by_role->add(stored);
  }
  return std::pair{stored, false};
}

Result<std::pair<AppearanceSetRef, bool>> intern_appearance_set(EngineState& state,
                                                                std::vector<AppearanceRef> members) {
  std::stable_sort(members.begin(), members.end(), [](AppearanceRef a, AppearanceRef b) {
    if (a->role->identity != b->role->identity) return a->role->identity < b->role->identity;
    return a->thing < b->thing;
  });
  for (size_t i = 1; i < members.size(); ++i) {
    if (members[i - 1]->role == members[i]->role || members[i - 1]->role->identity == members[i]->role->identity) {
      return fail(EngineError::invalid_appearance_set("an appearance set may contain at most one Thing for each Role"));
    }
  }
  AppearanceSet candidate{std::move(members)};
  const uint64_t h = appearance_set_hash(candidate);
  AppearanceSetRef stored;
  {
    BW_LOCK(catalog, state.appearance_sets);
    if (AppearanceSetRef found = catalog->find(candidate, h)) return std::pair{found, true};
    stored = catalog->insert_new(std::move(candidate), h);
  }
  for (const AppearanceRef member : stored->members) {
    BW_LOCK(memberships, state.appearance_memberships);
    memberships->add(member, stored);
  }
  return std::pair{stored, false};
}

int64_t NewPositList::find(const Posit& candidate, uint64_t h) const {
  const uint32_t* found =
      index_.find(h, [this, &candidate](uint32_t i) { return posit_key_eq(posits_[i], candidate); });
  return found ? int64_t(*found) : -1;
}

size_t NewPositList::append(Posit posit, uint64_t h) {
  const uint32_t position = static_cast<uint32_t>(posits_.size());
  posits_.push_back(std::move(posit));
  hashes_.push_back(h);
  index_.insert_new(h, position);
  return position;
}

Result<std::vector<PositSlot>> intern_posits(EngineState& state, std::vector<PendingPosit> pending,
                                             NewPositList& new_posits) {
  std::vector<PositSlot> slots;
  slots.reserve(pending.size());
  for (PendingPosit& p : pending) {
    auto drawn = draw_identity(state);
    if (!drawn) return fail(std::move(drawn.error()));
    Posit posit{*drawn, p.appearance_set, std::move(p.value), p.time};
    const uint64_t h = posit_key_hash(posit);
    {
      BW_LOCK(registry, state.components);
      const PositIndex* index = registry->existing_posit_index();
      if (PositRef found = index ? index->find_by_key(posit, h) : nullptr) {
        BW_LOCK(pool, state.identities);
        pool->release(*drawn);
        slots.push_back({found, 0});
        continue;
      }
    }
    const int64_t earlier = new_posits.find(posit, h);
    if (earlier >= 0) {
      BW_LOCK(pool, state.identities);
      pool->release(*drawn);
      slots.push_back({nullptr, size_t(earlier)});
      continue;
    }
    slots.push_back({nullptr, new_posits.append(std::move(posit), h)});
  }
  return slots;
}

Result<std::pair<PositRef, bool>> index_posit(EngineState& state, Posit posit) {
  const uint64_t h = posit_key_hash(posit);
  return index_posit(state, std::move(posit), h);
}

Result<std::pair<PositRef, bool>> index_posit(EngineState& state, Posit posit, uint64_t h) {
  PositRef stored;
  {
    BW_LOCK(registry, state.components);
    PositIndex& index = registry->posit_index();
    if (PositRef found = index.find_by_key(posit, h)) return std::pair{found, true};
    stored = index.insert_new(std::move(posit), h);
    ++registry->posit_count;
  }
  const Identity id = stored->identity;
  {
    BW_LOCK(by_set, state.appearance_set_posits);
    by_set->add(stored->appearance_set, id);
  }
  {
    BW_LOCK(sets, state.posit_appearance_sets);
    sets->set(id, stored->appearance_set);
  }
  {
    BW_LOCK(times, state.posit_times);
    times->set(stored);
  }
  for (const AppearanceRef member : stored->appearance_set->members) {
    BW_LOCK(by_role, state.role_posits);
    by_role->add(member->role->identity, id);
  }
  return std::pair{stored, false};
}

}  // namespace brackwater::construct
