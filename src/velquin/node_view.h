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

  Rule rule() const { return tree_->nodes.rule(index_); }
  std::string_view text() const {
    const size_t b = tree_->nodes.start(index_);
    return std::string_view(tree_->text.data() + b, tree_->nodes.end(index_) - b);
  }
  std::optional<NodeView> first_child() const {
    if (tree_->nodes.end_index(index_) == index_ + 1) return std::nullopt;
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
      index_ = tree_->nodes.end_index(index_);
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
  Children children() const { return {iterator(tree_, index_ + 1), iterator(tree_, tree_->nodes.end_index(index_))}; }

 private:
  const ParseTree* tree_;
  size_t index_;
};

}  // namespace brackwater::velquin
