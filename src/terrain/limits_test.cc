#include "terrain/limits.h"

#include <gtest/gtest.h>

#include "construct/database_lock.h"

namespace brackwater::terrain {
namespace {

std::string validation(const TerrainLimits& limits) {
  auto budget = limits.validate();
  return budget ? "ok" : budget.error().display();
}

TEST(TerrainLimits, ValidatesInOrderAndBeforeTheTimeout) {
  TerrainLimits at_maxima;
  at_maxima.max_relationship_signatures = kMaxRelationshipSignatures;
  EXPECT_EQ(validation(at_maxima), "ok");
  EXPECT_EQ(validation(TerrainLimits{0, 0, 0, 0, 0, 0, 0, 0, {}, {}, {}}), "ok");

  const std::pair<uint64_t TerrainLimits::*, std::string> one_over[] = {
      {&TerrainLimits::posits_scanned, "posits scanned: maximum 1000000"},
      {&TerrainLimits::active_appearance_sets, "active appearance sets: maximum 250000"},
      {&TerrainLimits::endpoint_things, "endpoint Things: maximum 1000000"},
      {&TerrainLimits::temporal_comparisons, "temporal comparisons: maximum 5000000"},
      {&TerrainLimits::relationship_arity, "relationship arity: maximum 256"},
      {&TerrainLimits::allocations, "allocations: maximum 4096"},
      {&TerrainLimits::projected_role_limit, "projected attribute Roles: maximum 8"},
      {&TerrainLimits::max_relationship_signatures, "relationship signatures: maximum 128"},
  };
  for (const auto& [field, message] : one_over) {
    TerrainLimits limits = at_maxima;
    limits.*field += 1;
    EXPECT_EQ(validation(limits), "Resource limit exceeded for " + message);
  }

  TerrainLimits two_over;
  two_over.posits_scanned = 2'000'000;
  two_over.allocations = 5'000;
  two_over.timeout = construct::Duration{UINT64_MAX, 0};
  EXPECT_EQ(validation(two_over), "Resource limit exceeded for posits scanned: maximum 1000000");
  two_over.posits_scanned = 0;
  two_over.allocations = 0;
  EXPECT_EQ(validation(two_over), "Execution error: Terrain timeout is too large");
}

// Counting comparisons against the budget: terrain_test (BudgetsPassAtTheirValueAndFailOneBeyond).
TEST(TerrainBudget, StopChecksRunAtEvery1024thStep) {
  TerrainLimits limits;
  limits.cancel = construct::make_cancel_flag();
  auto budget = limits.validate();
  ASSERT_TRUE(budget);
  EXPECT_TRUE(budget->check_stop());  // a clear flag and no deadline
  limits.cancel->store(true);
  for (uint64_t step : {1, 1023, 1025}) EXPECT_TRUE(budget->check_stop_periodic(step)) << step;
  EXPECT_EQ(budget->check_stop_periodic(0).error().kind(), construct::ErrorKind::Cancelled);
  EXPECT_EQ(budget->check_stop_periodic(1024).error().kind(), construct::ErrorKind::Cancelled);
  limits.cancel->store(false);

  budget->deadline = construct::Deadline(construct::monotonic_now());  // reached at once
  EXPECT_EQ(budget->check_stop().error().kind(), construct::ErrorKind::TimedOut);
}

// A poisoned lock, and its release: execute_test (PoisonedEngineLock).
TEST(LockDatabaseCancellable, TriesFirstThenCancelThenDeadline) {
  construct::PoisonMutex<construct::Unit> lock;
  std::atomic<bool> cancelled{true};
  const std::optional<construct::Deadline> passed = construct::Deadline(construct::MonoInstant{0, 0});
  {
    auto free = construct::lock_database_cancellable(lock, cancelled, passed);
    ASSERT_TRUE(free);  // a free lock is taken even with the flag set and the deadline passed
    EXPECT_EQ(construct::lock_database_cancellable(lock, cancelled, passed).error().kind(),
              construct::ErrorKind::Cancelled);
    cancelled = false;
    EXPECT_EQ(construct::lock_database_cancellable(lock, cancelled, passed).error().kind(),
              construct::ErrorKind::TimedOut);
  }
}

}  // namespace
}  // namespace brackwater::terrain
