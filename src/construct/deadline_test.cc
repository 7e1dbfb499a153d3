#include "construct/deadline.h"

#include <gtest/gtest.h>

#include <limits>

namespace brackwater::construct {
namespace {

constexpr int64_t kI64Max = std::numeric_limits<int64_t>::max();

TEST(Deadline, CheckedAddCarriesNanosecondsAndRefusesOverflow) {
  EXPECT_EQ(checked_add(MonoInstant{10, 600'000'000}, Duration{1, 500'000'000}), (MonoInstant{12, 100'000'000}));
  EXPECT_EQ(checked_add(MonoInstant{10, 999'999'999}, Duration{0, 1}), (MonoInstant{11, 0}));
  // Far beyond what steady_clock nanoseconds could hold, but still representable.
  EXPECT_EQ(checked_add(MonoInstant{100, 0}, Duration{9'000'000'000'000'000'000ULL, 0}),
            (MonoInstant{9'000'000'000'000'000'100LL, 0}));
  EXPECT_FALSE(checked_add(MonoInstant{1, 0}, Duration{static_cast<uint64_t>(kI64Max), 0}));
  EXPECT_FALSE(checked_add(MonoInstant{0, 0}, Duration{static_cast<uint64_t>(kI64Max) + 1, 0}));
  EXPECT_FALSE(checked_add(MonoInstant{0, 500'000'000}, Duration{static_cast<uint64_t>(kI64Max), 500'000'000}));
  EXPECT_TRUE(checked_add(MonoInstant{0, 499'999'999}, Duration{static_cast<uint64_t>(kI64Max), 500'000'000}));
}

TEST(Deadline, ReachedComparesSecondsThenNanoseconds) {
  Deadline d(MonoInstant{5, 100});
  EXPECT_FALSE(d.reached_at(MonoInstant{4, 999'999'999}));
  EXPECT_FALSE(d.reached_at(MonoInstant{5, 99}));
  EXPECT_TRUE(d.reached_at(MonoInstant{5, 100}));  // equal counts as reached
  EXPECT_TRUE(d.reached_at(MonoInstant{6, 0}));
}

TEST(Deadline, ZeroTimeoutIsReachedAtOnce) {
  auto d = Deadline::after(Duration{0, 0});
  ASSERT_TRUE(d);
  EXPECT_TRUE(d->reached());
  auto far = Deadline::after(Duration{1'000'000, 0});
  ASSERT_TRUE(far);
  EXPECT_FALSE(far->reached());
}

}  // namespace
}  // namespace brackwater::construct
