// The Roles a search run looks up by name.
//
// RoleLookup keeps the Roles found for the run's own role names, so that each name costs one catalog
// lookup per run rather than one per row. Names are told apart by address: the run passes the names
// of its own compiled patterns, which stay in place while it lasts, and the engine does not change
// meanwhile.
#pragma once

#include <optional>
#include <span>
#include <string>

#include <boost/container/small_vector.hpp>

#include "construct/engine.h"
#include "construct/error.h"
#include "construct/records.h"

namespace brackwater::velquin::query {

class RoleLookup {
 public:
  // The Role named `name` (the Role catalog), or nullopt when it names none.
  construct::Result<std::optional<construct::RoleRef>> find(construct::Engine& engine, const std::string& name);

 private:
  static constexpr size_t kKept = 32;  // names beyond this many are looked up every time
  struct Entry {
    const std::string* name;
    std::optional<construct::RoleRef> role;
  };
  boost::container::small_vector<Entry, 8> entries_;
};

// The smallest number of Posits filed under one of the Roles named `names` (through `roles`): 0
// when one names no Role or has no Posit.
construct::Result<uint64_t> smallest_named_role_posting(construct::Engine& engine,
                                                        std::span<const std::string* const> names, RoleLookup& roles);

}  // namespace brackwater::velquin::query
