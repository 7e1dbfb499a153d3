// Searches run end to end: the order of their steps and checks, what they bind for later
// statements, and "or add posit".
#include "velquin/search_command.h"

#include <gtest/gtest.h>

#include <span>

#include "velquin/parser.h"
#include "velquin/script_test_util.h"

namespace brackwater::velquin {
namespace {

// Things a, b, c named Ann, Bob and Cy, aged 30, 25 and 30.
constexpr std::string_view kPeople =
    "add role name, age;"
    "add posit [{(+a, name)}, \"Ann\", '2020'], [{(+b, name)}, \"Bob\", '2020'], [{(+c, name)}, \"Cy\", '2020'];"
    "add posit [{(a, age)}, 30, '2020'], [{(b, age)}, 25, '2020'], [{(c, age)}, 30.0, '2021'];";

class SearchTest : public testing::MemoryScriptTest {
 protected:
  // Each result set as "col,col: cell,cell; cell,cell" (" +" when limited), sets joined by " / ";
  // or the error's display.
  std::string results(std::string_view script) {
    auto r = execute(std::string(kPeople) + std::string(script));
    if (!r) return r.error().display();
    std::string out;
    for (const ResultSet& set : *r) {
      if (!out.empty()) out += " / ";
      for (size_t i = 0; i < set.columns.size(); ++i) out += (i ? "," : "") + set.columns[i];
      out += ":";
      for (size_t i = 0; i < set.rows.size(); ++i) {
        out += i ? "; " : " ";
        for (size_t k = 0; k < set.rows[i].size(); ++k) out += (k ? "," : "") + set.rows[i][k].text;
      }
      if (set.limited) out += " +";
    }
    return out;
  }

  // Each script on a fresh engine.
  void check(std::span<const std::pair<std::string_view, std::string_view>> cases) {
    for (const auto& [script, expected] : cases) {
      SetUp();
      EXPECT_EQ(results(script), expected) << script;
    }
  }
};

TEST_F(SearchTest, DistinctOrderAndLimit) {
  const std::pair<std::string_view, std::string_view> cases[] = {
      // Sorted in full before the limit keeps the first rows; 30 and 30.0 tie, the name decides.
      {"search [{(?t, name)}, ?n, *] [{(?t, age)}, ?g, *] return ?g, ?t order by ?g DESC, ?t desc limit 2;",
       "g,t: 30.0,10; 30,8 +"},
      {"search [{(?t, age)}, 99, *] return ?t limit 0;", "t:"},  // a limit of 0 with no row offered
      // Rows that differ only in ?t collapse; the first found stays.
      {"search [{(?t, age)}, ?g, ?w] return distinct ?w order by ?w desc;", "w: 2021; 2020"},
      // The sink refuses the first row, yet every row is checked for its returned variables.
      {"search [{(?t, name)}, ?n, *] union [{(?t, age)}, ?g, *] return ?t limit 0;", "t: +"},
      {"search [{(?t, name)}, ?n, *] union [{(?t, age)}, ?g, *] return ?n limit 0;", "Unknown variable: n"},
  };
  check(cases);
}

TEST_F(SearchTest, FilterScopesAndCheckOrder) {
  const std::pair<std::string_view, std::string_view> cases[] = {
      {"search [{(?t, name)}, ?n, *] not exists {[{(?t, age)}, 25, *]} return ?n;", "n: \"Ann\"; \"Cy\""},
      {"search [{(?t, name)}, ?n, *] [{(?t, age)}, ?g, *] where ?g = 30 and ?n === \"Cy\" return ?n;", "n: \"Cy\""},
      // Predicate-major: the union rows lack ?g for the first condition before any row meets the second.
      {"search [{(?t, age)}, ?g, *] union [{(?t, name)}, ?n, *] where ?g = 30 and ?n = \"Ann\" return ?t;",
       "Unknown variable: g"},
      // A Thing in one group's rows and a Posit in another's: refused when the bindings are taken,
      // even without a return clause.
      {"search [{(?x, name)}, *, *] union ?x = [{(*, age)}, *, *];",
       "Query variable 'x' has incompatible domains: Thing and Posit"},
  };
  check(cases);
}

TEST_F(SearchTest, OrAddBindsWhatItFoundOrAdds) {
  const std::pair<std::string_view, std::string_view> cases[] = {
      // Checked before the search runs: nothing is added.
      {"search [{(?t, name)}, ?n, *] where ?n = \"Dee\" return ?n or add posit [{(+t, name)}, \"Dee\", '2020'];"
       "search [{(?t, name)}, \"Dee\", *] return ?t;",
       "Execution error: or-add fallback cannot supply returned variable '?n'; bind '+n' in the add branch or omit "
       "return"},
      {"search ?t = [{(*, name)}, \"Dee\", *] return ?t or add posit [{(+t, name)}, \"Dee\", '2020'];",
       "Query variable 't' has incompatible domains: Posit and Thing"},
      {"search [{(?t, name)}, \"Dee\", *] return ?t, ?t or add posit +p [{(+t, name)}, \"Dee\", '2020'];"
       "search [{(?t, name)}, \"Dee\", *] return ?t;",
       "t,t: 17,17 / t: 17"},
      // Found: the branch's names take the found identities ("get or create").
      {"search [{(?t, name)}, \"Bob\", *] return ?t or add posit [{(+t, name)}, \"Bob\", '2020'];"
       "add posit [{(t, age)}, 26, '2024'];"
       "search [{(?t, age)}, ?g, *] where ?g = 26 return ?t;",
       "t: 9 / t: 9"},
      // A where clause that removes every row counts as finding nothing; a limit of 0 does not.
      {"search [{(?t, name)}, ?n, *] where ?n = \"Zed\" or add posit [{(+t, name)}, \"Ann\", '2020'];"
       "search [{(?t, name)}, \"Ann\", *] return ?t limit 0 or add posit [{(+t, name)}, \"Ann\", '2020'];"
       "search [{(?t, name)}, \"Ann\", *] return ?t;",
       "t: + / t: 8; 17"},
  };
  check(cases);
}

// A search run again is not compiled again: each run still sees its own now and parameters.
TEST_F(SearchTest, RunAgainWithAnotherNowOrParameter) {
  const literal::TimeValue mid2020 = literal::TimeValue::of_date(2020, 6, 1);
  const literal::TimeValue mid2021 = literal::TimeValue::of_date(2021, 6, 1);
  const literal::TimeValue y2023 = literal::TimeValue::of_year(2023);
  ExecuteOptions at_setup;
  at_setup.now = mid2020;
  ASSERT_TRUE(execute(std::string(kPeople) + "add role stamp; add posit [{(+d, stamp)}, @NOW, '2020'];", at_setup));
  auto rows = [&](std::string_view script, const literal::TimeValue& now, std::string_view g = "") {
    ExecuteOptions options;
    options.now = now;
    if (!g.empty()) options.parameters["g"] = ScriptParameter{ParameterKind::Literal, std::string(g)};
    auto r = execute(script, std::move(options));
    if (!r) return r.error().display();
    std::string out;
    for (const ResultRow& row : r->at(0).rows) out += (out.empty() ? "" : ";") + row.at(0).text;
    return out;
  };
  // Met once, then kept, then given other nows: as-of cutoff, value literal, where operand.
  const std::string_view as_of = "search [{(?t, age)}, ?g, *] as of @NOW return ?g order by ?g;";
  const std::string_view value = "search [{(?d, stamp)}, @NOW, *] return ?d;";
  const std::string_view where = "search [{(?t, age)}, ?g, ?w] where ?w < @NOW return ?g order by ?g;";
  for (int round = 0; round < 2; ++round) {
    EXPECT_EQ(rows(as_of, mid2021), "25;30") << round;
    EXPECT_EQ(rows(value, mid2020), "18") << round;
    EXPECT_EQ(rows(where, mid2021), "25;30") << round;
  }
  EXPECT_EQ(rows(as_of, y2023), "25;30;30.0");
  EXPECT_EQ(rows(value, y2023), "");
  EXPECT_EQ(rows(where, y2023), "25;30;30.0");
  EXPECT_EQ(rows(as_of, mid2021), "25;30");
  EXPECT_EQ(rows(value, mid2020), "18");
  const std::string_view by_parameter = "search [{(?t, age)}, $g, *] return ?t;";
  for (int round = 0; round < 2; ++round) {
    EXPECT_EQ(rows(by_parameter, mid2020, "25"), "9") << round;
    EXPECT_EQ(rows(by_parameter, mid2020, "30"), "8;10") << round;
  }
}

// What a search holds (its row tables, distinct set, sort keys and scratch, rendered rows) is
// charged to the statement's budget before it is allocated: under budgets too small the search
// fails with "search memory" and the budget's maximum, with room it answers exactly as it does
// with the budget of a script, and either way every byte is given back when it ends.
TEST_F(SearchTest, AnswersWithinItsBudgetOrFailsBeforeAllocating) {
  std::string data(kPeople);
  data += "add posit ";
  for (int i = 0; i < 300; ++i) data += (i ? ", " : "") + std::string("[{(+x, age)}, ") + std::to_string(i % 50) + ", '2020']";
  data += ";";
  ASSERT_EQ(outcome(data), "ok");
  const std::string script =
      "search [{(?a, age)}, ?g, *] [{(?b, name)}, ?m, *] where ?m = \"Bob\" "
      "return distinct ?g, ?b order by ?g desc, ?b, ?g limit 7;";
  auto run = [&](uint64_t max_bytes, std::string& error) {
    auto pairs = parse(Rule::velquin, script);
    EXPECT_TRUE(pairs);
    const ExecContext ctx(std::nullopt, {}, testing::kScriptNow, std::nullopt, make_cancel_flag(), {}, max_bytes);
    ScriptVariables variables;
    BoundedRowSink sink(7);
    std::optional<std::vector<std::string>> columns;
    auto r = execute_search_command(*engine, Pair(pairs->tree(), (*pairs->begin()).index()), variables, sink,
                                    columns, ctx);
    EXPECT_EQ(ctx.budget().held(), 0u) << max_bytes;
    error = r ? "" : r.error().display();
    std::string out;
    for (const ResultRow& row : sink.rows) out += row.at(0).text + "," + row.at(1).text + ";";
    return out;
  };
  std::string error;
  const std::string expected = run(construct::kStatementBytes, error);
  ASSERT_EQ(error, "");
  ASSERT_EQ(expected, "49,9;48,9;47,9;46,9;45,9;44,9;43,9;");
  int refused = 0;
  for (uint64_t max = 1024;; max *= 2) {
    const std::string got = run(max, error);
    if (error.empty()) {
      EXPECT_EQ(got, expected);
      break;
    }
    EXPECT_EQ(error, "Resource limit exceeded for search memory: maximum " + std::to_string(max));
    ++refused;
  }
  EXPECT_GE(refused, 5);  // the rows of the join alone take over 32 KiB
}

}  // namespace
}  // namespace brackwater::velquin
