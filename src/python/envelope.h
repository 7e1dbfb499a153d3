// The response envelope of execute_json, written as compact JSON:
//   {"python_interface_version":1,"velquin_version":1,"resolved_now":"...","warnings":[...],
//    "result_sets":[...]}
// `warnings` repeats the first result set's warnings (empty without result sets).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "velquin/result_set.h"

namespace brackwater::python {

// Appends the envelope of `sets` to `out`.
void append_execute_response_json(std::string& out, std::string_view resolved_now,
                                  const std::vector<velquin::ResultSet>& sets);
// The bytes append_execute_response_json appends, given `sets_bytes`, the bytes of the sets' JSON
// (each set as append_result_set_json writes it, a comma between two); given more, that much more.
uint64_t execute_response_json_size(std::string_view resolved_now, const std::vector<velquin::ResultSet>& sets,
                                    uint64_t sets_bytes);

}  // namespace brackwater::python
