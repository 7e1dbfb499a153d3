#include "literal/calendar.h"

#include <gtest/gtest.h>

namespace brackwater::literal {
namespace {

static_assert(days_from_civil(1970, 1, 1) == 0);
static_assert(days_from_civil(2000, 3, 1) == 11017);
static_assert(civil_from_days(-1).year == 1969 && civil_from_days(-1).month == 12 && civil_from_days(-1).day == 31);

TEST(Calendar, RoundTripsAcrossTheDateRange) {
  const int64_t first = days_from_civil(kMinDateYear, 1, 1);
  const int64_t last = days_from_civil(kMaxDateYear, 12, 31);
  // Every day near both ends and near the epoch, and a sparse sweep between.
  auto check = [](int64_t d) {
    CivilDate c = civil_from_days(d);
    ASSERT_EQ(days_from_civil(c.year, c.month, c.day), d);
    ASSERT_TRUE(is_valid_date(static_cast<int32_t>(c.year), c.month, c.day)) << d;
  };
  for (int64_t d = first; d < first + 800; ++d) check(d);
  for (int64_t d = last - 800; d <= last; ++d) check(d);
  for (int64_t d = -800; d <= 800; ++d) check(d);
  for (int64_t d = first; d <= last; d += 997) check(d);
  // Consecutive days are consecutive dates.
  for (int64_t d = -400000; d < 400000; d += 13) {
    CivilDate a = civil_from_days(d), b = civil_from_days(d + 1);
    bool next = (b.day == a.day + 1 && b.month == a.month && b.year == a.year) ||
                (b.day == 1 && a.day == days_in_month(a.year, a.month) &&
                 ((b.month == a.month + 1 && b.year == a.year) || (a.month == 12 && b.month == 1 && b.year == a.year + 1)));
    ASSERT_TRUE(next) << d;
  }
}

TEST(Calendar, ValidDates) {
  // Leap years (proleptic: -4 is one), month and day ranges, and the first and last dates.
  const std::tuple<int32_t, unsigned, unsigned, bool> cases[] = {
      {2020, 2, 29, true},  {2021, 2, 29, false}, {1900, 2, 29, false}, {2000, 2, 29, true},
      {-4, 2, 29, true},    {-1, 2, 29, false},   {2020, 0, 1, false},  {2020, 13, 1, false},
      {2020, 4, 31, false}, {2020, 4, 0, false},  {kMinDateYear, 1, 1, true}, {kMaxDateYear, 12, 31, true},
      {kMinDateYear - 1, 12, 31, false}, {kMaxDateYear + 1, 1, 1, false},
  };
  for (const auto& [y, m, d, valid] : cases) EXPECT_EQ(is_valid_date(y, m, d), valid) << y << "-" << m << "-" << d;
}

}  // namespace
}  // namespace brackwater::literal
