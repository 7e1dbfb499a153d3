// The engine's operations over its state, one per model step; the Engine methods delegate here.
//
// All expect the caller to hold the engine-wide lock (or to own an engine not yet shared) and take
// the component locks themselves, one at a time. Failures leave done what was done before them:
// identities drawn stay drawn, interned Appearances and sets stay interned.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "construct/engine.h"
#include "construct/engine_state.h"
#include "construct/flat_table.h"

namespace brackwater::construct {

// Takes `mutex` or returns its poisoned-lock error from the enclosing function.
#define BW_LOCK(guard, mutex)                                          \
  auto guard##_result = (mutex).lock();                                \
  if (!guard##_result) return fail(std::move(guard##_result.error())); \
  auto& guard = *guard##_result

// The same for a reader (the guard does not poison the mutex when the reader fails).
#define BW_READ(guard, mutex)                                          \
  auto guard##_result = (mutex).lock_to_read();                        \
  if (!guard##_result) return fail(std::move(guard##_result.error())); \
  auto& guard = *guard##_result

// The built-in Roles in table order.
struct BuiltinRole {
  Identity identity;
  std::string_view name;
};
inline constexpr BuiltinRole kBuiltinRoles[5] = {
    {kPositRoleId, "posit"}, {kAscertainsRoleId, "ascertains"}, {kThingRoleId, "thing"},
    {kClassRoleId, "class"}, {kSubclassRoleId, "subclass"},
};

Result<Identity> draw_identity(EngineState& state);
Result<void> record_identity(EngineState& state, Identity id);

// Role registration under an NFC name: (stored Role, existed).
Result<std::pair<RoleRef, bool>> register_role(EngineState& state, std::string nfc_name, Identity id, bool reserved);
// Checks that a built-in Role is present with its identity and reserved, registering it when absent.
Result<void> ensure_builtin_role(EngineState& state, Identity id, std::string_view name);
Result<std::vector<RoleResult>> add_roles(EngineState& state, std::vector<RoleRequest> requests);

Result<std::pair<AppearanceRef, bool>> intern_appearance(EngineState& state, RoleRef role, Identity thing);
Result<std::pair<AppearanceSetRef, bool>> intern_appearance_set(EngineState& state,
                                                                std::vector<AppearanceRef> members);

// The Posits one command creates, in order of creation, found again by proposition in constant
// time: the first new Posit of each set by the set's ordinal in a dense array, the others (a set
// with several new Posits) in a hash index. They are staged straight in the Posit storage, as the
// records after the filed ones, so filing them copies nothing; the caller holds the engine-wide
// lock and stages under the `components` lock. Until filed, they are seen by no component: the
// list gives back every staged record it did not file when it is destroyed, so a command that
// fails leaves the storage as it found it.
class NewPositList {
 public:
  explicit NewPositList(RecordStorage& records) : arena_(records.posits), base_(records.posits.size()) {}
  ~NewPositList() { arena_.truncate(base_ + filed_); }
  NewPositList(const NewPositList&) = delete;
  NewPositList& operator=(const NewPositList&) = delete;

  const Posit& operator[](size_t i) const { return arena_[static_cast<uint32_t>(base_ + i)]; }
  // The ordinal of the first new Posit in the Posit storage.
  uint32_t first_ordinal() const { return static_cast<uint32_t>(base_); }
  // The position of a Posit of the same proposition, or -1; `h` is posit_key_hash(candidate) and
  // `set` the ordinal of its (catalog) set.
  int64_t find(const PositKey& candidate, uint64_t h, uint32_t set) const;
  // Stages `posit` (nullptr when the storage is full).
  PositRef append(Posit&& posit, uint64_t h, uint32_t set);
  void reserve(size_t n);
  bool empty() const { return size_ == 0; }
  size_t size() const { return size_; }
  // The bytes of the staged Posits' value texts.
  size_t value_bytes() const { return value_bytes_; }
  // Interning is over: the lookup tables go (find sees none of the list afterwards).
  void end_lookups() {
    first_by_set_ = {};
    index_ = {};
  }
  // The first `n` new Posits are filed and stay.
  void set_filed(size_t n) { filed_ = n; }

 private:
  StableArena<Posit>& arena_;
  const size_t base_;
  size_t size_ = 0;
  size_t value_bytes_ = 0;
  size_t filed_ = 0;
  size_t reserved_ = 0;
  uint32_t first_set_ = 0;              // the set ordinal at first_by_set_[0]
  BlockVector<uint32_t> first_by_set_;  // 1 + position of the set's first new Posit, or 0
  FlatTable<uint32_t> index_;
};

// Counts the work of a step over a Posit whose value text has `value_bytes` (each is hashed,
// compared or copied) on `budget`, when given.
inline Result<void> posit_work(Budget* budget, size_t value_bytes) {
  if (budget == nullptr) return {};
  return budget->work(work_for_bytes(value_bytes));
}

// Per pending Posit, the stored Posit of its proposition or the staged one of `new_posits` (none
// are listed without `slots`). Each pending Posit is given back once it is interned; its repeats
// draw their identities right after it, and give them back.
Result<BlockVector<PositRef>> intern_posits(EngineState& state, PendingPositList& pending,
                                            NewPositList& new_posits, Budget* budget, bool slots = true);

// Files a Posit in the PositIndex and the posting indexes: (canonical Posit, existed).
// `h` is posit_key_hash(posit).
Result<std::pair<PositRef, bool>> index_posit(EngineState& state, Posit posit, uint64_t h);
// Files the new Posits of one command (distinct propositions, in creation order): the same steps
// as index_posit for each, taking each lock once for the whole list. Gives the filed handles.
Result<BlockVector<PositRef>> index_new_posits(EngineState& state, BlockVector<Posit>& posits,
                                               std::span<const uint64_t> hashes);
// Files the staged Posits of a command, with the same steps.
Result<void> file_new_posits(EngineState& state, NewPositList& new_posits);

// The same steps through a component access policy (component_access.h).
template <class Access>
Result<std::pair<AppearanceRef, bool>> intern_appearance(Access& access, EngineState& state, RoleRef role,
                                                         Identity thing);
template <class Access>
Result<std::pair<AppearanceSetRef, bool>> intern_appearance_set(Access& access, EngineState& state,
                                                                std::vector<AppearanceRef> members);
template <class Access>
Result<BlockVector<PositRef>> index_new_posits(Access& access, EngineState& state, BlockVector<Posit>& posits,
                                               std::span<const uint64_t> hashes);

// Without `handles` the result is empty.
Result<AddPositsResult> add_posits(EngineState& state, PendingPositList posits,
                                   std::vector<PendingAssertion> assertions, Budget* budget,
                                   bool handles = true);

// Marks the store fail-closed after a failure that follows a successful append (no-op in memory).
void fail_close_store(EngineState& state);

}  // namespace brackwater::construct
