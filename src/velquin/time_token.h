// Time tokens: the one parser that turns a time text of a script, a parameter or an argument into a
// TimeValue.
//
// parse_time_at_form deletes every "@" and accepts exactly "NOW" (the resolved now), "BOT" or "EOT";
// nothing is trimmed and case counts. parse_time_token tries, in order: the at-form on the untouched
// text; then, on the body (trimmed, trailing ")", ",", ";", "]" removed, trimmed again, one pair of
// enclosing single quotes removed), the date-time formats (body holds ':', '-' and ' '), a date (at
// least 8 characters, two '-', no ':'), a year-month (at least 6 characters, one '-', digits around
// it, month 1..12), a year (4 to 8 digits or '-'). Neither ever fails: "no time" is an empty result.
#pragma once

#include <optional>
#include <string_view>

#include "literal/time_value.h"

namespace brackwater::velquin {

std::optional<literal::TimeValue> parse_time_at_form(std::string_view text, const literal::TimeValue& now);

std::optional<literal::TimeValue> parse_time_token(std::string_view text, const literal::TimeValue& now);

// True as soon as a character of `text` is not an ASCII digit; false for the empty text.
bool has_non_digit(std::string_view text);

}  // namespace brackwater::velquin
