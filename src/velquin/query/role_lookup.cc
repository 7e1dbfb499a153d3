#include "velquin/query/role_lookup.h"

#include "construct/engine_reads.h"

namespace brackwater::velquin::query {

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
  return construct::reads::smallest_role_posting(engine, std::span(ids.data(), ids.size()));
}

}  // namespace brackwater::velquin::query
