#include "velquin/row_sink.h"

#include "construct/background_release.h"

namespace brackwater::velquin {

construct::Result<void> ResultBytes::charge(const ResultRow& row) {
  uint64_t bytes = sizeof(ResultRow) + row.size() * sizeof(ResultValue);
  for (const ResultValue& cell : row) bytes += cell.text.size();
  if (bytes > kMaxResultBytes - used_) {
    return construct::fail(construct::EngineError::resource_limit("result bytes", kMaxResultBytes));
  }
  if (auto r = charge_.add(bytes); !r) return r;
  used_ += bytes;
  return {};
}

void release_rows_later(std::vector<ResultRow>& rows) {
  constexpr size_t kManyRows = 4096;
  if (rows.size() >= kManyRows) construct::destroy_later(std::move(rows));
}

}  // namespace brackwater::velquin
