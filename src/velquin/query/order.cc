#include "velquin/query/order.h"

#include <algorithm>
#include <bit>
#include <compare>
#include <string>

#include "construct/large_array.h"

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

// The items that can decide an order: the first item of each variable (a later one compares
// values already found equal).
std::vector<OrderItem> deciding_items(const std::vector<OrderItem>& items) {
  std::vector<OrderItem> out;
  std::vector<bool> seen;
  for (const OrderItem& item : items) {
    const VarId id = item.variable.id;
    if (id != kNoVar) {
      if (id >= seen.size()) seen.resize(size_t(id) + 1, false);
      if (seen[id]) continue;
      seen[id] = true;
    }
    out.push_back(item);
  }
  return out;
}

// Every item holds a bound variable in every row, and no literal of a family that has no order.
Result<void> check_items(const RowTable& table, std::span<const size_t> rows, const std::vector<OrderItem>& items,
                         const ExecContext& ctx) {
  for (const OrderItem& item : items) {
    for (size_t i = 0; i < rows.size(); ++i) {
      if (auto stop = ctx.work(1); !stop) return stop;
      const BoundSlot* slot = bound_slot(table.row(rows[i]), item.variable);
      if (slot == nullptr) return fail(EngineError::unknown_variable(item.variable.name));
      if (auto* lit = std::get_if<LiteralRef>(slot); lit && !orderable((*lit)->kind)) {
        return fail(EngineError::unsupported_comparison("ORDER BY is unsupported for " +
                                                        std::string(literal::family_name((*lit)->kind)) + " literals"));
      }
    }
  }
  return {};
}

// Whether keys `a` come strictly before keys `b` (one key per item).
bool keys_before(const OrderKey* a, const OrderKey* b, const std::vector<OrderItem>& items) {
  for (size_t k = 0; k < items.size(); ++k) {
    auto c = compare_keys(a[k], b[k]);
    if (c != 0) return items[k].descending ? c > 0 : c < 0;
  }
  return false;
}

// Reads the keys of one row into `out` (one per item); returns the work of reading them, which
// also bounds the work of comparing them.
uint64_t read_keys(std::span<const BoundSlot> row, const std::vector<OrderItem>& items, OrderKey* out) {
  uint64_t units = 0;
  for (size_t k = 0; k < items.size(); ++k) {
    const BoundSlot& slot = *bound_slot(row, items[k].variable);
    units += value_work(slot);
    out[k] = key_of(slot);
  }
  return units;
}

// The first `keep` (>= 1) positions of the stable order, holding the keys of at most `keep` rows:
// a max-heap of the kept rows under (keys, position), which with one key kind per item is a
// strict total order whose first rows the stable sort also puts first. No value when an item's
// values are of more than one key kind.
Result<std::optional<std::vector<size_t>>> first_positions(const RowTable& table, std::span<const size_t> rows,
                                                           const std::vector<OrderItem>& items, size_t keep,
                                                           const ExecContext& ctx) {
  const size_t width = items.size();
  construct::Charge charge(&ctx.budget());
  const uint64_t per_row = construct::bytes_for(width + 1, sizeof(OrderKey)) + sizeof(size_t) + sizeof(uint32_t);
  if (auto r = charge.hold(construct::bytes_for(keep, per_row)); !r) return fail(std::move(r.error()));
  std::vector<OrderKey> keys;          // `width` keys per kept slot
  std::vector<size_t> positions;       // per kept slot
  std::vector<uint32_t> heap;          // kept slots; the front is the last of them in order
  std::vector<OrderKey> row_keys(width);
  std::vector<size_t> kinds(width, std::variant_npos);
  uint64_t compare_work = 1;           // bounds the work of one comparison of two rows' keys
  auto before = [&](uint32_t a, uint32_t b) {
    const OrderKey* x = &keys[size_t(a) * width];
    const OrderKey* y = &keys[size_t(b) * width];
    if (keys_before(x, y, items)) return true;
    if (keys_before(y, x, items)) return false;
    return positions[a] < positions[b];
  };
  for (size_t p = 0; p < rows.size(); ++p) {
    const uint64_t units = read_keys(table.row(rows[p]), items, row_keys.data());
    compare_work = std::max(compare_work, units);
    // The heap step makes about log2(keep) comparisons of two rows, each counted twice.
    if (auto stop = ctx.work(units + 2 * compare_work * std::bit_width(heap.size())); !stop) {
      return fail(std::move(stop.error()));
    }
    for (size_t k = 0; k < width; ++k) {
      if (kinds[k] == std::variant_npos) kinds[k] = row_keys[k].index();
      if (kinds[k] != row_keys[k].index()) return std::optional<std::vector<size_t>>();
    }
    uint32_t slot;
    if (heap.size() < keep) {
      slot = static_cast<uint32_t>(heap.size());
      keys.insert(keys.end(), row_keys.begin(), row_keys.end());
      positions.push_back(p);
      heap.push_back(slot);
    } else {
      // A later row ties to its loss: it is kept only with keys strictly before the last kept row's.
      if (!keys_before(row_keys.data(), &keys[size_t(heap.front()) * width], items)) continue;
      std::pop_heap(heap.begin(), heap.end(), before);
      slot = heap.back();
      std::copy(row_keys.begin(), row_keys.end(), keys.begin() + static_cast<std::ptrdiff_t>(size_t(slot) * width));
      positions[slot] = p;
    }
    std::push_heap(heap.begin(), heap.end(), before);
  }
  auto sorted = stable_merge_sort(heap, before, ctx.budget(), 2 * compare_work);
  if (!sorted) return fail(std::move(sorted.error()));
  std::vector<size_t> out;
  out.reserve(heap.size());
  for (const uint32_t slot : heap) out.push_back(positions[slot]);
  return std::optional<std::vector<size_t>>(std::move(out));
}

}  // namespace

Result<std::vector<size_t>> order_permutation(const RowTable& table, std::span<const size_t> rows,
                                              const std::vector<OrderItem>& written, const ExecContext& ctx,
                                              std::optional<size_t> keep) {
  const std::vector<OrderItem> items = deciding_items(written);
  if (auto checked = check_items(table, rows, items, ctx); !checked) return fail(std::move(checked.error()));
  if (keep && *keep > 0 && *keep < rows.size()) {
    auto first = first_positions(table, rows, items, *keep, ctx);
    if (!first) return fail(std::move(first.error()));
    if (*first) return std::move(**first);
  }
  const size_t width = items.size();
  construct::LargeArray<OrderKey> keys(&ctx.budget());  // freed in the background: it can be larger than the rows
  if (auto r = keys.reserve(construct::saturating_mul(rows.size(), width)); !r) return fail(std::move(r.error()));
  if (auto r = keys.resize(rows.size() * width); !r) return fail(std::move(r.error()));
  uint64_t compare_work = 1;  // bounds the work of one comparison of two rows' keys
  for (size_t i = 0; i < rows.size(); ++i) {
    const uint64_t units = read_keys(table.row(rows[i]), items, &keys[i * width]);
    compare_work = std::max(compare_work, units);
    if (auto stop = ctx.work(units); !stop) return fail(std::move(stop.error()));
  }
  std::vector<size_t> order(rows.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = i;
  auto sorted = stable_merge_sort(
      order, [&](size_t x, size_t y) { return keys_before(&keys[x * width], &keys[y * width], items); }, ctx.budget(),
      compare_work);
  if (!sorted) return fail(std::move(sorted.error()));
  if (keep && *keep < order.size()) order.resize(*keep);
  return order;
}

}  // namespace brackwater::velquin::query
