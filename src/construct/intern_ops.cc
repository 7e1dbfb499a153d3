// Interning of Appearances, Appearance sets and Posits, and the filing of Posits in the indexes.
#include <algorithm>

#include "construct/component_access.h"
#include "construct/engine_ops.h"
#include "construct/record_keys.h"

namespace brackwater::construct {

namespace {

EngineError storage_exhausted(const char* what) {
  return EngineError::internal(std::string(what) + " storage is exhausted");
}

}  // namespace

template <class Access>
Result<std::pair<AppearanceRef, bool>> intern_appearance(Access& access, EngineState& state, RoleRef role,
                                                         Identity thing) {
  const Appearance candidate{role, thing};
  AppearanceRef stored;
  {
    BW_TAKE(catalog, access, state.appearances);
    if (AppearanceRef found = catalog->find(candidate)) return std::pair{found, true};
    stored = catalog->insert_new(candidate);
    if (stored == nullptr) return fail(storage_exhausted("Appearance"));
  }
  {
    BW_TAKE(by_thing, access, state.thing_appearances);
    by_thing->add(stored);
  }
  if (role->reserved) {
    BW_TAKE(by_role, access, state.role_appearances);
    by_role->add(stored);
  }
  return std::pair{stored, false};
}

template <class Access>
Result<std::pair<AppearanceSetRef, bool>> intern_appearance_set(Access& access, EngineState& state,
                                                                std::vector<AppearanceRef> members) {
  auto before = [](AppearanceRef a, AppearanceRef b) {
    if (a->role->identity != b->role->identity) return a->role->identity < b->role->identity;
    return a->thing < b->thing;
  };
  if (members.size() <= 16) {
    // Insertion sort: stable, and no temporary buffer for the usual few members.
    for (size_t i = 1; i < members.size(); ++i) {
      for (size_t j = i; j > 0 && before(members[j], members[j - 1]); --j) std::swap(members[j], members[j - 1]);
    }
  } else {
    std::stable_sort(members.begin(), members.end(), before);
  }
  for (size_t i = 1; i < members.size(); ++i) {
    if (members[i - 1]->role == members[i]->role || members[i - 1]->role->identity == members[i]->role->identity) {
      return fail(EngineError::invalid_appearance_set("an appearance set may contain at most one Thing for each Role"));
    }
  }
  // Members are kept as catalog handles: an equal Appearance from elsewhere is replaced by the stored one.
  for (AppearanceRef& member : members) {
    if (state.records.appearances.ordinal_of(member) == kNoOrdinal) {
      auto stored = intern_appearance(access, state, member->role, member->thing);
      if (!stored) return fail(std::move(stored.error()));
      member = stored->first;
    }
  }
  const AppearanceSet candidate{MemberList::view(members)};
  AppearanceSetRef stored;
  {
    BW_TAKE(catalog, access, state.appearance_sets);
    if (AppearanceSetRef found = catalog->find(candidate)) return std::pair{found, true};
    stored = catalog->insert_new(members);
    if (stored == nullptr) return fail(storage_exhausted("Appearance set"));
  }
  for (const AppearanceRef member : stored->members) {
    BW_TAKE(memberships, access, state.appearance_memberships);
    memberships->add(member, stored);
  }
  return std::pair{stored, false};
}

Result<std::pair<AppearanceRef, bool>> intern_appearance(EngineState& state, RoleRef role, Identity thing) {
  LockEach access;
  return intern_appearance(access, state, role, thing);
}

Result<std::pair<AppearanceSetRef, bool>> intern_appearance_set(EngineState& state,
                                                                std::vector<AppearanceRef> members) {
  LockEach access;
  return intern_appearance_set(access, state, std::move(members));
}

template Result<std::pair<AppearanceRef, bool>> intern_appearance(HeldLocks&, EngineState&, RoleRef, Identity);
template Result<std::pair<AppearanceSetRef, bool>> intern_appearance_set(HeldLocks&, EngineState&,
                                                                         std::vector<AppearanceRef>);
template Result<std::pair<AppearanceRef, bool>> intern_appearance(HeldOnUse&, EngineState&, RoleRef, Identity);
template Result<std::pair<AppearanceSetRef, bool>> intern_appearance_set(HeldOnUse&, EngineState&,
                                                                         std::vector<AppearanceRef>);

int64_t NewPositList::find(const PositKey& candidate, uint64_t h, uint32_t set) const {
  if (set >= first_set_ && set - first_set_ < first_by_set_.size() && first_by_set_[set - first_set_] != 0) {
    const uint32_t first = first_by_set_[set - first_set_] - 1;
    if (posit_key_eq((*this)[first], candidate)) return first;
  }
  if (index_.empty()) return -1;
  const uint32_t* found =
      index_.find(h, [this, &candidate](uint32_t i) { return posit_key_eq((*this)[i], candidate); });
  return found ? int64_t(*found) : -1;
}

PositRef NewPositList::append(Posit&& posit, uint64_t h, uint32_t set) {
  if (arena_.full()) return nullptr;
  const uint32_t position = static_cast<uint32_t>(size_);
  const PositRef stored = arena_.emplace_back(std::move(posit)).first;
  ++size_;
  value_bytes_ += stored->value.text.size();
  if (position == 0) first_set_ = set;
  // The dense array covers the sets from the first Posit's on, as far as a few times the list's
  // reserved length reaches: the sets a command creates as it goes.
  const uint64_t offset = uint64_t(set) - first_set_;
  if (set != kNoOrdinal && set >= first_set_ && offset < 4 * uint64_t(reserved_) + 4096) {
    if (offset >= first_by_set_.size()) first_by_set_.resize(std::max<size_t>(offset + 1, first_by_set_.size() * 2), 0);
    if (first_by_set_[offset] == 0) {
      first_by_set_[offset] = position + 1;
      return stored;
    }
  }
  index_.insert_new(h, position);
  return stored;
}

void NewPositList::reserve(size_t n) { reserved_ = std::max(reserved_, size_ + n); }

namespace {

// Replaces a set that is not a catalog handle by the catalog's equal set.
Result<void> use_catalog_sets(EngineState& state, PendingPositList& pending) {
  for (size_t i = 0; i < pending.size(); ++i) {
    AppearanceSetRef& set = pending.set(i);
    if (set == nullptr || state.records.sets.ordinal_of(set) != kNoOrdinal) continue;
    const MemberList& members = set->members;
    auto stored = intern_appearance_set(state, std::vector<AppearanceRef>(members.begin(), members.end()));
    if (!stored) return fail(std::move(stored.error()));
    set = stored->first;
  }
  return {};
}

// The handle of each interned Posit, in pending order, or nothing when none is wanted.
class SlotList {
 public:
  SlotList(bool keep, size_t expected) : keep_(keep) {
    if (keep_) slots_.reserve(expected);
  }
  void push_back(PositRef p) {
    if (keep_) slots_.push_back(p);
  }
  BlockVector<PositRef> take() { return std::move(slots_); }

 private:
  const bool keep_;
  BlockVector<PositRef> slots_;
};

// The registry and the identity pool, both held by the caller for a whole command (the pool nests
// inside the registry, the one nesting the lock order allows).
struct RegistryAndPool {
  ComponentRegistry& registry;
  IdentityPool& pool;
  Result<ComponentRegistry*> operator()(PoisonMutex<ComponentRegistry>&) { return &registry; }
  Result<IdentityPool*> operator()(PoisonMutex<IdentityPool>&) { return &pool; }
};

// The pending Posits one after another, reaching the registry and the pool through `access`. A
// pending Posit is found by its key, its value read in place: only a new Posit takes the value.
template <class Access>
Result<BlockVector<PositRef>> intern_each(Access& access, EngineState& state, PendingPositList& pending,
                                          NewPositList& new_posits, Budget* budget, SlotList& slots) {
  for (size_t i = 0; i < pending.size(); ++i) {
    PendingPositList::Reading next = pending.read(i);
    if (auto r = posit_work(budget, next.text().size()); !r) return fail(std::move(r.error()));
    Identity drawn;
    {
      BW_TAKE(pool, access, state.identities);
      auto id = pool->draw();
      if (!id) return fail(std::move(id.error()));
      drawn = *id;
    }
    const PositKey key(next.set(), next.text(), next.time());
    const uint64_t h = posit_key_hash(key);
    PositRef interned;
    bool staged = false;
    {
      BW_TAKE(registry, access, state.components);
      const PositIndex* index = registry->existing_posit_index();
      interned = index ? index->find_by_key(key, h) : nullptr;
      if (interned == nullptr) {
        const uint32_t set = state.records.sets.ordinal_of(key.appearance_set);
        const int64_t earlier = new_posits.find(key, h, set);
        if (earlier >= 0) {
          interned = &new_posits[size_t(earlier)];
        } else {
          interned = new_posits.append(Posit{drawn, key.appearance_set, next.take_value(), next.time()}, h, set);
          if (interned == nullptr) return fail(storage_exhausted("Posit"));
          staged = true;
        }
      }
    }
    slots.push_back(interned);
    const uint32_t repeats = next.repeats();
    next.done();
    if (!staged || repeats != 0) {
      BW_TAKE(pool, access, state.identities);
      if (!staged) pool->release(drawn);
      if (auto skipped = pool->skip(repeats); !skipped) return fail(std::move(skipped.error()));
    }
  }
  return slots.take();
}

}  // namespace

Result<BlockVector<PositRef>> intern_posits(EngineState& state, PendingPositList& pending,
                                            NewPositList& new_posits, Budget* budget, bool keep_slots) {
  if (auto canonical = use_catalog_sets(state, pending); !canonical) return fail(std::move(canonical.error()));
  new_posits.reserve(pending.size());
  SlotList slots(keep_slots, pending.size());
  if (state.components.is_poisoned() || state.identities.is_poisoned()) {
    // One Posit at a time, each step under its own lock (the order of the model, kept exactly when
    // a lock is poisoned).
    LockEach each;
    return intern_each(each, state, pending, new_posits, budget, slots);
  }
  BW_LOCK(registry, state.components);
  BW_LOCK(pool, state.identities);
  RegistryAndPool held{*registry, *pool};
  return intern_each(held, state, pending, new_posits, budget, slots);
}

namespace {

// The filing steps after the PositIndex for one Posit, each under its own lock.
Result<void> file_in_postings(EngineState& state, PositRef stored, uint32_t ordinal) {
  const Identity id = stored->identity;
  {
    BW_LOCK(by_set, state.appearance_set_posits);
    by_set->add(stored->appearance_set, id);
  }
  {
    BW_LOCK(sets, state.posit_appearance_sets);
    sets->add(stored, ordinal);
  }
  {
    BW_LOCK(times, state.posit_times);
    times->add(stored, ordinal);
  }
  for (const AppearanceRef member : stored->appearance_set->members) {
    BW_LOCK(by_role, state.role_posits);
    by_role->add(member->role->identity, id);
  }
  return {};
}

// The same steps for many Posits, one lock at a time in the order of the steps; `each(f)` calls
// f(handle, ordinal) for every newly filed Posit in order.
template <class Access, class Each>
Result<void> file_all_in_postings(Access& access, EngineState& state, Each&& each) {
  {
    BW_TAKE(by_set, access, state.appearance_set_posits);
    each([&](PositRef p, uint32_t) { by_set->add(p->appearance_set, p->identity); });
  }
  {
    BW_TAKE(sets, access, state.posit_appearance_sets);
    each([&](PositRef p, uint32_t ordinal) { sets->add(p, ordinal); });
  }
  {
    BW_TAKE(times, access, state.posit_times);
    each([&](PositRef p, uint32_t ordinal) { times->add(p, ordinal); });
  }
  {
    BW_TAKE(by_role, access, state.role_posits);
    RolePositIndex::Filer filer(*by_role);
    each([&](PositRef p, uint32_t) {
      for (const AppearanceRef member : p->appearance_set->members) filer.add(member->role->identity, p->identity);
    });
  }
  return {};
}

bool any_filing_lock_poisoned(EngineState& state) {
  return state.components.is_poisoned() || state.appearance_set_posits.is_poisoned() ||
         state.posit_appearance_sets.is_poisoned() || state.posit_times.is_poisoned() ||
         state.role_posits.is_poisoned();
}

}  // namespace

Result<std::pair<PositRef, bool>> index_posit(EngineState& state, Posit posit, uint64_t h) {
  PositRef stored;
  uint32_t ordinal;
  {
    BW_LOCK(registry, state.components);
    PositIndex& index = registry->posit_index();
    if (PositRef found = index.find_by_key(posit, h)) return std::pair{found, true};
    std::tie(stored, ordinal) = index.insert_new(std::move(posit), h);
    if (stored == nullptr) return fail(storage_exhausted("Posit"));
    ++registry->posit_count;
  }
  if (auto r = file_in_postings(state, stored, ordinal); !r) return fail(std::move(r.error()));
  return std::pair{stored, false};
}

template <class Access>
Result<BlockVector<PositRef>> index_new_posits(Access& access, EngineState& state, BlockVector<Posit>& posits,
                                               std::span<const uint64_t> hashes) {
  BlockVector<PositRef> filed;
  filed.reserve(posits.size());
  if (std::is_same_v<Access, LockEach> && any_filing_lock_poisoned(state)) {
    for (size_t i = 0; i < posits.size(); ++i) {
      auto indexed = index_posit(state, std::move(posits[i]), hashes[i]);
      if (!indexed) return fail(std::move(indexed.error()));
      filed.push_back(indexed->first);
    }
    return filed;
  }
  // The filing steps of every Posit, one lock at a time in the order of the steps.
  BlockVector<uint32_t> ordinals(posits.size(), kNoOrdinal);  // kNoOrdinal: already indexed
  {
    BW_TAKE(registry, access, state.components);
    PositIndex& index = registry->posit_index();
    for (size_t i = 0; i < posits.size(); ++i) {
      if (PositRef found = index.find_by_key(posits[i], hashes[i])) {
        filed.push_back(found);
        continue;
      }
      auto [stored, ordinal] = index.insert_new(std::move(posits[i]), hashes[i]);
      if (stored == nullptr) return fail(storage_exhausted("Posit"));
      ++registry->posit_count;
      filed.push_back(stored);
      ordinals[i] = ordinal;
    }
  }
  auto filing = file_all_in_postings(access, state, [&](auto&& f) {
    for (size_t i = 0; i < filed.size(); ++i) {
      if (ordinals[i] != kNoOrdinal) f(filed[i], ordinals[i]);
    }
  });
  if (!filing) return fail(std::move(filing.error()));
  return filed;
}

Result<BlockVector<PositRef>> index_new_posits(EngineState& state, BlockVector<Posit>& posits,
                                               std::span<const uint64_t> hashes) {
  LockEach access;
  return index_new_posits(access, state, posits, hashes);
}

Result<void> file_new_posits(EngineState& state, NewPositList& new_posits) {
  const uint32_t first = new_posits.first_ordinal();
  const size_t n = new_posits.size();
  const auto& arena = state.records.posits;
  if (any_filing_lock_poisoned(state)) {
    for (size_t i = 0; i < n; ++i) {
      {
        BW_LOCK(registry, state.components);
        registry->posit_index().file_staged(first + uint32_t(i));
        ++registry->posit_count;
        new_posits.set_filed(i + 1);
      }
      if (auto r = file_in_postings(state, &new_posits[i], first + uint32_t(i)); !r) return r;
    }
    return {};
  }
  {
    BW_LOCK(registry, state.components);
    PositIndex& index = registry->posit_index();
    for (size_t i = 0; i < n; ++i) index.file_staged(first + uint32_t(i));
    registry->posit_count += n;
    new_posits.set_filed(n);
  }
  LockEach access;
  return file_all_in_postings(access, state, [&](auto&& f) {
    for (uint32_t o = first; o < first + n; ++o) f(&arena[o], o);
  });
}

template Result<BlockVector<PositRef>> index_new_posits(HeldLocks&, EngineState&, BlockVector<Posit>&,
                                                        std::span<const uint64_t>);

}  // namespace brackwater::construct
