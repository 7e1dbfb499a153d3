#include "velquin/row_sink.h"

#include "construct/background_release.h"

namespace brackwater::velquin {

construct::Result<void> ResultBytes::charge(const ResultRow& row, bool first) {
  uint64_t bytes = sizeof(ResultRow) + row.size() * sizeof(ResultValue);
  for (const ResultValue& cell : row) bytes += cell.text.size();
  literal::JsonTextSize text = literal::JsonTextSize::ascii(first ? 0 : 1);  // the comma before it
  text += result_row_json_size(row);
  return add(bytes, text);
}

construct::Result<void> ResultBytes::charge_frame(const ResultSet& set, bool first) {
  literal::JsonTextSize text = result_set_frame_json_size(set);
  if (!first) {
    text += literal::JsonTextSize::ascii(1);  // the comma before it
  } else if (!set.warnings.empty()) {
    text += literal::JsonTextSize::ascii(set.warnings.size() - 1);
    for (const Warning& warning : set.warnings) text += warning_json_size(warning);
  }
  return add(0, text);
}

construct::Result<void> ResultBytes::add(uint64_t rows, const literal::JsonTextSize& text) {
  literal::JsonTextSize response = response_;
  response += text;
  if (rows > kMaxResultBytes - used_ || response.bytes > kMaxResultBytes ||
      response.chars * response.width > kMaxResultBytes) {
    return construct::fail(construct::EngineError::resource_limit("result bytes", kMaxResultBytes));
  }
  if (auto r = charge_.add(rows); !r) return r;
  used_ += rows;
  response_ = response;
  return {};
}

void release_rows_later(std::vector<ResultRow>& rows) {
  constexpr size_t kManyRows = 4096;
  if (rows.size() >= kManyRows) construct::destroy_later(std::move(rows));
}

}  // namespace brackwater::velquin
