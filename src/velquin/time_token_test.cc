#include "velquin/time_token.h"

#include <gtest/gtest.h>

namespace brackwater::velquin {
namespace {

using literal::TimeValue;

const TimeValue kNow = TimeValue::of_date_time(2024, 3, 1, 10 * 3600 + 5, 120'000'000);

std::string shown(std::string_view text) {
  auto t = parse_time_token(text, kNow);
  return t ? t->display() : std::string("none");
}

TEST(TimeToken, AtForm) {
  struct Case {
    std::string_view in;
    std::string out;
  };
  const Case cases[] = {
      {"@NOW", "2024-03-01 10:00:05.120"}, {"NOW", "2024-03-01 10:00:05.120"}, {"N@OW@", "2024-03-01 10:00:05.120"},
      {"@BOT", "BOT"},   {"EOT", "EOT"},     {"@now", "none"},    {"@NOW ", "none"},   {" @NOW", "none"},
      {"@ NOW", "none"}, {"@", "none"},      {"", "none"},        {"@NOWX", "none"},
  };
  for (const auto& c : cases) {
    auto t = parse_time_at_form(c.in, kNow);
    EXPECT_EQ(t ? t->display() : std::string("none"), c.out) << c.in;
  }
}

TEST(TimeToken, Steps) {
  struct Case {
    std::string_view in;
    std::string out;
  };
  const Case cases[] = {
      {"2020", "2020"},
      {"'2020'", "2020"},
      {"20201", "20201"},
      {"-044", "-44"},
      {"-44", "none"},  // three characters: too short for a year
      {"123456789", "none"},
      {"2020-05", "2020-05"},
      {"2020-5", "2020-05"},
      {"2020-13", "none"},    // no month: the year step then refuses it
      {"-00005", "none"},     // the year-month step takes it and fails: no fall-through
      {"2020-05-01", "2020-05-01"},
      {"'2020-05-01'", "2020-05-01"},
      {"  '2020-05-01'),;] ", "2020-05-01"},
      {"'2020-05-01'  ", "2020-05-01"},
      {"'2021-02-29'", "none"},
      {"'2020-05-01 10:00'", "2020-05-01 10:00:00"},
      {"'2020-05-01 10:00:07.5'", "2020-05-01 10:00:07.500"},
      {"'2020-05-01T10:00'", "none"},
      {"''", "none"},
      {"'", "none"},
      {"'@NOW'", "none"},
      {" @NOW", "none"},  // no at-form with a blank, and no other form after trimming
      {"+2020", "none"},
      {"abc", "none"},
  };
  for (const auto& c : cases) EXPECT_EQ(shown(c.in), c.out) << c.in;
}

TEST(TimeToken, HasNonDigit) {
  EXPECT_FALSE(has_non_digit(""));
  EXPECT_FALSE(has_non_digit("0123456789"));
  EXPECT_TRUE(has_non_digit("12a"));
  EXPECT_TRUE(has_non_digit("-1"));
  EXPECT_TRUE(has_non_digit("\xd9\xa3"));  // Arabic-Indic digit three is not ASCII
}

}  // namespace
}  // namespace brackwater::velquin
