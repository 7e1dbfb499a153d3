#include "literal/decimal.h"

#include <algorithm>

#include "literal/int_parse.h"

namespace brackwater::literal {

namespace {

constexpr std::string_view kEmptyNumber = "cannot parse a number from empty string";
constexpr std::string_view kScaleOverflow = "number exponent is out of range";

using Wide = __int128;

bool all_digits(std::string_view s) {
  for (char c : s) {
    if (!is_ascii_digit(c)) return false;
  }
  return true;
}

std::string_view strip_leading_zeros(std::string_view s) {
  size_t i = 0;
  while (i < s.size() && s[i] == '0') ++i;
  return s.substr(i);
}

// Walks the significant digits of a view, which lie in up to two pieces.
struct DigitCursor {
  std::string_view pieces[2];
  int piece = 0;
  size_t offset = 0;

  explicit DigitCursor(const DecimalView& v) : pieces{v.whole, v.fraction} { settle(); }
  void settle() {
    while (piece < 2 && offset == pieces[piece].size()) {
      ++piece;
      offset = 0;
    }
  }
  bool done() const { return piece == 2; }
  std::string_view run() const { return pieces[piece].substr(offset); }
  void skip(size_t n) {
    offset += n;
    settle();
  }
  bool rest_is_zero() {
    for (; !done(); skip(run().size())) {
      if (run().find_first_not_of('0') != std::string_view::npos) return false;
    }
    return true;
  }
};

// Digit-by-digit order of two mantissas whose leading digits have the same decimal position; the
// shorter one counts as padded with zeros.
std::strong_ordering compare_digits(const DecimalView& a, const DecimalView& b) {
  DigitCursor x(a), y(b);
  while (!x.done() && !y.done()) {
    std::string_view rx = x.run(), ry = y.run();
    size_t n = std::min(rx.size(), ry.size());
    if (int c = rx.substr(0, n).compare(ry.substr(0, n)); c != 0) return c <=> 0;
    x.skip(n);
    y.skip(n);
  }
  if (!x.done()) return x.rest_is_zero() ? std::strong_ordering::equal : std::strong_ordering::greater;
  if (!y.done()) return y.rest_is_zero() ? std::strong_ordering::equal : std::strong_ordering::less;
  return std::strong_ordering::equal;
}

}  // namespace

std::expected<DecimalView, std::string_view> view_decimal(std::string_view text) {
  size_t exp_at = 0;
  while (exp_at < text.size() && text[exp_at] != 'e' && text[exp_at] != 'E') ++exp_at;
  std::string_view base = text.substr(0, exp_at);
  int64_t exponent = 0;
  if (exp_at < text.size()) {
    std::string_view exp_text = text.substr(exp_at + 1);
    if (!exp_text.empty() && exp_text[0] == '+') exp_text.remove_prefix(1);
    auto parsed = parse_int<int64_t>(exp_text);
    if (!parsed) return std::unexpected(parsed.error());
    exponent = *parsed;
  }
  if (base.empty()) return std::unexpected(kEmptyNumber);
  DecimalView out;
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
  out.whole = strip_leading_zeros(whole);
  out.fraction = out.whole.empty() ? strip_leading_zeros(fraction) : fraction;
  if (out.is_zero()) out.negative = false;
  return out;
}

std::string invalid_number_message(std::string_view text, std::string_view reason) {
  std::string message = "invalid number '";
  message.append(text).append("': ").append(reason);
  return message;
}

Parsed<Decimal> parse_big_number(std::string_view text) {
  auto value = view_decimal(text);
  if (!value) return std::unexpected(invalid_number_message(text, value.error()));
  Decimal out;
  out.negative = value->negative;
  out.digits.reserve(value->whole.size() + value->fraction.size());
  out.digits.append(value->whole).append(value->fraction);
  out.scale = value->scale;
  return out;
}

std::strong_ordering operator<=>(const DecimalView& a, const DecimalView& b) {
  int sign_a = a.is_zero() ? 0 : a.negative ? -1 : 1;
  int sign_b = b.is_zero() ? 0 : b.negative ? -1 : 1;
  if (sign_a != sign_b) return sign_a <=> sign_b;
  if (sign_a == 0) return std::strong_ordering::equal;
  // Same sign, both non-zero: compare the magnitudes by the decimal position of the leading digit,
  // then digit by digit (the shorter mantissa padded with zeros).
  const size_t len_a = a.whole.size() + a.fraction.size();
  const size_t len_b = b.whole.size() + b.fraction.size();
  std::strong_ordering magnitude = (Wide(len_a) - a.scale) <=> (Wide(len_b) - b.scale);
  if (magnitude == 0) magnitude = compare_digits(a, b);
  return a.negative ? 0 <=> magnitude : magnitude;
}

}  // namespace brackwater::literal
