// Time arguments of the Python methods (`now`, `as_of`): a token resolved against the wall clock.
#pragma once

#include <optional>
#include <string>

#include "literal/time_value.h"
#include "python/host.h"

namespace brackwater::python {

// Resolves `token` ("@NOW" when absent) against `wall_clock`; when it names no time, raises
// ValueError "invalid <argument> time token '<token>'" and returns no value.
std::optional<literal::TimeValue> parse_time_argument(const std::optional<std::string>& token,
                                                      const literal::TimeValue& wall_clock, const char* argument);

}  // namespace brackwater::python
