#include "literal/time_value.h"

#include <charconv>
#include <chrono>

#include "literal/calendar.h"

namespace brackwater::literal {

namespace {

constexpr uint32_t kSecsPerDay = 86400;
constexpr uint32_t kNanosPerSec = 1'000'000'000;
constexpr uint32_t kTagMinusInf = 0, kTagFinite = 1, kTagPlusInf = 2;

constexpr TimeBound infinite(uint32_t tag) {
  TimeBound b;
  b.tag = tag;
  return b;
}

constexpr TimeBound day_start(int32_t year, unsigned month, unsigned day) {
  TimeBound b;
  b.year = year;
  b.month = static_cast<uint8_t>(month);
  b.day = static_cast<uint8_t>(day);
  return b;
}

// Start of the day after (year, month, day); plus infinity past the last representable date.
constexpr TimeBound next_day_start(int32_t year, unsigned month, unsigned day) {
  if (day < days_in_month(year, month)) return day_start(year, month, day + 1);
  if (month < 12) return day_start(year, month + 1, 1);
  if (year >= kMaxDateYear) return infinite(kTagPlusInf);
  return day_start(year + 1, 1, 1);
}

constexpr TimeBound instant(int32_t year, unsigned month, unsigned day, uint32_t secs, uint32_t nanos) {
  TimeBound b = day_start(year, month, day);
  b.hour = static_cast<uint8_t>(secs / 3600);
  b.minute = static_cast<uint8_t>(secs / 60 % 60);
  b.second = static_cast<uint8_t>(secs % 60);
  b.nanos = nanos;
  return b;
}

void append_int(std::string& out, int64_t value) {
  char buf[24];
  auto res = std::to_chars(buf, buf + sizeof buf, value);
  out.append(buf, res.ptr);
}

// `value` (non-negative) in at least `width` digits with leading zeros.
void append_padded(std::string& out, uint64_t value, int width) {
  char buf[24];
  auto res = std::to_chars(buf, buf + sizeof buf, value);
  for (int n = static_cast<int>(res.ptr - buf); n < width; ++n) out.push_back('0');
  out.append(buf, res.ptr);
}

void append_date(std::string& out, int32_t year, unsigned month, unsigned day) {
  if (year >= 0 && year <= 9999) {
    append_padded(out, static_cast<uint64_t>(year), 4);
  } else {
    out.push_back(year < 0 ? '-' : '+');
    append_padded(out, year < 0 ? 0 - static_cast<uint64_t>(year) : static_cast<uint64_t>(year), 4);
  }
  out.push_back('-');
  append_padded(out, month, 2);
  out.push_back('-');
  append_padded(out, day, 2);
}

void append_time_of_day(std::string& out, uint32_t secs, uint32_t nanos) {
  uint32_t second = secs % 60;
  if (nanos >= kNanosPerSec) {  // a leap second shows as :60
    second += 1;
    nanos -= kNanosPerSec;
  }
  append_padded(out, secs / 3600, 2);
  out.push_back(':');
  append_padded(out, secs / 60 % 60, 2);
  out.push_back(':');
  append_padded(out, second, 2);
  if (nanos == 0) return;
  out.push_back('.');
  if (nanos % 1'000'000 == 0) {
    append_padded(out, nanos / 1'000'000, 3);
  } else if (nanos % 1'000 == 0) {
    append_padded(out, nanos / 1'000, 6);
  } else {
    append_padded(out, nanos, 9);
  }
}

}  // namespace

std::strong_ordering TimeBound::operator<=>(const TimeBound& other) const {
  if (tag != other.tag) return tag <=> other.tag;
  if (tag != kTagFinite) return std::strong_ordering::equal;
  if (auto c = year <=> other.year; c != 0) return c;
  if (auto c = month <=> other.month; c != 0) return c;
  if (auto c = day <=> other.day; c != 0) return c;
  if (auto c = hour <=> other.hour; c != 0) return c;
  if (auto c = minute <=> other.minute; c != 0) return c;
  if (auto c = second <=> other.second; c != 0) return c;
  return nanos <=> other.nanos;
}

TimeValue TimeValue::of_year(int32_t year) {
  TimeValue t;
  t.tag = TimeTag::Year;
  t.year = year;
  return t;
}

TimeValue TimeValue::of_year_month(int32_t year, uint8_t month) {
  TimeValue t = of_year(year);
  t.tag = TimeTag::YearMonth;
  t.month = month;
  return t;
}

TimeValue TimeValue::of_date(int32_t year, uint8_t month, uint8_t day) {
  TimeValue t = of_year_month(year, month);
  t.tag = TimeTag::Date;
  t.day = day;
  return t;
}

TimeValue TimeValue::of_date_time(int32_t year, uint8_t month, uint8_t day, uint32_t secs, uint32_t nanos) {
  TimeValue t = of_date(year, month, day);
  t.tag = TimeTag::DateTime;
  t.secs = secs;
  t.nanos = nanos;
  return t;
}

bool TimeValue::identical(const TimeValue& other) const {
  return tag == other.tag && year == other.year && month == other.month && day == other.day &&
         secs == other.secs && nanos == other.nanos;
}

std::pair<TimeBound, TimeBound> TimeValue::bounds() const {
  switch (tag) {
    case TimeTag::Bot: return {infinite(kTagMinusInf), infinite(kTagMinusInf)};
    case TimeTag::Eot: return {infinite(kTagPlusInf), infinite(kTagPlusInf)};
    case TimeTag::Year:
      return {day_start(year, 1, 1), year == INT32_MAX ? infinite(kTagPlusInf) : day_start(year + 1, 1, 1)};
    case TimeTag::YearMonth: {
      TimeBound end = month < 12        ? day_start(year, month + 1u, 1)
                      : year == INT32_MAX ? infinite(kTagPlusInf)
                                          : day_start(year + 1, 1, 1);
      return {day_start(year, month, 1), end};
    }
    case TimeTag::Date: return {day_start(year, month, day), next_day_start(year, month, day)};
    case TimeTag::DateTime: {
      TimeBound start = instant(year, month, day, secs, nanos);
      // One nanosecond later; the last nanosecond of a leap second carries into the next second.
      uint32_t end_secs = secs;
      uint32_t end_nanos = nanos + 1;
      if (end_nanos == kNanosPerSec || end_nanos == 2 * kNanosPerSec) {
        end_nanos = 0;
        end_secs += 1;
      }
      if (end_secs < kSecsPerDay) return {start, instant(year, month, day, end_secs, end_nanos)};
      return {start, next_day_start(year, month, day)};
    }
  }
  return {infinite(kTagMinusInf), infinite(kTagMinusInf)};
}

bool TimeValue::starts_at_or_after_end(const TimeValue& a, const TimeValue& b) {
  if (a.identical(b)) return false;
  return a.bounds().first >= b.bounds().second;
}

bool TimeValue::ends_at_or_before_start(const TimeValue& a, const TimeValue& b) {
  if (a.identical(b)) return false;
  return a.bounds().second <= b.bounds().first;
}

bool TimeValue::is_at_or_after(const TimeValue& a, const TimeValue& b) {
  if (a.identical(b)) return true;
  return a.bounds().first >= b.bounds().second;
}

bool TimeValue::is_at_or_before(const TimeValue& a, const TimeValue& b) {
  if (a.identical(b)) return true;
  return a.bounds().second <= b.bounds().first;
}

bool TimeValue::overlaps(const TimeValue& a, const TimeValue& b) {
  auto [a_start, a_end] = a.bounds();
  auto [b_start, b_end] = b.bounds();
  return a_start < b_end && b_start < a_end;
}

std::string TimeValue::display() const {
  std::string out;
  switch (tag) {
    case TimeTag::Bot: out = "BOT"; break;
    case TimeTag::Eot: out = "EOT"; break;
    case TimeTag::Year: append_int(out, year); break;
    case TimeTag::YearMonth:
      append_int(out, year);
      out.push_back('-');
      append_padded(out, month, 2);
      break;
    case TimeTag::Date: append_date(out, year, month, day); break;
    case TimeTag::DateTime:
      out.reserve(32);
      append_date(out, year, month, day);
      out.push_back(' ');
      append_time_of_day(out, secs, nanos);
      break;
  }
  return out;
}

std::strong_ordering TimeValue::structural_cmp(const TimeValue& a, const TimeValue& b) {
  // Fields a precision does not use are zero, so comparing all of them in order is exact.
  if (auto c = a.tag <=> b.tag; c != 0) return c;
  if (auto c = a.year <=> b.year; c != 0) return c;
  if (auto c = a.month <=> b.month; c != 0) return c;
  if (auto c = a.day <=> b.day; c != 0) return c;
  if (auto c = a.secs <=> b.secs; c != 0) return c;
  return a.nanos <=> b.nanos;
}

TimeValue wall_clock_now() {
  const int64_t ns = std::chrono::duration_cast<std::chrono::nanoseconds>(
                         std::chrono::system_clock::now().time_since_epoch())
                         .count();
  constexpr int64_t kNanosPerDay = int64_t{kSecsPerDay} * kNanosPerSec;
  int64_t days = ns / kNanosPerDay;
  int64_t rest = ns % kNanosPerDay;
  if (rest < 0) {
    rest += kNanosPerDay;
    days -= 1;
  }
  CivilDate date = civil_from_days(days);
  return TimeValue::of_date_time(static_cast<int32_t>(date.year), static_cast<uint8_t>(date.month),
                      static_cast<uint8_t>(date.day), static_cast<uint32_t>(rest / kNanosPerSec),
                      static_cast<uint32_t>(rest % kNanosPerSec));
}

}  // namespace brackwater::literal
