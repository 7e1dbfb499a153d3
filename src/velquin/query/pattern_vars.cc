#include "velquin/query/pattern_vars.h"

#include <algorithm>

#include "velquin/query/pattern_walk.h"

namespace brackwater::velquin::query {

namespace {

// The ids of the variables for which `wanted(kind)` holds, each once.
template <class Wanted>
std::vector<VarId> pattern_ids(const PositPattern& pattern, Wanted wanted) {
  std::vector<VarId> ids;
  for_each_pattern_var(pattern, [&](const Var& var, std::optional<BindingKind> kind) {
    if (wanted(kind)) ids.push_back(var.id);
  });
  std::sort(ids.begin(), ids.end());
  ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
  return ids;
}

}  // namespace

std::vector<VarId> pattern_bound_variables(const PositPattern& pattern) {
  return pattern_ids(pattern, [](std::optional<BindingKind> kind) { return kind.has_value(); });
}

std::vector<VarId> pattern_required_variables(const PositPattern& pattern) {
  return pattern_ids(pattern, [](std::optional<BindingKind> kind) { return !kind.has_value(); });
}

construct::Result<void> collect_bound_variables(const PositPattern& pattern, VariableDomains& domains) {
  construct::Result<void> result;
  for_each_pattern_var(pattern, [&](const Var& var, std::optional<BindingKind> kind) {
    if (kind && result) result = domains.record(var.name, *kind);
  });
  return result;
}

}  // namespace brackwater::velquin::query
