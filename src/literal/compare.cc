#include "literal/compare.h"

#include <cstdint>
#include <optional>

#include "literal/certainty.h"
#include "literal/decimal.h"
#include "literal/int_parse.h"
#include "literal/json.h"
#include "literal/json_string.h"

namespace brackwater::literal {

namespace {

bool is_number(LiteralKind kind) { return kind == LiteralKind::Integer || kind == LiteralKind::Decimal; }

std::string pair_message(std::string_view head, const Literal& a, const Literal& b) {
  std::string out(head);
  out.append(family_name(a.kind)).append(" and ").append(family_name(b.kind));
  return out;
}

// A plain number of at most 18 significant characters, [+-]?digits(.digits)?, as mantissa x 10^-scale.
struct SmallNumber {
  int64_t mantissa;
  int scale;
};

std::optional<SmallNumber> small_number(std::string_view text) {
  size_t i = 0;
  bool negative = false;
  if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
    negative = text[0] == '-';
    i = 1;
  }
  int64_t mantissa = 0;
  int digits = 0, scale = 0;
  bool seen_dot = false, digit_before_dot = false;
  for (; i < text.size(); ++i) {
    char c = text[i];
    if (is_ascii_digit(c)) {
      if (++digits > 18) return std::nullopt;
      mantissa = mantissa * 10 + (c - '0');
      if (seen_dot) ++scale; else digit_before_dot = true;
    } else if (c == '.' && !seen_dot && digit_before_dot) {
      seen_dot = true;
    } else {
      return std::nullopt;
    }
  }
  if (!digit_before_dot || (seen_dot && scale == 0)) return std::nullopt;
  return SmallNumber{negative ? -mantissa : mantissa, scale};
}

std::strong_ordering compare_small(SmallNumber a, SmallNumber b) {
  __int128 x = a.mantissa, y = b.mantissa;
  for (int s = a.scale; s < b.scale; ++s) x *= 10;
  for (int s = b.scale; s < a.scale; ++s) y *= 10;
  return x <=> y;
}

Parsed<std::strong_ordering> compare_numbers(const Literal& a, const Literal& b) {
  auto small_a = small_number(a.text);
  auto small_b = small_a ? small_number(b.text) : std::nullopt;
  if (small_a && small_b) return compare_small(*small_a, *small_b);
  auto x = view_decimal(a.text);
  if (!x) return std::unexpected(invalid_number_message(a.text, x.error()));
  auto y = view_decimal(b.text);
  if (!y) return std::unexpected(invalid_number_message(b.text, y.error()));
  return *x <=> *y;
}

Parsed<std::strong_ordering> compare_certainties(const Literal& a, const Literal& b) {
  auto x = parse_certainty(a.text);
  if (!x) return std::unexpected(std::move(x.error()));
  auto y = parse_certainty(b.text);
  if (!y) return std::unexpected(std::move(y.error()));
  return *x <=> *y;
}

Parsed<bool> equal_strings(const Literal& a, const Literal& b) {
  std::string scratch_a, scratch_b;
  auto x = decode_string_literal(a.text, scratch_a);
  if (!x) return std::unexpected(invalid_string_message(a.text, x.error()));
  auto y = decode_string_literal(b.text, scratch_b);
  if (!y) return std::unexpected(invalid_string_message(b.text, y.error()));
  return *x == *y;
}

Parsed<bool> equal_json(const Literal& a, const Literal& b) {
  auto x = parse_json_literal(a.text);
  if (!x) return std::unexpected(std::move(x.error()));
  auto y = parse_json_literal(b.text);
  if (!y) return std::unexpected(std::move(y.error()));
  return json_equal(*x, *y);
}

}  // namespace

Parsed<std::strong_ordering> compare_order(const Literal& a, const Literal& b) {
  if (is_number(a.kind) && is_number(b.kind)) return compare_numbers(a, b);
  if (a.kind == LiteralKind::Certainty && b.kind == LiteralKind::Certainty) return compare_certainties(a, b);
  return std::unexpected(pair_message("ordering is unsupported between ", a, b));
}

Parsed<bool> compare_nominal(const Literal& a, const Literal& b) {
  if (is_number(a.kind) && is_number(b.kind)) {
    auto order = compare_numbers(a, b);
    if (!order) return std::unexpected(std::move(order.error()));
    return *order == 0;
  }
  if (a.kind == b.kind) {
    switch (a.kind) {
      case LiteralKind::String: return equal_strings(a, b);
      case LiteralKind::Certainty: {
        auto order = compare_certainties(a, b);
        if (!order) return std::unexpected(std::move(order.error()));
        return *order == 0;
      }
      case LiteralKind::Json: return equal_json(a, b);
      case LiteralKind::Time: return a.text == b.text;
      default: break;
    }
  }
  return std::unexpected(pair_message("unsupported nominal comparison between ", a, b));
}

}  // namespace brackwater::literal
