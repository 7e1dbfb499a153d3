// The tree of pairs that a successful parse hands to script execution.
//
// A `ParseTree` holds the parsed text and its nodes in pre-order: the children of node i are the
// nodes in [i + 1, end_index), and the next sibling of node i is node end_index. A `Pair` is a view
// of one node and a `Pairs` a run of sibling nodes; both share ownership of the tree, so the text a
// pair hands out (a view into the tree's own copy of the script) stays valid while any pair or
// `Pairs` of the tree is alive. A tree parsed with `parse_borrowed` views the caller's text instead,
// which then must outlive the tree. Trees are immutable once built and may be read from any thread.
#pragma once

#include <algorithm>
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

// One pair in 12 bytes: the offset of its text (40 bits) and its rule, then the length of its text
// and the size of its subtree (the node and its descendants), 24 bits each. Texts and node counts
// stay below 2^40 (one TiB); a length or size of 2^24 - 1 or more is kept beside the nodes (see
// NodeArray), so a node is read through its array.
class Node {
 public:
  static constexpr uint64_t kLimit = uint64_t{1} << 40;
  // A length or size field holding this value: the node's end and end index are kept in the array.
  static constexpr uint32_t kWide = (uint32_t{1} << 24) - 1;

  Node() = default;
  Node(size_t start, Rule rule, uint32_t length, uint32_t size)
      : start_lo_(static_cast<uint32_t>(start)),
        start_hi_length_(static_cast<uint32_t>(start >> 32) | (length << 8)),
        rule_size_(static_cast<uint32_t>(static_cast<uint8_t>(rule)) | (size << 8)) {}

  size_t start() const { return start_lo_ | (size_t{start_hi_length_ & 0xFF} << 32); }
  Rule rule() const { return static_cast<Rule>(rule_size_ & 0xFF); }
  uint32_t length() const { return start_hi_length_ >> 8; }
  uint32_t size() const { return rule_size_ >> 8; }

 private:
  uint32_t start_lo_ = 0;
  uint32_t start_hi_length_ = 0;  // high 8 bits of the start | length << 8
  uint32_t rule_size_ = 0;        // rule | subtree size << 8
};
static_assert(sizeof(Node) == 12);

// The nodes of a tree in pre-order, with the ends and end indices too large for a node's fields.
// The children of node i are the nodes in [i + 1, end_index(i)); its next sibling is end_index(i).
class NodeArray {
 public:
  size_t size() const { return nodes_.size(); }
  size_t capacity() const { return nodes_.capacity(); }
  bool empty() const { return nodes_.empty(); }
  const Node* data() const { return nodes_.data(); }
  void reserve(size_t n) { nodes_.reserve(n); }
  void clear() {
    nodes_.clear();
    wide_.clear();
  }

  // Appends a complete node.
  void push(size_t start, size_t end, size_t end_index, Rule rule) {
    nodes_.emplace_back(start, rule, 0, 0);
    close(nodes_.size() - 1, end, end_index);
  }
  // Appends a node whose end and end index `close` sets once its descendants are made.
  void open(size_t start, Rule rule) { nodes_.emplace_back(start, rule, 0, 0); }
  void close(size_t i, size_t end, size_t end_index) {
    Node& n = nodes_[i];
    const size_t length = end - n.start(), size = end_index - i;
    if (length < Node::kWide && size < Node::kWide) {
      n = Node(n.start(), n.rule(), static_cast<uint32_t>(length), static_cast<uint32_t>(size));
      return;
    }
    n = Node(n.start(), n.rule(), Node::kWide, Node::kWide);
    wide_.insert(wide_after(i), Wide{i, end, end_index});
  }
  // Drops the nodes from `size` on.
  void truncate(size_t size) {
    if (nodes_.size() <= size) return;
    nodes_.resize(size);
    wide_.erase(wide_after(size), wide_.end());
  }

  Rule rule(size_t i) const { return nodes_[i].rule(); }
  size_t start(size_t i) const { return nodes_[i].start(); }
  size_t end(size_t i) const {
    const Node& n = nodes_[i];
    return n.length() != Node::kWide ? n.start() + n.length() : wide_after(i)->end;
  }
  size_t end_index(size_t i) const {
    const Node& n = nodes_[i];
    return n.size() != Node::kWide ? i + n.size() : wide_after(i)->end_index;
  }

 private:
  struct Wide {
    size_t index;
    size_t end;
    size_t end_index;
  };
  // The first kept entry of node `i` or of a later node (entries ascend by index).
  std::vector<Wide>::const_iterator wide_after(size_t i) const {
    return std::lower_bound(wide_.begin(), wide_.end(), i, [](const Wide& w, size_t v) { return w.index < v; });
  }

  std::vector<Node, NodeAllocator<Node>> nodes_;
  std::vector<Wide> wide_;
};

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

  Rule rule() const { return tree_->nodes.rule(index_); }
  size_t start() const { return tree_->nodes.start(index_); }
  size_t end() const { return tree_->nodes.end(index_); }
  // The exact bytes of the span, blanks and comments inside it included.
  std::string_view text() const {
    const size_t b = start();
    return std::string_view(tree_->text.data() + b, end() - b);
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
    Rule rule() const { return tree_->nodes.rule(index_); }
    iterator& operator++() {
      index_ = tree_->nodes.end_index(index_);
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

inline Pairs Pair::children() const { return Pairs(tree_, index_ + 1, tree_->nodes.end_index(index_)); }

inline std::optional<Pair> Pair::first_child() const {
  if (tree_->nodes.end_index(index_) == index_ + 1) return std::nullopt;
  return Pair(tree_, index_ + 1);
}

inline size_t Pairs::size() const {
  size_t count = 0;
  for (size_t i = begin_; i != end_; i = tree_->nodes.end_index(i)) ++count;
  return count;
}

inline std::optional<Pair> Pairs::first() const {
  if (empty()) return std::nullopt;
  return Pair(tree_, begin_);
}

}  // namespace brackwater::velquin
