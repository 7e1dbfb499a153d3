#include "construct/record_storage.h"

#include <gtest/gtest.h>

#include "construct/engine.h"
#include "construct/engine_ops.h"
#include "construct/engine_state.h"

namespace brackwater::construct {
namespace {

using Refs = std::vector<AppearanceRef>;
Refs items(std::span<const AppearanceRef> list) { return Refs(list.begin(), list.end()); }

TEST(MemberList, OwnedListsCopyDeeplyViewsShareStorage) {
  Role r{"r", 6, false};
  Appearance a{&r, 1}, b{&r, 2}, c{&r, 3};
  MemberList owned{&a, &b};
  owned.push_back(&c);
  MemberList copy = owned;
  EXPECT_NE(copy.data(), owned.data());
  EXPECT_EQ(items(copy), (Refs{&a, &b, &c}));

  MemberStorage storage;
  std::span<const AppearanceRef> kept = storage.store(Refs{&b, &c});
  MemberList view = MemberList::view(kept);
  MemberList view_copy = view;
  EXPECT_EQ(view_copy.data(), kept.data());
  view_copy.push_back(&a);  // a view that grows takes a copy of its own
  EXPECT_NE(view_copy.data(), kept.data());
  EXPECT_EQ(items(view), (Refs{&b, &c}));
  EXPECT_EQ(items(view_copy), (Refs{&b, &c, &a}));
  MemberList moved = std::move(owned);
  EXPECT_EQ(moved.size(), 3u);
  EXPECT_TRUE(owned.empty());
}

TEST(MemberList, OneMemberIsHeldInlineAndFollowsTheList) {
  Role r{"r", 6, false};
  Appearance a{&r, 1}, b{&r, 2};
  const Refs one{&a};
  MemberList single = MemberList::view(one);
  EXPECT_NE(single.data(), one.data());  // copied, not viewed
  MemberList copy = single;
  EXPECT_NE(copy.data(), single.data());
  EXPECT_EQ(items(copy), one);
  MemberList moved = std::move(copy);
  EXPECT_TRUE(copy.empty());
  EXPECT_EQ(moved.back(), &a);
  moved.push_back(&b);
  EXPECT_EQ(items(moved), (Refs{&a, &b}));
  moved = single;
  EXPECT_EQ(items(moved), one);
  MemberList empty;
  EXPECT_EQ(empty.begin(), empty.end());
  empty.push_back(&b);
  EXPECT_EQ(items(empty), (Refs{&b}));
  EXPECT_EQ(sizeof(MemberList), 16u);
}

struct Engine1 : ::testing::Test {
  std::shared_ptr<Engine> engine = Engine::open(std::nullopt).value();
  EngineState& state = engine->state();
  RoleRef r = engine->add_roles({{"r", false}}).value()[0].role;
  RoleRef s = engine->add_roles({{"s", false}}).value()[0].role;

  AppearanceRef appearance(RoleRef role, Identity thing) { return engine->intern_appearance(role, thing).value().first; }
};

TEST_F(Engine1, IndexesAnswerForEqualCopiesOfStoredRecords) {
  AppearanceRef a = appearance(r, 100);
  AppearanceRef b = appearance(s, 100);  // a second Appearance of the Thing
  AppearanceSetRef ab = engine->intern_appearance_set({a, b}).value().first;
  AppearanceSetRef just_b = engine->intern_appearance_set({b}).value().first;
  auto added = engine->add_posits({{{"1", literal::LiteralKind::Integer}, ab, TimeValue::bot()},
                                   {{"2", literal::LiteralKind::Integer}, just_b, TimeValue::bot()}},
                                  {});
  ASSERT_TRUE(added);

  const Appearance a_copy = *a;
  const Appearance b_copy = *b;
  const Appearance unknown{r, 999};
  {
    auto memberships = state.appearance_memberships.lock();
    EXPECT_EQ(std::vector<AppearanceSetRef>((*memberships)->sets(b_copy).begin(), (*memberships)->sets(b_copy).end()),
              (std::vector<AppearanceSetRef>{ab, just_b}));
    EXPECT_EQ((*memberships)->sets(a_copy).size(), 1u);
    EXPECT_TRUE((*memberships)->sets(unknown).empty());
  }
  // A set filed after the first lookup by a copy is found by copies too.
  AppearanceRef c = appearance(r, 101);
  AppearanceSetRef c_set = engine->intern_appearance_set({c}).value().first;
  const Appearance c_copy = *c;
  EXPECT_EQ((*state.appearance_memberships.lock())->sets(c_copy).size(), 1u);

  const AppearanceSet ab_copy{MemberList{a, b}};
  {
    auto by_set = state.appearance_set_posits.lock();
    const Posting* posting = (*by_set)->find(ab_copy);
    ASSERT_NE(posting, nullptr);
    EXPECT_TRUE(posting->contains(added->posits[0]->identity));
    EXPECT_EQ((*by_set)->find(*c_set), nullptr);
  }
  // The catalog finds the stored set for a candidate of copies.
  EXPECT_EQ(engine->intern_appearance_set({&b_copy, &a_copy}).value().first, ab);
}

TEST_F(Engine1, PendingPositsOnSetsFromElsewhereUseTheCatalogSet) {
  AppearanceRef a = appearance(r, 100);
  AppearanceSetRef stored = engine->intern_appearance_set({a}).value().first;
  auto first = engine->add_posits({{{"1", literal::LiteralKind::Integer}, stored, TimeValue::bot()}}, {}).value();
  const AppearanceSet elsewhere{MemberList{a}};
  auto again = engine->add_posits({{{"1", literal::LiteralKind::Integer}, &elsewhere, TimeValue::bot()},
                                   {{"2", literal::LiteralKind::Integer}, &elsewhere, TimeValue::bot()}},
                                  {});
  ASSERT_TRUE(again);
  EXPECT_EQ(again->posits[0], first.posits[0]);
  EXPECT_EQ(again->posits[1]->appearance_set, stored);
  EXPECT_EQ((*state.components.lock())->posit_count, 2u);
}

TEST_F(Engine1, ManyPositsOnOneSetAndManyAppearancesOfOneThing) {
  std::vector<AppearanceRef> of_thing;
  for (Identity t = 0; t < 50; ++t) {
    RoleRef role = engine->add_roles({{"role" + std::to_string(t), false}}).value()[0].role;
    of_thing.push_back(appearance(role, 7));
  }
  for (size_t i = 0; i < of_thing.size(); ++i) EXPECT_EQ(appearance(of_thing[i]->role, 7), of_thing[i]);
  AppearanceSetRef set = engine->intern_appearance_set({of_thing[3]}).value().first;
  std::vector<PendingPosit> pending;
  for (int v = 0; v < 300; ++v) pending.push_back({{std::to_string(v % 200), literal::LiteralKind::Integer}, set, TimeValue::bot()});
  auto added = engine->add_posits(std::move(pending), {}).value();
  EXPECT_EQ((*state.components.lock())->posit_count, 200u);
  for (int v = 0; v < 100; ++v) EXPECT_EQ(added.posits[size_t(v) + 200], added.posits[size_t(v)]);
  EXPECT_EQ((*state.appearance_set_posits.lock())->find(*set)->cardinality(), 200u);
  EXPECT_EQ((*state.posit_times.lock())->size(), 200u);
}

}  // namespace
}  // namespace brackwater::construct
