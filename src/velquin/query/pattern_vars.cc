#include "velquin/query/pattern_vars.h"

namespace brackwater::velquin::query {

std::vector<VarId> pattern_bound_variables(const PositPattern&) { return {}; }
std::vector<VarId> pattern_required_variables(const PositPattern&) { return {}; }
construct::Result<void> collect_bound_variables(const PositPattern&, VariableDomains&) { return {}; }

}  // namespace brackwater::velquin::query
