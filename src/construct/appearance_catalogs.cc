#include "construct/appearance_catalogs.h"

#include "construct/record_keys.h"

namespace brackwater::construct {

AppearanceRef AppearanceCatalog::find(const Appearance& candidate) const {
  const uint32_t t = things_.find(candidate.thing);
  if (t == kNoOrdinal) return nullptr;  // no Appearance of this Thing yet
  const auto& arena = records_->appearances;
  const Appearance& first = arena[first_[t]];
  if (appearance_eq(first, candidate)) return &first;
  if (others_.empty()) return nullptr;
  const uint32_t* found = others_.find(appearance_hash(candidate),
                                       [&](uint32_t ordinal) { return appearance_eq(arena[ordinal], candidate); });
  return found ? &arena[*found] : nullptr;
}

AppearanceRef AppearanceCatalog::insert_new(const Appearance& candidate) {
  auto& arena = records_->appearances;
  if (arena.full()) return nullptr;
  const auto [stored, ordinal] = arena.emplace_back(candidate);
  if (things_.find(candidate.thing) == kNoOrdinal) {
    things_.insert(candidate.thing, static_cast<uint32_t>(first_.size()));
    first_.emplace_back(ordinal);
  } else {
    others_.insert_new(appearance_hash(candidate), ordinal);
  }
  return stored;
}

AppearanceSetRef AppearanceSetCatalog::find(const AppearanceSet& candidate) const {
  const auto& arena = records_->sets;
  if (!candidate.members.empty()) {
    const uint32_t a = records_->appearances.ordinal_of(candidate.members[0]);
    if (a < first_.size() && first_[a] != 0) {
      const AppearanceSet& first = arena[first_[a] - 1];
      if (appearance_list_eq(first, candidate)) return &first;
    }
  }
  if (others_.empty()) return nullptr;
  const uint32_t* found = others_.find(appearance_set_hash(candidate), [&](uint32_t ordinal) {
    return appearance_list_eq(arena[ordinal], candidate);
  });
  return found ? &arena[*found] : nullptr;
}

AppearanceSetRef AppearanceSetCatalog::insert_new(std::span<const AppearanceRef> members) {
  auto& arena = records_->sets;
  if (arena.full()) return nullptr;
  // One member is held inline by the record; more go to the member storage.
  const std::span<const AppearanceRef> kept = members.size() > 1 ? records_->members.store(members) : members;
  const auto [stored, ordinal] = arena.emplace_back(AppearanceSet{MemberList::view(kept)});
  const uint32_t a = members.empty() ? kNoOrdinal : records_->appearances.ordinal_of(members[0]);
  if (a != kNoOrdinal && (a >= first_.size() || first_[a] == 0)) {
    first_.extend_to(size_t(a) + 1);
    first_[a] = ordinal + 1;
  } else {
    others_.insert_new(appearance_set_hash(*stored), ordinal);
  }
  return stored;
}

std::span<const AppearanceRef> ThingAppearanceIndex::appearances(Identity thing) const {
  const uint32_t t = things_.find(thing);
  if (t == kNoOrdinal) return {};
  return lists_[t].items();
}

void ThingAppearanceIndex::add(AppearanceRef appearance) {
  uint32_t t = things_.find(appearance->thing);
  if (t == kNoOrdinal) {
    t = static_cast<uint32_t>(lists_.size());
    things_.insert(appearance->thing, t);
    lists_.emplace_back();
  }
  lists_[t].push_back(appearance);
}

std::span<const AppearanceRef> RoleAppearanceIndex::appearances(Identity role) const {
  auto it = by_role_.find(role);
  if (it == by_role_.end()) return {};
  return it->second;
}

void RoleAppearanceIndex::add(AppearanceRef appearance) { by_role_[appearance->role->identity].push_back(appearance); }

std::span<const AppearanceSetRef> AppearanceMembershipIndex::sets(const Appearance& appearance) const {
  const uint32_t a = stored_ordinal(records_->appearances, by_appearance_, copies_, appearance, appearance_hash,
                                    appearance_eq);
  if (a >= by_appearance_.size()) return {};
  return by_appearance_[a].items();
}

void AppearanceMembershipIndex::add(AppearanceRef member, AppearanceSetRef set) {
  const uint32_t a = records_->appearances.ordinal_of(member);
  if (a == kNoOrdinal) return;  // only catalog Appearances are members of stored sets
  by_appearance_.extend_to(size_t(a) + 1);
  if (!by_appearance_[a]) {
    ++count_;
    if (copies_.built()) copies_.add(appearance_hash(*member), a);
  }
  by_appearance_[a].push_back(set);
}

}  // namespace brackwater::construct
