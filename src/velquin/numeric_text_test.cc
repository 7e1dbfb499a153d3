#include "velquin/numeric_text.h"

#include <gtest/gtest.h>

namespace brackwater::velquin {
namespace {

TEST(NumericText, CutAfterLastDigitOutsideComments) {
  struct Case {
    std::string_view in, out;
  };
  const Case cases[] = {
      {"5", "5"},           {"5 ", "5"},          {"5\t\n", "5"},      {"5 /* 9 */", "5"},
      {"5/*x*/ /*y*/", "5"}, {"1.5 ", "1.5"},      {"55", "55"},        {"- 1 2 ", "- 1 2"},
      {"1/*x*/2", "1/*x*/2"}, {"+5 ", "+5"},       {"", ""},            {"abc", "abc"},
  };
  for (const auto& c : cases) EXPECT_EQ(cut_after_last_digit(c.in), c.out) << c.in;
}

TEST(NumericText, LimitReading) {
  struct Case {
    std::string_view in;
    std::optional<uint64_t> out;
  };
  const Case cases[] = {
      {"0", 0},
      {"5", 5},
      {"+7", 7},
      {"007", 7},
      {"18446744073709551615", 18446744073709551615ULL},
      {"18446744073709551616", std::nullopt},
      {"99999999999999999999", std::nullopt},
      {"-3", std::nullopt},
      {"-0", std::nullopt},
      {"+ 7", std::nullopt},
      {"1 2", std::nullopt},
      {"1/*x*/2", std::nullopt},
      {"+", std::nullopt},
      {"", std::nullopt},
      {"++1", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(parse_limit(c.in), c.out) << c.in;
  // A one-digit LIMIT keeps the blanks and comments after it in its token text.
  EXPECT_EQ(parse_limit(cut_after_last_digit("5 /* rows */ ")), 5u);
}

}  // namespace
}  // namespace brackwater::velquin
