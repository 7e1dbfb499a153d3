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

#include "construct/engine.h"
#include "construct/error.h"
#include "construct/identity_set.h"
#include "construct/records.h"
#include "construct/ref_list.h"
#include "velquin/exec_context.h"

namespace brackwater::velquin::query::reads {

// The identities of the Roles named `names` (RoleCatalog), or nothing when one names no Role.
construct::Result<std::optional<std::vector<construct::Identity>>> role_ids(construct::Engine& engine,
                                                                           std::span<const std::string* const> names);

// The Posits filed under a Role (RolePositIndex), or nullptr when it has none.
construct::Result<const construct::IdentitySet*> role_posting(construct::Engine& engine, construct::Identity role);

// The smallest posting size over `roles` (a Role without an entry counts 0); u64 max for none.
construct::Result<uint64_t> smallest_role_posting(construct::Engine& engine, std::span<const construct::Identity> roles);

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

// Every indexed Posit identity, ascending (PositAppearanceSetIndex).
construct::Result<std::vector<construct::Identity>> all_posit_ids(construct::Engine& engine);

// The Posits of `ids` in order, a stop check before each; an identity without a Posit is `Internal`.
construct::Result<std::vector<construct::PositRef>> posits_by_identity(construct::Engine& engine,
                                                                       std::span<const construct::Identity> ids,
                                                                       const ExecContext& ctx);

}  // namespace brackwater::velquin::query::reads
