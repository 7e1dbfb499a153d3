// The search command: one `search` statement, run into the statement's row sink.
//
// It compiles the statement, runs it into the sink and fills the column slot with the returned
// variable names; the statement yields a result set exactly when it returns variables. With an
// "or add posit" clause it first checks the add branch against the search (every returned variable
// must be an insert binder of the branch), then either binds what the search found to the branch's
// variable names for later statements, or, when nothing matched, runs the add branch and returns
// the rows of what it bound. A search without "or add posit" binds nothing for later statements.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "construct/engine.h"
#include "construct/error.h"
#include "velquin/exec_context.h"
#include "velquin/parse_tree.h"
#include "velquin/result_binding.h"
#include "velquin/row_sink.h"

namespace brackwater::velquin {

struct SearchCommandOutcome {
  bool yields_result_set = false;
};

construct::Result<SearchCommandOutcome> execute_search_command(construct::Engine& engine, const Pair& search,
                                                               ScriptVariables& variables, BoundedRowSink& sink,
                                                               std::optional<std::vector<std::string>>& columns,
                                                               const ExecContext& ctx);

}  // namespace brackwater::velquin
