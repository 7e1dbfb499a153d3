#include "construct/budget.h"

namespace brackwater::construct {

EngineError out_of_budget(uint64_t maximum) { return EngineError::resource_limit("search memory", maximum); }

Result<void> Budget::charge(uint64_t bytes) {
  if (bytes > max_bytes_ - held_) return fail(out_of_budget(max_bytes_));
  held_ += bytes;
  return {};
}

}  // namespace brackwater::construct
