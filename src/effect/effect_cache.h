// The assertions in effect computed during one search run, one list per pair of cutoffs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <unordered_map>

#include "construct/budget.h"
#include "effect/effective_assertions.h"

namespace brackwater::effect {

// The limits the pattern matcher computes with.
inline constexpr uint64_t kEffectMaxCandidates = 1'000'000;
inline constexpr uint64_t kEffectMaxComparisons = 20'000'000;
// The most assertions the lists kept by one cache hold together (128 MB): a search whose cutoffs
// vary from row to row would otherwise keep one list per row.
inline constexpr uint64_t kEffectCacheMaxAssertions = 4'000'000;

// Hashes both cutoffs (tag and fields) with the randomly keyed hasher.
struct EffectCutoffsHash {
  size_t operator()(const EffectCutoffs& cutoffs) const;
};

class EffectCache {
 public:
  explicit EffectCache(uint64_t max_assertions = kEffectCacheMaxAssertions) : max_assertions_(max_assertions) {}

  // The list for identical cutoffs when already computed; otherwise computes it with the matcher's
  // limits and keeps it, first letting go of the lists kept so far when they would hold more than
  // `max_assertions` with it (they are computed again when asked for). A failure is not kept. The
  // kept lists are charged to `budget` (the same one at every call); when it cannot hold them with
  // the new list, the others are let go too, and when it cannot hold the new list alone, the call
  // fails with its error.
  construct::Result<EffectiveAssertions> get(construct::Engine& engine, const EffectCutoffs& cutoffs,
                                             construct::Budget& budget);

 private:
  void let_go();

  std::unordered_map<EffectCutoffs, EffectiveAssertions, EffectCutoffsHash> entries_;
  uint64_t max_assertions_;
  uint64_t held_ = 0;  // assertions in the kept lists
  construct::Charge charge_;  // the kept lists' bytes
};

}  // namespace brackwater::effect
