// Where an engine's memory goes, by kind of structure: for benchmarks and diagnostics.
//
// Each component adds the bytes it holds (record arrays and tables at their allocated size, heap
// lists and bitmaps at their estimated size) to the kind they belong to. Nothing is changed.
#pragma once

#include <cstdint>

#include "construct/error.h"

namespace brackwater::construct {

struct MemoryUsage {
  uint64_t records = 0;      // Posit, Appearance and set records, member arrays
  uint64_t value_texts = 0;  // value texts held outside the Posit records
  uint64_t postings = 0;     // lists and bitmaps of the indexes, and the arrays that hold them
  uint64_t tables = 0;       // hash tables, identity-to-ordinal maps and first-record arrays
  uint64_t identities = 0;   // the identity pool
  uint64_t total() const { return records + value_texts + postings + tables + identities; }
};

class EngineState;

// Takes each component's lock in turn.
Result<MemoryUsage> memory_usage(EngineState& state);

}  // namespace brackwater::construct
