#include "construct/interning_session.h"

#include <new>

#include "construct/component_access.h"
#include "construct/engine_ops.h"

namespace brackwater::construct {

namespace {

HeldOnUse& held(std::byte* storage) { return *std::launder(reinterpret_cast<HeldOnUse*>(storage)); }

}  // namespace

InterningSession::InterningSession(Engine& engine) : engine_(engine) {
  static_assert(sizeof(HeldOnUse) <= kHeldBytes && alignof(HeldOnUse) <= 8);
  new (held_) HeldOnUse();
}

InterningSession::~InterningSession() { held(held_).~HeldOnUse(); }

Result<std::pair<AppearanceRef, bool>> InterningSession::intern_appearance(RoleRef role, Identity thing) {
  return construct::intern_appearance(held(held_), engine_.state(), role, thing);
}

Result<std::pair<AppearanceSetRef, bool>> InterningSession::intern_appearance_set(std::vector<AppearanceRef> members) {
  return construct::intern_appearance_set(held(held_), engine_.state(), std::move(members));
}

void InterningSession::release() { held(held_).release(); }

}  // namespace brackwater::construct
