// The tree of pairs that a successful parse hands to script execution.
//
// A `ParseTree` holds the parsed text and its nodes in pre-order: the children of node i are the
// nodes in [i + 1, end_index), and the next sibling of node i is node end_index. A `Pair` is a view
// of one node and a `Pairs` a run of sibling nodes; both share ownership of the tree, so the text a
// pair hands out (a view into the tree's own copy of the script) stays valid while any pair or
// `Pairs` of the tree is alive. A tree parsed with `parse_borrowed` views the caller's text instead,
// which then must outlive the tree. Trees are immutable once built and may be read from any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "velquin/node_allocator.h"
#include "velquin/rule.h"

namespace brackwater::velquin {

// One pair: its span and the index just past its last descendant, packed into 16 bytes. Offsets
// and indices take 40 bits each, so a tree covers texts and node counts below 2^40 (one TiB).
class Node {
 public:
  static constexpr uint64_t kLimit = uint64_t{1} << 40;

  Node() = default;
  Node(size_t start, size_t end, size_t end_index, Rule rule)
      : lo_(start | (uint64_t{end_index} << 40)),
        hi_(end | ((uint64_t{end_index} >> 24) << 40) | (uint64_t{static_cast<uint8_t>(rule)} << 56)) {}

  size_t start() const { return lo_ & kMask; }  // byte offset of the first byte of the pair's text
  size_t end() const { return hi_ & kMask; }    // byte offset just past the pair's text
  size_t end_index() const { return (lo_ >> 40) | (((hi_ >> 40) & 0xFFFF) << 24); }
  Rule rule() const { return static_cast<Rule>(hi_ >> 56); }

  // Closes a node that was opened before its descendants were made.
  void finish(size_t end, size_t end_index) { *this = Node(start(), end, end_index, rule()); }

 private:
  static constexpr uint64_t kMask = kLimit - 1;
  uint64_t lo_ = 0;  // start | low 24 bits of end_index
  uint64_t hi_ = 0;  // end | high 16 bits of end_index | rule
};
static_assert(sizeof(Node) == 16);

using NodeArray = std::vector<Node, NodeAllocator<Node>>;

struct ParseTree {
  std::string owned;      // the tree's copy of the text, unless it views the caller's
  std::string_view text;  // the parsed text
  NodeArray nodes;
};

// Gives the system back the memory of nodes [from, to), which the tree's one reader has read for
// the last time: the whole pages strictly inside that range (of a tree on a mapping of its own)
// read as zeros afterwards. The text and every other node stay as they were.
inline void release_consumed_nodes(const ParseTree& tree, size_t from, size_t to) {
  if (to <= from) return;
  construct::release_pages(const_cast<Node*>(tree.nodes.data() + from), (to - from) * sizeof(Node),
                           tree.nodes.capacity() * sizeof(Node));
}

class Pairs;

// One node of the parse tree: its rule, its span of the parsed text and its children.
class Pair {
 public:
  Pair(std::shared_ptr<const ParseTree> tree, size_t index) : tree_(std::move(tree)), index_(index) {}

  Rule rule() const { return node().rule(); }
  size_t start() const { return node().start(); }
  size_t end() const { return node().end(); }
  // The exact bytes of the span, blanks and comments inside it included.
  std::string_view text() const {
    const Node& n = node();
    return std::string_view(tree_->text.data() + n.start(), n.end() - n.start());
  }
  // The pairs made while this pair's rule ran, in input order.
  Pairs children() const;
  // The first child, or nothing when the pair has no children.
  std::optional<Pair> first_child() const;
  // The position of this node in the tree's pre-order; stable for the life of the tree.
  size_t index() const { return index_; }
  // The tree that the pair views.
  const std::shared_ptr<const ParseTree>& tree() const { return tree_; }

 private:
  const Node& node() const { return tree_->nodes[index_]; }

  std::shared_ptr<const ParseTree> tree_;
  size_t index_;
};

// An ordered run of sibling pairs, iterated front to back.
class Pairs {
 public:
  class iterator {
   public:
    using iterator_category = std::forward_iterator_tag;
    using value_type = Pair;
    using difference_type = std::ptrdiff_t;
    using pointer = void;
    using reference = Pair;

    iterator() = default;
    Pair operator*() const { return Pair(tree_, index_); }
    Rule rule() const { return tree_->nodes[index_].rule(); }
    iterator& operator++() {
      index_ = tree_->nodes[index_].end_index();
      return *this;
    }
    iterator operator++(int) {
      iterator old = *this;
      ++*this;
      return old;
    }
    bool operator==(const iterator& other) const { return index_ == other.index_; }

   private:
    friend class Pairs;
    iterator(std::shared_ptr<const ParseTree> tree, size_t index) : tree_(std::move(tree)), index_(index) {}
    std::shared_ptr<const ParseTree> tree_;
    size_t index_ = 0;
  };

  Pairs() = default;
  // The siblings starting at node `begin` and ending before node `end`.
  Pairs(std::shared_ptr<const ParseTree> tree, size_t begin, size_t end)
      : tree_(std::move(tree)), begin_(begin), end_(end) {}

  // Iterators share the tree too, so they stay valid after the `Pairs` they came from is gone.
  iterator begin() const { return iterator(tree_, begin_); }
  iterator end() const { return iterator(nullptr, end_); }
  bool empty() const { return begin_ == end_; }
  // The number of pairs in the run (a walk over the siblings).
  size_t size() const;
  std::optional<Pair> first() const;
  // The tree that the pairs view; shared by every pair made from them.
  const std::shared_ptr<const ParseTree>& tree() const { return tree_; }

 private:
  std::shared_ptr<const ParseTree> tree_;
  size_t begin_ = 0;
  size_t end_ = 0;
};

inline Pairs Pair::children() const { return Pairs(tree_, index_ + 1, node().end_index()); }

inline std::optional<Pair> Pair::first_child() const {
  if (node().end_index() == index_ + 1) return std::nullopt;
  return Pair(tree_, index_ + 1);
}

inline size_t Pairs::size() const {
  size_t count = 0;
  for (size_t i = begin_; i != end_; i = tree_->nodes[i].end_index()) ++count;
  return count;
}

inline std::optional<Pair> Pairs::first() const {
  if (empty()) return std::nullopt;
  return Pair(tree_, begin_);
}

}  // namespace brackwater::velquin
