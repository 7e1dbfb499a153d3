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
  struct Case {
    Rule rule;
    std::string_view text;
    std::string out;
    LiteralKind kind;
  };
  const Case cases[] = {
      {Rule::int_, "-5", "-5", LiteralKind::Integer},
      {Rule::decimal, "1.50", "1.50", LiteralKind::Decimal},
      {Rule::certainty, "80%", "80%", LiteralKind::Certainty},
      {Rule::time, "'2001'", "'2001'", LiteralKind::Time},
      {Rule::json, "{\"a\":1}", "{\"a\":1}", LiteralKind::Json},
      {Rule::string, "\"x\"", "\"x\"", LiteralKind::String},
      {Rule::constant, "@NOW", "'2024-03-01 10:00:05'", LiteralKind::Time},  // quoted display
      {Rule::constant, "@BOT ", "@BOT", LiteralKind::Time},                  // constants are trimmed
      {Rule::constant, "@EOT", "@EOT", LiteralKind::Time},
  };
  for (const auto& c : cases) {
    auto lit = lower_literal(c.rule, c.text, kNow);
    ASSERT_TRUE(lit) << c.text << ": " << lit.error().message();
    EXPECT_EQ(lit->text, c.out);
    EXPECT_EQ(lit->kind, c.kind);
  }
}

TEST(LowerLiteral, Errors) {
  auto unknown = lower_literal(Rule::constant, "@TODAY", kNow);
  EXPECT_EQ(unknown.error().kind(), ErrorKind::Execution);
  EXPECT_EQ(unknown.error().message(), "unknown value constant '@TODAY'");
  EXPECT_EQ(lower_literal(Rule::constant, "@ NOW", kNow).error().message(), "unknown value constant '@ NOW'");
  auto not_literal = lower_literal(Rule::role, "r", kNow);
  EXPECT_EQ(not_literal.error().kind(), ErrorKind::Internal);
  EXPECT_EQ(not_literal.error().message(), "grammar rule role is not a literal");
  auto blank_int = lower_literal(Rule::int_, "5 ", kNow);  // untrimmed: refused by the literal itself
  EXPECT_EQ(blank_int.error().kind(), ErrorKind::Execution);
  EXPECT_EQ(blank_int.error().message(), "invalid integer literal '5 '");
  EXPECT_EQ(lower_literal(Rule::certainty, "101%", kNow).error().kind(), ErrorKind::Execution);
}

TEST(LowerValueLiteral, CutsNumbersAfterTheLastDigit) {
  EXPECT_EQ(lower_value_literal(Rule::int_, "5 /* c */ ", kNow)->text, "5");
  EXPECT_EQ(lower_value_literal(Rule::decimal, "1.5\t", kNow)->text, "1.5");
  EXPECT_EQ(lower_value_literal(Rule::int_, "1 2", kNow).error().message(), "invalid integer literal '1 2'");
  EXPECT_EQ(lower_value_literal(Rule::string, "\" a \"", kNow)->text, "\" a \"");
}

TEST(RoleNames, Normalisation) {
  EXPECT_EQ(normalize_role_name(" r "), "r");
  EXPECT_EQ(normalize_role_name("`a b`"), "a b");
  EXPECT_EQ(normalize_role_name("` a `"), " a ");
  EXPECT_EQ(normalize_role_name("``"), "");
  EXPECT_EQ(normalize_role_name("`"), "`");
  EXPECT_EQ(normalize_role_name("`ab"), "`ab");
  EXPECT_EQ(normalize_role_name("e\xcc\x81"), "\xc3\xa9");  // e + combining acute -> é
}

TEST(RoleNames, AddRoleChildrenInOrder) {
  auto pairs = parse(Rule::velquin, "add role a, `b c`, e\xcc\x81 a;");
  ASSERT_TRUE(pairs);
  auto statement = *pairs->first();
  NodeView node(pairs->tree().get(), statement.index());
  auto children = node.children();
  auto it = children.begin();
  std::vector<std::string> names;
  while (auto name = normalize_role_names_next(it, children.end())) names.push_back(*name);
  EXPECT_EQ(names, (std::vector<std::string>{"a", "b c", "\xc3\xa9", "a"}));
}

NodeView child_at(NodeView node, size_t n) {
  auto it = node.children().begin();
  for (size_t i = 0; i < n; ++i) ++it;
  return *it;
}

TEST(MutationBinder, FollowsFirstChildren) {
  auto pairs = parse(Rule::velquin, "add posit +p [{(+ x, r)}, 1, @NOW];");
  ASSERT_TRUE(pairs);
  NodeView posit = child_at(NodeView(pairs->tree().get(), pairs->first()->index()), 0);
  NodeView binder = child_at(posit, 0);
  ASSERT_EQ(binder.rule(), Rule::insert);
  EXPECT_EQ(*lower_mutation_binder(binder), "p");
  NodeView appearance = child_at(child_at(posit, 1), 0);
  EXPECT_EQ(*lower_mutation_binder(appearance), "x");
  NodeView bare_role = child_at(child_at(appearance, 1), 0);  // no children
  auto err = lower_mutation_binder(bare_role);
  ASSERT_FALSE(err);
  EXPECT_EQ(err.error().message(), "mutation binder contains no variable");
}

}  // namespace
}  // namespace brackwater::velquin
