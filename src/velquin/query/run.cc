#include "velquin/query/run.h"

#include <boost/container/small_vector.hpp>

#include "construct/flat_table.h"
#include "construct/keyed_hash.h"
#include "effect/effect_cache.h"
#include "velquin/query/set_match.h"
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

// The units of work of one pattern-and-row step beside the rows it reads and makes: it takes
// component locks and looks postings up.
constexpr uint64_t kStepWork = 64;

// Whether `a` and `b` show the same cells for `returns` without rendering them: the same values,
// as bound_value_eq tells them apart, render alike (a false answer decides nothing).
bool same_returned_values(std::span<const BoundSlot> a, std::span<const BoundSlot> b, const std::vector<Var>& returns) {
  for (const Var& v : returns) {
    if (a[v.id].index() != b[v.id].index() || !bound_value_eq(a[v.id], b[v.id])) return false;
  }
  return true;
}

// A hash of the cells `row` shows for `returns`, read from the bound values without rendering
// them: each value feeds what its cell shows (an identity's number, a Role's name, a set's members,
// a literal's text; a time its display text), so rows that render alike hash alike.
uint64_t returned_hash(std::span<const BoundSlot> row, const std::vector<Var>& returns) {
  construct::KeyedHasher h;
  for (const Var& v : returns) {
    const BoundSlot& slot = row[v.id];
    h.write_u64(slot.index());
    switch (kind_of(slot)) {
      case BindingKind::Thing:
      case BindingKind::Posit: h.write_u64(identity_of(slot)); break;
      case BindingKind::Role: h.write(std::get<construct::RoleRef>(slot)->name); break;
      case BindingKind::AppearanceSet:
        for (const construct::AppearanceRef m : std::get<construct::AppearanceSetRef>(slot)->members) {
          h.write_u64(m->thing);
          h.write(m->role->name);
        }
        break;
      case BindingKind::LiteralValue: h.write(std::get<LiteralRef>(slot)->text); break;
      case BindingKind::Time: h.write(std::get<TimeValue>(slot).display()); break;
    }
    h.write_u8(0xFF);
  }
  return h.finish();
}

class SearchRun {
 public:
  SearchRun(Engine& engine, const CompiledSearch& search, const ExecContext& ctx, bool keep_bindings)
      : engine_(engine),
        search_(search),
        ctx_(ctx),
        width_(search.variables.size()),
        keep_bindings_(keep_bindings),
        live_charge_(&ctx.budget()) {}

  Result<SearchOutcome> run(RowSink& sink, std::optional<std::vector<std::string>>& columns);

 private:
  // Extends every row of `rows` by the plan's patterns in turn, stopping once no row is left: in
  // place, or appending the result to `into`.
  Result<void> join(const SearchPlan& plan, RowTable& rows, RowTable* into = nullptr);
  Result<void> join_groups();
  Result<void> filter_not_exists();
  Result<void> filter_predicates();
  Result<void> record_bindings(SearchOutcome& outcome) const;
  Result<void> check_returns() const;
  // Keeps in live_ only the first of rows that render alike, handing each kept row to `offer` (a
  // Result<bool>(row)) as it is found, until that answers true (then true).
  template <class Offer>
  Result<bool> distinct_rows(Offer&& offer);
  Result<SearchOutcome> emit(RowSink& sink, std::optional<std::vector<std::string>>& columns, SearchOutcome outcome);
  // Holds the bytes of live_ for `rows` rows.
  Result<void> charge_live(size_t rows) { return live_charge_.hold(construct::bytes_for(rows, sizeof(size_t))); }

  Engine& engine_;
  const CompiledSearch& search_;
  const ExecContext& ctx_;
  const size_t width_;
  const bool keep_bindings_;
  effect::EffectCache cache_;
  RoleLookup roles_;
  RowTable rows_{0};
  RowTable spare_{0};  // join's second buffer
  std::vector<size_t> live_;  // the rows still in the result, as indices into rows_
  construct::Charge live_charge_;
};

Result<void> SearchRun::join(const SearchPlan& plan, RowTable& rows, RowTable* into) {
  for (size_t p = 0; p < plan.size(); ++p) {
    // The last pattern's rows go straight to `into`, when given: they are never copied again.
    RowTable& next = into != nullptr && p + 1 == plan.size() ? *into : spare_;
    if (&next == &spare_) next.clear();
    for (size_t i = 0; i < rows.size(); ++i) {
      if (auto stop = ctx_.work(kStepWork + width_); !stop) return stop;
      if (auto r = match_pattern_for_row(engine_, *plan[p], rows.row(i), ctx_, cache_, next, &roles_); !r) return r;
    }
    if (&next != &spare_) return {};
    std::swap(rows, next);
    if (rows.empty()) return {};
  }
  if (into != nullptr) return into->append(rows);  // no pattern: the row as it came
  return {};
}

Result<void> SearchRun::join_groups() {
  construct::Budget* budget = &ctx_.budget();
  rows_ = RowTable(width_, budget);
  spare_ = RowTable(width_, budget);
  const std::vector<bool> none_bound(width_, false);
  const bool one_group = search_.query.groups.size() == 1;
  RowTable group_rows(width_, budget);
  for (const PatternGroup& group : search_.query.groups) {
    auto plan = plan_search(engine_, group, none_bound, search_, ctx_, &roles_);
    if (!plan) return fail(std::move(plan.error()));
    // A single group is joined in place; the rows of several follow one another in rows_.
    RowTable& rows = one_group ? rows_ : group_rows;
    rows.clear();
    if (auto r = rows.push_unbound(); !r) return r;
    if (auto r = join(*plan, rows, one_group ? nullptr : &rows_); !r) return r;
  }
  if (auto r = charge_live(rows_.size()); !r) return r;
  if (auto r = ctx_.work(rows_.size()); !r) return r;
  live_.resize(rows_.size());
  for (size_t i = 0; i < live_.size(); ++i) live_[i] = i;
  return {};
}

Result<void> SearchRun::filter_not_exists() {
  if (search_.query.not_exists_groups.empty()) return {};
  RowTable probe(width_, &ctx_.budget());
  std::vector<bool> bound(width_);
  for (const PatternGroup& group : search_.query.not_exists_groups) {
    construct::Charge kept_charge(&ctx_.budget());
    if (auto r = kept_charge.hold(construct::bytes_for(live_.size(), sizeof(size_t))); !r) return r;
    std::vector<size_t> kept;
    kept.reserve(live_.size());
    for (size_t r : live_) {
      if (auto stop = ctx_.work(kStepWork + width_); !stop) return stop;
      auto row = rows_.row(r);
      for (size_t v = 0; v < width_; ++v) bound[v] = is_bound(row[v]);
      auto plan = plan_search(engine_, group, bound, search_, ctx_, &roles_);
      if (!plan) return fail(std::move(plan.error()));
      probe.clear();
      if (auto r = probe.push(row); !r) return r;
      if (auto j = join(*plan, probe); !j) return j;
      if (probe.empty()) kept.push_back(r);
    }
    live_ = std::move(kept);
    live_charge_ = std::move(kept_charge);
  }
  return {};
}

Result<void> SearchRun::filter_predicates() {
  for (const Predicate& predicate : search_.query.predicates) {
    size_t out = 0;
    for (size_t r : live_) {
      auto row = rows_.row(r);
      uint64_t units = value_work(row[predicate.left.id]);
      if (auto* right = std::get_if<Var>(&predicate.right)) units += value_work(row[right->id]);
      if (auto stop = ctx_.work(units); !stop) return stop;
      auto holds = evaluate_predicate(predicate, row);
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
  for (size_t i = 0; i < live_.size(); ++i) {
    if (auto stop = ctx_.work(width_); !stop) return stop;
    auto row = rows_.row(live_[i]);
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
  for (size_t i = 0; i < live_.size(); ++i) {
    if (auto stop = ctx_.work(search_.query.returns.size()); !stop) return stop;
    auto row = rows_.row(live_[i]);
    for (const Var& v : search_.query.returns) {
      if (bound_slot(row, v) == nullptr) return fail(EngineError::unknown_variable(v.name));
    }
  }
  return {};
}

template <class Offer>
Result<bool> SearchRun::distinct_rows(Offer&& offer) {
  const std::vector<Var>& returns = search_.query.returns;
  // The kept rows by the hash of their cells, as positions in live_ (at most max_search_rows).
  construct::FlatTable<uint32_t> kept;
  construct::Charge kept_charge(&ctx_.budget());
  size_t out = 0;
  for (size_t i = 0; i < live_.size(); ++i) {
    auto row = rows_.row(live_[i]);
    if (auto stop = ctx_.work(values_work(row, returns)); !stop) return fail(std::move(stop.error()));
    const uint64_t h = returned_hash(row, returns);
    auto same = [&](uint32_t at) {
      auto earlier = rows_.row(live_[at]);
      return same_returned_values(earlier, row, returns) || render_row(earlier, returns) == render_row(row, returns);
    };
    if (kept.find(h, same) != nullptr) continue;
    if (auto r = kept.insert_new(h, static_cast<uint32_t>(out), kept_charge); !r) {
      return fail(std::move(r.error()));
    }
    live_[out++] = live_[i];
    auto stopped = offer(row);
    if (!stopped || *stopped) return stopped;
  }
  live_.resize(out);
  return false;
}

Result<SearchOutcome> SearchRun::emit(RowSink& sink, std::optional<std::vector<std::string>>& columns,
                                      SearchOutcome outcome) {
  const SearchQuery& q = search_.query;
  std::vector<std::string>& names = columns.emplace();
  names.reserve(q.returns.size());
  for (const Var& v : q.returns) names.push_back(v.name);
  outcome.returned = true;
  // Offers one row (its rendering counted as work); true once the sink stops.
  auto offer = [&](std::span<const BoundSlot> bound) -> Result<bool> {
    if (auto stop = ctx_.work(values_work(bound, q.returns)); !stop) return fail(std::move(stop.error()));
    auto stopped = sink.push(render_row(bound, q.returns));
    if (stopped && *stopped) outcome.stopped = true;
    return stopped;
  };
  auto done = [&](const Result<bool>& stopped) -> Result<SearchOutcome> {
    if (!stopped) return fail(stopped.error());
    return outcome;
  };
  // Without an order the rows are offered as they are found: distinct ones as they first appear.
  if (q.order_items.empty()) {
    if (sink.begin(names)) {
      outcome.stopped = true;
      return outcome;
    }
    if (q.distinct) {
      return done(distinct_rows(offer));
    }
    for (size_t r : live_) {
      auto stopped = offer(rows_.row(r));
      if (!stopped || *stopped) return done(stopped);
    }
    return outcome;
  }
  if (q.distinct) {
    auto kept = distinct_rows([](std::span<const BoundSlot>) -> Result<bool> { return false; });
    if (!kept) return fail(std::move(kept.error()));
  }
  // The sink takes at most its limit and is offered one row more, which it refuses: only that many
  // rows of the order are needed.
  std::optional<size_t> wanted;
  if (auto limit = sink.row_limit(); limit && *limit < live_.size()) wanted = static_cast<size_t>(*limit) + 1;
  construct::Charge order_charge(&ctx_.budget());  // the positions order_permutation gives
  if (auto r = order_charge.hold(construct::bytes_for(wanted.value_or(live_.size()), sizeof(size_t))); !r) {
    return fail(std::move(r.error()));
  }
  auto order = order_permutation(rows_, live_, q.order_items, ctx_, wanted);
  if (!order) return fail(std::move(order.error()));
  if (sink.begin(names)) {
    outcome.stopped = true;
    return outcome;
  }
  for (size_t at : *order) {
    auto stopped = offer(rows_.row(live_[at]));
    if (!stopped || *stopped) return done(stopped);
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
