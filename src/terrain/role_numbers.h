// Role identities numbered 0, 1, 2 ... in the order they are first met, and found again through a
// hash table.
#pragma once

#include <cstdint>
#include <vector>

#include "construct/flat_table.h"
#include "construct/identity.h"
#include "construct/seahash.h"

namespace brackwater::terrain {

class RoleNumbers {
 public:
  static constexpr uint32_t kNone = UINT32_MAX;

  uint32_t size() const { return static_cast<uint32_t>(roles_.size()); }
  construct::Identity role(uint32_t number) const { return roles_[number]; }

  // The number of `role`, or kNone.
  uint32_t find(construct::Identity role) const {
    const uint32_t* found = index_.find(construct::seahash_u64(role), [&](uint32_t n) { return roles_[n] == role; });
    return found == nullptr ? kNone : *found;
  }

  // The number of `role`, numbered now when it is new (then `is_new`, when given, is set).
  uint32_t number(construct::Identity role, bool* is_new = nullptr) {
    const uint64_t h = construct::seahash_u64(role);
    const uint32_t* found = index_.find(h, [&](uint32_t n) { return roles_[n] == role; });
    if (is_new != nullptr) *is_new = found == nullptr;
    if (found != nullptr) return *found;
    const uint32_t n = size();
    index_.insert_new(h, n);
    roles_.push_back(role);
    return n;
  }

 private:
  construct::FlatTable<uint32_t> index_;
  std::vector<construct::Identity> roles_;  // by number
};

}  // namespace brackwater::terrain
