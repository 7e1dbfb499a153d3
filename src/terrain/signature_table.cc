#include "terrain/signature_table.h"

#include <algorithm>

#include "construct/keyed_hash.h"
#include "terrain/ordering.h"

namespace brackwater::terrain {

uint64_t SignatureTable::hash(std::span<const uint64_t> roles) {
  construct::KeyedHasher hasher;
  for (const uint64_t role : roles) hasher.write_u64(role);
  return hasher.finish();
}

uint32_t SignatureTable::find(std::span<const uint64_t> roles, uint64_t h) const {
  const uint32_t* found = index_.find(h, [&](uint32_t i) { return std::ranges::equal(this->roles(i), roles); });
  return found == nullptr ? kNone : *found;
}

SignatureTable::Added SignatureTable::add(std::span<const uint64_t> roles, uint64_t h,
                                          construct::AppearanceSetRef set, uint64_t posits) {
  Added out;
  out.signature = find(roles, h);
  if (out.signature == kNone) {
    out.signature = size();
    out.is_new = true;
    index_.insert_new(h, out.signature);
    role_arena_.insert(role_arena_.end(), roles.begin(), roles.end());
    role_offsets_.push_back(role_arena_.size());
    hashes_.push_back(h);
    posits_.push_back(0);
  }
  uint64_t total = 0;
  if (__builtin_add_overflow(posits_[out.signature], posits, &total)) {
    out.ok = false;
    return out;
  }
  posits_[out.signature] = total;
  sets_.push_back(set);
  set_signatures_.push_back(out.signature);
  return out;
}

void SignatureTable::finish() {
  set_offsets_ = group_stably(sets_, set_signatures_, size());
  std::vector<uint32_t>().swap(set_signatures_);
}

}  // namespace brackwater::terrain
