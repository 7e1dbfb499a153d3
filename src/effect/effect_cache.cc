#include "effect/effect_cache.h"

#include "construct/keyed_hash.h"

namespace brackwater::effect {

size_t EffectCutoffsHash::operator()(const EffectCutoffs& cutoffs) const {
  construct::KeyedHasher h;
  cutoffs.assertion_cutoff.hash_into(h);
  cutoffs.appearance_cutoff.hash_into(h);
  return static_cast<size_t>(h.finish());
}

construct::Result<EffectiveAssertions> EffectCache::get(construct::Engine& engine, const EffectCutoffs& cutoffs,
                                                        const construct::StopCheck& stop) {
  if (auto it = entries_.find(cutoffs); it != entries_.end()) return it->second;
  auto computed = compute_effective_assertions(engine, cutoffs, kEffectMaxCandidates, kEffectMaxComparisons, stop);
  if (!computed) return computed;
  const uint64_t size = (*computed)->size();
  if (size > max_assertions_ || held_ > max_assertions_ - size) {
    entries_.clear();
    held_ = 0;
  }
  entries_.emplace(cutoffs, *computed);
  held_ += size;
  return computed;
}

}  // namespace brackwater::effect
