// Search planning: greedy join order by the smallest Role posting among the ready patterns.
#include "velquin/query/plan.h"

#include <optional>
#include <string>

#include <boost/container/small_vector.hpp>

#include "velquin/query/pattern_vars.h"
#include "velquin/query/pattern_walk.h"

namespace brackwater::velquin::query {

using construct::fail;
using construct::Result;

namespace {

// u64 max without a named Role; 0 when one names no Role; else the smallest posting of them.
Result<uint64_t> estimate(construct::Engine& engine, const PositPattern& pattern, RoleLookup& roles) {
  boost::container::small_vector<const std::string*, 4> names;
  for (const AppearanceSearch& entry : pattern.appearances) {
    if (auto* role = std::get_if<RoleName>(&entry.role)) names.push_back(&role->name);
  }
  if (names.empty()) return UINT64_MAX;
  return smallest_named_role_posting(engine, std::span(names.data(), names.size()), roles);
}

struct Pending {
  const PositPattern* pattern;
  std::optional<uint64_t> estimate;  // the engine does not change while a search runs
};

}  // namespace

Result<SearchPlan> plan_search(construct::Engine& engine, const PatternGroup& group, const std::vector<bool>& bound_before,
                               const CompiledSearch& search, const ExecContext& ctx, RoleLookup* roles) {
  RoleLookup own_roles;
  RoleLookup& lookup = roles != nullptr ? *roles : own_roles;
  boost::container::small_vector<Pending, 8> remaining;
  for (const PositPattern& p : group) remaining.push_back(Pending{&p, std::nullopt});
  boost::container::small_vector<bool, 64> bound(bound_before.begin(), bound_before.end());
  auto is_bound = [&bound](VarId id) { return id < bound.size() && bound[id]; };
  auto ready = [&is_bound](const PositPattern& pattern) {
    bool all = true;
    for_each_pattern_var(pattern, [&](const Var& var, std::optional<BindingKind> kind) {
      if (!kind && !is_bound(var.id)) all = false;
    });
    return all;
  };

  SearchPlan plan;
  plan.reserve(group.size());
  // A pass looks at every remaining pattern, walking its entries, and moves the patterns after the
  // one it takes: a unit for each pattern and each entry still remaining.
  auto look_work = [](const PositPattern& p) { return 1 + p.appearances.size(); };
  uint64_t pass_work = 0;
  for (const Pending& p : remaining) pass_work += look_work(*p.pattern);
  while (!remaining.empty()) {
    if (auto stop = ctx.work(pass_work); !stop) return fail(std::move(stop.error()));
    size_t choice = remaining.size();
    for (size_t i = 0; i < remaining.size(); ++i) {
      Pending& p = remaining[i];
      if (!ready(*p.pattern)) continue;
      if (!p.estimate) {
        auto e = estimate(engine, *p.pattern, lookup);
        if (!e) return fail(std::move(e.error()));
        p.estimate = *e;
      }
      if (choice == remaining.size() || *p.estimate < *remaining[choice].estimate) choice = i;
    }
    if (choice == remaining.size()) {
      std::string missing;
      for (const Pending& p : remaining) {
        for (const VarId id : pattern_required_variables(*p.pattern)) {
          if (is_bound(id)) continue;
          if (!missing.empty()) missing += ", ";
          missing += search.variables[id];
        }
      }
      return fail(construct::EngineError::invalid_query_recall("query has unresolvable variable dependencies: " + missing));
    }
    const PositPattern* chosen = remaining[choice].pattern;
    remaining.erase(remaining.begin() + static_cast<std::ptrdiff_t>(choice));
    pass_work -= look_work(*chosen);
    plan.push_back(chosen);
    for_each_pattern_var(*chosen, [&](const Var& var, std::optional<BindingKind> kind) {
      if (!kind) return;
      if (var.id >= bound.size()) bound.resize(var.id + 1, false);
      bound[var.id] = true;
    });
  }
  return plan;
}

}  // namespace brackwater::velquin::query
