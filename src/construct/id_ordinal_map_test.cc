#include "construct/id_ordinal_map.h"

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <vector>

#include "construct/stable_arena.h"

namespace brackwater::construct {
namespace {

std::vector<std::pair<Identity, uint32_t>> entries(const IdOrdinalMap& map) {
  std::vector<std::pair<Identity, uint32_t>> out;
  map.for_each([&out](Identity id, uint32_t ordinal) { out.emplace_back(id, ordinal); });
  return out;
}

TEST(IdOrdinalMap, RunsGapsFarJumpsAndLateIdentities) {
  IdOrdinalMap map;
  EXPECT_EQ(map.find(0), kNoOrdinal);
  map.insert(6, 0);
  map.insert(8, 1);      // a gap inside the run
  map.insert(70000, 2);  // within the slack of the run
  const Identity far = uint64_t(1) << 62;
  map.insert(far, 3);       // opens a segment of its own
  map.insert(far + 64, 5);  // ordinal not consecutive: another segment
  map.insert(7, 4);         // out of order
  map.insert(UINT64_MAX, 6);
  EXPECT_EQ(map.size(), 7u);
  const std::vector<std::pair<Identity, uint32_t>> expected = {{6, 0},   {7, 4},        {8, 1},         {70000, 2},
                                                               {far, 3}, {far + 64, 5}, {UINT64_MAX, 6}};
  for (auto [id, ordinal] : expected) EXPECT_EQ(map.find(id), ordinal) << id;
  for (Identity absent : {Identity(0), Identity(5), Identity(9), Identity(69999), far - 1, far + 1, UINT64_MAX - 1}) {
    EXPECT_EQ(map.find(absent), kNoOrdinal) << absent;
  }
  EXPECT_EQ(entries(map), expected);
}

TEST(IdOrdinalMap, AgreesWithAnOrderedMapOnRandomInput) {
  std::mt19937_64 random(7);
  IdOrdinalMap map;
  std::map<Identity, uint32_t> model;
  Identity next = 100;
  for (uint32_t ordinal = 0; ordinal < 20000; ++ordinal) {
    Identity id;
    switch (random() % 8) {
      case 0: id = random() % (next + 1); break;                // anywhere below: late or re-mapped (one entry each)
      case 1: id = next + 1 + random() % 200000; break;         // a jump
      default: id = next + 1 + random() % 3; break;             // the usual run
    }
    next = std::max(next, id);
    map.insert(id, ordinal);
    model[id] = ordinal;
  }
  ASSERT_EQ(map.size(), model.size());
  std::vector<std::pair<Identity, uint32_t>> expected(model.begin(), model.end());
  EXPECT_EQ(entries(map), expected);
  for (Identity id = 0; id < 5000; ++id) {
    auto it = model.find(id);
    EXPECT_EQ(map.find(id), it == model.end() ? kNoOrdinal : it->second) << id;
  }
}

TEST(StableArena, OrdinalsAddressesAndForeignPointers) {
  StableArena<uint64_t, 2> arena;  // chunks of 4, 8, 16, ...
  std::vector<const uint64_t*> stored;
  for (uint64_t v = 0; v < 100; ++v) {
    auto [p, ordinal] = arena.emplace_back(v * 3);
    EXPECT_EQ(ordinal, v);
    stored.push_back(p);
  }
  EXPECT_EQ(arena.size(), 100u);
  for (uint32_t i = 0; i < 100; ++i) {
    EXPECT_EQ(&arena[i], stored[i]);  // records never move
    EXPECT_EQ(arena[i], uint64_t(i) * 3);
    EXPECT_EQ(arena.ordinal_of(stored[i]), i);
  }
  const uint64_t elsewhere = 3;
  EXPECT_EQ(arena.ordinal_of(&elsewhere), kNoOrdinal);
}

}  // namespace
}  // namespace brackwater::construct
