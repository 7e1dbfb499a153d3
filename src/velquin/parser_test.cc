#include "velquin/parser.h"

#include <gtest/gtest.h>

#include <random>

#include <functional>
#include <string>
#include <thread>

namespace brackwater::velquin {
namespace {

// Renders pairs as `rule"text"` for leaves and `rule(children)` otherwise, siblings joined by blanks.
std::string render(const Pairs& pairs) {
  std::string out;
  for (Pair p : pairs) {
    if (!out.empty()) out += ' ';
    out += rule_name(p.rule());
    Pairs children = p.children();
    if (children.empty()) {
      out += '"';
      out += p.text();
      out += '"';
    } else {
      out += '(' + render(children) + ')';
    }
  }
  return out;
}

// The rendered tree of a parse, or "ERR" and the position of the error.
std::string tree(Rule rule, std::string_view text) {
  auto result = VelquinParser::parse(rule, text);
  if (!result) return "ERR " + std::to_string(result.error().pos);
  return render(*result);
}

// The text of the first pair of `rule` in a pre-order walk, or "<none>".
std::string first_text(const Pairs& pairs, Rule rule) {
  for (Pair p : pairs) {
    if (p.rule() == rule) return std::string(p.text());
    std::string inner = first_text(p.children(), rule);
    if (inner != "<none>") return inner;
  }
  return "<none>";
}

std::string first_text(std::string_view script, Rule rule) {
  auto result = VelquinParser::parse(Rule::velquin, script);
  if (!result) return "ERR";
  return first_text(*result, rule);
}

// The tree of the pattern [*, *, *] inside its posit_search.
#define STARS \
  "appearance_set_search(wildcard\"*\") appearing_value_search(wildcard\"*\") appearance_time_search(wildcard\"*\")"

struct TreeCase {
  Rule rule;
  std::string_view text;
  std::string_view tree;
};

// An expected tree of just "ERR" accepts a refusal at any position.
template <size_t N>
void check(const TreeCase (&cases)[N]) {
  for (const auto& c : cases) {
    std::string actual = tree(c.rule, c.text);
    if (c.tree == "ERR") actual = actual.substr(0, 3);
    EXPECT_EQ(actual, c.tree) << rule_name(c.rule) << " on " << c.text;
  }
}

TEST(Parser, ScriptFrame) {
  const TreeCase cases[] = {
      {Rule::velquin, "/* note */", "EOI\"\""},
      {Rule::velquin, "add role a; /* x */ ADD ROLE b;",
       "add_role(role(bare_role\"a\")) add_role(role(bare_role\"b\")) EOI\"\""},
      {Rule::velquin, "/* a /* b */ c */ add role a;", "ERR 13"},
      {Rule::velquin, "// x\nadd role a;", "ERR 0"},
      {Rule::velquin, "add role a;\xC2\xA0" "add role b;", "ERR 11"},
      {Rule::velquin, "add role a;\t\r\nadd role b;",
       "add_role(role(bare_role\"a\")) add_role(role(bare_role\"b\")) EOI\"\""},
  };
  check(cases);
  auto pairs = VelquinParser::parse(Rule::velquin, "add role a;  ").value();
  auto last = *std::next(pairs.begin());
  EXPECT_EQ(last.rule(), Rule::EOI);
  EXPECT_EQ(last.start(), 13u);
  EXPECT_EQ(last.end(), 13u);
}

TEST(Parser, NumberSpans) {
  const TreeCase cases[] = {
      {Rule::int_, "55 ,", "int\"55\""},
      {Rule::int_, "- 1 2", "int\"- 1 2\""},
      {Rule::int_, "1/*x*/2", "int\"1/*x*/2\""},
      {Rule::int_, "5 /* c */ ,", "int\"5 /* c */ \""},
      {Rule::decimal, "1.5 ", "decimal\"1.5 \""},
      {Rule::decimal, "1. 5", "decimal\"1. 5\""},
      {Rule::certainty, "+ 5 %", "certainty\"+ 5 %\""},
      {Rule::certainty, "999% ", "certainty\"999%\""},
      {Rule::certainty, "1000%", "ERR 0"},
      {Rule::certainty, "1.5%", "ERR 0"},
      {Rule::constant, "@ NOW", "constant\"@ NOW\""},
      {Rule::constant, "@X ,", "constant\"@X \""},
      {Rule::constant, "@Now", "constant\"@N\""},
      {Rule::time, "'2020-01-01T10:00'", "time\"'2020-01-01T10:00'\""},
      {Rule::time, "'2020-01-01 /* c */'", "time\"'2020-01-01 /* c */'\""},
      {Rule::time, "' '", "ERR 0"},
      {Rule::time, "'2020-01-01t10:00'", "ERR 0"},
      {Rule::time, "'2020Z'", "ERR 0"},
      // The value slot tries the families in order: "1000%" is no certainty, so an int and a refusal.
      {Rule::appearing_value_search, "-1.5", "appearing_value_search(decimal\"-1.5\")"},
      {Rule::appearing_value_search, "75%", "appearing_value_search(certainty\"75%\")"},
      {Rule::appearing_value_search, "{\"k\": 1}", "appearing_value_search(json\"{\"k\": 1}\")"},
      {Rule::appearing_value, "1000%", "appearing_value(int\"1000\")"},
      {Rule::appearing_value, "1.5%", "appearing_value(decimal\"1.5\")"},
  };
  check(cases);
}

// A string ends at the first double quote after an even run of backslashes: checked against a
// byte-by-byte scan on strings of quotes and backslash runs, at every offset.
TEST(Parser, StringsEndAtTheFirstUnescapedQuote) {
  auto scan = [](std::string_view text) -> std::string {
    for (size_t p = 1; p < text.size(); ++p) {
      if (text[p] == '"') return "string\"" + std::string(text.substr(0, p + 1)) + "\"";
      if (text[p] == '\\' && ++p == text.size()) break;
    }
    return "ERR 0";
  };
  std::mt19937 random(5);
  const char bytes[] = {'a', '\\', '\\', '"', 'b', '\xc3', '\xa9'};
  for (int round = 0; round < 20000; ++round) {
    std::string text = "\"";
    const size_t length = random() % 24;
    for (size_t i = 0; i < length; ++i) text += bytes[random() % std::size(bytes)];
    ASSERT_EQ(tree(Rule::string, text), scan(text)) << text;
  }
}

TEST(Parser, JsonAndStrings) {
  const TreeCase cases[] = {
      {Rule::json, "{a b [c] {d}} x", "json\"{a b [c] {d}}\""},
      {Rule::json, "{]}", "ERR 0"},
      {Rule::json, "{\"a}", "ERR 0"},
      {Rule::json, "[1,2]", "ERR 0"},
      {Rule::json, "{\"}\\\"\" : [\"]\"]}", "json\"{\"}\\\"\" : [\"]\"]}\""},
      {Rule::json, "{ /* } */ }", "json\"{ /* }\""},
      {Rule::string, "\"a\\\"b\" c", "string\"\"a\\\"b\"\""},
      {Rule::string, "\"a\\", "ERR 0"},
      {Rule::string, "\"line\nbreak\"", "string\"\"line\nbreak\"\""},
      // The bracket rules started directly run without atomicity: they skip and make pairs.
      {Rule::json_object, "{ /* } */ }", "json_object\"{ /* } */ }\""},
      {Rule::json_object, "{a {b} [\"c\"]}", "json_object(json_object\"{b}\" json_array(json_string\"\"c\"\"))"},
      {Rule::json_string, "\"/*\"*/\"", "json_string\"\"/*\"*/\"\""},
  };
  check(cases);
}

TEST(Parser, NamesAndRoles) {
  const TreeCase cases[] = {
      {Rule::variable, "asc", "variable(identifier\"asc\")"},
      {Rule::variable, "Add", "variable(identifier\"Add\")"},
      {Rule::variable, "add1", "variable(identifier\"add1\")"},
      {Rule::variable, "add", "ERR 0"},
      {Rule::variable, "desc", "ERR 0"},
      {Rule::variable, "by,", "ERR 0"},
      {Rule::variable, "caf\xC3\xA9s", "variable(identifier\"caf\xC3\xA9s\")"},
      {Rule::variable, "e\xCC\x81x", "variable(identifier\"e\")"},
      {Rule::variable, "\xE4\xB8\xAD", "ERR 0"},
      {Rule::identifier, "ab c", "identifier\"ab c\""},
      {Rule::query_variable, "?x1 y", "query_variable\"?x1\""},
      {Rule::query_variable, "? x", "ERR 0"},
      {Rule::role, "\xCC\x81" "a", "role(bare_role\"\xCC\x81" "a\")"},
      {Rule::role, "``", "role(quoted_role\"``\")"},
      {Rule::role, "`open", "ERR 0"},
      {Rule::comparator, "===", "comparator\"===\""},
      {Rule::comparator, "==", "comparator\"=\""},
      {Rule::comparator, "!=", "ERR 0"},
      {Rule::recall_union, "a | b|c", "recall_union(recall(variable(identifier\"a\")) recall(variable(identifier\"b\")) "
                                      "recall(variable(identifier\"c\")))"},
  };
  check(cases);
}

TEST(Parser, AddStatements) {
  const TreeCase cases[] = {
      {Rule::velquin, "add role `two words`, b;",
       "add_role(role(quoted_role\"`two words`\") role(bare_role\"b\")) EOI\"\""},
      {Rule::velquin, "add roles a;", "add_role(role(bare_role\"s\") role(bare_role\"a\")) EOI\"\""},
      {Rule::velquin, "add role a b, c,;",
       "add_role(role(bare_role\"a\") role(bare_role\"b\") role(bare_role\"c\")) EOI\"\""},
      {Rule::velquin, "add\trole a;", "ERR 0"},
      {Rule::velquin, "add role a,,b;", "ERR 11"},
      {Rule::velquin, "add role;", "ERR 8"},
      {Rule::velquin,
       "add posit +q [{(+p, r), (x, s),}, {}, @NOW] and assert by +src with 80% at '2001-01-01', [{(p, r)}, 2.5, $t];",
       "add_posit(posit(insert(variable(identifier\"q\")) appearance_set(appearance(insert(variable(identifier\"p\")) "
       "role(bare_role\"r\")) appearance(recall(variable(identifier\"x\")) role(bare_role\"s\"))) "
       "appearing_value(json\"{}\") appearance_time(constant\"@NOW\")) "
       "and_assert_clause(assertion_source(insert(variable(identifier\"src\"))) "
       "assertion_certainty(certainty\"80%\") assertion_time(time\"'2001-01-01'\")) "
       "posit(appearance_set(appearance(recall(variable(identifier\"p\")) role(bare_role\"r\"))) "
       "appearing_value(decimal\"2.5\") appearance_time(parameter\"$t\"))) EOI\"\""},
      {Rule::and_assert_clause, "And Assert +a by s WITH $c AT @BOT",
       "and_assert_clause(assertion_binding(insert(variable(identifier\"a\"))) "
       "assertion_source(recall(variable(identifier\"s\"))) assertion_certainty(parameter\"$c\") "
       "assertion_time(constant\"@BOT\"))"},
      {Rule::velquin, "add posit [{}, 1, '2001'];", "ERR 12"},
      {Rule::velquin, "add posit [{(+p, r)}, 1, 2];", "ERR 25"},
      {Rule::velquin, "add posit[{(+p,r)},1,'2001'];",
       "add_posit(posit(appearance_set(appearance(insert(variable(identifier\"p\")) role(bare_role\"r\"))) "
       "appearing_value(int\"1\") appearance_time(time\"'2001'\"))) EOI\"\""},
  };
  check(cases);
  EXPECT_EQ(first_text("add posit [{(+ p, r)}, 5 , '2001'];", Rule::insert), "+ p");
  EXPECT_EQ(first_text("add posit [{(+p, r)}, 1, '2001'] ;", Rule::add_posit), "add posit [{(+p, r)}, 1, '2001'] ;");
}

TEST(Parser, SearchClauses) {
  const TreeCase cases[] = {
      {Rule::search, "search [*, *, *];", "search(search_clause(posit_search(" STARS ")))"},
      {Rule::velquin, "search [*, *, *] not exists {};", "ERR 29"},
      {Rule::velquin, "search [*, *, *],, [*, *, *];", "ERR 17"},
      {Rule::velquin, "search [*, *, *] where ?v > 1 AND ?v < 9;", "ERR 30"},
      {Rule::velquin, "search [*, *, *] limit 5 return ?v;", "ERR 25"},
      {Rule::velquin, "search [*, *, *] not exists {[*, *, *]} union [*, *, *];", "ERR 40"},
      {Rule::velquin, "search [*, *, *] return distinct;", "ERR 32"},
      {Rule::velquin, "search [*, *, *] order by ?a ?b;", "ERR 29"},
      {Rule::velquin, "search [*, *, *] order by ?a,;", "ERR 29"},
      {Rule::where_clause, "where ?x === 1 and ?y ?= ?z and ?w >= 50%",
       "where_clause(condition(variable_reference(query_variable\"?x\") comparator\"===\" rhs_value(int\"1 \")) "
       "condition(variable_reference(query_variable\"?y\") comparator\"?=\" "
       "variable_reference(query_variable\"?z\")) condition(variable_reference(query_variable\"?w\") "
       "comparator\">=\" rhs_value(certainty\"50%\")))"},
      {Rule::return_clause, "RETURN DISTINCT ?a, ?b,",
       "return_clause(distinct\"DISTINCT\" variable_reference(query_variable\"?a\") "
       "variable_reference(query_variable\"?b\"))"},
      {Rule::order_by_clause, "order by ?a, ?b desc",
       "order_by_clause(order_item(variable_reference(query_variable\"?a\")) "
       "order_item(variable_reference(query_variable\"?b\") direction\"desc\"))"},
      {Rule::limit_clause, "limit -3", "limit_clause(int\"-3\")"},
      {Rule::limit_clause, "LIMIT + 7", "limit_clause(int\"+ 7\")"},
  };
  check(cases);
  EXPECT_NE(tree(Rule::velquin,
                 "SEARCH [*, *, *] WHERE ?v > 1 RETURN DISTINCT ?v ORDER BY ?v DESC LIMIT 5 "
                 "Or Add Posit [{(+t, r)}, 1, @NOW] and assert by s with 5% at @NOW, [{(+u, r)}, 2, @NOW];")
                .substr(0, 3),
            "ERR");
  EXPECT_EQ(first_text("search [*, *, *] ;", Rule::search_clause), "search [*, *, *] ");
  EXPECT_EQ(first_text("search /*a*/ [*, *, *] /*b*/ ;", Rule::search), "search /*a*/ [*, *, *] /*b*/ ;");
}

TEST(Parser, PositPatterns) {
  const TreeCase cases[] = {
      {Rule::appearance_set_search, "{(?x, name), ...}",
       "appearance_set_search(appearance_list(appearance_search(query_variable\"?x\" role(bare_role\"name\")) "
       "ellipsis\"...\"))"},
      {Rule::appearance_set_search, "{(?x, name),}", "ERR"},
      {Rule::appearance_set_search, "{..., (?x, name)}", "ERR"},
      {Rule::appearance_set_search, "{(?x, name) (?y, age)}", "ERR"},
      {Rule::appearance_set_search, "{(?a | ?b | ?c, name)}",
       "appearance_set_search(appearance_list(appearance_search(query_union(query_variable\"?a\" "
       "query_variable\"?b\" query_variable\"?c\") role(bare_role\"name\"))))"},
      {Rule::appearance_set_search, "{(?a |, name)}", "ERR"},
      {Rule::appearance_set_search, "{(?a, ?r | ?s)}", "ERR"},
      {Rule::appearance_set_search, "{(x, name)}", "ERR"},
      {Rule::appearance_set_search, "?s = *", "appearance_set_search(appearance_set_binding(query_variable\"?s\") "
                                              "wildcard\"*\")"},
      {Rule::posit_search, "[?s, *, *]", "ERR"},
      {Rule::appearance_set_search, "{(*, *)}",
       "appearance_set_search(appearance_list(appearance_search(wildcard\"*\" wildcard\"*\")))"},
      {Rule::appearance_set_search, "?s={(?x, ?r)}",
       "appearance_set_search(appearance_set_binding(query_variable\"?s\") "
       "appearance_list(appearance_search(query_variable\"?x\" query_variable\"?r\")))"},
      {Rule::as_of_clause, "as of '2020-01-01'", "as_of_clause(time\"'2020-01-01'\")"},
      {Rule::as_of_clause, "as of $t", "as_of_clause(parameter\"$t\")"},
      {Rule::posit_search, "latest ?p = [*, ?v, ?t]",
       "posit_search(latest_marker\"latest\" posit_binding(query_variable\"?p\") appearance_set_search(wildcard\"*\") "
       "appearing_value_search(query_variable\"?v\") appearance_time_search(query_variable\"?t\"))"},
      {Rule::posit_search, "?p = latest [*, *, *]", "ERR"},
      {Rule::posit_search, "?p [*, *, *]", "ERR"},
      {Rule::posit_search, "[*, 'word', *]", "ERR"},
      {Rule::posit_search, "[*, *, 42]", "ERR"},
      {Rule::posit_search, "[*, *, *] as of ?t", "posit_search(" STARS " as_of_clause(query_variable\"?t\"))"},
      {Rule::posit_search, "[*, *, *] AS OF @NOW", "posit_search(" STARS ")"},
      {Rule::posit_search, "[*, *, *] IN EFFECT @NOW, ?t",
       "posit_search(" STARS " in_effect_clause(effect_cut_operand(constant\"@NOW\") "
       "effect_cut_operand(query_variable\"?t\")))"},
  };
  check(cases);
  EXPECT_EQ(tree(Rule::velquin, "search [*, *, *] via latest [*, *, *];"), "ERR 21");
  EXPECT_EQ(tree(Rule::velquin, "search [*, *, *] as of @NOW in effect @BOT, @EOT;"), "ERR 28");
  EXPECT_EQ(tree(Rule::velquin, "search [*, *, *] in effect @NOW;"), "ERR 27");
  EXPECT_EQ(tree(Rule::velquin, "searchlatest[*, *, *]where?x=1and?y=2 return?x limit5;").substr(0, 6), "search");
}

TEST(Parser, KeywordCaseAndSpacing) {
  const TreeCase cases[] = {
      {Rule::velquin, "add role\ta;", "add_role(role(bare_role\"a\")) EOI\"\""},
      {Rule::velquin, "search [*, *, *] not\texists {[*, *, *]};", "ERR 17"},
      {Rule::posit_search, "LATEST[*, *, *] VIA [*, *, *]",
       "posit_search(latest_marker\"LATEST\" " STARS " via_clause(via_posit(" STARS ")))"},
      {Rule::direction, "DeSc", "direction\"DeSc\""},
  };
  check(cases);
  EXPECT_EQ(tree(Rule::velquin, "Add Role a; ADD POSIT [{(+p, r)}, 1, @NOW] AND ASSERT BY s WITH 5% AT @NOW;"),
            tree(Rule::velquin, "add role a; add posit [{(+p, r)}, 1, @NOW] and assert by s with 5% at @NOW;"));
}

TEST(Parser, CommentsInOddPlaces) {
  EXPECT_EQ(first_text("add posit [{(+/*c*/p, r)}, 1, @NOW];", Rule::insert), "+/*c*/p");
  EXPECT_EQ(first_text("add posit [{(+p, r)}, \"/*s*/\", @NOW];", Rule::string), "\"/*s*/\"");
  EXPECT_EQ(first_text("add posit [{(+p, `/*q*/`)}, 1, @NOW];", Rule::quoted_role), "`/*q*/`");
  EXPECT_EQ(first_text("add posit [{(+p, r)}, {\"a\": \"/*\"}, @NOW];", Rule::json), "{\"a\": \"/*\"}");
  EXPECT_EQ(first_text("search/*c*/?p/*c*/=/*c*/[*,*,*]/*c*/;", Rule::posit_search), "?p/*c*/=/*c*/[*,*,*]/*c*/");
  EXPECT_EQ(first_text("/*a*/ add role a; /*b*/", Rule::add_role), "add role a;");
  EXPECT_EQ(first_text("search [{(?a | ?b /*u*/, r) }, *, *];", Rule::query_union), "?a | ?b /*u*/");
  EXPECT_EQ(first_text("search [{(?a, r) }, *, *];", Rule::appearance_list), "(?a, r) ");
  EXPECT_EQ(first_text("search [*, *, *] return ?a /*r*/;", Rule::return_clause), "return ?a /*r*/");
  EXPECT_EQ(first_text("search [*, *, *] order by ?a desc ;", Rule::order_by_clause), "order by ?a desc ");
  EXPECT_EQ(first_text("search [*, *, *] order by ?a desc ;", Rule::order_item), "?a desc");
}

TEST(Parser, ListsAndShapes) {
  const std::string two = tree(Rule::velquin, "search [*, *, *] [*, *, *];");
  EXPECT_EQ(two.rfind("search(search_clause(posit_search(", 0), 0u);
  EXPECT_EQ(tree(Rule::velquin, "search [*, *, *], [*, *, *],;"), two);
  EXPECT_EQ(tree(Rule::velquin, "search [*, *, *] [*, *, *] /*x*/ ;"), two);

  auto pairs = VelquinParser::parse(Rule::velquin,
                                    "search [*, *, *] or add posit [{(+a, r)}, 1, @NOW] and assert by s with 5% at "
                                    "@NOW [{(+b, r)}, 2, @NOW];")
                   .value();
  Pair search = *pairs.first();
  std::string rules;
  for (Pair clause : search.children()) {
    if (clause.rule() != Rule::or_add_clause) continue;
    for (Pair item : clause.children()) rules += std::string(rule_name(item.rule())) + " ";
  }
  EXPECT_EQ(rules, "posit and_assert_clause posit ");
}

TEST(Parser, PairAccess) {
  auto pairs = VelquinParser::parse(Rule::velquin, "add role a, b;").value();
  EXPECT_EQ(pairs.size(), 2u);
  Pair statement = *pairs.first();
  EXPECT_EQ(statement.rule(), Rule::add_role);
  EXPECT_EQ(statement.start(), 0u);
  EXPECT_EQ(statement.end(), 14u);
  EXPECT_EQ(statement.children().size(), 2u);
  EXPECT_EQ(statement.first_child()->text(), "a");
  EXPECT_FALSE(statement.first_child()->first_child()->first_child().has_value());
  // An iterator outlives the temporary run of children it came from.
  auto it = statement.children().begin();
  EXPECT_EQ((*++it).text(), "b");
  // The text stays valid after the parse result and the input are gone.
  std::string_view text;
  {
    std::string input = "add role xyz;";
    Pair role = *VelquinParser::parse(Rule::velquin, input).value().first()->first_child();
    input.assign(input.size(), '#');
    text = role.text();
    EXPECT_EQ(text, "xyz");
  }
}

TEST(Parser, SameTreeTwiceAndConcurrently) {
  const std::string script =
      "add role a; search [{(?x, a)}, ?v, *] where ?v > 1 return ?x order by ?x desc limit 3;";
  const std::string expected = tree(Rule::velquin, script);
  EXPECT_EQ(tree(Rule::velquin, script), expected);
  std::vector<std::thread> threads;
  std::vector<std::string> results(4);
  for (size_t i = 0; i < results.size(); ++i) {
    threads.emplace_back([&, i] { results[i] = tree(Rule::velquin, script); });
  }
  for (auto& t : threads) t.join();
  for (const auto& r : results) EXPECT_EQ(r, expected);
}

// A long list counts its items and bytes as work, and the budget asks whether to stop; a stop ends
// the parse without an error in the text. Wide items count by their bytes: a few of 64 KiB ask as
// often as many small ones.
TEST(Parser, StopsWhenAskedInALongList) {
  std::string script = "add role a; add posit ";
  for (int i = 0; i < 20000; ++i) script += (i ? ", " : "") + std::string("[{(+x, a)}, 1, '2001']");
  script += ";";
  int asked = 0;
  construct::Budget stop_at_second([&asked]() -> construct::Result<void> {
    if (++asked == 2) return construct::fail(construct::EngineError::timed_out());
    return {};
  });
  auto stopped = parse_borrowed(Rule::velquin, script, &stop_at_second);
  ASSERT_FALSE(stopped);
  EXPECT_TRUE(stopped.error().stopped);
  EXPECT_EQ(asked, 2);
  std::string wide = "add role a; add posit ";
  for (int i = 0; i < 3; ++i) wide += (i ? ", " : "") + std::string("[{(+x, a)}, \"") + std::string(1 << 22, 'v') + "\", '2001']";
  wide += ";";
  asked = 0;
  construct::Budget stop_at_second_wide([&asked]() -> construct::Result<void> {
    if (++asked == 2) return construct::fail(construct::EngineError::timed_out());
    return {};
  });
  EXPECT_TRUE(parse_borrowed(Rule::velquin, wide, &stop_at_second_wide).error().stopped);
  construct::Budget never;
  auto whole = parse_borrowed(Rule::velquin, script, &never);
  ASSERT_TRUE(whole);
  EXPECT_EQ(whole->tree()->nodes.size(), parse(Rule::velquin, script)->tree()->nodes.size());
}

}  // namespace
}  // namespace brackwater::velquin
