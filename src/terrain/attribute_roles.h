// The attribute Roles of one frame, in flat storage: each Role that is the only member Role of
// some one-member set of the frame, with the Things alone in it.
//
// Roles are numbered in the order they are first added and found through a hash table. Things are
// filed as they come; finish() lays them out by Role, each Role's ascending and without repeats
// (a Thing filed twice under one Role counts once), with a stop check every 1024 Roles and inside
// any sort it needs. A Role's support is the number of its distinct Things.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "construct/identity.h"
#include "terrain/limits.h"
#include "terrain/role_numbers.h"

namespace brackwater::terrain {

class AttributeRoles {
 public:
  static constexpr uint32_t kNone = RoleNumbers::kNone;

  // Files `thing` under `role`; returns whether the Role is new.
  bool add(construct::Identity role, construct::Identity thing);

  Result<void> finish(const TerrainBudget& budget);

  uint32_t size() const { return numbers_.size(); }
  construct::Identity role(uint32_t i) const { return numbers_.role(i); }
  // The number of `role`, or kNone.
  uint32_t find(construct::Identity role) const { return numbers_.find(role); }

  // After finish(): the Things of Role i, ascending and distinct.
  std::span<const construct::Identity> things(uint32_t i) const {
    return std::span(things_).subspan(offsets_[i], offsets_[i + 1] - offsets_[i]);
  }
  // After finish(): the support of `role`, 0 when it is not an attribute Role of the frame.
  uint64_t support(construct::Identity role) const {
    const uint32_t i = find(role);
    return i == kNone ? 0 : offsets_[i + 1] - offsets_[i];
  }

 private:
  RoleNumbers numbers_;
  std::vector<construct::Identity> things_;  // before finish() in the order filed, after it by Role
  std::vector<uint32_t> thing_roles_;        // before finish(): the Role of each of things_
  std::vector<uint32_t> offsets_;            // after finish(): Role i has things_[offsets_[i], offsets_[i + 1])
  construct::Identity last_role_ = 0;
  uint32_t last_number_ = kNone;  // the walk meets runs of sets of one Role
};

}  // namespace brackwater::terrain
