#include "velquin/query/compile.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "velquin/parser.h"
#include "velquin/query/pattern_vars.h"

namespace brackwater::velquin::query {
namespace {

using literal::LiteralKind;

const TimeValue kNow = TimeValue::of_date_time(2024, 3, 1, 36005, 0);

ExecContext context() {
  ExecContext ctx;
  ctx.now = kNow;
  ctx.cancel = make_cancel_flag();
  ctx.parameters.emplace("n", ParameterValue{Literal{"7", LiteralKind::Integer}, std::nullopt});
  ctx.parameters.emplace("t", ParameterValue{Literal{"'2020'", LiteralKind::Time}, TimeValue::of_year(2020)});
  return ctx;
}

construct::Result<CompiledSearch> compile(std::string_view text, const ExecContext& ctx = context()) {
  auto pairs = parse(Rule::search, text);
  EXPECT_TRUE(pairs.has_value()) << text;
  if (!pairs) return construct::fail(construct::EngineError::internal("no parse"));
  return compile_search(*pairs->begin(), ctx);
}

std::string outcome(std::string_view text) {
  auto compiled = compile(text);
  return compiled ? std::string("ok") : compiled.error().display();
}

TEST(CompileSearch, ErrorsAndTheirOrder) {
  const std::string via_shape = "Execution error: via requires the exact {posit, ascertains} assertion shape";
  const std::string via_roles = "Execution error: via assertion roles must be the literal roles posit and ascertains";
  const std::string not_bound = "Invalid query recall: 'b' is not bound by a positive pattern";
  const std::string_view in_effect = " in effect @NOW, @NOW via ";
  struct Case {
    std::string script;
    std::string expected;
  };
  const Case cases[] = {
      // A domain clash is found before an unknown return variable, the left operand before the right.
      {"search [{(?x, r)}, ?x, *] return ?nope;", "Query variable 'x' has incompatible domains: Thing and LiteralValue"},
      {"search [{(?y, r)}, *, ?x], [{(?x, r)}, *, *];", "Query variable 'x' has incompatible domains: Time and Thing"},
      {"search [{(?x, r)}, *, *] where ?l = ?r;", "Unknown variable: l"},
      {"search [{(?x, r)}, *, *] where ?x = ?r;", "Unknown variable: r"},
      // Recalls: union members and cutoff variables of positive groups (`InvalidQueryRecall`).
      {"search [{(?a, r)}, *, *], [{(?a|?b, r)}, *, *];", not_bound},
      {"search [{(?a|?b, r)}, *, *] union [{(?a, r)}, *, *] not exists {[{(?b, r)}, *, *]};", not_bound},
      {"search [{(?a, r)}, *, *] as of ?b;", not_bound},
      {"search [{(?a, r)}, *, *] in effect @NOW, ?b;", not_bound},
      {"search [{(?a|?b, r)}, *, *] union [{(?a, r), (?b, s)}, *, *];", "ok"},
      // Order items: unbound (`UnknownVariable`) before not returned (`InvalidQueryRecall`).
      {"search [{(?a, r)}, ?v, *] return ?a order by ?v;",
       "Invalid query recall: ORDER BY variable 'v' must be projected"},
      {"search [{(?a, r)}, ?v, *] order by ?w, ?v;", "Unknown variable: w"},
      {"search [{(?a, r)}, *, *] not exists {[{(?a, r)}, ?v, *]} return ?v order by ?v DESC;", "ok"},
      // Latest, in effect and via, in the order the closing checks run.
      {"search latest [{(?a, r)}, *, *] in effect @NOW, @NOW;",
       "Execution error: latest cannot be combined with in effect"},
      {"search latest [{(?a, r)}, *, *] as of @NOW;", "ok"},
      {"search [{(?a, r)}, *, *] as of @NOW via [{(?p, posit), (?s, ascertains)}, *, *];",
       "Execution error: via requires an in effect target pattern"},
      {"search latest [{(?a, r)}, *, *] in effect @NOW, @NOW via [{(?p, posit)}, *, *];",
       "Execution error: latest cannot be combined with in effect"},
      {"search [{(?a, r)}, *, *]" + std::string(in_effect) + "[{(?s, ?r)}, *, *];", via_shape},
      {"search [{(?a, r)}, *, *]" + std::string(in_effect) + "[{(?p, Posit), (?s, ascertains)}, *, *];", via_shape},
      {"search [{(?a, r)}, *, *]" + std::string(in_effect) + "[{(?p, posit), (?s, posit)}, *, *];", via_shape},
      {"search [{(?a, r)}, *, *]" + std::string(in_effect) + "[{(?p, posit), (?s, ascertains), ...}, *, *];",
       via_shape},
      {"search [{(?a, r)}, *, *]" + std::string(in_effect) + "[{(?a|?p, posit), (?s, ascertains)}, *, *];", via_shape},
      {"search [{(?a, r)}, *, *]" + std::string(in_effect) + "[*, *, *];", via_shape},
      {"search [{(?a, r)}, *, *]" + std::string(in_effect) + "[{(?p, ?r), (?s, ascertains)}, *, *];", via_roles},
      {"search [{(?a, r)}, *, *]" + std::string(in_effect) + "[{(?s, `ascertains`), (?p, posit)}, ?c, *];", "ok"},
      // A bad time inside a slot wins over the closing checks; "@ NOW" is no time anywhere.
      {"search latest [{(?a, r)}, *, '2020-13'] in effect @NOW, @NOW;",
       "Execution error: invalid time literal ''2020-13''"},
      {"search [{(?a, r)}, *, @ NOW];", "Execution error: invalid time literal '@ NOW'"},
      {"search [{(?a, r)}, *, *] as of @ NOW;", "Execution error: invalid as-of cutoff '@ NOW'"},
      {"search [{(?a, r)}, *, *] in effect @NOW, @NOPE;",
       "Execution error: invalid in-effect appearance cutoff '@NOPE'"},
      {"search [{(?a, r)}, ?v, *] where ?v = @ NOW;", "Execution error: invalid time literal '@ NOW'"},
      {"search [{(?a, r)}, @ NOW, *];", "Execution error: unknown value constant '@ NOW'"},
      {"search [{(?a, r)}, '2020-13', *];", "ok"},
      // Parameters: a literal parameter is no time; a missing one is named with its sigil.
      {"search [{(?a, r)}, *, $n];", "Invalid parameter: $n is a literal parameter, not a time parameter"},
      {"search [{(?a, r)}, *, *] as of $n;", "Invalid parameter: $n is a literal parameter, not a time parameter"},
      {"search [{(?a, r)}, $q, *];", "Invalid parameter: missing parameter '$q'"},
      {"search [{(?a, r)}, ?v, *] where ?v = 150%;", "Execution error: certainty is outside -100%..=100%: '150%'"},
  };
  for (const Case& c : cases) EXPECT_EQ(outcome(c.script), c.expected) << c.script;

  ExecContext cancelled = context();
  cancelled.cancel->store(true);
  auto stopped = compile("search [{(?a, r)}, ?v, *] where ?v = @ NOW;", cancelled);
  ASSERT_FALSE(stopped);
  EXPECT_EQ(stopped.error().kind(), construct::ErrorKind::Cancelled);
}

TEST(CompileSearch, PatternShapes) {
  auto compiled = compile(
      "search [{(?a, r), (?b, ` s `)}, 5 /* five */, $t], [{...}, $t, *], [{}, $n, *], [*, 1.5 , *]"
      " union [{(?a|?b, r)}, '2020-13', @NOW];");
  ASSERT_TRUE(compiled) << compiled.error().display();
  const auto& groups = compiled->query.groups;
  ASSERT_EQ(groups.size(), 2u);
  const PositPattern& first = groups[0][0];
  EXPECT_FALSE(first.open);
  EXPECT_EQ(std::get<RoleName>(first.appearances[1].role).name, " s ");
  EXPECT_EQ(std::get<Literal>(first.value).text, "5");  // cut after its last digit
  EXPECT_TRUE(std::get<TimeValue>(first.time).identical(TimeValue::of_year(2020)));

  const PositPattern& dots = groups[0][1];
  EXPECT_TRUE(dots.open && dots.appearances.empty() && !dots.any_appearance_set);
  EXPECT_EQ(std::get<Literal>(dots.value), (Literal{"'2020'", LiteralKind::Time}));
  const PositPattern& empty = groups[0][2];
  EXPECT_TRUE(!empty.open && empty.appearances.empty() && !empty.any_appearance_set);
  EXPECT_EQ(std::get<Literal>(empty.value), (Literal{"7", LiteralKind::Integer}));
  const PositPattern& any = groups[0][3];
  EXPECT_TRUE(any.any_appearance_set && !any.open);
  EXPECT_EQ(std::get<Literal>(any.value), (Literal{"1.5", LiteralKind::Decimal}));

  const PositPattern& with_union = groups[1][0];
  EXPECT_TRUE(with_union.open);
  EXPECT_EQ(std::get<ThingUnion>(with_union.appearances[0].thing).members.size(), 2u);
  EXPECT_EQ(std::get<Literal>(with_union.value).text, "'2020-13'");
  EXPECT_TRUE(std::get<TimeValue>(with_union.time).identical(kNow));
}

TEST(CompileSearch, ClausesDomainsAndVariableIds) {
  auto compiled = compile(
      "search ?p = [?set = {(?t, posit), (?src, ascertains)}, ?v, *], [{(?p, r)}, *, ?tm] as of ?tm,"
      " [{(?x, ?role)}, *, *] in effect ?tm, $t via ?asr = [{(?x, posit), (?src, `ascertains`)}, ?c, ?at]"
      " not exists {[{(?x, r), (?y, q)}, ?w, *]}"
      " where ?v > 5 and ?tm < @NOW and ?v = ?c and ?at = $t and ?v === $n"
      " return distinct ?x, ?v, ?x order by ?v DeSc, ?x asc, ?x limit 3;");
  ASSERT_TRUE(compiled) << compiled.error().display();
  const CompiledSearch& c = *compiled;
  const std::vector<std::string> names = {"asr", "at", "c",   "p", "role", "set", "src",
                                          "t",   "tm", "v",   "w", "x",    "y"};
  EXPECT_EQ(c.variables, names);
  auto id = [&](std::string_view name) { return *c.find_variable(name); };

  EXPECT_EQ(c.domains.find("p"), BindingKind::Posit);  // a Thing and a Posit binding widen to Posit
  EXPECT_EQ(c.domains.find("tm"), BindingKind::Time);
  EXPECT_EQ(c.domains.find("w"), BindingKind::LiteralValue);  // not-exists bindings are recorded too
  EXPECT_EQ(c.domains.find("asr"), BindingKind::Posit);

  const PositPattern& effect = c.query.groups[0][2];
  ASSERT_TRUE(effect.in_effect && effect.in_effect->via);
  EXPECT_EQ(std::get<Var>(effect.in_effect->assertion_cutoff).id, id("tm"));
  EXPECT_TRUE(std::get<TimeValue>(effect.in_effect->appearance_cutoff).identical(TimeValue::of_year(2020)));
  EXPECT_EQ(effect.in_effect->via->posit_binding->id, id("asr"));
  EXPECT_EQ(pattern_bound_variables(effect), (std::vector<VarId>{id("asr"), id("at"), id("c"), id("role"),
                                                                 id("src"), id("x")}));
  EXPECT_EQ(pattern_required_variables(effect), std::vector<VarId>{id("tm")});
  EXPECT_EQ(pattern_required_variables(c.query.groups[0][1]), std::vector<VarId>{id("tm")});
  EXPECT_EQ(std::get<Var>(c.query.not_exists_groups[0][0].value).id, id("w"));

  const auto& predicates = c.query.predicates;
  ASSERT_EQ(predicates.size(), 5u);
  EXPECT_EQ(predicates[0].op, ">");
  EXPECT_EQ(std::get<Literal>(predicates[0].right), (Literal{"5", LiteralKind::Integer}));
  EXPECT_TRUE(std::get<TimeValue>(predicates[1].right).identical(kNow));
  EXPECT_EQ(std::get<Var>(predicates[2].right).id, id("c"));
  EXPECT_TRUE(std::get<TimeValue>(predicates[3].right).identical(TimeValue::of_year(2020)));
  EXPECT_EQ(std::get<Literal>(predicates[4].right), (Literal{"7", LiteralKind::Integer}));
  EXPECT_EQ(predicates[4].op, "===");

  EXPECT_TRUE(c.query.distinct);
  ASSERT_EQ(c.query.returns.size(), 3u);
  EXPECT_EQ(c.query.returns[2].id, id("x"));
  ASSERT_EQ(c.query.order_items.size(), 3u);
  EXPECT_TRUE(c.query.order_items[0].descending);
  EXPECT_FALSE(c.query.order_items[1].descending || c.query.order_items[2].descending);
  EXPECT_EQ(c.query.order_items[0].variable.id, id("v"));
}

}  // namespace
}  // namespace brackwater::velquin::query
