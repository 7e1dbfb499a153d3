#include "velquin/fallback.h"

#include <algorithm>

#include "velquin/add_posit.h"
#include "velquin/distinct_rows.h"
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
  std::vector<Identity> identities;  // one identity row of `width` per combination
  std::vector<ResultRow> rendered;
  std::vector<size_t> position(width, 0);
  for (;;) {
    if (auto stop = ctx.check_stop(); !stop) return stop;
    const size_t base = identities.size();
    for (size_t v = 0; v < width; ++v) identities.push_back(lists[v][position[v]]);
    ResultRow row;
    row.reserve(columns);
    for (size_t k = 0; k < columns; ++k) {
      row.push_back(ResultValue{std::to_string(identities[base + projection.column_variables[k]]),
                                projection.column_kinds[k]});
    }
    rendered.push_back(std::move(row));
    size_t v = width;
    while (v > 0 && ++position[v - 1] == lists[v - 1].size()) position[--v] = 0;
    if (v == 0) break;
  }

  std::vector<size_t> rows(rendered.size());
  for (size_t i = 0; i < rows.size(); ++i) rows[i] = i;
  if (projection.distinct) {
    const std::vector<bool> first = first_occurrences(rendered);
    std::erase_if(rows, [&first](size_t i) { return !first[i]; });
  }
  if (!projection.order_keys.empty()) {
    stable_merge_sort(rows, [&](size_t a, size_t b) {
      for (const FallbackOrderKey& key : projection.order_keys) {
        const Identity x = identities[a * width + key.variable];
        const Identity y = identities[b * width + key.variable];
        if (x != y) return key.descending ? x > y : x < y;
      }
      return false;
    });
  }
  for (size_t i : rows) {
    if (auto stop = ctx.check_stop(); !stop) return stop;
    if (sink.push(std::move(rendered[i]))) break;
  }
  return {};
}

}  // namespace brackwater::velquin
