// Where conditions: one predicate evaluated on one row.
//
// Identities (Thing and Posit alike), Roles and appearance sets support "=", "?=" and "===" only.
// Literals: "=" and "?=" compare by value, "===" by token bytes, "<", ">", "<=", ">=" order numbers
// against numbers and certainties against certainties. Times: "=" and "===" identical, "?="
// overlap, "<" ends at or before the start, ">" starts at or after the end, "<=" and ">=" identical
// or strictly so. Any other pairing of kinds is `UnsupportedComparison` "{left} {op} {right} is unsupported".
#pragma once

#include <span>

#include "construct/error.h"
#include "velquin/query/query.h"

namespace brackwater::velquin::query {

// `UnknownVariable` (the bare name) when the left, then the right variable is not bound in `row`.
construct::Result<bool> evaluate_predicate(const Predicate& predicate, std::span<const BoundSlot> row);

// The slot of `var` in `row`, or null when the row does not bind it.
inline const BoundSlot* bound_slot(std::span<const BoundSlot> row, const Var& var) {
  if (var.id >= row.size() || !is_bound(row[var.id])) return nullptr;
  return &row[var.id];
}

}  // namespace brackwater::velquin::query
