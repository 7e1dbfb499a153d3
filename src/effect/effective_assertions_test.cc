#include "effect/effective_assertions.h"

#include <gtest/gtest.h>

#include <limits>
#include <random>
#include <string>
#include <vector>

#include "construct/deadline.h"
#include "construct/engine_state.h"
#include "effect/effect_cache.h"
#include "effect/first_later.h"

namespace brackwater::effect {
namespace {

using construct::Identity;
using construct::PositRef;
using literal::LiteralKind;
using literal::TimeValue;

TimeValue year(int y) { return TimeValue::of_year(y); }
constexpr uint64_t kMax = std::numeric_limits<uint64_t>::max();

struct EffectTest : ::testing::Test {
  std::shared_ptr<construct::Engine> engine = construct::Engine::open(std::nullopt).value();
  construct::RoleRef r = engine->add_roles({{"r", false}}).value().at(0).role;
  construct::RoleRef posit_role = engine->find_role_by_id(construct::kPositRoleId).value().value();
  construct::RoleRef ascertains = engine->find_role_by_id(construct::kAscertainsRoleId).value().value();
  construct::CancelFlag cancel = construct::make_cancel_flag();
  std::optional<construct::Deadline> deadline;
  construct::Budget stop{[this] { return construct::check_stop(*cancel, deadline); }};

  PositRef add(std::vector<std::pair<construct::RoleRef, Identity>> members, std::string value, LiteralKind kind,
               TimeValue t) {
    std::vector<construct::AppearanceRef> appearances;
    for (auto [role, thing] : members) appearances.push_back(engine->intern_appearance(role, thing).value().first);
    auto set = engine->intern_appearance_set(appearances).value().first;
    return engine->add_posits({{literal::Literal{std::move(value), kind}, set, t}}, {}).value().posits.at(0);
  }
  // A Posit of Thing `thing` in Role r.
  PositRef fact(Identity thing, std::string value, TimeValue t) {
    return add({{r, thing}}, std::move(value), LiteralKind::Integer, t);
  }
  Identity assert_on(Identity target, Identity source, std::string certainty, TimeValue t,
                     LiteralKind kind = LiteralKind::Certainty) {
    return add({{posit_role, target}, {ascertains, source}}, std::move(certainty), kind, t)->identity;
  }

  // "source:target=certainty@assertion" per record, or the error's display text.
  std::string effect(TimeValue assertion_cutoff, TimeValue appearance_cutoff, uint64_t max_candidates = kMax,
                     uint64_t max_comparisons = kMax) {
    auto r = compute_effective_assertions(*engine, {assertion_cutoff, appearance_cutoff}, max_candidates,
                                          max_comparisons, stop);
    if (!r) return r.error().display();
    std::string out;
    for (const EffectiveAssertion& e : **r) {
      if (!out.empty()) out += ' ';
      out += std::to_string(e.source) + ":" + std::to_string(e.target->identity) + "=" + std::to_string(e.certainty) +
             "@" + std::to_string(e.assertion->identity);
    }
    return out;
  }
  std::string effect_now() { return effect(TimeValue::eot(), TimeValue::eot()); }
  static std::string rec(Identity source, Identity target, int certainty, Identity assertion) {
    return std::to_string(source) + ":" + std::to_string(target) + "=" + std::to_string(certainty) + "@" +
           std::to_string(assertion);
  }
};

TEST_F(EffectTest, RetractionsDropOnlyStrictlyEarlierAssertionsOfTheirSourceAndTarget) {
  const Identity t1 = fact(100, "1", year(2000))->identity;
  const Identity t2 = fact(101, "1", year(2000))->identity;
  const Identity t3 = fact(102, "1", year(2000))->identity;
  const Identity a1 = assert_on(t1, 50, "80%", year(2020));
  assert_on(t1, 50, "0%", year(2021));                       // withdraws a1
  const Identity other = assert_on(t1, 60, "30%", year(2019));  // another source: untouched
  const Identity a2 = assert_on(t2, 50, "70%", year(2021));
  assert_on(t2, 50, "0%", year(2021));  // identical time: not later
  assert_on(t3, 50, "0%", year(2020));
  const Identity a3 = assert_on(t3, 50, "-40%", year(2021));  // asserted after the retraction
  EXPECT_EQ(effect_now(), rec(50, t2, 70, a2) + " " + rec(50, t3, -40, a3) + " " + rec(60, t1, 30, other));
  // As of 2020 the retraction of a1 is not yet made; a retraction alone is never in effect.
  EXPECT_EQ(effect(year(2020), TimeValue::eot()), rec(50, t1, 80, a1) + " " + rec(60, t1, 30, other));
}

TEST_F(EffectTest, KeepsTheLatestTargetPerSourceAndSetThenTheLatestAssertionPerValue) {
  // Set of Thing 100: 2020 and 2021 targets; only the later one stays.
  const Identity old_target = fact(100, "1", year(2020))->identity;
  const Identity new_target = fact(100, "2", year(2021))->identity;
  // Set of Thing 101: a year and a date inside it; neither is later, both stay.
  const Identity y = fact(101, "1", year(2020))->identity;
  const Identity d = fact(101, "2", TimeValue::of_date(2020, 5, 1))->identity;
  // Set of Thing 102: the 2023 target is beyond the appearance cutoff and cannot drop the 2019 one.
  const Identity kept = fact(102, "1", year(2019))->identity;
  const Identity future = fact(102, "2", year(2023))->identity;
  // Set of Thing 103: one value asserted twice (later wins), two values at one time asserted at one time.
  const Identity v = fact(103, "1", year(2018))->identity;
  const Identity w = fact(103, "2", year(2018))->identity;
  Identity a[10];
  a[0] = assert_on(old_target, 50, "100%", year(2022));
  a[1] = assert_on(new_target, 50, "100%", year(2022));
  a[2] = assert_on(new_target, 51, "20%", year(2022));  // second source: judged on its own
  a[3] = assert_on(y, 50, "10%", year(2022));
  a[4] = assert_on(d, 50, "20%", year(2022));
  a[5] = assert_on(kept, 50, "30%", year(2022));
  a[6] = assert_on(future, 50, "40%", year(2022));
  a[7] = assert_on(v, 50, "50%", year(2020));
  a[8] = assert_on(v, 50, "60%", year(2021));  // v is the same Posit: the later assertion wins
  a[9] = assert_on(w, 50, "70%", year(2021));
  // Sorted by source, set, value text, target time, assertion time, identities.
  EXPECT_EQ(effect(TimeValue::eot(), year(2022)), rec(50, new_target, 100, a[1]) + " " + rec(50, y, 10, a[3]) + " " +
                                                     rec(50, d, 20, a[4]) + " " + rec(50, kept, 30, a[5]) + " " +
                                                     rec(50, v, 60, a[8]) + " " + rec(50, w, 70, a[9]) + " " +
                                                     rec(51, new_target, 20, a[2]));
  // At an identical assertion time both assertions of v stay (Thing 104 keeps the sets apart).
  const Identity u = fact(104, "1", year(2018))->identity;
  const Identity b1 = assert_on(u, 52, "50%", year(2021));
  const Identity b2 = assert_on(u, 52, "60%", year(2021));
  const std::string with_u = effect(TimeValue::eot(), year(2022));
  EXPECT_EQ(with_u.substr(with_u.find("52:")), rec(52, u, 50, b1) + " " + rec(52, u, 60, b2));
}

TEST_F(EffectTest, ChecksEachCandidateInOrder) {
  const Identity t = fact(100, "1", year(2000))->identity;
  // Not envelopes, or asserted after the cutoff: skipped before their value or target is looked at.
  add({{posit_role, t}, {ascertains, 50}, {r, 7}}, "x", LiteralKind::String, year(2000));
  assert_on(999, 50, "5", year(2030), LiteralKind::Integer);
  assert_on(999, 50, "10%", year(2030));
  const Identity ok = assert_on(t, 50, "10%", year(2000));
  EXPECT_EQ(effect(year(2025), TimeValue::eot()), rec(50, t, 10, ok));
  // Within the cutoff the value's kind is tested before the target is looked up.
  EXPECT_EQ(effect(TimeValue::eot(), TimeValue::eot()),
            "Execution error: malformed assertion posit " + std::to_string(ok - 2) +
                ": exact {posit, ascertains} envelopes require a certainty literal");
}

TEST_F(EffectTest, ReportsBadCertaintyTextAndDanglingTargets) {
  const Identity t = fact(100, "1", year(2000))->identity;
  assert_on(999, 50, "1O%", year(2001));
  EXPECT_EQ(effect(TimeValue::eot(), TimeValue::eot()).substr(0, 42), "Internal invariant violated: invalid certa");
  assert_on(t, 50, "10%", year(1999));
  const Identity dangling = assert_on(999, 51, "10%", year(1999));
  EXPECT_EQ(effect(year(2000), TimeValue::eot()), "Execution error: dangling assertion posit " +
                                                      std::to_string(dangling) + ": target posit 999 does not exist");
}

TEST_F(EffectTest, CandidateLimitAndComparisonBudgetBoundaries) {
  const Identity r1 = fact(100, "1", year(2000))->identity;
  assert_on(r1, 40, "50%", year(2020));
  assert_on(r1, 40, "0%", year(2021));  // the 50% record scans one retraction: 1 comparison
  Identity up[4], down[4];
  for (int i = 0; i < 4; ++i) up[i] = fact(101, std::to_string(i), year(2001 + i))->identity;
  for (int i = 0; i < 4; ++i) down[i] = fact(102, std::to_string(i), year(2010 - i))->identity;
  // Ascending target times: record i meets its first later record at i + 1 (i + 1 comparisons), the
  // last one compares with all 3 others: 1 + 2 + 3 + 3 = 9.
  for (int i = 0; i < 4; ++i) assert_on(up[i], 41, "50%", year(2020));
  // Descending: the first record compares with all 3 others, each other one stops at the first: 3 + 3.
  for (int i = 0; i < 4; ++i) assert_on(down[i], 42, "50%", year(2020));
  const uint64_t candidates = 10;

  EXPECT_EQ(effect(TimeValue::eot(), TimeValue::eot(), candidates, 16),
            rec(41, up[3], 50, up[3] + 8) + " " + rec(42, down[0], 50, down[0] + 8));
  EXPECT_EQ(effect(TimeValue::eot(), TimeValue::eot(), candidates, 15),
            "Resource limit exceeded for effective temporal comparisons: maximum 15");
  // The limit is checked before any candidate is looked up (this one is malformed within the cutoff).
  assert_on(r1, 43, "5", year(2020), LiteralKind::Integer);
  EXPECT_EQ(effect(TimeValue::eot(), TimeValue::eot(), candidates, 16),
            "Resource limit exceeded for effective assertion candidates: maximum 10");
  EXPECT_EQ(effect(year(2019), TimeValue::eot(), candidates + 1, 0), "");
}

TEST_F(EffectTest, StopsAtTheStopCheckAndOnPoisonedLocks) {
  assert_on(fact(100, "1", year(2000))->identity, 50, "10%", year(2000));
  deadline = construct::Deadline(construct::MonoInstant{0, 0});
  EXPECT_EQ(effect_now(), "Execution timed out");
  cancel->store(true);
  EXPECT_EQ(effect_now(), "Execution cancelled");  // the cancel flag is read first
  cancel->store(false);
  deadline.reset();
  engine->state().components.poison_for_testing();
  EXPECT_EQ(effect_now(), "Lock poisoned: poisoned lock: another task failed inside");
}

// The kept lists are charged to the statement's budget: short of room the others are let go, and
// a list that does not fit alone fails the call.
TEST_F(EffectTest, CacheChargesItsListsAndLetsThemGoForRoom) {
  assert_on(fact(100, "1", year(2000))->identity, 50, "10%", year(2000));
  const uint64_t list = sizeof(EffectiveAssertion) + 128;  // one assertion and its entry
  const uint64_t working = 2 * sizeof(EffectiveAssertion);  // while one candidate is computed
  construct::Budget two_lists([] { return construct::Result<void>(); }, 2 * list + working);
  EffectCache cache;
  auto first = cache.get(*engine, {TimeValue::eot(), year(2000)}, two_lists).value();
  ASSERT_TRUE(cache.get(*engine, {TimeValue::eot(), year(2001)}, two_lists));
  EXPECT_EQ(two_lists.held(), 2 * list);
  ASSERT_TRUE(cache.get(*engine, {TimeValue::eot(), year(2002)}, two_lists));
  EXPECT_EQ(two_lists.held(), list);  // the other two were let go
  EXPECT_NE(cache.get(*engine, {TimeValue::eot(), year(2000)}, two_lists).value(), first);
  construct::Budget too_small([] { return construct::Result<void>(); }, list - 1);
  EffectCache refusing;
  EXPECT_EQ(refusing.get(*engine, {TimeValue::eot(), year(2000)}, too_small).error().display(),
            "Resource limit exceeded for search memory: maximum " + std::to_string(list - 1));
  EXPECT_EQ(too_small.held(), 0u);
}

TEST_F(EffectTest, CacheComputesEachPairOfCutoffsOnce) {
  assert_on(fact(100, "1", year(2000))->identity, 50, "10%", year(2000));
  EffectCache cache;
  auto first = cache.get(*engine, {TimeValue::eot(), year(2000)}, stop).value();
  EXPECT_EQ(cache.get(*engine, {TimeValue::eot(), year(2000)}, stop).value(), first);
  // The date 2000-01-01 starts with the year 2000 but is not the same cutoff.
  EXPECT_NE(cache.get(*engine, {TimeValue::eot(), TimeValue::of_date(2000, 1, 1)}, stop).value(), first);
  // A cache that holds one assertion lets the first list go to keep the second.
  EffectCache small(1);
  first = small.get(*engine, {TimeValue::eot(), year(2000)}, stop).value();
  EXPECT_EQ(small.get(*engine, {TimeValue::eot(), year(2000)}, stop).value(), first);
  ASSERT_TRUE(small.get(*engine, {TimeValue::eot(), TimeValue::eot()}, stop));
  auto again = small.get(*engine, {TimeValue::eot(), year(2000)}, stop).value();
  EXPECT_NE(again, first);
  ASSERT_EQ(again->size(), 1u);
  EXPECT_EQ(again->front().assertion, first->front().assertion);
}

// The index against the pairwise scan it replaces, over mixed precisions and the open ends.
TEST(FirstLater, MatchesThePairwiseScan) {
  std::mt19937 rng(7);
  auto random_time = [&] {
    const int y = 2000 + int(rng() % 3);
    switch (rng() % 6) {
      case 0: return TimeValue::bot();
      case 1: return TimeValue::eot();
      case 2: return TimeValue::of_year(y);
      case 3: return TimeValue::of_year_month(y, uint8_t(1 + rng() % 12));
      case 4: return TimeValue::of_date(y, uint8_t(1 + rng() % 12), uint8_t(1 + rng() % 28));
      default: return TimeValue::of_date_time(y, 1, 1, rng() % 3, 0);
    }
  };
  FirstLater index;
  for (int round = 0; round < 2000; ++round) {
    std::vector<TimeValue> times(1 + rng() % 8);
    for (auto& t : times) t = random_time();
    index.clear();
    index.start_sequence();
    index.push(TimeValue::eot());  // a first sequence the probes must not see
    index.start_sequence();
    for (const auto& t : times) index.push(t);
    for (size_t i = 0; i < times.size(); ++i) {
      std::optional<size_t> first;
      uint64_t cost = 0;
      for (size_t j = 0; j < times.size() && !first; ++j) {
        if (j == i) continue;
        ++cost;
        if (TimeValue::ends_at_or_before_start(times[i], times[j])) first = j;
      }
      const auto found = index.find(1, times[i]);
      ASSERT_EQ(found, first) << times[i].display();
      ASSERT_EQ(index.scan_cost(1, i, found), cost);
    }
  }
}

}  // namespace
}  // namespace brackwater::effect
