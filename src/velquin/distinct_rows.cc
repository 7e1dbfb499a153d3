#include "velquin/distinct_rows.h"

#include <functional>
#include <string_view>
#include <unordered_set>

namespace brackwater::velquin {

std::vector<bool> first_occurrences(const std::vector<ResultRow>& rows) {
  auto hash = [&rows](size_t i) {
    size_t h = 0;
    for (const ResultValue& cell : rows[i]) {
      h = (h * 1000003u ^ std::hash<std::string_view>{}(cell.text)) * 31u + static_cast<size_t>(cell.kind);
    }
    return h;
  };
  auto equal = [&rows](size_t a, size_t b) { return rows[a] == rows[b]; };
  std::unordered_set<size_t, decltype(hash), decltype(equal)> seen(rows.size(), hash, equal);
  std::vector<bool> first(rows.size());
  for (size_t i = 0; i < rows.size(); ++i) first[i] = seen.insert(i).second;
  return first;
}

}  // namespace brackwater::velquin
