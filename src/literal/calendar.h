// Proleptic Gregorian calendar arithmetic on 64-bit day counts.
//
// Day 0 is 1970-01-01. The conversions are exact for every int32 year. `is_valid_date` is the single
// check of a calendar date within the date range (kMinDateYear..kMaxDateYear) shared by the time
// parsers and the store decoder, so the two can never disagree.
#pragma once

#include <cstdint>

#include "literal/time_value.h"

namespace brackwater::literal {

struct CivilDate {
  int64_t year;
  unsigned month;  // 1..12
  unsigned day;    // 1..31
};

constexpr bool is_leap(int64_t year) { return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0); }

constexpr unsigned days_in_month(int64_t year, unsigned month) {
  constexpr unsigned char kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && is_leap(year) ? 29u : kDays[month - 1];
}

// Days since 1970-01-01 of a valid civil date.
constexpr int64_t days_from_civil(int64_t year, unsigned month, unsigned day) {
  year -= month <= 2;
  const int64_t era = (year >= 0 ? year : year - 399) / 400;
  const int64_t yoe = year - era * 400;                                      // [0, 399]
  const int64_t mp = month > 2 ? month - 3 : month + 9;                      // [0, 11]
  const int64_t doy = (153 * mp + 2) / 5 + day - 1;                          // [0, 365]
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;                 // [0, 146096]
  return era * 146097 + doe - 719468;
}

// The civil date of a day count.
constexpr CivilDate civil_from_days(int64_t days) {
  days += 719468;
  const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const int64_t doe = days - era * 146097;                                   // [0, 146096]
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365; // [0, 399]
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);               // [0, 365]
  const int64_t mp = (5 * doy + 2) / 153;                                    // [0, 11]
  const unsigned day = static_cast<unsigned>(doy - (153 * mp + 2) / 5 + 1);
  const unsigned month = static_cast<unsigned>(mp < 10 ? mp + 3 : mp - 9);
  return CivilDate{yoe + era * 400 + (month <= 2), month, day};
}

// A date that exists in the proleptic Gregorian calendar within kMinDateYear..kMaxDateYear.
constexpr bool is_valid_date(int32_t year, unsigned month, unsigned day) {
  return year >= kMinDateYear && year <= kMaxDateYear && month >= 1 && month <= 12 && day >= 1 &&
         day <= days_in_month(year, month);
}

}  // namespace brackwater::literal
