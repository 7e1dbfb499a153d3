// What the capture copies out of the engine under its lock: the database counts, the Roles and
// one entry per Posit.
//
// Entries and Roles hold plain handles to the engine's immutable records (valid for the engine's
// life): the caller keeps the engine alive until the Terrain is built.
#pragma once

#include <algorithm>
#include <string>
#include <vector>

#include "construct/records.h"
#include "literal/time_value.h"
#include "terrain/model.h"

namespace brackwater::terrain {

struct SnapshotEntry {
  literal::TimeValue time;
  construct::AppearanceSetRef appearance_set = nullptr;
  construct::Identity posit = 0;
};

// The Roles of the engine by identity, for name lookups.
class RoleNames {
 public:
  RoleNames() = default;
  // `roles` in ascending identity.
  explicit RoleNames(std::vector<construct::RoleRef> roles) : roles_(std::move(roles)) {}

  // The name of Role `id`, or nullptr when the engine has no such Role.
  const std::string* find(construct::Identity id) const {
    auto it = std::lower_bound(roles_.begin(), roles_.end(), id,
                               [](construct::RoleRef r, construct::Identity v) { return r->identity < v; });
    return it != roles_.end() && (*it)->identity == id ? &(*it)->name : nullptr;
  }

 private:
  std::vector<construct::RoleRef> roles_;
};

// Name order: a missing name (nullptr) first, then byte order. Negative, 0 or positive.
inline int compare_role_names(const std::string* a, const std::string* b) {
  if (a == nullptr || b == nullptr) return (a != nullptr) - (b != nullptr);
  const int c = a->compare(*b);
  return (c > 0) - (c < 0);
}

struct TerrainSnapshot {
  std::vector<SnapshotEntry> entries;  // one per Posit, ascending posit identity
  DatabaseCounts counts;
  RoleNames role_names;
};

}  // namespace brackwater::terrain
