#include "construct/posit_index.h"

#include "construct/record_keys.h"

namespace brackwater::construct {

PositRef PositIndex::find_by_key(const PositKey& candidate, uint64_t h) const {
  const auto& arena = records_->posits;
  const uint32_t s = records_->sets.ordinal_of(candidate.appearance_set);
  if (s < first_.size() && first_[s] != 0) {
    const Posit& first = arena[first_[s] - 1];
    if (posit_key_eq(first, candidate)) return &first;
  }
  if (others_.empty()) return nullptr;
  const uint32_t* found = others_.find(h, [&](uint32_t ordinal) { return posit_key_eq(arena[ordinal], candidate); });
  return found ? &arena[*found] : nullptr;
}

std::pair<PositRef, uint32_t> PositIndex::insert_new(Posit posit, uint64_t h) {
  auto& arena = records_->posits;
  if (arena.full()) return {nullptr, kNoOrdinal};
  const uint32_t s = records_->sets.ordinal_of(posit.appearance_set);
  const auto [stored, ordinal] = arena.emplace_back(std::move(posit));
  file(ordinal, s, &h);
  return {stored, ordinal};
}

void PositIndex::file_staged(uint32_t ordinal) {
  file(ordinal, records_->sets.ordinal_of(records_->posits[ordinal].appearance_set), nullptr);
}

void PositIndex::file(uint32_t ordinal, uint32_t s, const uint64_t* h) {
  const Posit& stored = records_->posits[ordinal];
  by_id_.insert(stored.identity, ordinal);
  if (s != kNoOrdinal && (s >= first_.size() || first_[s] == 0)) {
    first_.extend_to(size_t(s) + 1);
    first_[s] = ordinal + 1;
  } else {
    others_.insert_new(h != nullptr ? *h : posit_key_hash(stored), ordinal);
  }
  ++size_;
}

EngineError posit_index_missing_literal_posit(Identity id) {
  return EngineError::internal("posit index contains identity " + std::to_string(id) + " without a literal posit");
}

}  // namespace brackwater::construct
