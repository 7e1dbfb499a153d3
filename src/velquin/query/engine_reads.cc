#include "velquin/query/engine_reads.h"

#include <algorithm>

#include <boost/container/small_vector.hpp>

#include "construct/engine_ops.h"
#include "construct/engine_state.h"
#include "construct/posit_index.h"

namespace brackwater::velquin::query::reads {

using construct::fail;
using construct::Identity;
using construct::Result;

Result<std::optional<std::vector<Identity>>> role_ids(construct::Engine& engine,
                                                      std::span<const std::string* const> names) {
  BW_LOCK(roles, engine.state().roles);
  std::vector<Identity> ids;
  ids.reserve(names.size());
  for (const std::string* name : names) {
    auto role = roles->find_by_name(*name);
    if (!role) return std::optional<std::vector<Identity>>();
    ids.push_back((*role)->identity);
  }
  return std::optional<std::vector<Identity>>(std::move(ids));
}

Result<const construct::IdentitySet*> role_posting(construct::Engine& engine, Identity role) {
  BW_LOCK(index, engine.state().role_posits);
  return index->find(role);
}

Result<uint64_t> smallest_role_posting(construct::Engine& engine, std::span<const Identity> roles) {
  BW_LOCK(index, engine.state().role_posits);
  uint64_t smallest = UINT64_MAX;
  for (const Identity role : roles) {
    const construct::IdentitySet* posting = index->find(role);
    smallest = std::min<uint64_t>(smallest, posting ? construct::identity_count(*posting) : 0);
  }
  return smallest;
}

Result<const construct::Posting*> set_posting(construct::Engine& engine, const construct::AppearanceSet& set) {
  BW_LOCK(index, engine.state().appearance_set_posits);
  return index->find(set);
}

Result<construct::PositRef> posit(construct::Engine& engine, Identity id) {
  BW_LOCK(registry, engine.state().components);
  return construct::posit_by_identity(*registry, id);
}

Result<void> thing_postings(construct::Engine& engine, std::span<const Identity> things, std::optional<Identity> role,
                            std::vector<const construct::Posting*>& out) {
  construct::EngineState& state = engine.state();
  boost::container::small_vector<construct::AppearanceRef, 8> appearances;
  {
    BW_LOCK(index, state.thing_appearances);
    for (const Identity thing : things) {
      for (construct::AppearanceRef a : index->appearances(thing)) {
        if (!role || a->role->identity == *role) appearances.push_back(a);
      }
    }
  }
  boost::container::small_vector<construct::AppearanceSetRef, 8> sets;
  {
    BW_LOCK(index, state.appearance_memberships);
    for (construct::AppearanceRef a : appearances) {
      for (construct::AppearanceSetRef s : index->sets(*a)) sets.push_back(s);
    }
  }
  // Catalog sets: one record per set, so the handle tells sets apart.
  std::sort(sets.begin(), sets.end());
  sets.erase(std::unique(sets.begin(), sets.end()), sets.end());
  BW_LOCK(index, state.appearance_set_posits);
  for (construct::AppearanceSetRef s : sets) {
    if (const construct::Posting* p = index->find(*s); p != nullptr && *p) out.push_back(p);
  }
  return {};
}

Result<std::vector<Identity>> all_posit_ids(construct::Engine& engine) {
  BW_LOCK(index, engine.state().posit_appearance_sets);
  std::vector<Identity> ids;
  ids.reserve(index->size());
  index->for_each([&](Identity id, construct::AppearanceSetRef) { ids.push_back(id); });
  return ids;
}

Result<std::vector<construct::PositRef>> posits_by_identity(construct::Engine& engine, std::span<const Identity> ids,
                                                            const ExecContext& ctx) {
  BW_LOCK(registry, engine.state().components);
  return construct::collect_posits_by_identity(*registry, ids, [&ctx] { return ctx.check_stop(); });
}

}  // namespace brackwater::velquin::query::reads
