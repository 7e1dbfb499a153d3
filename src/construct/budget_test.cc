// The statement budget at its edges, and how the growable containers charge it.
#include "construct/budget.h"

#include <gtest/gtest.h>

#include "construct/flat_table.h"
#include "construct/large_array.h"

namespace brackwater::construct {
namespace {

TEST(Budget, HoldsUpToItsMaximumAndRefusesTheByteBeyond) {
  EXPECT_EQ(kStatementBytes, 1610612736u);
  Budget budget({}, 1000);
  Charge a(&budget), b(&budget);
  ASSERT_TRUE(a.hold(600));
  ASSERT_TRUE(b.hold(400));
  auto refused = b.add(1);
  ASSERT_FALSE(refused);
  EXPECT_EQ(refused.error().display(), "Resource limit exceeded for search memory: maximum 1000");
  EXPECT_EQ(b.bytes(), 400u);  // a refused charge changes nothing
  EXPECT_FALSE(b.add(UINT64_MAX));
  ASSERT_TRUE(a.hold(100));  // giving back makes room
  ASSERT_TRUE(b.add(500));
  {
    Charge moved = std::move(a);
    EXPECT_EQ(moved.bytes(), 100u);
    EXPECT_EQ(a.bytes(), 0u);
  }
  EXPECT_EQ(budget.held(), 900u);  // the moved charge gave its bytes back when it went
  b.release();
  EXPECT_EQ(budget.held(), 0u);
  Charge none;  // without a budget nothing is held and nothing fails
  EXPECT_TRUE(none.hold(UINT64_MAX));
}

TEST(Budget, AsksItsStopConditionAtTheFirstWorkThenAfterEveryKWorkPerCheckUnits) {
  int asked = 0;
  Budget budget([&]() -> Result<void> {
    ++asked;
    return {};
  });
  ASSERT_TRUE(budget.work(1));
  EXPECT_EQ(asked, 1);
  for (uint64_t i = 1; i < kWorkPerCheck; ++i) ASSERT_TRUE(budget.work(1));
  EXPECT_EQ(asked, 1);
  ASSERT_TRUE(budget.work(1));
  EXPECT_EQ(asked, 2);
  ASSERT_TRUE(budget.work(kWorkPerCheck));  // one wide step counts as all its units
  EXPECT_EQ(asked, 3);
  Budget stopping([]() -> Result<void> { return fail(EngineError::timed_out()); });
  EXPECT_EQ(stopping.work(1).error().kind(), ErrorKind::TimedOut);
  EXPECT_TRUE(Budget().work(4 * kWorkPerCheck));  // without a stop condition work never stops
}

TEST(Budget, ALargeArrayChargesBeforeItGrowsAndIsUnchangedWhenRefused) {
  Budget budget({}, 1 << 20);
  {
    LargeArray<uint64_t> array(&budget);
    for (uint64_t v = 0; v < 1000; ++v) ASSERT_TRUE(array.push_back(v));
    EXPECT_EQ(budget.held(), array.capacity() * sizeof(uint64_t));  // a heap block whole
    auto refused = array.resize(200'000);
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error().display(), "Resource limit exceeded for search memory: maximum 1048576");
    EXPECT_EQ(array.size(), 1000u);
    EXPECT_EQ(array[999], 999u);
    // reserve charges every element it makes room for: the whole budget fits, one element more not.
    ASSERT_TRUE(array.reserve(size_t{1} << 17));
    EXPECT_EQ(budget.held(), uint64_t{1} << 20);
    ASSERT_TRUE(array.resize(size_t{1} << 17));
    EXPECT_FALSE(array.push_back(1));
    EXPECT_EQ(array.size(), size_t{1} << 17);
  }
  EXPECT_EQ(budget.held(), 0u);  // given back when the array went

  // A mapped block is charged by the pages its elements reach, a little ahead of them.
  Budget large({}, uint64_t{1} << 30);
  LargeArray<uint64_t> mapped(&large);
  const size_t four_m = size_t{4} << 20;
  ASSERT_TRUE(mapped.resize(four_m));
  EXPECT_EQ(large.held(), four_m * sizeof(uint64_t));
  ASSERT_TRUE(mapped.push_back(1));
  EXPECT_EQ(mapped.capacity(), 2 * four_m);
  EXPECT_GT(large.held(), four_m * sizeof(uint64_t));
  EXPECT_LE(large.held(), (four_m + four_m / 8 + 1) * sizeof(uint64_t) + 4096);  // not the whole 64 MiB
  mapped.detach();
  EXPECT_EQ(large.held(), 0u);
  ASSERT_TRUE(mapped.push_back(2));  // detached, it charges nothing
  EXPECT_EQ(large.held(), 0u);
  ASSERT_TRUE(mapped.attach(&large));
  EXPECT_GE(large.held(), (four_m + 2) * sizeof(uint64_t));
}

TEST(Budget, AFlatTableGrowsUnderItsChargeAndStaysAsItWasWhenRefusedOrStopped) {
  auto hash = [](uint64_t v) { return v * 0x9E3779B97F4A7C15ULL; };
  Budget budget({}, 4096);
  Charge charge(&budget);
  FlatTable<uint32_t> table;
  uint32_t n = 0;
  for (;; ++n) {
    auto r = table.insert_new(hash(n), n, charge);
    if (!r) {
      EXPECT_EQ(r.error().display(), "Resource limit exceeded for search memory: maximum 4096");
      break;
    }
    ASSERT_EQ(charge.bytes(), table.memory_bytes());
  }
  EXPECT_EQ(table.size(), n);
  for (uint32_t v = 0; v < n; ++v) ASSERT_NE(table.find(hash(v), [v](uint32_t e) { return e == v; }), nullptr);

  // A growth counts the entries it moves: stopped on the way, the table is as it was.
  bool stop = false;
  Budget stopping([&stop]() -> Result<void> {
    if (stop) return fail(EngineError::timed_out());
    return {};
  });
  Charge big_charge(&stopping);
  FlatTable<uint32_t> big;
  const uint32_t full = (1u << 17) * 7 / 8;  // a table of 2^17 slots is full
  for (uint32_t v = 0; v < full; ++v) ASSERT_TRUE(big.insert_new(hash(v), v, big_charge));
  const size_t bytes = big.memory_bytes();
  stop = true;
  EXPECT_EQ(big.insert_new(hash(full), full, big_charge).error().kind(), ErrorKind::TimedOut);
  EXPECT_EQ(big.size(), full);
  EXPECT_EQ(big.memory_bytes(), bytes);
  EXPECT_EQ(big_charge.bytes(), bytes);
}

}  // namespace
}  // namespace brackwater::construct
