// The posting indexes filed when a Posit is indexed.
//
// AppearanceSetPositIndex: an Appearance set to the identities of its Posits.
// RolePositIndex: a Role identity to the identities of the Posits whose set has that Role; a Role
// with no Posit has no entry.
// PositAppearanceSetIndex: a Posit identity to its Appearance set (one entry per indexed Posit).
// PositTimeIndex: a Posit identity to its appearance time (one entry per indexed Posit).
// Lookups never create entries. Each sits behind its own lock in EngineState.
#pragma once

#include <optional>
#include <unordered_map>

#include "construct/dense_id_map.h"
#include "construct/flat_table.h"
#include "construct/identity_set.h"
#include "construct/records.h"
#include "construct/ref_list.h"

namespace brackwater::construct {

class AppearanceSetPositIndex {
 public:
  // The Posits of a set equal to `set`, or nullptr when it has none.
  const Posting* find(const AppearanceSet& set) const;
  void add(AppearanceSetRef set, Identity posit);
  size_t size() const { return table_.size(); }

 private:
  struct Entry {
    AppearanceSetRef set = nullptr;
    Posting posits;
  };
  FlatTable<Entry> table_;
};

class RolePositIndex {
 public:
  const IdentitySet* find(Identity role) const {
    auto it = by_role_.find(role);
    return it == by_role_.end() ? nullptr : &it->second;
  }
  void add(Identity role, Identity posit) { by_role_[role].add(posit); }
  size_t size() const { return by_role_.size(); }

 private:
  std::unordered_map<Identity, IdentitySet> by_role_;
};

class PositAppearanceSetIndex {
 public:
  AppearanceSetRef find(Identity posit) const {
    const AppearanceSetRef* found = by_posit_.find(posit);
    return found ? *found : nullptr;
  }
  void set(Identity posit, AppearanceSetRef set) { by_posit_.slot(posit) = set; }
  size_t size() const { return by_posit_.size(); }
  // Visits (identity, set) in ascending identity order.
  template <class F>
  void for_each(F&& f) const {
    by_posit_.for_each(f);
  }
  // Every indexed Posit identity.
  IdentitySet keys() const;

 private:
  DenseIdMap<AppearanceSetRef> by_posit_;
};

class PositTimeIndex {
 public:
  std::optional<TimeValue> find(Identity posit) const {
    const PositRef* found = by_posit_.find(posit);
    if (found == nullptr) return std::nullopt;
    return (*found)->appearance_time;
  }
  // Records the appearance time of `posit` (read from the immutable record).
  void set(PositRef posit) { by_posit_.slot(posit->identity) = posit; }
  size_t size() const { return by_posit_.size(); }

 private:
  DenseIdMap<PositRef> by_posit_;
};

}  // namespace brackwater::construct
