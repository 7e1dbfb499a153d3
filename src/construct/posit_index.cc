#include "construct/posit_index.h"

#include "construct/record_keys.h"

namespace brackwater::construct {

PositRef PositIndex::find_by_key(const Posit& candidate, uint64_t h) const {
  const PositRef* found = by_key_.find(h, [&candidate](PositRef p) { return posit_key_eq(*p, candidate); });
  return found ? *found : nullptr;
}

PositRef PositIndex::insert_new(Posit posit, uint64_t h) {
  const Posit& stored = records_.emplace_back(std::move(posit));
  by_key_.insert_new(h, &stored);
  by_id_.slot(stored.identity) = &stored;
  return &stored;
}

EngineError posit_index_missing_literal_posit(Identity id) {
  return EngineError::internal("posit index contains identity " + std::to_string(id) + " without a literal posit");
}

}  // namespace brackwater::construct
