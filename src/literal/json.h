// JSON literals: the strict validator and the value tree that equality compares.
//
// `parse_json_literal` accepts exactly one JSON value (any kind at the top level) and reports the
// first fault with a message naming a 0-based byte offset, for example "trailing JSON data at byte 9"
// or "expected ':' at JSON byte 4". Parsing, equality and destruction are iterative: nesting depth
// is limited only by memory, never by the stack.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "literal/decimal.h"
#include "literal/literal.h"

namespace brackwater::literal {

// A parsed JSON value held in flat arrays. Object members are kept sorted by their decoded key bytes.
class JsonTree {
 public:
  enum class Type : uint8_t { Null, Bool, Number, String, Array, Object };

  Type root_type() const { return nodes_[root_].type; }
  // Number of values in the tree, containers included.
  size_t value_count() const { return nodes_.size(); }

  // Same variant on both sides; numbers by value, strings by decoded bytes, arrays in order,
  // objects by their sorted members.
  friend bool json_equal(const JsonTree& a, const JsonTree& b);

 private:
  friend class JsonLiteralParser;

  struct Node {
    Type type;
    bool flag;    // Bool: the value
    size_t a, b;  // Number, String: offset and length in strings_ (the number's text, the decoded string);
                  // Array, Object: first index in children_ and member count
  };

  std::string_view string_at(size_t node) const { return std::string_view(strings_).substr(nodes_[node].a, nodes_[node].b); }

  std::vector<Node> nodes_;
  std::vector<size_t> children_;  // arrays: value nodes; objects: key node, value node per member
  std::string strings_;
  size_t root_ = 0;
};

Parsed<JsonTree> parse_json_literal(std::string_view text);
bool json_equal(const JsonTree& a, const JsonTree& b);

}  // namespace brackwater::literal
