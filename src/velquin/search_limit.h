// The row limit of one search statement.
//
// statement_limit reads the `int` of the statement's `limit_clause` up to its last digit outside
// comments (so "limit 5 /* c */" is 5) as an unsigned 64-bit number; a text that still does not
// read ("- 3", "1 2", overflow) leaves the statement without a LIMIT, silently. The effective limit
// is the smaller of LIMIT and max_rows, whichever is present, or none.
#pragma once

#include <cstdint>
#include <optional>

#include "velquin/node_view.h"

namespace brackwater::velquin {

std::optional<uint64_t> statement_limit(NodeView search);

std::optional<uint64_t> effective_limit(std::optional<uint64_t> max_rows, std::optional<uint64_t> limit);

}  // namespace brackwater::velquin
