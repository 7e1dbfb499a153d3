#include "construct/component_access.h"

#include <gtest/gtest.h>

#include "construct/engine.h"
#include "construct/engine_ops.h"

namespace brackwater::construct {
namespace {

TEST(HeldLocks, HoldsEveryComponentOrReleasesAllOnAPoisonedOne) {
  auto engine = Engine::open(std::nullopt).value();
  EngineState& state = engine->state();
  RoleRef r = engine->add_roles({{"r", false}}).value()[0].role;
  {
    auto held = HeldLocks::take(state);
    ASSERT_TRUE(held);
    // The steps run through the held locks.
    auto appearance = intern_appearance(*held, state, r, 50);
    ASSERT_TRUE(appearance);
    auto set = intern_appearance_set(*held, state, {appearance->first});
    ASSERT_TRUE(set);
    EXPECT_FALSE(set->second);
    auto catalog = (*held)(state.appearance_sets);
    ASSERT_TRUE(catalog);
    EXPECT_EQ((*catalog)->size(), 1u);
  }
  // Released at the end of the scope.
  EXPECT_EQ((*state.appearance_memberships.lock())->size(), 1u);
  state.posit_times.poison_for_testing();
  auto refused = HeldLocks::take(state);
  ASSERT_FALSE(refused);
  EXPECT_EQ(refused.error().kind(), ErrorKind::LockPoisoned);
  EXPECT_TRUE(state.identities.lock());  // nothing stays held
  EXPECT_TRUE(state.role_posits.lock());
}

TEST(HeldOnUse, KeepsWhatItTookUntilReleaseAndReportsAPoisonedOneAtItsStep) {
  auto engine = Engine::open(std::nullopt).value();
  EngineState& state = engine->state();
  RoleRef r = engine->add_roles({{"r", false}}).value()[0].role;
  HeldOnUse access;
  auto appearance = intern_appearance(access, state, r, 50);
  ASSERT_TRUE(appearance);
  EXPECT_FALSE(state.appearances.try_lock());  // kept
  EXPECT_TRUE(state.appearance_sets.try_lock());  // not used yet
  state.appearance_memberships.poison_for_testing();
  // The set is catalogued, then its membership step fails, as with a lock per step.
  auto set = intern_appearance_set(access, state, {appearance->first});
  ASSERT_FALSE(set);
  EXPECT_EQ(set.error().kind(), ErrorKind::LockPoisoned);
  access.release();
  EXPECT_TRUE(state.appearances.try_lock());
  EXPECT_EQ((*state.appearance_sets.lock())->size(), 1u);
}

}  // namespace
}  // namespace brackwater::construct
