// The one walk over the variables of a pattern, shared by compilation (by name, before ids exist)
// and by the id-based walks of pattern_vars.h.
//
// for_each_own_var visits every Var written in the pattern's own slots, its via pattern excluded,
// with the kind a binding occurrence records or, for a recall (Thing union member, as-of or
// in-effect cutoff variable), no kind. Binding occurrences come in the order domains are recorded:
// posit binding, set binding, per appearance its Thing then its Role variable, value, time; the
// recalls follow. `P` is PositPattern or const PositPattern, and `f` receives Var& or const Var&.
// for_each_pattern_var walks the pattern and then its via pattern (a via pattern carries no
// in-effect clause of its own, but the walk follows any chain without recursion).
#pragma once

#include <optional>
#include <type_traits>
#include <variant>

#include "velquin/query/query.h"

namespace brackwater::velquin::query {

template <class P, class F>
  requires std::is_same_v<std::remove_const_t<P>, PositPattern>
void for_each_own_var(P& pattern, F&& f) {
  using Kind = std::optional<BindingKind>;
  if (pattern.posit_binding) f(*pattern.posit_binding, Kind(BindingKind::Posit));
  if (pattern.appearance_set_binding) f(*pattern.appearance_set_binding, Kind(BindingKind::AppearanceSet));
  for (auto& appearance : pattern.appearances) {
    if (auto* var = std::get_if<Var>(&appearance.thing)) f(*var, Kind(BindingKind::Thing));
    if (auto* var = std::get_if<Var>(&appearance.role)) f(*var, Kind(BindingKind::Role));
  }
  if (auto* var = std::get_if<Var>(&pattern.value)) f(*var, Kind(BindingKind::LiteralValue));
  if (auto* var = std::get_if<Var>(&pattern.time)) f(*var, Kind(BindingKind::Time));
  for (auto& appearance : pattern.appearances) {
    if (auto* members = std::get_if<ThingUnion>(&appearance.thing)) {
      for (auto& member : members->members) f(member, Kind());
    }
  }
  if (pattern.as_of) {
    if (auto* var = std::get_if<Var>(&*pattern.as_of)) f(*var, Kind());
  }
  if (pattern.in_effect) {
    if (auto* var = std::get_if<Var>(&pattern.in_effect->assertion_cutoff)) f(*var, Kind());
    if (auto* var = std::get_if<Var>(&pattern.in_effect->appearance_cutoff)) f(*var, Kind());
  }
}

// The via pattern of `pattern`, or null.
inline const PositPattern* via_pattern(const PositPattern& pattern) {
  return pattern.in_effect ? pattern.in_effect->via.get() : nullptr;
}

template <class F>
void for_each_pattern_var(const PositPattern& pattern, F&& f) {
  for (const PositPattern* p = &pattern; p != nullptr; p = via_pattern(*p)) for_each_own_var(*p, f);
}

}  // namespace brackwater::velquin::query
