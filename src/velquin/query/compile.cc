#include "velquin/query/compile.h"

#include <algorithm>
#include <bit>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <utility>
#include <vector>

#include <boost/container/small_vector.hpp>

#include "velquin/merge_sort.h"
#include "velquin/node_view.h"
#include "velquin/query/lower_operand.h"
#include "velquin/query/lower_pattern.h"
#include "velquin/query/pattern_vars.h"
#include "velquin/query/pattern_walk.h"

namespace brackwater::velquin::query {

using construct::EngineError;
using construct::fail;
using construct::Result;

namespace {

// A search of many patterns, or of wide ones, takes long to compile: the loops over its patterns
// and clauses count their work on the context's budget. Lowering a pattern costs about a unit for
// every few bytes of its text; a walk over a lowered pattern a unit per entry.
uint64_t lowering_work(NodeView pattern) { return 1 + pattern.text().size() / 4; }
uint64_t walk_work(const PositPattern& pattern) { return 1 + pattern.appearances.size(); }

// The posit_search children of a search, union or not-exists clause; other children are skipped.
Result<PatternGroup> lower_group(NodeView clause, const ExecContext& ctx) {
  PatternGroup group;
  size_t count = 0;
  for (NodeView child : clause.children()) count += child.rule() == Rule::posit_search ? 1 : 0;
  group.reserve(count);
  for (NodeView child : clause.children()) {
    if (child.rule() != Rule::posit_search) continue;
    if (auto stop = ctx.work(lowering_work(child)); !stop) return fail(std::move(stop.error()));
    if (auto r = lower_posit_pattern_into(child, ctx, group.emplace_back()); !r) return fail(std::move(r.error()));
  }
  return group;
}

Result<void> lower_where(NodeView clause, const ExecContext& ctx, SearchQuery& query) {
  for (NodeView condition : clause.children()) {
    if (condition.rule() != Rule::condition) continue;
    std::optional<NodeView> parts[3];
    size_t count = 0;
    for (NodeView part : condition.children()) {
      if (count == 3) break;
      parts[count++] = part;
    }
    if (!parts[0]) return fail(EngineError::internal("predicate has no left operand"));
    if (!parts[1]) return fail(EngineError::internal("predicate has no operator"));
    if (!parts[2]) return fail(EngineError::internal("predicate has no right operand"));
    auto right = lower_predicate(*parts[2], ctx);
    if (!right) return fail(std::move(right.error()));
    query.predicates.push_back(
        Predicate{Var{variable_name(*parts[0])}, std::string(parts[1]->text()), std::move(*right)});
  }
  return {};
}

Result<void> lower_return(NodeView clause, SearchQuery& query) {
  for (NodeView child : clause.children()) {
    if (child.rule() == Rule::distinct) {
      query.distinct = true;
    } else if (child.rule() == Rule::variable_reference) {
      query.returns.push_back(Var{variable_name(child)});
    } else {
      return fail(unexpected_rule("unexpected return component", child.rule()));
    }
  }
  return {};
}

// Exactly "desc" in any ASCII letter case.
bool is_desc(std::string_view word) {
  constexpr std::string_view desc = "desc";
  if (word.size() != desc.size()) return false;
  for (size_t i = 0; i < desc.size(); ++i) {
    char c = word[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != desc[i]) return false;
  }
  return true;
}

Result<void> lower_order_by(NodeView clause, SearchQuery& query) {
  for (NodeView item : clause.children()) {
    if (item.rule() != Rule::order_item) continue;
    std::optional<Var> variable;
    bool descending = false;
    for (NodeView child : item.children()) {
      if (child.rule() == Rule::variable_reference) {
        variable = Var{variable_name(child)};
      } else if (child.rule() == Rule::direction) {
        descending = is_desc(child.text());
      } else {
        return fail(unexpected_rule("unexpected order component", child.rule()));
      }
    }
    if (!variable) return fail(EngineError::internal("order item has no variable"));
    query.order_items.push_back(OrderItem{std::move(*variable), descending});
  }
  return {};
}

Result<SearchQuery> lower_search(NodeView search, const ExecContext& ctx) {
  SearchQuery query;
  for (NodeView clause : search.children()) {
    Result<void> lowered;
    switch (clause.rule()) {
      case Rule::search_clause:
      case Rule::union_clause:
      case Rule::not_exists_clause: {
        auto group = lower_group(clause, ctx);
        if (!group) return fail(std::move(group.error()));
        auto& groups = clause.rule() == Rule::not_exists_clause ? query.not_exists_groups : query.groups;
        groups.push_back(std::move(*group));
        break;
      }
      case Rule::where_clause: lowered = lower_where(clause, ctx, query); break;
      case Rule::return_clause: lowered = lower_return(clause, query); break;
      case Rule::order_by_clause: lowered = lower_order_by(clause, query); break;
      case Rule::limit_clause:
      case Rule::or_add_clause: break;  // read by the search command
      default: return fail(unexpected_rule("unexpected query clause", clause.rule()));
    }
    if (!lowered) return fail(std::move(lowered.error()));
  }
  if (query.groups.empty() || query.groups.front().empty()) {
    return fail(EngineError::execution("a search requires at least one posit pattern"));
  }
  return query;
}

Result<void> record_groups(const std::vector<PatternGroup>& groups, VariableDomains& domains, const ExecContext& ctx) {
  for (const PatternGroup& group : groups) {
    for (size_t i = 0; i < group.size(); ++i) {
      if (auto stop = ctx.work(walk_work(group[i])); !stop) return stop;
      if (auto r = collect_bound_variables(group[i], domains); !r) return r;
    }
  }
  return {};
}

// Union members and cutoff variables of the positive groups must be bound by a positive pattern.
Result<void> check_recalls(const SearchQuery& query, const VariableDomains& domains, const ExecContext& ctx) {
  for (const PatternGroup& group : query.groups) {
    for (size_t i = 0; i < group.size(); ++i) {
      if (auto stop = ctx.work(walk_work(group[i])); !stop) return stop;
      const PositPattern& pattern = group[i];
      const Var* missing = nullptr;
      for_each_pattern_var(pattern, [&](const Var& var, std::optional<BindingKind> kind) {
        if (!kind && missing == nullptr && !domains.find(var.name)) missing = &var;
      });
      if (missing != nullptr) {
        return fail(EngineError::invalid_query_recall("'" + missing->name + "' is not bound by a positive pattern"));
      }
    }
  }
  return {};
}

Result<void> check_known(const Var& var, const VariableDomains& domains) {
  if (domains.find(var.name)) return {};
  return fail(EngineError::unknown_variable(var.name));
}

Result<void> check_references(const SearchQuery& query, const VariableDomains& domains, const ExecContext& ctx) {
  for (const Predicate& predicate : query.predicates) {
    if (auto stop = ctx.work(1); !stop) return stop;
    if (auto r = check_known(predicate.left, domains); !r) return r;
    if (auto* right = std::get_if<Var>(&predicate.right)) {
      if (auto r = check_known(*right, domains); !r) return r;
    }
  }
  std::unordered_set<std::string_view> returned;
  returned.reserve(query.returns.size());
  for (const Var& var : query.returns) {
    if (auto stop = ctx.work(1); !stop) return stop;
    if (auto r = check_known(var, domains); !r) return r;
    returned.insert(var.name);
  }
  for (const OrderItem& item : query.order_items) {
    if (auto stop = ctx.work(1); !stop) return stop;
    if (auto r = check_known(item.variable, domains); !r) return r;
    if (!returned.contains(item.variable.name)) {
      return fail(
          EngineError::invalid_query_recall("ORDER BY variable '" + item.variable.name + "' must be projected"));
    }
  }
  return {};
}

// Every Var of the query that is not inside a pattern.
template <class Query, class F>
void for_each_clause_var(Query& query, F&& f) {
  for (auto& predicate : query.predicates) {
    f(predicate.left);
    if (auto* right = std::get_if<Var>(&predicate.right)) f(*right);
  }
  for (auto& var : query.returns) f(var);
  for (auto& item : query.order_items) f(item.variable);
}

template <class Query, class F>
void for_each_group(Query& query, F&& f) {
  for (auto& group : query.groups) {
    for (auto& pattern : group) f(pattern);
  }
  for (auto& group : query.not_exists_groups) {
    for (auto& pattern : group) f(pattern);
  }
}

// Names every variable of the search by its position in the byte-sorted name list, and writes the
// ids into every Var. A via pattern is shared read-only, so it is replaced by a filled copy.
Result<void> assign_variable_ids(CompiledSearch& compiled, const ExecContext& ctx) {
  SearchQuery& query = compiled.query;
  std::vector<std::string_view> names;
  auto add = [&](const Var& var) { names.push_back(var.name); };
  for_each_group(std::as_const(query), [&](const PositPattern& pattern) {
    for_each_pattern_var(pattern, [&](const Var& var, std::optional<BindingKind>) { add(var); });
  });
  for_each_clause_var(std::as_const(query), add);
  size_t longest = 0;
  for (const std::string_view name : names) longest = std::max(longest, name.size());
  if (auto stop = ctx.work(names.size()); !stop) return stop;
  auto sorted = stable_merge_sort(names, std::less<>(), ctx.budget(), construct::work_for_bytes(longest));
  if (!sorted) return sorted;
  names.erase(std::unique(names.begin(), names.end()), names.end());
  compiled.variables.assign(names.begin(), names.end());

  auto fill = [&](Var& var) { var.id = *compiled.find_variable(var.name); };
  std::optional<EngineError> stopped;
  // Each Var is found by a binary search of the names.
  const uint64_t find_work = construct::work_for_bytes(longest) * std::bit_width(names.size());
  for_each_group(query, [&](PositPattern& pattern) {
    if (stopped) return;
    if (auto stop = ctx.work(find_work * walk_work(pattern)); !stop) {
      stopped = std::move(stop.error());
      return;
    }
    for (PositPattern* p = &pattern; p != nullptr;) {
      for_each_own_var(*p, [&](Var& var, std::optional<BindingKind>) { fill(var); });
      if (!via_pattern(*p)) break;
      auto via = std::make_shared<PositPattern>(*p->in_effect->via);
      p->in_effect->via = via;
      p = via.get();
    }
  });
  for_each_clause_var(query, [&](Var& var) {
    if (stopped) return;
    if (auto stop = ctx.work(find_work); !stop) {
      stopped = std::move(stop.error());
      return;
    }
    fill(var);
  });
  if (stopped) return fail(std::move(*stopped));
  return {};
}

}  // namespace

Result<CompiledSearch> compile_search(const Pair& search, const ExecContext& ctx) {
  if (auto stop = ctx.check_stop(); !stop) return fail(std::move(stop.error()));
  auto query = lower_search(NodeView(search.tree().get(), search.index()), ctx);
  if (!query) return fail(std::move(query.error()));

  Result<CompiledSearch> out(std::in_place);  // returned as it is, so the search is not moved
  CompiledSearch& compiled = *out;
  compiled.query = std::move(*query);
  if (auto r = record_groups(compiled.query.groups, compiled.domains, ctx); !r) return fail(std::move(r.error()));
  if (auto r = check_recalls(compiled.query, compiled.domains, ctx); !r) return fail(std::move(r.error()));
  if (auto r = record_groups(compiled.query.not_exists_groups, compiled.domains, ctx); !r) {
    return fail(std::move(r.error()));
  }
  if (auto r = check_references(compiled.query, compiled.domains, ctx); !r) return fail(std::move(r.error()));
  if (auto r = assign_variable_ids(compiled, ctx); !r) return fail(std::move(r.error()));
  return out;
}

}  // namespace brackwater::velquin::query
