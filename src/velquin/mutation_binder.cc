#include "velquin/mutation_binder.h"

namespace brackwater::velquin {

construct::Result<std::string> lower_mutation_binder(NodeView binder) {
  NodeView node = binder;
  while (node.rule() != Rule::variable) {
    auto child = node.first_child();
    if (!child) return construct::fail(construct::EngineError::internal("mutation binder contains no variable"));
    node = *child;
  }
  return std::string(node.text());
}

}  // namespace brackwater::velquin
