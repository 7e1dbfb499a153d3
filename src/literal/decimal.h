// Exact decimal numbers: the value of integer, decimal and JSON number texts.
//
// A Decimal is sign, significant digits and a base-10 scale (value = digits x 10^-scale), compared
// exactly without arithmetic: 1.50 == 1.5, -0 == 0, 1e2 == 100, and 1e999999999 against 1 costs
// O(text length), never 10^k memory. The accepted grammar is [+-]? digits? (. digits?)? ([eE] [+-]?
// digits)? with at least one mantissa digit and an exponent that fits int64.
#pragma once

#include <compare>
#include <cstdint>
#include <expected>
#include <string>
#include <string_view>

#include "literal/literal.h"

namespace brackwater::literal {

struct Decimal {
  bool negative = false;  // never set for zero
  std::string digits;     // mantissa digits without leading zeros; empty for zero
  int64_t scale = 0;      // value = digits x 10^-scale

  bool is_zero() const { return digits.empty(); }
  friend std::strong_ordering operator<=>(const Decimal& a, const Decimal& b);
  friend bool operator==(const Decimal& a, const Decimal& b) { return (a <=> b) == 0; }
};

// The number, or a reason such as "invalid digit found in string" (without the text).
std::expected<Decimal, std::string_view> decode_decimal(std::string_view text);

// The number, or "invalid number '{text}': {reason}".
Parsed<Decimal> parse_big_number(std::string_view text);

}  // namespace brackwater::literal
