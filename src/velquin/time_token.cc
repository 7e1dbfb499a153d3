#include "velquin/time_token.h"

#include <algorithm>

#include "literal/unicode.h"

namespace brackwater::velquin {

using literal::TimeValue;

namespace {

// Number of Unicode scalar values (UTF-8 lead bytes) in `text`.
size_t char_count(std::string_view text) {
  size_t n = 0;
  for (char c : text) n += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  return n;
}

bool is_trailing_closer(char c) { return c == ')' || c == ',' || c == ';' || c == ']'; }

std::string_view time_body(std::string_view text) {
  std::string_view body = literal::trim_white_space(text);
  while (!body.empty() && is_trailing_closer(body.back())) body.remove_suffix(1);
  body = literal::trim_white_space(body);
  if (body.size() >= 2 && body.front() == '\'' && body.back() == '\'') body = body.substr(1, body.size() - 2);
  return body;
}

// The month test of the year-month step: digits only (checked by the caller), read as an unsigned
// 8-bit number, 1 to 12.
bool is_month_number(std::string_view digits) {
  if (digits.empty()) return false;
  unsigned value = 0;
  for (char c : digits) {
    value = value * 10 + static_cast<unsigned>(c - '0');
    if (value > 255) return false;
  }
  return value >= 1 && value <= 12;
}

template <class Parsed>
std::optional<TimeValue> value_or_none(const Parsed& parsed) {
  if (!parsed) return std::nullopt;
  return *parsed;
}

}  // namespace

bool has_non_digit(std::string_view text) {
  return std::any_of(text.begin(), text.end(), [](char c) { return c < '0' || c > '9'; });
}

std::optional<TimeValue> parse_time_at_form(std::string_view text, const TimeValue& now) {
  char word[3];
  size_t n = 0;
  for (char c : text) {
    if (c == '@') continue;
    if (n == 3) return std::nullopt;
    word[n++] = c;
  }
  if (n != 3) return std::nullopt;
  std::string_view w(word, 3);
  if (w == "NOW") return now;
  if (w == "BOT") return TimeValue::bot();
  if (w == "EOT") return TimeValue::eot();
  return std::nullopt;
}

std::optional<TimeValue> parse_time_token(std::string_view text, const TimeValue& now) {
  if (auto at = parse_time_at_form(text, now)) return at;
  const std::string_view body = time_body(text);
  const bool colon = body.find(':') != std::string_view::npos;
  const bool blank = body.find(' ') != std::string_view::npos;
  const auto hyphens = static_cast<size_t>(std::count(body.begin(), body.end(), '-'));

  if (colon && hyphens > 0 && blank) {
    if (auto dt = literal::parse_datetime_formats(body)) return *dt;
  }
  const size_t chars = char_count(body);
  if (chars >= 8 && hyphens == 2 && !colon) {
    if (auto date = literal::parse_time_date(body)) return *date;
  }
  if (chars >= 6 && hyphens == 1 && !colon) {
    const size_t dash = body.find('-');
    const std::string_view before = body.substr(0, dash);
    const std::string_view after = body.substr(dash + 1);
    if (!has_non_digit(before) && !has_non_digit(after) && is_month_number(after)) {
      return value_or_none(literal::parse_time_year_month(body));
    }
  }
  if (chars >= 4 && chars <= 8 &&
      std::all_of(body.begin(), body.end(), [](char c) { return (c >= '0' && c <= '9') || c == '-'; })) {
    return value_or_none(literal::parse_time_year(body));
  }
  return std::nullopt;
}

}  // namespace brackwater::velquin
