// Script values and Role names as the statements read them.
//
// lower_literal builds the Literal of a value token: `int`, `decimal`, `certainty`, `time`, `json`
// and `string` texts go unchanged to Literal::from_token for their family (a refusal is `Execution` with
// its message); a `constant` is trimmed and must be exactly "@NOW" (a Time literal of the resolved
// now's display in single quotes), "@BOT" or "@EOT" (`Execution` "unknown value constant '{}'"); any other
// rule is `Internal` "grammar rule {} is not a literal". lower_value_literal is what value slots use:
// `int` and `decimal` texts are first cut after their last digit outside comments ("5 " -> "5").
//
// normalize_role_name trims White_Space, removes one pair of enclosing backticks when the text is
// longer than one character, and composes the result into Unicode normal form C.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "construct/error.h"
#include "literal/literal.h"
#include "literal/time_value.h"
#include "velquin/node_view.h"
#include "velquin/rule.h"

namespace brackwater::velquin {

construct::Result<literal::Literal> lower_literal(Rule rule, std::string_view text, const literal::TimeValue& now);

construct::Result<literal::Literal> lower_value_literal(Rule rule, std::string_view text,
                                                        const literal::TimeValue& now);

std::string normalize_role_name(std::string_view text);

// Walks the children of an `add_role` node: the normalised name of the `role` child at `it`,
// advancing past it; nothing when the children are exhausted. Children of other rules are skipped.
std::optional<std::string> normalize_role_names_next(NodeView::iterator& it, const NodeView::iterator& end);

}  // namespace brackwater::velquin
