#include "construct/engine.h"
#include "construct/engine_reads.h"

#include <gtest/gtest.h>

#include "construct/engine_ops.h"
#include "construct/engine_state.h"
#include "construct/record_keys.h"

namespace brackwater::construct {
namespace {

using literal::LiteralKind;

Literal lit(std::string text, LiteralKind kind = LiteralKind::Integer) { return Literal{std::move(text), kind}; }

struct MemoryEngine : ::testing::Test {
  std::shared_ptr<Engine> engine = Engine::open(std::nullopt).value();
  EngineState& state = engine->state();

  uint64_t pool_size() { return (*state.identities.lock())->size(); }
  Identity pool_last() { return (*state.identities.lock())->last(); }
  uint64_t posit_count() { return (*state.components.lock())->posit_count; }

  RoleRef role(const std::string& name) {
    auto added = engine->add_roles({{name, false}});
    return added.value().at(0).role;
  }
  AppearanceSetRef set_of(std::vector<std::pair<RoleRef, Identity>> members) {
    std::vector<AppearanceRef> appearances;
    for (auto [r, thing] : members) appearances.push_back(engine->intern_appearance(r, thing).value().first);
    return engine->intern_appearance_set(appearances).value().first;
  }
  // Each added Role's identity, "+" when it is new, "=" when it existed.
  static std::string summary(const auto& added) {
    std::string out;
    for (const auto& a : added) out += std::to_string(a.role->identity) + (a.existed ? "= " : "+ ");
    return out;
  }
  static std::vector<Identity> ids(const auto& posits) {
    std::vector<Identity> out;
    for (PositRef p : posits) out.push_back(p->identity);
    return out;
  }
  PendingPosit pending(AppearanceSetRef set, std::string value, TimeValue time = TimeValue::of_year(2001),
                       LiteralKind kind = LiteralKind::Integer) {
    return PendingPosit{lit(std::move(value), kind), set, time};
  }
};

TEST_F(MemoryEngine, HoldsTheBuiltinRolesAndDrawsSix) {
  EXPECT_FALSE(engine->has_store());
  const char* names[] = {"posit", "ascertains", "thing", "class", "subclass"};
  for (Identity id = 1; id <= 5; ++id) {
    RoleRef r = engine->find_role_by_id(id).value().value();
    EXPECT_EQ(r->name, names[id - 1]);
    EXPECT_TRUE(r->reserved);
    EXPECT_EQ(engine->find_role_by_name(names[id - 1]).value().value(), r);
  }
  EXPECT_EQ((*state.roles.lock())->size(), 5u);
  EXPECT_EQ(pool_size(), 5u);
  EXPECT_EQ(posit_count(), 0u);
  EXPECT_EQ(engine->draw_identity().value(), 6u);
}

TEST_F(MemoryEngine, AddRolesNormalisesDedupesAndDraws) {
  // "é" composed and decomposed name one Role.
  EXPECT_EQ(summary(engine->add_roles({{"caf\xC3\xA9", false}}).value()), "6+ ");
  EXPECT_EQ(summary(engine->add_roles({{"cafe\xCC\x81", false}, {"n", false}, {"n", false}, {"posit", false}}).value()),
            "6= 7+ 7+ 1= ");

  // An empty name alone draws nothing; after a new name, that name's identity stays drawn.
  auto empty = engine->add_roles({{"", false}});
  ASSERT_FALSE(empty);
  EXPECT_EQ(empty.error().display(), "Execution error: role name cannot be empty");
  EXPECT_EQ(pool_last(), 7u);
  ASSERT_FALSE(engine->add_roles({{"a", false}, {"", false}}));
  EXPECT_EQ(pool_last(), 8u);
  EXPECT_FALSE(engine->find_role_by_name("a").value().has_value());
  EXPECT_EQ(engine->draw_identity().value(), 9u);

  auto conflict = engine->add_roles({{"z", false}, {"z", true}});
  ASSERT_FALSE(conflict);
  EXPECT_EQ(conflict.error().message(), "role 'z' has conflicting reserved status in one command");
}

TEST_F(MemoryEngine, InternsAppearancesAndSets) {
  RoleRef thing = engine->find_role_by_id(kThingRoleId).value().value();
  RoleRef declared = role("r");
  auto a1 = engine->intern_appearance(thing, 10).value();
  EXPECT_EQ(engine->intern_appearance(thing, 10).value(), std::pair(a1.first, true));
  EXPECT_FALSE(a1.second);
  auto d = engine->intern_appearance(declared, 10).value();
  EXPECT_EQ((*state.thing_appearances.lock())->appearances(10).size(), 2u);
  EXPECT_EQ((*state.thing_appearances.lock())->appearances(10)[1], d.first);
  auto by_role = state.role_appearances.lock();
  EXPECT_EQ((*by_role)->appearances(kThingRoleId).size(), 1u);
  EXPECT_TRUE((*by_role)->appearances(declared->identity).empty());
}

TEST_F(MemoryEngine, InternsSetsInCanonicalOrder) {
  RoleRef r2 = engine->find_role_by_id(2).value().value();
  RoleRef r5 = engine->find_role_by_id(5).value().value();
  AppearanceRef x = engine->intern_appearance(r5, 1).value().first;
  AppearanceRef y = engine->intern_appearance(r2, 9).value().first;
  auto s1 = engine->intern_appearance_set({x, y}).value();
  EXPECT_FALSE(s1.second);
  EXPECT_EQ(engine->intern_appearance_set({y, x}).value(), std::pair(s1.first, true));
  EXPECT_EQ(format_appearance_set(*s1.first), "{(9, ascertains),(1, subclass)}");
  EXPECT_EQ((*state.appearance_memberships.lock())->sets(*x).size(), 1u);

  AppearanceRef other = engine->intern_appearance(r5, 2).value().first;
  const size_t sets_before = (*state.appearance_sets.lock())->size();
  for (auto members : {std::vector{x, other}, std::vector{x, x}}) {
    auto bad = engine->intern_appearance_set(members);
    ASSERT_FALSE(bad);
    EXPECT_EQ(bad.error().display(),
              "Invalid appearance set: an appearance set may contain at most one Thing for each Role");
  }
  EXPECT_EQ((*state.appearance_sets.lock())->size(), sets_before);
}

TEST_F(MemoryEngine, NumbersIdentitiesInDrawOrder) {
  RoleRef r = role("r");  // 6
  EXPECT_EQ(engine->draw_identity().value(), 7u);
  EXPECT_EQ(engine->draw_identity().value(), 8u);
  AppearanceSetRef set = set_of({{r, 7}});
  auto added = engine->add_posits({pending(set, "1")}, {{lit("100%", LiteralKind::Certainty), TimeValue::of_year(2002), 0, 8}}).value();
  EXPECT_EQ(ids(added.posits), std::vector<Identity>{9});
  EXPECT_EQ(ids(added.assertions), std::vector<Identity>{10});
  EXPECT_EQ(format_appearance_set(*added.assertions[0]->appearance_set), "{(9, posit),(8, ascertains)}");
  EXPECT_EQ(posit_count(), 2u);
}

TEST_F(MemoryEngine, DedupesWithinOneCommandWhateverOrderItsSetsComeIn) {
  // A command's first Posit names a newer set than later ones: repeats are still found.
  RoleRef r = role("r");
  AppearanceSetRef older = set_of({{r, 100}});
  AppearanceSetRef newer = set_of({{r, 101}});
  auto added = engine->add_posits({pending(newer, "1"), pending(older, "1"), pending(older, "2"),
                                   pending(newer, "1"), pending(older, "1"), pending(older, "2")},
                                  {}).value();
  EXPECT_EQ(ids(added.posits), (std::vector<Identity>{7, 8, 9, 7, 8, 9}));
  EXPECT_EQ(posit_count(), 3u);
}

TEST_F(MemoryEngine, DedupesWithinAndAcrossCommandsSkippingIdentities) {
  RoleRef r = role("r");  // 6
  AppearanceSetRef set = set_of({{r, 100}});
  const std::vector<PendingPosit> command = {pending(set, "1"), pending(set, "2"), pending(set, "1")};
  // A = 7, B = 8, A' drew 9 and gave it back.
  EXPECT_EQ(ids(engine->add_posits(command, {}).value().posits), (std::vector<Identity>{7, 8, 7}));
  EXPECT_FALSE((*state.identities.lock())->contains(9));
  const uint64_t size_before = pool_size();
  // The same command again finds every Posit; each drawn identity is skipped for good.
  EXPECT_EQ(ids(engine->add_posits(command, {}).value().posits), (std::vector<Identity>{7, 8, 7}));
  EXPECT_EQ(posit_count(), 2u);
  EXPECT_EQ(pool_size(), size_before);
  auto next = engine->add_posits({pending(set, "3")}, {}).value();
  EXPECT_EQ(next.posits[0]->identity, 13u);
  // What makes two Posits one proposition (family, time, decimal text) is pinned with posit_key_eq.
}

TEST_F(MemoryEngine, AssertionsAreFoundNotRecreated) {
  RoleRef r = role("r");
  AppearanceSetRef set = set_of({{r, 50}});
  const Identity source = engine->draw_identity().value();
  const TimeValue t1 = TimeValue::of_year(2010), t2 = TimeValue::of_year(2011);
  auto assert_at = [&](TimeValue t) {
    return engine->add_posits({pending(set, "7")}, {{lit("-40%", LiteralKind::Certainty), t, 0, source}}).value();
  };
  auto one = assert_at(t1);
  EXPECT_EQ(assert_at(t1).assertions, one.assertions);
  auto three = assert_at(t2);
  EXPECT_NE(three.assertions, one.assertions);
  EXPECT_EQ(three.posits, one.posits);
  auto role_posits = state.role_posits.lock();
  EXPECT_EQ((*role_posits)->find(kPositRoleId)->cardinality(), 2u);
  EXPECT_EQ((*role_posits)->find(kAscertainsRoleId)->cardinality(), 2u);
}

TEST_F(MemoryEngine, ValidatesAssertionsBeforeInterning) {
  RoleRef r = role("r");
  AppearanceSetRef set = set_of({{r, 1}});
  const Identity last = pool_last();
  auto bad_target = engine->add_posits({pending(set, "1"), pending(set, "2")},
                                       {{lit("0.5", LiteralKind::Decimal), TimeValue::bot(), 0, 1},
                                        {lit("5%", LiteralKind::Certainty), TimeValue::bot(), 3, 1}});
  ASSERT_FALSE(bad_target);
  EXPECT_EQ(bad_target.error().display(), "Internal invariant violated: assertion target index 3 is outside 2 targets");
  auto bad_certainty = engine->add_posits({pending(set, "1")}, {{lit("0.5", LiteralKind::Decimal), TimeValue::bot(), 0, 1}});
  ASSERT_FALSE(bad_certainty);
  EXPECT_EQ(bad_certainty.error().display(), "Execution error: assertion certainty must be a percent literal, found 0.5");
  EXPECT_EQ(pool_last(), last);
  EXPECT_EQ(posit_count(), 0u);
}

TEST_F(MemoryEngine, FilesPostingsPerPosit) {
  RoleRef r = role("r"), q = role("q");
  RoleRef thing = engine->find_role_by_id(kThingRoleId).value().value();
  AppearanceSetRef three = set_of({{r, 100}, {q, 101}, {thing, 102}});
  auto added = engine->add_posits({pending(three, "1", TimeValue::of_year(2000)),
                                   pending(three, "1", TimeValue::of_year(2001))},
                                  {})
                   .value();
  const Identity p1 = added.posits[0]->identity, p2 = added.posits[1]->identity;
  {
    auto by_role = state.role_posits.lock();
    for (Identity role_id : {r->identity, q->identity, kThingRoleId}) {
      EXPECT_EQ((*by_role)->find(role_id)->cardinality(), 2u) << role_id;
    }
    EXPECT_EQ((*by_role)->find(kClassRoleId), nullptr);
  }
  {
    auto by_set = state.appearance_set_posits.lock();
    IdentitySet posits = (*by_set)->find(*three)->to_identity_set();
    EXPECT_EQ(posits.cardinality(), 2u);
    EXPECT_TRUE(posits.contains(p1) && posits.contains(p2));
  }
  EXPECT_EQ((*state.posit_appearance_sets.lock())->find(p2), three);
  EXPECT_EQ((*state.posit_appearance_sets.lock())->keys().cardinality(), 2u);
  EXPECT_TRUE((*state.posit_times.lock())->find(p1)->identical(TimeValue::of_year(2000)));
  EXPECT_FALSE((*state.posit_times.lock())->find(r->identity).has_value());

  auto registry = state.components.lock();
  EXPECT_EQ(posit_by_identity(**registry, p2), added.posits[1]);
  EXPECT_EQ(posit_by_identity(**registry, r->identity), nullptr);
}

TEST_F(MemoryEngine, CollectsPositsWithStopChecks) {
  RoleRef r = role("r");
  AppearanceSetRef set = set_of({{r, 1}});
  auto added = engine->add_posits({pending(set, "1"), pending(set, "2")}, {}).value();
  int checks = 0;
  Budget count_checks([&checks]() -> Result<void> {
    ++checks;
    return {};
  });
  std::vector<PositRef> out;
  ASSERT_TRUE(reads::posits_by_identity(*engine, {}, count_checks, out));
  EXPECT_TRUE(out.empty());
  EXPECT_EQ(checks, 0);
  const std::vector<Identity> ids = {added.posits[0]->identity, added.posits[1]->identity};
  ASSERT_TRUE(reads::posits_by_identity(*engine, ids, count_checks, out));
  EXPECT_EQ(out, (std::vector<PositRef>{added.posits[0], added.posits[1]}));
  EXPECT_EQ(checks, 1);  // a budget asks at its first work, then after kWorkPerCheck units
  Budget cancelling([]() -> Result<void> { return fail(EngineError::cancelled()); });
  auto cancelled = reads::posits_by_identity(*engine, ids, cancelling, out);
  EXPECT_EQ(cancelled.error().kind(), ErrorKind::Cancelled);
  const std::vector<Identity> role_id = {r->identity};
  auto missing = reads::posits_by_identity(*engine, role_id, count_checks, out);
  EXPECT_EQ(missing.error().display(),
            "Internal invariant violated: posit index contains identity 6 without a literal posit");
}

// New Posits are staged in the Posit storage before they are filed: a command that stops after
// staging gives them all back, and one that fails while filing keeps exactly the filed ones.
TEST_F(MemoryEngine, AFailedCommandLeavesNoStagedPosit) {
  RoleRef r = role("r");
  AppearanceSetRef kept = set_of({{r, 1}});
  ASSERT_TRUE(engine->add_posits({pending(kept, "1")}, {}));
  std::vector<PendingPosit> two = {pending(set_of({{r, 2}}), "2"), pending(set_of({{r, 3}}), "3")};
  int asked = 0;  // asked once while interning, then once before filing
  Budget budget([&]() -> Result<void> {
    if (++asked == 2) return fail(EngineError::timed_out());
    return {};
  });
  auto stopped = engine->add_posits(two, {}, &budget);
  ASSERT_FALSE(stopped);
  EXPECT_EQ(state.records.posits.size(), 1u);
  EXPECT_EQ(posit_count(), 1u);

  auto added = engine->add_posits(two, {});
  ASSERT_TRUE(added);
  EXPECT_EQ(state.records.posits.size(), 3u);
  for (size_t i = 0; i < 2; ++i) {
    PositRef p = added->posits[i];
    EXPECT_EQ(p, &state.records.posits[uint32_t(i + 1)]);
    EXPECT_EQ(posit_by_identity(**state.components.lock(), p->identity), p);
    EXPECT_EQ((*state.components.lock())->posit_index().find_by_key(*p, posit_key_hash(*p)), p);
  }

  // Filing one at a time (a poisoned lock on the way) stops at the first Posit's postings.
  state.posit_times.poison_for_testing();
  auto failed = engine->add_posits({pending(set_of({{r, 4}}), "4"), pending(set_of({{r, 5}}), "5")}, {});
  ASSERT_FALSE(failed);
  EXPECT_EQ(posit_count(), 4u);
  EXPECT_EQ(state.records.posits.size(), 4u);
}

TEST_F(MemoryEngine, PoisonedLocksStopTheOperationAndStayPoisoned) {
  RoleRef r = role("r");
  AppearanceSetRef set = set_of({{r, 1}});
  state.posit_times.poison_for_testing();
  auto failed = engine->add_posits({pending(set, "1")}, {});
  ASSERT_FALSE(failed);
  EXPECT_EQ(failed.error().kind(), ErrorKind::LockPoisoned);
  // Filing stopped at the time index: the steps before it stay done.
  EXPECT_EQ(posit_count(), 1u);
  EXPECT_EQ((*state.posit_appearance_sets.lock())->size(), 1u);
  EXPECT_EQ((*state.role_posits.lock())->size(), 0u);
  state.roles.poison_for_testing();
  EXPECT_EQ(engine->find_role_by_name("r").error().kind(), ErrorKind::LockPoisoned);
  EXPECT_EQ(engine->add_roles({{"x", false}}).error().kind(), ErrorKind::LockPoisoned);
}

TEST_F(MemoryEngine, PoolNeverWraps) {
  (*state.identities.lock())->record(UINT64_MAX);  // allowed when recording
  auto drawn = engine->draw_identity();
  ASSERT_FALSE(drawn);
  EXPECT_EQ(drawn.error().display(), "Internal invariant violated: identity pool is exhausted");
  EXPECT_FALSE(engine->add_roles({{"late", false}}));
  EXPECT_FALSE(engine->find_role_by_name("late").value().has_value());
}

TEST(BuiltinRoles, MismatchesAreDataCorruption) {
  {
    EngineState state(nullptr);
    ASSERT_TRUE(register_role(state, "thing", 7, false));
    auto e = ensure_builtin_role(state, 3, "thing");
    EXPECT_EQ(e.error().display(),
              "Data corruption: built-in role 'thing' must be reserved identity 3, found identity 7 (reserved=false)");
  }
  {
    EngineState state(nullptr);
    ASSERT_TRUE(register_role(state, "kind", 4, true));
    auto e = ensure_builtin_role(state, 4, "class");
    EXPECT_EQ(e.error().display(), "Data corruption: built-in role identity 4 belongs to 'kind', expected 'class'");
  }
  {
    EngineState state(nullptr);
    ASSERT_TRUE(ensure_builtin_role(state, 4, "class"));
    ASSERT_TRUE(ensure_builtin_role(state, 4, "class"));
    EXPECT_EQ((*state.identities.lock())->last(), 4u);
  }
}

}  // namespace
}  // namespace brackwater::construct
