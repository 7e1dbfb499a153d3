// The search command: one `search` statement, run into the statement's row sink.
//
// It fills the column slot with the returned variable names, offers rows to the sink, and says
// whether the statement yields a result set. With an "or add posit" clause it binds what the search
// found into the script variables, or runs the add branch when the search found nothing. Search
// statements are not available yet: every call fails with kind 15.
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
