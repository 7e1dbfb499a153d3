#include "velquin/search_command.h"

namespace brackwater::velquin {

construct::Result<SearchCommandOutcome> execute_search_command(construct::Engine&, const Pair&, ScriptVariables&,
                                                               BoundedRowSink&,
                                                               std::optional<std::vector<std::string>>&,
                                                               const ExecContext&) {
  return construct::fail(construct::EngineError::internal("search statements are not available"));
}

}  // namespace brackwater::velquin
