// The variable walks of one pattern, used by compilation and planning.
//
// Ids are those compile_search assigned. Each list holds every id once, in no promised order.
//   bound:    the variables the pattern binds (posit and set bindings, Thing, Role, value and
//             time variables, and the same inside its via pattern);
//   required: the variables that must be bound before the pattern can be matched (union members,
//             cutoff variables, including those of its via pattern).
#pragma once

#include <vector>

#include "construct/error.h"
#include "velquin/query/query.h"

namespace brackwater::velquin::query {

std::vector<VarId> pattern_bound_variables(const PositPattern& pattern);
std::vector<VarId> pattern_required_variables(const PositPattern& pattern);

// Records the binding occurrences of `pattern` (via included) in `domains`; the first clash is `IncompatibleDomains`.
construct::Result<void> collect_bound_variables(const PositPattern& pattern, VariableDomains& domains);

}  // namespace brackwater::velquin::query
