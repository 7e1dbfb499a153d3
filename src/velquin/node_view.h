// A borrowed view of one parse-tree node, for walks that run once per statement element.
//
// Unlike Pair it holds a plain pointer to the tree, so copying it costs nothing; it is valid only
// while the tree lives (the caller keeps a Pair or Pairs of the same tree).
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

#include "velquin/parse_tree.h"
#include "velquin/rule.h"

namespace brackwater::velquin {

class NodeView {
 public:
  NodeView(const ParseTree* tree, size_t index) : tree_(tree), index_(index) {}

  Rule rule() const { return node().rule(); }
  std::string_view text() const {
    const Node& n = node();
    return std::string_view(tree_->text.data() + n.start(), n.end() - n.start());
  }
  std::optional<NodeView> first_child() const {
    if (node().end_index() == index_ + 1) return std::nullopt;
    return NodeView(tree_, index_ + 1);
  }
  const ParseTree* tree() const { return tree_; }
  size_t index() const { return index_; }

  // The children, front to back.
  class iterator {
   public:
    iterator(const ParseTree* tree, size_t index) : tree_(tree), index_(index) {}
    NodeView operator*() const { return NodeView(tree_, index_); }
    iterator& operator++() {
      index_ = tree_->nodes[index_].end_index();
      return *this;
    }
    bool operator==(const iterator& other) const { return index_ == other.index_; }

   private:
    const ParseTree* tree_;
    size_t index_;
  };
  struct Children {
    iterator b, e;
    iterator begin() const { return b; }
    iterator end() const { return e; }
  };
  Children children() const { return {iterator(tree_, index_ + 1), iterator(tree_, node().end_index())}; }

 private:
  const Node& node() const { return tree_->nodes[index_]; }

  const ParseTree* tree_;
  size_t index_;
};

}  // namespace brackwater::velquin
