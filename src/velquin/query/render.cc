#include "velquin/query/render.h"

#include <string>

namespace brackwater::velquin::query {

ResultValue render_slot(const BoundSlot& slot) {
  switch (kind_of(slot)) {
    case BindingKind::Thing: return {std::to_string(std::get<ThingValue>(slot).id), ValueKind::Thing};
    case BindingKind::Role: return {std::get<construct::RoleRef>(slot)->name, ValueKind::Role};
    case BindingKind::Posit: return {std::to_string(std::get<PositValue>(slot).id), ValueKind::Posit};
    case BindingKind::AppearanceSet:
      return {construct::format_appearance_set(*std::get<construct::AppearanceSetRef>(slot)), ValueKind::AppearanceSet};
    case BindingKind::LiteralValue: return {std::get<LiteralRef>(slot)->text, ValueKind::Literal};
    case BindingKind::Time: return {std::get<TimeValue>(slot).display(), ValueKind::Time};
  }
  return {};
}

ResultRow render_row(std::span<const BoundSlot> row, const std::vector<Var>& returns) {
  ResultRow out;
  out.reserve(returns.size());
  for (const Var& v : returns) out.push_back(render_slot(row[v.id]));
  return out;
}

}  // namespace brackwater::velquin::query
