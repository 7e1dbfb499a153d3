// The single-node lowering steps that search and pattern lowering share.
//
// variable_name: the name a node writes. A binding, variable reference or order item with a child
// names its first child's variable; otherwise the node's text, trimmed of White_Space, loses every
// leading "?" and "+". lower_appearance: a `(Thing, Role)` pair, the Thing slot lowered first.
// lower_cutoff: an as-of or in-effect operand (`effect_cut_operand` wrappers unwrapped) with the
// label that names it in messages ("as-of", "in-effect assertion", "in-effect appearance").
// lower_predicate: the right side of a where condition; a time or constant there is a TimeValue,
// other literals are trimmed and validated by their family. None reads the engine.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "construct/error.h"
#include "velquin/exec_context.h"
#include "velquin/node_view.h"
#include "velquin/query/query.h"

namespace brackwater::velquin::query {

std::string variable_name(NodeView node);

construct::Result<AppearanceSearch> lower_appearance(NodeView node);

construct::Result<CutoffOperand> lower_cutoff(NodeView node, const ExecContext& ctx, std::string_view label);

construct::Result<PredicateOperand> lower_predicate(NodeView node, const ExecContext& ctx);

// The child at `position` (0 = first), or nothing.
std::optional<NodeView> nth_child(NodeView node, size_t position);

// `Internal` "{what} {rule}", the rule by its grammar name: the shape guard of the lowering steps.
construct::EngineError unexpected_rule(std::string_view what, Rule rule);

// `Execution` "invalid time literal '{}'" with the text as written.
construct::EngineError invalid_time_literal(std::string_view text);

}  // namespace brackwater::velquin::query
