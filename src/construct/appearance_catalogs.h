// The intern catalogs of Appearances and Appearance sets, and the indexes that point from their parts
// to them.
//
// AppearanceCatalog and AppearanceSetCatalog own their records (stable addresses for the engine's
// life) and find a stored record equal to a candidate by its SeaHash key. ThingAppearanceIndex maps a
// Thing to its Appearances; RoleAppearanceIndex maps a reserved Role to its Appearances;
// AppearanceMembershipIndex maps an Appearance to the sets that contain it. Lookups never create
// entries. Each component sits behind its own lock in EngineState.
#pragma once

#include <deque>
#include <span>
#include <unordered_map>
#include <vector>

#include "construct/dense_id_map.h"
#include "construct/flat_table.h"
#include "construct/records.h"
#include "construct/ref_list.h"

namespace brackwater::construct {

class AppearanceCatalog {
 public:
  // `h` is appearance_hash(candidate).
  AppearanceRef find(const Appearance& candidate, uint64_t h) const;
  // Stores a copy of `candidate`, known to be absent, and returns its handle.
  AppearanceRef insert_new(const Appearance& candidate, uint64_t h);
  size_t size() const { return table_.size(); }

 private:
  std::deque<Appearance> records_;
  FlatTable<AppearanceRef> table_;
};

class AppearanceSetCatalog {
 public:
  // `h` is appearance_set_hash(candidate).
  AppearanceSetRef find(const AppearanceSet& candidate, uint64_t h) const;
  AppearanceSetRef insert_new(AppearanceSet candidate, uint64_t h);
  size_t size() const { return table_.size(); }

 private:
  std::deque<AppearanceSet> records_;
  FlatTable<AppearanceSetRef> table_;
};

class ThingAppearanceIndex {
 public:
  // The Appearances of a Thing, in filing order; empty when the Thing has none.
  std::span<const AppearanceRef> appearances(Identity thing) const;
  void add(AppearanceRef appearance);
  size_t size() const { return by_thing_.size(); }

 private:
  DenseIdMap<RefList<Appearance>> by_thing_;
};

// Appearances of reserved Roles only, keyed by the Role's identity.
class RoleAppearanceIndex {
 public:
  std::span<const AppearanceRef> appearances(Identity role) const;
  void add(AppearanceRef appearance);

 private:
  std::unordered_map<Identity, std::vector<AppearanceRef>> by_role_;
};

class AppearanceMembershipIndex {
 public:
  // The Appearance sets that contain an Appearance equal to `appearance`, in filing order.
  std::span<const AppearanceSetRef> sets(const Appearance& appearance) const;
  void add(AppearanceRef member, AppearanceSetRef set);
  size_t size() const { return table_.size(); }

 private:
  struct Entry {
    AppearanceRef appearance = nullptr;
    RefList<AppearanceSet> sets;
  };
  FlatTable<Entry> table_;
};

}  // namespace brackwater::construct
