#include "terrain/catalog.h"

#include <gtest/gtest.h>

#include <deque>

namespace brackwater::terrain {
namespace {

using construct::AppearanceSetRef;

// Two-member sets over Roles 1..n (all named "r"), one set per pair of Roles: many signatures.
class Pairs {
 public:
  explicit Pairs(uint64_t n) {
    for (uint64_t id = 1; id <= n; ++id) {
      roles_.push_back(construct::Role{"r" + std::to_string(id), id, false});
      named_.push_back(&roles_.back());
    }
    for (size_t a = 0; a < roles_.size(); ++a) {
      for (size_t b = a + 1; b < roles_.size(); ++b) {
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

}  // namespace
}  // namespace brackwater::terrain
