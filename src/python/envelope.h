// The response envelope of execute_json, written as compact JSON:
//   {"python_interface_version":1,"velquin_version":1,"resolved_now":"...","warnings":[...],
//    "result_sets":[...]}
// `warnings` repeats the first result set's warnings (empty without result sets).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "literal/json_writer.h"
#include "velquin/result_set.h"

namespace brackwater::python {

// Appends the envelope of `sets` to `out`.
void append_execute_response_json(std::string& out, std::string_view resolved_now,
                                  const std::vector<velquin::ResultSet>& sets);
// The size of what append_execute_response_json appends but for the first set's warnings and the
// sets (the items of the two arrays and the commas between them).
literal::JsonTextSize execute_response_envelope_size(std::string_view resolved_now);

}  // namespace brackwater::python
