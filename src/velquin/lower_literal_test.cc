#include "velquin/lower_literal.h"

#include <gtest/gtest.h>

#include "velquin/mutation_binder.h"
#include "velquin/parser.h"

namespace brackwater::velquin {
namespace {

using construct::ErrorKind;
using literal::LiteralKind;
using literal::TimeValue;

const TimeValue kNow = TimeValue::of_date_time(2024, 3, 1, 10 * 3600 + 5, 0);

TEST(LowerLiteral, FamiliesAndConstants) {
  const std::tuple<Rule, std::string_view, std::string, LiteralKind> cases[] = {
      {Rule::int_, "-5", "-5", LiteralKind::Integer},           {Rule::decimal, "1.50", "1.50", LiteralKind::Decimal},
      {Rule::certainty, "80%", "80%", LiteralKind::Certainty},  {Rule::time, "'2001'", "'2001'", LiteralKind::Time},
      {Rule::json, "{\"a\":1}", "{\"a\":1}", LiteralKind::Json}, {Rule::string, "\"x\"", "\"x\"", LiteralKind::String},
      {Rule::constant, "@NOW", "'2024-03-01 10:00:05'", LiteralKind::Time},  // quoted display
      {Rule::constant, "@BOT ", "@BOT", LiteralKind::Time},                  // constants are trimmed
      {Rule::constant, "@EOT", "@EOT", LiteralKind::Time},
  };
  for (const auto& [rule, text, out, kind] : cases) {
    auto lit = lower_literal(rule, text, kNow);
    ASSERT_TRUE(lit) << text << ": " << lit.error().message();
    EXPECT_EQ(lit->text, out);
    EXPECT_EQ(lit->kind, kind);
  }
}

TEST(LowerLiteral, Errors) {
  auto unknown = lower_literal(Rule::constant, "@TODAY", kNow);
  EXPECT_EQ(unknown.error().kind(), ErrorKind::Execution);
  EXPECT_EQ(unknown.error().message(), "unknown value constant '@TODAY'");
  auto not_literal = lower_literal(Rule::role, "r", kNow);
  EXPECT_EQ(not_literal.error().kind(), ErrorKind::Internal);
  EXPECT_EQ(not_literal.error().message(), "grammar rule role is not a literal");
  auto blank_int = lower_literal(Rule::int_, "5 ", kNow);  // untrimmed: refused by the literal itself
  EXPECT_EQ(blank_int.error().kind(), ErrorKind::Execution);
  EXPECT_EQ(blank_int.error().message(), "invalid integer literal '5 '");
}

TEST(LowerValueLiteral, CutsNumbersAfterTheLastDigit) {
  EXPECT_EQ(lower_value_literal(Rule::int_, "5 /* c */ ", kNow)->text, "5");
  EXPECT_EQ(lower_value_literal(Rule::decimal, "1.5\t", kNow)->text, "1.5");
  EXPECT_EQ(lower_value_literal(Rule::int_, "1 2", kNow).error().message(), "invalid integer literal '1 2'");
  EXPECT_EQ(lower_value_literal(Rule::string, "\" a \"", kNow)->text, "\" a \"");
}

TEST(RoleNames, Normalisation) {
  const std::pair<std::string_view, std::string_view> cases[] = {
      {" r ", "r"}, {"` a `", " a "}, {"`", "`"}, {"`ab", "`ab"}, {"e\xcc\x81", "\xc3\xa9"},  // NFC
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(normalize_role_name(in), out) << in;
}

TEST(MutationBinder, FollowsFirstChildrenToTheVariable) {
  auto appearance = parse(Rule::appearance, "(+ x, r)");
  ASSERT_TRUE(appearance);
  EXPECT_EQ(*lower_mutation_binder(NodeView(appearance->tree().get(), appearance->first()->index())), "x");
  auto role = parse(Rule::role, "r");  // role(bare_role): no variable
  ASSERT_TRUE(role);
  EXPECT_EQ(lower_mutation_binder(NodeView(role->tree().get(), role->first()->index())).error().message(),
            "mutation binder contains no variable");
}

}  // namespace
}  // namespace brackwater::velquin
