// The intern catalogs of Appearances and Appearance sets, and the indexes that point from their parts
// to them.
//
// AppearanceCatalog and AppearanceSetCatalog store their records in the engine's record storage
// (stable addresses for the engine's life) and find a stored record equal to a candidate. Most
// Things have one Appearance and most Appearances start few sets, so each catalog keeps the first
// record per Thing (per first member) in a dense table and only the others in a hash table.
// ThingAppearanceIndex maps a Thing to its Appearances; RoleAppearanceIndex maps a reserved Role to
// its Appearances; AppearanceMembershipIndex maps an Appearance to the sets that contain it.
// Lookups never create entries. Each component sits behind its own lock in EngineState and is
// attached to the record storage when the engine is built.
#pragma once

#include <span>
#include <unordered_map>
#include <vector>

#include "construct/flat_table.h"
#include "construct/id_ordinal_map.h"
#include "construct/memory_usage.h"
#include "construct/record_storage.h"
#include "construct/records.h"
#include "construct/ref_list.h"

namespace brackwater::construct {

// The bytes of an arena of lists (RefList, Posting): the arena and what each list holds.
template <class List>
size_t list_bytes(const StableArena<List>& lists) {
  size_t bytes = lists.memory_bytes();
  for (uint32_t i = 0; i < lists.size(); ++i) bytes += lists[i].memory_bytes();
  return bytes;
}

class AppearanceCatalog {
 public:
  void attach(RecordStorage* records) { records_ = records; }
  // The key hash is computed only when the Thing's first Appearance does not decide.
  AppearanceRef find(const Appearance& candidate) const;
  // Stores a copy of `candidate`, known to be absent, and returns its handle (nullptr when the
  // storage is exhausted).
  AppearanceRef insert_new(const Appearance& candidate);
  size_t size() const { return records_ ? records_->appearances.size() : 0; }
  void account(MemoryUsage& usage) const {
    usage.tables += things_.memory_bytes() + first_.memory_bytes() + others_.memory_bytes();
  }

 private:
  RecordStorage* records_ = nullptr;
  IdOrdinalMap things_;          // Thing -> position in first_
  StableArena<uint32_t> first_;  // the ordinal of each Thing's first Appearance
  FlatTable<uint32_t> others_;   // ordinals of the other Appearances, by appearance_hash
};

class AppearanceSetCatalog {
 public:
  void attach(RecordStorage* records) { records_ = records; }
  // Members are catalog Appearances. The key hash is computed only when the first set of the first
  // member does not decide.
  AppearanceSetRef find(const AppearanceSet& candidate) const;
  // Stores a set of these members, known to be absent (nullptr when the storage is exhausted).
  AppearanceSetRef insert_new(std::span<const AppearanceRef> members);
  size_t size() const { return records_ ? records_->sets.size() : 0; }
  void account(MemoryUsage& usage) const { usage.tables += first_.memory_bytes() + others_.memory_bytes(); }

 private:
  RecordStorage* records_ = nullptr;
  StableArena<uint32_t> first_;  // by the first member's ordinal: 1 + ordinal of its first set, or 0
  FlatTable<uint32_t> others_;   // ordinals of the other sets, by appearance_set_hash
};

class ThingAppearanceIndex {
 public:
  // The Appearances of a Thing, in filing order; empty when the Thing has none.
  std::span<const AppearanceRef> appearances(Identity thing) const;
  void add(AppearanceRef appearance);
  size_t size() const { return lists_.size(); }
  void account(MemoryUsage& usage) const {
    usage.tables += things_.memory_bytes();
    usage.postings += list_bytes(lists_);
  }

 private:
  IdOrdinalMap things_;  // Thing -> position in lists_
  StableArena<RefList<Appearance>> lists_;
};

// Appearances of reserved Roles only, keyed by the Role's identity.
class RoleAppearanceIndex {
 public:
  std::span<const AppearanceRef> appearances(Identity role) const;
  void add(AppearanceRef appearance);
  void account(MemoryUsage& usage) const {
    for (const auto& [role, list] : by_role_) usage.postings += 64 + block_footprint(list.capacity() * sizeof(AppearanceRef));
  }

 private:
  std::unordered_map<Identity, std::vector<AppearanceRef>> by_role_;
};

// Finds the ordinal of a record by content among the ordinals an index holds, for lookups with a
// record that is not itself stored (an equal copy). Built on first use, then kept up to date.
class ContentLookup {
 public:
  size_t memory_bytes() const { return table_.memory_bytes(); }
  bool built() const { return built_; }
  // The ordinal among 0..n-1 for which `eq` holds, hashed `h`. The first call files every ordinal
  // for which `present(i)` holds under `hash_at(i)`.
  template <class Present, class HashAt, class Eq>
  uint32_t find(size_t n, Present&& present, HashAt&& hash_at, uint64_t h, Eq&& eq) {
    if (!built_) {
      for (uint32_t i = 0; i < n; ++i) {
        if (present(i)) table_.insert_new(hash_at(i), i);
      }
      built_ = true;
    }
    const uint32_t* found = table_.find(h, std::forward<Eq>(eq));
    return found ? *found : kNoOrdinal;
  }
  // Files a new ordinal once the table is built.
  void add(uint64_t h, uint32_t ordinal) {
    if (built_) table_.insert_new(h, ordinal);
  }

 private:
  FlatTable<uint32_t> table_;
  bool built_ = false;
};

// The ordinal of `record` in `arena`; for an equal copy, the ordinal of the stored record among
// those with a non-empty entry in `entries` (indexed by ordinal). `hash` and `eq` are the record's
// hash and equality.
template <class T, class Entries, class Hash, class Eq>
uint32_t stored_ordinal(const StableArena<T>& arena, const Entries& entries, ContentLookup& copies, const T& record,
                        Hash&& hash, Eq&& eq) {
  const uint32_t ordinal = arena.ordinal_of(&record);
  if (ordinal != kNoOrdinal) return ordinal;
  return copies.find(
      entries.size(), [&](uint32_t i) { return bool(entries[i]); }, [&](uint32_t i) { return hash(arena[i]); },
      hash(record), [&](uint32_t i) { return eq(arena[i], record); });
}

class AppearanceMembershipIndex {
 public:
  void attach(const RecordStorage* records) { records_ = records; }
  // The Appearance sets that contain an Appearance equal to `appearance`, in filing order.
  std::span<const AppearanceSetRef> sets(const Appearance& appearance) const;
  // `member` is a catalog Appearance.
  void add(AppearanceRef member, AppearanceSetRef set);
  size_t size() const { return count_; }
  void account(MemoryUsage& usage) const {
    usage.postings += list_bytes(by_appearance_);
    usage.tables += copies_.memory_bytes();
  }

 private:
  const RecordStorage* records_ = nullptr;
  StableArena<RefList<AppearanceSet>> by_appearance_;  // by Appearance ordinal
  size_t count_ = 0;                                    // Appearances with at least one set
  mutable ContentLookup copies_;
};

}  // namespace brackwater::construct
