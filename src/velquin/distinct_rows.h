// Distinct result rows: which rows no earlier row repeats (same kind and text in every cell).
#pragma once

#include <vector>

#include "velquin/result_set.h"

namespace brackwater::velquin {

// first[i]: no row before i has the cells of row i. Expected linear time (hashing).
std::vector<bool> first_occurrences(const std::vector<ResultRow>& rows);

}  // namespace brackwater::velquin
