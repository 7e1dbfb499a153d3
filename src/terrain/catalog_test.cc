// This executable's monotonic clock, while a test counts its readings, reads one second later at
// each reading: every stop check reads it once, so a deadline is a stop that comes at the check
// of one's choosing. Otherwise it reads the real clock.
#include "terrain/catalog.h"

#include <gtest/gtest.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <deque>

namespace {

constexpr time_t kCountedEpoch = 1'000'000;
long counted_readings = -1;  // readings since counting began; negative: not counting

}  // namespace

extern "C" int clock_gettime(clockid_t clock, struct timespec* ts) noexcept {
  if (clock == CLOCK_MONOTONIC && counted_readings >= 0) {
    ts->tv_sec = kCountedEpoch + counted_readings++;
    ts->tv_nsec = 0;
    return 0;
  }
  return static_cast<int>(::syscall(SYS_clock_gettime, clock, ts));
}

namespace brackwater::terrain {
namespace {

using construct::AppearanceSetRef;

// Two-member sets over Roles 1..n (named "r1".."rn"), one set per pair of Roles: many signatures;
// or, as a chain, one per pair of neighbours: many Roles.
class Pairs {
 public:
  explicit Pairs(uint64_t n, bool chain = false) {
    for (uint64_t id = 1; id <= n; ++id) {
      roles_.push_back(construct::Role{"r" + std::to_string(id), id, false});
      named_.push_back(&roles_.back());
    }
    for (size_t a = 0; a < roles_.size(); ++a) {
      for (size_t b = a + 1; b < (chain ? std::min(a + 2, roles_.size()) : roles_.size()); ++b) {
        std::vector<construct::AppearanceRef> members{member(&roles_[a]), member(&roles_[b])};
        sets_.push_back(construct::AppearanceSet{construct::MemberList(members)});
        refs.push_back(&sets_.back());
      }
    }
  }
  RoleNames names() const { return RoleNames(named_); }
  std::vector<AppearanceSetRef> refs;

 private:
  construct::AppearanceRef member(construct::RoleRef role) {
    return &appearances_.emplace_back(construct::Appearance{role, ++things_});
  }
  std::deque<construct::Role> roles_;
  std::vector<construct::RoleRef> named_;
  std::deque<construct::Appearance> appearances_;
  std::deque<construct::AppearanceSet> sets_;
  construct::Identity things_ = 1000;
};

TerrainBudget budget_of(TerrainLimits limits = {}) { return limits.validate().value(); }

TEST(RelationshipCatalog, JoinsSignaturesFoundInEitherFrameAlone) {
  Pairs pairs(3);  // signatures 1-2, 1-3, 2-3
  const std::vector<uint32_t> history{2, 1, 0};
  const std::vector<uint32_t> current{0, 1, 1};  // 2-3 is only current, 1-2 only history
  const TerrainBudget budget = budget_of();
  auto h = collect_frame_stats(pairs.refs, history, budget);
  auto c = collect_frame_stats(pairs.refs, current, budget);
  ASSERT_TRUE(h && c);
  auto catalog = build_relationship_catalog(**h, **c, pairs.names(), 16, budget);
  ASSERT_TRUE(catalog) << catalog.error().display();
  std::vector<std::string> ids;
  for (const SignatureEntry& entry : catalog->signatures) ids.push_back(entry.id);
  // Current count 1 each (1-3, 2-3: history 1 against 0), then history alone (1-2).
  EXPECT_EQ(ids, (std::vector<std::string>{"terrain-v1-signature-1-3", "terrain-v1-signature-2-3",
                                           "terrain-v1-signature-1-2"}));
  EXPECT_EQ(catalog->total_signatures, 3u);
}

TEST(RelationshipCatalog, ChecksForAStopAsItJoinsAndOrders) {
  Pairs pairs(60);  // 1,770 signatures: the checks at steps 0 and 1024 of the join
  const std::vector<uint32_t> posits(pairs.refs.size(), 1);
  auto h = collect_frame_stats(pairs.refs, posits, budget_of());
  auto c = collect_frame_stats(pairs.refs, posits, budget_of());
  ASSERT_TRUE(h && c);
  auto catalog = build_relationship_catalog(**h, **c, pairs.names(), 128, budget_of());
  ASSERT_TRUE(catalog);
  EXPECT_EQ(catalog->total_signatures, 1770u);
  EXPECT_EQ(catalog->signatures.front().id, "terrain-v1-signature-1-10");  // "r10" is the first name

  TerrainLimits cancelled;
  cancelled.cancel = construct::make_cancel_flag();
  cancelled.cancel->store(true);
  EXPECT_EQ(build_relationship_catalog(**h, **c, pairs.names(), 128, budget_of(cancelled)).error().kind(),
            construct::ErrorKind::Cancelled);
  TerrainBudget passed = budget_of();
  passed.deadline = construct::Deadline(construct::monotonic_now());
  EXPECT_EQ(build_relationship_catalog(**h, **c, pairs.names(), 128, passed).error().kind(),
            construct::ErrorKind::TimedOut);
}

// The stop checks of a pass of `steps` steps: at its steps 0, 1024, 2048, ...
uint64_t pass_checks(uint64_t steps) { return (steps + 1023) / 1024; }

// Those of sorting n items: one a run of 1024 items, then one every 1024 steps of the merges.
uint64_t sort_checks(uint64_t n) {
  const uint64_t runs = pass_checks(n);
  uint64_t levels = 0;
  for (uint64_t width = 1; width < runs; width *= 2) ++levels;
  return runs + pass_checks(levels * n);
}

// A stop that comes at any one of the catalog's checks ends it there: in the two joins, the name
// ranking's runs and merges, the mapping of every signature's Roles to their ranks, and the pick.
TEST(RelationshipCatalog, AStopAtAnyCheckEndsItThere) {
  Pairs chain(1500, true);  // 1,499 signatures of 1,500 Roles
  const uint64_t signatures = chain.refs.size();
  const std::vector<uint32_t> posits(signatures, 1);
  auto h = collect_frame_stats(chain.refs, posits, budget_of());
  auto c = collect_frame_stats(chain.refs, posits, budget_of());
  ASSERT_TRUE(h && c);
  const uint64_t checks = 2 * pass_checks(signatures) + sort_checks(1500) + pass_checks(2 * signatures) +
                          pass_checks(signatures);
  for (uint64_t n = 1; n <= checks + 1; ++n) {
    TerrainBudget budget = budget_of();
    budget.deadline = construct::Deadline(construct::MonoInstant{kCountedEpoch + static_cast<time_t>(n) - 1, 0});
    counted_readings = 0;
    auto catalog = build_relationship_catalog(**h, **c, chain.names(), 128, budget);
    const long readings = counted_readings;
    counted_readings = -1;
    if (n <= checks) {
      ASSERT_FALSE(catalog) << n;
      EXPECT_EQ(catalog.error().kind(), construct::ErrorKind::TimedOut) << n;
      EXPECT_EQ(readings, static_cast<long>(n));
    } else {
      ASSERT_TRUE(catalog) << catalog.error().display();
      EXPECT_EQ(catalog->total_signatures, signatures);
      EXPECT_EQ(readings, static_cast<long>(checks));
    }
  }
}

}  // namespace
}  // namespace brackwater::terrain
