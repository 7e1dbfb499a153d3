// Edge cases of script execution that sit between the statement walk and the engine: repeated
// variables in one Appearance set, propositions met twice, parameters and constants as values.
#include <gtest/gtest.h>

#include "velquin/add_posit.h"
#include "velquin/execute.h"
#include "velquin/parser.h"
#include "velquin/script_test_util.h"

namespace brackwater::velquin {
namespace {

using construct::Engine;
using construct::Identity;
using literal::TimeValue;

const TimeValue kNow = testing::kScriptNow;

class ScriptEdgeTest : public testing::MemoryScriptTest {
 protected:
  std::string run(std::string_view script, ExecuteOptions options = {}) {
    return outcome(script, std::move(options));
  }
};

TEST_F(ScriptEdgeTest, VariableNamedTwiceInOneSet) {
  ASSERT_EQ(run("add role r, s;"), "ok");
  // x = {8, 9}; both slots enumerate [8, 9, 8, 9]: 16 combinations, 4 distinct propositions.
  ASSERT_EQ(run("add posit [{(+x, r), (+x, s)}, 1, '2001'];"), "ok");
  EXPECT_EQ(posit(10), "{(8, r),(8, s)} | 1 | 2001");
  EXPECT_EQ(posit(11), "{(8, r),(9, s)} | 1 | 2001");
  EXPECT_EQ(posit(12), "none");
  EXPECT_EQ(posit(13), "none");
  EXPECT_EQ(posit(14), "{(9, r),(8, s)} | 1 | 2001");
  EXPECT_EQ(posit(15), "{(9, r),(9, s)} | 1 | 2001");
  EXPECT_EQ(next_identity(), 26u);
}

TEST_F(ScriptEdgeTest, RecallBeforeInsertInOneClause) {
  ASSERT_EQ(run("add role r, s;"), "ok");
  ASSERT_EQ(run("add posit [{(x, r), (+x, s)}, 1, '2001'];"), "ok");
  EXPECT_EQ(posit(9), "{(8, r),(8, s)} | 1 | 2001");
}

TEST_F(ScriptEdgeTest, ExistingPropositionsSkipTheirDraws) {
  ASSERT_EQ(run("add role r;"), "ok");
  ASSERT_EQ(run("add posit +p [{(+x, r)}, 1, '2001'] and assert +q by +s with 50% at '2002';"
                "add posit +p [{(x, r)}, 1, '2001'] and assert +q by s with 50% at '2002';"
                "add posit [{(p, r)}, 2, '2001'], [{(q, r)}, 3, '2001'];"),
            "ok");
  // x 7, s 8, Posit 9, assertion 10; the second statement draws 11 and 12 for nothing.
  EXPECT_EQ(posit(10), "{(9, posit),(8, ascertains)} | 50% | 2002");
  EXPECT_EQ(posit(11), "none");
  EXPECT_EQ(posit(12), "none");
  // p and q still hold one identity each.
  EXPECT_EQ(posit(13), "{(9, r)} | 2 | 2001");
  EXPECT_EQ(posit(14), "{(10, r)} | 3 | 2001");
}

TEST_F(ScriptEdgeTest, SameAssertionTwiceInOneStatement) {
  ASSERT_EQ(run("add role r;"), "ok");
  ASSERT_EQ(run("add posit [{(+x, r)}, 1, '2001'] and assert by +s with 50% at '2002',"
                " [{(x, r)}, 1, '2001'] and assert by s with 50% at '2002';"),
            "ok");
  EXPECT_EQ(posit(9), "{(7, r)} | 1 | 2001");
  EXPECT_EQ(posit(10), "none");
  EXPECT_EQ(posit(11), "{(9, posit),(8, ascertains)} | 50% | 2002");
  EXPECT_EQ(posit(12), "none");
  EXPECT_EQ(next_identity(), 13u);
}

TEST_F(ScriptEdgeTest, ValueTextsAsStored) {
  ASSERT_EQ(run("add role r;"), "ok");
  ExecuteOptions options;
  options.parameters = {{"tq", ScriptParameter{ParameterKind::Time, "'2001-02-03'"}},
                        {"b", ScriptParameter{ParameterKind::Literal, "@BOT"}},
                        {"n", ScriptParameter{ParameterKind::Literal, "-5"}}};
  ASSERT_EQ(run("add posit [{(+x, r)}, $tq, $tq], [{(x, r)}, $b, @EOT], [{(x, r)}, '2001-13-01', @BOT],"
                " [{(x, r)}, $n, '2001-02-03 04:05'], [{(x, r)}, @EOT , '2001-02'];",
                std::move(options)),
            "ok");
  EXPECT_EQ(posit(8), "{(7, r)} | '2001-02-03' | 2001-02-03");
  EXPECT_EQ(posit(9), "{(7, r)} | @BOT | EOT");
  EXPECT_EQ(posit(10), "{(7, r)} | '2001-13-01' | BOT");
  EXPECT_EQ(posit(11), "{(7, r)} | -5 | 2001-02-03 04:05:00");
  EXPECT_EQ(posit(12), "{(7, r)} | @EOT | 2001-02");
}

TEST_F(ScriptEdgeTest, RolesByNormalForm) {
  ASSERT_EQ(run("add role `e\xcc\x81t\xc3\xa9`;"), "ok");
  ASSERT_EQ(run("add posit [{(+x, \xc3\xa9t\xc3\xa9)}, 1, '2001'], [{(x, `e\xcc\x81te\xcc\x81`)}, 2, '2001'];"), "ok");
  EXPECT_EQ(posit(8), "{(7, \xc3\xa9t\xc3\xa9)} | 1 | 2001");
  EXPECT_EQ(posit(9), "{(7, \xc3\xa9t\xc3\xa9)} | 2 | 2001");
}

TEST_F(ScriptEdgeTest, BuiltInRolesMayBeNamed) {
  ASSERT_EQ(run("add posit [{(+x, thing), (+y, class)}, 1, '2001'];"), "ok");
  EXPECT_EQ(posit(8), "{(6, thing),(7, class)} | 1 | 2001");
}

TEST_F(ScriptEdgeTest, SameRoleWrittenTwoWays) {
  ASSERT_EQ(run("add role r;"), "ok");
  EXPECT_EQ(run("add posit [{(+x, r), (+y, `r`)}, 1, '2001'];"),
            "Invalid appearance set: an appearance set may contain at most one Thing for each Role");
}

TEST_F(ScriptEdgeTest, AssertionOfAnAssertion) {
  ASSERT_EQ(run("add role r;"), "ok");
  ASSERT_EQ(run("add posit +p [{(+x, r)}, 1, '2001'] and assert +q by +s with 50% at '2002';"
                "add posit [{(q, posit), (s, ascertains)}, -20%, '2003'];"),
            "ok");
  EXPECT_EQ(posit(11), "{(10, posit),(8, ascertains)} | -20% | 2003");
}

// A recalled variable whose value is empty gives its clause no combination: nothing is queued, no
// error is raised, and the clause's posit and assertion bindings still name (empty) variables.
TEST_F(ScriptEdgeTest, EmptyRecallStillBindsItsNames) {
  ASSERT_EQ(run("add role r;"), "ok");
  auto pairs = parse(Rule::velquin,
                     "add posit +p [{(e, r)}, 1, '2001'] and assert +q by +s with 50% at '2002',"
                     " [{(+y, r)}, 2, '2001'];");
  ASSERT_TRUE(pairs);
  ScriptVariables variables;
  variables.entry("e");  // bound, but to no identity
  const ExecContext ctx{std::nullopt, {}, kNow, std::nullopt, make_cancel_flag(), {}};
  auto statement = *pairs->begin();
  ASSERT_EQ(statement.rule(), Rule::add_posit);
  auto done = execute_add_posit_command(*engine, statement, variables, kNow, ctx);
  ASSERT_TRUE(done) << done.error().display();
  // s 7 and y 8 are drawn while walking; the one Posit is 9; no assertion.
  EXPECT_EQ(posit(9), "{(8, r)} | 2 | 2001");
  EXPECT_EQ(next_identity(), 10u);
  ASSERT_NE(variables.find("p"), nullptr);
  EXPECT_TRUE(variables.find("p")->empty());
  ASSERT_NE(variables.find("q"), nullptr);
  EXPECT_TRUE(variables.find("q")->empty());
}

}  // namespace
}  // namespace brackwater::velquin
