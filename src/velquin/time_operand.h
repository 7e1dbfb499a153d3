// A time written as an operand of a statement: a `time` or `constant` token, or a `parameter`.
//
// lower_time_operand reads a `time` or `constant` token with parse_time_token against the resolved
// now (a constant, "@" and capitals, reads as "@NOW", "@BOT" or "@EOT" or not at all), giving
// nothing when the token does not read; a `parameter` gives its time value: the lookup's error for a
// missing one, `InvalidParameter` "{} is a literal parameter, not a time parameter" for a literal one.
// What a time that does not read means is the caller's. is_time_operand tells the three rules apart
// from the others an operand may be.
#pragma once

#include <optional>

#include "construct/error.h"
#include "literal/time_value.h"
#include "velquin/exec_context.h"
#include "velquin/node_view.h"
#include "velquin/rule.h"

namespace brackwater::velquin {

inline bool is_time_operand(Rule rule) {
  return rule == Rule::time || rule == Rule::constant || rule == Rule::parameter;
}

// `token` is a time operand.
construct::Result<std::optional<literal::TimeValue>> lower_time_operand(NodeView token, const ExecContext& ctx);

}  // namespace brackwater::velquin
