#include "velquin/query/order.h"

#include <compare>
#include <string>

#include "literal/certainty.h"
#include "literal/decimal.h"
#include "velquin/merge_sort.h"
#include "velquin/query/predicate.h"

namespace brackwater::velquin::query {

using construct::EngineError;
using construct::fail;
using construct::Result;
using literal::LiteralKind;

namespace {

struct IdentityKey {
  Identity id;
};
struct RoleKey {
  Identity id;
};
struct NumberKey {
  literal::DecimalView value;  // views the stored literal's text
};
struct CertaintyKey {
  literal::Certainty value;
};
struct UnreadableLiteral {};  // compares equal to everything, as a failed comparison does

using OrderKey = std::variant<std::monostate, IdentityKey, RoleKey, construct::AppearanceSetRef, NumberKey,
                              CertaintyKey, UnreadableLiteral, TimeValue>;

OrderKey key_of(const BoundSlot& slot) {
  if (!is_bound(slot)) return std::monostate{};
  switch (kind_of(slot)) {
    case BindingKind::Thing: return IdentityKey{std::get<ThingValue>(slot).id};
    case BindingKind::Posit: return IdentityKey{std::get<PositValue>(slot).id};
    case BindingKind::Role: return RoleKey{std::get<construct::RoleRef>(slot)->identity};
    case BindingKind::AppearanceSet: return std::get<construct::AppearanceSetRef>(slot);
    case BindingKind::Time: return std::get<TimeValue>(slot);
    case BindingKind::LiteralValue: {
      const Literal& lit = *std::get<LiteralRef>(slot);
      if (lit.kind == LiteralKind::Certainty) {
        if (auto c = literal::parse_certainty(lit.text)) return CertaintyKey{*c};
      } else if (lit.kind == LiteralKind::Integer || lit.kind == LiteralKind::Decimal) {
        if (auto d = literal::view_decimal(lit.text)) return NumberKey{*d};
      }
      return UnreadableLiteral{};
    }
  }
  return std::monostate{};
}

std::weak_ordering compare_sets(const construct::AppearanceSet& a, const construct::AppearanceSet& b) {
  const size_t n = std::min(a.members.size(), b.members.size());
  for (size_t i = 0; i < n; ++i) {
    const construct::Appearance& x = *a.members[i];
    const construct::Appearance& y = *b.members[i];
    if (auto c = x.role->identity <=> y.role->identity; c != 0) return c;
    if (auto c = x.thing <=> y.thing; c != 0) return c;
  }
  return a.members.size() <=> b.members.size();
}

std::weak_ordering compare_keys(const OrderKey& a, const OrderKey& b) {
  if (a.index() != b.index()) return std::weak_ordering::equivalent;
  switch (a.index()) {
    case 1: return std::get<IdentityKey>(a).id <=> std::get<IdentityKey>(b).id;
    case 2: return std::get<RoleKey>(a).id <=> std::get<RoleKey>(b).id;
    case 3: return compare_sets(*std::get<construct::AppearanceSetRef>(a), *std::get<construct::AppearanceSetRef>(b));
    case 4: return std::get<NumberKey>(a).value <=> std::get<NumberKey>(b).value;
    case 5: return std::get<CertaintyKey>(a).value <=> std::get<CertaintyKey>(b).value;
    case 7: return TimeValue::structural_cmp(std::get<TimeValue>(a), std::get<TimeValue>(b));
    default: return std::weak_ordering::equivalent;  // missing values and unreadable literals
  }
}

bool orderable(LiteralKind kind) {
  return kind == LiteralKind::Integer || kind == LiteralKind::Decimal || kind == LiteralKind::Certainty;
}

}  // namespace

Result<std::vector<size_t>> order_permutation(const RowTable& table, std::span<const size_t> rows,
                                              const std::vector<OrderItem>& items) {
  for (const OrderItem& item : items) {
    for (size_t r : rows) {
      const BoundSlot* slot = bound_slot(table.row(r), item.variable);
      if (slot == nullptr) return fail(EngineError::unknown_variable(item.variable.name));
      if (auto* lit = std::get_if<LiteralRef>(slot); lit && !orderable((*lit)->kind)) {
        return fail(EngineError::unsupported_comparison("ORDER BY is unsupported for " +
                                                        std::string(literal::family_name((*lit)->kind)) + " literals"));
      }
    }
  }
  const size_t width = items.size();
  std::vector<OrderKey> keys;
  keys.reserve(rows.size() * width);
  for (size_t r : rows) {
    auto row = table.row(r);
    for (const OrderItem& item : items) {
      const BoundSlot* slot = bound_slot(row, item.variable);
      keys.push_back(slot ? key_of(*slot) : OrderKey{});
    }
  }
  std::vector<size_t> order(rows.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = i;
  stable_merge_sort(order, [&](size_t x, size_t y) {
    for (size_t k = 0; k < width; ++k) {
      auto c = compare_keys(keys[x * width + k], keys[y * width + k]);
      if (c != 0) return items[k].descending ? c > 0 : c < 0;
    }
    return false;
  });
  return order;
}

}  // namespace brackwater::velquin::query
