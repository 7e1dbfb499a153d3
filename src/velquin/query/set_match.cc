// Appearance-set matching: the injective assignment of a pattern's entries to a set's members.
//
// The assignment is a depth-first search over the entries with an explicit stack (a set can have
// as many members as there are Roles). One working row is extended in place; every binding made
// while trying a member is logged on a trail and undone when the search backs out of it, so memory
// stays linear in the entries plus the row. Completed rows are de-duplicated as they are found, by
// a hash of the slots the entries bind (the only slots in which they can differ), keeping the
// first of equal rows. Once a row is complete, the choices of the entries after the last one that
// binds a new variable are not tried again: every other member they could take completes to the
// same row (the errors a slot can raise depend on the kinds bound, not on the member tried).
#include "velquin/query/set_match.h"

#include <algorithm>

#include "construct/keyed_hash.h"
#include "velquin/query/match.h"

namespace brackwater::velquin::query {

using construct::EngineError;
using construct::fail;
using construct::Result;

namespace {

constexpr uint32_t kNone = UINT32_MAX;
// From this many members on, a Role-named entry finds its member through a name table.
constexpr size_t kNameTableMin = 16;
// The row index of one candidate is kept for the next up to this size.
constexpr size_t kKeptSeenBytes = size_t(1) << 16;

EngineError not_a_thing(const Var& var, const BoundSlot& bound) { return wrong_kind(var, bound, BindingKind::Thing); }

// Every member variable of the union, in order, must be bound to a Thing or a Posit; true when one
// of them is `thing`. All members are checked even after a hit.
Result<bool> union_accepts(const ThingUnion& thing_union, std::span<const BoundSlot> row, Identity thing) {
  bool hit = false;
  for (const Var& member : thing_union.members) {
    const BoundSlot& bound = row[member.id];
    if (!is_bound(bound)) return fail(EngineError::invalid_query_recall(member.name));
    if (!is_identity(bound)) return fail(not_a_thing(member, bound));
    hit = hit || identity_of(bound) == thing;
  }
  return hit;
}

}  // namespace

Result<void> SetMatchScratch::match(const PositPattern& pattern, const construct::AppearanceSet& set,
                                    std::span<const BoundSlot> row, RowTable& out, const ExecContext& ctx) {
  row_.assign(row.begin(), row.end());
  if (pattern.appearance_set_binding) {
    auto bound = bind_or_check_slot(row_, *pattern.appearance_set_binding, construct::AppearanceSetRef{&set});
    if (!bound) return fail(std::move(bound.error()));
    if (!*bound) return {};
  }
  if (pattern.any_appearance_set) return out.push(row_);
  const size_t n = pattern.appearances.size();
  const size_t m = set.members.size();
  if (pattern.open ? n > m : n != m) return {};
  entries_ = pattern.appearances;
  members_ = set.members;
  ctx_ = &ctx;
  // However the call ends (an answer, an error, or an exception from an allocation), the row index
  // leaves the statement's budget before it returns: the scratch outlives the statement.
  struct IndexRelease {
    SetMatchScratch& scratch;
    ~IndexRelease() { scratch.release_index(); }
  } release{*this};
  return assign(out, ctx);
}

void SetMatchScratch::release_index() noexcept {
  ctx_ = nullptr;
  if (!indexed_) return;  // the charge is made with the index
  // A table grown large goes now, with its charge; a small one is kept for the next candidate.
  if (seen_.memory_bytes() > kKeptSeenBytes) seen_ = construct::FlatTable<uint32_t>();
  seen_charge_.release();
}

void SetMatchScratch::trim() {
  constexpr size_t kKeep = size_t(1) << 12;
  if (row_.capacity() > kKeep) BindingRow().swap(row_);
  if (used_.capacity() > kKeep) std::vector<uint8_t>().swap(used_);
  if (trail_.capacity() > kKeep) std::vector<Undo>().swap(trail_);
  if (stack_.capacity() > kKeep) std::vector<Frame>().swap(stack_);
  if (key_vars_.capacity() > kKeep) std::vector<VarId>().swap(key_vars_);
  if (by_name_.size() > kKeep) std::unordered_map<std::string_view, uint32_t>().swap(by_name_);
  release_index();
}

// Whether the choice of the top frame bound a variable that was unbound: its bindings are the
// trail's entries from its mark on (the frames above it are gone).
bool SetMatchScratch::top_binds_new() const {
  const Frame& f = stack_.back();
  if (f.taken == kNone) return false;
  for (size_t i = f.mark; i < trail_.size(); ++i) {
    if (!is_bound(trail_[i].old)) return true;
  }
  return false;
}

void SetMatchScratch::abandon_top() {
  const Frame& f = stack_.back();
  if (f.taken != kNone) {
    used_[f.taken] = 0;
    undo_to(f.mark);
  }
  stack_.pop_back();
}

Result<void> SetMatchScratch::assign(RowTable& out, const ExecContext& ctx) {
  used_.assign(members_.size(), 0);
  trail_.clear();
  stack_.clear();
  if (indexed_) {
    seen_.clear();  // the last candidate's rows are forgotten (a table grown large went after it)
    key_vars_.clear();
  }
  emitted_any_ = false;
  indexed_ = false;
  names_built_ = false;
  tries_ = 0;
  stack_.push_back(Frame{0, 0, kNone, 0});
  while (!stack_.empty()) {
    if (auto stop = ctx.work(1 + std::exchange(tries_, 0)); !stop) return stop;
    Frame& f = stack_.back();
    if (f.taken != kNone) {
      used_[f.taken] = 0;
      undo_to(f.mark);
      f.taken = kNone;
    }
    if (f.entry == entries_.size()) {
      if (auto r = emit(out); !r) return r;
      stack_.pop_back();
      while (!stack_.empty() && !top_binds_new()) abandon_top();
      continue;
    }
    f.mark = trail_.size();
    auto member = next_member(entries_[f.entry], f.next);
    if (!member) return fail(std::move(member.error()));
    if (*member == kNone) {
      stack_.pop_back();
      continue;
    }
    f.taken = *member;
    f.next = *member + 1;
    used_[*member] = 1;
    const uint32_t entry = f.entry + 1;
    stack_.push_back(Frame{entry, 0, kNone, 0});
  }
  return {};
}

// The first unused member at or after `from` that `entry` accepts (its bindings left in the row),
// or kNone.
Result<uint32_t> SetMatchScratch::next_member(const AppearanceSearch& entry, uint32_t from) {
  if (const std::string* name = named_role(entry)) {
    // At most one member has this Role. The members passed over would only have raised the errors
    // of the Thing slot, which depend on the row alone (an unused member always exists): raise
    // them here.
    if (from == 0) {
      if (auto checked = check_thing_slot(entry.thing); !checked) return fail(std::move(checked.error()));
    }
    const uint32_t j = member_named(*name);
    if (j == kNone || j < from || used_[j]) return kNone;
    auto accepted = try_member(entry, j);
    if (!accepted) return fail(std::move(accepted.error()));
    return *accepted ? j : kNone;
  }
  for (uint32_t j = from; j < members_.size(); ++j) {
    if (used_[j]) continue;
    auto accepted = try_member(entry, j);
    if (!accepted) return fail(std::move(accepted.error()));
    if (*accepted) return j;
  }
  return kNone;
}

// The Role name an entry requires: a written name, or the name of the Role its variable holds.
const std::string* SetMatchScratch::named_role(const AppearanceSearch& entry) const {
  if (auto* role = std::get_if<RoleName>(&entry.role)) return &role->name;
  if (auto* var = std::get_if<Var>(&entry.role)) {
    if (auto* bound = std::get_if<construct::RoleRef>(&row_[var->id])) return &(*bound)->name;
  }
  return nullptr;
}

Result<void> SetMatchScratch::check_thing_slot(const ThingSlot& slot) const {
  if (auto* var = std::get_if<Var>(&slot)) {
    const BoundSlot& bound = row_[var->id];
    if (is_bound(bound) && !is_identity(bound)) return fail(not_a_thing(*var, bound));
  } else if (auto* thing_union = std::get_if<ThingUnion>(&slot)) {
    if (auto checked = union_accepts(*thing_union, row_, 0); !checked) return fail(std::move(checked.error()));
  }
  return {};
}

uint32_t SetMatchScratch::member_named(const std::string& name) {
  if (members_.size() < kNameTableMin) {
    for (uint32_t j = 0; j < members_.size(); ++j) {
      if (members_[j]->role->name == name) return j;
    }
    return kNone;
  }
  if (!names_built_) {
    tries_ += members_.size();
    by_name_.clear();
    by_name_.reserve(members_.size());
    for (uint32_t j = 0; j < members_.size(); ++j) by_name_.emplace(members_[j]->role->name, j);
    names_built_ = true;
  }
  auto it = by_name_.find(name);
  return it == by_name_.end() ? kNone : it->second;
}

// Thing slot, then Role slot, against member j; a rejected member leaves the row as it was.
Result<bool> SetMatchScratch::try_member(const AppearanceSearch& entry, uint32_t j) {
  ++tries_;
  const size_t mark = trail_.size();
  auto accepted = try_slots(entry, *members_[j]);
  if (!accepted || !*accepted) undo_to(mark);
  return accepted;
}

Result<bool> SetMatchScratch::try_slots(const AppearanceSearch& entry, const construct::Appearance& member) {
  if (auto* var = std::get_if<Var>(&entry.thing)) {
    auto r = bind(*var, ThingValue{member.thing});
    if (!r || !*r) return r;
  } else if (auto* thing_union = std::get_if<ThingUnion>(&entry.thing)) {
    auto r = union_accepts(*thing_union, row_, member.thing);
    if (!r || !*r) return r;
  }
  if (auto* role = std::get_if<RoleName>(&entry.role)) return member.role->name == role->name;
  if (auto* var = std::get_if<Var>(&entry.role)) return bind(*var, member.role);
  return true;
}

Result<bool> SetMatchScratch::bind(const Var& var, const BoundSlot& candidate) {
  trail_.push_back(Undo{var.id, row_[var.id]});
  return bind_or_check_slot(row_, var, candidate);
}

void SetMatchScratch::undo_to(size_t mark) {
  while (trail_.size() > mark) {
    row_[trail_.back().var] = trail_.back().old;
    trail_.pop_back();
  }
}

uint64_t SetMatchScratch::key_hash(std::span<const BoundSlot> row) const {
  construct::KeyedHasher h;
  for (const VarId id : key_vars_) {
    const BoundSlot& s = row[id];
    if (is_identity(s)) {
      h.write_u64(identity_of(s));
    } else if (auto* role = std::get_if<construct::RoleRef>(&s)) {
      h.write_u64((*role)->identity);
    } else {
      h.write_u64(s.index());
    }
  }
  return h.finish();
}

bool SetMatchScratch::same_keys(std::span<const BoundSlot> a, std::span<const BoundSlot> b) const {
  for (const VarId id : key_vars_) {
    if (is_bound(a[id]) != is_bound(b[id])) return false;
    if (is_bound(a[id]) && !bound_value_eq(a[id], b[id])) return false;
  }
  return true;
}

Result<void> SetMatchScratch::emit(RowTable& out) {
  if (!emitted_any_) {
    first_emitted_ = out.size();
    if (auto r = out.push(row_); !r) return r;
    emitted_any_ = true;
    return {};
  }
  if (!indexed_) {
    indexed_ = true;
    seen_charge_ = construct::Charge(&ctx_->budget());
    // A second completed row: from here on kept rows are indexed by the slots the entries bind.
    for (const AppearanceSearch& e : entries_) {
      if (auto* v = std::get_if<Var>(&e.thing)) key_vars_.push_back(v->id);
      if (auto* v = std::get_if<Var>(&e.role)) key_vars_.push_back(v->id);
    }
    std::sort(key_vars_.begin(), key_vars_.end());
    key_vars_.erase(std::unique(key_vars_.begin(), key_vars_.end()), key_vars_.end());
    seen_.insert_new(key_hash(out.row(first_emitted_)), 0);  // a new table does not grow here
  }
  const uint64_t h = key_hash(row_);
  auto same = [&](uint32_t offset) { return same_keys(out.row(first_emitted_ + offset), row_); };
  if (seen_.find(h, same) != nullptr) return {};
  // A table holds at most max_search_rows (10,000,000) rows, so an offset fits.
  const auto offset = static_cast<uint32_t>(out.size() - first_emitted_);
  if (auto r = seen_.insert_new(h, offset, seen_charge_); !r) return r;
  if (auto stop = ctx_->work(row_.size() + key_vars_.size()); !stop) return stop;
  return out.push(row_);
}

}  // namespace brackwater::velquin::query
