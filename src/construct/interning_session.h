// The interning steps of one add posit command: the Appearances and Appearance sets of its
// combinations.
//
// A session takes the lock of an interning component the first time a step needs it and keeps it
// from step to step until release() (or its end): the same steps, with the same poisoned-lock errors
// at the same steps, as a lock per step, without thousands of lock round trips a second. Readers
// never wait for a lock while holding one and the command runs under the engine-wide lock, so
// holding these cannot deadlock; release() before anything that locks a component of its own: a
// Role lookup, drawing an identity, the command's add_posits.
#pragma once

#include <cstddef>
#include <utility>
#include <vector>

#include "construct/engine.h"
#include "construct/error.h"
#include "construct/records.h"

namespace brackwater::construct {

class InterningSession {
 public:
  explicit InterningSession(Engine& engine);
  ~InterningSession();
  InterningSession(const InterningSession&) = delete;
  InterningSession& operator=(const InterningSession&) = delete;

  // (the catalog's Appearance, whether it existed), as Engine::intern_appearance.
  Result<std::pair<AppearanceRef, bool>> intern_appearance(RoleRef role, Identity thing);
  // (the catalog's set, whether it existed), as Engine::intern_appearance_set.
  Result<std::pair<AppearanceSetRef, bool>> intern_appearance_set(std::vector<AppearanceRef> members);
  // Gives back every lock the session holds.
  void release();

 private:
  static constexpr size_t kHeldBytes = 128;

  Engine& engine_;
  alignas(8) std::byte held_[kHeldBytes];  // the locks held (a HeldOnUse), kept out of this header
};

}  // namespace brackwater::construct
