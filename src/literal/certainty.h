// Certainty literals: a whole percentage from -100 to 100 written with a trailing "%".
//
// The text before the "%" is read as an int16 first, so "40000%" fails as a number ("number too
// large to fit in target type"), not as a range. No allocation on success.
#pragma once

#include <cstdint>
#include <string_view>

#include "literal/literal.h"

namespace brackwater::literal {

using Certainty = int8_t;

// The percentage, or "certainty literal lacks percent sign: '{}'", "invalid certainty '{}': {}",
// "certainty is outside -100%..=100%: '{}'" (each with the whole text).
Parsed<Certainty> parse_certainty(std::string_view text);

}  // namespace brackwater::literal
