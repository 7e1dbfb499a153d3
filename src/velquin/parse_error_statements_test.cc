// The error record of a script depends only on its failing statement: the statements before it
// move the position, never the expected and unexpected lists.
#include <gtest/gtest.h>

#include <string>

#include "velquin/parser.h"

namespace brackwater::velquin {
namespace {

TEST(ParseErrorAfterStatements, EarlierStatementsOnlyShiftThePosition) {
  const std::string failing[] = {
      "foo;",
      "add posit [{(+x, r)}, 1, @NOW]",
      "add posit [{(+x, r)}, 1 @NOW];",
      "add posit [{(add, r)}, 1, @NOW];",
      "add posit [{(+x, r)}, {\"a\": 1, @NOW];",
      "add posit +p [{(+x, r)}, 1.5%, @NOW] and assert by s with 80 at @NOW;",
      "add role a,, b;",
      "add role a; /* open",
      "search [*, *, *] where ?x = ;",
      "search [{(?x, r)}, *, *] limitless;",
      "search [*, *, *] return ?x order by ?x, ;",
      "search [*, *, *]",
      "  \n  add role `open",
  };
  const std::string before[] = {
      "add role a;",
      "add role a; ",
      "add posit [{(+x, r)}, 1, @NOW];\n/* c */\n",
      "search [*, *, *] limit 1;\r\n\t",
      "add role a;add role b;/* x ; */",
  };
  for (const std::string& bad : failing) {
    auto alone = VelquinParser::parse(Rule::velquin, bad);
    ASSERT_FALSE(alone) << bad;
    for (const std::string& prefix : before) {
      auto both = VelquinParser::parse(Rule::velquin, prefix + bad);
      ASSERT_FALSE(both) << prefix << bad;
      EXPECT_EQ(both.error().pos, prefix.size() + alone.error().pos) << prefix << bad;
      EXPECT_EQ(both.error().positives, alone.error().positives) << prefix << bad;
      EXPECT_EQ(both.error().negatives, alone.error().negatives) << prefix << bad;
    }
  }
}

TEST(ParseErrorAfterStatements, GoodScriptsStillParseWithEveryStatement) {
  const std::string script =
      "add role a, `b c`;\nadd posit +p [{(+x, a)}, \"v\", '2001-01-01'] and assert by +s with 90% at @NOW;\n"
      "search latest ?q = [{(?x, a), ...}, ?v, *] as of @NOW return ?x limit 5 ;";
  auto parsed = VelquinParser::parse(Rule::velquin, script);
  ASSERT_TRUE(parsed) << parse_message(parsed.error());
  std::string rules;
  for (Pair p : *parsed) rules += std::string(rule_name(p.rule())) + " ";
  EXPECT_EQ(rules, "add_role add_posit search EOI ");
}

}  // namespace
}  // namespace brackwater::velquin
