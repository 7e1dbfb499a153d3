// Search planning: the join order of one pattern group.
//
// Greedy: each pass takes, among the patterns whose required variables are all bound, the one with
// the smallest estimate (ties: the earliest written), and adds its bound variables. Estimate: no
// named Role: u64 max; a Role name that names no Role: 0; else the smallest posting size over the
// named Roles (a via pattern is not looked at). When no pattern is ready, `InvalidQueryRecall` "query has
// unresolvable variable dependencies: {}", per remaining pattern its missing names joined by ", ".
// The passes count their work on the context's budget: the patterns they look at and the entries
// of each.
#pragma once

#include <vector>

#include "construct/engine.h"
#include "construct/error.h"
#include "velquin/exec_context.h"
#include "velquin/query/role_lookup.h"
#include "velquin/query/query.h"

namespace brackwater::velquin::query {

// The group's patterns, each once, in join order (pointers into the group).
using SearchPlan = std::vector<const PositPattern*>;

// `bound` is indexed by VarId (size = search.variables.size()): the variables bound before the
// group is joined. `search` supplies the names for the error message. `roles`, when given, is the
// run's Role lookup.
construct::Result<SearchPlan> plan_search(construct::Engine& engine, const PatternGroup& group,
                                          const std::vector<bool>& bound, const CompiledSearch& search,
                                          const ExecContext& ctx, RoleLookup* roles = nullptr);

}  // namespace brackwater::velquin::query
