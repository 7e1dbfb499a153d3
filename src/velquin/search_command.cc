#include "velquin/search_command.h"

#include <algorithm>
#include <new>
#include <utility>

#include "construct/background_release.h"
#include "velquin/add_posit.h"
#include "velquin/fallback.h"
#include "velquin/mutation_binder.h"
#include "velquin/node_view.h"
#include "velquin/query/compile_cache.h"
#include "velquin/query/run.h"
#include "velquin/rule.h"

namespace brackwater::velquin {

using construct::EngineError;
using construct::fail;
using construct::Result;
using query::BindingKind;
using query::CompiledSearch;

namespace {

// The insert binders of an add branch, each name once in the order first met, with their kinds.
class BranchBinders {
 public:
  Result<void> walk(NodeView branch);

  const VariableKinds& kinds() const { return kinds_; }
  const std::vector<std::string>& names() const { return names_; }

 private:
  Result<void> record(NodeView binder, BinderKind kind);
  Result<void> posit(NodeView posit);
  Result<void> assertion(NodeView clause);

  VariableKinds kinds_;
  std::vector<std::string> names_;
};

std::string rule_text(Rule rule) { return std::string(rule_name(rule)); }

Result<void> BranchBinders::record(NodeView binder, BinderKind kind) {
  auto name = lower_mutation_binder(binder);
  if (!name) return fail(std::move(name.error()));
  const bool known = kinds_.find(*name).has_value();
  if (auto r = kinds_.record(*name, kind); !r) return r;
  if (!known) names_.push_back(std::move(*name));
  return {};
}

Result<void> BranchBinders::walk(NodeView branch) {
  for (NodeView item : branch.children()) {
    Result<void> r;
    if (item.rule() == Rule::posit) {
      r = posit(item);
    } else if (item.rule() == Rule::and_assert_clause) {
      r = assertion(item);
    } else {
      return fail(EngineError::internal("unexpected or-add component " + rule_text(item.rule())));
    }
    if (!r) return r;
  }
  return {};
}

Result<void> BranchBinders::posit(NodeView posit) {
  auto unexpected = [](Rule rule) {
    return fail(EngineError::internal("unexpected fallback posit component " + rule_text(rule)));
  };
  for (NodeView child : posit.children()) {
    switch (child.rule()) {
      case Rule::insert:
        if (auto r = record(child, BinderKind::Posit); !r) return r;
        break;
      case Rule::appearance_set:
        for (NodeView appearance : child.children()) {
          if (appearance.rule() != Rule::appearance) return unexpected(appearance.rule());
          for (NodeView part : appearance.children()) {
            if (part.rule() == Rule::insert) {
              if (auto r = record(part, BinderKind::Thing); !r) return r;
            } else if (part.rule() != Rule::recall && part.rule() != Rule::role) {
              return unexpected(part.rule());
            }
          }
        }
        break;
      case Rule::appearing_value:
      case Rule::appearance_time: break;
      default: return unexpected(child.rule());
    }
  }
  return {};
}

Result<void> BranchBinders::assertion(NodeView clause) {
  for (NodeView child : clause.children()) {
    switch (child.rule()) {
      case Rule::assertion_binding:
        if (auto r = record(child, BinderKind::Posit); !r) return r;
        break;
      case Rule::assertion_source: {
        auto operand = child.first_child();
        if (!operand) return fail(EngineError::internal("assertion source is empty"));
        if (operand->rule() == Rule::insert) {
          if (auto r = record(*operand, BinderKind::Thing); !r) return r;
        }
        break;
      }
      case Rule::assertion_certainty:
      case Rule::assertion_time: break;
      default:
        return fail(EngineError::internal("unexpected fallback assertion component " + rule_text(child.rule())));
    }
  }
  return {};
}

// The checks of the returned and ordered variables against the branch, and the fallback's
// projection of the return clause.
Result<FallbackProjection> project_fallback(const CompiledSearch& search, const BranchBinders& binders) {
  FallbackProjection out;
  const query::SearchQuery& q = search.query;
  for (const query::Var& v : q.returns) {
    if (std::find(binders.names().begin(), binders.names().end(), v.name) == binders.names().end()) {
      return fail(EngineError::execution("or-add fallback cannot supply returned variable '?" + v.name + "'; bind '+" +
                                         v.name + "' in the add branch or omit return"));
    }
    if (!search.domains.find(v.name)) {
      return fail(EngineError::internal("validated return variable '" + v.name + "' has no search domain"));
    }
    auto kind = binders.kinds().find(v.name);
    if (!kind) {
      return fail(EngineError::internal("validated fallback return variable '" + v.name + "' has no allocation domain"));
    }
    auto at = std::find(out.variables.begin(), out.variables.end(), v.name);
    if (at == out.variables.end()) at = out.variables.insert(at, v.name);
    out.column_variables.push_back(static_cast<size_t>(at - out.variables.begin()));
    out.column_kinds.push_back(*kind == BinderKind::Posit ? ValueKind::Posit : ValueKind::Thing);
  }
  for (const query::OrderItem& item : q.order_items) {
    auto at = std::find(out.variables.begin(), out.variables.end(), item.variable.name);
    if (at == out.variables.end()) {
      return fail(EngineError::internal("validated ORDER BY variable '" + item.variable.name + "' is not projected"));
    }
    out.order_keys.push_back(FallbackOrderKey{static_cast<size_t>(at - out.variables.begin()), item.descending});
  }
  out.distinct = q.distinct;
  // An insert binder that the search binds in another domain.
  for (const std::string& name : binders.names()) {
    auto domain = search.domains.find(name);
    const BinderKind kind = *binders.kinds().find(name);
    const BindingKind branch = kind == BinderKind::Posit ? BindingKind::Posit : BindingKind::Thing;
    if (domain && *domain != branch) {
      return fail(EngineError::incompatible_domains(query::binding_kind_name(*domain), binder_kind_name(kind), name));
    }
  }
  return out;
}

// Runs a part of the search: it reads the engine and changes only its own buffers and the thread's
// caches, which stay consistent when an allocation fails, so a failed allocation ends the statement
// with an error rather than the process.
template <class Step>
auto searching(Step&& step) -> decltype(step()) {
  try {
    return step();
  } catch (const std::bad_alloc&) {
    return fail(EngineError::execution("search ran out of memory"));
  }
}

// A compiled search of many patterns is many small blocks: freeing it takes time in proportion to
// its patterns, so a large one is freed in the background.
class CompiledRelease {
 public:
  explicit CompiledRelease(std::optional<CompiledSearch>& own) : own_(own) {}
  ~CompiledRelease() {
    constexpr size_t kManyPatterns = 4096;
    if (!own_) return;
    size_t patterns = 0;
    for (const auto& group : own_->query.groups) patterns += group.size();
    for (const auto& group : own_->query.not_exists_groups) patterns += group.size();
    if (patterns >= kManyPatterns) construct::destroy_later(std::move(*own_));
  }
  CompiledRelease(const CompiledRelease&) = delete;
  CompiledRelease& operator=(const CompiledRelease&) = delete;

 private:
  std::optional<CompiledSearch>& own_;
};

}  // namespace

Result<SearchCommandOutcome> execute_search_command(construct::Engine& engine, const Pair& search,
                                                    ScriptVariables& variables, BoundedRowSink& sink,
                                                    std::optional<std::vector<std::string>>& columns,
                                                    const ExecContext& ctx) {
  std::optional<Pair> branch;
  for (Pair child : search.children()) {
    if (child.rule() == Rule::or_add_clause) {
      branch = child;
      break;
    }
  }
  std::optional<CompiledSearch> own;
  const CompiledRelease release_own(own);
  auto compiled = searching([&] { return query::compile_search_cached(search, ctx, own); });
  if (!compiled) return fail(std::move(compiled.error()));

  if (!branch) {
    // Without an add branch nothing reads what the search bound.
    auto outcome = searching([&] { return query::run_search(engine, **compiled, sink, columns, ctx, false); });
    if (!outcome) return fail(std::move(outcome.error()));
    return SearchCommandOutcome{outcome->returned};
  }

  BranchBinders binders;
  if (auto r = binders.walk(NodeView(branch->tree().get(), branch->index())); !r) return fail(std::move(r.error()));
  auto projection = project_fallback(**compiled, binders);
  if (!projection) return fail(std::move(projection.error()));

  auto outcome = searching([&] { return query::run_search(engine, **compiled, sink, columns, ctx); });
  if (!outcome) return fail(std::move(outcome.error()));
  if (outcome->matched_rows > 0) {
    // Get or create: later statements see what the search found under the branch's names.
    for (const query::OutcomeBinding& found : outcome->bindings) {
      if (!binders.kinds().find(found.name)) continue;
      auto ids = result_set_binding(found.identities);
      if (!ids) return fail(std::move(ids.error()));
      for (Identity id : *ids) bind_identity(variables, found.name, id);
    }
    return SearchCommandOutcome{outcome->returned};
  }
  if (auto r = execute_add_posit_command(engine, *branch, variables, ctx.now, ctx); !r) return fail(std::move(r.error()));
  if (outcome->returned && !outcome->stopped) {
    auto rows = searching([&] { return bind_or_add_fallback(variables, *projection, sink, ctx); });
    if (!rows) return fail(std::move(rows.error()));
  }
  return SearchCommandOutcome{outcome->returned};
}

}  // namespace brackwater::velquin
