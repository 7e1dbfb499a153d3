#include "velquin/time_token.h"

#include <gtest/gtest.h>

namespace brackwater::velquin {
namespace {

using literal::TimeValue;

const TimeValue kNow = TimeValue::of_date_time(2024, 3, 1, 10 * 3600 + 5, 120'000'000);

std::string shown(const std::optional<TimeValue>& t) { return t ? t->display() : std::string("none"); }

// The plain forms ("2020", "2020-05", dates, date-times, "@BOT") are pinned through the Python now argument.
TEST(TimeToken, AtForm) {
  const std::pair<std::string_view, std::string_view> cases[] = {
      {"N@OW@", "2024-03-01 10:00:05.120"}, {"@BOT", "BOT"}, {"EOT", "EOT"}, {"@now", "none"},
      {"@NOW ", "none"}, {"@ NOW", "none"}, {"@", "none"}, {"@NOWX", "none"},
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(shown(parse_time_at_form(in, kNow)), out) << in;
}

TEST(TimeToken, Steps) {
  const std::pair<std::string_view, std::string_view> cases[] = {
      {"'2020'", "2020"}, {"20201", "20201"}, {"-044", "-44"},
      {"-44", "none"},  // three characters: too short for a year
      {"123456789", "none"}, {"2020-5", "2020-05"},
      {"2020-13", "none"},  // no month: the year step then refuses it
      {"-00005", "none"},   // the year-month step takes it and fails: no fall-through
      {"  '2020-05-01'),;] ", "2020-05-01"}, {"'2021-02-29'", "none"},
      {"'2020-05-01 10:00:07.5'", "2020-05-01 10:00:07.500"}, {"'2020-05-01T10:00'", "none"},
      {"'", "none"}, {"''", "none"}, {"'@NOW'", "none"}, {" @NOW", "none"}, {"+2020", "none"},
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(shown(parse_time_token(in, kNow)), out) << in;
}

TEST(TimeToken, HasNonDigit) {
  EXPECT_FALSE(has_non_digit("") || has_non_digit("0123456789"));
  EXPECT_TRUE(has_non_digit("/") && has_non_digit(":") && has_non_digit("12a"));
}

}  // namespace
}  // namespace brackwater::velquin
