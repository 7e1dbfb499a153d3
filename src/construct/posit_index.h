// The component registry and the two-way PositIndex.
//
// PositIndex owns the indexed Posit records (stable addresses for the engine's life) and finds them
// by identity (dense table) and by proposition (the PositKey: Appearance set, value text, time
// identity; family and identity ignored). The registry creates the PositIndex on first use and keeps
// `posit_count`, the number of Posits filed. Callers hold the `components` lock.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

#include "construct/dense_id_map.h"
#include "construct/error.h"
#include "construct/flat_table.h"
#include "construct/records.h"

namespace brackwater::construct {

class PositIndex {
 public:
  // `h` is posit_key_hash(candidate).
  PositRef find_by_key(const Posit& candidate, uint64_t h) const;
  PositRef posit_by_identity(Identity id) const {
    const PositRef* found = by_id_.find(id);
    return found ? *found : nullptr;
  }
  // Stores `posit`, whose proposition and identity are both absent, and returns its handle.
  PositRef insert_new(Posit posit, uint64_t h);
  size_t size() const { return by_key_.size(); }

 private:
  std::deque<Posit> records_;
  FlatTable<PositRef> by_key_;
  DenseIdMap<PositRef> by_id_;
};

class ComponentRegistry {
 public:
  // The PositIndex, created empty when the registry has none yet.
  PositIndex& posit_index() {
    if (!posit_index_) posit_index_ = std::make_unique<PositIndex>();
    return *posit_index_;
  }
  // The PositIndex when one exists (lookups that must not create it).
  const PositIndex* existing_posit_index() const { return posit_index_.get(); }

  uint64_t posit_count = 0;

 private:
  std::unique_ptr<PositIndex> posit_index_;
};

// kind 15 "posit index contains identity {} without a literal posit".
EngineError posit_index_missing_literal_posit(Identity id);

// The Posit of identity `id`, or nullptr (creates the empty PositIndex on a fresh registry).
inline PositRef posit_by_identity(ComponentRegistry& registry, Identity id) {
  return registry.posit_index().posit_by_identity(id);
}

// The Posits of `ids` in order. `check_stop()` (a Result<void>: cancel flag, then deadline) runs
// before each lookup; an identity without a Posit is an internal fault.
template <class Ids, class CheckStop>
Result<std::vector<PositRef>> collect_posits_by_identity(ComponentRegistry& registry, const Ids& ids,
                                                          CheckStop&& check_stop) {
  std::vector<PositRef> out;
  for (const Identity id : ids) {
    if (auto stop = check_stop(); !stop) return std::unexpected(std::move(stop.error()));
    PositRef posit = posit_by_identity(registry, id);
    if (posit == nullptr) return fail(posit_index_missing_literal_posit(id));
    out.push_back(posit);
  }
  return out;
}

}  // namespace brackwater::construct
