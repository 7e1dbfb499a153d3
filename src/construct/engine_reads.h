// The engine's read functions: what searches, the assertions in effect and the Terrain read.
//
// The caller holds the engine-wide lock. Each read takes the component locks it needs as a reader
// (a reader that fails, an allocation of its own, leaves no lock poisoned), one at a time and
// released before it returns, except where a function says otherwise. The record handles and
// postings handed out point into the engine: they stay valid for the engine's life, and unchanged
// while the caller holds the engine-wide lock and adds nothing (the case for a whole search run),
// so they may be probed without a lock rather than copied.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <vector>

#include "construct/engine.h"
#include "construct/error.h"
#include "construct/identity.h"
#include "construct/identity_set.h"
#include "construct/records.h"
#include "construct/ref_list.h"
#include "literal/time_value.h"

namespace brackwater::construct {

class ComponentRegistry;

namespace reads {

// The Posits filed under Role `role` (RolePositIndex), or nullptr when it has none.
Result<const IdentitySet*> role_posits(Engine& engine, Identity role);

// The smallest number of Posits filed under one of `roles` (0 for a Role without any).
Result<uint64_t> smallest_role_posting(Engine& engine, std::span<const Identity> roles);

// The Posits of the set equal to `set` (AppearanceSetPositIndex), or nullptr when it has none.
Result<const Posting*> set_posits(Engine& engine, const AppearanceSet& set);

// The Posit of identity `id` (PositIndex), or nullptr.
Result<PositRef> posit(Engine& engine, Identity id);

// Appends to `out` the postings of the sets in which one of `things` appears (as a Thing), in Role
// `role` when given: Thing -> Appearances -> the sets containing them -> their non-empty postings,
// each set once. A Posit has one set, so the postings are disjoint. Three locks, one after the other.
Result<void> thing_postings(Engine& engine, std::span<const Identity> things, std::optional<Identity> role,
                            std::vector<const Posting*>& out);

// Every filed Posit identity, ascending (PositAppearanceSetIndex), in place of the contents of `out`.
Result<void> all_posit_ids(Engine& engine, std::vector<Identity>& out);

// The Posits of `ids` in order, in place of the contents of `out`, each a unit of work on `budget`;
// an identity without a Posit is `Internal` "posit index contains identity {} without a literal
// posit".
Result<void> posits_by_identity(Engine& engine, std::span<const Identity> ids, Budget& budget,
                                std::vector<PositRef>& out);

// Posits by identity, for a caller that looks up many of them in a row.
class PositLookup {
 public:
  explicit PositLookup(ComponentRegistry& registry) : registry_(registry) {}
  // The Posit of identity `id`, or nullptr.
  PositRef find(Identity id) const;

 private:
  ComponentRegistry& registry_;
};

// Runs `read` with a lookup of Posits, holding the PositIndex's lock while it runs: `read` must not
// call into the engine. Gives back what `read` returns.
Result<void> with_posit_lookup(Engine& engine, const std::function<Result<void>(const PositLookup&)>& read);

// The database counts: identities drawn (the pool), Appearances, Appearance sets, filed Posits.
Result<uint64_t> identity_pool_size(Engine& engine);
Result<uint64_t> appearance_count(Engine& engine);
Result<uint64_t> appearance_set_count(Engine& engine);
Result<uint64_t> posit_count(Engine& engine);

// Every Role, in ascending identity.
Result<std::vector<RoleRef>> roles_by_identity(Engine& engine);

// Calls `visit` with every filed Posit's identity, set and appearance time (nullptr when the time
// index lacks the Posit), in ascending identity, holding the posit-to-set and posit-to-time indexes
// together, and stops at the first error it returns. False, with nothing visited, when either index
// holds other than `posits` entries.
Result<bool> visit_posit_entries(Engine& engine, uint64_t posits,
                                 const std::function<Result<void>(Identity, AppearanceSetRef, const TimeValue*)>& visit);

}  // namespace reads
}  // namespace brackwater::construct
