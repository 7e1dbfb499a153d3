#include "literal/decimal.h"

#include <algorithm>

#include "literal/int_parse.h"

namespace brackwater::literal {

namespace {

constexpr std::string_view kEmptyNumber = "cannot parse a number from empty string";
constexpr std::string_view kScaleOverflow = "number exponent is out of range";

using Wide = __int128;

// Digits of `part` appended to `out`, skipping leading zeros while `out` is empty.
void append_significant(std::string& out, std::string_view part) {
  size_t i = 0;
  if (out.empty()) {
    while (i < part.size() && part[i] == '0') ++i;
  }
  out.append(part.substr(i));
}

bool all_digits(std::string_view s) {
  for (char c : s) {
    if (!is_ascii_digit(c)) return false;
  }
  return true;
}

}  // namespace

std::expected<Decimal, std::string_view> decode_decimal(std::string_view text) {
  size_t exp_at = text.find_first_of("eE");
  std::string_view base = text.substr(0, exp_at);
  int64_t exponent = 0;
  if (exp_at != std::string_view::npos) {
    std::string_view exp_text = text.substr(exp_at + 1);
    if (!exp_text.empty() && exp_text[0] == '+') exp_text.remove_prefix(1);
    auto parsed = parse_int<int64_t>(exp_text);
    if (!parsed) return std::unexpected(parsed.error());
    exponent = *parsed;
  }
  if (base.empty()) return std::unexpected(kEmptyNumber);
  Decimal out;
  if (base[0] == '+' || base[0] == '-') {
    out.negative = base[0] == '-';
    base.remove_prefix(1);
  }
  size_t dot = base.find('.');
  std::string_view whole = base.substr(0, dot);
  std::string_view fraction = dot == std::string_view::npos ? std::string_view{} : base.substr(dot + 1);
  if (whole.empty() && fraction.empty()) return std::unexpected(kIntInvalidDigit);
  if (!all_digits(whole) || !all_digits(fraction)) return std::unexpected(kIntInvalidDigit);
  Wide scale = Wide(fraction.size()) - exponent;
  if (scale < INT64_MIN || scale > INT64_MAX) return std::unexpected(kScaleOverflow);
  out.scale = static_cast<int64_t>(scale);
  append_significant(out.digits, whole);
  append_significant(out.digits, fraction);
  if (out.digits.empty()) out.negative = false;
  return out;
}

Parsed<Decimal> parse_big_number(std::string_view text) {
  auto value = decode_decimal(text);
  if (value) return std::move(*value);
  std::string message = "invalid number '";
  message.append(text).append("': ").append(value.error());
  return std::unexpected(std::move(message));
}

std::strong_ordering operator<=>(const Decimal& a, const Decimal& b) {
  int sign_a = a.is_zero() ? 0 : a.negative ? -1 : 1;
  int sign_b = b.is_zero() ? 0 : b.negative ? -1 : 1;
  if (sign_a != sign_b) return sign_a <=> sign_b;
  if (sign_a == 0) return std::strong_ordering::equal;
  // Same sign, both non-zero: compare the magnitudes by decimal exponent of the leading digit, then
  // digit by digit (the shorter mantissa padded with zeros).
  std::strong_ordering magnitude = std::strong_ordering::equal;
  Wide lead_a = Wide(a.digits.size()) - a.scale;
  Wide lead_b = Wide(b.digits.size()) - b.scale;
  if (lead_a != lead_b) {
    magnitude = lead_a <=> lead_b;
  } else {
    size_t n = std::max(a.digits.size(), b.digits.size());
    for (size_t i = 0; i < n && magnitude == 0; ++i) {
      char da = i < a.digits.size() ? a.digits[i] : '0';
      char db = i < b.digits.size() ? b.digits[i] : '0';
      magnitude = da <=> db;
    }
  }
  return a.negative ? 0 <=> magnitude : magnitude;
}

}  // namespace brackwater::literal
