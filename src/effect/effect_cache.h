// The assertions in effect computed during one search run, one list per pair of cutoffs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <unordered_map>

#include "effect/effective_assertions.h"

namespace brackwater::effect {

// The limits the pattern matcher computes with.
inline constexpr uint64_t kEffectMaxCandidates = 1'000'000;
inline constexpr uint64_t kEffectMaxComparisons = 20'000'000;

// Hashes both cutoffs (tag and fields) with the randomly keyed hasher.
struct EffectCutoffsHash {
  size_t operator()(const EffectCutoffs& cutoffs) const;
};

class EffectCache {
 public:
  // The list for identical cutoffs when already computed; otherwise computes it with the matcher's
  // limits and keeps it. A failure is not kept.
  construct::Result<EffectiveAssertions> get(construct::Engine& engine, const EffectCutoffs& cutoffs,
                                             const construct::StopCheck& stop);

 private:
  std::unordered_map<EffectCutoffs, EffectiveAssertions, EffectCutoffsHash> entries_;
};

}  // namespace brackwater::effect
