// Row sinks: where a search hands its rendered rows.
//
// begin() receives the column names once and answers whether to stop at once; push() receives one
// row and answers whether to stop. BoundedRowSink (one per search statement) keeps at most `limit`
// rows: offered a row when it already holds `limit`, it sets `limited`, drops the row and answers
// stop. A limit of 0 keeps nothing and is limited at the first row offered. Each row it keeps is
// charged to the script's ResultBytes, when it has one; past their maximum push() fails.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "construct/budget.h"
#include "construct/error.h"
#include "velquin/result_set.h"

namespace brackwater::velquin {

// The bytes that the rendered rows of one script's result sets hold: a kept row costs its cells'
// text and the fixed size of the row and of each cell. A script may keep kMaxResultBytes (512 MiB);
// a row that would go past it fails with `ResourceLimit` "result bytes". The response written from
// the rows takes about as much again, and its Python text once more. The same bytes are charged to
// the statements' budget, when given: the rows a script keeps count in every later statement's
// budget too, as they are held while it runs.
inline constexpr uint64_t kMaxResultBytes = uint64_t(1) << 29;

class ResultBytes {
 public:
  explicit ResultBytes(construct::Budget* budget = nullptr) : charge_(budget) {}
  construct::Result<void> charge(const ResultRow& row);
  uint64_t used() const { return used_; }

 private:
  uint64_t used_ = 0;
  construct::Charge charge_;
};

// Hands `rows` (emptied) to the background releaser when they are many; else leaves them.
void release_rows_later(std::vector<ResultRow>& rows);

class RowSink {
 public:
  virtual ~RowSink() = default;
  virtual bool begin(const std::vector<std::string>& columns) = 0;
  virtual construct::Result<bool> push(ResultRow row) = 0;
  // The most rows the sink keeps, or none.
  virtual std::optional<uint64_t> row_limit() const = 0;
};

class BoundedRowSink final : public RowSink {
 public:
  explicit BoundedRowSink(std::optional<uint64_t> limit, ResultBytes* bytes = nullptr) : limit(limit), bytes_(bytes) {}
  // Rows still held (a failed search's) are many small blocks: a large number goes to the
  // background releaser.
  ~BoundedRowSink() override { release_rows_later(rows); }

  bool begin(const std::vector<std::string>&) override { return false; }
  construct::Result<bool> push(ResultRow row) override {
    if (limit && rows.size() >= *limit) {
      limited = true;
      return true;
    }
    if (bytes_ != nullptr) {
      if (auto charged = bytes_->charge(row); !charged) return construct::fail(std::move(charged.error()));
    }
    rows.push_back(std::move(row));
    return false;
  }
  std::optional<uint64_t> row_limit() const override { return limit; }

  std::optional<uint64_t> limit;
  std::vector<ResultRow> rows;
  bool limited = false;

 private:
  ResultBytes* bytes_;
};

}  // namespace brackwater::velquin
