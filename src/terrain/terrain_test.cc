#include "terrain/terrain.h"

#include <gtest/gtest.h>

#include <deque>

namespace brackwater::terrain {
namespace {

using construct::Identity;
using literal::TimeValue;

const TimeValue kEot = TimeValue::eot();
TimeValue year(int32_t y) { return TimeValue::of_year(y); }
TimeValue date(int32_t y, uint8_t m, uint8_t d) { return TimeValue::of_date(y, m, d); }

// Hand-built records and snapshot entries (posit identities from 1000 up).
class World {
 public:
  // Roles must be declared in ascending identity.
  construct::RoleRef role(Identity id, std::string name) {
    roles_.push_back(construct::Role{std::move(name), id, false});
    named_.push_back(&roles_.back());
    return &roles_.back();
  }
  // Members in ascending Role identity.
  construct::AppearanceSetRef set(std::vector<std::pair<construct::RoleRef, Identity>> members) {
    std::vector<construct::AppearanceRef> refs;
    for (auto [role, thing] : members) refs.push_back(&appearances_.emplace_back(construct::Appearance{role, thing}));
    return &sets_.emplace_back(construct::AppearanceSet{construct::MemberList(refs)});
  }
  void posit(construct::AppearanceSetRef set, TimeValue time) { entries_.push_back({time, set, 1000 + entries_.size()}); }

  Result<Terrain> build(TimeValue as_of, TerrainLimits limits = {}) {
    auto budget = limits.validate();
    if (!budget) return fail(budget.error());
    TerrainSnapshot snapshot{entries_, {}, RoleNames(named_)};
    return build_terrain(std::move(snapshot), as_of, limits.projected_role_limit, limits.max_relationship_signatures,
                         *budget);
  }
  std::string outcome(TimeValue as_of, TerrainLimits limits = {}) {
    auto t = build(as_of, limits);
    return t ? "ok" : t.error().display();
  }

 private:
  std::deque<construct::Role> roles_;
  std::vector<construct::RoleRef> named_;
  std::deque<construct::Appearance> appearances_;
  std::deque<construct::AppearanceSet> sets_;
  std::vector<SnapshotEntry> entries_;
};

TEST(Terrain, CurrentFrameKeepsTheLatestCandidatesAtTimeSpanBoundaries) {
  const struct {
    std::vector<TimeValue> times;
    TimeValue as_of;
    uint64_t current;
  } cases[] = {
      {{year(2023), year(2024), year(2025)}, date(2024, 6, 1), 1},  // 2024 contains as_of: no candidate
      {{date(2024, 6, 1), date(2024, 6, 1)}, date(2024, 6, 1), 2},  // identical to as_of, tied
      {{year(2023), date(2023, 6, 1)}, kEot, 2},                     // overlapping candidates
      {{year(2020), year(2021), year(2022)}, kEot, 1},
      {{TimeValue::bot(), year(2020)}, year(2021), 1},               // BOT is passed by any other
      {{TimeValue::bot(), year(2020)}, TimeValue::bot(), 1},
      {{year(2021)}, date(2021, 1, 1), 0},
  };
  for (const auto& c : cases) {
    World w;
    auto set = w.set({{w.role(10, "r"), 1}});
    for (const TimeValue& t : c.times) w.posit(set, t);
    auto terrain = w.build(c.as_of);
    ASSERT_TRUE(terrain) << terrain.error().display();
    EXPECT_EQ(terrain->current.stats.posits, c.current) << c.as_of.display();
    EXPECT_EQ(terrain->history.stats.posits, c.times.size());
  }
}

TEST(Terrain, BudgetsPassAtTheirValueAndFailOneBeyond) {
  World w;
  auto r = w.role(10, "r");
  auto s = w.role(11, "s");
  auto pair = w.set({{r, 1}, {s, 2}});
  w.posit(pair, year(2020));
  w.posit(pair, year(2021));  // 2 candidate tests + 2 pairwise tests
  w.posit(w.set({{r, 3}}), year(2020));  // 1 more candidate test
  TerrainLimits limits;
  limits.projected_role_limit = 0;  // one allocation per relationship Role and frame: 4 in all
  const struct {
    uint64_t TerrainLimits::*field;
    uint64_t passes;
    std::string fails;
  } cases[] = {
      {&TerrainLimits::temporal_comparisons, 5, "temporal comparisons: maximum 4"},
      {&TerrainLimits::active_appearance_sets, 2, "active appearance sets: maximum 1"},
      {&TerrainLimits::endpoint_things, 3, "endpoint Things: maximum 2"},
      {&TerrainLimits::relationship_arity, 2, "relationship arity: maximum 1"},
      {&TerrainLimits::allocations, 4, "allocations: maximum 3"},
  };
  for (const auto& c : cases) {
    TerrainLimits edge = limits;
    edge.*c.field = c.passes;
    EXPECT_EQ(w.outcome(kEot, edge), "ok") << c.fails;
    edge.*c.field = c.passes - 1;
    EXPECT_EQ(w.outcome(kEot, edge), "Resource limit exceeded for " + c.fails);
  }
  limits.relationship_arity = 0;  // one member still passes, two fail with the budget's own value
  EXPECT_EQ(w.outcome(kEot, limits), "Resource limit exceeded for relationship arity: maximum 0");
}

TEST(Terrain, FrameChecksFollowAppearanceSetOrderWhicheverPositComesFirst) {
  World w;
  auto a = w.role(10, "a");
  w.posit(w.set({{w.role(11, "b"), 3}, {w.role(12, "c"), 4}}), year(2020));  // too many members, but sorts last
  w.posit(w.set({{a, 1}}), year(2020));
  w.posit(w.set({{a, 2}}), year(2020));  // the second endpoint Thing
  TerrainLimits limits;
  limits.relationship_arity = 1;
  limits.endpoint_things = 1;
  EXPECT_EQ(w.outcome(kEot, limits), "Resource limit exceeded for endpoint Things: maximum 1");
}

TEST(Terrain, ProjectionOrdersBySupportsThenNameBytesThenIdentity) {
  World w;
  auto a = w.role(20, "a");
  auto b = w.role(21, "B");
  auto upper_a = w.role(22, "A");  // ties with B: the name decides, not the identity
  auto old = w.role(23, "0ld");
  auto pair = w.role(24, "p");
  for (Identity thing : {1, 2, 3}) w.posit(w.set({{a, thing}}), year(2020));  // a: 3
  for (Identity thing : {2, 3}) w.posit(w.set({{upper_a, thing}}), year(2020));
  for (Identity thing : {1, 2}) w.posit(w.set({{b, thing}}), year(2020));
  for (Identity thing : {1, 2, 3, 4}) w.posit(w.set({{old, thing}}), year(2030));  // history only
  w.posit(w.set({{a, 5}, {pair, 6}}), year(2020));  // Role a in a relationship gives Thing 5 no bit
  TerrainLimits limits;
  limits.projected_role_limit = 3;
  auto t = w.build(year(2025), limits);
  ASSERT_TRUE(t) << t.error().display();
  std::vector<std::string> order;
  for (const ProjectedRole& r : t->projection.roles) order.push_back(r.name + "/" + std::to_string(r.bit));
  EXPECT_EQ(order, (std::vector<std::string>{"a/0", "A/1", "B/2"}));
  EXPECT_EQ(t->projection.total_attribute_roles, 4u);
  EXPECT_FALSE(t->projection.complete);

  // Masks: Thing 1 = a|B (5), 2 = a|A|B (7), 3 = a|A (3), 5 and 6 = 0.
  std::vector<std::string> profiles;
  for (const Profile& p : t->current.profiles) profiles.push_back(p.id + ":" + std::to_string(p.things));
  EXPECT_EQ(profiles, (std::vector<std::string>{"terrain-v1-profile-000:2", "terrain-v1-profile-003:1",
                                                "terrain-v1-profile-005:1", "terrain-v1-profile-007:1"}));
  std::vector<std::string> isopleths;  // fewer bits, then greater support, then smaller mask
  for (const Isopleth& i : t->current.isopleths) isopleths.push_back(std::to_string(i.mask) + ":" + std::to_string(i.support));
  EXPECT_EQ(isopleths, (std::vector<std::string>{"3:2", "5:2", "7:1"}));
  EXPECT_EQ(t->history.profiles.front().things, 3u);  // Things 4, 5, 6 (4 has only the history Role)
}

TEST(Terrain, CatalogOrdersByCountsLengthNamesThenIdsAndCutsToTheLimit) {
  World w;
  auto z = w.role(1, "z");
  auto y = w.role(2, "y");
  auto x = w.role(3, "x");
  auto b = w.role(4, "b");
  auto a = w.role(5, "a");
  w.posit(w.set({{x, 1}, {a, 2}}), year(2020));
  w.posit(w.set({{x, 3}, {a, 4}}), year(2020));          // two sets
  w.posit(w.set({{z, 1}, {y, 2}, {x, 5}}), year(2020));  // three Roles
  w.posit(w.set({{z, 1}, {y, 2}}), year(2020));
  w.posit(w.set({{b, 1}, {a, 2}}), year(2020));          // name b before z, despite larger ids
  w.posit(w.set({{z, 1}, {a, 2}}), year(2040));          // history only
  TerrainLimits limits;
  limits.max_relationship_signatures = 5;
  auto t = w.build(year(2030), limits);
  ASSERT_TRUE(t) << t.error().display();
  std::vector<std::string> ids;
  for (const SignatureEntry& e : t->relationship_catalog.signatures) ids.push_back(e.id);
  EXPECT_EQ(ids, (std::vector<std::string>{"terrain-v1-signature-3-5", "terrain-v1-signature-1-2-3",
                                           "terrain-v1-signature-4-5", "terrain-v1-signature-1-2",
                                           "terrain-v1-signature-1-5"}));
  EXPECT_TRUE(t->relationship_catalog.complete);
  // The history-only signature still has its relationship in the current frame, all zero.
  const Relationship& absent = t->current.relationships.back();
  EXPECT_EQ(absent.appearance_sets + absent.posits + absent.allocations.size(), 0u);
  EXPECT_EQ(absent.role_totals.size(), 2u);

  limits.max_relationship_signatures = 4;
  t = w.build(year(2030), limits);
  ASSERT_TRUE(t);
  EXPECT_EQ(t->relationship_catalog.signatures.size(), 4u);
  EXPECT_FALSE(t->relationship_catalog.complete);
  limits.max_relationship_signatures = 0;
  t = w.build(year(2030), limits);
  ASSERT_TRUE(t);
  EXPECT_FALSE(t->relationship_catalog.default_signature_id);
}

TEST(Terrain, RelationshipsCountMembersNotPositsAndSplitByMask) {
  World w;
  auto attr = w.role(10, "attr");
  auto r = w.role(11, "r");
  auto s = w.role(12, "s");
  w.posit(w.set({{attr, 1}}), year(2020));  // Thing 1 has mask 1, Thing 2 mask 0
  auto first = w.set({{r, 1}, {s, 9}});
  for (int i = 0; i < 3; ++i) w.posit(first, year(2020 + i));
  w.posit(w.set({{r, 2}, {s, 9}}), year(2020));
  auto t = w.build(kEot);
  ASSERT_TRUE(t) << t.error().display();
  const Relationship& rel = t->history.relationships.at(0);
  EXPECT_EQ(rel.appearance_sets, 2u);
  EXPECT_EQ(rel.posits, 4u);
  EXPECT_EQ(rel.role_totals[1].distinct_things, 1u);  // s: Thing 9 twice
  EXPECT_EQ(rel.role_totals[1].participations, 2u);
  std::vector<std::string> cells;
  for (const Allocation& a : rel.allocations) {
    cells.push_back(a.id + ":" + std::to_string(a.distinct_things) + "/" + std::to_string(a.participations) +
                    (a.isopleth_id ? "+" : ""));
  }
  EXPECT_EQ(cells, (std::vector<std::string>{"terrain-v1-allocation-11-12-11-000:1/1",
                                             "terrain-v1-allocation-11-12-11-001:1/1+",
                                             "terrain-v1-allocation-11-12-12-000:1/2"}));
}

// A finite time quoted, "@EOT": test_terrain.py (the whole report).
TEST(Terrain, ResolvedAsOfQuotesFiniteTimesOnly) { EXPECT_EQ(format_resolved_as_of(TimeValue::bot()), "@BOT"); }

}  // namespace
}  // namespace brackwater::terrain
