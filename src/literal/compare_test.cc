#include "literal/compare.h"

#include <gtest/gtest.h>

namespace brackwater::literal {
namespace {

using K = LiteralKind;

Literal L(std::string text, K kind) { return Literal{std::move(text), kind}; }

std::string order(const Literal& a, const Literal& b) {
  auto r = compare_order(a, b);
  if (!r) return r.error();
  return *r < 0 ? "<" : *r > 0 ? ">" : "=";
}

std::string nominal(const Literal& a, const Literal& b) {
  auto r = compare_nominal(a, b);
  if (!r) return r.error();
  return *r ? "equal" : "different";
}

TEST(Compare, Numbers) {
  struct Case {
    Literal a, b;
    std::string_view order;
  } cases[] = {
      // Up to 18 digits by machine arithmetic (many more values: literal_random_test), beyond by decimal.
      {L("2", K::Integer), L("2.0", K::Decimal), "="},
      {L("10", K::Integer), L("9.99", K::Decimal), ">"},
      {L("0.000000000000000001", K::Decimal), L("0", K::Integer), ">"},
      {L("999999999999999999", K::Integer), L("1000000000000000000", K::Integer), "<"},
      {L("-123456789012345678901234567891", K::Integer), L("-123456789012345678901234567890", K::Integer), "<"},
      // texts not from the validating constructor go through the full number grammar
      {L("1e999999999", K::Decimal), L("1", K::Integer), ">"},
      {L("1e2", K::Decimal), L("100", K::Integer), "="},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(order(c.a, c.b), c.order) << c.a.text << " vs " << c.b.text;
    EXPECT_EQ(nominal(c.a, c.b), c.order == "=" ? "equal" : "different") << c.a.text << " vs " << c.b.text;
  }
}

TEST(Compare, Certainties) {
  EXPECT_EQ(order(L("+5%", K::Certainty), L("005%", K::Certainty)), "=");
  EXPECT_EQ(nominal(L("+5%", K::Certainty), L("005%", K::Certainty)), "equal");
  EXPECT_EQ(order(L("5%", K::Certainty), L("-5%", K::Certainty)), ">");
  EXPECT_EQ(nominal(L("5%", K::Certainty), L("-5%", K::Certainty)), "different");
}

TEST(Compare, StringsJsonAndTime) {
  EXPECT_EQ(nominal(L(R"("caf\u00e9")", K::String), L("\"caf\xC3\xA9\"", K::String)), "equal");
  EXPECT_EQ(nominal(L(R"("a\u0000")", K::String), L(R"("a")", K::String)), "different");
  EXPECT_EQ(nominal(L(R"({"a":1.0,"b":2})", K::Json), L(R"({"b":2,"a":1})", K::Json)), "equal");
  EXPECT_EQ(nominal(L("'2020-5'", K::Time), L("'2020-05'", K::Time)), "different");
  EXPECT_EQ(nominal(L("'2020-05'", K::Time), L("'2020-05'", K::Time)), "equal");
}

TEST(Compare, UnsupportedPairsNameFamiliesInOperandOrder) {
  // Every family name appears here once at least.
  EXPECT_EQ(order(L(R"("a")", K::String), L(R"("a")", K::String)), "ordering is unsupported between String and String");
  EXPECT_EQ(order(L("5%", K::Certainty), L("5", K::Integer)), "ordering is unsupported between Certainty and Integer");
  EXPECT_EQ(order(L("5", K::Integer), L("5%", K::Certainty)), "ordering is unsupported between Integer and Certainty");
  EXPECT_EQ(nominal(L("'x'", K::Time), L(R"("x")", K::String)), "unsupported nominal comparison between Time and String");
  EXPECT_EQ(nominal(L("1", K::Json), L("1.0", K::Decimal)), "unsupported nominal comparison between Json and Decimal");
  // The family pair is judged before any text is parsed.
  EXPECT_EQ(order(L("junk", K::String), L("junk", K::Json)), "ordering is unsupported between String and Json");
}

TEST(Compare, FirstOperandFailsFirst) {
  EXPECT_EQ(order(L("x", K::Integer), L("y", K::Decimal)), "invalid number 'x': invalid digit found in string");
  EXPECT_EQ(order(L("1", K::Integer), L("y", K::Decimal)), "invalid number 'y': invalid digit found in string");
  EXPECT_EQ(nominal(L("5", K::Certainty), L("x", K::Certainty)), "certainty literal lacks percent sign: '5'");
  EXPECT_EQ(nominal(L("5%", K::Certainty), L("500%", K::Certainty)), "certainty is outside -100%..=100%: '500%'");
  EXPECT_EQ(nominal(L("\"a", K::String), L("b", K::String)), "invalid string literal '\"a': EOF while parsing a string");
  EXPECT_EQ(nominal(L("{}", K::Json), L("{", K::Json)), "expected '\"' at JSON byte 1");
  EXPECT_EQ(nominal(L("[", K::Json), L("{", K::Json)), "empty or truncated JSON");
}

}  // namespace
}  // namespace brackwater::literal
