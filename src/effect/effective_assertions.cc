#include "effect/effective_assertions.h"

namespace brackwater::effect {

construct::Result<EffectiveAssertions> compute_effective_assertions(construct::Engine&, const EffectCutoffs&, uint64_t,
                                                                    uint64_t, const velquin::ExecContext& ctx) {
  if (auto stop = ctx.check_stop(); !stop) return construct::fail(std::move(stop.error()));
  return std::make_shared<const std::vector<EffectiveAssertion>>();
}

}  // namespace brackwater::effect
