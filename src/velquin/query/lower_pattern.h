// Posit pattern lowering: one `posit_search` (or the `via_posit` of a via clause) to a PositPattern.
//
// The children are lowered in written order (latest marker, posit binding, appearance-set slot,
// value, time, as-of or in-effect cutoffs, via), so an error inside a slot wins over a combination
// error. Then the closing checks run in a fixed order: the set slot exists; `open` is set by "..."
// or any Thing union; latest is refused with in effect; a via pattern needs in effect, must be
// plain, must hold exactly two appearances without "*", "..." or a union, must name its Roles
// literally, and those names sorted by bytes must be "ascertains", "posit"; last the value and the
// time slots exist. Value-slot numbers are cut after their last digit; time-slot tokens become
// TimeValues against the resolved now. A via pattern is lowered by the same function, once: a via
// clause inside a via pattern is a shape error.
#pragma once

#include "construct/error.h"
#include "velquin/exec_context.h"
#include "velquin/node_view.h"
#include "velquin/query/query.h"

namespace brackwater::velquin::query {

construct::Result<PositPattern> lower_posit_pattern(NodeView node, const ExecContext& ctx);
// The same into `pattern` (a default PositPattern), which is left partly filled on error.
construct::Result<void> lower_posit_pattern_into(NodeView node, const ExecContext& ctx, PositPattern& pattern);

}  // namespace brackwater::velquin::query
