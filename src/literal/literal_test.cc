#include "literal/literal.h"

#include <gtest/gtest.h>

#include "literal/certainty.h"
#include "literal/decimal.h"
#include "literal/json_string.h"

namespace brackwater::literal {
namespace {

std::string outcome(std::string text, LiteralKind kind) {
  auto r = Literal::from_token(text, kind);
  if (!r) return r.error();
  EXPECT_EQ(r->text, text);  // kept verbatim
  EXPECT_EQ(r->kind, kind);
  return "ok";
}

TEST(Literal, Integers) {
  for (std::string ok : {"007", "+5", "-0", "0", "1234567890123456789012345678901234567890"})
    EXPECT_EQ(outcome(ok, LiteralKind::Integer), "ok") << ok;
  for (std::string bad : {"+", "-", "", "1_000", "1e3", " 5", "5 ", "- 1 2", "1.0", "++1", "0x10", "١"})
    EXPECT_EQ(outcome(bad, LiteralKind::Integer), "invalid integer literal '" + bad + "'");
}

TEST(Literal, Decimals) {
  for (std::string ok : {"1.50", "-0.5", "+3.0", "000.000"}) EXPECT_EQ(outcome(ok, LiteralKind::Decimal), "ok") << ok;
  for (std::string bad : {".5", "5.", "1.2.3", "1,5", "1e3", "1", "-.5", "+", "", "1. 5", "1.5 "})
    EXPECT_EQ(outcome(bad, LiteralKind::Decimal), "invalid decimal literal '" + bad + "'");
}

TEST(Literal, Certainties) {
  const std::pair<std::string_view, int> values[] = {{"100%", 100}, {"-100%", -100}, {"+0%", 0}, {"007%", 7}, {"-0%", 0}};
  for (const auto& [text, value] : values) EXPECT_EQ(*parse_certainty(text), value) << text;
  // The number is read by parse_int<int16_t> (its reasons: int_parse_test), so 40000% fails as a number.
  const std::pair<std::string, std::string> failures[] = {
      {"101%", "certainty is outside -100%..=100%: '101%'"},
      {"-101%", "certainty is outside -100%..=100%: '-101%'"},
      {"40000%", "invalid certainty '40000%': number too large to fit in target type"},
      {"50%%", "invalid certainty '50%%': invalid digit found in string"},
      {"100", "certainty literal lacks percent sign: '100'"},
      {"", "certainty literal lacks percent sign: ''"},
  };
  for (const auto& [text, message] : failures) {
    EXPECT_EQ(parse_certainty(text).error(), message);
    EXPECT_EQ(outcome(text, LiteralKind::Certainty), message);
  }
}

TEST(Literal, Strings) {
  for (std::string ok : {R"("")", R"("caf\u00e9")", R"( "a" )", "\"caf\xC3\xA9\"", R"("\"\\\/\b\f\n\r\t")",
                         R"("\ud83d\ude00")", R"("\u0000")"})
    EXPECT_EQ(outcome(ok, LiteralKind::String), "ok") << ok;
  const std::pair<std::string, std::string_view> failures[] = {
      {"\"a\tb\"", "control character"},
      {R"("\q")", "invalid escape"},
      {R"("\ud83d")", "unexpected end of hex escape"},
      {R"("\ude00")", "lone leading surrogate"},
      {R"("\ud83d\u0041")", "lone leading surrogate"},
      {R"("\u12")", "EOF while parsing a string"},
      {R"("\u12g4")", "invalid escape"},
      {R"("a" "b")", "trailing characters"},
      {R"("abc)", "EOF while parsing a string"},
      {"", "EOF while parsing a value"},
      {"abc", "expected a JSON string"},
      {"\"\xC3\"", "invalid unicode code point"},
      {"\"\xED\xA0\x80\"", "invalid unicode code point"},  // an encoded surrogate
  };
  for (const auto& [text, reason] : failures) {
    std::string message = outcome(text, LiteralKind::String);
    EXPECT_TRUE(message.starts_with("invalid string literal '" + text + "': ")) << message;
    EXPECT_NE(message.find(reason), std::string::npos) << message;
  }
}

TEST(Literal, StringDecoding) {
  EXPECT_EQ(*parse_string_literal(R"("caf\u00e9")"), "caf\xC3\xA9");
  EXPECT_EQ(*parse_string_literal(R"("\ud83d\ude00")"), "\xF0\x9F\x98\x80");
  EXPECT_EQ(*parse_string_literal(R"("\"\\\/\b\f\n\r\t")"), "\"\\/\b\f\n\r\t");
  EXPECT_EQ(*parse_string_literal(R"( "a\u0000b" )"), std::string("a\0b", 3));
  EXPECT_EQ(*parse_string_literal("\t\"x\"\r\n"), "x");
  EXPECT_FALSE(parse_string_literal("\xC2\xA0\"x\"").has_value());  // only JSON whitespace around it
}

TEST(Literal, JsonAndTime) {
  EXPECT_EQ(outcome(R"({"a": [1, 2.5e3, null]})", LiteralKind::Json), "ok");
  EXPECT_EQ(outcome(R"({"a":1} x)", LiteralKind::Json), "trailing JSON data at byte 8");
  EXPECT_EQ(outcome(" ", LiteralKind::Time), "ok");
  EXPECT_EQ(outcome("", LiteralKind::Time), "time literal token cannot be empty");
}

TEST(Decimal, ValuesCompareExactly) {
  // Small values: DigitsSpanningThePoint and literal_random_test; here the far exponents and long digits.
  auto num = [](std::string_view text) { return *parse_big_number(text); };
  EXPECT_EQ(num("0.001e3"), num("1"));
  EXPECT_LT(num("1"), num("1e999999999"));
  EXPECT_GT(num("1"), num("1e-999999999"));
  EXPECT_LT(num("-1e999999999"), num("-1"));
  EXPECT_LT(num("123456789012345678901234567890"), num("123456789012345678901234567891"));
  EXPECT_EQ(num("123456789012345678901234567890"), num("12345678901234567890123456789e1"));
  EXPECT_EQ(num("1e9223372036854775807"), num("10e9223372036854775806"));
  EXPECT_LT(num("1e-9223372036854775807"), num("1e-9223372036854775806"));
  EXPECT_FALSE(parse_big_number("1e-9223372036854775808").has_value());
}

TEST(Decimal, DigitsSpanningThePoint) {
  const std::tuple<std::string_view, std::string_view, int> cases[] = {
      {"0.0012", "12e-4", 0},      {"1.000", "1", 0},           {"100.5", "1005e-1", 0},
      {".5", "0.50", 0},           {"5.", "5", 0},              {"12.34", "1234e-2", 0},
      {"12.345", "12.34", 1},      {"12.34", "12.3401", -1},    {"0.000", "-0e7", 0},
      {"120.0001", "120.00010", 0}, {"1200", "12e2", 0},        {"-12.5", "-12.50001", 1},
      {"99.99", "100", -1},        {"0.1", "0.09999999999999999999999", 1}, {"-1", "0", -1},
  };
  for (const auto& [a, b, expected] : cases) {
    auto x = *view_decimal(a), y = *view_decimal(b);
    EXPECT_EQ(x <=> y, expected <=> 0) << a << " vs " << b;
    EXPECT_EQ(y <=> x, 0 <=> expected) << b << " vs " << a;
    EXPECT_EQ(*parse_big_number(a) <=> *parse_big_number(b), expected <=> 0) << a << " vs " << b;
  }
  EXPECT_EQ(parse_big_number("-000120.0500")->digits, "1200500");
  EXPECT_EQ(parse_big_number("-000120.0500")->scale, 4);
  EXPECT_TRUE(parse_big_number("-0.000")->is_zero());
  EXPECT_FALSE(parse_big_number("-0.000")->negative);
}

TEST(Decimal, Failures) {
  EXPECT_EQ(parse_big_number("1e99999999999999999999").error(),
            "invalid number '1e99999999999999999999': number too large to fit in target type");
  EXPECT_EQ(parse_big_number("1.5e-9223372036854775807").error(),
            "invalid number '1.5e-9223372036854775807': number exponent is out of range");
  EXPECT_EQ(parse_big_number("1_000").error(), "invalid number '1_000': invalid digit found in string");
  EXPECT_EQ(parse_big_number("").error(), "invalid number '': cannot parse a number from empty string");
  EXPECT_FALSE(parse_big_number("1e").has_value());
}

}  // namespace
}  // namespace brackwater::literal
