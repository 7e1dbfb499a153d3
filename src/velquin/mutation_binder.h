// The variable that a binder node of an add branch binds ("+x", "and assert +q", "by +s").
#pragma once

#include <string>

#include "construct/error.h"
#include "velquin/node_view.h"

namespace brackwater::velquin {

// Follows first children down from `binder` to its `variable` node and returns that node's text;
// `Internal` "mutation binder contains no variable" when a node on the way has no child.
construct::Result<std::string> lower_mutation_binder(NodeView binder);

}  // namespace brackwater::velquin
