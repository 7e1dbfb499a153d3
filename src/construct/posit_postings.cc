#include "construct/posit_postings.h"

#include <vector>

#include "construct/record_keys.h"

namespace brackwater::construct {

const Posting* AppearanceSetPositIndex::find(const AppearanceSet& set) const {
  const uint32_t s =
      stored_ordinal(records_->sets, by_set_, copies_, set, appearance_set_hash, appearance_list_eq);
  if (s >= by_set_.size() || !by_set_[s]) return nullptr;
  return &by_set_[s];
}

void AppearanceSetPositIndex::add(AppearanceSetRef set, Identity posit) {
  const uint32_t s = records_->sets.ordinal_of(set);
  if (s == kNoOrdinal) return;  // only catalog sets carry Posits
  by_set_.extend_to(size_t(s) + 1);
  if (!by_set_[s]) {
    ++count_;
    if (copies_.built()) copies_.add(appearance_set_hash(*set), s);
  }
  by_set_[s].add(posit);
}

IdentitySet PositAppearanceSetIndex::keys() const {
  IdentitySet out;
  std::vector<uint64_t> ids;
  ids.reserve(size());
  for_each([&ids](Identity id, AppearanceSetRef) { ids.push_back(id); });
  out.addMany(ids.size(), ids.data());
  return out;
}

}  // namespace brackwater::construct
