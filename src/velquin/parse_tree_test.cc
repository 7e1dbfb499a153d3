// Node packing at the edges of its fields, the ends kept beside the nodes, and node arrays on both
// sides of the large-array size.
#include <gtest/gtest.h>

#include <cstdint>
#include <tuple>
#include <vector>

#include "velquin/parse_tree.h"

namespace brackwater::velquin {
namespace {

TEST(ParseTreeNode, FieldsRoundTripAtTheirEdges) {
  const size_t top = Node::kLimit - 1, wide = Node::kWide;
  // (start, length, subtree size): each field empty, just below the kept-beside size, at it, and full.
  const std::vector<std::tuple<size_t, size_t, size_t>> cases = {
      {0, 0, 1},          {top, 0, 1},         {0, wide - 1, 1},      {0, 0, wide - 1},
      {0, wide, 1},       {0, 0, wide},        {0, top, top - 1},     {top - 1, 1, 1},
      {12345, 67890, 7},  {(size_t{1} << 39) + 1, wide + 1, 2},       {size_t{1} << 32, 3, wide * 2},
  };
  for (size_t r = 0; r < kRuleCount; ++r) {
    const auto rule = static_cast<Rule>(r);
    NodeArray nodes;
    for (const auto& [start, length, size] : cases) nodes.push(start, start + length, nodes.size() + size, rule);
    for (size_t i = 0; i < cases.size(); ++i) {
      const auto& [start, length, size] = cases[i];
      EXPECT_EQ(nodes.start(i), start);
      EXPECT_EQ(nodes.end(i), start + length);
      EXPECT_EQ(nodes.end_index(i), i + size);
      EXPECT_EQ(nodes.rule(i), rule);
    }
  }
}

TEST(ParseTreeNode, TruncatingDropsTheEndsKeptBeside) {
  NodeArray nodes;
  nodes.open(5, Rule::add_posit);
  nodes.push(6, 6 + Node::kWide, 2, Rule::string);  // a wide leaf, then given back
  nodes.truncate(1);
  nodes.push(6, 9, 2, Rule::string);
  nodes.close(0, 10, Node::kWide + 1);  // a wide parent, closed after its children
  EXPECT_EQ(nodes.end(1), 9u);
  EXPECT_EQ(nodes.end_index(1), 2u);
  EXPECT_EQ(nodes.start(0), 5u);
  EXPECT_EQ(nodes.end(0), 10u);
  EXPECT_EQ(nodes.end_index(0), size_t{Node::kWide} + 1);
  EXPECT_EQ(nodes.rule(0), Rule::add_posit);
}

TEST(ParseTreeNode, ArraysSmallAndLargeHoldTheirNodes) {
  for (size_t count : {size_t{1}, kLargeNodeBytes / sizeof(Node) - 1, kLargeNodeBytes / sizeof(Node) + 1,
                       kLargeNodeBytes / sizeof(Node) * 3 + 5}) {
    NodeArray nodes;
    nodes.reserve(count);
    for (size_t i = 0; i < count; ++i) nodes.push(i, i + 1, i + 2, Rule::posit);
    nodes.push(1, 2, count + 1, Rule::EOI);  // grows past the reservation: a move to new storage
    ASSERT_EQ(nodes.size(), count + 1);
    EXPECT_EQ(nodes.end_index(count - 1), count + 1);
    EXPECT_EQ(nodes.start(count / 2), count / 2);
    EXPECT_EQ(nodes.rule(count), Rule::EOI);
  }
}

}  // namespace
}  // namespace brackwater::velquin
