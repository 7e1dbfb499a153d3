#include "construct/records.h"

#include <algorithm>
#include <charconv>
#include <cstring>

#include "construct/keyed_hash.h"
#include "construct/record_keys.h"
#include "construct/seahash.h"

namespace brackwater::construct {

bool appearance_eq(const Appearance& a, const Appearance& b) {
  if (&a == &b) return true;
  return a.thing == b.thing && (a.role == b.role || a.role->identity == b.role->identity);
}

bool appearance_slice_eq(std::span<const AppearanceRef> a, std::span<const AppearanceRef> b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (a[i] != b[i] && !appearance_eq(*a[i], *b[i])) return false;
  }
  return true;
}

bool appearance_list_eq(const AppearanceSet& a, const AppearanceSet& b) {
  return &a == &b || appearance_slice_eq(a.members, b.members);
}

bool posit_key_eq(const Posit& a, const Posit& b) { return &a == &b || posit_key_eq(a, PositKey(b)); }

bool posit_key_eq(const Posit& a, const PositKey& b) {
  if (a.appearance_set != b.appearance_set && !appearance_list_eq(*a.appearance_set, *b.appearance_set)) {
    return false;
  }
  return a.value.text == b.value && a.appearance_time.identical(b.appearance_time);
}

std::string format_appearance_set(const AppearanceSet& set) {
  std::string out = "{";
  char digits[24];
  for (size_t i = 0; i < set.members.size(); ++i) {
    if (i != 0) out += ',';
    const Appearance& m = *set.members[i];
    auto [end, ec] = std::to_chars(digits, digits + sizeof digits, m.thing);
    (void)ec;
    out += '(';
    out.append(digits, end);
    out += ", ";
    out += m.role->name;
    out += ')';
  }
  out += '}';
  return out;
}

namespace {

template <class T>
int three_way(T a, T b) {
  return a < b ? -1 : (b < a ? 1 : 0);
}

int compare_text(const std::string& a, const std::string& b) {
  const size_t n = std::min(a.size(), b.size());
  if (n != 0) {
    if (int c = std::memcmp(a.data(), b.data(), n)) return c < 0 ? -1 : 1;
  }
  return three_way(a.size(), b.size());
}

int structural(const TimeValue& a, const TimeValue& b) {
  auto order = TimeValue::structural_cmp(a, b);
  return order < 0 ? -1 : (order > 0 ? 1 : 0);
}

}  // namespace

int compare_members(const AppearanceSet& a, const AppearanceSet& b) {
  const size_t n = std::min(a.members.size(), b.members.size());
  for (size_t i = 0; i < n; ++i) {
    const Appearance& x = *a.members[i];
    const Appearance& y = *b.members[i];
    if (int c = three_way(x.role->identity, y.role->identity)) return c;
    if (int c = three_way(x.thing, y.thing)) return c;
  }
  return three_way(a.members.size(), b.members.size());
}

bool posit_record_less(const Posit& first_a, const Posit& second_a, uint64_t key_a, const Posit& first_b,
                       const Posit& second_b, uint64_t key_b) {
  if (int c = three_way(key_a, key_b)) return c < 0;
  if (int c = compare_members(*second_a.appearance_set, *second_b.appearance_set)) return c < 0;
  if (int c = compare_text(second_a.value.text, second_b.value.text)) return c < 0;
  if (int c = structural(second_a.appearance_time, second_b.appearance_time)) return c < 0;
  if (int c = structural(first_a.appearance_time, first_b.appearance_time)) return c < 0;
  if (int c = three_way(second_a.identity, second_b.identity)) return c < 0;
  return first_a.identity < first_b.identity;
}

namespace {

// The member count, then each member's Thing and Role identity in stored order.
template <class Hasher>
void hash_members(Hasher& h, const AppearanceSet& set) {
  h.write_u64(set.members.size());
  for (const AppearanceRef m : set.members) {
    h.write_u64(m->thing);
    h.write_u64(m->role->identity);
  }
}

}  // namespace

uint64_t role_name_hash(std::string_view nfc_name) {
  SeaHasher h;
  h.write(nfc_name);
  h.write_u8(0xFF);
  return h.finish();
}

uint64_t appearance_hash(const Appearance& appearance) {
  SeaHasher h;
  h.write_u64(appearance.thing);
  h.write_u64(appearance.role->identity);
  return h.finish();
}

uint64_t appearance_set_hash(const AppearanceSet& set) {
  SeaHasher h;
  hash_members(h, set);
  return h.finish();
}

uint64_t posit_key_hash(const PositKey& key) {
  KeyedHasher h;
  hash_members(h, *key.appearance_set);
  h.write(key.value);
  h.write_u8(0xFF);
  hash_time_value(h, key.appearance_time);
  return h.finish();
}

}  // namespace brackwater::construct
