// The immutable records of the posit model and their identity keys.
//
// Records are created by the engine's catalogs and live as long as the engine: handles are plain
// const pointers (RoleRef, AppearanceRef, AppearanceSetRef, PositRef) that stay valid while the
// engine exists. Equality tries handle identity first, then compares identities and bytes.
#pragma once

#include <compare>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "construct/identity.h"
#include "literal/literal.h"
#include "literal/time_value.h"

namespace brackwater::construct {

using literal::Literal;
using literal::TimeValue;

struct Role {
  std::string name;  // Unicode normal form C
  Identity identity = 0;
  bool reserved = false;
};
using RoleRef = const Role*;

struct Appearance {
  RoleRef role = nullptr;
  Identity thing = 0;
};
using AppearanceRef = const Appearance*;

// Members sorted ascending by (Role identity, Thing identity); at most one member per Role.
struct AppearanceSet {
  std::vector<AppearanceRef> members;
};
using AppearanceSetRef = const AppearanceSet*;

struct Posit {
  Identity identity = 0;
  AppearanceSetRef appearance_set = nullptr;
  Literal value;
  TimeValue appearance_time;
};
using PositRef = const Posit*;

// Equalities (handle identity first, then fields).
bool appearance_eq(const Appearance& a, const Appearance& b);
bool appearance_list_eq(const AppearanceSet& a, const AppearanceSet& b);
// Two member sequences of one length, equal position by position.
bool appearance_slice_eq(std::span<const AppearanceRef> a, std::span<const AppearanceRef> b);
// Proposition equality: same set, same value text bytes, identical time. Family and identity ignored.
bool posit_key_eq(const Posit& a, const Posit& b);

// "{(9, s),(8, r)}": members in stored order as "(thing, role name)".
std::string format_appearance_set(const AppearanceSet& set);

// The order used to sort assertion-effect entries (first Posit, second Posit, key).
bool posit_record_less(const Posit& first_a, const Posit& second_a, uint64_t key_a, const Posit& first_b,
                       const Posit& second_b, uint64_t key_b);

}  // namespace brackwater::construct
