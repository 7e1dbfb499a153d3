// Pattern matching: the extensions of one row by the Posits one pattern matches.
//
// Index branch: the row and the pattern give postings (a bound posit, a bound set, each Role and
// each bound Thing); the smallest is walked in ascending identity order and every other one is
// probed with `contains`, so no posting is copied per row. Without any posting every Posit is a
// candidate. The candidates' rows are built in `out` and filtered there in place: the as-of cutoff,
// the appearance-set slot, the supersession filter (before the value and time slots, or after them
// with `latest`), then the posit binding, value and time slots.
// In-effect branch: every assertion in effect at the cutoffs (computed once per cutoff pair and
// run, with no component lock held) is tried against the target, then its via pattern against the
// assertion Posit.
#include "velquin/query/match.h"

#include <algorithm>
#include <memory>
#include <string>

#include "construct/engine_reads.h"
#include "literal/compare.h"
#include "velquin/query/latest.h"
#include "velquin/query/set_match.h"

namespace brackwater::velquin::query {

using construct::EngineError;
using construct::fail;
using construct::IdentitySet;
using construct::PositRef;
using construct::Result;

namespace {

// One candidate posting: a single identity, a Role's bitmap, or the disjoint postings of some sets
// (a range of the workspace's posting pool, attached once the pool is complete).
class Candidates {
 public:
  static Candidates one(Identity id) {
    Candidates c;
    c.kind_ = Kind::One;
    c.one_ = id;
    c.size_ = 1;
    return c;
  }
  static Candidates bitmap(const IdentitySet* set) {
    Candidates c;
    c.kind_ = Kind::Bitmap;
    c.bitmap_ = set;
    c.size_ = set ? construct::identity_count(*set) : 0;
    return c;
  }
  static Candidates sets(size_t first, size_t count) {
    Candidates c;
    c.kind_ = Kind::Sets;
    c.first_ = first;
    c.count_ = count;
    return c;
  }

  void attach(const std::vector<const construct::Posting*>& pool) {
    if (kind_ != Kind::Sets) return;
    sets_ = std::span(pool).subspan(first_, count_);
    for (const construct::Posting* p : sets_) size_ += p->cardinality();
  }

  uint64_t size() const { return size_; }

  bool contains(Identity id) const {
    switch (kind_) {
      case Kind::One: return id == one_;
      case Kind::Bitmap: return bitmap_ != nullptr && bitmap_->contains(id);
      case Kind::Sets:
        return std::any_of(sets_.begin(), sets_.end(), [id](const construct::Posting* p) { return p->contains(id); });
    }
    return false;
  }

  // Appends, ascending, the identities of this posting that every one of `others` contains.
  void intersect(std::span<const Candidates* const> others, std::vector<Identity>& out) const {
    auto take = [&](Identity id) {
      for (const Candidates* o : others) {
        if (!o->contains(id)) return;
      }
      out.push_back(id);
    };
    switch (kind_) {
      case Kind::One: take(one_); return;
      case Kind::Bitmap:
        if (bitmap_ != nullptr) {
          for (const Identity id : *bitmap_) take(id);
        }
        return;
      case Kind::Sets:
        if (sets_.size() == 1) {
          sets_[0]->for_each(take);
          return;
        }
        // Several sets interleave: take them all, then order them (they are disjoint).
        const size_t base = out.size();
        for (const construct::Posting* p : sets_) p->for_each(take);
        std::sort(out.begin() + static_cast<std::ptrdiff_t>(base), out.end());
        return;
    }
  }

 private:
  enum class Kind : uint8_t { One, Bitmap, Sets };
  Kind kind_ = Kind::One;
  Identity one_ = 0;
  const IdentitySet* bitmap_ = nullptr;
  size_t first_ = 0, count_ = 0;
  std::span<const construct::Posting* const> sets_;
  uint64_t size_ = 0;
};

// Candidate lists up to this size stay with the thread between calls.
constexpr size_t kKeptCandidates = size_t(1) << 16;

// The buffers of the index branch, kept per thread between calls so that the rows of a join do not
// allocate them again; buffers grown large are released after the call. While a call uses them they
// are charged to its statement's budget (the candidate lists per candidate, the tables of the
// in-effect branch as they grow); what a thread keeps between calls is small and charged to none.
struct Workspace {
  std::vector<Identity> things;
  std::vector<const construct::Posting*> pool;
  std::vector<Candidates> postings;
  std::vector<const Candidates*> order;
  std::vector<Identity> ids;
  std::vector<PositRef> posits;
  std::vector<PositRef> owners;
  std::vector<uint32_t> kept;
  SetMatchScratch scratch;
  // The in-effect branch's.
  RowTable target_rows;
  RowTable via_rows;
  SetMatchScratch via_scratch;
  bool busy = false;

  void trim() {
    constexpr size_t kKeep = kKeptCandidates;
    if (ids.capacity() > kKeep) std::vector<Identity>().swap(ids);
    if (posits.capacity() > kKeep) std::vector<PositRef>().swap(posits);
    if (owners.capacity() > kKeep) std::vector<PositRef>().swap(owners);
    if (kept.capacity() > kKeep) std::vector<uint32_t>().swap(kept);
    if (pool.capacity() > kKeep) std::vector<const construct::Posting*>().swap(pool);
    if (target_rows.capacity_cells() > kKeep) target_rows = RowTable();
    if (via_rows.capacity_cells() > kKeep) via_rows = RowTable();
    target_rows.detach();
    via_rows.detach();
    scratch.trim();
    via_scratch.trim();
  }
};

// The calling thread's workspace, or a fresh one when it is in use.
class WorkspaceLease {
 public:
  WorkspaceLease() {
    thread_local Workspace shared;
    if (shared.busy) {
      own_ = std::make_unique<Workspace>();
      ws_ = own_.get();
    } else {
      ws_ = &shared;
    }
    ws_->busy = true;
  }
  ~WorkspaceLease() {
    ws_->busy = false;
    ws_->trim();
  }
  WorkspaceLease(const WorkspaceLease&) = delete;
  WorkspaceLease& operator=(const WorkspaceLease&) = delete;
  Workspace& operator*() { return *ws_; }

 private:
  std::unique_ptr<Workspace> own_;
  Workspace* ws_;
};

// The work of matching the value and time slots of `pattern` against `posit` under `row`: the row's
// cells, and the value's bytes when they are compared (reading them otherwise would only touch the
// Posit's memory).
uint64_t slots_work(const PositPattern& pattern, const construct::Posit& posit, std::span<const BoundSlot> row) {
  const Var* var = std::get_if<Var>(&pattern.value);
  const bool compared = std::holds_alternative<Literal>(pattern.value) || (var != nullptr && is_bound(row[var->id]));
  return row.size() + (compared ? construct::work_for_bytes(posit.value.text.size()) : 0);
}

void copy_row(RowTable& table, size_t from, size_t to) {
  auto src = table.row(from);
  std::copy(src.begin(), src.end(), table.row(to).begin());
}

// Moves the kept row `i` (from `base` on) and its Posit down to position `w`, the next kept place.
void keep_row(RowTable& out, size_t base, std::vector<PositRef>& owners, size_t i, size_t w) {
  if (w == i) return;
  copy_row(out, base + i, base + w);
  owners[w] = owners[i];
}

// Drops the rows from `base + kept` on, and their Posits.
void drop_rows_after(RowTable& out, size_t base, std::vector<PositRef>& owners, size_t kept) {
  owners.resize(kept);
  out.truncate(base + kept);
}

// Keeps, in place, the rows from `base` on whose Posits are the latest of their sets.
void retain_latest_rows(RowTable& out, size_t base, std::vector<PositRef>& owners, std::vector<uint32_t>& kept) {
  retain_latest_candidates(owners, kept);
  size_t w = 0;
  for (const uint32_t i : kept) keep_row(out, base, owners, i, w++);
  drop_rows_after(out, base, owners, w);
}

// The postings the row and the pattern give, in collection order, into `ws.postings`; false when a
// Role name names no Role.
Result<bool> collect_postings(construct::Engine& engine, const PositPattern& pattern, std::span<const BoundSlot> row,
                              bool widen_posit, RoleLookup& roles, Workspace& ws) {
  ws.postings.clear();
  ws.pool.clear();
  if (pattern.posit_binding) {
    const Var& var = *pattern.posit_binding;
    const BoundSlot& bound = row[var.id];
    if (is_bound(bound)) {
      if (!is_identity(bound)) return fail(wrong_kind(var, bound, BindingKind::Posit));
      auto posit = construct::reads::posit(engine, identity_of(bound));
      if (!posit) return fail(std::move(posit.error()));
      if (*posit == nullptr) {
        // An identity that names no Posit: an empty posting, so nothing is looked up.
        ws.postings.push_back(Candidates::sets(ws.pool.size(), 0));
      } else if (widen_posit) {
        // The supersession filter sees the bound Posit's whole set; the posit slot keeps the one.
        auto posting = construct::reads::set_posits(engine, *(*posit)->appearance_set);
        if (!posting) return fail(std::move(posting.error()));
        ws.postings.push_back(Candidates::sets(ws.pool.size(), *posting ? 1 : 0));
        if (*posting) ws.pool.push_back(*posting);
      } else {
        ws.postings.push_back(Candidates::one((*posit)->identity));
      }
    }
  }
  if (pattern.appearance_set_binding) {
    const Var& var = *pattern.appearance_set_binding;
    const BoundSlot& bound = row[var.id];
    if (is_bound(bound)) {
      auto* set = std::get_if<construct::AppearanceSetRef>(&bound);
      if (set == nullptr) return fail(wrong_kind(var, bound, BindingKind::AppearanceSet));
      auto posting = construct::reads::set_posits(engine, **set);
      if (!posting) return fail(std::move(posting.error()));
      ws.postings.push_back(Candidates::sets(ws.pool.size(), *posting ? 1 : 0));
      if (*posting) ws.pool.push_back(*posting);
    }
  }
  for (const AppearanceSearch& entry : pattern.appearances) {
    std::optional<Identity> role;
    if (auto* name = std::get_if<RoleName>(&entry.role)) {
      auto found = roles.find(engine, name->name);
      if (!found) return fail(std::move(found.error()));
      if (!*found) return false;
      role = (**found)->identity;
    } else if (auto* var = std::get_if<Var>(&entry.role)) {
      const BoundSlot& bound = row[var->id];
      if (is_bound(bound)) {
        auto* r = std::get_if<construct::RoleRef>(&bound);
        if (r == nullptr) return fail(wrong_kind(*var, bound, BindingKind::Role));
        role = (*r)->identity;
      }
    }
    if (role) {
      auto posting = construct::reads::role_posits(engine, *role);
      if (!posting) return fail(std::move(posting.error()));
      ws.postings.push_back(Candidates::bitmap(*posting));
    }
    ws.things.clear();
    if (auto* var = std::get_if<Var>(&entry.thing)) {
      const BoundSlot& bound = row[var->id];
      if (is_bound(bound)) {
        if (!is_identity(bound)) return fail(wrong_kind(*var, bound, BindingKind::Thing));
        ws.things.push_back(identity_of(bound));
      }
    } else if (auto* thing_union = std::get_if<ThingUnion>(&entry.thing)) {
      for (const Var& member : thing_union->members) {
        const BoundSlot& bound = row[member.id];
        if (!is_bound(bound)) return fail(EngineError::invalid_query_recall(member.name));
        if (!is_identity(bound)) return fail(wrong_kind(member, bound, BindingKind::Thing));
        ws.things.push_back(identity_of(bound));
      }
    }
    if (!ws.things.empty()) {
      const size_t first = ws.pool.size();
      if (auto r = construct::reads::thing_postings(engine, ws.things, role, ws.pool); !r) return fail(std::move(r.error()));
      ws.postings.push_back(Candidates::sets(first, ws.pool.size() - first));
    }
  }
  for (Candidates& c : ws.postings) c.attach(ws.pool);
  return true;
}

// The candidate identities into `ws.ids`, ascending: the smallest posting probed against the others.
void intersect(Workspace& ws) {
  ws.ids.clear();
  ws.order.clear();
  // A stable insertion sort by size: there are as many postings as the pattern has slots.
  for (const Candidates& c : ws.postings) {
    size_t at = ws.order.size();
    ws.order.push_back(&c);
    for (; at > 0 && c.size() < ws.order[at - 1]->size(); --at) ws.order[at] = ws.order[at - 1];
    ws.order[at] = &c;
  }
  if (ws.order.front()->size() == 0) return;
  ws.order.front()->intersect(std::span(ws.order).subspan(1), ws.ids);
}

Result<void> match_index(construct::Engine& engine, const PositPattern& pattern, std::span<const BoundSlot> row,
                         const ExecContext& ctx, RoleLookup& roles, RowTable& out) {
  std::optional<TimeValue> as_of;
  if (pattern.as_of) {
    auto cutoff = resolve_time_operand(*pattern.as_of, row);
    if (!cutoff) return fail(std::move(cutoff.error()));
    as_of = *cutoff;
  }
  WorkspaceLease lease;
  Workspace& ws = *lease;
  // Under "as of" without "latest" the supersession filter runs before the posit slot is checked.
  const bool widen_posit = as_of && !pattern.latest;
  auto any = collect_postings(engine, pattern, row, widen_posit, roles, ws);
  if (!any) return fail(std::move(any.error()));
  if (!*any) return {};
  if (ws.postings.empty()) {
    if (auto all = construct::reads::all_posit_ids(engine, ws.ids); !all) return all;
  } else {
    intersect(ws);
  }
  // Per candidate: its identity, its Posit, and the Posit and kept mark of each row it makes. What a
  // thread keeps between calls (trim) is not charged.
  constexpr size_t kCandidateBytes = sizeof(Identity) + 2 * sizeof(PositRef) + sizeof(uint32_t);
  construct::Charge candidates(ws.ids.size() > kKeptCandidates ? &ctx.budget() : nullptr);
  if (auto r = candidates.hold(construct::bytes_for(ws.ids.size(), kCandidateBytes)); !r) return r;
  auto posits = construct::reads::posits_by_identity(engine, ws.ids, ctx.budget(), ws.posits);
  if (!posits) return posits;

  const size_t base = out.size();
  const size_t width = row.size();
  std::vector<PositRef>& owners = ws.owners;  // the Posit of each row from `base` on
  owners.clear();
  for (const PositRef posit : ws.posits) {
    if (auto stop = ctx.work(1 + width); !stop) return stop;
    if (as_of && !TimeValue::is_at_or_before(posit->appearance_time, *as_of)) continue;
    if (auto matched = ws.scratch.match(pattern, *posit->appearance_set, row, out, ctx); !matched) return matched;
    owners.resize(out.size() - base, posit);
  }
  if (as_of && !pattern.latest) {
    if (auto stop = ctx.work(owners.size() * (1 + width)); !stop) return stop;
    retain_latest_rows(out, base, owners, ws.kept);
  }
  size_t w = 0;
  for (size_t i = 0; i < owners.size(); ++i) {
    if (auto stop = ctx.work(slots_work(pattern, *owners[i], out.row(base + i))); !stop) return stop;
    auto matched = match_value_and_time(pattern, *owners[i], out.row(base + i));
    if (!matched) return fail(std::move(matched.error()));
    if (*matched) keep_row(out, base, owners, i, w++);
  }
  drop_rows_after(out, base, owners, w);
  if (as_of && pattern.latest) {
    if (auto stop = ctx.work(owners.size() * (1 + width)); !stop) return stop;
    retain_latest_rows(out, base, owners, ws.kept);
  }
  return {};
}

Result<void> match_in_effect(construct::Engine& engine, const PositPattern& pattern, std::span<const BoundSlot> row,
                             const ExecContext& ctx, effect::EffectCache& cache, RowTable& out) {
  const InEffectClause& clause = *pattern.in_effect;
  auto assertion_cutoff = resolve_time_operand(clause.assertion_cutoff, row);
  if (!assertion_cutoff) return fail(std::move(assertion_cutoff.error()));
  auto appearance_cutoff = resolve_time_operand(clause.appearance_cutoff, row);
  if (!appearance_cutoff) return fail(std::move(appearance_cutoff.error()));
  auto effective = cache.get(engine, effect::EffectCutoffs{*assertion_cutoff, *appearance_cutoff}, ctx.budget());
  if (!effective) return fail(std::move(effective.error()));

  WorkspaceLease lease;
  Workspace& ws = *lease;
  RowTable& target_rows = ws.target_rows;
  RowTable& via_rows = ws.via_rows;
  SetMatchScratch& target_scratch = ws.scratch;
  SetMatchScratch& via_scratch = ws.via_scratch;
  if (auto r = target_rows.reset(row.size(), &ctx.budget()); !r) return r;
  if (auto r = via_rows.reset(row.size(), &ctx.budget()); !r) return r;
  for (const effect::EffectiveAssertion& e : **effective) {
    if (auto stop = ctx.work(1 + row.size()); !stop) return stop;
    target_rows.clear();
    if (auto m = target_scratch.match(pattern, *e.target->appearance_set, row, target_rows, ctx); !m) return m;
    for (size_t i = 0; i < target_rows.size(); ++i) {
      if (auto stop = ctx.work(slots_work(pattern, *e.target, target_rows.row(i))); !stop) return stop;
      auto matched = match_value_and_time(pattern, *e.target, target_rows.row(i));
      if (!matched) return fail(std::move(matched.error()));
      if (!*matched) continue;
      if (!clause.via) {
        if (auto r = out.push(target_rows.row(i)); !r) return r;
        continue;
      }
      via_rows.clear();
      if (auto m = via_scratch.match(*clause.via, *e.assertion->appearance_set, target_rows.row(i), via_rows, ctx); !m) {
        return m;
      }
      for (size_t j = 0; j < via_rows.size(); ++j) {
        if (auto stop = ctx.work(slots_work(*clause.via, *e.assertion, via_rows.row(j))); !stop) return stop;
        auto via_matched = match_value_and_time(*clause.via, *e.assertion, via_rows.row(j));
        if (!via_matched) return fail(std::move(via_matched.error()));
        if (!*via_matched) continue;
        if (auto r = out.push(via_rows.row(j)); !r) return r;
      }
    }
  }
  return {};
}

}  // namespace

Result<void> match_pattern_for_row(construct::Engine& engine, const PositPattern& pattern,
                                   std::span<const BoundSlot> row, const ExecContext& ctx, effect::EffectCache& cache,
                                   RowTable& out, RoleLookup* roles) {
  if (pattern.in_effect) return match_in_effect(engine, pattern, row, ctx, cache, out);
  if (roles != nullptr) return match_index(engine, pattern, row, ctx, *roles, out);
  RoleLookup own_roles;
  return match_index(engine, pattern, row, ctx, own_roles, out);
}

Result<bool> bind_or_check_slot(std::span<BoundSlot> row, const Var& var, const BoundSlot& candidate) {
  BoundSlot& bound = row[var.id];
  if (!is_bound(bound)) {
    bound = candidate;
    return true;
  }
  if (std::holds_alternative<PositValue>(bound) && std::holds_alternative<ThingValue>(candidate)) {
    return identity_of(bound) == identity_of(candidate);
  }
  if (std::holds_alternative<ThingValue>(bound) && std::holds_alternative<PositValue>(candidate)) {
    if (identity_of(bound) != identity_of(candidate)) return false;
    bound = candidate;  // a Thing that is this Posit becomes the Posit
    return true;
  }
  if (bound.index() != candidate.index()) return fail(wrong_kind(var, bound, kind_of(candidate)));
  return bound_value_eq(bound, candidate);
}

Result<bool> match_value_and_time(const PositPattern& pattern, const construct::Posit& posit,
                                  std::span<BoundSlot> row) {
  if (pattern.posit_binding) {
    auto r = bind_or_check_slot(row, *pattern.posit_binding, PositValue{posit.identity});
    if (!r || !*r) return r;
  }
  if (auto* var = std::get_if<Var>(&pattern.value)) {
    auto r = bind_or_check_slot(row, *var, LiteralRef{&posit.value});
    if (!r || !*r) return r;
  } else if (auto* literal = std::get_if<Literal>(&pattern.value)) {
    auto equal = literal::compare_nominal(posit.value, *literal);
    if (!equal) return fail(EngineError::unsupported_comparison(std::move(equal.error())));
    if (!*equal) return false;
  }
  if (auto* var = std::get_if<Var>(&pattern.time)) return bind_or_check_slot(row, *var, posit.appearance_time);
  if (auto* time = std::get_if<TimeValue>(&pattern.time)) return posit.appearance_time.identical(*time);
  return true;
}

Result<TimeValue> resolve_time_operand(const CutoffOperand& operand, std::span<const BoundSlot> row) {
  if (auto* time = std::get_if<TimeValue>(&operand)) return *time;
  const Var& var = std::get<Var>(operand);
  const BoundSlot& bound = row[var.id];
  if (!is_bound(bound)) return fail(EngineError::invalid_query_recall(var.name));
  if (auto* time = std::get_if<TimeValue>(&bound)) return *time;
  return fail(wrong_kind(var, bound, BindingKind::Time));
}


}  // namespace brackwater::velquin::query
