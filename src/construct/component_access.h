// How an engine operation reaches the components it works on.
//
// LockEach takes a component's lock for each step and releases it after: the rule while the engine
// is shared. HeldOnUse takes a component's lock the first time a step needs it and keeps it until
// release(): for a writer's long run of interning steps under the engine-wide lock, with the same
// steps (and the same poisoned-lock errors at the same steps) as LockEach. HeldLocks holds the locks of every component that interning and filing use, taken
// once: for building an engine that no other thread can see yet (replaying a store), where the
// steps are the same but thousands of lock round trips per second of work are not needed. Both are
// called with a component's mutex and give something that dereferences to the component, or the
// poisoned-lock error.
#pragma once

#include <optional>
#include <tuple>
#include <utility>

#include "construct/engine_state.h"

namespace brackwater::construct {

// Takes the component behind `mutex` through `access`, or returns its error from the enclosing function.
#define BW_TAKE(guard, access, mutex)                                  \
  auto guard##_result = (access)(mutex);                               \
  if (!guard##_result) return fail(std::move(guard##_result.error())); \
  auto& guard = *guard##_result

struct LockEach {
  template <class T>
  Result<PoisonGuard<T>> operator()(PoisonMutex<T>& mutex) const {
    return mutex.lock();
  }
};

// Holds the interning components (the Appearance and Appearance set catalogs and their indexes) from
// first use until release(). Readers never wait for a lock while holding one and writers run under
// the engine-wide lock, so holding several here cannot deadlock; release() before calling anything
// that locks a component of its own.
class HeldOnUse {
 public:
  template <class T>
  Result<T*> operator()(PoisonMutex<T>& mutex) {
    std::optional<PoisonGuard<T>>& held = std::get<std::optional<PoisonGuard<T>>>(guards_);
    if (!held) {
      auto taken = mutex.lock();
      if (!taken) return fail(std::move(taken.error()));
      held.emplace(std::move(*taken));
    }
    return &**held;
  }

  void release() {
    std::apply([](auto&... held) { (held.reset(), ...); }, guards_);
  }

 private:
  std::tuple<std::optional<PoisonGuard<AppearanceCatalog>>, std::optional<PoisonGuard<ThingAppearanceIndex>>,
             std::optional<PoisonGuard<RoleAppearanceIndex>>, std::optional<PoisonGuard<AppearanceSetCatalog>>,
             std::optional<PoisonGuard<AppearanceMembershipIndex>>>
      guards_;
};

class HeldLocks {
 public:
  // Locks the identity pool, the Role catalog, the intern catalogs, the registry and every index.
  static Result<HeldLocks> take(EngineState& state) {
    return take_all(state.identities, state.roles, state.appearances, state.appearance_sets, state.components,
                    state.thing_appearances, state.role_appearances, state.appearance_memberships,
                    state.appearance_set_posits, state.role_posits, state.posit_appearance_sets, state.posit_times);
  }

  // The component of this type (its lock is held).
  template <class T>
  Result<T*> operator()(PoisonMutex<T>&) {
    return &*std::get<PoisonGuard<T>>(guards_);
  }

 private:
  using Guards = std::tuple<PoisonGuard<IdentityPool>, PoisonGuard<RoleCatalog>, PoisonGuard<AppearanceCatalog>,
                            PoisonGuard<AppearanceSetCatalog>, PoisonGuard<ComponentRegistry>,
                            PoisonGuard<ThingAppearanceIndex>, PoisonGuard<RoleAppearanceIndex>,
                            PoisonGuard<AppearanceMembershipIndex>, PoisonGuard<AppearanceSetPositIndex>,
                            PoisonGuard<RolePositIndex>, PoisonGuard<PositAppearanceSetIndex>,
                            PoisonGuard<PositTimeIndex>>;
  explicit HeldLocks(Guards guards) : guards_(std::move(guards)) {}

  template <class... Ts>
  static Result<HeldLocks> take_all(PoisonMutex<Ts>&... mutexes) {
    std::tuple<Result<PoisonGuard<Ts>>...> taken{mutexes.lock()...};
    std::optional<EngineError> error;
    std::apply([&error](auto&... r) { ((error || r ? void() : void(error = r.error())), ...); }, taken);
    if (error) return fail(std::move(*error));
    return HeldLocks(std::apply([](auto&... r) { return Guards(std::move(*r)...); }, taken));
  }

  Guards guards_;
};

}  // namespace brackwater::construct
