// Node packing at the edges of its fields, and node arrays on both sides of the large-array size.
#include <gtest/gtest.h>

#include <cstdint>
#include <tuple>
#include <vector>

#include "velquin/parse_tree.h"

namespace brackwater::velquin {
namespace {

TEST(ParseTreeNode, FieldsRoundTripAtTheirEdges) {
  const size_t top = Node::kLimit - 1;
  const std::vector<std::tuple<size_t, size_t, size_t>> cases = {
      {0, 0, 0},
      {0, top, top},
      {top, top, top},
      {top, 0, 0},
      {0, 0, (size_t{1} << 24) - 1},  // end_index: the low part full, the high part empty
      {0, 0, size_t{1} << 24},        // and the other way round
      {12345, 67890, 0xABCDEF1234},
      {(size_t{1} << 39) + 1, (size_t{1} << 39) + 2, (size_t{1} << 39) + 3},
  };
  for (size_t r = 0; r < kRuleCount; ++r) {
    const auto rule = static_cast<Rule>(r);
    for (const auto& [start, end, end_index] : cases) {
      const Node node(start, end, end_index, rule);
      EXPECT_EQ(node.start(), start);
      EXPECT_EQ(node.end(), end);
      EXPECT_EQ(node.end_index(), end_index);
      EXPECT_EQ(node.rule(), rule);
    }
  }
}

TEST(ParseTreeNode, FinishKeepsStartAndRule) {
  Node node(Node::kLimit - 2, Node::kLimit - 2, 0, Rule::as_of_clause);
  node.finish(Node::kLimit - 1, (size_t{1} << 30) + 7);
  EXPECT_EQ(node.start(), Node::kLimit - 2);
  EXPECT_EQ(node.end(), Node::kLimit - 1);
  EXPECT_EQ(node.end_index(), (size_t{1} << 30) + 7);
  EXPECT_EQ(node.rule(), Rule::as_of_clause);
}

TEST(ParseTreeNode, ArraysSmallAndLargeHoldTheirNodes) {
  for (size_t count : {size_t{1}, kLargeNodeBytes / sizeof(Node) - 1, kLargeNodeBytes / sizeof(Node),
                       kLargeNodeBytes / sizeof(Node) * 3 + 5}) {
    NodeArray nodes;
    nodes.reserve(count);
    for (size_t i = 0; i < count; ++i) nodes.emplace_back(i, i + 1, i + 2, Rule::posit);
    nodes.push_back(Node(1, 2, 3, Rule::EOI));  // grows past the reservation: a move to new storage
    ASSERT_EQ(nodes.size(), count + 1);
    EXPECT_EQ(nodes[count - 1].end_index(), count + 1);
    EXPECT_EQ(nodes[count / 2].start(), count / 2);
    EXPECT_EQ(nodes[count].rule(), Rule::EOI);
  }
}

}  // namespace
}  // namespace brackwater::velquin
