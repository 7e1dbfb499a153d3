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
// with several new Posits) in a hash index.
class NewPositList {
 public:
  const BlockVector<Posit>& posits() const { return posits_; }
  BlockVector<Posit>& posits() { return posits_; }
  // The position of a Posit of the same proposition, or -1; `h` is posit_key_hash(candidate) and
  // `set` the ordinal of its (catalog) set.
  int64_t find(const Posit& candidate, uint64_t h, uint32_t set) const;
  size_t append(Posit posit, uint64_t h, uint32_t set);
  void reserve(size_t n);
  std::span<const uint64_t> hashes() const { return hashes_; }
  bool empty() const { return posits_.empty(); }
  size_t size() const { return posits_.size(); }
  uint64_t hash(size_t i) const { return hashes_[i]; }

 private:
  BlockVector<Posit> posits_;
  BlockVector<uint64_t> hashes_;
  uint32_t first_set_ = 0;              // the set ordinal at first_by_set_[0]
  BlockVector<uint32_t> first_by_set_;  // 1 + position of the set's first new Posit, or 0
  FlatTable<uint32_t> index_;
};

// The outcome of interning one pending Posit: a stored Posit, or a position in the new-Posit list.
struct PositSlot {
  PositRef existing = nullptr;
  size_t new_index = 0;
};

// Every kStopCheckInterval Posits, `stop` (when given) is asked whether to go on.
inline constexpr size_t kStopCheckInterval = 4096;
Result<void> check_stop_every(const StopCheck& stop, size_t position);

Result<BlockVector<PositSlot>> intern_posits(EngineState& state, std::vector<PendingPosit> pending,
                                             NewPositList& new_posits, const StopCheck& stop);

// Files a Posit in the PositIndex and the posting indexes: (canonical Posit, existed).
// `h` is posit_key_hash(posit).
Result<std::pair<PositRef, bool>> index_posit(EngineState& state, Posit posit, uint64_t h);
Result<std::pair<PositRef, bool>> index_posit(EngineState& state, Posit posit);
// Files the new Posits of one command (distinct propositions, in creation order): the same steps
// as index_posit for each, taking each lock once for the whole list. Gives the filed handles.
Result<BlockVector<PositRef>> index_new_posits(EngineState& state, BlockVector<Posit>& posits,
                                               std::span<const uint64_t> hashes);

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

Result<AddPositsResult> add_posits(EngineState& state, std::vector<PendingPosit> posits,
                                   std::vector<PendingAssertion> assertions, const StopCheck& stop);

// Marks the store fail-closed after a failure that follows a successful append (no-op in memory).
void fail_close_store(EngineState& state);

}  // namespace brackwater::construct
