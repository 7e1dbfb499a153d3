// Pattern matching, appearance-set matching, the latest filter and planning against engines built
// with add role / add posit scripts; patterns are built by hand.
#include "velquin/query/match.h"

#include <gtest/gtest.h>

#include <random>

#include "velquin/query/latest.h"
#include "velquin/query/plan.h"
#include "velquin/query/set_match.h"
#include "velquin/script_test_util.h"

namespace brackwater::velquin::query {
namespace {

using construct::PositRef;
using literal::LiteralKind;

// Posit ids follow the order written; the two-member set is {(a, r), (b, s)}.
constexpr std::string_view kData =
    "add role r, s, n;"
    "add posit [{(+a, r)}, 1, '2019'], [{(a, r)}, 2, '2020-03-01'], [{(+b, r)}, 3, '2020'], [{(b, r)}, 4, '2020-05-01'],"
    " [{(+c, r)}, 5, '2020-05-31'], [{(+d, r)}, 6, '2020-06-01'], [{(+e, r)}, 7, '2020-06-01 00:00:00'],"
    " [{(+f, r)}, 8, '2020-06'], [{(+g, r)}, 9, '2020-01-01'], [{(g, r)}, 10, '2020-01-01'],"
    " [{(+h, r)}, 11, @BOT], [{(h, r)}, 12, '2000'], [{(+i, r)}, 13, @BOT], [{(i, r)}, 14, @BOT],"
    " [{(+k, s)}, 1.0, '2020'], [{(+m, n)}, \"one\", '2020'], [{(a, r), (b, s)}, 15, '2020'];";

const std::vector<std::string> kNames = {"p", "r", "t", "u", "v", "w", "x", "y"};  // sorted: VarId = index

Var var(std::string_view name) {
  return Var{std::string(name), static_cast<VarId>(std::find(kNames.begin(), kNames.end(), name) - kNames.begin())};
}
AppearanceSearch entry(ThingSlot thing, RoleSlot role) { return AppearanceSearch{std::move(role), std::move(thing)}; }
RoleSlot role(std::string name) { return RoleName{std::move(name)}; }
PositPattern pattern(std::vector<AppearanceSearch> entries, ValueSlot value = Wildcard{}, TimeSlot time = Wildcard{},
                     bool open = false) {
  PositPattern p;
  p.appearances = std::move(entries);
  p.value = std::move(value);
  p.time = std::move(time);
  p.open = open;
  return p;
}
Literal integer(std::string text) { return Literal{std::move(text), LiteralKind::Integer}; }
TimeValue date(int y, int m, int d) { return TimeValue::of_date(y, uint8_t(m), uint8_t(d)); }

// The distinct extensions of `row` that match `pattern`'s appearance-set slot against `set`.
construct::Result<void> match_appearance_set(const PositPattern& pattern, const construct::AppearanceSet& set,
                                             std::span<const BoundSlot> row, RowTable& out) {
  SetMatchScratch scratch;
  ExecContext unbounded;
  unbounded.cancel = make_cancel_flag();
  return scratch.match(pattern, set, row, out, unbounded);
}

class MatchTest : public velquin::testing::MemoryScriptTest {
 protected:
  void SetUp() override {
    MemoryScriptTest::SetUp();
    ctx.cancel = make_cancel_flag();
    ASSERT_EQ(outcome(kData), "ok");
    two_set = find_posit(15)->appearance_set;
    a = two_set->members[0]->thing;
    b = two_set->members[1]->thing;
  }

  BindingRow row() const { return BindingRow(kNames.size()); }
  construct::Result<void> match(const PositPattern& p, const BindingRow& r, RowTable& out) {
    return match_pattern_for_row(*engine, p, r, ctx, cache, out);
  }
  // The Posit whose value text is `value` (values are unique in the data).
  PositRef find_posit(int value) {
    auto registry = engine->state().components.lock();
    for (construct::Identity id = 1; id < 100; ++id) {
      PositRef p = construct::posit_by_identity(**registry, id);
      if (p && p->value.text == std::to_string(value)) return p;
    }
    return nullptr;
  }

  std::string cell(const BoundSlot& s) const {
    if (auto* t = std::get_if<ThingValue>(&s)) return t->id == a ? "a" : t->id == b ? "b" : "#" + std::to_string(t->id);
    if (auto* p = std::get_if<PositValue>(&s)) return "P" + std::to_string(p->id);
    if (auto* r = std::get_if<construct::RoleRef>(&s)) return (*r)->name;
    if (auto* l = std::get_if<LiteralRef>(&s)) return (*l)->text;
    if (auto* t = std::get_if<TimeValue>(&s)) return t->display();
    return construct::format_appearance_set(**std::get_if<construct::AppearanceSetRef>(&s));
  }
  // The bound cells of `shown` per row ("-" for none), rows joined by ", "; or the error's display.
  std::string show(const PositPattern& p, const BindingRow& r, std::vector<std::string> shown = {"v", "t"}) {
    RowTable out(kNames.size());
    if (auto m = match(p, r, out); !m) return m.error().display();
    return rows(out, shown);
  }
  std::string rows(const RowTable& out, const std::vector<std::string>& shown) const {
    std::string text;
    for (size_t i = 0; i < out.size(); ++i) {
      std::string line;
      for (const std::string& name : shown) {
        const BoundSlot& s = out.row(i)[var(name).id];
        if (is_bound(s)) line += (line.empty() ? "" : " ") + cell(s);
      }
      text += (i ? ", " : "") + (line.empty() ? "-" : line);
    }
    return text;
  }

  ExecContext ctx;
  effect::EffectCache cache;
  construct::AppearanceSetRef two_set = nullptr;
  construct::Identity a = 0, b = 0;
};

TEST_F(MatchTest, AsOfKeepsWhatEndsByTheCutoffThenTheLatestPerSet) {
  const std::string all_r =
      "1 2019, 2 2020-03-01, 3 2020, 4 2020-05-01, 5 2020-05-31, 6 2020-06-01, 7 2020-06-01 00:00:00, 8 2020-06, "
      "9 2020-01-01, 10 2020-01-01, 11 BOT, 12 2000, 13 BOT, 14 BOT";
  struct Case {
    std::optional<TimeValue> as_of;
    bool latest;
    std::string expected;
  } cases[] = {
      {std::nullopt, false, all_r},
      {std::nullopt, true, all_r},  // latest alone filters nothing
      // A date cutoff drops the year and the month that contain it, and the date-time at its start;
      // the identical date stays; 2019 is superseded within a's set, BOT by 2000; equal times stay.
      {date(2020, 6, 1), false,
       "2 2020-03-01, 4 2020-05-01, 5 2020-05-31, 6 2020-06-01, 9 2020-01-01, 10 2020-01-01, 12 2000, 13 BOT, 14 BOT"},
      // A date-time cutoff hides the Posit dated that day.
      {TimeValue::of_date_time(2020, 6, 1, 12 * 3600, 0), false,
       "2 2020-03-01, 4 2020-05-01, 5 2020-05-31, 7 2020-06-01 00:00:00, 9 2020-01-01, 10 2020-01-01, 12 2000, "
       "13 BOT, 14 BOT"},
      // A year and a date inside it overlap: both stay.
      {TimeValue::of_year(2021), false,
       "2 2020-03-01, 3 2020, 4 2020-05-01, 5 2020-05-31, 6 2020-06-01, 7 2020-06-01 00:00:00, 8 2020-06, "
       "9 2020-01-01, 10 2020-01-01, 12 2000, 13 BOT, 14 BOT"},
      {TimeValue::bot(), false, "11 BOT, 13 BOT, 14 BOT"},
  };
  for (const Case& c : cases) {
    PositPattern p = pattern({entry(Wildcard{}, role("r"))}, var("v"), var("t"));
    p.as_of = c.as_of ? std::optional<CutoffOperand>(*c.as_of) : std::nullopt;
    p.latest = c.latest;
    EXPECT_EQ(show(p, row()), c.expected) << (c.as_of ? c.as_of->display() : "no as of") << c.latest;
  }
}

TEST_F(MatchTest, SupersessionRunsBeforeTheValueSlotUnlessLatest) {
  PositPattern p = pattern({entry(Wildcard{}, role("r"))}, integer("1"), var("t"));
  EXPECT_EQ(show(p, row()), "2019");
  p.as_of = CutoffOperand(date(2020, 6, 1));
  EXPECT_EQ(show(p, row()), "");  // 2 @ 2020-03-01 is a's state as of the cutoff
  p.latest = true;
  EXPECT_EQ(show(p, row()), "2019");  // the latest among the Posits with value 1

  // A posit variable bound earlier still sees its whole set under "as of".
  const PositRef first = find_posit(1), second = find_posit(2);
  PositPattern bound = pattern({entry(Wildcard{}, role("r"))}, var("v"), var("t"));
  bound.posit_binding = var("p");
  bound.as_of = CutoffOperand(date(2020, 6, 1));
  BindingRow r = row();
  r[var("p").id] = PositValue{first->identity};
  EXPECT_EQ(show(bound, r, {"p", "v"}), "");
  bound.latest = true;
  EXPECT_EQ(show(bound, r, {"p", "v"}), "P" + std::to_string(first->identity) + " 1");
  // A Thing that is the Posit is rebound to it.
  bound.latest = false;
  r[var("p").id] = ThingValue{second->identity};
  EXPECT_EQ(show(bound, r, {"p", "v"}), "P" + std::to_string(second->identity) + " 2");
  // An identity that names no Posit matches nothing (no index fault); another kind is `IncompatibleDomains`.
  r[var("p").id] = ThingValue{a};
  EXPECT_EQ(show(bound, r), "");
  r[var("p").id] = date(2020, 1, 1);
  EXPECT_EQ(show(bound, r), "Query variable 'p' has incompatible domains: Time and Posit");
}

TEST_F(MatchTest, ValueAndTimeSlots) {
  const Literal one = integer("1"), one_point = Literal{"1.0", LiteralKind::Decimal};
  EXPECT_EQ(show(pattern({entry(Wildcard{}, role("s"))}, integer("1")), row(), {"x"}), "-");  // 1 = 1.0 by value
  BindingRow r = row();
  r[var("v").id] = LiteralRef{&one};
  EXPECT_EQ(show(pattern({entry(Wildcard{}, role("s"))}, var("v")), r), "");  // a variable compares text
  r[var("v").id] = LiteralRef{&one_point};
  EXPECT_EQ(show(pattern({entry(Wildcard{}, role("s"))}, var("v")), r), "1.0");
  EXPECT_EQ(show(pattern({entry(Wildcard{}, role("n"))}, integer("1")), row()),
            "Unsupported comparison: unsupported nominal comparison between String and Integer");
  // Time literals match only the identical time: the year 2020 is not the date inside it.
  EXPECT_EQ(show(pattern({entry(Wildcard{}, role("r"))}, var("v"), TimeValue::of_year(2020)), row()), "3");
  EXPECT_EQ(show(pattern({entry(Wildcard{}, role("r"))}, var("v"), date(2020, 1, 1)), row()), "9, 10");
  // An unknown Role gives no rows and no error; a cutoff variable must be bound to a time.
  EXPECT_EQ(show(pattern({entry(var("u"), role("zz"))}), row()), "");
  PositPattern cut = pattern({entry(Wildcard{}, role("r"))});
  cut.as_of = CutoffOperand(var("t"));
  EXPECT_EQ(show(cut, row()), "Invalid query recall: t");
  r[var("t").id] = ThingValue{a};
  EXPECT_EQ(show(cut, r), "Query variable 't' has incompatible domains: Thing and Time");
  // A context's budget asks at its first work (a copy's budget is its own, fresh).
  const ExecContext fresh = ctx;
  fresh.cancel->store(true);
  RowTable out(kNames.size());
  auto stopped = match_pattern_for_row(*engine, pattern({entry(Wildcard{}, Wildcard{})}), row(), fresh, cache, out);
  EXPECT_EQ(stopped.error().display(), "Execution cancelled");
}

TEST_F(MatchTest, InEffectGivesOneRowPerAssertionAndViaDescribesTheAssertion) {
  ASSERT_EQ(outcome("add role q; add posit +z [{(+o, q)}, 1, '2020'] and assert by +s1 with 80% at '2021';"
                    "add posit [{(z, posit), (+s2, ascertains)}, 60%, '2021'], [{(z, posit), (s2, ascertains)}, 0%, "
                    "'2022-06-01'];"),
            "ok");
  PositPattern p = pattern({entry(Wildcard{}, role("q"))}, var("v"));
  p.in_effect = InEffectClause{TimeValue::of_year(2022), TimeValue::of_year(2022), nullptr};
  EXPECT_EQ(show(p, row(), {"v"}), "1, 1");  // two sources, rows kept twice
  p.in_effect->via = std::make_shared<PositPattern>(
      pattern({entry(var("u"), role("posit")), entry(var("y"), role("ascertains"))}, var("w")));
  EXPECT_EQ(show(p, row(), {"w"}), "80%, 60%");
  // The 0% of 2022-06-01 lies after the year 2022 starts: it retracts s2 only from 2023 on.
  p.in_effect->assertion_cutoff = TimeValue::of_year(2023);
  EXPECT_EQ(show(p, row(), {"w"}), "80%");
}

TEST_F(MatchTest, UnionMembersAreCheckedInOrder) {
  const PositPattern p = pattern({entry(ThingUnion{{var("u"), var("w")}}, role("r"))}, var("v"), Wildcard{}, true);
  BindingRow r = row();
  EXPECT_EQ(show(p, r), "Invalid query recall: u");
  r[var("u").id] = date(2020, 1, 1);
  EXPECT_EQ(show(p, r), "Query variable 'u' has incompatible domains: Time and Thing");
  r[var("u").id] = ThingValue{a};
  EXPECT_EQ(show(p, r), "Invalid query recall: w");  // checked after u matched
  r[var("w").id] = ThingValue{b};
  EXPECT_EQ(show(p, r, {"v"}), "1, 2, 3, 4, 15");
  // In a set slot the Thing slot comes first: the union fails even where the Role would not match.
  RowTable out(kNames.size());
  r[var("w").id] = std::monostate{};
  const PositPattern no_role = pattern({entry(ThingUnion{{var("u"), var("w")}}, role("zz"))}, Wildcard{}, Wildcard{}, true);
  EXPECT_EQ(match_appearance_set(no_role, *two_set, r, out).error().display(), "Invalid query recall: w");
}

TEST_F(MatchTest, SetEntriesTakeDistinctMembers) {
  const auto x = var("x"), y = var("y");
  struct Case {
    PositPattern p;
    std::string expected;
  } cases[] = {
      {pattern({entry(x, Wildcard{}), entry(y, Wildcard{})}), "a b, b a"},
      {pattern({entry(x, Wildcard{}), entry(x, Wildcard{})}), ""},  // injective
      {pattern({entry(Wildcard{}, Wildcard{}), entry(Wildcard{}, Wildcard{})}), "-"},  // two assignments, one row
      {pattern({entry(x, Wildcard{})}), ""},                                           // closed: counts differ
      {pattern({entry(x, Wildcard{})}, Wildcard{}, Wildcard{}, true), "a, b"},
      {pattern({entry(x, role("s"))}, Wildcard{}, Wildcard{}, true), "b"},
      {pattern({entry(x, role("r")), entry(y, role("r"))}), ""},
      {pattern({entry(x, var("r"))}, Wildcard{}, Wildcard{}, true), "a r, b s"},
      {pattern({}, Wildcard{}, Wildcard{}, true), "-"},
  };
  for (const Case& c : cases) {
    RowTable out(kNames.size());
    ASSERT_TRUE(match_appearance_set(c.p, *two_set, row(), out));
    EXPECT_EQ(rows(out, {"x", "y", "r"}), c.expected);
  }
}

TEST(SetMatch, HundredThousandMembersInOneSet) {
  constexpr size_t n = 100'000;
  std::vector<construct::Role> roles(n);
  std::vector<construct::Appearance> members(n);
  std::vector<construct::AppearanceRef> refs;
  PositPattern p;
  for (size_t i = 0; i < n; ++i) {
    roles[i] = construct::Role{"r" + std::to_string(i), i + 1, false};
    members[i] = construct::Appearance{&roles[i], 7};
    refs.push_back(&members[i]);
  }
  for (size_t i = n; i-- > 0;) p.appearances.push_back(AppearanceSearch{RoleName{roles[i].name}, Wildcard{}});
  const construct::AppearanceSet set{construct::MemberList(refs)};
  RowTable out(0);
  ASSERT_TRUE(match_appearance_set(p, set, {}, out));
  EXPECT_EQ(out.size(), 1u);
}

TEST(Latest, SameAnswerAsComparingEveryPair) {
  const TimeValue pool[] = {TimeValue::bot(), TimeValue::eot(), TimeValue::of_year(2020), TimeValue::of_year(2021),
                            TimeValue::of_year_month(2020, 5), date(2020, 5, 1), date(2020, 12, 31),
                            TimeValue::of_date_time(2020, 5, 1, 0, 0), TimeValue::of_date_time(2020, 5, 1, 60, 0)};
  const construct::AppearanceSet sets[3];
  std::mt19937 random(7);
  for (int round = 0; round < 300; ++round) {
    std::vector<construct::Posit> posits(random() % 12);
    std::vector<PositRef> refs;
    for (auto& p : posits) {
      p.appearance_set = &sets[random() % 3];
      p.appearance_time = pool[random() % std::size(pool)];
      refs.push_back(&p);
    }
    std::vector<uint32_t> expected;
    for (uint32_t i = 0; i < refs.size(); ++i) {
      bool dropped = false;
      for (uint32_t j = 0; j < refs.size(); ++j) {
        dropped = dropped || (j != i && refs[j]->appearance_set == refs[i]->appearance_set &&
                              TimeValue::ends_at_or_before_start(refs[i]->appearance_time, refs[j]->appearance_time));
      }
      if (!dropped) expected.push_back(i);
    }
    ASSERT_EQ(retain_latest_candidates(refs), expected) << round;
  }
}

TEST_F(MatchTest, PlanOrderUnresolvableDependenciesAndStop) {
  CompiledSearch search;
  search.variables = kNames;
  const PatternGroup group = {
      pattern({entry(var("x"), Wildcard{})}),                       // 0: no named Role
      pattern({entry(var("x"), role("r"))}),                        // 1: 15 Posits
      pattern({entry(Wildcard{}, role("zz"))}),                     // 2: unknown Role
      pattern({entry(ThingUnion{{var("x"), var("y")}}, role("s"))}),  // 3: needs x and y; 2 Posits
      pattern({entry(var("y"), role("n"))}),                        // 4: 1 Posit
      pattern({entry(var("y"), Wildcard{})}),                       // 5: ties with 0
  };
  auto plan = plan_search(*engine, group, std::vector<bool>(kNames.size()), search, ctx);
  ASSERT_TRUE(plan);
  std::string order;
  for (const PositPattern* p : *plan) order += std::to_string(p - group.data());
  EXPECT_EQ(order, "241305");
  ExecContext late = ctx;
  late.deadline = Deadline(MonoInstant{});
  const PatternGroup many(100, group[0]);  // a long plan asks the stop check
  EXPECT_EQ(plan_search(*engine, many, std::vector<bool>(kNames.size()), search, late).error().kind(),
            construct::ErrorKind::TimedOut);

  PositPattern cut = pattern({entry(Wildcard{}, role("r"))});
  cut.as_of = CutoffOperand(var("t"));
  const PatternGroup stuck = {group[3], cut, group[0]};
  std::vector<bool> bound(kNames.size());
  bound[var("y").id] = true;
  EXPECT_EQ(plan_search(*engine, stuck, bound, search, ctx).error().display(),
            "Invalid query recall: query has unresolvable variable dependencies: t");
  bound[var("y").id] = false;
  EXPECT_EQ(plan_search(*engine, {group[3], cut}, bound, search, ctx).error().display(),
            "Invalid query recall: query has unresolvable variable dependencies: x, y, t");
}

}  // namespace
}  // namespace brackwater::velquin::query
