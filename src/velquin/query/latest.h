// The latest candidates of each appearance set (the "as of" supersession filter).
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "construct/records.h"

namespace brackwater::velquin::query {

// The positions, ascending, of the candidates to keep: candidate i is dropped when another position
// holds a Posit of the same appearance set whose time starts at or after i's time ends
// (TimeValue::ends_at_or_before_start of i's time and the other's). Equal or overlapping times all
// stay. The Posits' sets are catalog sets, so the same set is the same record. O(k log k) at most.
std::vector<uint32_t> retain_latest_candidates(std::span<const construct::PositRef> candidates);
// The same positions in place of the contents of `kept`.
void retain_latest_candidates(std::span<const construct::PositRef> candidates, std::vector<uint32_t>& kept);

}  // namespace brackwater::velquin::query
