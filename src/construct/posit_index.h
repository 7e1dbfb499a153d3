// The component registry and the two-way PositIndex.
//
// PositIndex stores the indexed Posits in the engine's record storage (stable addresses for the
// engine's life) and finds them by identity and by proposition (the PositKey: Appearance set, value
// text, time identity; family and identity ignored). Most sets carry one Posit, so the first Posit
// of each set sits in a dense table by set ordinal and only the others in a hash table. The Posits'
// sets are catalog sets. The registry creates the PositIndex on first use and keeps `posit_count`,
// the number of Posits filed. Callers hold the `components` lock.
#pragma once

#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "construct/error.h"
#include "construct/flat_table.h"
#include "construct/id_ordinal_map.h"
#include "construct/memory_usage.h"
#include "construct/record_storage.h"
#include "construct/records.h"

namespace brackwater::construct {

class PositIndex {
 public:
  explicit PositIndex(RecordStorage* records) : records_(records) {}

  // `h` is posit_key_hash(candidate).
  PositRef find_by_key(const PositKey& candidate, uint64_t h) const;
  PositRef posit_by_identity(Identity id) const {
    const uint32_t ordinal = by_id_.find(id);
    return ordinal == kNoOrdinal ? nullptr : &records_->posits[ordinal];
  }
  // Stores `posit`, whose proposition and identity are both absent: its handle and ordinal in the
  // Posit storage (nullptr when the storage is exhausted).
  std::pair<PositRef, uint32_t> insert_new(Posit posit, uint64_t h);
  // Files the record at `ordinal` of the Posit storage, a Posit staged there by the command that
  // creates it: the first record after the filed ones, its proposition and identity both absent.
  void file_staged(uint32_t ordinal);
  size_t size() const { return size_; }
  void account(MemoryUsage& usage) const {
    usage.tables += by_id_.memory_bytes() + first_.memory_bytes() + others_.memory_bytes();
  }

 private:
  // Files the stored record at `ordinal`; `h` is its posit_key_hash, or null to compute it when needed.
  void file(uint32_t ordinal, uint32_t set, const uint64_t* h);

  RecordStorage* records_;
  IdOrdinalMap by_id_;
  StableArena<uint32_t> first_;  // by set ordinal: 1 + ordinal of the set's first Posit, or 0
  FlatTable<uint32_t> others_;   // ordinals of the other Posits, by posit_key_hash
  size_t size_ = 0;
};

class ComponentRegistry {
 public:
  void attach(RecordStorage* records) { records_ = records; }

  // The PositIndex, created empty when the registry has none yet.
  PositIndex& posit_index() {
    if (!posit_index_) posit_index_ = std::make_unique<PositIndex>(records_);
    return *posit_index_;
  }
  // The PositIndex when one exists (lookups that must not create it).
  const PositIndex* existing_posit_index() const { return posit_index_.get(); }

  uint64_t posit_count = 0;

 private:
  RecordStorage* records_ = nullptr;
  std::unique_ptr<PositIndex> posit_index_;
};

// `Internal` "posit index contains identity {} without a literal posit".
EngineError posit_index_missing_literal_posit(Identity id);

// The Posit of identity `id`, or nullptr (creates the empty PositIndex on a fresh registry).
inline PositRef posit_by_identity(ComponentRegistry& registry, Identity id) {
  return registry.posit_index().posit_by_identity(id);
}


}  // namespace brackwater::construct
