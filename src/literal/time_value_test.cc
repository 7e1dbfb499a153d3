#include "literal/time_value.h"

#include <gtest/gtest.h>

#include <type_traits>

namespace brackwater::literal {
namespace {

static_assert(std::is_trivially_copyable_v<TimeValue>);

TimeValue Y(int32_t y) { return TimeValue::of_year(y); }
TimeValue YM(int32_t y, uint8_t m) { return TimeValue::of_year_month(y, m); }
TimeValue D(int32_t y, uint8_t m, uint8_t d) { return TimeValue::of_date(y, m, d); }
TimeValue DT(int32_t y, uint8_t m, uint8_t d, uint32_t h, uint32_t mi, uint32_t s, uint32_t ns = 0) {
  return TimeValue::of_date_time(y, m, d, h * 3600 + mi * 60 + s, ns);
}

TimeBound B(int32_t y, uint8_t mo, uint8_t d, uint8_t h = 0, uint8_t mi = 0, uint8_t s = 0, uint32_t ns = 0) {
  TimeBound b;
  b.year = y;
  b.month = mo;
  b.day = d;
  b.hour = h;
  b.minute = mi;
  b.second = s;
  b.nanos = ns;
  return b;
}
TimeBound Inf(uint32_t tag) {
  TimeBound b;
  b.tag = tag;
  return b;
}

TEST(TimeBound, InfiniteBoundsOfOneTagAreEqualWhateverTheirFields) {
  TimeBound a = Inf(2), b = Inf(2);
  b.year = 99;
  b.nanos = 5;
  EXPECT_EQ(a, b);
  EXPECT_LT(Inf(0), B(INT32_MIN, 1, 1));
  EXPECT_GT(Inf(2), B(INT32_MAX, 12, 31, 23, 59, 59, 1'999'999'999));
  EXPECT_LT(B(-1, 12, 31), B(0, 1, 1));  // the year is signed
  EXPECT_LT(B(2020, 1, 1, 23, 59, 59, 999'999'999), B(2020, 1, 1, 23, 59, 59, 1'000'000'000));
}

TEST(TimeValue, Spans) {
  EXPECT_EQ(Y(2020).bounds(), std::make_pair(B(2020, 1, 1), B(2021, 1, 1)));
  EXPECT_EQ(Y(INT32_MAX).bounds().second, Inf(2));
  EXPECT_EQ(YM(2020, 5).bounds(), std::make_pair(B(2020, 5, 1), B(2020, 6, 1)));
  EXPECT_EQ(YM(2020, 12).bounds().second, B(2021, 1, 1));
  EXPECT_EQ(YM(INT32_MAX, 12).bounds().second, Inf(2));
  EXPECT_EQ(D(2021, 2, 28).bounds().second, B(2021, 3, 1));
  EXPECT_EQ(D(2020, 12, 31).bounds().second, B(2021, 1, 1));
  EXPECT_EQ(D(kMaxDateYear, 12, 31).bounds().second, Inf(2));
  EXPECT_EQ(DT(2020, 1, 1, 10, 20, 30, 5).bounds(),
            std::make_pair(B(2020, 1, 1, 10, 20, 30, 5), B(2020, 1, 1, 10, 20, 30, 6)));
  EXPECT_EQ(DT(2020, 1, 1, 10, 20, 30, 999'999'999).bounds().second, B(2020, 1, 1, 10, 20, 31));
  EXPECT_EQ(DT(2020, 12, 31, 23, 59, 59, 999'999'999).bounds().second, B(2021, 1, 1));
  // Inside a leap second the end stays in it; its last nanosecond carries into the next second.
  EXPECT_EQ(DT(2016, 12, 31, 23, 59, 59, 1'500'000'000).bounds().second, B(2016, 12, 31, 23, 59, 59, 1'500'000'001));
  EXPECT_EQ(DT(2016, 12, 31, 23, 59, 59, 1'999'999'999).bounds().second, B(2017, 1, 1));
  EXPECT_EQ(DT(kMaxDateYear, 12, 31, 23, 59, 59, 999'999'999).bounds().second, Inf(2));
  EXPECT_EQ(TimeValue::bot().bounds(), std::make_pair(Inf(0), Inf(0)));
  EXPECT_EQ(TimeValue::eot().bounds(), std::make_pair(Inf(2), Inf(2)));
}

struct Relations {
  bool after_end, before_start, at_or_after, at_or_before, overlaps;
  bool operator==(const Relations&) const = default;
};
std::ostream& operator<<(std::ostream& os, const Relations& r) {
  return os << r.after_end << r.before_start << r.at_or_after << r.at_or_before << r.overlaps;
}
Relations relate(const TimeValue& a, const TimeValue& b) {
  return {TimeValue::starts_at_or_after_end(a, b), TimeValue::ends_at_or_before_start(a, b),
          TimeValue::is_at_or_after(a, b), TimeValue::is_at_or_before(a, b), TimeValue::overlaps(a, b)};
}

TEST(TimeValue, RelationsAndIdentityRules) {
  const TimeValue bot = TimeValue::bot(), eot = TimeValue::eot();
  struct Case {
    TimeValue a, b;
    Relations expected;
  } cases[] = {
      // identical values: at-or relations true, strict ones false, overlap by spans
      {bot, bot, {false, false, true, true, false}},
      {DT(2020, 1, 1, 0, 0, 0), DT(2020, 1, 1, 0, 0, 0), {false, false, true, true, true}},
      // overlapping precisions
      {Y(2020), D(2020, 6, 1), {false, false, false, false, true}},
      {D(2020, 12, 31), Y(2021), {false, true, false, true, false}},
      {Y(2021), D(2020, 12, 31), {true, false, true, false, false}},
      // one nanosecond apart: adjacent, not overlapping
      {DT(2020, 1, 1, 0, 0, 0, 0), DT(2020, 1, 1, 0, 0, 0, 1), {false, true, false, true, false}},
      // the open ends
      {eot, Y(1), {true, false, true, false, false}},
      {bot, eot, {false, true, false, true, false}},
      // the same span at different precisions is not identical
      {YM(2020, 1), D(2020, 1, 1), {false, false, false, false, true}},
      // years far outside the date range still relate through their bounds
      {Y(INT32_MAX), D(2020, 1, 1), {true, false, true, false, false}},
      // the last date ends at plus infinity, so it overlaps every later year
      {Y(INT32_MAX), D(kMaxDateYear, 12, 31), {false, false, false, false, true}},
  };
  for (const auto& c : cases) EXPECT_EQ(relate(c.a, c.b), c.expected) << c.a.display() << " vs " << c.b.display();
}

TEST(TimeValue, StructuralOrderGroupsByPrecision) {
  const TimeValue ordered[] = {TimeValue::bot(), TimeValue::eot(), Y(-5), Y(1990), YM(1, 1), YM(1, 2),
                               D(-44, 3, 1), D(2020, 1, 1), DT(2020, 1, 1, 0, 0, 0, 0), DT(2020, 1, 1, 0, 0, 0, 1),
                               DT(2020, 1, 1, 0, 0, 1, 0)};
  for (size_t i = 0; i < std::size(ordered); ++i) {
    for (size_t j = 0; j < std::size(ordered); ++j) {
      EXPECT_EQ(TimeValue::structural_cmp(ordered[i], ordered[j]), i <=> j) << i << " " << j;
    }
  }
}

TEST(TimeValue, Display) {
  // One per branch: years and months unpadded, dates padded to four digits or signed beyond them,
  // fractions in 3, 6 or 9 digits, a leap second as :60.
  const std::pair<TimeValue, std::string_view> cases[] = {
      {TimeValue::bot(), "BOT"},          {TimeValue::eot(), "EOT"},         {Y(-44), "-44"},
      {YM(7, 5), "7-05"},                 {D(7, 5, 1), "0007-05-01"},        {D(9999, 12, 31), "9999-12-31"},
      {D(10000, 1, 1), "+10000-01-01"},   {D(-1, 1, 1), "-0001-01-01"},
      {DT(2020, 1, 1, 10, 0, 0), "2020-01-01 10:00:00"},
      {DT(2020, 1, 1, 10, 0, 0, 120'000'000), "2020-01-01 10:00:00.120"},
      {DT(2020, 1, 1, 10, 0, 0, 1'230'000), "2020-01-01 10:00:00.001230"},
      {DT(2020, 1, 1, 10, 0, 0, 1'500), "2020-01-01 10:00:00.000001500"},
      {DT(2016, 12, 31, 23, 59, 59, 1'000'000'000), "2016-12-31 23:59:60"},
      {DT(2016, 12, 31, 23, 59, 59, 1'500'000'000), "2016-12-31 23:59:60.500"},
  };
  for (const auto& [value, text] : cases) EXPECT_EQ(value.display(), text);
}

TEST(TimeParse, YearAndYearMonth) {
  // The fields are read by parse_int (its reasons and limits: int_parse_test); "2020-5" goes through
  // time_token_test.
  EXPECT_EQ(*parse_time_year("+0044"), Y(44));
  EXPECT_EQ(*parse_time_year_month("2020-05"), YM(2020, 5));
  const std::pair<std::string_view, std::string_view> failures[] = {
      {"20x0", "invalid year '20x0': invalid digit found in string"},
      {"2020", "invalid year-month '2020'"},
      {"2020-13", "month is outside 01..12 in '2020-13'"},
      {"2020-256", "invalid month in '2020-256': number too large to fit in target type"},  // read as uint8
      {"2020-01-01", "invalid month in '2020-01-01': invalid digit found in string"},
      {"-44-03", "invalid year in '-44-03': cannot parse integer from empty string"},  // split at the first dash
  };
  for (const auto& [text, message] : failures) {
    const bool year = message.starts_with("invalid year '");
    EXPECT_EQ(year ? parse_time_year(text).error() : parse_time_year_month(text).error(), message);
  }
}

TEST(TimeParse, Date) {
  EXPECT_EQ(*parse_time_date("2020-5-1"), D(2020, 5, 1));
  EXPECT_EQ(*parse_time_date("7-05-01"), D(7, 5, 1));
  EXPECT_EQ(*parse_time_date("2020 - 05 - 01 "), D(2020, 5, 1));
  EXPECT_EQ(*parse_time_date("+10000-01-01"), D(10000, 1, 1));
  EXPECT_EQ(*parse_time_date("-0044-03-01"), D(-44, 3, 1));
  const std::pair<std::string_view, std::string_view> failures[] = {
      {"2021-02-29", "invalid date '2021-02-29': input is out of range"},
      {"2020-13-01", "invalid date '2020-13-01': input is out of range"},
      {"+262144-01-01", "invalid date '+262144-01-01': input is out of range"},
      {"10000-01-01", "invalid date '10000-01-01': input contains invalid characters"},
      {"2020-01-01x", "invalid date '2020-01-01x': trailing input"},
      {"2020-01", "invalid date '2020-01': premature end of input"},
      {"", "invalid date '': premature end of input"},
      {"x", "invalid date 'x': input contains invalid characters"},
  };
  for (const auto& [text, message] : failures) EXPECT_EQ(parse_time_date(text).error(), message);
}

TEST(TimeParse, DateTimeFormats) {
  // The minutes form and a short fraction go through time_token_test.
  EXPECT_EQ(*parse_datetime_formats("2020-01-01 10:00:05"), DT(2020, 1, 1, 10, 0, 5));
  // Digits beyond the ninth are skipped, not rounded.
  EXPECT_EQ(*parse_datetime_formats("2020-01-01 10:00:05.1234567899"), DT(2020, 1, 1, 10, 0, 5, 123'456'789));
  EXPECT_EQ(*parse_datetime_formats("2020-1-2   3:04"), DT(2020, 1, 2, 3, 4, 0));
  EXPECT_EQ(*parse_datetime_formats("2016-12-31 23:59:60"), DT(2016, 12, 31, 23, 59, 59, 1'000'000'000));
  EXPECT_EQ(*parse_datetime_formats("2016-06-30 10:30:60.25"), DT(2016, 6, 30, 10, 30, 59, 1'250'000'000));
  for (std::string_view bad : {"2020-01-01 24:00", "2020-01-01 10:60", "2020-01-01 10:00:61", "2021-02-29 10:00",
                               "2020-01-01 10:00:00.", "2020-01-01 10:00:00.x", "2020-01-01 10", "2020-01-01 10:00 "}) {
    EXPECT_FALSE(parse_datetime_formats(bad).has_value()) << bad;
  }
}

TEST(TimeValue, WallClockIsAPlausibleDateTime) {
  TimeValue now = wall_clock_now();
  EXPECT_EQ(now.tag, TimeTag::DateTime);
  EXPECT_GE(now.year, 2024);
  EXPECT_LT(now.secs, 86400u);
  EXPECT_LT(now.nanos, 1'000'000'000u);
}

}  // namespace
}  // namespace brackwater::literal
