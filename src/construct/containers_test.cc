#include <gtest/gtest.h>

#include <vector>

#include "construct/dense_id_map.h"
#include "construct/flat_table.h"
#include "construct/ref_list.h"

namespace brackwater::construct {
namespace {

TEST(FlatTable, FindsEveryEntryAcrossGrowthAndCollisions) {
  FlatTable<uint64_t> table;
  // A weak hash (many equal low bits and tags) exercises probing and the control bytes.
  auto weak = [](uint64_t v) { return (v % 7) * 0x9E3779B97F4A7C15ULL; };
  for (uint64_t v = 0; v < 5000; ++v) {
    ASSERT_EQ(table.find(weak(v), [v](uint64_t e) { return e == v; }), nullptr);
    table.insert_new(weak(v), v);
  }
  EXPECT_EQ(table.size(), 5000u);
  for (uint64_t v = 0; v < 5000; ++v) {
    const uint64_t* found = table.find(weak(v), [v](uint64_t e) { return e == v; });
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(*found, v);
  }
  uint64_t sum = 0;
  table.for_each([&sum](uint64_t e) { sum += e; });
  EXPECT_EQ(sum, 4999u * 5000u / 2);
}

TEST(DenseIdMap, DenseAndFarIdentitiesInAscendingOrder) {
  int values[4] = {0, 1, 2, 3};
  DenseIdMap<const int*> map;
  const uint64_t far = uint64_t(1) << 62;
  map.slot(far) = &values[3];   // far beyond the count: sparse
  map.slot(5) = &values[1];
  map.slot(70000) = &values[2];  // within the dense slack
  map.slot(2) = &values[0];
  map.slot(5) = &values[1];      // replacing keeps the count
  EXPECT_EQ(map.size(), 4u);
  EXPECT_EQ(*map.find(far), &values[3]);
  EXPECT_EQ(map.find(3), nullptr);
  EXPECT_EQ(map.find(far + 1), nullptr);
  std::vector<Identity> order;
  map.for_each([&order](Identity id, const int*) { order.push_back(id); });
  EXPECT_EQ(order, (std::vector<Identity>{2, 5, 70000, far}));
}

TEST(CompactLists, RefListAndPostingGrowFromOneInlineItem) {
  int a = 1, b = 2, c = 3;
  RefList<int> list;
  EXPECT_FALSE(list);
  EXPECT_TRUE(list.items().empty());
  list.push_back(&a);
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list.items()[0], &a);
  list.push_back(&b);
  list.push_back(&c);
  EXPECT_EQ(std::vector<const int*>(list.items().begin(), list.items().end()),
            (std::vector<const int*>{&a, &b, &c}));
  RefList<int> moved = std::move(list);
  EXPECT_EQ(moved.size(), 3u);

  Posting posting;
  EXPECT_EQ(posting.cardinality(), 0u);
  posting.add(7);
  posting.add(7);
  EXPECT_EQ(posting.cardinality(), 1u);
  EXPECT_TRUE(posting.contains(7));
  posting.add(3);
  EXPECT_EQ(posting.cardinality(), 2u);
  IdentitySet out;
  out.add(uint64_t{100});
  posting.unite_into(out);
  EXPECT_EQ(out.cardinality(), 3u);
  Posting huge;  // an identity beyond the inline range goes straight to a bitmap
  huge.add(UINT64_MAX);
  EXPECT_TRUE(huge.contains(UINT64_MAX));
  EXPECT_EQ(huge.cardinality(), 1u);
}

}  // namespace
}  // namespace brackwater::construct
