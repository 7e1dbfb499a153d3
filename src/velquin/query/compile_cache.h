// Compiled searches kept per thread: a search statement run again is not compiled again.
//
// A statement is known again by its node in the same parse tree, which the script runner hands out
// again for the same script text. What compile_search makes of a statement depends on the tree,
// the parameters and the resolved now alone, and it fails or succeeds alike for every now. So a
// statement that names no parameter is kept (once compiled without error), together with the
// places where the resolved now landed (as-of and in-effect cutoffs, time slots, "@NOW" value
// literals, right operands of where): these are found by compiling the statement once more against
// another now and comparing, and are set to the caller's now each time the statement is handed out.
// The stop check that starts compile_search runs every time. Small trees only, few statements.
#pragma once

#include <optional>

#include "construct/error.h"
#include "velquin/exec_context.h"
#include "velquin/parse_tree.h"
#include "velquin/query/query.h"

namespace brackwater::velquin::query {

// The compiled `search` under `ctx`: the kept one, or one compiled into `own`. The search is valid
// until the next call on this thread.
construct::Result<const CompiledSearch*> compile_search_cached(const Pair& search, const ExecContext& ctx,
                                                               std::optional<CompiledSearch>& own);

}  // namespace brackwater::velquin::query
