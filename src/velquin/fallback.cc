#include "velquin/fallback.h"

#include <algorithm>

#include "construct/flat_table.h"
#include "construct/keyed_hash.h"
#include "construct/large_array.h"
#include "velquin/add_posit.h"
#include "velquin/merge_sort.h"

namespace brackwater::velquin {

using construct::EngineError;
using construct::fail;
using construct::Result;

Result<void> bind_or_add_fallback(const ScriptVariables& variables, const FallbackProjection& projection,
                                  RowSink& sink, const ExecContext& ctx) {
  std::vector<std::vector<Identity>> lists;
  lists.reserve(projection.variables.size());
  for (const std::string& name : projection.variables) {
    const ResultBinding* binding = variables.find(name);
    if (binding == nullptr) return fail(EngineError::unknown_variable(name));
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

  const size_t width = lists.size();
  const size_t columns = std::min(projection.column_variables.size(), projection.column_kinds.size());
  construct::LargeArray<Identity> identities;  // one identity row of `width` per combination
  identities.reserve(static_cast<size_t>(combinations) * width);
  std::vector<size_t> position(width, 0);
  for (;;) {
    if (auto stop = ctx.check_stop(); !stop) return stop;
    for (size_t v = 0; v < width; ++v) identities.push_back(lists[v][position[v]]);
    size_t v = width;
    while (v > 0 && ++position[v - 1] == lists[v - 1].size()) position[--v] = 0;
    if (v == 0) break;
  }
  auto id = [&](size_t row, size_t variable) { return identities[row * width + variable]; };

  std::vector<size_t> rows(static_cast<size_t>(combinations));
  for (size_t i = 0; i < rows.size(); ++i) rows[i] = i;
  if (projection.distinct) {
    // A cell shows its identity under its column's kind, so rows render alike exactly when their
    // columns' identities are equal.
    auto hash = [&](size_t row) {
      construct::KeyedHasher h;
      for (size_t k = 0; k < columns; ++k) h.write_u64(id(row, projection.column_variables[k]));
      return h.finish();
    };
    auto same = [&](size_t a, size_t b) {
      for (size_t k = 0; k < columns; ++k) {
        if (id(a, projection.column_variables[k]) != id(b, projection.column_variables[k])) return false;
      }
      return true;
    };
    construct::FlatTable<uint32_t> kept;  // at most kMaxAddPositCombinations rows
    size_t out = 0;
    for (size_t i = 0; i < rows.size(); ++i) {
      if (auto stop = ctx.check_stop(); !stop) return stop;
      const uint64_t h = hash(i);
      if (kept.find(h, [&](uint32_t row) { return same(row, i); }) != nullptr) continue;
      if (auto r = kept.insert_new(h, static_cast<uint32_t>(i), [&ctx] { return ctx.check_stop(); }); !r) return r;
      rows[out++] = i;
    }
    rows.resize(out);
  }
  if (!projection.order_keys.empty()) {
    auto sorted = stable_merge_sort(
        rows,
        [&](size_t a, size_t b) {
          for (const FallbackOrderKey& key : projection.order_keys) {
            const Identity x = id(a, key.variable);
            const Identity y = id(b, key.variable);
            if (x != y) return key.descending ? x > y : x < y;
          }
          return false;
        },
        [&ctx] { return ctx.check_stop(); });
    if (!sorted) return sorted;
  }
  for (size_t i : rows) {
    if (auto stop = ctx.check_stop(); !stop) return stop;
    ResultRow row;
    row.reserve(columns);
    for (size_t k = 0; k < columns; ++k) {
      row.push_back(ResultValue{std::to_string(id(i, projection.column_variables[k])), projection.column_kinds[k]});
    }
    auto stopped = sink.push(std::move(row));
    if (!stopped) return fail(std::move(stopped.error()));
    if (*stopped) break;
  }
  return {};
}

}  // namespace brackwater::velquin
