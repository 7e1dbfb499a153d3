#include "velquin/parameters.h"

#include <gtest/gtest.h>

namespace brackwater::velquin {
namespace {

using construct::ErrorKind;
using literal::LiteralKind;
using literal::TimeValue;

const TimeValue kNow = TimeValue::of_date_time(2024, 3, 1, 10 * 3600 + 5, 120'000'000);

TEST(ParameterName, ValidAndInvalid) {
  for (std::string_view good : {"x_1", "\xc3\xa9t\xc3\xa9", "x\xc2\xb2", "\xe4\xb8\xad"}) {
    EXPECT_TRUE(check_parameter_name(good)) << good;
  }
  for (std::string_view bad : {"", "$x", "1x", "_x", "a-b", "\xc2\xb2", "x\xff"}) {
    auto r = check_parameter_name(bad);
    ASSERT_FALSE(r) << bad;
    EXPECT_EQ(r.error().kind(), ErrorKind::InvalidParameter);
    EXPECT_EQ(r.error().message(), "'" + std::string(bad) + "' is not a valid parameter name");
  }
}

// The literal text, its family and the display of the time of a converted token; or the error's message.
std::string convert(ParameterKind kind, std::string token) {
  auto v = convert_parameter_token(ScriptParameter{kind, std::move(token)}, kNow);
  if (!v) return (v.error().kind() == ErrorKind::InvalidParameter ? "" : "kind? ") + v.error().message();
  return v->literal.text + " " + std::string(literal::family_name(v->literal.kind)) +
         (v->time ? " @ " + v->time->display() : "");
}

TEST(ParameterToken, Conversions) {
  const std::tuple<ParameterKind, std::string, std::string> cases[] = {
      {ParameterKind::Literal, "\"a b\"", "\"a b\" String"},
      {ParameterKind::Literal, "'2020'", "'2020' Time"},
      {ParameterKind::Literal, "@NOW", "2024-03-01 10:00:05.120 Time"},  // unquoted display
      {ParameterKind::Literal, "@BOT", "@BOT Time"},
      {ParameterKind::Literal, "{}", "{} Json"},
      {ParameterKind::Literal, "50%", "50% Certainty"},
      {ParameterKind::Literal, "1.5", "1.5 Decimal"},
      {ParameterKind::Literal, "-5", "-5 Integer"},
      {ParameterKind::Time, "@NOW", "2024-03-01 10:00:05.120 Time @ 2024-03-01 10:00:05.120"},
      {ParameterKind::Time, "NOW", "NOW Time @ 2024-03-01 10:00:05.120"},  // resolves to now, keeps its text
      {ParameterKind::Time, "N@OW", "N@OW Time @ 2024-03-01 10:00:05.120"},
      {ParameterKind::Time, "'2020-05-01'", "'2020-05-01' Time @ 2020-05-01"},
      {ParameterKind::Literal, "5\xc2\xa0", "literal parameter text may not contain surrounding whitespace"},
      {ParameterKind::Time, "2020 ", "time parameter text may not contain surrounding whitespace"},
      {ParameterKind::Time, "bad", "invalid time parameter 'bad'"},
      {ParameterKind::Literal, "@TODAY", "invalid temporal literal parameter '@TODAY'"},
      {ParameterKind::Literal, "'x'", "invalid temporal literal parameter ''x''"},
      {ParameterKind::Literal, "1e5", "invalid integer literal '1e5'"},
  };
  for (const auto& [kind, token, expected] : cases) EXPECT_EQ(convert(kind, token), expected) << token;
}

TEST(ParameterMap, NameCheckedBeforeToken) {
  auto r = convert_parameters({{"$x", ScriptParameter{ParameterKind::Literal, " bad"}}}, kNow);
  EXPECT_EQ(r.error().message(), "'$x' is not a valid parameter name");
}

}  // namespace
}  // namespace brackwater::velquin
