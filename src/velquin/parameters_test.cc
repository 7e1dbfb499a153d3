#include "velquin/parameters.h"

#include <gtest/gtest.h>

namespace brackwater::velquin {
namespace {

using construct::ErrorKind;
using literal::LiteralKind;
using literal::TimeValue;

const TimeValue kNow = TimeValue::of_date_time(2024, 3, 1, 10 * 3600 + 5, 120'000'000);

TEST(ParameterName, ValidAndInvalid) {
  for (std::string_view good : {"x", "x_1", "\xc3\xa9t\xc3\xa9", "x\xc2\xb2", "\xe4\xb8\xad", "X9"}) {
    EXPECT_TRUE(check_parameter_name(good)) << good;
  }
  for (std::string_view bad : {"", "$x", "1x", "_x", "a-b", "a b", "\xc2\xb2", "x\xff"}) {
    auto r = check_parameter_name(bad);
    ASSERT_FALSE(r) << bad;
    EXPECT_EQ(r.error().kind(), ErrorKind::InvalidParameter);
    EXPECT_EQ(r.error().message(), "'" + std::string(bad) + "' is not a valid parameter name");
  }
}

struct Converted {
  std::string text;
  LiteralKind kind;
  std::optional<std::string> time;  // display of the TimeValue of a time parameter
};

Converted convert(ParameterKind kind, std::string token) {
  auto v = convert_parameter_token(ScriptParameter{kind, std::move(token)}, kNow);
  EXPECT_TRUE(v) << (v ? "" : v.error().message());
  if (!v) return {};
  return {v->literal.text, v->literal.kind, v->time ? std::optional(v->time->display()) : std::nullopt};
}

std::string convert_error(ParameterKind kind, std::string token) {
  auto v = convert_parameter_token(ScriptParameter{kind, std::move(token)}, kNow);
  if (v) return "converted";
  EXPECT_EQ(v.error().kind(), ErrorKind::InvalidParameter);
  return v.error().message();
}

TEST(ParameterToken, LiteralFamilies) {
  struct Case {
    std::string token;
    std::string text;
    LiteralKind kind;
  };
  const Case cases[] = {
      {"\"a b\"", "\"a b\"", LiteralKind::String},
      {"'2020'", "'2020'", LiteralKind::Time},
      {"@NOW", "2024-03-01 10:00:05.120", LiteralKind::Time},  // unquoted display
      {"@BOT", "@BOT", LiteralKind::Time},
      {"{}", "{}", LiteralKind::Json},
      {"50%", "50%", LiteralKind::Certainty},
      {"1.5", "1.5", LiteralKind::Decimal},
      {"-5", "-5", LiteralKind::Integer},
  };
  for (const auto& c : cases) {
    Converted got = convert(ParameterKind::Literal, c.token);
    EXPECT_EQ(got.text, c.text) << c.token;
    EXPECT_EQ(got.kind, c.kind) << c.token;
    EXPECT_EQ(got.time, std::nullopt) << c.token;  // a literal parameter never carries a time
  }
}

TEST(ParameterToken, TimeParameters) {
  Converted at_now = convert(ParameterKind::Time, "@NOW");
  EXPECT_EQ(at_now.text, "2024-03-01 10:00:05.120");
  EXPECT_EQ(at_now.time, "2024-03-01 10:00:05.120");
  Converted bare_now = convert(ParameterKind::Time, "NOW");
  EXPECT_EQ(bare_now.text, "NOW");  // resolves to now but keeps its own text
  EXPECT_EQ(bare_now.time, "2024-03-01 10:00:05.120");
  EXPECT_EQ(convert(ParameterKind::Time, "N@OW").text, "N@OW");
  Converted quoted = convert(ParameterKind::Time, "'2020-05-01'");
  EXPECT_EQ(quoted.text, "'2020-05-01'");
  EXPECT_EQ(quoted.kind, LiteralKind::Time);
  EXPECT_EQ(quoted.time, "2020-05-01");
}

TEST(ParameterToken, Errors) {
  EXPECT_EQ(convert_error(ParameterKind::Literal, " 5"), "literal parameter text may not contain surrounding whitespace");
  EXPECT_EQ(convert_error(ParameterKind::Literal, "5\xc2\xa0"),
            "literal parameter text may not contain surrounding whitespace");
  EXPECT_EQ(convert_error(ParameterKind::Time, "2020 "), "time parameter text may not contain surrounding whitespace");
  EXPECT_EQ(convert_error(ParameterKind::Time, "bad"), "invalid time parameter 'bad'");
  EXPECT_EQ(convert_error(ParameterKind::Time, ""), "invalid time parameter ''");
  EXPECT_EQ(convert_error(ParameterKind::Literal, "@TODAY"), "invalid temporal literal parameter '@TODAY'");
  EXPECT_EQ(convert_error(ParameterKind::Literal, "'x'"), "invalid temporal literal parameter ''x''");
  EXPECT_EQ(convert_error(ParameterKind::Literal, "abc"), "invalid integer literal 'abc'");
  EXPECT_EQ(convert_error(ParameterKind::Literal, "1e5"), "invalid integer literal '1e5'");
  EXPECT_EQ(convert_error(ParameterKind::Literal, ""), "invalid integer literal ''");
}

TEST(ParameterMap, NameCheckedBeforeToken) {
  ScriptParameterMap params{{"$x", ScriptParameter{ParameterKind::Literal, " bad"}}};
  auto r = convert_parameters(params, kNow);
  ASSERT_FALSE(r);
  EXPECT_EQ(r.error().message(), "'$x' is not a valid parameter name");
  params = {{"x", ScriptParameter{ParameterKind::Literal, "5"}}, {"t", ScriptParameter{ParameterKind::Time, "2020"}}};
  auto ok = convert_parameters(params, kNow);
  ASSERT_TRUE(ok);
  EXPECT_EQ(ok->size(), 2u);
  EXPECT_FALSE(ok->find(std::string_view("x"))->second.is_time());
  EXPECT_TRUE(ok->find(std::string_view("t"))->second.is_time());
}

}  // namespace
}  // namespace brackwater::velquin
