#include "velquin/numeric_text.h"

#include <gtest/gtest.h>

#include "velquin/search_limit.h"

namespace brackwater::velquin {
namespace {

TEST(NumericText, CutAfterLastDigitOutsideComments) {
  const std::pair<std::string_view, std::string_view> cases[] = {
      {"5\t\n", "5"}, {"5 /* 9 */", "5"}, {"5/*x*/ /*y*/", "5"}, {"55", "55"},
      {"- 1 2 ", "- 1 2"}, {"1/*x*/2", "1/*x*/2"}, {"", ""}, {"abc", "abc"},
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(cut_after_last_digit(in), out) << in;
}

TEST(NumericText, LimitReading) {
  const std::pair<std::string_view, std::optional<uint64_t>> cases[] = {
      {"0", 0}, {"+7", 7}, {"007", 7}, {"18446744073709551615", 18446744073709551615ULL},
      {"18446744073709551616", std::nullopt}, {"-0", std::nullopt}, {"1 2", std::nullopt},
      {"+", std::nullopt}, {"", std::nullopt}, {"++1", std::nullopt},
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(parse_limit(in), out) << in;
}

TEST(SearchLimit, EffectiveLimitIsTheSmallerOfThoseGiven) {
  EXPECT_EQ(effective_limit(3, 5), 3u);
  EXPECT_EQ(effective_limit(10, 5), 5u);
  EXPECT_EQ(effective_limit(4, 0), 0u);
  EXPECT_EQ(effective_limit(std::nullopt, 5), 5u);
  EXPECT_EQ(effective_limit(4, std::nullopt), 4u);
  EXPECT_EQ(effective_limit(std::nullopt, std::nullopt), std::nullopt);
}

}  // namespace
}  // namespace brackwater::velquin
