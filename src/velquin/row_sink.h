// Row sinks: where a search hands its rendered rows.
//
// begin() receives the column names once and answers whether to stop at once; push() receives one
// row and answers whether to stop. BoundedRowSink (one per search statement) keeps at most `limit`
// rows: offered a row when it already holds `limit`, it sets `limited`, drops the row and answers
// stop. A limit of 0 keeps nothing and is limited at the first row offered.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "velquin/result_set.h"

namespace brackwater::velquin {

class RowSink {
 public:
  virtual ~RowSink() = default;
  virtual bool begin(const std::vector<std::string>& columns) = 0;
  virtual bool push(ResultRow row) = 0;
};

class BoundedRowSink final : public RowSink {
 public:
  explicit BoundedRowSink(std::optional<uint64_t> limit) : limit(limit) {}

  bool begin(const std::vector<std::string>&) override { return false; }
  bool push(ResultRow row) override {
    if (limit && rows.size() >= *limit) {
      limited = true;
      return true;
    }
    rows.push_back(std::move(row));
    return false;
  }

  std::optional<uint64_t> limit;
  std::vector<ResultRow> rows;
  bool limited = false;
};

}  // namespace brackwater::velquin
