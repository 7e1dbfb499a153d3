#include "construct/appearance_catalogs.h"

#include "construct/record_keys.h"

namespace brackwater::construct {

AppearanceRef AppearanceCatalog::find(const Appearance& candidate, uint64_t h) const {
  const AppearanceRef* found =
      table_.find(h, [&candidate](AppearanceRef stored) { return appearance_eq(*stored, candidate); });
  return found ? *found : nullptr;
}

AppearanceRef AppearanceCatalog::insert_new(const Appearance& candidate, uint64_t h) {
  const Appearance& stored = records_.emplace_back(candidate);
  table_.insert_new(h, &stored);
  return &stored;
}

AppearanceSetRef AppearanceSetCatalog::find(const AppearanceSet& candidate, uint64_t h) const {
  const AppearanceSetRef* found =
      table_.find(h, [&candidate](AppearanceSetRef stored) { return appearance_list_eq(*stored, candidate); });
  return found ? *found : nullptr;
}

AppearanceSetRef AppearanceSetCatalog::insert_new(AppearanceSet candidate, uint64_t h) {
  const AppearanceSet& stored = records_.emplace_back(std::move(candidate));
  table_.insert_new(h, &stored);
  return &stored;
}

std::span<const AppearanceRef> ThingAppearanceIndex::appearances(Identity thing) const {
  const RefList<Appearance>* list = by_thing_.find(thing);
  if (list == nullptr) return {};
  return list->items();
}

void ThingAppearanceIndex::add(AppearanceRef appearance) { by_thing_.slot(appearance->thing).push_back(appearance); }

std::span<const AppearanceRef> RoleAppearanceIndex::appearances(Identity role) const {
  auto it = by_role_.find(role);
  if (it == by_role_.end()) return {};
  return it->second;
}

void RoleAppearanceIndex::add(AppearanceRef appearance) { by_role_[appearance->role->identity].push_back(appearance); }

std::span<const AppearanceSetRef> AppearanceMembershipIndex::sets(const Appearance& appearance) const {
  const Entry* entry = table_.find(appearance_hash(appearance), [&appearance](const Entry& e) {
    return appearance_eq(*e.appearance, appearance);
  });
  if (entry == nullptr) return {};
  return entry->sets.items();
}

void AppearanceMembershipIndex::add(AppearanceRef member, AppearanceSetRef set) {
  const uint64_t h = appearance_hash(*member);
  Entry* entry = table_.find(h, [member](const Entry& e) { return appearance_eq(*e.appearance, *member); });
  if (entry == nullptr) {
    entry = &table_.insert_new(h, Entry{member, {}});
  }
  entry->sets.push_back(set);
}

}  // namespace brackwater::construct
