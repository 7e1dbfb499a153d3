// Number token texts as scripts write them.
//
// An `int` or `decimal` token can take blanks and comments into its text (after a one-digit number,
// between sign and digits, ...). cut_after_last_digit keeps the text up to its last ASCII digit that
// stands outside a comment, so a trailing blank or comment is dropped while anything between the
// digits stays (and is refused later). parse_limit reads a LIMIT: an optional "+", then ASCII digits
// only, at least one, no overflow of 64 bits; anything else gives no value.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace brackwater::velquin {

std::string_view cut_after_last_digit(std::string_view text);

std::optional<uint64_t> parse_limit(std::string_view text);

}  // namespace brackwater::velquin
