#include "velquin/query/match.h"

namespace brackwater::velquin::query {

construct::Result<void> match_pattern_for_row(construct::Engine&, const PositPattern&, std::span<const BoundSlot>,
                                              const ExecContext& ctx, effect::EffectCache&, RowTable&) {
  return ctx.check_stop();
}

construct::Result<bool> bind_or_check_slot(std::span<BoundSlot>, const Var&, const BoundSlot&) { return false; }

construct::Result<TimeValue> resolve_time_operand(const CutoffOperand&, std::span<const BoundSlot>) {
  return TimeValue::bot();
}

construct::Result<void> match_appearance_set(const PositPattern&, const construct::AppearanceSet&,
                                             std::span<const BoundSlot>, RowTable&) {
  return {};
}

}  // namespace brackwater::velquin::query
