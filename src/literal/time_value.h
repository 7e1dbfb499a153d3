// Time values: a point at one of six precisions, or one of the two open ends.
//
// Every chronological comparison goes through the half-open span [start, end) of a value. Two values
// are identical when their precision and fields are equal; identity (not the span) is what a Posit's
// key compares. Dates cover years kMinDateYear..kMaxDateYear; years and year-months any int32 year.
#pragma once

#include <compare>
#include <cstdint>
#include <expected>
#include <string>
#include <string_view>

namespace brackwater::literal {

enum class TimeTag : uint8_t {
  Bot = 0,
  Eot = 1,
  Year = 2,
  YearMonth = 3,
  Date = 4,
  DateTime = 5,
};

// The calendar range of dates and date-times (shared by the parsers and the store decoder).
inline constexpr int32_t kMinDateYear = -262144;
inline constexpr int32_t kMaxDateYear = 262143;

// One end of a span. Ordered by tag, then (finite only) year, month, day, hour, minute, second, ns.
struct TimeBound {
  uint32_t tag = 1;  // 0 minus infinity, 1 finite, 2 plus infinity
  int32_t year = 0;
  uint8_t month = 1, day = 1, hour = 0, minute = 0, second = 0;
  uint32_t nanos = 0;

  std::strong_ordering operator<=>(const TimeBound& other) const;
  bool operator==(const TimeBound& other) const { return (*this <=> other) == 0; }
};

struct TimeValue {
  int32_t year = 0;
  uint32_t secs = 0;   // date-time: seconds of the day, 0..86399
  uint32_t nanos = 0;  // date-time: 0..999,999,999, or up to 1,999,999,999 during a leap second
  TimeTag tag = TimeTag::Bot;
  uint8_t month = 0;
  uint8_t day = 0;

  static constexpr TimeValue bot() { return TimeValue{}; }
  static constexpr TimeValue eot() {
    TimeValue t;
    t.tag = TimeTag::Eot;
    return t;
  }
  static TimeValue of_year(int32_t year);
  static TimeValue of_year_month(int32_t year, uint8_t month);
  // Callers guarantee a valid date within the calendar range.
  static TimeValue of_date(int32_t year, uint8_t month, uint8_t day);
  static TimeValue of_date_time(int32_t year, uint8_t month, uint8_t day, uint32_t secs, uint32_t nanos);

  // Identity: same tag and same fields (unused fields are always zero).
  bool identical(const TimeValue& other) const;
  bool operator==(const TimeValue& other) const { return identical(other); }

  std::pair<TimeBound, TimeBound> bounds() const;

  static bool starts_at_or_after_end(const TimeValue& a, const TimeValue& b);
  static bool ends_at_or_before_start(const TimeValue& a, const TimeValue& b);
  static bool is_at_or_after(const TimeValue& a, const TimeValue& b);
  static bool is_at_or_before(const TimeValue& a, const TimeValue& b);
  static bool overlaps(const TimeValue& a, const TimeValue& b);

  // Display text: "BOT", "EOT", "2020", "2020-05", "0007-05-01", "2020-01-01 10:00:00.120".
  std::string display() const;

  // Structural order used for sorting records: precision first, then the fields.
  static std::strong_ordering structural_cmp(const TimeValue& a, const TimeValue& b);

  // Feeds the tag and fields into a hash writer with write_u64(uint64_t).
  template <class Hasher>
  void hash_into(Hasher& h) const {
    h.write_u64(static_cast<uint64_t>(tag));
    h.write_u64(static_cast<uint64_t>(static_cast<uint32_t>(year)));
    h.write_u64((uint64_t(month) << 8) | day);
    h.write_u64((uint64_t(secs) << 32) | nanos);
  }
};
static_assert(sizeof(TimeValue) == 16);

std::expected<TimeValue, std::string> parse_time_year(std::string_view text);
std::expected<TimeValue, std::string> parse_time_year_month(std::string_view text);
std::expected<TimeValue, std::string> parse_time_date(std::string_view text);
// The three date-time formats "%Y-%m-%d %H:%M:%S%.f", "%Y-%m-%d %H:%M:%S", "%Y-%m-%d %H:%M", tried in
// order over the whole body; an empty result when none applies.
std::expected<TimeValue, std::string> parse_datetime_formats(std::string_view body);

// The current UTC wall-clock time as a date-time.
TimeValue wall_clock_now();

}  // namespace brackwater::literal
