// Engine-owned storage of the model records: Appearances, Appearance sets with their member
// arrays, and Posits, each at a stable address for the engine's life.
//
// Each arena is appended to by one component only, under that component's lock (Appearances by
// the AppearanceCatalog, sets and members by the AppearanceSetCatalog, Posits by the PositIndex);
// the other components read records through handles and ordinals (stable_arena.h).
#pragma once

#include <algorithm>
#include <memory>
#include <span>
#include <vector>

#include "construct/memory_usage.h"
#include "construct/records.h"
#include "construct/stable_arena.h"

namespace brackwater::construct {

// Member arrays of stored sets, bump-allocated in blocks.
class MemberStorage {
 public:
  std::span<const AppearanceRef> store(std::span<const AppearanceRef> refs) {
    const size_t n = refs.size();
    AppearanceRef* out;
    if (n > kBlock / 4) {
      blocks_.push_back(std::make_unique_for_overwrite<AppearanceRef[]>(n));
      out = blocks_.back().get();
    } else {
      if (n > room_) {
        blocks_.push_back(std::make_unique_for_overwrite<AppearanceRef[]>(kBlock));
        next_ = blocks_.back().get();
        room_ = kBlock;
      }
      out = next_;
      next_ += n;
      room_ -= n;
    }
    std::copy(refs.begin(), refs.end(), out);
    return {out, n};
  }

 private:
  static constexpr size_t kBlock = 8192;
  friend struct RecordStorage;
  std::vector<std::unique_ptr<AppearanceRef[]>> blocks_;
  AppearanceRef* next_ = nullptr;
  size_t room_ = 0;
};

struct RecordStorage {
  StableArena<Appearance> appearances;
  StableArena<AppearanceSet> sets;
  MemberStorage members;
  StableArena<Posit> posits;

  // The record arrays, and the Posit value texts that do not fit in a Posit.
  void account(MemoryUsage& usage) const {
    usage.records += appearances.memory_bytes() + sets.memory_bytes() + posits.memory_bytes();
    usage.records += members.blocks_.size() * block_footprint(MemberStorage::kBlock * sizeof(AppearanceRef));
    for (uint32_t i = 0; i < posits.size(); ++i) {
      const std::string& text = posits[i].value.text;
      if (text.capacity() > std::string().capacity()) usage.value_texts += block_footprint(text.capacity() + 1);
    }
  }
};

}  // namespace brackwater::construct
