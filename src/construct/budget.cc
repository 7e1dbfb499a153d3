#include "construct/budget.h"

namespace brackwater::construct {

EngineError out_of_budget(uint64_t maximum) { return EngineError::resource_limit("search memory", maximum); }

Result<void> Budget::refuse() const { return fail(out_of_budget(max_bytes_)); }

}  // namespace brackwater::construct
