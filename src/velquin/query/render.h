// Result cells of a search: how a bound value is shown.
//
// Thing and Posit: the identity in decimal; Role: its name; set: its display text; literal: its
// token text as written; time: its display text.
#pragma once

#include <span>

#include "velquin/query/query.h"
#include "velquin/result_set.h"

namespace brackwater::velquin::query {

// `slot` is bound.
ResultValue render_slot(const BoundSlot& slot);

// The cells of `row` for `returns`, in order; every returned variable is bound in `row`.
ResultRow render_row(std::span<const BoundSlot> row, const std::vector<Var>& returns);

}  // namespace brackwater::velquin::query
