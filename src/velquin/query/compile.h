// Search compilation: the parse tree of one `search` statement to a CompiledSearch.
//
// compile_search makes one stop check, lowers the clauses in written order (patterns, unions,
// not-exists groups, where, return, order by; limit and or-add are read by the caller), records
// the domains of the positive groups, checks their recalls (union members, cutoff variables: kind
// 12 with the bare name), records the not-exists domains, then checks the predicate, return and
// order variables. Last it assigns every variable of the search its VarId (names sorted by bytes)
// and fills the ids into every Var of the query. Every shape check and every compile-time error
// lives here and in the lowering files beside it; nothing after compilation reads the parse tree.
#pragma once

#include "construct/error.h"
#include "velquin/exec_context.h"
#include "velquin/parse_tree.h"
#include "velquin/query/query.h"

namespace brackwater::velquin::query {

construct::Result<CompiledSearch> compile_search(const Pair& search, const ExecContext& ctx);

}  // namespace brackwater::velquin::query
