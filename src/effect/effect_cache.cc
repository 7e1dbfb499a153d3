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
                                                        construct::Budget& budget) {
  if (auto it = entries_.find(cutoffs); it != entries_.end()) return it->second;
  if (charge_.budget() == nullptr) charge_ = construct::Charge(&budget);
  auto computed = compute_effective_assertions(engine, cutoffs, kEffectMaxCandidates, kEffectMaxComparisons, budget);
  if (!computed) return computed;
  const uint64_t size = (*computed)->size();
  if (size > max_assertions_ || held_ > max_assertions_ - size) let_go();
  // A kept list costs its records and an entry of the map.
  auto bytes = [](uint64_t assertions, size_t lists) {
    return construct::bytes_for(assertions, sizeof(EffectiveAssertion)) + lists * 128;
  };
  if (!charge_.hold(bytes(held_ + size, entries_.size() + 1))) {
    let_go();
    if (auto r = charge_.hold(bytes(size, 1)); !r) return construct::fail(std::move(r.error()));
  }
  entries_.emplace(cutoffs, *computed);
  held_ += size;
  return computed;
}

void EffectCache::let_go() {
  entries_.clear();
  held_ = 0;
  static_cast<void>(charge_.hold(0));
}

}  // namespace brackwater::effect
