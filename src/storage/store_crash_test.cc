// Power loss at every point of creation, genesis and twenty appends: every way the unsynced state can
// survive must reopen to a prefix of the attempted batches that holds every acknowledged one. Every
// call is a crash point, so the points include the manifest staging steps that run while the log's
// flush is in flight (their order is pinned in store_order_test), and the wait for it.
#include <gtest/gtest.h>

#include "storage/interpose_fs_test_util.h"
#include "storage/mem_fs_test_util.h"
#include "storage/store.h"
#include "storage/store_test_util.h"

namespace brackwater::storage {
namespace {

using testing::FaultKind;
using testing::InterposeFs;
using testing::MemFs;

constexpr int kAppends = 20;

// Batch 1 is genesis; batch i > 1 adds Role 4 + i and one Posit over it.
std::vector<PendingRecord> batch(int i, testing::PositFactory& posits) {
  if (i == 1) return testing::genesis_records();
  const Identity role = 4 + static_cast<Identity>(i);
  return {testing::role_record(role, "r" + std::to_string(i)),
          posits.make(100 + i, {{role, 1000 + i}}, std::to_string(i * 7), literal::LiteralKind::Integer,
                      literal::TimeValue::of_year(2000 + i))};
}

struct Outcome {
  int acknowledged = 0;  // batches whose append returned success
  bool in_flight = false, crashed = false;
};

// Runs the workload until the file system crashes at call `crash_at`.
Outcome run_until_crash(const std::shared_ptr<MemFs>& mem, uint64_t crash_at) {
  auto fs = std::make_shared<InterposeFs>(mem, testing::FaultPlan{crash_at, FaultKind::Crash});
  Outcome out;
  testing::PositFactory posits;
  auto opened = Store::open("data/db", fs);
  if (opened) {
    for (int i = 1; i <= kAppends + 1; ++i) {
      if (!opened->first->append_batch(batch(i, posits))) {
        out.in_flight = true;
        break;
      }
      ++out.acknowledged;
    }
  }
  out.crashed = fs->crashed();
  return out;
}

// Checks that the replayed log is exactly the first `n` batches.
int replayed_batches(const ReplayedLog& log) {
  const int n = static_cast<int>(log.batch_count);
  EXPECT_EQ(log.roles.size(), n == 0 ? 0u : 4u + n);
  EXPECT_EQ(log.posits.size(), n <= 1 ? 0u : n - 1u);
  for (size_t p = 0; p < log.posits.size(); ++p) {
    const int i = static_cast<int>(p) + 2;
    EXPECT_EQ(log.posits[p].identity, 100u + i);
    EXPECT_EQ(log.posits[p].value.text, std::to_string(i * 7));
    EXPECT_TRUE(log.posits[p].time.identical(literal::TimeValue::of_year(2000 + i)));
  }
  return n;
}

TEST(StoreCrash, EveryCrashPointAndVariantReopensToAnAcknowledgedPrefix) {
  size_t points = 0, reopened = 0;
  for (uint64_t crash_at = 0;; ++crash_at) {
    auto mem = std::make_shared<MemFs>();
    const Outcome outcome = run_until_crash(mem, crash_at);
    if (!outcome.crashed) {
      EXPECT_EQ(outcome.acknowledged, kAppends + 1);
      break;
    }
    ++points;
    for (const auto& variant : testing::crash_variants()) {
      SCOPED_TRACE("crash at call " + std::to_string(crash_at) + ", " + variant.name);
      auto after = mem->after_crash(variant);
      int n = 0;
      {
        auto opened = Store::open("data/db", after);
        ASSERT_TRUE(opened) << opened.error().display();
        n = replayed_batches(opened->second);
        EXPECT_GE(n, outcome.acknowledged);
        EXPECT_LE(n, outcome.acknowledged + (outcome.in_flight ? 1 : 0));
        // The reopened store keeps working: the next batch continues the sequence.
        testing::PositFactory posits;
        ASSERT_TRUE(opened->first->append_batch(batch(n + 1, posits)));
      }
      auto again = Store::open("data/db", after);
      ASSERT_TRUE(again) << again.error().display();
      EXPECT_EQ(replayed_batches(again->second), n + 1);
      ++reopened;
    }
  }
  EXPECT_GT(points, 150u);
  RecordProperty("crash_points", static_cast<int>(points));
  RecordProperty("reopened_variants", static_cast<int>(reopened));
}

}  // namespace
}  // namespace brackwater::storage
