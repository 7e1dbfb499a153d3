// Comparison of literal values.
//
// `compare_order` is defined for numbers (Integer and Decimal, mixed) and for Certainty against
// Certainty; `compare_nominal` for each family against itself and Integer against Decimal. Numbers
// compare by exact value, strings by decoded bytes, JSON by tree, certainties by percent and Time by
// raw text. The family pair is checked first ("ordering is unsupported between {} and {}",
// "unsupported nominal comparison between {} and {}", family names in operand order); then operand a
// is parsed, then b, and the first parse failure's message is the result.
#pragma once

#include <compare>

#include "literal/literal.h"

namespace brackwater::literal {

Parsed<std::strong_ordering> compare_order(const Literal& a, const Literal& b);
Parsed<bool> compare_nominal(const Literal& a, const Literal& b);

}  // namespace brackwater::literal
