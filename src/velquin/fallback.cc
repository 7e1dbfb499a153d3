#include "velquin/fallback.h"

#include <algorithm>

#include "construct/flat_table.h"
#include "construct/keyed_hash.h"
#include "velquin/add_posit.h"
#include "velquin/merge_sort.h"

namespace brackwater::velquin {

using construct::EngineError;
using construct::fail;
using construct::Result;

namespace {

// The combinations of the returned variables' identities, numbered in odometer order (the last
// variable varying fastest): a combination is kept as its number, and its identities are read
// from the number, so the product takes no room per variable.
class Product {
 public:
  explicit Product(std::vector<std::vector<Identity>> lists) : lists_(std::move(lists)), strides_(lists_.size()) {
    uint64_t stride = 1;
    for (size_t v = lists_.size(); v-- > 0;) {
      strides_[v] = stride;
      stride *= lists_[v].size();  // within kMaxAddPositCombinations, checked by the caller
    }
  }
  Identity id(uint64_t combination, size_t variable) const {
    const std::vector<Identity>& list = lists_[variable];
    return list[(combination / strides_[variable]) % list.size()];
  }

 private:
  std::vector<std::vector<Identity>> lists_;
  std::vector<uint64_t> strides_;
};

}  // namespace

Result<void> bind_or_add_fallback(const ScriptVariables& variables, const FallbackProjection& projection,
                                  RowSink& sink, const ExecContext& ctx) {
  construct::Charge lists_charge(&ctx.budget());
  std::vector<std::vector<Identity>> lists;
  lists.reserve(projection.variables.size());
  for (const std::string& name : projection.variables) {
    const ResultBinding* binding = variables.find(name);
    if (binding == nullptr) return fail(EngineError::unknown_variable(name));
    if (auto r = lists_charge.add(construct::bytes_for(binding->size(), sizeof(Identity))); !r) return r;
    if (auto r = ctx.work(binding->size()); !r) return r;
    auto ids = result_set_binding(*binding);
    if (!ids) return fail(std::move(ids.error()));
    lists.push_back(std::move(*ids));
  }
  for (const auto& list : lists) {
    if (list.empty()) return fail(EngineError::execution("or-add fallback produced an empty returned binding"));
  }
  if (lists.empty()) return {};
  uint64_t combinations = 1;
  for (const auto& list : lists) combinations = saturating_mul(combinations, list.size());
  if (combinations > kMaxAddPositCombinations) return fail(too_many_combinations());

  const Product product(std::move(lists));
  const size_t columns = std::min(projection.column_variables.size(), projection.column_kinds.size());
  // Offers combination `c` as a row (rendered only now); true once the sink stops.
  auto offer = [&](uint64_t c) -> Result<bool> {
    if (auto stop = ctx.work(1 + 2 * columns); !stop) return fail(std::move(stop.error()));
    ResultRow row;
    row.reserve(columns);
    for (size_t k = 0; k < columns; ++k) {
      row.push_back(ResultValue{std::to_string(product.id(c, projection.column_variables[k])), projection.column_kinds[k]});
    }
    return sink.push(std::move(row));
  };

  // Distinct rows: a cell shows its identity under its column's kind, so rows render alike exactly
  // when their columns' identities are equal. The first combination of each is kept.
  construct::FlatTable<uint32_t> kept;
  construct::Charge kept_charge(&ctx.budget());
  auto first_of_its_row = [&](uint64_t c) -> Result<bool> {
    if (auto stop = ctx.work(1 + 2 * columns); !stop) return fail(std::move(stop.error()));
    construct::KeyedHasher h;
    for (size_t k = 0; k < columns; ++k) h.write_u64(product.id(c, projection.column_variables[k]));
    const uint64_t hash = h.finish();
    auto same = [&](uint32_t other) {
      for (size_t k = 0; k < columns; ++k) {
        const size_t v = projection.column_variables[k];
        if (product.id(other, v) != product.id(c, v)) return false;
      }
      return true;
    };
    if (kept.find(hash, same) != nullptr) return false;
    if (auto r = kept.insert_new(hash, static_cast<uint32_t>(c), kept_charge); !r) return fail(std::move(r.error()));
    return true;
  };

  if (projection.order_keys.empty()) {
    // Without an order the rows are offered as they are found, until the sink stops.
    for (uint64_t c = 0; c < combinations; ++c) {
      if (projection.distinct) {
        auto first = first_of_its_row(c);
        if (!first) return fail(std::move(first.error()));
        if (!*first) continue;
      }
      auto stopped = offer(c);
      if (!stopped) return fail(std::move(stopped.error()));
      if (*stopped) break;
    }
    return {};
  }

  construct::Charge rows_charge(&ctx.budget());
  if (auto r = rows_charge.hold(construct::bytes_for(combinations, sizeof(uint64_t))); !r) return r;
  std::vector<uint64_t> rows;
  rows.reserve(static_cast<size_t>(combinations));
  for (uint64_t c = 0; c < combinations; ++c) {
    if (projection.distinct) {
      auto first = first_of_its_row(c);
      if (!first) return fail(std::move(first.error()));
      if (!*first) continue;
    } else if (auto stop = ctx.work(1); !stop) {
      return stop;
    }
    rows.push_back(c);
  }
  auto sorted = stable_merge_sort(
      rows,
      [&](uint64_t a, uint64_t b) {
        for (const FallbackOrderKey& key : projection.order_keys) {
          const Identity x = product.id(a, key.variable);
          const Identity y = product.id(b, key.variable);
          if (x != y) return key.descending ? x > y : x < y;
        }
        return false;
      },
      ctx.budget(), 2 * projection.order_keys.size());
  if (!sorted) return sorted;
  for (const uint64_t c : rows) {
    auto stopped = offer(c);
    if (!stopped) return fail(std::move(stopped.error()));
    if (*stopped) break;
  }
  return {};
}

}  // namespace brackwater::velquin
