#include "construct/posit_postings.h"

#include "construct/record_keys.h"

namespace brackwater::construct {

const Posting* AppearanceSetPositIndex::find(const AppearanceSet& set) const {
  const Entry* entry =
      table_.find(appearance_set_hash(set), [&set](const Entry& e) { return appearance_list_eq(*e.set, set); });
  return entry ? &entry->posits : nullptr;
}

void AppearanceSetPositIndex::add(AppearanceSetRef set, Identity posit) {
  const uint64_t h = appearance_set_hash(*set);
  Entry* entry = table_.find(h, [set](const Entry& e) { return appearance_list_eq(*e.set, *set); });
  if (entry == nullptr) {
    entry = &table_.insert_new(h, Entry{set, {}});
  }
  entry->posits.add(posit);
}

IdentitySet PositAppearanceSetIndex::keys() const {
  IdentitySet out;
  by_posit_.for_each([&out](Identity id, AppearanceSetRef) { out.add(id); });
  return out;
}

}  // namespace brackwater::construct
