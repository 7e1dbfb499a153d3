// Strict decimal integer parsing with fixed failure reasons.
//
// `parse_int<T>` reads the whole text as a base-10 integer of type T, left to right:
//   - the empty text fails with kIntEmpty;
//   - one leading "+" (or "-" for signed types) is set aside; a lone sign is an invalid digit;
//   - every further byte must be an ASCII digit, else kIntInvalidDigit at once;
//   - accumulation checks overflow per digit: kIntTooLarge above the maximum, kIntTooSmall below the
//     minimum (negative values accumulate downward).
// So "40000x" as int16_t is too large (overflow at the fifth digit, before the x) and " 5" is an
// invalid digit. No locale, no whitespace skipping, no allocation.
#pragma once

#include <concepts>
#include <cstdint>
#include <expected>
#include <string_view>

namespace brackwater::literal {

inline constexpr std::string_view kIntEmpty = "cannot parse integer from empty string";
inline constexpr std::string_view kIntInvalidDigit = "invalid digit found in string";
inline constexpr std::string_view kIntTooLarge = "number too large to fit in target type";
inline constexpr std::string_view kIntTooSmall = "number too small to fit in target type";

constexpr bool is_ascii_digit(char c) { return c >= '0' && c <= '9'; }

// The value, or one of the four reasons above.
template <std::integral T>
constexpr std::expected<T, std::string_view> parse_int(std::string_view text) {
  if (text.empty()) return std::unexpected(kIntEmpty);
  size_t i = 0;
  bool negative = false;
  if (text[0] == '+' || text[0] == '-') {
    if (text.size() == 1) return std::unexpected(kIntInvalidDigit);
    if (text[0] == '+') {
      i = 1;
    } else if constexpr (std::is_signed_v<T>) {
      negative = true;
      i = 1;
    }
  }
  T value = 0;
  for (; i < text.size(); ++i) {
    char c = text[i];
    if (!is_ascii_digit(c)) return std::unexpected(kIntInvalidDigit);
    T digit = static_cast<T>(c - '0');
    if (negative) {
      if (__builtin_mul_overflow(value, T(10), &value) || __builtin_sub_overflow(value, digit, &value))
        return std::unexpected(kIntTooSmall);
    } else {
      if (__builtin_mul_overflow(value, T(10), &value) || __builtin_add_overflow(value, digit, &value))
        return std::unexpected(kIntTooLarge);
    }
  }
  return value;
}

}  // namespace brackwater::literal
