// Parsers of the year, year-month, date and date-time texts of time tokens.
//
// The date and date-time parsers follow the usual strftime-style item rules: a number may be preceded
// by White_Space; "%Y" takes 1 to 4 digits, or any number of digits after an explicit sign; the
// other fields take 1 or 2 digits; a space item skips any run of White_Space (possibly none); a
// literal must match exactly; the whole text must be consumed.
#include <string>

#include "literal/calendar.h"
#include "literal/int_parse.h"
#include "literal/time_value.h"
#include "literal/unicode.h"

namespace brackwater::literal {

namespace {

constexpr std::string_view kOutOfRange = "input is out of range";
constexpr std::string_view kInvalid = "input contains invalid characters";
constexpr std::string_view kTooShort = "premature end of input";
constexpr std::string_view kTooLong = "trailing input";

std::string quoted_message(std::string_view head, std::string_view text, std::string_view tail) {
  std::string out;
  out.reserve(head.size() + text.size() + tail.size() + 1);
  out.append(head).append(text).push_back('\'');
  out.append(tail);
  return out;
}

std::string reason_message(std::string_view head, std::string_view text, std::string_view reason) {
  std::string out = quoted_message(head, text, ": ");
  out.append(reason);
  return out;
}

// Cursor over a date or date-time text.
class ItemScanner {
 public:
  explicit ItemScanner(std::string_view text) : text_(text) {}

  void skip_space() {
    while (pos_ < text_.size()) {
      size_t len = white_space_length(text_, pos_);
      if (len == 0) break;
      pos_ += len;
    }
  }

  // A number of `min_digits`..`max_digits` ASCII digits after optional White_Space; a signed number
  // may carry an explicit "+" or "-", which lifts the digit limit.
  std::string_view number(bool allow_sign, size_t max_digits, int64_t& value) {
    skip_space();
    bool negative = false;
    if (allow_sign && pos_ < text_.size() && (text_[pos_] == '+' || text_[pos_] == '-')) {
      negative = text_[pos_] == '-';
      ++pos_;
      max_digits = SIZE_MAX;
    }
    if (pos_ >= text_.size()) return kTooShort;
    size_t digits = 0;
    int64_t n = 0;
    while (digits < max_digits && pos_ < text_.size() && is_ascii_digit(text_[pos_])) {
      if (__builtin_mul_overflow(n, int64_t{10}, &n) || __builtin_add_overflow(n, text_[pos_] - '0', &n))
        return kOutOfRange;
      ++pos_;
      ++digits;
    }
    if (digits == 0) return kInvalid;
    value = negative ? -n : n;
    return {};
  }

  std::string_view literal(char c) {
    if (pos_ >= text_.size()) return kTooShort;
    if (text_[pos_] != c) return kInvalid;
    ++pos_;
    return {};
  }

  // "%.f": nothing, or "." and 1 to 9 significant digits (further digits are skipped).
  std::string_view fraction(uint32_t& nanos) {
    nanos = 0;
    if (pos_ >= text_.size() || text_[pos_] != '.') return {};
    ++pos_;
    if (pos_ >= text_.size()) return kTooShort;
    if (!is_ascii_digit(text_[pos_])) return kInvalid;
    uint32_t scale = 100'000'000;
    for (int i = 0; i < 9 && pos_ < text_.size() && is_ascii_digit(text_[pos_]); ++i, ++pos_, scale /= 10) {
      nanos += static_cast<uint32_t>(text_[pos_] - '0') * scale;
    }
    while (pos_ < text_.size() && is_ascii_digit(text_[pos_])) ++pos_;
    return {};
  }

  bool at_end() const { return pos_ == text_.size(); }

 private:
  std::string_view text_;
  size_t pos_ = 0;
};

#define BW_TRY_ITEM(expr)              \
  do {                                 \
    std::string_view failure_ = (expr); \
    if (!failure_.empty()) return std::unexpected(failure_); \
  } while (0)

struct Ymd {
  int32_t year;
  uint8_t month, day;
};

std::expected<int32_t, std::string_view> read_year(ItemScanner& scan) {
  int64_t v = 0;
  BW_TRY_ITEM(scan.number(true, 4, v));
  if (v < INT32_MIN || v > INT32_MAX) return std::unexpected(kOutOfRange);
  return static_cast<int32_t>(v);
}

std::expected<uint32_t, std::string_view> read_field(ItemScanner& scan, int64_t lo, int64_t hi) {
  int64_t v = 0;
  BW_TRY_ITEM(scan.number(false, 2, v));
  if (v < lo || v > hi) return std::unexpected(kOutOfRange);
  return static_cast<uint32_t>(v);
}

// Year "-" month "-" day, with optional White_Space after each number when `spaces` is set.
std::expected<Ymd, std::string_view> read_ymd(ItemScanner& scan, bool spaces) {
  auto year = read_year(scan);
  if (!year) return std::unexpected(year.error());
  if (spaces) scan.skip_space();
  BW_TRY_ITEM(scan.literal('-'));
  auto month = read_field(scan, 1, 12);
  if (!month) return std::unexpected(month.error());
  if (spaces) scan.skip_space();
  BW_TRY_ITEM(scan.literal('-'));
  auto day = read_field(scan, 1, 31);
  if (!day) return std::unexpected(day.error());
  if (spaces) scan.skip_space();
  return Ymd{*year, static_cast<uint8_t>(*month), static_cast<uint8_t>(*day)};
}

std::expected<Ymd, std::string_view> checked_date(Ymd ymd) {
  if (!is_valid_date(ymd.year, ymd.month, ymd.day)) return std::unexpected(kOutOfRange);
  return ymd;
}

enum class DateTimeForm { WithFraction, Seconds, Minutes };

std::expected<TimeValue, std::string_view> parse_datetime_form(std::string_view body, DateTimeForm form) {
  ItemScanner scan(body);
  auto ymd = read_ymd(scan, false);
  if (!ymd) return std::unexpected(ymd.error());
  scan.skip_space();
  auto hour = read_field(scan, 0, 23);
  if (!hour) return std::unexpected(hour.error());
  BW_TRY_ITEM(scan.literal(':'));
  auto minute = read_field(scan, 0, 59);
  if (!minute) return std::unexpected(minute.error());
  uint32_t second = 0;
  uint32_t nanos = 0;
  if (form != DateTimeForm::Minutes) {
    BW_TRY_ITEM(scan.literal(':'));
    auto s = read_field(scan, 0, 60);
    if (!s) return std::unexpected(s.error());
    second = *s;
    if (form == DateTimeForm::WithFraction) BW_TRY_ITEM(scan.fraction(nanos));
  }
  if (!scan.at_end()) return std::unexpected(kTooLong);
  auto date = checked_date(*ymd);
  if (!date) return std::unexpected(date.error());
  if (second == 60) {  // a leap second: the 59th second plus a whole second of nanoseconds
    second = 59;
    nanos += 1'000'000'000;
  }
  return TimeValue::of_date_time(date->year, date->month, date->day, *hour * 3600 + *minute * 60 + second, nanos);
}

#undef BW_TRY_ITEM

}  // namespace

std::expected<TimeValue, std::string> parse_time_year(std::string_view text) {
  auto year = parse_int<int32_t>(text);
  if (!year) return std::unexpected(reason_message("invalid year '", text, year.error()));
  return TimeValue::of_year(*year);
}

std::expected<TimeValue, std::string> parse_time_year_month(std::string_view text) {
  size_t dash = text.find('-');
  if (dash == std::string_view::npos) return std::unexpected(quoted_message("invalid year-month '", text, ""));
  auto year = parse_int<int32_t>(text.substr(0, dash));
  if (!year) return std::unexpected(reason_message("invalid year in '", text, year.error()));
  auto month = parse_int<uint8_t>(text.substr(dash + 1));
  if (!month) return std::unexpected(reason_message("invalid month in '", text, month.error()));
  if (*month < 1 || *month > 12) return std::unexpected(quoted_message("month is outside 01..12 in '", text, ""));
  return TimeValue::of_year_month(*year, *month);
}

std::expected<TimeValue, std::string> parse_time_date(std::string_view text) {
  ItemScanner scan(text);
  auto ymd = read_ymd(scan, true);
  std::string_view failure;
  if (!ymd) {
    failure = ymd.error();
  } else if (!scan.at_end()) {
    failure = kTooLong;
  } else if (auto date = checked_date(*ymd); !date) {
    failure = date.error();
  } else {
    return TimeValue::of_date(date->year, date->month, date->day);
  }
  return std::unexpected(reason_message("invalid date '", text, failure));
}

std::expected<TimeValue, std::string> parse_datetime_formats(std::string_view body) {
  std::string_view failure;
  for (DateTimeForm form : {DateTimeForm::WithFraction, DateTimeForm::Seconds, DateTimeForm::Minutes}) {
    auto value = parse_datetime_form(body, form);
    if (value) return *value;
    failure = value.error();
  }
  return std::unexpected(reason_message("invalid date-time '", body, failure));
}

}  // namespace brackwater::literal
