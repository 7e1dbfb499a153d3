#include "velquin/parse_error.h"

#include <gtest/gtest.h>

#include <string>

#include "velquin/parser.h"

namespace brackwater::velquin {
namespace {

// The full message of a script that must fail to parse.
std::string message_of(std::string_view script) {
  auto result = VelquinParser::parse(Rule::velquin, script);
  if (result) return "<parsed>";
  return parse_message(result.error());
}

// The lists of an error where a statement should begin.
constexpr std::string_view kStatement =
    "  = expected EOI, add_role, add_posit, or search_clause\nExpected one of: add posit, add role, search clause, token";

TEST(ParseMessage, Records) {
  const std::string statement(kStatement);
  const std::pair<std::string, std::string> cases[] = {
      {"foo;", " --> 1:1\n  |\n1 | foo;\n  | ^---\n  |\n" + statement},
      {"add role x", " --> 1:11\n  |\n1 | add role x\n  |           ^---\n  |\n  = expected role\nExpected one of: role name"},
      {"add posit [{(+add, r)}, 1, '2001'];",
       " --> 1:15\n  |\n1 | add posit [{(+add, r)}, 1, '2001'];\n  |               ^---\n  |\n  = unexpected keyword"},
      // Both lists: the keyword matched where a Thing was expected.
      {"add role a; add posit [{(add, r)}, 1, @NOW];",
       " --> 1:26\n  |\n1 | add role a; add posit [{(add, r)}, 1, @NOW];\n  |                          ^---\n  |\n"
       "  = unexpected keyword; expected insert\nExpected one of: +variable"},
      {"add posit [{(+p, r)}, 1, '2001'] and assert by s with 100%;",
       " --> 1:55\n  |\n1 | add posit [{(+p, r)}, 1, '2001'] and assert by s with 100%;\n"
       "  |                                                       ^---\n  |\n  = expected parameter\n"
       "Expected one of: token"},
      {"search [*, *, *,];",
       " --> 1:9\n  |\n1 | search [*, *, *,];\n  |         ^---\n  |\n  = expected query_variable\n"
       "Expected one of: token"},
      {"add posit [{(+p, r)}, 1];",
       " --> 1:23\n  |\n1 | add posit [{(+p, r)}, 1];\n  |                       ^---\n  |\n"
       "  = expected decimal, certainty, time, json, string, constant, or parameter\n"
       "Expected one of: JSON literal, certainty (e.g., 100%), decimal literal, string literal, "
       "time constant (@NOW/@BOT/@EOT), time literal (e.g., 'YYYY-MM-DD'), token"},
      // 1.5% in a value: six rules are recorded at the value, not seven.
      {"add posit [{(+p, r)}, 1.5%, @NOW];",
       " --> 1:23\n  |\n1 | add posit [{(+p, r)}, 1.5%, @NOW];\n  |                       ^---\n  |\n"
       "  = expected certainty, time, json, string, constant, or parameter\n"
       "Expected one of: JSON literal, certainty (e.g., 100%), string literal, time constant (@NOW/@BOT/@EOT), "
       "time literal (e.g., 'YYYY-MM-DD'), token"},
      // Leading blank lines count; the position is on the third line.
      {"\n\n  foo;", " --> 3:3\n  |\n3 |   foo;\n  |   ^---\n  |\n" + statement},
      // A statement across lines: the right operand is missing on the second line.
      {"search [*, *, *]\nwhere ?x = ;",
       " --> 2:12\n  |\n2 | where ?x = ;\n  |            ^---\n  |\n  = expected query_variable or rhs_value\n"
       "Expected one of: token"},
      // The unterminated comment stays in place; the error is where the statements stopped.
      {"add role a; /* open", " --> 1:13\n  |\n1 | add role a; /* open\n  |             ^---\n  |\n" + statement},
      // A word that merely begins with a keyword: "less" is no integer.
      {"search [*, *, *] limitless;",
       " --> 1:23\n  |\n1 | search [*, *, *] limitless;\n  |                       ^---\n  |\n"
       "  = expected int\nExpected one of: integer literal"},
      {std::string(9, '\n') + "x;", "  --> 10:1\n   |\n10 | x;\n   | ^---\n   |\n " + statement},
      // A tab before the position reappears as a tab; other characters, wide ones included, as one blank.
      {"add role\t`é中` x",
       " --> 1:16\n  |\n1 | add role\t`é中` x\n  |         \t      ^---\n  |\n  = expected role\n"
       "Expected one of: role name"},
      // A carriage return counts in the column but is dropped from the shown line.
      {"add role a;\r\nfoo;", " --> 2:1\n  |\n2 | foo;\n  | ^---\n  |\n" + statement},
  };
  for (const auto& [script, message] : cases) EXPECT_EQ(message_of(script), message) << script;
  auto error = VelquinParser::parse(Rule::velquin, "add role a;\rfoo;").error();
  EXPECT_EQ(error.line, 1u);
  EXPECT_EQ(error.col, 13u);
  EXPECT_EQ(error.line_text, "add role a;foo;");
}

TEST(ParseMessage, Wording) {
  ParsingError e = ParsingError::make("ab", 1, {Rule::json, Rule::EOI, Rule::json}, {Rule::keyword});
  EXPECT_EQ(e.positives, (std::vector<Rule>{Rule::EOI, Rule::json}));
  EXPECT_EQ(e.to_text(), " --> 1:2\n  |\n1 | ab\n  |  ^---\n  |\n  = unexpected keyword; expected EOI or json");
  e = ParsingError::make("ab", 0, {}, {Rule::keyword, Rule::identifier});
  EXPECT_EQ(parse_message(e), " --> 1:1\n  |\n1 | ab\n  | ^---\n  |\n  = unexpected keyword or identifier");
  e = ParsingError::make("ab", 0, {Rule::insert, Rule::search, Rule::string, Rule::int_, Rule::EOI}, {});
  EXPECT_EQ(parse_message(e).substr(parse_message(e).find("\nExpected")),
            "\nExpected one of: +variable, integer literal, search, string literal, token");
}

// The error record of a script depends only on its failing statement: the statements before it
// move the position, never the expected and unexpected lists.
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

}  // namespace
}  // namespace brackwater::velquin
