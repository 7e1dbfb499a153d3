#include "terrain/signature_table.h"

#include <gtest/gtest.h>

#include "terrain/attribute_roles.h"

namespace brackwater::terrain {
namespace {

using construct::AppearanceSetRef;
using Roles = std::vector<uint64_t>;

// Distinct handles for the table to file; it never looks behind them.
AppearanceSetRef set(uintptr_t n) { return reinterpret_cast<AppearanceSetRef>(n * 16); }

TEST(SignatureTable, NumbersSignaturesAsFirstAddedAndListsEachOnesSetsInOrder) {
  SignatureTable table;
  const Roles ab{1, 2};
  const Roles abc{1, 2, 3};  // a prefix is another signature
  const Roles b{2, 1};
  EXPECT_TRUE(table.add(ab, SignatureTable::hash(ab), set(1), 3).is_new);
  EXPECT_TRUE(table.add(abc, SignatureTable::hash(abc), set(2), 1).is_new);
  const SignatureTable::Added again = table.add(ab, SignatureTable::hash(ab), set(3), 4);
  EXPECT_FALSE(again.is_new);
  EXPECT_EQ(again.signature, 0u);
  EXPECT_TRUE(table.add(b, SignatureTable::hash(b), set(4), 1).is_new);
  table.add(ab, SignatureTable::hash(ab), set(5), 1);
  table.finish();

  ASSERT_EQ(table.size(), 3u);
  EXPECT_EQ(Roles(table.roles(1).begin(), table.roles(1).end()), abc);
  EXPECT_EQ(table.posits(0), 8u);
  EXPECT_EQ(table.set_count(0), 3u);
  EXPECT_EQ(std::vector<AppearanceSetRef>(table.sets(0).begin(), table.sets(0).end()),
            (std::vector<AppearanceSetRef>{set(1), set(3), set(5)}));
  EXPECT_EQ(table.sets(2).front(), set(4));
  EXPECT_EQ(table.find(abc, SignatureTable::hash(abc)), 1u);
  EXPECT_EQ(table.find(Roles{1}, SignatureTable::hash(Roles{1})), SignatureTable::kNone);

  // The hash is the same in every table of the process: another frame is joined by it.
  SignatureTable other;
  other.add(abc, SignatureTable::hash(abc), set(9), 1);
  other.finish();
  EXPECT_EQ(table.find(other.roles(0), other.hash_of(0)), 1u);
}

TEST(SignatureTable, SignaturesOfOneHashStayApartAndAnOverflowFilesNothing) {
  SignatureTable table;
  const uint64_t h = 42;  // every signature under one hash: only the Roles tell them apart
  for (uint64_t r = 0; r < 100; ++r) table.add(Roles{r, r + 1}, h, set(r + 1), 1);
  EXPECT_FALSE(table.add(Roles{7, 8}, h, set(200), UINT64_MAX).ok);
  EXPECT_TRUE(table.add(Roles{7, 8}, h, set(201), 2).ok);
  table.finish();
  EXPECT_EQ(table.size(), 100u);
  const uint32_t seven = table.find(Roles{7, 8}, h);
  EXPECT_EQ(seven, 7u);
  EXPECT_EQ(table.posits(seven), 3u);
  EXPECT_EQ(std::vector<AppearanceSetRef>(table.sets(seven).begin(), table.sets(seven).end()),
            (std::vector<AppearanceSetRef>{set(8), set(201)}));
}

TEST(AttributeRoles, CountsEachThingOnceAndListsThemAscending) {
  const TerrainBudget budget = TerrainLimits{}.validate().value();
  AttributeRoles roles;
  EXPECT_TRUE(roles.add(10, 5));
  EXPECT_TRUE(roles.add(20, 5));
  EXPECT_FALSE(roles.add(10, 3));
  EXPECT_FALSE(roles.add(10, 5));  // a second set of the same member (not interned) counts once
  for (uint64_t thing = 3000; thing > 0; --thing) roles.add(30, thing * 7);  // past one sorted run
  ASSERT_TRUE(roles.finish(budget));
  EXPECT_EQ(roles.size(), 3u);
  EXPECT_EQ(roles.role(roles.find(20)), 20u);
  EXPECT_EQ(roles.find(40), AttributeRoles::kNone);
  EXPECT_EQ(roles.support(10), 2u);
  EXPECT_EQ(roles.support(40), 0u);
  const auto ten = roles.things(roles.find(10));
  EXPECT_EQ(std::vector<construct::Identity>(ten.begin(), ten.end()), (std::vector<construct::Identity>{3, 5}));
  const auto thirty = roles.things(roles.find(30));
  ASSERT_EQ(thirty.size(), 3000u);
  EXPECT_TRUE(std::is_sorted(thirty.begin(), thirty.end()));
  EXPECT_EQ(thirty.front(), 7u);
}

}  // namespace
}  // namespace brackwater::terrain
