// Timeouts given in seconds as a float, turned into exact durations.
//
// NaN, the infinities, both zeros and every negative value are refused ("{} must be a finite
// positive number of seconds"); values of 2^64 seconds or more too ("{} is outside the supported
// duration range"). The exact binary value is split into whole seconds and nanoseconds, the fraction
// rounded to the nearest nanosecond with ties to even (a carry of 1 s included); a positive value
// below half a nanosecond becomes the zero duration.
#pragma once

#include <expected>
#include <string>
#include <string_view>

#include "construct/deadline.h"

namespace brackwater::python {

std::expected<construct::Duration, std::string> seconds_to_duration(double seconds, std::string_view name);

}  // namespace brackwater::python
