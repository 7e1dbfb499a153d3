#include "literal/int_parse.h"

#include <gtest/gtest.h>

namespace brackwater::literal {
namespace {

template <class T>
std::string outcome(std::string_view text) {
  auto r = parse_int<T>(text);
  return r ? std::to_string(static_cast<int64_t>(*r)) : std::string(r.error());
}

TEST(ParseInt, ReasonsForInt16) {
  const std::pair<std::string_view, std::string> cases[] = {
      {"", std::string(kIntEmpty)},
      {"+", std::string(kIntInvalidDigit)},
      {"-", std::string(kIntInvalidDigit)},
      {" 5", std::string(kIntInvalidDigit)},
      {"4000x", std::string(kIntInvalidDigit)},
      {"40000x", std::string(kIntTooLarge)},  // overflow is found before the stray byte
      {"32767", "32767"},
      {"32768", std::string(kIntTooLarge)},
      {"-32768", "-32768"},
      {"-32769", std::string(kIntTooSmall)},
      {"007", "7"},
      {"-0", "0"},
  };
  for (const auto& [text, expected] : cases) EXPECT_EQ(outcome<int16_t>(text), expected) << text;
}

TEST(ParseInt, UnsignedTakesPlusButNotMinus) {
  EXPECT_EQ(outcome<uint8_t>("+12"), "12");
  EXPECT_EQ(outcome<uint8_t>("-1"), kIntInvalidDigit);
  EXPECT_EQ(outcome<uint8_t>("-0"), kIntInvalidDigit);
  EXPECT_EQ(outcome<uint8_t>("255"), "255");
  EXPECT_EQ(outcome<uint8_t>("256"), kIntTooLarge);
}

TEST(ParseInt, SixtyFourBitLimits) {
  EXPECT_EQ(*parse_int<int64_t>("-9223372036854775808"), INT64_MIN);
  EXPECT_EQ(*parse_int<int64_t>("9223372036854775807"), INT64_MAX);
  EXPECT_EQ(parse_int<int64_t>("9223372036854775808").error(), kIntTooLarge);
  EXPECT_EQ(parse_int<int64_t>("-9223372036854775809").error(), kIntTooSmall);
  EXPECT_EQ(*parse_int<uint64_t>("18446744073709551615"), UINT64_MAX);
  EXPECT_EQ(parse_int<uint64_t>("18446744073709551616").error(), kIntTooLarge);
  EXPECT_EQ(*parse_int<int32_t>("-2147483648"), INT32_MIN);
  EXPECT_EQ(parse_int<int32_t>("2147483648").error(), kIntTooLarge);
}

static_assert(*parse_int<int8_t>("-128") == -128);

}  // namespace
}  // namespace brackwater::literal
