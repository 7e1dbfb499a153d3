// Search planning: greedy join order by the smallest Role posting among the ready patterns.
#include "velquin/query/plan.h"

#include <optional>
#include <string>

#include "velquin/query/engine_reads.h"
#include "velquin/query/pattern_vars.h"

namespace brackwater::velquin::query {

using construct::fail;
using construct::Result;

namespace {

// u64 max without a named Role; 0 when one names no Role; else the smallest posting of them. The
// Role catalog and the posting index are locked one after the other.
Result<uint64_t> estimate(construct::Engine& engine, const PositPattern& pattern) {
  std::vector<const std::string*> names;
  for (const AppearanceSearch& entry : pattern.appearances) {
    if (auto* role = std::get_if<RoleName>(&entry.role)) names.push_back(&role->name);
  }
  if (names.empty()) return UINT64_MAX;
  auto ids = reads::role_ids(engine, names);
  if (!ids) return fail(std::move(ids.error()));
  if (!*ids) return uint64_t{0};
  return reads::smallest_role_posting(engine, **ids);
}

struct Pending {
  const PositPattern* pattern;
  std::vector<VarId> required;
  std::optional<uint64_t> estimate;  // the engine does not change while a search runs
};

}  // namespace

Result<SearchPlan> plan_search(construct::Engine& engine, const PatternGroup& group, std::vector<bool> bound,
                               const CompiledSearch& search) {
  std::vector<Pending> remaining;
  remaining.reserve(group.size());
  for (const PositPattern& p : group) remaining.push_back(Pending{&p, pattern_required_variables(p), std::nullopt});
  auto is_bound = [&bound](VarId id) { return id < bound.size() && bound[id]; };

  SearchPlan plan;
  plan.reserve(group.size());
  while (!remaining.empty()) {
    size_t choice = remaining.size();
    for (size_t i = 0; i < remaining.size(); ++i) {
      Pending& p = remaining[i];
      if (!std::all_of(p.required.begin(), p.required.end(), is_bound)) continue;
      if (!p.estimate) {
        auto e = estimate(engine, *p.pattern);
        if (!e) return fail(std::move(e.error()));
        p.estimate = *e;
      }
      if (choice == remaining.size() || *p.estimate < *remaining[choice].estimate) choice = i;
    }
    if (choice == remaining.size()) {
      std::string missing;
      for (const Pending& p : remaining) {
        for (const VarId id : p.required) {
          if (is_bound(id)) continue;
          if (!missing.empty()) missing += ", ";
          missing += search.variables[id];
        }
      }
      return fail(construct::EngineError::invalid_query_recall("query has unresolvable variable dependencies: " + missing));
    }
    const PositPattern* chosen = remaining[choice].pattern;
    remaining.erase(remaining.begin() + static_cast<std::ptrdiff_t>(choice));
    plan.push_back(chosen);
    for (const VarId id : pattern_bound_variables(*chosen)) {
      if (id >= bound.size()) bound.resize(id + 1, false);
      bound[id] = true;
    }
  }
  return plan;
}

}  // namespace brackwater::velquin::query
