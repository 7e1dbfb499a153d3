// Scripts run end to end against memory engines: identity numbering, error order, stop checks, the
// texts that reach callers, and the add posit edges between the statement walk and the engine.
#include "velquin/execute.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <chrono>
#include <thread>

#include "velquin/add_posit.h"
#include "velquin/parser.h"
#include "velquin/script_test_util.h"

namespace brackwater::velquin {
namespace {

using construct::ErrorKind;
using construct::Identity;
using literal::TimeValue;

const TimeValue kNow = testing::kScriptNow;

ScriptParameter literal_param(std::string text) { return ScriptParameter{ParameterKind::Literal, std::move(text)}; }
ScriptParameter time_param(std::string text) { return ScriptParameter{ParameterKind::Time, std::move(text)}; }

ExecuteOptions with_parameters(ScriptParameterMap parameters) {
  ExecuteOptions options;
  options.parameters = std::move(parameters);
  return options;
}

ExecuteOptions with_timeout(Duration timeout, CancelFlag cancel = nullptr) {
  ExecuteOptions options;
  options.timeout = timeout;
  options.cancel = std::move(cancel);
  return options;
}

class ExecuteTest : public testing::MemoryScriptTest {
 protected:
  void ok(std::string_view script, ExecuteOptions options = {}) {
    auto r = execute(script, std::move(options));
    ASSERT_TRUE(r) << script << "\n" << r.error().display();
    EXPECT_TRUE(r->empty());
  }

  ErrorKind error_kind(std::string_view script, ExecuteOptions options = {}) {
    auto r = execute(script, std::move(options));
    EXPECT_FALSE(r) << script;
    return r ? ErrorKind::Config : r.error().kind();
  }

  Identity role_id(std::string_view name) {
    auto role = engine->find_role_by_name(name);
    return role && *role ? (**role)->identity : 0;
  }
};

TEST_F(ExecuteTest, EmptyScriptsYieldNothing) {
  ok("");
  ok("  \n\t/* only a comment */ \xc2\xa0");  // U+00A0 is trimmed from the ends
  ok("add role r;");
  EXPECT_EQ(next_identity(), 7u);
}

TEST_F(ExecuteTest, IdentityNumberingAcrossStatements) {
  ok("add role r, s, r; ADD ROLE s, `t`;");
  EXPECT_EQ(role_id("r"), 6u);
  EXPECT_EQ(role_id("s"), 7u);
  EXPECT_EQ(role_id("t"), 8u);
  // Inserts and the source insert are drawn during the walk; then the Posit; then the assertion.
  ok("add posit +p [{(+a, r), (+b, s)}, 1, @NOW] and assert +q by +src with 80% at '2001-02-03';"
     "add posit [{(p, r), (q, s)}, \"x\", '2020'];");
  EXPECT_EQ(posit(12), "{(9, r),(10, s)} | 1 | 2024-03-01 10:00:05");
  EXPECT_EQ(posit(13), "{(12, posit),(11, ascertains)} | 80% | 2001-02-03");
  EXPECT_EQ(posit(14), "{(12, r),(13, s)} | \"x\" | 2020");
  EXPECT_EQ(next_identity(), 15u);
}

TEST_F(ExecuteTest, FailedStatementsKeepTheirDrawsAndEarlierEffects) {
  ok("add role r;");
  // x is drawn (7) and its Appearance interned before the time check fails.
  EXPECT_EQ(outcome("add posit [{(+ok, r)}, 1, @NOW]; add posit [{(+x, r)}, 1, '2021-13-01'];"),
            "Execution error: add posit requires a valid appearance time");
  EXPECT_EQ(posit(8), "{(7, r)} | 1 | 2024-03-01 10:00:05");  // the first statement stays committed
  EXPECT_EQ(next_identity(), 10u);                            // ok 7, posit 8, x 9: never reused
  EXPECT_EQ(outcome("add role a; add role ``;"), "Execution error: role name cannot be empty");
  EXPECT_NE(role_id("a"), 0u);
}

TEST_F(ExecuteTest, EnumerationOrderShortestListSlowest) {
  ok("add role r, s;");
  // a holds the Posits 13, 14; b holds 15, 16, 17 (x, y, u, v, w are 8..12).
  ok("add posit +a [{(+x, r)}, 1, @NOW], +a [{(+y, r)}, 2, @NOW], +b [{(+u, s)}, 3, @NOW],"
     " +b [{(+v, s)}, 4, @NOW], +b [{(+w, s)}, 5, @NOW];"
     "add posit [{(b, s), (a, r)}, 9, @NOW];");  // written longer list first; a's slot runs slowest
  const char* expected[] = {"{(13, r),(15, s)}", "{(13, r),(16, s)}", "{(13, r),(17, s)}",
                            "{(14, r),(15, s)}", "{(14, r),(16, s)}", "{(14, r),(17, s)}"};
  for (Identity i = 0; i < 6; ++i) {
    EXPECT_EQ(posit(18 + i), std::string(expected[i]) + " | 9 | 2024-03-01 10:00:05") << i;
  }
  EXPECT_EQ(next_identity(), 24u);
}

TEST_F(ExecuteTest, ReusedInsertNameEnumeratesEveryIdentity) {
  ok("add role r;");
  ok("add posit [{(+x, r)}, 1, @NOW], [{(+x, r)}, 2, @NOW];");
  // x = {7, 8}: the first clause adds (7), the second (7) and (8).
  EXPECT_EQ(posit(9), "{(7, r)} | 1 | 2024-03-01 10:00:05");
  EXPECT_EQ(posit(10), "{(7, r)} | 2 | 2024-03-01 10:00:05");
  EXPECT_EQ(posit(11), "{(8, r)} | 2 | 2024-03-01 10:00:05");
}

TEST_F(ExecuteTest, AddPositErrorOrder) {
  ok("add role r;");
  const ExecuteOptions with_v = with_parameters({{"v", literal_param("5")}});
  // Value errors fire while walking, before the candidate lists.
  EXPECT_EQ(outcome("add posit [{(nobody, r)}, $w, @NOW];"), "Invalid parameter: missing parameter '$w'");
  // An unbound recall beats an unknown Role.
  EXPECT_EQ(outcome("add posit [{(nobody, zz)}, 1, @NOW];"),
            "Invalid query recall: variable 'nobody' is not bound in a prior command");
  // An unknown Role (found during enumeration) beats a bad time (checked after it).
  EXPECT_EQ(outcome("add posit [{(+x, zz)}, 1, '2021-13-01'];"), "Unknown role: zz");
  EXPECT_EQ(outcome("add posit [{(+x, ``)}, 1, @NOW];"), "Unknown role: ");
  // A literal parameter as time fails at once, even before an unknown Role.
  EXPECT_EQ(outcome("add posit [{(+x, zz)}, 1, $v];", with_v),
            "Invalid parameter: $v is a literal parameter, not a time parameter");
  EXPECT_EQ(outcome("add posit [{(+x, r)}, 1, @ NOW];"), "Execution error: add posit requires a valid appearance time");
  EXPECT_EQ(outcome("add posit [{(+x, r), (+y, `r`)}, 1, @NOW];"),  // one Role written two ways
            "Invalid appearance set: an appearance set may contain at most one Thing for each Role");
}

TEST_F(ExecuteTest, AndAssertTargetMajorBySourceIdentities) {
  ok("add role r;");
  // s accumulates 7, 8, 9; the clauses queue 1, 2 and 3 Posits (10 to 15).
  ok("add posit [{(+s, r)}, 0, @BOT], [{(+s, r)}, 0, @EOT], [{(+s, r)}, 0, '2000'];"
     "add posit +t [{(s, r)}, 1, '1999'] and assert +q by s with 50% at @NOW;");
  // t = three Posits 16, 17, 18 (one per source Thing); 9 assertions, target-major, sources ascending.
  const char* expected[] = {"{(16, posit),(7, ascertains)}", "{(16, posit),(8, ascertains)}",
                            "{(16, posit),(9, ascertains)}", "{(17, posit),(7, ascertains)}"};
  for (Identity i = 0; i < 4; ++i) {
    EXPECT_EQ(posit(19 + i), std::string(expected[i]) + " | 50% | 2024-03-01 10:00:05") << i;
  }
  EXPECT_EQ(next_identity(), 28u);
}

TEST_F(ExecuteTest, AndAssertErrorOrder) {
  ok("add role r;");
  const ExecuteOptions with_c = with_parameters({{"c", literal_param("5")}});
  // Walk errors (an invalid time) beat an unbound source.
  EXPECT_EQ(outcome("add posit [{(+x, r)}, 1, @NOW] and assert by nobody with 80% at '2021-13-01';"),
            "Execution error: invalid assertion time '2021-13-01'");
  EXPECT_EQ(outcome("add posit [{(+x, r)}, 1, @NOW] and assert by nobody with 101% at @NOW;").substr(0, 16),
            "Execution error:");
  // An unbound source beats a certainty of the wrong family.
  EXPECT_EQ(outcome("add posit [{(+x, r)}, 1, @NOW] and assert by nobody with $c at @NOW;", with_c),
            "Invalid query recall: assertion source 'nobody' is not bound");
  EXPECT_EQ(outcome("add posit [{(+x, r)}, 1, @NOW] and assert by +s with $c at @NOW;", with_c),
            "Execution error: and assert requires a percent certainty, found 5");
  EXPECT_EQ(outcome("add posit [{(+x, r)}, 1, @NOW] and assert by +s with 5% at $c;", with_c),
            "Invalid parameter: $c is a literal parameter, not a time parameter");
  EXPECT_EQ(posit(8), "none");  // nothing of those statements was committed
}

TEST_F(ExecuteTest, ParametersAreCheckedBeforeTheScriptParses) {
  EXPECT_EQ(outcome("this does not parse", with_parameters({{"$x", literal_param("5")}})),
            "Invalid parameter: '$x' is not a valid parameter name");
  EXPECT_EQ(error_kind("add role r;", with_parameters({{"x", time_param("soon")}})), ErrorKind::InvalidParameter);
  EXPECT_EQ(role_id("r"), 0u);
}

TEST_F(ExecuteTest, ParseErrorsCarryTheExpectedList) {
  auto r = execute("\n\n  add role ;");
  ASSERT_FALSE(r);
  EXPECT_EQ(r.error().kind(), ErrorKind::Parse);
  EXPECT_EQ(r.error().line(), std::nullopt);
  EXPECT_EQ(r.error().column(), std::nullopt);
  const std::string& message = r.error().message();
  EXPECT_EQ(message.rfind(" --> 1:", 0), 0u) << message;  // positions count from the trimmed script
  EXPECT_NE(message.find("\nExpected one of: "), std::string::npos) << message;
}

TEST_F(ExecuteTest, SearchesYieldResultSetsOnlyWithReturnedVariables) {
  auto r = execute("add role r; add posit [{(+t, r)}, 1, '2020'];\n"
                   "search [{(?t, r)}, ?v, *] return ?v, ?v limit 0 ;\n"
                   "search [{(?t, r)}, *, *];");
  ASSERT_TRUE(r) << r.error().display();
  ASSERT_EQ(r->size(), 1u);  // the search without a return clause yields none, though it matched
  const ResultSet& set = (*r)[0];
  EXPECT_EQ(set.columns, (std::vector<std::string>{"v", "v"}));
  EXPECT_TRUE(set.rows.empty());
  EXPECT_EQ(set.row_count, 0u);
  EXPECT_TRUE(set.limited);
  EXPECT_EQ(set.search, "search [{(?t, r)}, ?v, *] return ?v, ?v limit 0 ;");
}

// The response as counted while the rows were kept: the envelope, and the sets' JSON as the writer
// writes it.
TEST_F(ExecuteTest, ReportsTheBytesOfItsResponse) {
  uint64_t reported = 0;
  ExecuteOptions options;
  options.response_envelope = literal::JsonTextSize::ascii(100);
  options.response_json_bytes = &reported;
  auto r = execute("add role r; add posit [{(+t, r)}, \"a\\\"\xc3\xa9\", '2020'], [{(+u, r)}, 2, '2020'];"
                   "search [{(?t, r)}, ?v, *] return ?t, ?v; search [{(?t, r)}, *, '1999'] return ?t;"
                   "search [{(?t, r)}, ?v, ?w] return ?w, ?v;",
                   std::move(options));
  ASSERT_TRUE(r) << r.error().display();
  std::string json;
  for (const ResultSet& set : *r) {
    if (!json.empty()) json.push_back(',');
    append_result_set_json(json, set);
  }
  EXPECT_EQ(reported, 100 + json.size());
}

TEST_F(ExecuteTest, StopChecks) {
  EXPECT_EQ(outcome("", with_timeout(Duration{UINT64_MAX, 999'999'999})),
            "Execution error: execution timeout is too large");
  EXPECT_EQ(error_kind("", with_timeout(Duration{0, 0})), ErrorKind::TimedOut);  // the check after the lock
  CancelFlag cancel = make_cancel_flag();
  cancel->store(true);
  EXPECT_EQ(error_kind("add role r;", with_timeout(Duration{0, 0}, cancel)), ErrorKind::Cancelled);  // cancel first
  EXPECT_EQ(role_id("r"), 0u);
  ok("add role r;", with_timeout(Duration{3600, 0}));
}

TEST_F(ExecuteTest, WaitingForTheLockHonoursCancelAndDeadline) {
  auto held = engine->database_lock().lock();
  ASSERT_TRUE(held);

  EXPECT_EQ(error_kind("add role r;", with_timeout(Duration{0, 20'000'000})), ErrorKind::TimedOut);

  ExecuteOptions with_cancel;
  with_cancel.cancel = make_cancel_flag();
  std::thread canceller([flag = with_cancel.cancel] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    flag->store(true);
  });
  EXPECT_EQ(error_kind("add role r;", std::move(with_cancel)), ErrorKind::Cancelled);
  canceller.join();
}

TEST_F(ExecuteTest, PoisonedEngineLock) {
  engine->database_lock().poison_for_testing();
  EXPECT_EQ(outcome("add role r;"), "Lock poisoned: poisoned lock: another task failed inside");
  EXPECT_EQ(outcome("add role r;"), "Lock poisoned: poisoned lock: another task failed inside");  // released
}

TEST_F(ExecuteTest, AddPositGivesBackTheInterningLocksItKept) {
  ok("add role r, s;");
  construct::EngineState& state = engine->state();
  state.appearance_memberships.poison_for_testing();
  // The set's membership step fails while the catalogs and the thing index it used are kept.
  EXPECT_EQ(error_kind("add posit [{(+x, r), (+y, s)}, 1, @NOW];"), ErrorKind::LockPoisoned);
  EXPECT_TRUE(state.appearances.try_lock());
  EXPECT_TRUE(state.thing_appearances.try_lock());
  EXPECT_TRUE(state.appearance_sets.try_lock());
}

TEST_F(ExecuteTest, ConcurrentScriptsSerialise) {
  ok("add role r;");
  constexpr int kThreads = 4;
  constexpr int kScripts = 25;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([this, t] {
      for (int i = 0; i < kScripts; ++i) {
        auto r = execute("add posit [{(+x, r)}, " + std::to_string(t * 100 + i) + ", @NOW];");
        ASSERT_TRUE(r) << r.error().display();
      }
    });
  }
  for (auto& th : threads) th.join();
  // Each script draws one Thing and one Posit, in pairs that never interleave.
  for (Identity id = 8; id < 7 + 2 * kThreads * kScripts; id += 2) {
    std::string p = posit(id);
    EXPECT_EQ(p.rfind("{(" + std::to_string(id - 1) + ", r)}", 0), 0u) << p;
  }
}

// A clause of many slots, variables and roles (past the few that are searched by a scan and sorted
// in place): the slots still sort stably by list length, and a quoted Role is the bare one.
TEST_F(ExecuteTest, WideClauseSortsStablyAndSharesRoles) {
  std::string roles = "add role ra, rb, rc";  // 6, 7, 8; s1..s16 are 9..24
  for (int i = 1; i <= 16; ++i) roles += ", s" + std::to_string(i);
  ok(roles + ";");
  // x1..z3 are 25..31 (drawn while walking); a = {32, 33}, b = {34, 35}, c = {36, 37, 38}.
  const std::string lists =
      "add posit +a [{(+x1, ra)}, 1, @NOW], +a [{(+x2, `ra`)}, 2, @NOW], +b [{(+y1, rb)}, 1, @NOW],"
      " +b [{(+y2, rb)}, 2, @NOW], +c [{(+z1, rc)}, 1, @NOW], +c [{(+z2, rc)}, 2, @NOW], +c [{(+z3, rc)}, 3, @NOW];";
  // Written c, b, t1..t16, a: sorted t1..t16, b, a, c, so b runs slowest and c fastest. t1..t16 are
  // 39..54 and the twelve Posits 55..66.
  std::string clause = "add posit [{(c, rc), (b, rb)";
  std::string singles;
  for (int i = 1; i <= 16; ++i) {
    clause += ", (+t" + std::to_string(i) + ", s" + std::to_string(i) + ")";
    singles += ",(" + std::to_string(38 + i) + ", s" + std::to_string(i) + ")";
  }
  ok(lists + clause + ", (a, `ra`)}, 9, @NOW];");
  EXPECT_EQ(posit(33), "{(26, ra)} | 2 | 2024-03-01 10:00:05");
  Identity id = 55;
  for (Identity b : {34, 35}) {
    for (Identity a : {32, 33}) {
      for (Identity c : {36, 37, 38}) {
        EXPECT_EQ(posit(id++), "{(" + std::to_string(a) + ", ra),(" + std::to_string(b) + ", rb),(" +
                                   std::to_string(c) + ", rc)" + singles + "} | 9 | 2024-03-01 10:00:05");
      }
    }
  }
  EXPECT_EQ(next_identity(), 67u);
}

TEST_F(ExecuteTest, VariableNamedTwiceInOneSet) {
  ok("add role r, s;");
  // x = {8, 9}; both slots enumerate [8, 9, 8, 9] (the first slot sees the identity drawn after it):
  // 16 combinations, 4 distinct propositions.
  ok("add posit [{(+x, r), (+x, s)}, 1, '2001'];");
  const char* expected[] = {"{(8, r),(8, s)} | 1 | 2001", "{(8, r),(9, s)} | 1 | 2001", "none", "none",
                            "{(9, r),(8, s)} | 1 | 2001", "{(9, r),(9, s)} | 1 | 2001"};
  for (Identity i = 0; i < 6; ++i) EXPECT_EQ(posit(10 + i), expected[i]) << i;
  EXPECT_EQ(next_identity(), 26u);
}

// p in five slots: 10^5 combinations, 32 distinct propositions. However many combinations repeat
// one, the clause holds its value once: peak memory does not grow by combinations x value size
// (here 1.6 GB), and the identities come out as if each combination had been queued.
TEST_F(ExecuteTest, RepeatedSlotsShareTheClauseValue) {
  ok("add role a, b, c, d, e;");
  const std::string value(16 << 10, 'x');
  rusage before{}, after{};
  getrusage(RUSAGE_SELF, &before);
  ok("add posit [{(+p, a), (+p, b), (p, c), (p, d), (p, e)}, \"" + value + "\", '2001'];");
  getrusage(RUSAGE_SELF, &after);
  EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 256 << 10);  // KiB
  EXPECT_EQ(posit(13), "{(11, a),(11, b),(11, c),(11, d),(11, e)} | \"" + value + "\" | 2001");
  EXPECT_EQ(posit(14), "{(11, a),(11, b),(11, c),(11, d),(12, e)} | \"" + value + "\" | 2001");
  EXPECT_EQ(posit(15), "none");
  EXPECT_EQ(next_identity(), 13u + 100'000);
}

TEST_F(ExecuteTest, ExistingPropositionsSkipTheirDraws) {
  ok("add role r;");
  ok("add posit +p [{(+x, r)}, 1, '2001'] and assert +q by +s with 50% at '2002';"
     "add posit +p [{(x, r)}, 1, '2001'] and assert +q by s with 50% at '2002';"
     "add posit [{(p, r)}, 2, '2001'], [{(q, r)}, 3, '2001'];");
  // x 7, s 8, Posit 9, assertion 10; the second statement draws 11 and 12 for nothing.
  EXPECT_EQ(posit(10), "{(9, posit),(8, ascertains)} | 50% | 2002");
  EXPECT_EQ(posit(11), "none");
  EXPECT_EQ(posit(12), "none");
  // p and q still hold one identity each.
  EXPECT_EQ(posit(13), "{(9, r)} | 2 | 2001");
  EXPECT_EQ(posit(14), "{(10, r)} | 3 | 2001");
}

TEST_F(ExecuteTest, SameAssertionTwiceInOneStatement) {
  ok("add role r;");
  ok("add posit [{(+x, r)}, 1, '2001'] and assert by +s with 50% at '2002',"
     " [{(x, r)}, 1, '2001'] and assert by s with 50% at '2002';");
  EXPECT_EQ(posit(9), "{(7, r)} | 1 | 2001");
  EXPECT_EQ(posit(10), "none");
  EXPECT_EQ(posit(11), "{(9, posit),(8, ascertains)} | 50% | 2002");
  EXPECT_EQ(posit(12), "none");
  EXPECT_EQ(next_identity(), 13u);
}

// Parameter and constant texts are pinned where they are converted (parameters_test,
// lower_literal_test); here, that add posit stores those texts and cuts numbers after their digits.
TEST_F(ExecuteTest, ValueTextsAsStored) {
  ok("add role r;");
  ok("add posit [{(+x, r)}, $tq, $tq], [{(x, r)}, $b, @EOT], [{(x, r)}, '2001-13-01', @BOT],"
     " [{(x, r)}, $n, '2001-02-03 04:05'], [{(x, r)}, @EOT , '2001-02'], [{(x, r)}, 5 /* c */ , @NOW],"
     " [{(x, r)}, 1.5 , @NOW];",
     with_parameters({{"tq", time_param("'2001-02-03'")}, {"b", literal_param("@BOT")}, {"n", literal_param("-5")}}));
  EXPECT_EQ(posit(8), "{(7, r)} | '2001-02-03' | 2001-02-03");
  EXPECT_EQ(posit(9), "{(7, r)} | @BOT | EOT");
  EXPECT_EQ(posit(10), "{(7, r)} | '2001-13-01' | BOT");
  EXPECT_EQ(posit(11), "{(7, r)} | -5 | 2001-02-03 04:05:00");
  EXPECT_EQ(posit(12), "{(7, r)} | @EOT | 2001-02");
  EXPECT_EQ(posit(13), "{(7, r)} | 5 | 2024-03-01 10:00:05");
  EXPECT_EQ(posit(14), "{(7, r)} | 1.5 | 2024-03-01 10:00:05");
}

TEST_F(ExecuteTest, RolesByNormalFormAndBuiltInRoles) {
  ok("add role `e\xcc\x81t\xc3\xa9`;");
  ok("add posit [{(+x, \xc3\xa9t\xc3\xa9)}, 1, '2001'], [{(x, `e\xcc\x81te\xcc\x81`)}, 2, '2001'];");
  EXPECT_EQ(posit(8), "{(7, \xc3\xa9t\xc3\xa9)} | 1 | 2001");
  EXPECT_EQ(posit(9), "{(7, \xc3\xa9t\xc3\xa9)} | 2 | 2001");
  // Built-in Roles may be named, an assertion may be written out as a Posit and be asserted itself.
  ok("add posit +p [{(+y, thing), (+z, class)}, 1, '2001'] and assert +q by +s with 50% at '2002';"
     "add posit [{(q, posit), (s, ascertains)}, -20%, '2003'];");
  EXPECT_EQ(posit(13), "{(10, thing),(11, class)} | 1 | 2001");  // y 10, z 11, s 12, the assertion 14
  EXPECT_EQ(posit(15), "{(14, posit),(12, ascertains)} | -20% | 2003");
}

// A recalled variable whose value is empty gives its clause no combination: nothing is queued, no
// error is raised, and the clause's posit and assertion bindings still name (empty) variables.
TEST_F(ExecuteTest, EmptyRecallStillBindsItsNames) {
  ok("add role r;");
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
