// ORDER BY over the rows of a search run.
//
// Checks every item against every row first (item-major: a row without the variable is `UnknownVariable`, a
// literal that is not a number or a certainty is `UnsupportedComparison`), then sorts stably. One item compares
// identities numerically (Thing and Posit alike), Roles by identity, sets member by member (Role
// identity, then Thing identity; a prefix first), literals by value (numbers among themselves,
// certainties among themselves; any other pair is equal), times structurally (BOT, EOT, years,
// year-months, dates, date-times, chronological within one precision); values of different kinds
// are equal. Each row's keys are read once before the sort.
//
// Asked for only the first `keep` rows, it keeps no more than those while it reads the rows, as
// long as every item's values are of one key kind (then the order is a strict weak order and the
// stable order is unique); otherwise it sorts them all. An item that repeats an earlier item's
// variable never decides an order, so only the first item of each variable is read.
//
// The keys and the sort's scratch are charged to the context's budget before they are made (the
// caller holds the bytes of the positions returned); the checks, the reading of the keys and the
// sort count their work on it.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <vector>

#include "construct/error.h"
#include "velquin/exec_context.h"
#include "velquin/query/query.h"

namespace brackwater::velquin::query {

// The positions 0..rows.size()-1 of `rows` (row indices into `table`) in sorted order; with `keep`,
// only the first `keep` of them.
construct::Result<std::vector<size_t>> order_permutation(const RowTable& table, std::span<const size_t> rows,
                                                         const std::vector<OrderItem>& items, const ExecContext& ctx,
                                                         std::optional<size_t> keep = std::nullopt);

}  // namespace brackwater::velquin::query
