// Exact decimal numbers: the value of integer, decimal and JSON number texts.
//
// A number is sign, significant digits and a base-10 scale (value = digits x 10^-scale), compared
// exactly without arithmetic: 1.50 == 1.5, -0 == 0, 1e2 == 100, and 1e999999999 against 1 costs
// O(text length), never 10^k memory. The accepted grammar is [+-]? digits? (. digits?)? ([eE] [+-]?
// digits)? with at least one mantissa digit, an exponent that fits int64 and a scale that fits int64.
#pragma once

#include <compare>
#include <cstdint>
#include <expected>
#include <string>
#include <string_view>

#include "literal/literal.h"

namespace brackwater::literal {

// A number read in place from its text, without allocation; valid while the text lives.
struct DecimalView {
  bool negative = false;      // never set for zero
  std::string_view whole;     // digits before the point, leading zeros removed
  std::string_view fraction;  // digits after the point; leading zeros removed too when `whole` is empty
  int64_t scale = 0;          // value = (whole followed by fraction) x 10^-scale

  bool is_zero() const { return whole.empty() && fraction.empty(); }
  friend std::strong_ordering operator<=>(const DecimalView& a, const DecimalView& b);
  friend bool operator==(const DecimalView& a, const DecimalView& b) { return (a <=> b) == 0; }
};

// The number, or a reason such as "invalid digit found in string" (without the text).
std::expected<DecimalView, std::string_view> view_decimal(std::string_view text);

// An owned number.
struct Decimal {
  bool negative = false;  // never set for zero
  std::string digits;     // mantissa digits without leading zeros; empty for zero
  int64_t scale = 0;      // value = digits x 10^-scale

  bool is_zero() const { return digits.empty(); }
  DecimalView view() const { return DecimalView{negative, digits, {}, scale}; }
  friend std::strong_ordering operator<=>(const Decimal& a, const Decimal& b) { return a.view() <=> b.view(); }
  friend bool operator==(const Decimal& a, const Decimal& b) { return a.view() == b.view(); }
};

// "invalid number '{text}': {reason}".
std::string invalid_number_message(std::string_view text, std::string_view reason);

// The number, or "invalid number '{text}': {reason}".
Parsed<Decimal> parse_big_number(std::string_view text);

}  // namespace brackwater::literal
