// Pattern matching: every extension of one row by the Posits one pattern matches.
//
// match_pattern_for_row appends to `out` (same width as `row`) every extension of `row`, in the
// fixed output order: index branch by ascending posit identity, then the appearance-set rows of
// each; in-effect branch by the order of the effective assertions. Candidates come from the
// smallest posting, probed against the others. The input row is never changed. On error, rows
// appended so far stay in `out` and the caller discards them. `roles`, when given, is the run's Role
// lookup, kept between rows.
#pragma once

#include <span>
#include <vector>

#include "construct/engine.h"
#include "construct/error.h"
#include "effect/effect_cache.h"
#include "velquin/exec_context.h"
#include "velquin/query/role_lookup.h"
#include "velquin/query/query.h"

namespace brackwater::velquin::query {

construct::Result<void> match_pattern_for_row(construct::Engine& engine, const PositPattern& pattern,
                                              std::span<const BoundSlot> row, const ExecContext& ctx,
                                              effect::EffectCache& cache, RowTable& out,
                                              RoleLookup* roles = nullptr);

// Binds `var` to `candidate` on its first occurrence, else compares: a Thing met as a Posit of the
// same identity is rebound to the Posit. False: no match. `IncompatibleDomains` on a clash of kinds.
construct::Result<bool> bind_or_check_slot(std::span<BoundSlot> row, const Var& var, const BoundSlot& candidate);

// The posit binding, value slot and time slot of `pattern` against `posit`, extending `row` in
// place: false on the first mismatch (the row is then partly extended and must be dropped). A value
// literal compares by value (`UnsupportedComparison` when the families do not compare); a value variable met again
// compares the text bytes; a time literal must be identical.
construct::Result<bool> match_value_and_time(const PositPattern& pattern, const construct::Posit& posit,
                                             std::span<BoundSlot> row);

// The time of a cutoff under `row`: unbound variable `InvalidQueryRecall` (bare name), not a Time
// `IncompatibleDomains`.
construct::Result<TimeValue> resolve_time_operand(const CutoffOperand& operand, std::span<const BoundSlot> row);


}  // namespace brackwater::velquin::query
