// The engine reads of the query side, each under the one component lock it needs.
//
// Every read takes its component's lock, reads and releases it before returning, so no two
// component locks are ever held together. The postings handed out point into the indexes: they
// stay valid and unchanged while the caller holds the engine-wide lock and adds nothing, which is
// the case for the whole of a search run, so they are probed without a lock rather than copied.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <vector>

#include <boost/container/small_vector.hpp>

#include "construct/engine.h"
#include "construct/error.h"
#include "construct/identity_set.h"
#include "construct/records.h"
#include "construct/ref_list.h"
#include "velquin/exec_context.h"

namespace brackwater::velquin::query::reads {

// The Roles a search run has looked up by name, so that each name costs one catalog lookup per run
// rather than one per row. Names are told apart by address: the run passes the names of its own
// compiled patterns, which stay in place while it lasts, and the engine does not change meanwhile.
class RoleLookup {
 public:
  // The Role named `name` (RoleCatalog), or nullopt when it names none.
  construct::Result<std::optional<construct::RoleRef>> find(construct::Engine& engine, const std::string& name);

 private:
  static constexpr size_t kKept = 32;  // names beyond this many are looked up every time
  struct Entry {
    const std::string* name;
    std::optional<construct::RoleRef> role;
  };
  boost::container::small_vector<Entry, 8> entries_;
};

// The smallest posting size (RolePositIndex) over the Roles named `names` (RoleCatalog, through
// `roles`): 0 when one names no Role or has no entry. The two components are locked one after the
// other.
construct::Result<uint64_t> smallest_named_role_posting(construct::Engine& engine,
                                                        std::span<const std::string* const> names, RoleLookup& roles);

// The Posits filed under a Role (RolePositIndex), or nullptr when it has none.
construct::Result<const construct::IdentitySet*> role_posting(construct::Engine& engine, construct::Identity role);

// The Posits of a set equal to `set` (AppearanceSetPositIndex), or nullptr when it has none.
construct::Result<const construct::Posting*> set_posting(construct::Engine& engine, const construct::AppearanceSet& set);

// The Posit of an identity (PositIndex), or nullptr.
construct::Result<construct::PositRef> posit(construct::Engine& engine, construct::Identity id);

// Appends to `out` the postings of the sets in which one of `things` appears (as a Thing), in Role
// `role` when given: Thing -> Appearances -> the sets containing them -> their non-empty postings,
// each set once. A Posit has one set, so the postings are disjoint. Three locks, one after the other.
construct::Result<void> thing_postings(construct::Engine& engine, std::span<const construct::Identity> things,
                                       std::optional<construct::Identity> role,
                                       std::vector<const construct::Posting*>& out);

// Every indexed Posit identity, ascending (PositAppearanceSetIndex), in place of the contents of `out`.
construct::Result<void> all_posit_ids(construct::Engine& engine, std::vector<construct::Identity>& out);

// The Posits of `ids` in order, in place of the contents of `out`, a stop check before each; an
// identity without a Posit is `Internal` (what collect_posits_by_identity does, into a kept buffer).
construct::Result<void> posits_by_identity(construct::Engine& engine, std::span<const construct::Identity> ids,
                                           const ExecContext& ctx, std::vector<construct::PositRef>& out);

}  // namespace brackwater::velquin::query::reads
