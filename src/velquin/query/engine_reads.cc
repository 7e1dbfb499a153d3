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

Result<std::optional<construct::RoleRef>> RoleLookup::find(construct::Engine& engine, const std::string& name) {
  for (const Entry& e : entries_) {
    if (e.name == &name) return e.role;
  }
  auto role = engine.find_role_by_name(name);
  if (!role) return role;
  if (entries_.size() < kKept) entries_.push_back(Entry{&name, *role});
  return role;
}

Result<uint64_t> smallest_named_role_posting(construct::Engine& engine, std::span<const std::string* const> names,
                                             RoleLookup& roles) {
  boost::container::small_vector<Identity, 4> ids;
  for (const std::string* name : names) {
    auto role = roles.find(engine, *name);
    if (!role) return fail(std::move(role.error()));
    if (!*role) return uint64_t{0};
    ids.push_back((**role)->identity);
  }
  BW_READ(index, engine.state().role_posits);
  uint64_t smallest = UINT64_MAX;
  for (const Identity role : ids) {
    const construct::IdentitySet* posting = index->find(role);
    smallest = std::min<uint64_t>(smallest, posting ? construct::identity_count(*posting) : 0);
  }
  return smallest;
}

Result<const construct::IdentitySet*> role_posting(construct::Engine& engine, Identity role) {
  BW_READ(index, engine.state().role_posits);
  return index->find(role);
}

Result<const construct::Posting*> set_posting(construct::Engine& engine, const construct::AppearanceSet& set) {
  BW_READ(index, engine.state().appearance_set_posits);
  return index->find(set);
}

Result<construct::PositRef> posit(construct::Engine& engine, Identity id) {
  BW_READ(registry, engine.state().components);
  return construct::posit_by_identity(*registry, id);
}

Result<void> thing_postings(construct::Engine& engine, std::span<const Identity> things, std::optional<Identity> role,
                            std::vector<const construct::Posting*>& out) {
  construct::EngineState& state = engine.state();
  boost::container::small_vector<construct::AppearanceRef, 8> appearances;
  {
    BW_READ(index, state.thing_appearances);
    for (const Identity thing : things) {
      for (construct::AppearanceRef a : index->appearances(thing)) {
        if (!role || a->role->identity == *role) appearances.push_back(a);
      }
    }
  }
  boost::container::small_vector<construct::AppearanceSetRef, 8> sets;
  {
    BW_READ(index, state.appearance_memberships);
    for (construct::AppearanceRef a : appearances) {
      for (construct::AppearanceSetRef s : index->sets(*a)) sets.push_back(s);
    }
  }
  // Catalog sets: one record per set, so the handle tells sets apart.
  std::sort(sets.begin(), sets.end());
  sets.erase(std::unique(sets.begin(), sets.end()), sets.end());
  BW_READ(index, state.appearance_set_posits);
  for (construct::AppearanceSetRef s : sets) {
    if (const construct::Posting* p = index->find(*s); p != nullptr && *p) out.push_back(p);
  }
  return {};
}

Result<void> all_posit_ids(construct::Engine& engine, std::vector<Identity>& out) {
  BW_READ(index, engine.state().posit_appearance_sets);
  out.clear();
  out.reserve(index->size());
  index->for_each([&](Identity id, construct::AppearanceSetRef) { out.push_back(id); });
  return {};
}

Result<void> posits_by_identity(construct::Engine& engine, std::span<const Identity> ids, const ExecContext& ctx,
                                std::vector<construct::PositRef>& out) {
  out.clear();
  BW_READ(registry, engine.state().components);
  for (const Identity id : ids) {
    if (auto stop = ctx.check_stop(); !stop) return stop;
    construct::PositRef posit = construct::posit_by_identity(*registry, id);
    if (posit == nullptr) return fail(construct::posit_index_missing_literal_posit(id));
    out.push_back(posit);
  }
  return {};
}

}  // namespace brackwater::velquin::query::reads
