#include "velquin/query/run.h"

#include <boost/container/small_vector.hpp>

#include "effect/effect_cache.h"
#include "velquin/distinct_rows.h"
#include "velquin/query/match.h"
#include "velquin/query/order.h"
#include "velquin/query/plan.h"
#include "velquin/query/predicate.h"
#include "velquin/query/render.h"

namespace brackwater::velquin::query {

using construct::Engine;
using construct::EngineError;
using construct::fail;
using construct::Result;

namespace {

class SearchRun {
 public:
  SearchRun(Engine& engine, const CompiledSearch& search, const ExecContext& ctx, bool keep_bindings)
      : engine_(engine), search_(search), ctx_(ctx), width_(search.variables.size()), keep_bindings_(keep_bindings) {}

  Result<SearchOutcome> run(RowSink& sink, std::optional<std::vector<std::string>>& columns);

 private:
  // Extends every row of `rows` by the plan's patterns in turn; stops early once no row is left.
  Result<void> join(const SearchPlan& plan, RowTable& rows);
  Result<void> join_groups();
  Result<void> filter_not_exists();
  Result<void> filter_predicates();
  Result<void> record_bindings(SearchOutcome& outcome) const;
  Result<void> check_returns() const;
  Result<SearchOutcome> emit(RowSink& sink, std::optional<std::vector<std::string>>& columns, SearchOutcome outcome);

  Engine& engine_;
  const CompiledSearch& search_;
  const ExecContext& ctx_;
  const size_t width_;
  const bool keep_bindings_;
  effect::EffectCache cache_;
  reads::RoleLookup roles_;
  RowTable rows_{0};
  RowTable spare_{0};  // join's second buffer
  std::vector<size_t> live_;  // the rows still in the result, as indices into rows_
};

Result<void> SearchRun::join(const SearchPlan& plan, RowTable& rows) {
  RowTable& next = spare_;
  for (const PositPattern* pattern : plan) {
    next.clear();
    for (size_t i = 0; i < rows.size(); ++i) {
      if (auto stop = ctx_.check_stop(); !stop) return stop;
      if (auto r = match_pattern_for_row(engine_, *pattern, rows.row(i), ctx_, cache_, next, &roles_); !r) return r;
    }
    std::swap(rows, next);
    if (rows.empty()) break;
  }
  return {};
}

Result<void> SearchRun::join_groups() {
  rows_ = RowTable(width_);
  spare_ = RowTable(width_);
  const std::vector<bool> none_bound(width_, false);
  const bool one_group = search_.query.groups.size() == 1;
  RowTable group_rows(width_);
  for (const PatternGroup& group : search_.query.groups) {
    auto plan = plan_search(engine_, group, none_bound, search_, &roles_);
    if (!plan) return fail(std::move(plan.error()));
    // A single group is joined in place; the rows of several are concatenated.
    RowTable& rows = one_group ? rows_ : group_rows;
    rows.clear();
    rows.push_unbound();
    if (auto r = join(*plan, rows); !r) return r;
    if (!one_group) rows_.append(rows);
  }
  live_.resize(rows_.size());
  for (size_t i = 0; i < live_.size(); ++i) live_[i] = i;
  return {};
}

Result<void> SearchRun::filter_not_exists() {
  if (search_.query.not_exists_groups.empty()) return {};
  RowTable probe(width_);
  std::vector<bool> bound(width_);
  for (const PatternGroup& group : search_.query.not_exists_groups) {
    std::vector<size_t> kept;
    kept.reserve(live_.size());
    for (size_t r : live_) {
      if (auto stop = ctx_.check_stop(); !stop) return stop;
      auto row = rows_.row(r);
      for (size_t v = 0; v < width_; ++v) bound[v] = is_bound(row[v]);
      auto plan = plan_search(engine_, group, bound, search_, &roles_);
      if (!plan) return fail(std::move(plan.error()));
      probe.clear();
      probe.push(row);
      if (auto j = join(*plan, probe); !j) return j;
      if (probe.empty()) kept.push_back(r);
    }
    live_ = std::move(kept);
  }
  return {};
}

Result<void> SearchRun::filter_predicates() {
  for (const Predicate& predicate : search_.query.predicates) {
    size_t out = 0;
    for (size_t r : live_) {
      if (auto stop = ctx_.check_stop(); !stop) return stop;
      auto holds = evaluate_predicate(predicate, rows_.row(r));
      if (!holds) return fail(std::move(holds.error()));
      if (*holds) live_[out++] = r;
    }
    live_.resize(out);
  }
  return {};
}

Result<void> SearchRun::record_bindings(SearchOutcome& outcome) const {
  struct Entry {
    std::optional<BindingKind> kind;
    ResultBinding identities;
  };
  boost::container::small_vector<Entry, 8> entries(width_);
  for (size_t r : live_) {
    auto row = rows_.row(r);
    for (size_t v = 0; v < width_; ++v) {  // VarIds run in name-byte order
      Identity id;
      BindingKind kind;
      if (auto* t = std::get_if<ThingValue>(&row[v])) {
        id = t->id;
        kind = BindingKind::Thing;
      } else if (auto* p = std::get_if<PositValue>(&row[v])) {
        id = p->id;
        kind = BindingKind::Posit;
      } else {
        continue;
      }
      Entry& e = entries[v];
      if (!e.kind) {
        e.kind = kind;
      } else if (*e.kind != kind) {
        return fail(EngineError::incompatible_domains(binding_kind_name(*e.kind), binding_kind_name(kind),
                                                      search_.variables[v]));
      }
      if (keep_bindings_) e.identities.insert(id);
    }
  }
  if (!keep_bindings_) return {};
  for (size_t v = 0; v < width_; ++v) {
    if (entries[v].kind) {
      outcome.bindings.push_back(OutcomeBinding{search_.variables[v], *entries[v].kind, std::move(entries[v].identities)});
    }
  }
  return {};
}

Result<void> SearchRun::check_returns() const {
  for (size_t r : live_) {
    auto row = rows_.row(r);
    for (const Var& v : search_.query.returns) {
      if (bound_slot(row, v) == nullptr) return fail(EngineError::unknown_variable(v.name));
    }
  }
  return {};
}

Result<SearchOutcome> SearchRun::emit(RowSink& sink, std::optional<std::vector<std::string>>& columns,
                                      SearchOutcome outcome) {
  const SearchQuery& q = search_.query;
  // Distinct needs every rendered row; otherwise a row is rendered only when it is offered.
  std::vector<ResultRow> rendered;
  if (q.distinct) {
    rendered.reserve(live_.size());
    for (size_t r : live_) rendered.push_back(render_row(rows_.row(r), q.returns));
    const std::vector<bool> first = first_occurrences(rendered);
    size_t out = 0;
    for (size_t i = 0; i < rendered.size(); ++i) {
      if (!first[i]) continue;
      live_[out] = live_[i];
      if (out != i) rendered[out] = std::move(rendered[i]);
      ++out;
    }
    live_.resize(out);
    rendered.resize(out);
  }
  std::vector<size_t> order;
  if (!q.order_items.empty()) {
    auto sorted = order_permutation(rows_, live_, q.order_items);
    if (!sorted) return fail(std::move(sorted.error()));
    order = std::move(*sorted);
  }

  std::vector<std::string>& names = columns.emplace();
  names.reserve(q.returns.size());
  for (const Var& v : q.returns) names.push_back(v.name);
  outcome.returned = true;
  if (sink.begin(names)) {
    outcome.stopped = true;
    return outcome;
  }
  for (size_t i = 0; i < live_.size(); ++i) {
    if (auto stop = ctx_.check_stop(); !stop) return fail(std::move(stop.error()));
    const size_t at = order.empty() ? i : order[i];
    ResultRow row = q.distinct ? std::move(rendered[at]) : render_row(rows_.row(live_[at]), q.returns);
    if (sink.push(std::move(row))) {
      outcome.stopped = true;
      return outcome;
    }
  }
  return outcome;
}

Result<SearchOutcome> SearchRun::run(RowSink& sink, std::optional<std::vector<std::string>>& columns) {
  if (auto stop = ctx_.check_stop(); !stop) return fail(std::move(stop.error()));
  if (auto r = join_groups(); !r) return fail(std::move(r.error()));
  if (auto r = filter_not_exists(); !r) return fail(std::move(r.error()));
  if (auto r = filter_predicates(); !r) return fail(std::move(r.error()));
  SearchOutcome outcome;
  outcome.matched_rows = live_.size();
  if (auto r = record_bindings(outcome); !r) return fail(std::move(r.error()));
  if (search_.query.returns.empty()) return outcome;
  if (auto r = check_returns(); !r) return fail(std::move(r.error()));
  return emit(sink, columns, std::move(outcome));
}

}  // namespace

Result<SearchOutcome> run_search(Engine& engine, const CompiledSearch& search, RowSink& sink,
                                 std::optional<std::vector<std::string>>& columns, const ExecContext& ctx,
                                 bool keep_bindings) {
  SearchRun run(engine, search, ctx, keep_bindings);
  return run.run(sink, columns);
}

}  // namespace brackwater::velquin::query
