#include "terrain/ordering.h"

#include <gtest/gtest.h>

#include <random>

namespace brackwater::terrain {
namespace {

TerrainBudget unlimited() { return TerrainLimits{}.validate().value(); }

TerrainBudget cancelled() {
  TerrainLimits limits;
  limits.cancel = construct::make_cancel_flag();
  limits.cancel->store(true);
  return limits.validate().value();
}

TEST(Ordering, KeepFirstGivesTheFrontOfAFullSort) {
  std::mt19937 rng(7);
  const TerrainBudget budget = unlimited();
  for (const size_t n : {0, 1, 5, 1023, 1024, 1025, 5000}) {
    std::vector<uint64_t> items(n);
    for (uint64_t& v : items) v = rng() % 300;  // many repeats
    std::vector<uint64_t> sorted = items;
    std::sort(sorted.begin(), sorted.end());
    for (const size_t k : {size_t{0}, size_t{1}, size_t{16}, size_t{128}, n, n + 3}) {
      std::vector<uint64_t> kept = items;
      ASSERT_TRUE(keep_first(kept, k, std::less<>(), budget));
      EXPECT_EQ(kept, std::vector<uint64_t>(sorted.begin(), sorted.begin() + std::min(k, n))) << n << " " << k;
    }
  }
}

TEST(Ordering, SortCheckedSortsWithinAndAcrossItsRuns) {
  std::mt19937 rng(11);
  const TerrainBudget budget = unlimited();
  for (const size_t n : {0, 1, 1023, 1024, 1025, 2048, 4097, 10000}) {
    std::vector<uint64_t> items(n);
    for (uint64_t& v : items) v = rng() % 5000;
    std::vector<uint64_t> expected = items;
    std::sort(expected.begin(), expected.end(), std::greater<>());
    // A span inside a longer list: the items around it stay where they are.
    items.insert(items.begin(), 7);
    items.push_back(9);
    ASSERT_TRUE(sort_checked(std::span(items).subspan(1, n), std::greater<>(), budget));
    EXPECT_EQ(items.front(), 7u);
    EXPECT_EQ(items.back(), 9u);
    EXPECT_EQ(std::vector<uint64_t>(items.begin() + 1, items.end() - 1), expected) << n;
  }
}

TEST(Ordering, AStopIsSeenAtTheFirstItemAndNotOnAnEmptyList) {
  const TerrainBudget budget = cancelled();
  std::vector<int> none;
  EXPECT_TRUE(keep_first(none, 4, std::less<>(), budget));
  EXPECT_TRUE(sort_checked(std::span(none), std::less<>(), budget));
  std::vector<int> some{3, 1, 2};
  EXPECT_EQ(keep_first(some, 2, std::less<>(), budget).error().kind(), construct::ErrorKind::Cancelled);
  EXPECT_EQ(sort_checked(std::span(some), std::less<>(), budget).error().kind(), construct::ErrorKind::Cancelled);
}

// A stop that comes part-way (the m-th comparison sets the cancel flag) is seen at the next check,
// in keep_first and in sort_checked's runs and merges alike: what is compared after it is at most
// the work of 1024 items, a small part of the whole.
TEST(Ordering, AStopThatComesPartWayEndsTheWorkAtTheNextCheck) {
  std::mt19937 rng(5);
  std::vector<uint64_t> input(100'000);
  for (uint64_t& v : input) v = rng();
  constexpr uint64_t kAfterStop = 32768;  // a run of 1024 sorted, or 1024 items kept or merged
  for (const bool sorting : {false, true}) {
    auto run = [&](uint64_t stop_at, uint64_t& compared) {
      TerrainLimits limits;
      limits.cancel = construct::make_cancel_flag();
      const TerrainBudget budget = limits.validate().value();
      auto less = [&](uint64_t a, uint64_t b) {
        if (++compared == stop_at) budget.cancel->store(true);
        return a < b;
      };
      std::vector<uint64_t> items = input;
      return sorting ? sort_checked(std::span(items), less, budget) : keep_first(items, 128, less, budget);
    };
    uint64_t full = 0;
    ASSERT_TRUE(run(0, full));
    // Sorting, the merges take the last third or so of the comparisons.
    for (const uint64_t stop_at : {uint64_t{1}, full / 3, full / 2, 2 * full / 3, 3 * full / 4, 9 * full / 10}) {
      uint64_t compared = 0;
      auto stopped = run(stop_at, compared);
      ASSERT_FALSE(stopped) << sorting << " " << stop_at << " of " << full;
      EXPECT_EQ(stopped.error().kind(), construct::ErrorKind::Cancelled);
      EXPECT_LE(compared - stop_at, kAfterStop) << sorting << " " << stop_at << " of " << full;
    }
  }
}

}  // namespace
}  // namespace brackwater::terrain
